// Recording from the simulated meter on the real threads, with the meter's clock and the
// threads' clock both running ten times faster so that ten 3-second records take about three
// seconds: the journal, its CSV and COMTRADE exports against what the poll printed, a
// recorder killed in the middle, and the replay of a journal as a meter.
#include "channel/LCAObject.h"
#include "channel/PCAType.h"
#include "common/Cp1251.h"
#include "connection/CcnConnectionList.h"
#include "exchange/monCsvExport.h"
#include "exchange/monNumberText.h"
#include "exchange/monRecordFields.h"
#include "journal/jnComtrade.h"
#include "journal/jnJournal.h"
#include "journal/jnRecorder.h"
#include "journal/jnReplay.h"
#include "journal/jnSeries.h"
#include "simulator/MeterSimulator.h"
#include "tests/support/ChannelGuards.h"
#include "tests/support/CliPollOptions.h"
#include "tests/support/CsvCells.h"
#include "tests/support/FastClocks.h"
#include "tests/support/Files.h"
#include "tests/support/JournalFeed.h"
#include "tests/support/MeterConnection.h"
#include "tests/support/RecordingListener.h"
#include "tests/support/RecordingQzcli.h"
#include "tests/support/TempDir.h"
#include "tools/qzcli/CliFormat.h"
#include "tools/qzcli/CliJournal.h"
#include "tools/qzcli/CliRun.h"
#include "waveform/monHeadlessSignalWindow.h"
#include "waveform/monSignalControl.h"
#include "waveform/monWaveMath.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <map>
#include <sstream>
#include <thread>

using namespace qz;
using qz::test::FileLines;
using qz::test::ReadFileBytes;
using qz::test::TempDir;
namespace fs = std::filesystem;

namespace {

constexpr int kFast = 10;

// Polls the simulated meter on loopback, optionally recording, until enough records came.
// `replay`: the meter replays a journal, and its end (status 9) may come first when the poll,
// on a loaded machine, fell behind the meter's fast clock and skipped records.
std::vector<std::string> Poll(TMeterSimulator& sim, const std::string& journal, size_t records,
                              size_t blocks, int64_t* recorded = nullptr, bool replay = false) {
    auto connection = test::TcpConnection(dtQZ2M, sim.port(), "127.0.0.1", test::kOwnAttempts,
                                          test::kOwnAttempts);
    TmonSharedStorage storage;
    storage.Update([](TmonStorage& s) { s.Settings.HasNeutral = 1; });
    // Prints what qzcli --json prints, and stops the poll after enough records and blocks.
    test::TRecordingListener printer;
    std::vector<std::string> lines;
    const auto enough = [&](size_t) {
        if (lines.size() >= records && printer.Blocks.size() >= blocks && printer.Thread)
            printer.Thread->Stop();
    };
    printer.OnRecord = [&](size_t n) {
        lines.push_back(RecordJson(storage.Snapshot().Data3sec));
        enough(n);
    };
    printer.OnBlock = enough;
    TjnWriter writer;
    TjnRecorder recorder(writer, storage, &printer);
    IExchangeListener* listener = &printer;
    if (!journal.empty()) {
        TjnMeter m;
        m.DeviceType = dtQZ2M;
        m.ModelIndex = 1;
        m.Model = DeviceTypeNames[dtQZ2M];
        m.FactoryNumber = 1;
        m.Address = 1;
        m.Connection = "TCP/IP";
        m.Started = NowDateTime();
        std::string e;
        EXPECT_TRUE(writer.Create(journal, m, e)) << e;
        listener = &recorder;
    }
    TmonSignalControl signal(true);
    TMainExchangeThread thread(listener, connection.get(), &storage);
    TSignalExchangeThread waves(listener, connection.get(), &storage, signal.Experiment());
    thread.SetClock(test::FastTicks(kFast));
    waves.SetClock(test::FastTicks(kFast));
    printer.Thread = &thread;
    thread.Start();
    if (blocks > 0) waves.Start();
    EXPECT_TRUE(printer.WaitEnd(60000));
    thread.Join();
    waves.Stop();
    waves.Join();
    if (!(replay && printer.EndStatus == 9)) {
        EXPECT_EQ(printer.EndCode, 0);
        EXPECT_EQ(printer.EndStatus, 0);
    }
    EXPECT_TRUE(recorder.Error().empty()) << recorder.Error();
    if (recorded) *recorded = recorder.Waveforms();
    std::string e;
    if (writer.IsOpen()) {
        EXPECT_TRUE(writer.Close(e)) << e;
    }
    std::lock_guard<std::mutex> lock(printer.M);
    return lines;
}

// "key":number or "key":[numbers] of a JSON line, null as NaN.
std::map<std::string, std::vector<double>> ParseJson(const std::string& j) {
    std::map<std::string, std::vector<double>> out;
    size_t i = 1;
    while (i < j.size() && j[i] == '"') {
        const size_t end = j.find('"', i + 1);
        const std::string key = j.substr(i + 1, end - i - 1);
        i = end + 2;
        auto number = [&] {
            if (j.compare(i, 4, "null") == 0) {
                i += 4;
                return std::nan("");
            }
            char* stop = nullptr;
            const double v = std::strtod(j.c_str() + i, &stop);
            i = size_t(stop - j.c_str());
            return v;
        };
        std::vector<double>& v = out[key];
        if (j[i] == '"') { // a text ("TimeISO"): no number
            i = j.find('"', i + 1) + 1;
        } else if (j[i] == '[') {
            ++i;
            while (j[i] != ']') {
                v.push_back(number());
                if (j[i] == ',') ++i;
            }
            ++i;
        } else {
            v.push_back(number());
        }
        if (j[i] == ',') ++i;
    }
    return out;
}

double CellValue(std::string cell) {
    for (char& c : cell)
        if (c == ',') c = '.';
    for (char& c : cell)
        if (c == 'E') c = 'e';
    return cell.empty() ? std::nan("") : std::strtod(cell.c_str(), nullptr);
}

// A record line without its link figures, which describe the conversation, not the meter.
std::string WithoutLink(std::string json) {
    const auto at = json.find(",\"Link\":{");
    if (at != std::string::npos) {
        const auto end = json.find('}', at);
        if (end != std::string::npos) json.erase(at, end + 1 - at);
    }
    return json;
}

std::string Shell(const std::string& command) {
    std::string out;
    FILE* p = popen(command.c_str(), "r");
    if (!p) return out;
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0)
        out.append(buf, n);
    pclose(p);
    return out;
}

} // namespace

