#include "exchange/monCsvExport.h"

#include "common/Cp1251.h"
#include "connection/CcnConnectionClasses.h"
#include "connection/CcnConnectionList.h"
#include "exchange/monNumberText.h"
#include "sigcalc/sigcalc.h"
#include "tests/support/Files.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <iterator>
#include <random>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

using namespace qz;
using qz::test::ReadFileBytes;
using qz::test::TempDir;
namespace fs = std::filesystem;

namespace {

TDateTime At(int y, int mo, int d, int h, int mi, int s, int ms) {
    TDateTime t = 0;
    EXPECT_TRUE(TryEncodeDateTime({y, mo, d, h, mi, s, ms}, t));
    return t;
}

// A line of the file: the cells, each followed by ";", then CR LF.
std::string Line(std::initializer_list<std::string> cells) {
    std::string s;
    for (const std::string& c : cells)
        s += c + ";";
    return s + "\r\n";
}
std::string Repeat(const std::string& cell, int n) {
    std::string s;
    for (int i = 0; i < n; ++i)
        s += cell + ";";
    return s;
}

TEST(GeneralNumberFormat, FifteenDigitsFixedAndScientific) {
    EXPECT_EQ(FormatGeneral15(0, ','), "0");
    EXPECT_EQ(FormatGeneral15(220.5, ','), "220,5");
    EXPECT_EQ(FormatGeneral15(220.5, '.'), "220.5");
    EXPECT_EQ(FormatGeneral15(-3, ','), "-3");
    EXPECT_EQ(FormatGeneral15(double(57.735f), ','), "57,7350006103516");
    EXPECT_EQ(FormatGeneral15(1.0 / 3, '.'), "0.333333333333333");
    EXPECT_EQ(FormatGeneral15(2.0 / 3, '.'), "0.666666666666667");
    EXPECT_EQ(FormatGeneral15(0.0001, ','), "0,0001");
    EXPECT_EQ(FormatGeneral15(-0.000123, ','), "-0,000123");
    EXPECT_EQ(FormatGeneral15(0.00001, ','), "1E-5");
    EXPECT_EQ(FormatGeneral15(-2.5e-10, ','), "-2,5E-10");
    EXPECT_EQ(FormatGeneral15(999999999999999.0, ','), "999999999999999");
    EXPECT_EQ(FormatGeneral15(1e15, ','), "1E15");
    EXPECT_EQ(FormatGeneral15(1234567890123456789.0, ','), "1,23456789012346E18");
    // Rounding to 15 digits that carries into a new digit.
    EXPECT_EQ(FormatGeneral15(0.9999999999999999, '.'), "1");
    EXPECT_EQ(FormatGeneral15(99999999999999.99, '.'), "100000000000000");
    EXPECT_EQ(FormatGeneral15(123456789012.345, '.'), "123456789012.345");
    EXPECT_EQ(FormatGeneral15(1e300, '.'), "1E300");
    EXPECT_EQ(FormatGeneral15(std::nan(""), '.'), "NAN");
    EXPECT_EQ(FormatGeneral15(-HUGE_VAL, '.'), "-INF");
}

TEST(NumberText, FloatsReadBackToThemselvesAndComputedValuesKeepTheirDecimals) {
    // Floats from every exponent range: the text reads back to the very same float.
    std::mt19937 random(26);
    for (int k = 0; k < 200000; ++k) {
        const uint32_t bits = random();
        float f;
        std::memcpy(&f, &bits, sizeof f);
        if (!std::isfinite(f)) continue;
        std::string text = FloatText(f, ',');
        ASSERT_EQ(text.find('.'), std::string::npos) << text;
        for (char& c : text)
            if (c == ',') c = '.';
        const float back = std::strtof(text.c_str(), nullptr);
        ASSERT_EQ(std::memcmp(&back, &f, sizeof f), 0) << text;
    }
    EXPECT_EQ(FloatText(220.4482f, ','), "220,4482");
    EXPECT_EQ(FloatText(57.735f, '.'), "57.735");
    EXPECT_EQ(FloatText(1.5e-7f, ','), "1,5E-07");
    EXPECT_EQ(NumberText(double(0.1f), kmonFloatDigits, '.'), "0.1");
    // A sum of floats is no float: it keeps its digits instead of being rounded to one.
    EXPECT_EQ(NumberText(double(0.1f) + double(0.2f), kmonFloatDigits, '.'), "0.300000004470348");

    EXPECT_EQ(FixedText(50.01 - 50.0, 2, ','), "0,01");
    EXPECT_EQ(FixedText(50.0, 2, '.'), "50");
    EXPECT_EQ(FixedText(-0.0004, 3, '.'), "0");
    EXPECT_EQ(FixedText(-12.34567, 4, '.'), "-12.3457");
    EXPECT_EQ(FixedText(1e20, 3, '.'), "1E20");
    EXPECT_EQ(NumberText(std::nan(""), 2, '.'), "NAN");

    // The powers the meter sent are floats; their totals are computed.
    EXPECT_EQ(RecordFieldText("P", pwA).Decimals, kmonFloatDigits);
    EXPECT_EQ(RecordFieldText("P", pwSum).Decimals, 3);
    EXPECT_EQ(RecordFieldText("P1", pwN).Decimals, kmonFloatDigits);
    EXPECT_EQ(RecordFieldText("KIn_C", 5).Decimals, 3);
    EXPECT_STREQ(RecordFieldText("PhiUIn_N", 0).Unit, "°");
    EXPECT_EQ(RecordFieldText("Time", 0).Decimals, kmonGeneralDigits);
    EXPECT_EQ(RecordFieldText("Nothing", 0).Decimals, kmonGeneralDigits);
}

TEST(CsvDateTimeAndFileName, MidnightAndTheZeroTime) {
    EXPECT_EQ(FormatCsvDateTime(At(2026, 12, 6, 9, 5, 3, 0)), "06.12.2026 9:05:03");
    EXPECT_EQ(FormatCsvDateTime(At(2026, 12, 6, 0, 0, 0, 0)), "06.12.2026");
    EXPECT_EQ(FormatCsvDateTime(0), "30.12.1899");
    EXPECT_EQ(MeasurementsCsvFileName(1234, At(2026, 12, 6, 23, 30, 15, 123)),
              "3sec_1234_261206_233015123.csv");
    EXPECT_EQ(MeasurementsCsvFileName(0, At(2000, 1, 2, 3, 4, 5, 6)),
              "3sec_0_000102_030405006.csv");
    EXPECT_EQ(MeasurementsCsvFileName(-7, At(2099, 11, 30, 0, 0, 0, 999)),
              "3sec_-7_991130_000000999.csv");
}

TEST(CsvDevice, NameAndFactoryNumberFromTheConnection) {
    TccnConnection con;
    TmonCsvDevice none = CsvDeviceOf(con);
    EXPECT_EQ(none.DeviceName, "");
    EXPECT_EQ(none.FactoryNumber, 0);
    auto dev = std::make_unique<TccnQZ2MDev>();
    dev->SetFactoryNum(1234);
    con.SetCustomDevice(std::move(dev));
    TmonCsvDevice d = CsvDeviceOf(con);
    EXPECT_EQ(d.DeviceName, DeviceTypeNames[dtQZ2M]);
    EXPECT_FALSE(d.DeviceName.empty());
    EXPECT_EQ(d.FactoryNumber, 1234);
}

struct CsvFixture : ::testing::Test {
    TmonStorage st;
    TmonCsvDevice dev{"QZ2", 1234};
    TSigExperiment* exp = nullptr;

