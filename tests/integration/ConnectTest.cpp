// The worker while a line connects, on the real clock: a connect never holds up other lines
// or requests, and a stop ends it at once (a modem that was dialling is hung up).
#include "IntegrationSupport.h"

#include "channel/LCAObject.h"
#include "channel/PCAComPort.h"
#include "platform/Event.h"
#include "tests/support/ChannelGuards.h"
#include "tests/support/CliPollOptions.h"
#include "tests/support/Eventually.h"
#include "tests/support/FakeSerialDevice.h"
#include "tests/support/PhoneLine.h"
#include "tests/support/TcpListener.h"
#include "tools/qzcli/CliRun.h"

#include <atomic>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <iostream>
#include <mutex>
#include <sstream>
#include <streambuf>
#include <string>
#include <sys/eventfd.h>
#include <thread>

using namespace qz;
using namespace qz::test;

namespace {

#if defined(__SANITIZE_THREAD__) || defined(__SANITIZE_ADDRESS__)
constexpr long kSanitized = 1;
#else
constexpr long kSanitized = 0;
#endif
// "It ended" bounds that hold on a loaded machine under a sanitizer; the figures are logged.
constexpr long kEndsWithinMs = 3000;
constexpr long kAnsweredWithinMs = kSanitized ? 1000 : 100;

long MsSince(Clock::time_point t) {
    return long(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t).count());
}

TLCAParams TcpLine(uint16_t port) {
    TLCAParams p;
    p.Pca.SetKind(TPCAParams::KindTCP);
    p.Pca.SetIpAddress("127.0.0.1");
    p.Pca.SetIpPort(port);
    p.MaxAttemptCountOnConnect = 3;
    p.Priority = 1;
    p.LogMask = lcaLogConnect; // so that the worker tells when the line begins to connect
    return p;
}

// The worker with a log that counts the lines it began to connect ("Соединение..."): a test
// steps in once a connect is under way instead of sleeping for a guessed while.
class TConnectingWorker {
public:
    TConnectingWorker()
        : FModule([this](const std::string& text, uint8_t, TLCAHandle) {
              if (text == "Соединение...") ++FConnecting;
          }) {}
    bool WaitConnecting() {
        return Eventually([&] { return FConnecting.load() > 0; }, 10000);
    }

private:
    std::atomic<int> FConnecting{0};
    TLCAModule FModule;
};

// Text that other threads write, read by the test while they write (qzcli's stderr).
class TSharedText : public std::streambuf {
public:
    bool Contains(const std::string& part) {
        std::lock_guard<std::mutex> lock(FMutex);
        return FText.find(part) != std::string::npos;
    }
    std::string Text() {
        std::lock_guard<std::mutex> lock(FMutex);
        return FText;
    }

protected:
    int overflow(int c) override {
        if (c == traits_type::eof()) return traits_type::not_eof(c);
        std::lock_guard<std::mutex> lock(FMutex);
        FText += char(c);
        return c;
    }
    std::streamsize xsputn(const char* s, std::streamsize n) override {
        std::lock_guard<std::mutex> lock(FMutex);
        FText.append(s, size_t(n));
        return n;
    }

private:
    std::mutex FMutex;
    std::string FText;
};

// The exchange threads open their lines with this log mask.
using TExchangeLogMaskGuard = TDefaultGuard<uint8_t, monExchangeLogMask, monSetExchangeLogMask>;

} // namespace

TEST(Connect, StopDuringATcpConnectEndsThePollingAtOnce) {
    DeafListener deaf;
    ASSERT_TRUE(deaf.Deaf());
    TExchangeLogMaskGuard logMask(lcaLogConnect);
    TConnectingWorker worker;
    TmonSharedStorage storage;
    auto conn = TcpConnection(dtQZ2M, deaf.Port(), "127.0.0.1", 2, 5); // 5 x 15 s if waited
    TRecordingListener rec;
    {
        TMainExchangeThread poll(&rec, conn.get(), &storage);
        rec.Thread = &poll;
        poll.Start();
        ASSERT_TRUE(worker.WaitConnecting());
        const auto stopAt = Clock::now();
        poll.Stop();
        ASSERT_TRUE(rec.WaitEnd(20000));
        const long ms =
            long(std::chrono::duration_cast<std::chrono::milliseconds>(rec.EndAt - stopAt).count());
        std::cout << "stop during a TCP connect: the polling ended after " << ms << " ms\n";
        EXPECT_LT(ms, kEndsWithinMs);
    }
    EXPECT_EQ(rec.EndCode, 0);
    EXPECT_EQ(rec.EndStatus, 0);
    EXPECT_EQ(rec.Records, 0u);
}

TEST(Connect, QzcliStoppedDuringAConnectEndsAtOnceWithZero) {
    DeafListener deaf;
    ASSERT_TRUE(deaf.Deaf());
    TCliOptions o = test::TcpPollOptions("qz2m", deaf.Port());
    const int stop = eventfd(0, EFD_CLOEXEC);
    Clock::time_point stopAt;
    TSharedText errText; // qzcli shows the line's connect there
    std::atomic<bool> connecting{false};
    std::thread stopper([&] {
        connecting = Eventually([&] { return errText.Contains("Соединение..."); }, 10000);
        stopAt = Clock::now();
        const uint64_t one = 1;
        (void)!write(stop, &one, sizeof one);
    });
    std::ostringstream out;
    std::ostream err(&errText);
    EXPECT_EQ(RunPoll(o, out, err, stop), 0) << errText.Text();
    stopper.join();
    EXPECT_TRUE(connecting) << errText.Text();
    const long ms = MsSince(stopAt);
    std::cout << "qzcli stopped during a TCP connect: returned after " << ms << " ms\n";
    EXPECT_LT(ms, kEndsWithinMs);
    close(stop);
}

