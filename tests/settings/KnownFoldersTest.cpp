#include "settings/cmnKnownFoldersFunc.h"

#include "TestEnv.h"
#include "common/Assert.h"

#include <cstdio>
#include <filesystem>
#include <gtest/gtest.h>

namespace {

using namespace qz;
using qz::test::EnvGuard;
using qz::test::TempDir;

// The identifier from its registry text, to check the constants digit by digit.
TGUID FromText(const char* text) {
    unsigned d1, d2, d3, b[8];
    EXPECT_EQ(std::sscanf(text, "{%8x-%4x-%4x-%2x%2x-%2x%2x%2x%2x%2x%2x}", &d1, &d2, &d3, &b[0],
                          &b[1], &b[2], &b[3], &b[4], &b[5], &b[6], &b[7]),
              11);
    TGUID g{d1, uint16_t(d2), uint16_t(d3), {}};
    for (int i = 0; i < 8; ++i)
        g.D4[i] = uint8_t(b[i]);
    return g;
}

TEST(KnownFolders, IdentifiersAndLegacyCodes) {
    EXPECT_EQ(FOLDERID_LocalAppData, FromText("{F1B32785-6FBA-4FCF-9D55-7B8E7F157091}"));
    EXPECT_EQ(FOLDERID_Documents, FromText("{FDD39AD0-238F-46AF-ADB4-6C85480369C7}"));
    EXPECT_EQ(FOLDERID_ProgramData, FromText("{62AB5D82-FDC1-4DC3-A9DD-070D1D495D97}"));
    EXPECT_EQ(FOLDERID_PublicDocuments, FromText("{ED4824AF-DCE4-45A8-81E2-FC7965083634}"));

    EXPECT_EQ(KnownFolderToCsidl(FOLDERID_LocalAppData), 28);
    EXPECT_EQ(KnownFolderToCsidl(FOLDERID_Documents), 5);
    EXPECT_EQ(KnownFolderToCsidl(FOLDERID_ProgramData), 35);
    EXPECT_EQ(KnownFolderToCsidl(FOLDERID_PublicDocuments), 46);

    TGUID other = FOLDERID_Documents;
    other.D4[7] ^= 1; // one bit off in the last byte is another folder
    EXPECT_NE(other, FOLDERID_Documents);
    try {
        KnownFolderToCsidl(other);
        FAIL() << "an unknown folder must fail the assertion";
    } catch (const EAssertionFailed& e) {
        EXPECT_EQ(std::string(e.what()).rfind("Не удалось преобразовать FolderID в CSIDL. "
                                              "Неизвестный FolderID (settings/",
                                              0),
                  0u)
            << e.what();
    }
    EXPECT_EQ(GetKnownFolderPath(other), ""); // asking for a path is no error
}

TEST(KnownFolders, XdgFoldersEndInOneSlash) {
    EnvGuard env;
    env.Set("HOME", "/home/op");
    env.Set("XDG_CONFIG_HOME", "/nonexistent-config");
    env.Set("XDG_DATA_HOME", nullptr);
    env.Set("XDG_DOCUMENTS_DIR", nullptr);
    EXPECT_EQ(GetLocalAppDataPath(), "/home/op/.local/share/");
    EXPECT_EQ(GetDocumentsPath(), "/home/op/Documents/");
    env.Set("XDG_DATA_HOME", "/data//");
    env.Set("XDG_DOCUMENTS_DIR", "/docs/Документы/");
    EXPECT_EQ(GetKnownFolderPath(FOLDERID_LocalAppData), "/data/");
    EXPECT_EQ(GetKnownFolderPath(FOLDERID_Documents), "/docs/Документы/");
    env.Set("XDG_DATA_HOME", "/");
    EXPECT_EQ(GetLocalAppDataPath(), "/");
    // The shared folders have no per-user place here.
    EXPECT_EQ(GetKnownFolderPath(FOLDERID_ProgramData), "");
    EXPECT_EQ(GetKnownFolderPath(FOLDERID_PublicDocuments), "");
}

TEST(KnownFolders, ProductFolder) {
    EXPECT_EQ(MakeProductFolder("/home/op/.local/share/", "Монитор Каврен-QZ2"),
              "/home/op/.local/share/VQ/Монитор Каврен-QZ2/");
    EXPECT_EQ(MakeProductFolder("/home/op/Documents", "P"), "/home/op/Documents/VQ/P/");
    EXPECT_EQ(MakeProductFolder("/", "P"), "/VQ/P/");
    EXPECT_EQ(MakeProductFolder("", "P"), ""); // never relative to the working folder
}

TEST(KnownFolders, ForceDirectoriesCreatesParents) {
    TempDir dir;
    const std::string deep = dir / "a/b/VQ/Монитор Каврен-QZ2/";
    std::string error;
    ASSERT_TRUE(ForceDirectories(deep, &error)) << error;
    EXPECT_TRUE(std::filesystem::is_directory(deep));
    EXPECT_TRUE(ForceDirectories(deep)); // already there

    qz::test::WriteFileBytes(dir / "file", "x");
    EXPECT_FALSE(ForceDirectories(dir / "file", &error));
    EXPECT_NE(error.find("file"), std::string::npos) << error;
    EXPECT_FALSE(ForceDirectories(dir / "file/below"));
    EXPECT_FALSE(ForceDirectories(""));
}

} // namespace
