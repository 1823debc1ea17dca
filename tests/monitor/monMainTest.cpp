// The main window with exchange threads that answer at once: Start/Stop states, the end
// messages, the command line, the labels after a record, the spectrum controls and the
// settings they keep.
#include "QtTestEnv.h"

#include "monitor/monCommandLine.h"
#include "monitor/monMain.h"
#include "protocol/DeviceStatus.h"
#include "tests/support/MonitorForm.h"
#include "trends/monTrendSource.h"
#include "trends/monTrendsWindow.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QScrollBar>
#include <QTableWidget>
#include <QTimer>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

namespace qz {
namespace {

struct Message {
    std::string Caption;
    TmonMessageIcon Icon;
    std::string Text;
};

class CapturedMessages : public ImonMessages {
public:
    explicit CapturedMessages(std::vector<Message>* out) : Out(out) {}
    void Show(const std::string& c, TmonMessageIcon i, const std::string& t) override {
        Out->push_back({c, i, t});
    }
    std::vector<Message>* Out;
};

// A thread that does nothing by itself; the test speaks for it through the listener.
struct FakeThread : ImonExchange {
    struct Log {
        int Created = 0, Started = 0, Stopped = 0, Joined = 0;
        IExchangeListener* Listener = nullptr;
        std::string ErrorText = "Нет ответа";
    };
    explicit FakeThread(Log* log) : L(log) {}
    void Start() override { ++L->Started; }
    void Stop() override { ++L->Stopped; }
    bool Finished() const override { return true; }
    void Join() override { ++L->Joined; }
    std::string GetErrorText() const override { return L->ErrorText; }
    Log* L;
};

class WindowTest : public ::testing::Test {
protected:
    std::string ExeName() const {
        return std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()) +
               ".ini";
    }
    std::string IniPath() const { return SettingsFilePath(kMonitorProductName, ExeName()); }

    std::unique_ptr<TForm1> Make(std::function<void(TmonFormOptions&)> tweak = {}) {
        TmonFormOptions o;
        o.Settings = std::make_unique<TmonIniFile>(kMonitorProductName, ExeName());
        o.Messages = std::make_unique<CapturedMessages>(&Messages);
        o.Exchange.MakeMain = [this](IExchangeListener* l, const TccnConnection*,
                                     TmonSharedStorage*) {
            ++Main.Created;
            Main.Listener = l;
            return std::unique_ptr<ImonExchange>(new FakeThread(&Main));
        };
        o.Format = test::FixedFormat("07.12.2026 10:00:03");
        o.DocumentsFolder = test::QtEnvironment::Folder + "/docs";
        if (tweak) tweak(o);
        return std::make_unique<TForm1>(std::move(o));
    }

