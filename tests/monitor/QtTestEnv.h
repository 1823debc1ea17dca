// One QApplication (offscreen) for the window tests, and a private settings folder so no
// test touches the real home folder.
#pragma once

#include <QApplication>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <unistd.h>
#include <vector>

namespace qz::test {

class QtEnvironment : public ::testing::Environment {
public:
    void SetUp() override {
        if (!std::getenv("QT_QPA_PLATFORM")) ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
        std::string tmpl = (std::filesystem::temp_directory_path() / "qz-monitor-XXXXXX").string();
        std::vector<char> buf(tmpl.begin(), tmpl.end());
        buf.push_back('\0');
        if (::mkdtemp(buf.data())) Folder = buf.data();
        ::setenv("XDG_DATA_HOME", (Folder + "/data").c_str(), 1);
        ::setenv("HOME", Folder.c_str(), 1);
        static int argc = 1;
        static char name[] = "test_monitor";
        static char* argv[] = {name, nullptr};
        App = new QApplication(argc, argv);
    }
    void TearDown() override {
        delete App;
        App = nullptr;
        std::error_code ec;
        if (!Folder.empty()) std::filesystem::remove_all(Folder, ec);
    }
    static inline std::string Folder;
    static inline QApplication* App = nullptr;
};

inline ::testing::Environment* const kQtEnvironment =
    ::testing::AddGlobalTestEnvironment(new QtEnvironment);

} // namespace qz::test
