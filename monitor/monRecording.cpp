#include "monitor/monRecording.h"

#include "connection/CcnConnectionList.h"
#include "exchange/monCsvExport.h"
#include "journal/jnJournal.h"
#include "journal/jnMeterOf.h"
#include "journal/jnRecorder.h"
#include "journal/jnSeries.h"
#include "settings/cmnKnownFoldersFunc.h"

#include <sys/stat.h>

namespace qz {
namespace {

bool Exists(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0;
}

} // namespace

std::string RecordingCaption(const std::string& fileName, int64_t records) {
    const size_t slash = fileName.find_last_of('/');
    const std::string base = slash == std::string::npos ? fileName : fileName.substr(slash + 1);
    return "    Запись: " + base + ", записей: " + std::to_string(records);
}

TmonRecording::TmonRecording(TmonSharedStorage& storage, IExchangeListener* next)
    : FStorage(storage), FNext(next) {}

TmonRecording::~TmonRecording() {
    Stop();
}

bool TmonRecording::Start(const std::string& folder, const TccnConnection& connection,
                          std::string& error) {
    if (Active()) {
        error = "Запись уже ведётся в файл " + FileName();
        return false;
    }
    if (folder.empty()) {
        error = "Не найдена папка документов";
        return false;
    }
    std::string reason;
    if (!ForceDirectories(folder, &reason)) {
        error = "Не удалось создать папку " + folder + ": " + reason;
        return false;
    }
    TjnMeter meter = JournalMeterOf(connection);
    meter.Started = Now();
    auto writer = std::make_unique<TjnWriter>();
    std::string fileName;
    bool created = false;
    // A journal that exists is never touched: the next free name is taken.
    for (int attempt = 1; attempt <= 50 && !created; ++attempt) {
        fileName =
            folder + JournalFileName(meter.ModelIndex, meter.FactoryNumber, meter.Started, attempt);
        reason.clear();
        created = writer->Create(fileName, meter, reason);
        if (!created && !Exists(fileName)) break;
    }
    if (!created) {
        error = JournalWriteErrorText(fileName, reason);
        return false;
    }
    auto recorder = std::make_unique<TjnRecorder>(*writer, FStorage, nullptr);
    recorder->Now = Now;
    std::lock_guard<std::mutex> lock(FMutex);
    auto replay = [&recorder](TmonAnswerKind kind, const TKept& k) {
        if (!k.Have) return;
        TmonAnswer a;
        a.Kind = kind;
        a.Data = k.Data.data();
        a.Size = k.Data.size();
        a.MeterTime = k.MeterTime;
        recorder->OnAnswer(a);
    };
    replay(TmonAnswerKind::TimeParams, FSettingsTimeParams);
    replay(TmonAnswerKind::Settings, FSettings);
    replay(TmonAnswerKind::ScaleKoeffs, FScale);
    if (!recorder->Error().empty()) {
        error = JournalWriteErrorText(fileName, recorder->Error());
        std::string ignored;
        writer->Close(ignored);
        return false;
    }
    FWriter = std::move(writer);
    FRecorder = std::move(recorder);
    FFileName = fileName;
    FFailureTold = false;
    return true;
}

std::string TmonRecording::Stop() {
    std::unique_ptr<TjnWriter> writer;
    std::unique_ptr<TjnRecorder> recorder;
    std::string fileName;
    {
        std::lock_guard<std::mutex> lock(FMutex);
        writer = std::move(FWriter);
        recorder = std::move(FRecorder);
        fileName = FFileName;
    }
    // No exchange thread reaches the journal any more: it is closed outside the lock.
    if (!writer) return {};
    std::string error = recorder->Error();
    std::string closeError;
    if (!writer->Close(closeError) && error.empty()) error = closeError;
    return error.empty() ? std::string() : JournalWriteErrorText(fileName, error);
}

bool TmonRecording::Active() const {
    std::lock_guard<std::mutex> lock(FMutex);
    return FRecorder != nullptr;
}

std::string TmonRecording::FileName() const {
    std::lock_guard<std::mutex> lock(FMutex);
    return FFileName;
}

int64_t TmonRecording::Records() const {
    std::lock_guard<std::mutex> lock(FMutex);
    return FRecorder ? FRecorder->Records() : 0;
}

template <class F> void TmonRecording::Record(F&& f) {
    std::string failure, fileName;
    {
        std::lock_guard<std::mutex> lock(FMutex);
        f(FRecorder.get());
        if (!FRecorder) return;
        const std::string error = FRecorder->Error();
        if (!error.empty() && !FFailureTold) {
            FFailureTold = true;
            failure = JournalWriteErrorText(FFileName, error);
            fileName = FFileName;
        }
    }
    // The window stops the recording from here, which takes the lock again.
    if (!failure.empty() && OnFailure) OnFailure(fileName, failure);
}

void TmonRecording::OnAnswer(const TmonAnswer& answer) {
    Record([this, &answer](TjnRecorder* r) {
        auto keep = [&answer](TKept& k) {
            k.Have = true;
            k.Data.assign(answer.Data, answer.Data + answer.Size);
            k.MeterTime = answer.MeterTime;
        };
        switch (answer.Kind) {
        case TmonAnswerKind::TimeParams:
            keep(FTimeParams);
            break;
        case TmonAnswerKind::Settings:
            FSettingsTimeParams = FTimeParams; // the read that led to these settings
            keep(FSettings);
            break;
        case TmonAnswerKind::ScaleKoeffs:
            keep(FScale);
            break;
        default:
            break;
        }
        if (r) r->OnAnswer(answer);
    });
    if (FNext) FNext->OnAnswer(answer);
}

void TmonRecording::OnData3sec() {
    Record([](TjnRecorder* r) {
        if (r) r->OnData3sec();
    });
    if (FNext) FNext->OnData3sec();
}

void TmonRecording::OnExchangeEnd(int32_t errorCode, int32_t deviceStatus) {
    {
        // The next poll reads its settings again, possibly from another meter.
        std::lock_guard<std::mutex> lock(FMutex);
        FTimeParams = FSettingsTimeParams = FSettings = FScale = TKept();
    }
    if (FNext) FNext->OnExchangeEnd(errorCode, deviceStatus);
}

void TmonRecording::OnSignalData(uint8_t channelMask, uint8_t sizeCode) {
    if (FNext) FNext->OnSignalData(channelMask, sizeCode);
}

void TmonRecording::OnSignalEnd(int32_t errorCode, int32_t deviceStatus) {
    if (FNext) FNext->OnSignalEnd(errorCode, deviceStatus);
}

} // namespace qz
