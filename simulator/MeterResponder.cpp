#include "simulator/MeterResponder.h"

#include "protocol/KavrenCommand.h"
#include "protocol/QZ2Commands.h"
#include "protocol/QZ2Models.h"

#include <cmath>
#include <cstdint>
#include <cstdio>

namespace qz {

void TRequestFramer::Push(const uint8_t* data, size_t size) {
    FBuf.insert(FBuf.end(), data, data + size);
}

bool TRequestFramer::Mine(const uint8_t* frame) const {
    // A one-byte check passes one window in 256 by chance; the address and device code make
    // a stray match practically impossible.
    if (FAddress >= 0 && GetU16(frame + kavren::kOffAddress) != FAddress) return false;
    if (FDeviceCode >= 0 && GetU16(frame + kavren::kOffDeviceCode) != FDeviceCode) return false;
    return true;
}

bool TRequestFramer::Next(std::vector<uint8_t>& frame) {
    // Any position may start a frame. A position whose announced frame is still incomplete
    // must not hold up a complete, valid frame behind it: a spoiled request can announce a
    // length that never arrives, and the meter would then go deaf.
    const size_t size = FBuf.size();
    size_t firstIncomplete = SIZE_MAX;
    for (size_t start = 0; start + kKavrenFrameOverhead <= size; ++start) {
        const uint8_t* p = FBuf.data() + start;
        const size_t dataLength = GetU16(p + kavren::kOffDataLength);
        if (dataLength > kMaxRequestData) continue;
        const size_t total = dataLength + kKavrenFrameOverhead;
        if (size - start < total) {
            if (firstIncomplete == SIZE_MAX) firstIncomplete = start;
            continue;
        }
        if (!KavrenFrameCheckOk(p, total) || !Mine(p)) continue;
        frame.assign(p, p + total);
        FSkipped += start;
        FBuf.erase(FBuf.begin(), FBuf.begin() + static_cast<long>(start + total));
        return true;
    }
    // Keep what may still become a frame: from the first incomplete candidate, or the last
    // bytes too short to be judged yet.
    size_t keep = size >= kKavrenHeaderSize ? size - kKavrenHeaderSize : 0;
    if (firstIncomplete < keep) keep = firstIncomplete;
    FSkipped += keep;
    FBuf.erase(FBuf.begin(), FBuf.begin() + static_cast<long>(keep));
    return false;
}

TMeterResponder::TMeterResponder(int modelIndex, uint16_t address, TClockFn clock)
    : FModel(modelIndex), FAddress(address), FDeviceCode(QZ2Model(modelIndex).DeviceCode),
      FClock(clock ? std::move(clock) : TClockFn(&NowDateTime)) {
    TryEncodeDateTime({2025, 6, 2, 9, 30, 0, 0}, FChangeTime);
}

void TMeterResponder::SetSettingsChange(bool flag, TDateTime time) {
    std::lock_guard<std::mutex> lock(FMutex);
    FChangeFlag = flag;
    FChangeTime = time;
}

void TMeterResponder::SetReplay(std::shared_ptr<IMeterReplay> replay) {
    std::lock_guard<std::mutex> lock(FMutex);
    FReplay = std::move(replay);
}

bool TMeterResponder::Replayed(const TKavrenHeader& rq, TDateTime now, std::vector<uint8_t>& data,
                               TDateTime& stamp, uint16_t& status) const {
    std::shared_ptr<IMeterReplay> replay;
    {
        std::lock_guard<std::mutex> lock(FMutex);
        replay = FReplay;
    }
    if (!replay) return false;
    bool ok = false;
    if (rq.Cmd == 14 && rq.Cmd1 == 1)
        ok = replay->Settings(now, data);
    else if (rq.Cmd == 14 && rq.Cmd1 == 2)
        ok = replay->ScaleKoeffs(now, data);
    else if (rq.Cmd == 15 && rq.Cmd1 == 1)
        ok = replay->TimeParams(now, data);
    else if (rq.Cmd == 27 && rq.Cmd1 == 1 && rq.Param1 == 2 && rq.Param2 == 3)
        ok = replay->Record3sec(now, data, stamp);
    else if (rq.Cmd == 32)
        ok = replay->Waveform(now, rq.Cmd1, rq.Param2, data, stamp);
    else
        return false; // refused as by the model
    if (!ok) status = replay->MissingStatus(rq.Cmd);
    return true;
}

namespace {
enum : uint16_t { stBadCmd = 2, stBadCmd1 = 3, stBadInterval = 4 };

// The end of the last complete 3-second interval at `now`.
TDateTime IntervalEnd(TDateTime now) {
    const double ms = std::floor(now * kMSecsPerDay + 0.5);
    const double period = 3000.0;
    return std::floor(ms / period) * period / kMSecsPerDay;
}
} // namespace

std::optional<std::vector<uint8_t>> TMeterResponder::Answer(const std::vector<uint8_t>& request,
                                                            int forceStatus,
                                                            int forceSignalStatus) const {
    TKavrenHeader rq;
    if (!ReadKavrenHeader(request.data(), request.size(), rq)) return std::nullopt;
    if (rq.Address != FAddress || rq.DeviceCode != FDeviceCode) return std::nullopt;

    const TDateTime now = FClock();
    TKavrenHeader h;
    h.Cmd = rq.Cmd;
    h.Cmd1 = rq.Cmd1;
    h.Address = FAddress;
    h.DeviceCode = FDeviceCode;
    h.Param1 = rq.Param1;
    h.Param2 = rq.Param2;
    h.Param3 = rq.Param3;
    TDateTime stamp = now;
    std::vector<uint8_t> data;
    uint16_t status = 0;

    // A replayed answer has its data already; the model answers everything else.
    const bool replayed = Replayed(rq, now, data, stamp, status);
    switch (replayed ? -1 : int(rq.Cmd)) {
    case -1:
        break;
    case 14:
        if (rq.Cmd1 == 1)
            data = FModel.SettingsData();
        else if (rq.Cmd1 == 2)
            data = FModel.ScaleData();
        else
            status = stBadCmd1;
        break;
    case 15:
        if (rq.Cmd1 == 1) {
            std::lock_guard<std::mutex> lock(FMutex);
            data = FModel.TimeData(now, FChangeFlag, FChangeTime);
        } else {
            status = stBadCmd1;
        }
        break;
    case 27:
        if (rq.Cmd1 != 1) {
            status = stBadCmd1;
        } else if (rq.Param1 != 2 || rq.Param2 != 3) {
            status = stBadInterval; // only the 3-second interval is kept
        } else {
            stamp = IntervalEnd(now);
            data = FModel.RecordData(stamp);
        }
        break;
    case 32:
        if (forceSignalStatus) {
            status = static_cast<uint16_t>(forceSignalStatus);
        } else {
            data = FModel.WaveformData(rq.Cmd1, rq.Param2, SecondsOf(now));
            if (data.empty()) status = stBadInterval;
        }
        break;
    default:
        status = stBadCmd;
        break;
    }
    if (forceStatus) status = static_cast<uint16_t>(forceStatus);
    if (status) data.clear();
    h.Status = status;
    EncodeHeaderTime(stamp, h.DateTime.data());
    return BuildKavrenFrame(h, data.data(), data.size());
}

uint8_t TSessionFaults::NextRandom() {
    FSeed = FSeed * 1103515245u + 12345u;
    return static_cast<uint8_t>(FSeed >> 16);
}

TAnswerPlan TSessionFaults::Apply(std::vector<uint8_t> answer) {
    TAnswerPlan plan;
    if (F.SilentAfter >= 0 && FAnswered >= F.SilentAfter) {
        plan.Note = "silent";
        return plan;
    }
    if (F.CloseAfter >= 0 && FAnswered >= F.CloseAfter) {
        plan.Close = true;
        plan.Note = "close";
        return plan;
    }
    ++FAnswered;
    if (F.WrongAddress && answer.size() >= kKavrenFrameOverhead) {
        const uint16_t a = GetU16(answer.data() + kavren::kOffAddress);
        PutU16(answer.data() + kavren::kOffAddress, static_cast<uint16_t>(a + 1));
        answer.back() = KavrenCheckByte(answer.data(), answer.size() - 1);
        plan.Note += " wrong-address";
    }
    if (F.BadCheckEvery > 0 && FAnswered % F.BadCheckEvery == 0 && !answer.empty()) {
        answer.back() ^= 0x5A;
        plan.Note += " bad-check";
    }
    if (FAnswered <= F.TruncateFirst && answer.size() > kKavrenFrameOverhead) {
        const size_t data = answer.size() - kKavrenFrameOverhead;
        answer.resize(kKavrenHeaderSize + data / 2);
        plan.Note += " truncated";
    } else if (FAnswered <= F.TruncateFirst) {
        answer.resize(answer.size() / 2);
        plan.Note += " truncated";
    }
    if (F.GarbageBytes > 0) {
        std::vector<uint8_t> g(static_cast<size_t>(F.GarbageBytes));
        for (auto& b : g)
            b = NextRandom();
        answer.insert(answer.begin(), g.begin(), g.end());
        plan.Note += " garbage";
    }
    plan.Bytes = std::move(answer);
    if (F.CloseAfter >= 0 && FAnswered >= F.CloseAfter) {
        plan.Close = true;
        plan.Note += " close";
    }
    return plan;
}

std::string HexBytes(const uint8_t* data, size_t size) {
    std::string s;
    s.reserve(size * 3);
    char buf[4];
    for (size_t i = 0; i < size; ++i) {
        std::snprintf(buf, sizeof buf, i ? " %02X" : "%02X", data[i]);
        s += buf;
    }
    return s;
}

} // namespace qz
