// The logical-channel worker and its clients against real TCP lines on loopback.
#include "channel/LCAObject.h"
#include "channel/LCAThread.h"
#include "platform/Event.h"
#include "tests/support/ChannelGuards.h"
#include "tests/support/Eventually.h"
#include "tests/support/LoopbackServer.h"
#include "tests/support/TcpListener.h"

#include <atomic>
#include <chrono>
#include <gtest/gtest.h>
#include <memory>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <thread>
#include <vector>

using namespace qz;
using qz::test::LoopbackServer;
using Clock = std::chrono::steady_clock;

namespace {

TLCAParams TcpParams(uint16_t port, uint16_t attempts = 3, uint8_t priority = 1,
                     uint8_t logMask = 0) {
    TLCAParams p;
    p.Pca.SetKind(TPCAParams::KindTCP);
    p.Pca.SetIpAddress("127.0.0.1");
    p.Pca.SetIpPort(port);
    p.MaxAttemptCountOnConnect = attempts;
    p.Priority = priority;
    p.LogMask = logMask;
    return p;
}

// The settling pauses around a TCP connect are real time on a meter line; here they would
// only slow the tests down.
const auto* const kNoSleeps = ::testing::AddGlobalTestEnvironment([] {
    struct NoSleeps : ::testing::Environment {
        void SetUp() override { noSleep.emplace(); }
        void TearDown() override { noSleep.reset(); }
        std::optional<test::TNoSleep> noSleep;
    };
    return new NoSleeps;
}());

long MsSince(Clock::time_point t) {
    return long(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t).count());
}

// Collects what the log callback receives.
struct LogSink {
    struct Entry {
        std::string Text;
        uint8_t Class;
        TLCAHandle Handle;
    };
    std::mutex Mutex;
    std::vector<Entry> Entries;

    TLCALogProc Proc() {
        return [this](const std::string& text, uint8_t cls, TLCAHandle h) {
            std::lock_guard<std::mutex> lock(Mutex);
            Entries.push_back({text, cls, h});
        };
    }
    bool Has(const std::string& text, uint8_t cls) {
        std::lock_guard<std::mutex> lock(Mutex);
        for (const auto& e : Entries)
            if (e.Text == text && e.Class == cls) return true;
        return false;
    }
    std::vector<Entry> Copy() {
        std::lock_guard<std::mutex> lock(Mutex);
        return Entries;
    }
};

class LcaModule : public ::testing::Test {
protected:
    LogSink sink;
    test::TLCAModule module{sink.Proc()};
};

// The server runs on its own thread: what it saw is waited for.
using test::Eventually;

} // namespace

TEST(LcaModuleState, EverythingReportsTwoBeforeInitialisation) {
    LCAFinalize();
    int32_t error = 0;
    const TLCAHandle h = LCAOpen(TcpParams(1), error);
    EXPECT_FALSE(h.IsValid());
    EXPECT_EQ(error, 2);
    uint32_t done = 7;
    char buf[4];
    EXPECT_EQ(LCAWrite(buf, 4, done, nullptr, 100, {1, 3}), 2);
    EXPECT_EQ(done, 0u);
    EXPECT_EQ(LCARead(buf, 4, done, nullptr, 100, {1, 3}), 2);
    EXPECT_EQ(LCAClose({1, 3}), 2);
    EXPECT_EQ(LCAReleaseLock({1, 3}), 2);
    EXPECT_EQ(LCAGetLastError({1, 3}), 2);
    EXPECT_EQ(LCAErrorText(2), "Не было начальной инициализации модуля.");
}

