// qzcli end to end: the stored list, polling the built-in simulator over TCP and over a
// pseudo-terminal, failures and stopping.
#include "channel/PCAType.h"
#include "common/Cp1251.h"
#include "connection/CcnConnectionList.h"
#include "exchange/monStorage.h"
#include "settings/monIniFile.h"
#include "simulator/MeterSimulator.h"
#include "tests/support/ChannelGuards.h"
#include "tests/support/CliPollOptions.h"
#include "tests/support/CsvCells.h"
#include "tests/support/Files.h"
#include "tests/support/TcpListener.h"
#include "tests/support/TempDir.h"
#include "tests/tools/qzcli/CliTestSupport.h"
#include "tools/qzcli/CliRun.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <sstream>
#include <sys/eventfd.h>
#include <thread>
#include <unistd.h>

using namespace qz;
using qz::test::TempDir;
namespace fs = std::filesystem;

namespace {

// The numbers of one array in a JSON line: "key":[a,b,...].
std::vector<double> JsonArray(const std::string& json, const std::string& key) {
    std::vector<double> out;
    const auto k = json.find("\"" + key + "\":[");
    if (k == std::string::npos) return out;
    std::istringstream in(json.substr(k + key.size() + 4));
    double v;
    char sep;
    while (in >> v) {
        out.push_back(v);
        if (!(in >> sep) || sep == ']') break;
    }
    return out;
}

double JsonValue(const std::string& json, const std::string& key) {
    const auto k = json.find("\"" + key + "\":");
    if (k == std::string::npos) return std::nan("");
    return std::strtod(json.c_str() + k + key.size() + 3, nullptr);
}

using clitest::Lines;

using test::CsvCells;

// A number written with either decimal separator.
double Number(std::string cell) {
    std::replace(cell.begin(), cell.end(), ',', '.');
    return std::strtod(cell.c_str(), nullptr);
}

// Answer frames from the simulator's log, as bytes.
std::vector<std::vector<uint8_t>> LoggedAnswers(const std::string& logFile) {
    std::vector<std::vector<uint8_t>> out;
    std::ifstream in(logFile);
    std::string line;
    while (std::getline(in, line)) {
        const auto arrow = line.find(" -> ");
        if (arrow == std::string::npos) continue;
        std::istringstream hex(line.substr(arrow + 4));
        std::vector<uint8_t> bytes;
        std::string b;
        while (hex >> b && b.size() == 2)
            bytes.push_back(uint8_t(std::stoul(b, nullptr, 16)));
        out.push_back(bytes);
    }
    return out;
}

} // namespace

TEST(QzcliConnections, ListsTheStoredConnectionsAndMarksTheSelectedOne) {
    TempDir dir;
    const std::string file = dir.Path() + "/qzmonitor.ini";
    int32_t secondId = -1;
    {
        TccnConnectionList list;
        for (int i = 0; i < 2; ++i) {
            TccnConnection c;
            auto d = CreateDevice(i == 0 ? dtQZ2 : dtQZ2M);
            d->SetFactoryNum(1000 + i);
            c.SetCustomDevice(std::move(d));
            c.SetCustomDeviceProtocol(CreateDeviceProtocol(dptKavren));
            c.SetCustomConMode(CreateConMode(i == 0 ? cmtDirect232 : cmtDirectTCPIP));
            ASSERT_TRUE(list.AddConnection(c));
            secondId = c.ConID;
        }
        TmonIniFile ini = TmonIniFile::AtPath(file);
        ini.SaveConnections(list);
        ini.WriteSelectedID(secondId);
        std::string error;
        ASSERT_TRUE(ini.UpdateFile(&error)) << error;
    }
    TCliOptions o;
    o.Command = TCliOptions::TCommand::Connections;
    o.SettingsFile = file;
    std::ostringstream out, err;
    ASSERT_EQ(RunConnections(o, out, err), 0) << err.str();
    const auto rows = Lines(out.str());
    ASSERT_EQ(rows.size(), 3u) << out.str(); // header + two connections
    EXPECT_NE(rows[1].find(DeviceTypeNames[dtQZ2]), std::string::npos);
    EXPECT_NE(rows[1].find("1000"), std::string::npos);
    EXPECT_NE(rows[1].find("COM1"), std::string::npos);
    EXPECT_EQ(rows[1][0], ' ');
    EXPECT_EQ(rows[2][0], '*'); // the selected one
    EXPECT_NE(rows[2].find("1001"), std::string::npos);
    EXPECT_NE(rows[2].find(ConModeTypeNames[cmtDirectTCPIP]), std::string::npos);

    o.Text = true;
    std::ostringstream text;
    ASSERT_EQ(RunConnections(o, text, err), 0);
    EXPECT_EQ(text.str().rfind("object", 0), 0u) << text.str().substr(0, 80);
}

