// qzcli report and export --interval on two generated journals of one meter whose every
// 10-minute value is known; the statistics below are worked out by hand from them.
//
//   a.db (220 V / 380 V nominal, the simulated meter's limits: δU ±5/±10 %, K2U 2/4 %,
//   KU(5) 6/9 %, Δf ±0.2/±0.4 Hz):
//     10:00  200 records  U 231 V (δU +5 %: on the limit), K2 1 %,   F 50.1 Hz
//     10:10  190 records  U 209 V (δU -5 %),               K2 2.5 %, F 50.0 Hz (an outage
//            the recorder kept from 10:19:30)
//     10:20  170 records  U 250 V, K2 5 %: fewer than 180 records, never assessed
//   b.db (230 V / 400 V nominal from 10:30):
//     10:30  200 records  U 230 V (δU 0), K2 1 %, KU(5) 7 %, F 49.9 Hz
#include "report/rpLimitsFile.h"
#include "tests/support/Files.h"
#include "tests/support/PqJournal.h"
#include "tests/support/TempDir.h"
#include "tools/qzcli/CliJournal.h"
#include "tools/qzcli/CliReport.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <gtest/gtest.h>
#include <sstream>

using namespace qz;
using test::PqSettings;
using test::TPqJournal;
using test::TPqValues;

namespace {

constexpr auto* At = &test::RecordingDay;

TPqValues Values(double u, double k2, double f, double harm5 = 0) {
    TPqValues v;
    for (int i = 0; i < 3; ++i) {
        v.U[i] = u;
        v.ULine[i] = u / 220 * 380;
    }
    v.K2 = k2;
    v.F = f;
    v.Harm[5] = harm5;
    return v;
}

class ReportCli : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        Dir = new test::TempDir("qz-report-cli", test::PqJournalFolder());
        TPqJournal a(A());
        a.Settings(At(10, 0, 0), PqSettings(220, 380));
        a.Records(At(10, 0, 0), At(10, 10, 0), Values(231, 1, 50.1));
        a.Records(At(10, 10, 0), At(10, 19, 30), Values(209, 2.5, 50));
        a.Outage(At(10, 19, 31), At(10, 20, 0), At(10, 19, 27), "Нет ответа от измерителя");
        a.Records(At(10, 20, 0), At(10, 28, 30), Values(250, 5, 50));
        ASSERT_TRUE(a.Close()) << a.Error;
        TPqJournal b(B());
        b.Settings(At(10, 30, 0), PqSettings(230, 400));
        b.Records(At(10, 30, 0), At(10, 40, 0), Values(230, 1, 49.9, 7));
        ASSERT_TRUE(b.Close()) << b.Error;
    }
    static void TearDownTestSuite() { delete Dir; }
    static std::string A() { return Dir->Path() + "/a.db"; }
    static std::string B() { return Dir->Path() + "/b.db"; }

    int Report(std::vector<std::string> args) {
        args.insert(args.begin(), "report");
        Out.str("");
        Err.str("");
        return RunReportCommand(args, Out, Err, TmonCsvOptions(), TrpPdfWriter());
    }
    // The JSON object of one quantity, and a number in it (NaN for null).
    std::string Quantity(const std::string& key) const {
        const std::string json = Out.str();
        const size_t b = json.find("{\"Key\": \"" + key + "\"");
        return b == std::string::npos ? "" : json.substr(b, json.find('}', b) - b + 1);
    }
    static double Number(const std::string& object, const std::string& name) {
        const size_t at = object.find("\"" + name + "\": ");
        if (at == std::string::npos) return -1e300;
        const char* p = object.c_str() + at + name.size() + 4;
        return std::string(p, 4) == "null" ? NAN : std::strtod(p, nullptr);
    }

    static test::TempDir* Dir;
    std::ostringstream Out, Err;
};
test::TempDir* ReportCli::Dir = nullptr;

} // namespace

