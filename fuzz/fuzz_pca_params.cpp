// Physical channel descriptions arrive from stored connection lists and from the logical
// channel layer's byte records: any 527 bytes must be safe to read, compare and act on.
#include "channel/PCAComPort.h"
#include "channel/PCAEthernetTCP.h"
#include "channel/PCAType.h"
#include "platform/ComPorts.h"
#include "platform/Socket.h"

#include <cstddef>
#include <cstdint>
#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace qz;
    TPCAParams a, b;
    if (!a.Parse(data, size)) std::memcpy(a.Bytes.data(), data, size < 527 ? size : 527);
    // The second record is the first one read from the other end, so that comparisons
    // see equal and different fields.
    for (size_t i = 0; i < TPCAParams::Size; ++i)
        b.Bytes[i] = a.Bytes[TPCAParams::Size - 1 - i];
    b.Bytes[0] = a.Bytes[0];

    volatile size_t sink = 0;
    sink += a.PortName().size() + a.InitString().size() + a.PhoneNumber().size() +
            a.CallNumber().size() + a.IpAddress().size() + a.Baudrate() + a.IpPort();
    sink += ComPortNumber(a.PortName());
    in_addr_t addr;
    sink += ParseIPv4(a.StringBytes(TPCAParams::OffIpAddress, TPCAParams::MaxIpAddress), addr);

    TSleeper none = [](uint32_t) {};
    {
        TPCAEthernetTCP tcp(a, none);
        sink += tcp.IsSameChannel(b) + tcp.NeedReconnect(b) + tcp.SetParams(b) + tcp.LastError();
        TPCAParams got;
        tcp.GetParams(got);
    }
    {
        // No device behind the port: only the description logic runs.
        TPCAComPort com(
            a, [] { return std::unique_ptr<ISerialDevice>(); }, none);
        sink += com.IsSameChannel(b) + com.NeedReconnect(b) + com.SetParams(b) + com.LastError();
        sink += com.Connect() + com.Disconnect() + com.CheckDevice();
    }
    (void)sink;
    return 0;
}
