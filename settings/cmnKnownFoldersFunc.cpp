#include "settings/cmnKnownFoldersFunc.h"

#include "common/Assert.h"
#include "common/SystemErrorText.h"
#include "common/XdgDirs.h"

#include <cstring>
#include <filesystem>
#include <system_error>

namespace qz {
namespace {

std::string WithTrailingSlash(std::string path) {
    while (!path.empty() && path.back() == '/')
        path.pop_back();
    return path + '/';
}

} // namespace

bool operator==(const TGUID& a, const TGUID& b) {
    return a.D1 == b.D1 && a.D2 == b.D2 && a.D3 == b.D3 &&
           std::memcmp(a.D4, b.D4, sizeof a.D4) == 0;
}

std::string GetKnownFolderPath(const TGUID& folderId) {
    std::string path;
    if (folderId == FOLDERID_LocalAppData)
        path = XdgDataHome();
    else if (folderId == FOLDERID_Documents)
        path = XdgDocumentsDir();
    return path.empty() ? std::string() : WithTrailingSlash(path);
}

std::string GetLocalAppDataPath() {
    return GetKnownFolderPath(FOLDERID_LocalAppData);
}

std::string GetDocumentsPath() {
    return GetKnownFolderPath(FOLDERID_Documents);
}

std::string MakeProductFolder(const std::string& base, const std::string& product) {
    if (base.empty()) return {};
    std::string out = base;
    if (out.back() != '/') out += '/';
    out += kMakerFolder;
    out += '/';
    out += product;
    out += '/';
    return out;
}

int KnownFolderToCsidl(const TGUID& folderId) {
    if (folderId == FOLDERID_LocalAppData) return 28;
    if (folderId == FOLDERID_Documents) return 5;
    if (folderId == FOLDERID_ProgramData) return 35;
    if (folderId == FOLDERID_PublicDocuments) return 46;
    QZ_ASSERT(false, "Не удалось преобразовать FolderID в CSIDL. Неизвестный FolderID");
    return -1;
}

bool ForceDirectories(const std::string& path, std::string* error) {
    if (path.empty()) {
        if (error) *error = "Не задана папка";
        return false;
    }
    std::error_code ec;
    std::filesystem::create_directories(path, ec);
    if (std::filesystem::is_directory(path)) return true;
    if (error)
        *error = "Не удалось создать папку \"" + path +
                 "\": " + (ec ? SystemErrorText(ec.value()) : std::string("это не папка"));
    return false;
}

} // namespace qz
