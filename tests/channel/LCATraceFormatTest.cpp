// The lines of a line trace, and the trace mask an operator writes.
#include "channel/LCATraceFormat.h"
#include "common/Cp1251.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <random>

using namespace qz;
using std::chrono::milliseconds;
using std::chrono::system_clock;

namespace {

// Timestamps are local time; the tests read them in UTC.
const auto* const kUtc = ::testing::AddGlobalTestEnvironment([] {
    struct Utc : ::testing::Environment {
        void SetUp() override {
            setenv("TZ", "UTC", 1);
            tzset();
        }
    };
    return new Utc;
}());

system_clock::time_point At(long long ms) {
    return system_clock::time_point(milliseconds(ms));
}

TTraceEntry Entry(uint8_t cls, const std::string& text, TLCAHandle h = {1, 7}) {
    TTraceEntry e;
    e.Time = At(1796695023123); // 2026-12-08 01:57:03.123 UTC
    e.Class = cls;
    e.Handle = h;
    e.Text = text;
    return e;
}

std::vector<std::string> Lines(const TTraceEntry& e) {
    std::vector<std::string> out;
    FormatTraceEntry(e, out);
    return out;
}

// What a worker dump of these bytes reads: two hex digits and a space each.
std::string Dump(const std::vector<uint8_t>& bytes) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string s;
    for (uint8_t b : bytes) {
        s += kHex[b >> 4];
        s += kHex[b & 15];
        s += ' ';
    }
    return s;
}

// Every character decodes and none of them is a control character or a line separator.
::testing::AssertionResult IsOneCleanLine(const std::string& line) {
    const auto* s = reinterpret_cast<const uint8_t*>(line.data());
    size_t i = 0;
    while (i < line.size()) {
        const size_t at = i;
        char32_t cp = 0;
        if (!NextUtf8(s, line.size(), i, cp))
            return ::testing::AssertionFailure() << "malformed UTF-8 at " << at;
        if (cp < 0x20 || (cp >= 0x7F && cp < 0xA0) || cp == 0x2028 || cp == 0x2029)
            return ::testing::AssertionFailure()
                   << "control character " << unsigned(cp) << " at " << at;
    }
    return ::testing::AssertionSuccess();
}

} // namespace

TEST(TraceFormat, MessageLineHasTimeClassHandleAndText) {
    EXPECT_EQ(Lines(Entry(lcaLogConnect, "Соединение...")),
              (std::vector<std::string>{"2026-12-08 01:57:03.123 CONN 1:7 Соединение..."}));
    EXPECT_EQ(Lines(Entry(lcaLogOpenClose, "Модуль логических каналов доступа инициализирован.",
                          kModuleLCAHandle)),
              (std::vector<std::string>{"2026-12-08 01:57:03.123 OPEN - Модуль логических "
                                        "каналов доступа инициализирован."}));
    EXPECT_EQ(TraceClassName(lcaLogError), "ERR");
    EXPECT_EQ(TraceClassName(lcaLogTask), "TASK");
    EXPECT_EQ(TraceClassName(lcaLogDump), "DUMP");
    EXPECT_EQ(TraceClassName(lcaLogError | lcaLogTask), "C10");
    EXPECT_EQ(FormatTraceHandle({-1, 5}), "-1:5") << "only (-1, 0) is the module";
}

TEST(TraceFormat, TimeKeepsMillisecondsAlsoBefore1970) {
    EXPECT_EQ(FormatTraceTime(At(1234)), "1970-01-01 00:00:01.234");
    EXPECT_EQ(FormatTraceTime(At(-1)), "1969-12-31 23:59:59.999");
    EXPECT_EQ(FormatTraceTime(At(0)), "1970-01-01 00:00:00.000");
}

