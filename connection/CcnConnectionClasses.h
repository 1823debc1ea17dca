// Connection model: device, protocol and connection-mode classes.
//
// A configured connection to one meter is three independent objects: the device (which
// meter), the protocol (how it is addressed) and the connection mode (how the line is
// reached). The model is pure data; the channel and exchange layers read it.
//
// Every class describes its stored ("published") properties in a small table
// (TccnPropInfo) so that the stream reader and writer, and the dialogs, can walk them by
// name without knowing the classes. Classes are known by name through a registry
// (FindRegisteredClass), which turns a stored class name back into a class that can create its
// objects with their defaults.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
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
};

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
    // A connection mode checks and copies its owned interface and hardware through these.
    friend class TccnCustomConMode;
    // Raises EInvalidCast when Source (with its owned objects) cannot be assigned.
    virtual void CheckAssign(const TccnPersistent& Source) const;
    // Copies after CheckAssign succeeded.
    virtual void DoAssign(const TccnPersistent& Source);
    [[noreturn]] static void InvalidCast();
};

// Creates an object of obj's own class and assigns obj to it.
std::unique_ptr<TccnPersistent> CloneObject(const TccnPersistent& obj);

// ---------------------------------------------------------------------------------------
// Devices.

class TccnCustomDevice : public TccnPersistent {
public:
    static const TccnClass Class;
    const TccnClass& ClassType() const override { return Class; }

    TDeviceType DeviceType() const { return FDeviceType; }
    TDeviceProtocolTypes SupportedProtocolTypes() const { return FSupportedProtocolTypes; }
    int32_t FactoryNum() const { return FFactoryNum; }
    void SetFactoryNum(int32_t v) { FFactoryNum = v; }

    std::unique_ptr<TccnCustomDevice> Clone() const;

protected:
    TccnCustomDevice(TDeviceType type, TDeviceProtocolTypes protocols)
        : FDeviceType(type), FSupportedProtocolTypes(protocols) {}
    void CheckAssign(const TccnPersistent& Source) const override;
    void DoAssign(const TccnPersistent& Source) override;

private:
    TDeviceType FDeviceType;
    TDeviceProtocolTypes FSupportedProtocolTypes;
    int32_t FFactoryNum = 0;
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
class TccnW8Dev : public TccnKavrenDevice {
public:
    static const TccnClass Class;
    const TccnClass& ClassType() const override { return Class; }
    TccnW8Dev();

    int32_t W8Test() const { return FW8Test; }
    void SetW8Test(int32_t v) { FW8Test = v; }
    const std::string& TestStr() const { return FTestStr; }
    void SetTestStr(const std::string& v) { FTestStr = v; }

private:
    int32_t FW8Test = 1091;
    std::string FTestStr = "Привет";
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
    void CheckAssign(const TccnPersistent& Source) const override;
    void DoAssign(const TccnPersistent& Source) override;

private:
    TDeviceProtocolType FProtocolType;
};

class TccnKavrenProtocol : public TccnCustomDeviceProtocol {
public:
    static const TccnClass Class;
    const TccnClass& ClassType() const override { return Class; }
    TccnKavrenProtocol() : TccnCustomDeviceProtocol(dptKavren) {}

    uint16_t DeviceAddress() const { return FDeviceAddress; }
    void SetDeviceAddress(uint16_t v) { FDeviceAddress = v; }
    int32_t MaxAttemptCount() const { return FMaxAttemptCount; }
    void SetMaxAttemptCount(int32_t v) { FMaxAttemptCount = v; }
    int32_t MaxDataCount() const { return FMaxDataCount; }
    void SetMaxDataCount(int32_t v) { FMaxDataCount = v; }

    std::vector<std::string> GetParamsText() const override;

protected:
    void CheckAssign(const TccnPersistent& Source) const override;
    void DoAssign(const TccnPersistent& Source) override;

private:
    uint16_t FDeviceAddress = 1;
    int32_t FMaxAttemptCount = 5;
    int32_t FMaxDataCount = 1000;
};

class TccnIEC101Protocol : public TccnCustomDeviceProtocol {
public:
    static const TccnClass Class;
    const TccnClass& ClassType() const override { return Class; }
    TccnIEC101Protocol() : TccnCustomDeviceProtocol(dptIEC101) {}

