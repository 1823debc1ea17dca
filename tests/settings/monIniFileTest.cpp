#include "settings/monIniFile.h"

#include "TestEnv.h"
#include "connection/CcnConnectionList.h"
#include "settings/HexText.h"

#include <filesystem>
#include <gtest/gtest.h>

namespace {

using namespace qz;
using qz::test::EnvGuard;
using qz::test::ReadFileBytes;
using qz::test::TempDir;
using qz::test::WriteFileBytes;
namespace fs = std::filesystem;

// Every test gets a home of its own: nothing reaches the real one.
class MonIniFile : public ::testing::Test {
protected:
    void SetUp() override {
        env_.Set("HOME", home_.Path().c_str());
        env_.Set("XDG_DATA_HOME", (home_ / "data").c_str());
        folder_ = home_ / "data/VQ/Монитор Каврен-QZ2/";
        path_ = folder_ + "qzmonitor.ini";
    }
    TempDir home_;
    EnvGuard env_;
    std::string folder_, path_;
};

TEST(MonIniFileNames, KeysDefaultsAndClamps) {
    EXPECT_EQ(IndexedKey(kLevelsPrefix, 0), "Levels_0");
    EXPECT_EQ(IndexedKey(kPosPrefix, 12), "Pos_12");
    EXPECT_EQ(IndexedKey(kPosPrefix, -1), "Pos_-1");
    for (int i = -1; i <= 10; ++i)
        EXPECT_EQ(DefaultLevel(i), i >= 6 && i <= 8 ? 100 : 1) << i;

    const int32_t kMin = -2147483647 - 1, kMax = 2147483647;
    const std::pair<int32_t, int32_t> levels[] = {{kMin, 1},  {0, 1},     {1, 1},     {150, 150},
                                                  {299, 299}, {300, 299}, {kMax, 299}};
    for (const auto& [in, out] : levels)
        EXPECT_EQ(ClampLevel(in), out) << in;
    const std::pair<int32_t, int32_t> offsets[] = {
        {kMax, 0}, {1, 0}, {0, 0}, {-20, -20}, {-300, -300}, {-301, -300}, {kMin, -300}};
    for (const auto& [in, out] : offsets)
        EXPECT_EQ(ClampPos(in), out) << in;
}

TEST(MonIniFileNames, FileNameFollowsTheExecutable) {
    EXPECT_EQ(IniFileNameFor("qzmonitor"), "qzmonitor.ini");
    EXPECT_EQ(IniFileNameFor("monitor.exe"), "monitor.ini");
    EXPECT_EQ(IniFileNameFor("a.b.c"), "a.b.ini");
    EXPECT_EQ(IniFileNameFor(".hidden"), ".hidden.ini");
    EXPECT_EQ(IniFileNameFor(""), "qzmonitor.ini");

    EXPECT_EQ(ExecutableNameFromLink("/usr/bin/qzmonitor"), "qzmonitor");
    EXPECT_EQ(ExecutableNameFromLink("/usr/bin/qzmonitor (deleted)"), "qzmonitor");
    EXPECT_EQ(ExecutableNameFromLink("/opt/my dir/qz.bin"), "qz.bin");
    EXPECT_EQ(ExecutableNameFromLink("qzmonitor"), "qzmonitor");
    EXPECT_EQ(ExecutableName(), "test_settings"); // this very test program
}

TEST_F(MonIniFile, FirstStartCreatesTheFolderAndWritesOnlyAtTheEnd) {
    EXPECT_EQ(SettingsFilePath(kMonitorProductName, "qzmonitor"), path_);
    ASSERT_FALSE(fs::exists(folder_));
    {
        TmonIniFile ini(kMonitorProductName, "qzmonitor");
        EXPECT_EQ(ini.FileName(), path_);
        EXPECT_TRUE(fs::is_directory(folder_));
        EXPECT_TRUE(ini.LoadError().empty());
        EXPECT_TRUE(ini.ReadConnectionStream().empty());
        EXPECT_EQ(ini.ReadSelectedID(), -1);
        for (int i = 0; i < 3; ++i) {
            EXPECT_EQ(ini.ReadLevel(i), 1) << i;
            EXPECT_EQ(ini.ReadPos(i), 0) << i;
        }
        EXPECT_EQ(ini.ReadLevel(7), 100);
        ini.WriteSelectedID(3);
        ini.WriteLevel(0, 5);
        EXPECT_FALSE(fs::exists(path_)); // nothing on disk before UpdateFile
        std::string error;
        ASSERT_TRUE(ini.UpdateFile(&error)) << error;
    }
    EXPECT_TRUE(fs::exists(path_));
    TmonIniFile again(kMonitorProductName, "qzmonitor");
    EXPECT_EQ(again.ReadSelectedID(), 3);
    EXPECT_EQ(again.ReadLevel(0), 5);

    // The default constructor finds the same place under this program's own name.
    TmonIniFile own;
    EXPECT_EQ(own.FileName(), folder_ + "test_settings.ini");
}

TEST_F(MonIniFile, EverythingRoundTripsThroughTheFile) {
    std::vector<uint8_t> stream;
    for (int i = 0; i < 256; ++i)
        stream.push_back(uint8_t(255 - i));
    {
        TmonIniFile ini(kMonitorProductName, "qzmonitor");
        ini.WriteConnectionStream(stream);
        ini.WriteSelectedID(2147483647);
        for (int i = 0; i < 3; ++i) {
            ini.WriteLevel(i, 10 + i);
            ini.WritePos(i, -100 - i);
        }
        ini.WriteLevel(7, 299);
        ASSERT_TRUE(ini.UpdateFile());
    }
    TmonIniFile ini(kMonitorProductName, "qzmonitor");
    EXPECT_EQ(ini.ReadConnectionStream(), stream);
    EXPECT_EQ(ini.ReadSelectedID(), 2147483647);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(ini.ReadLevel(i), 10 + i);
        EXPECT_EQ(ini.ReadPos(i), -100 - i);
    }
    EXPECT_EQ(ini.ReadLevel(7), 299);
    EXPECT_EQ(ini.ReadLevel(6), 100);

