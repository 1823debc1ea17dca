#include "sigcalc/sigcalc.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <thread>

using namespace qz;

namespace {

struct ExperimentFixture : ::testing::Test {
    TSigExperiment* exp = nullptr;
    void SetUp() override { ASSERT_EQ(ExpCreate(&exp, "", 1), sigOk); }
    void TearDown() override { ExpDestroy(&exp); }
    TSigChannel* Add(const char* name, int32_t number, uint32_t colour = 0) {
        return ExpAddChanel(exp, 0, 0, name, 1, "QZ", 1, number, colour);
    }
};

} // namespace

TEST_F(ExperimentFixture, ChannelsKeepOrderNameNumberAndColour) {
    EXPECT_EQ(exp->ChannelCount(), 0);
    EXPECT_EQ(exp->SizeCode.load(), 2);
    TSigChannel* un = Add(" Un", 1, 0xFFB071);
    TSigChannel* ua = Add(" Uа", 2, 0x00FFFF);
    TSigChannel* again = Add("again", 2);
    ASSERT_NE(un, nullptr);
    ASSERT_NE(ua, nullptr);
    ASSERT_EQ(exp->ChannelCount(), 3);
    EXPECT_EQ(exp->Channels[0], un);
    EXPECT_EQ(exp->Channels[1], ua);
    EXPECT_EQ(exp->Channels[2], again);
    EXPECT_EQ(ua->Name, " Uа");
    EXPECT_EQ(ua->Group, "QZ");
    EXPECT_EQ(ua->Number, 2);
    EXPECT_EQ(ua->Colour, 0x00FFFFu);
    EXPECT_EQ(exp->FindChannel(2), ua) << "the first of equal numbers";
    EXPECT_EQ(exp->FindChannel(7), nullptr);
}

TEST_F(ExperimentFixture, LongNamesAreCutToSixtyFourCharactersNotBytes) {
    std::string cyr;
    for (int i = 0; i < 70; ++i)
        cyr += "ж"; // two bytes each
    TSigChannel* c = Add(cyr.c_str(), 1);
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(c->Name.size(), 2 * kSigNameMaxChars);
    EXPECT_EQ(c->Name, cyr.substr(0, 2 * kSigNameMaxChars));
}

TEST_F(ExperimentFixture, SetGetAndSampleCounts) {
    TSigChannel* a = Add("a", 1);
    TSigChannel* b = Add("b", 2);
    ASSERT_EQ(ChanelSett(a, 0, 32768 + 100, 0), sigOk);
    ASSERT_EQ(ChanelSett(a, 1, 32768 - 100, 1), sigOk);
    ASSERT_EQ(ChanelSett(b, 4, 7, 0), sigOk);
    EXPECT_EQ(a->SampleCount(), 2u);
    EXPECT_EQ(b->SampleCount(), 5u);
    EXPECT_EQ(ExpGetQuantCount(exp), 5u);

    uint8_t flag = 9;
    char text[kSigLabelBufferSize];
    EXPECT_EQ(ChanelGet(a, 0, text, sizeof text, &flag), 32868);
    EXPECT_EQ(flag, 0);
    EXPECT_EQ(ChanelGet(a, 1, text, sizeof text, &flag), 32668);
    EXPECT_EQ(flag, 1);
    // Samples skipped over read as zero.
    EXPECT_EQ(ChanelGet(b, 2, nullptr, 0, nullptr), kSigZero);
    EXPECT_EQ(ChanelGet(b, 4, nullptr, 0, nullptr), 7);
    // Values outside 16 bits are clamped.
    ChanelSett(a, 0, -5, 0);
    ChanelSett(a, 1, 70000, 0);
    EXPECT_EQ(ChanelGet(a, 0, nullptr, 0, nullptr), 0);
    EXPECT_EQ(ChanelGet(a, 1, nullptr, 0, nullptr), 65535);
}

TEST_F(ExperimentFixture, ClearRemovesSamplesAndShrinksTheExperimentCount) {
    TSigChannel* a = Add("a", 1);
    TSigChannel* b = Add("b", 2);
    ChanelSett(a, 9, 1, 1);
    ChanelSett(b, 2, 1, 0);
    ASSERT_EQ(exp->QuantCount, 10u);
    ASSERT_EQ(ChanelClear(a), sigOk);
    EXPECT_EQ(a->SampleCount(), 0u);
    EXPECT_EQ(exp->QuantCount, 3u);
    uint8_t flag = 5;
    EXPECT_EQ(ChanelGet(a, 9, nullptr, 0, &flag), kSigZero);
    EXPECT_EQ(flag, 0);
    ChanelClear(b);
    EXPECT_EQ(ExpGetQuantCount(exp), 0u);
}

