#include "tools/qzcli/CliOptions.h"
#include "tools/qzcli/CliFormat.h"

#include <cmath>
#include <gtest/gtest.h>

using namespace qz;

namespace {
bool Parse(std::vector<std::string> args, TCliOptions& o, std::string& error) {
    return ParseCliArgs(args, o, error);
}
} // namespace

TEST(CliOptions, AcceptsTheThreeWaysToNameAMeter) {
    TCliOptions o;
    std::string e;
    ASSERT_TRUE(Parse({"poll", "--id", "3", "--settings", "/x.ini", "--count", "2"}, o, e)) << e;
    EXPECT_EQ(o.Command, TCliOptions::TCommand::Poll);
    EXPECT_EQ(o.Id, 3);
    EXPECT_EQ(o.SettingsFile, "/x.ini");
    EXPECT_EQ(o.Count, 2);

    ASSERT_TRUE(Parse({"poll", "--model", "QZ2M", "--factory", "70000", "--tcp", "10.0.0.5:4001",
                       "--json", "--csv", "/tmp/out"},
                      o, e))
        << e;
    EXPECT_EQ(o.TcpHost, "10.0.0.5");
    EXPECT_EQ(o.TcpPort, 4001);
    EXPECT_EQ(o.Factory, 70000);
    EXPECT_TRUE(o.Json);
    EXPECT_TRUE(o.Csv);
    EXPECT_EQ(o.CsvDir, "/tmp/out");

    ASSERT_TRUE(Parse(
        {"poll", "--model", "qz2", "--factory", "5", "--com", "com7", "--baud", "9600", "--csv"}, o,
        e))
        << e;
    EXPECT_EQ(o.ComPort, "COM7");
    EXPECT_EQ(o.Baud, 9600u);
    EXPECT_TRUE(o.CsvDir.empty());

    ASSERT_TRUE(Parse({"poll", "--demo"}, o, e)) << e;
    EXPECT_TRUE(o.Demo);
    EXPECT_FALSE(o.Reconnect);
    ASSERT_TRUE(Parse({"poll", "--demo", "--factory", "1234", "--reconnect", "--reconnect-max",
                       "120", "--record-dir", "d", "--rotate", "week", "--commit-every", "30"},
                      o, e))
        << e;
    EXPECT_EQ(o.Factory, 1234);
    EXPECT_TRUE(o.Reconnect);
    EXPECT_EQ(o.ReconnectMaxSec, 120u);
    EXPECT_EQ(o.RecordDir, "d");
    EXPECT_EQ(o.Rotate, TjnRotation::Week);
    EXPECT_EQ(o.CommitEverySec, 30u);
    // Without a folder: the window's recordings folder; the next option is not taken for one.
    ASSERT_TRUE(Parse({"poll", "--id", "2", "--record-dir", "--reconnect"}, o, e)) << e;
    EXPECT_TRUE(o.RecordSeries);
    EXPECT_EQ(o.RecordDir, "");
    EXPECT_TRUE(o.Reconnect);
    EXPECT_EQ(o.Rotate, TjnRotation::Day);
    ASSERT_TRUE(Parse({"connections", "--text"}, o, e)) << e;
    EXPECT_TRUE(o.Text);
    ASSERT_TRUE(Parse({"--help"}, o, e));
    EXPECT_EQ(o.Command, TCliOptions::TCommand::Help);
    ASSERT_TRUE(Parse({"--version"}, o, e));
    EXPECT_EQ(o.Command, TCliOptions::TCommand::Version);
    EXPECT_NE(CliHelpText().find("--version"), std::string::npos);
}

