// The connection editor: a frame with the device, protocol and connection-mode group boxes,
// each with its type combo and the editing frame of the chosen class, and the window that
// hosts it with OK and Cancel.
#pragma once

#include "connection/CcnConnectionList.h"
#include "connection/ui/CcnConnectionListLogic.h"
#include "connection/ui/CcnEditFrames.h"
#include "connection/ui/CcnMessages.h"

#include <QDialog>
#include <QWidget>

class QComboBox;
class QGroupBox;
class QPushButton;

namespace qz {

class TccnEditConnectionFrame : public QWidget {
    Q_OBJECT
public:
    // Fills the device combo from the options and loads the connection. Load-time problems
    // (no device types, protocols or modes to offer, an unsupported device type, a
    // connection the options refuse) raise EccnError with the message.
    TccnEditConnectionFrame(QWidget* parent, const TccnConnectionListUIOptions& options,
                            TccnConnection& connection, IccnMessages& messages);

    // Loads the connection's parts into fresh history lists and frames.
    void LoadConnection(TccnConnection& connection);
    // Checks in order: device type, device frame, protocol type, protocol frame, mode,
    // mode frame; the first failure is shown and its control focused.
    bool Validate();
    // Stores the frames and replaces the connection's parts by copies of the chosen objects.
    void Store();

    // Handlers of the type combos (also called by tests with a combo index).
    void comboDeviceTypeSelect();
    void comboDeviceProtocolTypeSelect();
    void comboConModeTypeSelect();

    // The objects chosen now (the front of each history), or null.
    TccnCustomDevice* CurrentDevice() const;
    TccnCustomDeviceProtocol* CurrentProtocol() const;
    TccnCustomConMode* CurrentConMode() const;
    const TObjHistoryList& DeviceHistory() const { return FDeviceHistory; }
    const TObjHistoryList& ProtocolHistory() const { return FProtocolHistory; }
    const TObjHistoryList& ConModeHistory() const { return FConModeHistory; }

    QGroupBox *grboxDevice, *grboxDeviceProtocol, *grboxConMode;
    QComboBox *comboDeviceType, *comboDeviceProtocolType, *comboConModeType;
    QWidget *pnlDevice, *pnlDeviceProtocol, *pnlConMode;
    TccnCustomEditFrame* DeviceFrame = nullptr;
    TccnCustomEditFrame* ProtocolFrame = nullptr;
    TccnCustomEditFrame* ConModeFrame = nullptr;

private:
    // The class of the combo's current item, or null.
    static const TccnClass* SelectedClass(const QComboBox* combo);
    // Takes the history object of cls (or makes a new one current) and puts its frame in
    // place of the old one, which stores its values first.
    TccnPersistent* Switch(TObjHistoryList& history, const TccnClass& cls,
                           TccnCustomEditFrame*& frame, QWidget* panel, bool& created,
                           TccnCustomEditFrame* (*make)(const TccnClass&, QWidget*, IccnMessages&));
    void FillProtocolAndModeCombos();
    static void SelectClassIn(QComboBox* combo, const TccnPersistent* current);

    const TccnConnectionListUIOptions& FOptions;
    TccnConnection* FConnection = nullptr;
    IccnMessages& FMessages;
    TObjHistoryList FDeviceHistory, FProtocolHistory, FConModeHistory;
};

class TccnEditConnectionForm : public QDialog {
    Q_OBJECT
public:
    // The connection is required ("Не задано изменяемое подключение"); the frame's
    // load-time errors propagate (the window is then not shown).
    TccnEditConnectionForm(QWidget* owner, const TccnConnectionListUIOptions& options,
                           TccnConnection* connection, IccnMessages& messages, bool adding);

    // OK: validates; on success the values go into the connection and the window closes
    // with 1, otherwise it stays open.
    void btnOkClick();

    TccnEditConnectionFrame* Frame;
    QPushButton *btnOk, *btnCancel;
};

} // namespace qz
