// The "poll" command line and the connections it builds.
#include "monitor/monCommandLine.h"

#include "connection/CcnConnectionClasses.h"
#include "connection/CcnConnectionList.h"
#include "protocol/QZ2Models.h"

#include <gtest/gtest.h>

namespace qz {
namespace {

using Args = std::vector<std::string>;

TEST(PollArguments, SelectsAndStarts) {
    auto a = ParsePollArguments({"poll", "com7", "QZ2C", "15"});
    ASSERT_TRUE(a);
    EXPECT_EQ(a->ModelIndex, 2);
    EXPECT_EQ(a->FactoryNumber, 15);
    EXPECT_EQ(a->ComPort, 7);
    EXPECT_FALSE(a->Start);
    a = ParsePollArguments({"POLL", "COM7", "qz2c", "15", "/START"});
    ASSERT_TRUE(a);
    EXPECT_TRUE(a->Start);
    a = ParsePollArguments({"poll", "com3", "qz2+", "5", "x/startx"});
    ASSERT_TRUE(a);
    EXPECT_EQ(a->ModelIndex, 1); // QZ2M
    EXPECT_TRUE(a->Start);
    a = ParsePollArguments({"poll", "com255", "qz2ca", "70000", "/stop"});
    ASSERT_TRUE(a);
    EXPECT_EQ(a->ComPort, 255);
    EXPECT_FALSE(a->Start);
}

TEST(PollArguments, InvalidListsAreIgnored) {
    const Args bad[] = {
        {},
        {"list", "com3", "qz2", "1"},
        {"poll", "com0", "qz2", "1"},
        {"poll", "com256", "qz2", "1"},
        {"poll", "com", "qz2", "1"},
        {"poll", "tty3", "qz2", "1"},
        {"poll", "com3x", "qz2", "1"},
        {"poll", "com3", "qz3", "1"},
        {"poll", "com3", "qz2", "0"},
        {"poll", "com3", "qz2", "-4"},
        {"poll", "com3", "qz2", "12a"},
        {"poll", "com3", "qz2", "99999999999"},
        {"poll", "com3", "qz2"},
        {"poll", "com3", "", "1"},
    };
    for (const Args& a : bad)
        EXPECT_FALSE(ParsePollArguments(a))
            << (a.size() > 1 ? a[1] : "") << " " << (a.size() > 3 ? a[3] : "");
}

TEST(PollArguments, ConnectionOnTheComPort) {
    auto c = MakeCommandLineConnection(2, 70000, 7);
    ASSERT_TRUE(c && c->CustomDevice() && c->CustomDeviceProtocol() && c->CustomConMode());
    EXPECT_EQ(c->CustomDevice()->DeviceType(), dtQZ2C);
    EXPECT_EQ(c->CustomDevice()->FactoryNum(), 70000);
    auto* p = dynamic_cast<TccnKavrenProtocol*>(c->CustomDeviceProtocol());
    ASSERT_TRUE(p);
    EXPECT_EQ(p->DeviceAddress(), 4464); // 70000 mod 65536
    auto* m = dynamic_cast<TccnDirect232ConMode*>(c->CustomConMode());
    ASSERT_TRUE(m);
    EXPECT_EQ(m->ComPortInterface().PortName(), "COM7");
    EXPECT_EQ(m->ComPortInterface().Baudrate(), 115200u);
    EXPECT_EQ(c->ConID, -1); // in no list

    auto t = MakeTcpConnection(1, 12, "127.0.0.1", 4001);
    auto* tm = dynamic_cast<TccnDirectTCPIPConMode*>(t->CustomConMode());
    ASSERT_TRUE(tm);
    EXPECT_EQ(tm->TCPIPInterface().IpPort(), 4001);
    EXPECT_EQ(t->CustomDevice()->DeviceType(), dtQZ2M);
}

TEST(InfoRequest, FoundAnywhereButNeverInTheScreenshotsFolder) {
    EXPECT_EQ(FindInfoRequest({}), TmonInfoRequest::None);
    EXPECT_EQ(FindInfoRequest({"poll", "com1", "qz2", "5", "/start"}), TmonInfoRequest::None);
    EXPECT_EQ(FindInfoRequest({"--help"}), TmonInfoRequest::Help);
    EXPECT_EQ(FindInfoRequest({"-h"}), TmonInfoRequest::Help);
    EXPECT_EQ(FindInfoRequest({"--demo", "--version"}), TmonInfoRequest::Version);
    EXPECT_EQ(FindInfoRequest({"-V"}), TmonInfoRequest::Version);
    // The first request wins.
    EXPECT_EQ(FindInfoRequest({"--version", "--help"}), TmonInfoRequest::Version);
    // A folder that happens to be called --help is a folder.
    EXPECT_EQ(FindInfoRequest({"--demo", "--screenshots", "--help"}), TmonInfoRequest::None);
    EXPECT_EQ(FindInfoRequest({"--screenshots", "--help", "--version"}), TmonInfoRequest::Version);
    EXPECT_EQ(FindInfoRequest({"--screenshots"}), TmonInfoRequest::None);
    // Only whole arguments count.
    EXPECT_EQ(FindInfoRequest({"--helpme", "--version=1", "help"}), TmonInfoRequest::None);
}

TEST(TraceArguments, TakenOutWhereverTheyStandAndBadOnesRefused) {
    Args args{"--trace", "/tmp/t.log",   "poll",         "com2",  "qz2m",
              "7",       "--trace-mask", "connect,dump", "/start"};
    std::optional<TmonTraceArguments> trace;
    std::string error;
    ASSERT_TRUE(TakeTraceArguments(args, trace, error)) << error;
    ASSERT_TRUE(trace);
    EXPECT_EQ(trace->File, "/tmp/t.log");
    EXPECT_EQ(trace->Mask, lcaLogConnect | lcaLogDump);
    // The poll line reads as if the trace had not been asked for.
    EXPECT_EQ(args, (Args{"poll", "com2", "qz2m", "7", "/start"}));
    const auto poll = ParsePollArguments(args);
    ASSERT_TRUE(poll);
    EXPECT_EQ(poll->ComPort, 2);
    EXPECT_TRUE(poll->Start);

    Args plain{"--demo"};
    ASSERT_TRUE(TakeTraceArguments(plain, trace, error));
    EXPECT_FALSE(trace);
    Args dash{"--trace", "-"};
    ASSERT_TRUE(TakeTraceArguments(dash, trace, error));
    ASSERT_TRUE(trace);
    EXPECT_EQ(trace->Mask, kTraceAllClasses);
    EXPECT_EQ(trace->Bytes, kLCADefaultDumpLimit);
    Args sized{"--trace-size", "5", "--trace", "t", "--trace-bytes", "0", "--demo"};
    ASSERT_TRUE(TakeTraceArguments(sized, trace, error)) << error;
    ASSERT_TRUE(trace);
    EXPECT_EQ(trace->Bytes, 0u);
    EXPECT_EQ(trace->SizeMb, 5u);
    EXPECT_EQ(sized, Args{"--demo"});

    for (Args bad : {Args{"--trace"}, Args{"--trace", ""}, Args{"--trace", "t", "--trace-mask"},
                     Args{"--trace", "t", "--trace-mask", "0"},
                     Args{"--trace", "t", "--trace-mask", "modem"}, Args{"--trace-mask", "all"},
                     Args{"--trace-bytes", "0"}, Args{"--trace", "t", "--trace-size", "x"}}) {
        error.clear();
        EXPECT_FALSE(TakeTraceArguments(bad, trace, error)) << bad.back();
        EXPECT_FALSE(error.empty()) << bad.back();
    }
    // A trace file called --help is a file.
    EXPECT_EQ(FindInfoRequest({"--trace", "--help"}), TmonInfoRequest::None);
    EXPECT_NE(MonitorHelpText().find("--trace"), std::string::npos);
}

TEST(InfoRequest, HelpNamesEveryModelThePollLineTakes) {
    const std::string help = MonitorHelpText();
    for (int i = 0; i < kQZ2ModelCount; ++i) {
        const std::string name = QZ2Model(i).CmdLineName;
        EXPECT_NE(help.find(" " + name), std::string::npos) << name;
        auto a = ParsePollArguments({"poll", "com1", name, "1"});
        ASSERT_TRUE(a) << name;
        EXPECT_EQ(a->ModelIndex, i);
    }
    EXPECT_NE(help.find("qz2+"), std::string::npos);
    for (const char* sw :
         {"poll", "/start", "--demo", "--screenshots", "--help", "--version", "dialout"})
        EXPECT_NE(help.find(sw), std::string::npos) << sw;
}

} // namespace
} // namespace qz
