// qz_connection_ui_shots: writes PNGs of the connection-list window with several
// connections and of the connection editor for each connection mode and protocol, so the
// look of the dialogs can be checked without a desktop.
//   qz_connection_ui_shots <folder>
#include "connection/ui/CcnConnectionListUI.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QLineEdit>
#include <QTreeWidget>

#include <cstdio>
#include <memory>

namespace {

using namespace qz;

std::unique_ptr<TccnConnection> Make(TDeviceType type, int32_t number, TConModeType mode,
                                     TDeviceProtocolType protocol = dptKavren) {
    auto c = std::make_unique<TccnConnection>();
    c->SetCustomDevice(CreateDevice(type));
    c->CustomDevice()->SetFactoryNum(number);
    c->SetCustomDeviceProtocol(CreateDeviceProtocol(protocol));
    c->SetCustomConMode(CreateConMode(mode));
    return c;
}

void FillList(TccnConnectionList& list) {
    auto add = [&list](std::unique_ptr<TccnConnection> c) { list.AddConnection(*c); };
    auto direct = Make(dtQZ2, 1021, cmtDirect232);
    static_cast<TccnDirect232ConMode*>(direct->CustomConMode())
        ->ComPortInterface()
        .SetPortName("COM3");
    add(std::move(direct));

    auto phone = Make(dtQZ2M, 2207, cmtPhoneModem232);
    auto* pm = static_cast<TccnPhoneModem232ConMode*>(phone->CustomConMode());
    pm->ComPortInterface().SetBaudrate(9600);
    pm->PhoneModem().SetPhoneNumber("8-495-123-45-67");
    add(std::move(phone));

    auto radio = Make(dtQZ2C, 31, cmtRadioModem232);
    auto* rm = static_cast<TccnRadioModem232ConMode*>(radio->CustomConMode());
    rm->ComPortInterface().SetPortName("COM33");
    rm->ComPortInterface().SetBaudrate(19200);
    rm->RadioModem().SetCallNumber("ПС-14");
    add(std::move(radio));

    auto tcp = Make(dtQZ2A, 40015, cmtDirectTCPIP);
    auto* tm = static_cast<TccnDirectTCPIPConMode*>(tcp->CustomConMode());
    tm->TCPIPInterface().SetIpAddress("192.168.10.21");
    tm->TCPIPInterface().SetIpPort(4001);
    static_cast<TccnKavrenProtocol*>(tcp->CustomDeviceProtocol())->SetDeviceAddress(15);
    add(std::move(tcp));

    // The monitor does not use the optical attachment: this row shows as inactive.
    add(Make(dtQZ2AM, 555, cmtVQOptoAttach232));
    add(Make(dtQZ2, 1022, cmtDirect232));
}

bool Save(QWidget& w, const QString& file) {
    w.show();
    QApplication::processEvents();
    const bool ok = w.grab().save(file);
    if (!ok) std::fprintf(stderr, "cannot write %s\n", file.toLocal8Bit().constData());
    return ok;
}

class TSilentMessages : public IccnMessages {
public:
    void Error(QWidget*, const std::string&) override {}
    bool Question(QWidget*, const std::string&) override { return false; }
};

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QString::fromUtf8("Монитор Каврен-QZ2"));
    const QString folder = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral(".");
    QDir().mkpath(folder);
    SetComPortLister([] {
        return std::vector<TComPortInfo>{
            {1, "COM1", "/dev/ttyS0"}, {3, "COM3", "/dev/ttyS2"}, {33, "COM33", "/dev/ttyUSB0"}};
    });
    TSilentMessages messages;
    bool ok = true;

    // The list window as the monitor opens it.
    TccnConnectionListUIOptions monitor;
    for (TDeviceType t : {dtQZ2, dtQZ2M, dtQZ2C, dtQZ2A, dtQZ2AM, dtQZ2AC})
        monitor.DeviceTypeOptions().AddDeviceTypeOptions(t, SetBit(dptKavren), 15);
    TccnConnectionList list;
    FillList(list);
    {
        TccnConnectionListForm form(nullptr, &monitor, &list, &messages);
        form.resize(820, 420);
        form.Frame->tvDevice->expandAll();
        form.Frame->SetCurrentRow(1);
        ok = Save(form, folder + "/list.png") && ok;
        form.Frame->SelectTreeKey({dtQZ2, -1});
        ok = Save(form, folder + "/list_type.png") && ok;
    }
    {
        TccnConnectionListUIOptions multi;
        for (TDeviceType t : {dtQZ2, dtQZ2M, dtQZ2C, dtQZ2A, dtQZ2AM, dtQZ2AC})
            multi.DeviceTypeOptions().AddDeviceTypeOptions(t, SetBit(dptKavren), 15);
        multi.MultiSelect = true;
        TccnConnectionListForm form(nullptr, &multi, &list, &messages);
        form.resize(840, 420);
        form.Frame->grdConnectionMouseDown(0, 0);
        form.Frame->grdConnectionMouseDown(2, 0);
        ok = Save(form, folder + "/list_marks.png") && ok;
    }
    {
        TccnConnectionList empty;
        TccnConnectionListForm form(nullptr, &monitor, &empty, &messages);
        form.resize(820, 420);
        ok = Save(form, folder + "/list_empty.png") && ok;
    }

    // The editor for every connection mode and protocol the model knows.
    TccnConnectionListUIOptions all;
    for (int t = 0; t < DeviceTypeCount; ++t)
        all.DeviceTypeOptions().AddDeviceTypeOptions(TDeviceType(t), 15, 31);
    const char* modeFiles[ConModeTypeCount] = {"direct232", "phonemodem", "radiomodem", "tcpip",
                                               "optoattach"};
    for (int m = 0; m < ConModeTypeCount; ++m) {
        auto c = Make(dtQZ2, 1021, TConModeType(m));
        TccnEditConnectionForm form(nullptr, all, c.get(), messages, false);
        form.resize(640, 430);
        ok = Save(form, folder + QStringLiteral("/editor_%1.png").arg(modeFiles[m])) && ok;
    }
    {
        auto c = Make(dtQZ2, 1021, cmtPhoneModem232);
        static_cast<TccnPhoneModem232ConMode*>(c->CustomConMode())
            ->PhoneModem()
            .SetConnectType(pmctDirect);
        TccnEditConnectionForm form(nullptr, all, c.get(), messages, true);
        form.resize(640, 430);
        ok = Save(form, folder + "/editor_phonemodem_direct.png") && ok;
    }
    const struct {
        TDeviceType Type;
        TDeviceProtocolType Protocol;
        const char* File;
    } protocols[] = {{dtW8, dptIEC101, "editor_iec101.png"},
                     {dtW8, dptIEC104, "editor_iec104.png"},
                     {dtGL, dptModbusRTU, "editor_modbus.png"}};
    for (const auto& p : protocols) {
        auto c = Make(p.Type, 77, cmtDirectTCPIP, p.Protocol);
        TccnEditConnectionForm form(nullptr, all, c.get(), messages, false);
        form.resize(640, 430);
        ok = Save(form, folder + "/" + p.File) && ok;
    }
    return ok ? 0 : 1;
}
