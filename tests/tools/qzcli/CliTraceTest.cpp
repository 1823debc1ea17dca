// qzcli and the line: the trace file of a poll, the connection's progress on stderr, and
// the link figures of each JSON record, checked against what the simulator was asked.
#include "tools/qzcli/CliTrace.h"
#include "channel/PCAType.h"
#include "tests/support/ChannelGuards.h"
#include "tests/support/CliPollOptions.h"
#include "tests/support/Files.h"
#include "tests/support/TcpListener.h"
#include "tests/tools/qzcli/CliTestSupport.h"
#include "tools/qzcli/CliOptions.h"
#include "tools/qzcli/CliRun.h"

#include <cstdlib>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <sstream>
#include <sys/eventfd.h>
#include <thread>
#include <unistd.h>

using namespace qz;
using clitest::Lines;
using clitest::TempDir;

namespace {

using TBytes = std::vector<uint8_t>;

TBytes HexBytes(std::istream& in) {
    TBytes out;
    std::string b;
    while (in >> b && b.size() == 2)
        out.push_back(uint8_t(std::stoul(b, nullptr, 16)));
    return out;
}

// The requests ("<-") or answers ("->") of the simulator's log, in order.
std::vector<TBytes> Logged(const std::string& logFile, const std::string& arrow) {
    std::vector<TBytes> out;
    std::ifstream in(logFile);
    std::string line;
    while (std::getline(in, line)) {
        const auto at = line.find(" " + arrow + " ");
        if (at == std::string::npos) continue;
        std::istringstream hex(line.substr(at + 4));
        out.push_back(HexBytes(hex));
    }
    return out;
}

struct TDump {
    std::string Direction; // TX or RX
    TBytes Bytes;
};

// The dumps of a trace, each put back together from its 16-byte lines.
std::vector<TDump> Dumps(const std::vector<std::string>& trace) {
    std::vector<TDump> out;
    for (const auto& line : trace) {
        std::istringstream in(line);
        std::string date, time, cls, handle, dir, offset;
        if (!(in >> date >> time >> cls >> handle >> dir >> offset) || cls != "DUMP") continue;
        if (offset.size() != 5 || offset.back() != ':') continue; // the "first N of M" note
        if (offset == "0000:" || out.empty() || out.back().Direction != dir)
            out.push_back({dir, {}});
        const TBytes bytes = HexBytes(in);
        out.back().Bytes.insert(out.back().Bytes.end(), bytes.begin(), bytes.end());
    }
    return out;
}

size_t Find(const std::vector<std::string>& lines, const std::string& text, size_t from = 0) {
    for (size_t i = from; i < lines.size(); ++i)
        if (lines[i].find(text) != std::string::npos) return i;
    return std::string::npos;
}

uint64_t LinkValue(const std::string& json, const std::string& key) {
    const auto link = json.find("\"Link\":{");
    if (link == std::string::npos) return UINT64_MAX;
    const auto k = json.find("\"" + key + "\":", link);
    if (k == std::string::npos) return UINT64_MAX;
    return std::strtoull(json.c_str() + k + key.size() + 3, nullptr, 10);
}

TCliOptions DemoPoll(int64_t count) {
    TCliOptions o;
    o.Command = TCliOptions::TCommand::Poll;
    o.Demo = true;
    o.Count = count;
    return o;
}

} // namespace

