// The window and the line on the real clock: the progress label while a TCP connect hangs
// and Stop ending it, the link figures after records of the simulated meter, and the trace
// switched on from the window's menu.
#include "QtTestEnv.h"

#include "channel/LCAObject.h"
#include "monitor/monCommandLine.h"
#include "monitor/monMain.h"
#include "simulator/MeterSimulator.h"
#include "tests/support/ChannelGuards.h"
#include "tests/support/MonitorForm.h"
#include "tests/support/TcpListener.h"

#include <QAction>
#include <QLabel>
#include <QPushButton>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

namespace qz {
namespace {

using test::WaitUntil;

TmonFormOptions Options(const char* exe) {
    TmonFormOptions o = test::QuietFormOptions(exe);
    o.Exchange = MakeRealExchangeFactory();
    o.DocumentsFolder = test::QtEnvironment::Folder + "/docs";
    return o;
}

std::string Text(const QLabel* l) {
    return l->text().toStdString();
}

TEST(WindowLine, ConnectingUntilStopped) {
    test::TLCAModule module(monLineLog().LogProc()); // the program's line log, as main has
    // A listener whose accept queue is full: the connect neither succeeds nor fails.
    const test::DeafListener listener;

    auto w = std::make_unique<TForm1>(Options("slow.ini"));
    w->UseOwnedConnection(MakeTcpConnection(1, 5, "127.0.0.1", listener.Port()), true);
    ASSERT_TRUE(w->Running());
    ASSERT_TRUE(WaitUntil(
        [&] { return Text(w->Controls().LProgress).rfind("Соединение... ", 0) == 0; }, 10000))
        << Text(w->Controls().LProgress);
    // The seconds go on while the line still tries.
    EXPECT_TRUE(
        WaitUntil([&] { return Text(w->Controls().LProgress) != "Соединение... 0 с"; }, 10000))
        << Text(w->Controls().LProgress);
    EXPECT_EQ(Text(w->Controls().LProgress).rfind("Соединение... ", 0), 0u)
        << Text(w->Controls().LProgress);

    w->Controls().BStart->click(); // Stop
    ASSERT_TRUE(WaitUntil([&] { return !w->Running(); }, 10000));
    EXPECT_EQ(Text(w->Controls().LProgress).find("Соединение..."), std::string::npos)
        << Text(w->Controls().LProgress);
    const std::string after = Text(w->Controls().LProgress);
    WaitUntil([] { return false; }, 1200); // the label's timer has stopped with the connect
    EXPECT_EQ(Text(w->Controls().LProgress), after);
    w.reset();
}

class KeptMessages : public ImonMessages {
public:
    void Show(const std::string&, TmonMessageIcon, const std::string& t) override {
        Texts.push_back(t);
    }
    std::vector<std::string> Texts;
};

TEST(WindowLine, RefusedConnectEndsOnTheError) {
    test::TLCAModule module(monLineLog().LogProc()); // the program's line log, as main has
    const uint16_t port = test::UnusedLoopbackPort();
    TmonFormOptions o = Options("refused.ini");
    auto messages = std::make_unique<KeptMessages>();
    KeptMessages* kept = messages.get();
    o.Messages = std::move(messages);
    auto w = std::make_unique<TForm1>(std::move(o));
    w->UseOwnedConnection(MakeTcpConnection(1, 5, "127.0.0.1", port), true);
    ASSERT_TRUE(WaitUntil([&] { return !w->Running(); }, 20000));
    ASSERT_EQ(kept->Texts.size(), 1u);
    const std::string label = Text(w->Controls().LProgress);
    // The message's words on one line: "Ошибка обмена с измерителем: <the protocol's text>".
    EXPECT_EQ(label.rfind("Ошибка обмена с измерителем: ", 0), 0u) << label;
    EXPECT_GT(label.size(), std::string("Ошибка обмена с измерителем: ").size() + 4) << label;
    EXPECT_EQ(label.find('\n'), std::string::npos) << label;
    const std::string reason = label.substr(label.find(": ") + 2);
    EXPECT_NE(kept->Texts[0].find(reason), std::string::npos) << label << " / " << kept->Texts[0];
    w.reset();
}

TEST(WindowLine, FiguresAndTraceOfAPoll) {
    test::TLCAModule module(monLineLog().LogProc()); // the program's line log, as main has
    TSimOptions so;
    so.ModelIndex = 1;
    so.Address = 77;
    so.ListenPort = 0;
    TMeterSimulator sim(so);
    std::string error;
    ASSERT_TRUE(sim.Start(&error)) << error;

    auto w = std::make_unique<TForm1>(Options("line.ini"));
    QAction* traceAction = w->findChild<QAction*>("TraceAction");
    ASSERT_TRUE(traceAction);
    EXPECT_FALSE(traceAction->isChecked());
    traceAction->trigger(); // "Трассировка линии" on
    ASSERT_TRUE(w->LineTracing());
    EXPECT_TRUE(w->Settings().ReadLineTraceOn());
    const std::string file = w->LineTraceFile();
    EXPECT_NE(file.find("/Трассировка/"), std::string::npos) << file;

    // The tooltip after a record holds the requests the meter received until then (the
    // polling thread waits while the record is shown).
    std::string tip;
    uint64_t asked = 0;
    bool seen = false;
    w->OnRecordShown = [&](int n) {
        if (n != 2) return;
        tip = w->Controls().LProgress->toolTip().toStdString();
        asked = sim.RequestCount();
        seen = true;
    };
    w->UseOwnedConnection(MakeTcpConnection(1, 77, "127.0.0.1", sim.port()), true);
    ASSERT_TRUE(WaitUntil([&] { return seen; }, 20000)) << "no two records shown";
    EXPECT_EQ(Text(w->Controls().LProgress),
              std::string(kmonTraceMark) + "Соединение установлено.");
    ASSERT_GT(asked, 0u);
    EXPECT_NE(tip.find("Запросов: " + std::to_string(asked) + "\n"), std::string::npos)
        << tip << "\nthe meter was asked " << asked << " times";
    EXPECT_NE(tip.find("Ответов: " + std::to_string(asked) + "\n"), std::string::npos) << tip;
    EXPECT_NE(tip.find("Ошибок контрольной суммы: 0"), std::string::npos) << tip;
    EXPECT_EQ(tip.find("Последний обмен: —"), std::string::npos) << tip;

    w->Controls().BStart->click();
    ASSERT_TRUE(WaitUntil([&] { return !w->Running(); }, 10000));
    traceAction->trigger(); // off: the file is written out and closed
    EXPECT_FALSE(w->LineTracing());
    EXPECT_FALSE(w->Settings().ReadLineTraceOn());
    traceAction->trigger(); // on again, kept on in the settings file
    w.reset();
    EXPECT_FALSE(monLineLog().Trace()) << "the window's trace outlived it";
    EXPECT_TRUE(TmonIniFile(kMonitorProductName, "line.ini").ReadLineTraceOn());
    sim.Stop();

    std::ifstream in(file);
    std::stringstream all;
    all << in.rdbuf();
    const std::string trace = all.str();
    EXPECT_NE(trace.find(" OPEN "), std::string::npos) << trace;
    EXPECT_NE(trace.find("Соединение..."), std::string::npos) << trace;
    EXPECT_NE(trace.find("Соединение установлено."), std::string::npos) << trace;
    EXPECT_NE(trace.find(" DUMP "), std::string::npos) << trace;
}

// The trace ticked while the line is open: the poll's dumps reach the file at once, not
// from the next Start.
TEST(WindowLine, ATraceBegunInMidPollTakesTheOpenLine) {
    test::TLCAModule module(monLineLog().LogProc());
    TSimOptions so;
    so.ModelIndex = 1;
    so.Address = 78;
    so.ListenPort = 0;
    TMeterSimulator sim(so);
    std::string error;
    ASSERT_TRUE(sim.Start(&error)) << error;
    auto w = std::make_unique<TForm1>(Options("midpoll.ini"));
    int shown = 0;
    w->OnRecordShown = [&](int n) { shown = n; };
    w->UseOwnedConnection(MakeTcpConnection(1, 78, "127.0.0.1", sim.port()), true);
    ASSERT_TRUE(WaitUntil([&] { return shown >= 1; }, 20000)) << "no record shown";
    w->findChild<QAction*>("TraceAction")->trigger();
    ASSERT_TRUE(w->LineTracing());
    const std::string file = w->LineTraceFile();
    const uint64_t askedBefore = sim.RequestCount();
    const int at = shown;
    ASSERT_TRUE(WaitUntil([&] { return shown >= at + 2; }, 20000)) << "polling stopped";
    w->Controls().BStart->click();
    ASSERT_TRUE(WaitUntil([&] { return !w->Running(); }, 10000));
    w->findChild<QAction*>("TraceAction")->trigger(); // off: written out
    ASSERT_GT(sim.RequestCount(), askedBefore);
    w.reset();
    sim.Stop();
    std::ifstream in(file);
    std::stringstream all;
    all << in.rdbuf();
    const std::string trace = all.str();
    EXPECT_NE(trace.find(" DUMP "), std::string::npos) << trace;
    EXPECT_NE(trace.find("Задание выполнено"), std::string::npos) << trace;
}

} // namespace
} // namespace qz