TEST(TraceFormat, DumpIsCutIntoLinesOfSixteenMarkedWithTheDirection) {
    std::vector<uint8_t> bytes;
    for (int i = 0; i < 20; ++i)
        bytes.push_back(uint8_t(0xF0 + i));
    TTraceEntry e = Entry(lcaLogDump, Dump(bytes));
    e.Direction = TTraceDirection::Received;
    EXPECT_EQ(Lines(e), (std::vector<std::string>{
                            "2026-12-08 01:57:03.123 DUMP 1:7 RX 0000: F0 F1 F2 F3 F4 F5 F6 F7 F8 "
                            "F9 FA FB FC FD FE FF",
                            "2026-12-08 01:57:03.123 DUMP 1:7 RX 0010: 00 01 02 03"}));

    e = Entry(lcaLogDump, "01 03 ");
    e.Direction = TTraceDirection::Sent;
    EXPECT_EQ(Lines(e).at(0), "2026-12-08 01:57:03.123 DUMP 1:7 TX 0000: 01 03");
    e.Direction = TTraceDirection::Unknown;
    EXPECT_EQ(Lines(e).at(0), "2026-12-08 01:57:03.123 DUMP 1:7 ?? 0000: 01 03");
}

TEST(TraceFormat, DumpOfALongTaskSaysHowMuchIsNotListed) {
    // The worker lists the first 128 bytes of a task.
    TTraceEntry e = Entry(lcaLogDump, Dump(std::vector<uint8_t>(128, 0x55)));
    e.Direction = TTraceDirection::Received;
    e.Moved = 200;
    const auto lines = Lines(e);
    ASSERT_EQ(lines.size(), 9u);
    EXPECT_EQ(lines[7].substr(lines[7].find("RX")), "RX 0070: 55 55 55 55 55 55 55 55 55 55 55 "
                                                    "55 55 55 55 55");
    EXPECT_EQ(lines[8],
              "2026-12-08 01:57:03.123 DUMP 1:7 RX (показаны первые 128 из 200 байт; все байты — "
              "--trace-bytes 0)");
    e.Moved = 128;
    EXPECT_EQ(Lines(e).size(), 8u);
}

TEST(TraceFormat, DumpTextNotInDumpFormIsWrittenAsText) {
    std::vector<uint8_t> bytes;
    for (const char* text : {"", "0", "0G ", "01  02", "01,02", "012 "})
        EXPECT_FALSE(ParseTraceDump(text, bytes)) << text;
    ASSERT_TRUE(ParseTraceDump("0a Ff", bytes)) << "no space needed after the last byte";
    EXPECT_EQ(bytes, (std::vector<uint8_t>{0x0A, 0xFF}));

    EXPECT_EQ(Lines(Entry(lcaLogDump, "01\n02")),
              (std::vector<std::string>{"2026-12-08 01:57:03.123 DUMP 1:7 ?? 01\\x0A02"}));
}

TEST(TraceFormat, TextsCannotBreakTheLine) {
    EXPECT_EQ(SanitizeTraceText("a\r\nb\tc\x7F"), "a\\x0D\\x0Ab\\x09c\\x7F");
    EXPECT_EQ(SanitizeTraceText("\xC2\x85|\xE2\x80\xA8"), "\\x85|\\u2028");
    // A byte of code page 1251 that slipped through is not UTF-8.
    std::string replaced;
    for (int i = 0; i < 6; ++i)
        replaced += "\xEF\xBF\xBD";
    EXPECT_EQ(SanitizeTraceText("\xCE\xF8\xE8\xE1\xEA\xE0"), replaced);
    EXPECT_EQ(SanitizeTraceText("x\xFFy"), "x\xEF\xBF\xBDy");
    EXPECT_EQ(SanitizeTraceText(std::string("a\0b", 3)), "a\\x00b");
    const std::string russian = "Ошибка обмена с измерителем: время ожидания истекло";
    EXPECT_EQ(SanitizeTraceText(russian), russian);
}

