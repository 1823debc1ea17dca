// "Протокол…" in the trends window: the journal shown is assessed over the span shown, on a
// thread of its own, written as a PDF where the operator says and handed to the viewer.
#include "tests/support/PqJournal.h"
#include "tests/support/QtTestApp.h"
#include "tests/support/TempDir.h"
#include "trends/monTrendJournal.h"
#include "trends/monTrendsWindow.h"

#include <QPushButton>

#include <cstdio>
#include <cstdlib>
#include <gtest/gtest.h>

using namespace qz;

namespace {

::testing::Environment* const kEnv =
    ::testing::AddGlobalTestEnvironment(new test::QtTestEnvironment("test_report_window"));

constexpr auto* At = &test::RecordingDay;

std::string PdfText(const std::string& pdf) {
    std::string text;
    FILE* p = popen(("pdftotext -layout " + pdf + " - 2>&1").c_str(), "r");
    if (!p) return text;
    char buf[4096];
    for (size_t n; (n = fread(buf, 1, sizeof buf, p)) > 0;)
        text.append(buf, n);
    pclose(p);
    return text;
}

} // namespace

TEST(ReportWindow, TheProtocolCoversTheShownSpanAndOpensInTheViewer) {
    if (std::system("command -v pdftotext > /dev/null") != 0) GTEST_SKIP() << "no pdftotext";
    test::TempDir dir("qz-report-window", test::PqJournalFolder());
    const std::string journal = dir.Path() + "/site.db";
    {
        // 10:00 K2 1 %, 10:10 K2 3 % (above the normal 2 %).
        test::TPqJournal j(journal);
        j.Settings(At(10, 0, 0), test::PqSettings());
        test::TPqValues v;
        v.K2 = 1;
        j.Records(At(10, 0, 0), At(10, 10, 0), v);
        v.K2 = 3;
        j.Records(At(10, 10, 0), At(10, 20, 0), v);
        ASSERT_TRUE(j.Close()) << j.Error;
    }
    TmonTrendsWindow w;
    w.SetFileOpener(&OpenJournalTrend);
    w.SetProtocolWriter(&WriteJournalProtocol);
    std::vector<std::string> errors, opened, suggested;
    w.OnError = [&](const std::string&, const std::string& t) { errors.push_back(t); };
    w.OpenDocument = [&](const std::string& pdf) { opened.push_back(pdf); };
    const std::string pdf = dir.Path() + "/protocol.pdf";
    w.ChooseProtocolFile = [&](const std::string& s) {
        suggested.push_back(s);
        return pdf;
    };
    auto* button = w.findChild<QPushButton*>("protocol");
    ASSERT_NE(button, nullptr);
    EXPECT_FALSE(button->isEnabled()); // nothing shown yet
    w.show();
    w.OpenFile(journal);
    ASSERT_TRUE(test::WaitUntil([&] { return !w.Opening(); }, 10000));
    ASSERT_TRUE(errors.empty()) << errors[0];
    EXPECT_EQ(w.ShownFile(), journal);
    ASSERT_TRUE(button->isEnabled());

    // Only the first interval is shown: the protocol holds its 200 records and complies.
    w.SetRange({At(10, 0, 0), At(10, 9, 57)});
    button->click();
    EXPECT_FALSE(button->isEnabled()); // one protocol at a time
    ASSERT_TRUE(test::WaitUntil([&] { return !opened.empty() || !errors.empty(); }, 20000));
    ASSERT_TRUE(errors.empty()) << errors[0];
    EXPECT_EQ(suggested, std::vector<std::string>{dir.Path() + "/site.pdf"});
    EXPECT_EQ(opened, std::vector<std::string>{pdf});
    EXPECT_TRUE(button->isEnabled());
    EXPECT_EQ(w.StatusText().toStdString(), "Протокол записан: " + pdf);
    std::string text = PdfText(pdf);
    EXPECT_NE(text.find("200 из 200 ожидаемых"), std::string::npos) << text;
    EXPECT_NE(text.find("Общее заключение: соответствует"), std::string::npos);

    // All of it: the second interval's K2 of 3 % fails the recording.
    w.ShowWhole();
    w.WriteProtocol(pdf);
    ASSERT_TRUE(test::WaitUntil([&] { return opened.size() == 2 || !errors.empty(); }, 20000));
    text = PdfText(pdf);
    EXPECT_NE(text.find("400 из 400 ожидаемых"), std::string::npos);
    EXPECT_NE(text.find("Не соответствуют: K2U"), std::string::npos);

    // A place that cannot be written: the operator is told, nothing is opened.
    w.WriteProtocol("/nonexistent/folder/p.pdf");
    ASSERT_TRUE(test::WaitUntil([&] { return !errors.empty(); }, 20000));
    EXPECT_NE(errors[0].find("/nonexistent/folder/p.pdf"), std::string::npos) << errors[0];
    EXPECT_EQ(opened.size(), 2u);
}
