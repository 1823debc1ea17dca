// Connection model: device, protocol and connection-mode classes.
//
// A configured connection to one meter is three independent objects: the device (which
// meter), the protocol (how it is addressed) and the connection mode (how the line is
// reached). The model is pure data; the channel and exchange layers read it.
//
// Every class describes its stored ("published") properties in a small table
// (TccnPropInfo) so that the stream reader and writer, Assign and the dialogs can walk them
// by name without knowing the classes. Classes are known by name through a registry
// (FindRegisteredClass), which turns a stored class name back into a class that can create its
// objects with their defaults.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <type_traits>
#include <vector>

namespace qz {

// ---------------------------------------------------------------------------------------
// Enumerations. The identifiers are the text stored in streams; the display names are what
// the dialogs show.

enum TDeviceType : uint8_t {
    dtQZ,
    dtQZ2,
    dtQZ2M,
    dtQZ2C,
    dtQZ2A,
    dtQZ2AM,
    dtQZ2AC,
    dtHRV1x,
    dtHRV2x,
    dtHRV17,
    dtW8,
    dtW8AS,
    dtQZ2430,
    dtJN,
    dtD7,
    dtGL,
    dtQZ2430NRTQ
};
constexpr int DeviceTypeCount = 17;

enum TDeviceProtocolType : uint8_t { dptKavren, dptIEC101, dptIEC104, dptModbusRTU };
constexpr int DeviceProtocolTypeCount = 4;

enum TConModeType : uint8_t {
    cmtDirect232,
    cmtPhoneModem232,
    cmtRadioModem232,
    cmtDirectTCPIP,
    cmtVQOptoAttach232
};
constexpr int ConModeTypeCount = 5;

enum TPhoneModemConnectType : uint8_t { pmctDialing, pmctDirect };
constexpr int PhoneModemConnectTypeCount = 2;

enum TPhoneModemDialType : uint8_t { pmdtTone, pmdtPulse };
constexpr int PhoneModemDialTypeCount = 2;

// Sets of protocol types and of connection modes: one byte, bit n for value n.
using TDeviceProtocolTypes = uint8_t;
using TConModeTypes = uint8_t;
constexpr uint8_t SetBit(int value) {
    return uint8_t(1u << value);
}
constexpr bool InSet(uint8_t set, int value) {
    return value >= 0 && value < 8 && (set & SetBit(value)) != 0;
}

// Display names (UTF-8), indexed by the enumeration value.
extern const char* const DeviceTypeNames[DeviceTypeCount];
extern const char* const DeviceProtocolTypeNames[DeviceProtocolTypeCount];
extern const char* const ConModeTypeNames[ConModeTypeCount];
extern const char* const PhoneModemConnectTypeNames[PhoneModemConnectTypeCount];
extern const char* const PhoneModemDialTypeNames[PhoneModemDialTypeCount];

// Identifiers as stored in streams ("dtQZ2", "pmctDialing", ...).
extern const char* const DeviceTypeIdents[DeviceTypeCount];
extern const char* const DeviceProtocolTypeIdents[DeviceProtocolTypeCount];
extern const char* const ConModeTypeIdents[ConModeTypeCount];
extern const char* const PhoneModemConnectTypeIdents[PhoneModemConnectTypeCount];
extern const char* const PhoneModemDialTypeIdents[PhoneModemDialTypeCount];

// Index of an identifier in a table (compared without regard to ASCII case), or -1.
int IdentIndex(const char* const* idents, int count, const std::string& ident);

// ---------------------------------------------------------------------------------------
// Errors.

// Assign or a typed accessor met an object of the wrong class.
class EInvalidCast : public std::runtime_error {
public:
    EInvalidCast() : std::runtime_error("Недопустимое приведение типа объекта") {}
};

// Invalid input to a model operation (the texts are the system's own).
class EccnError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// ---------------------------------------------------------------------------------------
// Classes, properties and the registry.

class TccnPersistent;
struct TccnClass;

enum class TccnPropKind { Integer, Enumeration, String, Object };
// Width and sign of an integer property: values are stored in the field's own type.
enum class TccnIntType { Byte, Word, Int32, UInt32 };

// One published property of a class.
struct TccnPropInfo {
    const char* Name;
    TccnPropKind Kind;
    TccnIntType IntType;           // Integer only
    const char* const* EnumIdents; // Enumeration only: identifiers by value
    int EnumCount;                 // Enumeration only
    int64_t DefaultInt;            // Integer and Enumeration: the constructor's value
    const char* DefaultStr;        // String: the constructor's value
    int64_t (*GetInt)(const TccnPersistent&);
    void (*SetInt)(TccnPersistent&, int64_t); // truncates to the field's type
    std::string (*GetStr)(const TccnPersistent&);
    void (*SetStr)(TccnPersistent&, const std::string&);
    TccnPersistent* (*GetObj)(const TccnPersistent&); // Object: the owned object or none
    // Assign copies the value (an Object: assigns the owned object from the source's).
    bool Assigned;
};

// A class lists its own published properties once, in the macro QZ_PROPS_<class name>, one
// row P(type, name, constructor value) each. QZ_CCN_PUBLISHED(<class name>) at the end of
// the class turns that list into the getter Name() and the setter SetName(), the private
// field FName with its constructor value, and the declaration of the class's own property
// table. CcnConnectionClasses.cpp builds the table from the same list, each row reaching its
// field through a member pointer, and Assign copies through the tables. So a property is
// named, typed and given its default in one place only.

// Numbers and enumerations are passed by value, strings by reference.
template <class T> using TccnArg = std::conditional_t<std::is_scalar_v<T>, T, const T&>;

// clang-format off
#define QZ_CCN_ACCESSORS(Type, Name, Default)                                                      \
    TccnArg<Type> Name() const { return F##Name; }                                                 \
    void Set##Name(TccnArg<Type> v) { F##Name = v; }
#define QZ_CCN_FIELD(Type, Name, Default) Type F##Name = Default;
#define QZ_CCN_PUBLISHED(Cls)                                                                      \
public:                                                                                            \
    QZ_PROPS_##Cls(QZ_CCN_ACCESSORS)                                                               \
private:                                                                                           \
    using Self = Cls;                                                                              \
    static const TccnPropInfo OwnProps[];                                                          \
    QZ_PROPS_##Cls(QZ_CCN_FIELD)
// clang-format on

// The virtual constructor of a class reference.
template <class T> TccnPersistent* CcnNew() {
    return new T();
}

// A class reference: its name, parent, own published properties and virtual constructor.
struct TccnClass {
    const char* Name;
    const TccnClass* Parent;
    const TccnPropInfo* OwnProps;
    size_t OwnPropCount;
    // Virtual constructor; none for the abstract groupings and the classes that are not
    // created from a class reference.
    TccnPersistent* (*CreateFn)();

    bool InheritsFrom(const TccnClass& other) const;
    bool IsAbstract() const { return CreateFn == nullptr; }
    // Creates an object with its defaults (null for an abstract class).
    std::unique_ptr<TccnPersistent> Create() const;
    // The published properties in declaration order, base class first.
    std::vector<const TccnPropInfo*> Properties() const;
    // Finds a published property by name (ASCII case ignored), or null.
    const TccnPropInfo* FindProperty(const std::string& name) const;
};

// The registry of the model's classes by name (ASCII case ignored); null when unknown.
const TccnClass* FindRegisteredClass(const std::string& name);
// All registered classes, in registration order.
const std::vector<const TccnClass*>& RegisteredClasses();

// Root of the model's persistent objects.
class TccnPersistent {
public:
    virtual ~TccnPersistent() = default;
    virtual const TccnClass& ClassType() const = 0;
    const char* ClassName() const { return ClassType().Name; }
    bool InheritsFrom(const TccnClass& cls) const { return ClassType().InheritsFrom(cls); }

    // Copies the stored values of Source. An object of a class this one cannot take values
    // from raises EInvalidCast and nothing is copied.
    void Assign(const TccnPersistent& Source);

protected:
    // A connection mode checks its owned interface and hardware through these.
    friend class TccnCustomConMode;
    // Raises EInvalidCast when Source (with its owned objects) cannot be assigned.
    virtual void CheckAssign(const TccnPersistent& Source) const;
    // Copies after CheckAssign succeeded: by default the published properties marked Assigned
    // of every class of this object that Source belongs to as well.
    virtual void DoAssign(const TccnPersistent& Source);
    [[noreturn]] static void InvalidCast();
    // The rule of protocols, interfaces and hardware: Source is of this object's class or a
    // descendant (a Kavren protocol takes no IEC 101 values, a phone modem no radio modem's).
    void CheckSameClass(const TccnPersistent& Source) const;
};

// Creates an object of obj's own class and assigns obj to it.
std::unique_ptr<TccnPersistent> CloneObject(const TccnPersistent& obj);

// ---------------------------------------------------------------------------------------
// Devices.

#define QZ_PROPS_TccnCustomDevice(P) P(int32_t, FactoryNum, 0)

class TccnCustomDevice : public TccnPersistent {
public:
    static const TccnClass Class;
    const TccnClass& ClassType() const override { return Class; }

    TDeviceType DeviceType() const { return FDeviceType; }
    TDeviceProtocolTypes SupportedProtocolTypes() const { return FSupportedProtocolTypes; }

    std::unique_ptr<TccnCustomDevice> Clone() const;

protected:
    TccnCustomDevice(TDeviceType type, TDeviceProtocolTypes protocols)
        : FDeviceType(type), FSupportedProtocolTypes(protocols) {}
    void CheckAssign(const TccnPersistent& Source) const override;

private:
    TDeviceType FDeviceType;
    TDeviceProtocolTypes FSupportedProtocolTypes;
    QZ_CCN_PUBLISHED(TccnCustomDevice)
};

class TccnKavrenDevice : public TccnCustomDevice {
public:
    static const TccnClass Class;
    const TccnClass& ClassType() const override { return Class; }

protected:
    using TccnCustomDevice::TccnCustomDevice;
};

class TccnQZ2FamilyDev : public TccnKavrenDevice {
public:
    static const TccnClass Class;
    const TccnClass& ClassType() const override { return Class; }

protected:
    using TccnKavrenDevice::TccnKavrenDevice;
};

#define QZ_CCN_DEVICE(Name, Base)                                                                  \
    class Name : public Base {                                                                     \
    public:                                                                                        \
        static const TccnClass Class;                                                              \
        const TccnClass& ClassType() const override { return Class; }                              \
        Name();                                                                                    \
    };

QZ_CCN_DEVICE(TccnQZDev, TccnKavrenDevice)
QZ_CCN_DEVICE(TccnQZ2Dev, TccnQZ2FamilyDev)
QZ_CCN_DEVICE(TccnQZ2MDev, TccnQZ2FamilyDev)
QZ_CCN_DEVICE(TccnQZ2CDev, TccnQZ2FamilyDev)
QZ_CCN_DEVICE(TccnQZ2ADev, TccnQZ2FamilyDev)
QZ_CCN_DEVICE(TccnQZ2AMDev, TccnQZ2FamilyDev)
QZ_CCN_DEVICE(TccnQZ2ACDev, TccnQZ2FamilyDev)
QZ_CCN_DEVICE(TccnHRV1xDev, TccnKavrenDevice)
QZ_CCN_DEVICE(TccnHRV2xDev, TccnKavrenDevice)
QZ_CCN_DEVICE(TccnHRV17Dev, TccnKavrenDevice)
QZ_CCN_DEVICE(TccnW8ASDev, TccnKavrenDevice)
QZ_CCN_DEVICE(TccnQZ2430Dev, TccnKavrenDevice)
QZ_CCN_DEVICE(TccnQZ2430NRTQDev, TccnKavrenDevice)
QZ_CCN_DEVICE(TccnJNDev, TccnKavrenDevice)
QZ_CCN_DEVICE(TccnD7Dev, TccnKavrenDevice)
QZ_CCN_DEVICE(TccnGLDev, TccnKavrenDevice)
#undef QZ_CCN_DEVICE

// The W8 device stores two extra values that carry no behaviour; Assign leaves them alone.
#define QZ_PROPS_TccnW8Dev(P)                                                                      \
    P(int32_t, W8Test, 1091)                                                                       \
    P(std::string, TestStr, "Привет")

class TccnW8Dev : public TccnKavrenDevice {
public:
    static const TccnClass Class;
    const TccnClass& ClassType() const override { return Class; }
    TccnW8Dev();

    QZ_CCN_PUBLISHED(TccnW8Dev)
};

// ---------------------------------------------------------------------------------------
// Protocols.

class TccnCustomDeviceProtocol : public TccnPersistent {
public:
    static const TccnClass Class;
    const TccnClass& ClassType() const override { return Class; }

    TDeviceProtocolType ProtocolType() const { return FProtocolType; }
    // The "name=value" lines of the list's parameter column.
    virtual std::vector<std::string> GetParamsText() const { return {}; }

    std::unique_ptr<TccnCustomDeviceProtocol> Clone() const;

protected:
    explicit TccnCustomDeviceProtocol(TDeviceProtocolType type) : FProtocolType(type) {}
    void CheckAssign(const TccnPersistent& Source) const override { CheckSameClass(Source); }

private:
    TDeviceProtocolType FProtocolType;
};

#define QZ_PROPS_TccnKavrenProtocol(P)                                                             \
    P(uint16_t, DeviceAddress, 1)                                                                  \
    P(int32_t, MaxAttemptCount, 5)                                                                 \
    P(int32_t, MaxDataCount, 1000)

class TccnKavrenProtocol : public TccnCustomDeviceProtocol {
public:
    static const TccnClass Class;
    const TccnClass& ClassType() const override { return Class; }
    TccnKavrenProtocol() : TccnCustomDeviceProtocol(dptKavren) {}

    std::vector<std::string> GetParamsText() const override;

    QZ_CCN_PUBLISHED(TccnKavrenProtocol)
};

#define QZ_PROPS_TccnIEC101Protocol(P)                                                             \
    P(uint16_t, LinkAddress, 1)                                                                    \
    P(uint8_t, LinkAddressLength, 1)                                                               \
    P(uint16_t, ASDUAddress, 1)                                                                    \
    P(uint8_t, ASDUAddressLength, 1)                                                               \
    P(uint8_t, TransReasonLength, 1)                                                               \
    P(uint8_t, AOILength, 1)                                                                       \
    P(uint8_t, MaxFrameLength, 255)

class TccnIEC101Protocol : public TccnCustomDeviceProtocol {
public:
    static const TccnClass Class;
    const TccnClass& ClassType() const override { return Class; }
    TccnIEC101Protocol() : TccnCustomDeviceProtocol(dptIEC101) {}

    std::vector<std::string> GetParamsText() const override;

    QZ_CCN_PUBLISHED(TccnIEC101Protocol)
};

#define QZ_PROPS_TccnIEC104Protocol(P)                                                             \
    P(uint16_t, ASDUAddress, 1)                                                                    \
    P(int32_t, K, 12)                                                                              \
    P(int32_t, W, 8)                                                                               \
    P(int32_t, t1, 15)                                                                             \
    P(int32_t, t2, 10)                                                                             \
    P(int32_t, t3, 20)                                                                             \
    P(int32_t, t4, 25)                                                                             \
    P(uint8_t, MaxFrameLength, 255)

class TccnIEC104Protocol : public TccnCustomDeviceProtocol {
public:
    static const TccnClass Class;
    const TccnClass& ClassType() const override { return Class; }
    TccnIEC104Protocol() : TccnCustomDeviceProtocol(dptIEC104) {}

    QZ_CCN_PUBLISHED(TccnIEC104Protocol)
};

#define QZ_PROPS_TccnModbusProtocol(P)                                                             \
    P(uint8_t, DevAddress, 1)                                                                      \
    P(int32_t, MaxAttemptCount, 5)

class TccnModbusProtocol : public TccnCustomDeviceProtocol {
public:
    static const TccnClass Class;
    const TccnClass& ClassType() const override { return Class; }

    std::vector<std::string> GetParamsText() const override;

protected:
    using TccnCustomDeviceProtocol::TccnCustomDeviceProtocol;

    QZ_CCN_PUBLISHED(TccnModbusProtocol)
};

class TccnModbusRTUProtocol : public TccnModbusProtocol {
public:
    static const TccnClass Class;
    const TccnClass& ClassType() const override { return Class; }
    TccnModbusRTUProtocol() : TccnModbusProtocol(dptModbusRTU) {}
};

// ---------------------------------------------------------------------------------------
// Line interfaces and hardware, owned by a connection mode.

class TccnCustomCommInterface : public TccnPersistent {
public:
    static const TccnClass Class;
    const TccnClass& ClassType() const override { return Class; }

protected:
    TccnCustomCommInterface() = default;
    void CheckAssign(const TccnPersistent& Source) const override { CheckSameClass(Source); }
};

#define QZ_PROPS_TccnComPortInterface(P)                                                           \
    P(std::string, PortName, "COM1")                                                               \
    P(uint32_t, Baudrate, 115200)

class TccnComPortInterface : public TccnCustomCommInterface {
public:
    static const TccnClass Class;
    const TccnClass& ClassType() const override { return Class; }

    QZ_CCN_PUBLISHED(TccnComPortInterface)
};

#define QZ_PROPS_TccnTCPIPInterface(P)                                                             \
    P(std::string, IpAddress, "")                                                                  \
    P(int32_t, IpPort, 0)

class TccnTCPIPInterface : public TccnCustomCommInterface {
public:
    static const TccnClass Class;
    const TccnClass& ClassType() const override { return Class; }

    QZ_CCN_PUBLISHED(TccnTCPIPInterface)
};

class TccnCustomCommHardware : public TccnPersistent {
public:
    static const TccnClass Class;
    const TccnClass& ClassType() const override { return Class; }

protected:
    TccnCustomCommHardware() = default;
    void CheckAssign(const TccnPersistent& Source) const override { CheckSameClass(Source); }
};

#define QZ_PROPS_TccnCustomModem(P) P(std::string, InitString, "")

class TccnCustomModem : public TccnCustomCommHardware {
public:
    static const TccnClass Class;
    const TccnClass& ClassType() const override { return Class; }

protected:
    TccnCustomModem() = default;

    QZ_CCN_PUBLISHED(TccnCustomModem)
};

#define QZ_PROPS_TccnPhoneModem(P)                                                                 \
    P(TPhoneModemConnectType, ConnectType, pmctDialing)                                            \
    P(std::string, PhoneNumber, "")                                                                \
    P(TPhoneModemDialType, DialType, pmdtTone)

class TccnPhoneModem : public TccnCustomModem {
public:
    static const TccnClass Class;
    const TccnClass& ClassType() const override { return Class; }

    QZ_CCN_PUBLISHED(TccnPhoneModem)
};

#define QZ_PROPS_TccnRadioModem(P) P(std::string, CallNumber, "")

class TccnRadioModem : public TccnCustomModem {
public:
    static const TccnClass Class;
    const TccnClass& ClassType() const override { return Class; }

    QZ_CCN_PUBLISHED(TccnRadioModem)
};

class TccnVQOptoAttach : public TccnCustomCommHardware {
public:
    static const TccnClass Class;
    const TccnClass& ClassType() const override { return Class; }
};

// ---------------------------------------------------------------------------------------
// Connection modes.

#define QZ_PROPS_TccnCustomConMode(P) P(int32_t, MaxAttemptCountOnConnect, 5)

class TccnCustomConMode : public TccnPersistent {
public:
    static const TccnClass Class;
    const TccnClass& ClassType() const override { return Class; }

    TConModeType ConModeType() const { return FConModeType; }
    // The owned interface and hardware objects; the hardware may be none.
    TccnCustomCommInterface* CustomCommInterface() const { return FInterface.get(); }
    TccnCustomCommHardware* CustomCommHardware() const { return FHardware.get(); }

    std::unique_ptr<TccnCustomConMode> Clone() const;

protected:
    TccnCustomConMode(TConModeType type, std::unique_ptr<TccnCustomCommInterface> iface,
                      std::unique_ptr<TccnCustomCommHardware> hardware);
    void CheckAssign(const TccnPersistent& Source) const override;
    // Typed view of the owned objects; the wrong class is an invalid cast.
    template <class T> T& InterfaceAs() const;
    template <class T> T& HardwareAs() const;

private:
    TConModeType FConModeType;
    std::unique_ptr<TccnCustomCommInterface> FInterface;
    std::unique_ptr<TccnCustomCommHardware> FHardware;
    QZ_CCN_PUBLISHED(TccnCustomConMode)
};

class TccnDirect232ConMode : public TccnCustomConMode {
public:
    static const TccnClass Class;
    const TccnClass& ClassType() const override { return Class; }
    TccnDirect232ConMode();
    TccnComPortInterface& ComPortInterface() const;
};

class TccnPhoneModem232ConMode : public TccnCustomConMode {
public:
    static const TccnClass Class;
    const TccnClass& ClassType() const override { return Class; }
    TccnPhoneModem232ConMode();
    TccnComPortInterface& ComPortInterface() const;
    TccnPhoneModem& PhoneModem() const;
};

class TccnRadioModem232ConMode : public TccnCustomConMode {
public:
    static const TccnClass Class;
    const TccnClass& ClassType() const override { return Class; }
    TccnRadioModem232ConMode();
    TccnComPortInterface& ComPortInterface() const;
    TccnRadioModem& RadioModem() const;
};

class TccnDirectTCPIPConMode : public TccnCustomConMode {
public:
    static const TccnClass Class;
    const TccnClass& ClassType() const override { return Class; }
    TccnDirectTCPIPConMode();
    TccnTCPIPInterface& TCPIPInterface() const;
};

class TccnVQOptoAttach232ConMode : public TccnCustomConMode {
public:
    static const TccnClass Class;
    const TccnClass& ClassType() const override { return Class; }
    TccnVQOptoAttach232ConMode();
    TccnComPortInterface& ComPortInterface() const;
    TccnVQOptoAttach& OptoAttach() const;
};

// Class references indexed by the enumeration value.
extern const TccnClass* const DeviceClasses[DeviceTypeCount];
extern const TccnClass* const DeviceProtocolClasses[DeviceProtocolTypeCount];
extern const TccnClass* const ConModeClasses[ConModeTypeCount];

// Creates the object of an enumeration value with its defaults.
std::unique_ptr<TccnCustomDevice> CreateDevice(TDeviceType type);
std::unique_ptr<TccnCustomDeviceProtocol> CreateDeviceProtocol(TDeviceProtocolType type);
std::unique_ptr<TccnCustomConMode> CreateConMode(TConModeType type);

// ---------------------------------------------------------------------------------------
// Which protocols and connection modes a dialog may offer per device type.

class TccnConnection;

class TccnDeviceTypeOptions {
public:
    explicit TccnDeviceTypeOptions(TDeviceType deviceType) : FDeviceType(deviceType) {}
    TDeviceType DeviceType() const { return FDeviceType; }
    TDeviceProtocolTypes ProtocolTypes = 0;
    TConModeTypes ConModeTypes = 0;

private:
    TDeviceType FDeviceType;
};

class TccnDeviceTypeOptionsList {
public:
    // Adds an entry; an empty protocol set or an empty mode set is refused (EccnError) and
    // nothing is added.
    TccnDeviceTypeOptions& AddDeviceTypeOptions(TDeviceType deviceType,
                                                TDeviceProtocolTypes protocolTypes,
                                                TConModeTypes conModeTypes);
    // The first entry of that device type, or null.
    const TccnDeviceTypeOptions* FindDeviceTypeOptions(TDeviceType deviceType) const;
    size_t Count() const { return FItems.size(); }
    const TccnDeviceTypeOptions& Item(size_t i) const { return *FItems.at(i); }
    void Clear() { FItems.clear(); }

private:
    std::vector<std::unique_ptr<TccnDeviceTypeOptions>> FItems;
};

class TccnConnectionListUIOptions {
public:
    TccnDeviceTypeOptionsList& DeviceTypeOptions() { return FDeviceTypeOptions; }
    const TccnDeviceTypeOptionsList& DeviceTypeOptions() const { return FDeviceTypeOptions; }
    bool MultiSelect = false;

    // Does this program support the connection? On false, errorText says why.
    bool CheckConnection(const TccnConnection* connection, std::string& errorText) const;

private:
    TccnDeviceTypeOptionsList FDeviceTypeOptions;
};

} // namespace qz
