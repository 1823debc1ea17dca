#include "exchange/monLineParams.h"

namespace qz {

void FillPCAParams(const TccnCustomConMode* conMode, TPCAParams& params) {
    params.Clear();
    if (conMode == nullptr) return;
    const TccnCustomCommInterface* iface = conMode->CustomCommInterface();

    if (const auto* com = dynamic_cast<const TccnComPortInterface*>(iface)) {
        params.SetKind(TPCAParams::KindComPort);
        params.SetPortName(com->PortName());
        params.SetBaudrate(com->Baudrate());
    } else if (const auto* tcp = dynamic_cast<const TccnTCPIPInterface*>(iface)) {
        params.SetKind(TPCAParams::KindTCP);
        params.SetIpAddress(tcp->IpAddress());
        params.SetIpPort(uint16_t(uint32_t(tcp->IpPort()) & 0xFFFF));
        params.Bytes[19] = 0;
        return;
    } else {
        return; // no interface: no channel kind
    }

    // Serial port: the mode and the modem settings.
    if (dynamic_cast<const TccnDirect232ConMode*>(conMode) != nullptr) {
        params.SetMode(0);
        params.SetPowerLines(1);
    } else if (dynamic_cast<const TccnVQOptoAttach232ConMode*>(conMode) != nullptr) {
        params.SetMode(3);
        params.SetPowerLines(1);
    } else if (dynamic_cast<const TccnPhoneModem232ConMode*>(conMode) != nullptr) {
        params.SetMode(1);
        if (const auto* modem =
                dynamic_cast<const TccnPhoneModem*>(conMode->CustomCommHardware())) {
            params.SetInitString(modem->InitString());
            if (modem->ConnectType() == pmctDialing) {
                params.SetDialNumber(1);
                params.SetPhoneNumber(modem->PhoneNumber());
                params.SetToneDial(modem->DialType() == pmdtTone ? 1 : 0);
            } else {
                params.SetDialNumber(0);
            }
        }
    } else if (dynamic_cast<const TccnRadioModem232ConMode*>(conMode) != nullptr) {
        params.SetMode(2);
        if (const auto* modem =
                dynamic_cast<const TccnRadioModem*>(conMode->CustomCommHardware())) {
            params.SetInitString(modem->InitString());
            params.SetCallNumber(modem->CallNumber());
        }
    }
}

void FillPCAParams(const TccnConnection& connection, TPCAParams& params) {
    FillPCAParams(connection.CustomConMode(), params);
}

TPCAParams PCAParamsOfConnection(const TccnConnection& connection) {
    TPCAParams params;
    FillPCAParams(connection, params);
    return params;
}

} // namespace qz
