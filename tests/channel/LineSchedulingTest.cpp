// Which logical channel a shared line serves next: priorities, the cyclic order after the
// channel that connected the line, the hold of the line and the priority lock.
#include "channel/LCAThread.h"

#include <gtest/gtest.h>

using namespace qz;

namespace {

class Line : public ::testing::Test {
protected:
    TLCAPerform* Add(uint8_t priority) {
        TLCAParams p;
        p.Priority = priority;
        line.Channels.push_back(std::make_unique<TLCAPerform>(p));
        TLCAPerform* c = line.Channels.back().get();
        c->Line = &line;
        c->Id = int32_t(line.Channels.size());
        return c;
    }
    void Wait(TLCAPerform* c) {
        c->Command = std::make_unique<TLCACommand>();
        c->Command->State = TLCACommand::stWaiting;
    }
    TPhysicoLine line{nullptr, 1};
};

} // namespace

TEST_F(Line, TiesGoInCyclicOrderAfterTheConnectedChannel) {
    TLCAPerform* a = Add(1);
    TLCAPerform* b = Add(1);
    TLCAPerform* c = Add(1);
    line.ConnectedChannel = a;
    Wait(b);
    Wait(c);
    EXPECT_EQ(line.SelectNext(), b);
    // b ran and released; it has a new task while c still waits: the scan still starts
    // after a, so b comes first again.
    b->Command.reset();
    Wait(b);
    EXPECT_EQ(line.SelectNext(), b);
    b->Command.reset();
    EXPECT_EQ(line.SelectNext(), c);
    // Nobody waits: the line stays with the connected channel.
    c->Command.reset();
    EXPECT_EQ(line.SelectNext(), a);
    // The connected channel's own task is served only when nobody else waits.
    Wait(a);
    Wait(c);
    EXPECT_EQ(line.SelectNext(), c);
}

TEST_F(Line, ScanWrapsAroundFromTheConnectedChannel) {
    TLCAPerform* a = Add(1);
    TLCAPerform* b = Add(1);
    TLCAPerform* c = Add(1);
    line.ConnectedChannel = c;
    Wait(a);
    Wait(b);
    EXPECT_EQ(line.SelectNext(), a);
}

TEST_F(Line, HigherPriorityWinsButNotAgainstTheHolder) {
    TLCAPerform* low = Add(1);
    TLCAPerform* high = Add(5);
    TLCAPerform* mid = Add(3);
    line.ConnectedChannel = low;
    Wait(mid);
    Wait(high);
    EXPECT_EQ(line.SelectNext(), high);
    // The holder's next task runs before any waiting channel, whatever its priority.
    line.HoldingChannel = low;
    Wait(low);
    EXPECT_EQ(line.SelectNext(), low);
}

TEST_F(Line, PriorityLockKeepsTheLineForTheConnectedChannel) {
    TLCAPerform* r = Add(3);
    TLCAPerform* same = Add(3);
    TLCAPerform* lower = Add(1);
    TLCAPerform* higher = Add(4);
    line.ConnectedChannel = r;
    r->PriorityLock = true;
    Wait(same);
    Wait(lower);
    EXPECT_EQ(line.SelectNext(), r); // reserved for r even without a task
    Wait(higher);
    EXPECT_EQ(line.SelectNext(), higher); // only a strictly higher priority takes it
    r->PriorityLock = false;
    higher->Command.reset();
    EXPECT_EQ(line.SelectNext(), same);
}

TEST_F(Line, NoChannelsAndRunningTasksAreNotCandidates) {
    EXPECT_EQ(line.SelectNext(), nullptr);
    TLCAPerform* a = Add(1);
    TLCAPerform* b = Add(2);
    Wait(b);
    b->Command->State = TLCACommand::stReading; // running elsewhere: not waiting
    EXPECT_EQ(line.SelectNext(), nullptr);
    Wait(a);
    EXPECT_EQ(line.SelectNext(), a);
}
