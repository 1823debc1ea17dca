#include "platform/ComPorts.h"

#include "common/XdgDirs.h"

#include <cctype>
#include <dirent.h>
#include <set>
#include <sys/stat.h>

namespace qz {

namespace {
constexpr int kMaxPort = 255;

bool Exists(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0; // follows links: a dangling link does not exist
}

bool IsLink(const std::string& path) {
    struct stat st;
    return lstat(path.c_str(), &st) == 0;
}

std::string DefaultDevice(int n) {
    if (n >= 1 && n <= 32) return "/dev/ttyS" + std::to_string(n - 1);
    if (n >= 33 && n <= 64) return "/dev/ttyUSB" + std::to_string(n - 33);
    if (n >= 65 && n <= 96) return "/dev/ttyACM" + std::to_string(n - 65);
    return "";
}

std::string LinkPath(int n) {
    return ComPortLinkFolder() + "/com" + std::to_string(n);
}
} // namespace

int ComPortNumber(const std::string& name) {
    if (name.size() < 4 || name.size() > 6) return 0;
    if (std::toupper(uint8_t(name[0])) != 'C' || std::toupper(uint8_t(name[1])) != 'O' ||
        std::toupper(uint8_t(name[2])) != 'M')
        return 0;
    if (name[3] == '0') return 0;
    int n = 0;
    for (size_t i = 3; i < name.size(); ++i) {
        if (name[i] < '0' || name[i] > '9') return 0;
        n = n * 10 + (name[i] - '0');
    }
    return n >= 1 && n <= kMaxPort ? n : 0;
}

std::string ComPortLinkFolder() {
    return XdgDataHome() + "/VQ/ports";
}

std::string ResolveComPort(const std::string& name) {
    int n = ComPortNumber(name);
    if (n == 0) return "";
    std::string link = LinkPath(n);
    if (IsLink(link)) return link;
    return DefaultDevice(n);
}

std::vector<TComPortInfo> ListComPorts() {
    std::set<int> numbers;
    for (int n = 1; n <= 96; ++n)
        numbers.insert(n);
    if (DIR* d = opendir(ComPortLinkFolder().c_str())) {
        while (dirent* e = readdir(d)) {
            std::string entry = e->d_name;
            if (entry.size() > 3 && entry.compare(0, 3, "com") == 0) {
                int n = ComPortNumber("COM" + entry.substr(3));
                if (n) numbers.insert(n);
            }
        }
        closedir(d);
    }
    std::vector<TComPortInfo> out;
    for (int n : numbers) {
        TComPortInfo info;
        info.Number = n;
        info.Name = "COM" + std::to_string(n);
        info.Device = ResolveComPort(info.Name);
        if (!info.Device.empty() && Exists(info.Device)) out.push_back(info);
    }
    return out;
}

} // namespace qz
