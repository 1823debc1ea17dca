// The window-free parts of the connection dialogs: history lists, device tree, filtering,
// the row after a deletion, summaries, speeds and typed-in values.
#include "connection/ui/CcnConnectionListLogic.h"

#include <gtest/gtest.h>

namespace qz {
namespace {

std::unique_ptr<TccnConnection> Conn(TDeviceType type, int32_t number,
                                     TConModeType mode = cmtDirect232) {
    auto c = std::make_unique<TccnConnection>();
    c->SetCustomDevice(CreateDevice(type));
    c->CustomDevice()->SetFactoryNum(number);
    c->SetCustomDeviceProtocol(CreateDeviceProtocol(dptKavren));
    c->SetCustomConMode(CreateConMode(mode));
    return c;
}

void Add(TccnConnectionList& list, TDeviceType type, int32_t number) {
    auto c = Conn(type, number);
    list.AddConnection(*c);
}

TEST(ObjHistoryList, OneObjectPerClassMostRecentFirst) {
    TObjHistoryList h;
    EXPECT_EQ(h.Current(), nullptr);
    h.MakeCurrent(CreateDevice(dtQZ2));
    h.MakeCurrent(CreateDevice(dtQZ2M));
    ASSERT_EQ(h.Count(), 2u);
    EXPECT_EQ(&h.Current()->ClassType(), &TccnQZ2MDev::Class);
    try {
        h.MakeCurrent(CreateDevice(dtQZ2));
        FAIL() << "a second object of a class was accepted";
    } catch (const EccnError& e) {
        EXPECT_STREQ(e.what(), "Список истории уже содержит экземпляр данного класса");
    }
    EXPECT_EQ(h.Count(), 2u);

    TccnPersistent* qz2 = h.Find(TccnQZ2Dev::Class);
    ASSERT_NE(qz2, nullptr);
    // Exact classes: the family grouping is not a class of any object here.
    EXPECT_EQ(h.Find(TccnQZ2FamilyDev::Class), nullptr);
    EXPECT_EQ(h.Take(TccnQZ2Dev::Class), qz2);
    EXPECT_EQ(h.Current(), qz2);
    EXPECT_EQ(&h.Item(1)->ClassType(), &TccnQZ2MDev::Class);
    EXPECT_EQ(h.Take(TccnW8Dev::Class), nullptr);
    EXPECT_EQ(h.Current(), qz2);
}

TEST(DeviceTree, TypeAndNumberNodesFromTheSortedList) {
    TccnConnectionList list;
    Add(list, dtQZ2M, 7);
    Add(list, dtQZ2, 20);
    Add(list, dtQZ2, 3);
    Add(list, dtQZ2, 20); // a second connection of the same meter
    Add(list, dtQZ2M, -1);
    list.SortConnections();
    const auto tree = BuildDeviceTree(list);
    ASSERT_EQ(tree.size(), 2u);
    EXPECT_EQ(tree[0].Text, "Каврен–QZ2");
    EXPECT_EQ(tree[0].Key, (TccnDeviceKey{dtQZ2, -1}));
    ASSERT_EQ(tree[0].Children.size(), 2u);
    EXPECT_EQ(tree[0].Children[0].Text, "3");
    EXPECT_EQ(tree[0].Children[1].Key, (TccnDeviceKey{dtQZ2, 20}));
    // -1 would read as "any number": that connection shows under its type only.
    ASSERT_EQ(tree[1].Children.size(), 1u);
    EXPECT_EQ(tree[1].Children[0].Text, "7");

    EXPECT_EQ(FilterConnections(list, {}).size(), 5u);
    EXPECT_EQ(FilterConnections(list, {dtQZ2, -1}).size(), 3u);
    EXPECT_EQ(FilterConnections(list, {dtQZ2, 20}).size(), 2u);
    EXPECT_EQ(FilterConnections(list, {dtQZ2M, 7}).size(), 1u);
    EXPECT_TRUE(FilterConnections(list, {dtQZ2A, -1}).empty());
}

TEST(DeviceTree, ConnectionWithoutDeviceShowsUnderTheRootOnly) {
    TccnConnectionList list;
    TccnConnection bare;
    list.AddConnection(bare);
    Add(list, dtQZ2, 1);
    list.SortConnections();
    EXPECT_EQ(BuildDeviceTree(list).size(), 1u);
    EXPECT_EQ(FilterConnections(list, {}).size(), 2u);
    EXPECT_EQ(FilterConnections(list, {dtQZ2, -1}).size(), 1u);
}

TEST(NextCurrentRow, AfterTheSelectionOrBeforeItAtTheEnd) {
    struct Case {
        int first, last, count, expected;
    } cases[] = {
        {0, 0, 5, 1},  {1, 2, 5, 3},  {3, 4, 5, 2},  {4, 4, 5, 3},
        {0, 4, 5, -1}, {0, 0, 1, -1}, {2, 1, 5, -1}, {-1, 0, 5, -1},
    };
    for (const Case& c : cases)
        EXPECT_EQ(NextCurrentRow(c.first, c.last, c.count), c.expected)
            << c.first << ".." << c.last << " of " << c.count;
}

TEST(Summaries, ParamLinesSplitAtTheFirstEquals) {
    const auto lines = SplitParamLines({"Адрес: =12", "a=b=c", "plain"});
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0].Name, "Адрес: ");
    EXPECT_EQ(lines[0].Value, "12");
    EXPECT_EQ(lines[1].Value, "b=c");
    EXPECT_EQ(lines[2].Name, "plain");
    EXPECT_EQ(lines[2].Value, "");
}