TEST(QzcliTraceOptions, TraceFileAndMaskAreTakenAndBadOnesRefused) {
    TCliOptions o;
    std::string error;
    ASSERT_TRUE(ParseCliArgs({"poll", "--demo", "--trace", "-"}, o, error)) << error;
    EXPECT_EQ(o.TraceFile, "-");
    EXPECT_EQ(o.TraceMask, kTraceAllClasses);
    ASSERT_TRUE(ParseCliArgs({"poll", "--demo", "--trace", "t.log", "--trace-mask", "connect,dump"},
                             o, error))
        << error;
    EXPECT_EQ(o.TraceMask, lcaLogConnect | lcaLogDump);

    for (const std::vector<std::string>& bad :
         {std::vector<std::string>{"poll", "--demo", "--trace"},
          {"poll", "--demo", "--trace", ""},
          {"poll", "--demo", "--trace", "t.log", "--trace-mask", "64"},
          {"poll", "--demo", "--trace", "t.log", "--trace-mask", "dial"},
          {"poll", "--demo", "--trace-mask", "all"},
          {"poll", "--demo", "--trace-bytes", "0"},
          {"poll", "--demo", "--trace", "t.log", "--trace-bytes", "-1"},
          {"poll", "--demo", "--trace", "t.log", "--trace-size", "1e3"},
          {"poll", "--demo", "--trace", "t.log", "--trace-size", "9999999"},
          {"connections", "--trace", "t.log"}}) {
        error.clear();
        EXPECT_FALSE(ParseCliArgs(bad, o, error)) << bad.back();
        EXPECT_FALSE(error.empty()) << bad.back();
    }
    EXPECT_NE(CliHelpText().find("--trace FILE"), std::string::npos);
    ASSERT_TRUE(ParseCliArgs(
        {"poll", "--demo", "--trace", "t", "--trace-bytes", "0", "--trace-size", "5"}, o, error))
        << error;
    EXPECT_EQ(o.TraceBytes, 0u);
    EXPECT_EQ(o.TraceSizeMb, 5u);
}

TEST(QzcliTrace, WithoutADumpLimitEveryAnswerIsTracedWhole) {
    SetDefaultPCASleeper([](uint32_t) {});
    TempDir dir;
    TCliOptions o = DemoPoll(1);
    o.Json = true;
    o.DemoLog = dir.Path() + "/sim.log";
    o.TraceFile = dir.Path() + "/trace.log";
    o.TraceBytes = 0;
    std::ostringstream out, err;
    ASSERT_EQ(RunPoll(o, out, err, -1), 0) << err.str();
    const auto trace = Lines(test::ReadFileBytes(o.TraceFile));
    EXPECT_EQ(Find(trace, "показаны первые"), std::string::npos);
    // The pieces received after each request make up the meter's answer, the 3-second
    // record of more than 1600 bytes included.
    std::vector<TBytes> received;
    for (const auto& d : Dumps(trace)) {
        if (d.Direction == "TX")
            received.emplace_back();
        else if (!received.empty())
            received.back().insert(received.back().end(), d.Bytes.begin(), d.Bytes.end());
    }
    const auto answers = Logged(o.DemoLog, "->");
    EXPECT_EQ(received, answers);
    size_t longest = 0;
    for (const auto& a : answers)
        longest = std::max(longest, a.size());
    EXPECT_GT(longest, 1600u);
}

TEST(QzcliTrace, DemoPollIsTracedFromOpenToCloseWithEveryRequestAndAnswer) {
    test::TNoSleep noSleep;
    TempDir dir;
    TCliOptions o = DemoPoll(2);
    o.Json = true;
    o.DemoLog = dir.Path() + "/sim.log";
    o.TraceFile = dir.Path() + "/trace.log";
    std::ostringstream out, err;
    ASSERT_EQ(RunPoll(o, out, err, -1), 0) << err.str();
    ASSERT_EQ(Lines(out.str()).size(), 2u);
    // With --json nothing but the demo's address goes to stderr.
    EXPECT_EQ(Lines(err.str()).size(), 1u) << err.str();

    const auto trace = Lines(test::ReadFileBytes(o.TraceFile));
    ASSERT_FALSE(trace.empty());
    const size_t opened = Find(trace, "Логический канал открыт.");
    const size_t connecting = Find(trace, "Соединение...");
    const size_t connected = Find(trace, "Соединение установлено.");
    const size_t closed = Find(trace, "Логический канал закрыт.");
    ASSERT_NE(opened, std::string::npos) << test::ReadFileBytes(o.TraceFile);
    ASSERT_NE(closed, std::string::npos) << test::ReadFileBytes(o.TraceFile);
    EXPECT_LT(opened, connecting);
    EXPECT_LT(connecting, connected);
    EXPECT_LT(connected, closed);
    EXPECT_NE(trace.back().find("трассировка окончена"), std::string::npos) << trace.back();

    // Every request went out as the meter received it, and every answer came in as it sent.
    const auto requests = Logged(o.DemoLog, "<-");
    const auto answers = Logged(o.DemoLog, "->");
    ASSERT_GE(requests.size(), 2u * 2); // time parameters and a record per record at least
    std::vector<TBytes> sent;
    std::vector<TBytes> firstReceived; // the first piece of each answer
    for (const auto& d : Dumps(trace)) {
        if (d.Direction == "TX") {
            sent.push_back(d.Bytes);
            firstReceived.emplace_back();
        } else {
            ASSERT_EQ(d.Direction, "RX");
            ASSERT_FALSE(sent.empty()) << "bytes received before any request";
            if (firstReceived.back().empty()) firstReceived.back() = d.Bytes;
        }
    }
    EXPECT_EQ(sent, requests);
    ASSERT_EQ(firstReceived.size(), answers.size());
    for (size_t i = 0; i < answers.size(); ++i) {
        const TBytes& got = firstReceived[i];
        ASSERT_FALSE(got.empty()) << "answer " << i << " not traced";
        ASSERT_LE(got.size(), answers[i].size()) << i;
        EXPECT_TRUE(std::equal(got.begin(), got.end(), answers[i].begin())) << "answer " << i;
    }
}

