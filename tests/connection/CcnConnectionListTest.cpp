#include "connection/CcnConnectionList.h"
#include "tests/support/ByteString.h"

#include <gtest/gtest.h>

namespace qz {
namespace {

// --- bytes written by hand from the format's rules ---------------------------------------

using test::B;
std::string Short(const std::string& ascii) {
    return B({int(ascii.size())}) + ascii;
}
std::string Len4(size_t n) {
    return B({int(n & 255), int((n >> 8) & 255), int((n >> 16) & 255), 0});
}
std::string Ident(const std::string& s) {
    return B({7}) + Short(s);
}
std::string Bin(const std::string& bytes) {
    return B({10}) + Len4(bytes.size()) + bytes;
}

const std::string kEmptyListHead = std::string("TPF0") +
                                   "\x19"
                                   "TccnConnectionListWrapper" +
                                   std::string(1, '\0') +
                                   "\x24"
                                   "ConnectionList.Version.VersionNumber" +
                                   B({1, 2, 1, 2, 1, 2, 0, 2, 21, 0});

std::string ListStream(int maxID, const std::string& items) {
    return kEmptyListHead +
           "\x15"
           "ConnectionList.FMaxID" +
           B({2, maxID & 255}) +
           "\x0E"
           "ConnectionList" +
           B({14}) + items + B({0, 0, 0});
}

// A QZ2 meter no. 300 with the family protocol at its defaults, no connection mode.
std::string Qz2Item(int conID) {
    const std::string device = std::string("TPF0") + Short("TccnCustomDeviceWrapper") + B({0}) +
                               Short("CustomDevice.FactoryNum") + B({3, 0x2C, 0x01, 0, 0});
    const std::string protocol = std::string("TPF0") + Short("TccnCustomDeviceProtocolWrapper") +
                                 B({0}) + Short("CustomDeviceProtocol.DeviceAddress") + B({2, 1}) +
                                 Short("CustomDeviceProtocol.MaxAttemptCount") + B({2, 5}) +
                                 Short("CustomDeviceProtocol.MaxDataCount") +
                                 B({3, 0xE8, 0x03, 0, 0});
    return B({1}) + Short("ConID") + B({2, conID}) + Short("FCustomDeviceType") + Ident("dtQZ2") +
           Short("FCustomDeviceClass") + Ident("TccnQZ2Dev") + Short("FCustomDeviceProtocolType") +
           Ident("dptKavren") + Short("FCustomDeviceProtocolClass") + Ident("TccnKavrenProtocol") +
           Short("CustomDevice") + Bin(device) + Short("CustomDeviceProtocol") + Bin(protocol) +
           B({0});
}

std::string Save(const TccnConnectionList& list, TStreamFormat f) {
    TccnMemoryStream s;
    list.SaveToStream(s, f);
    return s.Data();
}

void Load(TccnConnectionList& list, const std::string& data, TStreamFormat f) {
    TccnMemoryStream s(data);
    list.LoadFromStream(s, f);
}

std::string LoadError(TccnConnectionList& list, const std::string& data, TStreamFormat f) {
    try {
        Load(list, data, f);
    } catch (const EccnError& e) {
        return e.what();
    }
    return "(no error)";
}

TccnConnection Qz2Connection(int32_t factoryNum) {
    TccnConnection c;
    auto d = std::make_unique<TccnQZ2Dev>();
    d->SetFactoryNum(factoryNum);
    c.SetCustomDevice(std::move(d));
    c.SetCustomDeviceProtocol(std::make_unique<TccnKavrenProtocol>());
    return c;
}

// --- identifiers and list operations ------------------------------------------------------

TEST(CcnConnectionList, IdentifiersKeepGrowingAcrossDeleteSaveAndLoad) {
    TccnConnectionList list;
    EXPECT_EQ(list.FMaxID, -1);
    TccnConnection a = Qz2Connection(1), b = Qz2Connection(2);
    EXPECT_TRUE(list.AddConnection(a));
    EXPECT_TRUE(list.AddConnection(b));
    EXPECT_EQ(a.ConID, 0);
    EXPECT_EQ(b.ConID, 1);
    EXPECT_EQ(list.GetItem(1)->ConID, 1);
    EXPECT_NE(list.GetItem(1), &b); // the list keeps a copy
    EXPECT_TRUE(list.DeleteConnection(0));
    EXPECT_TRUE(list.DeleteConnection(1));
    EXPECT_EQ(list.Count(), 0u);

    TccnConnectionList loaded;
    Load(loaded, Save(list, sfBinary), sfBinary);
    TccnConnection c = Qz2Connection(3);
    loaded.AddConnection(c);
    EXPECT_EQ(c.ConID, 2);
    TccnConnection d = Qz2Connection(4);
    list.AddConnection(d);
    EXPECT_EQ(d.ConID, 2);
}

TEST(CcnConnectionList, TheLastIdentifierIsNeverWrappedRound) {
    TccnConnectionList list;
    list.FMaxID = 2147483646;
    TccnConnection a = Qz2Connection(1);
    ASSERT_TRUE(list.AddConnection(a));
    EXPECT_EQ(a.ConID, 2147483647);
    TccnConnection b = Qz2Connection(2);
    b.ConID = 17;
    try {
        list.AddConnection(b);
        FAIL() << "a new identifier past 2147483647";
    } catch (const EccnError& e) {
        EXPECT_NE(std::string(e.what()).find("2147483647"), std::string::npos) << e.what();
    }
    EXPECT_EQ(list.FMaxID, 2147483647);
    EXPECT_EQ(list.Count(), 1u);
    EXPECT_EQ(b.ConID, 17);
    EXPECT_THROW(list.NewID(), EccnError);
}

TEST(CcnConnectionList, UnknownIdentifiersChangeNothing) {
    TccnConnectionList list;
    TccnConnection a = Qz2Connection(10);
    list.AddConnection(a);
    TccnConnection ghost = Qz2Connection(99);
    ghost.ConID = 5;
    EXPECT_FALSE(list.UpdateConnection(ghost));
    EXPECT_FALSE(list.DeleteConnection(5));
    EXPECT_EQ(list.Count(), 1u);
    EXPECT_EQ(list.GetItem(0)->CustomDevice()->FactoryNum(), 10);
    EXPECT_EQ(list.GetItem(1), nullptr);

    ghost.ConID = 0;
    EXPECT_TRUE(list.UpdateConnection(ghost));
    EXPECT_EQ(list.GetItem(0)->CustomDevice()->FactoryNum(), 99);
    EXPECT_EQ(list.IndexOfID(0), 0);
    EXPECT_EQ(list.IndexOfID(1), -1);
    EXPECT_EQ(list.FindByID(0), list.GetItem(0));
}

TEST(CcnConnection, AssignReplacesPresentPartsAndKeepsMissingOnes) {
    TccnConnection src;
    src.ConID = 7;
    src.Checked = true;
    auto dev = std::make_unique<TccnQZ2MDev>();
    dev->SetFactoryNum(55);
    src.SetCustomDevice(std::move(dev));
    TccnConnection dst;
    dst.SetCustomConMode(std::make_unique<TccnDirectTCPIPConMode>());
    TccnCustomConMode* keptMode = dst.CustomConMode();
    dst.Assign(src);
    EXPECT_EQ(dst.ConID, 7);
    EXPECT_FALSE(dst.Checked);
    ASSERT_NE(dst.CustomDevice(), nullptr);
    EXPECT_NE(dst.CustomDevice(), src.CustomDevice());
    EXPECT_EQ(dst.CustomDevice()->DeviceType(), dtQZ2M);
    EXPECT_EQ(dst.CustomDevice()->FactoryNum(), 55);
    EXPECT_EQ(dst.CustomConMode(), keptMode);
    EXPECT_EQ(dst.CustomDeviceProtocol(), nullptr);
}

TEST(CcnConnectionList, DeviceQueries) {
    TccnConnectionList list;
    TccnConnection a = Qz2Connection(1), b = Qz2Connection(1), c = Qz2Connection(2);
    TccnConnection bare;
    list.AddConnection(bare);
    list.AddConnection(a);
    list.AddConnection(b);
    list.AddConnection(c);
    EXPECT_TRUE(list.HasDevice(dtQZ2));
    EXPECT_FALSE(list.HasDevice(dtQZ2M));
    EXPECT_TRUE(list.HasDeviceNum(dtQZ2, 2));
    EXPECT_FALSE(list.HasDeviceNum(dtQZ2, 3));
    EXPECT_FALSE(list.IsSingleDevice(dtQZ2));
    EXPECT_FALSE(list.IsSingleDeviceNum(dtQZ2, 1));
    EXPECT_TRUE(list.IsSingleDeviceNum(dtQZ2, 2));
    list.SetAllChecked(true);
    EXPECT_TRUE(list.GetItem(3)->Checked);
    list.SetAllChecked(false);
    EXPECT_FALSE(list.GetItem(0)->Checked);
}

TEST(CcnConnectionList, SortByTypeNumberProtocolModeThenID) {
    TccnConnectionList list;
    auto add = [&](TDeviceType t, int32_t num, TDeviceProtocolType p, TConModeType m) {
        TccnConnection c;
        auto d = CreateDevice(t);
        d->SetFactoryNum(num);
        c.SetCustomDevice(std::move(d));
        c.SetCustomDeviceProtocol(CreateDeviceProtocol(p));
        c.SetCustomConMode(CreateConMode(m));
        list.AddConnection(c);
    };
    add(dtQZ2M, 1, dptKavren, cmtDirect232);   // 0
    add(dtQZ2, 5, dptKavren, cmtDirect232);    // 1
    add(dtQZ2, 5, dptIEC101, cmtDirect232);    // 2
    add(dtQZ2, 5, dptKavren, cmtDirectTCPIP);  // 3
    add(dtQZ2, 5, dptKavren, cmtDirect232);    // 4
    add(dtQZ2, -3, dptKavren, cmtDirectTCPIP); // 5
    TccnConnection bare;                       // 6: no parts
    list.AddConnection(bare);
    list.SortConnections();
    std::vector<int32_t> ids;
    for (size_t i = 0; i < list.Count(); ++i)
        ids.push_back(list.GetItem(i)->ConID);
    EXPECT_EQ(ids, (std::vector<int32_t>{6, 5, 1, 4, 3, 2, 0}));
}

// --- byte-exact forms -----------------------------------------------------------------------

TEST(CcnListStream, EmptyListBinaryIsExact) {
    TccnConnectionList list;
    const std::string expected = std::string("TPF0\x19TccnConnectionListWrapper\x00\x24", 32) +
                                 "ConnectionList.Version.VersionNumber" +
                                 std::string("\x01\x02\x01\x02\x01\x02\x00\x02\x15\x00\x15", 11) +
                                 "ConnectionList.FMaxID" + std::string("\x02\xFF\x0E", 3) +
                                 "ConnectionList" + std::string("\x0E\x00\x00\x00", 4);
    EXPECT_EQ(Save(list, sfBinary), expected);
}

TEST(CcnListStream, OneConnectionBinaryIsExact) {
    TccnConnectionList list;
    TccnConnection c = Qz2Connection(300);
    list.AddConnection(c);
    EXPECT_EQ(Save(list, sfBinary), ListStream(0, Qz2Item(0)));
}

TEST(CcnListStream, TextFormIsExact) {
    TccnConnectionList list;
    EXPECT_EQ(Save(list, sfText), "object TccnConnectionListWrapper\r\n"
                                  "  ConnectionList.Version.VersionNumber = (\r\n"
                                  "    1\r\n"
                                  "    1\r\n"
                                  "    0\r\n"
                                  "    21)\r\n"
                                  "  ConnectionList.FMaxID = -1\r\n"
                                  "  ConnectionList = <>\r\n"
                                  "end\r\n");

    TccnConnection c;
    c.SetCustomDevice(std::make_unique<TccnQZDev>()); // factory number 0
    list.AddConnection(c);
    EXPECT_EQ(Save(list, sfText),
              "object TccnConnectionListWrapper\r\n"
              "  ConnectionList.Version.VersionNumber = (\r\n"
              "    1\r\n"
              "    1\r\n"
              "    0\r\n"
              "    21)\r\n"
              "  ConnectionList.FMaxID = 0\r\n"
              "  ConnectionList = <\r\n"
              "    item\r\n"
              "      ConID = 0\r\n"
              "      FCustomDeviceType = dtQZ\r\n"
              "      FCustomDeviceClass = TccnQZDev\r\n"
              "      CustomDevice = {\r\n"
              // "TPF0", 23 "TccnCustomDeviceWrapper", 0, 23 "CustomDevice.FactoryNum", int8 0, 0, 0
              "        54504630175463636E437573746F6D4465766963655772617070657200174375\r\n"
              "        73746F6D4465766963652E466163746F72794E756D02000000}\r\n"
              "    end>\r\n"
              "end\r\n");
}

TEST(CcnListStream, HandWrittenTextLoads) {
    // Another layout than the writer's: LF only, values on one line, a different order.
    const std::string text =
        "object TccnConnectionListWrapper\n"
        "ConnectionList.FMaxID = 4\n"
        "ConnectionList.Version.VersionNumber = (1 1 0 21)\n"
        "ConnectionList = < item ConID = 4 FCustomDeviceClass = TccnQZ2CDev\n"
        "  CustomDevice = {5450463017546363\n6E437573746F6D446576696365577261707065720017437573"
        "746F6D4465766963652E466163746F72794E756D0301FF0000} end >\n"
        "end\n";
    TccnConnectionList list;
    Load(list, text, sfText);
    ASSERT_EQ(list.Count(), 1u);
    EXPECT_EQ(list.FMaxID, 4);
    EXPECT_EQ(list.GetItem(0)->ConID, 4);
    EXPECT_EQ(list.GetItem(0)->CustomDevice()->DeviceType(), dtQZ2C);
    EXPECT_EQ(list.GetItem(0)->CustomDevice()->FactoryNum(), -255);
}

// --- round trips ----------------------------------------------------------------------------

// One connection per device, protocol and connection-mode class, with non-default values.
void FillEveryClass(TccnConnectionList& list) {
    for (int i = 0; i < DeviceTypeCount; ++i) {
        TccnConnection c;
        auto d = CreateDevice(TDeviceType(i));
        d->SetFactoryNum(i * 100000 - 7);
        c.SetCustomDevice(std::move(d));
        auto p = CreateDeviceProtocol(TDeviceProtocolType(i % DeviceProtocolTypeCount));
        if (auto* k = dynamic_cast<TccnKavrenProtocol*>(p.get())) k->SetDeviceAddress(60000);
        if (auto* p101 = dynamic_cast<TccnIEC101Protocol*>(p.get())) p101->SetAOILength(3);
        if (auto* p104 = dynamic_cast<TccnIEC104Protocol*>(p.get())) p104->Sett2(123456);
        if (auto* mb = dynamic_cast<TccnModbusProtocol*>(p.get())) mb->SetDevAddress(200);
        c.SetCustomDeviceProtocol(std::move(p));
        auto m = CreateConMode(TConModeType(i % ConModeTypeCount));
        m->SetMaxAttemptCountOnConnect(i);
        if (auto* com = dynamic_cast<TccnComPortInterface*>(m->CustomCommInterface())) {
            com->SetPortName(i % 2 ? "COM12" : "COM3");
            com->SetBaudrate(i == 0 ? 4000000000u : 9600u);
        }
        if (auto* tcp = dynamic_cast<TccnTCPIPInterface*>(m->CustomCommInterface())) {
            tcp->SetIpAddress("192.168.0.7");
            tcp->SetIpPort(502);
        }
        if (auto* ph = dynamic_cast<TccnPhoneModem*>(m->CustomCommHardware())) {
            ph->SetInitString("AT&F");
            ph->SetConnectType(pmctDirect);
            ph->SetPhoneNumber("8-800 Тест");
            ph->SetDialType(pmdtPulse);
        }
        if (auto* rm = dynamic_cast<TccnRadioModem*>(m->CustomCommHardware()))
            rm->SetCallNumber("Позывной");
        c.SetCustomConMode(std::move(m));
        list.AddConnection(c);
    }
    // Assign does not copy the W8 extras, so they are set on the stored item.
    auto& w8 = static_cast<TccnW8Dev&>(*list.GetItem(dtW8)->CustomDevice());
    w8.SetW8Test(-40000);
    w8.SetTestStr(std::string(300, 'w') + "ё");
}

TEST(CcnListStream, EveryClassRoundTripsInBothForms) {
    TccnConnectionList list;
    FillEveryClass(list);
    const std::string binary = Save(list, sfBinary);
    for (TStreamFormat f : {sfBinary, sfText}) {
        TccnConnectionList loaded;
        Load(loaded, Save(list, f), sfAuto);
        ASSERT_EQ(loaded.Count(), list.Count());
        EXPECT_TRUE(Save(loaded, sfBinary) == binary) << int(f);
        for (size_t i = 0; i < list.Count(); ++i) {
            EXPECT_EQ(&loaded.GetItem(i)->CustomDevice()->ClassType(),
                      &list.GetItem(i)->CustomDevice()->ClassType());
            EXPECT_EQ(&loaded.GetItem(i)->CustomConMode()->ClassType(),
                      &list.GetItem(i)->CustomConMode()->ClassType());
        }
    }
    TccnConnectionList loaded;
    Load(loaded, binary, sfBinary);
    auto& w8 = static_cast<TccnW8Dev&>(*loaded.GetItem(dtW8)->CustomDevice());
    EXPECT_EQ(w8.W8Test(), -40000);
    EXPECT_EQ(w8.TestStr(), std::string(300, 'w') + "ё");
    auto& phone = static_cast<TccnPhoneModem232ConMode&>(*loaded.GetItem(1)->CustomConMode());
    EXPECT_EQ(phone.PhoneModem().PhoneNumber(), "8-800 Тест");
    EXPECT_EQ(phone.ComPortInterface().PortName(), "COM12");
    auto& direct = static_cast<TccnDirect232ConMode&>(*loaded.GetItem(0)->CustomConMode());
    EXPECT_EQ(direct.ComPortInterface().Baudrate(), 4000000000u);
    auto& k = static_cast<TccnKavrenProtocol&>(*loaded.GetItem(0)->CustomDeviceProtocol());
    EXPECT_EQ(k.DeviceAddress(), 60000);
}

TEST(CcnListStream, EmptyStringsAreNotStoredAndReadBackAsDefaults) {
    TccnConnectionList list;
    TccnConnection c;
    c.SetCustomDevice(std::make_unique<TccnW8Dev>());
    auto mode = std::make_unique<TccnDirect232ConMode>();
    mode->ComPortInterface().SetPortName("");
    c.SetCustomConMode(std::move(mode));
    list.AddConnection(c);
    static_cast<TccnW8Dev&>(*list.GetItem(0)->CustomDevice()).SetTestStr("");
    const std::string data = Save(list, sfBinary);
    EXPECT_EQ(data.find("TestStr"), std::string::npos);
    EXPECT_EQ(data.find("PortName"), std::string::npos);
    TccnConnectionList loaded;
    Load(loaded, data, sfBinary);
    EXPECT_EQ(static_cast<TccnW8Dev&>(*loaded.GetItem(0)->CustomDevice()).TestStr(), "Привет");
    EXPECT_EQ(static_cast<TccnDirect232ConMode&>(*loaded.GetItem(0)->CustomConMode())
                  .ComPortInterface()
                  .PortName(),
              "COM1");
    // The defaults are stored from then on: one reload reaches the fixed point, not zero.
    const std::string again = Save(loaded, sfBinary);
    EXPECT_NE(again, data);
    EXPECT_NE(again.find("PortName"), std::string::npos);
    EXPECT_NE(again.find("TestStr"), std::string::npos);
    TccnConnectionList reloaded;
    Load(reloaded, again, sfBinary);
    EXPECT_EQ(Save(reloaded, sfBinary), again);
}

TEST(CcnListStream, ConnectionWithoutModeHasNoModeProperties) {
    TccnConnectionList list;
    TccnConnection c = Qz2Connection(300);
    list.AddConnection(c);
    const std::string data = Save(list, sfBinary);
    EXPECT_EQ(data.find("FCustomConMode"), std::string::npos);
    EXPECT_EQ(data.find("CustomConMode"), std::string::npos);
    TccnConnectionList loaded;
    Load(loaded, data, sfBinary);
    ASSERT_EQ(loaded.Count(), 1u);
    EXPECT_EQ(loaded.GetItem(0)->CustomConMode(), nullptr);
    EXPECT_NE(loaded.GetItem(0)->CustomDeviceProtocol(), nullptr);
}

TEST(CcnListStream, AssignCopiesIdentifiersCounterAndOrder) {
    TccnConnectionList src;
    FillEveryClass(src);
    src.DeleteConnection(3);
    src.SortConnections();
    TccnConnectionList dst;
    TccnConnection old = Qz2Connection(1);
    dst.AddConnection(old);
    dst.SetAllChecked(true);
    dst.Assign(src);
    ASSERT_EQ(dst.Count(), src.Count());
    EXPECT_EQ(dst.FMaxID, src.FMaxID);
    for (size_t i = 0; i < src.Count(); ++i) {
        EXPECT_EQ(dst.GetItem(i)->ConID, src.GetItem(i)->ConID);
        EXPECT_FALSE(dst.GetItem(i)->Checked);
    }
    EXPECT_TRUE(Save(dst, sfBinary) == Save(src, sfBinary));
    EXPECT_THROW(dst.Assign(TccnConnection()), EInvalidCast);
}

// --- versions ---------------------------------------------------------------------------------

std::string WithVersion(int major, int minor, int release, const std::string& buildBytes,
                        const std::string& items) {
    return std::string("TPF0") + Short("TccnConnectionListWrapper") + B({0}) +
           Short("ConnectionList.Version.VersionNumber") + B({1, 2, major, 2, minor, 2, release}) +
           buildBytes + B({0}) + Short("ConnectionList.FMaxID") + B({2, 0}) +
           Short("ConnectionList") + B({14}) + items + B({0, 0, 0});
}

TEST(CcnListVersion, NewerListIsRefusedOlderLoads) {
    TccnConnectionList list;
    TccnConnection keep = Qz2Connection(1);
    list.AddConnection(keep);
    EXPECT_EQ(LoadError(list, WithVersion(1, 2, 0, B({2, 0}), Qz2Item(0)), sfBinary),
              "Ошибка загрузки данных. Неверный формат. Текущая версия списка подключений меньше "
              "загружаемой версии. Загрузка невозможна");
    EXPECT_EQ(list.Count(), 0u);
    EXPECT_EQ(TVersionInfo::CompareWith(list.Version(), 1, 1, 0, 21), 0);
    EXPECT_EQ(TVersionInfo::CompareWith(list.LoadedVersion(), 1, 2, 0, 0), 0);

    // 1.0.9.999 is older: it loads, and Version is the current one again.
    Load(list, WithVersion(1, 0, 9, B({3, 0xE7, 0x03}), Qz2Item(0)), sfBinary);
    EXPECT_EQ(list.Count(), 1u);
    EXPECT_EQ(TVersionInfo::CompareWith(list.Version(), 1, 1, 0, 21), 0);
    EXPECT_EQ(TVersionInfo::CompareWith(list.LoadedVersion(), 1, 0, 9, 999), 0);
}

TEST(CcnListVersion, CompareUsesUnsignedParts) {
    TVersionInfo a, b;
    a.SetVersion(1, 200, 0, 0);
    b.SetVersion(1, 100, 255, 0xFFFFFFFF);
    EXPECT_EQ(TVersionInfo::CompareVersions(a, b), 1);
    EXPECT_EQ(TVersionInfo::CompareVersions(b, a), -1);
    EXPECT_EQ(TVersionInfo::CompareWith(b, 1, 100, 255, 0x80000000), 1);
}

TEST(CcnListVersion, OldListsTakeTheFactoryNumberAsAddress) {
    // Factory number 300 and address 1 in both streams.
    TccnConnectionList list;
    Load(list, WithVersion(1, 0, 9, B({3, 0xE7, 0x03}), Qz2Item(0)), sfBinary);
    EXPECT_EQ(
        static_cast<TccnKavrenProtocol&>(*list.GetItem(0)->CustomDeviceProtocol()).DeviceAddress(),
        300);
    // A current list keeps the address the operator set.
    Load(list, ListStream(0, Qz2Item(0)), sfBinary);
    EXPECT_EQ(
        static_cast<TccnKavrenProtocol&>(*list.GetItem(0)->CustomDeviceProtocol()).DeviceAddress(),
        1);
}

// --- formats and errors ---------------------------------------------------------------------

TEST(CcnListStream, AutoReadsTextAfterBinaryFails) {
    TccnConnectionList src;
    TccnConnection c = Qz2Connection(300);
    src.AddConnection(c);
    TccnMemoryStream s;
    s.Write("prefix");
    src.SaveToStream(s, sfText);
    s.SetPosition(6);
    TccnConnectionList list;
    list.LoadFromStream(s, sfAuto);
    ASSERT_EQ(list.Count(), 1u);
    EXPECT_EQ(list.GetItem(0)->CustomDevice()->FactoryNum(), 300);
    EXPECT_EQ(s.Position(), s.Size() - 2); // just after "end"
}

TEST(CcnListStream, GarbageGivesTheCombinedMessage) {
    TccnConnectionList list;
    EXPECT_EQ(LoadError(list, "xyz", sfAuto),
              "Ошибка загрузки данных. Неверный формат.\r\n\r\n"
              "Ошибка чтения в бинарном виде: Ошибка загрузки данных. Неверный формат. "
              "Неожиданный конец потока\r\n\r\n"
              "Ошибка чтения в текстовом виде: Ошибка загрузки данных. Неверный формат. "
              "Ошибка в строке 1: ожидается object");
    EXPECT_EQ(LoadError(list, "", sfBinary),
              "Ошибка загрузки данных. Неверный формат. Неожиданный конец потока");
    EXPECT_EQ(LoadError(list, "TPF1xxxxxxxx", sfBinary),
              "Ошибка загрузки данных. Неверный формат. Неверный формат потока");
}

TEST(CcnListStream, SaveInUnknownFormatWritesNothing) {
    TccnConnectionList list;
    TccnMemoryStream s;
    try {
        list.SaveToStream(s, sfAuto);
        FAIL();
    } catch (const EccnError& e) {
        EXPECT_STREQ(e.what(), "Сохранение в поток в неизвестном формате не поддерживается");
    }
    EXPECT_EQ(s.Size(), 0u);
}

TEST(CcnListStream, TryLoadClearsOnFailure) {
    TccnConnectionList list;
    TccnConnection c = Qz2Connection(1);
    list.AddConnection(c);
    TccnMemoryStream bad("TPF0\x19TccnConnectionListWrapper");
    EXPECT_FALSE(list.TryLoadFromStream(bad, sfBinary));
    EXPECT_EQ(list.Count(), 0u);
    TccnMemoryStream good(ListStream(0, Qz2Item(0) + Qz2Item(1)));
    EXPECT_TRUE(list.TryLoadFromStream(good, sfBinary));
    EXPECT_EQ(list.Count(), 2u);
}

TEST(CcnListStream, UnknownOrForeignContentIsAFormatError) {
    TccnConnectionList list;
    // Unknown property at list level.
    EXPECT_EQ(LoadError(list, kEmptyListHead + Short("Colour") + B({2, 1, 0, 0}), sfBinary),
              "Ошибка загрузки данных. Неверный формат. Свойство Colour не существует");
    // Unknown device class: the part stays absent and its data cannot be read.
    std::string item = Qz2Item(0);
    item.replace(item.find("TccnQZ2Dev"), 10, "TccnXYZ9Dev");
    item[item.find("TccnXYZ9Dev") - 1] = 11;
    EXPECT_EQ(LoadError(list, ListStream(0, item), sfBinary),
              "Ошибка загрузки данных. Неверный формат. Не задан класс объекта свойства "
              "CustomDevice");
    // A protocol class where a device belongs.
    item = Qz2Item(0);
    item.replace(item.find("TccnQZ2Dev"), 10, "TccnKavrenProtocol");
    item[item.find("TccnKavrenProtocol") - 1] = 18;
    EXPECT_EQ(LoadError(list, ListStream(0, item), sfBinary),
              "Ошибка загрузки данных. Неверный формат. Класс TccnKavrenProtocol не может быть "
              "частью подключения");
    // A string where an integer belongs.
    item = Qz2Item(0);
    const size_t at = item.find("ConID") + 5;
    item.replace(at, 2, B({6, 1, 'x'}));
    EXPECT_EQ(LoadError(list, ListStream(0, item), sfBinary),
              "Ошибка загрузки данных. Неверный формат. Неверный тип значения свойства ConID");
}

TEST(CcnListStream, ReorderedPropertiesAreReadByName) {
    const std::string reordered = std::string("TPF0") + Short("TccnConnectionListWrapper") +
                                  B({0}) + Short("ConnectionList") + B({14}) + Qz2Item(3) + B({0}) +
                                  Short("connectionlist.fmaxid") + B({2, 9}) + B({0, 0});
    TccnConnectionList list;
    Load(list, reordered, sfBinary);
    EXPECT_EQ(list.FMaxID, 9);
    ASSERT_EQ(list.Count(), 1u);
    EXPECT_EQ(list.GetItem(0)->ConID, 3);
}

TEST(CcnListStream, CounterBehindItsItemsIsRaised) {
    TccnConnectionList list;
    Load(list, ListStream(-1, Qz2Item(5)), sfBinary);
    TccnConnection c = Qz2Connection(1);
    list.AddConnection(c);
    EXPECT_EQ(c.ConID, 6);
}

} // namespace
} // namespace qz