    // On disk: Cyrillic names in code page 1251 and the stream as upper-case hex text.
    const std::string disk = ReadFileBytes(path_);
    EXPECT_NE(disk.find("[\xCF\xCE\xC4\xCA\xCB\xDE\xD7\xC5\xCD\xC8\xDF]\n"), std::string::npos);
    EXPECT_NE(disk.find("\xD1\xEF\xE8\xF1\xEE\xEA=FFFEFDFC"), std::string::npos);
    EXPECT_NE(disk.find("[SCALE]\n"), std::string::npos);
    EXPECT_NE(disk.find("Pos_2=-102\n"), std::string::npos);

    // An empty list is stored as an empty value.
    ini.WriteConnectionStream({});
    EXPECT_EQ(ini.ReadString(kConnectionsSection, kConnectionListKey, "-"), "");
}

std::string BinaryForm(const TccnConnectionList& list) {
    TccnMemoryStream stream;
    list.SaveToStream(stream, sfBinary);
    return stream.Data();
}

TEST_F(MonIniFile, ConnectionListRoundTripsAndDamageEmptiesIt) {
    TccnConnectionList list;
    for (int32_t factoryNum : {300, 301}) {
        TccnConnection c;
        c.SetCustomDevice(CreateDevice(dtQZ2));
        c.CustomDevice()->SetFactoryNum(factoryNum);
        c.SetCustomDeviceProtocol(CreateDeviceProtocol(dptKavren));
        c.SetCustomConMode(CreateConMode(cmtDirectTCPIP));
        list.AddConnection(c);
    }
    list.DeleteConnection(0);
    {
        TmonIniFile ini(kMonitorProductName, "qzmonitor");
        ini.SaveConnections(list);
        ASSERT_TRUE(ini.UpdateFile());
    }
    TmonIniFile ini(kMonitorProductName, "qzmonitor");
    TccnConnectionList back;
    ASSERT_TRUE(ini.LoadConnections(back));
    ASSERT_EQ(back.Count(), 1u);
    EXPECT_EQ(back.FMaxID, 1); // identifiers keep growing across runs
    EXPECT_EQ(back.GetItem(0)->ConID, 1);
    EXPECT_EQ(back.GetItem(0)->CustomDevice()->FactoryNum(), 301);
    EXPECT_EQ(BinaryForm(back), BinaryForm(list));

    ini.WriteString(kConnectionsSection, kConnectionListKey, "54504630FF"); // "TPF0" and junk
    EXPECT_FALSE(ini.LoadConnections(back));
    EXPECT_EQ(back.Count(), 0u);
    ini.SaveConnections(list);
    ASSERT_TRUE(ini.LoadConnections(back));
    ini.DeleteKey(kConnectionsSection, kConnectionListKey);
    EXPECT_FALSE(ini.LoadConnections(back)); // nothing stored: an empty list
    EXPECT_EQ(back.Count(), 0u);
}

