#include "collector/colCollector.h"

#include "collector/colPublisher.h"

#include <set>

namespace qz {

TcolCollector::TcolCollector(const TcolMeterOptions& options, TcolLog& log,
                             TcolPublisher* publisher)
    : FOptions(options), FLog(log), FPublisher(publisher) {}

TcolCollector::~TcolCollector() {
    StopAll();
}

int TcolCollector::Apply(std::vector<TcolMeterSpec> specs) {
    std::set<std::string> wanted;
    for (const auto& s : specs)
        wanted.insert(s.Key);
    // The ones no longer given: asked first, waited for after.
    std::vector<std::string> gone;
    for (auto& [key, meter] : FMeters)
        if (!wanted.count(key)) {
            meter->Stop();
            gone.push_back(key);
        }
    for (const auto& key : gone) {
        TcolMeter& meter = *FMeters[key];
        meter.Join();
        if (FPublisher) FPublisher->RemoveMeter(key);
        FLog.Write(meter.Name(), "Опрос остановлен: измеритель убран из конфигурации");
        FMeters.erase(key);
    }
    int failed = 0;
    for (auto& spec : specs) {
        if (FMeters.count(spec.Key)) continue;
        TcolPublisher* publisher = FPublisher;
        auto meter = std::make_unique<TcolMeter>(spec, FOptions, FLog, [publisher, key = spec.Key] {
            if (publisher) publisher->Wake(key);
        });
        std::string error;
        if (!meter->Start(error)) {
            FLog.Write(meter->Name(), "Опрос не начат: " + error);
            ++failed;
            continue;
        }
        if (FPublisher) FPublisher->AddMeter(spec.Key, meter->Id(), meter->Folder());
        FLog.Write(meter->Name(), "Опрос начат, журналы в " + meter->Folder());
        FMeters[spec.Key] = std::move(meter);
    }
    return failed;
}

void TcolCollector::StopAll() {
    for (auto& [key, meter] : FMeters)
        meter->Stop();
    for (auto& [key, meter] : FMeters)
        meter->Join();
    FMeters.clear();
}

} // namespace qz