    uint16_t LinkAddress() const { return FLinkAddress; }
    void SetLinkAddress(uint16_t v) { FLinkAddress = v; }
    uint8_t LinkAddressLength() const { return FLinkAddressLength; }
    void SetLinkAddressLength(uint8_t v) { FLinkAddressLength = v; }
    uint16_t ASDUAddress() const { return FASDUAddress; }
    void SetASDUAddress(uint16_t v) { FASDUAddress = v; }
    uint8_t ASDUAddressLength() const { return FASDUAddressLength; }
    void SetASDUAddressLength(uint8_t v) { FASDUAddressLength = v; }
    uint8_t TransReasonLength() const { return FTransReasonLength; }
    void SetTransReasonLength(uint8_t v) { FTransReasonLength = v; }
    uint8_t AOILength() const { return FAOILength; }
    void SetAOILength(uint8_t v) { FAOILength = v; }
    uint8_t MaxFrameLength() const { return FMaxFrameLength; }
    void SetMaxFrameLength(uint8_t v) { FMaxFrameLength = v; }

    std::vector<std::string> GetParamsText() const override;

protected:
    void CheckAssign(const TccnPersistent& Source) const override;
    void DoAssign(const TccnPersistent& Source) override;

private:
    uint16_t FLinkAddress = 1;
    uint8_t FLinkAddressLength = 1;
    uint16_t FASDUAddress = 1;
    uint8_t FASDUAddressLength = 1;
    uint8_t FTransReasonLength = 1;
    uint8_t FAOILength = 1;
    uint8_t FMaxFrameLength = 255;
};

class TccnIEC104Protocol : public TccnCustomDeviceProtocol {
public:
    static const TccnClass Class;
    const TccnClass& ClassType() const override { return Class; }
    TccnIEC104Protocol() : TccnCustomDeviceProtocol(dptIEC104) {}

    uint16_t ASDUAddress() const { return FASDUAddress; }
    void SetASDUAddress(uint16_t v) { FASDUAddress = v; }
    int32_t K() const { return FK; }
    void SetK(int32_t v) { FK = v; }
    int32_t W() const { return FW; }
    void SetW(int32_t v) { FW = v; }
    int32_t t1() const { return Ft1; }
    void Sett1(int32_t v) { Ft1 = v; }
    int32_t t2() const { return Ft2; }
    void Sett2(int32_t v) { Ft2 = v; }
    int32_t t3() const { return Ft3; }
    void Sett3(int32_t v) { Ft3 = v; }
    int32_t t4() const { return Ft4; }
    void Sett4(int32_t v) { Ft4 = v; }
    uint8_t MaxFrameLength() const { return FMaxFrameLength; }
    void SetMaxFrameLength(uint8_t v) { FMaxFrameLength = v; }

protected:
    void CheckAssign(const TccnPersistent& Source) const override;
    void DoAssign(const TccnPersistent& Source) override;

private:
    uint16_t FASDUAddress = 1;
    int32_t FK = 12;
    int32_t FW = 8;
    int32_t Ft1 = 15;
    int32_t Ft2 = 10;
    int32_t Ft3 = 20;
    int32_t Ft4 = 25;
    uint8_t FMaxFrameLength = 255;
};

class TccnModbusProtocol : public TccnCustomDeviceProtocol {
public:
    static const TccnClass Class;
    const TccnClass& ClassType() const override { return Class; }

    uint8_t DevAddress() const { return FDevAddress; }
    void SetDevAddress(uint8_t v) { FDevAddress = v; }
    int32_t MaxAttemptCount() const { return FMaxAttemptCount; }
    void SetMaxAttemptCount(int32_t v) { FMaxAttemptCount = v; }

    std::vector<std::string> GetParamsText() const override;

protected:
    using TccnCustomDeviceProtocol::TccnCustomDeviceProtocol;
    void CheckAssign(const TccnPersistent& Source) const override;
    void DoAssign(const TccnPersistent& Source) override;

private:
    uint8_t FDevAddress = 1;
    int32_t FMaxAttemptCount = 5;
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
};

class TccnComPortInterface : public TccnCustomCommInterface {
public:
    static const TccnClass Class;
    const TccnClass& ClassType() const override { return Class; }

    const std::string& PortName() const { return FPortName; }
    void SetPortName(const std::string& v) { FPortName = v; }
    uint32_t Baudrate() const { return FBaudrate; }
    void SetBaudrate(uint32_t v) { FBaudrate = v; }

protected:
    void CheckAssign(const TccnPersistent& Source) const override;
    void DoAssign(const TccnPersistent& Source) override;

private:
    std::string FPortName = "COM1";
    uint32_t FBaudrate = 115200;
};

class TccnTCPIPInterface : public TccnCustomCommInterface {
public:
    static const TccnClass Class;
    const TccnClass& ClassType() const override { return Class; }

