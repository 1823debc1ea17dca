// "Запись" in the main window: the window's own exchange threads poll the simulated meter
// over loopback TCP and the journal is read back with the journal's reader.
#include "QtTestEnv.h"

#include "channel/LCAObject.h"
#include "journal/jnJournal.h"
#include "journal/jnMeterOf.h"
#include "monitor/monCommandLine.h"
#include "monitor/monMain.h"
#include "monitor/monRecording.h"
#include "simulator/MeterSimulator.h"
#include "tests/support/ChannelGuards.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/JournalRows.h"
#include "tests/support/MonitorForm.h"
#include "tests/support/TempDir.h"

#include <QAction>
#include <QCheckBox>
#include <QFontMetrics>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <fstream>
#include <set>
#include <sys/resource.h>
#include <sys/stat.h>

namespace qz {
namespace {

using test::WaitUntil;

struct TShown {
    std::string Caption;
    TmonMessageIcon Icon;
    std::string Text;
};

class Messages : public ImonMessages {
public:
    explicit Messages(std::vector<TShown>* shown) : FShown(shown) {}
    std::function<void()> OnShow;
    void Show(const std::string& caption, TmonMessageIcon icon, const std::string& t) override {
        FShown->push_back({caption, icon, t});
        if (OnShow) OnShow();
    }

private:
    std::vector<TShown>* FShown;
};

std::string Documents(const char* name) {
    return test::QtEnvironment::Folder + "/" + name;
}

TmonFormOptions Options(const char* exe, const char* documents, std::vector<TShown>* shown,
                        Messages** messages = nullptr) {
    TmonFormOptions o;
    o.Settings = std::make_unique<TmonIniFile>(kMonitorProductName, exe);
    auto m = std::make_unique<Messages>(shown);
    if (messages) *messages = m.get();
    o.Messages = std::move(m);
    o.Format = test::FixedFormat();
    o.Exchange = MakeRealExchangeFactory();
    o.DocumentsFolder = Documents(documents);
    return o;
}

struct TSim {
    TSim() {
        TSimOptions so;
        so.ModelIndex = 1;
        so.Address = 321;
        so.ListenPort = 0;
        Sim = std::make_unique<TMeterSimulator>(so);
        std::string error;
        EXPECT_TRUE(Sim->Start(&error)) << error;
    }
    ~TSim() { Sim->Stop(); }
    size_t RecordReads() const {
        size_t n = 0;
        for (const TSimRequest& r : Sim->RequestLog())
            n += r.Cmd == 27 && r.Cmd1 == 1;
        return n;
    }
    test::TLCAModule Module;
    std::unique_ptr<TMeterSimulator> Sim;
};

int64_t JournalRecords(const std::string& file, std::vector<TmonData3sec>* decoded = nullptr) {
    TjnReader reader;
    std::string error;
    if (reader.Open(file, error) != TjnOpenResult::Ok) {
        ADD_FAILURE() << error;
        return -1;
    }
    int64_t records = 0, waveforms = 0;
    EXPECT_TRUE(reader.Counts(records, waveforms, error)) << error;
    if (decoded) {
        TjnDecoder decoder(reader);
        EXPECT_TRUE(reader.ForEachRecord(
            kjnAnyTimeFrom, kjnAnyTimeTo,
            [&](const TjnRecordView& r) {
                TmonData3sec d;
                EXPECT_NE(r.SettingsId, 0); // read before the journal began
                EXPECT_TRUE(decoder.Decode(r, d, error)) << error;
                decoded->push_back(d);
                return true;
            },
            error))
            << error;
    }
    return records;
}

// A poll that runs until it is stopped, and asks for nothing.
class IdleThread : public ImonExchange {
public:
    void Start() override {}
    void Stop() override {}
    bool Finished() const override { return true; }
    void Join() override {}
    std::string GetErrorText() const override { return {}; }
};

TEST(RecordingNames, FolderAndCaption) {
    EXPECT_EQ(RecordingFolder("/home/u/Документы").rfind("/Записи/"),
              RecordingFolder("/home/u/Документы").size() - std::string("/Записи/").size());
    EXPECT_EQ(RecordingFolder(""), "");
    EXPECT_EQ(RecordingStatusText("/x/y/QZ2_1.db", 12), "Записей: 12, файл QZ2_1.db");
}

// The documents "folder" is a file: no journal can be made. The operator is told, and the
// toggle goes off.
TEST(WindowRecording, AJournalThatCannotBeMadeIsReported) {
    std::vector<TShown> shown;
    TmonFormOptions o = Options("nofolder.ini", "docs-file", &shown);
    o.Exchange.MakeMain = [](IExchangeListener*, const TccnConnection*, TmonSharedStorage*) {
        return std::unique_ptr<ImonExchange>(new IdleThread);
    };
    { std::ofstream(Documents("docs-file")) << "not a folder"; }
    auto w = std::make_unique<TForm1>(std::move(o));
    w->ConnectFromCommandLine(0, 5, 1, true);
    ASSERT_TRUE(w->Running());
    w->Controls().ChkRecord->click();
    EXPECT_FALSE(w->Recording());
    EXPECT_FALSE(w->Controls().ChkRecord->isChecked());
    EXPECT_FALSE(w->Settings().ReadRecordingOn());
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].Caption, "Ошибка");
    EXPECT_NE(shown[0].Text.find(Documents("docs-file")), std::string::npos) << shown[0].Text;
    w->close();
}

