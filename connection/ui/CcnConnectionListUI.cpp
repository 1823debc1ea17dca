#include "connection/ui/CcnConnectionListUI.h"

#include "common/Assert.h"
#include "connection/ui/CcnText.h"

#include <QAction>
#include <QApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QSplitter>
#include <QStyle>
#include <QStyleOptionButton>
#include <QStyledItemDelegate>
#include <QTableWidget>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <set>

namespace qz {

namespace {

using ccnui::U;

constexpr int kKeyTypeRole = Qt::UserRole;
constexpr int kKeyNumberRole = Qt::UserRole + 1;
// The colour of rows this program cannot use (an inactive window caption).
const QColor kInactiveRowColour(191, 205, 219);

// Draws name=value lines as two columns: the values start 3 pixels right of the widest
// name.
void DrawParamLines(QPainter& p, const QRect& r, const std::vector<TccnParamLine>& lines) {
    if (lines.empty()) return;
    const QFontMetrics fm = p.fontMetrics();
    int nameWidth = 0;
    for (const TccnParamLine& l : lines)
        nameWidth = std::max(nameWidth, fm.horizontalAdvance(U(l.Name)));
    const int lineHeight = std::max(1, std::min(fm.height(), r.height() / int(lines.size())));
    int y = r.top() + (r.height() - lineHeight * int(lines.size())) / 2;
    for (const TccnParamLine& l : lines) {
        const QRect row(r.left(), y, r.width(), lineHeight);
        p.drawText(row, Qt::AlignLeft | Qt::AlignVCenter, U(l.Name));
        p.drawText(row.adjusted(nameWidth + 3, 0, 0, 0), Qt::AlignLeft | Qt::AlignVCenter,
                   U(l.Value));
        y += lineHeight;
    }
}

QPixmap MarkPixmap(const QWidget* w, bool marked) {
    QPixmap pm(16, 16);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    QStyleOptionButton o;
    o.rect = QRect(0, 0, 16, 16);
    o.state = QStyle::State_Enabled | (marked ? QStyle::State_On : QStyle::State_Off);
    w->style()->drawPrimitive(QStyle::PE_IndicatorCheckBox, &o, &p, w);
    return pm;
}

// The owner drawing of the grid (grdConnectionDrawCell).
class TccnConnectionGridDelegate : public QStyledItemDelegate {
public:
    explicit TccnConnectionGridDelegate(TccnConnectionListFrame* frame)
        : QStyledItemDelegate(frame), FFrame(frame) {}

