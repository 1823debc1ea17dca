// The whole waveform road: the main window polls the simulated meter, "Сигнал" opens the
// waveform window and starts the waveform thread, blocks refill the experiment and turn the
// busy indicator, and Esc in the waveform window switches the display off again.
#include "WaveQtEnv.h"

#include "channel/LCAObject.h"
#include "monitor/monCommandLine.h"
#include "simulator/MeterSimulator.h"
#include "tests/support/ChannelGuards.h"
#include "tests/support/MonitorForm.h"
#include "waveform/monWaveformView.h"

#include <QCheckBox>
#include <QKeyEvent>
#include <QLabel>

#include <functional>

namespace qz {
namespace {

using test::NoMessages;
using test::WaitUntil;

TEST(WaveformRoad, SimulatedMeterBlocksReachTheWindow) {
    TWMultiSignal::ForgetSavedState();
    test::TLCAModule module;
    TSimOptions so;
    so.ModelIndex = 1; // with the neutral channels
    so.Address = 321;
    so.ListenPort = 0;
    TMeterSimulator sim(so);
    std::string error;
    ASSERT_TRUE(sim.Start(&error)) << error;

    TmonFormOptions o;
    o.Settings = std::make_unique<TmonIniFile>(kMonitorProductName, "wave.ini");
    o.Messages = std::make_unique<NoMessages>();
    o.Exchange = MakeRealExchangeFactory();
    o.WaveformFactory = MakeWaveformView;
    auto w = std::make_unique<TForm1>(std::move(o));
    w->UseOwnedConnection(MakeTcpConnection(1, 321, "127.0.0.1", sim.port()), true);
    ASSERT_TRUE(w->Running());

    w->Controls().ChkViewSinus->setChecked(true);
    TWMultiSignal* ws = w->findChild<TWMultiSignal*>();
    ASSERT_NE(ws, nullptr);
    EXPECT_TRUE(ws->isVisible());
    EXPECT_EQ(ws->Exp()->ChannelCount(), 11);
    // Not painted on screen: Qt's own raster thread pool, which ThreadSanitizer cannot see
    // into, would be all it reported. FormRis still draws into the window's picture.
    ws->hide();
    ASSERT_TRUE(WaitUntil([&] { return ws->Label4->text() == "|"; }, 30000))
        << "fewer than two waveform blocks";
    EXPECT_EQ(ws->QuantCount(), 64) << "code 2 asked for";
    EXPECT_GT(ws->Exp()->Channels[1]->SampleCount(), 0u);
    // The simulated phase voltage is not flat.
    const TSigChannel* ua = ws->Exp()->Channels[1];
    const auto [lo, hi] = std::minmax_element(ua->Samples.begin(), ua->Samples.end());
    EXPECT_GT(*hi - *lo, 1000);

    QKeyEvent esc(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
    QApplication::sendEvent(ws, &esc);
    ASSERT_TRUE(WaitUntil([&] { return w->findChild<TWMultiSignal*>() == nullptr; }, 20000))
        << "the window was not freed";
    EXPECT_FALSE(w->Controls().ChkViewSinus->isChecked());
    EXPECT_TRUE(w->Running()) << "polling goes on";

    w->close();
    EXPECT_FALSE(w->Running());
    w.reset();
    sim.Stop();
}

} // namespace
} // namespace qz