TEST_F(LcaModule, OpenIsRefusedForBadDescriptions) {
    int32_t error = 0;
    TLCAParams p = TcpParams(1);
    p.Priority = 0;
    EXPECT_FALSE(LCAOpen(p, error).IsValid());
    EXPECT_EQ(error, 106);
    EXPECT_EQ(LCAErrorText(106), "Недопустимый приоритет на логическом канале");

    p = TcpParams(1);
    p.Pca.SetKind(7); // names no channel kind
    EXPECT_FALSE(LCAOpen(p, error).IsValid());
    EXPECT_EQ(error, 1);

    p = TcpParams(1);
    p.Pca.SetIpAddress("localhost"); // host names are never resolved
    EXPECT_FALSE(LCAOpen(p, error).IsValid());
    EXPECT_EQ(error, 21);
    EXPECT_TRUE(sink.Has("Ошибка открытия логического канала: Неверные адрес.", lcaLogError));

    // A client object whose open failed sends nothing and reports the open error.
    TLCAObject obj(p);
    EXPECT_FALSE(obj.IsValid());
    EXPECT_EQ(obj.GetLastError(), 21);
    uint32_t done = 0;
    char buf[2];
    EXPECT_EQ(obj.Write(buf, 2, done, nullptr, 100), pcaBadHandle);
    EXPECT_EQ(obj.ReleaseLock(), pcaBadHandle);
    EXPECT_EQ(LCAClose({99, 99}), pcaBadHandle);
    EXPECT_EQ(LCAGetLastError({99, 99}), pcaBadHandle);
}

TEST_F(LcaModule, WriteReadReleaseRoundTrip) {
    LoopbackServer server(LoopbackServer::Echo());
    TLCAObject ch(TcpParams(server.Port(), 3, 1, 0xFF));
    ASSERT_TRUE(ch.IsValid());
    EXPECT_EQ(ch.GetLastError(), 0);
    uint32_t done = 0;
    ASSERT_EQ(ch.Write("hello", 5, done, nullptr, 1000), 0);
    EXPECT_EQ(done, 5u);
    char buf[16] = {};
    ASSERT_EQ(ch.Read(buf, sizeof buf, done, nullptr, 2000), 0);
    EXPECT_EQ(std::string(buf, done), "hello");
    EXPECT_EQ(ch.ReleaseLock(), 0);
    EXPECT_EQ(server.Accepted(), 1u);
    EXPECT_TRUE(sink.Has("Логический канал открыт.", lcaLogOpenClose));
    EXPECT_TRUE(sink.Has("Соединение установлено.", lcaLogConnect));
    EXPECT_TRUE(sink.Has("Задание логическому каналу принято на выполнение (запись).", lcaLogTask));
    EXPECT_TRUE(sink.Has("Задание выполнено. Отправлено 5 байт", lcaLogTask));
    EXPECT_TRUE(sink.Has("Задание выполнено. Принято 5 байт", lcaLogTask));
    EXPECT_TRUE(sink.Has("68 65 6C 6C 6F ", lcaLogDump));
    EXPECT_TRUE(sink.Has("Блокировка логического канала снята.", lcaLogTask));
}

TEST_F(LcaModule, SynchronousReadTimesOutWithFiveAndTheLineStaysConnected) {
    LoopbackServer server(LoopbackServer::Silent());
    TLCAObject ch(TcpParams(server.Port()));
    ASSERT_TRUE(ch.IsValid());
    uint32_t done = 0;
    ASSERT_EQ(ch.Write("x", 1, done, nullptr, 1000), 0);
    char buf[8];
    const auto t0 = Clock::now();
    EXPECT_EQ(ch.Read(buf, sizeof buf, done, nullptr, 200), 5);
    const long elapsed = MsSince(t0);
    EXPECT_EQ(done, 0u);
    EXPECT_GE(elapsed, 190);
    EXPECT_LT(elapsed, 5000);
    // The next task runs on the same connection.
    EXPECT_EQ(ch.Write("y", 1, done, nullptr, 1000), 0);
    EXPECT_TRUE(Eventually([&] { return server.Received() == "xy"; }));
    EXPECT_EQ(server.Accepted(), 1u);
}