TEST(QzcliConnections, EveryKindOfDamageIsReportedWithStatusOne) {
    TempDir dir;
    const std::string file = dir.Path() + "/qzmonitor.ini";
    TCliOptions o;
    o.Command = TCliOptions::TCommand::Connections;
    o.SettingsFile = file;
    // Non-hex digits, a torn stream, a foreign stream.
    for (const char* value : {"5450463G", "54504630", "0102030405"}) {
        {
            TmonIniFile ini = TmonIniFile::AtPath(file);
            ini.WriteString(kConnectionsSection, kConnectionListKey, value);
            ASSERT_TRUE(ini.UpdateFile());
        }
        std::ostringstream out, err;
        EXPECT_EQ(RunConnections(o, out, err), 1) << value;
        EXPECT_TRUE(out.str().empty()) << value << ": " << out.str();
        EXPECT_NE(err.str().find("повреждён"), std::string::npos) << err.str();
        EXPECT_NE(err.str().find(file), std::string::npos) << err.str();
        const bool hex = std::string(value).find('G') != std::string::npos;
        EXPECT_NE(err.str().find(hex ? "шестнадцатеричной" : "Неверный формат"), std::string::npos)
            << err.str();
    }
    // An empty value is an empty list, not damage.
    {
        TmonIniFile ini = TmonIniFile::AtPath(file);
        ini.WriteString(kConnectionsSection, kConnectionListKey, "");
        ASSERT_TRUE(ini.UpdateFile());
    }
    std::ostringstream out, err;
    EXPECT_EQ(RunConnections(o, out, err), 0) << err.str();
}

TEST(QzcliPoll, DemoMeterAnswersAtTheFactoryNumberGiven) {
    SetDefaultPCASleeper([](uint32_t) {});
    TempDir dir;
    TCliOptions o;
    std::string e;
    ASSERT_TRUE(ParseCliArgs({"poll", "--demo", "--factory", "70000", "--count", "1", "--demo-log",
                              dir.Path() + "/sim.log"},
                             o, e))
        << e;
    std::ostringstream out, err;
    ASSERT_EQ(RunPoll(o, out, err, -1), 0) << err.str();
    const auto answers = LoggedAnswers(o.DemoLog);
    ASSERT_FALSE(answers.empty());
    for (const auto& a : answers) // the address is the factory number's 16 bits
        EXPECT_EQ(a[8] | (a[9] << 8), 70000 % 65536);
}

