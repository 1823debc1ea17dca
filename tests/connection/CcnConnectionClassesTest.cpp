#include "connection/CcnConnectionClasses.h"
#include "connection/CcnConnectionList.h"

#include <gtest/gtest.h>

#include <set>

namespace qz {
namespace {

TEST(CcnNames, DeviceDisplayNamesUseTheExactLetters) {
    // En dash after the family name; Cyrillic М/С in QZ2M, QZ2C, QZ2AM; Latin C in QZ2AC.
    EXPECT_STREQ(DeviceTypeNames[dtQZ],
                 "\xD0\x9A\xD0\xB0\xD0\xB2\xD1\x80\xD0\xB5\xD0\xBD\xE2\x80\x93QZ");
    EXPECT_EQ(std::string(DeviceTypeNames[dtQZ2M]), "Каврен\xE2\x80\x93QZ2\xD0\x9C");
    EXPECT_EQ(std::string(DeviceTypeNames[dtQZ2C]), "Каврен\xE2\x80\x93QZ2\xD0\xA1");
    EXPECT_EQ(std::string(DeviceTypeNames[dtQZ2AM]), "Каврен\xE2\x80\x93QZ2\xD0\x9C(A)");
    EXPECT_EQ(std::string(DeviceTypeNames[dtQZ2AC]), "Каврен\xE2\x80\x93QZ2C(A)");
    // First "х" Cyrillic, the one in parentheses Latin.
    EXPECT_EQ(std::string(DeviceTypeNames[dtHRV1x]),
              "Каврен\xE2\x80\x93\xD0\xA5\xD0\xA0\xD0\x92 1.\xD1\x85 (x=1..5)");
    EXPECT_EQ(std::string(DeviceTypeNames[dtQZ2430NRTQ]), "Каврен\xE2\x80\x93QZ2-4.30 НРТК");
    EXPECT_STREQ(DeviceProtocolTypeNames[dptIEC104], "МЭК 104");
    EXPECT_STREQ(ConModeTypeNames[cmtVQOptoAttach232], "ОП - RS232 (USB)");
    EXPECT_STREQ(PhoneModemConnectTypeNames[pmctDialing], "Коммутируемый (АТС)");
    EXPECT_STREQ(PhoneModemDialTypeNames[pmdtPulse], "Импульсный");
}

TEST(CcnClasses, EveryDeviceClassSetsItsTypeAndProtocolSet) {
    const uint8_t expected[DeviceTypeCount] = {1, 3, 1, 1, 3, 1, 1, 1, 1, 1, 7, 7, 7, 1, 8, 8, 7};
    for (int t = 0; t < DeviceTypeCount; ++t) {
        auto d = CreateDevice(TDeviceType(t));
        EXPECT_EQ(d->DeviceType(), t);
        EXPECT_EQ(d->SupportedProtocolTypes(), expected[t]) << DeviceTypeIdents[t];
        EXPECT_EQ(d->FactoryNum(), 0);
        EXPECT_EQ(&d->ClassType(), DeviceClasses[t]);
    }
    EXPECT_STREQ(DeviceClasses[dtQZ2430NRTQ]->Name, "TccnQZ2430NRTQDev");
    EXPECT_TRUE(TccnQZ2AMDev::Class.InheritsFrom(TccnQZ2FamilyDev::Class));
    EXPECT_FALSE(TccnW8Dev::Class.InheritsFrom(TccnQZ2FamilyDev::Class));
}

TEST(CcnClasses, ProtocolDefaults) {
    TccnIEC101Protocol p101;
    EXPECT_EQ(p101.ProtocolType(), dptIEC101);
    EXPECT_EQ(p101.MaxFrameLength(), 255);
    EXPECT_EQ(p101.LinkAddressLength(), 1);
    TccnIEC104Protocol p104;
    EXPECT_EQ(p104.K(), 12);
    EXPECT_EQ(p104.W(), 8);
    EXPECT_EQ(p104.t1(), 15);
    EXPECT_EQ(p104.t4(), 25);
    TccnModbusRTUProtocol mb;
    EXPECT_EQ(mb.ProtocolType(), dptModbusRTU);
    EXPECT_EQ(mb.DevAddress(), 1);
    TccnKavrenProtocol k;
    EXPECT_EQ(k.DeviceAddress(), 1);
    EXPECT_EQ(k.MaxAttemptCount(), 5);
    EXPECT_EQ(k.MaxDataCount(), 1000);
}

TEST(CcnClasses, ConnectionModesCreateTheirInterfaceAndHardware) {
    TccnVQOptoAttach232ConMode opto;
    EXPECT_EQ(opto.ConModeType(), cmtVQOptoAttach232);
    EXPECT_EQ(opto.ComPortInterface().PortName(), "COM1");
    EXPECT_EQ(opto.ComPortInterface().Baudrate(), 115200u);
    EXPECT_EQ(&opto.OptoAttach(), opto.CustomCommHardware());
    EXPECT_EQ(opto.MaxAttemptCountOnConnect(), 5);

    TccnDirectTCPIPConMode tcp;
    EXPECT_EQ(tcp.TCPIPInterface().IpAddress(), "");
    EXPECT_EQ(tcp.TCPIPInterface().IpPort(), 0);
    EXPECT_EQ(tcp.CustomCommHardware(), nullptr);

    TccnPhoneModem232ConMode phone;
    EXPECT_EQ(phone.PhoneModem().ConnectType(), pmctDialing);
    EXPECT_EQ(phone.PhoneModem().DialType(), pmdtTone);
    TccnRadioModem232ConMode radio;
    EXPECT_EQ(radio.RadioModem().CallNumber(), "");
    EXPECT_EQ(CreateConMode(cmtDirect232)->CustomCommHardware(), nullptr);
}

TEST(CcnClasses, PropertyTablesListPublishedPropertiesBaseFirst) {
    auto names = [](const TccnClass& c) {
        std::vector<std::string> v;
        for (const TccnPropInfo* p : c.Properties())
            v.push_back(p->Name);
        return v;
    };
    EXPECT_EQ(names(TccnW8Dev::Class),
              (std::vector<std::string>{"FactoryNum", "W8Test", "TestStr"}));
    EXPECT_EQ(names(TccnPhoneModem::Class),
              (std::vector<std::string>{"InitString", "ConnectType", "PhoneNumber", "DialType"}));
    EXPECT_EQ(names(TccnModbusRTUProtocol::Class),
              (std::vector<std::string>{"DevAddress", "MaxAttemptCount"}));
    EXPECT_EQ(names(TccnDirect232ConMode::Class),
              (std::vector<std::string>{"MaxAttemptCountOnConnect", "CustomCommInterface",
                                        "CustomCommHardware"}));
    // Each table's default is what the constructor sets.
    for (const TccnClass* cls : RegisteredClasses()) {
        auto obj = cls->Create();
        if (!obj) continue;
        for (const TccnPropInfo* p : cls->Properties()) {
            if (p->Kind == TccnPropKind::String) {
                EXPECT_EQ(p->GetStr(*obj), p->DefaultStr) << cls->Name << "." << p->Name;
            } else if (p->Kind != TccnPropKind::Object) {
                EXPECT_EQ(p->GetInt(*obj), p->DefaultInt) << cls->Name << "." << p->Name;
            }
        }
    }
}

TEST(CcnClasses, IntegerSettersStoreInTheFieldsWidth) {
    TccnKavrenProtocol k;
    const TccnPropInfo* p = TccnKavrenProtocol::Class.FindProperty("deviceaddress");
    ASSERT_NE(p, nullptr);
    p->SetInt(k, 70000);
    EXPECT_EQ(k.DeviceAddress(), 70000 - 65536);
    TccnComPortInterface com;
    TccnComPortInterface::Class.FindProperty("Baudrate")->SetInt(com, -1);
    EXPECT_EQ(com.Baudrate(), 0xFFFFFFFFu);
}

TEST(CcnRegistry, FortySevenClassesByName) {
    EXPECT_EQ(RegisteredClasses().size(), 47u);
    std::set<std::string> names;
    for (const TccnClass* c : RegisteredClasses())
        names.insert(c->Name);
    EXPECT_EQ(names.size(), 47u);
    EXPECT_EQ(FindRegisteredClass("TccnQZ2AMDev"), &TccnQZ2AMDev::Class);
    EXPECT_EQ(FindRegisteredClass("tccnradiomodem"), &TccnRadioModem::Class);
    EXPECT_EQ(FindRegisteredClass("TccnConnectionListWrapper"), &TccnConnectionListWrapper::Class);
    EXPECT_EQ(FindRegisteredClass("TVersionInfo"), &TVersionInfo::Class);
    EXPECT_NE(FindRegisteredClass("TccnQZ2FamilyDev"), nullptr);
    EXPECT_EQ(FindRegisteredClass("TccnDeviceTypeOptions"), nullptr);
    EXPECT_EQ(FindRegisteredClass("TccnNoSuchDev"), nullptr);
}

TEST(CcnAssign, DevicesShareTheFactoryNumberOnly) {
    TccnW8Dev w8;
    w8.SetFactoryNum(77);
    w8.SetW8Test(5);
    w8.SetTestStr("x");
    auto clone = w8.Clone();
    auto* c = dynamic_cast<TccnW8Dev*>(clone.get());
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(c->FactoryNum(), 77);
    EXPECT_EQ(c->W8Test(), 1091);
    EXPECT_EQ(c->TestStr(), "Привет");

    TccnQZ2Dev qz2; // a change of type in the editor keeps the factory number
    qz2.Assign(w8);
    EXPECT_EQ(qz2.FactoryNum(), 77);
    EXPECT_EQ(qz2.DeviceType(), dtQZ2);
    EXPECT_THROW(qz2.Assign(TccnKavrenProtocol()), EInvalidCast);
}

// Every published value, nested ones included, away from its default and different from the
// others, so that a value Assign forgets or puts into another field shows in a clone.
void SetAwayFromDefaults(TccnPersistent& obj, int& n) {
    for (const TccnPropInfo* p : obj.ClassType().Properties()) {
        ++n;
        switch (p->Kind) {
        case TccnPropKind::Integer:
            p->SetInt(obj, p->IntType == TccnIntType::Byte   ? 200 + n
                           : p->IntType == TccnIntType::Word ? 40000 + n
                                                             : 3000000000 + n);
            break;
        case TccnPropKind::Enumeration:
            p->SetInt(obj, (p->DefaultInt + 1) % p->EnumCount);
            break;
        case TccnPropKind::String:
            p->SetStr(obj, "значение " + std::to_string(n));
            break;
        case TccnPropKind::Object:
            if (TccnPersistent* sub = p->GetObj(obj)) SetAwayFromDefaults(*sub, n);
            break;
        }
    }
}

// The W8 extras stay with the object they were set on; every other value goes into the clone.
void ExpectCloned(const TccnPersistent& src, const TccnPersistent& clone, const std::string& path) {
    ASSERT_EQ(&clone.ClassType(), &src.ClassType()) << path;
    for (const TccnPropInfo* p : src.ClassType().Properties()) {
        const std::string name = path + "." + p->Name;
        const bool copied =
            name.find(".W8Test") == std::string::npos && name.find(".TestStr") == std::string::npos;
        if (p->Kind == TccnPropKind::Object) {
            const TccnPersistent* from = p->GetObj(src);
            const TccnPersistent* to = p->GetObj(clone);
            ASSERT_EQ(from == nullptr, to == nullptr) << name;
            if (from == nullptr) continue;
            EXPECT_NE(from, to) << name << " is shared, not copied";
            ExpectCloned(*from, *to, name);
        } else if (p->Kind == TccnPropKind::String) {
            ASSERT_NE(p->GetStr(src), p->DefaultStr) << name;
            EXPECT_EQ(p->GetStr(clone), copied ? p->GetStr(src) : p->DefaultStr) << name;
        } else {
            ASSERT_NE(p->GetInt(src), p->DefaultInt) << name;
            EXPECT_EQ(p->GetInt(clone), copied ? p->GetInt(src) : p->DefaultInt) << name;
        }
    }
}

TEST(CcnAssign, CloneCarriesEveryPublishedValueOfEveryClass) {
    int classes = 0;
    for (const TccnClass* cls : RegisteredClasses()) {
        if (cls->IsAbstract() || cls->Properties().empty()) continue;
        ++classes;
        auto obj = cls->Create();
        int n = 0;
        SetAwayFromDefaults(*obj, n);
        ExpectCloned(*obj, *CloneObject(*obj), cls->Name);
    }
    // 17 devices, 4 protocols, 2 interfaces, 2 modems and 5 connection modes.
    EXPECT_EQ(classes, 30);
}

TEST(CcnAssign, ProtocolsRefuseSiblings) {
    TccnKavrenProtocol k;
    k.SetDeviceAddress(9);
    TccnIEC101Protocol p101;
    p101.SetLinkAddress(44);
    EXPECT_THROW(k.Assign(p101), EInvalidCast);
    EXPECT_EQ(k.DeviceAddress(), 9);
    TccnIEC101Protocol other;
    other.Assign(p101);
    EXPECT_EQ(other.LinkAddress(), 44);
    TccnModbusRTUProtocol mb;
    mb.SetDevAddress(17);
    mb.SetMaxAttemptCount(2);
    auto mbClone = mb.Clone();
    EXPECT_EQ(static_cast<TccnModbusRTUProtocol&>(*mbClone).DevAddress(), 17);
    EXPECT_EQ(static_cast<TccnModbusRTUProtocol&>(*mbClone).MaxAttemptCount(), 2);
    TccnIEC104Protocol p104;
    p104.Sett3(99);
    EXPECT_EQ(static_cast<TccnIEC104Protocol&>(*p104.Clone()).t3(), 99);
}

TEST(CcnAssign, ConnectionModeCopiesInterfaceAndHardware) {
    TccnPhoneModem232ConMode src;
    src.SetMaxAttemptCountOnConnect(3);
    src.ComPortInterface().SetPortName("COM7");
    src.ComPortInterface().SetBaudrate(9600);
    src.PhoneModem().SetInitString("ATZ");
    src.PhoneModem().SetConnectType(pmctDirect);
    src.PhoneModem().SetPhoneNumber("123");
    src.PhoneModem().SetDialType(pmdtPulse);
    auto clone = src.Clone();
    auto& c = static_cast<TccnPhoneModem232ConMode&>(*clone);
    EXPECT_EQ(c.MaxAttemptCountOnConnect(), 3);
    EXPECT_EQ(c.ComPortInterface().PortName(), "COM7");
    EXPECT_EQ(c.ComPortInterface().Baudrate(), 9600u);
    EXPECT_EQ(c.PhoneModem().InitString(), "ATZ");
    EXPECT_EQ(c.PhoneModem().ConnectType(), pmctDirect);
    EXPECT_EQ(c.PhoneModem().PhoneNumber(), "123");
    EXPECT_EQ(c.PhoneModem().DialType(), pmdtPulse);
    EXPECT_NE(&c.PhoneModem(), &src.PhoneModem());

    // A direct line takes the port of a modem mode; it has no hardware to fill.
    TccnDirect232ConMode direct;
    direct.Assign(src);
    EXPECT_EQ(direct.ComPortInterface().PortName(), "COM7");
    EXPECT_EQ(direct.CustomCommHardware(), nullptr);
}

TEST(CcnAssign, RefusedConnectionModeAssignCopiesNothing) {
    TccnDirectTCPIPConMode tcp;
    tcp.SetMaxAttemptCountOnConnect(9);
    TccnDirect232ConMode direct;
    EXPECT_THROW(direct.Assign(tcp), EInvalidCast);
    EXPECT_EQ(direct.MaxAttemptCountOnConnect(), 5);

    TccnRadioModem232ConMode radio;
    radio.SetMaxAttemptCountOnConnect(2);
    TccnPhoneModem232ConMode phone;
    EXPECT_THROW(phone.Assign(radio), EInvalidCast);
    EXPECT_EQ(phone.MaxAttemptCountOnConnect(), 5);
}

TEST(CcnParamsText, LinesPerProtocol) {
    EXPECT_EQ(TccnKavrenProtocol().GetParamsText(), std::vector<std::string>{"Адрес: =1"});
    TccnIEC101Protocol p101;
    p101.SetLinkAddress(513);
    EXPECT_EQ(p101.GetParamsText(), std::vector<std::string>{"Адрес: =513"});
    TccnModbusRTUProtocol mb;
    mb.SetDevAddress(247);
    EXPECT_EQ(mb.GetParamsText(), std::vector<std::string>{"Адрес: =247"});
    EXPECT_TRUE(TccnIEC104Protocol().GetParamsText().empty());
}

TEST(CcnOptions, AddRefusesEmptySets) {
    TccnDeviceTypeOptionsList list;
    try {
        list.AddDeviceTypeOptions(dtQZ2, 0, 0);
        FAIL();
    } catch (const EccnError& e) {
        EXPECT_STREQ(e.what(), "Не задан список разрешенных типов протоколов");
    }
    try {
        list.AddDeviceTypeOptions(dtQZ2, 1, 0);
        FAIL();
    } catch (const EccnError& e) {
        EXPECT_STREQ(e.what(), "Не задан список разрешенных типов подключений");
    }
    EXPECT_EQ(list.Count(), 0u);
    list.AddDeviceTypeOptions(dtQZ2M, 1, 15);
    list.AddDeviceTypeOptions(dtQZ2M, 3, 1);
    ASSERT_NE(list.FindDeviceTypeOptions(dtQZ2M), nullptr);
    EXPECT_EQ(list.FindDeviceTypeOptions(dtQZ2M)->ConModeTypes, 15);
    EXPECT_EQ(list.FindDeviceTypeOptions(dtQZ2), nullptr);
}

class CcnCheckConnection : public ::testing::Test {
protected:
    void SetUp() override {
        for (TDeviceType t : {dtQZ2, dtQZ2M, dtQZ2C, dtQZ2A, dtQZ2AM, dtQZ2AC})
            Options.DeviceTypeOptions().AddDeviceTypeOptions(t, SetBit(dptKavren), 15);
    }
    bool Check(const TccnConnection* c) { return Options.CheckConnection(c, Error); }
    TccnConnectionListUIOptions Options;
    std::string Error;
};

TEST_F(CcnCheckConnection, OrderAndTexts) {
    EXPECT_FALSE(Options.MultiSelect);
    EXPECT_FALSE(Check(nullptr));
    EXPECT_EQ(Error, "Не задано подключение");

    TccnConnection c; // no device: nothing else is looked at
    c.SetCustomDeviceProtocol(std::make_unique<TccnModbusRTUProtocol>());
    EXPECT_TRUE(Check(&c));
    EXPECT_EQ(Error, "Unknown error");

    c.SetCustomDevice(std::make_unique<TccnW8Dev>());
    EXPECT_FALSE(Check(&c));
    EXPECT_EQ(Error, "Заданный тип измерителя не поддерживается");

    c.SetCustomDevice(std::make_unique<TccnQZ2Dev>());
    c.SetCustomConMode(std::make_unique<TccnVQOptoAttach232ConMode>());
    EXPECT_FALSE(Check(&c));
    EXPECT_EQ(Error, "Заданный тип протокола для данного типа измерителя не поддерживается");

    c.SetCustomDeviceProtocol(std::make_unique<TccnKavrenProtocol>());
    EXPECT_FALSE(Check(&c));
    EXPECT_EQ(Error, "Заданный тип подключения для данного типа измерителя не поддерживается");

    c.SetCustomConMode(std::make_unique<TccnDirectTCPIPConMode>());
    EXPECT_TRUE(Check(&c));
}

TEST_F(CcnCheckConnection, DevicesOwnProtocolSetIsNotConsulted) {
    Options.DeviceTypeOptions().AddDeviceTypeOptions(dtD7, SetBit(dptKavren), 1);
    TccnConnection c;
    c.SetCustomDevice(std::make_unique<TccnD7Dev>()); // supports Modbus only
    c.SetCustomDeviceProtocol(std::make_unique<TccnKavrenProtocol>());
    EXPECT_TRUE(Check(&c));
}

} // namespace
} // namespace qz
