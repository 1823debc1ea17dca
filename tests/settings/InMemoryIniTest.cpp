#include "settings/InMemoryIni.h"

#include "TestEnv.h"

#include <filesystem>
#include <gtest/gtest.h>

namespace {

using qz::FoldNameCase;
using qz::ParseInteger;
using qz::TInMemoryIni;
using qz::test::ReadFileBytes;
using qz::test::TempDir;
using qz::test::WriteFileBytes;

// "ПОДКЛЮЧЕНИЯ", "Выбрано" and "Список" in code page 1251.
const std::string kConnections1251 = "\xCF\xCE\xC4\xCA\xCB\xDE\xD7\xC5\xCD\xC8\xDF";
const std::string kSelected1251 = "\xC2\xFB\xE1\xF0\xE0\xED\xEE";

TEST(InMemoryIni, NamesIgnoreCaseInLatinAndCyrillic) {
    EXPECT_EQ(FoldNameCase("SCALE Levels_7"), "scale levels_7");
    EXPECT_EQ(FoldNameCase("ПОДКЛЮЧЕНИЯ"), "подключения");
    EXPECT_EQ(FoldNameCase("АБВЖЗЙПРСЯЁЎЄІЇҐ"), "абвжзйпрсяёўєіїґ");
    EXPECT_EQ(FoldNameCase("уже мал €"), "уже мал €");

    TInMemoryIni ini;
    ini.WriteString("ПОДКЛЮЧЕНИЯ", "Выбрано", "3");
    EXPECT_EQ(ini.ReadString("подключения", "ВЫБРАНО", "-"), "3");
    EXPECT_EQ(ini.ReadString("ПодКлючения", "выбрано", "-"), "3");
    ini.WriteString("scale", "LEVELS_0", "7");
    ini.WriteString("Scale", "levels_0", "8"); // the same key: replaced, not added
    EXPECT_EQ(ini.ReadSections(), (std::vector<std::string>{"ПОДКЛЮЧЕНИЯ", "scale"}));
    EXPECT_EQ(ini.ReadSection("SCALE"), std::vector<std::string>{"LEVELS_0"});
    EXPECT_EQ(ini.ReadInteger("SCALE", "Levels_0", 0), 8);
    // Close but different names stay apart.
    EXPECT_FALSE(ini.ValueExists("ПОДКЛЮЧЕНИE", "Выбрано")); // Latin E at the end
    EXPECT_FALSE(ini.ValueExists("SCALE", "Levels_00"));
}

TEST(InMemoryIni, CyrillicIsCodePage1251OnDisk) {
    TInMemoryIni ini;
    ini.WriteString("ПОДКЛЮЧЕНИЯ", "Выбрано", "Ёлка");
    EXPECT_EQ(ini.GetText(),
              "[" + kConnections1251 + "]\n" + kSelected1251 + "=\xA8\xEB\xEA\xE0\n\n");

    TInMemoryIni back;
    back.SetText("[" + kConnections1251 + "]\r\n" + kSelected1251 + "=5\r\n");
    EXPECT_EQ(back.ReadSections(), std::vector<std::string>{"ПОДКЛЮЧЕНИЯ"});
    EXPECT_EQ(back.ReadInteger("подключения", "выбрано", -1), 5);
}

TEST(InMemoryIni, ImageRoundTripsThroughText) {
    TInMemoryIni ini;
    ini.WriteString("ПОДКЛЮЧЕНИЯ", "Список", "00FF10");
    ini.WriteInteger("ПОДКЛЮЧЕНИЯ", "Выбрано", -1);
    ini.WriteInteger("SCALE", "Levels_7", 100);
    ini.WriteInteger("SCALE", "Pos_2", -2147483647 - 1);
    ini.WriteString("Другое", "a", "x = y ; not a comment");
    ini.WriteString("Другое", "empty", "");

    TInMemoryIni back;
    back.SetText(ini.GetText());
    EXPECT_EQ(back.ReadSections(), ini.ReadSections());
    for (const std::string& s : ini.ReadSections()) {
        EXPECT_EQ(back.ReadSection(s), ini.ReadSection(s)) << s;
        for (const std::string& k : ini.ReadSection(s))
            EXPECT_EQ(back.ReadString(s, k, "?"), ini.ReadString(s, k, "!")) << s << "/" << k;
    }
    EXPECT_TRUE(back.ValueExists("другое", "EMPTY"));
    EXPECT_EQ(back.ReadInteger("SCALE", "Pos_2", 0), -2147483647 - 1);
    EXPECT_EQ(back.GetText(), ini.GetText());
}

TEST(InMemoryIni, LineEndingsAndSyntax) {
    const std::string lf = "[A]\nk=1\n[B]\nk=2\n";
    for (const std::string& text :
         {lf, std::string("[A]\r\nk=1\r\n[B]\r\nk=2\r\n"), std::string("[A]\rk=1\r[B]\rk=2"),
          std::string("\n[A]\n\n\nk=1\n[B]\r\n\r\nk=2")}) {
        TInMemoryIni ini;
        ini.SetText(text);
        EXPECT_EQ(ini.ReadString("A", "k", "-"), "1");
        EXPECT_EQ(ini.ReadString("B", "k", "-"), "2");
    }

    TInMemoryIni ini;
    ini.SetText("top=ignored\n"
                "  [ S ]  \n"
                "; comment=1\n"
                "# comment=2\n"
                "\t key \t=  spaced value  \n"
                "no equals sign\n"
                "=no key\n"
                "dup=first\n"
                "DUP=second\n"
                "eq=a=b\n"
                "[broken\n"
                "lost=1\n"
                "[T]\n"
                "t=1\n"
                "[s]\n"
                "later=2\n");
    EXPECT_EQ(ini.ReadSections(), (std::vector<std::string>{"S", "T"}));
    EXPECT_EQ(ini.ReadSection("S"), (std::vector<std::string>{"key", "dup", "eq", "later"}));
    EXPECT_EQ(ini.ReadString("S", "key", "-"), "spaced value");
    EXPECT_EQ(ini.ReadString("S", "dup", "-"), "first");
    EXPECT_EQ(ini.ReadString("S", "eq", "-"), "a=b");
    EXPECT_FALSE(ini.ValueExists("T", "lost")); // keys below a broken header go nowhere
    EXPECT_FALSE(ini.ValueExists("S", "lost"));
    EXPECT_FALSE(ini.ValueExists("S", "top"));
    EXPECT_FALSE(ini.ValueExists("S", "; comment"));
}

TEST(InMemoryIni, HostileBytesNeverBreakTheImage) {
    TInMemoryIni ini;
    const std::string longValue(1 << 20, 'A');
    std::string text("[S]\nnul=a\0b\n\0\0\n[\0]\nk", 20);
    text += "=" + longValue + "\n[" + std::string(100000, '[') + "\nx=1\n[S]\nlast=\x98\xFF\n";
    ini.SetText(text);
    EXPECT_EQ(ini.ReadString("S", "nul", "-"), std::string("a b")); // the zero became a space
    EXPECT_EQ(ini.ReadString("", "k", "-"), longValue);
    EXPECT_FALSE(ini.ValueExists("S", "x"));
    EXPECT_EQ(ini.ReadString("S", "last", "-"), "\xC2\x98я");

    // A value that carries line breaks cannot add keys or sections to the file.
    TInMemoryIni forged;
    forged.WriteString("ПОДКЛЮЧЕНИЯ", "Выбрано", "1\n[SCALE]\r\nLevels_0=5");
    forged.WriteString("S\nX", "k\r", "v");
    TInMemoryIni back;
    back.SetText(forged.GetText());
    EXPECT_EQ(back.ReadSections(), (std::vector<std::string>{"ПОДКЛЮЧЕНИЯ", "S X"}));
    EXPECT_EQ(back.ReadString("ПОДКЛЮЧЕНИЯ", "Выбрано", "-"), "1 [SCALE]  Levels_0=5");
    EXPECT_EQ(back.ReadString("S X", "k", "-"), "v");
    EXPECT_EQ(back.GetText(), forged.GetText());
}

TEST(InMemoryIni, IntegersAndDefaults) {
    int32_t v = 0;
    const std::pair<const char*, int32_t> good[] = {{"0", 0},
                                                    {"-1", -1},
                                                    {"+42", 42},
                                                    {"2147483647", 2147483647},
                                                    {"-2147483648", -2147483647 - 1},
                                                    {"$1F", 31},
                                                    {"0x10", 16},
                                                    {"$FFFFFFFF", -1},
                                                    {"-$10", -16},
                                                    {"007", 7}};
    for (const auto& [text, want] : good) {
        EXPECT_TRUE(ParseInteger(text, v)) << text;
        EXPECT_EQ(v, want) << text;
    }
    for (const char* bad : {"", "-", "+", "$", "0x", "12abc", "1 2", "2147483648", "-2147483649",
                            "$100000000", "1.5", "abc", "0x1G", "--1", "99999999999999999999"})
        EXPECT_FALSE(ParseInteger(bad, v)) << bad;

    TInMemoryIni ini;
    ini.SetText("[SCALE]\nLevels_0=abc\nLevels_1=\nLevels_2= 12 \nPos_0=-300\n");
    EXPECT_EQ(ini.ReadInteger("SCALE", "Levels_0", 1), 1);
    EXPECT_EQ(ini.ReadInteger("SCALE", "Levels_1", 1), 1);
    EXPECT_EQ(ini.ReadInteger("SCALE", "Levels_2", 1), 12);
    EXPECT_EQ(ini.ReadInteger("SCALE", "Pos_0", 0), -300);
    EXPECT_EQ(ini.ReadInteger("SCALE", "Pos_9", 77), 77);
    EXPECT_EQ(ini.ReadInteger("NONE", "Pos_0", 77), 77);
}

TEST(InMemoryIni, DeletingKeepsTheRestReachable) {
    TInMemoryIni ini;
    for (const char* s : {"A", "B", "C"})
        for (const char* k : {"x", "y", "z"})
            ini.WriteString(s, k, std::string(s) + k);
    ini.DeleteKey("a", "X");
    ini.DeleteKey("A", "missing");
    ini.DeleteKey("missing", "x");
    EXPECT_EQ(ini.ReadSection("A"), (std::vector<std::string>{"y", "z"}));
    EXPECT_EQ(ini.ReadString("A", "z", "-"), "Az");
    ini.EraseSection("b");
    EXPECT_EQ(ini.ReadSections(), (std::vector<std::string>{"A", "C"}));
    EXPECT_EQ(ini.ReadString("C", "y", "-"), "Cy");
    ini.WriteString("A", "x", "again");
    EXPECT_EQ(ini.ReadSection("A"), (std::vector<std::string>{"y", "z", "x"}));
    EXPECT_EQ(ini.ReadString("A", "y", "-"), "Ay");
    ini.Clear();
    EXPECT_TRUE(ini.ReadSections().empty());
}

TEST(InMemoryIni, FileIsReadOnceAndWrittenOnlyOnUpdate) {
    TempDir dir;
    const std::string path = dir / "m.ini";
    WriteFileBytes(path, "[" + kConnections1251 + "]\r\n" + kSelected1251 + "=4\r\n");
    TInMemoryIni ini(path);
    EXPECT_TRUE(ini.LoadError().empty());
    EXPECT_EQ(ini.ReadInteger("ПОДКЛЮЧЕНИЯ", "Выбрано", -1), 4);
    ini.WriteInteger("ПОДКЛЮЧЕНИЯ", "Выбрано", 9);
    EXPECT_NE(ReadFileBytes(path).find("=4"), std::string::npos); // memory only so far
    std::string error;
    ASSERT_TRUE(ini.UpdateFile(&error)) << error;
    EXPECT_EQ(ReadFileBytes(path), "[" + kConnections1251 + "]\n" + kSelected1251 + "=9\n\n");
    EXPECT_EQ(TInMemoryIni(path).ReadInteger("ПОДКЛЮЧЕНИЯ", "Выбрано", -1), 9);

    TInMemoryIni absent(dir / "none.ini");
    EXPECT_TRUE(absent.LoadError().empty());
    EXPECT_TRUE(absent.ReadSections().empty());

    // Something that exists but cannot be read is never written over.
    TInMemoryIni unreadable(dir.Path());
    EXPECT_FALSE(unreadable.LoadError().empty());
    EXPECT_FALSE(unreadable.UpdateFile(&error));
    EXPECT_NE(error.find("не был прочитан"), std::string::npos) << error;
    EXPECT_TRUE(std::filesystem::is_directory(dir.Path()));

    TInMemoryIni unnamed;
    unnamed.WriteString("S", "k", "v");
    error.clear();
    EXPECT_FALSE(unnamed.UpdateFile(&error));
    EXPECT_FALSE(error.empty());
}

} // namespace
