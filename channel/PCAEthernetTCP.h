// TPCAEthernetTCP: the physical channel to a meter (or a serial-to-Ethernet converter in
// front of it) listening on an IPv4 address and TCP port.
//
// The socket is non-blocking from its creation. Connect waits at most ConnectTimeoutMs
// (15 s by default): long enough for a slow mobile-network link, short enough that a line
// does not hang for the minutes the system's own TCP connect time-out would take. The
// worker connects with BeginConnect / ContinueConnect instead, which wait for nothing: the
// pauses and the connect itself are waited for in the worker's loop.
#pragma once

#include "channel/PCAType.h"

namespace qz {

class TPCAEthernetTCP : public TPCACustom {
public:
    static constexpr int DefaultConnectTimeoutMs = 15000;
    // Pauses around connect: before it, and after a successful one so that a converter has
    // its serial side ready before the first request.
    static constexpr uint32_t PauseBeforeConnectMs = 50;
    static constexpr uint32_t PauseAfterConnectMs = 500;

    explicit TPCAEthernetTCP(const TPCAParams& params, TSleeper sleeper = {});
    ~TPCAEthernetTCP() override;

    int Connect() override;
    int BeginConnect(TConnectWait& wait) override;
    int ContinueConnect(bool timedOut, TConnectWait& wait) override;
    void AbortConnect() override;
    bool IsSameChannel(const TPCAParams& params) const override;
    bool NeedReconnect(const TPCAParams& params) const override;
    int Disconnect() override;
    int GetParams(TPCAParams& params) override;
    int SetParams(const TPCAParams& params) override;
    void CancelIO() override;

    void SetConnectTimeoutMs(int ms) { connectTimeoutMs_ = ms; }

private:
    bool CreateSocket();
    // A failed or abandoned connect leaves a socket that cannot connect again: a new one.
    void ReplaceSocket();
    int StartConnecting(TConnectWait& wait);
    int Connected(TConnectWait& wait);
    int Failed();

    enum class TStep { None, PauseBefore, Connecting, PauseAfter };
    TStep step_ = TStep::None;

    // Bytes 0..274 of the description: Kind 2 and the 274 bytes the channel keeps.
    TPCAParams params_;
    int connectTimeoutMs_ = DefaultConnectTimeoutMs;
};

} // namespace qz
