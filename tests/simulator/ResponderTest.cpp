#include "simulator/MeterResponder.h"

#include "protocol/QZ2Commands.h"
#include "protocol/QZ2Models.h"

#include <gtest/gtest.h>

namespace qz {
namespace {

TDateTime Fixed(int h, int m, int s) {
    TDateTime t = 0;
    TryEncodeDateTime({2026, 12, 31, h, m, s, 250}, t);
    return t;
}

std::vector<uint8_t> Request(const TQZ2_CustomCmd& cmd) {
    size_t size = 0;
    TBufferPtr f = cmd.BuildRequest(size);
    return {f.get(), f.get() + size};
}

TEST(Responder, TimeParamsAnswerByteForByte) {
    TMeterResponder r(0, 1, [] { return Fixed(23, 59, 58); });
    TDateTime change = 0;
    TryEncodeDateTime({2025, 1, 2, 3, 4, 5, 0}, change);
    r.SetSettingsChange(true, change);
    auto a = r.Answer(Request(TQZ2_TimeParamsCmd(4, 1)));
    ASSERT_TRUE(a);
    const std::vector<uint8_t> header = {0, 0, 0,    0,    44,   0,    15,   1,    1, 0, 4, 0,
                                         0, 0, 0x23, 0x59, 0x58, 0x31, 0x12, 0x26, 1, 0, 0, 0};
    ASSERT_EQ(a->size(), 69u);
    EXPECT_EQ(std::vector<uint8_t>(a->begin(), a->begin() + 24), header);
    const std::vector<uint8_t> data = {0x31, 0x12, 0x26, 0x23, 0x59, 0x58, 1,
                                       0,    0x02, 0x01, 0x25, 0x03, 0x04, 0x05};
    EXPECT_EQ(std::vector<uint8_t>(a->begin() + 24, a->begin() + 38), data);
    for (size_t i = 38; i < 68; ++i)
        EXPECT_EQ((*a)[i], 0) << i;
    EXPECT_EQ(a->back(), KavrenCheckByte(a->data(), 68));
}

TEST(Responder, ArchiveStampIsTheEndOfTheLastThreeSeconds) {
    TMeterResponder r(1, 7, [] { return Fixed(0, 0, 2); });
    TQZ2M_Archive3secCmd cmd(4, 7);
    auto a = r.Answer(Request(cmd));
    ASSERT_TRUE(a);
    cmd.SetAnswer(a->data(), a->size());
    EXPECT_TRUE(cmd.CheckAnswer());
    EXPECT_EQ(cmd.GetDeviceStatus(), 0);
    EXPECT_EQ((*a)[12], 2) << "Param1 echoed";
    EXPECT_EQ((*a)[13], 3) << "Param2 echoed";
    const TDateTimeParts p = DecodeDateTime(cmd.RecordTime());
    EXPECT_EQ(p.Hour, 0);
    EXPECT_EQ(p.Minute, 0);
    EXPECT_EQ(p.Second, 0);
    EXPECT_EQ(p.Day, 31);
}

TEST(Responder, SilentForOtherAddressOrDeviceCode) {
    TMeterResponder r(3, 5, [] { return Fixed(1, 1, 1); }); // device code 20
    EXPECT_FALSE(r.Answer(Request(TQZ2_TimeParamsCmd(20, 6))));
    EXPECT_FALSE(r.Answer(Request(TQZ2_TimeParamsCmd(4, 5))));
    EXPECT_TRUE(r.Answer(Request(TQZ2_TimeParamsCmd(20, 5))));
    EXPECT_FALSE(r.Answer({1, 2, 3})) << "too short to be a frame";
}

TEST(Responder, UnknownCommandsGetStatus2Or3AndForcedStatusHasNoData) {
    TMeterResponder r(0, 1, [] { return Fixed(1, 1, 1); });
    TKavrenRequest q;
    TQZ2_CustomCmd::FillRequest(4, 1, q, 1, 99);
    auto a = r.Answer(Request(TQZ2_CustomCmd(nullptr, q, 0)));
    ASSERT_TRUE(a);
    EXPECT_EQ(GetU16(a->data() + 22), 2);
    EXPECT_EQ(a->size(), 25u);
    TQZ2_CustomCmd::FillRequest(4, 1, q, 9, 14);
    a = r.Answer(Request(TQZ2_CustomCmd(nullptr, q, 0)));
    EXPECT_EQ(GetU16(a->data() + 22), 3);
    a = r.Answer(Request(TQZ2_SignalTrendCmd(4, 1, 0x3F, 7)));
    EXPECT_EQ(GetU16(a->data() + 22), 4) << "sample-count code outside 1..5";

    a = r.Answer(Request(TQZ2_TimeParamsCmd(4, 1)), 10);
    EXPECT_EQ(GetU16(a->data() + 22), 10);
    EXPECT_EQ(a->size(), 25u);
    a = r.Answer(Request(TQZ2_TimeParamsCmd(4, 1)), 0, 3);
    EXPECT_EQ(GetU16(a->data() + 22), 0) << "waveform status touches only waveforms";
    a = r.Answer(Request(TQZ2_SignalTrendCmd(4, 1, 0x3F, 2)), 0, 3);
    EXPECT_EQ(GetU16(a->data() + 22), 3);
    EXPECT_TRUE(KavrenFrameCheckOk(a->data(), a->size()));
}

TEST(Responder, AWaveformRequestForNoChannelIsStatus4ForEveryModel) {
    for (int model = 0; model < kQZ2ModelCount; ++model) {
        SCOPED_TRACE(model);
        TMeterResponder r(model, 1, [] { return Fixed(1, 1, 1); });
        const uint16_t code = QZ2Model(model).DeviceCode;
        auto a = r.Answer(Request(TQZ2_SignalTrendCmd(code, 1, 0x00, 2)));
        ASSERT_TRUE(a);
        EXPECT_EQ(GetU16(a->data() + 22), 4);
        EXPECT_EQ(a->size(), 25u) << "no data";
        a = r.Answer(Request(TQZ2_SignalTrendCmd(code, 1, 0x01, 2)));
        ASSERT_TRUE(a);
        EXPECT_EQ(GetU16(a->data() + 22), 0) << "one channel is a waveform";
    }
}

TEST(RequestFramer, SkipsGarbageAndWaitsForSplitFrames) {
    const std::vector<uint8_t> req = Request(TQZ2_TimeParamsCmd(4, 1));
    TRequestFramer f;
    std::vector<uint8_t> out;
    const uint8_t junk[] = {0xFF, 0x00, 0x13};
    f.Push(junk, 3);
    f.Push(req.data(), 10);
    EXPECT_FALSE(f.Next(out));
    f.Push(req.data() + 10, req.size() - 10);
    ASSERT_TRUE(f.Next(out));
    EXPECT_EQ(out, req);
    EXPECT_EQ(f.SkippedBytes(), 3u);
    EXPECT_FALSE(f.Next(out));
    EXPECT_EQ(f.Pending(), 0u);
}

TEST(RequestFramer, BadCheckByteIsNotARequest) {
    std::vector<uint8_t> bad = Request(TQZ2_TimeParamsCmd(4, 1));
    bad.back() ^= 1;
    const std::vector<uint8_t> good = Request(TQZ2_SettingsCmd(4, 1));
    TRequestFramer f(1, 4);
    f.Push(bad.data(), bad.size());
    f.Push(good.data(), good.size());
    std::vector<uint8_t> out;
    ASSERT_TRUE(f.Next(out));
    EXPECT_EQ(out, good);
    EXPECT_FALSE(f.Next(out));
}

TEST(RequestFramer, SpoiledFrameAnnouncingMoreDoesNotHoldUpTheNextRequest) {
    // Inside a time-parameters request, bytes 17-18 read as a length of 257: a window there
    // waits for 282 bytes that never come.
    std::vector<uint8_t> bad = Request(TQZ2_TimeParamsCmd(4, 1));
    bad.back() ^= 0xFF;
    const std::vector<uint8_t> good = Request(TQZ2_Archive3secCmd(4, 1));
    TRequestFramer f(1, 4);
    f.Push(bad.data(), bad.size());
    std::vector<uint8_t> out;
    EXPECT_FALSE(f.Next(out));
    f.Push(good.data(), good.size());
    ASSERT_TRUE(f.Next(out));
    EXPECT_EQ(out, good);
    EXPECT_EQ(f.SkippedBytes(), 25u);
}

TEST(RequestFramer, FramesForOtherMetersAreSkippedWhole) {
    const std::vector<uint8_t> other = Request(TQZ2_TimeParamsCmd(4, 2));
    const std::vector<uint8_t> otherCode = Request(TQZ2_TimeParamsCmd(20, 1));
    const std::vector<uint8_t> mine = Request(TQZ2_TimeParamsCmd(4, 1));
    TRequestFramer f(1, 4);
    f.Push(other.data(), other.size());
    f.Push(otherCode.data(), otherCode.size());
    f.Push(mine.data(), mine.size());
    std::vector<uint8_t> out;
    ASSERT_TRUE(f.Next(out));
    EXPECT_EQ(out, mine);
    EXPECT_EQ(f.SkippedBytes(), 50u);
    TRequestFramer any;
    any.Push(other.data(), other.size());
    ASSERT_TRUE(any.Next(out));
    EXPECT_EQ(out, other);
}

TEST(RequestFramer, HugeAnnouncedLengthIsSkipped) {
    std::vector<uint8_t> junk(25, 0);
    PutU16(junk.data() + 4, 60000);
    const std::vector<uint8_t> good = Request(TQZ2_SettingsCmd(4, 1));
    TRequestFramer f;
    f.Push(junk.data(), junk.size());
    f.Push(good.data(), good.size());
    std::vector<uint8_t> out;
    ASSERT_TRUE(f.Next(out)) << "does not wait for 60000 bytes";
    EXPECT_EQ(out, good);
}

std::vector<uint8_t> Frame() {
    TKavrenHeader h;
    h.Cmd = 15;
    h.Cmd1 = 1;
    h.Address = 1;
    std::vector<uint8_t> d(44, 7);
    return BuildKavrenFrame(h, d.data(), d.size());
}

TEST(SessionFaults, CloseBeforeAnyAnswerAndTruncation) {
    // Silence, closing after K answers, stray bytes and spoiled check bytes are checked over
    // TCP; these two edges are easier to see here.
    TFaultOptions z;
    z.CloseAfter = 0;
    TAnswerPlan first = TSessionFaults(z, 1).Apply(Frame());
    EXPECT_TRUE(first.Close);
    EXPECT_TRUE(first.Bytes.empty());

    TFaultOptions tr;
    tr.TruncateFirst = 1;
    TSessionFaults u(tr, 1);
    TAnswerPlan cut = u.Apply(Frame());
    EXPECT_EQ(cut.Bytes.size(), 24u + 22);
    EXPECT_EQ(GetU16(cut.Bytes.data() + 4), 44) << "header still announces the whole";
    EXPECT_EQ(u.Apply(Frame()).Bytes, Frame());
}

} // namespace
} // namespace qz