TEST_F(LcaModule, AsynchronousTransferReturnsAtOnceAndSignalsLater) {
    LoopbackServer server(LoopbackServer::Echo());
    TLCAObject ch(TcpParams(server.Port()));
    uint32_t done = 0;
    char buf[8] = {};
    TEvent ev(true);
    // Nothing was written, so the echo server stays quiet: the task ends by its time-out,
    // and the failure too is reported through the event.
    const auto t0 = Clock::now();
    ASSERT_EQ(ch.Read(buf, sizeof buf, done, &ev, 2000), 0);
    EXPECT_LT(MsSince(t0), 1500); // returned once registered, long before the time-out
    ASSERT_TRUE(ev.Wait(5000));
    EXPECT_EQ(done, 0u);
    EXPECT_EQ(ch.GetLastError(), 5);

    // A read that does receive data sets the event with the count.
    LoopbackServer greeter(LoopbackServer::Silent(), 1, [](size_t) { return std::string("abc"); });
    TLCAObject g(TcpParams(greeter.Port()));
    TEvent ev2(false);
    uint32_t done2 = 0;
    ASSERT_EQ(g.Read(buf, sizeof buf, done2, &ev2, 3000), 0);
    ASSERT_TRUE(ev2.Wait(5000));
    EXPECT_EQ(done2, 3u);
    EXPECT_EQ(std::string(buf, 3), "abc");
}

TEST_F(LcaModule, SecondTaskAndBadArgumentsAreRefused) {
    LoopbackServer server(LoopbackServer::Silent());
    TLCAObject a(TcpParams(server.Port(), 3, 1, lcaLogTask));
    TLCAObject b(TcpParams(server.Port()));
    ASSERT_TRUE(a.IsValid());
    ASSERT_TRUE(b.IsValid());
    EXPECT_NE(a.Handle, b.Handle);
    EXPECT_EQ(a.Handle.LineHandle, b.Handle.LineHandle); // one line for one address and port

    char buf[8];
    uint32_t doneA = 0, doneB = 0;
    TEvent evA(true), evB(true);
    ASSERT_EQ(a.Read(buf, sizeof buf, doneA, &evA, 10000), 0); // a holds the line
    // b's task waits behind a; a second task on b is refused and b's last error becomes 101.
    ASSERT_EQ(b.Write("q", 1, doneB, &evB, 10000), 0);
    uint32_t d = 0;
    EXPECT_EQ(b.Write("r", 1, d, nullptr, 1000), 101);
    EXPECT_EQ(b.GetLastError(), 101);
    EXPECT_EQ(a.Read(buf, sizeof buf, d, nullptr, 1000), 101);
    // A null buffer is refused before the event is looked at.
    EXPECT_EQ(LCARead(nullptr, 4, d, nullptr, 100, a.Handle), 102);
    // Only the holder can release; for b that is 104 and nothing changes.
    EXPECT_EQ(b.ReleaseLock(), 104);
    EXPECT_FALSE(evA.IsSet());
    // The holder's release aborts its running read: Done 0, error 105.
    EXPECT_EQ(a.ReleaseLock(), 0);
    ASSERT_TRUE(evA.Wait(5000));
    EXPECT_EQ(doneA, 0u);
    EXPECT_EQ(a.GetLastError(), lcaErrAborted);
    EXPECT_TRUE(
        sink.Has("Задание не выполнено: Выполнение команды прервано пользователем", lcaLogTask));
    // Now b's waiting write runs.
    ASSERT_TRUE(evB.Wait(5000));
    EXPECT_EQ(doneB, 1u);
    EXPECT_TRUE(Eventually([&] { return server.Received() == "q"; }));
}

TEST(LcaWorker, RegisterTaskChecksInOrder) {
    LoopbackServer server(LoopbackServer::Silent());
    TLCAThread worker(nullptr);
    TLCAParams p = TcpParams(server.Port());
    TLCAHandle h = kInvalidLCAHandle;
    ASSERT_EQ(worker.RequestAndWait(lcaReqOpen, h, &p), 0);
    ASSERT_TRUE(h.IsValid());
    uint32_t done = 0;
    TLCACommand task;
    task.Buffer = nullptr;
    task.Event = nullptr;
    task.DoneRef = &done;
    EXPECT_EQ(worker.RequestAndWait(lcaReqTask, h, &task), 102);
    uint8_t byte = 0;
    task.Buffer = &byte;
    EXPECT_EQ(worker.RequestAndWait(lcaReqTask, h, &task), 103);
    TLCAHandle unknown{42, 42};
    EXPECT_EQ(worker.RequestAndWait(lcaReqTask, unknown, &task), pcaBadHandle);
    // Kinds 7, 8 and 9 are served too.
    uint8_t prio = 9;
    EXPECT_EQ(worker.RequestAndWait(lcaReqPriority, h, &prio), 0);
    uint8_t lock = 1;
    EXPECT_EQ(worker.RequestAndWait(lcaReqPriorityLock, h, &lock), 0);
    EXPECT_EQ(worker.RequestAndWait(lcaReqCheckDevice, h, nullptr), 24); // always for TCP
    EXPECT_EQ(worker.RequestAndWait(lcaReqCheckDevice, unknown, nullptr), pcaBadHandle);
}