// Started in the middle of a poll (the settings were read before), by its key; stopped by
// a click on the toggle while the window shows a record: the journal holds exactly the
// records polled meanwhile, decoded as the window showed them.
TEST(WindowRecording, TheToggleRecordsThePollMeanwhile) {
    TSim sim;
    std::vector<TShown> shown;
    auto w = std::make_unique<TForm1>(Options("rec.ini", "docs-rec", &shown));
    int records = 0;
    double lastU = 0;
    int stopAt = -1;
    w->OnRecordShown = [&](int n) {
        records = n;
        lastU = w->ShownStorage().Data3sec.U1[phA];
        if (n == stopAt) w->Controls().ChkRecord->click();
    };
    w->UseOwnedConnection(MakeTcpConnection(1, 321, "127.0.0.1", sim.Sim->port()), true);
    ASSERT_TRUE(WaitUntil([&] { return records >= 1; }, 20000)) << "no record shown";
    EXPECT_FALSE(w->Recording());

    QKeyEvent press(QEvent::KeyPress, Qt::Key_F3, Qt::NoModifier);
    QKeyEvent release(QEvent::KeyRelease, Qt::Key_F3, Qt::NoModifier);
    QApplication::sendEvent(w.get(), &press);
    QApplication::sendEvent(w.get(), &release);
    ASSERT_TRUE(w->Recording());
    EXPECT_TRUE(w->Controls().ChkRecord->isChecked());
    EXPECT_TRUE(w->Settings().ReadRecordingOn());
    const std::string file = w->RecordingFile();
    EXPECT_EQ(file.rfind(RecordingFolder(Documents("docs-rec")), 0), 0u) << file;
    EXPECT_NE(file.find("_321_"), std::string::npos) << file;
    // The journal and its count are in the status label; the caption stays the program's
    // and the data's time, which a long name would push out of sight.
    EXPECT_EQ(w->Controls().LProgress->text().toStdString(), RecordingStatusText(file, 0));
    EXPECT_EQ(w->windowTitle().toStdString().find("Запись"), std::string::npos);
    EXPECT_EQ(w->windowTitle().toStdString().rfind(w->BaseCaption().toStdString(), 0), 0u);
    EXPECT_NE(w->windowTitle().toStdString().find("    (Время данных: "), std::string::npos)
        << w->windowTitle().toStdString();
    const int shownBefore = records;
    ASSERT_TRUE(WaitUntil([&] { return records > shownBefore; }, 20000));
    EXPECT_EQ(w->Controls().LProgress->text().toStdString(),
              RecordingStatusText(file, w->RecordingRecords()));

    stopAt = shownBefore + 2;
    ASSERT_TRUE(WaitUntil([&] { return !w->Recording(); }, 20000)) << "not stopped";
    EXPECT_FALSE(w->Controls().ChkRecord->isChecked());
    EXPECT_FALSE(w->Settings().ReadRecordingOn());
    EXPECT_EQ(w->Controls().LProgress->text().toStdString().find("Записей:"), std::string::npos);
    EXPECT_TRUE(w->Running()); // polling goes on

    std::vector<TmonData3sec> decoded;
    EXPECT_EQ(JournalRecords(file, &decoded), 2);
    {
        TjnReader reader;
        std::string error;
        ASSERT_EQ(reader.Open(file, error), TjnOpenResult::Ok) << error;
        EXPECT_EQ(RecordingProgramText(reader.Meter()).rfind("qzmonitor ", 0), 0u)
            << reader.Meter().ProgramVersion;
    }
    ASSERT_EQ(decoded.size(), 2u);
    EXPECT_DOUBLE_EQ(decoded.back().U1[phA], lastU);
    EXPECT_GE(sim.RecordReads(), size_t(stopAt));

    // On again, and the window closed while recording: the journal is closed into one file.
    w->Controls().ChkRecord->click();
    ASSERT_TRUE(w->Recording());
    const std::string second = w->RecordingFile();
    EXPECT_NE(second, file);
    ASSERT_TRUE(WaitUntil([&] { return w->RecordingRecords() >= 1; }, 20000));
    w->close();
    EXPECT_FALSE(w->Recording());
    EXPECT_TRUE(w->Settings().ReadRecordingOn()); // the toggle stays on for the next run
    struct stat st;
    EXPECT_NE(::stat((second + "-wal").c_str(), &st), 0);
    EXPECT_GE(JournalRecords(second), 1);
    EXPECT_TRUE(shown.empty()) << shown.front().Text;
    w.reset();
}