TEST(Summaries, ByConnectionMode) {
    TccnPhoneModem232ConMode phone;
    phone.ComPortInterface().SetPortName("COM4");
    phone.ComPortInterface().SetBaudrate(9600);
    phone.PhoneModem().SetPhoneNumber("123-45");
    auto s = ConModeSummary(phone);
    ASSERT_EQ(s.Left.size(), 2u);
    EXPECT_EQ(s.Left[0].Name, "Порт: ");
    EXPECT_EQ(s.Left[0].Value, "COM4");
    EXPECT_EQ(s.Left[1].Name, "Ск-ть: ");
    EXPECT_EQ(s.Left[1].Value, "9600");
    ASSERT_EQ(s.Right.size(), 1u);
    EXPECT_EQ(s.Right[0].Name, "Номер: ");
    EXPECT_EQ(s.Right[0].Value, "123-45");
    // A direct line through the modem dials nothing.
    phone.PhoneModem().SetConnectType(pmctDirect);
    EXPECT_TRUE(ConModeSummary(phone).Right.empty());

    TccnRadioModem232ConMode radio;
    radio.RadioModem().SetCallNumber("R7");
    s = ConModeSummary(radio);
    ASSERT_EQ(s.Right.size(), 1u);
    EXPECT_EQ(s.Right[0].Name, "Позывной: ");
    EXPECT_EQ(s.Right[0].Value, "R7");

    TccnDirectTCPIPConMode tcp;
    tcp.TCPIPInterface().SetIpAddress("10.0.0.2");
    tcp.TCPIPInterface().SetIpPort(4001);
    s = ConModeSummary(tcp);
    ASSERT_EQ(s.Left.size(), 2u);
    EXPECT_EQ(s.Left[0].Name, "IP-адрес: ");
    EXPECT_EQ(s.Left[0].Value, "10.0.0.2");
    EXPECT_EQ(s.Left[1].Value, "4001");
    EXPECT_TRUE(s.Right.empty());

    TccnVQOptoAttach232ConMode opto;
    s = ConModeSummary(opto);
    ASSERT_EQ(s.Left.size(), 2u);
    EXPECT_EQ(s.Left[1].Value, "115200");
    EXPECT_TRUE(s.Right.empty());
}

