// The recorder fed as the exchange threads feed it, by the simulated QZ2M meter: its answers,
// then each record and the call that follows its decoding, the local clock a second behind
// the record. Header-only, for the tests that link the journal library already.
#pragma once

#include "journal/jnRecorder.h"
#include "simulator/MeterModel.h"
#include "tests/support/JournalMeter.h"

#include <vector>

namespace qz::test {

struct TJournalFeed {
    TmonSharedStorage Storage;
    const TMeterModel Meter{1};
    TDateTime LocalNow = RecordingDay(10, 0, 0);
    void Answer(TjnRecorder& r, TmonAnswerKind kind, const std::vector<uint8_t>& data,
                TDateTime meterTime) {
        TmonAnswer a;
        a.Kind = kind;
        a.Data = data.data();
        a.Size = data.size();
        a.MeterTime = meterTime;
        r.OnAnswer(a);
    }
    void Settings(TjnRecorder& r, TDateTime t) {
        Answer(r, TmonAnswerKind::TimeParams, Meter.TimeData(t, true, t), t);
        Answer(r, TmonAnswerKind::Settings, Meter.SettingsData(), t);
        Answer(r, TmonAnswerKind::ScaleKoeffs, Meter.ScaleData(), t);
    }
    void Record(TjnRecorder& r, TDateTime meterTime) {
        LocalNow = meterTime + 1.0 / 86400;
        Answer(r, TmonAnswerKind::Record3sec, Meter.RecordData(meterTime + 3.0 / 86400), meterTime);
        r.OnData3sec();
    }
};

} // namespace qz::test
