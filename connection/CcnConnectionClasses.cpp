#include "connection/CcnConnectionClasses.h"

#include "connection/CcnConnectionList.h"

#include <type_traits>
#include <unordered_map>

namespace qz {

// ---------------------------------------------------------------------------------------
// Names.

// The dash after the family name is an en dash; in dtQZ2M, dtQZ2C and dtQZ2AM the letter
// after "QZ2" is Cyrillic (М, С), in dtQZ2AC it is a Latin C; in dtHRV1x the first "х" is
// Cyrillic and the one in parentheses Latin.
const char* const DeviceTypeNames[DeviceTypeCount] = {
    "Каврен\u2013QZ",
    "Каврен\u2013QZ2",
    "Каврен\u2013QZ2\u041C",
    "Каврен\u2013QZ2\u0421",
    "Каврен\u2013QZ2(A)",
    "Каврен\u2013QZ2\u041C(A)",
    "Каврен\u2013QZ2C(A)",
    "Каврен\u2013ХРВ 1.\u0445 (x=1..5)",
    "Каврен\u2013ХРВ 2.\u0445",
    "Каврен\u2013ХРВ 1.7",
    "Каврен\u2013W8",
    "Каврен\u2013W8 (A/S)",
    "Каврен\u2013QZ2-4.30",
    "Каврен\u2013ЙН",
    "Каврен\u2013Д7",
    "Каврен\u2013ГЛ",
    "Каврен\u2013QZ2-4.30 НРТК",
};
const char* const DeviceProtocolTypeNames[DeviceProtocolTypeCount] = {"Каврен", "МЭК 101",
                                                                      "МЭК 104", "Modbus RTU"};
const char* const ConModeTypeNames[ConModeTypeCount] = {"COM-порт", "Модем", "Радиомодем", "TCP/IP",
                                                        "ОП - RS232 (USB)"};
const char* const PhoneModemConnectTypeNames[PhoneModemConnectTypeCount] = {"Коммутируемый (АТС)",
                                                                            "Прямой"};
const char* const PhoneModemDialTypeNames[PhoneModemDialTypeCount] = {"Тональный", "Импульсный"};

const char* const DeviceTypeIdents[DeviceTypeCount] = {
    "dtQZ",     "dtQZ2",   "dtQZ2M",  "dtQZ2C",  "dtQZ2A",      "dtQZ2AM",
    "dtQZ2AC",  "dtHRV1x", "dtHRV2x", "dtHRV17", "dtW8",        "dtW8AS",
    "dtQZ2430", "dtJN",    "dtD7",    "dtGL",    "dtQZ2430NRTQ"};
const char* const DeviceProtocolTypeIdents[DeviceProtocolTypeCount] = {"dptKavren", "dptIEC101",
                                                                       "dptIEC104", "dptModbusRTU"};
const char* const ConModeTypeIdents[ConModeTypeCount] = {
    "cmtDirect232", "cmtPhoneModem232", "cmtRadioModem232", "cmtDirectTCPIP", "cmtVQOptoAttach232"};
const char* const PhoneModemConnectTypeIdents[PhoneModemConnectTypeCount] = {"pmctDialing",
                                                                             "pmctDirect"};
const char* const PhoneModemDialTypeIdents[PhoneModemDialTypeCount] = {"pmdtTone", "pmdtPulse"};

namespace {

bool SameTextAscii(const char* a, const std::string& b) {
    size_t i = 0;
    for (; a[i] != 0; ++i) {
        if (i >= b.size()) return false;
        char x = a[i], y = b[i];
        if (x >= 'A' && x <= 'Z') x = char(x - 'A' + 'a');
        if (y >= 'A' && y <= 'Z') y = char(y - 'A' + 'a');
        if (x != y) return false;
    }
    return i == b.size();
}

std::string LowerAscii(std::string s) {
    for (char& c : s)
        if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
    return s;
}

} // namespace

int IdentIndex(const char* const* idents, int count, const std::string& ident) {
    for (int i = 0; i < count; ++i)
        if (SameTextAscii(idents[i], ident)) return i;
    return -1;
}

// ---------------------------------------------------------------------------------------
// Class references.

bool TccnClass::InheritsFrom(const TccnClass& other) const {
    for (const TccnClass* c = this; c != nullptr; c = c->Parent)
        if (c == &other) return true;
    return false;
}

std::unique_ptr<TccnPersistent> TccnClass::Create() const {
    if (CreateFn == nullptr) return nullptr;
    return std::unique_ptr<TccnPersistent>(CreateFn());
}

std::vector<const TccnPropInfo*> TccnClass::Properties() const {
    std::vector<const TccnClass*> chain;
    for (const TccnClass* c = this; c != nullptr; c = c->Parent)
        chain.push_back(c);
    std::vector<const TccnPropInfo*> props;
    for (auto it = chain.rbegin(); it != chain.rend(); ++it)
        for (size_t i = 0; i < (*it)->OwnPropCount; ++i)
            props.push_back(&(*it)->OwnProps[i]);
    return props;
}

const TccnPropInfo* TccnClass::FindProperty(const std::string& name) const {
    for (const TccnClass* c = this; c != nullptr; c = c->Parent)
        for (size_t i = 0; i < c->OwnPropCount; ++i)
            if (SameTextAscii(c->OwnProps[i].Name, name)) return &c->OwnProps[i];
    return nullptr;
}

// ---------------------------------------------------------------------------------------
// Persistent root.

void TccnPersistent::Assign(const TccnPersistent& Source) {
    CheckAssign(Source);
    DoAssign(Source);
}

void TccnPersistent::CheckAssign(const TccnPersistent&) const {
    InvalidCast();
}
void TccnPersistent::DoAssign(const TccnPersistent& Source) {
    for (const TccnClass* c = &ClassType(); c != nullptr; c = c->Parent) {
        if (!Source.InheritsFrom(*c)) continue; // a device of another type shares its base only
        for (size_t i = 0; i < c->OwnPropCount; ++i) {
            const TccnPropInfo& p = c->OwnProps[i];
            if (!p.Assigned) continue;
            switch (p.Kind) {
            case TccnPropKind::Integer:
            case TccnPropKind::Enumeration:
                p.SetInt(*this, p.GetInt(Source));
                break;
            case TccnPropKind::String:
                p.SetStr(*this, p.GetStr(Source));
                break;
            case TccnPropKind::Object: {
                // An owned object the receiver or the source lacks has nothing to take or give.
                TccnPersistent* to = p.GetObj(*this);
                const TccnPersistent* from = p.GetObj(Source);
                if (to != nullptr && from != nullptr) to->DoAssign(*from);
                break;
            }
            }
        }
    }
}
void TccnPersistent::InvalidCast() {
    throw EInvalidCast();
}
void TccnPersistent::CheckSameClass(const TccnPersistent& Source) const {
    if (!Source.InheritsFrom(ClassType())) InvalidCast();
}

std::unique_ptr<TccnPersistent> CloneObject(const TccnPersistent& obj) {
    std::unique_ptr<TccnPersistent> copy = obj.ClassType().Create();
    if (!copy) throw EInvalidCast();
    copy->Assign(obj);
    return copy;
}

namespace {

template <class T> std::unique_ptr<T> CloneAs(const T& obj) {
    std::unique_ptr<TccnPersistent> copy = CloneObject(obj);
    return std::unique_ptr<T>(static_cast<T*>(copy.release()));
}

} // namespace

// ---------------------------------------------------------------------------------------
// Property tables. A row is built from the field's member pointer, so the field's type gives
// the property's kind, width and accessors; the rows are constant data.

namespace {

template <class M> struct TMemberOf;
template <class C, class T> struct TMemberOf<T C::*> {
    using Class = C;
    using Type = T;
};

struct TEnumTable {
    const char* const* Idents;
    int Count;
};
constexpr TEnumTable EnumTableOf(TPhoneModemConnectType) {
    return {PhoneModemConnectTypeIdents, PhoneModemConnectTypeCount};
}
constexpr TEnumTable EnumTableOf(TPhoneModemDialType) {
    return {PhoneModemDialTypeIdents, PhoneModemDialTypeCount};
}

template <class T> constexpr TccnIntType IntTypeOf() {
    static_assert(std::is_enum_v<T> || std::is_same_v<T, uint8_t> || std::is_same_v<T, uint16_t> ||
                      std::is_same_v<T, int32_t> || std::is_same_v<T, uint32_t>,
                  "a published integer is a byte, a word or 32 bits");
    if constexpr (std::is_enum_v<T> || std::is_same_v<T, uint8_t>) return TccnIntType::Byte;
    if constexpr (std::is_same_v<T, uint16_t>) return TccnIntType::Word;
    if constexpr (std::is_same_v<T, uint32_t>) return TccnIntType::UInt32;
    return TccnIntType::Int32;
}

template <auto Field> struct TFieldAccess {
    using C = typename TMemberOf<decltype(Field)>::Class;
    using T = typename TMemberOf<decltype(Field)>::Type;

    static int64_t GetInt(const TccnPersistent& o) { return static_cast<const C&>(o).*Field; }
    // An integer is stored in the field's own width; an enumeration takes only its values.
    static void SetInt(TccnPersistent& o, int64_t v) {
        if constexpr (std::is_enum_v<T>) {
            if (v >= 0 && v < EnumTableOf(T()).Count) static_cast<C&>(o).*Field = T(v);
        } else {
            static_cast<C&>(o).*Field = static_cast<T>(v);
        }
    }
    static std::string GetStr(const TccnPersistent& o) { return static_cast<const C&>(o).*Field; }
    static void SetStr(TccnPersistent& o, const std::string& v) { static_cast<C&>(o).*Field = v; }
    static TccnPersistent* GetObj(const TccnPersistent& o) {
        return (static_cast<const C&>(o).*Field).get();
    }
};

template <auto Field, class D>
constexpr TccnPropInfo ValueProp(const char* name, D def, bool assigned) {
    using A = TFieldAccess<Field>;
    using T = typename A::T;
    TccnPropInfo p{};
    p.Name = name;
    p.Assigned = assigned;
    if constexpr (std::is_same_v<T, std::string>) {
        p.Kind = TccnPropKind::String;
        p.DefaultStr = def;
        p.GetStr = &A::GetStr;
        p.SetStr = &A::SetStr;
    } else {
        p.Kind = TccnPropKind::Integer;
        if constexpr (std::is_enum_v<T>) {
            p.Kind = TccnPropKind::Enumeration;
            p.EnumIdents = EnumTableOf(T()).Idents;
            p.EnumCount = EnumTableOf(T()).Count;
        }
        p.IntType = IntTypeOf<T>();
        p.DefaultInt = int64_t(def);
        p.GetInt = &A::GetInt;
        p.SetInt = &A::SetInt;
    }
    return p;
}

// An owned object, published so that its own properties are stored nested under its name.
template <auto Field> constexpr TccnPropInfo ObjectProp(const char* name) {
    TccnPropInfo p{};
    p.Name = name;
    p.Kind = TccnPropKind::Object;
    p.GetObj = &TFieldAccess<Field>::GetObj;
    p.Assigned = true;
    return p;
}

} // namespace

// Rows of a table, from the class's property list (the table's definition is in class scope,
// where Self names the class).
#define QZ_CCN_ROW(Type, Name, Default) ValueProp<&Self::F##Name>(#Name, Default, true),
// Rows of values that are stored and read back, but that Assign does not copy.
#define QZ_CCN_STORED_ROW(Type, Name, Default) ValueProp<&Self::F##Name>(#Name, Default, false),

const TccnPropInfo TccnCustomDevice::OwnProps[] = {QZ_PROPS_TccnCustomDevice(QZ_CCN_ROW)};
// The W8 extras are stored with the device but belong to the object: Assign leaves them.
const TccnPropInfo TccnW8Dev::OwnProps[] = {QZ_PROPS_TccnW8Dev(QZ_CCN_STORED_ROW)};
const TccnPropInfo TccnKavrenProtocol::OwnProps[] = {QZ_PROPS_TccnKavrenProtocol(QZ_CCN_ROW)};
const TccnPropInfo TccnIEC101Protocol::OwnProps[] = {QZ_PROPS_TccnIEC101Protocol(QZ_CCN_ROW)};
const TccnPropInfo TccnIEC104Protocol::OwnProps[] = {QZ_PROPS_TccnIEC104Protocol(QZ_CCN_ROW)};
const TccnPropInfo TccnModbusProtocol::OwnProps[] = {QZ_PROPS_TccnModbusProtocol(QZ_CCN_ROW)};
const TccnPropInfo TccnComPortInterface::OwnProps[] = {QZ_PROPS_TccnComPortInterface(QZ_CCN_ROW)};
const TccnPropInfo TccnTCPIPInterface::OwnProps[] = {QZ_PROPS_TccnTCPIPInterface(QZ_CCN_ROW)};
const TccnPropInfo TccnCustomModem::OwnProps[] = {QZ_PROPS_TccnCustomModem(QZ_CCN_ROW)};
const TccnPropInfo TccnPhoneModem::OwnProps[] = {QZ_PROPS_TccnPhoneModem(QZ_CCN_ROW)};
const TccnPropInfo TccnRadioModem::OwnProps[] = {QZ_PROPS_TccnRadioModem(QZ_CCN_ROW)};
// The owned interface and hardware come after the mode's own values, in streams too.
const TccnPropInfo TccnCustomConMode::OwnProps[] = {
    QZ_PROPS_TccnCustomConMode(QZ_CCN_ROW) //
    ObjectProp<&Self::FInterface>("CustomCommInterface"),
    ObjectProp<&Self::FHardware>("CustomCommHardware")};

// The own table of the class whose Class is being defined (found in that class's scope).
#define QZ_OWN_PROPS OwnProps, sizeof(OwnProps) / sizeof(OwnProps[0])

const TccnClass TccnCustomDevice::Class = {"TccnCustomDevice", nullptr, QZ_OWN_PROPS, nullptr};
const TccnClass TccnKavrenDevice::Class = {"TccnKavrenDevice", &TccnCustomDevice::Class, nullptr, 0,
                                           nullptr};
const TccnClass TccnQZ2FamilyDev::Class = {"TccnQZ2FamilyDev", &TccnKavrenDevice::Class, nullptr, 0,
                                           nullptr};

#define QZ_DEVICE_IMPL(Name, Base, Type, Protocols)                                                \
    const TccnClass Name::Class = {#Name, &Base::Class, nullptr, 0, &CcnNew<Name>};                \
    Name::Name() : Base(Type, Protocols) {}

constexpr uint8_t kK = SetBit(dptKavren);
constexpr uint8_t kK101 = SetBit(dptKavren) | SetBit(dptIEC101);
constexpr uint8_t kK101104 = SetBit(dptKavren) | SetBit(dptIEC101) | SetBit(dptIEC104);
constexpr uint8_t kModbus = SetBit(dptModbusRTU);

QZ_DEVICE_IMPL(TccnQZDev, TccnKavrenDevice, dtQZ, kK)
QZ_DEVICE_IMPL(TccnQZ2Dev, TccnQZ2FamilyDev, dtQZ2, kK101)
QZ_DEVICE_IMPL(TccnQZ2MDev, TccnQZ2FamilyDev, dtQZ2M, kK)
QZ_DEVICE_IMPL(TccnQZ2CDev, TccnQZ2FamilyDev, dtQZ2C, kK)
QZ_DEVICE_IMPL(TccnQZ2ADev, TccnQZ2FamilyDev, dtQZ2A, kK101)
QZ_DEVICE_IMPL(TccnQZ2AMDev, TccnQZ2FamilyDev, dtQZ2AM, kK)
QZ_DEVICE_IMPL(TccnQZ2ACDev, TccnQZ2FamilyDev, dtQZ2AC, kK)
QZ_DEVICE_IMPL(TccnHRV1xDev, TccnKavrenDevice, dtHRV1x, kK)
QZ_DEVICE_IMPL(TccnHRV2xDev, TccnKavrenDevice, dtHRV2x, kK)
QZ_DEVICE_IMPL(TccnHRV17Dev, TccnKavrenDevice, dtHRV17, kK)
QZ_DEVICE_IMPL(TccnW8ASDev, TccnKavrenDevice, dtW8AS, kK101104)
QZ_DEVICE_IMPL(TccnQZ2430Dev, TccnKavrenDevice, dtQZ2430, kK101104)
QZ_DEVICE_IMPL(TccnQZ2430NRTQDev, TccnKavrenDevice, dtQZ2430NRTQ, kK101104)
QZ_DEVICE_IMPL(TccnJNDev, TccnKavrenDevice, dtJN, kK)
QZ_DEVICE_IMPL(TccnD7Dev, TccnKavrenDevice, dtD7, kModbus)
QZ_DEVICE_IMPL(TccnGLDev, TccnKavrenDevice, dtGL, kModbus)
#undef QZ_DEVICE_IMPL

const TccnClass TccnW8Dev::Class = {"TccnW8Dev", &TccnKavrenDevice::Class, QZ_OWN_PROPS,
                                    &CcnNew<TccnW8Dev>};
TccnW8Dev::TccnW8Dev() : TccnKavrenDevice(dtW8, kK101104) {}

const TccnClass TccnCustomDeviceProtocol::Class = {"TccnCustomDeviceProtocol", nullptr, nullptr, 0,
                                                   nullptr};
const TccnClass TccnKavrenProtocol::Class = {"TccnKavrenProtocol", &TccnCustomDeviceProtocol::Class,
                                             QZ_OWN_PROPS, &CcnNew<TccnKavrenProtocol>};
const TccnClass TccnIEC101Protocol::Class = {"TccnIEC101Protocol", &TccnCustomDeviceProtocol::Class,
                                             QZ_OWN_PROPS, &CcnNew<TccnIEC101Protocol>};
const TccnClass TccnIEC104Protocol::Class = {"TccnIEC104Protocol", &TccnCustomDeviceProtocol::Class,
                                             QZ_OWN_PROPS, &CcnNew<TccnIEC104Protocol>};
const TccnClass TccnModbusProtocol::Class = {"TccnModbusProtocol", &TccnCustomDeviceProtocol::Class,
                                             QZ_OWN_PROPS, nullptr};
const TccnClass TccnModbusRTUProtocol::Class = {"TccnModbusRTUProtocol", &TccnModbusProtocol::Class,
                                                nullptr, 0, &CcnNew<TccnModbusRTUProtocol>};

// Interface and hardware objects are created only by their connection mode, but a class
// reference can still make one (the dialogs and the stream reader work through them).
const TccnClass TccnCustomCommInterface::Class = {"TccnCustomCommInterface", nullptr, nullptr, 0,
                                                  nullptr};
const TccnClass TccnComPortInterface::Class = {"TccnComPortInterface",
                                               &TccnCustomCommInterface::Class, QZ_OWN_PROPS,
                                               &CcnNew<TccnComPortInterface>};
const TccnClass TccnTCPIPInterface::Class = {"TccnTCPIPInterface", &TccnCustomCommInterface::Class,
                                             QZ_OWN_PROPS, &CcnNew<TccnTCPIPInterface>};
const TccnClass TccnCustomCommHardware::Class = {"TccnCustomCommHardware", nullptr, nullptr, 0,
                                                 nullptr};
const TccnClass TccnCustomModem::Class = {"TccnCustomModem", &TccnCustomCommHardware::Class,
                                          QZ_OWN_PROPS, nullptr};
const TccnClass TccnPhoneModem::Class = {"TccnPhoneModem", &TccnCustomModem::Class, QZ_OWN_PROPS,
                                         &CcnNew<TccnPhoneModem>};
const TccnClass TccnRadioModem::Class = {"TccnRadioModem", &TccnCustomModem::Class, QZ_OWN_PROPS,
                                         &CcnNew<TccnRadioModem>};
const TccnClass TccnVQOptoAttach::Class = {"TccnVQOptoAttach", &TccnCustomCommHardware::Class,
                                           nullptr, 0, &CcnNew<TccnVQOptoAttach>};

const TccnClass TccnCustomConMode::Class = {"TccnCustomConMode", nullptr, QZ_OWN_PROPS, nullptr};
const TccnClass TccnDirect232ConMode::Class = {"TccnDirect232ConMode", &TccnCustomConMode::Class,
                                               nullptr, 0, &CcnNew<TccnDirect232ConMode>};
const TccnClass TccnPhoneModem232ConMode::Class = {"TccnPhoneModem232ConMode",
                                                   &TccnCustomConMode::Class, nullptr, 0,
                                                   &CcnNew<TccnPhoneModem232ConMode>};
const TccnClass TccnRadioModem232ConMode::Class = {"TccnRadioModem232ConMode",
                                                   &TccnCustomConMode::Class, nullptr, 0,
                                                   &CcnNew<TccnRadioModem232ConMode>};
const TccnClass TccnDirectTCPIPConMode::Class = {"TccnDirectTCPIPConMode",
                                                 &TccnCustomConMode::Class, nullptr, 0,
                                                 &CcnNew<TccnDirectTCPIPConMode>};
const TccnClass TccnVQOptoAttach232ConMode::Class = {"TccnVQOptoAttach232ConMode",
                                                     &TccnCustomConMode::Class, nullptr, 0,
                                                     &CcnNew<TccnVQOptoAttach232ConMode>};

const TccnClass* const DeviceClasses[DeviceTypeCount] = {
    &TccnQZDev::Class,        &TccnQZ2Dev::Class,   &TccnQZ2MDev::Class,  &TccnQZ2CDev::Class,
    &TccnQZ2ADev::Class,      &TccnQZ2AMDev::Class, &TccnQZ2ACDev::Class, &TccnHRV1xDev::Class,
    &TccnHRV2xDev::Class,     &TccnHRV17Dev::Class, &TccnW8Dev::Class,    &TccnW8ASDev::Class,
    &TccnQZ2430Dev::Class,    &TccnJNDev::Class,    &TccnD7Dev::Class,    &TccnGLDev::Class,
    &TccnQZ2430NRTQDev::Class};
const TccnClass* const DeviceProtocolClasses[DeviceProtocolTypeCount] = {
    &TccnKavrenProtocol::Class, &TccnIEC101Protocol::Class, &TccnIEC104Protocol::Class,
    &TccnModbusRTUProtocol::Class};
const TccnClass* const ConModeClasses[ConModeTypeCount] = {
    &TccnDirect232ConMode::Class, &TccnPhoneModem232ConMode::Class,
    &TccnRadioModem232ConMode::Class, &TccnDirectTCPIPConMode::Class,
    &TccnVQOptoAttach232ConMode::Class};

std::unique_ptr<TccnCustomDevice> CreateDevice(TDeviceType type) {
    if (type >= DeviceTypeCount) throw EccnError("Неизвестный тип измерителя");
    return std::unique_ptr<TccnCustomDevice>(
        static_cast<TccnCustomDevice*>(DeviceClasses[type]->CreateFn()));
}

std::unique_ptr<TccnCustomDeviceProtocol> CreateDeviceProtocol(TDeviceProtocolType type) {
    if (type >= DeviceProtocolTypeCount) throw EccnError("Неизвестный тип протокола");
    return std::unique_ptr<TccnCustomDeviceProtocol>(
        static_cast<TccnCustomDeviceProtocol*>(DeviceProtocolClasses[type]->CreateFn()));
}

std::unique_ptr<TccnCustomConMode> CreateConMode(TConModeType type) {
    if (type >= ConModeTypeCount) throw EccnError("Неизвестный тип подключения");
    return std::unique_ptr<TccnCustomConMode>(
        static_cast<TccnCustomConMode*>(ConModeClasses[type]->CreateFn()));
}

// ---------------------------------------------------------------------------------------
// Registry.

const std::vector<const TccnClass*>& RegisteredClasses() {
    static const std::vector<const TccnClass*> classes = {
        &TccnCustomDevice::Class,
        &TccnKavrenDevice::Class,
        &TccnQZDev::Class,
        &TccnQZ2FamilyDev::Class,
        &TccnQZ2Dev::Class,
        &TccnQZ2MDev::Class,
        &TccnQZ2CDev::Class,
        &TccnQZ2ADev::Class,
        &TccnQZ2AMDev::Class,
        &TccnQZ2ACDev::Class,
        &TccnHRV1xDev::Class,
        &TccnHRV2xDev::Class,
        &TccnHRV17Dev::Class,
        &TccnW8Dev::Class,
        &TccnW8ASDev::Class,
        &TccnQZ2430Dev::Class,
        &TccnQZ2430NRTQDev::Class,
        &TccnJNDev::Class,
        &TccnD7Dev::Class,
        &TccnGLDev::Class,
        &TccnCustomDeviceProtocol::Class,
        &TccnKavrenProtocol::Class,
        &TccnIEC101Protocol::Class,
        &TccnIEC104Protocol::Class,
        &TccnModbusProtocol::Class,
        &TccnModbusRTUProtocol::Class,
        &TccnCustomCommInterface::Class,
        &TccnComPortInterface::Class,
        &TccnTCPIPInterface::Class,
        &TccnCustomCommHardware::Class,
        &TccnCustomModem::Class,
        &TccnPhoneModem::Class,
        &TccnRadioModem::Class,
        &TccnVQOptoAttach::Class,
        &TccnCustomConMode::Class,
        &TccnDirect232ConMode::Class,
        &TccnPhoneModem232ConMode::Class,
        &TccnRadioModem232ConMode::Class,
        &TccnDirectTCPIPConMode::Class,
        &TccnVQOptoAttach232ConMode::Class,
        &TccnConnection::Class,
        &TccnConnectionList::Class,
        &TccnConnectionListWrapper::Class,
        &TccnCustomDeviceWrapper::Class,
        &TccnCustomDeviceProtocolWrapper::Class,
        &TccnCustomConModeWrapper::Class,
        &TVersionInfo::Class,
    };
    return classes;
}

const TccnClass* FindRegisteredClass(const std::string& name) {
    static const std::unordered_map<std::string, const TccnClass*> byName = [] {
        std::unordered_map<std::string, const TccnClass*> m;
        for (const TccnClass* c : RegisteredClasses())
            m.emplace(LowerAscii(c->Name), c);
        return m;
    }();
    auto it = byName.find(LowerAscii(name));
    return it == byName.end() ? nullptr : it->second;
}

// ---------------------------------------------------------------------------------------
// Devices.

std::unique_ptr<TccnCustomDevice> TccnCustomDevice::Clone() const {
    return CloneAs(*this);
}

// Every device takes the factory number of every other device (so it survives a change of
// type in the editor); the type and the protocol set belong to the class.
void TccnCustomDevice::CheckAssign(const TccnPersistent& Source) const {
    if (!Source.InheritsFrom(TccnCustomDevice::Class)) InvalidCast();
}

// ---------------------------------------------------------------------------------------
// Protocols.

std::unique_ptr<TccnCustomDeviceProtocol> TccnCustomDeviceProtocol::Clone() const {
    return CloneAs(*this);
}

std::vector<std::string> TccnKavrenProtocol::GetParamsText() const {
    return {"Адрес: =" + std::to_string(FDeviceAddress)};
}

std::vector<std::string> TccnIEC101Protocol::GetParamsText() const {
    return {"Адрес: =" + std::to_string(FLinkAddress)};
}

std::vector<std::string> TccnModbusProtocol::GetParamsText() const {
    return {"Адрес: =" + std::to_string(FDevAddress)};
}

// ---------------------------------------------------------------------------------------
// Connection modes.

TccnCustomConMode::TccnCustomConMode(TConModeType type,
                                     std::unique_ptr<TccnCustomCommInterface> iface,
                                     std::unique_ptr<TccnCustomCommHardware> hardware)
    : FConModeType(type), FInterface(std::move(iface)), FHardware(std::move(hardware)) {}

std::unique_ptr<TccnCustomConMode> TccnCustomConMode::Clone() const {
    return CloneAs(*this);
}

// The owned objects are checked before anything is copied, so a refused Assign leaves the
// receiver as it was. A mode without hardware of its own (direct line, TCP) simply does not
// take the source's hardware values.
void TccnCustomConMode::CheckAssign(const TccnPersistent& Source) const {
    if (!Source.InheritsFrom(TccnCustomConMode::Class)) InvalidCast();
    const auto& s = static_cast<const TccnCustomConMode&>(Source);
    // Through the root, which lets a connection mode check its owned objects.
    const TccnPersistent* iface = FInterface.get();
    const TccnPersistent* hardware = FHardware.get();
    if (s.FInterface && iface) iface->CheckAssign(*s.FInterface);
    if (s.FHardware && hardware) hardware->CheckAssign(*s.FHardware);
}

template <class T> T& TccnCustomConMode::InterfaceAs() const {
    auto* p = dynamic_cast<T*>(FInterface.get());
    if (p == nullptr) InvalidCast();
    return *p;
}

template <class T> T& TccnCustomConMode::HardwareAs() const {
    auto* p = dynamic_cast<T*>(FHardware.get());
    if (p == nullptr) InvalidCast();
    return *p;
}

TccnDirect232ConMode::TccnDirect232ConMode()
    : TccnCustomConMode(cmtDirect232, std::make_unique<TccnComPortInterface>(), nullptr) {}
TccnComPortInterface& TccnDirect232ConMode::ComPortInterface() const {
    return InterfaceAs<TccnComPortInterface>();
}

TccnPhoneModem232ConMode::TccnPhoneModem232ConMode()
    : TccnCustomConMode(cmtPhoneModem232, std::make_unique<TccnComPortInterface>(),
                        std::make_unique<TccnPhoneModem>()) {}
TccnComPortInterface& TccnPhoneModem232ConMode::ComPortInterface() const {
    return InterfaceAs<TccnComPortInterface>();
}
TccnPhoneModem& TccnPhoneModem232ConMode::PhoneModem() const {
    return HardwareAs<TccnPhoneModem>();
}

TccnRadioModem232ConMode::TccnRadioModem232ConMode()
    : TccnCustomConMode(cmtRadioModem232, std::make_unique<TccnComPortInterface>(),
                        std::make_unique<TccnRadioModem>()) {}
TccnComPortInterface& TccnRadioModem232ConMode::ComPortInterface() const {
    return InterfaceAs<TccnComPortInterface>();
}
TccnRadioModem& TccnRadioModem232ConMode::RadioModem() const {
    return HardwareAs<TccnRadioModem>();
}

TccnDirectTCPIPConMode::TccnDirectTCPIPConMode()
    : TccnCustomConMode(cmtDirectTCPIP, std::make_unique<TccnTCPIPInterface>(), nullptr) {}
TccnTCPIPInterface& TccnDirectTCPIPConMode::TCPIPInterface() const {
    return InterfaceAs<TccnTCPIPInterface>();
}

TccnVQOptoAttach232ConMode::TccnVQOptoAttach232ConMode()
    : TccnCustomConMode(cmtVQOptoAttach232, std::make_unique<TccnComPortInterface>(),
                        std::make_unique<TccnVQOptoAttach>()) {}
TccnComPortInterface& TccnVQOptoAttach232ConMode::ComPortInterface() const {
    return InterfaceAs<TccnComPortInterface>();
}
TccnVQOptoAttach& TccnVQOptoAttach232ConMode::OptoAttach() const {
    return HardwareAs<TccnVQOptoAttach>();
}

// ---------------------------------------------------------------------------------------
// Options.

TccnDeviceTypeOptions& TccnDeviceTypeOptionsList::AddDeviceTypeOptions(
    TDeviceType deviceType, TDeviceProtocolTypes protocolTypes, TConModeTypes conModeTypes) {
    if (protocolTypes == 0) throw EccnError("Не задан список разрешенных типов протоколов");
    if (conModeTypes == 0) throw EccnError("Не задан список разрешенных типов подключений");
    auto entry = std::make_unique<TccnDeviceTypeOptions>(deviceType);
    entry->ProtocolTypes = protocolTypes;
    entry->ConModeTypes = conModeTypes;
    FItems.push_back(std::move(entry));
    return *FItems.back();
}

const TccnDeviceTypeOptions*
TccnDeviceTypeOptionsList::FindDeviceTypeOptions(TDeviceType deviceType) const {
    for (const auto& e : FItems)
        if (e->DeviceType() == deviceType) return e.get();
    return nullptr;
}

bool TccnConnectionListUIOptions::CheckConnection(const TccnConnection* connection,
                                                  std::string& errorText) const {
    errorText = "Unknown error";
    if (connection == nullptr) {
        errorText = "Не задано подключение";
        return false;
    }
    const TccnCustomDevice* device = connection->CustomDevice();
    if (device == nullptr) return true;
    const TccnDeviceTypeOptions* opt =
        FDeviceTypeOptions.FindDeviceTypeOptions(device->DeviceType());
    if (opt == nullptr) {
        errorText = "Заданный тип измерителя не поддерживается";
        return false;
    }
    const TccnCustomDeviceProtocol* protocol = connection->CustomDeviceProtocol();
    if (protocol != nullptr && !InSet(opt->ProtocolTypes, protocol->ProtocolType())) {
        errorText = "Заданный тип протокола для данного типа измерителя не поддерживается";
        return false;
    }
    const TccnCustomConMode* mode = connection->CustomConMode();
    if (mode != nullptr && !InSet(opt->ConModeTypes, mode->ConModeType())) {
        errorText = "Заданный тип подключения для данного типа измерителя не поддерживается";
        return false;
    }
    return true;
}

} // namespace qz
