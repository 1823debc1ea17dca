#include "settings/monIniFile.h"

#include "common/SystemErrorText.h"
#include "connection/CcnConnectionList.h"
#include "settings/HexText.h"
#include "settings/cmnKnownFoldersFunc.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

namespace qz {
namespace {

// The folder of a path with its closing slash, or empty for a bare name.
std::string FolderWithSlash(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

// Computes the file name and creates its folder before the file is read.
std::string PrepareFile(const std::string& product, const std::string& exeName) {
    const std::string path = SettingsFilePath(product, exeName);
    if (!path.empty()) ForceDirectories(FolderWithSlash(path));
    return path;
}

} // namespace

std::string IndexedKey(const std::string& prefix, int index) {
    return prefix + "_" + std::to_string(index);
}

int32_t DefaultLevel(int index) {
    return index >= 6 && index <= 8 ? 100 : 1;
}

int32_t ClampLevel(int32_t level) {
    return std::clamp(level, kMinLevel, kMaxLevel);
}

int32_t ClampPos(int32_t storedPos) {
    return std::clamp(storedPos, -kScrollRange, 0);
}

std::string ExecutableNameFromLink(const std::string& link) {
    std::string path = link;
    static const std::string kDeleted = " (deleted)";
    if (path.size() > kDeleted.size() &&
        path.compare(path.size() - kDeleted.size(), kDeleted.size(), kDeleted) == 0)
        path.erase(path.size() - kDeleted.size());
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string ExecutableName() {
    char buf[4096];
    const ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf);
    if (n <= 0 || size_t(n) >= sizeof buf) return {};
    return ExecutableNameFromLink(std::string(buf, size_t(n)));
}

std::string IniFileNameFor(const std::string& exeName) {
    std::string name = exeName.empty() ? std::string("qzmonitor") : exeName;
    const size_t dot = name.rfind('.');
    if (dot != std::string::npos && dot > 0) name.erase(dot);
    return name + ".ini";
}

std::string SettingsFilePath(const std::string& product, const std::string& exeName) {
    const std::string folder = MakeProductFolder(GetLocalAppDataPath(), product);
    return folder.empty() ? std::string() : folder + IniFileNameFor(exeName);
}

TmonIniFile::TmonIniFile() : TmonIniFile(kMonitorProductName, ExecutableName()) {}

TmonIniFile TmonIniFile::AtPath(const std::string& filePath) {
    TmonIniFile file(TPathTag{}, filePath);
    return file;
}

TmonIniFile::TmonIniFile(const std::string& product, const std::string& exeName)
    : TInMemoryIni(PrepareFile(product, exeName)) {}

std::vector<uint8_t> TmonIniFile::ReadConnectionStream() const {
    std::vector<uint8_t> bytes;
    HexToBytes(ReadString(kConnectionsSection, kConnectionListKey, std::string()), bytes);
    return bytes;
}

void TmonIniFile::WriteConnectionStream(const std::vector<uint8_t>& stream) {
    WriteString(kConnectionsSection, kConnectionListKey, BytesToHex(stream));
}

bool TmonIniFile::LoadConnections(TccnConnectionList& list) const {
    return LoadConnectionList(list).State == TmonListState::Loaded;
}

std::string TmonIniFile::ReadConnectionValue() const {
    return ReadString(kConnectionsSection, kConnectionListKey, std::string());
}

TmonListLoad TmonIniFile::LoadConnectionList(TccnConnectionList& list) const {
    list.Clear();
    TmonListLoad r;
    const std::string value = ReadConnectionValue();
    std::vector<uint8_t> bytes;
    size_t bad = 0;
    if (!HexToBytes(value, bytes, &bad)) {
        r.State = TmonListState::Damaged;
        // The operator looks at the file in a text editor: count characters, not bytes.
        size_t column = 1;
        for (size_t i = 0; i < bad; ++i)
            if ((uint8_t(value[i]) & 0xC0) != 0x80) ++column;
        r.Reason = "Значение содержит символ, не являющийся шестнадцатеричной цифрой (позиция " +
                   std::to_string(column) + ")";
        return r;
    }
    if (bytes.empty()) return r; // an odd single digit holds no byte either
    TccnMemoryStream stream(std::string(bytes.begin(), bytes.end()));
    try {
        list.LoadFromStream(stream, sfBinary);
    } catch (const std::exception& e) {
        list.Clear();
        r.State = TmonListState::Damaged;
        r.Reason = e.what();
        return r;
    }
    r.State = TmonListState::Loaded;
    return r;
}

std::string TmonIniFile::ConnectionBackupPath(std::time_t when) const {
    std::tm t{};
    localtime_r(&when, &t);
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y-%m-%d_%H-%M-%S", &t);
    return FileName() + "." + stamp + ".bak";
}

bool TmonIniFile::WriteConnectionBackup(const std::string& path, std::string* error) const {
    TInMemoryIni copy;
    copy.WriteString(kConnectionsSection, kConnectionListKey, ReadConnectionValue());
    const std::string text = copy.GetText();
    // O_EXCL: a backup already there holds an earlier damaged list; it is never replaced.
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0) {
        if (error) *error = "Не удалось создать файл \"" + path + "\": " + SystemErrorText(errno);
        return false;
    }
    size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        done += size_t(n);
    }
    const bool ok = done == text.size() && ::fsync(fd) == 0;
    const int savedErrno = errno;
    ::close(fd);
    if (!ok) {
        ::unlink(path.c_str());
        if (error)
            *error = "Не удалось записать файл \"" + path + "\": " + SystemErrorText(savedErrno);
        return false;
    }
    return true;
}

