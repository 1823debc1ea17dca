// A damaged or hostile journal file: opening it, summarising it, exporting and replaying it,
// and salvaging it must end in a text, never in a crash, a hang or a read past a buffer. The
// input is the file; from the first log header in it on (a journal cut off with its log), the
// bytes are the log beside it. The seeds are good journals, journals cut short and journals
// with damaged pages.
#include "journal/jnComtrade.h"
#include "journal/jnJournal.h"
#include "journal/jnReplay.h"
#include "journal/jnSalvage.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <unistd.h>

using namespace qz;

namespace {

std::string TempName() {
    return "/tmp/qz-fuzz-journal-" + std::to_string(getpid()) + ".db";
}

void WriteFile(const std::string& f, const uint8_t* data, size_t size) {
    if (FILE* out = std::fopen(f.c_str(), "wb")) {
        std::fwrite(data, 1, size, out);
        std::fclose(out);
    }
}

void Remove(const std::string& f) {
    unlink(f.c_str());
    unlink((f + "-wal").c_str());
    unlink((f + "-shm").c_str());
    unlink((f + "-journal").c_str());
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string file = TempName(), saved = TempName() + "-saved.db";
    Remove(file);
    Remove(saved);
    static const uint8_t kLogMagic[] = {0x37, 0x7F, 0x06};
    const uint8_t* log = std::search(data, data + size, kLogMagic, kLogMagic + 3);
    WriteFile(file, data, size_t(log - data));
    if (log != data + size) WriteFile(file + "-wal", log, size_t(data + size - log));
    {
        TjnReader r;
        std::string e;
        if (r.Open(file, e) == TjnOpenResult::Ok) {
            int64_t records = 0, blocks = 0;
            TDateTime first = 0, last = 0;
            r.Counts(records, blocks, e);
            r.RecordSpan(first, last, e);
            UnfinishedText(r);
            int budget = 64; // a walk of a huge forged table stays short
            r.ForEachOutage([&](const TjnOutageView&) { return --budget > 0; }, e);
            budget = 64;
            r.ForEachRecordTime([&](int64_t, TDateTime) { return --budget > 0; }, e);
            budget = 64;
            r.ForEachAnswer(
                [&](const TjnAnswerView& a) {
                    TmonSettings s;
                    DecodeSettings(a.Data, a.Size, s);
                    return --budget > 0;
                },
                e);
            TjnDecoder decoder(r);
            budget = 16;
            r.ForEachRecord(
                kjnAnyTimeFrom, kjnAnyTimeTo,
                [&](const TjnRecordView& v) {
                    TmonData3sec d;
                    decoder.Decode(v, d, e);
                    return --budget > 0;
                },
                e);
            budget = 4;
            std::string cfg, dat;
            r.ForEachWaveform(
                kjnAnyTimeFrom, kjnAnyTimeTo,
                [&](const TjnWaveformView& b) {
                    TmonSettings s;
                    if (decoder.SettingsOf(b.SettingsId, s, e))
                        FormatComtrade(r.Meter(), s, b, TjnComtradeOptions(), cfg, dat);
                    return --budget > 0;
                },
                e);
        }
        TjnReplay replay;
        if (replay.Open(file, e)) {
            std::vector<uint8_t> out;
            TDateTime stamp = 0;
            const TDateTime t = replay.StartTime();
            replay.TimeParams(t, out);
            replay.Settings(t, out);
            replay.ScaleKoeffs(t, out);
            replay.Record3sec(t, out, stamp);
            replay.Waveform(t, 0xFF, 2, out, stamp);
        }
    }
    TjnSalvageReport report;
    std::string e;
    if (SalvageJournal(file, saved, report, e)) {
        SalvageReportText(report, saved);
        TjnReader r;
        if (r.Open(saved, e) == TjnOpenResult::Ok) {
            int64_t records = 0, blocks = 0;
            r.Counts(records, blocks, e);
        }
    }
    Remove(file);
    Remove(saved);
    return 0;
}
