// qzcli as scripts use it: the help names what the parser takes, the CSV folder is made, a
// file that cannot be written fails the run, the CSV follows the user's locale unless
// --decimal says otherwise, and the files get the user's umask.
#include "channel/PCAType.h"
#include "common/Cp1251.h"
#include "protocol/QZ2Models.h"
#include "tests/support/ChannelGuards.h"
#include "tests/support/Files.h"
#include "tests/tools/qzcli/CliTestSupport.h"
#include "tools/qzcli/CliLocale.h"
#include "tools/qzcli/CliRun.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <sys/stat.h>

using namespace qz;
using namespace qz::clitest;
namespace fs = std::filesystem;

// The C library's newlocale keeps the search path it builds from $LOCPATH (a few dozen bytes a
// call); only the locale test below sets LOCPATH. Read by the leak checker of the sanitizer
// builds, unused otherwise.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:__argz_add_sep\n";
}

namespace {

std::vector<std::string> CsvFiles(const std::string& dir) {
    std::vector<std::string> out;
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(dir, ec))
        if (e.path().extension() == ".csv") out.push_back(e.path().string());
    return out;
}

std::string ReadUtf8(const std::string& file) {
    return Cp1251ToUtf8(test::ReadFileBytes(file));
}

TCliOptions DemoCsv(const std::string& dir, int count = 1) {
    TCliOptions o;
    o.Command = TCliOptions::TCommand::Poll;
    o.Demo = true;
    o.Count = count;
    o.Csv = true;
    o.CsvDir = dir;
    return o;
}

// Builds a locale with Russian numbers and German dates under `dir`, for LOCPATH. False when
// the locale sources or localedef are not there.
bool MakeTestLocale(const std::string& dir) {
    const std::string src = dir + "/qz.src";
    std::ofstream(src) << "LC_NUMERIC\ncopy \"ru_RU\"\nEND LC_NUMERIC\n"
                          "LC_TIME\ncopy \"de_DE\"\nEND LC_TIME\n";
    const std::string cmd =
        "localedef -c -i '" + src + "' -f UTF-8 '" + dir + "/qz_TEST.UTF-8' >/dev/null 2>&1";
    (void)std::system(cmd.c_str()); // warns (status 1) about the categories left out
    return fs::exists(dir + "/qz_TEST.UTF-8/LC_NUMERIC") &&
           fs::exists(dir + "/qz_TEST.UTF-8/LC_TIME");
}

} // namespace

TEST(QzcliHelp, NamesExactlyTheModelsTheParserTakes) {
    const std::string help = CliHelpText();
    const auto at = help.find("Модели: ");
    ASSERT_NE(at, std::string::npos);
    std::string list = help.substr(at + std::strlen("Модели: "));
    list = list.substr(0, list.find('.'));
    std::vector<std::string> names;
    std::istringstream in(list);
    for (std::string name; std::getline(in, name, ',');) {
        name.erase(0, name.find_first_not_of(' '));
        names.push_back(name);
    }
    ASSERT_EQ(names.size(), size_t(kQZ2ModelCount)) << list;
    for (const std::string& name : names) {
        TCliOptions o;
        std::string e;
        EXPECT_TRUE(ParseCliArgs({"poll", "--demo", "--model", name}, o, e)) << name << ": " << e;
    }
    for (const char* refused : {"qz2am", "qz2ac"}) {
        TCliOptions o;
        std::string e;
        EXPECT_FALSE(ParseCliArgs({"poll", "--demo", "--model", refused}, o, e));
        EXPECT_EQ(help.find(refused), std::string::npos) << refused;
    }
    for (const char* sw : {"--decimal", "--baud", "--csv", "Код завершения"})
        EXPECT_NE(help.find(sw), std::string::npos) << sw;
}

TEST(QzcliOptions, DecimalTakesACommaOrAPoint) {
    TCliOptions o;
    std::string e;
    ASSERT_TRUE(ParseCliArgs({"poll", "--demo", "--csv", "--decimal", ","}, o, e)) << e;
    EXPECT_EQ(o.Decimal, ',');
    ASSERT_TRUE(ParseCliArgs({"poll", "--demo", "--decimal", "."}, o, e)) << e;
    EXPECT_EQ(o.Decimal, '.');
    ASSERT_TRUE(ParseCliArgs({"poll", "--demo"}, o, e));
    EXPECT_EQ(o.Decimal, 0) << "the locale's by default";
    for (const char* bad : {";", ",,", "", "1"})
        EXPECT_FALSE(ParseCliArgs({"poll", "--demo", "--decimal", bad}, o, e)) << bad;
    EXPECT_FALSE(ParseCliArgs({"poll", "--demo", "--decimal"}, o, e));
    const auto com = [](const char* baud) {
        return std::vector<std::string>{"poll",  "--model", "qz2",    "--factory", "1",
                                        "--com", "COM1",    "--baud", baud};
    };
    ASSERT_TRUE(ParseCliArgs(com("4294967295"), o, e)) << e;
    EXPECT_EQ(o.Baud, 4294967295u);
    EXPECT_FALSE(ParseCliArgs(com("4294967296"), o, e));
    EXPECT_FALSE(ParseCliArgs(com("0"), o, e));
}

