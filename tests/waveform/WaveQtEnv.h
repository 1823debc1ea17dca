// One offscreen QApplication for the waveform window tests, a private home folder so no test
// touches the real one, and event helpers.
#pragma once

#include <QApplication>
#include <QMouseEvent>
#include <QWheelEvent>
#include <QWidget>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <unistd.h>
#include <vector>

namespace qz::test {

class WaveQtEnvironment : public ::testing::Environment {
public:
    void SetUp() override {
        if (!std::getenv("QT_QPA_PLATFORM")) ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
        static int argc = 1;
        static char name[] = "test_waveform";
        static char* argv[] = {name, nullptr};
        App = new QApplication(argc, argv);
    }
    void TearDown() override {
        delete App;
        App = nullptr;
        std::error_code ec;
        if (!Folder.empty()) std::filesystem::remove_all(Folder, ec);
    }
    static inline QApplication* App = nullptr;
    static inline std::string Folder;
};

inline ::testing::Environment* const kWaveQtEnvironment =
    ::testing::AddGlobalTestEnvironment(new WaveQtEnvironment);

inline void SendMouse(QWidget* w, QEvent::Type type, QPoint pos, Qt::MouseButton button,
                      Qt::KeyboardModifiers mods = Qt::NoModifier) {
    const Qt::MouseButtons buttons = type == QEvent::MouseButtonRelease ? Qt::NoButton
                                     : type == QEvent::MouseMove        ? Qt::MouseButtons()
                                                                        : button;
    QMouseEvent e(type, QPointF(pos), QPointF(w->mapToGlobal(pos)), button, buttons, mods);
    QApplication::sendEvent(w, &e);
}

// A move while `held` stays pressed (a drag).
inline void DragMove(QWidget* w, QPoint pos, Qt::MouseButtons held,
                     Qt::KeyboardModifiers mods = Qt::NoModifier) {
    QMouseEvent e(QEvent::MouseMove, QPointF(pos), QPointF(w->mapToGlobal(pos)), Qt::NoButton, held,
                  mods);
    QApplication::sendEvent(w, &e);
}

inline void Click(QWidget* w, QPoint pos, Qt::MouseButton button,
                  Qt::KeyboardModifiers mods = Qt::NoModifier) {
    SendMouse(w, QEvent::MouseMove, pos, Qt::NoButton, mods);
    SendMouse(w, QEvent::MouseButtonPress, pos, button, mods);
    SendMouse(w, QEvent::MouseButtonRelease, pos, button, mods);
}

inline void SendWheel(QWidget* w, QPoint pos, int dy, Qt::KeyboardModifiers mods = Qt::NoModifier) {
    QWheelEvent e(QPointF(pos), QPointF(w->mapToGlobal(pos)), QPoint(), QPoint(0, dy), Qt::NoButton,
                  mods, Qt::NoScrollPhase, false);
    QApplication::sendEvent(w, &e);
}

} // namespace qz::test