    void SetUp() override {
        TmonSettings& s = st.Settings;
        s.NominalPhaseVoltage = 57.735f;
        s.NominalLineVoltage = 100;
        s.NominalCurrent = 5;
        TmonData3sec& d = st.Data3sec;
        d.Time = At(2026, 12, 6, 23, 30, 15, 0);
        d.F = 50.12;
        d.dF = d.F - 50.0; // 0.12000000000000455: written as the 0.12 it is
        d.K0 = 1.5;
        d.K2 = 1234567890123456789.0;
        d.U[phA] = double(220.4482f); // the meter's float: its own digits, not 220.448196411133
        d.I[phA] = 1e-7;
        d.ULine[lnCA] = 380;
        d.U1[phB] = 7;
        d.PhiUI[phC] = -0.5;
        d.USeq[sq2] = 2;
        d.PhiUISeq[sq1] = 10;
        d.dU1[phA] = -10;
        d.dU1Line[lnAB] = 3;
        d.KU[phC] = 100;
        d.KI_B = 0.1f;
        d.KU_BC = 57.735f;
        d.KUn_A[0] = 3.25;
        d.PhiUIn_C[0] = 135;
        d.KUn_CA[38] = 100;
        d.P[pwSum] = -1.5;
        d.CosPhi[pwC] = 0.5;
        d.S1[pwA] = 500;
        // The fourth channel has values, which a meter without it must not show.
        d.U[phN] = 9;
        d.KUn_N[0] = 9;
        d.P[pwN] = 9;
        d.KI_N = 9;

        ASSERT_EQ(ExpCreate(&exp, "", 1), sigOk);
        TSigChannel* ua = ExpAddChanel(exp, 0, 0, " Uа", 1, "QZ", 1, 2, 0);
        TSigChannel* ia = ExpAddChanel(exp, 0, 0, " Iа", 1, "QZ", 1, 5, 0);
        TSigChannel* uab = ExpAddChanel(exp, 0, 0, " Uаb", 1, "QZ", 1, 9, 0);
        ChanelSett(ua, 0, 32768 + 100, 0);
        ChanelSett(ua, 1, 32768 - 3, 0);
        ChanelSett(ia, 0, 32768, 0);
        ChanelSett(ia, 1, 0, 0);
        ChanelSett(uab, 0, 32769, 0);
        ExpGetQuantCount(exp);
    }
    void TearDown() override { ExpDestroy(&exp); }

