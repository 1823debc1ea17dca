// Error boxes and Yes/No questions of the connection dialogs behind a small interface, so
// tests can see what the operator would be told and answer the questions; and the one way
// every box of the program is built.
#pragma once

#include <QMessageBox>

#include <string>

class QWidget;

namespace qz {

class IccnMessages {
public:
    virtual ~IccnMessages() = default;
    // An error box captioned with the application title.
    virtual void Error(QWidget* parent, const std::string& text) = 0;
    // A question with Yes/No buttons and the question icon; true for Yes.
    virtual bool Question(QWidget* parent, const std::string& text) = 0;
};

// The real message boxes.
class TccnMessageBoxes : public IccnMessages {
public:
    void Error(QWidget* parent, const std::string& text) override;
    bool Question(QWidget* parent, const std::string& text) override;
};

// The process-wide real boxes, used when a window is given none.
IccnMessages& DefaultMessages();

// The window a box is to stand above: an open modal dialog of ours, else the active window
// of ours, else the window of `parent`. A box owned by it is kept above it by the window
// manager, so no window of ours hides the box.
QWidget* BoxOwner(QWidget* parent);

// Russian names of the standard buttons, so the boxes read the same with and without the
// toolkit's own translations: "ОК", "Отмена", "Да", "Нет".
QString StandardButtonText(QMessageBox::StandardButton button);
void NameStandardButtons(QMessageBox& box);

// A modal box owned by BoxOwner(parent) with Russian button names; the button pressed.
QMessageBox::StandardButton RunMessageBox(QWidget* parent, QMessageBox::Icon icon,
                                          const QString& caption, const QString& text,
                                          QMessageBox::StandardButtons buttons,
                                          QMessageBox::StandardButton defaultButton);

} // namespace qz
