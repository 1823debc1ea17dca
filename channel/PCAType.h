// Unit PCAType: what every physical channel shares.
//
// - TPCAParams, the physical channel description;
// - PCAErrorText, the texts of the physical-channel error codes;
// - TPCACustom, the abstract physical channel, and CreatePCA, the factory.
//
// TPCAParams is a packed 527-byte record.
// The record is held as its bytes; the typed accessors read and write the named fields.
// The logical channel layer copies, compares and stores descriptions as bytes, so the byte
// form is the truth and every accessor works on it directly.
//
// Layout (little-endian, strings = one length byte + up to the stated number of characters
// in code page 1251; bytes after the text are not interpreted):
//   0    Kind        1 = serial port, 2 = TCP, anything else = no channel kind
//  Serial port (Kind 1):
//   1    PortName    7 bytes, at most 6 characters ("COM3")
//   8    Baudrate    uint32
//   12   Mode        0 direct line, 1 telephone modem, 2 radio modem, 3 optical attachment
//   13   PowerLines  modes 0 and 3: 1 = interface powered from DTR and RTS
//   13   InitString  modes 1 and 2 (same bytes): 256 bytes, at most 255 characters
//   269  DialNumber  mode 1: 1 = dial PhoneNumber, 0 = go off-hook without a number
//   270  PhoneNumber mode 1: 256 bytes, at most 255 characters
//   526  ToneDial    mode 1: 1 = tone, 0 = pulse
//   269  CallNumber  mode 2 (same bytes as DialNumber/PhoneNumber): 256 bytes
//  TCP (Kind 2):
//   1    IpAddress   16 bytes, at most 15 characters, dotted decimal
//   17   IpPort      uint16
//   19   reserved    0
//   20   reserved    255 bytes, zero
#pragma once

#include "platform/Overlapped.h"
#include "platform/Sleep.h"

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <thread>

namespace qz {

class TPCAParams {
public:
    static constexpr size_t Size = 527;
    using TBytes = std::array<uint8_t, Size>;

    // Kind values.
    static constexpr uint8_t KindComPort = 1;
    static constexpr uint8_t KindTCP = 2;

    // Offsets and sizes of the fields (size of a string field = length byte + characters).
    static constexpr size_t OffKind = 0;
    static constexpr size_t OffPortName = 1, MaxPortName = 6;
    static constexpr size_t OffBaudrate = 8;
    static constexpr size_t OffMode = 12;
    static constexpr size_t OffPowerLines = 13;
    static constexpr size_t OffInitString = 13, MaxInitString = 255;
    static constexpr size_t OffDialNumber = 269;
    static constexpr size_t OffPhoneNumber = 270, MaxPhoneNumber = 255;
    static constexpr size_t OffToneDial = 526;
    static constexpr size_t OffCallNumber = 269, MaxCallNumber = 255;
    static constexpr size_t OffIpAddress = 1, MaxIpAddress = 15;
    static constexpr size_t OffIpPort = 17;
    // The TCP channel keeps bytes 1..274 of the record.
    static constexpr size_t TcpKeptSize = 274;

    TPCAParams() { Clear(); }

    // All bytes zero (Kind 0: no channel kind).
    void Clear() { Bytes.fill(0); }

    // The exact record.
    TBytes Serialize() const { return Bytes; }
    // Takes the first 527 bytes of data. Fewer bytes: false, the record is left unchanged.
    bool Parse(const uint8_t* data, size_t size);

    uint8_t Kind() const { return Bytes[OffKind]; }
    void SetKind(uint8_t v) { Bytes[OffKind] = v; }

    // Serial port fields. Strings are UTF-8 here and code page 1251 in the record, cut to the
    // field's maximum (a character the code page lacks becomes '?').
    std::string PortName() const { return GetString(OffPortName, MaxPortName); }
    void SetPortName(const std::string& utf8) { SetString(OffPortName, MaxPortName, utf8); }
    uint32_t Baudrate() const { return GetU32(OffBaudrate); }
    void SetBaudrate(uint32_t v) { SetU32(OffBaudrate, v); }
    uint8_t Mode() const { return Bytes[OffMode]; }
    void SetMode(uint8_t v) { Bytes[OffMode] = v; }
    uint8_t PowerLines() const { return Bytes[OffPowerLines]; }
    void SetPowerLines(uint8_t v) { Bytes[OffPowerLines] = v; }
    std::string InitString() const { return GetString(OffInitString, MaxInitString); }
    void SetInitString(const std::string& utf8) { SetString(OffInitString, MaxInitString, utf8); }
    uint8_t DialNumber() const { return Bytes[OffDialNumber]; }
    void SetDialNumber(uint8_t v) { Bytes[OffDialNumber] = v; }
    std::string PhoneNumber() const { return GetString(OffPhoneNumber, MaxPhoneNumber); }
    void SetPhoneNumber(const std::string& utf8) {
        SetString(OffPhoneNumber, MaxPhoneNumber, utf8);
    }
    uint8_t ToneDial() const { return Bytes[OffToneDial]; }
    void SetToneDial(uint8_t v) { Bytes[OffToneDial] = v; }
    std::string CallNumber() const { return GetString(OffCallNumber, MaxCallNumber); }
    void SetCallNumber(const std::string& utf8) { SetString(OffCallNumber, MaxCallNumber, utf8); }

