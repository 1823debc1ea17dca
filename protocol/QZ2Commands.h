// The six QZ2 meter commands the monitor uses, with read-only views of their answer data.
//
// Every accessor checks that its bytes lie inside the data field actually received and gives
// 0 (or an empty value) otherwise, so a short or hostile answer is never read past its end.
#pragma once

#include "common/DateTime.h"
#include "protocol/KavrenCommand.h"
#include "protocol/QZ2Layout.h"

#include <cstdint>

namespace qz {

// Bounds-checked little-endian reads from an answer's data field.
class TAnswerReader {
public:
    TAnswerReader() = default;
    TAnswerReader(const uint8_t* data, size_t size) : FData(data), FSize(data ? size : 0) {}

    bool Has(size_t offset, size_t length) const {
        return offset <= FSize && length <= FSize - offset;
    }
    uint8_t U8(size_t offset) const { return Has(offset, 1) ? FData[offset] : 0; }
    uint16_t U16(size_t offset) const { return Has(offset, 2) ? GetU16(FData + offset) : 0; }
    int16_t I16(size_t offset) const { return static_cast<int16_t>(U16(offset)); }
    float F32(size_t offset) const;
    const uint8_t* Data() const { return FData; }
    size_t Size() const { return FSize; }

private:
    const uint8_t* FData = nullptr;
    size_t FSize = 0;
};

// A meter time in BCD bytes ordered day, month, year - 2000, hour, minute, second. A time
// whose day or month is 0, whose digits are not BCD, or that is not a valid date and time
// decodes to 01.01.2000 00:00:00.
TDateTime DecodeQZ2Time(const uint8_t* bcd6);
// The reverse, for a meter of our own making (seconds truncated to whole ones).
void EncodeQZ2Time(TDateTime t, uint8_t* bcd6);

// The same for the answer header's DateTime, ordered hour, minute, second, day, month,
// year - 2000.
TDateTime DecodeHeaderTime(const uint8_t* bcd6);
void EncodeHeaderTime(TDateTime t, uint8_t* bcd6);

// The time 01.01.2000 00:00:00 that stands for any invalid meter time.
TDateTime QZ2DefaultTime();

class TQZ2_CustomCmd : public TKavrenCommand {
public:
    TQZ2_CustomCmd(const uint8_t* data, const TKavrenRequest& request, size_t dataSize);

    // A request descriptor of the QZ2 meters: Param1 = Param2 = 0, the fixed date-time,
    // Param3 = 1 and the given values.
    static void FillRequest(uint16_t deviceCode, uint16_t address, TKavrenRequest& request,
                            uint8_t cmd1, uint8_t cmd);

    // The held answer header's DateTime decoded (01.01.2000 00:00:00 when it is not a valid
    // time or no answer is held).
    TDateTime RecordTime() const;
    TAnswerReader Data() const { return TAnswerReader(AnswerData(), AnswerDataSize()); }
};

// Meter settings (Cmd 14/1); the answer may have any length.
class TQZ2_SettingsCmd : public TQZ2_CustomCmd {
public:
    TQZ2_SettingsCmd(uint16_t deviceCode, uint16_t address);

    uint8_t VoltageSelector() const { return Data().U8(qz2::kSetVoltageSelector); }
    uint8_t VoltageCode() const { return Data().U8(qz2::kSetVoltageCode); }
    float NominalPhaseVoltage() const { return Data().F32(qz2::kSetNominalPhaseVoltage); }
    float NominalLineVoltage() const { return Data().F32(qz2::kSetNominalLineVoltage); }
    // Limits as transmitted, in hundredths (% or Hz).
    int16_t PhaseVoltageLimit(int i) const { return Data().I16(qz2::SetPhaseVoltageLimit(i)); }
    int16_t LineVoltageLimit(int i) const { return Data().I16(qz2::SetLineVoltageLimit(i)); }
    int16_t FrequencyLimit(int i) const { return Data().I16(qz2::SetFrequencyLimit(i)); }
    int16_t K0Limit(int i) const { return Data().I16(qz2::SetK0Limit(i)); }
    int16_t K2Limit(int i) const { return Data().I16(qz2::SetK2Limit(i)); }
    int16_t KUNormal() const { return Data().I16(qz2::kSetKUNormal); }
    int16_t KUMax() const { return Data().I16(qz2::kSetKUMax); }
    int16_t HarmNormal(int n) const { return Data().I16(qz2::SetHarmNormal(n)); }
    int16_t HarmMax(int n) const { return Data().I16(qz2::SetHarmMax(n)); }
    uint8_t InputConfig() const { return Data().U8(qz2::kSetInputConfig); }
    uint8_t CurrentCode() const { return Data().U8(qz2::kSetCurrentCode); }
    // Whether the answer is long enough to hold every field above.
    bool Complete() const { return Data().Size() >= qz2::kSettingsMinSize; }
};

// Harmonic scale coefficients (Cmd 14/2), 12 data bytes.
class TQZ2_ScaleKoeffsCmd : public TQZ2_CustomCmd {
public:
    TQZ2_ScaleKoeffsCmd(uint16_t deviceCode, uint16_t address);