TEST(QzcliTrace, AMaskKeepsOnlyItsClassesAndAFileThatCannotBeOpenedStopsTheStart) {
    test::TNoSleep noSleep;
    TempDir dir;
    TCliOptions o = DemoPoll(1);
    o.Json = true;
    o.TraceFile = dir.Path() + "/trace.log";
    o.TraceMask = lcaLogConnect;
    std::ostringstream out, err;
    ASSERT_EQ(RunPoll(o, out, err, -1), 0) << err.str();
    const auto trace = Lines(test::ReadFileBytes(o.TraceFile));
    ASSERT_NE(Find(trace, "Соединение установлено."), std::string::npos);
    for (const auto& line : trace)
        EXPECT_TRUE(line.find(" CONN ") != std::string::npos ||
                    line.find(" TRACE ") != std::string::npos)
            << line;

    // A stop (Ctrl-C) ends the trace as cleanly as the end of the count: written out to its
    // last line, appended after the first run's.
    TCliOptions stopped = DemoPoll(0);
    stopped.Json = true;
    stopped.TraceFile = o.TraceFile;
    const int stop = eventfd(0, EFD_CLOEXEC);
    ASSERT_GE(stop, 0);
    const uint64_t one = 1;
    ASSERT_EQ(write(stop, &one, sizeof one), ssize_t(sizeof one));
    std::ostringstream out1, err1;
    EXPECT_EQ(RunPoll(stopped, out1, err1, stop), 0) << err1.str();
    close(stop);
    const auto both = Lines(test::ReadFileBytes(o.TraceFile));
    ASSERT_GT(both.size(), trace.size());
    EXPECT_NE(Find(both, "трассировка начата", trace.size()), std::string::npos);
    EXPECT_NE(both.back().find("трассировка окончена"), std::string::npos) << both.back();

    TCliOptions bad = DemoPoll(1);
    bad.TraceFile = dir.Path() + "/no/such/folder/trace.log";
    std::ostringstream out2, err2;
    EXPECT_EQ(RunPoll(bad, out2, err2, -1), 2);
    EXPECT_TRUE(out2.str().empty()) << out2.str();
    EXPECT_NE(err2.str().find("Не удалось открыть файл трассировки"), std::string::npos)
        << err2.str();
    EXPECT_EQ(err2.str().find("Демонстрация"), std::string::npos) << "polling started anyway";
}

TEST(QzcliProgress, StagesOfTheConnectGoToStderrWithoutJson) {
    test::TNoSleep noSleep;
    TCliOptions o = DemoPoll(1);
    std::ostringstream out, err;
    ASSERT_EQ(RunPoll(o, out, err, -1), 0) << err.str();
    const auto lines = Lines(err.str());
    const size_t connecting = Find(lines, "Соединение...");
    ASSERT_NE(connecting, std::string::npos) << err.str();
    const size_t connected = Find(lines, "Соединение установлено.", connecting);
    ASSERT_NE(connected, std::string::npos) << err.str();
    EXPECT_EQ(lines[connected].rfind("[", 0), 0u) << lines[connected];
    EXPECT_NE(lines[connected].find(" с] "), std::string::npos) << lines[connected];

    // A meter nobody listens for: every attempt, then the failure, then the exchange's end.
    const uint16_t port = test::UnusedLoopbackPort();
    TCliOptions f = test::TcpPollOptions("qz2", port);
    std::ostringstream out2, err2;
    EXPECT_EQ(RunPoll(f, out2, err2, -1), 1);
    const auto failed = Lines(err2.str());
    ASSERT_GE(failed.size(), 3u) << err2.str();
    EXPECT_NE(Find(failed, "Соединение не установлено: "), std::string::npos) << err2.str();
    EXPECT_EQ(failed.back(), "Ошибка обмена с измерителем: Удаленный сервер не найден.");
}

