// ISerialDevice: what the COM-port channel needs from a serial device, and the termios
// implementation on a tty device.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace qz {

// Modem status lines as the device reports them.
struct TModemLines {
    bool CTS = false;
    bool DSR = false;
    bool DCD = false;
};

class ISerialDevice {
public:
    virtual ~ISerialDevice() = default;

    // Opens the device non-blocking and exclusively. 0 on success, else the errno of the
    // failure: EACCES, EPERM or EBUSY mean the port exists but cannot be had (another program
    // holds it, or no permission); anything else means there is no such port.
    virtual int Open(const std::string& path) = 0;
    virtual bool IsOpen() const = 0;
    virtual void Close() = 0;
    // The descriptor transfers run on (-1 when closed).
    virtual int Fd() const = 0;

    // Raw 8 data bits, no parity, one stop bit, no flow control, at baud bit/s. linesOn
    // raises DTR and RTS, otherwise both are dropped (the port settings own the two lines).
    // Any positive speed may be asked for; false when the device refuses the speed (or
    // cannot come within 2 % of it) or the settings, and for the speed 0.
    virtual bool Configure(uint32_t baud, bool linesOn) = 0;

    // Control lines. On a device without modem lines (a pseudo-terminal) these do nothing.
    virtual void SetDTR(bool on) = 0;
    virtual void SetRTS(bool on) = 0;
    // Status lines; a device without modem lines reports all of them absent.
    virtual TModemLines GetModemLines() = 0;

    // Discards unread input and / or unsent output.
    virtual void Purge(bool rx, bool tx) = 0;
    // Waits until the output written so far has been sent (bounded by the line speed: flow
    // control is always off).
    virtual void Drain() = 0;
};

// The termios device: /dev/ttyS*, /dev/ttyUSB*, /dev/ttyACM*, pseudo-terminals.
class TTermiosSerialDevice : public ISerialDevice {
public:
    TTermiosSerialDevice() = default;
    ~TTermiosSerialDevice() override;

    int Open(const std::string& path) override;
    bool IsOpen() const override { return fd_ >= 0; }
    void Close() override;
    int Fd() const override { return fd_; }
    bool Configure(uint32_t baud, bool linesOn) override;
    void SetDTR(bool on) override;
    void SetRTS(bool on) override;
    TModemLines GetModemLines() override;
    void Purge(bool rx, bool tx) override;
    void Drain() override;

    // The termios speed constant of a line speed, or 0 when there is none (such a speed is
    // set in bit/s, see SerialSpeed.h).
    static unsigned SpeedConstant(uint32_t baud);

private:
    void SetLine(int bit, bool on);
    int fd_ = -1;
};

// Creates the device a COM port is opened with.
using TSerialDeviceFactory = std::function<std::unique_ptr<ISerialDevice>()>;

} // namespace qz