// The toggle kept on from the last run records as soon as polling starts; a file that can
// grow no more stops the recording with a box naming it, and polling goes on.
TEST(WindowRecording, AWriteFailureStopsRecordingAndPollingGoesOn) {
    TSim sim;
    std::vector<TShown> shown;
    Messages* messages = nullptr;
    TmonFormOptions o = Options("fail.ini", "docs-fail", &shown, &messages);
    o.Settings->WriteRecordingOn(true);
    auto w = std::make_unique<TForm1>(std::move(o));
    EXPECT_TRUE(w->Controls().ChkRecord->isChecked());
    int records = 0;
    w->OnRecordShown = [&](int n) { records = n; };
    w->UseOwnedConnection(MakeTcpConnection(1, 321, "127.0.0.1", sim.Sim->port()), true);
    ASSERT_TRUE(w->Recording());
    const std::string file = w->RecordingFile();
    ASSERT_TRUE(WaitUntil([&] { return w->RecordingRecords() >= 1; }, 20000));

    // The journal's log may not grow past its present size: the next commit fails as on a
    // full disk. The limit is lifted again once the operator is told.
    struct stat st;
    ASSERT_EQ(::stat((file + "-wal").c_str(), &st), 0);
    rlimit old;
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &old), 0);
    std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = old;
    small.rlim_cur = rlim_t(st.st_size);
    messages->OnShow = [&old] { ::setrlimit(RLIMIT_FSIZE, &old); };
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);

    ASSERT_TRUE(WaitUntil([&] { return !shown.empty(); }, 20000)) << "no box";
    ::setrlimit(RLIMIT_FSIZE, &old);
    EXPECT_EQ(shown[0].Caption, "Ошибка");
    EXPECT_EQ(shown[0].Icon, TmonMessageIcon::Error);
    EXPECT_NE(shown[0].Text.find(file), std::string::npos) << shown[0].Text;
    EXPECT_FALSE(w->Recording());
    EXPECT_FALSE(w->Controls().ChkRecord->isChecked());
    EXPECT_FALSE(w->Settings().ReadRecordingOn());

    const int atFailure = records;
    ASSERT_TRUE(WaitUntil([&] { return records > atFailure; }, 20000)) << "polling stopped";
    EXPECT_TRUE(w->Running());
    EXPECT_EQ(shown.size(), 1u);
    EXPECT_GE(JournalRecords(file), 1); // what was committed before stays readable
    w->close();
    w.reset();
    std::signal(SIGXFSZ, SIG_DFL);
}