TEST_F(LcaModule, PeerCloseMidTaskReconnectsAndRunsTheTaskAgain) {
    // First connection: take the request and hang up. Second: greet with the answer.
    LoopbackServer server(
        [](size_t, const std::string&, bool& close) {
            close = true;
            return std::string();
        },
        1, [](size_t index) { return index == 1 ? std::string("OK") : std::string(); });
    TLCAObject ch(TcpParams(server.Port(), 3));
    uint32_t reconnects = 7;
    ASSERT_EQ(ch.GetReconnectCount(reconnects), 0);
    EXPECT_EQ(reconnects, 0u);
    uint32_t done = 0;
    ASSERT_EQ(ch.Write("req", 3, done, nullptr, 1000), 0);
    ASSERT_EQ(ch.GetReconnectCount(reconnects), 0);
    EXPECT_EQ(reconnects, 0u) << "the first connection is no reconnection";
    char buf[8] = {};
    ASSERT_EQ(ch.Read(buf, sizeof buf, done, nullptr, 3000), 0);
    EXPECT_EQ(std::string(buf, done), "OK");
    EXPECT_EQ(server.Accepted(), 2u);
    ASSERT_EQ(ch.GetReconnectCount(reconnects), 0);
    EXPECT_EQ(reconnects, 1u);
    // Another client thread reads the same count.
    uint32_t fromOther = 0;
    std::thread([&] { EXPECT_EQ(LCAGetReconnectCount(ch.Handle, fromOther), 0); }).join();
    EXPECT_EQ(fromOther, 1u);
}

TEST_F(LcaModule, NoConnectAttemptsFailsAtOnceWith22) {
    LoopbackServer server(LoopbackServer::Echo());
    TLCAObject ch(TcpParams(server.Port(), 0));
    uint32_t done = 0;
    EXPECT_EQ(ch.Write("a", 1, done, nullptr, 1000), 22);
    EXPECT_EQ(done, 0u);
    EXPECT_EQ(server.Accepted(), 0u);
}

TEST_F(LcaModule, RefusedConnectionEndsTheTaskWithTheChannelCode) {
    TLCAObject ch(TcpParams(test::UnusedLoopbackPort(), 2, 1, 0xFF));
    ASSERT_TRUE(ch.IsValid());
    uint32_t done = 0;
    EXPECT_EQ(ch.Write("a", 1, done, nullptr, 1000), 19);
    EXPECT_TRUE(sink.Has("Соединение не установлено: Удаленный сервер не найден.", lcaLogConnect));
    // Attempts that never reached the peer are no reconnections.
    uint32_t reconnects = 7;
    ASSERT_EQ(ch.GetReconnectCount(reconnects), 0);
    EXPECT_EQ(reconnects, 0u);
    EXPECT_EQ(LCAGetReconnectCount({99, 99}, reconnects), pcaBadHandle);
}

