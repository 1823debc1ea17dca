// The monitor's per-user settings file.
//
// It keeps the connection list (its binary stream form as hex text), the connection selected
// last, and the spectrum's full-scale level and scroll offset for each spectrum selection.
// The window creates it at start-up, reads it at once, changes it in memory while it runs
// and writes it back with UpdateFile when it is destroyed.
//
// Location: <local application data>/VQ/<product>/<executable name>.ini, e.g.
// ~/.local/share/VQ/Монитор Каврен-QZ2/qzmonitor.ini.
#pragma once

#include "settings/InMemoryIni.h"

#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

namespace qz {

class TccnConnectionList;

// The product folder is named after the window title.
inline constexpr char kMonitorProductName[] = "Монитор Каврен-QZ2";

inline constexpr char kConnectionsSection[] = "ПОДКЛЮЧЕНИЯ";
inline constexpr char kConnectionListKey[] = "Список";
inline constexpr char kSelectedIDKey[] = "Выбрано";
inline constexpr char kScaleSection[] = "SCALE";
// "Запись" in the main window: 1 while the polled records are to go into a journal.
inline constexpr char kRecordingSection[] = "ЗАПИСЬ";
inline constexpr char kRecordingOnKey[] = "Включена";
// "Трассировка линии" of the window's menu: 1 while the line is traced into a file.
inline constexpr char kLineTraceSection[] = "ТРАССИРОВКА";
inline constexpr char kLineTraceOnKey[] = "Включена";
// The main window's choices: which voltage (Combo_U) and current (Combo_I) the labels show,
// and "Сигнал". Missing keys (files of older versions) give the form's own choices.
inline constexpr char kViewSection[] = "ВИД";
inline constexpr char kVoltageItemKey[] = "Напряжение";
inline constexpr char kCurrentItemKey[] = "Ток";
inline constexpr char kSignalOnKey[] = "Сигнал";
// The trends window's ticked quantities, their numbers separated by commas.
inline constexpr char kTrendsSection[] = "ТРЕНДЫ";
inline constexpr char kTrendQuantitiesKey[] = "Величины";
// "Возобновлять опрос после ошибок" of the window's menu: 1 while an exchange error is an
// outage the poll waits out, not its end.
inline constexpr char kPollSection[] = "ОПРОС";
inline constexpr char kResumeOnKey[] = "Возобновлять";
inline constexpr char kLevelsPrefix[] = "Levels";
inline constexpr char kPosPrefix[] = "Pos";

inline constexpr int32_t kNoSelectedID = -1;
// What the window keeps: a level (full scale of the spectrum) in 1..299 and a scroll-bar
// position in 0..300, stored as (position - 300), i.e. -300..0.
inline constexpr int32_t kMinLevel = 1;
inline constexpr int32_t kMaxLevel = 299;
inline constexpr int32_t kScrollRange = 300;

// "<prefix>_<index>", e.g. Levels_0, Pos_2.
std::string IndexedKey(const std::string& prefix, int index);
// The level of a spectrum selection that has none stored: 100 for 6..8, else 1.
int32_t DefaultLevel(int index);
// The settings object stores any integer; a hand-edited or damaged file may hold anything,
// so the window passes what it reads through these before using it.
int32_t ClampLevel(int32_t level);
int32_t ClampPos(int32_t storedPos);

// The executable's own file name, without its folder: the target of /proc/self/exe.
std::string ExecutableName();
// The file name in the text of the /proc/self/exe link. A program file replaced while it
// runs reads as "<path> (deleted)"; that suffix is not part of the name.
std::string ExecutableNameFromLink(const std::string& link);
// The file name with its extension replaced by ".ini" (added when it has none; a leading
// dot does not start an extension). An empty name gives "qzmonitor.ini".
std::string IniFileNameFor(const std::string& exeName);
// The full name of the settings file; "" when there is no local application data folder.
std::string SettingsFilePath(const std::string& product, const std::string& exeName);

// What became of the stored connection list when it was read.
enum class TmonListState {
    Absent,  // no value, or an empty one: an empty list
    Loaded,  // the stored list
    Damaged, // a value that does not give a list: the list is empty, the value must be kept
};

struct TmonListLoad {
    TmonListState State = TmonListState::Absent;
    std::string Reason; // for a damaged value: why it did not load
};

class TmonIniFile : public TInMemoryIni {
public:
    // The monitor's own file: kMonitorProductName, ExecutableName().
    TmonIniFile();
    // Creates the folder with all missing parents (a failure shows later in UpdateFile) and
    // reads the file.
    TmonIniFile(const std::string& product, const std::string& exeName);
    // A settings file at an explicit path (tools that read another program's file).
    static TmonIniFile AtPath(const std::string& filePath);

