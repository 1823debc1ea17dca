#include "tests/chanparam/ChanParamLibrary.h"

#include <cstring>

namespace qz::test {
namespace {

using ChanelList = ChanParamTest;

class DeviceChanels : public ChanParamTest {
protected:
    void SetUp() override {
        ChanParamTest::SetUp();
        if (HasFatalFailure()) return;
        head = NewDeviceList();
        ASSERT_NE(head, nullptr);
    }

    uint32_t ChanelCount() {
        uint32_t count = 0xEEEEEEEE;
        cp.GetParamValue(cp.FindParam(head, "ChanelCount"), &count);
        return count;
    }

    TChanelRecord* Chanels() {
        TChanelRecord* first = nullptr;
        cp.GetParamValue(cp.FindParam(head, "Chanels"), &first);
        return first;
    }

    TParamRecord* head = nullptr;
};

TEST_F(DeviceChanels, NoChanelsAtFirst) {
    EXPECT_EQ(cp.FindChanel(head, 0), nullptr);
    EXPECT_EQ(cp.FindChanel(head, 1), nullptr);
    EXPECT_EQ(ChanelCount(), 0u);
    EXPECT_EQ(Chanels(), nullptr);
}

TEST_F(DeviceChanels, AddChanelAppendsInOrderAndKeepsDuplicates) {
    TChanelRecord* first = cp.AddChanel(head, 5);
    TChanelRecord* second = cp.AddChanel(head, 0xFFFF);
    TChanelRecord* again = cp.AddChanel(head, 5);
    ASSERT_TRUE(first && second && again);
    EXPECT_NE(first, again);
    EXPECT_EQ(Chanels(), first);
    EXPECT_EQ(first->Next, second);
    EXPECT_EQ(second->Next, again);
    EXPECT_EQ(again->Next, nullptr);
    EXPECT_EQ(second->Number, 0xFFFF);
    EXPECT_EQ(ChanelCount(), 3u);
    EXPECT_EQ(cp.FindChanel(head, 5), first);
    EXPECT_EQ(cp.FindChanel(head, 0xFFFF), second);
    EXPECT_EQ(cp.FindChanel(head, 6), nullptr);
}

TEST_F(DeviceChanels, CallersBytesStartZeroAndStayTheCallers) {
    TChanelRecord* c = cp.AddChanel(head, 3);
    ASSERT_NE(c, nullptr);
    for (unsigned char byte : c->UserHead)
        ASSERT_EQ(byte, 0);
    for (unsigned char byte : c->UserData)
        ASSERT_EQ(byte, 0);
    std::memset(c->UserHead, 0xAB, sizeof(c->UserHead));
    std::memset(c->UserData, 0xCD, sizeof(c->UserData));
    TChanelRecord* next = cp.AddChanel(head, 4);
    ASSERT_NE(next, nullptr);
    EXPECT_EQ(cp.FindChanel(head, 4), next);
    EXPECT_EQ(c->Next, next);
    EXPECT_EQ(c->Number, 3);
    EXPECT_EQ(c->UserHead[13], 0xAB);
    EXPECT_EQ(c->UserData[sizeof(c->UserData) - 1], 0xCD);
}

TEST_F(DeviceChanels, DeleteChanelArrayTwiceIsHarmless) {
    TChanelRecord* a = cp.AddChanel(head, 1);
    TChanelRecord* b = cp.AddChanel(head, 2);
    ASSERT_TRUE(a && b);
    EXPECT_EQ(cp.DeleteChanelArray(head), 0);
    const bool mapped = IsMapped(a) || IsMapped(b);
    EXPECT_FALSE(mapped) << "channel records not given back";
    EXPECT_EQ(cp.DeleteChanelArray(head), 0);
    EXPECT_EQ(ChanelCount(), 0u);
    EXPECT_EQ(Chanels(), nullptr);
    EXPECT_EQ(cp.FindChanel(head, 1), nullptr);

    TChanelRecord* c = cp.AddChanel(head, 7);
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(Chanels(), c);
    EXPECT_EQ(ChanelCount(), 1u);
}

TEST_F(DeviceChanels, ResetCountDoesNotLoseChanels) {
    TChanelRecord* a = cp.AddChanel(head, 1);
    TChanelRecord* b = cp.AddChanel(head, 2);
    ASSERT_TRUE(a && b);
    const uint32_t zero = 0;
    cp.SetParamValue(cp.FindParam(head, "ChanelCount"), &zero);

    TChanelRecord* c = cp.AddChanel(head, 3);
    EXPECT_EQ(b->Next, c);
    EXPECT_EQ(cp.FindChanel(head, 1), a);
    EXPECT_EQ(ChanelCount(), 3u);

    cp.SetParamValue(cp.FindParam(head, "ChanelCount"), &zero);
    EXPECT_EQ(cp.DeleteChanelArray(head), 0);
    const bool mapped = IsMapped(a) || IsMapped(b) || IsMapped(c);
    EXPECT_FALSE(mapped) << "channels behind a zero count were not freed";
    EXPECT_EQ(Chanels(), nullptr);
}

TEST_F(ChanelList, ListWithoutChanelParametersHasNoChanels) {
    TParamRecord* head = NewList();
    ASSERT_NE(head, nullptr);
    EXPECT_EQ(cp.AddChanel(head, 1), nullptr);
    EXPECT_EQ(cp.FindChanel(head, 1), nullptr);
    EXPECT_EQ(cp.DeleteChanelArray(head), 0);

    // Parameters of the right names but other types are not taken for the channel list.
    cp.AddParam(head, "ChanelCount", "", 4);
    cp.AddParam(head, "Chanels", "", CHANPARAM_TYPE_STRING);
    EXPECT_EQ(cp.AddChanel(head, 1), nullptr);
    EXPECT_EQ(cp.FindChanel(head, 1), nullptr);
    EXPECT_EQ(CountOf(head), 2);
    // Nor is a parameter from the middle of a list taken for a head.
    EXPECT_EQ(cp.AddChanel(head->Next, 1), nullptr);
    EXPECT_EQ(cp.DeleteChanelArray(head->Next), -1);
    EXPECT_EQ(cp.DeleteChanelArray(nullptr), -1);
}

} // namespace
} // namespace qz::test
