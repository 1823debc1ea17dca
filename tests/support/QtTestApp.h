// One offscreen QApplication for a window test program, with a private home folder so that
// no test reads or writes the operator's own settings, and a wait that keeps the event loop
// turning. Header-only: only the window tests, which link Qt already, include it.
#pragma once

#include "tests/support/TempDir.h"

#include <QApplication>
#include <QElapsedTimer>

#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <memory>
#include <string>

namespace qz::test {

class QtTestEnvironment : public ::testing::Environment {
public:
    // `program` is the program's name the application is given; `applicationName` (when
    // given) the name the windows show and file their settings under.
    explicit QtTestEnvironment(std::string program, QString applicationName = {})
        : FProgram(std::move(program)), FApplicationName(std::move(applicationName)) {}

    void SetUp() override {
        if (!std::getenv("QT_QPA_PLATFORM")) ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
        FHome = std::make_unique<TempDir>("qz-" + FProgram);
        Folder = FHome->Path();
        ::setenv("XDG_DATA_HOME", (Folder + "/data").c_str(), 1);
        ::setenv("HOME", Folder.c_str(), 1);
        FArgv[0] = FProgram.data();
        App = new QApplication(FArgc, FArgv);
        if (!FApplicationName.isEmpty()) QApplication::setApplicationName(FApplicationName);
    }
    void TearDown() override {
        delete App;
        App = nullptr;
        FHome.reset();
    }

    // The private home folder (also $HOME; $XDG_DATA_HOME is its "data" folder).
    static inline std::string Folder;
    static inline QApplication* App = nullptr;

private:
    std::string FProgram;
    QString FApplicationName;
    std::unique_ptr<TempDir> FHome;
    int FArgc = 1;
    char* FArgv[2] = {nullptr, nullptr};
};

// Turns the event loop until `done` holds or `ms` milliseconds have passed; says whether
// it holds.
inline bool WaitUntil(const std::function<bool()>& done, int ms) {
    QElapsedTimer t;
    t.start();
    while (!done() && t.elapsed() < ms)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    return done();
}

} // namespace qz::test
