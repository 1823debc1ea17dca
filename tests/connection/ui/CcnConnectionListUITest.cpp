// The connection-list window: tree and grid, owner drawing, marks, add, copy, edit, delete
// and select, and the main window's dialog with the settings file.
#include "CcnUITestSupport.h"

#include "common/Assert.h"
#include "connection/ui/CcnConnectionListUI.h"

#include <QComboBox>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QSpinBox>
#include <QStyle>
#include <QTableWidget>
#include <QTest>
#include <QTreeWidget>

#include <gtest/gtest.h>

namespace qz {
namespace {

using test::AddTo;

class ConnectionList : public ::testing::Test {
protected:
    void SetUp() override {
        test::App();
        test::MonitorOptions(Options);
        SetComPortLister([] { return std::vector<TComPortInfo>{{1, "COM1", "/dev/ttyS0"}}; });
    }
    void TearDown() override { SetComPortLister(nullptr); }

    TccnConnectionListForm& Open() {
        Form = std::make_unique<TccnConnectionListForm>(nullptr, &Options, &List, &Messages);
        Form->Frame->ExecEditor = [this](TccnEditConnectionForm& f) {
            ++EditorRuns;
            if (EditorAction) EditorAction(f);
            f.btnOkClick();
            return f.result();
        };
        return *Form;
    }
    TccnConnectionListFrame& F() { return *Form->Frame; }
    QTreeWidgetItem* Root() { return F().tvDevice->topLevelItem(0); }
    void SelectRows(int first, int last) {
        F().SetCurrentRow(first);
        auto* grid = F().grdConnection;
        grid->selectionModel()->select(
            QItemSelection(grid->model()->index(first, 0), grid->model()->index(last, 5)),
            QItemSelectionModel::ClearAndSelect);
    }
    int32_t RowID(int row) {
        TccnConnection* c = F().RowConnection(row);
        return c ? c->ConID : -100;
    }

