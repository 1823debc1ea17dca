// What the collector publishes: the topics and the JSON bodies of a record, an outage and a
// meter's state. The record body is the object `qzcli poll --json` prints, with the meter and
// the record's time in ISO 8601 added, so a consumer needs nothing but the message.
#pragma once

#include "common/JsonText.h"
#include "exchange/monRecordJson.h"
#include "exchange/monStorage.h"
#include "journal/jnJournal.h"

#include <cstdint>
#include <string>

namespace qz {

// Who a message is about.
struct TcolMeterId {
    std::string Code;  // the model's command-line name ("qz2m"), used in the topics
    std::string Model; // the model as the journal names it
    int32_t FactoryNumber = 0;
};

// "qz2m 1234" in messages; "qz2m_1234", the meter's folder.
std::string MeterName(const TcolMeterId& meter);
std::string MeterFolderName(const TcolMeterId& meter);

// "<prefix>/<model code>/<factory number>/<leaf>", and the collector's status topic
// "<prefix>/collector/<name>/status".
std::string MeterTopic(const std::string& prefix, const TcolMeterId& meter, const char* leaf);
std::string StatusTopic(const std::string& prefix, const std::string& name);

// `recordJson` is the record's object as poll prints it (its "TimeISO" is added when missing).
std::string RecordPayload(const std::string& recordJson, const TcolMeterId& meter,
                          TDateTime meterTime);
// One outage message: "begin" when it is new, "end" once it has ended.
std::string OutagePayload(const TjnOutageView& outage, const TcolMeterId& meter, bool end);

// The retained summary of a meter.
struct TcolMeterState {
    TDateTime LastRecord = 0; // meter time of the last record published (0: none)
    int64_t Outages = 0;      // outages seen in the journals being read
    bool InOutage = false;    // the last of them has not ended
    int64_t Backlog = 0;      // records recorded and not yet delivered
};
std::string StatePayload(const TcolMeterState& state, const TcolMeterId& meter);

} // namespace qz