TEST(Speeds, ListsAndTypedValues) {
    EXPECT_EQ(EditableBaudRates().size(), 16u);
    EXPECT_EQ(EditableBaudRates().front(), 100u);
    EXPECT_EQ(EditableBaudRates().back(), 256000u);
    EXPECT_EQ(OptoAttachBaudRates(), (std::vector<uint32_t>{2400, 9600, 19200, 57600, 115200}));
    EXPECT_EQ(FixedBaudRateIndex(OptoAttachBaudRates(), 57600), 3);
    EXPECT_EQ(FixedBaudRateIndex(OptoAttachBaudRates(), 4800), 0);

    uint32_t v = 7;
    EXPECT_TRUE(ParseBaudRate("115200", v));
    EXPECT_EQ(v, 115200u);
    EXPECT_TRUE(ParseBaudRate("4294967295", v));
    EXPECT_EQ(v, 4294967295u);
    v = 7;
    for (const char* bad : {"", "0", "000", "-9600", "96 00", "9600a", "4294967296", "99999999999"})
        EXPECT_FALSE(ParseBaudRate(bad, v)) << bad;
    EXPECT_EQ(v, 7u);
}

TEST(TypedValues, IpAddressNeedsFourDottedParts) {
    for (const char* good : {"192.168.1.10", "0.0.0.0", "255.255.255.255"})
        EXPECT_TRUE(IsValidIpAddress(good)) << good;
    for (const char* bad : {"192.168.1", "10.1", "1.2.3.4.5", "256.1.1.1", "a.b.c.d", "1..2.3",
                            "1.2.3.", " 1.2.3.4", "localhost", ""})
        EXPECT_FALSE(IsValidIpAddress(bad)) << bad;
}

TEST(TypedValues, AddressLength) {
    EXPECT_TRUE(AddressFitsLength(255, 1));
    EXPECT_FALSE(AddressFitsLength(256, 1));
    EXPECT_FALSE(AddressFitsLength(300, 1));
    EXPECT_TRUE(AddressFitsLength(300, 2));
    EXPECT_TRUE(AddressFitsLength(65535, 2));
}

TEST(Allowed, OptionsAndTheDeviceItselfRestrictTheChoice) {
    TccnConnectionListUIOptions o;
    EXPECT_TRUE(AllowedDeviceTypes(o).empty());
    o.DeviceTypeOptions().AddDeviceTypeOptions(dtQZ2M, SetBit(dptKavren) | SetBit(dptIEC101),
                                               SetBit(cmtDirectTCPIP) | SetBit(cmtDirect232));
    o.DeviceTypeOptions().AddDeviceTypeOptions(dtQZ2, SetBit(dptKavren) | SetBit(dptIEC101), 1);
    EXPECT_EQ(AllowedDeviceTypes(o), (std::vector<TDeviceType>{dtQZ2, dtQZ2M}));
    // QZ2M speaks the family protocol only, whatever the options allow.
    EXPECT_EQ(AllowedProtocolTypes(o, dtQZ2M), (std::vector<TDeviceProtocolType>{dptKavren}));
    EXPECT_EQ(AllowedProtocolTypes(o, dtQZ2),
              (std::vector<TDeviceProtocolType>{dptKavren, dptIEC101}));
    EXPECT_EQ(AllowedConModeTypes(o, dtQZ2M),
              (std::vector<TConModeType>{cmtDirect232, cmtDirectTCPIP}));
    EXPECT_TRUE(AllowedProtocolTypes(o, dtW8).empty());
    EXPECT_TRUE(AllowedConModeTypes(o, dtW8).empty());
}

TEST(ComPorts, ListSortedByNumberAndNullTargetRefused) {
    SetComPortLister([] {
        return std::vector<TComPortInfo>{
            {33, "COM33", "/dev/ttyUSB0"}, {2, "COM2", "/dev/ttyS1"}, {10, "COM10", "/dev/ttyS9"}};
    });
    std::vector<TComPortInfo> ports;
    FillCOMPortList(&ports);
    SetComPortLister(nullptr);
    ASSERT_EQ(ports.size(), 3u);
    EXPECT_EQ(ports[0].Name, "COM2");
    EXPECT_EQ(ports[1].Name, "COM10");
    EXPECT_EQ(ports[2].Name, "COM33");
    try {
        FillCOMPortList(nullptr);
        FAIL();
    } catch (const EccnError& e) {
        EXPECT_STREQ(e.what(), "FillCOMPortList: параметр COMPortList не может быть nil");
    }
}

} // namespace
} // namespace qz
