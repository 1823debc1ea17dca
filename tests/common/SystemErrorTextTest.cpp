#include "common/SystemErrorText.h"

#include <gtest/gtest.h>

#include <cerrno>

namespace qz {
namespace {

// The texts end up in boxes and on stderr: Russian, and something for any number at all.
TEST(SystemErrorText, RussianForTheUsualAndANumberForTheRest) {
    EXPECT_EQ(SystemErrorText(EACCES), "отказано в доступе");
    EXPECT_EQ(SystemErrorText(ENOSPC), "на диске нет места");
    EXPECT_EQ(SystemErrorText(ENOTDIR), "часть пути — не папка");
    EXPECT_EQ(SystemErrorText(EPROTO), "системная ошибка " + std::to_string(EPROTO));
    EXPECT_EQ(SystemErrorText(-7), "системная ошибка -7");
}

} // namespace
} // namespace qz