void TmonIniFile::SaveConnections(const TccnConnectionList& list) {
    TccnMemoryStream stream;
    list.SaveToStream(stream, sfBinary);
    const std::string& data = stream.Data();
    WriteConnectionStream(std::vector<uint8_t>(data.begin(), data.end()));
}

int32_t TmonIniFile::ReadSelectedID() const {
    return ReadInteger(kConnectionsSection, kSelectedIDKey, kNoSelectedID);
}

void TmonIniFile::WriteSelectedID(int32_t id) {
    WriteInteger(kConnectionsSection, kSelectedIDKey, id);
}

bool TmonIniFile::ReadRecordingOn() const {
    return ReadInteger(kRecordingSection, kRecordingOnKey, 0) != 0;
}

void TmonIniFile::WriteRecordingOn(bool on) {
    WriteInteger(kRecordingSection, kRecordingOnKey, on ? 1 : 0);
}

bool TmonIniFile::ReadLineTraceOn() const {
    return ReadInteger(kLineTraceSection, kLineTraceOnKey, 0) != 0;
}

void TmonIniFile::WriteLineTraceOn(bool on) {
    WriteInteger(kLineTraceSection, kLineTraceOnKey, on ? 1 : 0);
}

bool TmonIniFile::ReadResumeOn() const {
    return ReadInteger(kPollSection, kResumeOnKey, 0) != 0;
}

void TmonIniFile::WriteResumeOn(bool on) {
    WriteInteger(kPollSection, kResumeOnKey, on ? 1 : 0);
}

int32_t TmonIniFile::ReadViewItem(const char* key, int32_t count, int32_t fallback) const {
    const int32_t v = ReadInteger(kViewSection, key, fallback);
    return v >= 0 && v < count ? v : fallback;
}

void TmonIniFile::WriteViewItem(const char* key, int32_t item) {
    WriteInteger(kViewSection, key, item);
}

bool TmonIniFile::ReadSignalOn() const {
    return ReadInteger(kViewSection, kSignalOnKey, 0) != 0;
}

void TmonIniFile::WriteSignalOn(bool on) {
    WriteInteger(kViewSection, kSignalOnKey, on ? 1 : 0);
}

std::vector<int> TmonIniFile::ReadTrendQuantities(bool& found) const {
    std::vector<int> out;
    found = ValueExists(kTrendsSection, kTrendQuantitiesKey);
    const std::string text = ReadString(kTrendsSection, kTrendQuantitiesKey, "");
    size_t at = 0;
    while (at <= text.size()) {
        size_t comma = text.find(',', at);
        if (comma == std::string::npos) comma = text.size();
        const std::string item = text.substr(at, comma - at);
        char* end = nullptr;
        const long v = std::strtol(item.c_str(), &end, 10);
        if (!item.empty() && end && *end == '\0' && v >= 0 && v < 100000) out.push_back(int(v));
        at = comma + 1;
    }
    return out;
}

void TmonIniFile::WriteTrendQuantities(const std::vector<int>& quantities) {
    std::string text;
    for (int q : quantities)
        text += (text.empty() ? "" : ",") + std::to_string(q);
    WriteString(kTrendsSection, kTrendQuantitiesKey, text);
}

int32_t TmonIniFile::ReadLevel(int index) const {
    return ReadInteger(kScaleSection, IndexedKey(kLevelsPrefix, index), DefaultLevel(index));
}

void TmonIniFile::WriteLevel(int index, int32_t value) {
    WriteInteger(kScaleSection, IndexedKey(kLevelsPrefix, index), value);
}

int32_t TmonIniFile::ReadPos(int index) const {
    return ReadInteger(kScaleSection, IndexedKey(kPosPrefix, index), 0);
}

void TmonIniFile::WritePos(int index, int32_t value) {
    WriteInteger(kScaleSection, IndexedKey(kPosPrefix, index), value);
}

bool TmonIniFile::UpdateFile(std::string* error) {
    const std::string folder = FolderWithSlash(FileName());
    if (!folder.empty() && !ForceDirectories(folder, error)) return false;
    return TInMemoryIni::UpdateFile(error);
}

} // namespace qz