    void paint(QPainter* p, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override {
        const TccnConnection* c = FFrame->RowConnection(index.row());
        const bool selected = option.state & QStyle::State_Selected;
        std::string error;
        const bool inactive = c && !FFrame->Options().CheckConnection(c, error);
        p->save();
        QColor back = option.palette.color(QPalette::Base);
        if (inactive) back = kInactiveRowColour;
        if (selected) back = option.palette.color(QPalette::Highlight);
        p->fillRect(option.rect, back);
        p->setPen(option.palette.color(selected ? QPalette::HighlightedText : QPalette::Text));
        if (c) DrawCell(*p, option.rect.adjusted(2, 0, -2, 0), index.column(), *c);
        p->restore();
    }

private:
    void DrawCell(QPainter& p, const QRect& r, int column, const TccnConnection& c) const {
        const TccnCustomDevice* d = c.CustomDevice();
        const TccnCustomDeviceProtocol* pr = c.CustomDeviceProtocol();
        const TccnCustomConMode* m = c.CustomConMode();
        QFont small = p.font();
        small.setPixelSize(11);
        switch (column) {
        case 0: {
            const QPixmap& pm = FFrame->MarkImages[c.Checked ? 1 : 0];
            p.drawPixmap(r.center().x() - pm.width() / 2 + 1, r.center().y() - pm.height() / 2 + 1,
                         pm);
            break;
        }
        case 1:
            if (d && d->DeviceType() < DeviceTypeCount)
                p.drawText(r, Qt::AlignLeft | Qt::AlignVCenter,
                           U(DeviceTypeNames[d->DeviceType()]));
            break;
        case 2:
            if (d)
                p.drawText(r, Qt::AlignLeft | Qt::AlignVCenter, QString::number(d->FactoryNum()));
            break;
        case 3:
            if (pr && pr->ProtocolType() < DeviceProtocolTypeCount) {
                p.setFont(small);
                const QRect upper(r.left(), r.top(), r.width(), r.height() / 2);
                const QRect lower(r.left(), r.top() + r.height() / 2, r.width(),
                                  r.height() - r.height() / 2);
                p.drawText(upper, Qt::AlignLeft | Qt::AlignVCenter,
                           U(DeviceProtocolTypeNames[pr->ProtocolType()]));
                DrawParamLines(p, lower, SplitParamLines(pr->GetParamsText()));
            }
            break;
        case 4:
            if (m && m->ConModeType() < ConModeTypeCount)
                p.drawText(r, Qt::AlignLeft | Qt::AlignVCenter,
                           U(ConModeTypeNames[m->ConModeType()]));
            break;
        case 5:
            if (m) {
                p.setFont(small);
                const TccnConModeSummary s = ConModeSummary(*m);
                const bool twoBlocks =
                    m->CustomCommHardware() &&
                    (dynamic_cast<const TccnPhoneModem*>(m->CustomCommHardware()) ||
                     dynamic_cast<const TccnRadioModem*>(m->CustomCommHardware()));
                if (twoBlocks) {
                    DrawParamLines(p, QRect(r.left(), r.top(), 80, r.height()), s.Left);
                    DrawParamLines(p, r.adjusted(83, 0, 0, 0), s.Right);
                } else {
                    DrawParamLines(p, r, s.Left);
                }
            }
            break;
        default:
            break;
        }
    }

    TccnConnectionListFrame* FFrame;
};

} // namespace

// --- TccnConnectionListFrame ---

TccnConnectionListFrame::TccnConnectionListFrame(QWidget* parent, TccnConnectionList* list,
                                                 const TccnConnectionListUIOptions* options,
                                                 IccnMessages* messages)
    : QWidget(parent), FOptions(options), FMessages(messages) {
    QZ_ASSERT(list, "Не задан список подключений");
    QZ_ASSERT(options, "Не заданы входные настройки для UI-списка покдлючений");
    setObjectName("TccnConnectionListFrame");

    tvDevice = new QTreeWidget(this);
    tvDevice->setObjectName("tvDevice");
    tvDevice->setHeaderHidden(true);
    tvDevice->setEditTriggers(QAbstractItemView::NoEditTriggers);
    tvDevice->setSelectionMode(QAbstractItemView::SingleSelection);

    grdConnection = new QTableWidget(1, 6, this);
    grdConnection->setObjectName("grdConnection");
    grdConnection->setEditTriggers(QAbstractItemView::NoEditTriggers);
    grdConnection->setSelectionBehavior(QAbstractItemView::SelectRows);
    grdConnection->setSelectionMode(QAbstractItemView::ContiguousSelection);
    grdConnection->setItemDelegate(new TccnConnectionGridDelegate(this));
    grdConnection->verticalHeader()->hide();
    grdConnection->setWordWrap(false);
    grdConnection->viewport()->installEventFilter(this);
    const char* headers[6] = {"А",        "Тип измерителя",  "Зав. №",
                              "Протокол", "Тип подключения", "Параметры подключения"};
    QStringList labels;
    for (const char* h : headers)
        labels << U(h);
    grdConnection->setHorizontalHeaderLabels(labels);
    // A caption wider than its column goes onto two lines of the 30-pixel header instead of
    // being cut at both ends.
    grdConnection->horizontalHeader()->setDefaultAlignment(
        Qt::Alignment(Qt::AlignCenter | Qt::TextWordWrap));
    grdConnection->horizontalHeader()->setTextElideMode(Qt::ElideNone);
    // The columns are narrow: the header and the cells use a small font so their texts fit.
    QFont small = grdConnection->font();
    small.setPixelSize(11);
    grdConnection->setFont(small);
    QFont header = small;
    header.setPixelSize(10);
    grdConnection->horizontalHeader()->setFont(header);
    grdConnection->horizontalHeader()->setFixedHeight(kRowHeight);
    // The columns keep their widths; room to the right of the last one stays empty.
    grdConnection->horizontalHeader()->setStretchLastSection(false);
    grdConnection->horizontalHeader()->setMinimumSectionSize(0);

    MarkImages[0] = MarkPixmap(this, false);
    MarkImages[1] = MarkPixmap(this, true);

    pnlButton = new QWidget(this);
    pnlButton->setObjectName("pnlButton");
    auto* bl = new QHBoxLayout(pnlButton);
    bl->setContentsMargins(0, 0, 0, 0);
    auto makeAction = [this, bl](const char* name, const char* caption, QAction*& action,
                                 QPushButton*& button, const char* buttonName,
                                 void (TccnConnectionListFrame::*handler)()) {
        action = new QAction(U(caption), this);
        action->setObjectName(name);
        button = new QPushButton(U(caption), pnlButton);
        button->setObjectName(buttonName);
        bl->addWidget(button);
        connect(button, &QPushButton::clicked, action, &QAction::trigger);
        connect(action, &QAction::triggered, this, [this, handler] { (this->*handler)(); });
    };
    makeAction("ActionAdd", "Добавить", ActionAdd, btnAdd, "btnAdd",
               &TccnConnectionListFrame::ActionAddExecute);
    makeAction("ActionAddOnTemplate", "Копировать", ActionAddOnTemplate, btnAddOnTemplate,
               "btnAddOnTemplate", &TccnConnectionListFrame::ActionAddOnTemplateExecute);
    makeAction("ActionEdit", "Изменить", ActionEdit, btnEdit, "btnEdit",
               &TccnConnectionListFrame::ActionEditExecute);
    makeAction("ActionDelete", "Удалить", ActionDelete, btnDelete, "btnDelete",
               &TccnConnectionListFrame::ActionDeleteExecute);
    bl->addStretch();

    auto* split = new QSplitter(this);
    split->addWidget(tvDevice);
    split->addWidget(grdConnection);
    split->setStretchFactor(1, 1);
    split->setSizes({170, 600});
    auto* lay = new QVBoxLayout(this);
    lay->setContentsMargins(0, 0, 0, 0);
    lay->addWidget(split, 1);
    lay->addWidget(pnlButton);

    connect(tvDevice, &QTreeWidget::currentItemChanged, this, [this] { tvDeviceChange(); });

    SetConnectionList(list);
}

IccnMessages& TccnConnectionListFrame::Messages() const {
    return FMessages ? *FMessages : DefaultMessages();
}

void TccnConnectionListFrame::SetConnectionList(TccnConnectionList* list) {
    QZ_ASSERT(list, "Не задан список подключений");
    if (FList) FList->SetAllChecked(false);
    FList = list;
    FList->SortConnections();
    RebuildTree(TccnDeviceKey());
    FormatGrid();
}

void TccnConnectionListFrame::FormatGrid() {
    const int widths[6] = {FOptions->MultiSelect ? 20 : 0, 130, 50, 70, 100, 185};
    grdConnection->setColumnHidden(0, !FOptions->MultiSelect);
    for (int c = 0; c < 6; ++c)
        grdConnection->setColumnWidth(c, widths[c]);
    grdConnection->verticalHeader()->setDefaultSectionSize(kRowHeight);
    grdConnection->verticalHeader()->setMinimumSectionSize(kRowHeight);
}

QTreeWidgetItem* TccnConnectionListFrame::FindTreeItem(const TccnDeviceKey& key) const {
    QTreeWidgetItem* root = tvDevice->topLevelItem(0);
    if (!root || key.IsRoot()) return root;
    for (int i = 0; i < root->childCount(); ++i) {
        QTreeWidgetItem* t = root->child(i);
        if (t->data(0, kKeyTypeRole).toInt() != key.DeviceType) continue;
        if (key.IsType()) return t;
        for (int j = 0; j < t->childCount(); ++j)
            if (t->child(j)->data(0, kKeyNumberRole).toInt() == key.FactoryNum) return t->child(j);
        return nullptr;
    }
    return nullptr;
}

void TccnConnectionListFrame::RebuildTree(const TccnDeviceKey& keep) {
    // Type nodes the operator had opened stay open.
    std::set<int> expanded;
    if (QTreeWidgetItem* root = tvDevice->topLevelItem(0))
        for (int i = 0; i < root->childCount(); ++i)
            if (root->child(i)->isExpanded())
                expanded.insert(root->child(i)->data(0, kKeyTypeRole).toInt());
    {
        const QSignalBlocker block(tvDevice);
        tvDevice->clear();
        auto* root = new QTreeWidgetItem(tvDevice, QStringList(U(kccnTreeRootText)));
        root->setData(0, kKeyTypeRole, -1);
        root->setData(0, kKeyNumberRole, -1);
        for (const TccnDeviceTreeNode& t : BuildDeviceTree(*FList)) {
            auto* ti = new QTreeWidgetItem(root, QStringList(U(t.Text)));
            ti->setData(0, kKeyTypeRole, t.Key.DeviceType);
            ti->setData(0, kKeyNumberRole, -1);
            for (const TccnDeviceTreeNode& n : t.Children) {
                auto* ni = new QTreeWidgetItem(ti, QStringList(U(n.Text)));
                ni->setData(0, kKeyTypeRole, n.Key.DeviceType);
                ni->setData(0, kKeyNumberRole, n.Key.FactoryNum);
            }
            ti->setExpanded(expanded.count(t.Key.DeviceType) > 0);
        }
        root->setExpanded(true);
        QTreeWidgetItem* item = FindTreeItem(keep);
        if (!item) item = FindTreeItem({keep.DeviceType, -1});
        if (!item) item = root;
        tvDevice->setCurrentItem(item);
    }
    tvDeviceChange();
}

TccnDeviceKey TccnConnectionListFrame::SelectedKey() const {
    const QTreeWidgetItem* item = tvDevice->currentItem();
    if (!item) return {};
    return {item->data(0, kKeyTypeRole).toInt(), item->data(0, kKeyNumberRole).toInt()};
}

void TccnConnectionListFrame::SelectTreeKey(const TccnDeviceKey& key) {
    if (QTreeWidgetItem* item = FindTreeItem(key)) {
        if (item->parent()) item->parent()->setExpanded(true);
        if (tvDevice->currentItem() == item)
            tvDeviceChange();
        else
            tvDevice->setCurrentItem(item); // refills the grid
    }
}

void TccnConnectionListFrame::tvDeviceChange() {
    FillGrid();
}

void TccnConnectionListFrame::FillGrid() {
    QApplication::setOverrideCursor(Qt::WaitCursor);
    grdConnection->setUpdatesEnabled(false);
    FRows = FilterConnections(*FList, SelectedKey());
    grdConnection->clearSelection();
    grdConnection->setRowCount(std::max<int>(1, int(FRows.size())));
    for (int r = 0; r < grdConnection->rowCount(); ++r) {
        const TccnConnection* c = RowConnection(r);
        const TccnCustomDevice* d = c ? c->CustomDevice() : nullptr;
        const TccnCustomDeviceProtocol* p = c ? c->CustomDeviceProtocol() : nullptr;
        const TccnCustomConMode* m = c ? c->CustomConMode() : nullptr;
        // The cells also carry their texts, for the accessibility tools and the tests;
        // the delegate draws them.
        QString texts[6];
        if (d && d->DeviceType() < DeviceTypeCount) {
            texts[1] = U(DeviceTypeNames[d->DeviceType()]);
            texts[2] = QString::number(d->FactoryNum());
        }
        if (p && p->ProtocolType() < DeviceProtocolTypeCount)
            texts[3] = U(DeviceProtocolTypeNames[p->ProtocolType()]);
        if (m && m->ConModeType() < ConModeTypeCount)
            texts[4] = U(ConModeTypeNames[m->ConModeType()]);
        for (int col = 0; col < 6; ++col)
            grdConnection->setItem(r, col, new QTableWidgetItem(texts[col]));
        grdConnection->setRowHeight(r, kRowHeight);
    }
    grdConnection->setCurrentCell(0, 1);
    grdConnection->setUpdatesEnabled(true);
    QApplication::restoreOverrideCursor();
}

int TccnConnectionListFrame::RowCount() const {
    return grdConnection->rowCount();
}

TccnConnection* TccnConnectionListFrame::RowConnection(int row) const {
    return row >= 0 && row < int(FRows.size()) ? FRows[size_t(row)] : nullptr;
}

int TccnConnectionListFrame::CurrentRow() const {
    return grdConnection->currentRow();
}

void TccnConnectionListFrame::SetCurrentRow(int row) {
    if (row < 0 || row >= grdConnection->rowCount()) row = 0;
    grdConnection->clearSelection();
    grdConnection->setCurrentCell(row, 1);
    grdConnection->selectRow(row);
}

int TccnConnectionListFrame::RowOf(int32_t id) const {
    for (size_t i = 0; i < FRows.size(); ++i)
        if (FRows[i]->ConID == id) return int(i);
    return -1;
}

std::vector<int32_t> TccnConnectionListFrame::GetSelectedConIDs() const {
    std::vector<int32_t> ids;
    if (FOptions->MultiSelect) {
        for (size_t i = 0; i < FList->Count(); ++i)
            if (FList->GetItem(i)->Checked) ids.push_back(FList->GetItem(i)->ConID);
    } else if (const TccnConnection* c = CurrentConnection()) {
        ids.push_back(c->ConID);
    }
    return ids;
}

int32_t TccnConnectionListFrame::ChosenID() const {
    const std::vector<int32_t> ids = GetSelectedConIDs();
    return ids.empty() ? -1 : ids.front();
}

void TccnConnectionListFrame::SelectConnectionByID(int32_t id, int flags) {
    const TccnConnection* c = FList->FindByID(id);
    if ((flags & scTreeNode) && c && c->CustomDevice()) {
        const TccnCustomDevice* d = c->CustomDevice();
        TccnDeviceKey key{d->DeviceType(), d->FactoryNum()};
        if (!FindTreeItem(key)) key.FactoryNum = -1;
        SelectTreeKey(key);
    }
    if (flags & scGridRow) SetCurrentRow(RowOf(id));
}

bool TccnConnectionListFrame::eventFilter(QObject* watched, QEvent* event) {
    if (watched == grdConnection->viewport() && event->type() == QEvent::MouseButtonPress) {
        auto* me = static_cast<QMouseEvent*>(event);
        if (me->button() == Qt::LeftButton) {
            const QModelIndex index = grdConnection->indexAt(me->position().toPoint());
            if (index.isValid()) grdConnectionMouseDown(index.row(), index.column());
        }
    }
    return QWidget::eventFilter(watched, event);
}

void TccnConnectionListFrame::grdConnectionMouseDown(int row, int column) {
    if (column != 0) return;
    if (TccnConnection* c = RowConnection(row)) {
        c->Checked = !c->Checked;
        grdConnection->viewport()->update(
            grdConnection->visualRect(grdConnection->model()->index(row, 0)));
    }
}

// --- add, copy, edit ---

void TccnConnectionListFrame::ActionAddExecute() {
    EditConnection(TEditMode::Add);
}
void TccnConnectionListFrame::ActionEditExecute() {
    EditConnection(TEditMode::Edit);
}
void TccnConnectionListFrame::ActionAddOnTemplateExecute() {
    EditConnection(TEditMode::Copy);
}

void TccnConnectionListFrame::EditConnection(TEditMode mode) {
    const TccnConnection* current = CurrentConnection();
    if (mode != TEditMode::Add && !current) return;
    TccnConnection work;
    if (current && mode != TEditMode::Add) work.Assign(*current);
    int result = 0;
    try {
        TccnEditConnectionForm form(window(), *FOptions, &work, Messages(),
                                    mode != TEditMode::Edit);
        result = ExecEditor ? ExecEditor(form) : form.exec();
    } catch (const std::exception& e) {
        // A connection the editor cannot load: say why instead of opening it.
        Messages().Error(window(), e.what());
        return;
    }
    if (result != 1) return;
    bool changed = false;
    try {
        changed =
            mode == TEditMode::Edit ? FList->UpdateConnection(work) : FList->AddConnection(work);
    } catch (const std::exception& e) {
        // The list has no identifier left to give: the new connection is not added.
        Messages().Error(window(), e.what());
        return;
    }
    if (!changed) return;
    FList->SortConnections();
    // New nodes appear, emptied ones go; the node shown stays when it still exists.
    RebuildTree(SelectedKey());
    if (RowOf(work.ConID) < 0) SelectConnectionByID(work.ConID, scTreeNode);
    SetCurrentRow(RowOf(work.ConID));
    grdConnection->setFocus();
}

// --- delete ---

void TccnConnectionListFrame::ActionDeleteExecute() {
    std::vector<int> rows;
    for (const QModelIndex& i : grdConnection->selectionModel()->selectedRows())
        if (RowConnection(i.row())) rows.push_back(i.row());
    if (rows.empty() && CurrentConnection()) rows.push_back(CurrentRow());
    if (rows.empty()) return;
    std::sort(rows.begin(), rows.end());
    char question[128];
    if (rows.size() == 1)
        std::snprintf(question, sizeof question, "%s", kccnMsgDeleteOne);
    else
        std::snprintf(question, sizeof question, kccnMsgDeleteMany, int(rows.size()));
    if (!Messages().Question(window(), question)) return;

    QApplication::setOverrideCursor(Qt::WaitCursor);
    const int next = NextCurrentRow(rows.front(), rows.back(), int(FRows.size()));
    const int32_t nextID = next >= 0 ? RowConnection(next)->ConID : -1;
    std::vector<int32_t> ids;
    for (int r : rows)
        ids.push_back(RowConnection(r)->ConID);
    bool deleted = false;
    for (auto it = ids.rbegin(); it != ids.rend(); ++it)
        deleted = FList->DeleteConnection(*it) || deleted;
    if (deleted) {
        FRows.clear(); // the rows may point at freed connections until the grid is refilled
        RebuildTree(SelectedKey());
        SetCurrentRow(RowOf(nextID));
    }
    QApplication::restoreOverrideCursor();
}

// --- TccnConnectionListForm ---

TccnConnectionListForm::TccnConnectionListForm(QWidget* owner,
                                               const TccnConnectionListUIOptions* options,
                                               TccnConnectionList* list, IccnMessages* messages)
    : QDialog(owner), FMessages(messages) {
    setObjectName("TccnConnectionListForm");
    setWindowTitle(U("Список подключений"));
    pnlConnectionList = new QWidget(this);
    pnlConnectionList->setObjectName("pnlConnectionList");
    Frame = new TccnConnectionListFrame(pnlConnectionList, list, options, messages);
    auto* pl = new QVBoxLayout(pnlConnectionList);
    pl->setContentsMargins(0, 0, 0, 0);
    pl->addWidget(Frame);

    ActionSelect = new QAction(U("Выбрать"), this);
    ActionSelect->setObjectName("ActionSelect");
    btnSelect = new QPushButton(U("Выбрать"), this);
    btnSelect->setObjectName("btnSelect");
    btnSelect->setDefault(true);
    btnClose = new QPushButton(U("Закрыть"), this);
    btnClose->setObjectName("btnClose");
    connect(btnSelect, &QPushButton::clicked, ActionSelect, &QAction::trigger);
    connect(ActionSelect, &QAction::triggered, this, [this] { ActionSelectExecute(); });
    connect(btnClose, &QPushButton::clicked, this, [this] { done(2); });

    auto* buttons = new QHBoxLayout();
    buttons->addStretch();
    buttons->addWidget(btnSelect);
    buttons->addWidget(btnClose);
    auto* lay = new QVBoxLayout(this);
    lay->addWidget(pnlConnectionList, 1);
    lay->addLayout(buttons);
    resize(760, 420);
}

void TccnConnectionListForm::ActionSelectExecute() {
    IccnMessages& msgs = FMessages ? *FMessages : DefaultMessages();
    setResult(0);
    if (!Frame->RowConnection(0)) {
        msgs.Error(this, kccnMsgTableEmpty);
        return;
    }
    const std::vector<int32_t> ids = Frame->GetSelectedConIDs();
    if (Frame->Options().MultiSelect && ids.empty()) {
        msgs.Error(this, kccnMsgNoneChecked);
        return;
    }
    for (int32_t id : ids) {
        std::string error;
        if (!Frame->Options().CheckConnection(Frame->ConnectionList()->FindByID(id), error)) {
            msgs.Error(this, error);
            Frame->SelectConnectionByID(id, TccnConnectionListFrame::scTreeNode |
                                                TccnConnectionListFrame::scGridRow);
            return;
        }
    }
    done(1);
}

// --- TccnConnectionListDialog ---

TccnConnectionListDialog::TccnConnectionListDialog(IccnMessages* messages) : FMessages(messages) {}

TccnConnectionListDialog::~TccnConnectionListDialog() {
    // A window with an owner goes with its owner.
    if (FForm && !FForm->parent()) delete FForm.data();
}

bool TccnConnectionListDialog::Execute(QWidget* owner, TccnConnectionList& list,
                                       const TccnConnectionListUIOptions& options,
                                       int32_t& selectedID) {
    if (!FForm) {
        FForm = new TccnConnectionListForm(owner, &options, &list, FMessages);
        FForm->Frame->SelectTreeKey(TccnDeviceKey());
        FForm->Frame->SelectConnectionByID(selectedID, TccnConnectionListFrame::scGridRow);
    } else if (FForm->Frame->ConnectionList() != &list) {
        FForm->Frame->SetConnectionList(&list);
    }
    const int result = Exec ? Exec(*FForm) : FForm->exec();
    if (result != 1) return false;
    selectedID = FForm->Frame->ChosenID();
    return true;
}

TccnConnectionDialogFn MakeConnectionListDialog() {
    auto dialog = std::make_shared<TccnConnectionListDialog>();
    return [dialog](QWidget* owner, TccnConnectionList& list,
                    const TccnConnectionListUIOptions& options, int32_t& selectedID) {
        return dialog->Execute(owner, list, options, selectedID);
    };
}

} // namespace qz
