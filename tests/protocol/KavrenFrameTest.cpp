#include "protocol/KavrenCommand.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace qz {
namespace {

std::vector<uint8_t> ToVec(const TBufferPtr& p, size_t n) {
    return {p.get(), p.get() + n};
}

TEST(KavrenCheckByte, KnownValues) {
    const char* abc = "abc";
    EXPECT_EQ(KavrenCheckByte(reinterpret_cast<const uint8_t*>(abc), 3), 0x77);
    // Nothing hashed leaves the running value 0.
    EXPECT_EQ(KavrenCheckByte(nullptr, 0), 0xEB);
    // One byte 0x01: 1 -> rotated to 0x80, bit out was 1 -> 0x80 ^ 0x1E = 0x9E.
    const uint8_t one = 1;
    EXPECT_EQ(KavrenCheckByte(&one, 1), 0x9E ^ 0xEB);
    // 0x02 rotates without the feedback: 0x01.
    const uint8_t two = 2;
    EXPECT_EQ(KavrenCheckByte(&two, 1), 0x01 ^ 0xEB);
}

TEST(KavrenCheckByte, DependsOnOrderAndEveryByte) {
    const uint8_t a[] = {1, 2, 3, 4};
    const uint8_t b[] = {2, 1, 3, 4};
    EXPECT_NE(KavrenCheckByte(a, 4), KavrenCheckByte(b, 4));
    uint8_t c[64] = {};
    const uint8_t base = KavrenCheckByte(c, 64);
    for (int i = 0; i < 64; ++i) {
        c[i] = 0x10;
        EXPECT_NE(KavrenCheckByte(c, 64), base) << "byte " << i;
        c[i] = 0;
    }
}

TEST(KavrenCommand, TimeParamsRequestMatchesWorkedExample) {
    TKavrenRequest r;
    r.Cmd = 15;
    r.Cmd1 = 1;
    r.Address = 1;
    r.DeviceCode = 4;
    TKavrenCommand cmd(nullptr, r, 0);
    size_t size = 0;
    TBufferPtr req = cmd.BuildRequest(size);
    const std::vector<uint8_t> expected = {0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x0F, 0x01, 0x01,
                                           0x00, 0x04, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x01,
                                           0x01, 0x00, 0x01, 0x00, 0x00, 0x00, 0x36};
    ASSERT_EQ(size, 25u);
    EXPECT_EQ(ToVec(req, size), expected);
}

TEST(KavrenCommand, RequestWithDataCarriesLengthDataAndCoveringCheckByte) {
    TKavrenRequest r;
    r.Cmd = 0x21;
    r.Cmd1 = 0x42;
    r.Address = 0x1234;
    r.DeviceCode = 0xABCD;
    r.Param1 = 9;
    r.Param2 = 8;
    r.Param3 = 0x0507;
    const uint8_t data[] = {0xDE, 0xAD, 0xBE};
    TKavrenCommand cmd(data, r, sizeof data);
    size_t size = 0;
    TBufferPtr req = cmd.BuildRequest(size);
    ASSERT_EQ(size, 28u);
    const uint8_t* f = req.get();
    EXPECT_EQ(GetU16(f + 4), 3);
    EXPECT_EQ(f[6], 0x21);
    EXPECT_EQ(f[7], 0x42);
    EXPECT_EQ(GetU16(f + 8), 0x1234);
    EXPECT_EQ(GetU16(f + 10), 0xABCD);
    EXPECT_EQ(f[12], 9);
    EXPECT_EQ(f[13], 8);
    EXPECT_EQ(GetU16(f + 20), 0x0507);
    EXPECT_EQ(0, std::memcmp(f + 24, data, 3));
    // The check byte covers header and data but not itself.
    EXPECT_EQ(f[27], KavrenCheckByte(f, 27));
    EXPECT_TRUE(KavrenFrameCheckOk(f, size));
}

TEST(KavrenCommand, HeaderCheckLooksAtCmdAndCmd1Only) {
    TKavrenRequest r;
    r.Cmd = 27;
    r.Cmd1 = 1;
    TKavrenCommand cmd(nullptr, r, 0);
    uint8_t h[25] = {};
    h[6] = 27;
    h[7] = 1;
    h[8] = 99; // other address: not this command's business
    EXPECT_TRUE(cmd.CheckAnswerHeader(h, sizeof h));
    h[7] = 2;
    EXPECT_FALSE(cmd.CheckAnswerHeader(h, sizeof h));
    h[7] = 1;
    h[6] = 28;
    EXPECT_FALSE(cmd.CheckAnswerHeader(h, sizeof h));
    h[6] = 27;
    EXPECT_FALSE(cmd.CheckAnswerHeader(h, 7)) << "too short to hold Cmd1";
}

TEST(KavrenCommand, ExpectedSizeAndHeldAnswer) {
    TKavrenRequest r;
    r.Cmd = 15;
    r.Cmd1 = 1;
    TKavrenCommand cmd(nullptr, r, 0);
    EXPECT_TRUE(cmd.CheckAnswer()) << "no length check before SetExpectedDataSize";
    EXPECT_EQ(cmd.GetDeviceStatus(), 0);
    EXPECT_EQ(cmd.AnswerData(), nullptr);
    cmd.SetExpectedDataSize(44);
    EXPECT_EQ(cmd.ExpectedAnswerSize, 69);

    TKavrenHeader h;
    h.Cmd = 15;
    h.Cmd1 = 1;
    h.Status = 0x0102;
    std::vector<uint8_t> data(44, 0x5A);
    auto frame = BuildKavrenFrame(h, data.data(), data.size());
    cmd.SetAnswer(frame.data(), frame.size());
    EXPECT_TRUE(cmd.CheckAnswer());
    EXPECT_EQ(cmd.GetDeviceStatus(), 0x0102);
    EXPECT_EQ(cmd.AnswerDataLength(), 44);
    EXPECT_EQ(cmd.AnswerDataSize(), 44u);
    EXPECT_EQ(cmd.AnswerData()[43], 0x5A);

    auto shorter = BuildKavrenFrame(h, data.data(), 43);
    cmd.SetAnswer(shorter.data(), shorter.size());
    EXPECT_FALSE(cmd.CheckAnswer());
    cmd.SetExpectedDataSize(0);
    EXPECT_TRUE(cmd.CheckAnswer());
}

TEST(KavrenCommand, DataSizeNeverExceedsTheHeldFrame) {
    TKavrenRequest r;
    TKavrenCommand cmd(nullptr, r, 0);
    TKavrenHeader h;
    std::vector<uint8_t> frame(30, 0);
    h.DataLength = 60000; // announces far more than is held
    WriteKavrenHeader(frame.data(), h);
    cmd.SetAnswer(frame.data(), frame.size());
    EXPECT_EQ(cmd.AnswerDataLength(), 60000);
    EXPECT_EQ(cmd.AnswerDataSize(), 5u);
}

TEST(KavrenFrame, EmptyDataFieldIs25BytesAndCheckDetectsCorruption) {
    TKavrenHeader h;
    h.Cmd = 14;
    auto frame = BuildKavrenFrame(h, nullptr, 0);
    ASSERT_EQ(frame.size(), 25u);
    EXPECT_TRUE(KavrenFrameCheckOk(frame.data(), frame.size()));
    frame[10] ^= 1;
    EXPECT_FALSE(KavrenFrameCheckOk(frame.data(), frame.size()));
    EXPECT_FALSE(KavrenFrameCheckOk(frame.data(), 24));
}

void* FailingAlloc(size_t) {
    return nullptr;
}

TEST(AllocBuffer, ZeroFilledNullForZeroAndFailureText) {
    TBufferPtr p = AllocBuffer(100);
    ASSERT_NE(p, nullptr);
    for (int i = 0; i < 100; ++i)
        EXPECT_EQ(p[i], 0);
    EXPECT_EQ(AllocBuffer(0), nullptr);

    SetBufferAllocator(&FailingAlloc);
    try {
        AllocBuffer(1602);
        SetBufferAllocator(nullptr);
        FAIL() << "no exception";
    } catch (const EOutOfMemory& e) {
        SetBufferAllocator(nullptr);
        EXPECT_EQ(std::string(e.what()), "Не удалось выделить память!!!\r Выделяется 1602 байт");
    }
    EXPECT_NE(AllocBuffer(10), nullptr) << "default allocator restored";
}

TEST(AllocBuffer, FailedAllocationLeavesBuildRequestByException) {
    TKavrenRequest r;
    TKavrenCommand cmd(nullptr, r, 0);
    SetBufferAllocator(&FailingAlloc);
    size_t size = 0;
    EXPECT_THROW(cmd.BuildRequest(size), EOutOfMemory);
    SetBufferAllocator(nullptr);
}

} // namespace
} // namespace qz
