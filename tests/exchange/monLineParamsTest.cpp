#include "exchange/monLineParams.h"

#include <gtest/gtest.h>

#include <string>

namespace qz {
namespace {

// The record as bytes from offset, count long.
std::string At(const TPCAParams& p, size_t offset, size_t count) {
    return std::string(reinterpret_cast<const char*>(p.Bytes.data()) + offset, count);
}

size_t NonZeroBytes(const TPCAParams& p, size_t from, size_t to) {
    size_t n = 0;
    for (size_t i = from; i < to; ++i)
        n += p.Bytes[i] != 0;
    return n;
}

TEST(monLineParams, DirectLineIsPoweredSerialMode0) {
    TccnConnection c;
    auto mode = std::make_unique<TccnDirect232ConMode>();
    mode->ComPortInterface().SetPortName("COM123456"); // cut to 6 characters
    mode->ComPortInterface().SetBaudrate(0x0001C200);  // 115200
    c.SetCustomConMode(std::move(mode));
    TPCAParams p;
    p.Bytes.fill(0xAA); // everything not filled must be zeroed
    FillPCAParams(c, p);
    EXPECT_EQ(p.Bytes[0], 1);
    EXPECT_EQ(At(p, 1, 8), std::string("\x06"
                                       "COM123\x00",
                                       8));
    EXPECT_EQ(At(p, 8, 4), std::string("\x00\xC2\x01\x00", 4));
    EXPECT_EQ(p.Bytes[12], 0);
    EXPECT_EQ(p.Bytes[13], 1);
    EXPECT_EQ(NonZeroBytes(p, 14, TPCAParams::Size), 0u);
}

TEST(monLineParams, OpticalAttachmentIsPoweredSerialMode3) {
    TccnConnection c;
    c.SetCustomConMode(std::make_unique<TccnVQOptoAttach232ConMode>());
    const TPCAParams p = PCAParamsOfConnection(c);
    EXPECT_EQ(p.Bytes[0], 1);
    EXPECT_EQ(At(p, 1, 5), "\x04"
                           "COM1");
    EXPECT_EQ(p.Bytes[12], 3);
    EXPECT_EQ(p.Bytes[13], 1);
}

TEST(monLineParams, DialingPhoneModem) {
    TccnConnection c;
    auto mode = std::make_unique<TccnPhoneModem232ConMode>();
    mode->ComPortInterface().SetPortName("COM2");
    mode->PhoneModem().SetInitString("ATZ");
    mode->PhoneModem().SetPhoneNumber(std::string(300, '5'));
    mode->PhoneModem().SetDialType(pmdtPulse);
    c.SetCustomConMode(std::move(mode));
    TPCAParams p = PCAParamsOfConnection(c);
    EXPECT_EQ(p.Bytes[12], 1);
    EXPECT_EQ(At(p, 13, 5), std::string("\x03"
                                        "ATZ\x00",
                                        5));
    EXPECT_EQ(p.Bytes[269], 1);
    EXPECT_EQ(p.Bytes[270], 255);
    EXPECT_EQ(At(p, 271, 255), std::string(255, '5'));
    EXPECT_EQ(p.Bytes[526], 0); // pulse

    static_cast<TccnPhoneModem232ConMode&>(*c.CustomConMode()).PhoneModem().SetDialType(pmdtTone);
    p = PCAParamsOfConnection(c);
    EXPECT_EQ(p.Bytes[526], 1);
}

TEST(monLineParams, DirectPhoneModemDoesNotDial) {
    TccnConnection c;
    auto mode = std::make_unique<TccnPhoneModem232ConMode>();
    mode->PhoneModem().SetConnectType(pmctDirect);
    mode->PhoneModem().SetPhoneNumber("123");
    c.SetCustomConMode(std::move(mode));
    const TPCAParams p = PCAParamsOfConnection(c);
    EXPECT_EQ(p.Bytes[12], 1);
    EXPECT_EQ(p.Bytes[269], 0);
    EXPECT_EQ(NonZeroBytes(p, 269, TPCAParams::Size), 0u);
}

TEST(monLineParams, RadioModemWithCyrillicCallSign) {
    TccnConnection c;
    auto mode = std::make_unique<TccnRadioModem232ConMode>();
    mode->RadioModem().SetInitString("AT");
    mode->RadioModem().SetCallNumber("Ёлка");
    c.SetCustomConMode(std::move(mode));
    const TPCAParams p = PCAParamsOfConnection(c);
    EXPECT_EQ(p.Bytes[12], 2);
    EXPECT_EQ(At(p, 13, 3), "\x02"
                            "AT");
    EXPECT_EQ(At(p, 269, 5), "\x04\xA8\xEB\xEA\xE0"); // code page 1251
    EXPECT_EQ(p.Bytes[526], 0);
}

TEST(monLineParams, TcpTakesTheLowSixteenBitsOfThePort) {
    TccnConnection c;
    auto mode = std::make_unique<TccnDirectTCPIPConMode>();
    mode->TCPIPInterface().SetIpAddress("192.168.100.200:1"); // cut to 15 characters
    mode->TCPIPInterface().SetIpPort(0x12345);
    c.SetCustomConMode(std::move(mode));
    const TPCAParams p = PCAParamsOfConnection(c);
    EXPECT_EQ(p.Bytes[0], 2);
    EXPECT_EQ(At(p, 1, 16), "\x0F"
                            "192.168.100.200");
    EXPECT_EQ(At(p, 17, 2), "\x45\x23");
    EXPECT_EQ(NonZeroBytes(p, 19, TPCAParams::Size), 0u);
}

TEST(monLineParams, NoModeLeavesTheRecordZero) {
    TccnConnection c;
    c.SetCustomDevice(std::make_unique<TccnQZ2Dev>());
    TPCAParams p;
    p.Bytes.fill(0x55);
    FillPCAParams(c, p);
    EXPECT_EQ(NonZeroBytes(p, 0, TPCAParams::Size), 0u);
}

} // namespace
} // namespace qz
