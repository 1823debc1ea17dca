#include "channel/PCAType.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace qz {
namespace {

TEST(PCAParams, NewRecordIsAllZero) {
    TPCAParams p;
    auto b = p.Serialize();
    ASSERT_EQ(b.size(), 527u);
    for (uint8_t x : b)
        EXPECT_EQ(x, 0);
}

TEST(PCAParams, SerialFieldsAtTheirOffsets) {
    TPCAParams p;
    p.SetKind(1);
    p.SetPortName("COM3");
    p.SetBaudrate(0x0001C200); // 115200
    p.SetMode(0);
    p.SetPowerLines(1);
    auto b = p.Serialize();
    EXPECT_EQ(b[0], 1);
    EXPECT_EQ(b[1], 4);
    EXPECT_EQ(std::memcmp(&b[2], "COM3", 4), 0);
    EXPECT_EQ(b[6], 0);
    EXPECT_EQ(b[7], 0);
    EXPECT_EQ(b[8], 0x00);
    EXPECT_EQ(b[9], 0xC2);
    EXPECT_EQ(b[10], 0x01);
    EXPECT_EQ(b[11], 0x00);
    EXPECT_EQ(b[12], 0);
    EXPECT_EQ(b[13], 1);
    for (size_t i = 14; i < 527; ++i)
        EXPECT_EQ(b[i], 0) << i;
}

TEST(PCAParams, TelephoneModemFields) {
    TPCAParams p;
    p.SetKind(1);
    p.SetMode(1);
    p.SetInitString("ATZ");
    p.SetDialNumber(1);
    p.SetPhoneNumber("8-495-1234567");
    p.SetToneDial(1);
    auto b = p.Serialize();
    EXPECT_EQ(b[12], 1);
    EXPECT_EQ(b[13], 3);
    EXPECT_EQ(std::memcmp(&b[14], "ATZ", 3), 0);
    EXPECT_EQ(b[269], 1);
    EXPECT_EQ(b[270], 13);
    EXPECT_EQ(std::memcmp(&b[271], "8-495-1234567", 13), 0);
    EXPECT_EQ(b[526], 1);
    EXPECT_EQ(p.PhoneNumber(), "8-495-1234567");
    EXPECT_EQ(p.InitString(), "ATZ");
}

TEST(PCAParams, RadioCallNumberSharesTheDialBytes) {
    TPCAParams p;
    p.SetKind(1);
    p.SetMode(2);
    p.SetCallNumber("17");
    auto b = p.Serialize();
    EXPECT_EQ(b[269], 2);
    EXPECT_EQ(b[270], '1');
    EXPECT_EQ(b[271], '7');
    EXPECT_EQ(p.DialNumber(), 2); // the same byte read as DialNumber
}

TEST(PCAParams, TcpFieldsAtTheirOffsets) {
    TPCAParams p;
    p.SetKind(2);
    p.SetIpAddress("192.168.100.200");
    p.SetIpPort(0x1F90); // 8080
    auto b = p.Serialize();
    EXPECT_EQ(b[0], 2);
    EXPECT_EQ(b[1], 15);
    EXPECT_EQ(std::memcmp(&b[2], "192.168.100.200", 15), 0);
    EXPECT_EQ(b[17], 0x90);
    EXPECT_EQ(b[18], 0x1F);
    EXPECT_EQ(b[19], 0);
    EXPECT_EQ(p.IpPort(), 8080);
}

TEST(PCAParams, StringsAreCp1251AndCutToTheirMaximum) {
    TPCAParams p;
    p.SetPortName("COM1234567"); // 10 characters, field holds 6
    EXPECT_EQ(p.Bytes[1], 6);
    EXPECT_EQ(p.PortName(), "COM123");
    EXPECT_EQ(p.Bytes[8], 0) << "the cut text must not run into Baudrate";

    p.SetInitString(std::string(300, 'x'));
    EXPECT_EQ(p.Bytes[13], 255);
    EXPECT_EQ(p.InitString().size(), 255u);

    p.SetIpAddress("Модем"); // Cyrillic: one byte per character in the record
    EXPECT_EQ(p.Bytes[1], 5);
    EXPECT_EQ(p.Bytes[2], 0xCC); // 'М' in code page 1251
    EXPECT_EQ(p.IpAddress(), "Модем");
}

TEST(PCAParams, SettingAShorterStringZeroesTheOldTail) {
    TPCAParams p;
    p.SetPhoneNumber("1234567890");
    p.SetPhoneNumber("12");
    for (size_t i = 273; i < 526; ++i)
        EXPECT_EQ(p.Bytes[i], 0) << i;
}

TEST(PCAParams, ParseRoundTripKeepsEveryByte) {
    std::vector<uint8_t> raw(531);
    for (size_t i = 0; i < raw.size(); ++i)
        raw[i] = uint8_t(i * 7 + 3);
    TPCAParams p;
    ASSERT_TRUE(p.Parse(raw.data(), raw.size())); // a longer record (531) carries one
    auto b = p.Serialize();
    EXPECT_EQ(std::memcmp(b.data(), raw.data(), 527), 0);
    TPCAParams q;
    ASSERT_TRUE(q.Parse(b.data(), b.size()));
    EXPECT_EQ(p, q);
}

TEST(PCAParams, ParseRefusesShortInput) {
    TPCAParams p;
    p.SetKind(2);
    std::vector<uint8_t> raw(526, 0xFF);
    EXPECT_FALSE(p.Parse(raw.data(), raw.size()));
    EXPECT_FALSE(p.Parse(nullptr, 527));
    EXPECT_EQ(p.Kind(), 2);
}

TEST(PCAParams, OversizedLengthBytesNeverReadPastTheField) {
    TPCAParams p;
    p.Bytes.fill('A');
    p.Bytes[1] = 200;   // PortName claims 200 characters
    p.Bytes[270] = 255; // PhoneNumber claims 255 but only 255 fit: exactly the maximum
    EXPECT_EQ(p.PortName().size(), 6u);
    EXPECT_EQ(p.RawString(TPCAParams::OffPortName, TPCAParams::MaxPortName).size(), 7u);
    EXPECT_EQ(uint8_t(p.RawString(TPCAParams::OffPortName, TPCAParams::MaxPortName)[0]), 6);
    EXPECT_EQ(p.PhoneNumber().size(), 255u);
    p.Bytes[1] = 2;
    EXPECT_EQ(p.RawString(TPCAParams::OffPortName, TPCAParams::MaxPortName), "\x02"
                                                                             "AA");
}

TEST(PCAErrorText, EveryCode) {
    const char* texts[26] = {"",
                             "Действие не реализовано.",
                             "Не было начальной инициализации модуля.",
                             "Неверный Handle.",
                             "Неверный тип PCA.",
                             "Превышено время ожидания.",
                             nullptr,
                             nullptr,
                             nullptr,
                             nullptr,
                             "Порт занят другим приложением.",
                             "Com-порт не найден.",
                             "Ошибка записи в порт",
                             "Ошибка чтения из порта",
                             "Модем не найден.",
                             "Неверное имя порта.",
                             "Не удалось установить соединение с модемом.",
                             "Инициализация модема не прошла.",
                             "Ошибка при создании сокета.",
                             "Удаленный сервер не найден.",
                             "Неверные IP и порт.",
                             "Неверные адрес.",
                             "Соединение потеряно.",
                             "Инициализация порта выполнена с ошибкой.",
                             "Подключенное устройство неопределяется.",
                             "Нет соединения с оптической приставкой."};
    for (int code = 0; code < 26; ++code) {
        std::string expected = texts[code] ? texts[code] : "Неизвестный код ошибки.";
        EXPECT_EQ(PCAErrorText(code), expected) << code;
    }
    EXPECT_EQ(PCAErrorText(100), "Неизвестный код ошибки.");
    EXPECT_EQ(PCAErrorText(-1), "Неизвестный код ошибки.");
    EXPECT_EQ(PCAErrorText(101), "Неизвестный код ошибки.");
}

} // namespace
} // namespace qz