TEST(QzcliLocale, TheCLocaleAndAForcedSeparator) {
    TDateTime t = 0, midnight = 0;
    ASSERT_TRUE(TryEncodeDateTime({2026, 12, 6, 9, 5, 3, 0}, t));
    ASSERT_TRUE(TryEncodeDateTime({2026, 12, 6, 0, 0, 0, 0}, midnight));
    const TmonCsvOptions c = CsvOptionsOf(TCliLocale::Classic());
    EXPECT_EQ(c.DecimalSeparator, '.');
    ASSERT_TRUE(c.FormatDateTime);
    EXPECT_EQ(c.FormatDateTime(t), "12/06/26 09:05:03");
    EXPECT_EQ(c.FormatDateTime(midnight), "12/06/26") << "no time at exactly midnight";
    EXPECT_EQ(CsvOptionsOf(TCliLocale::Classic(), ',').DecimalSeparator, ',');
    EXPECT_EQ(TCliLocale::Classic().Format("%A %j", t), "Sunday 340") << "weekday, day of year";
}

TEST(QzcliLocale, FollowsLcNumericAndLcTimeOfTheEnvironment) {
    TempDir dir;
    if (!MakeTestLocale(dir.Path())) GTEST_SKIP() << "no locale sources to build a test locale";
    ScopedEnv path("LOCPATH", dir.Path());
    ScopedEnv all("LC_ALL", "");
    ScopedEnv numeric("LC_NUMERIC", "qz_TEST.UTF-8");
    ScopedEnv time("LC_TIME", "qz_TEST.UTF-8");
    const TCliLocale l = TCliLocale::FromEnvironment();
    EXPECT_EQ(l.DecimalPoint(), ",");
    TDateTime t = 0;
    ASSERT_TRUE(TryEncodeDateTime({2026, 12, 6, 9, 5, 3, 0}, t));
    const TmonCsvOptions o = CsvOptionsOf(l);
    EXPECT_EQ(o.DecimalSeparator, ',');
    EXPECT_EQ(o.FormatDateTime(t), "06.12.2026 09:05:03");
    EXPECT_EQ(CsvOptionsOf(l, '.').DecimalSeparator, '.') << "--decimal wins";

    // An environment naming a locale that is not installed reads as C.
    ScopedEnv missing("LC_NUMERIC", "xx_NOWHERE.UTF-8");
    EXPECT_EQ(TCliLocale::FromEnvironment().DecimalPoint(), ".");

    // The whole road: qzcli writes the file in the environment's formats.
    ScopedEnv back("LC_NUMERIC", "qz_TEST.UTF-8");
    test::TNoSleep noSleep;
    std::ostringstream out, err;
    ASSERT_EQ(RunPoll(DemoCsv(dir.Path() + "/csv"), out, err, -1), 0) << err.str();
    const auto files = CsvFiles(dir.Path() + "/csv");
    ASSERT_EQ(files.size(), 1u);
    const std::string csv = ReadUtf8(files[0]);
    const std::string nominal =
        Lines(csv).at(4); // empty; 220; 380; 5 (Lines skips the empty lines)
    EXPECT_EQ(nominal, ";220;380;5;");
    const std::string f = Lines(csv).at(7); // empty; F; dF; K0; K2
    EXPECT_NE(f.find(','), std::string::npos) << f;
    EXPECT_EQ(f.find('.'), std::string::npos) << f;
    const std::string when = Lines(csv).at(2);
    ASSERT_GE(when.size(), 11u) << when;
    EXPECT_EQ(when[2], '.') << "dd.mm.yyyy: " << when;
    EXPECT_EQ(when[5], '.') << when;
}

TEST(QzcliCsv, MakesTheFolderAndFailsOnAFileItCannotWrite) {
    test::TNoSleep noSleep;
    TempDir dir;
    const mode_t saved = ::umask(027);

    // A folder that does not exist yet, two levels deep; the point forced.
    TCliOptions o = DemoCsv(dir.Path() + "/new/deeper");
    o.Decimal = '.';
    std::ostringstream out, err;
    ASSERT_EQ(RunPoll(o, out, err, -1), 0) << err.str();
    auto files = CsvFiles(dir.Path() + "/new/deeper");
    ASSERT_EQ(files.size(), 1u) << err.str();
    struct stat st {};
    ASSERT_EQ(::stat(files[0].c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u) << "0666 less the umask 027";
    const std::string f = Lines(ReadUtf8(files[0])).at(7); // F, dF, K0, K2
    EXPECT_NE(f.find('.'), std::string::npos) << f;
    EXPECT_EQ(f.find(','), std::string::npos) << f;
    ::umask(saved);

    // A folder that cannot be made (a file is in the way): failure at the first record.
    const std::string blocker = dir.Path() + "/file";
    std::ofstream(blocker) << "x";
    TCliOptions bad = DemoCsv(blocker + "/sub", 3);
    bad.Json = true;
    std::ostringstream out2, err2;
    EXPECT_EQ(RunPoll(bad, out2, err2, -1), 1);
    EXPECT_NE(err2.str().find("Не удалось сохранить"), std::string::npos) << err2.str();
    EXPECT_EQ(Lines(out2.str()).size(), 1u) << "polling stops at the first file it cannot write";

    // A folder it may not write into.
    if (::geteuid() != 0) {
        const std::string locked = dir.Path() + "/locked";
        fs::create_directory(locked);
        ::chmod(locked.c_str(), 0555);
        std::ostringstream out3, err3;
        EXPECT_EQ(RunPoll(DemoCsv(locked), out3, err3, -1), 1);
        EXPECT_NE(err3.str().find(locked), std::string::npos) << err3.str();
        EXPECT_TRUE(CsvFiles(locked).empty());
        ::chmod(locked.c_str(), 0755);
    }
}
