// The posix file system against a real temporary folder, and the in-memory
// double against the same expectations where they share them.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>

#include "platform/memory/MemoryFileSystem.h"
#include "platform/posix/PosixFileSystem.h"
#include "tests/support/TempFolder.h"

namespace qb::platform {
namespace {

using test::TempFolder;

TEST(PosixFileSystem, KindsFollowTheSystemsSemantics) {
    TempFolder dir;
    dir.Write("conf/quellbox.conf", "a=b\r\n");
    dir.Write("conf/.hidden", "x");
    PosixFileSystem fs;
    EXPECT_EQ(fs.Kind(dir.WinPath() + "\\conf\\quellbox.conf"), PathKind::kFile);
    EXPECT_EQ(fs.Kind(dir.WinPath() + "\\conf\\.hidden"), PathKind::kHiddenFile);
    EXPECT_EQ(fs.Kind(dir.WinPath() + "\\conf"), PathKind::kFolder);
    EXPECT_EQ(fs.Kind(dir.WinPath() + "\\conf\\nothing"), PathKind::kMissing);
    EXPECT_EQ(fs.Kind(""), PathKind::kMissing);
    EXPECT_TRUE(IsOrdinaryFile(fs, dir / "conf/quellbox.conf"));
    EXPECT_FALSE(IsOrdinaryFile(fs, dir / "conf/.hidden"));
    EXPECT_FALSE(IsOrdinaryFile(fs, dir / "conf"));
    EXPECT_TRUE(PathExists(fs, dir / "conf/.hidden"));
    EXPECT_TRUE(PathExists(fs, dir / "conf"));
    // A named pipe is a "system" file: it exists but is never read.
    ASSERT_EQ(::mkfifo((dir / "pipe").c_str(), 0600), 0);
    EXPECT_EQ(fs.Kind(dir / "pipe"), PathKind::kHiddenFile);
    std::string out = "old";
    EXPECT_FALSE(fs.ReadFile(dir / "pipe", out));
    EXPECT_EQ(out, "");
}

TEST(PosixFileSystem, ReadsWholeFilesWithEveryByteValue) {
    TempFolder dir;
    std::string all;
    for (int i = 0; i < 256; ++i)
        all += static_cast<char>(i);
    dir.Write("bytes", all);
    PosixFileSystem fs;
    std::string out;
    ASSERT_TRUE(fs.ReadFile(dir.WinPath() + "\\bytes", out));
    EXPECT_EQ(out, all);
    EXPECT_EQ(fs.FileSize(dir / "bytes"), 256);
    EXPECT_EQ(fs.FileSize(dir / "missing"), -1);
    EXPECT_EQ(fs.FileSize(dir.Path()), -1);
    EXPECT_FALSE(fs.ReadFile(dir.Path(), out));
    EXPECT_FALSE(fs.ReadFile(dir / "missing", out));
}

TEST(PosixFileSystem, ReplaceIsAtomicAndLeavesNoTemporaryFile) {
    TempFolder dir;
    dir.Write("list", "old content\r\n");
    ::chmod((dir / "list").c_str(), 0640);
    PosixFileSystem fs;
    ASSERT_TRUE(fs.ReplaceFile(dir / "list", "new\r\n"));
    EXPECT_EQ(dir.Read("list"), "new\r\n");
    struct stat st;
    ASSERT_EQ(::stat((dir / "list").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u) << "permissions of the replaced file are kept";
    ASSERT_TRUE(fs.ReplaceFile(dir / "fresh", ""));
    EXPECT_EQ(dir.Read("fresh"), "");
    int entries = 0;
    for (auto& e : std::filesystem::directory_iterator(dir.Path())) {
        (void)e;
        ++entries;
    }
    EXPECT_EQ(entries, 2);
}

TEST(PosixFileSystem, FailedReplaceKeepsTheOldFile) {
    if (::geteuid() == 0) {
        // root writes into read-only folders; use a missing folder instead.
        TempFolder dir;
        PosixFileSystem fs;
        EXPECT_FALSE(fs.ReplaceFile(dir / "no/such/folder/list", "x"));
        dir.Write("list", "keep me");
        // A folder in the way of the target: the rename fails, the temp file goes.
        std::filesystem::create_directory(dir / "sub");
        EXPECT_FALSE(fs.ReplaceFile(dir / "sub", "x"));
        EXPECT_TRUE(std::filesystem::is_directory(dir / "sub"));
        EXPECT_EQ(dir.Read("list"), "keep me");
        int entries = 0;
        for (auto& e : std::filesystem::directory_iterator(dir.Path())) {
            (void)e;
            ++entries;
        }
        EXPECT_EQ(entries, 2);
        return;
    }
    TempFolder dir;
    dir.Write("list", "keep me");
    ::chmod(dir.Path().c_str(), 0555);
    PosixFileSystem fs;
    EXPECT_FALSE(fs.ReplaceFile(dir / "list", "lost"));
    EXPECT_EQ(dir.Read("list"), "keep me");
}

TEST(PosixFileSystem, FailedWriteLeavesTheOldFile) {
    // A file size limit makes the write fail part-way, as a full disk would.
    // The child process takes the limit so the test process keeps its own.
    TempFolder dir;
    dir.Write("list", "keep me");
    PosixFileSystem fs;
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::signal(SIGXFSZ, SIG_IGN);
        const struct rlimit limit = {4, 4};
        ::setrlimit(RLIMIT_FSIZE, &limit);
        const bool ok = fs.ReplaceFile(dir / "list", std::string(1000, 'x'));
        ::_exit(ok ? 1 : 0);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "the replace must report the failed write";
    EXPECT_EQ(dir.Read("list"), "keep me");
    int entries = 0;
    for (auto& e : std::filesystem::directory_iterator(dir.Path())) {
        (void)e;
        ++entries;
    }
    EXPECT_EQ(entries, 1) << "no temporary file stays behind";
}

TEST(PosixFileSystem, AppendCopyDeleteAndFolders) {
    TempFolder dir;
    PosixFileSystem fs;
    EXPECT_TRUE(fs.AppendFile(dir / "log", "one\r\n"));
    EXPECT_TRUE(fs.AppendFile(dir / "log", "two\r\n"));
    EXPECT_EQ(dir.Read("log"), "one\r\ntwo\r\n");
    EXPECT_TRUE(fs.CopyFile(dir / "log", dir / "copy"));
    EXPECT_EQ(dir.Read("copy"), "one\r\ntwo\r\n");
    EXPECT_FALSE(fs.CopyFile(dir / "missing", dir / "copy2"));
    EXPECT_TRUE(fs.DeleteFile(dir / "copy"));
    EXPECT_FALSE(fs.DeleteFile(dir / "copy"));
    EXPECT_TRUE(fs.CreateFolder(dir.WinPath() + "\\a\\b\\c"));
    EXPECT_EQ(fs.Kind(dir / "a/b/c"), PathKind::kFolder);
    EXPECT_FALSE(fs.DeleteFile(dir / "a/b/c"));
    EXPECT_FALSE(fs.AppendFile(dir / "a/b/c", "x"));
    EXPECT_FALSE(fs.CreateFolder(dir / "log/sub"));
}

TEST(MemoryFileSystem, BehavesLikeTheRealOneForTheBasics) {
    MemoryFileSystem fs;
    fs.PutFile("C:\\Prog\\conf\\quellbox.conf", "a=1");
    fs.PutFile("C:\\Prog\\conf\\secret", "s", /*hidden=*/true);
    EXPECT_EQ(fs.Kind("C:/Prog/conf/quellbox.conf"), PathKind::kFile);
    EXPECT_EQ(fs.Kind("C:\\Prog\\conf\\secret"), PathKind::kHiddenFile);
    EXPECT_EQ(fs.Kind("C:\\Prog\\conf"), PathKind::kFolder);
    EXPECT_EQ(fs.Kind("C:\\Prog\\conf\\"), PathKind::kFolder);
    EXPECT_EQ(fs.Kind("C:\\Prog\\con"), PathKind::kMissing);
    std::string out;
    EXPECT_TRUE(fs.ReadFile("C:\\Prog\\conf\\quellbox.conf", out));
    EXPECT_EQ(out, "a=1");
    EXPECT_TRUE(fs.AppendFile("C:\\Prog\\console.txt", "x"));
    EXPECT_EQ(fs.Content("C:\\Prog\\console.txt"), "x");
    fs.SetWritesFail(true);
    EXPECT_FALSE(fs.ReplaceFile("C:\\Prog\\conf\\quellbox.conf", "lost"));
    EXPECT_FALSE(fs.DeleteFile("C:\\Prog\\conf\\quellbox.conf"));
    EXPECT_EQ(fs.Content("C:\\Prog\\conf\\quellbox.conf"), "a=1");
    EXPECT_FALSE(fs.ReplaceFile("C:\\Prog\\conf", "x")) << "a folder is never replaced";
}

}  // namespace
}  // namespace qb::platform