// "Возобновлять опрос после ошибок" against a qzsim process that is killed in mid-recording
// and started again on the same port. No box opens; the label tells the error and counts
// down to the next attempt; polling resumes by itself into the same journal, which keeps the
// outage and no meter time twice; Stop during a wait ends the poll without waiting it out.
TEST(WindowRecording, ResumingPollWaitsOutAMeterThatWentAway) {
    test::TLCAModule channels;
    test::TempDir dir;
    auto first = std::make_unique<test::TQzsimProcess>(
        QZ_QZSIM_PATH, std::vector<std::string>{"--model", "qz2m", "--address", "321", "--listen",
                                                "127.0.0.1:0", "--log", dir / "before.log"});
    const uint16_t port = first->Port();
    ASSERT_NE(port, 0);
    std::vector<TShown> shown;
    auto w = std::make_unique<TForm1>(Options("resume.ini", "docs-resume", &shown));
    w->Controls().ResumeAction->setChecked(true); // as the menu entry ticks it
    ASSERT_TRUE(w->Resuming());
    EXPECT_TRUE(w->Settings().ReadResumeOn());
    w->Controls().ChkRecord->setChecked(true);
    int records = 0;
    w->OnRecordShown = [&](int n) { records = n; };
    const auto noBox = [&] { return shown.empty() && !QApplication::activeModalWidget(); };
    w->UseOwnedConnection(MakeTcpConnection(1, 321, "127.0.0.1", port), true);
    ASSERT_TRUE(WaitUntil([&] { return records >= 1; }, 20000)) << "no records";
    ASSERT_TRUE(w->Recording());
    const std::string journal = w->RecordingFile();

    const TDateTime killedAt = NowDateTime();
    first->Kill(); // the meter goes away
    // The seconds to the next attempt, as the label shows them, until they go down.
    std::vector<std::string> labels;
    const auto seconds = [](const std::string& l) {
        const std::string mark = "Повтор через ";
        return std::stoi(l.substr(l.find(mark) + mark.size()));
    };
    bool down = false, fits = true;
    std::string tip;
    const QLabel* label = w->Controls().LProgress;
    ASSERT_TRUE(WaitUntil(
        [&] {
            const std::string l = label->text().toStdString();
            if (!down && l.find("Повтор через ") != std::string::npos &&
                (labels.empty() || labels.back() != l)) {
                labels.push_back(l);
                tip = label->toolTip().toStdString();
                fits = fits && QFontMetrics(label->font()).horizontalAdvance(label->text()) <=
                                   label->contentsRect().width();
                down = labels.size() >= 2 &&
                       seconds(labels.back()) < seconds(labels[labels.size() - 2]);
            }
            return down;
        },
        20000))
        << "no countdown";
    EXPECT_TRUE(noBox());
    EXPECT_TRUE(w->Running());
    EXPECT_TRUE(w->Recording());
    EXPECT_EQ(w->Controls().BStart->text().toStdString(), "Стоп");

    // The meter is back on its port: polling resumes by itself, into the same journal.
    auto second = std::make_unique<test::TQzsimProcess>(
        QZ_QZSIM_PATH,
        std::vector<std::string>{"--model", "qz2m", "--address", "321", "--listen",
                                 "127.0.0.1:" + std::to_string(port), "--log", dir / "after.log"});
    ASSERT_EQ(second->Port(), port);
    const TDateTime backAt = NowDateTime();
    const int before = records;
    ASSERT_TRUE(WaitUntil([&] { return records > before; }, 40000)) << "not resumed";
    EXPECT_FALSE(w->InOutage());
    EXPECT_EQ(w->RecordingFile(), journal);
    EXPECT_TRUE(noBox());
    // Started afresh: the settings read anew (the meter may have been reset meanwhile) before
    // the 3-second data is asked for again.
    std::vector<int> asked;
    for (const test::TSimLogRequest& r : test::SimLogRequests(dir / "after.log"))
        asked.push_back(r.Command);
    const auto settingsAt = std::find(asked.begin(), asked.end(), 14 * 256 + 1);
    EXPECT_NE(std::find(settingsAt, asked.end(), 27 * 256 + 1), asked.end());

    // Gone again, for long enough that a retry fails and the wait doubles: Stop early in that
    // wait ends the poll long before the next attempt would come.
    second->Kill();
    ASSERT_TRUE(WaitUntil(
        [&] {
            const std::string l = w->Controls().LProgress->text().toStdString();
            return l.find("Повтор через ") != std::string::npos && seconds(l) >= 5;
        },
        30000))
        << w->Controls().LProgress->text().toStdString();
    w->Controls().BStart->click();
    EXPECT_TRUE(WaitUntil([&] { return !w->Running(); }, 3000)) << "Stop waited for the retry";
    EXPECT_TRUE(noBox());
    EXPECT_FALSE(w->Recording());
    w.reset();
    EXPECT_TRUE(shown.empty()) << shown[0].Text;

    TjnReader reader;
    std::string error;
    ASSERT_EQ(reader.Open(journal, error), TjnOpenResult::Ok) << error;
    const std::vector<TDateTime> stored = test::JournalRecordTimes(reader);
    EXPECT_GE(stored.size(), size_t(before + 1));
    EXPECT_EQ(std::set<TDateTime>(stored.begin(), stored.end()).size(), stored.size());
    const std::vector<TjnOutageView> outages = test::JournalOutages(reader);
    // The first spans the loss, from the failure after the kill to the first record after
    // the return, however many retries failed within it; the second is ended by the close.
    ASSERT_EQ(outages.size(), 2u);
    constexpr double kSecond = 1.0 / 86400;
    EXPECT_GE(outages[0].Began, killedAt - kSecond);
    EXPECT_LT(outages[0].Began, backAt);
    EXPECT_GE(outages[0].Ended, backAt - kSecond);
    EXPECT_TRUE(outages[1].HasEnd());
    // The label told the outage's error, the countdown in full view after it as a sentence of
    // its own; its tip tells the whole error.
    EXPECT_TRUE(fits) << labels[0];
    EXPECT_EQ(labels[0].find(".."), std::string::npos) << labels[0];
    EXPECT_EQ(labels[0].compare(0, 10, outages[0].Text, 0, 10), 0) << labels[0];
    EXPECT_EQ(tip.rfind("Ошибка обмена с измерителем: " + outages[0].Text, 0), 0u) << tip;
}

} // namespace
} // namespace qz
