#include "collector/colPublisher.h"

#include "common/SystemErrorText.h"
#include "exchange/monRecordJson.h"
#include "journal/jnSeries.h"
#include "journal/jnSqlite.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <dirent.h>
#include <fstream>
#include <mosquitto.h>
#include <unistd.h>

namespace qz {
namespace {

// Messages handed to the client and not yet acknowledged, per meter: enough to keep a
// loopback broker busy while a backlog drains, small enough that a lost connection resends
// little.
constexpr size_t kWindow = 200;
// The retained state of a meter is refreshed at most this often (in days), or at once when
// its outage changes.
constexpr double kStateEvery = 5.0 / 86400;
// A mark that moved is written at most this often (days): a collector killed meanwhile sends
// those records again, which QoS 1 allows.
constexpr double kMarkEvery = 0.5 / 86400;
// Connected, and no acknowledgement for this long (days): the messages in flight are taken
// as lost.
constexpr double kStallAfter = 30.0 / 86400;
// A journal new in a meter's folder is left alone this long (days) while it is being made.
constexpr double kSettleTime = 2.0 / 86400;
// Every meter's journals are looked at this often (days), woken or not.
constexpr double kSweepEvery = 5.0 / 86400;
// Journals that cannot be opened for this long (days) are reported.
constexpr double kFailureSaidAfter = 10.0 / 86400;
// No connection to the broker for this long (days), from the start or the loss, is reported,
// once for each time it is away.
constexpr double kBrokerAwaySaidAfter = 10.0 / 86400;

std::string MosqText(int rc) {
    return rc == MOSQ_ERR_ERRNO ? SystemErrorText(errno) : mosquitto_strerror(rc);
}

// The journals of a folder ("*.db"), by name.
std::vector<std::string> JournalFiles(const std::string& folder) {
    std::vector<std::string> files;
    if (DIR* d = opendir(folder.c_str())) {
        while (dirent* e = readdir(d)) {
            const std::string name = e->d_name;
            if (name.size() > 3 && name.compare(name.size() - 3, 3, ".db") == 0)
                files.push_back(folder + "/" + name);
        }
        closedir(d);
    }
    std::sort(files.begin(), files.end());
    return files;
}

// Records of a journal after the meter time `after`.
int64_t RecordsAfter(TjnReader& j, TDateTime after) {
    TjnStmt s;
    if (s.Prepare(j.Db(), "SELECT count(*) FROM record WHERE meter_time > ?") != SQLITE_OK)
        return 0;
    s.Bind(1, after);
    return s.Step() == SQLITE_ROW ? s.Int(0) : 0;
}

} // namespace

bool ParseMqttUrl(const std::string& url, TcolMqttOptions& o, std::string& error) {
    std::string rest;
    if (url.rfind("mqtt://", 0) == 0) {
        o.Tls = false;
        rest = url.substr(7);
    } else if (url.rfind("mqtts://", 0) == 0) {
        o.Tls = true;
        rest = url.substr(8);
    } else {
        error =
            "Адрес брокера MQTT должен иметь вид mqtt://узел:порт или mqtts://узел:порт: " + url;
        return false;
    }
    if (!rest.empty() && rest.back() == '/') rest.pop_back();
    o.Port = o.Tls ? 8883 : 1883;
    const auto colon = rest.rfind(':');
    if (colon != std::string::npos) {
        const std::string port = rest.substr(colon + 1);
        char* end = nullptr;
        const long p = std::strtol(port.c_str(), &end, 10);
        if (port.empty() || *end != '\0' || p < 1 || p > 65535) {
            error = "Неверный порт брокера MQTT: " + url;
            return false;
        }
        o.Port = int(p);
        rest = rest.substr(0, colon);
    }
    if (rest.empty() || rest.find_first_of("/@ ") != std::string::npos) {
        error = "Неверный узел брокера MQTT: " + url;
        return false;
    }
    o.Host = rest;
    return true;
}

TcolPublisher::TcolPublisher(TcolMqttOptions options, TcolLog& log)
    : FOptions(std::move(options)), FLog(log) {
    if (FOptions.Name.empty()) {
        char host[256] = {};
        gethostname(host, sizeof host - 1);
        FOptions.Name = host[0] ? host : "qzcli";
    }
}

TcolPublisher::~TcolPublisher() {
    Stop();
}

bool TcolPublisher::Start(std::string& error) {
    static const int init = mosquitto_lib_init();
    (void)init;
    std::string password;
    if (!FOptions.PasswordFile.empty()) {
        std::ifstream f(FOptions.PasswordFile);
        if (!f || !std::getline(f, password)) {
            error = "Не удалось прочитать пароль брокера MQTT из " + FOptions.PasswordFile;
            return false;
        }
        if (!password.empty() && password.back() == '\r') password.pop_back();
    }
    const std::string id = "qzcli-" + FOptions.Name;
    FClient = mosquitto_new(id.c_str(), true, this);
    if (!FClient) {
        error = "Не удалось создать клиент MQTT";
        return false;
    }
    mosquitto_int_option(FClient, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V311);
    mosquitto_connect_callback_set(FClient, &OnConnect);
    mosquitto_disconnect_callback_set(FClient, &OnDisconnect);
    mosquitto_publish_callback_set(FClient, &OnPublish);
    mosquitto_log_callback_set(FClient, &OnLog);
    // A broker back after a long absence is found within 5 s.
    mosquitto_reconnect_delay_set(FClient, 1, 5, true);
    const std::string status = StatusTopic(FOptions.Prefix, FOptions.Name);
    int rc = mosquitto_will_set(FClient, status.c_str(), 7, "offline", 1, true);
    if (rc == MOSQ_ERR_SUCCESS && !FOptions.User.empty())
        rc = mosquitto_username_pw_set(FClient, FOptions.User.c_str(),
                                       FOptions.PasswordFile.empty() ? nullptr : password.c_str());
    if (rc == MOSQ_ERR_SUCCESS && FOptions.Tls)
        rc = mosquitto_tls_set(FClient, FOptions.CaFile.empty() ? nullptr : FOptions.CaFile.c_str(),
                               FOptions.CaFile.empty() ? "/etc/ssl/certs" : nullptr,
                               FOptions.CertFile.empty() ? nullptr : FOptions.CertFile.c_str(),
                               FOptions.KeyFile.empty() ? nullptr : FOptions.KeyFile.c_str(),
                               nullptr);
    if (rc != MOSQ_ERR_SUCCESS) {
        error = "Неверные параметры клиента MQTT: " + MosqText(rc);
        mosquitto_destroy(FClient);
        FClient = nullptr;
        return false;
    }
    // A broker that is not there yet is no error: the client's loop tries again and again.
    rc = mosquitto_connect_async(FClient, FOptions.Host.c_str(), FOptions.Port,
                                 FOptions.KeepAliveSec);
    if (rc != MOSQ_ERR_SUCCESS && rc != MOSQ_ERR_ERRNO && rc != MOSQ_ERR_NO_CONN)
        FLog.Write("", "Брокер MQTT недоступен: " + MosqText(rc));
    rc = mosquitto_loop_start(FClient);
    if (rc != MOSQ_ERR_SUCCESS) {
        error = "Не удалось запустить клиент MQTT: " + MosqText(rc);
        mosquitto_destroy(FClient);
        FClient = nullptr;
        return false;
    }
    FLoopStarted = true;
    FThread = std::thread([this] { Run(); });
    return true;
}

void TcolPublisher::Stop() {
    if (!FClient) return;
    {
        std::lock_guard<std::mutex> lock(FMutex);
        FStop = true;
    }
    FWake.notify_all();
    if (FThread.joinable()) FThread.join();
    // A clean stop says so itself; the last will is for a collector that vanished.
    bool connected;
    {
        std::lock_guard<std::mutex> lock(FMutex);
        connected = FConnected;
    }
    if (connected) {
        // What the meters recorded last goes out now (they have stopped before), then the
        // collector says it is offline; its acknowledgement, after theirs, ends the wait.
        TakeAcks();
        for (auto& [key, m] : FMeters)
            Pump(*m, true);
        const std::string status = StatusTopic(FOptions.Prefix, FOptions.Name);
        int mid = 0;
        if (mosquitto_publish(FClient, &mid, status.c_str(), 7, "offline", 1, true) ==
            MOSQ_ERR_SUCCESS) {
            std::unique_lock<std::mutex> lock(FMutex);
            FWake.wait_for(lock, std::chrono::milliseconds(800), [&] {
                return !FConnected || std::find(FAcks.begin(), FAcks.end(), mid) != FAcks.end();
            });
        }
        TakeAcks();
    }
    SaveMarks(true);
    mosquitto_disconnect(FClient);
    if (FLoopStarted) mosquitto_loop_stop(FClient, false);
    mosquitto_destroy(FClient);
    FClient = nullptr;
}

void TcolPublisher::AddMeter(const std::string& key, const TcolMeterId& meter,
                             const std::string& folder) {
    {
        std::lock_guard<std::mutex> lock(FMutex);
        FChanges.push_back({true, key, meter, folder});
        FDirty = true;
    }
    FWake.notify_all();
}

void TcolPublisher::RemoveMeter(const std::string& key) {
    {
        std::lock_guard<std::mutex> lock(FMutex);
        FChanges.push_back({false, key, {}, {}});
        FDirty = true;
    }
    FWake.notify_all();
}

void TcolPublisher::Apply(const TChange& c) {
    std::string error;
    auto it = FMeters.find(c.Key);
    if (it != FMeters.end()) {
        // A meter removed keeps its mark: added again, it goes on from there.
        TMeter& m = *it->second;
        if (m.MarkDirty && !SaveMark(MarkFileName(m.Folder), m.Flight.Acked(), error))
            FLog.Write(MeterName(m.Id), error);
        for (auto b = FByMid.begin(); b != FByMid.end();)
            b = b->second == &m ? FByMid.erase(b) : std::next(b);
        FMeters.erase(it);
    }
    if (!c.Add) return;
    auto m = std::make_unique<TMeter>();
    m->Id = c.Id;
    m->Folder = c.Folder;
    TcolMark mark;
    if (!LoadMark(MarkFileName(c.Folder), mark, error)) FLog.Write(MeterName(c.Id), error);
    m->Flight.Reset(mark);
    FMeters[c.Key] = std::move(m);
}

void TcolPublisher::Wake(const std::string& key) {
    {
        std::lock_guard<std::mutex> lock(FMutex);
        if (std::find(FWoken.begin(), FWoken.end(), key) == FWoken.end()) FWoken.push_back(key);
        FDirty = true;
    }
    FWake.notify_all();
}

void TcolPublisher::OnConnect(mosquitto*, void* self, int rc) {
    auto* p = static_cast<TcolPublisher*>(self);
    if (rc != 0) {
        // The client asks again every few seconds: the same refusal is said once.
        const std::string text =
            std::string("Брокер MQTT отказал в подключении: ") + mosquitto_connack_string(rc);
        bool said;
        {
            std::lock_guard<std::mutex> lock(p->FMutex);
            said = p->FBrokerError == text;
            p->FBrokerError = text;
        }
        if (!said) p->FLog.Write("", text);
        return;
    }
    {
        std::lock_guard<std::mutex> lock(p->FMutex);
        p->FConnected = p->FJustConnected = p->FDirty = true;
        p->FBrokerError.clear();
    }
    p->FWake.notify_all();
}

void TcolPublisher::OnDisconnect(mosquitto*, void* self, int rc) {
    auto* p = static_cast<TcolPublisher*>(self);
    bool was;
    {
        std::lock_guard<std::mutex> lock(p->FMutex);
        was = p->FConnected;
        p->FConnected = false;
        // A connection that never came up (a TLS port spoken to in the clear, say): kept as
        // the reason, unless the client's log gave a better one.
        if (!was && rc != 0 && p->FBrokerError.empty()) p->FBrokerError = MosqText(rc);
    }
    if (was && rc != 0) p->FLog.Write("", "Связь с брокером MQTT потеряна: " + MosqText(rc));
    p->FWake.notify_all();
}

void TcolPublisher::OnLog(mosquitto*, void* self, int level, const char* text) {
    // The client's own errors (a certificate not trusted, a handshake that failed) are the
    // reason the broker cannot be reached.
    if (!(level & MOSQ_LOG_ERR) || !text) return;
    auto* p = static_cast<TcolPublisher*>(self);
    std::lock_guard<std::mutex> lock(p->FMutex);
    p->FBrokerError = text;
}

void TcolPublisher::OnPublish(mosquitto*, void* self, int mid) {
    auto* p = static_cast<TcolPublisher*>(self);
    {
        std::lock_guard<std::mutex> lock(p->FMutex);
        p->FAcks.push_back(mid);
    }
    p->FWake.notify_all();
}

void TcolPublisher::Run() {
    for (;;) {
        bool connected, justConnected;
        std::vector<TChange> changes;
        {
            std::unique_lock<std::mutex> lock(FMutex);
            FWake.wait_for(lock, std::chrono::seconds(1),
                           [this] { return FStop || FDirty || !FAcks.empty(); });
            if (FStop) break;
            FDirty = false;
            connected = FConnected;
            justConnected = FJustConnected;
            FJustConnected = false;
            changes.swap(FChanges);
            for (const auto& key : FWoken) {
                auto it = FMeters.find(key);
                if (it != FMeters.end()) it->second->Due = true;
            }
            FWoken.clear();
        }
        TakeAcks();
        for (const auto& c : changes)
            Apply(c);
        const TDateTime now = NowDateTime();
        SayIfBrokerAway(connected, now);
        if (justConnected) {
            FLog.Write("", "Подключено к брокеру MQTT " + FOptions.Host + ":" +
                               std::to_string(FOptions.Port));
            const std::string status = StatusTopic(FOptions.Prefix, FOptions.Name);
            mosquitto_publish(FClient, &FStatusMid, status.c_str(), 6, "online", 1, true);
            // The client sends again what was in flight; what it had not yet been handed is
            // read from the journals again.
            for (auto& [key, m] : FMeters)
                m->StateSent.clear();
        }
        // While the broker is away nothing new is handed to the client; what it holds in
        // flight it sends again after the reconnect.
        // Every meter now and then, whatever woke the thread: a journal that could not be
        // read a moment ago is tried again.
        const bool sweep = now - FSweptAt > kSweepEvery;
        if (sweep) FSweptAt = now;
        for (auto& [key, m] : FMeters) {
            if (m->Flight.Empty() || !connected) m->Progress = now;
            // Messages the client never confirmed: read again from the mark (they may
            // arrive twice, which QoS 1 allows; none is lost).
            if (now - m->Progress > kStallAfter) {
                FLog.Write(MeterName(m->Id), "Брокер не подтвердил отправленное; повтор с отметки");
                for (auto b = FByMid.begin(); b != FByMid.end();)
                    b = b->second == m.get() ? FByMid.erase(b) : std::next(b);
                m->Flight.GiveUp();
                m->Progress = now;
                m->Due = true;
            }
        }
        if (connected)
            for (auto& [key, m] : FMeters) {
                if (m->Due || sweep || justConnected) Pump(*m);
                PublishState(*m, false);
            }
        SaveMarks(false);
    }
}

void TcolPublisher::SayIfBrokerAway(bool connected, TDateTime now) {
    if (connected) {
        FAwaySince = 0;
        FAwaySaid = false;
        return;
    }
    if (FAwaySince == 0) FAwaySince = now;
    if (FAwaySaid || now - FAwaySince < kBrokerAwaySaidAfter) return;
    FAwaySaid = true;
    std::string reason;
    {
        std::lock_guard<std::mutex> lock(FMutex);
        reason = FBrokerError;
    }
    while (!reason.empty() && (reason.back() == '.' || reason.back() == '\n'))
        reason.pop_back();
    FLog.Write("", "Нет связи с брокером MQTT " + FOptions.Host + ":" +
                       std::to_string(FOptions.Port) + " уже " +
                       std::to_string(int((now - FAwaySince) * 86400 + 0.5)) + " с" +
                       (reason.empty() ? "" : ": " + reason) +
                       ". Проверьте адрес, mqtt:// или mqtts:// и сертификаты; записи "
                       "остаются в журналах и уйдут после подключения");
}

void TcolPublisher::TakeAcks() {
    std::vector<int> acks;
    {
        std::lock_guard<std::mutex> lock(FMutex);
        acks.swap(FAcks);
    }
    for (int mid : acks) {
        auto it = FByMid.find(mid);
        if (it == FByMid.end()) continue;
        TMeter& m = *it->second;
        FByMid.erase(it);
        const TcolMark before = m.Flight.Acked();
        if (m.Flight.Ack(mid)) m.Progress = NowDateTime();
        if (m.Flight.Acked() != before) m.MarkDirty = true;
    }
}

void TcolPublisher::SaveMarks(bool all) {
    const TDateTime now = NowDateTime();
    for (auto& [key, m] : FMeters) {
        if (!m->MarkDirty || (!all && now - m->MarkSavedAt < kMarkEvery)) continue;
        std::string error;
        if (SaveMark(MarkFileName(m->Folder), m->Flight.Acked(), error)) {
            m->MarkDirty = false;
            m->MarkSavedAt = now;
        } else {
            Report(*m, error);
        }
    }
}

void TcolPublisher::Report(TMeter& m, const std::string& error) {
    // Said once until it changes: a journal held for a moment is tried again quietly.
    if (error == m.LastError) return;
    m.LastError = error;
    if (!error.empty()) FLog.Write(MeterName(m.Id), error);
}

bool TcolPublisher::Publish(TMeter& m, const std::string& topic, const std::string& payload,
                            const TcolMark& after) {
    int mid = 0;
    const int rc = mosquitto_publish(FClient, &mid, topic.c_str(), int(payload.size()),
                                     payload.data(), 1, false);
    if (rc != MOSQ_ERR_SUCCESS) {
        Report(m, "Не удалось отправить брокеру MQTT: " + MosqText(rc));
        return false;
    }
    m.Flight.Add(mid, after);
    FByMid[mid] = &m;
    return true;
}

void TcolPublisher::Pump(TMeter& m, bool recordersStopped) {
    // Due again unless everything recorded has been handed over below.
    m.Due = true;
    if (m.Flight.Size() >= kWindow) return;
    // A journal is read only once it has been there a moment: a reader that comes while the
    // recorder is making it would hold the file the recorder needs to itself then. Once the
    // recorders have stopped, none is being made.
    const TDateTime now = NowDateTime();
    std::vector<std::string> files;
    for (const auto& f : JournalFiles(m.Folder)) {
        if (std::find(m.Done.begin(), m.Done.end(), f) != m.Done.end()) continue;
        const TDateTime seen = m.FirstSeen.emplace(f, now).first->second;
        if (!recordersStopped && now - seen < kSettleTime)
            break; // the newest: what comes after it waits too
        files.push_back(f);
    }
    if (files.empty()) return;
    TjnSeries s;
    std::string error;
    if (!s.Open(files, error)) {
        // Most often a journal being made or folded back this very moment: the next wake
        // (a record, or the second's tick) tries again, and only a lasting failure is said.
        const TDateTime now = NowDateTime();
        if (m.FailingSince == 0) m.FailingSince = now;
        if (now - m.FailingSince > kFailureSaidAfter) Report(m, error);
        return;
    }
    m.FailingSince = 0;
    bool ok = true;
    int64_t outages = 0;
    bool inOutage = false;
    const std::string outageTopic = MeterTopic(FOptions.Prefix, m.Id, "outage");
    s.ForEachOutage(
        [&](size_t, const TjnOutageView& o) {
            ++outages;
            inOutage = !o.HasEnd();
            if (o.Began > m.Flight.Sent().OutageBegan) {
                TcolMark after = m.Flight.Sent();
                after.OutageBegan = o.Began;
                if (!(ok = Publish(m, outageTopic, OutagePayload(o, m.Id, false), after)))
                    return false;
            }
            if (o.HasEnd() && o.Ended > m.Flight.Sent().OutageEnded) {
                TcolMark after = m.Flight.Sent();
                after.OutageEnded = o.Ended;
                if (!(ok = Publish(m, outageTopic, OutagePayload(o, m.Id, true), after)))
                    return false;
            }
            return true;
        },
        error);
    if (inOutage != m.State.InOutage || outages != m.State.Outages) m.StateSent.clear();
    m.State.Outages = outages;
    m.State.InOutage = inOutage;
    const std::string recordTopic = MeterTopic(FOptions.Prefix, m.Id, "record");
    TmonData3sec d;
    bool walked =
        ok && s.ForEachRecord(
                  m.Flight.Sent().Record, 1e9,
                  [&](size_t j, const TjnRecordView& r) {
                      if (r.MeterTime <= m.Flight.Sent().Record) return true;
                      if (m.Flight.Size() >= kWindow) return false;
                      TcolMark after = m.Flight.Sent();
                      after.Record = r.MeterTime;
                      std::string why;
                      if (!s.Decoder(j).Decode(r, d, why)) {
                          // Kept in the journal, but there is nothing to say of
                          // it: passed over with a word in the log.
                          FLog.Write(MeterName(m.Id), "Запись " + IsoLocalTime(r.MeterTime) +
                                                          " не отправлена: " + why);
                          m.Flight.Pass(after);
                          return true;
                      }
                      return ok = Publish(m, recordTopic,
                                          RecordPayload(RecordJson(d), m.Id, r.MeterTime), after);
                  },
                  error);
    if (!walked && ok) {
        Report(m, error);
        return;
    }
    Report(m, "");
    m.Due = !ok || m.Flight.Size() >= kWindow;
    // Journals delivered whole and finished are not opened again.
    for (size_t i = 0; i + 1 < s.Size(); ++i) {
        TjnReader& j = s.Journal(i);
        TDateTime first = 0, last = 0;
        std::string e;
        if (j.Closed() == 0 || (j.RecordSpan(first, last, e) && last > m.Flight.Acked().Record))
            continue;
        bool outagesDone = true;
        j.ForEachOutage(
            [&](const TjnOutageView& o) {
                outagesDone = outagesDone && o.Began <= m.Flight.Acked().OutageBegan &&
                              (!o.HasEnd() || o.Ended <= m.Flight.Acked().OutageEnded);
                return outagesDone;
            },
            e);
        if (outagesDone) m.Done.push_back(s.FileName(i));
    }
    int64_t backlog = 0;
    for (size_t i = 0; i < s.Size(); ++i)
        backlog += RecordsAfter(s.Journal(i), m.Flight.Sent().Record);
    m.State.Backlog = backlog + int64_t(m.Flight.Unacked());
}

void TcolPublisher::PublishState(TMeter& m, bool force) {
    m.State.LastRecord = m.Flight.Acked().Record;
    const std::string payload = StatePayload(m.State, m.Id);
    const TDateTime now = NowDateTime();
    if (payload == m.StateSent ||
        (!force && !m.StateSent.empty() && now - m.StateSentAt < kStateEvery))
        return;
    const std::string topic = MeterTopic(FOptions.Prefix, m.Id, "state");
    if (mosquitto_publish(FClient, nullptr, topic.c_str(), int(payload.size()), payload.data(), 1,
                          true) == MOSQ_ERR_SUCCESS) {
        m.StateSent = payload;
        m.StateSentAt = now;
    }
}

} // namespace qz
