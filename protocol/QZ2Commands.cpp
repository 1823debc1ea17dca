#include "protocol/QZ2Commands.h"

#include <cmath>
#include <cstring>

namespace qz {

static_assert(sizeof(float) == 4, "the meter sends IEEE single floats");

float TAnswerReader::F32(size_t offset) const {
    if (!Has(offset, 4)) return 0.0f;
    float v;
    std::memcpy(&v, FData + offset, 4);
    return v;
}

TDateTime QZ2DefaultTime() {
    TDateTime t = 0;
    TryEncodeDate(2000, 1, 1, t);
    return t;
}

namespace {

bool DecodeParts(const uint8_t* b, int day, int month, int year, int hour, int minute, int second,
                 TDateTime& out) {
    const int idx[6] = {day, month, year, hour, minute, second};
    for (int i : idx)
        if (!IsValidBcd(b[i])) return false;
    TDateTimeParts p;
    p.Day = BcdToInt(b[day]);
    p.Month = BcdToInt(b[month]);
    p.Year = 2000 + BcdToInt(b[year]);
    p.Hour = BcdToInt(b[hour]);
    p.Minute = BcdToInt(b[minute]);
    p.Second = BcdToInt(b[second]);
    if (p.Day == 0 || p.Month == 0) return false;
    return TryEncodeDateTime(p, out);
}

void EncodeParts(TDateTime t, uint8_t* b, int day, int month, int year, int hour, int minute,
                 int second) {
    const TDateTimeParts p = DecodeDateTime(t);
    b[day] = IntToBcd(p.Day);
    b[month] = IntToBcd(p.Month);
    b[year] = IntToBcd(p.Year - 2000);
    b[hour] = IntToBcd(p.Hour);
    b[minute] = IntToBcd(p.Minute);
    b[second] = IntToBcd(p.Second);
}

} // namespace

TDateTime DecodeQZ2Time(const uint8_t* bcd6) {
    TDateTime t = 0;
    if (!bcd6 || !DecodeParts(bcd6, 0, 1, 2, 3, 4, 5, t)) return QZ2DefaultTime();
    return t;
}

void EncodeQZ2Time(TDateTime t, uint8_t* bcd6) {
    EncodeParts(t, bcd6, 0, 1, 2, 3, 4, 5);
}

TDateTime DecodeHeaderTime(const uint8_t* bcd6) {
    TDateTime t = 0;
    if (!bcd6 || !DecodeParts(bcd6, 3, 4, 5, 0, 1, 2, t)) return QZ2DefaultTime();
    return t;
}

void EncodeHeaderTime(TDateTime t, uint8_t* bcd6) {
    EncodeParts(t, bcd6, 3, 4, 5, 0, 1, 2);
}

TQZ2_CustomCmd::TQZ2_CustomCmd(const uint8_t* data, const TKavrenRequest& request, size_t dataSize)
    : TKavrenCommand(data, request, dataSize) {
    Timeout = 5000;
}

void TQZ2_CustomCmd::FillRequest(uint16_t deviceCode, uint16_t address, TKavrenRequest& request,
                                 uint8_t cmd1, uint8_t cmd) {
    request.Param1 = 0;
    request.Param2 = 0;
    request.DateTime = kKavrenRequestDateTime;
    request.Param3 = 1;
    request.DeviceCode = deviceCode;
    request.Address = address;
    request.Cmd1 = cmd1;
    request.Cmd = cmd;
}

TDateTime TQZ2_CustomCmd::RecordTime() const {
    if (!Answer() || AnswerSize() < kKavrenHeaderSize) return QZ2DefaultTime();
    return DecodeHeaderTime(Answer() + kavren::kOffDateTime);
}

namespace {
TKavrenRequest MakeRequest(uint16_t deviceCode, uint16_t address, uint8_t cmd, uint8_t cmd1,
                           uint8_t param1 = 0, uint8_t param2 = 0) {
    TKavrenRequest r;
    TQZ2_CustomCmd::FillRequest(deviceCode, address, r, cmd1, cmd);
    r.Param1 = param1;
    r.Param2 = param2;
    return r;
}
} // namespace

TQZ2_SettingsCmd::TQZ2_SettingsCmd(uint16_t deviceCode, uint16_t address)
    : TQZ2_CustomCmd(nullptr, MakeRequest(deviceCode, address, 14, 1), 0) {}

TQZ2_ScaleKoeffsCmd::TQZ2_ScaleKoeffsCmd(uint16_t deviceCode, uint16_t address)
    : TQZ2_CustomCmd(nullptr, MakeRequest(deviceCode, address, 14, 2), 0) {
    SetExpectedDataSize(qz2::kScaleAnswerSize);
}

double TQZ2_ScaleKoeffsCmd::HarmonicScale(double k) {
    if (k == 0.0) return 0.0;
    return k / (8.0 * std::sqrt(2.0));
}

TQZ2_TimeParamsCmd::TQZ2_TimeParamsCmd(uint16_t deviceCode, uint16_t address)
    : TQZ2_CustomCmd(nullptr, MakeRequest(deviceCode, address, 15, 1), 0) {
    SetExpectedDataSize(qz2::kTimeAnswerSize);
}

TDateTime TQZ2_TimeParamsCmd::DeviceTime() const {
    const TAnswerReader d = Data();
    return d.Has(qz2::kTimeDevice, 6) ? DecodeQZ2Time(d.Data() + qz2::kTimeDevice)
                                      : QZ2DefaultTime();
}

TDateTime TQZ2_TimeParamsCmd::ChangeTime() const {
    const TAnswerReader d = Data();
    return d.Has(qz2::kTimeChangeTime, 6) ? DecodeQZ2Time(d.Data() + qz2::kTimeChangeTime)
                                          : QZ2DefaultTime();
}

TRawHarmonic TQZ2Record3sec::Harmonic(qz2::THarmTable t, int n) const {
    TRawHarmonic h;
    if (n < qz2::kFirstHarmonic || n > qz2::kLastHarmonic) return h;
    const size_t off = qz2::Harmonic(t, n);
    h.Re = R.I16(off);
    h.Im = R.I16(off + 2);
    return h;
}

TQZ2_Archive3secCmd::TQZ2_Archive3secCmd(uint16_t deviceCode, uint16_t address)
    : TQZ2_Archive3secCmd(deviceCode, address, qz2::kRecordBasicSize) {}

TQZ2_Archive3secCmd::TQZ2_Archive3secCmd(uint16_t deviceCode, uint16_t address, uint16_t dataSize)
    : TQZ2_CustomCmd(nullptr, MakeRequest(deviceCode, address, 27, 1, 2, 3), 0) {
    SetExpectedDataSize(dataSize);
}

TQZ2M_Archive3secCmd::TQZ2M_Archive3secCmd(uint16_t deviceCode, uint16_t address)
    : TQZ2_Archive3secCmd(deviceCode, address, qz2::kRecordExtendedSize) {}

TQZ2_SignalTrendCmd::TQZ2_SignalTrendCmd(uint16_t deviceCode, uint16_t address, uint8_t channelMask,
                                         uint8_t sizeCode)
    : TQZ2_CustomCmd(nullptr, MakeRequest(deviceCode, address, 32, channelMask, 7, sizeCode), 0) {}

int TQZ2_SignalTrendCmd::CountChannels(uint8_t mask) {
    int n = 0;
    for (int b = 0; b < 8; ++b)
        if (mask & (1u << b)) ++n;
    return n;
}

int TQZ2_SignalTrendCmd::ChannelCount() const {
    return CountChannels(ChannelMask());
}

int16_t TQZ2_SignalTrendCmd::Sample(int index, int slot) const {
    const int channels = ChannelCount();
    if (index < 0 || slot < 0 || slot >= channels) return 0;
    const size_t off = (static_cast<size_t>(index) * channels + slot) * 2;
    return Data().I16(off);
}

} // namespace qz
