#include "journal/jnMeterOf.h"

#include "connection/CcnConnectionList.h"
#include "protocol/QZ2Models.h"

#include <vector>

namespace qz {

std::string ConModeSummary(const TccnConnection& c) {
    const TccnCustomConMode* mode = c.CustomConMode();
    if (!mode) return "";
    std::vector<std::string> parts;
    if (const auto* com = dynamic_cast<const TccnComPortInterface*>(mode->CustomCommInterface()))
        parts = {"Порт: " + com->PortName(), "Скорость: " + std::to_string(com->Baudrate())};
    if (const auto* tcp = dynamic_cast<const TccnTCPIPInterface*>(mode->CustomCommInterface()))
        parts = {"IP: " + tcp->IpAddress(), "Порт: " + std::to_string(tcp->IpPort())};
    if (const auto* phone = dynamic_cast<const TccnPhoneModem*>(mode->CustomCommHardware()))
        parts.push_back("Телефон: " + phone->PhoneNumber());
    if (const auto* radio = dynamic_cast<const TccnRadioModem*>(mode->CustomCommHardware()))
        parts.push_back("Номер: " + radio->CallNumber());
    std::string out;
    for (const auto& p : parts)
        out += (out.empty() ? "" : ", ") + p;
    return out;
}

TjnMeter JournalMeterOf(const TccnConnection& c, const std::string& program) {
    TjnMeter m;
    if (const TccnCustomDevice* d = c.CustomDevice()) {
        m.DeviceType = int32_t(d->DeviceType());
        m.ModelIndex = ModelIndexOfDeviceTypeValue(m.DeviceType);
        if (m.DeviceType >= 0 && m.DeviceType < DeviceTypeCount)
            m.Model = DeviceTypeNames[m.DeviceType];
        m.FactoryNumber = d->FactoryNum();
    }
    if (const auto* p = dynamic_cast<const TccnKavrenProtocol*>(c.CustomDeviceProtocol()))
        m.Address = p->DeviceAddress();
    if (const TccnCustomConMode* mode = c.CustomConMode()) {
        m.Connection = ConModeTypeNames[mode->ConModeType()];
        const std::string summary = ConModeSummary(c);
        if (!summary.empty()) m.Connection += " (" + summary + ")";
    }
    m.ProgramVersion = program + " " + QZ_VERSION_STRING;
    m.Started = NowDateTime();
    return m;
}

std::string RecordingProgramText(const TjnMeter& meter) {
    const std::string& v = meter.ProgramVersion;
    if (v.empty()) return "не записана";
    if (v[0] >= '0' && v[0] <= '9') return "версия " + v + " (имя программы не записано)";
    return v;
}

std::string JournalWriteErrorText(const std::string& fileName, const std::string& reason) {
    return "Ошибка записи журнала " + fileName + ": " + reason;
}

} // namespace qz