TEST_F(LcaModule, LogMaskFiltersChannelMessagesAndDumpsAtMost128Bytes) {
    LoopbackServer server(LoopbackServer::Echo());
    TLCAObject quiet(TcpParams(server.Port(), 3, 1, lcaLogTask)); // tasks only
    uint32_t done = 0;
    ASSERT_EQ(quiet.Write("z", 1, done, nullptr, 1000), 0);
    EXPECT_TRUE(sink.Has("Задание выполнено. Отправлено 1 байт", lcaLogTask));
    EXPECT_FALSE(sink.Has("Соединение установлено.", lcaLogConnect));
    EXPECT_TRUE(sink.Has("Модуль логических каналов доступа инициализирован.", lcaLogOpenClose));
    ASSERT_EQ(quiet.ReleaseLock(), 0);

    LoopbackServer big(LoopbackServer::Echo());
    TLCAObject loud(TcpParams(big.Port(), 3, 1, 0xFF));
    std::string block(200, '\xAB');
    ASSERT_EQ(loud.Write(block.data(), 200, done, nullptr, 1000), 0);
    std::vector<char> buf(200);
    uint32_t total = 0;
    while (total < 200) {
        ASSERT_EQ(loud.Read(buf.data() + total, 200 - total, done, nullptr, 2000), 0);
        total += done;
    }
    std::string dump128;
    for (int i = 0; i < 128; ++i)
        dump128 += "AB ";
    EXPECT_TRUE(sink.Has(dump128, lcaLogDump));
    bool sawLongDump = false;
    for (const auto& e : sink.Copy())
        if (e.Class == lcaLogDump) {
            EXPECT_LE(e.Text.size(), 128u * 3);
            sawLongDump = sawLongDump || e.Text.size() == 128u * 3;
        }
    EXPECT_TRUE(sawLongDump); // the 200-byte write lists 128 bytes

    // With the limit lifted a dump lists every byte of the task.
    LCASetDumpLimit(0);
    ASSERT_EQ(loud.Write(block.data(), 200, done, nullptr, 1000), 0);
    LCASetDumpLimit(kLCADefaultDumpLimit);
    std::string dump200;
    for (int i = 0; i < 200; ++i)
        dump200 += "AB ";
    EXPECT_TRUE(sink.Has(dump200, lcaLogDump));
}

TEST_F(LcaModule, ClosingTheLastChannelOfALineClosesTheConnection) {
    LoopbackServer server(LoopbackServer::Echo());
    auto first = std::make_unique<TLCAObject>(TcpParams(server.Port()));
    auto second = std::make_unique<TLCAObject>(TcpParams(server.Port()));
    uint32_t done = 0;
    ASSERT_EQ(first->Write("1", 1, done, nullptr, 1000), 0);
    ASSERT_EQ(first->ReleaseLock(), 0);
    ASSERT_TRUE(Eventually([&] { return server.Accepted() == 1; }));
    first.reset();
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(server.Closed(), 0u); // the second channel keeps the line
    ASSERT_EQ(second->Write("2", 1, done, nullptr, 1000), 0);
    second.reset();
    EXPECT_TRUE(Eventually([&] { return server.Closed() == 1; }));
    EXPECT_EQ(server.Accepted(), 1u);
}

TEST(LcaWorker, StoppingWithRunningTasksEndsThemAndFreesAll) {
    LoopbackServer server(LoopbackServer::Silent());
    auto worker = std::make_unique<TLCAThread>(nullptr);
    TLCAParams p = TcpParams(server.Port());
    TLCAHandle h = kInvalidLCAHandle;
    ASSERT_EQ(worker->RequestAndWait(lcaReqOpen, h, &p), 0);
    TEvent ev(true);
    uint32_t done = 99;
    char buf[4];
    ASSERT_EQ(worker->Transfer(1, buf, 60000, &ev, done, sizeof buf, h), 0);
    ASSERT_TRUE(Eventually([&] { return server.Accepted() == 1; }));
    worker.reset();
    EXPECT_TRUE(ev.IsSet());
    EXPECT_EQ(done, 0u);
    EXPECT_TRUE(Eventually([&] { return server.Closed() == 1; }));
}

