// The small editing frames of the connection editor: one per device, protocol, connection
// mode, interface and modem class. Every frame is used in the same order: SetEditObject
// (loads the object's values into the controls), SetReadOnly, Validate (shows a message and
// focuses the offending control on failure), Store (writes the controls into the object).
#pragma once

#include "connection/CcnConnectionClasses.h"
#include "connection/ui/CcnMessages.h"

#include <QGroupBox>
#include <QWidget>

#include <memory>
#include <vector>

class QButtonGroup;
class QComboBox;
class QFormLayout;
class QLabel;
class QLineEdit;
class QSpinBox;
class QVBoxLayout;

namespace qz {

// A group of radio buttons with an item index, -1 when none is checked.
class TccnRadioGroup : public QGroupBox {
    Q_OBJECT
public:
    TccnRadioGroup(const QString& caption, const QStringList& items, QWidget* parent);
    int ItemIndex() const;
    void SetItemIndex(int index);
    int Count() const;

private:
    QButtonGroup* FButtons;
};

class TccnCustomEditFrame : public QWidget {
    Q_OBJECT
public:
    TccnCustomEditFrame(QWidget* parent, IccnMessages& messages);

    // The object is required ("Не задан изменяемый объект"); it is not owned.
    void SetEditObject(TccnPersistent* obj);
    TccnPersistent* EditObject() const { return FObject; }
    // A read-only control takes its parent's colour, an editable one the window colour.
    virtual void SetReadOnly(bool readOnly);
    bool ReadOnly() const { return FReadOnly; }
    // True, or a message shown and the offending control focused.
    virtual bool Validate() { return true; }
    virtual void Store() = 0;

protected:
    virtual void LoadValues() = 0;
    bool Fail(QWidget* control, const char* text);
    QSpinBox* AddSpin(const char* name, const char* caption, int min, int max);
    QLineEdit* AddLine(const char* name, const char* caption);
    QComboBox* AddCombo(const char* name, const char* caption, const QStringList& items,
                        bool editable);
    TccnRadioGroup* AddRadio(const char* name, const char* caption, const QStringList& items);

