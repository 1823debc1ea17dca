#include "tests/chanparam/ChanParamLibrary.h"

#include <cstring>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace qz::test {
namespace {

using ParamList = ChanParamTest;

bool AllZero(const void* data, std::size_t size) {
    const auto* bytes = static_cast<const unsigned char*>(data);
    for (std::size_t i = 0; i < size; ++i) {
        if (bytes[i] != 0) return false;
    }
    return true;
}

std::string ValueText(const TParamRecord* p) {
    return std::string(reinterpret_cast<const char*>(p->Value));
}

TEST_F(ParamList, NewListIsJustTheHead) {
    TParamRecord* head = NewList();
    ASSERT_NE(head, nullptr);
    EXPECT_EQ(head->Index, 1);
    EXPECT_EQ(head->Type, 0);
    EXPECT_EQ(head->Flag, 1);
    EXPECT_STREQ(head->Name, "ParamCount");
    EXPECT_EQ(head->Next, nullptr);
    EXPECT_TRUE(AllZero(&head->Reserved4, 2) && AllZero(&head->Reserved6, 2) &&
                AllZero(&head->Reserved10, 2) && AllZero(head->Reserved12, 4));
    EXPECT_TRUE(AllZero(head->Name + 10, sizeof(head->Name) - 10));
    EXPECT_TRUE(AllZero(head->Comment, sizeof(head->Comment)));
    EXPECT_EQ(CountOf(head), 0);
}

TEST_F(ParamList, DeviceListStartsWithItsThreeFixedParameters) {
    TParamRecord* head = NewDeviceList();
    ASSERT_NE(head, nullptr);
    EXPECT_EQ(CountOf(head), 3);
    struct Fixed {
        const char* name;
        int16_t type;
        const char* comment;
    } const fixed[] = {{"ChanelCount", 4, "Количество каналов"},
                       {"Chanels", 7, "Указатель на список каналов"},
                       {"DLL", 6, "Имя библиотеки"}};
    const TParamRecord* p = head->Next;
    for (int i = 0; i < 3; ++i, p = p->Next) {
        ASSERT_NE(p, nullptr);
        EXPECT_STREQ(p->Name, fixed[i].name);
        EXPECT_EQ(p->Type, fixed[i].type);
        EXPECT_STREQ(p->Comment, fixed[i].comment);
        EXPECT_EQ(p->Flag, 1);
        EXPECT_EQ(p->Index, i + 1);
        EXPECT_TRUE(AllZero(p->Value, sizeof(p->Value))) << p->Name;
    }
    EXPECT_EQ(p, nullptr);
}

TEST_F(ParamList, AddParamAppendsWithRunningIndex) {
    TParamRecord* head = NewList();
    TParamRecord* a = cp.AddParam(head, "Speed", "Скорость", 4);
    TParamRecord* b = cp.AddParam(head, "Port", nullptr, 6);
    ASSERT_TRUE(a && b);
    EXPECT_EQ(head->Next, a);
    EXPECT_EQ(a->Next, b);
    EXPECT_EQ(b->Next, nullptr);
    EXPECT_EQ(a->Index, 1);
    EXPECT_EQ(b->Index, 2);
    EXPECT_EQ(a->Type, 4);
    EXPECT_EQ(b->Type, 6);
    EXPECT_EQ(a->Flag, 0);
    EXPECT_STREQ(a->Comment, "Скорость");
    EXPECT_STREQ(b->Comment, "");
    EXPECT_EQ(CountOf(head), 2);
    EXPECT_EQ(cp.FindParam(head, "Port"), b);
}

TEST_F(ParamList, ExistingNameReturnsTheRecordUnchanged) {
    TParamRecord* head = NewList();
    TParamRecord* first = cp.AddParam(head, "Speed", "first", 4);
    ASSERT_NE(first, nullptr);
    const int32_t speed = 9600;
    cp.SetParamValue(first, &speed);

    EXPECT_EQ(cp.AddParam(head, "Speed", "second", 6), first);
    EXPECT_EQ(first->Type, 4);
    EXPECT_STREQ(first->Comment, "first");
    int32_t read = 0;
    cp.GetParamValue(first, &read);
    EXPECT_EQ(read, speed);
    EXPECT_EQ(CountOf(head), 1);
    EXPECT_EQ(cp.AddParam(head, "ParamCount", "", 6), head);
    EXPECT_EQ(head->Type, 0);
}

TEST_F(ParamList, NamesUpTo31BytesOnly) {
    TParamRecord* head = NewList();
    const std::string name31(31, 'n');
    TParamRecord* p = cp.AddParam(head, name31.c_str(), "", 4);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(std::string(p->Name), name31);
    EXPECT_EQ(cp.AddParam(head, std::string(32, 'm').c_str(), "", 4), nullptr);
    EXPECT_EQ(cp.AddParam(head, std::string(200, 'k').c_str(), "", 4), nullptr);
    // A refused long name whose first 31 bytes match must not find the stored one either.
    EXPECT_EQ(cp.AddParam(head, (name31 + "x").c_str(), "", 4), nullptr);
    EXPECT_EQ(cp.FindParam(head, (name31 + "x").c_str()), nullptr);
    EXPECT_EQ(CountOf(head), 1);
}

TEST_F(ParamList, FindParamIsExactAndSearchesOnward) {
    TParamRecord* head = NewList();
    TParamRecord* abc = cp.AddParam(head, "Abc", "", 0);
    TParamRecord* ab = cp.AddParam(head, "Ab", "", 0);
    EXPECT_EQ(cp.FindParam(head, "Abc"), abc);
    EXPECT_EQ(cp.FindParam(head, "Ab"), ab);
    EXPECT_EQ(cp.FindParam(head, "abc"), nullptr);
    EXPECT_EQ(cp.FindParam(head, "A"), nullptr);
    EXPECT_EQ(cp.FindParam(ab, "Abc"), nullptr);
    EXPECT_EQ(cp.FindParam(abc, "ParamCount"), nullptr);
}

TEST_F(ParamList, CommentsAreCutTo99BytesWithoutSplittingACharacter) {
    TParamRecord* head = NewList();
    TParamRecord* p = cp.AddParam(head, "P", std::string(100, 'c').c_str(), 0);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(std::string(p->Comment), std::string(99, 'c'));
    EXPECT_EQ(p->Comment[99], '\0');

    EXPECT_EQ(cp.SetParamComment(p, "short"), 0);
    EXPECT_STREQ(p->Comment, "short");
    EXPECT_TRUE(AllZero(p->Comment + 5, sizeof(p->Comment) - 5)) << "old text left behind";

    // "Ж" is two bytes: starting at byte 98 it would not fit whole and is dropped.
    cp.SetParamComment(p, (std::string(98, 'a') + "Ж").c_str());
    EXPECT_EQ(std::string(p->Comment), std::string(98, 'a'));
    cp.SetParamComment(p, (std::string(97, 'a') + "ЖЖ").c_str());
    EXPECT_EQ(std::string(p->Comment), std::string(97, 'a') + "Ж");
}

TEST_F(ParamList, ValuesRoundTripWithTheSizeOfTheirType) {
    TParamRecord* head = NewList();
    // Codes 13 and -1 have no size: they store and yield nothing.
    const std::pair<int16_t, std::size_t> types[] = {
        {0, 1}, {1, 1}, {2, 2},  {3, 2},  {4, 4},  {5, 4},  {7, sizeof(void*)},
        {8, 4}, {9, 4}, {10, 4}, {11, 4}, {12, 4}, {13, 0}, {-1, 0}};
    unsigned char source[100];
    for (int i = 0; i < 100; ++i)
        source[i] = static_cast<unsigned char>(i + 1);
    for (const auto& [type, size] : types) {
        SCOPED_TRACE(type);
        TParamRecord* p = cp.AddParam(head, ("T" + std::to_string(type)).c_str(), "", type);
        ASSERT_NE(p, nullptr);
        EXPECT_EQ(cp.SetParamValue(p, source), 0);
        EXPECT_EQ(std::memcmp(p->Value, source, size), 0);
        EXPECT_TRUE(AllZero(p->Value + size, sizeof(p->Value) - size)) << "stored too much";
        unsigned char read[100];
        std::memset(read, 0xEE, sizeof(read));
        EXPECT_EQ(cp.GetParamValue(p, read), 0);
        EXPECT_EQ(std::memcmp(read, source, size), 0);
        EXPECT_EQ(read[size], 0xEE) << "yielded too much";
    }
}

TEST_F(ParamList, StringValuesAreCutTo99BytesAndNeverOverrun) {
    TParamRecord* head = NewDeviceList();
    TParamRecord* dll = cp.FindParam(head, "DLL");
    ASSERT_NE(dll, nullptr);
    EXPECT_EQ(cp.SetParamValue(dll, std::string(100, 's').c_str()), 0);
    EXPECT_EQ(ValueText(dll), std::string(99, 's'));

    char read[100];
    std::memset(read, 0xEE, sizeof(read));
    cp.GetParamValue(dll, read);
    EXPECT_EQ(std::string(read), std::string(99, 's'));

    cp.SetParamValue(dll, "libmeter.so");
    std::memset(read, 0xEE, sizeof(read));
    cp.GetParamValue(dll, read);
    EXPECT_STREQ(read, "libmeter.so");
    EXPECT_EQ(static_cast<unsigned char>(read[12]), 0xEE) << "copied past the zero";
    EXPECT_TRUE(AllZero(dll->Value + 11, sizeof(dll->Value) - 11)) << "old text left behind";

    // 99 bytes without a terminating zero: the library must not look at a 100th byte.
    std::unique_ptr<char[]> unterminated(new char[99]);
    std::memset(unterminated.get(), 'u', 99);
    cp.SetParamValue(dll, unterminated.get());
    EXPECT_EQ(ValueText(dll), std::string(99, 'u'));
}

TEST_F(ParamList, CountIsEightBitsAndIndexIsItsSignedValue) {
    TParamRecord* head = NewList();
    std::vector<TParamRecord*> added(1, nullptr); // added[i] is the i-th parameter
    for (int i = 1; i <= 257; ++i) {
        added.push_back(cp.AddParam(head, ("p" + std::to_string(i)).c_str(), "", 0));
        ASSERT_NE(added.back(), nullptr);
    }
    EXPECT_EQ(added[127]->Index, 127);
    EXPECT_EQ(added[128]->Index, -128);
    EXPECT_EQ(added[200]->Index, -56);
    EXPECT_EQ(added[255]->Index, -1);
    EXPECT_EQ(added[256]->Index, 0);
    EXPECT_EQ(added[257]->Index, 1);
    EXPECT_EQ(CountOf(head), 1);
    EXPECT_EQ(cp.FindParam(head, "p257"), added[257]) << "all 257 stay in the list";
}

TEST_F(ParamList, RefusesNullArgumentsAndRecordsThatAreNotAHead) {
    TParamRecord* head = NewList();
    TParamRecord* p = cp.AddParam(head, "P", "", 4);
    ASSERT_NE(p, nullptr);
    int32_t value = 1;
    EXPECT_EQ(cp.AddParam(head, nullptr, "", 4), nullptr);
    EXPECT_EQ(cp.FindParam(head, nullptr), nullptr);
    EXPECT_EQ(cp.SetParamComment(p, nullptr), -1);
    EXPECT_EQ(cp.SetParamValue(p, nullptr), -1);
    EXPECT_EQ(cp.GetParamValue(p, nullptr), -1);
    EXPECT_EQ(cp.GetParamValue(nullptr, &value), -1);
    EXPECT_EQ(cp.DeleteParamArray(nullptr), -1);
    // A parameter from the middle of a list is not a head: nothing is added or freed.
    EXPECT_EQ(cp.AddParam(p, "Q", "", 4), nullptr);
    EXPECT_EQ(cp.DeleteParamArray(p), -1);
    EXPECT_TRUE(IsMapped(p));
    EXPECT_EQ(p->Next, nullptr);
    EXPECT_EQ(CountOf(head), 1);
}

TEST_F(ParamList, DeleteParamArrayGivesEveryRecordBack) {
    TParamRecord* head = cp.CreateDeviceParamArray();
    ASSERT_NE(head, nullptr);
    TParamRecord* extra = cp.AddParam(head, "Extra", "", 4);
    TParamRecord* dll = cp.FindParam(head, "DLL");
    TChanelRecord* chanel = cp.AddChanel(head, 1);
    ASSERT_TRUE(extra && dll && chanel);
    ASSERT_TRUE(IsMapped(head) && IsMapped(extra) && IsMapped(chanel));
    EXPECT_EQ(cp.DeleteParamArray(head), 0);
    const bool anyMapped = IsMapped(head) || IsMapped(dll) || IsMapped(extra) || IsMapped(chanel);
    EXPECT_FALSE(anyMapped);
}

} // namespace
} // namespace qz::test
