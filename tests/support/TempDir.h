// A private temporary folder for one test, removed with all it holds when the test ends, so
// no test leaves files behind or sees another one's.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>
#include <unistd.h>
#include <vector>

namespace qz::test {

class TempDir {
public:
    // `prefix` names the folder after the tests that made it, to tell leftovers apart.
    // `base` is the folder to make it in (empty: the system's temporary folder).
    explicit TempDir(const std::string& prefix = "qz-test", const std::string& base = "") {
        std::error_code ec;
        std::filesystem::path parent =
            base.empty() ? std::filesystem::temp_directory_path(ec) : std::filesystem::path(base);
        if (ec) parent = "/tmp";
        const std::string tmpl = (parent / (prefix + "-XXXXXX")).string();
        std::vector<char> buf(tmpl.begin(), tmpl.end());
        buf.push_back('\0');
        if (::mkdtemp(buf.data())) path_ = buf.data();
    }
    ~TempDir() {
        std::error_code ec;
        if (!path_.empty()) std::filesystem::remove_all(path_, ec);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    // Empty when the folder could not be made.
    const std::string& Path() const { return path_; }
    std::string operator/(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

} // namespace qz::test