namespace qz {
namespace {

TEST(CcnListVersion, StreamWithoutVersionKeepsStoredAddresses) {
    const std::string noVersion = std::string("TPF0") + Short("TccnConnectionListWrapper") +
                                  B({0}) + Short("ConnectionList") + B({14}) + Qz2Item(0) +
                                  B({0, 0, 0});
    TccnConnectionList list;
    Load(list, noVersion, sfBinary);
    ASSERT_EQ(list.Count(), 1u);
    EXPECT_EQ(
        static_cast<TccnKavrenProtocol&>(*list.GetItem(0)->CustomDeviceProtocol()).DeviceAddress(),
        1);
    EXPECT_EQ(TVersionInfo::CompareWith(list.LoadedVersion(), 1, 1, 0, 21), 0);
}

TEST(CcnListVersion, WriteHookRunsBeforeTheVersionIsWritten) {
    TccnConnectionList list;
    int calls = 0;
    list.Version().OnBeforeWrite = [&] { ++calls; };
    Save(list, sfBinary);
    Save(list, sfText);
    EXPECT_EQ(calls, 2);
}

TEST(CcnListStream, FailedTextLoadLeavesTheListEmpty) {
    TccnConnectionList list;
    TccnConnection c = Qz2Connection(1);
    list.AddConnection(c);
    EXPECT_EQ(LoadError(list, "object TccnConnectionListWrapper\n  a = 'x\nend", sfText),
              "Ошибка загрузки данных. Неверный формат. Ошибка в строке 2: строка не закрыта");
    EXPECT_EQ(list.Count(), 0u);
    EXPECT_EQ(list.FMaxID, 0); // the counter is not lowered by a failed load
}

TEST(CcnListStream, ListAssignedToItselfIsUnchanged) {
    TccnConnectionList list;
    FillEveryClass(list);
    const std::string before = Save(list, sfBinary);
    list.Assign(list);
    EXPECT_TRUE(Save(list, sfBinary) == before);
}

} // namespace
} // namespace qz
