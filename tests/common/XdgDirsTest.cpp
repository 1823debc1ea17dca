#include "common/XdgDirs.h"
#include "tests/support/EnvGuard.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <string>
#include <unistd.h>
#include <vector>

using qz::test::EnvGuard;

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
