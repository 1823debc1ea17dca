// The meter's side of the conversation: cutting requests out of the byte stream, answering
// them as the simulated meter does, and the fault switches that make it misbehave on purpose.
#pragma once

#include "common/DateTime.h"
#include "simulator/MeterModel.h"
#include "simulator/ReplaySource.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace qz {

struct TKavrenHeader;

// Deliberate misbehaviour, counted per connection.
struct TFaultOptions {
    int GarbageBytes = 0;      // this many stray bytes before every answer
    int BadCheckEvery = 0;     // every K-th answer has a wrong check byte (0: never)
    int ForceStatus = 0;       // every answer carries this status and no data (0: off)
    int ForceSignalStatus = 0; // the same for waveform requests only
    int SilentAfter = -1;      // after K answers, nothing more is answered (-1: off)
    int CloseAfter = -1;       // the connection is closed after K answers (-1: off)
    int TruncateFirst = 0;     // the first K answers stop halfway through their data
    bool WrongAddress = false; // answers carry the address + 1
    int Baud = 0;              // bytes are paced as on a line of this speed, 10 bits each (0: off)
};

// Collects bytes from the line and hands out complete request frames with a valid check byte
// (and, when given, this meter's address and device code). Bytes that cannot start such a
// frame are skipped one at a time, as a meter re-synchronises; frames for other meters on the
// same line are skipped whole.
class TRequestFramer {
public:
    // -1: any address or device code.
    explicit TRequestFramer(int address = -1, int deviceCode = -1)
        : FAddress(address), FDeviceCode(deviceCode) {}

    // Requests of the monitor carry no data; anything announcing more is not a request.
    static constexpr size_t kMaxRequestData = 1024;

    void Push(const uint8_t* data, size_t size);
    bool Next(std::vector<uint8_t>& frame);
    size_t SkippedBytes() const { return FSkipped; }
    size_t Pending() const { return FBuf.size(); }

private:
    bool Mine(const uint8_t* frame) const;
    int FAddress;
    int FDeviceCode;
    std::vector<uint8_t> FBuf;
    size_t FSkipped = 0;
};

using TClockFn = std::function<TDateTime()>;

class TMeterResponder {
public:
    TMeterResponder(int modelIndex, uint16_t address, TClockFn clock);

    // The answer frame to a request frame (check byte already verified); std::nullopt when
    // the request is meant for another meter (address or device code differ) and the meter
    // keeps silent. `forceStatus` replaces the answer by an empty one with that status.
    std::optional<std::vector<uint8_t>> Answer(const std::vector<uint8_t>& request,
                                               int forceStatus = 0,
                                               int forceSignalStatus = 0) const;

    void SetSettingsChange(bool flag, TDateTime time);
    // Answers from a recording from now on (nullptr: from the model again).
    void SetReplay(std::shared_ptr<IMeterReplay> replay);
    TDateTime Now() const { return FClock(); }
    const TMeterModel& Model() const { return FModel; }
    uint16_t Address() const { return FAddress; }
    uint16_t DeviceCode() const { return FDeviceCode; }

private:
    TMeterModel FModel;
    uint16_t FAddress;
    uint16_t FDeviceCode;
    TClockFn FClock;
    mutable std::mutex FMutex;
    bool FChangeFlag = true;
    TDateTime FChangeTime = 0;
    std::shared_ptr<IMeterReplay> FReplay;
    // The data of a replayed answer; false when the request is none the recording serves.
    bool Replayed(const TKavrenHeader& rq, TDateTime now, std::vector<uint8_t>& data,
                  TDateTime& stamp, uint16_t& status) const;
};

// What to do with one answer once the faults have been applied.
struct TAnswerPlan {
    std::vector<uint8_t> Bytes; // to send (may be empty)
    bool Close = false;         // close the connection after sending
    std::string Note;           // faults applied, for the log
};

class TSessionFaults {
public:
    TSessionFaults(const TFaultOptions& f, uint32_t seed) : F(f), FSeed(seed ? seed : 1) {}
    TAnswerPlan Apply(std::vector<uint8_t> answer);
    int Answered() const { return FAnswered; }

private:
    uint8_t NextRandom();
    TFaultOptions F;
    uint32_t FSeed;
    int FAnswered = 0;
};

// Frame as hex bytes "00 0F 01 ...", for logs.
std::string HexBytes(const uint8_t* data, size_t size);

} // namespace qz