    std::vector<Message> Messages;
    FakeThread::Log Main;
};

TEST_F(WindowTest, StartWithoutMeterWarns) {
    auto w = Make();
    EXPECT_EQ(w->Controls().BStart->text().toStdString(), "Старт");
    EXPECT_EQ(w->Controls().BDevices->text().toStdString(), "Измеритель ...");
    EXPECT_EQ(w->windowTitle().toStdString(),
              "Монитор Каврен-QZ2  v " + std::to_string(QZ_VERSION_MAJOR) + "." +
                  std::to_string(QZ_VERSION_MINOR) + "." + std::to_string(QZ_VERSION_PATCH));
    w->Controls().BStart->click();
    ASSERT_EQ(Messages.size(), 1u);
    EXPECT_EQ(Messages[0].Caption, "Внимание");
    EXPECT_EQ(Messages[0].Icon, TmonMessageIcon::Warning);
    EXPECT_EQ(Messages[0].Text, "Не выбран измеритель");
    EXPECT_EQ(Main.Created, 0);
    EXPECT_EQ(w->width(), 784);
    EXPECT_EQ(w->height(), 532);
    // Centred: the same room left and right, above and below.
    const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
    const QRect form = w->geometry();
    EXPECT_LE(std::abs((form.left() - screen.left()) - (screen.right() - form.right())), 1);
    EXPECT_LE(std::abs((form.top() - screen.top()) - (screen.bottom() - form.bottom())), 1);
}

TEST_F(WindowTest, StartStopStateTable) {
    auto w = Make();
    w->ConnectFromCommandLine(2, 15, 7, false);
    ASSERT_TRUE(w->CurrentConnection());
    EXPECT_EQ(w->Controls().BDevices->text().toStdString(),
              std::string(DeviceTypeNames[dtQZ2C]) + " № 15");
    EXPECT_EQ(Main.Created, 0); // selected, not started
    EXPECT_TRUE(w->Controls().BDevices->isEnabled());
    EXPECT_FALSE(w->Controls().buSaveData->isEnabled());

    w->Controls().BStart->click(); // Idle -> Polling
    EXPECT_EQ(Main.Created, 1);
    EXPECT_EQ(Main.Started, 1);
    EXPECT_EQ(w->Controls().BStart->text().toStdString(), "Стоп");
    EXPECT_FALSE(w->Controls().BDevices->isEnabled());
    EXPECT_TRUE(w->Controls().buSaveData->isEnabled());
    EXPECT_TRUE(w->Controls().ChkViewSinus->isEnabled());

    w->Controls().BStart->click(); // Polling -> Stopping
    EXPECT_EQ(Main.Stopped, 1);
    EXPECT_EQ(w->Controls().BStart->text().toStdString(), "Стоп");
    EXPECT_FALSE(w->Controls().ChkViewSinus->isEnabled());
    EXPECT_TRUE(w->MainStopping());

    w->Controls().BStart->click(); // before the end arrives: another stop request, no new thread
    EXPECT_EQ(Main.Stopped, 2);
    EXPECT_EQ(Main.Created, 1);

    Main.Listener->OnExchangeEnd(0, 0); // Stopping -> Idle, silently
    EXPECT_TRUE(Messages.empty());
    EXPECT_EQ(w->Controls().BStart->text().toStdString(), "Старт");
    EXPECT_TRUE(w->Controls().BDevices->isEnabled());
    EXPECT_FALSE(w->Controls().buSaveData->isEnabled());
    EXPECT_TRUE(w->Controls().ChkViewSinus->isEnabled());
    QCoreApplication::processEvents(); // the ended thread is joined after its call
    EXPECT_EQ(Main.Joined, 1);

    w->Controls().BStart->click(); // a new start after the end
    EXPECT_EQ(Main.Created, 2);
}

TEST_F(WindowTest, ExchangeEndMessages) {
    auto w = Make();
    w->ConnectFromCommandLine(0, 1, 3, true); // "/start": polling at once
    ASSERT_EQ(Main.Created, 1);
    Main.Listener->OnExchangeEnd(205, 0);
    ASSERT_EQ(Messages.size(), 1u);
    EXPECT_EQ(Messages[0].Caption, "Ошибка");
    EXPECT_EQ(Messages[0].Icon, TmonMessageIcon::Error);
    EXPECT_EQ(Messages[0].Text, "Ошибка обмена с измерителем:\r\n\r\nНет ответа");
    EXPECT_EQ(w->Controls().BStart->text().toStdString(), "Старт");

    w->Controls().BStart->click();
    Main.Listener->OnExchangeEnd(0, 0x10003); // the meter's status, low 16 bits
    ASSERT_EQ(Messages.size(), 2u);
    EXPECT_EQ(Messages[1].Text, "Ошибка обмена с измерителем:\r\n\r\n" + DeviceStatusText(3));

    w->Controls().BStart->click();
    Main.Listener->OnSignalEnd(0, 7);
    ASSERT_EQ(Messages.size(), 3u);
    EXPECT_EQ(Messages[2].Caption, "Внимание");
    EXPECT_EQ(Messages[2].Text, "Данный измеритель не предоставляет формы сигналов");
    Main.Listener->OnSignalEnd(5, 0); // other endings are silent
    EXPECT_EQ(Messages.size(), 3u);
}

TEST_F(WindowTest, APortThatDoesNotOpenNamesItsDevice) {
    auto w = Make();
    w->ConnectFromCommandLine(0, 1, 90, true); // COM90: /dev/ttyACM25, absent here
    ASSERT_TRUE(Main.Listener);
    Main.Listener->OnExchangeEnd(203, 0);
    ASSERT_EQ(Messages.size(), 1u);
    EXPECT_EQ(Messages[0].Text, std::string("Ошибка обмена с измерителем:\r\n\r\nНет ответа") +
                                    "\r\n\r\nУстройство /dev/ttyACM25 не найдено.");
    // Another failure keeps the code's text alone.
    w->Controls().BStart->click();
    Main.Listener->OnExchangeEnd(202, 0);
    ASSERT_EQ(Messages.size(), 2u);
    EXPECT_EQ(Messages[1].Text, "Ошибка обмена с измерителем:\r\n\r\nНет ответа");
}

TEST_F(WindowTest, RecordFillsLabelsCaptionAndGrid) {
    auto w = Make();
    w->ConnectFromCommandLine(1, 77, 1, true); // QZ2M: with the neutral
    ASSERT_TRUE(Main.Listener);
    EXPECT_TRUE(w->Controls().L_U[3]->isEnabled());
    EXPECT_EQ(w->Controls().ComboBox1->count(), 8);
    EXPECT_EQ(w->Controls().ComboBox1->itemText(6).toStdString(), "Фаза N");
    w->SharedStorage().Update([](TmonStorage& s) {
        s.Settings.NominalPhaseVoltage = 57.735f;
        s.Settings.NominalLineVoltage = 100;
        s.Settings.NominalCurrent = 5;
        s.Data3sec.Time = 46363.4167;
        s.Data3sec.U1[phA] = 57.9;
        s.Data3sec.U1[phN] = 2.25;
        s.Data3sec.P[pwB] = 1000;
        s.Data3sec.KUn_A[3] = 4.5;
    });
    Main.Listener->OnData3sec();
    EXPECT_EQ(w->windowTitle().toStdString(),
              w->BaseCaption().toStdString() + "    (Время данных: 07.12.2026 10:00:03)");
    EXPECT_EQ(w->Controls().Label48->text().toStdString(), "57.74/100.00 В");
    EXPECT_EQ(w->Controls().L_I_nom->text().toStdString(), "5.0000 А");
    EXPECT_EQ(w->Controls().L_U[0]->text().toStdString(), "57.900 В");
    EXPECT_EQ(w->Controls().L_U[3]->text().toStdString(), "2.2500 В");
    EXPECT_EQ(w->Controls().L_P_hdr[0]->text().toStdString(), "P, кВт");
    EXPECT_EQ(w->Controls().L_PQS[0][pwB]->text().toStdString(), "1.000");
    EXPECT_EQ(w->Controls().StringGrid1->columnCount(), 4); // KUa..KUn
    EXPECT_EQ(w->Controls().StringGrid1->item(3, 0)->text().toStdString(), "4.50");
    EXPECT_TRUE(w->ShownStorage().Settings.HasNeutral);

    w->Controls().RB_first->click(); // first-harmonic powers: all zero, watts
    EXPECT_EQ(w->Controls().L_P_hdr[0]->text().toStdString(), "P, Вт");
    w->Controls().Combo_U->setCurrentIndex(2);
    EXPECT_EQ(w->Controls().L_U[0]->text().toStdString(), "0.00 %");

    // The spectrum shows the bars of the record: harmonic 5 of phase A is yellow.
    const QImage& img = w->SpectrumImage();
    const int x = SpectrumBarX(11, 5);
    EXPECT_EQ(img.pixelColor(x, kmonSpectrumHeight - 2), QColor(0xFF, 0xFF, 0x00));
    EXPECT_EQ(img.pixelColor(SpectrumBarX(11, 6), kmonSpectrumHeight - 2),
              QColor(0x6A, 0x6A, 0x6A));
}

TEST_F(WindowTest, NeutralLabelsStayWithoutNeutral) {
    auto w = Make();
    w->ConnectFromCommandLine(0, 5, 1, true); // QZ2: no neutral
    EXPECT_FALSE(w->Controls().L_U[3]->isEnabled());
    EXPECT_FALSE(w->Controls().L_Blue->isVisibleTo(w.get()));
    EXPECT_EQ(w->Controls().ComboBox1->count(), 7);
    w->Controls().L_U[3]->setText("old");
    w->SharedStorage().Update([](TmonStorage& s) { s.Data3sec.U1[phN] = 5; });
    Main.Listener->OnData3sec();
    EXPECT_EQ(w->Controls().L_U[3]->text().toStdString(), "old");
    EXPECT_EQ(w->Controls().L_U[0]->text().toStdString(), "0.0000 В");
}

TEST_F(WindowTest, SpectrumLevelsLimitsAndClicks) {
    auto w = Make();
    // Selection 0 starts at level 1: "+" changes and writes nothing.
    ASSERT_EQ(w->SpectrumLevel(), 1);
    const std::string before = w->Settings().GetText();
    w->Controls().BInc->click();
    EXPECT_EQ(w->SpectrumLevel(), 1);
    EXPECT_EQ(w->Settings().GetText(), before);
    w->Controls().BDec->click();
    EXPECT_EQ(w->SpectrumLevel(), 2);
    EXPECT_EQ(w->Settings().ReadLevel(0), 2);

    w->Settings().WriteLevel(2, 299);
    w->Controls().ComboBox2->setCurrentIndex(2);
    EXPECT_EQ(w->SpectrumLevel(), 299);
    const std::string at299 = w->Settings().GetText();
    w->Controls().BDec->click();
    EXPECT_EQ(w->SpectrumLevel(), 299);
    EXPECT_EQ(w->Settings().GetText(), at299);

    w->Controls().ScrollBar1->setValue(250);
    EXPECT_EQ(w->Settings().ReadPos(2), -50);
    EXPECT_EQ(w->SpectrumScale().Offset, 50);

    // Clicks on the bars pick the grid row of the harmonic; beside them nothing moves.
    w->Image1MouseDown(SpectrumBarX(11, 7) + 3);
    EXPECT_EQ(w->Controls().StringGrid1->currentRow(), 5);
    w->Image1MouseDown(2);
    EXPECT_EQ(w->Controls().StringGrid1->currentRow(), 5);
    w->Image1MouseDown(445);
    EXPECT_EQ(w->Controls().StringGrid1->currentRow(), 5);
}

TEST_F(WindowTest, DamagedLevelsAreClamped) {
    {
        TmonIniFile ini(kMonitorProductName, ExeName());
        ini.WriteLevel(0, 0);
        ini.WritePos(0, 999);
        ini.WriteLevel(1, 5000);
        ini.WritePos(1, -4000);
        ASSERT_TRUE(ini.UpdateFile());
    }
    auto w = Make();
    EXPECT_EQ(w->SpectrumLevel(), 1);
    EXPECT_EQ(w->Controls().ScrollBar1->value(), 300);
    w->Controls().ComboBox2->setCurrentIndex(1);
    EXPECT_EQ(w->SpectrumLevel(), 299);
    EXPECT_EQ(w->Controls().ScrollBar1->value(), 0);
    EXPECT_TRUE(std::isfinite(w->SpectrumScale().PixelsPerUnit));
}

TEST_F(WindowTest, DialogChoiceIsSavedAtOnce) {
    int32_t addedID = -1;
    auto w = Make([&addedID](TmonFormOptions& o) {
        o.ConnectionDialog = [&addedID](QWidget*, TccnConnectionList& list,
                                        const TccnConnectionListUIOptions& options,
                                        int32_t& selected) {
            EXPECT_EQ(options.DeviceTypeOptions().Count(), 6u);
            auto c = MakeCommandLineConnection(3, 42, 2);
            list.AddConnection(*c);
            addedID = c->ConID;
            selected = c->ConID;
            return true;
        };
    });
    w->Controls().BDevices->click();
    ASSERT_TRUE(w->CurrentConnection());
    EXPECT_EQ(w->CurrentConnection()->CustomDevice()->FactoryNum(), 42);
    // On disk already, before the window closes.
    TmonIniFile disk(kMonitorProductName, ExeName());
    EXPECT_EQ(disk.ReadSelectedID(), addedID);
    TccnConnectionList list;
    EXPECT_TRUE(disk.LoadConnections(list));
    EXPECT_EQ(list.Count(), 1u);
    w.reset();
    // A new window selects the stored connection.
    auto again = Make();
    ASSERT_TRUE(again->CurrentConnection());
    EXPECT_EQ(again->CurrentConnection()->CustomDevice()->FactoryNum(), 42);
}

TEST_F(WindowTest, CancelledDialogKeepsSelectionButStoresList) {
    auto w = Make([](TmonFormOptions& o) {
        o.ConnectionDialog = [](QWidget*, TccnConnectionList& list,
                                const TccnConnectionListUIOptions&, int32_t&) {
            auto c = MakeCommandLineConnection(0, 9, 2);
            list.AddConnection(*c);
            return false;
        };
    });
    w->Controls().BDevices->click();
    EXPECT_FALSE(w->CurrentConnection());
    TmonIniFile disk(kMonitorProductName, ExeName());
    TccnConnectionList list;
    EXPECT_TRUE(disk.LoadConnections(list));
    EXPECT_EQ(list.Count(), 1u);
    EXPECT_EQ(disk.ReadSelectedID(), -1);
}

TEST_F(WindowTest, DeletingTheCurrentConnectionInACancelledDialogLeavesNoneSelected) {
    bool remove = false;
    auto w = Make([&remove](TmonFormOptions& o) {
        o.ConnectionDialog = [&remove](QWidget*, TccnConnectionList& list,
                                       const TccnConnectionListUIOptions&, int32_t& selected) {
            if (!remove) { // first use: add one and choose it
                auto c = MakeCommandLineConnection(1, 77, 3);
                list.AddConnection(*c);
                selected = c->ConID;
                return true;
            }
            list.DeleteConnection(selected); // second use: delete it and close
            return false;
        };
    });
    w->Controls().BDevices->click();
    ASSERT_TRUE(w->CurrentConnection());
    EXPECT_EQ(w->CurrentConnection()->CustomDevice()->FactoryNum(), 77);
    remove = true;
    w->Controls().BDevices->click();
    EXPECT_FALSE(w->CurrentConnection()); // not a pointer into the freed item
    w->Controls().BStart->click();        // and Start has nothing to start
    EXPECT_FALSE(w->Running());
}

// The stored value, found in the file as it is on disk.
std::string StoredListLine(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::string line;
    while (std::getline(in, line))
        if (line.rfind("\xD1\xEF\xE8\xF1\xEE\xEA=", 0) == 0) return line; // "Список=" in 1251
    return {};
}

TEST_F(WindowTest, ADamagedListIsKeptUntilTheOperatorSavesOne) {
    int uses = 0;
    auto dialog = [&uses](QWidget*, TccnConnectionList& list, const TccnConnectionListUIOptions&,
                          int32_t&) {
        if (++uses == 2) { // first use: look and cancel; second: add one
            auto c = MakeCommandLineConnection(0, 5, 2);
            list.AddConnection(*c);
        }
        return false;
    };
    // Each kind of damage: non-hex digits, a torn stream.
    for (const std::string value : {"5450463ZZ0", "54504630FF"}) {
        uses = 0;
        Messages.clear();
        std::filesystem::remove_all(std::filesystem::path(IniPath()).parent_path());
        {
            TmonIniFile ini(kMonitorProductName, ExeName());
            ini.WriteString(kConnectionsSection, kConnectionListKey, value);
            ini.WriteLevel(0, 5);
            ASSERT_TRUE(ini.UpdateFile());
        }
        const std::string stored = StoredListLine(IniPath());
        ASSERT_FALSE(stored.empty());
        auto w = Make([&](TmonFormOptions& o) { o.ConnectionDialog = dialog; });
        EXPECT_TRUE(Messages.empty()); // told once the window runs
        QCoreApplication::processEvents();
        ASSERT_EQ(Messages.size(), 1u) << value;
        EXPECT_EQ(Messages[0].Caption, "Внимание");
        EXPECT_EQ(Messages[0].Icon, TmonMessageIcon::Warning);
        EXPECT_NE(Messages[0].Text.find(IniPath()), std::string::npos) << Messages[0].Text;
        EXPECT_NE(Messages[0].Text.find(w->ListBackupFile()), std::string::npos);
        EXPECT_NE(Messages[0].Text.find(value.find('Z') != std::string::npos ? "шестнадцатеричной"
                                                                             : "Неверный формат"),
                  std::string::npos)
            << Messages[0].Text;
        EXPECT_EQ(w->ListBackupFile().rfind(IniPath() + ".", 0), 0u);
        EXPECT_TRUE(w->StoredListKept());

        // Other settings change and reach the disk; the list does not.
        w->Controls().BInc->click();
        w->Controls().BDevices->click(); // a look without a change
        EXPECT_EQ(StoredListLine(IniPath()), stored);
        EXPECT_FALSE(std::filesystem::exists(w->ListBackupFile()));
        const std::string backup = w->ListBackupFile();
        w.reset();
        EXPECT_EQ(StoredListLine(IniPath()), stored) << value;
        EXPECT_FALSE(std::filesystem::exists(backup));

        // A second start tells again; the operator's own list replaces the value, after a copy.
        Messages.clear();
        w = Make([&](TmonFormOptions& o) { o.ConnectionDialog = dialog; });
        QCoreApplication::processEvents();
        EXPECT_EQ(Messages.size(), 1u);
        w->Controls().BDevices->click();
        EXPECT_FALSE(w->StoredListKept());
        ASSERT_TRUE(std::filesystem::exists(w->ListBackupFile()));
        EXPECT_EQ(StoredListLine(w->ListBackupFile()), stored);
        TmonIniFile disk(kMonitorProductName, ExeName());
        TccnConnectionList list;
        EXPECT_TRUE(disk.LoadConnections(list));
        EXPECT_EQ(list.Count(), 1u);
        w.reset();
    }
}

TEST_F(WindowTest, AListThatCannotBeCopiedAsideIsNotReplaced) {
    {
        TmonIniFile ini(kMonitorProductName, ExeName());
        ini.WriteString(kConnectionsSection, kConnectionListKey, "NOTHEX");
        ASSERT_TRUE(ini.UpdateFile());
    }
    auto w = Make([](TmonFormOptions& o) {
        o.ConnectionDialog = [](QWidget*, TccnConnectionList& list,
                                const TccnConnectionListUIOptions&, int32_t&) {
            auto c = MakeCommandLineConnection(0, 5, 2);
            list.AddConnection(*c);
            return false;
        };
    });
    QCoreApplication::processEvents();
    // The backup's name is taken by a folder: the copy fails.
    std::filesystem::create_directories(w->ListBackupFile());
    Messages.clear();
    w->Controls().BDevices->click();
    ASSERT_EQ(Messages.size(), 1u);
    EXPECT_EQ(Messages[0].Caption, "Ошибка");
    EXPECT_NE(Messages[0].Text.find(w->ListBackupFile()), std::string::npos);
    EXPECT_TRUE(w->StoredListKept());
    w.reset();
    EXPECT_EQ(StoredListLine(IniPath()), "\xD1\xEF\xE8\xF1\xEE\xEA=NOTHEX");
}

TEST_F(WindowTest, SaveWritesCsvOnlyWhileRunning) {
    auto w = Make();
    w->ConnectFromCommandLine(0, 1234, 1, false);
    w->SaveMeasurements();
    EXPECT_TRUE(w->LastSavedFile().empty());
    w->Controls().BStart->click();
    w->SaveMeasurements();
    ASSERT_FALSE(w->LastSavedFile().empty());
    EXPECT_TRUE(std::filesystem::exists(w->LastSavedFile()));
    EXPECT_NE(w->LastSavedFile().find("3sec_1234_"), std::string::npos);
}

struct FakeWaveform : ImonWaveformView {
    explicit FakeWaveform(int* blocks) : Blocks(blocks) {}
    TSigExperiment* Experiment() const override { return nullptr; }
    double CurrentFactor() const override { return 2; }
    double VoltageFactor() const override { return 3; }
    void OnSignalData(const TmonStorage&, uint8_t, uint8_t) override { ++*Blocks; }
    int* Blocks;
};

TEST_F(WindowTest, TheWaveformWindowAsksWhetherTheCurrentMeterIsAnAModel) {
    int blocks = 0;
    std::function<bool()> modelIsA;
    auto w = Make([&](TmonFormOptions& o) {
        o.WaveformFactory = [&](QWidget*, bool, std::function<bool()> isA) {
            modelIsA = std::move(isA);
            return std::unique_ptr<ImonWaveformView>(new FakeWaveform(&blocks));
        };
    });
    w->ConnectFromCommandLine(3, 9, 1, false); // "qz2a": the voltage factor of the (A) models
    w->Controls().ChkViewSinus->setChecked(true);
    ASSERT_TRUE(modelIsA);
    EXPECT_TRUE(modelIsA());
    // Another meter from the command line keeps the window: it is asked anew each time.
    w->ConnectFromCommandLine(1, 10, 1, false);
    EXPECT_FALSE(modelIsA());
}

TEST_F(WindowTest, SignalBoxRunsTheWaveformThreadBesidePolling) {
    FakeThread::Log signal;
    int windows = 0, blocks = 0;
    auto w = Make([&](TmonFormOptions& o) {
        o.Exchange.MakeSignal = [&signal](IExchangeListener* l, const TccnConnection*,
                                          TmonSharedStorage*, TSigExperiment*) {
            ++signal.Created;
            signal.Listener = l;
            return std::unique_ptr<ImonExchange>(new FakeThread(&signal));
        };
        o.WaveformFactory = [&](QWidget*, bool, std::function<bool()>) {
            ++windows;
            return std::unique_ptr<ImonWaveformView>(new FakeWaveform(&blocks));
        };
    });
    w->ConnectFromCommandLine(1, 8, 1, false);
    w->Controls().ChkViewSinus->setChecked(true); // idle: the window only
    EXPECT_EQ(windows, 1);
    EXPECT_EQ(signal.Created, 0);
    w->Controls().BStart->click(); // Start rebuilds the waveform window and starts both threads
    EXPECT_EQ(Main.Created, 1);
    EXPECT_EQ(signal.Created, 1);
    EXPECT_EQ(windows, 2);
    signal.Listener->OnSignalData(255, 2);
    EXPECT_EQ(blocks, 1);

    // An exchange error stops the waveform thread too.
    Main.Listener->OnExchangeEnd(250, 0);
    EXPECT_EQ(signal.Stopped, 1);
    EXPECT_FALSE(w->Controls().ChkViewSinus->isEnabled()); // its stop is pending
    EXPECT_EQ(w->Controls().BStart->text().toStdString(), "Стоп");
    signal.Listener->OnSignalEnd(0, 0);
    EXPECT_EQ(w->Controls().BStart->text().toStdString(), "Старт");
    EXPECT_TRUE(w->Controls().ChkViewSinus->isEnabled());
    ASSERT_EQ(Messages.size(), 1u);
}

// A polling thread on a silent meter: it ends only some passes of the closing loop after
// its Stop, as a thread would that waits for its running request.
struct SlowThread : ImonExchange {
    struct Log {
        int Created = 0, Stopped = 0, FinishedChecks = 0;
    };
    explicit SlowThread(Log* log) : L(log) {}
    void Start() override {}
    void Stop() override { ++L->Stopped; }
    bool Finished() const override { return L->Stopped > 0 && ++L->FinishedChecks > 20; }
    void Join() override {}
    std::string GetErrorText() const override { return {}; }
    Log* L;
};

TEST_F(WindowTest, NothingStartsWhileTheWindowCloses) {
    SlowThread::Log main, signal;
    int windows = 0, blocks = 0;
    auto w = Make([&](TmonFormOptions& o) {
        o.Exchange.MakeMain = [&main](IExchangeListener*, const TccnConnection*,
                                      TmonSharedStorage*) {
            ++main.Created;
            return std::unique_ptr<ImonExchange>(new SlowThread(&main));
        };
        o.Exchange.MakeSignal = [&signal](IExchangeListener*, const TccnConnection*,
                                          TmonSharedStorage*, TSigExperiment*) {
            ++signal.Created;
            return std::unique_ptr<ImonExchange>(new SlowThread(&signal));
        };
        o.WaveformFactory = [&](QWidget*, bool, std::function<bool()>) {
            ++windows;
            return std::unique_ptr<ImonWaveformView>(new FakeWaveform(&blocks));
        };
    });
    w->ConnectFromCommandLine(1, 8, 1, true);
    ASSERT_EQ(main.Created, 1);
    ASSERT_TRUE(w->Controls().ChkViewSinus->isEnabled());
    bool seenDuringClose = false;
    QTimer::singleShot(0, w.get(), [&] {
        seenDuringClose = true;
        EXPECT_FALSE(w->Controls().BStart->isEnabled());
        EXPECT_FALSE(w->Controls().ChkViewSinus->isEnabled());
        EXPECT_FALSE(w->Controls().BDevices->isEnabled());
        // Ticked anyway (a click that was already on its way), and Start pressed.
        w->Controls().ChkViewSinus->setChecked(true);
        w->BStartClick();
        w->BDevicesClick();
    });
    w->close();
    EXPECT_TRUE(seenDuringClose);
    EXPECT_EQ(main.Stopped, 1);
    EXPECT_EQ(signal.Created, 0);
    EXPECT_EQ(main.Created, 1);
    EXPECT_EQ(windows, 0);
    EXPECT_FALSE(w->Running());
}

TEST_F(WindowTest, KeysMoveTheSpectrum) {
    auto w = Make();
    ASSERT_EQ(w->Controls().ScrollBar1->value(), 300);
    QKeyEvent up(QEvent::KeyPress, Qt::Key_Up, Qt::NoModifier);
    QApplication::sendEvent(w.get(), &up);
    EXPECT_EQ(w->Controls().ScrollBar1->value(), 299);
    EXPECT_EQ(w->Settings().ReadPos(0), -1);
    QKeyEvent minus(QEvent::KeyPress, Qt::Key_Minus, Qt::KeypadModifier);
    QApplication::sendEvent(w.get(), &minus);
    EXPECT_EQ(w->SpectrumLevel(), 2);
    QKeyEvent plus(QEvent::KeyPress, Qt::Key_Plus, Qt::KeypadModifier);
    QApplication::sendEvent(w.get(), &plus);
    EXPECT_EQ(w->SpectrumLevel(), 1);
    QKeyEvent plainMinus(QEvent::KeyPress, Qt::Key_Minus, Qt::NoModifier);
    QApplication::sendEvent(w.get(), &plainMinus); // only the numeric pad's
    EXPECT_EQ(w->SpectrumLevel(), 1);

    w->ConnectFromCommandLine(0, 55, 1, true);
    QKeyEvent f2(QEvent::KeyRelease, Qt::Key_F2, Qt::NoModifier);
    QApplication::sendEvent(w.get(), &f2);
    EXPECT_NE(w->LastSavedFile().find("3sec_55_"), std::string::npos);
}

// --- "Тренды" ---

// A record with the given time and phase A voltage, shown by the window.
void ShowRecord(TForm1& w, IExchangeListener* l, TDateTime time, double ua) {
    w.SharedStorage().Update([&](TmonStorage& s) {
        s.Data3sec.Time = time;
        s.Data3sec.U[phA] = ua;
    });
    l->OnData3sec();
}

TEST_F(WindowTest, TrendsButtonSitsClearOfTheOtherControls) {
    auto w = Make();
    const QRect button = w->Controls().BTrends->geometry();
    EXPECT_TRUE(QRect(QPoint(), w->Controls().GroupBox1->size()).contains(button));
    for (QObject* o : w->Controls().GroupBox1->children()) {
        auto* other = qobject_cast<QWidget*>(o);
        if (other && other != w->Controls().BTrends) {
            EXPECT_FALSE(other->geometry().intersects(button)) << other->objectName().toStdString();
        }
    }
    // "Запись" gave up room for the button: its caption must still fit in the window's font.
    EXPECT_LE(w->Controls().ChkRecord->sizeHint().width(), w->Controls().ChkRecord->width());
    EXPECT_EQ(w->Controls().ChkRecord->pos(), QPoint(330, 18));
    EXPECT_EQ(w->Controls().BTrends->accessibleName().toStdString(), "Тренды");
}

TEST_F(WindowTest, TheButtonTheKeyAndTheMenuOpenOneTrendsWindow) {
    auto w = Make();
    EXPECT_FALSE(w->TrendsWindow());
    w->show();
    w->Controls().BTrends->click();
    TmonTrendsWindow* t = w->TrendsWindow();
    ASSERT_TRUE(t);
    EXPECT_TRUE(t->isVisible());
    EXPECT_EQ(t->parentWidget(), w.get());
    // A tool window of the main window: the boxes still open above it.
    EXPECT_EQ(t->windowFlags() & Qt::WindowType_Mask, Qt::Tool);
    t->close();
    EXPECT_FALSE(t->isVisible());

    QKeyEvent f4(QEvent::KeyRelease, Qt::Key_F4, Qt::NoModifier);
    QApplication::sendEvent(w.get(), &f4);
    EXPECT_EQ(w->TrendsWindow(), t); // raised again, not a second one
    EXPECT_TRUE(t->isVisible());
    t->close();
    QKeyEvent altF4(QEvent::KeyRelease, Qt::Key_F4, Qt::AltModifier);
    QApplication::sendEvent(w.get(), &altF4); // the desktop's close, not ours
    EXPECT_FALSE(t->isVisible());

    QContextMenuEvent menu(QContextMenuEvent::Mouse, QPoint(600, 20),
                           w->mapToGlobal(QPoint(600, 20)));
    QApplication::sendEvent(w.get(), &menu);
    QMenu* m = w->ContextMenu();
    ASSERT_TRUE(m);
    EXPECT_TRUE(m->isVisible());
    QAction* entry = nullptr;
    for (QAction* a : m->actions())
        if (a->text().toStdString() == "Тренды") entry = a;
    ASSERT_TRUE(entry);
    entry->trigger();
    m->hide();
    EXPECT_EQ(w->TrendsWindow(), t);
    EXPECT_TRUE(t->isVisible());
}

TEST_F(WindowTest, RecordsShownReachTheTrends) {
    auto w = Make();
    w->ConnectFromCommandLine(1, 77, 1, true);
    ASSERT_TRUE(Main.Listener);
    const TDateTime t0 = 46363.5;
    const TDateTime step = 3.0 / 86400;
    ShowRecord(*w, Main.Listener, t0, 230.5); // before the window is opened
    w->ShowTrends();
    TmonTrendsWindow* t = w->TrendsWindow();
    ASSERT_TRUE(t);
    ASSERT_EQ(t->SampleCount(), 1u);
    ShowRecord(*w, Main.Listener, t0 + step, 231.25);
    ShowRecord(*w, Main.Listener, t0 + step, 231.25); // shown again: still one point
    ASSERT_EQ(w->TrendSource().Count(), 2u);
    ASSERT_EQ(t->SampleCount(), 2u);
    EXPECT_DOUBLE_EQ(t->Samples()[1].Time, t0 + step);
    EXPECT_FLOAT_EQ(t->Samples()[1].Value[tqUA], 231.25f);
    EXPECT_NE(t->ReadoutAt(t0 + step).find("231"), std::string::npos) << t->ReadoutAt(t0 + step);
    EXPECT_NE(t->windowTitle().toStdString().find("№ 77"), std::string::npos);

    // Stop and Start of the same meter: one trend goes on.
    w->Controls().BStart->click();
    Main.Listener->OnExchangeEnd(0, 0);
    w->Controls().BStart->click();
    ShowRecord(*w, Main.Listener, t0 + 10 * step, 229);
    EXPECT_EQ(t->SampleCount(), 3u);

    // Another meter: its trend starts afresh, the old meter's points are gone.
    w->Controls().BStart->click();
    Main.Listener->OnExchangeEnd(0, 0);
    QCoreApplication::processEvents();
    w->ConnectFromCommandLine(0, 5, 1, true);
    ASSERT_EQ(Main.Created, 3);
    EXPECT_EQ(w->TrendsWindow(), t);
    EXPECT_EQ(t->SampleCount(), 0u);
    ShowRecord(*w, Main.Listener, t0 + 20 * step, 100);
    ASSERT_EQ(t->SampleCount(), 1u);
    EXPECT_FLOAT_EQ(t->Samples()[0].Value[tqUA], 100.f);
    EXPECT_EQ(w->TrendSource().Count(), 1u);
    EXPECT_NE(t->windowTitle().toStdString().find("№ 5"), std::string::npos);
}

// A journal file as the journal opener gives it: closed, recorded from a 57.7 V meter.
class TRecordedFile : public TmonTrendMemorySource {
public:
    TRecordedFile() : TmonTrendMemorySource("old.db", false) {
        TTrendSample s;
        s.Time = 46000.5;
        s.Value[tqUA] = 57.5f;
        Append(s);
    }
    bool SettingsInForce(TmonSettings& out) const override {
        out = TmonSettings();
        out.NominalPhaseVoltage = 57.7f;
        out.PhaseVoltageLimits[0] = 10;
        return true;
    }
};
std::unique_ptr<ITrendSource> OpenRecordedFile(const std::string&, std::string&,
                                               TTrendLoadProgress*) {
    return std::make_unique<TRecordedFile>();
}

TEST_F(WindowTest, AJournalOpenedInTheTrendsWindowKeepsItsLimitsWhileThePollGoesOn) {
    auto w = Make([](TmonFormOptions& o) { o.TrendOpener = &OpenRecordedFile; });
    w->ConnectFromCommandLine(1, 77, 1, true);
    ASSERT_TRUE(Main.Listener);
    ShowRecord(*w, Main.Listener, 46363.5, 230.5);
    w->ShowTrends();
    TmonTrendsWindow* t = w->TrendsWindow();
    ASSERT_TRUE(t);
    t->OpenFile("/records/old.db");
    test::WaitUntil([&] { return !t->Opening(); }, 10000);
    ASSERT_FALSE(t->Opening());
    ASSERT_EQ(t->SampleCount(), 1u);
    EXPECT_FLOAT_EQ(t->Settings().NominalPhaseVoltage, 57.7f);

    // New records of the polled meter go on into its own trend; the file keeps its limits.
    ShowRecord(*w, Main.Listener, 46363.5 + 3.0 / 86400, 231);
    EXPECT_EQ(w->TrendSource().Count(), 2u);
    EXPECT_EQ(t->SampleCount(), 1u);
    EXPECT_FLOAT_EQ(t->Settings().NominalPhaseVoltage, 57.7f);
    EXPECT_TRUE(t->windowTitle().endsWith(QString::fromUtf8("old.db")));
}

TEST_F(WindowTest, ClosingWithTheTrendsWindowOpenEndsCleanly) {
    auto w = Make();
    w->show();
    w->ConnectFromCommandLine(1, 78, 1, true);
    ASSERT_TRUE(Main.Listener);
    ShowRecord(*w, Main.Listener, 46363.5, 230);
    w->Controls().BTrends->click();
    ASSERT_TRUE(w->TrendsWindow());
    EXPECT_TRUE(w->close());
    EXPECT_FALSE(w->TrendsWindow()); // gone before the samples it read
    EXPECT_EQ(Main.Stopped, 1);
    w->Controls().BTrends->click(); // nothing opens on a closing window
    EXPECT_FALSE(w->TrendsWindow());
    QCoreApplication::processEvents();
    w.reset();

    // Destroyed without a close, the trends window open.
    auto other = Make();
    other->ShowTrends();
    ASSERT_TRUE(other->TrendsWindow());
    other.reset();
}

// Back from a journal file to the poll: by F4 (or the button) while a poll runs, and by the
// trends window's own "Текущий опрос".
TEST_F(WindowTest, TheTrendsWindowComesBackToTheLivePoll) {
    auto w = Make([](TmonFormOptions& o) { o.TrendOpener = &OpenRecordedFile; });
    w->ConnectFromCommandLine(1, 77, 1, true);
    ASSERT_TRUE(Main.Listener);
    ShowRecord(*w, Main.Listener, 46363.5, 230.5);
    w->ShowTrends();
    TmonTrendsWindow* t = w->TrendsWindow();
    ASSERT_TRUE(t);
    auto* live = t->findChild<QPushButton*>("live");
    ASSERT_TRUE(live);
    EXPECT_TRUE(t->ShowingLive());
    EXPECT_FALSE(live->isEnabled());
    auto openFile = [&] {
        t->OpenFile("/records/old.db");
        test::WaitUntil([&] { return !t->Opening(); }, 10000);
        ASSERT_TRUE(t->windowTitle().endsWith(QString::fromUtf8("old.db")));
        ASSERT_FALSE(t->ShowingLive());
        EXPECT_TRUE(live->isEnabled());
    };
    openFile();
    t->close();
    QKeyEvent f4(QEvent::KeyRelease, Qt::Key_F4, Qt::NoModifier);
    QApplication::sendEvent(w.get(), &f4); // the poll runs: its trend, not the file
    EXPECT_TRUE(t->ShowingLive());
    EXPECT_EQ(t->SampleCount(), 1u);
    EXPECT_FLOAT_EQ(t->Samples()[0].Value[tqUA], 230.5f);
    EXPECT_FLOAT_EQ(t->Settings().NominalPhaseVoltage,
                    w->ShownStorage().Settings.NominalPhaseVoltage);
    EXPECT_FALSE(live->isEnabled());

    openFile();
    live->click();
    EXPECT_TRUE(t->ShowingLive());
    ShowRecord(*w, Main.Listener, 46363.5 + 3.0 / 86400, 231);
    EXPECT_EQ(t->SampleCount(), 2u); // and it follows the poll again

    // No poll: F4 leaves a file shown.
    w->Controls().BStart->click();
    Main.Listener->OnExchangeEnd(0, 0);
    openFile();
    QApplication::sendEvent(w.get(), &f4);
    EXPECT_FALSE(t->ShowingLive());
}

TEST_F(WindowTest, TheTrendsQuantitiesAreKeptAcrossRuns) {
    {
        auto w = Make();
        w->ShowTrends();
        TmonTrendsWindow* t = w->TrendsWindow();
        t->SetChecked(tqUB, false);
        t->SetChecked(tqF, true);
        EXPECT_EQ(t->CheckedQuantities(), (std::vector<int>{tqF, tqUA, tqUC}));
    }
    auto w = Make();
    w->ConnectFromCommandLine(0, 5, 1, false); // no N channel: its quantities are not offered
    w->ShowTrends();
    TmonTrendsWindow* t = w->TrendsWindow();
    EXPECT_EQ(t->CheckedQuantities(), (std::vector<int>{tqF, tqUA, tqUC}));
    // A quantity of the N channel chosen earlier stays chosen while this meter hides it.
    t->SetChosenQuantities({tqUN, tqUA});
    t->SetChecked(tqF, true);
    bool found = false;
    EXPECT_EQ(w->Settings().ReadTrendQuantities(found), (std::vector<int>{tqF, tqUA, tqUN}));
}

} // namespace
} // namespace qz