    // TCP fields.
    std::string IpAddress() const { return GetString(OffIpAddress, MaxIpAddress); }
    void SetIpAddress(const std::string& utf8) { SetString(OffIpAddress, MaxIpAddress, utf8); }
    uint16_t IpPort() const { return uint16_t(Bytes[OffIpPort] | (Bytes[OffIpPort + 1] << 8)); }
    void SetIpPort(uint16_t v) {
        Bytes[OffIpPort] = uint8_t(v);
        Bytes[OffIpPort + 1] = uint8_t(v >> 8);
    }

    // A string field as it stands in the record: the length byte followed by that many code
    // page 1251 bytes. A length byte above the field's maximum (outside bytes) counts as the
    // maximum, so nothing outside the field is ever read. Descriptions compare their strings
    // this way ("as bytes including the length byte").
    std::string RawString(size_t offset, size_t maxChars) const;
    // The characters of a string field in code page 1251 (no length byte).
    std::string StringBytes(size_t offset, size_t maxChars) const;

    bool operator==(const TPCAParams& o) const { return Bytes == o.Bytes; }
    bool operator!=(const TPCAParams& o) const { return !(*this == o); }

    // The record itself.
    TBytes Bytes;

private:
    std::string GetString(size_t offset, size_t maxChars) const;
    // Writes the length byte and the characters and zeroes the rest of the field.
    void SetString(size_t offset, size_t maxChars, const std::string& utf8);
    uint32_t GetU32(size_t offset) const;
    void SetU32(size_t offset, uint32_t v);
};

// The text of a physical-channel error code (0 = empty string; unknown codes get
// "Неизвестный код ошибки.").
std::string PCAErrorText(int code);

// Physical-channel error codes.
enum : int {
    pcaOk = 0,
    pcaNotImplemented = 1,
    pcaNotInitialized = 2,
    pcaBadHandle = 3,
    pcaBadKind = 4,
    pcaTimeout = 5,
    pcaPortBusy = 10,
    pcaPortNotFound = 11,
    pcaWriteError = 12,
    pcaReadError = 13,
    pcaNoModem = 14,
    pcaBadPortName = 15,
    pcaNoModemConnection = 16,
    pcaModemInitFailed = 17,
    pcaSocketError = 18,
    pcaServerNotFound = 19,
    pcaBadIpPort = 20,
    pcaBadAddress = 21,
    pcaConnectionLost = 22,
    pcaPortSettingsFailed = 23,
    pcaNoDevice = 24,
    pcaNoOptoAttachment = 25,
};

// The abstract physical channel: one open byte channel to a meter.
//
// A channel is created, driven and destroyed by one thread (the logical channel worker).
// Every operation returning int gives 0 on success and -1 on failure with LastError() set;
// LastError() is 0 after every successful operation and 1 on a new channel until its kind's
// constructor has succeeded.
//
// Transfers: Read and Write either start the transfer on the caller's TOverlapped and return
// 0 at once (the caller waits on its WaitFd(), drives it with Advance() and collects the
// count with GetResult()), or, without a block, run it synchronously on a block of the
// channel's own. CancelIO aborts the channel's own transfers (and, for a serial port, purges
// the port); a caller cancels its own blocks itself.
class TPCACustom {
public:
    // The time-out value that means "no limit".
    static constexpr uint32_t Infinite = 0xFFFFFFFFu;
    // The fixed wait of a synchronous write.
    static constexpr int SyncWriteWaitMs = 2000;

    explicit TPCACustom(TSleeper sleeper = {});
    virtual ~TPCACustom();
    TPCACustom(const TPCACustom&) = delete;
    TPCACustom& operator=(const TPCACustom&) = delete;

    // The operations, in the order the channel kinds define them.
    // Establishes the connection over the open port or socket.
    virtual int Connect();
    // (The kind's constructor opens the port or creates the socket.)
    // Does the description name this same physical channel?
    virtual bool IsSameChannel(const TPCAParams& params) const;
    // Does switching to this description need a new Connect?
    virtual bool NeedReconnect(const TPCAParams& params) const;
    // Ends the connection (hang up, close the socket).
    virtual int Disconnect();
    // Fills a description from the channel.
    virtual int GetParams(TPCAParams& params);
    // Takes over a description of the same channel.
    virtual int SetParams(const TPCAParams& params);
    virtual int Write(const void* buffer, uint32_t count, TOverlapped* block, uint32_t& written);
    virtual int Read(void* buffer, uint32_t count, uint32_t timeoutMs, TOverlapped* block,
                     uint32_t& readCount);
    // Is a device attached? Returns an error code (0 = yes), not -1.
    virtual int CheckDevice();
    // Aborts the I/O in progress.
    virtual void CancelIO() = 0;