TEST(QzcliLink, JsonRecordsCarryLinkFiguresThatMatchTheSimulatorsLog) {
    test::TNoSleep noSleep;
    TempDir dir;
    TCliOptions o = DemoPoll(3);
    o.Json = true;
    o.DemoLog = dir.Path() + "/sim.log";
    std::ostringstream out, err;
    ASSERT_EQ(RunPoll(o, out, err, -1), 0) << err.str();
    const auto records = Lines(out.str());
    ASSERT_EQ(records.size(), 3u);
    uint64_t previous = 0;
    for (const auto& r : records) {
        const uint64_t requests = LinkValue(r, "Requests");
        ASSERT_NE(requests, UINT64_MAX) << r.substr(r.size() > 300 ? r.size() - 300 : 0);
        EXPECT_GT(requests, previous) << "the count does not grow";
        EXPECT_EQ(LinkValue(r, "Answers"), requests);
        EXPECT_EQ(LinkValue(r, "Repeats"), 0u);
        EXPECT_EQ(LinkValue(r, "Timeouts"), 0u);
        EXPECT_EQ(LinkValue(r, "CheckErrors"), 0u);
        EXPECT_EQ(LinkValue(r, "Reconnections"), 0u); // one connect for the whole poll
        EXPECT_NE(r.find("\"LastRoundTripMs\":"), std::string::npos);
        EXPECT_EQ(r.find("\"LastRoundTripMs\":-1"), std::string::npos) << "no round trip";
        EXPECT_EQ(r.back(), '}');
        previous = requests;
    }
    // The polling stopped after the last record: its figures are the whole conversation.
    const auto requests = Logged(o.DemoLog, "<-");
    const auto answers = Logged(o.DemoLog, "->");
    uint64_t sent = 0, received = 0;
    for (const auto& q : requests)
        sent += q.size();
    for (const auto& a : answers)
        received += a.size();
    EXPECT_EQ(LinkValue(records.back(), "Requests"), requests.size());
    EXPECT_EQ(LinkValue(records.back(), "BytesSent"), sent);
    EXPECT_EQ(LinkValue(records.back(), "BytesReceived"), received);
}

TEST(QzcliLink, LinkObjectGoesInsideTheRecord) {
    TLinkStatistics s;
    s.Requests = 5;
    s.BytesReceived = 1234567890123ull;
    const std::string link = LinkJson(s);
    EXPECT_EQ(WithLinkJson("{\"F\":50}", s), "{\"F\":50,\"Link\":" + link + "}");
    EXPECT_EQ(WithLinkJson("{}", s), "{\"Link\":" + link + "}");
    EXPECT_NE(link.find("\"BytesReceived\":1234567890123"), std::string::npos) << link;
    EXPECT_NE(link.find("\"LastRoundTripMs\":-1"), std::string::npos) << link;
    EXPECT_EQ(FormatConnectProgress("Соединение...", std::chrono::milliseconds(47250)),
              "[ 47.2 с] Соединение...");
    // A text with a line break cannot break the progress into two lines.
    EXPECT_EQ(FormatConnectProgress("a\nb", std::chrono::milliseconds(0)).find('\n'),
              std::string::npos);
}

TEST(QzcliLineStream, LinesFromManyThreadsStayWhole) {
    std::ostringstream target;
    std::mutex mutex;
    {
        TCliLineStream a(target, mutex), b(target, mutex);
        auto write = [](std::ostream& s, char c) {
            for (int i = 0; i < 200; ++i)
                s << std::string(10, c) << ' ' << i << '\n';
        };
        std::thread t([&] { write(a, 'a'); });
        write(b, 'b');
        t.join();
        b << "tail without an end";
    }
    const auto lines = Lines(target.str());
    ASSERT_EQ(lines.size(), 401u);
    for (size_t i = 0; i + 1 < lines.size(); ++i)
        EXPECT_TRUE(lines[i].rfind(std::string(10, lines[i][0]) + " ", 0) == 0) << lines[i];
    EXPECT_EQ(lines.back(), "tail without an end");
}
