// TPCAComPort: the physical channel over a serial port, in four modes:
//   0 direct RS-232 line, 1 telephone modem, 2 radio modem, 3 optical attachment (a probe
//   head powered from DTR/RTS and told its line speed by one code byte).
// The constructor opens the port; Connect brings the link up the way the mode needs (line
// power pulse, modem dialogue, attachment handshake); Disconnect takes it down (lines off,
// hang-up).
//
// The port name "COMn" resolves to a device (platform/ComPorts.h). The device itself comes
// from a factory: by default the termios device; tests give a fake line.
#pragma once

#include "channel/PCAType.h"
#include "platform/SerialDevice.h"

#include <memory>
#include <string>

namespace qz {

// Time-outs of the serial channel. The defaults are the values the meters and modems are
// known to work with; tests shorten them.
struct TComPortTimings {
    // Read interval by mode: a read ends when the line has been quiet this long after the
    // first byte (the caller's own time-out bounds the wait for the first byte).
    uint32_t ReadIntervalMs[4] = {25, 500, 1000, 25};
    // Reply to the telephone modem's set-up command and to its initialisation string.
    uint32_t ModemReplyMs = 2500;
    // Reply of the radio modem to its initialisation string (its command prompt).
    uint32_t RadioInitReplyMs = 5000;
    // Result of dialling / calling.
    uint32_t DialReplyMs = 45000;
    // Each reply read during a hang-up.
    uint32_t HangUpReplyMs = 1000;
};

// The time-outs COM-port channels start with (the defaults of TComPortTimings unless replaced, e.g.
// by a test whose scripted modem answers at once). Replace them only while no channel is created.
void SetDefaultComPortTimings(const TComPortTimings& timings);
TComPortTimings DefaultComPortTimings();

class TPCAComPort : public TPCACustom {
public:
    enum : uint8_t { ModeDirect = 0, ModePhone = 1, ModeRadio = 2, ModeOpto = 3 };

    // Pause after the port is opened, and after the lines are dropped by Disconnect.
    static constexpr uint32_t SettleMs = 250;
    // Steps of the optical attachment handshake.
    static constexpr uint32_t OptoStepMs = 100;
    // Speed of the optical attachment while it is told its line speed.
    static constexpr uint32_t OptoHandshakeBaud = 9600;
    // Write deadline: 20 ms per byte plus 2000 ms.
    static constexpr uint32_t WriteMsPerByte = 20;
    static constexpr uint32_t WriteConstantMs = 2000;

    explicit TPCAComPort(const TPCAParams& params, TSerialDeviceFactory factory = {},
                         TSleeper sleeper = {});
    ~TPCAComPort() override;

    int Connect() override;
    bool IsSameChannel(const TPCAParams& params) const override;
    bool NeedReconnect(const TPCAParams& params) const override;
    int Disconnect() override;
    int GetParams(TPCAParams& params) override;
    int SetParams(const TPCAParams& params) override;
    int Write(const void* buffer, uint32_t count, TOverlapped* block, uint32_t& written) override;
    int Read(void* buffer, uint32_t count, uint32_t timeoutMs, TOverlapped* block,
             uint32_t& readCount) override;
    int CheckDevice() override;
    void CancelIO() override;

    uint32_t ReadIntervalMs() const override;
    uint32_t WriteDeadlineMs(uint32_t count) const override;

    void SetTimings(const TComPortTimings& timings) { timings_ = timings; }
    const TComPortTimings& Timings() const { return timings_; }

    // The code byte that tells the optical attachment its line speed.
    static uint8_t OptoBaudCode(uint32_t baud);
    // Modem command or reply bytes as one line of text: printable ASCII as it is, each run of
    // CR/LF as one space (none at the ends), any other byte as <XX>; never empty for n > 0.
    static std::string PrintableBytes(const uint8_t* data, size_t n);

    // Powers the attached interface from the control lines when PowerLines is set: a fixed
    // sequence of RTS and DTR edges that leaves both raised.
    void PulseLines();
    void SetDTR(bool on);
    void SetRTS(bool on);

    // The device path the port name resolved to ("" before or without one).
    const std::string& DevicePath() const { return devicePath_; }

private:
    bool IsModemMode() const;
    bool Carrier();
    bool WritePortSettings(uint32_t baud);
    void ClosePort();
    // Makes sure the modem sees DTR and RTS before it is spoken to (after a hang-up both
    // are down, and a modem told to hang up on DTR loss ignores commands without DTR).
    void RaiseModemLines();
    // Sends a command and reads the reply into buf (zeroed first); the reply's length, 0
    // when nothing came. Both go to the connection's steps; waitText, when given, is told
    // once the command has gone out and the reply is awaited.
    uint32_t Command(const std::string& cmd, uint32_t timeoutMs, uint8_t* buf, uint32_t size,
                     const char* waitText = nullptr);
    // The name the steps of this mode's modem begin with.
    std::string ModemName() const;
    // The first step of both modem dialogues: no CTS ends it with -1, a call still up (DCD)
    // with 0; kGoOn lets the dialogue go on.
    static constexpr int kGoOn = 1;
    int BeginModemDialogue();
    // The last step: carrier means connected; otherwise the modem is hung up its own way.
    int EndModemCall();
    int ConnectPhone();
    int ConnectRadio();
    int ConnectOpto();
    int HangUpPhone();
    int HangUpRadio();

    TPCAParams params_; // Kind 1 and the 526 bytes the channel keeps
    std::unique_ptr<ISerialDevice> device_;
    std::string devicePath_;
    TComPortTimings timings_ = DefaultComPortTimings();
    bool dtr_ = false;
    bool rts_ = false;
};

// The factory COM-port channels use when none is given (termios devices unless replaced).
// Replace it only while no channel is being created.
void SetDefaultSerialDeviceFactory(TSerialDeviceFactory factory);
TSerialDeviceFactory DefaultSerialDeviceFactory();

} // namespace qz