    float VoltageKoeff() const { return Data().F32(qz2::kScaleVoltage); }
    float CurrentKoeff() const { return Data().F32(qz2::kScaleCurrent); }
    // A coefficient k as the scale of one harmonic unit: k / (8 * sqrt 2); 0 stays 0.
    static double HarmonicScale(double k);
};

// Time parameters (Cmd 15/1), 44 data bytes.
class TQZ2_TimeParamsCmd : public TQZ2_CustomCmd {
public:
    TQZ2_TimeParamsCmd(uint16_t deviceCode, uint16_t address);

    TDateTime DeviceTime() const;
    bool ChangeFlag() const { return Data().U8(qz2::kTimeChangeFlag) != 0; }
    TDateTime ChangeTime() const;
};

// One harmonic as transmitted, in units of the scale coefficient.
struct TRawHarmonic {
    int16_t Re = 0;
    int16_t Im = 0;
};

// Read-only view of a 3-second record (basic or extended).
class TQZ2Record3sec {
public:
    explicit TQZ2Record3sec(TAnswerReader r) : R(r) {}

    bool IsExtended() const { return R.Size() >= qz2::kRecordExtendedSize; }

    float PhaseU1(int ph) const { return R.F32(qz2::PhaseUGroup(ph)); }
    float PhaseU(int ph) const { return R.F32(qz2::PhaseUGroup(ph) + qz2::kGroupRms); }
    int16_t PhaseUAngle(int ph) const { return R.I16(qz2::PhaseUGroup(ph) + qz2::kGroupAngle); }
    float LineU1(int ln) const { return R.F32(qz2::LineUGroup(ln)); }
    float LineU(int ln) const { return R.F32(qz2::LineUGroup(ln) + qz2::kGroupRms); }
    float USeq(int k) const { return R.F32(qz2::USeqGroup(k)); }
    int16_t USeqAngle(int k) const { return R.I16(qz2::USeqGroup(k) + qz2::kGroupAngle); }
    float PhaseI1(int ph) const { return R.F32(qz2::PhaseIGroup(ph)); }
    float PhaseI(int ph) const { return R.F32(qz2::PhaseIGroup(ph) + qz2::kGroupRms); }
    int16_t PhaseIAngle(int ph) const { return R.I16(qz2::PhaseIGroup(ph) + qz2::kGroupAngle); }
    float ISeq(int k) const { return R.F32(qz2::ISeqGroup(k)); }
    int16_t ISeqAngle(int k) const { return R.I16(qz2::ISeqGroup(k) + qz2::kGroupAngle); }
    uint16_t FrequencyRaw() const { return R.U16(qz2::kFrequency); }
    uint16_t K0Raw() const { return R.U16(qz2::kK0); }
    uint16_t K2Raw() const { return R.U16(qz2::kK2); }
    uint16_t KURaw(int ph) const { return R.U16(qz2::KUPhase(ph)); }
    uint16_t KULineRaw(int ln) const { return R.U16(qz2::KULine(ln)); }
    uint16_t KIRaw(int ph) const { return R.U16(qz2::KIPhase(ph)); }
    TRawHarmonic Harmonic(qz2::THarmTable t, int n) const;
    float PowerFund(int ph) const { return R.F32(qz2::PowerFund(ph)); }
    float PowerTotal(int ph) const { return R.F32(qz2::PowerTotal(ph)); }

private:
    TAnswerReader R;
};

// The latest 3-second record (Cmd 27/1), basic layout of 1602 data bytes.
class TQZ2_Archive3secCmd : public TQZ2_CustomCmd {
public:
    TQZ2_Archive3secCmd(uint16_t deviceCode, uint16_t address);
    TQZ2Record3sec Record() const { return TQZ2Record3sec(Data()); }

protected:
    TQZ2_Archive3secCmd(uint16_t deviceCode, uint16_t address, uint16_t dataSize);
};

// The same request answered with the extended layout of 1946 data bytes.
class TQZ2M_Archive3secCmd : public TQZ2_Archive3secCmd {
public:
    TQZ2M_Archive3secCmd(uint16_t deviceCode, uint16_t address);
};

// A waveform block (Cmd 32): Cmd1 carries the channel mask, Param2 the sample-count code.
class TQZ2_SignalTrendCmd : public TQZ2_CustomCmd {
public:
    TQZ2_SignalTrendCmd(uint16_t deviceCode, uint16_t address, uint8_t channelMask,
                        uint8_t sizeCode);

    uint8_t ChannelMask() const { return Request().Cmd1; }
    uint8_t SizeCode() const { return Request().Param2; }
    // Samples per channel the request asked for (0 for a code outside 1..5).
    int SamplesPerChannel() const { return qz2::SamplesOfSizeCode(SizeCode()); }
    // Channels in the mask.
    int ChannelCount() const;
    // Sample `index` of the `slot`-th requested channel (ascending mask bit order); 0 when the
    // block does not hold it.
    int16_t Sample(int index, int slot) const;

    static int CountChannels(uint8_t mask);
};

} // namespace qz
