// Small helpers the qzcli tests share: a temporary folder, the lines of a text, and a
// temporary $XDG_DATA_HOME under which COMn override links are made.
#pragma once

#include "tests/support/EnvGuard.h"
#include "tests/support/TempDir.h"

#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

namespace qz {
namespace clitest {

using test::TempDir;

// The non-empty lines of a text (a CR before the LF is dropped).
inline std::vector<std::string> Lines(const std::string& s) {
    std::vector<std::string> out;
    std::istringstream in(s);
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (!line.empty()) out.push_back(line);
    }
    return out;
}

// Sets an environment variable for the life of the object and puts the old value back.
using ScopedEnv = test::EnvGuard;

// Makes COM<n> resolve to `device` through the override folder below a new data folder in
// `dir`, and points $XDG_DATA_HOME there while the object lives.
class ComOverride {
public:
    ComOverride(const std::string& dir, int n, const std::string& device)
        : env_("XDG_DATA_HOME", dir + "/data") {
        const std::string ports = dir + "/data/VQ/ports";
        std::filesystem::create_directories(ports);
        const std::string link = ports + "/com" + std::to_string(n);
        std::error_code ec;
        std::filesystem::remove(link, ec);
        std::filesystem::create_symlink(device, link);
    }

private:
    ScopedEnv env_;
};

} // namespace clitest
} // namespace qz
