// The main window's keyboard (its controls' keys previewed, F2 to F4) and its message boxes.
#include "monitor/monMain.h"
#include "monitor/monMainParts.h"

#include "connection/ui/CcnMessages.h"

#include <QApplication>
#include <QCheckBox>
#include <QKeyEvent>
#include <QMessageBox>
#include <QPushButton>
#include <QScrollBar>

namespace qz {

bool TForm1::eventFilter(QObject* obj, QEvent* e) {
    // The window previews the keys of all its controls.
    if (e->type() != QEvent::KeyPress && e->type() != QEvent::KeyRelease) return false;
    // A key reaches the filter once for each widget it passes: at the focused control, then
    // at each parent the control left it to, up to this window. It is taken once, at the
    // first of them (the window itself when none of its controls has the focus); a key taken
    // again at the window saved "Сохранить" twice for one F2.
    QWidget* focus = QApplication::focusWidget();
    QObject* first = focus && focus->window() == this ? static_cast<QObject*>(focus) : this;
    if (obj != first) return false;
    auto* k = static_cast<QKeyEvent*>(e);
    if (e->type() == QEvent::KeyPress) {
        FormKeyDown(k);
        return false; // the control gets the key as well
    }
    // A key the window acted on goes no further: a box it opened moves the focus, and the
    // key passing on to the parents would then be taken again at the window.
    return FormKeyUp(k);
}

void TForm1::FormKeyDown(QKeyEvent* k) {
    const bool keypad = k->modifiers() & Qt::KeypadModifier;
    switch (k->key()) {
    case Qt::Key_Up:
        C.ScrollBar1->setValue(C.ScrollBar1->value() - 1);
        break;
    case Qt::Key_Down:
        C.ScrollBar1->setValue(C.ScrollBar1->value() + 1);
        break;
    case Qt::Key_Plus:
        if (keypad) C.BInc->click();
        break;
    case Qt::Key_Minus:
        if (keypad) C.BDec->click();
        break;
    default:
        break;
    }
}

bool TForm1::FormKeyUp(QKeyEvent* k) {
    if (k->isAutoRepeat()) return false;
    if (k->key() == Qt::Key_F2) {
        SaveMeasurements(); // does nothing while "Сохранить" is disabled
    } else if (k->key() == Qt::Key_F3) {
        if (C.ChkRecord->isEnabled()) C.ChkRecord->toggle();
    } else if (k->key() == Qt::Key_F4 && k->modifiers() == Qt::NoModifier) {
        ShowTrends(); // Alt+F4 stays the desktop's close
    } else {
        return false;
    }
    k->accept();
    return true;
}

void TForm1::ShowMessage(const char* caption, TmonMessageIcon icon, const std::string& text) {
    FOpt.Messages->Show(caption, icon, text);
}

// --- message boxes ---

bool TmonMessageBoxes::Ask(const std::string& caption, const std::string& text) {
    return RunMessageBox(FParent, QMessageBox::Question, Q(caption), Q(text),
                         QMessageBox::Yes | QMessageBox::No, QMessageBox::No) == QMessageBox::Yes;
}

void TmonMessageBoxes::Show(const std::string& caption, TmonMessageIcon icon,
                            const std::string& text) {
    QMessageBox::Icon i = icon == TmonMessageIcon::Error     ? QMessageBox::Critical
                          : icon == TmonMessageIcon::Warning ? QMessageBox::Warning
                                                             : QMessageBox::Information;
    RunMessageBox(FParent, i, Q(caption), Q(text), QMessageBox::Ok, QMessageBox::Ok);
}

} // namespace qz
