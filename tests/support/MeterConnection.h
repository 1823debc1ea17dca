// A connection to a meter on loopback TCP the way the operator sets one up: the device, the
// protocol with meter address 1 and the direct TCP/IP mode. Header-only, so that each test
// folder takes it with the connection library it already links.
#pragma once

#include "connection/CcnConnectionList.h"

#include <cstdint>
#include <memory>

namespace qz::test {

// An attempt count that leaves the connection's own.
constexpr int32_t kOwnAttempts = 0;

// `attempts` are the protocol's tries of one request, `connectAttempts` the line's tries to
// connect; few of them keep the tests of a silent meter short.
inline std::unique_ptr<TccnConnection>
TcpConnection(TDeviceType type, uint16_t port, const char* ip = "127.0.0.1", int32_t attempts = 2,
              int32_t connectAttempts = 2, int32_t factoryNumber = 1) {
    auto c = std::make_unique<TccnConnection>();
    auto dev = CreateDevice(type);
    dev->SetFactoryNum(factoryNumber);
    c->SetCustomDevice(std::move(dev));
    auto proto = std::make_unique<TccnKavrenProtocol>();
    proto->SetDeviceAddress(1);
    if (attempts != kOwnAttempts) proto->SetMaxAttemptCount(attempts);
    c->SetCustomDeviceProtocol(std::move(proto));
    auto mode = std::make_unique<TccnDirectTCPIPConMode>();
    mode->TCPIPInterface().SetIpAddress(ip);
    mode->TCPIPInterface().SetIpPort(port);
    if (connectAttempts != kOwnAttempts) mode->SetMaxAttemptCountOnConnect(connectAttempts);
    c->SetCustomConMode(std::move(mode));
    return c;
}

} // namespace qz::test
