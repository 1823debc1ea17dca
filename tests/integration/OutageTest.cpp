// Unattended polling on the real clock: qzcli with --reconnect against qzsim processes that
// are killed, restarted and made to misbehave, and against a phone modem that loses its
// carrier. Each test asserts on what the meter was asked and what was printed and stored.
#include "channel/PCAComPort.h"
#include "channel/PCAType.h"
#include "connection/CcnConnectionList.h"
#include "journal/jnJournal.h"
#include "journal/jnSeries.h"
#include "protocol/KavrenCommand.h"
#include "settings/monIniFile.h"
#include "simulator/MeterResponder.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/Eventually.h"
#include "tests/support/FakeSerialDevice.h"
#include "tests/support/JournalRows.h"
#include "tests/support/MeterConnection.h"
#include "tests/support/PhoneLine.h"
#include "tests/support/TempDir.h"
#include "tools/qzcli/CliRun.h"

#include <gtest/gtest.h>
#include <sys/eventfd.h>

#include <chrono>
#include <cmath>
#include <filesystem>
#include <iostream>
#include <set>
#include <sstream>
#include <thread>

using namespace qz;
using namespace qz::test;

namespace {

using Steady = std::chrono::steady_clock;

constexpr int kTime = 15 * 256 + 1, kSettings = 14 * 256 + 1, kScale = 14 * 256 + 2,
              kRecordM = 27 * 256 + 1;
const std::vector<int> kFreshStart = {kTime, kSettings, kScale, kRecordM};

// A settings file holding one connection; its identifier. The protocol tries each request
// once and the line connects once, so that every failure is an outage of the exchange.
int32_t StoreConnection(const std::string& file, const TccnConnection& c) {
    TccnConnectionList list;
    TccnConnection copy;
    copy.Assign(c);
    EXPECT_TRUE(list.AddConnection(copy));
    TmonIniFile ini = TmonIniFile::AtPath(file);
    ini.SaveConnections(list);
    std::string error;
    EXPECT_TRUE(ini.UpdateFile(&error)) << error;
    return copy.ConID;
}

std::vector<std::string> PollArgs(const std::string& settings, int32_t id,
                                  std::vector<std::string> more) {
    std::vector<std::string> a = {"poll",   "--id",        std::to_string(id), "--settings",
                                  settings, "--reconnect", "--reconnect-max",  "3",
                                  "--json"};
    a.insert(a.end(), more.begin(), more.end());
    return a;
}

// The meter times of the JSON lines.
std::vector<double> PrintedTimes(const std::string& out) {
    std::vector<double> times;
    std::istringstream in(out);
    std::string line;
    while (std::getline(in, line)) {
        const size_t at = line.find("\"Time\":");
        if (at != std::string::npos) times.push_back(std::stod(line.substr(at + 7)));
    }
    return times;
}

std::vector<int> AskedOn(const std::vector<TSimLogRequest>& log, unsigned connection) {
    std::vector<int> asked;
    for (const auto& r : log)
        if (r.Connection == connection) asked.push_back(r.Command);
    return asked;
}

std::vector<int> Head(std::vector<int> v, size_t n) {
    v.resize(std::min(v.size(), n));
    return v;
}

bool ExitedWithZero(int status) {
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

size_t Count(const std::string& text, const std::string& what) {
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
        ++n;
    return n;
}

} // namespace

TEST(Outage, AMeterKilledAndStartedAgainIsPolledOnWithTheLossInTheJournal) {
    TempDir dir;
    auto first = std::make_unique<TQzsimProcess>(
        QZ_QZSIM_PATH, std::vector<std::string>{"--model", "qz2m", "--listen", "127.0.0.1:0",
                                                "--log", dir / "before.log"});
    const uint16_t port = first->Port();
    ASSERT_NE(port, 0);
    const std::string settings = dir / "qzmonitor.ini";
    const int32_t id = StoreConnection(settings, *TcpConnection(dtQZ2M, port, "127.0.0.1", 1, 1));
    const std::string journal = dir / "week.db";
    // Records gathered for commits of up to 10 minutes: the outage and the end commit them.
    TChildProcess cli(QZ_QZCLI_PATH,
                      PollArgs(settings, id, {"--record", journal, "--commit-every", "600"}),
                      dir / "cli.err");
    ASSERT_TRUE(cli.WaitLines(2, 30000)) << cli.Errors();

    const TDateTime killedAt = NowDateTime();
    first->Kill();
    EXPECT_TRUE(Eventually(
        [&] { return cli.Errors().find("Повтор через 3 с.") != std::string::npos; }, 15000))
        << cli.Errors();
    const size_t linesInOutage = cli.Lines();
    {
        TjnReader during;
        std::string error;
        ASSERT_EQ(during.Open(journal, error), TjnOpenResult::Ok) << error;
        EXPECT_EQ(test::JournalRecordTimes(during).size(), linesInOutage);
    }
    std::this_thread::sleep_for(std::chrono::seconds(5)); // the meter stays away
    EXPECT_EQ(cli.Lines(), linesInOutage);
    TQzsimProcess second(QZ_QZSIM_PATH,
                         {"--model", "qz2m", "--listen", "127.0.0.1:" + std::to_string(port),
                          "--log", dir / "after.log"});
    ASSERT_EQ(second.Port(), port);
    const TDateTime backAt = NowDateTime();
    ASSERT_TRUE(cli.WaitLines(linesInOutage + 2, 30000)) << cli.Errors();
    const int status = cli.Stop(SIGINT);
    EXPECT_TRUE(ExitedWithZero(status)) << status << "\n" << cli.Errors();

    // Polling resumed by itself, and started afresh: settings and coefficients again.
    EXPECT_EQ(Head(AskedOn(SimLogRequests(dir / "after.log"), 1), 4), kFreshStart);
    // The outages went to stderr with their time; every retry waited 3 s (--reconnect-max 3).
    const std::string errors = cli.Errors();
    EXPECT_GE(Count(errors, "Ошибка обмена с измерителем: "), 1u) << errors;
    EXPECT_EQ(Count(errors, "Ошибка обмена с измерителем: "), Count(errors, "Повтор через 3 с."));
    // No meter time printed or stored twice; the journal holds every printed record.
    const std::vector<double> printed = PrintedTimes(cli.Output());
    for (size_t i = 1; i < printed.size(); ++i)
        EXPECT_GT(printed[i], printed[i - 1]) << "line " << i;
    TjnReader reader;
    std::string error;
    ASSERT_EQ(reader.Open(journal, error), TjnOpenResult::Ok) << error;
    const std::vector<TDateTime> stored = test::JournalRecordTimes(reader);
    EXPECT_EQ(stored.size(), printed.size());
    EXPECT_EQ(std::set<TDateTime>(stored.begin(), stored.end()).size(), stored.size());
    // One outage row spans the loss, however many retries failed within it: from the first
    // failure after the kill to the first record after the meter's return.
    const std::vector<TjnOutageView> outages = test::JournalOutages(reader);
    ASSERT_EQ(outages.size(), 1u);
    const TjnOutageView& o = outages[0];
    constexpr double kSecond = 1.0 / 86400;
    EXPECT_GE(o.Began, killedAt - kSecond);
    EXPECT_LT(o.Began, backAt);
    EXPECT_GE(o.Ended, backAt - kSecond);
    EXPECT_NE(o.Code, 0);
    EXPECT_FALSE(o.Text.empty());
    ASSERT_GE(printed.size(), linesInOutage);
    EXPECT_NEAR(o.LastMeterTime, printed[linesInOutage - 1], 1e-3 * kSecond);
}

TEST(Outage, JournalsInSeriesSwitchAtTheMetersMidnightLosingAndDoublingNothing) {
    // The meter's clock stands a few seconds before its midnight.
    const double now = NowDateTime();
    const long secondOfDay = long((now - std::floor(now)) * 86400);
    const long offset = 86400 - secondOfDay - 7;
    TempDir dir;
    TQzsimProcess sim(QZ_QZSIM_PATH, {"--model", "qz2m", "--address", "1234", "--listen",
                                      "127.0.0.1:0", "--clock-offset", std::to_string(offset)});
    ASSERT_NE(sim.Port(), 0);
    const std::string folder = dir / "records";
    TChildProcess cli(QZ_QZCLI_PATH,
                      {"poll", "--model", "qz2m", "--factory", "1234", "--tcp",
                       "127.0.0.1:" + std::to_string(sim.Port()), "--reconnect", "--record-dir",
                       folder, "--json", "--commit-every", "600"},
                      dir / "cli.err");
    // Two records into the new day.
    ASSERT_TRUE(Eventually(
        [&] {
            const auto t = PrintedTimes(cli.Output());
            return t.size() >= 2 && t[t.size() - 2] >= std::ceil(t.front());
        },
        40000))
        << cli.Errors();
    EXPECT_TRUE(ExitedWithZero(cli.Stop(SIGINT))) << cli.Errors();

    std::vector<std::string> files;
    for (const auto& e : std::filesystem::directory_iterator(folder))
        files.push_back(e.path().string());
    std::sort(files.begin(), files.end());
    ASSERT_EQ(files.size(), 2u);
    EXPECT_EQ(std::filesystem::path(files[0]).filename().string().rfind("qz2m_1234_", 0), 0u);
    TjnSeries series;
    std::string error;
    ASSERT_TRUE(series.Open(files, error)) << error;
    std::vector<std::pair<size_t, double>> stored;
    ASSERT_TRUE(series.ForEachRecordTime(
        [&](size_t journal, int64_t, TDateTime t) {
            stored.push_back({journal, t});
            return true;
        },
        error))
        << error;
    const std::vector<double> printed = PrintedTimes(cli.Output());
    ASSERT_EQ(stored.size(), printed.size());
    for (size_t i = 0; i < stored.size(); ++i) {
        EXPECT_NEAR(stored[i].second, printed[i], 1e-9) << i;
        // Each journal holds its own day only.
        EXPECT_EQ(stored[i].first, stored[i].second < std::ceil(printed.front()) ? 0u : 1u) << i;
    }
}

TEST(Outage, ASilentAClosingAndASpoilingMeterEachEndInAnOutageAndRecover) {
    struct TRun {
        std::vector<std::string> Fault;
        size_t Records; // printed before the test is content
        std::unique_ptr<TQzsimProcess> Sim;
        std::unique_ptr<TChildProcess> Cli;
        std::string Log;
    };
    // Each connection answers six requests (two records) or spoils its sixth answer (one).
    std::vector<TRun> runs;
    runs.push_back({{"--silent-after", "6"}, 4, nullptr, nullptr, {}});
    runs.push_back({{"--close-after", "6"}, 4, nullptr, nullptr, {}});
    runs.push_back({{"--bad-check", "6"}, 3, nullptr, nullptr, {}});
    TempDir dir;
    for (size_t i = 0; i < runs.size(); ++i) {
        TRun& r = runs[i];
        r.Log = dir / ("sim" + std::to_string(i) + ".log");
        std::vector<std::string> args = {"--model",     "qz2m",  "--listen",
                                         "127.0.0.1:0", "--log", r.Log};
        args.insert(args.end(), r.Fault.begin(), r.Fault.end());
        r.Sim = std::make_unique<TQzsimProcess>(QZ_QZSIM_PATH, args);
        ASSERT_NE(r.Sim->Port(), 0);
        const std::string settings = dir / ("qzmonitor" + std::to_string(i) + ".ini");
        const int32_t id =
            StoreConnection(settings, *TcpConnection(dtQZ2M, r.Sim->Port(), "127.0.0.1", 1, 1));
        r.Cli = std::make_unique<TChildProcess>(QZ_QZCLI_PATH, PollArgs(settings, id, {}),
                                                dir / ("cli" + std::to_string(i) + ".err"));
    }
    // All three run at once; the spoilt answers end each connection within seconds, the
    // silent meter after the 5-second answer time-out.
    for (TRun& r : runs)
        EXPECT_TRUE(r.Cli->WaitLines(r.Records, 60000)) << r.Fault[0] << "\n" << r.Cli->Errors();
    // A stop during the wait after an outage ends the run at once.
    TRun& spoilt = runs[2];
    ASSERT_TRUE(Eventually(
        [&] {
            return Count(spoilt.Cli->Errors(), "Повтор через") >
                   Count(spoilt.Cli->Output(), "\n") - 1;
        },
        15000));
    std::this_thread::sleep_for(std::chrono::milliseconds(300)); // into the 3-second wait
    const auto stopAt = Steady::now();
    const int spoiltStatus = spoilt.Cli->Stop(SIGTERM);
    const long stopMs =
        long(std::chrono::duration_cast<std::chrono::milliseconds>(Steady::now() - stopAt).count());
    std::cout << "SIGTERM during the wait after an outage: qzcli ended after " << stopMs << " ms\n";
    EXPECT_TRUE(ExitedWithZero(spoiltStatus)) << spoiltStatus;
    EXPECT_LT(stopMs, 1000);

    for (TRun& r : runs) {
        if (r.Cli->Pid() > 0) {
            EXPECT_TRUE(ExitedWithZero(r.Cli->Stop(SIGTERM))) << r.Fault[0];
        }
        const std::string errors = r.Cli->Errors();
        EXPECT_GE(Count(errors, "Ошибка обмена с измерителем: "), 1u) << r.Fault[0] << errors;
        // After an outage the exchange starts afresh on a new connection: settings and
        // coefficients again.
        const auto log = SimLogRequests(r.Log);
        int fresh = 0;
        for (unsigned c = 1; c <= log.back().Connection; ++c)
            fresh += Head(AskedOn(log, c), 4) == kFreshStart;
        EXPECT_GE(fresh, 2) << r.Fault[0];
        const std::vector<double> printed = PrintedTimes(r.Cli->Output());
        for (size_t i = 1; i < printed.size(); ++i)
            EXPECT_GT(printed[i], printed[i - 1]) << r.Fault[0] << " line " << i;
    }
    EXPECT_NE(runs[0].Cli->Errors().find("Нет ответа от устройства."), std::string::npos);
}

// A phone modem on the fake serial line with the meter behind it. The carrier drops after
// the second record; the modem's redial finds no carrier, so the exchange fails: after the
// outage the line is opened again, the modem dials a third time and polling goes on.
TEST(Outage, AModemThatLosesItsCarrierDialsAgainAndPollingGoesOn) {
    auto modem = MakeReadyModem();
    TMeterResponder meter(1, 1, nullptr);
    std::mutex m;
    int dials = 0, records = 0;
    bool carrier = false, dropped = false;
    std::vector<int> askedAfterDrop;
    TRequestFramer framer(meter.Address(), meter.DeviceCode());
    modem->AddRule("+++", "0\r");
    modem->SetResponder([&](const std::string& chunk) -> std::string {
        std::lock_guard<std::mutex> lock(m);
        if (chunk.find("ATdt5551234\r") != std::string::npos) {
            ++dials;
            if (dials == 2) return "3\r"; // NO CARRIER
            carrier = true;
            framer = TRequestFramer(meter.Address(), meter.DeviceCode());
            modem->SetDCD(true);
            return "1\r"; // CONNECT
        }
        if (!carrier) return "";
        framer.Push(reinterpret_cast<const uint8_t*>(chunk.data()), chunk.size());
        std::string out;
        std::vector<uint8_t> frame;
        while (framer.Next(frame)) {
            TKavrenHeader h;
            if (!ReadKavrenHeader(frame.data(), frame.size(), h)) continue;
            if (dropped) askedAfterDrop.push_back(h.Cmd * 256 + h.Cmd1);
            if (const auto answer = meter.Answer(frame)) out.append(answer->begin(), answer->end());
            if (h.Cmd == 27 && ++records == 2 && !dropped) {
                // The call breaks right after this answer.
                dropped = true;
                carrier = false;
                modem->Send(out);
                modem->SetDCD(false);
                return "";
            }
        }
        return out;
    });
    SetDefaultSerialDeviceFactory(modem->Factory());
    SetDefaultComPortTimings(ScriptedModemTimings());
    SetDefaultPCASleeper([](uint32_t) {});

    TempDir dir;
    TccnConnection c;
    auto device = CreateDevice(dtQZ2M);
    device->SetFactoryNum(1);
    c.SetCustomDevice(std::move(device));
    auto protocol = std::make_unique<TccnKavrenProtocol>();
    protocol->SetDeviceAddress(1);
    protocol->SetMaxAttemptCount(1);
    c.SetCustomDeviceProtocol(std::move(protocol));
    auto mode = std::make_unique<TccnPhoneModem232ConMode>();
    mode->ComPortInterface().SetPortName("COM7");
    mode->ComPortInterface().SetBaudrate(9600);
    mode->PhoneModem().SetPhoneNumber("5551234");
    mode->SetMaxAttemptCountOnConnect(1);
    c.SetCustomConMode(std::move(mode));
    TCliOptions o;
    std::string parseError;
    ASSERT_TRUE(
        ParseCliArgs(PollArgs(dir / "qzmonitor.ini", StoreConnection(dir / "qzmonitor.ini", c), {}),
                     o, parseError))
        << parseError;

    const int stop = eventfd(0, EFD_CLOEXEC);
    std::ostringstream out, err;
    int rc = -1;
    std::thread poll([&] { rc = RunPoll(o, out, err, stop); });
    const bool recovered = Eventually(
        [&] {
            std::lock_guard<std::mutex> lock(m);
            return records >= 6;
        },
        60000);
    const uint64_t one = 1;
    (void)!write(stop, &one, sizeof one);
    poll.join();
    close(stop);
    SetDefaultSerialDeviceFactory({});
    SetDefaultComPortTimings({});
    SetDefaultPCASleeper({});

    EXPECT_TRUE(recovered) << err.str();
    EXPECT_EQ(rc, 0) << err.str();
    const std::string written = modem->Written();
    EXPECT_EQ(Count(written, "ATdt5551234\r"), 3u);
    EXPECT_GE(Count(written, "+++"), 1u) << "the broken call was hung up";
    EXPECT_NE(err.str().find("Ошибка обмена с измерителем: "), std::string::npos) << err.str();
    EXPECT_NE(err.str().find("Повтор через 3 с."), std::string::npos) << err.str();
    std::lock_guard<std::mutex> lock(m);
    EXPECT_EQ(Head(askedAfterDrop, 4), kFreshStart);
    // At most two records came before the drop (the second may be lost with the carrier).
    EXPECT_GE(PrintedTimes(out.str()).size(), 4u);
}
