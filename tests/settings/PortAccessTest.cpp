// The hint beside an exchange error on a serial port the account may not open.
#include "settings/cmnPortAccess.h"

#include "TestEnv.h"
#include "connection/CcnConnectionList.h"

#include <cerrno>
#include <gtest/gtest.h>

namespace {

using namespace qz;

std::unique_ptr<TccnConnection> Connection(TConModeType mode, const std::string& port) {
    auto c = std::make_unique<TccnConnection>();
    c->SetCustomDevice(CreateDevice(dtQZ2));
    c->SetCustomDeviceProtocol(CreateDeviceProtocol(dptKavren));
    auto m = CreateConMode(mode);
    if (auto* p = dynamic_cast<TccnComPortInterface*>(m->CustomCommInterface()))
        p->SetPortName(port);
    c->SetCustomConMode(std::move(m));
    return c;
}

class PortAccess : public ::testing::Test {
protected:
    void SetUp() override {
        env_.Set("HOME", home_.Path().c_str());
        env_.Set("XDG_DATA_HOME", (home_ / "data").c_str()); // no port links
    }
    test::TempDir home_;
    test::EnvGuard env_;
};

TEST_F(PortAccess, AnAccountOutsideTheGroupIsToldTheDeviceAndTheCure) {
    auto com3 = Connection(cmtDirect232, "COM3");
    std::string asked;
    auto denied = [&asked](const std::string& device) {
        asked = device;
        return TDeviceAccess{EACCES, "uucp"};
    };
    for (int32_t code : {10, 11, 203}) {
        const std::string t = PortAccessDetail(code, com3.get(), denied);
        EXPECT_EQ(asked, "/dev/ttyS2");
        EXPECT_NE(t.find("/dev/ttyS2"), std::string::npos) << t;
        EXPECT_NE(t.find("группу uucp"), std::string::npos) << t;
        EXPECT_NE(t.find("usermod -aG uucp"), std::string::npos) << t;
    }
    // The group is unknown: the usual one.
    auto noGroup = [](const std::string&) { return TDeviceAccess{EPERM, ""}; };
    EXPECT_NE(PortAccessDetail(10, com3.get(), noGroup).find("группу dialout"), std::string::npos);
    // A modem on a port is a port too.
    auto modem = Connection(cmtPhoneModem232, "COM40");
    EXPECT_NE(PortAccessDetail(10, modem.get(), denied).find("/dev/ttyUSB7"), std::string::npos);
}

TEST_F(PortAccess, NothingIsAddedWhereThereIsNothingToSay) {
    auto com3 = Connection(cmtDirect232, "COM3");
    int checks = 0;
    auto denied = [&checks](const std::string&) {
        ++checks;
        return TDeviceAccess{EACCES, "dialout"};
    };
    EXPECT_EQ(PortAccessDetail(202, com3.get(), denied), ""); // another failure
    EXPECT_EQ(PortAccessDetail(0, com3.get(), denied), "");
    EXPECT_EQ(PortAccessDetail(10, nullptr, denied), "");
    auto tcp = Connection(cmtDirectTCPIP, "");
    EXPECT_EQ(PortAccessDetail(10, tcp.get(), denied), "");
    auto bad = Connection(cmtDirect232, "LPT1");
    EXPECT_EQ(PortAccessDetail(10, bad.get(), denied), "");
    EXPECT_EQ(checks, 0);
    auto fine = [](const std::string&) { return TDeviceAccess{0, "dialout"}; };
    EXPECT_EQ(PortAccessDetail(10, com3.get(), fine), "");
    auto gone = [](const std::string&) { return TDeviceAccess{ENOENT, ""}; };
    EXPECT_EQ(PortAccessDetail(11, com3.get(), gone), "Устройство /dev/ttyS2 не найдено.");
}

TEST(DeviceAccess, TheRealCheck) {
    EXPECT_EQ(CheckDeviceAccess("/nonexistent/ttyS0").Errno, ENOENT);
    const TDeviceAccess null = CheckDeviceAccess("/dev/null");
    EXPECT_EQ(null.Errno, 0);
    EXPECT_FALSE(null.Group.empty());
}

} // namespace
