// The window with threads of its own: calls from another thread are handled on the window's
// thread while the caller waits, and closing the window waits for the threads without
// dead-locking on a call in flight. Then the whole road against the simulated meter.
#include "QtTestEnv.h"

#include "channel/LCAObject.h"
#include "monitor/monCommandLine.h"
#include "monitor/monMain.h"
#include "simulator/MeterSimulator.h"
#include "tests/support/ChannelGuards.h"
#include "tests/support/MonitorForm.h"
#include "trends/monTrendsWindow.h"

#include <QLabel>
#include <QPushButton>
#include <QThread>

#include <gtest/gtest.h>

#include <atomic>
#include <complex>
#include <thread>

namespace qz {
namespace {

using test::WaitUntil;

// Reports a record every millisecond until stopped, then its end.
class BusyThread : public ImonExchange {
public:
    BusyThread(IExchangeListener* l, TmonSharedStorage* s, std::atomic<int>* records)
        : FListener(l), FStorage(s), FRecords(records) {}
    ~BusyThread() override { Join(); }
    void Start() override {
        FThread = std::thread([this] {
            for (int i = 1; !FStop.load(); ++i) {
                FStorage->Update([i](TmonStorage& st) { st.Data3sec.U1[phA] = i; });
                FListener->OnData3sec();
                ++*FRecords;
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
            FListener->OnExchangeEnd(0, 0);
            FFinished = true;
        });
    }
    void Stop() override { FStop = true; }
    bool Finished() const override { return FFinished.load(); }
    void Join() override {
        if (FThread.joinable()) FThread.join();
    }
    std::string GetErrorText() const override { return {}; }

private:
    IExchangeListener* FListener;
    TmonSharedStorage* FStorage;
    std::atomic<int>* FRecords;
    std::atomic<bool> FStop{false}, FFinished{false};
    std::thread FThread;
};

TEST(WindowThreads, CallsFromAnotherThreadAndCloseWhileRunning) {
    std::atomic<int> records{0};
    TmonFormOptions o = test::QuietFormOptions("busy.ini");
    o.Exchange.MakeMain = [&records](IExchangeListener* l, const TccnConnection*,
                                     TmonSharedStorage* s) {
        return std::unique_ptr<ImonExchange>(new BusyThread(l, s, &records));
    };
    auto w = std::make_unique<TForm1>(std::move(o));
    w->ConnectFromCommandLine(0, 1, 1, true);
    ASSERT_TRUE(WaitUntil([&] { return records.load() >= 5; }, 10000));
    EXPECT_NE(w->Controls().L_U[0]->text().toStdString(), "0.0000 В"); // shown on this thread

    // Stop, and let the end arrive through the event loop.
    w->Controls().BStart->click();
    ASSERT_TRUE(WaitUntil([&] { return !w->Running(); }, 10000));
    EXPECT_EQ(w->Controls().BStart->text().toStdString(), "Старт");

    // Start again and close at once, while calls are in flight.
    w->Controls().BStart->click();
    ASSERT_TRUE(WaitUntil([&] { return records.load() >= 10; }, 10000));
    w->close();
    EXPECT_FALSE(w->Running());
    w.reset(); // nothing of the window is used after this
}

// The whole road: the real threads poll the simulated meter over loopback TCP.
TEST(WindowThreads, ShowsTheSimulatorsValues) {
    test::TLCAModule module;
    TSimOptions so;
    so.ModelIndex = 1;
    so.Address = 321;
    so.ListenPort = 0;
    TMeterSimulator sim(so);
    std::string error;
    ASSERT_TRUE(sim.Start(&error)) << error;

    TmonFormOptions o = test::QuietFormOptions("e2e.ini");
    o.Exchange = MakeRealExchangeFactory();
    auto w = std::make_unique<TForm1>(std::move(o));
    int shown = 0;
    w->OnRecordShown = [&shown](int n) { shown = n; };
    w->ShowTrends(); // open while polling, and closed with the window
    w->UseOwnedConnection(MakeTcpConnection(1, 321, "127.0.0.1", sim.port()), true);
    ASSERT_TRUE(w->Running());
    ASSERT_TRUE(WaitUntil([&] { return shown >= 1; }, 20000)) << "no record shown";

    const TmonStorage& st = w->ShownStorage();
    const TMeterNominals& nom = sim.Responder().Model().Nominals();
    EXPECT_FLOAT_EQ(st.Settings.NominalPhaseVoltage, nom.PhaseVoltage);
    EXPECT_FLOAT_EQ(st.Settings.NominalLineVoltage, nom.LineVoltage);
    EXPECT_EQ(w->Controls().Label48->text().toStdString(),
              NominalVoltagesText(nom.PhaseVoltage, nom.LineVoltage, '.'));
    EXPECT_NE(st.Data3sec.Time, 0.0);
    EXPECT_EQ(w->windowTitle().toStdString(),
              w->BaseCaption().toStdString() + "    (Время данных: t)");
    // The fundamental of phase A as the simulator made it, and as the label shows it.
    const double expected =
        std::abs(sim.Responder().Model().Snapshot(SecondsOf(st.Data3sec.Time)).U[0].H[1]);
    EXPECT_NEAR(st.Data3sec.U1[phA], expected, expected * 0.02);
    EXPECT_EQ(w->Controls().L_U[0]->text().toStdString(),
              FormatVoltage(float(st.Data3sec.U1[phA]), '.'));
    EXPECT_NEAR(st.Data3sec.F, 50.0, 1.0);
    // The trends window follows: the last point is the record shown.
    const TmonTrendsWindow* trends = w->TrendsWindow();
    ASSERT_TRUE(trends);
    ASSERT_GE(trends->SampleCount(), 1u);
    EXPECT_DOUBLE_EQ(trends->Samples().back().Time, st.Data3sec.Time);
    EXPECT_FLOAT_EQ(trends->Samples().back().Value[tqUA], float(st.Data3sec.U[phA]));

    w->close(); // stops and waits for the polling thread
    EXPECT_FALSE(w->Running());
    w.reset();
    sim.Stop();
}

} // namespace
} // namespace qz
