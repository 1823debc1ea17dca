#include "connection/ui/CcnEditConnection.h"

#include "common/Assert.h"
#include "connection/ui/CcnText.h"

#include <QComboBox>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QPushButton>
#include <QVBoxLayout>

namespace qz {

namespace {

using ccnui::U;

QVariant ClassData(const TccnClass* cls) {
    return QVariant::fromValue(reinterpret_cast<quintptr>(cls));
}

QGroupBox* MakeGroup(QWidget* parent, const char* caption, QComboBox*& combo, QWidget*& panel) {
    auto* g = new QGroupBox(U(caption), parent);
    auto* lay = new QVBoxLayout(g);
    combo = new QComboBox(g);
    combo->setEditable(false);
    panel = new QWidget(g);
    auto* pl = new QVBoxLayout(panel);
    pl->setContentsMargins(0, 0, 0, 0);
    lay->addWidget(combo);
    lay->addWidget(panel);
    lay->addStretch();
    return g;
}

} // namespace

TccnEditConnectionFrame::TccnEditConnectionFrame(QWidget* parent,
                                                 const TccnConnectionListUIOptions& options,
                                                 TccnConnection& connection, IccnMessages& messages)
    : QWidget(parent), FOptions(options), FMessages(messages) {
    grboxDevice = MakeGroup(this, "Измеритель", comboDeviceType, pnlDevice);
    grboxDevice->setObjectName("grboxDevice");
    grboxDeviceProtocol = MakeGroup(this, "Протокол", comboDeviceProtocolType, pnlDeviceProtocol);
    grboxDeviceProtocol->setObjectName("grboxDeviceProtocol");
    grboxConMode = MakeGroup(this, "Параметры типа подключения", comboConModeType, pnlConMode);
    grboxConMode->setObjectName("grboxConMode");
    comboDeviceType->setObjectName("comboDeviceType");
    comboDeviceProtocolType->setObjectName("comboDeviceProtocolType");
    comboConModeType->setObjectName("comboConModeType");

    auto* left = new QVBoxLayout();
    left->addWidget(grboxDevice);
    left->addWidget(grboxDeviceProtocol, 1);
    auto* lay = new QHBoxLayout(this);
    lay->addLayout(left, 1);
    lay->addWidget(grboxConMode, 1);

    for (TDeviceType t : AllowedDeviceTypes(options))
        comboDeviceType->addItem(U(DeviceTypeNames[t]), ClassData(DeviceClasses[t]));
    if (comboDeviceType->count() == 0) throw EccnError(kccnMsgNoDeviceTypes);

    LoadConnection(connection);

    connect(comboDeviceType, qOverload<int>(&QComboBox::activated), this,
            [this] { comboDeviceTypeSelect(); });
    connect(comboDeviceProtocolType, qOverload<int>(&QComboBox::activated), this,
            [this] { comboDeviceProtocolTypeSelect(); });
    connect(comboConModeType, qOverload<int>(&QComboBox::activated), this,
            [this] { comboConModeTypeSelect(); });
}

const TccnClass* TccnEditConnectionFrame::SelectedClass(const QComboBox* combo) {
    if (combo->currentIndex() < 0) return nullptr;
    return reinterpret_cast<const TccnClass*>(combo->currentData().value<quintptr>());
}

TccnCustomDevice* TccnEditConnectionFrame::CurrentDevice() const {
    return static_cast<TccnCustomDevice*>(FDeviceHistory.Current());
}
TccnCustomDeviceProtocol* TccnEditConnectionFrame::CurrentProtocol() const {
    return static_cast<TccnCustomDeviceProtocol*>(FProtocolHistory.Current());
}
TccnCustomConMode* TccnEditConnectionFrame::CurrentConMode() const {
    return static_cast<TccnCustomConMode*>(FConModeHistory.Current());
}

void TccnEditConnectionFrame::LoadConnection(TccnConnection& connection) {
    std::string error;
    if (!FOptions.CheckConnection(&connection, error)) throw EccnError(error);
    FConnection = &connection;
    for (TccnCustomEditFrame** f : {&DeviceFrame, &ProtocolFrame, &ConModeFrame}) {
        delete *f;
        *f = nullptr;
    }
    FDeviceHistory.Clear();
    FProtocolHistory.Clear();
    FConModeHistory.Clear();
    if (connection.CustomDeviceProtocol())
        FProtocolHistory.MakeCurrent(connection.CustomDeviceProtocol()->Clone());
    if (connection.CustomConMode())
        FConModeHistory.MakeCurrent(connection.CustomConMode()->Clone());
    int index = 0;
    if (const TccnCustomDevice* d = connection.CustomDevice()) {
        FDeviceHistory.MakeCurrent(d->Clone());
        index = comboDeviceType->findData(ClassData(&d->ClassType()));
        if (index < 0) throw EccnError(kccnMsgDeviceTypeUnsupported);
    }
    comboDeviceType->setCurrentIndex(index);
    comboDeviceTypeSelect();
}

TccnPersistent* TccnEditConnectionFrame::Switch(
    TObjHistoryList& history, const TccnClass& cls, TccnCustomEditFrame*& frame, QWidget* panel,
    bool& created, TccnCustomEditFrame* (*make)(const TccnClass&, QWidget*, IccnMessages&)) {
    // What the operator typed for the previous object is kept with it in the history.
    if (frame) {
        try {
            if (frame->EditObject()) frame->Store();
        } catch (const std::exception&) {
        }
        delete frame;
        frame = nullptr;
    }
    created = false;
    TccnPersistent* obj = history.Take(cls);
    if (!obj) {
        history.MakeCurrent(cls.Create());
        obj = history.Current();
        created = true;
    }
    frame = make(cls, panel, FMessages);
    if (frame) {
        frame->SetEditObject(obj);
        panel->layout()->addWidget(frame);
        frame->show();
    }
    return obj;
}

void TccnEditConnectionFrame::comboDeviceTypeSelect() {
    const TccnClass* cls = SelectedClass(comboDeviceType);
    if (!cls) return;
    if (DeviceFrame && CurrentDevice() && &CurrentDevice()->ClassType() == cls) return;
    bool created = false;
    auto* device = static_cast<TccnCustomDevice*>(
        Switch(FDeviceHistory, *cls, DeviceFrame, pnlDevice, created, CreateDeviceFrame));
    // The factory number (the values common to all devices) survives a change of type.
    if (FDeviceHistory.Count() > 1) {
        device->Assign(*FDeviceHistory.Item(1));
        if (DeviceFrame) DeviceFrame->SetEditObject(device);
    }
    FillProtocolAndModeCombos();
}

void TccnEditConnectionFrame::SelectClassIn(QComboBox* combo, const TccnPersistent* current) {
    int index = current ? combo->findData(ClassData(&current->ClassType())) : -1;
    combo->setCurrentIndex(index < 0 ? 0 : index);
}

void TccnEditConnectionFrame::FillProtocolAndModeCombos() {
    const TDeviceType type = CurrentDevice()->DeviceType();
    comboDeviceProtocolType->clear();
    for (TDeviceProtocolType p : AllowedProtocolTypes(FOptions, type))
        comboDeviceProtocolType->addItem(U(DeviceProtocolTypeNames[p]),
                                         ClassData(DeviceProtocolClasses[p]));
    if (comboDeviceProtocolType->count() == 0) throw EccnError(kccnMsgNoProtocolTypes);
    SelectClassIn(comboDeviceProtocolType, CurrentProtocol());
    comboDeviceProtocolTypeSelect();

    comboConModeType->clear();
    for (TConModeType m : AllowedConModeTypes(FOptions, type))
        comboConModeType->addItem(U(ConModeTypeNames[m]), ClassData(ConModeClasses[m]));
    if (comboConModeType->count() == 0) throw EccnError(kccnMsgNoConModeTypes);
    SelectClassIn(comboConModeType, CurrentConMode());
    comboConModeTypeSelect();
}

void TccnEditConnectionFrame::comboDeviceProtocolTypeSelect() {
    const TccnClass* cls = SelectedClass(comboDeviceProtocolType);
    if (!cls) return;
    if (ProtocolFrame && CurrentProtocol() && &CurrentProtocol()->ClassType() == cls) return;
    bool created = false;
    // Protocols of different classes share no values, so nothing is carried over.
    Switch(FProtocolHistory, *cls, ProtocolFrame, pnlDeviceProtocol, created, CreateProtocolFrame);
}

void TccnEditConnectionFrame::comboConModeTypeSelect() {
    const TccnClass* cls = SelectedClass(comboConModeType);
    if (!cls) return;
    if (ConModeFrame && CurrentConMode() && &CurrentConMode()->ClassType() == cls) return;
    bool created = false;
    auto* mode = static_cast<TccnCustomConMode*>(
        Switch(FConModeHistory, *cls, ConModeFrame, pnlConMode, created, CreateConModeFrame));
    // A COM port and its speed survive a change between the modes on a COM port: the
    // interface takes the values of the most recent other mode with the same interface.
    const TccnCustomCommInterface* mine = mode->CustomCommInterface();
    if (!mine) return;
    for (size_t i = 1; i < FConModeHistory.Count(); ++i) {
        auto* other = static_cast<TccnCustomConMode*>(FConModeHistory.Item(i));
        const TccnCustomCommInterface* theirs = other->CustomCommInterface();
        if (theirs && &theirs->ClassType() == &mine->ClassType()) {
            mode->CustomCommInterface()->Assign(*theirs);
            if (ConModeFrame) ConModeFrame->SetEditObject(mode);
            break;
        }
    }
}

bool TccnEditConnectionFrame::Validate() {
    if (!SelectedClass(comboDeviceType) || !CurrentDevice()) {
        FMessages.Error(window(), kccnMsgNoDeviceType);
        comboDeviceType->setFocus();
        return false;
    }
    if (DeviceFrame && !DeviceFrame->Validate()) return false;
    if (!SelectedClass(comboDeviceProtocolType) || !CurrentProtocol()) {
        FMessages.Error(window(), kccnMsgNoProtocolType);
        comboDeviceProtocolType->setFocus();
        return false;
    }
    if (ProtocolFrame && !ProtocolFrame->Validate()) return false;
    if (!SelectedClass(comboConModeType) || !CurrentConMode()) {
        FMessages.Error(window(), kccnMsgNoConModeType);
        comboConModeType->setFocus();
        return false;
    }
    if (ConModeFrame && !ConModeFrame->Validate()) return false;
    return true;
}

void TccnEditConnectionFrame::Store() {
    for (TccnCustomEditFrame* f : {DeviceFrame, ProtocolFrame, ConModeFrame})
        if (f && f->EditObject()) f->Store();
    if (CurrentDevice()) FConnection->SetCustomDevice(CurrentDevice()->Clone());
    if (CurrentProtocol()) FConnection->SetCustomDeviceProtocol(CurrentProtocol()->Clone());
    if (CurrentConMode()) FConnection->SetCustomConMode(CurrentConMode()->Clone());
}

// --- TccnEditConnectionForm ---

TccnEditConnectionForm::TccnEditConnectionForm(QWidget* owner,
                                               const TccnConnectionListUIOptions& options,
                                               TccnConnection* connection, IccnMessages& messages,
                                               bool adding)
    : QDialog(owner) {
    QZ_ASSERT(connection, "Не задано изменяемое подключение");
    setObjectName("TccnEditConnectionForm");
    setWindowTitle(U(adding ? "Добавить подключение" : "Изменить подключение"));
    Frame = new TccnEditConnectionFrame(this, options, *connection, messages);
    btnOk = new QPushButton(QStringLiteral("OK"), this);
    btnOk->setObjectName("btnOk");
    btnOk->setDefault(true);
    btnCancel = new QPushButton(U("Отмена"), this);
    btnCancel->setObjectName("btnCancel");
    auto* buttons = new QHBoxLayout();
    buttons->addStretch();
    buttons->addWidget(btnOk);
    buttons->addWidget(btnCancel);
    auto* lay = new QVBoxLayout(this);
    lay->addWidget(Frame, 1);
    lay->addLayout(buttons);
    connect(btnOk, &QPushButton::clicked, this, [this] { btnOkClick(); });
    connect(btnCancel, &QPushButton::clicked, this, [this] { done(2); });
    resize(620, 420);
}

void TccnEditConnectionForm::btnOkClick() {
    if (!Frame->Validate()) {
        setResult(0);
        return;
    }
    Frame->Store();
    done(1);
}

} // namespace qz
