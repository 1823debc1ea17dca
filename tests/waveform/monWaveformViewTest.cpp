#include "WaveQtEnv.h"

#include "exchange/monStorage.h"
#include "waveform/monWaveformView.h"

#include <QCheckBox>
#include <QComboBox>
#include <QKeyEvent>
#include <QLabel>

#include <vector>

using namespace qz;

namespace {

struct ViewFixture : ::testing::Test {
    QWidget owner;
    QCheckBox* box = new QCheckBox(&owner);
    void SetUp() override {
        TWMultiSignal::ForgetSavedState();
        box->setObjectName("ChkViewSinus");
        box->setChecked(true);
    }
    void TearDown() override { TWMultiSignal::ForgetSavedState(); }
};

} // namespace

TEST_F(ViewFixture, CreatesExperimentAndShownWindow) {
    auto view = MakeWaveformView(&owner, true);
    auto* v = static_cast<TmonWaveformView*>(view.get());
    ASSERT_NE(view->Experiment(), nullptr);
    EXPECT_EQ(view->Experiment()->ChannelCount(), 11);
    ASSERT_NE(v->Window(), nullptr);
    EXPECT_TRUE(v->Window()->isVisible());
    EXPECT_EQ(v->Window()->CBoxPointCount->count(), 4);
    EXPECT_EQ(v->Window()->UFullScale(), 111409);
    EXPECT_EQ(v->Window()->parentWidget(), &owner);
    // A tool window of the main window, not one above every window: boxes and dialogs of
    // the program open above it.
    EXPECT_EQ(v->Window()->windowType(), Qt::Tool);
    EXPECT_FALSE(v->Window()->windowFlags() & Qt::WindowStaysOnTopHint);
    EXPECT_TRUE(v->Window()->isWindow());
    EXPECT_DOUBLE_EQ(view->VoltageFactor(), v->Window()->UCoef());
    EXPECT_DOUBLE_EQ(view->CurrentFactor(), v->Window()->ICoef());
}

TEST_F(ViewFixture, BlockRefillsRescalesAndTurnsIndicator) {
    auto view = MakeWaveformView(&owner, false);
    auto* v = static_cast<TmonWaveformView*>(view.get());
    std::vector<uint8_t> block(64 * 6 * 2, 0);
    block[0] = 0x10; // Uа sample 0 = 16
    TmonStorage st;
    st.Settings.VoltageRatio = 1;
    st.Settings.NominalCurrent = 1;
    st.SignalData = block.data();
    st.SignalSize = int32_t(block.size());
    view->OnSignalData(st, 63, 2);
    EXPECT_EQ(v->Window()->QuantCount(), 64);
    EXPECT_EQ(ChanelGet(view->Experiment()->Channels[0], 0, nullptr, 0, nullptr), 32768 + 16)
        << "an owner that is not the main window gives no \"(A)\" factor";
    EXPECT_DOUBLE_EQ(view->VoltageFactor(), UCoefOf(1));
    EXPECT_DOUBLE_EQ(view->CurrentFactor(), ICoefOf(1, false));
    EXPECT_EQ(v->Window()->Label4->text(), "\\");
}

TEST_F(ViewFixture, EscUnticksTheBoxLater) {
    auto view = MakeWaveformView(&owner, true);
    auto* v = static_cast<TmonWaveformView*>(view.get());
    QKeyEvent esc(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
    QApplication::sendEvent(v->Window(), &esc);
    EXPECT_TRUE(box->isChecked()) << "not inside the window's own key handler";
    QCoreApplication::processEvents();
    EXPECT_FALSE(box->isChecked());
    EXPECT_TRUE(v->Window()->isVisible()) << "freeing the window is the owner's";
}