TEST(QzcliPoll, DemoRecordsMatchWhatTheSimulatorSent) {
    test::TNoSleep noSleep;
    TempDir dir;
    TCliOptions o;
    o.Command = TCliOptions::TCommand::Poll;
    o.Demo = true;
    o.Count = 3;
    o.Json = true;
    o.DemoLog = dir.Path() + "/sim.log";
    std::ostringstream out, err;
    ASSERT_EQ(RunPoll(o, out, err, -1), 0) << err.str();
    const auto records = Lines(out.str());
    ASSERT_EQ(records.size(), 3u) << out.str();

    // Decode the simulator's own answers, taken from its log, and compare.
    constexpr size_t kHeader = 24; // answer header before the data field
    TmonSettings settings;
    double vScale = 0, cScale = 0;
    std::vector<TmonData3sec> sent;
    for (const auto& a : LoggedAnswers(o.DemoLog)) {
        ASSERT_GT(a.size(), kHeader);
        const size_t len = size_t(a[4] | (a[5] << 8));
        ASSERT_EQ(a.size(), kHeader + len + 1);
        const uint8_t* data = a.data() + kHeader;
        if (a[6] == 0x0E && a[7] == 0x01) {
            ASSERT_TRUE(DecodeSettings(data, len, settings));
        }
        if (a[6] == 0x0E && a[7] == 0x02) {
            ASSERT_TRUE(DecodeScaleKoeffs(data, len, vScale, cScale));
        }
        if (a[6] == 0x1B) {
            TmonData3sec d;
            ASSERT_NE(Decode3sec(data, len, true, settings, vScale, cScale, d),
                      TmonDecodeResult::TooShort);
            sent.push_back(d);
        }
    }
    ASSERT_EQ(sent.size(), 3u);
    for (size_t i = 0; i < 3; ++i) {
        const std::string& j = records[i];
        EXPECT_NEAR(JsonValue(j, "F"), sent[i].F, 1e-9);
        const auto u1 = JsonArray(j, "U1"), i1 = JsonArray(j, "I1"), p = JsonArray(j, "P");
        ASSERT_EQ(u1.size(), 4u);
        ASSERT_EQ(p.size(), 5u);
        // The meter's floats read back as the same floats; the computed values within their
        // decimals (3 for a total power and a harmonic coefficient).
        for (int ph = 0; ph < 4; ++ph) {
            EXPECT_EQ(float(u1[size_t(ph)]), float(sent[i].U1[ph]));
            EXPECT_EQ(float(i1[size_t(ph)]), float(sent[i].I1[ph]));
        }
        EXPECT_NEAR(p[pwSum], sent[i].P[pwSum], 0.0005 + 1e-12 * std::fabs(sent[i].P[pwSum]));
        const auto kun = JsonArray(j, "KUn_B");
        ASSERT_EQ(kun.size(), 39u);
        EXPECT_NEAR(kun[3], sent[i].KUn_B[3], 0.0005);
        EXPECT_GT(sent[i].U1[0], 100.0); // realistic values, not zeroes
    }
}

TEST(QzcliPoll, SameExchangeOverAPseudoTerminal) {
    test::TNoSleep noSleep;
    TempDir dir;
    TSimOptions so;
    so.ModelIndex = 0; // basic record
    so.PtyLink = dir.Path() + "/meter";
    TMeterSimulator sim(so);
    std::string error;
    ASSERT_TRUE(sim.Start(&error)) << error;
    // COM7 of this test resolves through the override folder to the simulator's terminal.
    const std::string data = dir.Path() + "/data";
    fs::create_directories(data + "/VQ/ports");
    fs::create_symlink(sim.PtyPath(), data + "/VQ/ports/com7");
    const char* old = std::getenv("XDG_DATA_HOME");
    const std::string saved = old ? old : "";
    setenv("XDG_DATA_HOME", data.c_str(), 1);

    TCliOptions o;
    o.Command = TCliOptions::TCommand::Poll;
    o.Model = "qz2";
    o.Factory = 1;
    o.ComPort = "COM7";
    o.Count = 2;
    o.Json = true;
    std::ostringstream out, err;
    const int rc = RunPoll(o, out, err, -1);
    if (old) {
        setenv("XDG_DATA_HOME", saved.c_str(), 1);
    } else {
        unsetenv("XDG_DATA_HOME");
    }
    ASSERT_EQ(rc, 0) << err.str();
    const auto records = Lines(out.str());
    ASSERT_EQ(records.size(), 2u);
    EXPECT_GT(JsonValue(records[0], "F"), 45.0);
    EXPECT_EQ(JsonArray(records[0], "U1")[3], 0.0); // the basic record has no N
}

