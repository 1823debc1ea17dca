#include "journal/jnReplay.h"

#include "protocol/QZ2Commands.h"

#include <cmath>

namespace qz {
namespace {

constexpr double kSecond = 1.0 / 86400;

// The end of the 3-second interval that has last ended at `now`, as the meter counts them.
TDateTime IntervalEnd(TDateTime now) {
    const double ms = std::floor(now * kMSecsPerDay + 0.5);
    return std::floor(ms / 3000.0) * 3000.0 / kMSecsPerDay;
}

void CopyBlob(const TjnStmt& s, int column, std::vector<uint8_t>& data) {
    size_t size = 0;
    const uint8_t* p = s.Blob(column, size);
    data.assign(p, p + size);
}

} // namespace

bool TjnReplay::Open(const std::string& fileName, std::string& error) {
    if (FReader.Open(fileName, error) != TjnOpenResult::Ok) return false;
    if (!FReader.RecordSpan(FFirst, FLast, error)) {
        if (error.empty()) error = "В журнале нет ни одной записи: " + fileName;
        return false;
    }
    const TjnDb& db = FReader.Db();
    const int rc =
        FAnswerBefore.Prepare(db, "SELECT data FROM answer WHERE kind = ? AND meter_time <= ? "
                                  "ORDER BY meter_time DESC, id DESC LIMIT 1") |
        FAnswerFirst.Prepare(db, "SELECT data FROM answer WHERE kind = ? ORDER BY id LIMIT 1") |
        FRecord.Prepare(db, "SELECT meter_time, data FROM record WHERE meter_time <= ? "
                            "ORDER BY meter_time DESC, seq DESC LIMIT 1") |
        FBlockBefore.Prepare(db, "SELECT meter_time, data FROM waveform WHERE meter_time <= ? "
                                 "AND channel_mask = ? AND size_code = ? "
                                 "ORDER BY meter_time DESC LIMIT 1") |
        FBlockAfter.Prepare(db, "SELECT meter_time, data FROM waveform WHERE meter_time > ? "
                                "AND channel_mask = ? AND size_code = ? "
                                "ORDER BY meter_time LIMIT 1");
    if (rc != SQLITE_OK) return FReader.StepError(rc, error);
    return true;
}

bool TjnReplay::AnswerInForce(TjnAnswerKind kind, TDateTime now, std::vector<uint8_t>& data) {
    // The last one before now; before the first, the first one.
    FAnswerBefore.Bind(1, int64_t(kind));
    FAnswerBefore.Bind(2, now);
    bool found = FAnswerBefore.Step() == SQLITE_ROW;
    if (found) CopyBlob(FAnswerBefore, 0, data);
    FAnswerBefore.Reset();
    if (found) return true;
    FAnswerFirst.Bind(1, int64_t(kind));
    found = FAnswerFirst.Step() == SQLITE_ROW;
    if (found) CopyBlob(FAnswerFirst, 0, data);
    FAnswerFirst.Reset();
    return found;
}

bool TjnReplay::TimeParams(TDateTime now, std::vector<uint8_t>& data) {
    std::lock_guard<std::mutex> lock(FMutex);
    if (!AnswerInForce(TjnAnswerKind::TimeParams, now, data)) return false;
    // The recorded change flag and change time, with the replay's own clock.
    if (data.size() >= 6) EncodeQZ2Time(now, data.data());
    return true;
}

bool TjnReplay::Settings(TDateTime now, std::vector<uint8_t>& data) {
    std::lock_guard<std::mutex> lock(FMutex);
    return AnswerInForce(TjnAnswerKind::Settings, now, data);
}

bool TjnReplay::ScaleKoeffs(TDateTime now, std::vector<uint8_t>& data) {
    std::lock_guard<std::mutex> lock(FMutex);
    return AnswerInForce(TjnAnswerKind::ScaleKoeffs, now, data);
}

bool TjnReplay::Record3sec(TDateTime now, std::vector<uint8_t>& data, TDateTime& stamp) {
    std::lock_guard<std::mutex> lock(FMutex);
    // The record of the interval that ended last: its own time is 3 s before that end. Half
    // a second of slack takes records whose times were not exactly on the boundary.
    const TDateTime wanted = IntervalEnd(now) - 3 * kSecond;
    if (wanted > FLast + 2.5 * kSecond) return false; // the recording is over
    FRecord.Bind(1, wanted + 0.5 * kSecond);
    const bool found = FRecord.Step() == SQLITE_ROW;
    if (found) {
        stamp = FRecord.Real(0) + 3 * kSecond;
        CopyBlob(FRecord, 1, data);
    }
    FRecord.Reset();
    return found;
}

bool TjnReplay::Waveform(TDateTime now, uint8_t mask, uint8_t sizeCode, std::vector<uint8_t>& data,
                         TDateTime& stamp) {
    std::lock_guard<std::mutex> lock(FMutex);
    auto look = [&](TjnStmt& s, TDateTime& time, std::vector<uint8_t>& bytes) {
        s.Bind(1, now);
        s.Bind(2, int64_t(mask));
        s.Bind(3, int64_t(sizeCode));
        const bool found = s.Step() == SQLITE_ROW;
        if (found) {
            time = s.Real(0);
            CopyBlob(s, 1, bytes);
        }
        s.Reset();
        return found;
    };
    TDateTime before = 0, after = 0;
    std::vector<uint8_t> a, b;
    const bool hasBefore = look(FBlockBefore, before, a);
    const bool hasAfter = look(FBlockAfter, after, b);
    if (!hasBefore && !hasAfter) return false;
    const bool takeAfter = hasAfter && (!hasBefore || after - now < now - before);
    stamp = takeAfter ? after : before;
    data.swap(takeAfter ? b : a);
    return true;
}

} // namespace qz
