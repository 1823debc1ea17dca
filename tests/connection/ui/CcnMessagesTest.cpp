// The real message boxes: Russian button names whatever the toolkit's translations, and an
// owner that keeps the box above the window the operator is working in.
#include "CcnUITestSupport.h"

#include <QPushButton>
#include <QTimer>

namespace qz {
namespace {

// Runs `check` on the box once it is open, then presses the button named `press`.
void WhenBoxOpens(std::function<void(QMessageBox&)> check, const QString& press) {
    QTimer::singleShot(0, [check, press] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        ASSERT_TRUE(box) << "no box open";
        check(*box);
        for (QAbstractButton* b : box->buttons())
            if (b->text() == press) return b->click();
        ADD_FAILURE() << "no button " << press.toStdString();
        box->reject();
    });
}

QStringList ButtonTexts(QMessageBox& box) {
    QStringList out;
    for (QAbstractButton* b : box.buttons())
        out << b->text();
    out.sort();
    return out;
}

TEST(CcnMessageBoxes, QuestionSaysDaNetAndAnswers) {
    QWidget main;
    main.show();
    TccnMessageBoxes boxes;
    WhenBoxOpens(
        [](QMessageBox& box) {
            EXPECT_EQ(ButtonTexts(box),
                      (QStringList{QString::fromUtf8("Да"), QString::fromUtf8("Нет")}));
            EXPECT_EQ(box.text().toStdString(), "Удалить выделенное подключение?");
            EXPECT_EQ(box.windowTitle().toStdString(), "Монитор Каврен-QZ2");
            EXPECT_EQ(box.icon(), QMessageBox::Question);
        },
        QString::fromUtf8("Нет"));
    EXPECT_FALSE(boxes.Question(&main, "Удалить выделенное подключение?"));
    WhenBoxOpens([](QMessageBox&) {}, QString::fromUtf8("Да"));
    EXPECT_TRUE(boxes.Question(&main, "Удалить выделенное подключение?"));

    WhenBoxOpens(
        [](QMessageBox& box) {
            EXPECT_EQ(ButtonTexts(box), QStringList{QString::fromUtf8("ОК")});
            EXPECT_EQ(box.icon(), QMessageBox::Critical);
            EXPECT_EQ(box.text().toStdString(), "Не задан IP-адрес\nвторая строка");
        },
        QString::fromUtf8("ОК"));
    boxes.Error(&main, "Не задан IP-адрес\r\nвторая строка");
}

TEST(CcnMessageBoxes, EveryStandardButtonOfOursIsRussian) {
    QMessageBox box(QMessageBox::Warning, "t", "x",
                    QMessageBox::Ok | QMessageBox::Cancel | QMessageBox::Yes | QMessageBox::No);
    NameStandardButtons(box);
    EXPECT_EQ(box.button(QMessageBox::Ok)->text(), QString::fromUtf8("ОК"));
    EXPECT_EQ(box.button(QMessageBox::Cancel)->text(), QString::fromUtf8("Отмена"));
    EXPECT_EQ(box.button(QMessageBox::Yes)->text(), QString::fromUtf8("Да"));
    EXPECT_EQ(box.button(QMessageBox::No)->text(), QString::fromUtf8("Нет"));
}

// The box is owned by the window the operator works in, even when it is asked for on behalf
// of another one; an open modal dialog comes first.
TEST(CcnMessageBoxes, TheBoxBelongsToTheWindowOnTop) {
    QWidget main;
    main.show();
    auto* tool = new QWidget(&main, Qt::Tool);
    tool->show();
    QApplication::setActiveWindow(tool);
    EXPECT_EQ(BoxOwner(&main), tool);
    QApplication::setActiveWindow(&main);
    EXPECT_EQ(BoxOwner(tool), &main);

    WhenBoxOpens([tool](QMessageBox& box) { EXPECT_EQ(box.parentWidget(), tool); },
                 QString::fromUtf8("ОК"));
    QApplication::setActiveWindow(tool);
    RunMessageBox(&main, QMessageBox::Warning, "Внимание", "x", QMessageBox::Ok, QMessageBox::Ok);

    QDialog dialog(&main);
    dialog.setModal(true);
    dialog.show();
    EXPECT_EQ(BoxOwner(&main), &dialog);
}

} // namespace
} // namespace qz
