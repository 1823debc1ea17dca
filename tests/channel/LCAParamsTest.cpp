#include "channel/LCAType.h"

#include <gtest/gtest.h>

using namespace qz;

TEST(LCAParams, ByteLayoutAndRoundTrip) {
    TLCAParams p;
    p.Pca.SetKind(TPCAParams::KindTCP);
    p.Pca.SetIpAddress("10.0.0.1");
    p.Pca.SetIpPort(0x1234);
    p.MaxAttemptCountOnConnect = 0x0203;
    p.Priority = 7;
    p.LogMask = 0x1F;
    const auto bytes = p.Serialize();
    ASSERT_EQ(bytes.size(), 531u);
    EXPECT_EQ(bytes[0], 2);
    EXPECT_EQ(bytes[1], 8); // length of "10.0.0.1"
    EXPECT_EQ(bytes[17], 0x34);
    EXPECT_EQ(bytes[18], 0x12);
    EXPECT_EQ(bytes[527], 0x03);
    EXPECT_EQ(bytes[528], 0x02);
    EXPECT_EQ(bytes[529], 7);
    EXPECT_EQ(bytes[530], 0x1F);

    TLCAParams back;
    ASSERT_TRUE(TLCAParams::Parse(bytes.data(), bytes.size(), back));
    EXPECT_EQ(back.Serialize(), bytes);
    EXPECT_EQ(back.Pca.IpAddress(), "10.0.0.1");
    EXPECT_FALSE(TLCAParams::Parse(bytes.data(), 530, back));
    EXPECT_FALSE(TLCAParams::Parse(nullptr, 531, back));
}

TEST(LCAParams, ErrorTextsFallBackToThePhysicalTable) {
    EXPECT_EQ(LCAErrorText(101), "На логическом канале уже существует команда.");
    EXPECT_EQ(LCAErrorText(102), "Неверный указатель на данные");
    EXPECT_EQ(LCAErrorText(103), "Неверный указатель на Event");
    EXPECT_EQ(LCAErrorText(104), "Неверный Handle снятия атомарной блокировки");
    EXPECT_EQ(LCAErrorText(105), "Выполнение команды прервано пользователем");
    EXPECT_EQ(LCAErrorText(106), "Недопустимый приоритет на логическом канале");
    EXPECT_EQ(LCAErrorText(5), "Превышено время ожидания.");
    EXPECT_EQ(LCAErrorText(0), "");
    EXPECT_EQ(LCAErrorText(107), "Неизвестный код ошибки.");
    EXPECT_EQ(LCAErrorText(100), "Неизвестный код ошибки.");
}
