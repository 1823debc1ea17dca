// The connection-list window: a device tree (all meters, by type, by factory number) beside
// a grid of the connections under the chosen node, with add, copy, edit and delete; and the
// window's "Выбрать", which hands the chosen connection to the main window.
#pragma once

#include "connection/CcnConnectionList.h"
#include "connection/ui/CcnConnectionListLogic.h"
#include "connection/ui/CcnEditConnection.h"
#include "connection/ui/CcnMessages.h"

#include <QDialog>
#include <QPixmap>
#include <QPointer>
#include <QWidget>

#include <functional>
#include <vector>

class QAction;
class QPushButton;
class QTableWidget;
class QTreeWidget;
class QTreeWidgetItem;

namespace qz {

class TccnConnectionListFrame : public QWidget {
    Q_OBJECT
public:
    // Both the list and the options are required.
    TccnConnectionListFrame(QWidget* parent, TccnConnectionList* list,
                            const TccnConnectionListUIOptions* options,
                            IccnMessages* messages = nullptr);

    // Takes a list: clears the previous list's marks, sorts the new one, rebuilds the tree
    // (root selected) and refills the grid.
    void SetConnectionList(TccnConnectionList* list);
    TccnConnectionList* ConnectionList() const { return FList; }
    const TccnConnectionListUIOptions& Options() const { return *FOptions; }

    // The marked connections in multi-select mode, else the one of the current row.
    std::vector<int32_t> GetSelectedConIDs() const;
    // The first of them, or -1.
    int32_t ChosenID() const;

    enum : int { scTreeNode = 1, scGridRow = 2 };
    // scTreeNode: selects the tree node of the connection's type and number; scGridRow: makes
    // its grid row current (the first row when it is not shown).
    void SelectConnectionByID(int32_t id, int flags);

    void ActionAddExecute();
    void ActionEditExecute();
    void ActionAddOnTemplateExecute();
    void ActionDeleteExecute();
    // The grid shows what the selected tree node stands for.
    void tvDeviceChange();
    // A left click in the marks column toggles the row's mark.
    void grdConnectionMouseDown(int row, int column);

    // Grid rows (0 is the first data row).
    int RowCount() const;
    TccnConnection* RowConnection(int row) const;
    int CurrentRow() const;
    TccnConnection* CurrentConnection() const { return RowConnection(CurrentRow()); }
    void SetCurrentRow(int row);
    TccnDeviceKey SelectedKey() const;
    void SelectTreeKey(const TccnDeviceKey& key);
    QTreeWidgetItem* FindTreeItem(const TccnDeviceKey& key) const;

    // How the editor window is shown; by default modally. Tests drive it instead.
    std::function<int(TccnEditConnectionForm&)> ExecEditor;

    QTreeWidget* tvDevice;
    QTableWidget* grdConnection;
    QWidget* pnlButton;
    QPushButton *btnAdd, *btnEdit, *btnDelete, *btnAddOnTemplate;
    QAction *ActionAdd, *ActionEdit, *ActionDelete, *ActionAddOnTemplate;
    // Column 0: 0 unmarked, 1 marked.
    QPixmap MarkImages[2];

    static constexpr int kRowHeight = 30;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    enum class TEditMode { Add, Edit, Copy };
    void EditConnection(TEditMode mode);
    // Rebuilds the tree from the sorted list and selects the node of `keep`, or the
    // nearest node above it that still exists.
    void RebuildTree(const TccnDeviceKey& keep);
    void FillGrid();
    void FormatGrid();
    int RowOf(int32_t id) const;
    IccnMessages& Messages() const;

    TccnConnectionList* FList = nullptr;
    const TccnConnectionListUIOptions* FOptions;
    IccnMessages* FMessages;
    std::vector<TccnConnection*> FRows;
};

class TccnConnectionListForm : public QDialog {
    Q_OBJECT
public:
    TccnConnectionListForm(QWidget* owner, const TccnConnectionListUIOptions* options,
                           TccnConnectionList* list, IccnMessages* messages = nullptr);

    // "Выбрать": closes with 1 when the chosen connections pass their checks, otherwise
    // shows why and stays open.
    void ActionSelectExecute();

    QWidget* pnlConnectionList;
    TccnConnectionListFrame* Frame;
    QPushButton *btnSelect, *btnClose;
    QAction* ActionSelect;

private:
    IccnMessages* FMessages;
};

// The main window's "Выбрать измеритель": the list window is created on first use and kept
// for later openings. True when the operator chose a connection; its identifier (or -1)
// is then in selectedID.
class TccnConnectionListDialog {
public:
    explicit TccnConnectionListDialog(IccnMessages* messages = nullptr);
    ~TccnConnectionListDialog();
    TccnConnectionListDialog(const TccnConnectionListDialog&) = delete;
    TccnConnectionListDialog& operator=(const TccnConnectionListDialog&) = delete;

    bool Execute(QWidget* owner, TccnConnectionList& list,
                 const TccnConnectionListUIOptions& options, int32_t& selectedID);
    TccnConnectionListForm* Form() const { return FForm; }

    // How the window is shown; by default modally.
    std::function<int(TccnConnectionListForm&)> Exec;

private:
    IccnMessages* FMessages;
    QPointer<TccnConnectionListForm> FForm;
};

using TccnConnectionDialogFn =
    std::function<bool(QWidget* owner, TccnConnectionList& list,
                       const TccnConnectionListUIOptions& options, int32_t& selectedID)>;
// A dialog for the main window's options (TmonFormOptions::ConnectionDialog).
TccnConnectionDialogFn MakeConnectionListDialog();

} // namespace qz