    IccnMessages& FMessages;
    QVBoxLayout* FLayout;
    QFormLayout* FForm;

private:
    TccnPersistent* FObject = nullptr;
    bool FReadOnly = false;
};

// --- device ---

class TccnEditCustomDeviceFrame : public TccnCustomEditFrame {
    Q_OBJECT
public:
    TccnEditCustomDeviceFrame(QWidget* parent, IccnMessages& messages);
    void Store() override;
    QSpinBox* spedtFactoryNum;

protected:
    void LoadValues() override;
};

// --- protocols ---

class TccnEditKavrenProtocolFrame : public TccnCustomEditFrame {
    Q_OBJECT
public:
    TccnEditKavrenProtocolFrame(QWidget* parent, IccnMessages& messages);
    void Store() override;
    QSpinBox *spedtDeviceAddress, *spedtMaxAttemptCount, *spedtMaxDataCount;

protected:
    void LoadValues() override;
};

class TccnEditIEC101ProtocolFrame : public TccnCustomEditFrame {
    Q_OBJECT
public:
    TccnEditIEC101ProtocolFrame(QWidget* parent, IccnMessages& messages);
    bool Validate() override;
    void Store() override;
    QSpinBox *spedtLinkAddress, *spedtASDUAddress, *spedtMaxFrameLength;
    TccnRadioGroup *rgLinkAddressLength, *rgASDUAddressLength, *rgTransReasonLength, *rgAOILength;

protected:
    void LoadValues() override;
};

class TCcnEditIEC104ProtocolFrame : public TccnCustomEditFrame {
    Q_OBJECT
public:
    TCcnEditIEC104ProtocolFrame(QWidget* parent, IccnMessages& messages);
    void Store() override;
    QSpinBox *spedtASDUAddress, *spedtK, *spedtW, *spedtT1, *spedtT2, *spedtT3, *spedtT4,
        *spedtMaxFrameLength;

protected:
    void LoadValues() override;
};

class TccnEditModbusProtocolFrame : public TccnCustomEditFrame {
    Q_OBJECT
public:
    TccnEditModbusProtocolFrame(QWidget* parent, IccnMessages& messages);
    void Store() override;
    QSpinBox *spedtDevAddress, *spedtMaxAttemptCount;

protected:
    void LoadValues() override;
};

// --- interfaces and modems ---

class TccnEditComPortFrame : public TccnCustomEditFrame {
    Q_OBJECT
public:
    // fixedSpeeds: the optical attachment's drop-down list instead of the editable box.
    TccnEditComPortFrame(QWidget* parent, IccnMessages& messages, bool fixedSpeeds);
    bool Validate() override;
    void Store() override;
    QComboBox *ComboComPort, *ComboBaudRate;
    // The device the port name stands for on this machine.
    QLabel* lblComPortDevice;

protected:
    void LoadValues() override;

private:
    void ShowDevice();
    bool FFixedSpeeds;
};

class TccnEditTCPIPFrame : public TccnCustomEditFrame {
    Q_OBJECT
public:
    TccnEditTCPIPFrame(QWidget* parent, IccnMessages& messages);
    bool Validate() override;
    void Store() override;
    QLineEdit* leIpAddress;
    QSpinBox* spedtIpPort;

protected:
    void LoadValues() override;
};

class TccnEditPhoneModemFrame : public TccnCustomEditFrame {
    Q_OBJECT
public:
    TccnEditPhoneModemFrame(QWidget* parent, IccnMessages& messages);
    bool Validate() override;
    void Store() override;
    QLineEdit *leInitString, *lePhoneNumber;
    QComboBox *comboConnectType, *comboDialType;

protected:
    void LoadValues() override;

private:
    // The number and the dialling type only matter while dialling through an exchange.
    void UpdateVisibility();
};

class TccnEditRadioModemFrame : public TccnCustomEditFrame {
    Q_OBJECT
public:
    TccnEditRadioModemFrame(QWidget* parent, IccnMessages& messages);
    bool Validate() override;
    void Store() override;
    QLineEdit *leInitString, *leCallNumber;

protected:
    void LoadValues() override;
};

// --- connection modes ---

// The mode's own attempt count above the frames of its interface and hardware.
class TccnEditCustomConModeFrame : public TccnCustomEditFrame {
    Q_OBJECT
public:
    TccnEditCustomConModeFrame(QWidget* parent, IccnMessages& messages);
    void SetReadOnly(bool readOnly) override;
    bool Validate() override;
    void Store() override;
    QSpinBox* spedtMaxAttemptCountOnConnect;
    TccnCustomEditFrame* InterfaceFrame = nullptr;
    TccnCustomEditFrame* HardwareFrame = nullptr;

protected:
    void LoadValues() override;
    void AddSubFrames(TccnCustomEditFrame* iface, TccnCustomEditFrame* hardware);
};

class TccnEditDirect232ConModeFrame : public TccnEditCustomConModeFrame {
    Q_OBJECT
public:
    TccnEditDirect232ConModeFrame(QWidget* parent, IccnMessages& messages);
};

class TccnEditPhoneModem232ConModeFrame : public TccnEditCustomConModeFrame {
    Q_OBJECT
public:
    TccnEditPhoneModem232ConModeFrame(QWidget* parent, IccnMessages& messages);
};

class TccnEditRadioModem232ConModeFrame : public TccnEditCustomConModeFrame {
    Q_OBJECT
public:
    TccnEditRadioModem232ConModeFrame(QWidget* parent, IccnMessages& messages);
};

class TccnEditDirectTCPIPConModeFrame : public TccnEditCustomConModeFrame {
    Q_OBJECT
public:
    TccnEditDirectTCPIPConModeFrame(QWidget* parent, IccnMessages& messages);
};

class TCcnEditVQOptoAttach232ConModeFrame : public TccnEditCustomConModeFrame {
    Q_OBJECT
public:
    TCcnEditVQOptoAttach232ConModeFrame(QWidget* parent, IccnMessages& messages);
};

// The frame that edits an object of the class (null for a class without one).
TccnCustomEditFrame* CreateDeviceFrame(const TccnClass& cls, QWidget* parent,
                                       IccnMessages& messages);
TccnCustomEditFrame* CreateProtocolFrame(const TccnClass& cls, QWidget* parent,
                                         IccnMessages& messages);
TccnCustomEditFrame* CreateConModeFrame(const TccnClass& cls, QWidget* parent,
                                        IccnMessages& messages);

} // namespace qz