TEST_F(ReportCli, JsonHoldsTheStatisticsWorkedOutByHand) {
    ASSERT_EQ(Report({B(), A(), "--json"}), 0) << Err.str();
    const std::string json = Out.str();
    EXPECT_NE(json.find("\"Meter\": {\"Model\": \"Каврен–QZ2\", \"FactoryNumber\": 1234}"),
              std::string::npos);
    EXPECT_NE(json.find("\"Records\": 760, \"ExpectedRecords\": 800, \"Intervals\": 4, "
                        "\"ValidIntervals\": 3"),
              std::string::npos)
        << json;
    EXPECT_NEAR(Number(json, "From"), At(10, 0, 0), 1e-9);
    EXPECT_NEAR(Number(json, "To"), At(10, 39, 57), 1e-9);
    EXPECT_NE(json.find("\"Verdict\": false}"), std::string::npos);
    EXPECT_NE(json.find("\"Outages\": [{\"After\": "), std::string::npos);
    EXPECT_NE(json.find("\"Missing\": 10}, {\"After\": "), std::string::npos); // 10:19:30
    EXPECT_NE(json.find("\"Missing\": 30}]"), std::string::npos); // 10:28:30 .. 10:30:00
    EXPECT_NE(json.find("\"Text\": \"Нет ответа от измерителя\"}]"), std::string::npos);

    // K2U: 1, 2.5, 1; the 5 % of the short interval is left out.
    const std::string k2 = Quantity("K2U");
    EXPECT_DOUBLE_EQ(Number(k2, "N"), 3);
    EXPECT_DOUBLE_EQ(Number(k2, "Max"), 2.5);
    EXPECT_DOUBLE_EQ(Number(k2, "Upper95"), 2.5);
    EXPECT_TRUE(std::isnan(Number(k2, "Lower95")));
    EXPECT_TRUE(std::isnan(Number(k2, "NormalLow")));
    EXPECT_DOUBLE_EQ(Number(k2, "NormalHigh"), 2);
    EXPECT_DOUBLE_EQ(Number(k2, "MaxHigh"), 4);
    EXPECT_NEAR(Number(k2, "T1"), 33.3333333333, 1e-6);
    EXPECT_DOUBLE_EQ(Number(k2, "T2"), 0);
    EXPECT_NE(k2.find("\"Verdict\": false"), std::string::npos);

    // δU A: +5, -5 (against 220 V) and 0 (against 230 V): on the limits, not outside them.
    const std::string du = Quantity("dU_A");
    EXPECT_NEAR(Number(du, "Lower95"), -5, 1e-4);
    EXPECT_NEAR(Number(du, "Upper95"), 5, 1e-4);
    EXPECT_NEAR(Number(du, "Min"), -5, 1e-4);
    EXPECT_DOUBLE_EQ(Number(du, "T1"), 0);
    EXPECT_NE(du.find("\"Verdict\": true"), std::string::npos);

    // Δf: every record, the short interval's too.
    const std::string df = Quantity("dF");
    EXPECT_DOUBLE_EQ(Number(df, "N"), 760);
    EXPECT_NEAR(Number(df, "Min"), -0.1, 1e-9);
    EXPECT_NEAR(Number(df, "Max"), 0.1, 1e-9);
    EXPECT_NE(df.find("\"Unit\": \"Гц\""), std::string::npos);

    // KU(5) of phase C: 0, 0, 7 % against 6 %.
    const std::string h5 = Quantity("KU_C_5");
    EXPECT_NEAR(Number(h5, "Upper95"), 7, 1e-3);
    EXPECT_NEAR(Number(h5, "T1"), 33.3333333333, 1e-6);
    EXPECT_NE(h5.find("\"Verdict\": false"), std::string::npos);
    EXPECT_NE(json.find("\"Key\": \"KU_A_40\""), std::string::npos);
}

TEST_F(ReportCli, FromToAndTheLimitsFileChangeWhatIsJudged) {
    ASSERT_EQ(Report({A(), B(), "--json", "--from", "2026-12-08 10:00:00", "--to",
                      "08.12.2026 10:19:57"}),
              0)
        << Err.str();
    EXPECT_NE(Out.str().find("\"Records\": 390, \"ExpectedRecords\": 390, \"Intervals\": 2, "
                             "\"ValidIntervals\": 2"),
              std::string::npos)
        << Out.str();

    // K2 limits of 0: not set, not judged; KU(5) from the file: 8 % normal.
    const std::string limits = Dir->Path() + "/limits.txt";
    test::WriteFileBytes(limits, "# другие нормы\nK2Limits = 0 0\nKULimits[5] = 8 12\n"
                                 "PhaseVoltageLimits = 10 5 -10 -5\n");
    ASSERT_EQ(Report({A(), B(), "--json", "--limits", limits}), 0) << Err.str();
    const std::string k2 = Quantity("K2U");
    EXPECT_TRUE(std::isnan(Number(k2, "T1")));
    EXPECT_NE(k2.find("\"Verdict\": null"), std::string::npos) << k2;
    EXPECT_NE(Quantity("KU_C_5").find("\"Verdict\": true"), std::string::npos);
    EXPECT_NE(Quantity("dU_AB").find("\"Verdict\": null"), std::string::npos); // left out
    EXPECT_NE(Out.str().find("\"Verdict\": true}"), std::string::npos);

    // A bad file: exit 2, the file and the line named, nothing printed.
    test::WriteFileBytes(limits, "K2Limits = 4 2\nKULimits[5] = 8\n");
    EXPECT_EQ(Report({A(), "--json", "--limits", limits}), 2);
    EXPECT_EQ(Out.str(), "");
    EXPECT_NE(Err.str().find("Файл норм " + limits + ", строка 2: у поля KULimits[5]"),
              std::string::npos)
        << Err.str();

    EXPECT_EQ(Report({"--json"}), 2);
    EXPECT_EQ(Report({A(), "--from", "вчера"}), 2);
    EXPECT_EQ(Report({A(), "--pdf", Dir->Path() + "/x.pdf"}), 1); // no renderer given
    EXPECT_EQ(Report({Dir->Path() + "/none.db", "--json"}), 1);
}