TEST(Recording, TenRecordsAndTheirExportsAreWhatThePollPrinted) {
    test::TNoSleep noSleep;
    test::TLCAModule module;
    TempDir dir;
    const std::string journal = dir.Path() + "/week.db";
    TSimOptions so;
    so.ModelIndex = 1;
    so.ListenPort = 0;
    so.Clock = test::FastMeterClock(NowDateTime(), kFast);
    TMeterSimulator sim(so);
    ASSERT_TRUE(sim.Start());
    int64_t blocks = 0;
    const std::vector<std::string> json = Poll(sim, journal, 10, 3, &blocks);
    ASSERT_EQ(json.size(), 10u);
    ASSERT_GE(blocks, 3);

    // The journal holds each of them, committed and closed.
    TjnReader r;
    std::string e;
    ASSERT_EQ(r.Open(journal, e), TjnOpenResult::Ok) << e;
    int64_t records = 0, waveforms = 0;
    ASSERT_TRUE(r.Counts(records, waveforms, e));
    EXPECT_EQ(records, 10);
    EXPECT_EQ(waveforms, blocks);

    // The CSV export: one line per record, every cell the value --json printed.
    const std::string csv = dir.Path() + "/week.csv";
    std::ostringstream out, err;
    ASSERT_EQ(RunJournalCommand({"export", journal, "--csv", csv, "--harmonics"}, out, err), 0)
        << err.str();
    const auto lines = FileLines(csv);
    ASSERT_EQ(lines.size(), 11u);
    // Column i + 1 of a line is field (name, index) in the order of the fields.
    std::vector<std::pair<std::string, int>> columns;
    ForEachRecordField(TmonData3sec(), true, [&](const char* name, const double*, int n) {
        if (std::string(name) == "Time") return;
        for (int i = 0; i < n; ++i)
            columns.push_back({name, i});
    });
    ASSERT_EQ(test::CsvCells(lines[0]).size(), columns.size() + 1);
    for (size_t k = 0; k < 10; ++k) {
        const auto values = ParseJson(json[k]);
        const auto cells = test::CsvCells(lines[k + 1]);
        ASSERT_EQ(cells.size(), columns.size() + 1) << k;
        EXPECT_EQ(cells[0], FormatCsvDateTime(values.at("Time")[0]));
        for (size_t c = 0; c < columns.size(); ++c) {
            const double want = values.at(columns[c].first)[size_t(columns[c].second)];
            const double got = CellValue(cells[c + 1]);
            if (std::isnan(want))
                EXPECT_TRUE(std::isnan(got)) << columns[c].first;
            else
                EXPECT_EQ(got, want) << "record " << k << " " << columns[c].first << "["
                                     << columns[c].second << "]: " << cells[c + 1];
        }
    }
    // The columns named in one style with their units, and every number read back: the
    // meter's floats as the very floats decoded from the journal, the computed values within
    // half a unit of their last decimal.
    const auto header = test::CsvCells(lines[0]);
    for (const char* name : {"Время", "dF, Гц", "U_A, В", "I1_C, А", "P_SUM, Вт", "CosPhi_A",
                             "KI_A, %", "KU_AB, %", "USeq_2, В", "KUn_A(2), %"})
        EXPECT_NE(std::find(header.begin(), header.end(), Utf8ToCp1251(name)), header.end())
            << name;
    {
        TjnDecoder decoder(r);
        size_t k = 0;
        ASSERT_TRUE(r.ForEachRecord(
            kjnAnyTimeFrom, kjnAnyTimeTo,
            [&](const TjnRecordView& view) {
                TmonData3sec d;
                EXPECT_TRUE(decoder.Decode(view, d, e)) << e;
                const auto cells = test::CsvCells(lines.at(++k));
                size_t c = 1;
                ForEachRecordField(d, true, [&](const char* name, const double* x, int n) {
                    if (std::string(name) == "Time") return;
                    for (int i = 0; i < n; ++i, ++c) {
                        if (cells[c].empty()) continue; // the fourth channel of a meter without
                        const int decimals = RecordFieldText(name, i).Decimals;
                        std::string text = cells[c];
                        std::replace(text.begin(), text.end(), ',', '.');
                        if (decimals == kmonFloatDigits)
                            EXPECT_EQ(std::strtof(text.c_str(), nullptr), float(x[i]))
                                << name << "[" << i << "]: " << cells[c];
                        else
                            EXPECT_NEAR(std::strtod(text.c_str(), nullptr), x[i],
                                        0.5000001 * std::pow(10.0, -decimals))
                                << name << "[" << i << "]: " << cells[c];
                    }
                });
                return true;
            },
            e))
            << e;
        EXPECT_EQ(k, 10u);
    }

    // A window of meter times takes only the records inside it.
    const std::string part = dir.Path() + "/part.csv";
    const std::string from = test::CsvCells(lines[3])[0], to = test::CsvCells(lines[5])[0];
    ASSERT_EQ(
        RunJournalCommand({"export", journal, "--csv", part, "--from", from, "--to", to}, out, err),
        0)
        << err.str();
    EXPECT_EQ(FileLines(part).size(), 4u);
    // --decimal forces the separator: the same cells, with a point for the comma.
    const std::string dotted = dir.Path() + "/dotted.csv";
    ASSERT_EQ(RunJournalCommand({"export", journal, "--csv", dotted, "--from", from, "--to", to,
                                 "--decimal", "."},
                                out, err),
              0)
        << err.str();
    const auto commaLines = FileLines(part), dotLines = FileLines(dotted);
    ASSERT_EQ(dotLines.size(), commaLines.size());
    std::string expected = commaLines[1];
    std::replace(expected.begin(), expected.end(), ',', '.');
    EXPECT_NE(expected, commaLines[1]);
    EXPECT_EQ(dotLines[1], expected);
    EXPECT_EQ(RunJournalCommand({"export", journal, "--csv", dotted, "--decimal", ";"}, out, err),
              2);

    // COMTRADE: each block read back by an independent reader gives the snapshot CSV's
    // waveform cells of the same block.
    const std::string folder = dir.Path() + "/comtrade";
    ASSERT_EQ(RunJournalCommand({"export", journal, "--comtrade", folder}, out, err), 0)
        << err.str();
    TjnDecoder decoder(r);
    int checked = 0;
    ASSERT_TRUE(r.ForEachWaveform(
        kjnAnyTimeFrom, kjnAnyTimeTo,
        [&](const TjnWaveformView& b) {
            const std::string base = folder + "/" + ComtradeBaseName(r.Meter(), b);
            std::istringstream py(Shell("python3 " QZ_COMTRADE_READER " " + base + ".cfg"));
            std::string header, info, line;
            std::getline(py, header);
            std::getline(py, info);
            EXPECT_EQ(header, "UA[V];IA[A];UB[V];IB[A];UC[V];IC[A];UN[V];IN[A];UAB[V];UBC[V];"
                              "UCA[V]");
            const auto facts = test::CsvCells(info + ";");
            EXPECT_EQ(facts[0], "50");
            EXPECT_EQ(facts[1], "3200"); // 64 samples per period of 50 Hz
            EXPECT_EQ(facts[2], "64");
            const TDateTimeParts t = DecodeDateTime(b.MeterTime);
            char stamp[40];
            std::snprintf(stamp, sizeof stamp, "%02d/%02d/%04d,%02d:%02d:%02d.%06d", t.Day, t.Month,
                          t.Year, t.Hour, t.Minute, t.Second, t.MSec * 1000);
            EXPECT_EQ(facts[3], stamp);

            // The snapshot CSV of the same block, as "Сохранить" writes it.
            TmonStorage s;
            EXPECT_TRUE(decoder.SettingsOf(b.SettingsId, s.Settings, e));
            s.SignalData = b.Data;
            s.SignalSize = int32_t(b.Size);
            TmonSignalControl control(true);
            TmonHeadlessSignalWindow window(true);
            control.OnSignalData(window, s, b.ChannelMask, b.SizeCode, false);
            TmonCsvOptions o;
            o.DecimalSeparator = '.';
            const std::string snapshot =
                FormatMeasurementsCsv(TmonCsvDevice(), s, ICoefOf(s.Settings.NominalCurrent, true),
                                      UCoefOf(s.Settings.VoltageRatio), control.Experiment(), o);
            std::istringstream in(snapshot);
            std::vector<std::string> snapLines;
            while (std::getline(in, line))
                snapLines.push_back(line);
            EXPECT_EQ(snapLines.size(), 67u + 64u);
            int n = 0;
            while (std::getline(py, line)) {
                const auto mine = test::CsvCells(line + ";");
                const auto theirs = test::CsvCells(snapLines[size_t(67 + n)]);
                EXPECT_EQ(mine[0], theirs[0]);
                EXPECT_EQ(mine.size(), theirs.size() + 1); // the reader adds the time
                for (size_t c = 2; c < mine.size() && c - 1 < theirs.size(); ++c) {
                    const double a = CellValue(mine[c]), want = CellValue(theirs[c - 1]);
                    // The snapshot writes millivolts and tenths of a milliampere.
                    EXPECT_NEAR(a, want, 0.0005 + 1e-9 * std::fabs(want)) << "sample " << n;
                }
                ++n;
            }
            EXPECT_EQ(n, 64);
            ++checked;
            return true;
        },
        e));
    EXPECT_EQ(checked, blocks);

    // Replay: the journal as a meter. The poll prints the recorded records, one for one.
    auto replay = std::make_shared<TjnReplay>();
    ASSERT_TRUE(replay->Open(journal, e)) << e;
    TSimOptions ro;
    ro.ModelIndex = replay->Meter().ModelIndex;
    ro.Address = uint16_t(replay->Meter().Address);
    ro.ListenPort = 0;
    ro.Clock = test::FastMeterClock(replay->StartTime(), kFast);
    ro.Replay = replay;
    TMeterSimulator player(ro);
    ASSERT_TRUE(player.Start());
    // Every record a poll got is the recorded one of its time, in order; on an idle machine
    // each one, on a loaded one the poll may skip some (and meet the end of the recording).
    const auto expectRecordedInOrder = [&](const std::vector<std::string>& got, bool withLink) {
        size_t at = 0;
        for (size_t k = 0; k < got.size(); ++k) {
            const auto time = TimeOfDayMs(ParseJson(got[k]).at("Time")[0]);
            while (at < json.size() && TimeOfDayMs(ParseJson(json[at]).at("Time")[0]) != time)
                ++at;
            ASSERT_LT(at, json.size()) << "replayed record " << k << " was never recorded";
            if (withLink)
                EXPECT_TRUE(got[k] == json[at]) << "record " << k;
            else
                EXPECT_TRUE(WithoutLink(got[k]) == WithoutLink(json[at])) << "record " << k;
            ++at;
        }
    };
    const std::vector<std::string> replayed = Poll(player, "", 10, 0, nullptr, true);
    ASSERT_GE(replayed.size(), 5u);
    expectRecordedInOrder(replayed, true);

    // The same with qzcli itself polling a meter that replays at the recorded pace.
    TSimOptions ro1 = ro;
    ro1.Clock = test::FastMeterClock(replay->StartTime(), 1);
    TMeterSimulator pace(ro1);
    ASSERT_TRUE(pace.Start());
    TCliOptions o = test::TcpPollOptions("qz2m", pace.port());
    o.Count = 2;
    o.Json = true;
    std::ostringstream pollOut, pollErr;
    ASSERT_EQ(RunPoll(o, pollOut, pollErr, -1), 0) << pollErr.str();
    std::istringstream printed(pollOut.str());
    std::vector<std::string> paced;
    for (std::string line; std::getline(printed, line);)
        paced.push_back(line);
    ASSERT_EQ(paced.size(), 2u) << pollOut.str();
    expectRecordedInOrder(paced, false);
}

