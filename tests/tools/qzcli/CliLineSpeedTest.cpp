// qzcli on a COM port at every line speed the connection dialog offers, against the simulated
// meter on a pseudo-terminal, and a speed no port could run at.
#include "channel/PCAType.h"
#include "connection/ui/CcnConnectionListLogic.h"
#include "simulator/MeterSimulator.h"
#include "tests/support/ChannelGuards.h"
#include "tests/tools/qzcli/CliTestSupport.h"
#include "tools/qzcli/CliRun.h"

#include <gtest/gtest.h>
#include <sstream>

using namespace qz;
using namespace qz::clitest;

TEST(QzcliLineSpeed, PollsAtEverySpeedTheDialogOffers) {
    test::TNoSleep noSleep;
    TempDir dir;
    TSimOptions so;
    so.ModelIndex = 1;
    so.PtyLink = dir.Path() + "/meter";
    TMeterSimulator sim(so);
    std::string error;
    ASSERT_TRUE(sim.Start(&error)) << error;
    ComOverride com(dir.Path(), 9, sim.PtyPath());

    const std::vector<uint32_t>& speeds = EditableBaudRates();
    ASSERT_GE(speeds.size(), 10u);
    for (uint32_t baud : speeds) {
        SCOPED_TRACE(baud);
        std::string e;
        TCliOptions o;
        ASSERT_TRUE(ParseCliArgs({"poll", "--com", "COM9", "--baud", std::to_string(baud),
                                  "--model", "qz2m", "--factory", "1", "--count", "1", "--json"},
                                 o, e))
            << e;
        std::ostringstream out, err;
        ASSERT_EQ(RunPoll(o, out, err, -1), 0) << err.str();
        EXPECT_EQ(Lines(out.str()).size(), 1u) << out.str();
    }
    const uint64_t answered = sim.RequestCount();
    EXPECT_GE(answered, 4 * speeds.size()) << "time, settings, scales and a record each time";
}
