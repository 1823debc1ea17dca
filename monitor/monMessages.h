// Message boxes of the main window behind a small interface, so tests see what the operator
// would be told.
#pragma once

#include <string>

class QWidget;

namespace qz {

enum class TmonMessageIcon { Information, Warning, Error };

class ImonMessages {
public:
    virtual ~ImonMessages() = default;
    // Shows a modal message; returns when the operator closed it.
    virtual void Show(const std::string& caption, TmonMessageIcon icon,
                      const std::string& text) = 0;
    // Asks a question with "Да" and "Нет"; true for "Да". A view with no one to ask (a
    // test's, a benchmark's) answers "Да".
    virtual bool Ask(const std::string& caption, const std::string& text) {
        (void)caption;
        (void)text;
        return true;
    }
};

// The real message boxes (QMessageBox), owned by `parent`'s window.
class TmonMessageBoxes : public ImonMessages {
public:
    explicit TmonMessageBoxes(QWidget* parent) : FParent(parent) {}
    void Show(const std::string& caption, TmonMessageIcon icon, const std::string& text) override;
    bool Ask(const std::string& caption, const std::string& text) override;

private:
    QWidget* FParent;
};

} // namespace qz
