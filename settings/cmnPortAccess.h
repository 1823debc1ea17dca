// Why the operator's account cannot open the serial device behind a COM port: the device
// path and what to do about it, added to the exchange error the front ends show. A port the
// user may not open (not in the device's group, usually dialout) otherwise reads only as
// "port busy" or "no channel", which sends the operator looking for another program.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace qz {

class TccnConnection;

// What opening a device would meet: 0, or the errno of access(device, R_OK | W_OK), and the
// name of the device's group ("" when unknown).
struct TDeviceAccess {
    int Errno = 0;
    std::string Group;
};
using TDeviceAccessCheck = std::function<TDeviceAccess(const std::string& device)>;
// access() and stat() on the device.
TDeviceAccess CheckDeviceAccess(const std::string& device);

// For a failed exchange with `errorCode` (port busy, port not found, no channel) on the COM
// port of `connection`: a sentence naming the device and the cure, or "" when the code is
// another one, the connection has no COM port, or the device can be opened.
std::string PortAccessDetail(int32_t errorCode, const TccnConnection* connection,
                             const TDeviceAccessCheck& check = CheckDeviceAccess);

} // namespace qz