    // The connection list's binary stream. A missing key, an empty value or a value that is
    // not hex text gives an empty stream, which the list loads as an empty list.
    std::vector<uint8_t> ReadConnectionStream() const;
    void WriteConnectionStream(const std::vector<uint8_t>& stream);

    // Loads the stored list (binary stream form). A missing or damaged value, or a stream
    // the list refuses, leaves the list empty; the result says whether a list was loaded.
    bool LoadConnections(TccnConnectionList& list) const;
    // The same, telling an absent list from a damaged one and why the damaged one failed:
    // a character that is not a hexadecimal digit, or the list's own format error (a foreign
    // or torn stream, a list written by a newer version).
    TmonListLoad LoadConnectionList(TccnConnectionList& list) const;
    // The stored value as it stands in the file.
    std::string ReadConnectionValue() const;

    // Where a damaged stored list is kept before a new list replaces it: beside this file,
    // "<file name>.<date>_<time>.bak", e.g. qzmonitor.ini.2026-12-08_01-45-00.bak.
    std::string ConnectionBackupPath(std::time_t when) const;
    // Writes the stored value into `path` as a settings file of its own (the same section
    // and key, so it can be put back by hand). An existing file is never replaced.
    bool WriteConnectionBackup(const std::string& path, std::string* error = nullptr) const;
    // Stores the list in its binary stream form.
    void SaveConnections(const TccnConnectionList& list);

    int32_t ReadSelectedID() const;
    void WriteSelectedID(int32_t id);

    // The "Запись" toggle; off when the key is missing (files of older versions).
    bool ReadRecordingOn() const;
    void WriteRecordingOn(bool on);
    // "Трассировка линии"; off when the key is missing.
    bool ReadLineTraceOn() const;
    void WriteLineTraceOn(bool on);
    // "Возобновлять опрос после ошибок"; off when the key is missing.
    bool ReadResumeOn() const;
    void WriteResumeOn(bool on);

    // Combo_U and Combo_I items: `fallback` when the key is missing or out of [0, count).
    int32_t ReadViewItem(const char* key, int32_t count, int32_t fallback) const;
    void WriteViewItem(const char* key, int32_t item);
    // "Сигнал"; off when the key is missing.
    bool ReadSignalOn() const;
    void WriteSignalOn(bool on);
    // The trends' ticked quantities; `found` false when none were ever stored (the window's
    // own choice stands then). Numbers that do not read are skipped.
    std::vector<int> ReadTrendQuantities(bool& found) const;
    void WriteTrendQuantities(const std::vector<int>& quantities);

    // Raw stored values with their defaults; see ClampLevel and ClampPos.
    int32_t ReadLevel(int index) const;
    void WriteLevel(int index, int32_t value);
    int32_t ReadPos(int index) const;
    void WritePos(int index, int32_t value);

    // Creates the folder again if it went away while the program ran, then writes.
    bool UpdateFile(std::string* error = nullptr) override;

private:
    struct TPathTag {};
    TmonIniFile(TPathTag, const std::string& filePath) : TInMemoryIni(filePath) {}
};

} // namespace qz
