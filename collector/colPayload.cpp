#include "collector/colPayload.h"

#include "exchange/monRecordJson.h"

#include <cstdio>

namespace qz {

std::string MeterName(const TcolMeterId& meter) {
    return meter.Code + " " + std::to_string(meter.FactoryNumber);
}

std::string MeterFolderName(const TcolMeterId& meter) {
    return meter.Code + "_" + std::to_string(meter.FactoryNumber);
}

std::string MeterTopic(const std::string& prefix, const TcolMeterId& meter, const char* leaf) {
    return prefix + "/" + meter.Code + "/" + std::to_string(meter.FactoryNumber) + "/" + leaf;
}

std::string StatusTopic(const std::string& prefix, const std::string& name) {
    return prefix + "/collector/" + name + "/status";
}

namespace {

std::string MeterJson(const TcolMeterId& meter) {
    return "{\"Model\":" + JsonStringText(meter.Model) +
           ",\"FactoryNumber\":" + std::to_string(meter.FactoryNumber) + "}";
}

std::string TimeOrNull(TDateTime t) {
    return t == 0 ? "null" : JsonStringText(IsoLocalTime(t));
}

} // namespace

std::string RecordPayload(const std::string& recordJson, const TcolMeterId& meter,
                          TDateTime meterTime) {
    // The record's own object, closed after the two added members.
    std::string body = recordJson;
    while (!body.empty() && body.back() != '}')
        body.pop_back();
    if (body.size() < 2) body = "{}";
    body.pop_back();
    if (body.size() > 1) body += ',';
    body += "\"Meter\":" + MeterJson(meter);
    // The poll's object carries its own ISO time; one made elsewhere gets the record's.
    if (recordJson.find("\"TimeISO\":") == std::string::npos)
        body += ",\"TimeISO\":" + JsonStringText(IsoLocalTime(meterTime));
    return body + "}";
}

std::string OutagePayload(const TjnOutageView& o, const TcolMeterId& meter, bool end) {
    return std::string("{\"Meter\":") + MeterJson(meter) + ",\"Event\":\"" +
           (end ? "end" : "begin") + "\",\"Began\":" + TimeOrNull(o.Began) +
           ",\"Ended\":" + (end ? TimeOrNull(o.Ended) : "null") +
           ",\"LastMeterTime\":" + TimeOrNull(o.LastMeterTime) +
           ",\"Code\":" + std::to_string(o.Code) + ",\"Status\":" + std::to_string(o.Status) +
           ",\"Text\":" + JsonStringText(o.Text) + "}";
}

std::string StatePayload(const TcolMeterState& s, const TcolMeterId& meter) {
    return "{\"Meter\":" + MeterJson(meter) + ",\"LastRecord\":" + TimeOrNull(s.LastRecord) +
           ",\"Outages\":" + std::to_string(s.Outages) +
           ",\"InOutage\":" + (s.InOutage ? "true" : "false") +
           ",\"Backlog\":" + std::to_string(s.Backlog) + "}";
}

} // namespace qz
