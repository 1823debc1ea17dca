// Delivers the meters' journals to an MQTT broker: store and forward. The journals are the
// buffer. For each meter a durable mark says how far the broker has acknowledged; the
// publisher reads the journals past it, oldest first, and publishes each record (QoS 1) and
// each outage's begin and end. While the broker is away nothing is read and the recording
// goes on; when it returns the backlog goes out in time order, then the live records follow
// the same way. The polling threads only wake the publisher, which runs on a thread of its
// own: a slow or absent broker never holds a meter up.
#pragma once

#include "collector/colInFlight.h"
#include "collector/colLog.h"
#include "collector/colMark.h"
#include "collector/colPayload.h"

#include <condition_variable>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

struct mosquitto;

namespace qz {

struct TcolMqttOptions {
    std::string Host;
    int Port = 1883;
    bool Tls = false;     // mqtts://
    std::string CaFile;   // empty with TLS: the system's certificate authorities
    std::string CertFile; // the client's certificate and key (both or neither)
    std::string KeyFile;
    std::string User;         // empty: no user
    std::string PasswordFile; // the user's password: the file's first line
    std::string Prefix = "qzmonitor";
    std::string Name; // the collector's name in its status topic (empty: the host name)
    int KeepAliveSec = 30;
};

// "mqtt://host:port" or "mqtts://host:port" (the port may be left out: 1883, 8883).
bool ParseMqttUrl(const std::string& url, TcolMqttOptions& options, std::string& error);

class TcolPublisher {
public:
    TcolPublisher(TcolMqttOptions options, TcolLog& log);
    ~TcolPublisher();

    // Reads the password, sets the client up and starts connecting (a broker that is not
    // there yet is tried again and again). False with the operator's text.
    bool Start(std::string& error);
    // Says "offline" when it can, disconnects and writes every mark.
    void Stop();

    // A meter to deliver, by its key; its journals are in `folder`.
    void AddMeter(const std::string& key, const TcolMeterId& meter, const std::string& folder);
    void RemoveMeter(const std::string& key);
    // Something was recorded for the meter: look at its journals again. Never waits on the
    // broker.
    void Wake(const std::string& key);

private:
    struct TMeter {
        TcolMeterId Id;
        std::string Folder;
        TcolInFlight Flight; // the mark (durable once written) and what is in flight past it
        TDateTime MarkSavedAt = 0;
        TDateTime Progress = 0; // the last acknowledgement, or when nothing was in flight
        bool MarkDirty = false;
        std::vector<std::string> Done; // journals delivered whole and no longer written
        std::map<std::string, TDateTime> FirstSeen; // when each journal was first seen
        std::string LastError;
        TDateTime FailingSince = 0; // the journals could not be opened since then (0: they can)
        TcolMeterState State;
        std::string StateSent;
        TDateTime StateSentAt = 0;
        // Its journals are to be read: something was recorded, or the last reading stopped
        // short (the window full, a journal held for a moment).
        bool Due = true;
    };
    // Meters added and removed, in the order they were (a meter removed and added again
    // under a new key goes on from the mark its removal wrote).
    struct TChange {
        bool Add;
        std::string Key;
        TcolMeterId Id;
        std::string Folder;
    };
    void Run();
    void Pump(TMeter& m, bool recordersStopped = false);
    void TakeAcks();
    void SaveMarks(bool all);
    void PublishState(TMeter& m, bool force);
    bool Publish(TMeter& m, const std::string& topic, const std::string& payload,
                 const TcolMark& after);
    void Report(TMeter& m, const std::string& error);
    void Apply(const TChange& change);
    // Says once that the broker has been away too long, with the last reason known.
    void SayIfBrokerAway(bool connected, TDateTime now);

    static void OnConnect(mosquitto*, void* self, int rc);
    static void OnDisconnect(mosquitto*, void* self, int rc);
    static void OnPublish(mosquitto*, void* self, int mid);
    static void OnLog(mosquitto*, void* self, int level, const char* text);

    TcolMqttOptions FOptions;
    TcolLog& FLog;
    mosquitto* FClient = nullptr;
    bool FLoopStarted = false;
    std::thread FThread;

    // Between the client's callbacks, the meters' wakes and the publishing thread.
    mutable std::mutex FMutex;
    std::condition_variable FWake;
    bool FStop = false, FDirty = false, FConnected = false, FJustConnected = false;
    std::vector<int> FAcks;
    std::vector<TChange> FChanges;
    std::vector<std::string> FWoken;
    std::string FBrokerError; // why the broker cannot be reached, as last told

    // The publishing thread's own.
    std::map<std::string, std::unique_ptr<TMeter>> FMeters;
    std::map<int, TMeter*> FByMid;
    int FStatusMid = -1;
    TDateTime FSweptAt = 0;
    TDateTime FAwaySince = 0; // not connected since then (0: connected)
    bool FAwaySaid = false;
};

} // namespace qz
