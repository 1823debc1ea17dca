#include "settings/AtomicFile.h"

#include "TestEnv.h"

#include <csignal>
#include <filesystem>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>

namespace {

using qz::ReadWholeFile;
using qz::WriteFileAtomically;
using qz::test::FolderEntries;
using qz::test::ReadFileBytes;
using qz::test::TempDir;
using qz::test::WriteFileBytes;

mode_t ModeOf(const std::string& path) {
    struct stat st {};
    ::stat(path.c_str(), &st);
    return st.st_mode & 07777;
}

TEST(AtomicFile, CreatesAndReplacesWholeFiles) {
    TempDir dir;
    const std::string path = dir / "a.ini";
    const std::string binary("x\0y\r\n\xCF", 6);
    std::string error;
    ASSERT_TRUE(WriteFileAtomically(path, binary, &error)) << error;
    EXPECT_EQ(ReadFileBytes(path), binary);

    ::chmod(path.c_str(), 0644);
    ASSERT_TRUE(WriteFileAtomically(path, "short", &error)) << error;
    EXPECT_EQ(ReadFileBytes(path), "short"); // no tail of the longer old contents
    EXPECT_EQ(ModeOf(path), 0644u);          // a replaced file keeps its permissions
    ASSERT_TRUE(WriteFileAtomically(path, "", &error)) << error;
    EXPECT_EQ(ReadFileBytes(path), "");
    EXPECT_EQ(FolderEntries(dir.Path()), std::vector<std::string>{"a.ini"});
}

// A new file is made like any file the user creates, whatever the umask; a replaced one keeps
// the permissions the user gave it.
TEST(AtomicFile, NewFilesGetTheUsersUmaskAndOldOnesKeepTheirMode) {
    TempDir dir;
    const mode_t saved = ::umask(022);
    for (mode_t mask : {mode_t(022), mode_t(077), mode_t(0), mode_t(027)}) {
        ::umask(mask);
        const std::string path = dir / ("new" + std::to_string(mask) + ".csv");
        ASSERT_TRUE(WriteFileAtomically(path, "x"));
        EXPECT_EQ(ModeOf(path), 0666u & ~mask) << std::oct << mask;
    }
    ::umask(077);
    const std::string shared = dir / "shared.csv";
    ASSERT_TRUE(WriteFileAtomically(shared, "x"));
    ::chmod(shared.c_str(), 0664);
    ASSERT_TRUE(WriteFileAtomically(shared, "y"));
    EXPECT_EQ(ModeOf(shared), 0664u) << "the umask is for new files only";
    ::umask(saved);
}

TEST(AtomicFile, FailuresAreReportedAndLeaveNothingBehind) {
    TempDir dir;
    std::string error;
    const std::string missing = dir / "no/such/folder/a.ini";
    EXPECT_FALSE(WriteFileAtomically(missing, "data", &error));
    EXPECT_NE(error.find(missing), std::string::npos) << error;

    // A folder where the file should be: the rename fails after the data was written.
    std::filesystem::create_directory(dir / "busy.ini");
    error.clear();
    EXPECT_FALSE(WriteFileAtomically(dir / "busy.ini", "data", &error));
    EXPECT_FALSE(error.empty());
    EXPECT_EQ(FolderEntries(dir.Path()), std::vector<std::string>{"busy.ini"});

    EXPECT_FALSE(WriteFileAtomically("", "data", &error));
    EXPECT_FALSE(WriteFileAtomically(dir.Path() + "/", "data"));
}

// A disk that fills up while the new contents are written: the old file must survive whole.
// The file-size limit makes the write fail the same way (EFBIG instead of ENOSPC).
TEST(AtomicFile, FullDiskKeepsTheOldFile) {
    TempDir dir;
    const std::string path = dir / "a.ini";
    WriteFileBytes(path, "[old]\nkey=1\n");

    struct rlimit saved {};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
    auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit small = saved;
    small.rlim_cur = 64;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    std::string error;
    const bool ok = WriteFileAtomically(path, std::string(100000, 'x'), &error);
    ::setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, oldHandler);

    EXPECT_FALSE(ok);
    EXPECT_FALSE(error.empty());
    EXPECT_EQ(ReadFileBytes(path), "[old]\nkey=1\n");
    EXPECT_EQ(FolderEntries(dir.Path()), std::vector<std::string>{"a.ini"});
}

TEST(AtomicFile, SymbolicLinkKeepsPointingAtTheFile) {
    TempDir dir;
    std::filesystem::create_directory(dir / "kept");
    WriteFileBytes(dir / "kept/real.ini", "old");
    std::filesystem::create_symlink(dir / "kept/real.ini", dir / "link.ini");
    std::string error;
    ASSERT_TRUE(WriteFileAtomically(dir / "link.ini", "new", &error)) << error;
    EXPECT_TRUE(std::filesystem::is_symlink(dir / "link.ini"));
    EXPECT_EQ(ReadFileBytes(dir / "kept/real.ini"), "new");
    EXPECT_EQ(FolderEntries(dir / "kept"), std::vector<std::string>{"real.ini"});
}

TEST(AtomicFile, ReadTellsAbsentFromUnreadable) {
    TempDir dir;
    std::string data = "stale";
    bool absent = false;
    EXPECT_FALSE(ReadWholeFile(dir / "none.ini", data, absent));
    EXPECT_TRUE(absent);
    EXPECT_TRUE(data.empty());

    std::string error;
    EXPECT_FALSE(ReadWholeFile(dir.Path(), data, absent, &error)); // a folder cannot be read
    EXPECT_FALSE(absent);
    EXPECT_FALSE(error.empty());

    const std::string big(200000, '\0'); // more than one read, and zero bytes inside
    WriteFileBytes(dir / "big", big);
    ASSERT_TRUE(ReadWholeFile(dir / "big", data, absent));
    EXPECT_EQ(data, big);
    ASSERT_TRUE(ReadWholeFile(dir / "big", data, absent, nullptr, big.size()));
    EXPECT_EQ(data, big);
    EXPECT_FALSE(ReadWholeFile(dir / "big", data, absent, &error, big.size() - 1));
    EXPECT_FALSE(absent);
    EXPECT_TRUE(data.empty());
}

} // namespace