TEST(CliOptions, RefusesWhatItCannotTake) {
    const std::vector<std::vector<std::string>> bad = {
        {},
        {"frobnicate"},
        {"poll"},                                               // no meter
        {"poll", "--demo", "--id", "1"},                        // two meters
        {"poll", "--tcp", "1.2.3.4:5"},                         // no model and factory
        {"poll", "--model", "qz3", "--factory", "1", "--demo"}, // unknown model
        {"poll", "--model", "qz2", "--factory", "0", "--tcp", "a:1"},
        {"poll", "--model", "qz2", "--factory", "1", "--tcp", "nohostport"},
        {"poll", "--model", "qz2", "--factory", "1", "--tcp", "h:70000"},
        {"poll", "--model", "qz2", "--factory", "1", "--com", "COM0"},
        {"poll", "--model", "qz2", "--factory", "1", "--com", "COM256"},
        {"poll", "--model", "qz2", "--factory", "1", "--com", "LPT1"},
        {"poll", "--demo", "--count"}, // value missing
        {"poll", "--demo", "--count", "0"},
        {"poll", "--demo", "--count", "99999999999999999999999"},
        {"connections", "--json"},
        {"poll", "--demo", "--version"}, // a command's options hold no version request
        // What the built-in meter cannot honour.
        {"poll", "--demo", "--baud", "9600"},
        {"poll", "--demo", "--settings", "/x.ini"},
        {"poll", "--demo", "--reconnect-max", "10"}, // without --reconnect
        {"poll", "--demo", "--reconnect", "--reconnect-max", "2"},
        {"poll", "--demo", "--record", "a.db", "--record-dir", "d"},
        {"poll", "--demo", "--rotate", "week"}, // without --record-dir
        {"poll", "--demo", "--record-dir", "d", "--rotate", "month"},
        {"poll", "--demo", "--commit-every", "30"}, // without a journal
        {"poll", "--demo", "--record", "a.db", "--commit-every", "0"},
    };
    for (const auto& args : bad) {
        TCliOptions o;
        std::string e;
        EXPECT_FALSE(ParseCliArgs(args, o, e))
            << (args.empty() ? "" : args[0]) << " " << (args.size() > 1 ? args[1] : "");
        EXPECT_FALSE(e.empty());
    }
}

TEST(CliFormat, JsonHasEveryFieldByNameWithArraysAndNulls) {
    TmonData3sec d;
    d.F = 50.01;
    d.U1[0] = 230.5;
    d.U1[3] = 1.25;
    d.P[pwSum] = -1500;
    d.KUn_A[0] = 2.5;  // harmonic 2
    d.KUn_A[38] = 0.1; // harmonic 40
    d.dF = std::nan("");
    d.U1[1] = double(220.4482f); // the meter's float: not 220.448196411133
    d.S[pwA] = 0.1 + 0.2;        // computed: milliwatts, not 0.30000000000000004
    ASSERT_TRUE(TryEncodeDateTime({2026, 12, 8, 14, 49, 28, 160}, d.Time));
    const std::string j = RecordJson(d);
    EXPECT_EQ(j.front(), '{');
    EXPECT_EQ(j.back(), '}');
    EXPECT_EQ(j.find('\n'), std::string::npos);
    EXPECT_NE(j.find("\"F\":50.01,"), std::string::npos);
    EXPECT_NE(j.find("\"dF\":null,"), std::string::npos);
    EXPECT_NE(j.find("\"U1\":[230.5,220.4482,0,1.25]"), std::string::npos) << j;
    EXPECT_NE(j.find("\"S\":[0.3,"), std::string::npos) << j;
    // The moment twice: the TDateTime number, then ISO 8601 local time.
    EXPECT_NE(j.find(",\"TimeISO\":\"2026-12-08T14:49:28.160\",\"F\":"), std::string::npos) << j;
    EXPECT_EQ(j.find("\"Time\":"), 1u) << j;
    EXPECT_NE(j.find("\"P\":[0,0,0,-1500,0]"), std::string::npos);
    const auto k = j.find("\"KUn_A\":[2.5,");
    ASSERT_NE(k, std::string::npos);
    const auto end = j.find(']', k);
    const std::string table = j.substr(k, end - k);
    EXPECT_EQ(std::count(table.begin(), table.end(), ','), 38); // 39 elements
    EXPECT_NE(table.find(",0.1"), std::string::npos);
    for (const char* key : {"\"Time\"", "\"KI_B\"", "\"KU_CA\"", "\"Pn_N\"", "\"PhiUIn_C\""})
        EXPECT_NE(j.find(key), std::string::npos) << key;
}

TEST(CliFormat, TheTableNamesItsVoltagesAndCurrentsAsTheFundamentals) {
    // The table prints U1 and I1, while the journal's u_a and the trends' Ua are true RMS.
    const std::string h = RecordTableHeader(true);
    for (const char* name : {"U1A,В", "U1N,В", "I1A,А", "I1N,А"})
        EXPECT_NE(h.find(name), std::string::npos) << name;
    TmonData3sec d;
    d.U1[phA] = 231.25;
    d.U[phA] = 240;
    EXPECT_NE(RecordTableRow(d, false).find("231.25"), std::string::npos);
    EXPECT_EQ(RecordTableRow(d, false).find("240"), std::string::npos);
}
