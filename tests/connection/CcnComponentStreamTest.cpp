#include "connection/CcnComponentStream.h"

#include "connection/CcnConnectionList.h"
#include "tests/support/ByteString.h"

#include <functional>
#include <gtest/gtest.h>

namespace qz {
namespace {

using test::B;

TEST(CcnBinaryWriter, SmallestIntegerThatHoldsTheValue) {
    auto enc = [](int32_t v) {
        std::string out;
        TccnBinaryWriter(out).WriteInteger(v);
        return out;
    };
    EXPECT_EQ(enc(0), B({2, 0}));
    EXPECT_EQ(enc(127), B({2, 0x7F}));
    EXPECT_EQ(enc(-128), B({2, 0x80}));
    EXPECT_EQ(enc(128), B({3, 0x80, 0x00}));
    EXPECT_EQ(enc(-129), B({3, 0x7F, 0xFF}));
    EXPECT_EQ(enc(32767), B({3, 0xFF, 0x7F}));
    EXPECT_EQ(enc(32768), B({4, 0x00, 0x80, 0x00, 0x00}));
    EXPECT_EQ(enc(-32769), B({4, 0xFF, 0x7F, 0xFF, 0xFF}));
    EXPECT_EQ(enc(INT32_MIN), B({4, 0, 0, 0, 0x80}));
}

TEST(CcnBinaryWriter, StringTagRule) {
    auto enc = [](const std::string& s) {
        std::string out;
        TccnBinaryWriter(out).WriteString(s);
        return out;
    };
    EXPECT_EQ(enc("COM1"), B({6, 4}) + "COM1");
    EXPECT_EQ(enc(std::string(255, 'a')), B({6, 255}) + std::string(255, 'a'));
    EXPECT_EQ(enc(std::string(256, 'a')), B({12, 0, 1, 0, 0}) + std::string(256, 'a'));
    // Purely Cyrillic: UTF-8 is twice the character count, so UTF-16.
    EXPECT_EQ(enc("Привет"), B({18, 6, 0, 0, 0, 0x1F, 0x04, 0x40, 0x04, 0x38, 0x04, 0x32, 0x04,
                                0x35, 0x04, 0x42, 0x04}));
    // Mostly ASCII with one Cyrillic letter: UTF-8.
    EXPECT_EQ(enc("Tест"), B({20, 7, 0, 0, 0}) + "Tест");
    // Empty text is not shorter than twice its (zero) length: UTF-16 with no units.
    EXPECT_EQ(enc(""), B({18, 0, 0, 0, 0}));
    // A character outside the basic plane counts as two UTF-16 units.
    EXPECT_EQ(enc("\xF0\x9F\x98\x80"), B({18, 2, 0, 0, 0, 0x3D, 0xD8, 0x00, 0xDE}));
}

TEST(CcnBinaryReader, AcceptsEveryStringTag) {
    const std::string data = B({6, 3, 0xCF, 0xF0, 'x'}) + B({12, 2, 0, 0, 0, 0xE0, 'b'}) +
                             B({18, 2, 0, 0, 0, 0x1F, 0x04, 0x41, 0x00}) + B({20, 3, 0, 0, 0}) +
                             "Ж1" + B({18, 1, 0, 0, 0, 0x00, 0xD8}) +
                             B({20, 2, 0, 0, 0, 0xC3, 'a'});
    TccnBinaryReader r(data);
    EXPECT_EQ(r.ReadString("p"), "Прx");
    EXPECT_EQ(r.ReadString("p"), "аb");
    EXPECT_EQ(r.ReadString("p"), "ПA");
    EXPECT_EQ(r.ReadString("p"), "Ж1");
    EXPECT_EQ(r.ReadString("p"), "\xEF\xBF\xBD"); // lone surrogate
    EXPECT_EQ(r.ReadString("p"), "\xEF\xBF\xBD"
                                 "a"); // malformed UTF-8 is not passed on
    EXPECT_EQ(r.Position(), data.size());
}

TEST(CcnBinaryReader, RefusesWrongTagsAndShortData) {
    const std::string d1 = B({7, 1, 'a'}), d2 = B({4, 1, 2}),
                      d3 = B({18, 0xFF, 0xFF, 0xFF, 0xFF, 0, 0}),
                      d4 = B({10, 0xFF, 0xFF, 0xFF, 0x7F, 1}), d5 = B({6, 5, 'a'}), d6 = B({2, 1});
    TccnBinaryReader r1(d1);
    EXPECT_THROW(r1.ReadInteger("X"), EccnStreamError);
    TccnBinaryReader r2(d2);
    EXPECT_THROW(r2.ReadInteger("X"), EccnStreamError);
    // A huge length is refused before anything is allocated.
    TccnBinaryReader r3(d3);
    EXPECT_THROW(r3.ReadString("X"), EccnStreamError);
    TccnBinaryReader r4(d4);
    EXPECT_THROW(r4.ReadBinary("X"), EccnStreamError);
    TccnBinaryReader r5(d5);
    EXPECT_THROW(r5.ReadString("X"), EccnStreamError);
    try {
        TccnBinaryReader r(d6);
        r.ReadString("PortName");
        FAIL();
    } catch (const EccnStreamError& e) {
        EXPECT_STREQ(e.what(), "Неверный тип значения свойства PortName");
    }
}

// An object with one property of each kind, written by hand.
const std::string kObject = std::string("TPF0") + B({3}) + "TAb" + B({1}) + "n" + B({1}) + "i" +
                            B({3, 0x10, 0x27}) +                // i = 10000
                            B({1}) + "s" + B({6, 4}) + "It's" + // s = 'It''s'
                            B({1}) + "w" + B({20, 3, 0, 0, 0, 0xD0, 0x96, 0x0A}) + B({1}) + "e" +
                            B({7, 2}) + "ok" + B({1}) + "l" + B({1, 2, 0xFF, 1, 0, 0}) + // (-1 ())
                            B({1}) + "b" + B({10, 2, 0, 0, 0, 0xAB, 0x01}) + B({1}) + "c" +
                            B({14, 1, 1}) + "x" + B({2, 1, 0, 0}) + B({0, 0});

const std::string kObjectText = "object n: TAb\r\n"
                                "  i = 10000\r\n"
                                "  s = 'It''s'\r\n"
                                "  w = #1046#10\r\n"
                                "  e = ok\r\n"
                                "  l = (\r\n"
                                "    -1\r\n"
                                "    ())\r\n"
                                "  b = {\r\n"
                                "    AB01}\r\n"
                                "  c = <\r\n"
                                "    item\r\n"
                                "      x = 1\r\n"
                                "    end>\r\n"
                                "end\r\n";

TEST(CcnTextForm, BinaryToTextIsExact) {
    size_t pos = 0;
    EXPECT_EQ(ObjectBinaryToText(kObject + "tail", pos), kObjectText);
    EXPECT_EQ(pos, kObject.size());
    // The same text as UTF-16 reads the same.
    std::string wide = kObject;
    wide.replace(wide.find(B({20, 3})), 8, B({18, 2, 0, 0, 0, 0x16, 0x04, 0x0A, 0x00}));
    pos = 0;
    EXPECT_EQ(ObjectBinaryToText(wide, pos), kObjectText);
}

TEST(CcnTextForm, TextToBinaryIsExact) {
    size_t pos = 0;
    EXPECT_EQ(ObjectTextToBinary(kObjectText + "tail", pos), kObject);
    EXPECT_EQ(pos, kObjectText.size() - 2);
}

TEST(CcnTextForm, StringsJoinAcrossLinesAndTakeUtf8OrCp1251Bytes) {
    const std::string text = "object T\n  s = 'ab' +\n   'c'#1078'd'\n  u = 'Жж'\n"
                             "  v = '\xC6'\n  big = #128512\nend";
    size_t pos = 0;
    const std::string bin = ObjectTextToBinary(text, pos);
    TccnBinaryReader r(bin);
    EXPECT_EQ(r.ReadObjectBegin(), "T");
    EXPECT_EQ(r.ReadShortString(), "s");
    EXPECT_EQ(r.ReadString("s"), "abcжd");
    EXPECT_EQ(r.ReadShortString(), "u");
    EXPECT_EQ(r.ReadString("u"), "Жж");
    EXPECT_EQ(r.ReadShortString(), "v");
    EXPECT_EQ(r.ReadString("v"), "Ж");
    EXPECT_EQ(r.ReadShortString(), "big");
    EXPECT_EQ(r.ReadString("big"), "\xF0\x9F\x98\x80");
    EXPECT_TRUE(r.EndOfList());
    EXPECT_EQ(pos, text.size());
}

TEST(CcnTextForm, ErrorsNameTheLine) {
    auto err = [](const std::string& text) {
        size_t pos = 0;
        try {
            ObjectTextToBinary(text, pos);
        } catch (const EccnStreamError& e) {
            return std::string(e.what());
        }
        return std::string("(no error)");
    };
    EXPECT_EQ(err("object T\n  a = 99999999999\nend"), "Ошибка в строке 2: число вне диапазона");
    EXPECT_EQ(err("object T\n  a = {ABC}\nend"),
              "Ошибка в строке 2: нечётное число шестнадцатеричных цифр");
    EXPECT_EQ(err("object T\n  a = 'open\nend"), "Ошибка в строке 2: строка не закрыта");
    EXPECT_EQ(err("object T\n  a = 1\n"), "Ошибка в строке 3: нет end");
    EXPECT_EQ(err("object T\n  a = #1114112\nend"), "Ошибка в строке 2: неверный код символа");
    EXPECT_EQ(err("object T\n  a = (1 2\nend"), "Ошибка в строке 3: нет )");
    EXPECT_EQ(err(""), "Ошибка в строке 1: ожидается object");
}

TEST(CcnTextForm, NestingIsBounded) {
    std::string deep = "object T\n a = ";
    deep += std::string(100000, '(');
    size_t pos = 0;
    EXPECT_THROW(ObjectTextToBinary(deep, pos), EccnStreamError);

    std::string bin =
        std::string("TPF0") + B({1}) + "T" + B({0, 1}) + "a" + std::string(100000, '\x01');
    pos = 0;
    EXPECT_THROW(ObjectBinaryToText(bin, pos), EccnStreamError);
    bin = std::string("TPF0") + B({1}) + "T" + B({0, 1}) + "a";
    for (int i = 0; i < 50000; ++i)
        bin += B({14, 1, 1}) + "a";
    pos = 0;
    EXPECT_THROW(ObjectBinaryToText(bin, pos), EccnStreamError);
}

TEST(CcnTextForm, EveryPrefixOfAValidObjectFailsCleanly) {
    for (size_t n = 0; n < kObject.size(); ++n) {
        size_t pos = 0;
        EXPECT_THROW(ObjectBinaryToText(kObject.substr(0, n), pos), EccnStreamError) << n;
    }
    for (size_t n = 0; n + 3 < kObjectText.size(); ++n) {
        size_t pos = 0;
        EXPECT_THROW(ObjectTextToBinary(kObjectText.substr(0, n), pos), EccnStreamError) << n;
    }
}

TEST(CcnMemoryStream, WritesAtThePosition) {
    TccnMemoryStream s("abcdef");
    s.SetPosition(4);
    s.Write("XYZ");
    EXPECT_EQ(s.Data(), "abcdXYZ");
    EXPECT_EQ(s.Position(), 7u);
    s.SetPosition(100);
    EXPECT_EQ(s.Position(), 7u);
}

} // namespace
} // namespace qz

