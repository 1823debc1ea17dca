#include "journal/jnSeries.h"

#include "protocol/QZ2Models.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <sys/stat.h>

namespace qz {

std::string JournalFileName(int modelIndex, int32_t factoryNumber, TDateTime start, int attempt) {
    const std::string code =
        modelIndex >= 0 && modelIndex < kQZ2ModelCount ? QZ2Model(modelIndex).CmdLineName : "qz";
    const TDateTimeParts p = DecodeDateTime(start);
    char buf[96];
    std::snprintf(buf, sizeof buf, "%s_%d_%04d-%02d-%02d_%02d-%02d-%02d", code.c_str(),
                  factoryNumber, p.Year, p.Month, p.Day, p.Hour, p.Minute, p.Second);
    std::string name = buf;
    if (attempt > 1) name += "_" + std::to_string(attempt);
    return name + ".db";
}

bool ParseRotation(const std::string& text, TjnRotation& out) {
    if (text == "day")
        out = TjnRotation::Day;
    else if (text == "week")
        out = TjnRotation::Week;
    else
        return false;
    return true;
}

TDateTime RotationStart(TDateTime meterTime, TjnRotation rotation) {
    // Whole days from 30.12.1899, a Saturday; 1.1.1900, day 2, was a Monday.
    const double day = std::floor(meterTime);
    if (rotation == TjnRotation::Day) return day;
    const double sinceMonday = std::fmod(std::fmod(day - 2, 7) + 7, 7);
    return day - sinceMonday;
}

TDateTime RotationEnd(TDateTime meterTime, TjnRotation rotation) {
    return RotationStart(meterTime, rotation) + (rotation == TjnRotation::Day ? 1 : 7);
}

// ---------------------------------------------------------------------------------------------
// TjnRotatingRecorder

TjnRotatingRecorder::TjnRotatingRecorder(TmonSharedStorage& storage, IExchangeListener* next)
    : TjnCurrentWriter(), TjnRecorder(*Current, storage, next) {}

TjnRotatingRecorder::~TjnRotatingRecorder() {
    std::string ignored;
    Close(ignored);
}

bool TjnRotatingRecorder::CreateJournal(TDateTime start, TjnWriter& writer, std::string& fileName,
                                        std::string& error) {
    // A journal that exists is never touched: the next free name is taken.
    for (int attempt = 1; attempt <= 50; ++attempt) {
        fileName =
            FFolder + JournalFileName(FMeter.ModelIndex, FMeter.FactoryNumber, start, attempt);
        error.clear();
        if (writer.Create(fileName, FMeter, error)) {
            FFiles.push_back(fileName);
            return true;
        }
        struct stat st {};
        if (stat(fileName.c_str(), &st) != 0) break;
    }
    return false;
}

bool TjnRotatingRecorder::Start(const std::string& folder, const TjnMeter& meter,
                                TjnRotation rotation, std::string& error) {
    std::lock_guard<std::mutex> lock(Mutex());
    FFolder = folder.empty() ? "./" : folder;
    if (FFolder.back() != '/') FFolder += '/';
    std::error_code ec;
    std::filesystem::create_directories(FFolder, ec);
    if (ec) {
        error = "Не удалось создать папку " + FFolder + ": " + ec.message();
        return false;
    }
    FMeter = meter;
    FRotation = rotation;
    FPeriodEnd = 0;
    std::string fileName;
    if (!CreateJournal(meter.Started, *Current, fileName, error)) return false;
    return true;
}

bool TjnRotatingRecorder::BeforeItem(TDateTime meterTime, std::string& error) {
    if (FPeriodEnd == 0) {
        FPeriodEnd = RotationEnd(meterTime, FRotation);
        return true;
    }
    if (meterTime < FPeriodEnd) return true;
    // The meter's day (week) is over: the item opens the next journal.
    auto next = std::make_unique<TjnWriter>();
    next->SetCommitInterval(Current->CommitInterval());
    FMeter.Started = Now();
    std::string fileName, reason;
    if (!CreateJournal(RotationStart(meterTime, FRotation), *next, fileName, reason)) {
        error = "Не удалось начать следующий журнал: " + reason;
        return false;
    }
    if (!SwitchTo(*next, error)) return false;
    std::string closeError;
    const bool closed = Current->Close(Now(), closeError);
    Current = std::move(next);
    FPeriodEnd = RotationEnd(meterTime, FRotation);
    if (!closed) {
        error = "Не удалось закрыть журнал " + FFiles[FFiles.size() - 2] + ": " + closeError;
        return false;
    }
    return true;
}

bool TjnRotatingRecorder::Close(std::string& error) {
    std::lock_guard<std::mutex> lock(Mutex());
    return Current->Close(error);
}

std::string TjnRotatingRecorder::FileName() const {
    std::lock_guard<std::mutex> lock(Mutex());
    return FFiles.empty() ? std::string() : FFiles.back();
}

std::vector<std::string> TjnRotatingRecorder::Files() const {
    std::lock_guard<std::mutex> lock(Mutex());
    return FFiles;
}

// ---------------------------------------------------------------------------------------------
// TjnSeries

namespace {

std::string MeterText(const std::string& file, const TjnMeter& m) {
    return file + " (" + m.Model + ", заводской номер " + std::to_string(m.FactoryNumber) + ")";
}

} // namespace

bool TjnSeries::Open(const std::vector<std::string>& files, std::string& error) {
    FJournals.clear();
    if (files.empty()) {
        error = "Не задан файл журнала";
        return false;
    }
    std::vector<std::pair<dev_t, ino_t>> seen;
    for (const std::string& file : files) {
        auto j = std::make_unique<TJournal>();
        j->FileName = file;
        if (j->Reader.Open(file, error) != TjnOpenResult::Ok) return false;
        struct stat st {};
        if (stat(file.c_str(), &st) == 0) {
            const auto id = std::make_pair(st.st_dev, st.st_ino);
            if (std::find(seen.begin(), seen.end(), id) != seen.end()) {
                error = "Журнал указан дважды: " + file;
                return false;
            }
            seen.push_back(id);
        }
        const TjnMeter& m = j->Reader.Meter();
        if (!FJournals.empty()) {
            const TjnMeter& first = FJournals.front()->Reader.Meter();
            if (m.ModelIndex != first.ModelIndex || m.FactoryNumber != first.FactoryNumber) {
                error =
                    "Журналы разных измерителей: " + MeterText(FJournals.front()->FileName, first) +
                    " и " + MeterText(file, m) +
                    ". Вместе читаются только журналы одного измерителя.";
                return false;
            }
        }
        TDateTime first = 0, last = 0;
        if (j->Reader.RecordSpan(first, last, error))
            j->OrderTime = first;
        else if (!error.empty())
            return false;
        else
            j->OrderTime = m.Started;
        j->Decoder = std::make_unique<TjnDecoder>(j->Reader);
        FJournals.push_back(std::move(j));
    }
    std::stable_sort(FJournals.begin(), FJournals.end(),
                     [](const auto& a, const auto& b) { return a->OrderTime < b->OrderTime; });
    error.clear();
    return true;
}

template <class Walk> bool TjnSeries::Each(Walk walk) {
    bool stop = false;
    for (size_t i = 0; i < FJournals.size() && !stop; ++i)
        if (!walk(i, stop)) return false;
    return true;
}

bool TjnSeries::Counts(int64_t& records, int64_t& waveforms, std::string& error) {
    records = waveforms = 0;
    return Each([&](size_t i, bool&) {
        int64_t r = 0, w = 0;
        if (!Journal(i).Counts(r, w, error)) return false;
        records += r;
        waveforms += w;
        return true;
    });
}

bool TjnSeries::RecordSpan(TDateTime& first, TDateTime& last, std::string& error) {
    bool any = false;
    error.clear();
    for (size_t i = 0; i < Size(); ++i) {
        TDateTime f = 0, l = 0;
        if (!Journal(i).RecordSpan(f, l, error)) {
            if (!error.empty()) return false;
            continue;
        }
        first = any ? std::min(first, f) : f;
        last = any ? std::max(last, l) : l;
        any = true;
    }
    return any;
}

bool TjnSeries::ForEachRecord(TDateTime from, TDateTime to, const TRecordFn& f,
                              std::string& error) {
    return Each([&](size_t i, bool& stop) {
        return Journal(i).ForEachRecord(
            from, to, [&](const TjnRecordView& v) { return !(stop = !f(i, v)); }, error);
    });
}

bool TjnSeries::ForEachRecordValues(TDateTime from, TDateTime to, const TValuesFn& f,
                                    std::string& error) {
    return Each([&](size_t i, bool& stop) {
        return Journal(i).ForEachRecordValues(
            from, to, [&](const TjnRecordValuesView& v) { return !(stop = !f(i, v)); }, error);
    });
}

bool TjnSeries::ForEachRecordTime(const TTimeFn& f, std::string& error) {
    return Each([&](size_t i, bool& stop) {
        return Journal(i).ForEachRecordTime(
            [&](int64_t seq, TDateTime t) { return !(stop = !f(i, seq, t)); }, error);
    });
}

bool TjnSeries::ForEachWaveform(TDateTime from, TDateTime to, const TWaveformFn& f,
                                std::string& error) {
    return Each([&](size_t i, bool& stop) {
        return Journal(i).ForEachWaveform(
            from, to, [&](const TjnWaveformView& v) { return !(stop = !f(i, v)); }, error);
    });
}

bool TjnSeries::ForEachOutage(const TOutageFn& f, std::string& error) {
    return Each([&](size_t i, bool& stop) {
        return Journal(i).ForEachOutage([&](const TjnOutageView& v) { return !(stop = !f(i, v)); },
                                        error);
    });
}

bool TjnSeries::ForEachAnswer(const TAnswerFn& f, std::string& error) {
    return Each([&](size_t i, bool& stop) {
        return Journal(i).ForEachAnswer([&](const TjnAnswerView& v) { return !(stop = !f(i, v)); },
                                        error);
    });
}

} // namespace qz