TEST(LcaWorker, ServesManyLinesAtOnce) {
    constexpr size_t kLines = 256;
    LoopbackServer server(LoopbackServer::Echo(), kLines);
    TLCAThread worker(nullptr);
    std::vector<TLCAHandle> handles(kLines);
    for (size_t i = 0; i < kLines; ++i) {
        TLCAParams p = TcpParams(server.Port(i));
        ASSERT_EQ(worker.RequestAndWait(lcaReqOpen, handles[i], &p), 0) << i;
    }
    std::vector<std::string> out(kLines), in(kLines, std::string(16, '\0'));
    std::vector<uint32_t> done(kLines);
    std::vector<std::unique_ptr<TEvent>> events;
    for (size_t i = 0; i < kLines; ++i) {
        out[i] = "line-" + std::to_string(i) + "-data";
        events.push_back(std::make_unique<TEvent>(true));
        ASSERT_EQ(worker.Transfer(0, out[i].data(), 5000, events[i].get(), done[i],
                                  uint32_t(out[i].size()), handles[i]),
                  0);
    }
    for (size_t i = 0; i < kLines; ++i) {
        ASSERT_TRUE(events[i]->Wait(20000)) << i;
        ASSERT_EQ(done[i], out[i].size()) << i;
    }
    for (size_t i = 0; i < kLines; ++i)
        ASSERT_EQ(worker.Transfer(1, in[i].data(), 5000, events[i].get(), done[i],
                                  uint32_t(in[i].size()), handles[i]),
                  0);
    for (size_t i = 0; i < kLines; ++i) {
        ASSERT_TRUE(events[i]->Wait(20000)) << i;
        // TCP may deliver the echo in pieces; what arrived must be the start of it.
        ASSERT_GT(done[i], 0u) << i;
        EXPECT_EQ(in[i].substr(0, done[i]), out[i].substr(0, done[i])) << i;
    }
    EXPECT_EQ(server.Accepted(), kLines);
}

TEST(LcaWorker, AHandleNamesOneChannelForTheWorkersWholeLife) {
    // Two meters; the first hangs up after each request, so its line loses its socket.
    LoopbackServer first(
        [](size_t, const std::string&, bool& close) {
            close = true;
            return std::string();
        },
        1, [](size_t) { return std::string(); });
    LoopbackServer second(LoopbackServer::Echo());
    TLCAThread worker(nullptr);
    std::vector<TLCAHandle> seen;
    auto open = [&](uint16_t port) {
        TLCAParams p = TcpParams(port, 1);
        TLCAHandle h = kInvalidLCAHandle;
        EXPECT_EQ(worker.RequestAndWait(lcaReqOpen, h, &p), 0);
        for (const TLCAHandle& s : seen)
            EXPECT_FALSE(s == h) << "handle (" << h.Id << ", " << h.LineHandle << ") given twice";
        seen.push_back(h);
        return h;
    };
    const TLCAHandle a1 = open(first.Port());
    const TLCAHandle b1 = open(second.Port());
    // The first line loses its connection (the peer closes, the reconnect budget is spent).
    uint32_t done = 0;
    EXPECT_NE(worker.Transfer(0, const_cast<char*>("x"), 1000, nullptr, done, 1, a1), -1);
    char buf[4];
    worker.Transfer(1, buf, 300, nullptr, done, sizeof buf, a1);
    const TLCAHandle a2 = open(first.Port()); // on the line without a socket
    const TLCAHandle b2 = open(second.Port());
    // Lines closed and opened again: the system reuses descriptor numbers, handles are new.
    for (const TLCAHandle& h : {a1, a2, b1, b2}) {
        TLCAHandle copy = h;
        EXPECT_EQ(worker.RequestAndWait(lcaReqClose, copy, nullptr), 0);
    }
    const TLCAHandle a3 = open(first.Port());
    const TLCAHandle b3 = open(second.Port());
    // A stale handle names nothing: it neither closes nor reaches the new channels.
    TLCAHandle stale = b1;
    EXPECT_EQ(worker.RequestAndWait(lcaReqClose, stale, nullptr), pcaBadHandle);
    EXPECT_EQ(worker.RequestAndWait(lcaReqLastError, stale, nullptr), pcaBadHandle);
    TLCAHandle live = b3;
    EXPECT_EQ(worker.RequestAndWait(lcaReqLastError, live, nullptr), 0);
    live = a3;
    EXPECT_EQ(worker.RequestAndWait(lcaReqLastError, live, nullptr), 0);
}

