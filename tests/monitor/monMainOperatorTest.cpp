// What the operator meets at the main window beyond the measurements: the outcome of
// "Сохранить", one file for one F2, the question before a recording is closed, the status
// label's trace mark, and the choices the window keeps across runs.
#include "QtTestEnv.h"

#include "monitor/monMain.h"
#include "tests/support/MonitorForm.h"

#include <QAction>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>

namespace qz {
namespace {

struct Shown {
    std::string Caption, Text;
    TmonMessageIcon Icon;
};

// The boxes the operator would see; questions are answered with `Answer`.
class Operator : public ImonMessages {
public:
    void Show(const std::string& c, TmonMessageIcon i, const std::string& t) override {
        Boxes.push_back({c, t, i});
        if (OnShow) OnShow();
    }
    bool Ask(const std::string& c, const std::string& t) override {
        Questions.push_back({c, t, TmonMessageIcon::Information});
        return Answer;
    }
    std::vector<Shown> Boxes, Questions;
    bool Answer = false;
    std::function<void()> OnShow; // a real box takes the focus while it is open
};

// A polling thread that polls nothing: the tests drive the window, not the meter.
struct IdleThread : ImonExchange {
    void Start() override {}
    void Stop() override {}
    bool Finished() const override { return true; }
    void Join() override {}
    std::string GetErrorText() const override { return std::string(); }
};

class OperatorTest : public ::testing::Test {
protected:
    std::string Exe() const {
        return std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()) +
               ".ini";
    }
    std::string Docs() const {
        return test::QtEnvironment::Folder + "/" +
               ::testing::UnitTest::GetInstance()->current_test_info()->name();
    }
    std::unique_ptr<TForm1> Make() {
        TmonFormOptions o;
        o.Settings = std::make_unique<TmonIniFile>(kMonitorProductName, Exe());
        auto op = std::make_unique<Operator>();
        Op = op.get();
        o.Messages = std::move(op);
        o.Exchange.MakeMain = [this](IExchangeListener* l, const TccnConnection*,
                                     TmonSharedStorage*) {
            Listener = l;
            return std::unique_ptr<ImonExchange>(new IdleThread());
        };
        o.Format = test::FixedFormat("08.12.2026 10:00:03");
        o.DocumentsFolder = Docs();
        return std::make_unique<TForm1>(std::move(o));
    }
    static std::string Text(const QLabel* l) { return l->text().toStdString(); }