TEST(Connect, OtherLinesAndRequestsAreServedWhileALineConnects) {
    DeafListener deaf;
    ASSERT_TRUE(deaf.Deaf());
    LoopbackServer echo(LoopbackServer::Echo());
    TConnectingWorker worker;
    TLCAObject slow(TcpLine(deaf.Port()));
    TLCAObject fast(TcpLine(echo.Port()));
    ASSERT_TRUE(slow.IsValid());
    ASSERT_TRUE(fast.IsValid());
    TEvent slowDone(true);
    uint32_t slowCount = 77;
    ASSERT_EQ(slow.Write("x", 1, slowCount, &slowDone, 1000), 0);
    ASSERT_TRUE(worker.WaitConnecting()); // the slow line connects

    auto t = Clock::now();
    EXPECT_EQ(slow.GetLastError(), 0);
    long ms = MsSince(t);
    std::cout << "last error of the connecting channel: " << ms << " ms\n";
    EXPECT_LT(ms, kAnsweredWithinMs);
    // The fast line connects and echoes meanwhile.
    uint32_t done = 0;
    ASSERT_EQ(fast.Write("ping", 4, done, nullptr, 2000), 0);
    char buf[8] = {};
    ASSERT_EQ(fast.Read(buf, sizeof buf, done, nullptr, 2000), 0);
    EXPECT_EQ(std::string(buf, done), "ping");
    ASSERT_EQ(fast.ReleaseLock(), 0);
    t = Clock::now();
    ASSERT_EQ(fast.Write("pong", 4, done, nullptr, 2000), 0); // connected: one round
    ms = MsSince(t);
    std::cout << "write on another line while one connects: " << ms << " ms\n";
    EXPECT_LT(ms, kAnsweredWithinMs);
    EXPECT_FALSE(slowDone.IsSet()) << "the slow line was not connecting";

    // A cancel ends the connect and the task at once; later tasks are refused alike.
    t = Clock::now();
    EXPECT_EQ(slow.CancelTask(), 0);
    EXPECT_TRUE(slowDone.Wait(kEndsWithinMs));
    std::cout << "cancel during a TCP connect: the task ended after " << MsSince(t) << " ms\n";
    EXPECT_EQ(slowCount, 0u);
    EXPECT_EQ(slow.GetLastError(), lcaErrAborted);
    EXPECT_EQ(slow.Write("x", 1, done, nullptr, 1000), lcaErrAborted);
}

TEST(Connect, ClosingAChannelWhoseLineConnectsEndsTheConnectAndItsTask) {
    DeafListener deaf;
    ASSERT_TRUE(deaf.Deaf());
    TConnectingWorker worker;
    int32_t error = -1;
    const TLCAHandle h = LCAOpen(TcpLine(deaf.Port()), error);
    ASSERT_EQ(error, 0);
    TEvent ended(true);
    uint32_t done = 77;
    char buf[4];
    ASSERT_EQ(LCARead(buf, sizeof buf, done, &ended, 60000, h), 0);
    ASSERT_TRUE(worker.WaitConnecting());
    EXPECT_FALSE(ended.IsSet());
    const auto t = Clock::now();
    EXPECT_EQ(LCAClose(h), 0);
    EXPECT_TRUE(ended.Wait(kEndsWithinMs));
    std::cout << "close during a TCP connect: done after " << MsSince(t) << " ms\n";
    EXPECT_EQ(done, 0u);
    EXPECT_EQ(LCAGetLastError(h), pcaBadHandle) << "the channel is gone";
}

TEST(Connect, AModemStoppedWhileDiallingIsHungUp) {
    auto line = MakeReadyModem();
    line->AddRule("+++", "0\r");
    // The dial command gets no answer: the modem is still dialling (45 s if waited).
    TSerialFactoryGuard factory(line->Factory());
    TLCAModule module;
    {
        TLCAParams p = test::PhoneLine("COM1", "5551234", "", 3);
        TLCAObject modem(p);
        ASSERT_TRUE(modem.IsValid()) << modem.OpenError;
        int32_t result = -1;
        std::thread writer([&] {
            uint32_t done = 0;
            result = modem.Write("req", 3, done, nullptr, 1000);
        });
        Eventually([&] { return line->Written().find("ATdt5551234\r") != std::string::npos; },
                   10000);
        ASSERT_NE(line->Written().find("ATdt5551234\r"), std::string::npos) << line->Written();
        // Requests are answered while the modem dials.
        auto t = Clock::now();
        EXPECT_EQ(modem.GetLastError(), 0);
        EXPECT_LT(MsSince(t), kAnsweredWithinMs);
        t = Clock::now();
        EXPECT_EQ(modem.CancelTask(), 0);
        writer.join();
        const long ms = MsSince(t);
        std::cout << "cancel during a modem dial: the task ended after " << ms << " ms\n";
        EXPECT_LT(ms, kEndsWithinMs);
        EXPECT_EQ(result, lcaErrAborted);
        line->Settle();
        const std::string written = line->Written();
        const size_t dial = written.find("ATdt5551234\r");
        EXPECT_NE(written.find("+++", dial), std::string::npos) << written;
        EXPECT_FALSE(line->DTR()) << "the call is dropped";
        EXPECT_EQ(written.find("req"), std::string::npos) << "nothing sent without a carrier";
    }
}
