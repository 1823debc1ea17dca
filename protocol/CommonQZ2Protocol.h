// The protocol object through which the exchange threads talk to a QZ2 meter: the six reads
// the monitor uses, each creating its command and judging the meter's answer status.
#pragma once

#include "common/DateTime.h"
#include "protocol/KavrenProtocol.h"
#include "protocol/QZ2Commands.h"

namespace qz {

class TCommonQZ2Protocol : public TKavrenProtocol {
public:
    // `variant` selects the device code: 0 and 1 -> 4, 2 and 3 -> 20.
    TCommonQZ2Protocol(const TLCAParams& lineParams, bool processMessages, uint16_t attemptCount,
                       uint16_t deviceAddress, uint8_t variant);

    uint8_t Variant() const { return FVariant; }

    // Each read succeeds when the exchange succeeded and the meter's status is 0. `data`
    // (and `size`, its length) then point into the answer held by the current command and
    // stay valid until the next read or the protocol's end. Any failure inside, an
    // allocation failure included, gives false; the reason is in GetLastError() and
    // GetCommand()->GetDeviceStatus().
    bool ReadSettings(const uint8_t*& data, size_t& size);
    bool ReadScaleKoeffs(const uint8_t*& data, size_t& size);
    bool ReadTimeParams(const uint8_t*& data, size_t& size);
    // `time` is the record's own time: the answer header's time less 3 seconds.
    bool ReadArchive3sec(const uint8_t*& data, size_t& size, TDateTime& time);
    bool ReadArchive3secM(const uint8_t*& data, size_t& size, TDateTime& time);
    // `size` is the answer's DataLength.
    bool ReadSignalTrend(uint8_t channelMask, uint8_t sizeCode, uint16_t& size,
                         const uint8_t*& data);

    // The current command as the given class, or nullptr when it is another one.
    template <class T> const T* CommandAs() const { return dynamic_cast<const T*>(GetCommand()); }

private:
    bool Run(TQZ2_CustomCmd* command, const uint8_t*& data, size_t& size);
    uint8_t FVariant;
};

} // namespace qz
