#include "connection/ui/CcnMessages.h"

#include <QApplication>
#include <QMessageBox>

namespace qz {

void TccnMessageBoxes::Error(QWidget* parent, const std::string& text) {
    QMessageBox::critical(parent, QApplication::applicationName(), QString::fromStdString(text));
}

bool TccnMessageBoxes::Question(QWidget* parent, const std::string& text) {
    return QMessageBox::question(parent, QApplication::applicationName(),
                                 QString::fromStdString(text),
                                 QMessageBox::Yes | QMessageBox::No) == QMessageBox::Yes;
}

IccnMessages& DefaultMessages() {
    static TccnMessageBoxes boxes;
    return boxes;
}

} // namespace qz
