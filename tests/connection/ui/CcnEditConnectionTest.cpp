// The connection editor: loading, type switches with the history lists, every validation
// message with its focus, and what OK stores.
#include "CcnUITestSupport.h"

#include "common/Assert.h"
#include "connection/ui/CcnEditConnection.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTest>

#include <gtest/gtest.h>

namespace qz {
namespace {

using test::MakeConnection;

class EditConnection : public ::testing::Test {
protected:
    void SetUp() override {
        test::App();
        SetComPortLister([] {
            return std::vector<TComPortInfo>{{3, "COM3", "/dev/ttyS2"}, {1, "COM1", "/dev/ttyS0"}};
        });
    }
    void TearDown() override { SetComPortLister(nullptr); }

    // Opens the editor on the connection with the options.
    TccnEditConnectionForm& Open(TccnConnection& c, bool all = false, bool adding = false) {
        if (all)
            test::AllOptions(Options);
        else
            test::MonitorOptions(Options);
        Form = std::make_unique<TccnEditConnectionForm>(nullptr, Options, &c, Messages, adding);
        return *Form;
    }
    TccnEditConnectionFrame& F() { return *Form->Frame; }
    static void Choose(QComboBox* combo, const char* text) {
        const int i = combo->findText(QString::fromUtf8(text));
        ASSERT_GE(i, 0) << text;
        combo->setCurrentIndex(i);
    }
    void ChooseMode(TConModeType m) {
        Choose(F().comboConModeType, ConModeTypeNames[m]);
        F().comboConModeTypeSelect();
    }
    template <class T> T* Find(const char* name) {
        T* w = Form->findChild<T*>(QString::fromUtf8(name));
        EXPECT_NE(w, nullptr) << name;
        return w;
    }
    // OK; the message shown (empty when accepted) and the control that has the focus.
    std::string Ok() {
        Messages.Errors.clear();
        Form->btnOkClick();
        return Messages.Errors.empty() ? std::string() : Messages.Errors.back();
    }

