// The meter a hand-written test journal was recorded from: the simulated QZ2 family meter on
// loopback TCP, recording begun at 10:00:00 on 8 December 2026. Header-only, for the tests
// that link the journal library already.
#pragma once

#include "common/DateTime.h"
#include "journal/jnJournal.h"

#include <cstdint>

namespace qz::test {

// h:m:s on the day the test journals are recorded.
inline TDateTime RecordingDay(int h, int m, int s) {
    TDateTime t = 0;
    TryEncodeDateTime({2026, 12, 8, h, m, s, 0}, t);
    return t;
}

// `modelIndex` is the row of the model table (1: QZ2M, with the extended record); `number`
// is both the factory number and the address.
inline TjnMeter JournalMeter(int modelIndex, int32_t number) {
    TjnMeter m;
    m.DeviceType = 2;
    m.ModelIndex = modelIndex;
    m.Model = "Каврен–QZ2М";
    m.FactoryNumber = number;
    m.Address = number;
    m.Connection = "TCP/IP (IP: 127.0.0.1, Порт: 4001)";
    m.ProgramVersion = "0.1.0.0";
    m.Started = RecordingDay(10, 0, 0);
    return m;
}

} // namespace qz::test
