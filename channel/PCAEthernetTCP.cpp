#include "channel/PCAEthernetTCP.h"

#include "platform/Socket.h"

#include <cerrno>
#include <cstring>
#include <sys/epoll.h>

namespace qz {

TPCAEthernetTCP::TPCAEthernetTCP(const TPCAParams& params, TSleeper sleeper)
    : TPCACustom(std::move(sleeper)) {
    params_.SetKind(TPCAParams::KindTCP);
    if (params.Kind() != TPCAParams::KindTCP) {
        lastError_ = pcaBadKind;
        return;
    }
    in_addr_t addr;
    if (!ParseIPv4(params.StringBytes(TPCAParams::OffIpAddress, TPCAParams::MaxIpAddress), addr)) {
        lastError_ = pcaBadAddress;
        return;
    }
    std::memcpy(params_.Bytes.data() + 1, params.Bytes.data() + 1, TPCAParams::TcpKeptSize);
    CreateSocket();
}

TPCAEthernetTCP::~TPCAEthernetTCP() {
    // No shutdown: the peer sees the connection reset or closed, nothing is flushed.
    CloseFd(handle_);
    handle_ = -1;
    lastError_ = pcaOk;
}

bool TPCAEthernetTCP::CreateSocket() {
    lastError_ = pcaOk;
    handle_ = CreateTcpSocket();
    if (handle_ < 0) {
        handle_ = -1;
        lastError_ = pcaSocketError;
        return false;
    }
    return true;
}

int TPCAEthernetTCP::Connect() {
    if (handle_ < 0 && !CreateSocket()) return -1;
    in_addr_t addr;
    if (!ParseIPv4(params_.StringBytes(TPCAParams::OffIpAddress, TPCAParams::MaxIpAddress), addr)) {
        lastError_ = pcaBadAddress;
        return -1;
    }
    lastError_ = pcaOk;
    Sleep(PauseBeforeConnectMs);
    int err = ConnectWithTimeout(handle_, addr, params_.IpPort(), connectTimeoutMs_);
    if (err != 0) {
        // A socket that is already connected stays as it is.
        if (err != EISCONN) ReplaceSocket();
        lastError_ = pcaServerNotFound;
        return -1;
    }
    Sleep(PauseAfterConnectMs);
    return 0;
}

void TPCAEthernetTCP::ReplaceSocket() {
    CloseFd(handle_);
    handle_ = -1;
    CreateSocket(); // sets LastError itself; the caller's code is what counts
}

int TPCAEthernetTCP::BeginConnect(TConnectWait& wait) {
    wait = {};
    step_ = TStep::None;
    if (handle_ < 0 && !CreateSocket()) return ConnectFailed;
    in_addr_t addr;
    if (!ParseIPv4(params_.StringBytes(TPCAParams::OffIpAddress, TPCAParams::MaxIpAddress), addr)) {
        lastError_ = pcaBadAddress;
        return ConnectFailed;
    }
    lastError_ = pcaOk;
    if (!RealPauses()) {
        Sleep(PauseBeforeConnectMs);
        return StartConnecting(wait);
    }
    step_ = TStep::PauseBefore;
    wait.TimeoutMs = int(PauseBeforeConnectMs);
    return ConnectPending;
}

int TPCAEthernetTCP::StartConnecting(TConnectWait& wait) {
    in_addr_t addr = 0;
    ParseIPv4(params_.StringBytes(TPCAParams::OffIpAddress, TPCAParams::MaxIpAddress), addr);
    const int err = StartConnect(handle_, addr, params_.IpPort());
    if (err == 0 || err == EISCONN) return Connected(wait);
    if (err != EINPROGRESS) return Failed();
    step_ = TStep::Connecting;
    wait.Fd = handle_;
    wait.Events = EPOLLOUT;
    wait.TimeoutMs = connectTimeoutMs_;
    return ConnectPending;
}

int TPCAEthernetTCP::Connected(TConnectWait& wait) {
    if (!RealPauses()) {
        Sleep(PauseAfterConnectMs);
        step_ = TStep::None;
        return ConnectDone;
    }
    step_ = TStep::PauseAfter;
    wait = {};
    wait.TimeoutMs = int(PauseAfterConnectMs);
    return ConnectPending;
}

int TPCAEthernetTCP::Failed() {
    step_ = TStep::None;
    ReplaceSocket();
    lastError_ = pcaServerNotFound;
    return ConnectFailed;
}

int TPCAEthernetTCP::ContinueConnect(bool timedOut, TConnectWait& wait) {
    wait = {};
    switch (step_) {
    case TStep::PauseBefore:
        if (!timedOut) { // nothing else is waited for: not yet
            wait.TimeoutMs = KeepTimeout;
            return ConnectPending;
        }
        return StartConnecting(wait);
    case TStep::Connecting: {
        if (timedOut) return Failed();
        const int outcome = ConnectOutcome(handle_);
        if (outcome == 0 || outcome == EISCONN) return Connected(wait);
        if (outcome != EINPROGRESS) return Failed();
        wait.Fd = handle_; // woken too early: the same wait, the same deadline
        wait.Events = EPOLLOUT;
        wait.TimeoutMs = KeepTimeout;
        return ConnectPending;
    }
    case TStep::PauseAfter:
        if (!timedOut) {
            wait.TimeoutMs = KeepTimeout;
            return ConnectPending;
        }
        step_ = TStep::None;
        lastError_ = pcaOk;
        return ConnectDone;
    default:
        return ConnectFailed;
    }
}

void TPCAEthernetTCP::AbortConnect() {
    // A socket half-way through its handshake is dropped; a connected one (the pause after)
    // stays and connects at once next time.
    if (step_ == TStep::Connecting) ReplaceSocket();
    step_ = TStep::None;
    lastError_ = pcaServerNotFound;
}

bool TPCAEthernetTCP::IsSameChannel(const TPCAParams& params) const {
    return params.Kind() == TPCAParams::KindTCP &&
           params.RawString(TPCAParams::OffIpAddress, TPCAParams::MaxIpAddress) ==
               params_.RawString(TPCAParams::OffIpAddress, TPCAParams::MaxIpAddress) &&
           params.IpPort() == params_.IpPort();
}

bool TPCAEthernetTCP::NeedReconnect(const TPCAParams& params) const {
    return !IsSameChannel(params);
}

int TPCAEthernetTCP::Disconnect() {
    if (handle_ >= 0) {
        CancelOwnTransfers();
        ShutdownBoth(handle_);
        CloseFd(handle_);
    }
    handle_ = -1;
    lastError_ = pcaOk;
    return 0;
}

int TPCAEthernetTCP::GetParams(TPCAParams& params) {
    params = params_;
    lastError_ = pcaOk;
    return 0;
}

int TPCAEthernetTCP::SetParams(const TPCAParams& params) {
    if (params.Kind() != TPCAParams::KindTCP) {
        lastError_ = pcaBadKind;
        return -1;
    }
    if (!IsSameChannel(params)) {
        // A channel never changes its address.
        lastError_ = pcaBadIpPort;
        return -1;
    }
    lastError_ = pcaOk;
    return 0;
}

void TPCAEthernetTCP::CancelIO() {
    CancelOwnTransfers();
}

} // namespace qz
