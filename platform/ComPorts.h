// COM port names and the devices behind them.
//
// Connections keep the port as a name "COMn" (at most 6 characters). On this system a name
// resolves to a device path:
//   1. a symbolic link <local app data>/VQ/ports/comN wins when it exists (the user points a
//      port number at any device, e.g. a /dev/serial/by-id link or a pseudo-terminal);
//   2. otherwise fixed ranges that do not move when hardware is added:
//      COM1-32 -> /dev/ttyS0-31, COM33-64 -> /dev/ttyUSB0-31, COM65-96 -> /dev/ttyACM0-31.
#pragma once

#include <string>
#include <vector>

namespace qz {

// The port number of a name "COMn" (letters in any case, n = 1..255 without leading zeros
// or signs), or 0 when the name is not one.
int ComPortNumber(const std::string& name);

// The folder of the override links: <local app data>/VQ/ports.
std::string ComPortLinkFolder();

// The device path of a port name, or "" when the name is not a port name or its number has
// neither a link nor a default device.
std::string ResolveComPort(const std::string& name);

struct TComPortInfo {
    int Number = 0;
    std::string Name;   // "COM3"
    std::string Device; // the path the name resolves to
};

// The ports whose device exists, sorted by number, with the device path beside each.
std::vector<TComPortInfo> ListComPorts();

} // namespace qz