    TccnConnectionListUIOptions Options;
    TccnConnectionList List;
    test::TFakeMessages Messages;
    std::unique_ptr<TccnConnectionListForm> Form;
    std::function<void(TccnEditConnectionForm&)> EditorAction;
    int EditorRuns = 0;
};

TEST_F(ConnectionList, EmptyListShowsTheRootAndOneEmptyRowAndRefusesEverything) {
    Open();
    EXPECT_EQ(Form->windowTitle(), QString::fromUtf8("Список подключений"));
    ASSERT_EQ(F().tvDevice->topLevelItemCount(), 1);
    EXPECT_EQ(Root()->text(0), QString::fromUtf8("Измерители"));
    EXPECT_EQ(Root()->childCount(), 0);
    EXPECT_EQ(F().RowCount(), 1);
    EXPECT_EQ(F().RowConnection(0), nullptr);
    EXPECT_EQ(F().ChosenID(), -1);

    F().ActionEditExecute();
    F().ActionAddOnTemplateExecute();
    F().ActionDeleteExecute();
    EXPECT_EQ(EditorRuns, 0);
    EXPECT_TRUE(Messages.Questions.empty());
    EXPECT_EQ(List.Count(), 0u);

    Form->ActionSelectExecute();
    ASSERT_EQ(Messages.Errors.size(), 1u);
    EXPECT_EQ(Messages.Errors[0], "Таблица подключений пуста");
    EXPECT_NE(Form->result(), 1);
}

TEST_F(ConnectionList, GridHeaderWidthsAndRowHeight) {
    AddTo(List, dtQZ2, 1);
    Open();
    auto* g = F().grdConnection;
    ASSERT_EQ(g->columnCount(), 6);
    const char* headers[] = {"А",        "Тип измерителя",  "Зав. №",
                             "Протокол", "Тип подключения", "Параметры подключения"};
    for (int c = 0; c < 6; ++c)
        EXPECT_EQ(g->horizontalHeaderItem(c)->text(), QString::fromUtf8(headers[c]));
    EXPECT_TRUE(g->isColumnHidden(0)); // no marks column without multi-select
    const int widths[] = {130, 50, 70, 100};
    for (int c = 1; c <= 4; ++c)
        EXPECT_EQ(g->columnWidth(c), widths[c - 1]);
    EXPECT_EQ(g->rowHeight(0), 30);
    // A wider window leaves the widths as they are, the last one too.
    Form->resize(1400, 600);
    Form->show();
    QApplication::processEvents();
    ASSERT_GT(g->viewport()->width(), 130 + 50 + 70 + 100 + 185);
    EXPECT_EQ(g->columnWidth(5), 185);
    EXPECT_EQ(g->columnWidth(4), 100);
    // Every caption fits its column within the header's height, on two lines if need be.
    QHeaderView* h = g->horizontalHeader();
    EXPECT_TRUE(h->defaultAlignment() & Qt::TextWordWrap);
    EXPECT_EQ(h->textElideMode(), Qt::ElideNone);
    const QFontMetrics fm(h->font());
    const int margin = g->style()->pixelMetric(QStyle::PM_HeaderMargin, nullptr, h);
    for (int c = 1; c < 6; ++c) {
        const QRect room(0, 0, g->columnWidth(c) - 2 * margin, 1000);
        const QRect need =
            fm.boundingRect(room, int(h->defaultAlignment()), g->horizontalHeaderItem(c)->text());
        EXPECT_LE(need.width(), room.width()) << c;
        EXPECT_LE(need.height(), h->height()) << c;
    }
    EXPECT_EQ(g->selectionBehavior(), QAbstractItemView::SelectRows);
    EXPECT_EQ(g->selectionMode(), QAbstractItemView::ContiguousSelection);
}

TEST_F(ConnectionList, TreeFiltersTheGrid) {
    AddTo(List, dtQZ2M, 5);
    AddTo(List, dtQZ2, 2);
    AddTo(List, dtQZ2, 1);
    AddTo(List, dtQZ2, 2, cmtDirectTCPIP);
    Open();
    ASSERT_EQ(Root()->childCount(), 2);
    EXPECT_TRUE(Root()->isExpanded());
    EXPECT_EQ(F().tvDevice->currentItem(), Root());
    EXPECT_EQ(F().RowCount(), 4);
    // Sorted by type, then number.
    EXPECT_EQ(F().RowConnection(0)->CustomDevice()->FactoryNum(), 1);
    EXPECT_EQ(F().RowConnection(3)->CustomDevice()->DeviceType(), dtQZ2M);
    EXPECT_EQ(F().grdConnection->item(3, 1)->text(), QString::fromUtf8("Каврен–QZ2М"));

    QTreeWidgetItem* qz2 = Root()->child(0);
    EXPECT_EQ(qz2->text(0), QString::fromUtf8("Каврен–QZ2"));
    ASSERT_EQ(qz2->childCount(), 2);
    F().tvDevice->setCurrentItem(qz2);
    EXPECT_EQ(F().RowCount(), 3);
    F().tvDevice->setCurrentItem(qz2->child(1));
    EXPECT_EQ(F().SelectedKey(), (TccnDeviceKey{dtQZ2, 2}));
    EXPECT_EQ(F().RowCount(), 2);
    EXPECT_EQ(F().grdConnection->item(1, 4)->text(), "TCP/IP");
}

TEST_F(ConnectionList, SelectByIdentifierSelectsNodeAndRow) {
    AddTo(List, dtQZ2, 1);
    const int32_t id = AddTo(List, dtQZ2C, 9);
    Open();
    F().SelectConnectionByID(id, TccnConnectionListFrame::scGridRow);
    EXPECT_EQ(F().ChosenID(), id);
    F().SelectConnectionByID(id, TccnConnectionListFrame::scTreeNode);
    EXPECT_EQ(F().SelectedKey(), (TccnDeviceKey{dtQZ2C, 9}));
    EXPECT_EQ(F().RowCount(), 1);
    // Not shown: the first row.
    F().tvDevice->setCurrentItem(Root()->child(0));
    F().SelectConnectionByID(id, TccnConnectionListFrame::scGridRow);
    EXPECT_EQ(F().CurrentRow(), 0);
}

TEST_F(ConnectionList, DeletingTheLastRowsMakesTheRowBeforeCurrent) {
    int32_t ids[5];
    for (int i = 0; i < 5; ++i)
        ids[i] = AddTo(List, dtQZ2, i + 1);
    Open();
    SelectRows(3, 4);
    Messages.Answers = {true};
    F().ActionDeleteExecute();
    ASSERT_EQ(Messages.Questions.size(), 1u);
    EXPECT_EQ(Messages.Questions[0], "Удалить выделенные подключения (2)?");
    EXPECT_EQ(List.Count(), 3u);
    EXPECT_EQ(F().RowCount(), 3);
    EXPECT_EQ(F().ChosenID(), ids[2]);
    // Their number nodes went with them.
    EXPECT_EQ(Root()->child(0)->childCount(), 3);
}

TEST_F(ConnectionList, DeletingOneRowMakesTheNextCurrentAndNoChangesNothing) {
    int32_t ids[3];
    for (int i = 0; i < 3; ++i)
        ids[i] = AddTo(List, dtQZ2, i + 1);
    Open();
    SelectRows(1, 1);
    Messages.Answers = {false};
    F().ActionDeleteExecute();
    EXPECT_EQ(Messages.Questions.back(), "Удалить выделенное подключение?");
    EXPECT_EQ(List.Count(), 3u);

    Messages.Answers = {true};
    F().ActionDeleteExecute();
    EXPECT_EQ(List.Count(), 2u);
    EXPECT_EQ(List.FindByID(ids[1]), nullptr);
    EXPECT_EQ(F().ChosenID(), ids[2]);
}

TEST_F(ConnectionList, DeletingTheLastConnectionOfATypeRemovesItsNode) {
    AddTo(List, dtQZ2, 1);
    AddTo(List, dtQZ2M, 2);
    Open();
    F().tvDevice->setCurrentItem(Root()->child(1)->child(0)); // QZ2M № 2
    ASSERT_EQ(F().RowCount(), 1);
    SelectRows(0, 0);
    Messages.Answers = {true};
    F().ActionDeleteExecute();
    EXPECT_EQ(Root()->childCount(), 1);
    // The node shown went away: the nearest node above it that remains.
    EXPECT_EQ(F().tvDevice->currentItem(), Root());
    EXPECT_EQ(F().RowCount(), 1);
}

TEST_F(ConnectionList, ChangingTheFactoryNumberAndTypeMovesTheConnection) {
    AddTo(List, dtQZ2, 1);
    const int32_t id = AddTo(List, dtQZ2M, 5);
    Open();
    F().SelectConnectionByID(id, TccnConnectionListFrame::scGridRow);
    EditorAction = [](TccnEditConnectionForm& f) {
        f.Frame->comboDeviceType->setCurrentIndex(0); // QZ2
        f.Frame->comboDeviceTypeSelect();
        f.findChild<QSpinBox*>("spedtFactoryNum")->setValue(7);
    };
    F().ActionEditExecute();
    EXPECT_EQ(EditorRuns, 1);
    EXPECT_EQ(List.Count(), 2u);
    ASSERT_EQ(Root()->childCount(), 1); // the QZ2М node is gone
    QTreeWidgetItem* qz2 = Root()->child(0);
    ASSERT_EQ(qz2->childCount(), 2);
    EXPECT_EQ(qz2->child(1)->text(0), "7");
    EXPECT_EQ(List.FindByID(id)->CustomDevice()->FactoryNum(), 7);
    EXPECT_EQ(F().ChosenID(), id);
    EXPECT_TRUE(F().grdConnection->hasFocus() || !Form->isVisible());

    // Only the number: the connection moves to another number node of the same type.
    EditorAction = [](TccnEditConnectionForm& f) {
        f.findChild<QSpinBox*>("spedtFactoryNum")->setValue(3);
    };
    F().ActionEditExecute();
    ASSERT_EQ(qz2 = Root()->child(0), Root()->child(0));
    ASSERT_EQ(qz2->childCount(), 2);
    EXPECT_EQ(qz2->child(0)->text(0), "1");
    EXPECT_EQ(qz2->child(1)->text(0), "3");
}

TEST_F(ConnectionList, AddAndCopyGetNewIdentifiersAndBecomeCurrent) {
    const int32_t first = AddTo(List, dtQZ2, 1, cmtDirectTCPIP);
    static_cast<TccnDirectTCPIPConMode*>(List.FindByID(first)->CustomConMode())
        ->TCPIPInterface()
        .SetIpAddress("10.1.1.1");
    Open();
    EditorAction = [](TccnEditConnectionForm& f) {
        EXPECT_EQ(f.windowTitle(), QString::fromUtf8("Добавить подключение"));
        f.findChild<QSpinBox*>("spedtFactoryNum")->setValue(42);
    };
    F().ActionAddExecute();
    ASSERT_EQ(List.Count(), 2u);
    const int32_t added = F().ChosenID();
    EXPECT_EQ(added, first + 1);
    EXPECT_EQ(List.FindByID(added)->CustomDevice()->FactoryNum(), 42);
    EXPECT_EQ(Root()->child(0)->childCount(), 2);

    F().SelectConnectionByID(first, TccnConnectionListFrame::scGridRow);
    EditorAction = [](TccnEditConnectionForm& f) {
        EXPECT_EQ(f.windowTitle(), QString::fromUtf8("Добавить подключение"));
    };
    F().ActionAddOnTemplateExecute();
    ASSERT_EQ(List.Count(), 3u);
    const int32_t copy = F().ChosenID();
    EXPECT_EQ(copy, first + 2);
    auto* m = dynamic_cast<TccnDirectTCPIPConMode*>(List.FindByID(copy)->CustomConMode());
    ASSERT_NE(m, nullptr);
    EXPECT_EQ(m->TCPIPInterface().IpAddress(), "10.1.1.1");
    EXPECT_EQ(List.FindByID(first)->CustomDevice()->FactoryNum(), 1);
}

TEST_F(ConnectionList, ARefusedEditorChangesNothing) {
    AddTo(List, dtQZ2, 1, cmtDirectTCPIP); // no IP address: OK is refused
    Open();
    F().ActionEditExecute();
    EXPECT_EQ(Messages.Errors.back(), "Не задан IP-адрес");
    F().ActionAddOnTemplateExecute();
    EXPECT_EQ(List.Count(), 1u);
}

TEST_F(ConnectionList, AConnectionTheEditorCannotLoadIsReportedNotOpened) {
    AddTo(List, dtW8, 1);
    Open();
    F().ActionEditExecute();
    EXPECT_EQ(EditorRuns, 0);
    ASSERT_EQ(Messages.Errors.size(), 1u);
    EXPECT_EQ(Messages.Errors[0], "Заданный тип измерителя не поддерживается");
}

TEST_F(ConnectionList, SelectChecksTheConnectionAndPointsAtAFailure) {
    AddTo(List, dtQZ2, 1);
    const int32_t bad = AddTo(List, dtQZ2, 2, cmtVQOptoAttach232);
    Open();
    F().SelectConnectionByID(bad, TccnConnectionListFrame::scGridRow);
    Form->ActionSelectExecute();
    ASSERT_EQ(Messages.Errors.size(), 1u);
    EXPECT_EQ(Messages.Errors[0],
              "Заданный тип подключения для данного типа измерителя не поддерживается");
    EXPECT_NE(Form->result(), 1);
    EXPECT_EQ(F().SelectedKey(), (TccnDeviceKey{dtQZ2, 2}));
    EXPECT_EQ(F().ChosenID(), bad);

    F().tvDevice->setCurrentItem(Root());
    F().SetCurrentRow(0);
    Form->ActionSelectExecute();
    EXPECT_EQ(Messages.Errors.size(), 1u);
    EXPECT_EQ(Form->result(), 1);
}

TEST_F(ConnectionList, InactiveRowsAreDrawnInTheirOwnColour) {
    AddTo(List, dtQZ2, 1);
    AddTo(List, dtQZ2, 2, cmtVQOptoAttach232); // the monitor does not use the attachment
    Open();
    Form->resize(800, 300);
    Form->show();
    F().grdConnection->clearSelection();
    F().grdConnection->setCurrentCell(-1, -1);
    const QImage img = F().grdConnection->viewport()->grab().toImage();
    const int x = F().grdConnection->columnViewportPosition(2) + 40;
    const QColor good = img.pixelColor(x, F().grdConnection->rowViewportPosition(0) + 2);
    const QColor inactive = img.pixelColor(x, F().grdConnection->rowViewportPosition(1) + 2);
    EXPECT_EQ(good, F().grdConnection->palette().color(QPalette::Base));
    EXPECT_EQ(inactive, QColor(191, 205, 219));
    Form->hide();
}

TEST_F(ConnectionList, MultiSelectMarksAndChoosesTheMarked) {
    Options.MultiSelect = true;
    const int32_t a = AddTo(List, dtQZ2, 1);
    const int32_t b = AddTo(List, dtQZ2, 2);
    Open();
    EXPECT_FALSE(F().grdConnection->isColumnHidden(0));
    EXPECT_EQ(F().grdConnection->columnWidth(0), 20);
    Form->ActionSelectExecute();
    EXPECT_EQ(Messages.Errors.back(), "Нет выбранных подключений");

    Form->resize(800, 300);
    Form->show();
    auto* g = F().grdConnection;
    const QRect cell = g->visualRect(g->model()->index(1, 0));
    QTest::mouseClick(g->viewport(), Qt::LeftButton, {}, cell.center());
    EXPECT_TRUE(List.FindByID(b)->Checked);
    F().grdConnectionMouseDown(0, 0);
    F().grdConnectionMouseDown(0, 3); // other columns leave the mark alone
    EXPECT_EQ(F().GetSelectedConIDs(), (std::vector<int32_t>{a, b}));
    F().grdConnectionMouseDown(0, 0);
    EXPECT_EQ(F().ChosenID(), b);
    Form->hide();

    // Taking another list clears the marks left in the one before.
    TccnConnectionList other;
    F().SetConnectionList(&other);
    EXPECT_FALSE(List.FindByID(b)->Checked);
    EXPECT_EQ(F().RowConnection(0), nullptr);
}

TEST_F(ConnectionList, FrameNeedsItsListAndOptions) {
    EXPECT_THROW(TccnConnectionListFrame(nullptr, nullptr, &Options), EAssertionFailed);
    EXPECT_THROW(TccnConnectionListFrame(nullptr, &List, nullptr), EAssertionFailed);
}

} // namespace
} // namespace qz