TEST(QzcliPoll, FailuresArePrintedWithTheWindowsTextAndAStopIsClean) {
    test::TNoSleep noSleep;
    const uint16_t port = test::UnusedLoopbackPort();
    TCliOptions o = test::TcpPollOptions("qz2m", port);
    std::ostringstream out, err;
    EXPECT_EQ(RunPoll(o, out, err, -1), 1);
    // The connection's progress comes first; the failure is the last line.
    const auto errLines = Lines(err.str());
    ASSERT_FALSE(errLines.empty());
    EXPECT_EQ(errLines.back(), "Ошибка обмена с измерителем: Удаленный сервер не найден.");

    // A stop request ends polling with status 0.
    TCliOptions d;
    d.Command = TCliOptions::TCommand::Poll;
    d.Demo = true;
    const int stop = eventfd(0, EFD_CLOEXEC);
    std::thread stopper([stop] {
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
        const uint64_t one = 1;
        (void)!write(stop, &one, sizeof one);
    });
    std::ostringstream out2, err2;
    EXPECT_EQ(RunPoll(d, out2, err2, stop), 0) << err2.str();
    stopper.join();
    close(stop);

    // A connection the exchange cannot serve is refused before anything runs.
    TCliOptions missing;
    missing.Command = TCliOptions::TCommand::Poll;
    missing.Id = 12345;
    missing.SettingsFile = "/nonexistent/qzmonitor.ini";
    std::ostringstream out3, err3;
    EXPECT_EQ(RunPoll(missing, out3, err3, -1), 2);
    EXPECT_NE(err3.str().find("12345"), std::string::npos) << err3.str();
}

TEST(QzcliPoll, SignalPutsTheLastWaveformBlockIntoTheCsv) {
    test::TNoSleep noSleep;
    auto lines = [](const std::string& file) {
        std::ifstream in(file);
        return size_t(
            std::count(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>(), '\n'));
    };
    auto newest = [](const std::string& dir) {
        std::string last;
        for (const auto& e : fs::directory_iterator(dir))
            if (e.path().string() > last) last = e.path().string();
        return last;
    };
    TempDir plain, withSignal;
    TCliOptions o;
    o.Command = TCliOptions::TCommand::Poll;
    o.Demo = true;
    o.Count = 1;
    o.Csv = true;
    o.CsvDir = plain.Path();
    std::ostringstream out, err;
    ASSERT_EQ(RunPoll(o, out, err, -1), 0) << err.str();
    const size_t base = lines(newest(plain.Path()));

    o.Count = 3; // blocks come about once a second: by the third record there is one
    o.Signal = true;
    o.CsvDir = withSignal.Path();
    ASSERT_EQ(RunPoll(o, out, err, -1), 0) << err.str();
    const std::string file = newest(withSignal.Path());
    const size_t signal = lines(file);
    EXPECT_GE(signal, base + 64) << "no waveform lines after the measurements";

    // The waveform columns read as the record saved with them: the RMS of each equals the
    // record's U, I and ULine.
    const std::string csv = Cp1251ToUtf8(test::ReadFileBytes(file));
    std::vector<double> record; // Uа Iа Uв Iв Uс Iс Uн Iн Uав Uвс Uса
    std::vector<double> sum(11, 0.0);
    int samples = 0;
    for (const std::string& line : Lines(csv)) {
        const auto cells = CsvCells(line);
        if (cells.size() == 16 && cells[0] == "U д, I д") {
            for (size_t c : {1, 2, 4, 5, 7, 8, 10, 11, 13, 14, 15})
                record.push_back(Number(cells[c]));
        } else if (cells.size() == 12 && !cells[0].empty() &&
                   std::all_of(cells[0].begin(), cells[0].end(), ::isdigit)) {
            for (size_t c = 0; c < 11; ++c)
                sum[c] += Number(cells[c + 1]) * Number(cells[c + 1]);
            ++samples;
        }
    }
    ASSERT_EQ(record.size(), 11u) << csv.substr(0, 2000);
    ASSERT_EQ(samples, 64);
    const char* names[11] = {"Uа", "Iа", "Uв", "Iв", "Uс", "Iс", "Uн", "Iн", "Uав", "Uвс", "Uса"};
    for (size_t c = 0; c < 11; ++c) {
        EXPECT_GT(record[c], 0.0) << names[c];
        EXPECT_NEAR(std::sqrt(sum[c] / samples), record[c], 0.02 * record[c]) << names[c];
    }
}
