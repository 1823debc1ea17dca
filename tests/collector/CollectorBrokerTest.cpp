// qzcli collect as the operator runs it: qzsim meters on loopback, a real mosquitto broker
// started on a free port, and a subscriber that keeps every message. What the journals hold
// is compared with what arrived: every record, in order per meter, through a broker that
// goes away and a collector that is killed.
#include "collector/colPayload.h"
#include "journal/jnSeries.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/EnvGuard.h"
#include "tests/support/Eventually.h"
#include "tests/support/Files.h"
#include "tests/support/MqttBroker.h"
#include "tests/support/PtyBus.h"
#include "tests/support/TcpListener.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>
#include <mosquitto.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <dirent.h>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <unistd.h>

namespace qz {
namespace {

using test::Eventually;
using test::TChildProcess;
using test::TempDir;
using test::TMqttBroker;
using test::TQzsimProcess;

const std::string kPrefix = "qzt";

// The subscriber: a persistent session (QoS 1), so what the broker takes while it is away
// waits for it.
class TSubscriber {
public:
    struct TMessage {
        std::string Topic, Payload;
        bool Retained;
    };
    // With `tls`, over TLS with the authority and client certificate of that folder (ca.crt,
    // client.crt, client.key); with `user`, with that user's password.
    explicit TSubscriber(uint16_t port, const std::string& tls = {}, const std::string& user = {},
                         const std::string& password = {}) {
        mosquitto_lib_init();
        FClient = mosquitto_new("qz-test-subscriber", false, this);
        if (!tls.empty())
            mosquitto_tls_set(FClient, (tls + "/ca.crt").c_str(), nullptr,
                              (tls + "/client.crt").c_str(), (tls + "/client.key").c_str(),
                              nullptr);
        if (!user.empty()) mosquitto_username_pw_set(FClient, user.c_str(), password.c_str());
        mosquitto_connect_callback_set(FClient, [](mosquitto* m, void*, int rc) {
            if (rc == 0) mosquitto_subscribe(m, nullptr, (kPrefix + "/#").c_str(), 1);
        });
        mosquitto_message_callback_set(FClient, [](mosquitto*, void* self,
                                                   const mosquitto_message* m) {
            auto* s = static_cast<TSubscriber*>(self);
            std::lock_guard<std::mutex> lock(s->FMutex);
            s->FMessages.push_back(
                {m->topic, std::string(static_cast<const char*>(m->payload), size_t(m->payloadlen)),
                 m->retain});
        });
        mosquitto_reconnect_delay_set(FClient, 1, 1, false);
        mosquitto_connect_async(FClient, "127.0.0.1", port, 10);
        mosquitto_loop_start(FClient);
    }
    ~TSubscriber() {
        mosquitto_disconnect(FClient);
        mosquitto_loop_stop(FClient, false);
        mosquitto_destroy(FClient);
    }
    std::vector<TMessage> Messages() {
        std::lock_guard<std::mutex> lock(FMutex);
        return FMessages;
    }
    // The record times (TimeISO) of one meter as they arrived.
    std::vector<std::string> RecordTimes(const std::string& meter) {
        std::vector<std::string> out;
        for (const auto& m : Messages())
            if (m.Topic == kPrefix + "/" + meter + "/record")
                out.push_back(Field(m.Payload, "TimeISO"));
        return out;
    }
    std::vector<std::string> Payloads(const std::string& topic) {
        std::vector<std::string> out;
        for (const auto& m : Messages())
            if (m.Topic == topic) out.push_back(m.Payload);
        return out;
    }
    static std::string Field(const std::string& json, const std::string& name) {
        const std::string key = "\"" + name + "\":\"";
        const size_t at = json.rfind(key);
        if (at == std::string::npos) return {};
        const size_t from = at + key.size();
        return json.substr(from, json.find('"', from) - from);
    }

private:
    mosquitto* FClient;
    std::mutex FMutex;
    std::vector<TMessage> FMessages;
};

// The record times every journal of a meter's folder holds, oldest first.
std::vector<std::string> JournalTimes(const std::string& folder) {
    std::vector<std::string> files, out;
    if (DIR* d = opendir(folder.c_str())) {
        while (dirent* e = readdir(d)) {
            const std::string n = e->d_name;
            if (n.size() > 3 && n.substr(n.size() - 3) == ".db") files.push_back(folder + "/" + n);
        }
        closedir(d);
    }
    TjnSeries s;
    std::string error;
    if (files.empty() || !s.Open(files, error)) return out;
    s.ForEachRecordTime(
        [&](size_t, int64_t, TDateTime t) {
            out.push_back(IsoLocalTime(t));
            return true;
        },
        error);
    return out;
}

// Every record of the journal arrived, and the first arrival of each is in time order
// (QoS 1 may deliver one again after a loss: a repeat is no disorder). A record the meter
// gave twice, before and after a restart of the collector, is one record.
void ExpectDelivered(const std::vector<std::string>& journal,
                     const std::vector<std::string>& arrived, const std::string& meter) {
    std::set<std::string> seen;
    std::string last;
    for (const auto& t : arrived) {
        if (!seen.insert(t).second) continue;
        EXPECT_LT(last, t) << meter << ": out of order";
        last = t;
    }
    const std::set<std::string> recorded(journal.begin(), journal.end());
    EXPECT_EQ(seen, recorded) << meter << ": " << recorded.size() << " recorded, " << seen.size()
                              << " arrived";
}

// Whether every record of the journals has arrived.
bool AllArrived(TSubscriber& sub, const std::vector<std::string>& names,
                const std::vector<std::string>& folders) {
    for (size_t i = 0; i < names.size(); ++i) {
        const auto arrived = sub.RecordTimes(names[i]);
        const std::set<std::string> seen(arrived.begin(), arrived.end());
        for (const auto& t : JournalTimes(folders[i]))
            if (!seen.count(t)) return false;
    }
    return true;
}

// No step between neighbouring records longer than two intervals: the polling went on
// whatever the broker did.
int LongGaps(const std::vector<std::string>& times) {
    int gaps = 0;
    for (size_t i = 1; i < times.size(); ++i) {
        auto secs = [](const std::string& s) {
            return std::stoi(s.substr(11, 2)) * 3600 + std::stoi(s.substr(14, 2)) * 60 +
                   std::stoi(s.substr(17, 2));
        };
        if (secs(times[i]) - secs(times[i - 1]) > 6) ++gaps;
    }
    return gaps;
}

struct TMeters {
    std::vector<std::unique_ptr<TQzsimProcess>> Sims; // null for a pseudo-terminal
    std::vector<std::unique_ptr<TChildProcess>> PtySims;
    std::vector<std::string> Lines; // where each is, as the configuration says it
    std::vector<std::string> Ports; // the TCP port ("" for a pseudo-terminal)
    std::vector<std::string> Names; // "qz2m/1002"
    std::vector<std::string> Folders;
};

// `count` meters of the four models, factory numbers from 1001; those from `ptyFrom` on a
// pseudo-terminal that the COM port of the same number leads to (the collector must run with
// XDG_DATA_HOME at `dir`/xdg), the others on TCP.
TMeters StartMeters(int count, const TempDir& dir, int ptyFrom = 1 << 30) {
    TMeters m;
    static const char* const kModels[] = {"qz2", "qz2m", "qz2c", "qz2a"};
    for (int i = 0; i < count; ++i) {
        const std::string model = kModels[i % 4], factory = std::to_string(1001 + i);
        std::vector<std::string> args = {"--model", model, "--address", factory};
        const std::string com = std::to_string(i + 1);
        if (i >= ptyFrom) {
            std::filesystem::create_directories(dir / "xdg/VQ/ports");
            args.insert(args.end(), {"--pty", dir / ("xdg/VQ/ports/com" + com)});
        } else {
            args.insert(args.end(), {"--listen", "127.0.0.1:0"});
        }
        std::string port;
        if (i >= ptyFrom) {
            m.PtySims.push_back(std::make_unique<TChildProcess>(QZ_QZSIM_PATH, args));
            m.PtySims.back()->WaitLines(1, 10000);
            m.Sims.emplace_back();
        } else {
            m.Sims.push_back(std::make_unique<TQzsimProcess>(QZ_QZSIM_PATH, args));
            port = std::to_string(m.Sims.back()->Port());
        }
        m.Ports.push_back(port);
        m.Lines.push_back("--model " + model + " --factory " + factory +
                          (port.empty() ? " --com COM" + com : " --tcp 127.0.0.1:" + port));
        m.Names.push_back(model + "/" + factory);
        m.Folders.push_back(dir / ("rec/" + model + "_" + factory));
    }
    return m;
}

// `mqttLines`: the broker's settings beyond its address (TLS, a user), with `scheme` mqtts.
std::string WriteConfig(const TempDir& dir, const TMeters& m, uint16_t brokerPort,
                        const std::string& scheme = "mqtt", const std::string& mqttLines = {}) {
    const std::string file = dir / "collect.conf";
    std::ofstream f(file);
    f << "# test collector\nname = t\nrecordings = " << dir.Path() << "/rec\n"
      << "reconnect-max = 3\nmqtt = " << scheme << "://127.0.0.1:" << brokerPort
      << "\nmqtt-prefix = " << kPrefix << "\n"
      << mqttLines;
    for (const auto& line : m.Lines)
        f << "meter = " << line << "\n";
    return file;
}

std::unique_ptr<TChildProcess> StartCollector(const std::string& config, const std::string& log) {
    return std::make_unique<TChildProcess>(
        QZ_QZCLI_PATH, std::vector<std::string>{"collect", "--config", config}, log);
}

// SIGTERM ends the collector cleanly and soon; its status.
int Terminate(TChildProcess& collector) {
    // TChildProcess::Stop waits for the process.
    const auto start = std::chrono::steady_clock::now();
    const int status = collector.Stop(SIGTERM);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
    return status;
}

bool AllHave(TSubscriber& sub, const TMeters& m, size_t records) {
    for (const auto& n : m.Names)
        if (sub.RecordTimes(n).size() < records) return false;
    return true;
}

// Eight meters through a broker that stops and starts again, one meter that is killed and
// started again meanwhile.
TEST(CollectorBroker, EightMetersThroughABrokerOutage) {
    TempDir dir("qz-collect");
    TMqttBroker broker(QZ_MOSQUITTO_PATH, dir.Path(), test::UnusedLoopbackPort());
    ASSERT_TRUE(broker.Start()) << broker.Said();
    TSubscriber sub(broker.Port());
    // Four over TCP, four over pseudo-terminals.
    TMeters meters = StartMeters(8, dir, 4);
    for (const auto& p : meters.Ports)
        ASSERT_NE(p, "0");
    test::EnvGuard xdg("XDG_DATA_HOME", dir / "xdg");
    auto collector = StartCollector(WriteConfig(dir, meters, broker.Port()), dir / "collect.log");
    ASSERT_TRUE(Eventually([&] { return AllHave(sub, meters, 2); }, 30000)) << collector->Errors();

    // One meter goes away: its outage is said, the others go on.
    const size_t lostIndex = 3;
    const std::string lost = meters.Names[lostIndex];
    meters.Sims[lostIndex]->Kill();
    const std::string outageTopic = kPrefix + "/" + lost + "/outage";
    ASSERT_TRUE(Eventually([&] { return !sub.Payloads(outageTopic).empty(); }, 15000))
        << collector->Errors();
    EXPECT_NE(sub.Payloads(outageTopic)[0].find("\"Event\":\"begin\""), std::string::npos);
    meters.Sims[lostIndex] = std::make_unique<TQzsimProcess>(
        QZ_QZSIM_PATH, std::vector<std::string>{"--model", "qz2a", "--address", "1004", "--listen",
                                                "127.0.0.1:" + meters.Ports[lostIndex]});

    // The broker stops for a while; the meters record on. It keeps the subscriber's session
    // meanwhile, as a broker in service does: what the collector sends before the subscriber
    // is back waits for it.
    ASSERT_TRUE(broker.Stop()) << "the broker saved no sessions: " << broker.Said();
    std::vector<size_t> before;
    for (const auto& f : meters.Folders)
        before.push_back(JournalTimes(f).size());
    ASSERT_TRUE(Eventually(
        [&] {
            for (size_t i = 0; i < meters.Folders.size(); ++i)
                if (i != lostIndex && JournalTimes(meters.Folders[i]).size() < before[i] + 2)
                    return false;
            return true;
        },
        20000))
        << "recording stopped with the broker";
    ASSERT_TRUE(broker.Start()) << broker.Said();

    // The backlog arrives, the restarted meter's outage ends, and the live records follow.
    std::vector<size_t> recorded;
    for (const auto& f : meters.Folders)
        recorded.push_back(JournalTimes(f).size());
    ASSERT_TRUE(Eventually(
        [&] {
            for (size_t i = 0; i < meters.Names.size(); ++i)
                if (sub.RecordTimes(meters.Names[i]).size() < recorded[i] + 1) return false;
            return sub.Payloads(outageTopic).size() >= 2;
        },
        40000))
        << collector->Errors();
    EXPECT_EQ(Terminate(*collector), 0);
    // The last records went out at the stop.
    EXPECT_TRUE(Eventually([&] { return AllArrived(sub, meters.Names, meters.Folders); }, 5000));

    for (size_t i = 0; i < meters.Names.size(); ++i) {
        const auto journal = JournalTimes(meters.Folders[i]);
        ExpectDelivered(journal, sub.RecordTimes(meters.Names[i]), meters.Names[i]);
        if (i != lostIndex) {
            EXPECT_EQ(LongGaps(journal), 0) << meters.Names[i] << " lost its cadence";
            EXPECT_TRUE(sub.Payloads(kPrefix + "/" + meters.Names[i] + "/outage").empty())
                << meters.Names[i] << " was disturbed";
        }
        EXPECT_FALSE(sub.Payloads(kPrefix + "/" + meters.Names[i] + "/state").empty());
    }
    const auto outages = sub.Payloads(outageTopic);
    EXPECT_NE(outages.back().find("\"Event\":\"end\""), std::string::npos);
    const auto status = sub.Payloads(kPrefix + "/collector/t/status");
    ASSERT_FALSE(status.empty());
    EXPECT_EQ(status.front(), "online");
    EXPECT_EQ(status.back(), "offline");
}

// A collector killed outright goes on from its mark when started again: nothing missing,
// and only the last moments before the kill sent twice.
TEST(CollectorBroker, KilledCollectorResumesFromItsMark) {
    TempDir dir("qz-collect");
    TMqttBroker broker(QZ_MOSQUITTO_PATH, dir.Path(), test::UnusedLoopbackPort());
    ASSERT_TRUE(broker.Start()) << broker.Said();
    TSubscriber sub(broker.Port());
    TMeters meters = StartMeters(2, dir);
    const std::string config = WriteConfig(dir, meters, broker.Port());
    auto collector = StartCollector(config, dir / "collect.log");
    ASSERT_TRUE(Eventually([&] { return AllHave(sub, meters, 3); }, 30000)) << collector->Errors();
    collector->Stop(SIGKILL);
    std::vector<size_t> delivered;
    for (const auto& n : meters.Names)
        delivered.push_back(sub.RecordTimes(n).size());
    // The last will says the collector vanished.
    ASSERT_TRUE(Eventually(
        [&] {
            const auto s = sub.Payloads(kPrefix + "/collector/t/status");
            return !s.empty() && s.back() == "offline";
        },
        60000));
    collector = StartCollector(config, dir / "collect2.log");
    ASSERT_TRUE(Eventually([&] { return AllHave(sub, meters, delivered[0] + 3); }, 30000))
        << collector->Errors();
    EXPECT_EQ(Terminate(*collector), 0);
    EXPECT_TRUE(Eventually([&] { return AllArrived(sub, meters.Names, meters.Folders); }, 5000));
    for (size_t i = 0; i < meters.Names.size(); ++i) {
        const auto arrived = sub.RecordTimes(meters.Names[i]);
        ExpectDelivered(JournalTimes(meters.Folders[i]), arrived, meters.Names[i]);
        const size_t repeats =
            arrived.size() - std::set<std::string>(arrived.begin(), arrived.end()).size();
        EXPECT_LT(repeats, delivered[i]) << "started again from the beginning, not from the mark";
    }
}

// SIGHUP: the meter added starts, the one removed stops, and the one kept goes on over the
// connection it had, as its request log shows.
TEST(CollectorBroker, ReloadStartsAddedStopsRemovedKeepsTheRest) {
    TempDir dir("qz-collect");
    TMqttBroker broker(QZ_MOSQUITTO_PATH, dir.Path(), test::UnusedLoopbackPort());
    ASSERT_TRUE(broker.Start()) << broker.Said();
    TSubscriber sub(broker.Port());
    std::vector<std::unique_ptr<TQzsimProcess>> sims;
    for (int i = 0; i < 3; ++i)
        sims.push_back(std::make_unique<TQzsimProcess>(
            QZ_QZSIM_PATH,
            std::vector<std::string>{"--model", "qz2m", "--address", std::to_string(2001 + i),
                                     "--listen", "127.0.0.1:0", "--log",
                                     dir / ("sim" + std::to_string(i) + ".log")}));
    auto meterLine = [&](int i) {
        return "meter = --model qz2m --factory " + std::to_string(2001 + i) +
               " --tcp 127.0.0.1:" + std::to_string(sims[size_t(i)]->Port()) + "\n";
    };
    const std::string config = dir / "collect.conf";
    const std::string head = "name = t\nrecordings = " + dir.Path() +
                             "/rec\nmqtt = mqtt://127.0.0.1:" + std::to_string(broker.Port()) +
                             "\nmqtt-prefix = " + kPrefix + "\n";
    std::ofstream(config) << head << meterLine(0) << meterLine(1);
    TChildProcess collector(QZ_QZCLI_PATH, {"collect", "--config", config}, dir / "collect.log");
    ASSERT_TRUE(Eventually(
        [&] {
            return sub.RecordTimes("qz2m/2001").size() >= 2 &&
                   sub.RecordTimes("qz2m/2002").size() >= 2;
        },
        30000))
        << collector.Errors();

    // A faulty file changes nothing.
    std::ofstream(config) << head << meterLine(0) << "meter = --id\n";
    kill(collector.Pid(), SIGHUP);
    ASSERT_TRUE(Eventually([&] { return collector.Errors().find("Строка 6") != std::string::npos; },
                           10000));

    std::ofstream(config) << head << meterLine(0) << meterLine(2);
    kill(collector.Pid(), SIGHUP);
    ASSERT_TRUE(Eventually([&] { return sub.RecordTimes("qz2m/2003").size() >= 2; }, 30000))
        << collector.Errors();
    const size_t removedAsked = test::SimLogRequests(dir / "sim1.log").size();
    const size_t keptRecords = sub.RecordTimes("qz2m/2001").size();
    ASSERT_TRUE(
        Eventually([&] { return sub.RecordTimes("qz2m/2001").size() >= keptRecords + 2; }, 15000));
    EXPECT_EQ(Terminate(collector), 0);

    EXPECT_EQ(test::SimLogRequests(dir / "sim1.log").size(), removedAsked)
        << "the meter removed was still polled";
    const auto kept = test::SimLogRequests(dir / "sim0.log");
    ASSERT_FALSE(kept.empty());
    for (const auto& r : kept)
        EXPECT_EQ(r.Connection, kept.front().Connection) << "the meter kept was connected anew";
    EXPECT_EQ(LongGaps(JournalTimes(dir / "rec/qz2m_2001")), 0);
    EXPECT_TRUE(sub.Payloads(kPrefix + "/qz2m/2001/outage").empty());
}

// Two meters on one serial line (one bus, two addresses): the collector polls them in turn on
// it, each at its cadence, as their request logs show, and records and publishes both.
TEST(CollectorBroker, TwoMetersShareOneSerialLine) {
    TempDir dir("qz-collect");
    TMqttBroker broker(QZ_MOSQUITTO_PATH, dir.Path(), test::UnusedLoopbackPort());
    ASSERT_TRUE(broker.Start()) << broker.Said();
    TSubscriber sub(broker.Port());
    const std::vector<std::string> names = {"qz2m/1011", "qz2m/1012"};
    std::vector<std::unique_ptr<TQzsimProcess>> sims;
    std::vector<uint16_t> ports;
    for (const char* address : {"1011", "1012"}) {
        sims.push_back(std::make_unique<TQzsimProcess>(
            QZ_QZSIM_PATH, std::vector<std::string>{"--model", "qz2m", "--address", address,
                                                    "--listen", "127.0.0.1:0", "--log",
                                                    dir / (address + std::string(".log"))}));
        ports.push_back(sims.back()->Port());
    }
    std::filesystem::create_directories(dir / "xdg/VQ/ports");
    test::TPtyBus bus(dir / "xdg/VQ/ports/com5", ports);
    ASSERT_TRUE(bus.Ok());
    test::EnvGuard xdg("XDG_DATA_HOME", dir / "xdg");
    const std::string config = dir / "collect.conf";
    std::ofstream(config) << "name = t\nrecordings = " << dir.Path()
                          << "/rec\nmqtt = mqtt://127.0.0.1:" << broker.Port()
                          << "\nmqtt-prefix = " << kPrefix << "\n"
                          << "meter = --model qz2m --factory 1011 --com COM5\n"
                          << "meter = --model qz2m --factory 1012 --com COM5\n";
    auto collector = StartCollector(config, dir / "collect.log");
    ASSERT_TRUE(Eventually(
        [&] {
            return sub.RecordTimes(names[0]).size() >= 5 && sub.RecordTimes(names[1]).size() >= 5;
        },
        40000))
        << collector->Errors();
    EXPECT_EQ(Terminate(*collector), 0);
    EXPECT_TRUE(Eventually(
        [&] {
            return AllArrived(sub, names, {dir / "rec/qz2m_1011", dir / "rec/qz2m_1012"});
        },
        5000));

    // Each meter's 3-second records, asked on the one line: after the first (on connecting)
    // and the next (which may wait for the other meter's connecting), one every 3 s for each,
    // no cycle missed, and both in each cycle, one after the other.
    const int kRecordM = 27 * 256 + 1;
    std::vector<std::vector<double>> asked(2);
    for (size_t i = 0; i < 2; ++i)
        for (const auto& r : test::SimLogRequests(dir / (names[i].substr(5) + ".log")))
            if (r.Command == kRecordM) asked[i].push_back(r.Seconds);
    for (size_t i = 0; i < 2; ++i) {
        const auto& a = asked[i];
        const auto& other = asked[1 - i];
        ASSERT_GE(a.size(), 5u) << names[i];
        EXPECT_NEAR((a.back() - a[2]) / double(a.size() - 3), 3.0, 0.5) << names[i];
        for (size_t k = 1; k < a.size(); ++k)
            EXPECT_LT(a[k] - a[k - 1], 6.0) << names[i] << " missed a cycle";
        // The last cycle may have been cut by the stop between the two.
        for (size_t k = 2; k + 1 < a.size(); ++k)
            EXPECT_TRUE(std::any_of(other.begin(), other.end(),
                                    [&](double t) { return std::abs(t - a[k]) < 1.5; }))
                << names[i] << " asked alone in its cycle " << k;
        const auto journal = JournalTimes(dir / ("rec/qz2m_" + names[i].substr(5)));
        EXPECT_EQ(LongGaps(journal), 0) << names[i];
        ExpectDelivered(journal, sub.RecordTimes(names[i]), names[i]);
    }
}

// A certificate authority of the test's own, the broker's certificate for 127.0.0.1, a client
// certificate and a password file of two users, as a broker in service has them; the
// listener's lines: it wants a client certificate and a user.
std::string TlsListener(const TempDir& dir) {
    const std::string d = dir.Path();
    const std::string script =
        "cd '" + d +
        "' && { printf 'subjectAltName=IP:127.0.0.1\\n' >san.ext &&"
        " openssl req -x509 -newkey rsa:2048 -nodes -keyout ca.key -out ca.crt -days 2"
        " -subj /CN=qz-test-ca &&"
        " openssl req -newkey rsa:2048 -nodes -keyout server.key -out server.csr"
        " -subj /CN=127.0.0.1 &&"
        " openssl x509 -req -in server.csr -CA ca.crt -CAkey ca.key -CAcreateserial"
        " -out server.crt -days 2 -extfile san.ext &&"
        " openssl req -newkey rsa:2048 -nodes -keyout client.key -out client.csr"
        " -subj /CN=qz-collector &&"
        " openssl x509 -req -in client.csr -CA ca.crt -CAkey ca.key -CAcreateserial"
        " -out client.crt -days 2 &&"
        " mosquitto_passwd -b -c passwd collector 's7 secret' &&"
        " mosquitto_passwd -b passwd reader reader; } >tls.log 2>&1";
    if (std::system(script.c_str()) != 0) return {};
    return "cafile " + d + "/ca.crt\ncertfile " + d + "/server.crt\nkeyfile " + d +
           "/server.key\nrequire_certificate true\nallow_anonymous false\npassword_file " + d +
           "/passwd\n";
}

// Over TLS to a broker that wants a client certificate, a user and a password, read from a
// file. A certificate not
// trusted and a wrong password are each said and cost no record: what the meter gave
// meanwhile goes out once the settings are right.
TEST(CollectorBroker, TlsWithAPasswordFromAFile) {
    TempDir dir("qz-collect");
    const std::string listener = TlsListener(dir);
    ASSERT_FALSE(listener.empty()) << test::ReadFileBytes(dir / "tls.log");
    TMqttBroker broker(QZ_MOSQUITTO_PATH, dir.Path(), test::UnusedLoopbackPort(), listener);
    ASSERT_TRUE(broker.Start()) << broker.Said();
    TSubscriber sub(broker.Port(), dir.Path(), "reader", "reader");
    TMeters meters = StartMeters(1, dir);
    const std::string passwordFile = dir / "mqtt-password";
    std::ofstream(passwordFile) << "wrong\n";
    const std::string user = "mqtt-cert = " + dir / "client.crt" +
                             "\nmqtt-key = " + dir / "client.key" +
                             "\nmqtt-user = collector\nmqtt-password-file = " + passwordFile + "\n";

    // Without its authority the broker's certificate is not trusted.
    auto collector = StartCollector(WriteConfig(dir, meters, broker.Port(), "mqtts", user),
                                    dir / "collect0.log");
    ASSERT_TRUE(Eventually(
        [&] {
            const std::string said = collector->Errors();
            return said.find("Нет связи с брокером MQTT") != std::string::npos &&
                   said.find("certificate verify failed") != std::string::npos;
        },
        20000))
        << collector->Errors();
    EXPECT_EQ(Terminate(*collector), 0);

    const std::string config =
        WriteConfig(dir, meters, broker.Port(), "mqtts", "mqtt-ca = " + dir / "ca.crt\n" + user);
    collector = StartCollector(config, dir / "collect.log");
    ASSERT_TRUE(Eventually(
        [&] {
            return collector->Errors().find("Брокер MQTT отказал в подключении") !=
                       std::string::npos &&
                   JournalTimes(meters.Folders[0]).size() >= 2;
        },
        20000))
        << collector->Errors();
    EXPECT_EQ(Terminate(*collector), 0);
    EXPECT_TRUE(sub.RecordTimes(meters.Names[0]).empty());

    std::ofstream(passwordFile) << "s7 secret\n";
    collector = StartCollector(config, dir / "collect2.log");
    ASSERT_TRUE(Eventually([&] { return AllHave(sub, meters, 4); }, 30000))
        << collector->Errors() << broker.Said();
    EXPECT_EQ(Terminate(*collector), 0);
    EXPECT_TRUE(Eventually([&] { return AllArrived(sub, meters.Names, meters.Folders); }, 5000));
    ExpectDelivered(JournalTimes(meters.Folders[0]), sub.RecordTimes(meters.Names[0]),
                    meters.Names[0]);
}

// A meter on a COM port whose device is not there (its USB adapter unplugged): its outage
// names the device, and the collector records without a broker.
TEST(CollectorBroker, MissingSerialDeviceIsNamed) {
    TempDir dir("qz-collect");
    std::filesystem::create_directories(dir / "xdg/VQ/ports");
    const std::string port = dir / "xdg/VQ/ports/com9";
    ASSERT_EQ(symlink((dir / "unplugged").c_str(), port.c_str()), 0);
    const std::string config = dir / "com.conf";
    std::ofstream(config) << "recordings = " << dir.Path() << "/rec\n"
                          << "meter = --model qz2m --factory 5 --com COM9\n";
    test::EnvGuard xdg("XDG_DATA_HOME", dir / "xdg");
    TChildProcess collector(QZ_QZCLI_PATH, {"collect", "--config", config}, dir / "err.log");
    EXPECT_TRUE(Eventually(
        [&] {
            return collector.Errors().find("Ошибка обмена с измерителем: ") != std::string::npos &&
                   collector.Errors().find("Повтор через") != std::string::npos;
        },
        10000));
    EXPECT_EQ(Terminate(collector), 0);
    EXPECT_NE(collector.Errors().find("Устройство " + port + " не найдено. Повтор через 3 с."),
              std::string::npos)
        << collector.Errors();
}

// A configuration with a fault starts nothing and names the line.
TEST(CollectorBroker, FaultyConfigurationStartsNothing) {
    TempDir dir("qz-collect");
    const std::string config = dir / "bad.conf";
    std::ofstream(config) << "recordings = " << dir.Path() << "/rec\n"
                          << "meter = --model qz2m --factory 1 --tcp 127.0.0.1:1\n"
                          << "meter = --model qz2m --factory 1 --tcp 127.0.0.1:2\n";
    TChildProcess collector(QZ_QZCLI_PATH, {"collect", "--config", config}, dir / "err.log");
    EXPECT_TRUE(Eventually([&] { return !collector.Errors().empty(); }, 10000));
    const int status = collector.Stop(0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 2);
    EXPECT_NE(collector.Errors().find("Строка 3: измеритель qz2m 1 уже задан в строке 2"),
              std::string::npos)
        << collector.Errors();
    EXPECT_FALSE(std::ifstream(dir / "rec").good()) << "a folder was made";
}

} // namespace
} // namespace qz
