#include "connection/ui/CcnMessages.h"

#include <QApplication>
#include <QPushButton>

namespace qz {

void TccnMessageBoxes::Error(QWidget* parent, const std::string& text) {
    RunMessageBox(parent, QMessageBox::Critical, QApplication::applicationName(),
                  QString::fromStdString(text), QMessageBox::Ok, QMessageBox::Ok);
}

bool TccnMessageBoxes::Question(QWidget* parent, const std::string& text) {
    return RunMessageBox(parent, QMessageBox::Question, QApplication::applicationName(),
                         QString::fromStdString(text), QMessageBox::Yes | QMessageBox::No,
                         QMessageBox::Yes) == QMessageBox::Yes;
}

IccnMessages& DefaultMessages() {
    static TccnMessageBoxes boxes;
    return boxes;
}

QWidget* BoxOwner(QWidget* parent) {
    if (QWidget* modal = QApplication::activeModalWidget()) return modal;
    if (QWidget* active = QApplication::activeWindow()) return active;
    return parent ? parent->window() : nullptr;
}

QString StandardButtonText(QMessageBox::StandardButton button) {
    switch (button) {
    case QMessageBox::Ok:
        return QString::fromUtf8("ОК");
    case QMessageBox::Cancel:
        return QString::fromUtf8("Отмена");
    case QMessageBox::Yes:
        return QString::fromUtf8("Да");
    case QMessageBox::No:
        return QString::fromUtf8("Нет");
    case QMessageBox::Close:
        return QString::fromUtf8("Закрыть");
    default:
        return QString();
    }
}

void NameStandardButtons(QMessageBox& box) {
    for (QAbstractButton* b : box.buttons()) {
        const QString text = StandardButtonText(box.standardButton(b));
        if (!text.isEmpty()) b->setText(text);
    }
}

QMessageBox::StandardButton RunMessageBox(QWidget* parent, QMessageBox::Icon icon,
                                          const QString& caption, const QString& text,
                                          QMessageBox::StandardButtons buttons,
                                          QMessageBox::StandardButton defaultButton) {
    QString t = text;
    t.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    QMessageBox box(icon, caption, t, buttons, BoxOwner(parent));
    if (defaultButton != QMessageBox::NoButton) box.setDefaultButton(defaultButton);
    NameStandardButtons(box);
    box.exec();
    return box.standardButton(box.clickedButton());
}

} // namespace qz