namespace qz {
namespace {

// An object "T" whose property "Items" is a collection of `n` empty items.
std::string EmptyItems(const std::string& cls, const std::string& prop, size_t n) {
    std::string bin = std::string("TPF0") + char(cls.size()) + cls + B({0}) + char(prop.size()) +
                      prop + B({vaCollection});
    for (size_t i = 0; i < n; ++i)
        bin += B({vaList, vaNull});
    return bin + B({vaNull, vaNull, vaNull});
}

std::string ErrorOf(const std::function<void()>& f) {
    try {
        f();
    } catch (const EccnStreamError& e) {
        return e.what();
    }
    return "";
}

// Two bytes a item in the stream, a whole object in memory: the item count is bounded, in the
// converters as in the list itself.
TEST(CcnCollections, TheItemCountIsBounded) {
    const std::string most = EmptyItems("T", "Items", MaxCollectionItems);
    size_t pos = 0;
    const std::string text = ObjectBinaryToText(most, pos);
    EXPECT_EQ(pos, most.size());
    pos = 0;
    EXPECT_EQ(ObjectTextToBinary(text, pos), most) << "the largest collection goes both ways";

    const std::string more = EmptyItems("T", "Items", MaxCollectionItems + 1);
    EXPECT_NE(ErrorOf([&] {
                  size_t p = 0;
                  ObjectBinaryToText(more, p);
              }).find(kccnMsgTooManyItems),
              std::string::npos);
    const std::string moreText = text.substr(0, text.rfind('>')) + "  item\r\n  end>\r\nend\r\n";
    EXPECT_NE(ErrorOf([&] {
                  size_t p = 0;
                  ObjectTextToBinary(moreText, p);
              }).find(kccnMsgTooManyItems),
              std::string::npos);
}

TEST(CcnCollections, AConnectionListWithTooManyItemsIsAFormatError) {
    TccnConnectionList list;
    TccnMemoryStream most(
        EmptyItems("TccnConnectionListWrapper", "ConnectionList", MaxCollectionItems));
    list.LoadFromStream(most, sfBinary);
    EXPECT_EQ(list.Count(), MaxCollectionItems);

    TccnMemoryStream more(
        EmptyItems("TccnConnectionListWrapper", "ConnectionList", MaxCollectionItems + 1));
    EXPECT_NE(ErrorOf([&] { list.LoadFromStream(more, sfBinary); }).find(kccnMsgTooManyItems),
              std::string::npos);
    EXPECT_EQ(list.Count(), 0u) << "nothing of a refused stream is kept";
    more.SetPosition(0);
    EXPECT_FALSE(list.TryLoadFromStream(more, sfBinary));
}

} // namespace
} // namespace qz