    const std::string& IpAddress() const { return FIpAddress; }
    void SetIpAddress(const std::string& v) { FIpAddress = v; }
    int32_t IpPort() const { return FIpPort; }
    void SetIpPort(int32_t v) { FIpPort = v; }

protected:
    void CheckAssign(const TccnPersistent& Source) const override;
    void DoAssign(const TccnPersistent& Source) override;

private:
    std::string FIpAddress;
    int32_t FIpPort = 0;
};

class TccnCustomCommHardware : public TccnPersistent {
public:
    static const TccnClass Class;
    const TccnClass& ClassType() const override { return Class; }

protected:
    TccnCustomCommHardware() = default;
};

class TccnCustomModem : public TccnCustomCommHardware {
public:
    static const TccnClass Class;
    const TccnClass& ClassType() const override { return Class; }

    const std::string& InitString() const { return FInitString; }
    void SetInitString(const std::string& v) { FInitString = v; }

protected:
    TccnCustomModem() = default;
    void CheckAssign(const TccnPersistent& Source) const override;
    void DoAssign(const TccnPersistent& Source) override;

private:
    std::string FInitString;
};

class TccnPhoneModem : public TccnCustomModem {
public:
    static const TccnClass Class;
    const TccnClass& ClassType() const override { return Class; }

    TPhoneModemConnectType ConnectType() const { return FConnectType; }
    void SetConnectType(TPhoneModemConnectType v) { FConnectType = v; }
    const std::string& PhoneNumber() const { return FPhoneNumber; }
    void SetPhoneNumber(const std::string& v) { FPhoneNumber = v; }
    TPhoneModemDialType DialType() const { return FDialType; }
    void SetDialType(TPhoneModemDialType v) { FDialType = v; }

protected:
    void CheckAssign(const TccnPersistent& Source) const override;
    void DoAssign(const TccnPersistent& Source) override;

private:
    TPhoneModemConnectType FConnectType = pmctDialing;
    std::string FPhoneNumber;
    TPhoneModemDialType FDialType = pmdtTone;
};

class TccnRadioModem : public TccnCustomModem {
public:
    static const TccnClass Class;
    const TccnClass& ClassType() const override { return Class; }

    const std::string& CallNumber() const { return FCallNumber; }
    void SetCallNumber(const std::string& v) { FCallNumber = v; }

protected:
    void CheckAssign(const TccnPersistent& Source) const override;
    void DoAssign(const TccnPersistent& Source) override;

private:
    std::string FCallNumber;
};

class TccnVQOptoAttach : public TccnCustomCommHardware {
public:
    static const TccnClass Class;
    const TccnClass& ClassType() const override { return Class; }

protected:
    void CheckAssign(const TccnPersistent& Source) const override;
};

// ---------------------------------------------------------------------------------------
// Connection modes.

class TccnCustomConMode : public TccnPersistent {
public:
    static const TccnClass Class;
    const TccnClass& ClassType() const override { return Class; }

    TConModeType ConModeType() const { return FConModeType; }
    int32_t MaxAttemptCountOnConnect() const { return FMaxAttemptCountOnConnect; }
    void SetMaxAttemptCountOnConnect(int32_t v) { FMaxAttemptCountOnConnect = v; }
    // The owned interface and hardware objects; the hardware may be none.
    TccnCustomCommInterface* CustomCommInterface() const { return FInterface.get(); }
    TccnCustomCommHardware* CustomCommHardware() const { return FHardware.get(); }

    std::unique_ptr<TccnCustomConMode> Clone() const;

protected:
    TccnCustomConMode(TConModeType type, std::unique_ptr<TccnCustomCommInterface> iface,
                      std::unique_ptr<TccnCustomCommHardware> hardware);
    void CheckAssign(const TccnPersistent& Source) const override;
    void DoAssign(const TccnPersistent& Source) override;
    // Typed view of the owned objects; the wrong class is an invalid cast.
    template <class T> T& InterfaceAs() const;
    template <class T> T& HardwareAs() const;

private:
    TConModeType FConModeType;
    int32_t FMaxAttemptCountOnConnect = 5;
    std::unique_ptr<TccnCustomCommInterface> FInterface;
    std::unique_ptr<TccnCustomCommHardware> FHardware;
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
