#include "platform/ComPorts.h"
#include "tests/support/EnvGuard.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>

namespace qz {
namespace {

namespace fs = std::filesystem;

// A private XDG_DATA_HOME for one test.
class PortFolder : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(dir_.Path().empty());
        root_ = dir_.Path();
        env_.Set("XDG_DATA_HOME", root_.c_str());
        fs::create_directories(root_ + "/VQ/ports");
    }
    test::TempDir dir_;
    test::EnvGuard env_;
    std::string root_;
};

TEST(ComPorts, PortNumbers) {
    EXPECT_EQ(ComPortNumber("COM1"), 1);
    EXPECT_EQ(ComPortNumber("com12"), 12);
    EXPECT_EQ(ComPortNumber("COM255"), 255);
    EXPECT_EQ(ComPortNumber("COM256"), 0);
    EXPECT_EQ(ComPortNumber("COM0"), 0);
    EXPECT_EQ(ComPortNumber("COM01"), 0);
    EXPECT_EQ(ComPortNumber("COM"), 0);
    EXPECT_EQ(ComPortNumber("COM-1"), 0);
    EXPECT_EQ(ComPortNumber("COM1a"), 0);
    EXPECT_EQ(ComPortNumber("LPT1"), 0);
    EXPECT_EQ(ComPortNumber("COM1234"), 0);
    EXPECT_EQ(ComPortNumber(std::string("COM1\0", 5)), 0);
}

TEST_F(PortFolder, DefaultRangesDoNotShift) {
    EXPECT_EQ(ResolveComPort("COM1"), "/dev/ttyS0");
    EXPECT_EQ(ResolveComPort("COM32"), "/dev/ttyS31");
    EXPECT_EQ(ResolveComPort("COM33"), "/dev/ttyUSB0");
    EXPECT_EQ(ResolveComPort("COM64"), "/dev/ttyUSB31");
    EXPECT_EQ(ResolveComPort("COM65"), "/dev/ttyACM0");
    EXPECT_EQ(ResolveComPort("COM96"), "/dev/ttyACM31");
    EXPECT_EQ(ResolveComPort("COM97"), "");
    EXPECT_EQ(ResolveComPort("bogus"), "");
}

TEST_F(PortFolder, LinkOverridesTheDefault) {
    std::string target = root_ + "/device";
    std::ofstream(target) << "";
    ASSERT_EQ(symlink(target.c_str(), (root_ + "/VQ/ports/com3").c_str()), 0);
    ASSERT_EQ(symlink(target.c_str(), (root_ + "/VQ/ports/com120").c_str()), 0);
    EXPECT_EQ(ComPortLinkFolder(), root_ + "/VQ/ports");
    EXPECT_EQ(ResolveComPort("COM3"), root_ + "/VQ/ports/com3");
    EXPECT_EQ(ResolveComPort("COM120"), root_ + "/VQ/ports/com120");
    EXPECT_EQ(ResolveComPort("COM4"), "/dev/ttyS3");
}

TEST_F(PortFolder, ListShowsExistingDevicesSortedWithTheirPaths) {
    std::string target = root_ + "/device";
    std::ofstream(target) << "";
    ASSERT_EQ(symlink(target.c_str(), (root_ + "/VQ/ports/com150").c_str()), 0);
    ASSERT_EQ(symlink(target.c_str(), (root_ + "/VQ/ports/com2").c_str()), 0);
    ASSERT_EQ(symlink((root_ + "/gone").c_str(), (root_ + "/VQ/ports/com7").c_str()), 0);
    auto ports = ListComPorts();
    bool saw2 = false, saw150 = false;
    for (size_t i = 0; i < ports.size(); ++i) {
        if (i > 0) {
            EXPECT_LT(ports[i - 1].Number, ports[i].Number);
        }
        EXPECT_EQ(ports[i].Name, "COM" + std::to_string(ports[i].Number));
        EXPECT_TRUE(fs::exists(ports[i].Device)) << ports[i].Device;
        EXPECT_NE(ports[i].Number, 7) << "a dangling link names no device";
        if (ports[i].Number == 2) {
            saw2 = true;
            EXPECT_EQ(ports[i].Device, root_ + "/VQ/ports/com2");
        }
        if (ports[i].Number == 150) saw150 = true;
    }
    EXPECT_TRUE(saw2);
    EXPECT_TRUE(saw150);
}

} // namespace
} // namespace qz
