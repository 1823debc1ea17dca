// A scriptable serial device for tests of everything that talks over a COM port.
//
// TFakeSerialLine is the far end of the line: the device handed to the code under test
// (TFakeSerialDevice, made by Factory()) gives it one end of a socket pair, and a small
// responder thread reads the other end. The line
//   - records every byte written and every call (open, speed, DTR/RTS, purge, close) in one
//     ordered log, and DTR/RTS changes with timestamps;
//   - answers written bytes by rules ("when the bytes written since the last match contain
//     X, run an action, then reply Y") or by a callback;
//   - lets the test set CTS/DSR/DCD at any time, also from a rule's action;
//   - can refuse the open, the port settings or single speeds.
// The line outlives the devices made from it, so a test can look at the log after the code
// under test has closed and freed its device.
#pragma once

#include "platform/SerialDevice.h"

#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace qz {

class TFakeSerialLine : public std::enable_shared_from_this<TFakeSerialLine> {
public:
    using TClock = std::chrono::steady_clock;
    using TAction = std::function<void(TFakeSerialLine&)>;

    struct TLineChange {
        char Line; // 'D' = DTR, 'R' = RTS
        bool On;
        TClock::time_point Time;
    };

    TFakeSerialLine();
    ~TFakeSerialLine();
    TFakeSerialLine(const TFakeSerialLine&) = delete;
    TFakeSerialLine& operator=(const TFakeSerialLine&) = delete;

    // A factory of devices on this line.
    TSerialDeviceFactory Factory();

    // Script.
    void SetOpenError(int err);       // Open returns it (0 = opens)
    void SetConfigureResult(bool ok); // false: Configure refuses any speed
    // Configure refuses this speed, as a UART whose clock cannot come near it (any positive
    // speed is taken otherwise, like a pseudo-terminal does).
    void RefuseSpeed(uint32_t baud);
    void AddRule(const std::string& match, const std::string& reply, TAction action = {});
    // Called with every chunk read from the line; returns the bytes to answer ("" = none).
    void SetResponder(std::function<std::string(const std::string&)> responder);
    void SetCTS(bool on);
    void SetDSR(bool on);
    void SetDCD(bool on);
    // Sends bytes to the code under test without being asked.
    bool Send(const std::string& bytes);
    // Closes the far end: the code under test reads end of file.
    void HangUpPeer();

    // Inspection.
    std::string Written() const;
    std::vector<std::string> Log() const;
    std::vector<TLineChange> LineHistory() const;
    bool DTR() const;
    bool RTS() const;
    uint32_t Speed() const;
    std::string OpenedPath() const;
    // Adds an entry to the log (a test's sleeper notes its pauses this way).
    void Note(const std::string& entry);
    // Waits (at most timeoutMs) until the responder has taken in and handled everything
    // written so far, so that the log is in the order things happened. True when settled.
    bool Settle(int timeoutMs = 2000);

private:
    friend class TFakeSerialDevice;

    // Device side.
    int DevOpen(const std::string& path);
    void DevClose();
    bool DevIsOpen() const;
    int DevFd() const;
    bool DevConfigure(uint32_t baud, bool linesOn);
    void DevSetLine(char line, bool on);
    TModemLines DevLines() const;
    void DevPurge(bool rx, bool tx);
    void DevDrain();

    void Run(int peer, int wake);
    void StopResponder();
    void SetLineLocked(char line, bool on);

    struct TRule {
        std::string Match;
        std::string Reply;
        TAction Action;
    };

    mutable std::mutex mutex_;
    std::condition_variable cv_;
    std::vector<TRule> rules_;
    std::function<std::string(const std::string&)> responder_;
    std::string pending_;
    std::string written_;
    std::vector<std::string> log_;
    std::vector<TLineChange> history_;
    int openError_ = 0;
    bool configureOk_ = true;
    std::vector<uint32_t> refusedSpeeds_;
    bool cts_ = false, dsr_ = false, dcd_ = false;
    bool dtr_ = false, rts_ = false;
    uint32_t speed_ = 0;
    std::string path_;
    bool busy_ = false;

    int devFd_ = -1;
    int peerFd_ = -1;
    int wakeFd_ = -1;
    std::thread thread_;
};

// The device the code under test holds; every call goes to its line.
class TFakeSerialDevice : public ISerialDevice {
public:
    explicit TFakeSerialDevice(std::shared_ptr<TFakeSerialLine> line) : line_(std::move(line)) {}
    ~TFakeSerialDevice() override { line_->DevClose(); }

    int Open(const std::string& path) override { return line_->DevOpen(path); }
    bool IsOpen() const override { return line_->DevIsOpen(); }
    void Close() override { line_->DevClose(); }
    int Fd() const override { return line_->DevFd(); }
    bool Configure(uint32_t baud, bool linesOn) override {
        return line_->DevConfigure(baud, linesOn);
    }
    void SetDTR(bool on) override { line_->DevSetLine('D', on); }
    void SetRTS(bool on) override { line_->DevSetLine('R', on); }
    TModemLines GetModemLines() override { return line_->DevLines(); }
    void Purge(bool rx, bool tx) override { line_->DevPurge(rx, tx); }
    void Drain() override { line_->DevDrain(); }

private:
    std::shared_ptr<TFakeSerialLine> line_;
};

// A modem on the line that is ready for a call: clear to send, and answering the port's own
// init string with "0" (OK). The test scripts the rest of what the modem says.
inline std::shared_ptr<TFakeSerialLine> MakeReadyModem() {
    auto modem = std::make_shared<TFakeSerialLine>();
    modem->SetCTS(true);
    modem->AddRule("ATV0E0Q0&C1&D2\r", "0\r");
    return modem;
}

} // namespace qz