TEST_F(MonIniFile, HandEditedAndDamagedValues) {
    fs::create_directories(folder_);
    WriteFileBytes(path_, "[\xEF\xEE\xE4\xEA\xEB\xFE\xF7\xE5\xED\xE8\xFF]\r\n" // lower case
                          "\xD1\xCF\xC8\xD1\xCE\xCA=0A1B2\r\n"                 // СПИСОК
                          "\xC2\xDB\xC1\xD0\xC0\xCD\xCE=none\r\n"              // ВЫБРАНО
                          "[scale]\r\n"
                          "levels_7=\r\n"
                          "LEVELS_1=5000\r\n"
                          "pos_0=17\r\n"
                          "Pos_1=-1x\r\n");
    TmonIniFile ini(kMonitorProductName, "qzmonitor");
    // An odd trailing digit is dropped: the whole bytes before it load.
    EXPECT_EQ(ini.ReadConnectionStream(), (std::vector<uint8_t>{0x0A, 0x1B}));
    EXPECT_EQ(ini.ReadSelectedID(), -1); // not a number: the default
    EXPECT_EQ(ini.ReadLevel(7), 100);
    EXPECT_EQ(ini.ReadLevel(1), 5000); // stored as it stands; the window clamps
    EXPECT_EQ(ClampLevel(ini.ReadLevel(1)), 299);
    EXPECT_EQ(ini.ReadPos(0), 17);
    EXPECT_EQ(ClampPos(ini.ReadPos(0)), 0);
    EXPECT_EQ(ini.ReadPos(1), 0);

    ini.WriteString(kConnectionsSection, kConnectionListKey, "0A1B#C");
    EXPECT_TRUE(ini.ReadConnectionStream().empty()); // damaged hex: an empty list
}

TEST_F(MonIniFile, WriteFailuresAreReportedNotThrown) {
    TmonIniFile ini(kMonitorProductName, "qzmonitor");
    ini.WriteSelectedID(1);
    fs::create_directory(path_); // something in the way of the file
    std::string error;
    EXPECT_FALSE(ini.UpdateFile(&error));
    EXPECT_NE(error.find("qzmonitor.ini"), std::string::npos) << error;
    fs::remove(path_);

    // The folder went away while the program ran: it is made again.
    fs::remove_all(home_ / "data/VQ");
    ASSERT_TRUE(ini.UpdateFile(&error)) << error;
    EXPECT_EQ(TmonIniFile(kMonitorProductName, "qzmonitor").ReadSelectedID(), 1);

    // A plain file where the maker folder belongs: the folder cannot be made.
    fs::remove_all(home_ / "data/VQ");
    WriteFileBytes(home_ / "data/VQ", "x");
    TmonIniFile blocked(kMonitorProductName, "qzmonitor");
    EXPECT_TRUE(blocked.ReadSections().empty());
    blocked.WriteSelectedID(2);
    error.clear();
    EXPECT_FALSE(blocked.UpdateFile(&error));
    EXPECT_FALSE(error.empty());
}

} // namespace

namespace {

std::string ValidListHex() {
    TccnConnectionList list;
    TccnConnection c;
    c.SetCustomDevice(CreateDevice(dtQZ2M));
    c.SetCustomDeviceProtocol(CreateDeviceProtocol(dptKavren));
    c.SetCustomConMode(CreateConMode(cmtDirect232));
    list.AddConnection(c);
    const std::string bin = BinaryForm(list);
    return BytesToHex(reinterpret_cast<const uint8_t*>(bin.data()), bin.size());
}

} // namespace