    Operator* Op = nullptr;
    IExchangeListener* Listener = nullptr;
};

TEST_F(OperatorTest, SaveTellsTheFileOrWhyItWasNotWritten) {
    // A file where the documents folder should be: no folder can be made below it.
    std::filesystem::create_directories(test::QtEnvironment::Folder);
    std::ofstream(Docs()) << "x";
    auto w = Make();
    w->ConnectFromCommandLine(0, 1234, 1, true);
    w->Controls().buSaveData->click();
    ASSERT_EQ(Op->Boxes.size(), 1u);
    EXPECT_EQ(Op->Boxes[0].Caption, "Ошибка");
    EXPECT_EQ(Op->Boxes[0].Icon, TmonMessageIcon::Error);
    const std::string& text = Op->Boxes[0].Text;
    EXPECT_EQ(text.rfind("Не удалось сохранить " + Docs() + "/", 0), 0u) << text;
    EXPECT_NE(text.find("3sec_1234_"), std::string::npos) << text;
    const std::string reason = text.substr(text.find(":\r\n\r\n") + 5);
    // The reason in the operator's words, whatever messages the system has installed.
    EXPECT_NE(reason.find("часть пути — не папка"), std::string::npos) << text;
    EXPECT_EQ(Text(w->Controls().LProgress).rfind("Не удалось сохранить", 0), 0u);
    EXPECT_TRUE(w->LastSavedFile().empty());

    // The folder can be made again: saved, and the label names the file.
    std::filesystem::remove(Docs());
    w->Controls().buSaveData->click();
    ASSERT_EQ(Op->Boxes.size(), 1u);
    ASSERT_TRUE(std::filesystem::exists(w->LastSavedFile()));
    EXPECT_EQ(Text(w->Controls().LProgress),
              "Сохранено: " + std::filesystem::path(w->LastSavedFile()).filename().string());
}

// The key passes the focused control, then each parent up to the window: it is one press.
TEST_F(OperatorTest, OneF2SavesOnceWhereverTheFocusIs) {
    std::filesystem::create_directories(test::QtEnvironment::Folder);
    std::ofstream(Docs()) << "x"; // each save attempt shows one box: they are counted
    auto w = Make();
    w->show();
    w->activateWindow();
    QCoreApplication::processEvents();
    w->ConnectFromCommandLine(0, 55, 1, true);
    w->Controls().Combo_I->setFocus();
    QCoreApplication::processEvents();
    ASSERT_EQ(QApplication::focusWidget(), w->Controls().Combo_I);
    QKeyEvent press(QEvent::KeyPress, Qt::Key_F2, Qt::NoModifier);
    QKeyEvent release(QEvent::KeyRelease, Qt::Key_F2, Qt::NoModifier);
    QApplication::sendEvent(w->Controls().Combo_I, &press);
    QApplication::sendEvent(w->Controls().Combo_I, &release);
    EXPECT_EQ(Op->Boxes.size(), 1u);
    // The box took the focus from the control: the key, passed on to the parents, is not
    // taken again at the window.
    Op->OnShow = [] {
        if (QApplication::focusWidget()) QApplication::focusWidget()->clearFocus();
    };
    w->Controls().Combo_I->setFocus();
    QApplication::sendEvent(w->Controls().Combo_I, &release);
    EXPECT_EQ(Op->Boxes.size(), 2u);
    Op->OnShow = nullptr;
    w->Controls().Combo_I->setFocus();
    QKeyEvent repeat(QEvent::KeyRelease, Qt::Key_F2, Qt::NoModifier, QString(), true);
    QApplication::sendEvent(w->Controls().Combo_I, &repeat); // a held key's repeats: nothing
    EXPECT_EQ(Op->Boxes.size(), 2u);
    w->Controls().Combo_I->clearFocus();
    QApplication::sendEvent(w.get(), &release); // no control has the focus: the window's own
    EXPECT_EQ(Op->Boxes.size(), 3u);
}

TEST_F(OperatorTest, ClosingWhileRecordingAsksFirst) {
    auto w = Make();
    w->ConnectFromCommandLine(0, 7, 1, false);
    w->Controls().ChkRecord->setChecked(true);
    w->Controls().BStart->click();
    ASSERT_TRUE(w->Recording());
    const std::string journal = w->RecordingFile();

    Op->Answer = false; // "Нет": the window and the journal go on
    QCloseEvent no;
    QApplication::sendEvent(w.get(), &no);
    ASSERT_EQ(Op->Questions.size(), 1u);
    EXPECT_EQ(Op->Questions[0].Caption, "Внимание");
    EXPECT_EQ(Op->Questions[0].Text, "Идёт запись. Остановить запись и закрыть программу?");
    EXPECT_FALSE(no.isAccepted());
    EXPECT_TRUE(w->Recording());
    EXPECT_TRUE(w->Running());
    EXPECT_EQ(w->RecordingFile(), journal);

    Op->Answer = true; // "Да": the journal is closed with the window
    QCloseEvent yes;
    QApplication::sendEvent(w.get(), &yes);
    EXPECT_EQ(Op->Questions.size(), 2u);
    EXPECT_TRUE(yes.isAccepted());
    EXPECT_FALSE(w->Recording());

    // Without a recording nothing is asked.
    auto idle = Make();
    QCloseEvent plain;
    QApplication::sendEvent(idle.get(), &plain);
    EXPECT_TRUE(plain.isAccepted());
    EXPECT_TRUE(Op->Questions.empty());
}

TEST_F(OperatorTest, TheStatusLabelMarksATrace) {
    auto w = Make();
    w->ConnectFromCommandLine(0, 8, 1, true);
    w->Controls().TraceAction->trigger();
    ASSERT_TRUE(w->LineTracing());
    EXPECT_EQ(Text(w->Controls().LProgress).rfind(kmonTraceMark, 0), 0u);
    EXPECT_NE(w->Controls().LProgress->toolTip().toStdString().find(w->LineTraceFile()),
              std::string::npos);
    EXPECT_EQ(w->windowTitle(), w->BaseCaption()); // the caption stays as it is
    w->Controls().TraceAction->trigger();
    EXPECT_EQ(Text(w->Controls().LProgress).find(kmonTraceMark), std::string::npos);
}

TEST_F(OperatorTest, TheViewChoicesAreKeptAcrossRuns) {
    {
        auto w = Make();
        w->Controls().Combo_U->setCurrentIndex(2);
        w->Controls().Combo_I->setCurrentIndex(1);
        w->Controls().ChkViewSinus->setChecked(true);
    }
    auto w = Make();
    EXPECT_EQ(w->Controls().Combo_U->currentIndex(), 2);
    EXPECT_EQ(w->Controls().Combo_I->currentIndex(), 1);
    EXPECT_TRUE(w->Controls().ChkViewSinus->isChecked());
    w->ConnectFromCommandLine(0, 9, 1, false);
    EXPECT_EQ(Text(w->Controls().L_U[0]), "0.00 %"); // "Отклонение U(1)" shown from the start

    // A damaged or foreign value leaves the form's own choice.
    w->Settings().WriteInteger(kViewSection, kVoltageItemKey, 7);
    w->Settings().WriteString(kViewSection, kCurrentItemKey, "x");
    EXPECT_EQ(w->Settings().ReadViewItem(kVoltageItemKey, 3, 0), 0);
    EXPECT_EQ(w->Settings().ReadViewItem(kCurrentItemKey, 2, 1), 1);
    bool found = true;
    EXPECT_TRUE(w->Settings().ReadTrendQuantities(found).empty());
    EXPECT_FALSE(found);
    w->Settings().WriteTrendQuantities({3, 0, 12});
    w->Settings().WriteString(kTrendsSection, kTrendQuantitiesKey,
                              w->Settings().ReadString(kTrendsSection, kTrendQuantitiesKey, "") +
                                  ",x,-1,");
    EXPECT_EQ(w->Settings().ReadTrendQuantities(found), (std::vector<int>{3, 0, 12}));
    EXPECT_TRUE(found);
}

} // namespace
} // namespace qz