TEST(Recording, AKilledRecorderLeavesAJournalWithEveryPrintedRecord) {
    TempDir dir;
    const std::string journal = dir.Path() + "/killed.db";
    test::TRecordingQzcli recorder(QZ_QZCLI_PATH, journal);
    ASSERT_TRUE(recorder.Started());
    // Two records printed: both are committed before they are printed.
    recorder.ReadLines(2);
    recorder.Stop(SIGKILL);
    const size_t printed = recorder.Lines();
    ASSERT_GE(printed, 2u) << recorder.Printed.substr(0, 200);

    const std::string before = ReadFileBytes(journal), log = ReadFileBytes(journal + "-wal");
    std::ostringstream info, err;
    ASSERT_EQ(RunJournalCommand({"info", journal}, info, err), 0) << err.str();
    const auto at = info.str().find("Записи 3 с: ");
    ASSERT_NE(at, std::string::npos) << info.str();
    EXPECT_GE(std::stoul(info.str().substr(at + std::strlen("Записи 3 с: "))), printed)
        << info.str();
    EXPECT_NE(info.str().find("Пропуски: нет"), std::string::npos) << info.str();
    // It says that the recording did not finish, and where its last records are.
    EXPECT_NE(info.str().find("запись не завершена"), std::string::npos) << info.str();
    EXPECT_NE(info.str().find(journal + "-wal"), std::string::npos) << info.str();
    // Reading it changed nothing, neither the file nor its log.
    EXPECT_EQ(ReadFileBytes(journal), before);
    EXPECT_EQ(ReadFileBytes(journal + "-wal"), log);

    // The command line takes the journal file.
    TCliOptions parsed;
    std::string parseError;
    ASSERT_TRUE(ParseCliArgs({"poll", "--demo", "--record", journal}, parsed, parseError));
    EXPECT_EQ(parsed.RecordFile, journal);
    EXPECT_FALSE(ParseCliArgs({"poll", "--demo", "--record"}, parsed, parseError));

    // The next recording, to a new file, works; the old one is never written again.
    test::TNoSleep noSleep;
    TCliOptions o;
    o.Command = TCliOptions::TCommand::Poll;
    o.Demo = true;
    o.Count = 1;
    o.Json = true;
    o.RecordFile = journal;
    std::ostringstream pollOut, pollErr;
    EXPECT_EQ(RunPoll(o, pollOut, pollErr, -1), 2);
    EXPECT_NE(pollErr.str().find("существует"), std::string::npos) << pollErr.str();
    o.RecordFile = dir.Path() + "/next.db";
    ASSERT_EQ(RunPoll(o, pollOut, pollErr, -1), 0) << pollErr.str();
    std::ostringstream info2;
    ASSERT_EQ(RunJournalCommand({"info", o.RecordFile}, info2, err), 0) << err.str();
    EXPECT_NE(info2.str().find("Записи 3 с: 1,"), std::string::npos) << info2.str();
    EXPECT_NE(info2.str().find("Программа: qzcli "), std::string::npos) << info2.str();
    EXPECT_EQ(info2.str().find("не завершена"), std::string::npos) << info2.str();

    // Bad journals end with a text and status 1, wrong arguments with status 2.
    std::ofstream(dir.Path() + "/text.db") << std::string(1000, 'x');
    std::ostringstream o1, e1;
    EXPECT_EQ(RunJournalCommand({"info", dir.Path() + "/text.db"}, o1, e1), 1);
    EXPECT_NE(e1.str().find("не является журналом"), std::string::npos) << e1.str();
    EXPECT_EQ(RunJournalCommand({"export", dir.Path() + "/text.db", "--csv", dir.Path() + "/x.csv"},
                                o1, e1),
              1);
    EXPECT_FALSE(fs::exists(dir.Path() + "/x.csv"));
    EXPECT_EQ(RunJournalCommand({"export", journal}, o1, e1), 2);
    EXPECT_EQ(RunJournalCommand({"export", journal, "--csv", "a", "--comtrade", "b"}, o1, e1), 2);
    EXPECT_EQ(RunJournalCommand({"export", journal, "--csv", "a", "--from", "yesterday"}, o1, e1),
              2);
}