// Every kind of damage is told apart from an absent list, with its own reason, and never
// yields a half list.
TEST_F(MonIniFile, DamagedListsSayWhy) {
    TmonIniFile ini(kMonitorProductName, "qzmonitor");
    TccnConnectionList list;
    EXPECT_EQ(ini.LoadConnectionList(list).State, TmonListState::Absent);

    const std::string good = ValidListHex();
    ini.WriteString(kConnectionsSection, kConnectionListKey, good);
    EXPECT_EQ(ini.LoadConnectionList(list).State, TmonListState::Loaded);
    EXPECT_EQ(list.Count(), 1u);

    // Non-hex digit: the position is counted in characters, as a text editor shows it.
    ini.WriteString(kConnectionsSection, kConnectionListKey, "0Я" + good.substr(0, 4) + "G1");
    TmonListLoad r = ini.LoadConnectionList(list);
    EXPECT_EQ(r.State, TmonListState::Damaged);
    EXPECT_EQ(list.Count(), 0u);
    EXPECT_NE(r.Reason.find("шестнадцатеричной"), std::string::npos) << r.Reason;
    EXPECT_NE(r.Reason.find("позиция 2"), std::string::npos) << r.Reason;
    ini.WriteString(kConnectionsSection, kConnectionListKey, good.substr(0, 6) + "xx");
    r = ini.LoadConnectionList(list);
    EXPECT_NE(r.Reason.find("позиция 7"), std::string::npos) << r.Reason;

    // A torn stream: the list's own format error.
    ini.WriteString(kConnectionsSection, kConnectionListKey, good.substr(0, good.size() / 2));
    r = ini.LoadConnectionList(list);
    EXPECT_EQ(r.State, TmonListState::Damaged);
    EXPECT_EQ(r.Reason.rfind("Ошибка загрузки данных. Неверный формат.", 0), 0u) << r.Reason;

    // A list from a newer version (1.2.0.21): refused with the version's text.
    std::string newer = good;
    const size_t at = newer.find("010201020102000215"); // list of 1, 1, 0, 21
    ASSERT_NE(at, std::string::npos);
    newer[at + 9] = '2'; // Minor
    ini.WriteString(kConnectionsSection, kConnectionListKey, newer);
    r = ini.LoadConnectionList(list);
    EXPECT_EQ(r.State, TmonListState::Damaged);
    EXPECT_NE(r.Reason.find("Текущая версия списка подключений меньше загружаемой"),
              std::string::npos)
        << r.Reason;
    EXPECT_EQ(list.Count(), 0u);
}

// The backup keeps the stored value as a settings file of its own, beside the settings file,
// and an earlier backup is never replaced.
TEST_F(MonIniFile, BackupOfADamagedValue) {
    fs::create_directories(folder_);
    const std::string stored = "54504630ZZ\xCF"; // "TPF0", junk and a Cyrillic letter П
    WriteFileBytes(path_,
                   "[\xCF\xCE\xC4\xCA\xCB\xDE\xD7\xC5\xCD\xC8\xDF]\n\xD1\xEF\xE8\xF1\xEE\xEA=" +
                       stored + "\n");
    TmonIniFile ini(kMonitorProductName, "qzmonitor");
    std::tm t{};
    t.tm_year = 2026 - 1900;
    t.tm_mon = 11;
    t.tm_mday = 8;
    t.tm_hour = 1;
    t.tm_min = 45;
    t.tm_sec = 7;
    t.tm_isdst = -1;
    const std::string backup = ini.ConnectionBackupPath(std::mktime(&t));
    EXPECT_EQ(backup, path_ + ".2026-12-08_01-45-07.bak");

    std::string error;
    ASSERT_TRUE(ini.WriteConnectionBackup(backup, &error)) << error;
    EXPECT_NE(ReadFileBytes(backup).find("\xD1\xEF\xE8\xF1\xEE\xEA=" + stored + "\n"),
              std::string::npos);
    TmonIniFile copy = TmonIniFile::AtPath(backup);
    TccnConnectionList list;
    EXPECT_EQ(copy.LoadConnectionList(list).State, TmonListState::Damaged);

    const std::string before = ReadFileBytes(backup);
    EXPECT_FALSE(ini.WriteConnectionBackup(backup, &error));
    EXPECT_NE(error.find(backup), std::string::npos) << error;
    EXPECT_EQ(ReadFileBytes(backup), before);

    // Writing the other settings keeps the damaged value byte for byte.
    ini.WriteLevel(0, 7);
    ini.WriteSelectedID(3);
    ASSERT_TRUE(ini.UpdateFile());
    EXPECT_NE(ReadFileBytes(path_).find("\xD1\xEF\xE8\xF1\xEE\xEA=" + stored + "\n"),
              std::string::npos);
}
