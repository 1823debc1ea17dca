// One offscreen QApplication for the waveform window tests, a private home folder so no test
// touches the real one, and event helpers.
#pragma once

#include "tests/support/QtTestApp.h"

#include <QApplication>
#include <QMouseEvent>
#include <QWheelEvent>
#include <QWidget>

#include <gtest/gtest.h>

namespace qz::test {

inline ::testing::Environment* const kWaveQtEnvironment =
    ::testing::AddGlobalTestEnvironment(new QtTestEnvironment("test_waveform"));

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
