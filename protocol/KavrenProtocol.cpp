#include "protocol/KavrenProtocol.h"

namespace qz {

TKavrenProtocol::TKavrenProtocol(const TLCAParams& lineParams, bool processMessages,
                                 uint16_t attemptCount, uint16_t deviceAddress, uint16_t deviceCode)
    : TCustomProtocol(lineParams, processMessages, attemptCount), FDeviceAddress(deviceAddress),
      FDeviceCode(deviceCode) {
    HeaderSize = kKavrenFrameOverhead;
}

bool TKavrenProtocol::CheckAnswerHeader(const uint8_t* buffer, size_t count, size_t& remaining) {
    remaining = 0;
    TCommand* cmd = GetCommand();
    if (!cmd || !buffer || count < kKavrenHeaderSize) return false;
    if (!cmd->CheckAnswerHeader(buffer, count)) return false;
    if (GetU16(buffer + kavren::kOffAddress) != FDeviceAddress) return false;
    if (GetU16(buffer + kavren::kOffDeviceCode) != FDeviceCode) return false;
    const size_t total = GetU16(buffer + kavren::kOffDataLength) + kKavrenFrameOverhead;
    if (total > kMaxFrameSize || count > total) return false;
    remaining = total - count;
    return true;
}

bool TKavrenProtocol::CheckAnswerCRC() {
    const TCommand* cmd = GetCommand();
    return cmd && KavrenFrameCheckOk(cmd->Answer(), cmd->AnswerSize());
}

bool TKavrenProtocol::ExecuteCommand(TCommand* command) {
    SetCommand(command);
    return Execute();
}

} // namespace qz
