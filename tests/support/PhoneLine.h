// The channel of a phone modem on a COM port as the connection dialog sets it up: 9600 Bd,
// tone dialling of one number, priority 1; and the line's waits for a scripted modem.
// Header-only, for the tests that link the channel library already.
#pragma once

#include "channel/LCAType.h"
#include "channel/PCAComPort.h"

#include <cstdint>
#include <string>

namespace qz::test {

// `init` is the modem's own init string (none when empty), `attempts` the connect attempts,
// `logMask` the classes the channel reports.
inline TLCAParams PhoneLine(const std::string& port, const std::string& number,
                            const std::string& init = {}, uint16_t attempts = 1,
                            uint8_t logMask = 0) {
    TLCAParams p;
    p.Pca.SetKind(TPCAParams::KindComPort);
    p.Pca.SetPortName(port);
    p.Pca.SetBaudrate(9600);
    p.Pca.SetMode(TPCAComPort::ModePhone);
    if (!init.empty()) p.Pca.SetInitString(init);
    p.Pca.SetDialNumber(1);
    p.Pca.SetPhoneNumber(number);
    p.Pca.SetToneDial(1);
    p.MaxAttemptCountOnConnect = attempts;
    p.Priority = 1;
    p.LogMask = logMask;
    return p;
}

// The scripted modem answers at once: short read intervals and reply waits, so that a test
// of a whole call does not wait the seconds a real modem is given.
inline TComPortTimings ScriptedModemTimings() {
    TComPortTimings fast;
    for (auto& ms : fast.ReadIntervalMs)
        ms = 20;
    fast.ModemReplyMs = fast.DialReplyMs = 500;
    fast.HangUpReplyMs = 60;
    return fast;
}

} // namespace qz::test
