// The main window's "Выбрать измеритель" road: the dialog kept between openings, the
// choice, and the settings file as it is on disk after the dialog closed.
#include "CcnUITestSupport.h"

#include "connection/ui/CcnConnectionListUI.h"
#include "settings/monIniFile.h"
#include "tests/support/EnvGuard.h"
#include "tests/support/TempDir.h"

#include <QPointer>
#include <QPushButton>
#include <QSpinBox>
#include <QTimer>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

namespace qz {
namespace {

class ConnectionDialog : public ::testing::Test {
protected:
    void SetUp() override {
        test::App();
        test::MonitorOptions(Options);
        SetComPortLister([] { return std::vector<TComPortInfo>{{2, "COM2", "/dev/ttyS1"}}; });
        ASSERT_FALSE(Dir.Path().empty());
        DataHome.Set("XDG_DATA_HOME", Dir.Path().c_str());

        // What an earlier run left: three meters, the second one chosen.
        TmonIniFile ini(kProduct, kExe);
        TccnConnectionList stored;
        for (int32_t n : {10, 20, 30})
            Ids.push_back(test::AddTo(stored, dtQZ2, n));
        ini.SaveConnections(stored);
        ini.WriteSelectedID(Ids[1]);
        ASSERT_TRUE(ini.UpdateFile());
    }
    void TearDown() override { SetComPortLister(nullptr); }

    // One use of the button as the main window makes it: the list and the choice are kept
    // in the settings and written to disk.
    bool Use(TccnConnectionListDialog& dialog, TmonIniFile& ini, TccnConnectionList& list,
             int32_t& selected) {
        const bool chosen = dialog.Execute(nullptr, list, Options, selected);
        if (chosen) ini.WriteSelectedID(selected);
        ini.SaveConnections(list);
        EXPECT_TRUE(ini.UpdateFile());
        return chosen;
    }

    static constexpr const char* kProduct = "Монитор Каврен-QZ2";
    static constexpr const char* kExe = "qzmonitor";
    TccnConnectionListUIOptions Options;
    test::TFakeMessages Messages;
    test::TempDir Dir;
    test::EnvGuard DataHome;
    std::vector<int32_t> Ids;
};

TEST_F(ConnectionDialog, SelectWritesTheChoiceAndTheListToTheSettingsFile) {
    TmonIniFile ini(kProduct, kExe);
    TccnConnectionList list;
    ASSERT_TRUE(ini.LoadConnections(list));
    int32_t selected = ini.ReadSelectedID();

    TccnConnectionListDialog dialog(&Messages);
    int opened = 0;
    dialog.Exec = [&](TccnConnectionListForm& f) {
        ++opened;
        // The row of the stored choice is current when the window opens.
        EXPECT_EQ(f.Frame->ChosenID(), Ids[1]);
        f.Frame->SetCurrentRow(2);
        f.btnSelect->click();
        return f.result();
    };
    EXPECT_TRUE(Use(dialog, ini, list, selected));
    EXPECT_EQ(selected, Ids[2]);
    TccnConnectionListForm* first = dialog.Form();

    TmonIniFile reread(kProduct, kExe);
    EXPECT_EQ(reread.ReadSelectedID(), Ids[2]);
    TccnConnectionList onDisk;
    ASSERT_TRUE(reread.LoadConnections(onDisk));
    EXPECT_EQ(onDisk.Count(), 3u);

    // The window is kept for the next opening.
    dialog.Exec = [&](TccnConnectionListForm& f) {
        ++opened;
        f.btnClose->click();
        return f.result();
    };
    EXPECT_FALSE(Use(dialog, ini, list, selected));
    EXPECT_EQ(dialog.Form(), first);
    EXPECT_EQ(opened, 2);
    EXPECT_EQ(selected, Ids[2]);
}

TEST_F(ConnectionDialog, ChangesMadeBeforeClosingAreSavedToo) {
    TmonIniFile ini(kProduct, kExe);
    TccnConnectionList list;
    ASSERT_TRUE(ini.LoadConnections(list));
    int32_t selected = ini.ReadSelectedID();

    TccnConnectionListDialog dialog(&Messages);
    dialog.Exec = [&](TccnConnectionListForm& f) {
        f.Frame->ExecEditor = [](TccnEditConnectionForm& e) {
            e.findChild<QSpinBox*>("spedtFactoryNum")->setValue(99);
            e.btnOk->click();
            return e.result();
        };
        f.Frame->SetCurrentRow(0);
        Messages.Answers = {true};
        f.Frame->ActionDeleteExecute(); // № 10 goes
        f.Frame->ActionAddExecute();    // № 99 comes
        f.btnClose->click();
        return f.result();
    };
    EXPECT_FALSE(Use(dialog, ini, list, selected));

    TmonIniFile reread(kProduct, kExe);
    EXPECT_EQ(reread.ReadSelectedID(), Ids[1]); // no choice made: unchanged
    TccnConnectionList onDisk;
    ASSERT_TRUE(reread.LoadConnections(onDisk));
    ASSERT_EQ(onDisk.Count(), 3u);
    onDisk.SortConnections();
    EXPECT_EQ(onDisk.GetItem(0)->CustomDevice()->FactoryNum(), 20);
    EXPECT_EQ(onDisk.GetItem(2)->CustomDevice()->FactoryNum(), 99);
    EXPECT_EQ(onDisk.GetItem(2)->ConID, Ids[2] + 1);
    EXPECT_EQ(onDisk.FindByID(Ids[0]), nullptr);
}

TEST_F(ConnectionDialog, TheFunctionForTheMainWindowKeepsOneWindow) {
    TccnConnectionList list;
    test::AddTo(list, dtQZ2, 1);
    TccnConnectionDialogFn fn = MakeConnectionListDialog();
    // The real dialog runs modally; closing it at once from the event loop.
    int32_t selected = -1;
    QWidget owner;
    QPointer<QDialog> seen;
    auto closeSoon = [&] {
        QTimer::singleShot(0, [&] {
            auto* d = qobject_cast<TccnConnectionListForm*>(QApplication::activeModalWidget());
            ASSERT_NE(d, nullptr);
            seen = d;
            d->btnSelect->click();
        });
    };
    closeSoon();
    EXPECT_TRUE(fn(&owner, list, Options, selected));
    EXPECT_EQ(selected, list.GetItem(0)->ConID);
    QPointer<QDialog> first = seen;
    closeSoon();
    EXPECT_TRUE(fn(&owner, list, Options, selected));
    EXPECT_EQ(seen, first);
    EXPECT_EQ(seen->parent(), &owner);
}

} // namespace
} // namespace qz