    TccnConnectionListUIOptions Options;
    test::TFakeMessages Messages;
    std::unique_ptr<TccnEditConnectionForm> Form;
};

TEST_F(EditConnection, LoadsTheConnectionAndStoresItBackOnOk) {
    auto c = MakeConnection(dtQZ2M, 1234, cmtPhoneModem232);
    auto* mode = static_cast<TccnPhoneModem232ConMode*>(c->CustomConMode());
    mode->ComPortInterface().SetPortName("COM3");
    mode->ComPortInterface().SetBaudrate(9600);
    mode->PhoneModem().SetPhoneNumber("8-800");
    static_cast<TccnKavrenProtocol*>(c->CustomDeviceProtocol())->SetDeviceAddress(77);
    Open(*c);
    EXPECT_EQ(Form->windowTitle(), QString::fromUtf8("Изменить подключение"));
    EXPECT_EQ(F().comboDeviceType->count(), 6);
    EXPECT_EQ(F().comboDeviceType->currentText(), QString::fromUtf8("Каврен–QZ2М"));
    EXPECT_EQ(F().comboDeviceProtocolType->count(), 1);
    EXPECT_EQ(F().comboConModeType->count(), 4); // never the optical attachment here
    EXPECT_EQ(Find<QSpinBox>("spedtFactoryNum")->value(), 1234);
    EXPECT_EQ(Find<QSpinBox>("spedtDeviceAddress")->value(), 77);
    auto* ports = Find<QComboBox>("ComboComPort");
    EXPECT_EQ(ports->currentText(), "COM3");
    // The machine's ports by number, each with its device.
    ASSERT_EQ(ports->count(), 2);
    EXPECT_EQ(ports->itemText(0), "COM1");
    EXPECT_EQ(ports->itemData(0, Qt::ToolTipRole).toString(), "/dev/ttyS0");
    EXPECT_EQ(Find<QComboBox>("ComboBaudRate")->currentText(), "9600");
    EXPECT_EQ(Find<QLineEdit>("lePhoneNumber")->text(), "8-800");

    Find<QSpinBox>("spedtFactoryNum")->setValue(4321);
    Find<QSpinBox>("spedtDeviceAddress")->setValue(12);
    Find<QComboBox>("ComboComPort")->setCurrentIndex(0); // COM1, the list sorted by number
    Find<QComboBox>("ComboBaudRate")->setEditText("19200");
    Find<QLineEdit>("lePhoneNumber")->setText("  555 ");
    EXPECT_EQ(Ok(), "");
    EXPECT_EQ(Form->result(), 1);
    EXPECT_EQ(c->CustomDevice()->FactoryNum(), 4321);
    EXPECT_EQ(static_cast<TccnKavrenProtocol*>(c->CustomDeviceProtocol())->DeviceAddress(), 12);
    mode = static_cast<TccnPhoneModem232ConMode*>(c->CustomConMode());
    EXPECT_EQ(mode->ComPortInterface().PortName(), "COM1");
    EXPECT_EQ(mode->ComPortInterface().Baudrate(), 19200u);
    EXPECT_EQ(mode->PhoneModem().PhoneNumber(), "555");
}

TEST_F(EditConnection, CancelLeavesTheConnectionAlone) {
    auto c = MakeConnection(dtQZ2, 5);
    Open(*c);
    Find<QSpinBox>("spedtFactoryNum")->setValue(99);
    Form->btnCancel->click();
    EXPECT_EQ(Form->result(), 2);
    EXPECT_EQ(c->CustomDevice()->FactoryNum(), 5);
}

TEST_F(EditConnection, NewConnectionGetsTheFirstChoicesAndAddingCaption) {
    TccnConnection c;
    Open(c, false, true);
    EXPECT_EQ(Form->windowTitle(), QString::fromUtf8("Добавить подключение"));
    EXPECT_EQ(F().comboDeviceType->currentIndex(), 0);
    EXPECT_EQ(F().comboConModeType->currentText(), QString::fromUtf8("COM-порт"));
    EXPECT_EQ(Ok(), "");
    ASSERT_NE(c.CustomDevice(), nullptr);
    EXPECT_EQ(c.CustomDevice()->DeviceType(), dtQZ2);
    EXPECT_EQ(c.CustomDevice()->FactoryNum(), 1); // the box starts at 1
    ASSERT_NE(c.CustomConMode(), nullptr);
    EXPECT_EQ(c.CustomConMode()->ConModeType(), cmtDirect232);
}

TEST_F(EditConnection, FactoryNumberSurvivesAChangeOfType) {
    auto c = MakeConnection(dtQZ2, 10);
    Open(*c);
    Find<QSpinBox>("spedtFactoryNum")->setValue(777);
    Choose(F().comboDeviceType, "Каврен–QZ2С");
    F().comboDeviceTypeSelect();
    EXPECT_EQ(Find<QSpinBox>("spedtFactoryNum")->value(), 777);
    EXPECT_EQ(F().DeviceHistory().Count(), 2u);
    EXPECT_EQ(Ok(), "");
    EXPECT_EQ(c->CustomDevice()->DeviceType(), dtQZ2C);
    EXPECT_EQ(c->CustomDevice()->FactoryNum(), 777);
}

TEST_F(EditConnection, ComPortAndSpeedSurviveAChangeOfModeAndTheEarlierModeComesBack) {
    auto c = MakeConnection(dtQZ2, 1, cmtDirect232);
    Open(*c);
    Find<QComboBox>("ComboComPort")->setCurrentIndex(1); // COM3
    Find<QComboBox>("ComboBaudRate")->setEditText("4800");
    Find<QSpinBox>("spedtMaxAttemptCountOnConnect")->setValue(9);
    TccnPersistent* direct = F().CurrentConMode();

    ChooseMode(cmtPhoneModem232);
    EXPECT_EQ(F().CurrentConMode()->ConModeType(), cmtPhoneModem232);
    auto* ports = Find<QComboBox>("ComboComPort");
    EXPECT_EQ(ports->currentText(), "COM3");
    // The machine's ports by number, each with its device.
    ASSERT_EQ(ports->count(), 2);
    EXPECT_EQ(ports->itemText(0), "COM1");
    EXPECT_EQ(ports->itemData(0, Qt::ToolTipRole).toString(), "/dev/ttyS0");
    EXPECT_EQ(Find<QComboBox>("ComboBaudRate")->currentText(), "4800");
    EXPECT_EQ(Find<QSpinBox>("spedtMaxAttemptCountOnConnect")->value(), 5); // the modem's own
    Find<QComboBox>("ComboBaudRate")->setEditText("2400");
    Find<QLineEdit>("lePhoneNumber")->setText("1");

    ChooseMode(cmtDirect232);
    EXPECT_EQ(F().CurrentConMode(), direct);
    EXPECT_EQ(Find<QSpinBox>("spedtMaxAttemptCountOnConnect")->value(), 9);
    // The port follows the operator's latest edit, made in the modem mode.
    EXPECT_EQ(Find<QComboBox>("ComboBaudRate")->currentText(), "2400");
    EXPECT_EQ(Ok(), "");
    auto* stored = dynamic_cast<TccnDirect232ConMode*>(c->CustomConMode());
    ASSERT_NE(stored, nullptr);
    EXPECT_EQ(stored->MaxAttemptCountOnConnect(), 9);
    EXPECT_EQ(stored->ComPortInterface().PortName(), "COM3");
    EXPECT_EQ(stored->ComPortInterface().Baudrate(), 2400u);
}

TEST_F(EditConnection, TcpModeTakesNoComValues) {
    auto c = MakeConnection(dtQZ2, 1, cmtDirect232);
    Open(*c);
    ChooseMode(cmtDirectTCPIP);
    EXPECT_EQ(Find<QLineEdit>("leIpAddress")->text(), "");
    EXPECT_EQ(Find<QSpinBox>("spedtIpPort")->value(), 0);
}

TEST_F(EditConnection, ProtocolsFollowTheDeviceType) {
    auto c = MakeConnection(dtW8, 1, cmtDirect232, dptIEC104);
    Open(*c, true);
    EXPECT_EQ(F().comboDeviceProtocolType->count(), 3);
    EXPECT_NE(Form->findChild<QSpinBox*>("spedtK"), nullptr);
    // ГЛ speaks Modbus only: the IEC 104 object cannot stay.
    Choose(F().comboDeviceType, "Каврен–ГЛ");
    F().comboDeviceTypeSelect();
    EXPECT_EQ(F().comboDeviceProtocolType->count(), 1);
    EXPECT_EQ(F().CurrentProtocol()->ProtocolType(), dptModbusRTU);
    EXPECT_NE(Form->findChild<QSpinBox*>("spedtDevAddress"), nullptr);
    EXPECT_EQ(Form->findChild<QSpinBox*>("spedtK"), nullptr);
    EXPECT_EQ(Find<QSpinBox>("spedtDevAddress")->maximum(), 255);
}

TEST_F(EditConnection, Iec101AddressesMustFitTheirLength) {
    auto c = MakeConnection(dtQZ2, 1, cmtDirect232, dptIEC101);
    Open(*c, true);
    auto* link = Find<QSpinBox>("spedtLinkAddress");
    auto* linkLength = Find<TccnRadioGroup>("rgLinkAddressLength");
    auto* asdu = Find<QSpinBox>("spedtASDUAddress");
    auto* asduLength = Find<TccnRadioGroup>("rgASDUAddressLength");
    EXPECT_EQ(Find<TccnRadioGroup>("rgAOILength")->Count(), 3);
    EXPECT_EQ(Find<QSpinBox>("spedtMaxFrameLength")->maximum(), 255);

    link->setValue(300);
    linkLength->SetItemIndex(0);
    EXPECT_EQ(Ok(), "Значение адреса связи не соответствует выбранной длине ");
    EXPECT_EQ(Form->focusWidget(), link);
    EXPECT_EQ(Form->result(), 0);

    linkLength->SetItemIndex(1);
    asdu->setValue(256);
    asduLength->SetItemIndex(0);
    EXPECT_EQ(Ok(), "Значение адреса ASDU не соответствует выбранной длине ");
    EXPECT_EQ(Form->focusWidget(), asdu);

    asduLength->SetItemIndex(1);
    Find<TccnRadioGroup>("rgAOILength")->SetItemIndex(2);
    EXPECT_EQ(Ok(), "");
    auto* p = static_cast<TccnIEC101Protocol*>(c->CustomDeviceProtocol());
    EXPECT_EQ(p->LinkAddress(), 300);
    EXPECT_EQ(p->LinkAddressLength(), 2);
    EXPECT_EQ(p->ASDUAddress(), 256);
    EXPECT_EQ(p->ASDUAddressLength(), 2);
    EXPECT_EQ(p->AOILength(), 3);
}

TEST_F(EditConnection, ComPortMessages) {
    auto c = MakeConnection(dtQZ2, 1, cmtDirect232);
    Open(*c);
    auto* port = Find<QComboBox>("ComboComPort");
    auto* speed = Find<QComboBox>("ComboBaudRate");
    port->setEditText("  ");
    EXPECT_EQ(Ok(), "Не задан Com-порт");
    EXPECT_EQ(Form->focusWidget(), port);
    port->setEditText("COM7");
    for (const char* bad : {"", "0"}) {
        speed->setEditText(bad);
        EXPECT_EQ(Ok(), "Некорректно задана скорость обмена") << bad;
        EXPECT_EQ(Form->focusWidget(), speed);
    }
    speed->setEditText("57600");
    EXPECT_EQ(Ok(), "");
    auto* m = static_cast<TccnDirect232ConMode*>(c->CustomConMode());
    EXPECT_EQ(m->ComPortInterface().PortName(), "COM7"); // a port not on this machine is kept
    EXPECT_EQ(m->ComPortInterface().Baudrate(), 57600u);
}

TEST_F(EditConnection, SpeedBoxTakesDigitsOnly) {
    auto c = MakeConnection(dtQZ2, 1, cmtDirect232);
    Open(*c);
    auto* speed = Find<QComboBox>("ComboBaudRate");
    EXPECT_TRUE(speed->isEditable());
    EXPECT_EQ(speed->count(), 16);
    speed->lineEdit()->clear();
    QTest::keyClicks(speed->lineEdit(), "12a-3 4");
    EXPECT_EQ(speed->currentText(), "1234");
}

TEST_F(EditConnection, OpticalAttachmentHasTheFixedSpeedList) {
    auto c = MakeConnection(dtQZ2, 1, cmtVQOptoAttach232);
    static_cast<TccnVQOptoAttach232ConMode*>(c->CustomConMode())
        ->ComPortInterface()
        .SetBaudrate(4800);
    Open(*c, true);
    auto* speed = Find<QComboBox>("ComboBaudRate");
    EXPECT_FALSE(speed->isEditable());
    ASSERT_EQ(speed->count(), 5);
    EXPECT_EQ(speed->currentText(), "2400"); // 4800 is not offered: the first entry
    speed->setCurrentIndex(4);
    EXPECT_EQ(Ok(), "");
    EXPECT_EQ(
        static_cast<TccnVQOptoAttach232ConMode*>(c->CustomConMode())->ComPortInterface().Baudrate(),
        115200u);
}

TEST_F(EditConnection, PhoneNumberOnlyWhileDialling) {
    auto c = MakeConnection(dtQZ2, 1, cmtPhoneModem232);
    Open(*c);
    auto* number = Find<QLineEdit>("lePhoneNumber");
    auto* dial = Find<QComboBox>("comboDialType");
    auto* connectType = Find<QComboBox>("comboConnectType");
    EXPECT_TRUE(number->isVisibleTo(Form.get()));
    EXPECT_TRUE(dial->isVisibleTo(Form.get()));
    EXPECT_EQ(Ok(), "Не задан номер телефона");
    EXPECT_EQ(Form->focusWidget(), number);

    connectType->setCurrentIndex(pmctDirect);
    EXPECT_FALSE(number->isVisibleTo(Form.get()));
    EXPECT_FALSE(dial->isVisibleTo(Form.get()));
    EXPECT_EQ(Ok(), "");
    EXPECT_EQ(
        static_cast<TccnPhoneModem232ConMode*>(c->CustomConMode())->PhoneModem().ConnectType(),
        pmctDirect);
}

TEST_F(EditConnection, RadioModemNeedsACallSign) {
    auto c = MakeConnection(dtQZ2, 1, cmtRadioModem232);
    Open(*c);
    auto* call = Find<QLineEdit>("leCallNumber");
    EXPECT_EQ(Ok(), "Не задан позывной");
    EXPECT_EQ(Form->focusWidget(), call);
    call->setText("UA3");
    Find<QLineEdit>("leInitString")->setText("ATZ");
    EXPECT_EQ(Ok(), "");
    auto* m = static_cast<TccnRadioModem232ConMode*>(c->CustomConMode());
    EXPECT_EQ(m->RadioModem().CallNumber(), "UA3");
    EXPECT_EQ(m->RadioModem().InitString(), "ATZ");
}

TEST_F(EditConnection, IpAddressMessages) {
    auto c = MakeConnection(dtQZ2, 1, cmtDirectTCPIP);
    Open(*c);
    auto* ip = Find<QLineEdit>("leIpAddress");
    EXPECT_EQ(Ok(), "Не задан IP-адрес");
    EXPECT_EQ(Form->focusWidget(), ip);
    ip->setText("192.168.1");
    EXPECT_EQ(Ok(), "Некорректно задан IP-адрес");
    EXPECT_EQ(Form->focusWidget(), ip);
    ip->setText("192.168.1.20");
    Find<QSpinBox>("spedtIpPort")->setValue(4001);
    EXPECT_EQ(Ok(), "");
    auto* m = static_cast<TccnDirectTCPIPConMode*>(c->CustomConMode());
    EXPECT_EQ(m->TCPIPInterface().IpAddress(), "192.168.1.20");
    EXPECT_EQ(m->TCPIPInterface().IpPort(), 4001);
}

TEST_F(EditConnection, ChecksStopAtTheFirstFailureInOrder) {
    // A device frame never fails; the protocol is checked before the mode.
    auto c = MakeConnection(dtQZ2, 1, cmtDirectTCPIP, dptIEC101);
    Open(*c, true);
    Find<QSpinBox>("spedtLinkAddress")->setValue(1000);
    EXPECT_EQ(Ok(), "Значение адреса связи не соответствует выбранной длине ");
    EXPECT_EQ(Messages.Errors.size(), 1u);
}

TEST_F(EditConnection, ReadOnlyFramesTakeTheParentColour) {
    auto c = MakeConnection(dtQZ2, 1, cmtPhoneModem232);
    Open(*c);
    F().ConModeFrame->SetReadOnly(true);
    auto* number = Find<QLineEdit>("lePhoneNumber");
    EXPECT_TRUE(number->isReadOnly());
    EXPECT_EQ(number->palette().color(QPalette::Base),
              F().ConModeFrame->palette().color(QPalette::Window));
    EXPECT_FALSE(Find<QComboBox>("comboConnectType")->isEnabled());
    F().ConModeFrame->SetReadOnly(false);
    EXPECT_FALSE(number->isReadOnly());
    EXPECT_EQ(number->palette().color(QPalette::Base),
              F().ConModeFrame->palette().color(QPalette::Base));
}

TEST_F(EditConnection, LoadTimeProblemsRaise) {
    auto expectRaise = [&](TccnConnectionListUIOptions& o, TccnConnection& c, const char* text) {
        try {
            TccnEditConnectionForm f(nullptr, o, &c, Messages, false);
            ADD_FAILURE() << "no error for: " << text;
        } catch (const EccnError& e) {
            EXPECT_STREQ(e.what(), text);
        }
    };
    TccnConnectionListUIOptions none;
    auto c = MakeConnection(dtQZ2, 1);
    expectRaise(none, *c, "Список доступных типов измерителей пуст");

    TccnConnectionListUIOptions monitor;
    test::MonitorOptions(monitor);
    auto w8 = MakeConnection(dtW8, 1);
    expectRaise(monitor, *w8, "Заданный тип измерителя не поддерживается");
    auto tcpOpto = MakeConnection(dtQZ2, 1, cmtVQOptoAttach232);
    expectRaise(monitor, *tcpOpto,
                "Заданный тип подключения для данного типа измерителя не поддерживается");

    // The options allow a protocol the device itself does not speak: nothing to offer.
    TccnConnectionListUIOptions odd;
    odd.DeviceTypeOptions().AddDeviceTypeOptions(dtD7, SetBit(dptKavren), 1);
    TccnConnection bare;
    expectRaise(odd, bare, "Список доступных типов протоколов измерителя пуст");

    EXPECT_THROW(TccnEditConnectionForm(nullptr, monitor, nullptr, Messages, false),
                 EAssertionFailed);
}

TEST_F(EditConnection, EveryModeHasItsFrame) {
    auto c = MakeConnection(dtW8, 1);
    Open(*c, true);
    const char* names[] = {"TccnEditDirect232ConModeFrame", "TccnEditPhoneModem232ConModeFrame",
                           "TccnEditRadioModem232ConModeFrame", "TccnEditDirectTCPIPConModeFrame",
                           "TCcnEditVQOptoAttach232ConModeFrame"};
    for (int m = 0; m < ConModeTypeCount; ++m) {
        ChooseMode(TConModeType(m));
        ASSERT_NE(F().ConModeFrame, nullptr);
        EXPECT_STREQ(F().ConModeFrame->metaObject()->className(),
                     (std::string("qz::") + names[m]).c_str());
    }
    EXPECT_EQ(F().ConModeHistory().Count(), 5u);
}

} // namespace
} // namespace qz
