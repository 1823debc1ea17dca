// qzcli collect with many qzsim meters over loopback, a mosquitto broker and a subscriber in
// this program: the collector's CPU share and peak RSS over the run, each meter's cadence, the
// time from a record stored (its local time in the journal) to its arrival, and, after an
// outage of the broker, the time until the backlog has arrived.
#include "collector/colPayload.h"
#include "journal/jnSeries.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/MqttBroker.h"
#include "tests/support/TcpListener.h"
#include "tests/support/TempDir.h"

#include <mosquitto.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fstream>
#include <map>
#include <mutex>
#include <thread>

using namespace qz;
using namespace qz::test;

namespace {

struct TArrivals {
    std::mutex Mutex;
    std::map<std::string, TDateTime> At; // "topic|TimeISO" -> local time of the first arrival
};

void OnMessage(mosquitto*, void* self, const mosquitto_message* m) {
    const TDateTime now = NowDateTime();
    auto* a = static_cast<TArrivals*>(self);
    const std::string p(static_cast<const char*>(m->payload), size_t(m->payloadlen));
    const size_t at = p.rfind("\"TimeISO\":\"");
    if (at == std::string::npos) return;
    const std::string key = std::string(m->topic) + "|" + p.substr(at + 11, 23);
    std::lock_guard<std::mutex> lock(a->Mutex);
    a->At.emplace(key, now);
}

struct TRecord {
    std::string Key;
    TDateTime Stored;
};

std::vector<TRecord> Recorded(const std::string& folder, const std::string& topic) {
    std::vector<std::string> files;
    if (DIR* d = opendir(folder.c_str())) {
        while (dirent* e = readdir(d)) {
            const std::string n = e->d_name;
            if (n.size() > 3 && n.substr(n.size() - 3) == ".db") files.push_back(folder + "/" + n);
        }
        closedir(d);
    }
    std::vector<TRecord> out;
    TjnSeries s;
    std::string error;
    if (files.empty() || !s.Open(files, error)) return out;
    s.ForEachRecord(
        0, 1e9,
        [&](size_t, const TjnRecordView& r) {
            out.push_back({topic + "|" + IsoLocalTime(r.MeterTime), r.LocalTime});
            return true;
        },
        error);
    return out;
}

double CpuSeconds(pid_t pid) {
    std::ifstream f("/proc/" + std::to_string(pid) + "/stat");
    std::string s((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
    const size_t close = s.rfind(')');
    std::istringstream in(s.substr(close + 2));
    std::string field;
    unsigned long long utime = 0, stime = 0;
    for (int i = 3; i <= 15 && in >> field; ++i) {
        if (i == 14) utime = std::stoull(field);
        if (i == 15) stime = std::stoull(field);
    }
    return double(utime + stime) / double(sysconf(_SC_CLK_TCK));
}

long PeakRssKb(pid_t pid) {
    std::ifstream f("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(f, line))
        if (line.rfind("VmHWM:", 0) == 0) return std::stol(line.substr(6));
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    int meters = 32, seconds = 600, outage = 300;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (!std::strcmp(argv[i], "--meters")) meters = std::atoi(argv[i + 1]);
        if (!std::strcmp(argv[i], "--seconds")) seconds = std::atoi(argv[i + 1]);
        if (!std::strcmp(argv[i], "--outage")) outage = std::atoi(argv[i + 1]);
    }
    TempDir dir("qz-bench-collect");
    const uint16_t port = UnusedLoopbackPort();
    TMqttBroker broker(QZ_MOSQUITTO_PATH, dir.Path(), port);
    if (!broker.Start()) {
        std::fprintf(stderr, "the broker did not start: %s\n", broker.Said().c_str());
        return 1;
    }

    mosquitto_lib_init();
    TArrivals arrivals;
    mosquitto* sub = mosquitto_new("qz-bench-subscriber", false, &arrivals);
    mosquitto_connect_callback_set(sub, [](mosquitto* m, void*, int rc) {
        if (rc == 0) mosquitto_subscribe(m, nullptr, "qzb/+/+/record", 1);
    });
    mosquitto_message_callback_set(sub, &OnMessage);
    mosquitto_reconnect_delay_set(sub, 1, 1, false);
    mosquitto_connect_async(sub, "127.0.0.1", port, 10);
    mosquitto_loop_start(sub);

    std::vector<std::unique_ptr<TQzsimProcess>> sims;
    std::ofstream conf(dir / "collect.conf");
    conf << "name = bench\nrecordings = " << dir.Path() << "/rec\nmqtt = mqtt://127.0.0.1:" << port
         << "\nmqtt-prefix = qzb\n";
    std::vector<std::pair<std::string, std::string>> folders; // folder, topic
    for (int i = 0; i < meters; ++i) {
        const std::string factory = std::to_string(3001 + i);
        sims.push_back(std::make_unique<TQzsimProcess>(
            QZ_QZSIM_PATH, std::vector<std::string>{"--model", "qz2m", "--address", factory,
                                                    "--listen", "127.0.0.1:0"}));
        conf << "meter = --model qz2m --factory " << factory
             << " --tcp 127.0.0.1:" << sims.back()->Port() << "\n";
        folders.push_back({dir / ("rec/qz2m_" + factory), "qzb/qz2m/" + factory + "/record"});
    }
    conf.close();
    std::this_thread::sleep_for(std::chrono::seconds(1));
    TChildProcess collector(QZ_QZCLI_PATH, {"collect", "--config", dir / "collect.conf"},
                            dir / "collect.log");
    std::this_thread::sleep_for(std::chrono::seconds(5)); // connected, past the first cycles
    const double cpu0 = CpuSeconds(collector.Pid());
    const auto t0 = std::chrono::steady_clock::now();
    std::this_thread::sleep_for(std::chrono::seconds(seconds));
    const double cpu = CpuSeconds(collector.Pid()) - cpu0;
    const double wall =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();

    // The broker away for a while, then back: how long until the backlog has arrived. It
    // stops as a service does and keeps the subscriber's session meanwhile.
    const TDateTime brokerStopped = NowDateTime();
    if (!broker.Stop())
        std::fprintf(stderr, "the broker saved no sessions: %s\n", broker.Said().c_str());
    std::this_thread::sleep_for(std::chrono::seconds(outage));
    size_t pending = 0;
    std::vector<TRecord> target;
    for (const auto& [folder, topic] : folders)
        for (auto& r : Recorded(folder, topic))
            target.push_back(r);
    const auto back = std::chrono::steady_clock::now();
    if (!broker.Start()) std::fprintf(stderr, "the broker did not start again\n");
    double drain = -1;
    for (int i = 0; i < 1200 && drain < 0; ++i) {
        {
            std::lock_guard<std::mutex> lock(arrivals.Mutex);
            pending = 0;
            for (const auto& r : target)
                if (!arrivals.At.count(r.Key)) ++pending;
        }
        if (pending == 0)
            drain = std::chrono::duration<double>(std::chrono::steady_clock::now() - back).count();
        else
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    if (pending > 0) {
        std::lock_guard<std::mutex> lock(arrivals.Mutex);
        int shown = 0;
        for (const auto& r : target)
            if (!arrivals.At.count(r.Key) && shown++ < 5)
                std::printf("missing: %s\n", r.Key.c_str());
    }
    std::printf("%s", collector.Errors().c_str());
    const long rss = PeakRssKb(collector.Pid());
    collector.Stop(SIGTERM);
    mosquitto_disconnect(sub);
    mosquitto_loop_stop(sub, false);

    // Latency of the live part and the cadence of each meter.
    std::vector<double> latency;
    int slowMeters = 0;
    size_t records = 0;
    for (const auto& [folder, topic] : folders) {
        const auto recs = Recorded(folder, topic);
        records += recs.size();
        TDateTime prev = 0;
        int gaps = 0;
        for (const auto& r : recs) {
            if (prev != 0 && (r.Stored - prev) * 86400 > 4.5 && r.Stored < target.back().Stored)
                ++gaps;
            prev = r.Stored;
            std::lock_guard<std::mutex> lock(arrivals.Mutex);
            auto it = arrivals.At.find(r.Key);
            // Only what was stored while the broker was there, before the outage.
            if (it != arrivals.At.end() && r.Stored < brokerStopped - 1.0 / 86400)
                latency.push_back((it->second - r.Stored) * 86400e3);
        }
        if (gaps > 0) ++slowMeters;
    }
    std::sort(latency.begin(), latency.end());
    auto pct = [&](double p) {
        return latency.empty() ? -1 : latency[size_t(p * (latency.size() - 1))];
    };
    std::printf("collector: %d meters, %.0f s measured, %zu records\n", meters, wall, records);
    std::printf("CPU %.2f %% of one core; peak RSS %.1f MB\n", cpu / wall * 100, rss / 1024.0);
    std::printf("meters with a stored gap over 4.5 s (before the outage ended): %d\n", slowMeters);
    std::printf("stored -> arrived: median %.1f ms, 99th percentile %.1f ms (%zu records)\n",
                pct(0.5), pct(0.99), latency.size());
    std::printf("broker away %d s: backlog of %zu records drained in %.1f s (%zu missing)\n",
                outage, target.size(), drain, pending);
    return 0;
}
