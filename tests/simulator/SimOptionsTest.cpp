#include "simulator/SimOptions.h"

#include <gtest/gtest.h>

namespace qz {
namespace {

TEST(SimOptions, ParsesSwitches) {
    TSimOptions o;
    bool help = true;
    std::string err;
    ASSERT_TRUE(ParseSimArgs({"--model", "QZ2MA", "--address", "300", "--listen", "0.0.0.0:0",
                              "--silent-after", "0", "--wrong-address", "--change-time",
                              "2024-02-29 23:59:59"},
                             o, help, err))
        << err;
    EXPECT_FALSE(help);
    EXPECT_EQ(o.ModelIndex, 4);
    EXPECT_EQ(o.Address, 300);
    EXPECT_EQ(o.ListenHost, "0.0.0.0");
    EXPECT_EQ(o.ListenPort, 0);
    EXPECT_EQ(o.Faults.SilentAfter, 0);
    EXPECT_TRUE(o.Faults.WrongAddress);
    EXPECT_EQ(DecodeDateTime(o.ChangeTime).Day, 29);
}

TEST(SimOptions, DefaultsAndHelp) {
    TSimOptions o;
    bool help = false;
    std::string err;
    ASSERT_TRUE(ParseSimArgs({"--help"}, o, help, err));
    EXPECT_TRUE(help);
    EXPECT_EQ(o.ListenHost, "127.0.0.1");
    EXPECT_EQ(o.ListenPort, 4001);
    EXPECT_EQ(o.Faults.SilentAfter, -1);
    EXPECT_EQ(o.Faults.CloseAfter, -1);
    const std::string text = SimHelpText();
    for (const char* sw : {"--listen", "--pty", "--garbage", "--bad-check", "--status",
                           "--signal-status", "--silent-after", "--close-after", "--baud", "--log",
                           "--model", "--address", "--truncate-first", "--version"})
        EXPECT_NE(text.find(sw), std::string::npos) << sw;
}

TEST(SimOptions, VersionOnlyForACallerThatAsksForIt) {
    TSimOptions o;
    bool help = true, version = false;
    std::string err;
    ASSERT_TRUE(ParseSimArgs({"--model", "qz2m", "--version"}, o, help, err, &version)) << err;
    EXPECT_TRUE(version);
    EXPECT_FALSE(help);
    ASSERT_TRUE(ParseSimArgs({"--model", "qz2m"}, o, help, err, &version)) << err;
    EXPECT_FALSE(version);
    // The simulator inside a test or a demo has no version to print: --version is refused.
    EXPECT_FALSE(ParseSimArgs({"--version"}, o, help, err));
    EXPECT_FALSE(err.empty());
}

TEST(SimOptions, RejectsWrongArguments) {
    const std::vector<std::vector<std::string>> bad = {{"--model", "qz9"},
                                                       {"--address", "65536"},
                                                       {"--address", "-1"},
                                                       {"--listen", "1.2.3.4"},
                                                       {"--listen", ":80"},
                                                       {"--listen", "h:99999"},
                                                       {"--garbage"},
                                                       {"--bad-check", "0"},
                                                       {"--baud", "12x"},
                                                       {"--frobnicate"},
                                                       {"--change-time", "yesterday"},
                                                       {"--change-time", "2023-02-29 00:00:00"},
                                                       {"--pty", ""}};
    for (const auto& args : bad) {
        TSimOptions o;
        bool help = false;
        std::string err;
        EXPECT_FALSE(ParseSimArgs(args, o, help, err)) << args[0];
        EXPECT_FALSE(err.empty()) << args[0];
    }
}

} // namespace
} // namespace qz