TEST_F(ExperimentFixture, MarkLabelsAreCutToTheBuffer) {
    TSigChannel* m = Add("m", 12);
    m->Mark = true;
    ChanelSett(m, 0, 40000, 0);
    ASSERT_EQ(ChanelSetLabel(m, 0, "пуск"), sigOk);
    char text[kSigLabelBufferSize];
    ChanelGet(m, 0, text, sizeof text, nullptr);
    EXPECT_STREQ(text, "пуск");
    char small[4];
    ChanelGet(m, 0, small, sizeof small, nullptr);
    EXPECT_EQ(std::strlen(small), 3u);
    // A label longer than the buffer is cut before the character that does not fit.
    std::string longLabel = "x" + std::string(50, ' ');
    for (int i = 0; i < 30; ++i)
        longLabel += "ж";
    ChanelSetLabel(m, 0, longLabel.c_str());
    ChanelGet(m, 0, text, sizeof text, nullptr);
    EXPECT_EQ(std::string(text), longLabel.substr(0, 99));
    // A sample without a label gives an empty text, also over an old buffer content.
    ChanelSett(m, 1, 40000, 0);
    std::strcpy(text, "old");
    ChanelGet(m, 1, text, sizeof text, nullptr);
    EXPECT_STREQ(text, "");
}

TEST_F(ExperimentFixture, BadIndicesAndMissingArgumentsAreRefused) {
    TSigChannel* a = Add("a", 1);
    EXPECT_EQ(ChanelSett(a, kSigMaxSamples, 1, 0), sigBadIndex);
    EXPECT_EQ(ChanelSett(a, 0xFFFFFFFFu, 1, 0), sigBadIndex);
    EXPECT_EQ(a->SampleCount(), 0u);
    EXPECT_EQ(ChanelSett(nullptr, 0, 1, 0), sigBadArgument);
    EXPECT_EQ(ChanelClear(nullptr), sigBadArgument);
    EXPECT_EQ(ChanelSetLabel(a, 0, nullptr), sigBadArgument);
    EXPECT_EQ(ChanelSetLabel(a, kSigMaxSamples, "x"), sigBadIndex);
    uint8_t flag = 3;
    char text[8] = "abc";
    EXPECT_EQ(ChanelGet(nullptr, 0, text, sizeof text, &flag), kSigZero);
    EXPECT_EQ(flag, 0);
    EXPECT_STREQ(text, "");
    EXPECT_EQ(ChanelGet(a, 100, nullptr, 0, nullptr), kSigZero);
    EXPECT_EQ(ExpAddChanel(nullptr, 0, 0, "x", 1, "QZ", 1, 1, 0), nullptr);
    EXPECT_EQ(ExpAddChanel(exp, 0, 0, nullptr, 1, nullptr, 1, 3, 0)->Name, "");
    EXPECT_EQ(ExpGetQuantCount(nullptr), 0u);
    EXPECT_EQ(ExpCreate(nullptr, "", 1), sigBadArgument);
    EXPECT_EQ(ExpDestroy(nullptr), sigBadArgument);
}

TEST(SigcalcLifecycle, DestroySetsThePointerToNoneAndIsRepeatable) {
    TSigExperiment* exp = nullptr;
    ASSERT_EQ(ExpCreate(&exp, "Осциллограмма", 1), sigOk);
    ASSERT_NE(exp, nullptr);
    EXPECT_EQ(exp->Caption, "Осциллограмма");
    ExpAddChanel(exp, 0, 0, "a", 1, "QZ", 1, 1, 0);
    EXPECT_EQ(ExpDestroy(&exp), sigOk);
    EXPECT_EQ(exp, nullptr);
    EXPECT_EQ(ExpDestroy(&exp), sigOk);
}

// The waveform thread reads the mask and the code while the window changes them: every
// read must see a value the window wrote, never a torn one (and ThreadSanitizer stays quiet).
TEST(SigcalcThreads, MaskAndCodeMayBeReadFromAnotherThread) {
    TSigExperiment* exp = nullptr;
    ASSERT_EQ(ExpCreate(&exp, "", 1), sigOk);
    exp->ChannelMask = 0x3F;
    std::atomic<bool> stop{false};
    long reads = 0, bad = 0;
    std::thread reader([&] {
        do {
            uint8_t mask = exp->ChannelMask.load();
            uint8_t code = exp->SizeCode.load();
            if ((mask != 0x3F && mask != 0xFF) || code < 1 || code > 5) ++bad;
            ++reads;
        } while (!stop.load());
    });
    for (int i = 0; i < 2000; ++i) {
        exp->ChannelMask = i % 2 ? 0xFF : 0x3F;
        exp->SizeCode = static_cast<uint8_t>(1 + i % 5);
    }
    stop = true;
    reader.join();
    EXPECT_GT(reads, 0);
    EXPECT_EQ(bad, 0);
    ExpDestroy(&exp);
}