TEST_F(ReportCli, CsvAndIntervalRowsCarryUnitsAndValidity) {
    const std::string csv = Dir->Path() + "/r.csv";
    ASSERT_EQ(Report({A(), B(), "--csv", csv}), 0) << Err.str();
    const std::vector<std::string> lines = test::FileLines(csv);
    ASSERT_GT(lines.size(), 150u);
    // Code page 1251 like the other CSV files: "Величина" is C2 E5 EB E8 F7 E8 ED E0.
    EXPECT_EQ(lines[0].substr(0, 8), "\xC2\xE5\xEB\xE8\xF7\xE8\xED\xE0");
    EXPECT_EQ(lines[8].substr(0, 19), "K2U;%;3;1;2,5;;2,5;") << lines[8];

    std::ostringstream out, err;
    const std::string rows = Dir->Path() + "/rows.csv";
    ASSERT_EQ(RunJournalCommand({"export", A(), "--csv", rows, "--interval", "10min"}, out, err), 0)
        << err.str();
    std::vector<std::string> r = test::FileLines(rows);
    ASSERT_EQ(r.size(), 4u); // the header and the three intervals of a.db
    EXPECT_NE(r[0].find("dU_A, %;"), std::string::npos);
    EXPECT_NE(r[0].find("dF, \xC3\xF6;"), std::string::npos); // "Гц"
    EXPECT_EQ(r[1].substr(0, 25), "08.12.2026 10:00:00;200;1");
    EXPECT_EQ(r[2].substr(0, 25), "08.12.2026 10:10:00;190;1");
    EXPECT_EQ(r[3].substr(0, 25), "08.12.2026 10:20:00;170;0");
    // The hour: 560 records, fewer than 1080 of 1200.
    ASSERT_EQ(RunJournalCommand({"export", A(), "--csv", rows, "--interval", "1h"}, out, err), 0);
    r = test::FileLines(rows);
    ASSERT_EQ(r.size(), 2u);
    EXPECT_EQ(r[1].substr(0, 25), "08.12.2026 10:00:00;560;0");
    EXPECT_EQ(RunJournalCommand({"export", A(), "--csv", rows, "--interval", "5min"}, out, err), 2);
    EXPECT_EQ(RunJournalCommand({"export", A(), "--csv", rows, "--interval", "1h", "--harmonics"},
                                out, err),
              2);
    // Both journals as one: the hour from 10:00 holds all 760 records.
    ASSERT_EQ(RunJournalCommand({"export", B(), A(), "--csv", rows, "--interval", "1h"}, out, err),
              0)
        << err.str();
    r = test::FileLines(rows);
    ASSERT_EQ(r.size(), 2u);
    EXPECT_EQ(r[1].substr(0, 25), "08.12.2026 10:00:00;760;0");
}

TEST_F(ReportCli, ThePdfProtocolReadsBackWithTheNumbersAndTheVerdict) {
    if (std::system("command -v pdftotext > /dev/null") != 0) GTEST_SKIP() << "no pdftotext";
    const std::string pdf = Dir->Path() + "/p.pdf";
    // The real program, without a display: it makes its own offscreen application.
    const std::string command = "env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM " +
                                std::string(QZ_QZCLI_PATH) + " report " + A() + " " + B() +
                                " --pdf " + pdf + " 2>&1 && pdftotext -layout " + pdf + " -";
    FILE* p = popen(command.c_str(), "r");
    ASSERT_NE(p, nullptr);
    std::string text;
    char buf[4096];
    for (size_t n; (n = fread(buf, 1, sizeof buf, p)) > 0;)
        text.append(buf, n);
    ASSERT_EQ(pclose(p), 0) << text;
    for (const char* expected :
         {"Протокол: ", "Каврен–QZ2, заводской номер 1234", "760 из 800 ожидаемых",
          "3 достоверных из 4", "08.12.2026 10:00:00 — 08.12.2026 10:39:57", "33,33",
          "Гармонические составляющие напряжения KU(n)", "Не оцениваются по 3-секундным данным",
          "10:20:00", "Общее заключение: не соответствует",
          "Не соответствуют: K2U, KU_A_5, KU_B_5, KU_C_5", "Измерения провёл",
          "Перерывы опроса по журналу", "Нет ответа от измерителя"})
        EXPECT_NE(text.find(expected), std::string::npos) << expected;
}
