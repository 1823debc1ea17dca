#include "protocol/DeviceStatus.h"
#include "protocol/QZ2Models.h"

#include <gtest/gtest.h>

namespace qz {
namespace {

TEST(DeviceStatus, ExactTexts) {
    EXPECT_EQ(DeviceStatusText(1), "Резерв");
    EXPECT_EQ(DeviceStatusText(2), "Поле Cmd неверно");
    EXPECT_EQ(DeviceStatusText(3), "Поле Cmd1 неверно ") << "status 3 ends with a blank";
    EXPECT_EQ(DeviceStatusText(9), "Запрашиваемых данных не нашёл (возможно прибор не работал)");
    EXPECT_EQ(DeviceStatusText(16), "Прибор не запущен");
    EXPECT_EQ(DeviceStatusText(24), "Начинается передача данных, средних за 10 мс");
    EXPECT_EQ(DeviceStatusText(30), "Нет данных о поверке счетчика до конца суток");
}

TEST(DeviceStatus, PairsShareTextsAndOthersAreUnknown) {
    EXPECT_EQ(DeviceStatusText(25), DeviceStatusText(27));
    EXPECT_EQ(DeviceStatusText(26), DeviceStatusText(28));
    EXPECT_NE(DeviceStatusText(25), DeviceStatusText(26));
    EXPECT_EQ(DeviceStatusText(0), "Неизвестная ошибка");
    EXPECT_EQ(DeviceStatusText(31), "Неизвестная ошибка");
    EXPECT_EQ(DeviceStatusText(-1), "Неизвестная ошибка");
    EXPECT_EQ(DeviceStatusText(65535), "Неизвестная ошибка");
    for (int s = 1; s <= 30; ++s)
        EXPECT_NE(DeviceStatusText(s), "Неизвестная ошибка") << s;
}

TEST(QZ2Models, Table) {
    struct Row {
        int type;
        bool neutral, isA;
        int variant, code, size;
    };
    const Row rows[6] = {{1, false, false, 0, 4, 1602}, {2, true, false, 1, 4, 1946},
                         {3, true, false, 1, 4, 1946},  {4, false, true, 2, 20, 1602},
                         {5, true, true, 3, 20, 1946},  {6, true, true, 3, 20, 1946}};
    for (int i = 0; i < 6; ++i) {
        SCOPED_TRACE(i);
        const TQZ2ModelInfo& m = QZ2Model(i);
        EXPECT_EQ(ModelIndexOfDeviceTypeValue(rows[i].type), i);
        EXPECT_EQ(ModelHasNeutral(i), rows[i].neutral);
        EXPECT_EQ(ModelIsA(i), rows[i].isA);
        EXPECT_EQ(m.Variant, rows[i].variant);
        EXPECT_EQ(m.DeviceCode, rows[i].code);
        EXPECT_EQ(DeviceCodeOfVariant(m.Variant), rows[i].code);
        EXPECT_EQ(m.RecordSize, rows[i].size);
        EXPECT_EQ(ModelIndexOfName(m.CmdLineName), i);
    }
    EXPECT_EQ(ModelIndexOfName("QZ2MA"), 4);
    EXPECT_EQ(ModelIndexOfName("qz3"), -1);
    EXPECT_FALSE(ModelHasNeutral(6));
    EXPECT_FALSE(ModelIsA(-1));
}

TEST(QZ2Models, UnsupportedTypeRaisesWithDisplayName) {
    EXPECT_EQ(ModelIndexOfDeviceTypeValue(0), -1);
    EXPECT_EQ(ModelIndexOfDeviceTypeValue(7), -1);
    try {
        ModelIndexOfDeviceType(0, "Каврен–QZ");
        FAIL() << "no exception";
    } catch (const EUnsupportedDevice& e) {
        EXPECT_STREQ(e.what(), "Неподдерживаемый тип прибора: \"Каврен–QZ\"");
    }
    EXPECT_EQ(ModelIndexOfDeviceType(5, "Каврен–QZ2М(A)"), 4);
}

} // namespace
} // namespace qz