    // A connection made without blocking the caller, for a wait loop: BeginConnect starts
    // one attempt, ContinueConnect goes on when what the attempt waits for has come, and
    // AbortConnect gives up an attempt under way. Results: ConnectDone (0, connected),
    // ConnectFailed (-1, LastError set, as a failed Connect) or ConnectPending (1: wait for
    // TConnectWait, then call ContinueConnect, with timedOut when its time ran out first).
    // The same steps, pauses and codes as Connect. By default Connect runs on a helper
    // thread, whose sleeps and synchronous transfers AbortConnect interrupts; no other call
    // may be made on the channel while an attempt is under way, except AbortConnect.
    enum : int { ConnectDone = 0, ConnectFailed = -1, ConnectPending = 1 };
    struct TConnectWait {
        int Fd = -1;         // descriptor to wait for (-1: only the time)
        uint32_t Events = 0; // epoll events on Fd
        // Time limit in ms: -1 none; KeepTimeout: what is left of the previous one.
        int TimeoutMs = -1;
    };
    static constexpr int KeepTimeout = -2;
    virtual int BeginConnect(TConnectWait& wait);
    virtual int ContinueConnect(bool timedOut, TConnectWait& wait);
    // After it the channel is as after a failed Connect (a modem that was dialling has been
    // hung up). Returns once the attempt has ended; no effect without one.
    virtual void AbortConnect();

    // Event 0 or -1: Connect, LastError stored through errorRef when given, Connect's result.
    // Any other event asks for an asynchronous connection, which is not provided: the event
    // and errorRef are kept, 1 is stored through errorRef, result -1. LastError is untouched.
    int ConnectEx(int event, int32_t* errorRef);

    // Receives the steps of a connection and of a hang-up as they happen, one text each:
    // the modem's commands and replies, the optical attachment's handshake. It is called on
    // the thread that runs Connect or Disconnect (a connect runs on a helper thread), so it
    // must take texts from any thread. Set it before the first connect; none by default.
    using TProgressProc = std::function<void(const std::string& text)>;
    void SetProgressProc(TProgressProc proc) { progress_ = std::move(proc); }

    // The open descriptor (port or socket), -1 while none is open.
    int Handle() const { return handle_; }
    int LastError() const { return lastError_; }

    // The read interval of this channel's transfers (0: a read ends as soon as bytes came).
    virtual uint32_t ReadIntervalMs() const { return 0; }
    // The deadline of a write of count bytes (0: none).
    virtual uint32_t WriteDeadlineMs(uint32_t count) const {
        (void)count;
        return 0;
    }

protected:
    // The transfer shared by every kind (no purge, no carrier check).
    int BaseRead(void* buffer, uint32_t count, uint32_t timeoutMs, TOverlapped* block,
                 uint32_t& readCount);
    int BaseWrite(const void* buffer, uint32_t count, TOverlapped* block, uint32_t& written);
    // Cancels the pending synchronous transfers on the channel's own blocks.
    void CancelOwnTransfers();
    // Pauses. A real pause ends early when an attempt is aborted; a replaced sleeper (tests
    // that record or skip the pauses) is called as it is.
    void Sleep(uint32_t ms) const;
    // Are the pauses real (the default sleeper), so a wait loop must wait them out itself?
    bool RealPauses() const;
    // Is an attempt under way being aborted? Descendants end their steps early then.
    bool Aborting() const { return abort_.load(); }
    // Tells the receiver of the connection's steps, if any, one step.
    void Progress(const std::string& text) const {
        if (progress_) progress_(text);
    }
    // The descendant's destructor calls this first: a helper thread still running Connect
    // must not outlive the descendant's own members.
    void EndConnectHelper();

    int handle_ = -1;
    int lastError_ = pcaNotImplemented;
    int connectEvent_ = -1;
    int32_t* connectErrorRef_ = nullptr;
    TSleeper sleeper_;

private:
    TOverlapped* OwnBlock(std::unique_ptr<TOverlapped>& block);
    TProgressProc progress_;
    std::unique_ptr<TOverlapped> readBlock_;
    std::unique_ptr<TOverlapped> writeBlock_;

    // The helper-thread connection.
    std::thread connectThread_;
    int connectDoneFd_ = -1; // readable once the helper's Connect has returned
    int abortFd_ = -1;       // readable while an attempt is being aborted
    std::atomic<bool> abort_{false};
    int connectResult_ = -1; // written by the helper, read after joining it
};

// Creates the channel a description names: Kind 1 a TPCAComPort, Kind 2 a TPCAEthernetTCP,
// any other kind nothing. A channel whose constructor failed is still returned (Handle() -1,
// LastError() set).
std::unique_ptr<TPCACustom> CreatePCA(const TPCAParams& params);

// The sleeper channels get when none is given (RealSleep unless replaced). Replace it only
// while no channel is being created.
void SetDefaultPCASleeper(TSleeper sleeper);
TSleeper DefaultPCASleeper();

} // namespace qz
