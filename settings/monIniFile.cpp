#include "settings/monIniFile.h"

#include "connection/CcnConnectionList.h"
#include "settings/HexText.h"
#include "settings/cmnKnownFoldersFunc.h"

#include <algorithm>
#include <unistd.h>

namespace qz {
namespace {

std::string FolderOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

// Computes the file name and creates its folder before the file is read.
std::string PrepareFile(const std::string& product, const std::string& exeName) {
    const std::string path = SettingsFilePath(product, exeName);
    if (!path.empty()) ForceDirectories(FolderOf(path));
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
    const std::vector<uint8_t> bytes = ReadConnectionStream();
    if (bytes.empty()) {
        list.Clear();
        return false;
    }
    TccnMemoryStream stream(std::string(bytes.begin(), bytes.end()));
    return list.TryLoadFromStream(stream, sfBinary);
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
    const std::string folder = FolderOf(FileName());
    if (!folder.empty() && !ForceDirectories(folder, error)) return false;
    return TInMemoryIni::UpdateFile(error);
}

} // namespace qz
