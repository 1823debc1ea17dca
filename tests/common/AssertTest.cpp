#include "common/Assert.h"

#include <gtest/gtest.h>

TEST(Assert, NamesTheSourceUnitAndLine) {
    try {
        QZ_ASSERT(1 + 1 == 3, "Не задан протокол");
        FAIL() << "no exception";
    } catch (const qz::EAssertionFailed& e) {
        const std::string text = e.what();
        EXPECT_EQ(text.rfind("Не задан протокол (common/AssertTest.cpp, line ", 0), 0u) << text;
    }
    EXPECT_NO_THROW(QZ_ASSERT(true, "never"));
    EXPECT_STREQ(qz::UnitName("/a/b/channel/PCAType.cpp"), "channel/PCAType.cpp");
    EXPECT_STREQ(qz::UnitName("PCAType.cpp"), "PCAType.cpp");
}