    // Lines 1 .. 67 for a meter without the fourth channel, with the decimal comma.
    std::string ExpectedWithoutNeutral() {
        std::string e;
        e += Line({"Тип прибора", "QZ2"});
        e += Line({"Номер прибора", "1234"});
        e += "\r\n";
        e += Line({"06.12.2026 23:30:15"});
        e += "\r\n";
        e += Line({"", "U ном ф", "U ном мф", "I ном"});
        e += Line({"", "57,735", "100", "5"});
        e += "\r\n\r\n";
        e += Line({"Усреднение 3 сек"});
        e += "\r\n";
        e += Line({"", "F", "откл. F", "K0", "K2"});
        e += Line({"", "50,12", "0,12", "1,5", "1,23456789012346E18"});
        e += "\r\n";
        e += Line({"",       "Uа", "Iа", "fi UIa", "Uв",  "Iв",  "fi UIв", "Uс", "Iс",
                   "fi UIс", "Uн", "Iн", "fi UIн", "Uав", "Uвс", "Uса",    "U0", "I0",
                   "fi UI0", "U1", "I1", "fi UI1", "U2",  "I2",  "fi UI2"});
        e += Line({"U д, I д", "220,4482", "1E-7", "", "0", "0", "", "0", "0", "", "", "", "", "0",
                   "0", "380"});
        e += Line({"U (1), I (1)",
                   "0",
                   "0",
                   "0",
                   "7",
                   "0",
                   "0",
                   "0",
                   "0",
                   "-0,5",
                   "",
                   "",
                   "",
                   "0",
                   "0",
                   "0",
                   "0",
                   "0",
                   "0",
                   "0",
                   "0",
                   "10",
                   "2",
                   "0",
                   "0"});
        e += Line(
            {"откл. U (1)", "-10", "", "", "0", "", "", "0", "", "", "", "", "", "3", "0", "0"});
        e += Line(
            {"K", "0", "0", "", "0", "0,1", "", "100", "0", "", "", "", "", "0", "57,74", "0"});
        e +=
            "K(2), fi(2);3,25;" + Repeat("0", 7) + "135;" + Repeat("", 3) + Repeat("0", 3) + "\r\n";
        for (int n = 3; n <= 39; ++n)
            e += "K(" + std::to_string(n) + "), fi(" + std::to_string(n) + ");" + Repeat("0", 9) +
                 Repeat("", 3) + Repeat("0", 3) + "\r\n";
        e += "K(40), fi(40);" + Repeat("0", 9) + Repeat("", 3) + "0;0;100;\r\n";
        e += "\r\n";
        e += Line({"",   "P",        "Q",        "S",  "cos fi", "Pа",       "Qа",
                   "Sа", "cos fi а", "Pв",       "Qв", "Sв",     "cos fi в", "Pс",
                   "Qс", "Sс",       "cos fi с", "Pн", "Qн",     "Sн",       "cos fi н"});
        e += "Весь сигнал;-1,5;0;0;0;" + Repeat("0", 8) + "0;0;0;0,5;" + Repeat("", 4) + "\r\n";
        e += "1 гармоника;0;0;0;0;0;0;500;0;" + Repeat("0", 8) + Repeat("", 4) + "\r\n";
        e += "\r\n\r\n";
        e += Line({"Значения 20 мсек"});
        e += "\r\n";
        e += Line({"", "Uа", "Iа", "Uв", "Iв", "Uс", "Iс", "Uн", "Iн", "Uав", "Uвс", "Uса"});
        return e;
    }
};

TEST_F(CsvFixture, ExactBytesWithoutNeutralAndWithoutWaveform) {
    const std::string got = FormatMeasurementsCsv(dev, st, 0, 0, nullptr);
    EXPECT_EQ(got, Utf8ToCp1251(ExpectedWithoutNeutral()));
    // Code page 1251 on disk: "Тип" is D2 E8 EF.
    ASSERT_GE(got.size(), 3u);
    EXPECT_EQ(got.substr(0, 3), "\xD2\xE8\xEF");
    EXPECT_EQ(got.substr(got.size() - 2), "\r\n");
}

TEST_F(CsvFixture, WaveformLinesFollowTheHeaders) {
    const std::string got = FormatMeasurementsCsv(dev, st, 0.25, 0.5, exp);
    // Columns: Uа, Iа, Ub, Ib, Uc, Ic, Un, In, Uаb, Ubc, Uca; absent channels and missing
    // samples are empty; a value is (32768 - stored) * 2 * factor.
    std::string e = ExpectedWithoutNeutral();
    e += "1;-100;0;" + Repeat("", 6) + "-1;;;\r\n";
    e += "2;3;16384;" + Repeat("", 9) + "\r\n";
    EXPECT_EQ(got, Utf8ToCp1251(e));
}

TEST_F(CsvFixture, DecimalPointAndOwnDateFormat) {
    TmonCsvOptions o;
    o.DecimalSeparator = '.';
    o.FormatDateTime = [](TDateTime) { return std::string("2026-12-06 23:30:15"); };
    const std::string got = Cp1251ToUtf8(FormatMeasurementsCsv(dev, st, 0, 0, nullptr, o));
    EXPECT_NE(got.find("\r\n2026-12-06 23:30:15;\r\n"), std::string::npos);
    EXPECT_NE(got.find("\r\n;57.735;100;5;\r\n"), std::string::npos);
    EXPECT_NE(got.find("\r\n;50.12;0.12;1.5;1.23456789012346E18;\r\n"), std::string::npos);
    // Commas remain only in the row titles, where a blank follows them.
    for (size_t pos = got.find(','); pos != std::string::npos; pos = got.find(',', pos + 1))
        EXPECT_EQ(got[pos + 1], ' ') << got.substr(pos - 10, 20);
}

TEST_F(CsvFixture, NeutralCellsAreFilledForAMeterWithIt) {
    st.Settings.HasNeutral = 1;
    const std::string got = Cp1251ToUtf8(FormatMeasurementsCsv(dev, st, 0, 0, nullptr));
    EXPECT_NE(got.find("\r\nU д, I д;220,4482;1E-7;;0;0;;0;0;;9;0;;0;0;380;\r\n"),
              std::string::npos);
    EXPECT_NE(got.find("\r\nK;0;0;;0;0,1;;100;0;;0;9;;0;57,74;0;\r\n"), std::string::npos);
    EXPECT_NE(got.find("\r\nK(2), fi(2);3,25;0;0;0;0;0;0;0;135;9;0;0;0;0;0;\r\n"),
              std::string::npos);
    EXPECT_NE(got.find("\r\nВесь сигнал;-1,5;0;0;0;0;0;0;0;0;0;0;0;0;0;0;0,5;9;0;0;0;\r\n"),
              std::string::npos);
}

TEST_F(CsvFixture, SaveMakesTheProductFolderAndNamesTheFile) {
    TempDir tmp;
    ASSERT_FALSE(tmp.Path().empty());
    TmonCsvOptions o;
    o.DocumentsFolder = tmp.Path() + "/docs";
    o.Now = [] { return At(2026, 12, 6, 23, 30, 15, 123); };
    std::string name, error;
    const mode_t savedMask = ::umask(022);
    const bool saved = SaveMeasurementsToFile(dev, st, 0.25, 0.5, exp, o, &name, &error);
    ::umask(savedMask);
    ASSERT_TRUE(saved) << error;
    EXPECT_EQ(name, tmp.Path() + "/docs/VQ/Монитор Каврен-QZ2/3sec_1234_261206_233015123.csv");
    struct stat info {};
    ASSERT_EQ(::stat(name.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0644u) << "like any file the user creates (umask 022)";
    EXPECT_EQ(ReadFileBytes(name), FormatMeasurementsCsv(dev, st, 0.25, 0.5, exp));
    // A second save in the same millisecond replaces the first file.
    st.Data3sec.F = 49.5;
    std::string second;
    ASSERT_TRUE(SaveMeasurementsToFile(dev, st, 0.25, 0.5, nullptr, o, &second));
    EXPECT_EQ(second, name);
    EXPECT_EQ(ReadFileBytes(name), FormatMeasurementsCsv(dev, st, 0, 0, nullptr));
    EXPECT_EQ(std::distance(fs::directory_iterator(fs::path(name).parent_path()), {}), 1);
}

TEST_F(CsvFixture, FailuresAreReportedAndLeaveNoPartialFile) {
    TempDir tmp;
    ASSERT_FALSE(tmp.Path().empty());
    std::string error;
    // The folder of the file does not exist.
    EXPECT_FALSE(WriteMeasurementsCsv(dev, st, 0, 0, nullptr, tmp.Path() + "/none/x.csv",
                                      TmonCsvOptions(), &error));
    EXPECT_FALSE(error.empty());
    // The name is taken by a folder: that folder stays, and no temporary file is left.
    fs::create_directory(tmp.Path() + "/taken.csv");
    EXPECT_FALSE(WriteMeasurementsCsv(dev, st, 0, 0, nullptr, tmp.Path() + "/taken.csv"));
    EXPECT_TRUE(fs::is_directory(tmp.Path() + "/taken.csv"));
    EXPECT_EQ(std::distance(fs::directory_iterator(tmp.Path()), {}), 1);
    // The documents folder is a file, so the product folder cannot be made.
    std::ofstream(tmp.Path() + "/docs-file") << "x";
    TmonCsvOptions o;
    o.DocumentsFolder = tmp.Path() + "/docs-file";
    EXPECT_FALSE(SaveMeasurementsToFile(dev, st, 0, 0, nullptr, o));
}

} // namespace