TEST(LcaWorkerDeath, AThrowingLogCallbackEndsEveryTaskAndRequestWithTwo) {
    LoopbackServer silent(LoopbackServer::Silent()), other(LoopbackServer::Silent());
    // The callback fails on the second line's connect message, inside the worker's pass
    // over the lines (not inside a request, whose failures are answered one by one).
    std::mutex m;
    int accepted = 0, connects = 0;
    test::TLCAModule module([&](const std::string& text, uint8_t, TLCAHandle) {
        std::lock_guard<std::mutex> lock(m);
        static const std::string kAccepted =
            "Задание логическому каналу принято на выполнение (чтение).";
        if (text == kAccepted) ++accepted;
        if (text == "Соединение..." && ++connects == 2) throw std::runtime_error("log is full");
    });
    int32_t error = -1;
    TLCAParams p = TcpParams(silent.Port(), 3, 1, 0xFF);
    const TLCAHandle running = LCAOpen(p, error); // its read runs on the first line
    ASSERT_EQ(error, 0);
    const TLCAHandle waiting = LCAOpen(p, error); // its read waits behind it
    ASSERT_EQ(error, 0);
    const TLCAHandle trigger = LCAOpen(TcpParams(other.Port(), 3, 1, 0xFF), error);
    ASSERT_EQ(error, 0);
    TEvent ev(true);
    uint32_t asyncDone = 99;
    char buf[8], buf2[8];
    ASSERT_EQ(LCARead(buf, sizeof buf, asyncDone, &ev, 60000, running), 0);
    int32_t syncResult = -1;
    uint32_t syncDone = 99;
    std::thread reader(
        [&] { syncResult = LCARead(buf2, sizeof buf2, syncDone, nullptr, 60000, waiting); });
    ASSERT_TRUE(Eventually([&] {
        std::lock_guard<std::mutex> lock(m);
        return accepted == 2;
    }));
    TEvent evTrigger(true);
    uint32_t triggerDone = 99;
    EXPECT_EQ(LCAWrite("x", 1, triggerDone, &evTrigger, 60000, trigger), 0);
    // Every registered task ends, the synchronous one with the code 2.
    EXPECT_TRUE(ev.Wait(10000)) << "the running task was never ended";
    EXPECT_EQ(asyncDone, 0u);
    EXPECT_TRUE(evTrigger.Wait(10000));
    reader.join();
    EXPECT_EQ(syncResult, 2);
    EXPECT_EQ(syncDone, 0u);
    // The dead worker answers every later request with 2 instead of leaving it waiting.
    EXPECT_EQ(LCAGetLastError(running), 2);
    EXPECT_EQ(LCAOpen(p, error).IsValid(), false);
    EXPECT_EQ(error, 2);
    EXPECT_EQ(LCAClose(running), 2);
    // A new worker serves as before.
    module.Restart();
    LoopbackServer echo(LoopbackServer::Echo());
    TLCAObject ch(TcpParams(echo.Port()));
    uint32_t done = 0;
    EXPECT_EQ(ch.Write("hi", 2, done, nullptr, 1000), 0);
    EXPECT_EQ(ch.Read(buf, sizeof buf, done, nullptr, 2000), 0);
    EXPECT_EQ(std::string(buf, done), "hi");
}

TEST(LcaWorkerDeath, FinalizeReturnsOnceTheCallsInFlightAndTheLinesAreGone) {
    LoopbackServer silent(LoopbackServer::Silent());
    test::TLCAModule module;
    int32_t error = -1;
    const TLCAHandle h = LCAOpen(TcpParams(silent.Port()), error);
    ASSERT_EQ(error, 0);
    std::atomic<bool> returned{false};
    int32_t result = -1;
    std::thread reader([&] {
        char buf[8];
        uint32_t done = 0;
        result = LCARead(buf, sizeof buf, done, nullptr, 60000, h); // the meter never answers
        returned = true;
    });
    ASSERT_TRUE(Eventually([&] { return silent.Accepted() == 1; }));
    std::this_thread::sleep_for(std::chrono::milliseconds(50)); // the read is in flight
    LCAFinalize();
    // By now the call has been answered: the reader is back within moments, not after its
    // 60-second time-out (its own flag is set just after the call returns).
    EXPECT_TRUE(Eventually([&] { return returned.load(); }, 2000));
    reader.join();
    EXPECT_EQ(result, 2);
    EXPECT_TRUE(Eventually([&] { return silent.Closed() == 1; }, 2000));
}