TEST(TraceFormat, AnyBytesGiveCleanLinesAndDumpsKeepTheirBytes) {
    std::mt19937 rng(20261208);
    auto byte = [&rng] { return uint8_t(rng() & 0xFF); };
    for (int round = 0; round < 3000; ++round) {
        TTraceEntry e = Entry(uint8_t(1u << (rng() % 6)), "", {int32_t(rng()), int32_t(rng())});
        e.Direction = TTraceDirection(rng() % 3);
        e.Moved = rng() % 300;
        std::vector<uint8_t> bytes;
        const size_t n = rng() % 140;
        const bool dumpForm = e.Class == lcaLogDump && (rng() & 1) && n > 0;
        for (size_t i = 0; i < n; ++i)
            bytes.push_back(byte());
        if (dumpForm)
            e.Text = Dump(bytes);
        else
            e.Text.assign(bytes.begin(), bytes.end());

        const auto lines = Lines(e);
        ASSERT_FALSE(lines.empty());
        const std::string prefix = FormatTraceTime(e.Time) + " " + TraceClassName(e.Class) + " " +
                                   FormatTraceHandle(e.Handle) + " ";
        for (const auto& line : lines) {
            ASSERT_TRUE(IsOneCleanLine(line)) << "round " << round;
            ASSERT_EQ(line.compare(0, prefix.size(), prefix), 0) << line;
        }
        if (!dumpForm) continue;
        // Reading the lines back gives the bytes in order, 16 at most per line.
        std::vector<uint8_t> back;
        for (const auto& line : lines) {
            const size_t colon = line.find(": ", prefix.size());
            if (colon == std::string::npos) continue; // the "not listed" note
            std::vector<uint8_t> part;
            ASSERT_TRUE(ParseTraceDump(line.substr(colon + 2), part)) << line;
            ASSERT_LE(part.size(), 16u);
            back.insert(back.end(), part.begin(), part.end());
        }
        ASSERT_EQ(back, bytes) << "round " << round;
        ASSERT_EQ(lines.size(), (n + 15) / 16 + (e.Moved > n ? 1 : 0));
    }
}

TEST(TraceFormat, TaskMessageTellsTheDirectionOfTheDumpAfterIt) {
    TTraceDirection d = TTraceDirection::Unknown;
    uint32_t moved = 0;
    ASSERT_TRUE(TraceTaskDone("Задание выполнено. Отправлено 8 байт", d, moved));
    EXPECT_EQ(d, TTraceDirection::Sent);
    EXPECT_EQ(moved, 8u);
    ASSERT_TRUE(TraceTaskDone("Задание выполнено. Принято 1602 байт", d, moved));
    EXPECT_EQ(d, TTraceDirection::Received);
    EXPECT_EQ(moved, 1602u);
    for (const char* other :
         {"Задание логическому каналу принято на выполнение (чтение).",
          "Задание выполнено. Принято  байт", "Задание выполнено. Принято 5",
          "Задание выполнено. Принято 99999999999 байт", "Задание выполнено. Отправлено 8 байт!"})
        EXPECT_FALSE(TraceTaskDone(other, d, moved)) << other;
}

TEST(TraceMask, NumbersAndNames) {
    struct Case {
        const char* text;
        uint8_t mask;
    };
    for (const Case c : {Case{"31", 31}, Case{"1", 1}, Case{"0x1F", 31}, Case{"0X10", 16},
                         Case{" 20 ", 20}, Case{"all", 31}, Case{"connect,dump", 20},
                         Case{" Open , ERROR ", 3}, Case{"task,task", 8}, Case{"dump,all", 31}}) {
        uint8_t mask = 0;
        std::string error;
        EXPECT_TRUE(ParseTraceMask(c.text, mask, error)) << c.text << ": " << error;
        EXPECT_EQ(mask, c.mask) << c.text;
    }
}

TEST(TraceMask, WrongMasksAreRefusedWithATextAndLeaveTheMask) {
    for (const char* text :
         {"", "  ", "0", "32", "0x20", "0x", "12a", "-1", "1e3", "99999999999999999999", "connect,",
          ",dump", "connect;dump", "conn", "0x1F,dump"}) {
        uint8_t mask = 7;
        std::string error;
        EXPECT_FALSE(ParseTraceMask(text, mask, error)) << text;
        EXPECT_EQ(mask, 7) << text;
        EXPECT_FALSE(error.empty()) << text;
    }
    uint8_t mask = 0;
    std::string error;
    ParseTraceMask("connect,dmp", mask, error);
    EXPECT_NE(error.find("\"dmp\""), std::string::npos) << error;
}
