#include "connection/ui/CcnConnectionListLogic.h"

#include <arpa/inet.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>

namespace qz {

const char* const kccnMsgHistoryHasClass = "Список истории уже содержит экземпляр данного класса";
const char* const kccnMsgTableEmpty = "Таблица подключений пуста";
const char* const kccnMsgNoneChecked = "Нет выбранных подключений";
const char* const kccnMsgDeleteOne = "Удалить выделенное подключение?";
const char* const kccnMsgDeleteMany = "Удалить выделенные подключения (%d)?";
const char* const kccnMsgNoDeviceTypes = "Список доступных типов измерителей пуст";
const char* const kccnMsgNoProtocolTypes = "Список доступных типов протоколов измерителя пуст";
const char* const kccnMsgNoConModeTypes = "Список доступных типов подключений пуст";
const char* const kccnMsgDeviceTypeUnsupported = "Заданный тип измерителя не поддерживается";
const char* const kccnMsgNoDeviceType = "Не выбран тип измерителя";
const char* const kccnMsgNoProtocolType = "Не выбран тип протокола измерителя";
const char* const kccnMsgNoConModeType = "Не выбран тип подключения";
const char* const kccnMsgLinkAddressLength =
    "Значение адреса связи не соответствует выбранной длине ";
const char* const kccnMsgASDUAddressLength =
    "Значение адреса ASDU не соответствует выбранной длине ";
const char* const kccnMsgNoComPort = "Не задан Com-порт";
const char* const kccnMsgBadBaudRate = "Некорректно задана скорость обмена";
const char* const kccnMsgNoPhoneNumber = "Не задан номер телефона";
const char* const kccnMsgNoCallNumber = "Не задан позывной";
const char* const kccnMsgNoIpAddress = "Не задан IP-адрес";
const char* const kccnMsgBadIpAddress = "Некорректно задан IP-адрес";
const char* const kccnTreeRootText = "Измерители";

// --- TObjHistoryList ---

void TObjHistoryList::MakeCurrent(std::unique_ptr<TccnPersistent> obj) {
    if (!obj) return;
    if (Find(obj->ClassType())) throw EccnError(kccnMsgHistoryHasClass);
    FItems.insert(FItems.begin(), std::move(obj));
}

TccnPersistent* TObjHistoryList::Current() const {
    return FItems.empty() ? nullptr : FItems.front().get();
}

TccnPersistent* TObjHistoryList::Find(const TccnClass& cls) const {
    for (const auto& o : FItems)
        if (&o->ClassType() == &cls) return o.get();
    return nullptr;
}

TccnPersistent* TObjHistoryList::Take(const TccnClass& cls) {
    auto it = std::find_if(FItems.begin(), FItems.end(),
                           [&](const auto& o) { return &o->ClassType() == &cls; });
    if (it == FItems.end()) return nullptr;
    std::rotate(FItems.begin(), it, it + 1);
    return FItems.front().get();
}

// --- tree and grid ---

bool TccnDeviceKey::Matches(const TccnConnection& c) const {
    if (IsRoot()) return true;
    const TccnCustomDevice* d = c.CustomDevice();
    if (!d || int32_t(d->DeviceType()) != DeviceType) return false;
    return FactoryNum == -1 || d->FactoryNum() == FactoryNum;
}

std::vector<TccnDeviceTreeNode> BuildDeviceTree(const TccnConnectionList& list) {
    std::vector<TccnDeviceTreeNode> types;
    for (size_t i = 0; i < list.Count(); ++i) {
        const TccnCustomDevice* d = list.GetItem(i)->CustomDevice();
        if (!d) continue;
        const int32_t type = d->DeviceType();
        // The list is sorted, so a type or number seen before is the last one added.
        if (types.empty() || types.back().Key.DeviceType != type) {
            TccnDeviceTreeNode n;
            n.Key = {type, -1};
            n.Text = type < DeviceTypeCount ? DeviceTypeNames[type] : std::to_string(type);
            types.push_back(std::move(n));
        }
        if (d->FactoryNum() == -1) continue;
        auto& numbers = types.back().Children;
        if (numbers.empty() || numbers.back().Key.FactoryNum != d->FactoryNum()) {
            TccnDeviceTreeNode n;
            n.Key = {type, d->FactoryNum()};
            n.Text = std::to_string(d->FactoryNum());
            numbers.push_back(std::move(n));
        }
    }
    return types;
}

std::vector<TccnConnection*> FilterConnections(const TccnConnectionList& list,
                                               const TccnDeviceKey& key) {
    std::vector<TccnConnection*> out;
    for (size_t i = 0; i < list.Count(); ++i)
        if (key.Matches(*list.GetItem(i))) out.push_back(list.GetItem(i));
    return out;
}

int NextCurrentRow(int first, int last, int rowCount) {
    if (first < 0 || last < first || rowCount <= 0) return -1;
    if (last + 1 < rowCount) return last + 1;
    return first > 0 ? first - 1 : -1;
}

std::vector<TccnParamLine> SplitParamLines(const std::vector<std::string>& lines) {
    std::vector<TccnParamLine> out;
    for (const std::string& l : lines) {
        const size_t eq = l.find('=');
        if (eq == std::string::npos)
            out.push_back({l, std::string()});
        else
            out.push_back({l.substr(0, eq), l.substr(eq + 1)});
    }
    return out;
}

TccnConModeSummary ConModeSummary(const TccnCustomConMode& mode) {
    TccnConModeSummary s;
    if (auto* com = dynamic_cast<const TccnComPortInterface*>(mode.CustomCommInterface())) {
        s.Left.push_back({"Порт: ", com->PortName()});
        s.Left.push_back({"Ск-ть: ", std::to_string(com->Baudrate())});
    } else if (auto* tcp = dynamic_cast<const TccnTCPIPInterface*>(mode.CustomCommInterface())) {
        s.Left.push_back({"IP-адрес: ", tcp->IpAddress()});
        s.Left.push_back({"IP-порт: ", std::to_string(tcp->IpPort())});
    }
    if (auto* pm = dynamic_cast<const TccnPhoneModem*>(mode.CustomCommHardware())) {
        if (pm->ConnectType() == pmctDialing) s.Right.push_back({"Номер: ", pm->PhoneNumber()});
    } else if (auto* rm = dynamic_cast<const TccnRadioModem*>(mode.CustomCommHardware())) {
        s.Right.push_back({"Позывной: ", rm->CallNumber()});
    }
    return s;
}

// --- speeds and typed-in values ---

const std::vector<uint32_t>& EditableBaudRates() {
    static const std::vector<uint32_t> rates = {100,    300,    600,    1200,  2400,  4800,
                                                9600,   14400,  19200,  38400, 56000, 57600,
                                                115200, 128000, 230400, 256000};
    return rates;
}

const std::vector<uint32_t>& OptoAttachBaudRates() {
    static const std::vector<uint32_t> rates = {2400, 9600, 19200, 57600, 115200};
    return rates;
}

int FixedBaudRateIndex(const std::vector<uint32_t>& rates, uint32_t baudrate) {
    auto it = std::find(rates.begin(), rates.end(), baudrate);
    return it == rates.end() ? 0 : int(it - rates.begin());
}

bool ParseBaudRate(const std::string& text, uint32_t& value) {
    if (text.empty() || text.size() > 10) return false;
    uint64_t v = 0;
    for (char ch : text) {
        if (ch < '0' || ch > '9') return false;
        v = v * 10 + uint64_t(ch - '0');
    }
    if (v == 0 || v > 0xFFFFFFFFull) return false;
    value = uint32_t(v);
    return true;
}

bool IsValidIpAddress(const std::string& text) {
    if (std::count(text.begin(), text.end(), '.') != 3) return false;
    in_addr a{};
    return inet_pton(AF_INET, text.c_str(), &a) == 1;
}

bool AddressFitsLength(uint32_t address, int length) {
    return length != 1 || address < 256;
}

// --- what the options allow ---

std::vector<TDeviceType> AllowedDeviceTypes(const TccnConnectionListUIOptions& options) {
    std::vector<TDeviceType> out;
    for (int t = 0; t < DeviceTypeCount; ++t)
        if (options.DeviceTypeOptions().FindDeviceTypeOptions(TDeviceType(t)))
            out.push_back(TDeviceType(t));
    return out;
}

std::vector<TDeviceProtocolType> AllowedProtocolTypes(const TccnConnectionListUIOptions& options,
                                                      TDeviceType type) {
    std::vector<TDeviceProtocolType> out;
    const TccnDeviceTypeOptions* o = options.DeviceTypeOptions().FindDeviceTypeOptions(type);
    if (!o) return out;
    const TDeviceProtocolTypes supported = CreateDevice(type)->SupportedProtocolTypes();
    for (int p = 0; p < DeviceProtocolTypeCount; ++p)
        if (InSet(o->ProtocolTypes, p) && InSet(supported, p))
            out.push_back(TDeviceProtocolType(p));
    return out;
}

std::vector<TConModeType> AllowedConModeTypes(const TccnConnectionListUIOptions& options,
                                              TDeviceType type) {
    std::vector<TConModeType> out;
    const TccnDeviceTypeOptions* o = options.DeviceTypeOptions().FindDeviceTypeOptions(type);
    if (!o) return out;
    for (int m = 0; m < ConModeTypeCount; ++m)
        if (InSet(o->ConModeTypes, m)) out.push_back(TConModeType(m));
    return out;
}

// --- COM ports ---

namespace {
std::function<std::vector<TComPortInfo>()>& ComPortLister() {
    static std::function<std::vector<TComPortInfo>()> lister;
    return lister;
}
} // namespace

void SetComPortLister(std::function<std::vector<TComPortInfo>()> lister) {
    ComPortLister() = std::move(lister);
}

void FillCOMPortList(std::vector<TComPortInfo>* COMPortList) {
    if (!COMPortList) throw EccnError("FillCOMPortList: параметр COMPortList не может быть nil");
    *COMPortList = ComPortLister() ? ComPortLister()() : ListComPorts();
    std::stable_sort(
        COMPortList->begin(), COMPortList->end(),
        [](const TComPortInfo& a, const TComPortInfo& b) { return a.Number < b.Number; });
}

} // namespace qz
