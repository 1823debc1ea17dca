// A damaged or hostile journal file: opening it, summarising it, exporting and replaying it
// must end in a text, never in a crash, a hang or a read past a buffer.
#include "journal/jnComtrade.h"
#include "journal/jnJournal.h"
#include "journal/jnReplay.h"

#include <cstdint>
#include <cstdio>
#include <string>
#include <unistd.h>

using namespace qz;

namespace {

std::string TempName() {
    return "/tmp/qz-fuzz-journal-" + std::to_string(getpid()) + ".db";
}

void Remove(const std::string& f) {
    unlink(f.c_str());
    unlink((f + "-wal").c_str());
    unlink((f + "-shm").c_str());
    unlink((f + "-journal").c_str());
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string file = TempName();
    Remove(file);
    if (FILE* f = std::fopen(file.c_str(), "wb")) {
        std::fwrite(data, 1, size, f);
        std::fclose(f);
    }
    {
        TjnReader r;
        std::string e;
        if (r.Open(file, e) == TjnOpenResult::Ok) {
            int64_t records = 0, blocks = 0;
            TDateTime first = 0, last = 0;
            r.Counts(records, blocks, e);
            r.RecordSpan(first, last, e);
            int budget = 64; // a walk of a huge forged table stays short
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
    Remove(file);
    return 0;
}
