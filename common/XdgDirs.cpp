#include "common/XdgDirs.h"

#include <cstdlib>
#include <fstream>
#include <pwd.h>
#include <unistd.h>

namespace qz {
namespace {

std::string Env(const char* name) {
    const char* v = std::getenv(name);
    return v ? std::string(v) : std::string();
}

bool IsAbsolute(const std::string& p) {
    return !p.empty() && p[0] == '/';
}

// The value of KEY="..." in a user-dirs.dirs file, with a leading $HOME expanded.
std::string ReadUserDirsKey(const std::string& file, const std::string& key) {
    std::ifstream in(file);
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind(key + "=", 0) != 0) continue;
        std::string v = line.substr(key.size() + 1);
        if (v.size() >= 2 && v.front() == '"' && v.back() == '"') v = v.substr(1, v.size() - 2);
        if (v.rfind("$HOME", 0) == 0) v = HomeDir() + v.substr(5);
        return IsAbsolute(v) ? v : std::string();
    }
    return {};
}

} // namespace

std::string HomeDir() {
    std::string h = Env("HOME");
    if (IsAbsolute(h)) return h;
    if (const passwd* pw = getpwuid(getuid()); pw && pw->pw_dir) return pw->pw_dir;
    return "/tmp";
}

std::string XdgDataHome() {
    const std::string v = Env("XDG_DATA_HOME");
    return IsAbsolute(v) ? v : HomeDir() + "/.local/share";
}

std::string XdgConfigHome() {
    const std::string v = Env("XDG_CONFIG_HOME");
    return IsAbsolute(v) ? v : HomeDir() + "/.config";
}

std::string XdgDocumentsDir() {
    const std::string v = Env("XDG_DOCUMENTS_DIR");
    if (IsAbsolute(v)) return v;
    const std::string fromFile =
        ReadUserDirsKey(XdgConfigHome() + "/user-dirs.dirs", "XDG_DOCUMENTS_DIR");
    if (!fromFile.empty()) return fromFile;
    return HomeDir() + "/Documents";
}

} // namespace qz
