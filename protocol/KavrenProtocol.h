// The meter family's protocol over a logical channel: the header check with the device
// address and device code, the frame length rule and the check byte.
#pragma once

#include "protocol/CustomProtocol.h"
#include "protocol/KavrenCommand.h"

namespace qz {

class TKavrenProtocol : public TCustomProtocol {
public:
    TKavrenProtocol(const TLCAParams& lineParams, bool processMessages, uint16_t attemptCount,
                    uint16_t deviceAddress, uint16_t deviceCode);

    // True when the command accepts Cmd and Cmd1 and Address and DeviceCode are this
    // meter's; `remaining` = DataLength + 25 - count. A header announcing a frame longer
    // than a frame buffer holds is treated as no header at all.
    bool CheckAnswerHeader(const uint8_t* buffer, size_t count, size_t& remaining) override;
    // The held answer's last byte is the check byte of all before it.
    bool CheckAnswerCRC() override;

    // SetCommand then Execute; the protocol owns the command from then on.
    bool ExecuteCommand(TCommand* command);

    uint16_t DeviceAddress() const { return FDeviceAddress; }
    uint16_t DeviceCode() const { return FDeviceCode; }

private:
    uint16_t FDeviceAddress;
    uint16_t FDeviceCode;
};

} // namespace qz
