// The trace's queue and writer: order, drops, stop, files.
#include "channel/LCATrace.h"
#include "tests/support/Files.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <fstream>
#include <mutex>
#include <sstream>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

using namespace qz;

namespace {

// A sink that keeps the lines and can hold the writer inside a write.
class HeldSink {
public:
    // Far more than any wait here needs, also under a sanitizer on a loaded machine.
    static constexpr std::chrono::seconds kEnded{20};

    TLCATrace::TSink Sink() {
        return [this](const std::vector<std::string>& lines) {
            std::unique_lock<std::mutex> lock(mutex_);
            ++calls_;
            changed_.notify_all();
            // Bounded, so that a failed check cannot leave the writer held for ever.
            changed_.wait_for(lock, kEnded, [this] { return !held_; });
            lines_.insert(lines_.end(), lines.begin(), lines.end());
            changed_.notify_all();
            return true;
        };
    }
    void Hold() {
        std::lock_guard<std::mutex> lock(mutex_);
        held_ = true;
    }
    void Release() {
        std::lock_guard<std::mutex> lock(mutex_);
        held_ = false;
        changed_.notify_all();
    }
    // Waits until the writer is inside its call number n; false if it never gets there.
    bool WaitForCall(int n) {
        std::unique_lock<std::mutex> lock(mutex_);
        return changed_.wait_for(lock, kEnded, [&] { return calls_ >= n; });
    }
    // Waits until a line ending with text has been written.
    bool WaitForLine(const std::string& text) {
        std::unique_lock<std::mutex> lock(mutex_);
        return changed_.wait_for(lock, kEnded, [&] {
            for (const auto& l : lines_)
                if (l.size() >= text.size() &&
                    l.compare(l.size() - text.size(), text.size(), text) == 0)
                    return true;
            return false;
        });
    }
    // The lines with their time stamps cut off.
    std::vector<std::string> Texts() {
        std::lock_guard<std::mutex> lock(mutex_);
        std::vector<std::string> out;
        for (const auto& l : lines_)
            out.push_back(l.substr(24)); // "2026-12-08 01:57:03.123 "
        return out;
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    bool held_ = false;
    int calls_ = 0;
    std::vector<std::string> lines_;
};

TLCATraceOptions Options(size_t capacity = 4096) {
    TLCATraceOptions o;
    o.Capacity = capacity;
    return o;
}

using test::FileLines;

const TLCAHandle kH{1, 9};

} // namespace

TEST(Trace, LinesComeInTheOrderOfTheMessagesFromEveryThread) {
    HeldSink sink;
    TLCATrace trace(sink.Sink(), kTraceAllClasses, Options());
    const TLCALogProc log = trace.LogProc();
    // The module's own messages come from the thread that starts it, the rest from the
    // worker: per thread the order holds.
    std::thread worker([&] {
        for (int i = 0; i < 500; ++i)
            log("w" + std::to_string(i), lcaLogTask, kH);
    });
    for (int i = 0; i < 500; ++i)
        log("m" + std::to_string(i), lcaLogOpenClose, kModuleLCAHandle);
    worker.join();
    ASSERT_TRUE(trace.Stop());
    const auto texts = sink.Texts();
    ASSERT_EQ(texts.size(), 1002u);
    EXPECT_EQ(texts.front(), "TRACE - трассировка начата, маска 31");
    EXPECT_EQ(texts.back(), "TRACE - трассировка окончена");
    int nextW = 0, nextM = 0;
    for (size_t i = 1; i + 1 < texts.size(); ++i) {
        if (texts[i].rfind("TASK 1:9 w", 0) == 0)
            EXPECT_EQ(texts[i], "TASK 1:9 w" + std::to_string(nextW++));
        else
            EXPECT_EQ(texts[i], "OPEN - m" + std::to_string(nextM++));
    }
    EXPECT_EQ(nextW, 500);
    EXPECT_EQ(nextM, 500);
    EXPECT_EQ(trace.Dropped(), 0u);
}

TEST(Trace, FullQueueDropsAndOneLineCountsThemWhenRoomReturns) {
    HeldSink sink;
    sink.Hold();
    TLCATrace trace(sink.Sink(), kTraceAllClasses, Options(4));
    const TLCALogProc log = trace.LogProc();
    ASSERT_TRUE(sink.WaitForCall(1)); // the writer is stuck in its first write
    for (int i = 0; i < 10; ++i)
        log("a" + std::to_string(i), lcaLogError, kH);
    EXPECT_EQ(trace.Dropped(), 6u);
    sink.Release();
    ASSERT_TRUE(sink.WaitForLine("a3"));
    log("b", lcaLogError, kH);
    ASSERT_TRUE(sink.WaitForLine("b"));

    // Dropped again while held, and stopped before room returns: the count is the last
    // line before the end.
    sink.Hold();
    log("c0", lcaLogError, kH);
    ASSERT_TRUE(sink.WaitForCall(4)); // header, a0..a3, b; now the one with c0 waits
    for (int i = 1; i < 7; ++i)
        log("c" + std::to_string(i), lcaLogError, kH);
    std::thread releaser([&] { sink.Release(); });
    ASSERT_TRUE(trace.Stop());
    releaser.join();
    EXPECT_EQ(trace.Dropped(), 8u);
    EXPECT_EQ(sink.Texts(),
              (std::vector<std::string>{
                  "TRACE - трассировка начата, маска 31", "ERR 1:9 a0", "ERR 1:9 a1", "ERR 1:9 a2",
                  "ERR 1:9 a3", "TRACE - пропущено сообщений: 6 (очередь записи была полна)",
                  "ERR 1:9 b", "ERR 1:9 c0", "ERR 1:9 c1", "ERR 1:9 c2", "ERR 1:9 c3", "ERR 1:9 c4",
                  "TRACE - пропущено сообщений: 2 (очередь записи была полна)",
                  "TRACE - трассировка окончена"}));
}

TEST(Trace, MaskFiltersButTheDumpStillLearnsItsDirection) {
    HeldSink sink;
    TLCATrace trace(sink.Sink(), lcaLogConnect | lcaLogDump, Options());
    EXPECT_EQ(trace.ChannelLogMask(), lcaLogConnect | lcaLogDump | lcaLogTask);
    const TLCALogProc log = trace.LogProc();
    const TLCAHandle other{2, 9};
    log("Модуль логических каналов доступа инициализирован.", lcaLogOpenClose, kModuleLCAHandle);
    log("Соединение...", lcaLogConnect, kH);
    log("Задание выполнено. Отправлено 2 байт", lcaLogTask, kH);
    log("Задание выполнено. Принято 3 байт", lcaLogTask, other);
    log("0A 0B ", lcaLogDump, kH);
    log("01 02 03 ", lcaLogDump, other);
    log("0C ", lcaLogDump, kH); // no task message before it
    log("Задание не выполнено: x", lcaLogError, kH);
    ASSERT_TRUE(trace.Stop());
    EXPECT_EQ(sink.Texts(), (std::vector<std::string>{
                                "TRACE - трассировка начата, маска 20", "CONN 1:9 Соединение...",
                                "DUMP 1:9 TX 0000: 0A 0B", "DUMP 2:9 RX 0000: 01 02 03",
                                "DUMP 1:9 ?? 0000: 0C", "TRACE - трассировка окончена"}));
    TLCATrace noDump(sink.Sink(), lcaLogTask | lcaLogError, Options());
    EXPECT_EQ(noDump.ChannelLogMask(), lcaLogTask | lcaLogError);
}

TEST(Trace, CallbackOutlivingTheTraceWritesNothingAndIsSafe) {
    HeldSink sink;
    TLCALogProc log;
    {
        TLCATrace trace(sink.Sink(), kTraceAllClasses, Options());
        log = trace.LogProc();
        log("before", lcaLogError, kH);
    }
    log("after", lcaLogError, kH);
    const auto texts = sink.Texts();
    ASSERT_EQ(texts.size(), 3u);
    EXPECT_EQ(texts[1], "ERR 1:9 before");
}

TEST(TraceFile, AppendsToTheFileAndRefusesOneItCannotOpen) {
    const test::TempDir tmp;
    ASSERT_FALSE(tmp.Path().empty());
    const std::string& dir = tmp.Path();
    const std::string path = dir + "/line.trace";
    for (int run = 0; run < 2; ++run) {
        std::string error;
        auto trace = TLCATrace::Open(path, kTraceAllClasses, error);
        ASSERT_TRUE(trace) << error;
        trace->LogProc()("Соединение установлено.", lcaLogConnect, kH);
        EXPECT_TRUE(trace->Stop()) << trace->ErrorText();
    }
    const auto lines = FileLines(path);
    ASSERT_EQ(lines.size(), 6u) << "a second run appends";
    EXPECT_EQ(lines[1].substr(24), "CONN 1:9 Соединение установлено.");
    EXPECT_EQ(lines[4].substr(24), "CONN 1:9 Соединение установлено.");

    std::string error;
    EXPECT_FALSE(TLCATrace::Open(std::string(dir) + "/no/such/folder/t", 31, error));
    EXPECT_NE(error.find("Не удалось открыть файл трассировки \"" + std::string(dir) +
                         "/no/such/folder/t\": "),
              std::string::npos)
        << error;
    error.clear();
    EXPECT_FALSE(TLCATrace::Open(dir, 31, error)) << "a folder is not a file";
    EXPECT_FALSE(error.empty());
    error.clear();
    // A named pipe nobody reads would hold up the start for ever.
    const std::string fifo = std::string(dir) + "/pipe";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_FALSE(TLCATrace::Open(fifo, 31, error));
    EXPECT_FALSE(error.empty());
    std::remove(fifo.c_str());
    error.clear();
    EXPECT_FALSE(TLCATrace::Open("", 31, error));
    EXPECT_FALSE(error.empty());
}

TEST(TraceFile, FailedWritesAreReportedAtStop) {
    std::string error;
    auto trace = TLCATrace::Open("/dev/full", kTraceAllClasses, error);
    ASSERT_TRUE(trace) << error;
    trace->LogProc()("Соединение...", lcaLogConnect, kH);
    EXPECT_FALSE(trace->Stop());
    EXPECT_EQ(trace->ErrorText().rfind("Ошибка записи в файл трассировки: ", 0), 0u)
        << trace->ErrorText();
    EXPECT_FALSE(trace->Stop()) << "the same answer again";
}

TEST(TraceFile, AFullFileIsRotatedWithANoteInBothPartsAndOnlyOnePartIsKept) {
    const test::TempDir tmp;
    const std::string path = tmp.Path() + "/line.trace";
    TLCATraceOptions o;
    o.MaxFileBytes = 1000;
    std::string error;
    auto trace = TLCATrace::Open(path, kTraceAllClasses, error, o);
    ASSERT_TRUE(trace) << error;
    const std::string text(60, 'x');
    for (int i = 0; i < 100; ++i) // about 9 KB: several rotations
        trace->LogProc()(text + std::to_string(i), lcaLogConnect, kH);
    ASSERT_TRUE(trace->Stop()) << trace->ErrorText();

    const auto now = FileLines(path), older = FileLines(path + ".1");
    ASSERT_FALSE(now.empty());
    ASSERT_FALSE(older.empty());
    EXPECT_FALSE(std::ifstream(path + ".2").good()) << "one older part only";
    EXPECT_NE(older.back().find("TRACE - файл трассировки достиг 1000 байт, эта часть "
                                "переименована в " +
                                path + ".1; продолжение в " + path),
              std::string::npos)
        << older.back();
    EXPECT_NE(
        now.front().find("TRACE - продолжение трассировки; предыдущая часть в " + path + ".1"),
        std::string::npos)
        << now.front();
    EXPECT_NE(now.back().find("трассировка окончена"), std::string::npos);
    // The newest messages are kept, in order and without a gap across the two parts, and no
    // part grows far past the limit.
    std::vector<int> kept;
    for (const auto* part : {&older, &now})
        for (const auto& line : *part) {
            const auto at = line.find(text);
            if (at != std::string::npos) kept.push_back(std::stoi(line.substr(at + text.size())));
        }
    ASSERT_FALSE(kept.empty());
    EXPECT_EQ(kept.back(), 99);
    for (size_t i = 1; i < kept.size(); ++i)
        EXPECT_EQ(kept[i], kept[i - 1] + 1);
    struct stat st {};
    ASSERT_EQ(stat(path.c_str(), &st), 0);
    EXPECT_LT(st.st_size, 1000 + 300);
    ASSERT_EQ(stat((path + ".1").c_str(), &st), 0);
    EXPECT_LT(st.st_size, 1000 + 300);
}

TEST(TraceFile, AFileThatCannotBeRenamedStopsGrowingWithANote) {
    const test::TempDir tmp;
    const std::string path = tmp.Path() + "/line.trace";
    // A folder in the way of the older part: the rename is refused, even for root.
    ASSERT_EQ(mkdir((path + ".1").c_str(), 0755), 0);
    test::WriteFileBytes(path + ".1/keep", "x");
    TLCATraceOptions o;
    o.MaxFileBytes = 500;
    std::string error;
    auto trace = TLCATrace::Open(path, kTraceAllClasses, error, o);
    ASSERT_TRUE(trace) << error;
    for (int i = 0; i < 40; ++i)
        trace->LogProc()(std::string(60, 'y'), lcaLogConnect, kH);
    EXPECT_TRUE(trace->Stop()) << trace->ErrorText();
    const auto lines = FileLines(path);
    ASSERT_FALSE(lines.empty());
    EXPECT_NE(lines.back().find("файл трассировки достиг 500 байт и не переименован"),
              std::string::npos)
        << lines.back();
    EXPECT_LT(lines.size(), 12u);
}
