#include "common/XdgDirs.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

// Sets environment variables for one test and puts the old values back afterwards.
class EnvGuard {
public:
    void Set(const char* name, const char* value) {
        const char* old = std::getenv(name);
        saved_.push_back({name, old ? std::string(old) : std::string(), old != nullptr});
        if (value)
            setenv(name, value, 1);
        else
            unsetenv(name);
    }
    ~EnvGuard() {
        for (auto it = saved_.rbegin(); it != saved_.rend(); ++it) {
            if (it->had)
                setenv(it->name.c_str(), it->value.c_str(), 1);
            else
                unsetenv(it->name.c_str());
        }
    }

private:
    struct Saved {
        std::string name, value;
        bool had;
    };
    std::vector<Saved> saved_;
};

} // namespace

TEST(XdgDirs, FollowTheEnvironmentAndFallBackToHome) {
    EnvGuard env;
    env.Set("HOME", "/home/op");
    env.Set("XDG_DATA_HOME", nullptr);
    env.Set("XDG_CONFIG_HOME", "/nonexistent-config");
    env.Set("XDG_DOCUMENTS_DIR", nullptr);
    EXPECT_EQ(qz::XdgDataHome(), "/home/op/.local/share");
    EXPECT_EQ(qz::XdgDocumentsDir(), "/home/op/Documents");
    env.Set("XDG_DATA_HOME", "relative/is/ignored");
    EXPECT_EQ(qz::XdgDataHome(), "/home/op/.local/share");
    env.Set("XDG_DATA_HOME", "/data");
    EXPECT_EQ(qz::XdgDataHome(), "/data");
}

TEST(XdgDirs, DocumentsFromUserDirsFile) {
    namespace fs = std::filesystem;
    const fs::path dir = fs::temp_directory_path() / ("qz-xdg-" + std::to_string(getpid()));
    fs::create_directories(dir);
    {
        std::ofstream f(dir / "user-dirs.dirs");
        f << "# comment\nXDG_DESKTOP_DIR=\"$HOME/Desk\"\nXDG_DOCUMENTS_DIR=\"$HOME/Документы\"\n";
    }
    EnvGuard env;
    env.Set("HOME", "/home/op");
    env.Set("XDG_CONFIG_HOME", dir.c_str());
    env.Set("XDG_DOCUMENTS_DIR", nullptr);
    EXPECT_EQ(qz::XdgDocumentsDir(), "/home/op/Документы");
    fs::remove_all(dir);
}
