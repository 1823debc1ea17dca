#include "connection/ui/CcnEditFrames.h"

#include "common/Assert.h"
#include "connection/ui/CcnConnectionListLogic.h"
#include "connection/ui/CcnText.h"

#include <QAbstractSpinBox>
#include <QButtonGroup>
#include <QComboBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>
#include <QRegularExpressionValidator>
#include <QSpinBox>
#include <QVBoxLayout>

#include <climits>

namespace qz {

namespace {

using ccnui::U;

} // namespace

// --- TccnRadioGroup ---

TccnRadioGroup::TccnRadioGroup(const QString& caption, const QStringList& items, QWidget* parent)
    : QGroupBox(caption, parent), FButtons(new QButtonGroup(this)) {
    auto* lay = new QHBoxLayout(this);
    lay->setContentsMargins(6, 2, 6, 2);
    for (int i = 0; i < items.size(); ++i) {
        auto* b = new QRadioButton(items[i], this);
        FButtons->addButton(b, i);
        lay->addWidget(b);
    }
    lay->addStretch();
}

int TccnRadioGroup::ItemIndex() const {
    return FButtons->checkedId();
}

void TccnRadioGroup::SetItemIndex(int index) {
    if (QAbstractButton* b = FButtons->button(index)) {
        b->setChecked(true);
    } else if (QAbstractButton* c = FButtons->checkedButton()) {
        FButtons->setExclusive(false);
        c->setChecked(false);
        FButtons->setExclusive(true);
    }
}

int TccnRadioGroup::Count() const {
    return int(FButtons->buttons().size());
}

// --- TccnCustomEditFrame ---

TccnCustomEditFrame::TccnCustomEditFrame(QWidget* parent, IccnMessages& messages)
    : QWidget(parent), FMessages(messages), FLayout(new QVBoxLayout(this)),
      FForm(new QFormLayout()) {
    FLayout->setContentsMargins(0, 0, 0, 0);
    FForm->setFieldGrowthPolicy(QFormLayout::AllNonFixedFieldsGrow);
    FLayout->addLayout(FForm);
}

void TccnCustomEditFrame::SetEditObject(TccnPersistent* obj) {
    QZ_ASSERT(obj, "Не задан изменяемый объект");
    FObject = obj;
    LoadValues();
}

void TccnCustomEditFrame::SetReadOnly(bool readOnly) {
    FReadOnly = readOnly;
    const QColor colour =
        readOnly ? palette().color(QPalette::Window) : palette().color(QPalette::Base);
    auto paint = [&](QWidget* w) {
        QPalette p = w->palette();
        p.setColor(QPalette::Base, colour);
        w->setPalette(p);
    };
    for (QAbstractSpinBox* s : findChildren<QAbstractSpinBox*>()) {
        s->setReadOnly(readOnly);
        paint(s);
    }
    for (QLineEdit* e : findChildren<QLineEdit*>()) {
        if (qobject_cast<QAbstractSpinBox*>(e->parentWidget()) ||
            qobject_cast<QComboBox*>(e->parentWidget()))
            continue;
        e->setReadOnly(readOnly);
        paint(e);
    }
    for (QComboBox* c : findChildren<QComboBox*>()) {
        c->setEnabled(!readOnly);
        paint(c);
    }
    for (QRadioButton* r : findChildren<QRadioButton*>())
        r->setEnabled(!readOnly);
}

bool TccnCustomEditFrame::Fail(QWidget* control, const char* text) {
    FMessages.Error(window(), text);
    if (control) control->setFocus();
    return false;
}

QSpinBox* TccnCustomEditFrame::AddSpin(const char* name, const char* caption, int min, int max) {
    auto* s = new QSpinBox(this);
    s->setObjectName(name);
    s->setRange(min, max);
    FForm->addRow(U(caption), s);
    return s;
}

QLineEdit* TccnCustomEditFrame::AddLine(const char* name, const char* caption) {
    auto* e = new QLineEdit(this);
    e->setObjectName(name);
    FForm->addRow(U(caption), e);
    return e;
}

QComboBox* TccnCustomEditFrame::AddCombo(const char* name, const char* caption,
                                         const QStringList& items, bool editable) {
    auto* c = new QComboBox(this);
    c->setObjectName(name);
    c->setEditable(editable);
    c->addItems(items);
    FForm->addRow(U(caption), c);
    return c;
}

TccnRadioGroup* TccnCustomEditFrame::AddRadio(const char* name, const char* caption,
                                              const QStringList& items) {
    auto* g = new TccnRadioGroup(U(caption), items, this);
    g->setObjectName(name);
    FForm->addRow(g);
    return g;
}

// --- device ---

TccnEditCustomDeviceFrame::TccnEditCustomDeviceFrame(QWidget* parent, IccnMessages& messages)
    : TccnCustomEditFrame(parent, messages) {
    spedtFactoryNum = AddSpin("spedtFactoryNum", "Заводской номер", 1, INT_MAX);
}

void TccnEditCustomDeviceFrame::LoadValues() {
    spedtFactoryNum->setValue(static_cast<TccnCustomDevice*>(EditObject())->FactoryNum());
}

void TccnEditCustomDeviceFrame::Store() {
    static_cast<TccnCustomDevice*>(EditObject())->SetFactoryNum(spedtFactoryNum->value());
}

// --- protocols ---

TccnEditKavrenProtocolFrame::TccnEditKavrenProtocolFrame(QWidget* parent, IccnMessages& messages)
    : TccnCustomEditFrame(parent, messages) {
    spedtDeviceAddress = AddSpin("spedtDeviceAddress", "Адрес устройства", 0, 65535);
    spedtMaxAttemptCount = AddSpin("spedtMaxAttemptCount", "Макс. кол-во попыток", 1, INT_MAX);
    spedtMaxDataCount = AddSpin("spedtMaxDataCount", "Макс. кол-во данных", 1, INT_MAX);
}

void TccnEditKavrenProtocolFrame::LoadValues() {
    auto* p = static_cast<TccnKavrenProtocol*>(EditObject());
    spedtDeviceAddress->setValue(p->DeviceAddress());
    spedtMaxAttemptCount->setValue(p->MaxAttemptCount());
    spedtMaxDataCount->setValue(p->MaxDataCount());
}

void TccnEditKavrenProtocolFrame::Store() {
    auto* p = static_cast<TccnKavrenProtocol*>(EditObject());
    p->SetDeviceAddress(uint16_t(spedtDeviceAddress->value()));
    p->SetMaxAttemptCount(spedtMaxAttemptCount->value());
    p->SetMaxDataCount(spedtMaxDataCount->value());
}

TccnEditIEC101ProtocolFrame::TccnEditIEC101ProtocolFrame(QWidget* parent, IccnMessages& messages)
    : TccnCustomEditFrame(parent, messages) {
    const QStringList oneTwo = {"1", "2"};
    spedtLinkAddress = AddSpin("spedtLinkAddress", "Адрес связи", 0, 65535);
    rgLinkAddressLength = AddRadio("rgLinkAddressLength", "Длина адреса связи", oneTwo);
    spedtASDUAddress = AddSpin("spedtASDUAddress", "Адрес ASDU", 0, 65535);
    rgASDUAddressLength = AddRadio("rgASDUAddressLength", "Длина адреса ASDU", oneTwo);
    rgTransReasonLength = AddRadio("rgTransReasonLength", "Длина поля причины передачи", oneTwo);
    rgAOILength = AddRadio("rgAOILength", "Длина адреса объекта инф-ии", {"1", "2", "3"});
    spedtMaxFrameLength = AddSpin("spedtMaxFrameLength", "Макс. длина кадра", 1, 255);
}

void TccnEditIEC101ProtocolFrame::LoadValues() {
    auto* p = static_cast<TccnIEC101Protocol*>(EditObject());
    spedtLinkAddress->setValue(p->LinkAddress());
    rgLinkAddressLength->SetItemIndex(p->LinkAddressLength() - 1);
    spedtASDUAddress->setValue(p->ASDUAddress());
    rgASDUAddressLength->SetItemIndex(p->ASDUAddressLength() - 1);
    rgTransReasonLength->SetItemIndex(p->TransReasonLength() - 1);
    rgAOILength->SetItemIndex(p->AOILength() - 1);
    spedtMaxFrameLength->setValue(p->MaxFrameLength());
}

bool TccnEditIEC101ProtocolFrame::Validate() {
    // A length the stored object did not name is taken as two bytes, the one that holds
    // every address; Store writes the same.
    auto length = [](const TccnRadioGroup* g) {
        return g->ItemIndex() < 0 ? 2 : g->ItemIndex() + 1;
    };
    if (!AddressFitsLength(uint32_t(spedtLinkAddress->value()), length(rgLinkAddressLength)))
        return Fail(spedtLinkAddress, kccnMsgLinkAddressLength);
    if (!AddressFitsLength(uint32_t(spedtASDUAddress->value()), length(rgASDUAddressLength)))
        return Fail(spedtASDUAddress, kccnMsgASDUAddressLength);
    return true;
}

void TccnEditIEC101ProtocolFrame::Store() {
    auto* p = static_cast<TccnIEC101Protocol*>(EditObject());
    auto length = [](const TccnRadioGroup* g, int fallback) {
        return uint8_t(g->ItemIndex() < 0 ? fallback : g->ItemIndex() + 1);
    };
    p->SetLinkAddress(uint16_t(spedtLinkAddress->value()));
    p->SetLinkAddressLength(length(rgLinkAddressLength, 2));
    p->SetASDUAddress(uint16_t(spedtASDUAddress->value()));
    p->SetASDUAddressLength(length(rgASDUAddressLength, 2));
    p->SetTransReasonLength(length(rgTransReasonLength, p->TransReasonLength()));
    p->SetAOILength(length(rgAOILength, p->AOILength()));
    p->SetMaxFrameLength(uint8_t(spedtMaxFrameLength->value()));
}

TCcnEditIEC104ProtocolFrame::TCcnEditIEC104ProtocolFrame(QWidget* parent, IccnMessages& messages)
    : TccnCustomEditFrame(parent, messages) {
    spedtASDUAddress = AddSpin("spedtASDUAddress", "Адрес ASDU", 0, 65535);
    spedtK = AddSpin("spedtK", "K", INT_MIN, INT_MAX);
    spedtW = AddSpin("spedtW", "W", INT_MIN, INT_MAX);
    spedtT1 = AddSpin("spedtT1", "t1", INT_MIN, INT_MAX);
    spedtT2 = AddSpin("spedtT2", "t2", INT_MIN, INT_MAX);
    spedtT3 = AddSpin("spedtT3", "t3", INT_MIN, INT_MAX);
    spedtT4 = AddSpin("spedtT4", "t4", INT_MIN, INT_MAX);
    spedtMaxFrameLength = AddSpin("spedtMaxFrameLength", "Макс. длина кадра", 1, 255);
}

void TCcnEditIEC104ProtocolFrame::LoadValues() {
    auto* p = static_cast<TccnIEC104Protocol*>(EditObject());
    spedtASDUAddress->setValue(p->ASDUAddress());
    spedtK->setValue(p->K());
    spedtW->setValue(p->W());
    spedtT1->setValue(p->t1());
    spedtT2->setValue(p->t2());
    spedtT3->setValue(p->t3());
    spedtT4->setValue(p->t4());
    spedtMaxFrameLength->setValue(p->MaxFrameLength());
}

void TCcnEditIEC104ProtocolFrame::Store() {
    auto* p = static_cast<TccnIEC104Protocol*>(EditObject());
    p->SetASDUAddress(uint16_t(spedtASDUAddress->value()));
    p->SetK(spedtK->value());
    p->SetW(spedtW->value());
    p->Sett1(spedtT1->value());
    p->Sett2(spedtT2->value());
    p->Sett3(spedtT3->value());
    p->Sett4(spedtT4->value());
    p->SetMaxFrameLength(uint8_t(spedtMaxFrameLength->value()));
}

TccnEditModbusProtocolFrame::TccnEditModbusProtocolFrame(QWidget* parent, IccnMessages& messages)
    : TccnCustomEditFrame(parent, messages) {
    spedtDevAddress = AddSpin("spedtDevAddress", "Адрес устройства", 0, 255);
    spedtMaxAttemptCount = AddSpin("spedtMaxAttemptCount", "Макс. кол-во попыток", 1, INT_MAX);
}

void TccnEditModbusProtocolFrame::LoadValues() {
    auto* p = static_cast<TccnModbusProtocol*>(EditObject());
    spedtDevAddress->setValue(p->DevAddress());
    spedtMaxAttemptCount->setValue(p->MaxAttemptCount());
}

void TccnEditModbusProtocolFrame::Store() {
    auto* p = static_cast<TccnModbusProtocol*>(EditObject());
    p->SetDevAddress(uint8_t(spedtDevAddress->value()));
    p->SetMaxAttemptCount(spedtMaxAttemptCount->value());
}

// --- interfaces and modems ---

TccnEditComPortFrame::TccnEditComPortFrame(QWidget* parent, IccnMessages& messages,
                                           bool fixedSpeeds)
    : TccnCustomEditFrame(parent, messages), FFixedSpeeds(fixedSpeeds) {
    std::vector<TComPortInfo> ports;
    FillCOMPortList(&ports);
    ComboComPort = AddCombo("ComboComPort", "Com-порт", {}, true);
    for (const TComPortInfo& p : ports) {
        ComboComPort->addItem(U(p.Name), U(p.Device));
        ComboComPort->setItemData(ComboComPort->count() - 1, U(p.Device), Qt::ToolTipRole);
    }
    lblComPortDevice = new QLabel(this);
    lblComPortDevice->setObjectName("lblComPortDevice");
    FForm->addRow(QString(), lblComPortDevice);
    QStringList speeds;
    for (uint32_t r : fixedSpeeds ? OptoAttachBaudRates() : EditableBaudRates())
        speeds << QString::number(r);
    ComboBaudRate = AddCombo("ComboBaudRate", "Скорость обмена", speeds, !fixedSpeeds);
    if (!fixedSpeeds) {
        // Only digits can be typed; editing and navigation keys work as usual.
        ComboBaudRate->setValidator(new QRegularExpressionValidator(
            QRegularExpression(QStringLiteral("[0-9]*")), ComboBaudRate));
        ComboBaudRate->setInsertPolicy(QComboBox::NoInsert);
    }
    ComboComPort->setInsertPolicy(QComboBox::NoInsert);
    connect(ComboComPort, &QComboBox::currentTextChanged, this, [this] { ShowDevice(); });
}

void TccnEditComPortFrame::ShowDevice() {
    const std::string device = ResolveComPort(ComboComPort->currentText().trimmed().toStdString());
    lblComPortDevice->setText(device.empty() ? U("нет устройства") : U(device));
}

void TccnEditComPortFrame::LoadValues() {
    auto* c = static_cast<TccnComPortInterface*>(EditObject());
    const int i = ComboComPort->findText(U(c->PortName()), Qt::MatchFixedString);
    if (i >= 0)
        ComboComPort->setCurrentIndex(i);
    else
        ComboComPort->setEditText(U(c->PortName()));
    ShowDevice();
    if (FFixedSpeeds)
        ComboBaudRate->setCurrentIndex(FixedBaudRateIndex(OptoAttachBaudRates(), c->Baudrate()));
    else
        ComboBaudRate->setEditText(QString::number(c->Baudrate()));
}

bool TccnEditComPortFrame::Validate() {
    if (ComboComPort->currentText().trimmed().isEmpty())
        return Fail(ComboComPort, kccnMsgNoComPort);
    uint32_t rate = 0;
    if (!ParseBaudRate(ComboBaudRate->currentText().toStdString(), rate))
        return Fail(ComboBaudRate, kccnMsgBadBaudRate);
    return true;
}

void TccnEditComPortFrame::Store() {
    auto* c = static_cast<TccnComPortInterface*>(EditObject());
    c->SetPortName(ComboComPort->currentText().trimmed().toStdString());
    uint32_t rate = 0;
    if (ParseBaudRate(ComboBaudRate->currentText().toStdString(), rate)) c->SetBaudrate(rate);
}

TccnEditTCPIPFrame::TccnEditTCPIPFrame(QWidget* parent, IccnMessages& messages)
    : TccnCustomEditFrame(parent, messages) {
    leIpAddress = AddLine("leIpAddress", "IP-адрес");
    spedtIpPort = AddSpin("spedtIpPort", "IP-порт", 0, INT_MAX);
}

void TccnEditTCPIPFrame::LoadValues() {
    auto* t = static_cast<TccnTCPIPInterface*>(EditObject());
    leIpAddress->setText(U(t->IpAddress()));
    spedtIpPort->setValue(t->IpPort());
}

bool TccnEditTCPIPFrame::Validate() {
    const std::string ip = leIpAddress->text().trimmed().toStdString();
    if (ip.empty()) return Fail(leIpAddress, kccnMsgNoIpAddress);
    if (!IsValidIpAddress(ip)) return Fail(leIpAddress, kccnMsgBadIpAddress);
    return true;
}

void TccnEditTCPIPFrame::Store() {
    auto* t = static_cast<TccnTCPIPInterface*>(EditObject());
    t->SetIpAddress(leIpAddress->text().trimmed().toStdString());
    t->SetIpPort(spedtIpPort->value());
}

TccnEditPhoneModemFrame::TccnEditPhoneModemFrame(QWidget* parent, IccnMessages& messages)
    : TccnCustomEditFrame(parent, messages) {
    leInitString = AddLine("leInitString", "Строка инициализации");
    comboConnectType =
        AddCombo("comboConnectType", "Способ соединения",
                 {U(PhoneModemConnectTypeNames[0]), U(PhoneModemConnectTypeNames[1])}, false);
    lePhoneNumber = AddLine("lePhoneNumber", "Номер");
    comboDialType = AddCombo("comboDialType", "Набор номера",
                             {U(PhoneModemDialTypeNames[0]), U(PhoneModemDialTypeNames[1])}, false);
    connect(comboConnectType, qOverload<int>(&QComboBox::currentIndexChanged), this,
            [this] { UpdateVisibility(); });
    UpdateVisibility();
}

void TccnEditPhoneModemFrame::UpdateVisibility() {
    const bool dialling = comboConnectType->currentIndex() == pmctDialing;
    FForm->setRowVisible(lePhoneNumber, dialling);
    FForm->setRowVisible(comboDialType, dialling);
}

void TccnEditPhoneModemFrame::LoadValues() {
    auto* m = static_cast<TccnPhoneModem*>(EditObject());
    leInitString->setText(U(m->InitString()));
    comboConnectType->setCurrentIndex(m->ConnectType());
    lePhoneNumber->setText(U(m->PhoneNumber()));
    comboDialType->setCurrentIndex(m->DialType());
    UpdateVisibility();
}

bool TccnEditPhoneModemFrame::Validate() {
    if (comboConnectType->currentIndex() == pmctDialing &&
        lePhoneNumber->text().trimmed().isEmpty())
        return Fail(lePhoneNumber, kccnMsgNoPhoneNumber);
    return true;
}

void TccnEditPhoneModemFrame::Store() {
    auto* m = static_cast<TccnPhoneModem*>(EditObject());
    m->SetInitString(leInitString->text().toStdString());
    m->SetConnectType(comboConnectType->currentIndex() == pmctDirect ? pmctDirect : pmctDialing);
    m->SetPhoneNumber(lePhoneNumber->text().trimmed().toStdString());
    m->SetDialType(comboDialType->currentIndex() == pmdtPulse ? pmdtPulse : pmdtTone);
}

TccnEditRadioModemFrame::TccnEditRadioModemFrame(QWidget* parent, IccnMessages& messages)
    : TccnCustomEditFrame(parent, messages) {
    leInitString = AddLine("leInitString", "Строка инициализации");
    leCallNumber = AddLine("leCallNumber", "Позывной");
}

void TccnEditRadioModemFrame::LoadValues() {
    auto* m = static_cast<TccnRadioModem*>(EditObject());
    leInitString->setText(U(m->InitString()));
    leCallNumber->setText(U(m->CallNumber()));
}

bool TccnEditRadioModemFrame::Validate() {
    if (leCallNumber->text().trimmed().isEmpty()) return Fail(leCallNumber, kccnMsgNoCallNumber);
    return true;
}

void TccnEditRadioModemFrame::Store() {
    auto* m = static_cast<TccnRadioModem*>(EditObject());
    m->SetInitString(leInitString->text().toStdString());
    m->SetCallNumber(leCallNumber->text().trimmed().toStdString());
}

// --- connection modes ---

TccnEditCustomConModeFrame::TccnEditCustomConModeFrame(QWidget* parent, IccnMessages& messages)
    : TccnCustomEditFrame(parent, messages) {
    spedtMaxAttemptCountOnConnect =
        AddSpin("spedtMaxAttemptCountOnConnect", "Макс. кол-во попыток", 1, INT_MAX);
}

void TccnEditCustomConModeFrame::AddSubFrames(TccnCustomEditFrame* iface,
                                              TccnCustomEditFrame* hardware) {
    InterfaceFrame = iface;
    HardwareFrame = hardware;
    for (TccnCustomEditFrame* f : {iface, hardware})
        if (f) FLayout->addWidget(f);
    FLayout->addStretch();
}

void TccnEditCustomConModeFrame::SetReadOnly(bool readOnly) {
    TccnCustomEditFrame::SetReadOnly(readOnly);
    for (TccnCustomEditFrame* f : {InterfaceFrame, HardwareFrame})
        if (f) f->SetReadOnly(readOnly);
}

void TccnEditCustomConModeFrame::LoadValues() {
    auto* m = static_cast<TccnCustomConMode*>(EditObject());
    spedtMaxAttemptCountOnConnect->setValue(m->MaxAttemptCountOnConnect());
    if (InterfaceFrame) InterfaceFrame->SetEditObject(m->CustomCommInterface());
    if (HardwareFrame) HardwareFrame->SetEditObject(m->CustomCommHardware());
}

bool TccnEditCustomConModeFrame::Validate() {
    for (TccnCustomEditFrame* f : {InterfaceFrame, HardwareFrame})
        if (f && !f->Validate()) return false;
    return true;
}

void TccnEditCustomConModeFrame::Store() {
    static_cast<TccnCustomConMode*>(EditObject())
        ->SetMaxAttemptCountOnConnect(spedtMaxAttemptCountOnConnect->value());
    for (TccnCustomEditFrame* f : {InterfaceFrame, HardwareFrame})
        if (f) f->Store();
}

TccnEditDirect232ConModeFrame::TccnEditDirect232ConModeFrame(QWidget* parent,
                                                             IccnMessages& messages)
    : TccnEditCustomConModeFrame(parent, messages) {
    AddSubFrames(new TccnEditComPortFrame(this, messages, false), nullptr);
}

TccnEditPhoneModem232ConModeFrame::TccnEditPhoneModem232ConModeFrame(QWidget* parent,
                                                                     IccnMessages& messages)
    : TccnEditCustomConModeFrame(parent, messages) {
    AddSubFrames(new TccnEditComPortFrame(this, messages, false),
                 new TccnEditPhoneModemFrame(this, messages));
}

TccnEditRadioModem232ConModeFrame::TccnEditRadioModem232ConModeFrame(QWidget* parent,
                                                                     IccnMessages& messages)
    : TccnEditCustomConModeFrame(parent, messages) {
    AddSubFrames(new TccnEditComPortFrame(this, messages, false),
                 new TccnEditRadioModemFrame(this, messages));
}

TccnEditDirectTCPIPConModeFrame::TccnEditDirectTCPIPConModeFrame(QWidget* parent,
                                                                 IccnMessages& messages)
    : TccnEditCustomConModeFrame(parent, messages) {
    AddSubFrames(new TccnEditTCPIPFrame(this, messages), nullptr);
}

TCcnEditVQOptoAttach232ConModeFrame::TCcnEditVQOptoAttach232ConModeFrame(QWidget* parent,
                                                                         IccnMessages& messages)
    : TccnEditCustomConModeFrame(parent, messages) {
    AddSubFrames(new TccnEditComPortFrame(this, messages, true), nullptr);
}

// --- by class ---

TccnCustomEditFrame* CreateDeviceFrame(const TccnClass& cls, QWidget* parent,
                                       IccnMessages& messages) {
    if (!cls.InheritsFrom(TccnCustomDevice::Class)) return nullptr;
    return new TccnEditCustomDeviceFrame(parent, messages);
}

TccnCustomEditFrame* CreateProtocolFrame(const TccnClass& cls, QWidget* parent,
                                         IccnMessages& messages) {
    if (cls.InheritsFrom(TccnKavrenProtocol::Class))
        return new TccnEditKavrenProtocolFrame(parent, messages);
    if (cls.InheritsFrom(TccnIEC101Protocol::Class))
        return new TccnEditIEC101ProtocolFrame(parent, messages);
    if (cls.InheritsFrom(TccnIEC104Protocol::Class))
        return new TCcnEditIEC104ProtocolFrame(parent, messages);
    if (cls.InheritsFrom(TccnModbusProtocol::Class))
        return new TccnEditModbusProtocolFrame(parent, messages);
    return nullptr;
}

TccnCustomEditFrame* CreateConModeFrame(const TccnClass& cls, QWidget* parent,
                                        IccnMessages& messages) {
    if (cls.InheritsFrom(TccnDirect232ConMode::Class))
        return new TccnEditDirect232ConModeFrame(parent, messages);
    if (cls.InheritsFrom(TccnPhoneModem232ConMode::Class))
        return new TccnEditPhoneModem232ConModeFrame(parent, messages);
    if (cls.InheritsFrom(TccnRadioModem232ConMode::Class))
        return new TccnEditRadioModem232ConModeFrame(parent, messages);
    if (cls.InheritsFrom(TccnDirectTCPIPConMode::Class))
        return new TccnEditDirectTCPIPConModeFrame(parent, messages);
    if (cls.InheritsFrom(TccnVQOptoAttach232ConMode::Class))
        return new TCcnEditVQOptoAttach232ConModeFrame(parent, messages);
    return nullptr;
}

} // namespace qz
