// "Запись" in the main window: the window's own exchange threads poll the simulated meter
// over loopback TCP and the journal is read back with the journal's reader.
#include "QtTestEnv.h"

#include "channel/LCAObject.h"
#include "journal/jnJournal.h"
#include "monitor/monCommandLine.h"
#include "monitor/monMain.h"
#include "monitor/monRecording.h"
#include "simulator/MeterSimulator.h"
#include "tests/support/MonitorForm.h"

#include <QCheckBox>
#include <QKeyEvent>

#include <gtest/gtest.h>

#include <csignal>
#include <fstream>
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
        LCAInitialize();
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
    EXPECT_EQ(RecordingCaption("/x/y/QZ2_1.db", 12), "    Запись: QZ2_1.db, записей: 12");
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
    w->ChkRecord->click();
    EXPECT_FALSE(w->Recording());
    EXPECT_FALSE(w->ChkRecord->isChecked());
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
        if (n == stopAt) w->ChkRecord->click();
    };
    w->UseOwnedConnection(MakeTcpConnection(1, 321, "127.0.0.1", sim.Sim->port()), true);
    ASSERT_TRUE(WaitUntil([&] { return records >= 1; }, 20000)) << "no record shown";
    EXPECT_FALSE(w->Recording());

    QKeyEvent press(QEvent::KeyPress, Qt::Key_F3, Qt::NoModifier);
    QKeyEvent release(QEvent::KeyRelease, Qt::Key_F3, Qt::NoModifier);
    QApplication::sendEvent(w.get(), &press);
    QApplication::sendEvent(w.get(), &release);
    ASSERT_TRUE(w->Recording());
    EXPECT_TRUE(w->ChkRecord->isChecked());
    EXPECT_TRUE(w->Settings().ReadRecordingOn());
    const std::string file = w->RecordingFile();
    EXPECT_EQ(file.rfind(RecordingFolder(Documents("docs-rec")), 0), 0u) << file;
    EXPECT_NE(file.find("_321_"), std::string::npos) << file;
    EXPECT_NE(w->windowTitle().toStdString().find(RecordingCaption(file, 0)), std::string::npos)
        << w->windowTitle().toStdString();

    stopAt = records + 2;
    ASSERT_TRUE(WaitUntil([&] { return !w->Recording(); }, 20000)) << "not stopped";
    EXPECT_FALSE(w->ChkRecord->isChecked());
    EXPECT_FALSE(w->Settings().ReadRecordingOn());
    EXPECT_EQ(w->windowTitle().toStdString().find("Запись:"), std::string::npos);
    EXPECT_TRUE(w->Running()); // polling goes on

    std::vector<TmonData3sec> decoded;
    EXPECT_EQ(JournalRecords(file, &decoded), 2);
    ASSERT_EQ(decoded.size(), 2u);
    EXPECT_DOUBLE_EQ(decoded.back().U1[phA], lastU);
    EXPECT_GE(sim.RecordReads(), size_t(stopAt));

    // On again, and the window closed while recording: the journal is closed into one file.
    w->ChkRecord->click();
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
    EXPECT_TRUE(w->ChkRecord->isChecked());
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
    EXPECT_FALSE(w->ChkRecord->isChecked());
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

} // namespace
} // namespace qz
