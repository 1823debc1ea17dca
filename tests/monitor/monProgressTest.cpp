// The line log behind the window's progress label and its trace: the label's texts, the
// timing of a connect's stages per channel, and a trace that can be swapped at any time.
#include "monitor/monProgress.h"
#include "channel/LCATrace.h"

#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <thread>

namespace qz {
namespace {

using namespace std::chrono_literals;

TEST(LineProgress, Texts) {
    EXPECT_EQ(monConnectProgressText("Соединение...", true, 12999ms), "Соединение... 12 с");
    EXPECT_EQ(monConnectProgressText("Соединение...", true, 0ms), "Соединение... 0 с");
    EXPECT_EQ(monConnectProgressText("Соединение...", true, -5ms), "Соединение... 0 с");
    EXPECT_EQ(monConnectProgressText("Соединение установлено.", false, 4000ms),
              "Соединение установлено.");
    // A line end in a text from the line must not break the label into two.
    EXPECT_EQ(monConnectProgressText("a\r\nb", false, 0ms).find('\n'), std::string::npos);

    TLinkStatistics s;
    EXPECT_NE(monLinkStatisticsText(s).find("Последний обмен: —"), std::string::npos);
    s.Requests = 7, s.Answers = 6, s.Repeats = 1, s.CheckErrors = 2, s.Timeouts = 3;
    s.BytesSent = 70, s.BytesReceived = 1234, s.LastRoundTripMs = 15;
    const std::string t = monLinkStatisticsText(s);
    for (const char* part :
         {"Запросов: 7", "Ответов: 6", "Повторов: 1", "контрольной суммы: 2", "Тайм-аутов: 3",
          "Передано байт: 70", "Принято байт: 1234", "Последний обмен: 15 мс"})
        EXPECT_NE(t.find(part), std::string::npos) << part << " in\n" << t;
}

TEST(LineProgress, StagesCountFromTheConnectOfTheirChannel) {
    auto now = TmonLineLog::TClock::time_point(100s);
    TmonLineLog log([&now] { return now; });
    int notified = 0;
    log.SetNotify([&notified] { ++notified; });
    const TLCAHandle a{1, 1}, b{2, 1};
    EXPECT_FALSE(log.LastStage());

    log.Report("Соединение...", lcaLogConnect, a);
    now += 5s;
    log.Report("Набор номера", lcaLogConnect, a); // a modem's stage keeps the connect's start
    auto s = log.LastStage();
    ASSERT_TRUE(s);
    EXPECT_EQ(s->Text, "Набор номера");
    EXPECT_TRUE(s->Connecting);
    EXPECT_EQ(s->Start, TmonLineLog::TClock::time_point(100s));

    now += 1s;
    log.Report("Соединение...", lcaLogConnect, b); // another channel starts its own count
    EXPECT_EQ(log.LastStage()->Start, TmonLineLog::TClock::time_point(106s));
    EXPECT_EQ(log.LastStage()->Channel, 2);
    log.Report("open", lcaLogOpenClose, a); // other classes are no stage
    EXPECT_EQ(log.LastStage()->Channel, 2);
    EXPECT_EQ(notified, 3);

    log.Report("Соединение установлено.", lcaLogConnect, a);
    EXPECT_FALSE(log.LastStage()->Connecting);
    EXPECT_EQ(log.LastStage()->Start, TmonLineLog::TClock::time_point(100s));
    log.Report("Соединение не установлено: нет ответа", lcaLogConnect, b);
    EXPECT_FALSE(log.LastStage()->Connecting);

    log.ClearStages();
    EXPECT_FALSE(log.LastStage());
    log.SetNotify(nullptr);
    log.Report("Соединение...", lcaLogConnect, a);
    EXPECT_EQ(notified, 5);
}

TEST(LineProgress, TraceSwappedWhileReporting) {
    TmonLineLog log;
    EXPECT_EQ(log.ChannelLogMask(), lcaLogConnect);

    std::mutex m;
    std::vector<std::string> written;
    auto sink = [&](const std::vector<std::string>& lines) {
        std::lock_guard<std::mutex> lock(m);
        written.insert(written.end(), lines.begin(), lines.end());
        return true;
    };
    auto trace = std::make_shared<TLCATrace>(sink, uint8_t(lcaLogOpenClose | lcaLogDump));
    log.Report("before", lcaLogOpenClose, TLCAHandle{1, 1});
    EXPECT_FALSE(log.SetTrace(trace));
    // The channels are asked for the connect, the trace's classes and the task a dump needs.
    EXPECT_EQ(log.ChannelLogMask(), lcaLogConnect | lcaLogOpenClose | lcaLogDump | lcaLogTask);
    log.Report("opened", lcaLogOpenClose, TLCAHandle{1, 1});
    log.Report("Соединение...", lcaLogConnect, TLCAHandle{1, 1}); // not in this trace's mask
    EXPECT_EQ(log.SetTrace(nullptr), trace);
    log.Report("after", lcaLogOpenClose, TLCAHandle{1, 1});
    ASSERT_TRUE(trace->Stop());

    std::string all;
    for (const auto& l : written)
        all += l + "\n";
    EXPECT_NE(all.find("opened"), std::string::npos) << all;
    EXPECT_EQ(all.find("before"), std::string::npos) << all;
    EXPECT_EQ(all.find("after"), std::string::npos) << all;
    EXPECT_EQ(all.find("Соединение"), std::string::npos) << all;
    EXPECT_TRUE(log.LastStage()); // the progress saw the connect all the same
}

// The worker reports while the window starts and stops traces and reads the stage.
TEST(LineProgress, ReportsWhileTracesComeAndGo) {
    TmonLineLog log;
    std::atomic<int> notified{0};
    log.SetNotify([&notified] { ++notified; });
    std::atomic<bool> stop{false};
    std::atomic<int> reported{0};
    std::atomic<bool> done{false};
    std::thread worker([&] {
        for (int i = 0; !stop.load() && i < 200000; ++i) {
            log.Report(i % 2 ? "Соединение..." : "x", uint8_t(i % 2 ? lcaLogConnect : lcaLogTask),
                       TLCAHandle{i % 3, 1});
            ++reported;
        }
        done = true; // no round waits for it any more
    });
    std::atomic<size_t> lines{0};
    for (int round = 0; round < 20; ++round) {
        auto trace = std::make_shared<TLCATrace>(
            [&lines](const std::vector<std::string>& l) {
                lines += l.size();
                return true;
            },
            kTraceAllClasses);
        log.SetTrace(trace);
        // A connect and a task reported under this trace, however the threads are scheduled.
        const int from = reported.load();
        while (reported.load() < from + 2 && !done.load())
            std::this_thread::yield();
        (void)log.LastStage();
        (void)log.ChannelLogMask();
        EXPECT_EQ(log.SetTrace(nullptr), trace);
        EXPECT_TRUE(trace->Stop());
    }
    stop = true;
    worker.join();
    log.SetNotify(nullptr);
    EXPECT_GT(notified.load(), 0);
    EXPECT_GT(lines.load(), 0u);
}

} // namespace
} // namespace qz
