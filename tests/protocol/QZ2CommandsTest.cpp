#include "protocol/QZ2Commands.h"
#include "protocol/QZ2Models.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <memory>
#include <vector>

namespace qz {
namespace {

void PutF(std::vector<uint8_t>& d, size_t off, float v) {
    std::memcpy(d.data() + off, &v, 4);
}
void PutI(std::vector<uint8_t>& d, size_t off, int16_t v) {
    PutU16(d.data() + off, static_cast<uint16_t>(v));
}

// Gives `cmd` an answer to its own request with the given data and status.
void Answer(TKavrenCommand& cmd, const std::vector<uint8_t>& data, uint16_t status = 0,
            std::array<uint8_t, 6> dt = {}) {
    TKavrenHeader h;
    h.Cmd = cmd.Request().Cmd;
    h.Cmd1 = cmd.Request().Cmd1;
    h.Address = cmd.Request().Address;
    h.DeviceCode = cmd.Request().DeviceCode;
    h.Status = status;
    h.DateTime = dt;
    auto f = BuildKavrenFrame(h, data.data(), data.size());
    cmd.SetAnswer(f.data(), f.size());
}

struct TExpectedRequest {
    uint8_t Cmd, Cmd1, Param1, Param2;
    int32_t Expected; // expected answer size, 0 = any
};

void CheckRequest(const TQZ2_CustomCmd& cmd, uint16_t code, uint16_t address,
                  const TExpectedRequest& e) {
    size_t size = 0;
    TBufferPtr f = cmd.BuildRequest(size);
    ASSERT_EQ(size, 25u);
    EXPECT_EQ(GetU16(f.get() + 4), 0);
    EXPECT_EQ(f[6], e.Cmd);
    EXPECT_EQ(f[7], e.Cmd1);
    EXPECT_EQ(GetU16(f.get() + 8), address);
    EXPECT_EQ(GetU16(f.get() + 10), code);
    EXPECT_EQ(f[12], e.Param1);
    EXPECT_EQ(f[13], e.Param2);
    const uint8_t dt[6] = {0, 0, 0, 1, 1, 0};
    EXPECT_EQ(0, std::memcmp(f.get() + 14, dt, 6));
    EXPECT_EQ(GetU16(f.get() + 20), 1);
    EXPECT_EQ(GetU16(f.get() + 22), 0);
    EXPECT_TRUE(KavrenFrameCheckOk(f.get(), size));
    EXPECT_EQ(cmd.Timeout, 5000);
    EXPECT_EQ(cmd.CheckAnswerSize, e.Expected != 0);
    if (e.Expected) {
        EXPECT_EQ(cmd.ExpectedAnswerSize, e.Expected);
    }
}

TEST(QZ2Commands, RequestsOfEveryCommandForEveryModel) {
    for (int m = 0; m < kQZ2ModelCount; ++m) {
        SCOPED_TRACE(QZ2Model(m).CmdLineName);
        const uint16_t code = QZ2Model(m).DeviceCode;
        const uint16_t addr = static_cast<uint16_t>(1 + 300 * m);
        CheckRequest(TQZ2_SettingsCmd(code, addr), code, addr, {14, 1, 0, 0, 0});
        CheckRequest(TQZ2_ScaleKoeffsCmd(code, addr), code, addr, {14, 2, 0, 0, 12 + 25});
        CheckRequest(TQZ2_TimeParamsCmd(code, addr), code, addr, {15, 1, 0, 0, 44 + 25});
        if (QZ2Model(m).HasNeutral) {
            CheckRequest(TQZ2M_Archive3secCmd(code, addr), code, addr, {27, 1, 2, 3, 1946 + 25});
        } else {
            CheckRequest(TQZ2_Archive3secCmd(code, addr), code, addr, {27, 1, 2, 3, 1602 + 25});
        }
        const uint8_t mask = QZ2Model(m).HasNeutral ? 0xFF : 0x3F;
        CheckRequest(TQZ2_SignalTrendCmd(code, addr, mask, 2), code, addr, {32, mask, 7, 2, 0});
    }
}

TEST(QZ2Commands, ExtendedArchiveDiffersOnlyInExpectedLength) {
    TQZ2_Archive3secCmd basic(4, 1);
    TQZ2M_Archive3secCmd ext(4, 1);
    size_t a = 0, b = 0;
    auto fa = basic.BuildRequest(a);
    auto fb = ext.BuildRequest(b);
    ASSERT_EQ(a, b);
    EXPECT_EQ(0, std::memcmp(fa.get(), fb.get(), a));
    Answer(ext, std::vector<uint8_t>(1602));
    EXPECT_FALSE(ext.CheckAnswer()) << "a basic record is not an extended one";
    Answer(basic, std::vector<uint8_t>(1602));
    EXPECT_TRUE(basic.CheckAnswer());
}

TEST(QZ2Commands, TimeParamsDecoding) {
    TQZ2_TimeParamsCmd cmd(4, 1);
    std::vector<uint8_t> d(44, 0);
    const uint8_t now[6] = {0x31, 0x12, 0x26, 0x23, 0x59, 0x57}; // 31.12.2026 23:59:57
    const uint8_t chg[6] = {0x05, 0x03, 0x25, 0x08, 0x07, 0x06}; // 05.03.2025 08:07:06
    std::memcpy(d.data(), now, 6);
    d[6] = 1;
    std::memcpy(d.data() + 8, chg, 6);
    Answer(cmd, d);
    TDateTimeParts p = DecodeDateTime(cmd.DeviceTime());
    EXPECT_EQ(p.Year, 2026);
    EXPECT_EQ(p.Month, 12);
    EXPECT_EQ(p.Day, 31);
    EXPECT_EQ(p.Hour, 23);
    EXPECT_EQ(p.Minute, 59);
    EXPECT_EQ(p.Second, 57);
    EXPECT_TRUE(cmd.ChangeFlag());
    p = DecodeDateTime(cmd.ChangeTime());
    EXPECT_EQ(p.Year, 2025);
    EXPECT_EQ(p.Month, 3);
    EXPECT_EQ(p.Day, 5);
    EXPECT_EQ(p.Hour, 8);
    EXPECT_EQ(p.Second, 6);

    d[6] = 0;
    d[0] = 0x00;     // day 0
    d[8 + 1] = 0x13; // month 13
    Answer(cmd, d);
    EXPECT_FALSE(cmd.ChangeFlag());
    EXPECT_DOUBLE_EQ(cmd.DeviceTime(), QZ2DefaultTime());
    EXPECT_DOUBLE_EQ(cmd.ChangeTime(), QZ2DefaultTime());
}

TEST(QZ2Time, InvalidTimesDecodeTo2000) {
    const uint8_t bad[][6] = {
        {0x1A, 0x01, 0x20, 0, 0, 0},    // not BCD
        {0x30, 0x02, 0x21, 0, 0, 0},    // 30 February
        {0x01, 0x01, 0x20, 0x24, 0, 0}, // hour 24
        {0x01, 0x01, 0x20, 0, 0x60, 0}, // minute 60
        {0x01, 0x00, 0x20, 0, 0, 0},    // month 0
    };
    for (const auto& b : bad)
        EXPECT_DOUBLE_EQ(DecodeQZ2Time(b), QZ2DefaultTime());
    const TDateTimeParts p = DecodeDateTime(QZ2DefaultTime());
    EXPECT_EQ(p.Year, 2000);
    EXPECT_EQ(p.Month, 1);
    EXPECT_EQ(p.Day, 1);
    EXPECT_EQ(p.Hour, 0);
    const uint8_t leap[6] = {0x29, 0x02, 0x24, 0x12, 0x00, 0x00};
    EXPECT_EQ(DecodeDate(DecodeQZ2Time(leap)).Day, 29);
}

TEST(QZ2Commands, RecordTimeFromAnswerHeader) {
    TQZ2_Archive3secCmd cmd(4, 1);
    EXPECT_DOUBLE_EQ(cmd.RecordTime(), QZ2DefaultTime()) << "no answer held";
    Answer(cmd, std::vector<uint8_t>(1602), 0, {0x00, 0x00, 0x02, 0x01, 0x01, 0x27});
    const TDateTimeParts p = DecodeDateTime(cmd.RecordTime());
    EXPECT_EQ(p.Year, 2027);
    EXPECT_EQ(p.Day, 1);
    EXPECT_EQ(p.Hour, 0);
    EXPECT_EQ(p.Second, 2);
    EXPECT_EQ(cmd.AnswerDataLength(), 1602);
}

TEST(QZ2Commands, SettingsFieldsAtTheirOffsets) {
    TQZ2_SettingsCmd cmd(20, 7);
    std::vector<uint8_t> d(240, 0);
    d[4] = 1;
    d[5] = 17;
    PutF(d, 6, 57.735f);
    PutI(d, 18, 1000);
    PutI(d, 24, -500);
    PutF(d, 30, 100.0f);
    PutI(d, 42, 1001);
    PutI(d, 48, -501);
    PutI(d, 54, 40);
    PutI(d, 60, -40);
    PutI(d, 62, 200);
    PutI(d, 64, 400);
    PutI(d, 66, 201);
    PutI(d, 68, 401);
    PutI(d, 70, 800);
    PutI(d, 72, 200);   // harmonic 2 normal
    PutI(d, 148, 50);   // harmonic 40 normal
    PutI(d, 150, 1200); // distortion max
    PutI(d, 152, 300);  // harmonic 2 max
    PutI(d, 228, 75);   // harmonic 40 max
    d[230] = 3;
    d[231] = 39;
    Answer(cmd, d);
    EXPECT_TRUE(cmd.Complete());
    EXPECT_EQ(cmd.VoltageSelector(), 1);
    EXPECT_EQ(cmd.VoltageCode(), 17);
    EXPECT_FLOAT_EQ(cmd.NominalPhaseVoltage(), 57.735f);
    EXPECT_FLOAT_EQ(cmd.NominalLineVoltage(), 100.0f);
    EXPECT_EQ(cmd.PhaseVoltageLimit(0), 1000);
    EXPECT_EQ(cmd.PhaseVoltageLimit(3), -500);
    EXPECT_EQ(cmd.LineVoltageLimit(0), 1001);
    EXPECT_EQ(cmd.LineVoltageLimit(3), -501);
    EXPECT_EQ(cmd.FrequencyLimit(0), 40);
    EXPECT_EQ(cmd.FrequencyLimit(3), -40);
    EXPECT_EQ(cmd.K0Limit(0), 200);
    EXPECT_EQ(cmd.K0Limit(1), 400);
    EXPECT_EQ(cmd.K2Limit(0), 201);
    EXPECT_EQ(cmd.K2Limit(1), 401);
    EXPECT_EQ(cmd.KUNormal(), 800);
    EXPECT_EQ(cmd.KUMax(), 1200);
    EXPECT_EQ(cmd.HarmNormal(2), 200);
    EXPECT_EQ(cmd.HarmNormal(40), 50);
    EXPECT_EQ(cmd.HarmMax(2), 300);
    EXPECT_EQ(cmd.HarmMax(40), 75);
    EXPECT_EQ(cmd.InputConfig(), 3);
    EXPECT_EQ(cmd.CurrentCode(), 39);
}

TEST(QZ2Commands, ShortSettingsAnswerReadsZeroBeyondItsEnd) {
    TQZ2_SettingsCmd cmd(4, 1);
    std::vector<uint8_t> d(8, 0xFF);
    Answer(cmd, d);
    EXPECT_FALSE(cmd.Complete());
    EXPECT_EQ(cmd.VoltageSelector(), 0xFF);
    EXPECT_EQ(cmd.NominalPhaseVoltage(), 0.0f) << "float at 6..9 only half present";
    EXPECT_EQ(cmd.CurrentCode(), 0);
    EXPECT_EQ(cmd.HarmMax(40), 0);
}

TEST(QZ2Commands, ScaleCoefficients) {
    TQZ2_ScaleKoeffsCmd cmd(4, 1);
    std::vector<uint8_t> d(12, 0);
    PutF(d, 0, 99.0f); // not used
    PutF(d, 4, 0.5f);
    PutF(d, 8, 0.25f);
    Answer(cmd, d);
    EXPECT_TRUE(cmd.CheckAnswer());
    EXPECT_FLOAT_EQ(cmd.VoltageKoeff(), 0.5f);
    EXPECT_FLOAT_EQ(cmd.CurrentKoeff(), 0.25f);
    EXPECT_DOUBLE_EQ(TQZ2_ScaleKoeffsCmd::HarmonicScale(0.0), 0.0);
    EXPECT_NEAR(TQZ2_ScaleKoeffsCmd::HarmonicScale(8 * std::sqrt(2.0)), 1.0, 1e-12);
}

TEST(QZ2Commands, RecordFieldsAtTheTabledOffsets) {
    std::vector<uint8_t> d(1946, 0);
    PutF(d, 0, 1.f);
    PutF(d, 4, 2.f);
    PutI(d, 8, 3);
    PutF(d, 20, 4.f);
    PutI(d, 28, -5);
    PutF(d, 34, 6.f);
    PutF(d, 54, 7.f);
    PutF(d, 60, 8.f);
    PutI(d, 88, 9);
    PutF(d, 90, 10.f);
    PutF(d, 114, 11.f);
    PutI(d, 118, 12);
    PutF(d, 140, 13.f);
    PutI(d, 148, 14);
    PutU16(d.data() + 150, 5001);
    PutU16(d.data() + 152, 15);
    PutU16(d.data() + 154, 16);
    PutU16(d.data() + 160, 17);
    PutU16(d.data() + 166, 18);
    PutI(d, 168, 19);              // UA n=2 re
    PutI(d, 172, 20);              // UA n=3 re
    PutI(d, 480 + 4 * 38 + 2, 21); // UC n=40 im
    PutI(d, 948, 22);              // UCA n=2 re
    PutU16(d.data() + 1108, 23);
    PutI(d, 1422 + 4 * 38, 24); // IC n=40 re
    PutF(d, 1578, 25.f);
    PutF(d, 1598, 26.f);
    PutF(d, 1602, 27.f);
    PutF(d, 1606, 28.f);
    PutI(d, 1610, 29);
    PutF(d, 1612, 30.f);
    PutF(d, 1616, 31.f);
    PutI(d, 1620, 32);
    PutU16(d.data() + 1622, 33);
    PutI(d, 1624, 34);
    PutU16(d.data() + 1780, 35);
    PutI(d, 1782 + 4 * 38 + 2, 36);
    PutF(d, 1938, 37.f);
    PutF(d, 1942, 38.f);

    TQZ2M_Archive3secCmd cmd(4, 1);
    Answer(cmd, d);
    const TQZ2Record3sec r = cmd.Record();
    EXPECT_TRUE(r.IsExtended());
    EXPECT_EQ(r.PhaseU1(0), 1.f);
    EXPECT_EQ(r.PhaseU(0), 2.f);
    EXPECT_EQ(r.PhaseUAngle(0), 3);
    EXPECT_EQ(r.PhaseU1(2), 4.f);
    EXPECT_EQ(r.PhaseUAngle(2), -5);
    EXPECT_EQ(r.LineU(0), 6.f);
    EXPECT_EQ(r.LineU(2), 7.f);
    EXPECT_EQ(r.USeq(0), 8.f);
    EXPECT_EQ(r.USeqAngle(2), 9);
    EXPECT_EQ(r.PhaseI1(0), 10.f);
    EXPECT_EQ(r.PhaseI(2), 11.f);
    EXPECT_EQ(r.PhaseIAngle(2), 12);
    EXPECT_EQ(r.ISeq(2), 13.f);
    EXPECT_EQ(r.ISeqAngle(2), 14);
    EXPECT_EQ(r.FrequencyRaw(), 5001);
    EXPECT_EQ(r.K0Raw(), 15);
    EXPECT_EQ(r.K2Raw(), 16);
    EXPECT_EQ(r.KURaw(2), 17);
    EXPECT_EQ(r.KULineRaw(2), 18);
    EXPECT_EQ(r.Harmonic(qz2::htUA, 2).Re, 19);
    EXPECT_EQ(r.Harmonic(qz2::htUA, 3).Re, 20);
    EXPECT_EQ(r.Harmonic(qz2::htUC, 40).Im, 21);
    EXPECT_EQ(r.Harmonic(qz2::htUCA, 2).Re, 22);
    EXPECT_EQ(r.KIRaw(2), 23);
    EXPECT_EQ(r.Harmonic(qz2::htIC, 40).Re, 24);
    EXPECT_EQ(r.PowerFund(0), 25.f);
    EXPECT_EQ(r.PowerTotal(2), 26.f);
    EXPECT_EQ(r.PhaseU1(3), 27.f);
    EXPECT_EQ(r.PhaseU(3), 28.f);
    EXPECT_EQ(r.PhaseUAngle(3), 29);
    EXPECT_EQ(r.PhaseI1(3), 30.f);
    EXPECT_EQ(r.PhaseI(3), 31.f);
    EXPECT_EQ(r.PhaseIAngle(3), 32);
    EXPECT_EQ(r.KURaw(3), 33);
    EXPECT_EQ(r.Harmonic(qz2::htUN, 2).Re, 34);
    EXPECT_EQ(r.KIRaw(3), 35);
    EXPECT_EQ(r.Harmonic(qz2::htIN, 40).Im, 36);
    EXPECT_EQ(r.PowerFund(3), 37.f);
    EXPECT_EQ(r.PowerTotal(3), 38.f);
    EXPECT_EQ(r.Harmonic(qz2::htUA, 41).Re, 0) << "outside 2..40";
    EXPECT_EQ(r.Harmonic(qz2::htUA, 1).Re, 0);
}

TEST(QZ2Commands, BasicRecordHasNoNeutralFields) {
    std::vector<uint8_t> d(1602, 0xEE);
    TQZ2_Archive3secCmd cmd(4, 1);
    Answer(cmd, d);
    const TQZ2Record3sec r = cmd.Record();
    EXPECT_FALSE(r.IsExtended());
    EXPECT_EQ(r.PhaseU1(3), 0.f);
    EXPECT_EQ(r.KIRaw(3), 0);
    EXPECT_EQ(r.PowerTotal(3), 0.f);
    EXPECT_NE(r.PowerTotal(2), 0.f) << "last basic field is still present";
}

TEST(QZ2Commands, SignalSamplesInterleavedByMaskBits) {
    TQZ2_SignalTrendCmd cmd(4, 1, 0x29, 1); // bits 0, 3, 5: three channels
    EXPECT_EQ(cmd.ChannelCount(), 3);
    EXPECT_EQ(cmd.SamplesPerChannel(), 32);
    std::vector<uint8_t> d(32 * 3 * 2);
    for (int i = 0; i < 32; ++i)
        for (int s = 0; s < 3; ++s)
            PutI(d, (i * 3 + s) * 2, static_cast<int16_t>(i * 100 - s));
    Answer(cmd, d);
    EXPECT_EQ(cmd.Sample(0, 0), 0);
    EXPECT_EQ(cmd.Sample(5, 2), 498);
    EXPECT_EQ(cmd.Sample(31, 1), 3099);
    EXPECT_EQ(cmd.Sample(32, 0), 0) << "beyond the block";
    EXPECT_EQ(cmd.Sample(1, 3), 0) << "no fourth channel in the mask";
    EXPECT_EQ(qz2::SamplesOfSizeCode(5), 512);
    EXPECT_EQ(qz2::SamplesOfSizeCode(0), 0);
    EXPECT_EQ(qz2::SamplesOfSizeCode(6), 0);
}

TEST(QZ2Commands, StatusOfAnswerIsReported) {
    TQZ2_SignalTrendCmd cmd(20, 3, 0xFF, 2);
    Answer(cmd, {}, 3);
    EXPECT_EQ(cmd.GetDeviceStatus(), 3);
    EXPECT_EQ(cmd.AnswerDataSize(), 0u);
    EXPECT_EQ(cmd.Sample(0, 0), 0);
}

} // namespace
} // namespace qz
