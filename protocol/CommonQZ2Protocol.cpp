#include "protocol/CommonQZ2Protocol.h"

#include "protocol/QZ2Models.h"

#include <exception>

namespace qz {

TCommonQZ2Protocol::TCommonQZ2Protocol(const TLCAParams& lineParams, bool processMessages,
                                       uint16_t attemptCount, uint16_t deviceAddress,
                                       uint8_t variant)
    : TKavrenProtocol(lineParams, processMessages, attemptCount, deviceAddress,
                      DeviceCodeOfVariant(variant)),
      FVariant(variant) {}

bool TCommonQZ2Protocol::Run(TQZ2_CustomCmd* command, const uint8_t*& data, size_t& size) {
    data = nullptr;
    size = 0;
    try {
        if (!ExecuteCommand(command)) return false;
        if (command->GetDeviceStatus() != 0) return false;
        data = command->AnswerData();
        size = command->AnswerDataSize();
        return true;
    } catch (const std::exception&) {
        // The command is owned by the protocol already (ExecuteCommand takes it first).
        return false;
    }
}

namespace {
// A command is created before the protocol owns it; if that creation fails there is
// nothing to free.
template <class T, class... A> T* Make(A... args) {
    try {
        return new T(args...);
    } catch (const std::exception&) {
        return nullptr;
    }
}
constexpr double kThreeSeconds = 3.0 / 86400.0;
} // namespace

bool TCommonQZ2Protocol::ReadSettings(const uint8_t*& data, size_t& size) {
    auto* c = Make<TQZ2_SettingsCmd>(DeviceCode(), DeviceAddress());
    return c && Run(c, data, size);
}

bool TCommonQZ2Protocol::ReadScaleKoeffs(const uint8_t*& data, size_t& size) {
    auto* c = Make<TQZ2_ScaleKoeffsCmd>(DeviceCode(), DeviceAddress());
    return c && Run(c, data, size);
}

bool TCommonQZ2Protocol::ReadTimeParams(const uint8_t*& data, size_t& size) {
    auto* c = Make<TQZ2_TimeParamsCmd>(DeviceCode(), DeviceAddress());
    return c && Run(c, data, size);
}

bool TCommonQZ2Protocol::ReadArchive3sec(const uint8_t*& data, size_t& size, TDateTime& time) {
    auto* c = Make<TQZ2_Archive3secCmd>(DeviceCode(), DeviceAddress());
    if (!c || !Run(c, data, size)) return false;
    time = c->RecordTime() - kThreeSeconds;
    return true;
}

bool TCommonQZ2Protocol::ReadArchive3secM(const uint8_t*& data, size_t& size, TDateTime& time) {
    auto* c = Make<TQZ2M_Archive3secCmd>(DeviceCode(), DeviceAddress());
    if (!c || !Run(c, data, size)) return false;
    time = c->RecordTime() - kThreeSeconds;
    return true;
}

bool TCommonQZ2Protocol::ReadSignalTrend(uint8_t channelMask, uint8_t sizeCode, uint16_t& size,
                                         const uint8_t*& data) {
    auto* c = Make<TQZ2_SignalTrendCmd>(DeviceCode(), DeviceAddress(), channelMask, sizeCode);
    size_t have = 0;
    if (!c || !Run(c, data, have)) return false;
    size = c->AnswerDataLength();
    return true;
}

} // namespace qz
