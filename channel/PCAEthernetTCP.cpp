#include "channel/PCAEthernetTCP.h"

#include "platform/Socket.h"

#include <cerrno>
#include <cstring>

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
        lastError_ = pcaServerNotFound;
        // A socket whose connect failed or is still half-way cannot be connected again:
        // replace it, so the next Connect starts clean. A socket that is already connected
        // stays as it is.
        if (err != EISCONN) {
            CloseFd(handle_);
            handle_ = -1;
            CreateSocket(); // sets LastError itself; the failed connect is what counts
            lastError_ = pcaServerNotFound;
        }
        return -1;
    }
    Sleep(PauseAfterConnectMs);
    return 0;
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