TEST(RecordingCommands, InfoAndExportReadTheJournalsOfOneMeterAsOneWithTheirOutages) {
    TempDir dir;
    test::TJournalFeed feed;
    TjnRotatingRecorder recorder(feed.Storage, nullptr);
    recorder.Now = [&] { return feed.LocalNow; };
    std::string e;
    ASSERT_TRUE(recorder.Start(dir.Path(), test::JournalMeter(1, 1234), TjnRotation::Day, e)) << e;
    feed.Settings(recorder, test::RecordingDay(23, 59, 0));
    // Records every 3 s from 23:59:30 to 00:00:30; the line lost for 21 s before midnight.
    for (int s = 30; s <= 90; s += 3) {
        const TDateTime t = test::RecordingDay(23, 59, 0) + s / 86400.0;
        if (s >= 45 && s < 66) {
            if (s == 45) {
                feed.LocalNow = t;
                recorder.BeginOutage(3, 0, "Нет ответа от устройства.");
            }
            continue;
        }
        feed.Record(recorder, t);
    }
    ASSERT_TRUE(recorder.Close(e)) << e;
    const std::vector<std::string> files = recorder.Files();
    ASSERT_EQ(files.size(), 2u);

    std::ostringstream out, err;
    ASSERT_EQ(RunJournalCommand({"info", files[1], files[0]}, out, err), 0) << err.str();
    const std::string info = out.str();
    EXPECT_NE(info.find("Записи 3 с: 14, с 08.12.2026 23:59:30 по 09.12.2026 00:00:30"),
              std::string::npos)
        << info;
    EXPECT_NE(info.find("Покрытие: 66,7 % (14 из 21 записей)"), std::string::npos) << info;
    EXPECT_NE(info.find("Перерывы опроса: 1, всего 22 с"), std::string::npos) << info;
    EXPECT_NE(info.find("самый долгий: с 08.12.2026 23:59:45, 22 с: Нет ответа от устройства."),
              std::string::npos)
        << info;
    EXPECT_EQ(info.find("не завершена"), std::string::npos) << info;

    const std::string csv = dir.Path() + "/all.csv";
    ASSERT_EQ(RunJournalCommand({"export", files[1], files[0], "--csv", csv}, out, err), 0)
        << err.str();
    const std::vector<std::string> lines = test::FileLines(csv);
    ASSERT_EQ(lines.size(), 15u);
    EXPECT_LT(lines[1], lines[14]) << "in time order across the midnight";

    // Another meter's journal is refused; a salvage needs both names.
    const std::string other = dir.Path() + "/other.db";
    {
        TjnWriter w;
        ASSERT_TRUE(w.Create(other, test::JournalMeter(1, 77), e)) << e;
    }
    std::ostringstream o2, e2;
    EXPECT_EQ(RunJournalCommand({"info", files[0], other}, o2, e2), 1);
    EXPECT_NE(e2.str().find("разных измерителей"), std::string::npos) << e2.str();
    EXPECT_EQ(RunJournalCommand({"salvage", files[0]}, o2, e2), 2);
    EXPECT_EQ(RunJournalCommand({"salvage", files[0], dir.Path() + "/saved.db"}, o2, e2), 0)
        << e2.str();
    EXPECT_NE(o2.str().find("записи 3 с: сохранено"), std::string::npos) << o2.str();
}
