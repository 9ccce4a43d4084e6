// What only the posix file system does: dot names and special files count as
// hidden, permissions survive a replace, failures part-way through a write.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>

#include "platform/posix/PosixFileSystem.h"
#include "tests/support/TempFolder.h"

namespace qb::platform {
namespace {

using test::TempFolder;

TEST(PosixFileSystem, DotNamesAndSpecialFilesAreHidden) {
    TempFolder dir;
    dir.Write("conf/.hidden", "x");
    PosixFileSystem fs;
    EXPECT_EQ(fs.Kind(dir.WinPath() + "\\conf\\.hidden"), PathKind::kHiddenFile);
    EXPECT_FALSE(IsOrdinaryFile(fs, dir / "conf/.hidden"));
    EXPECT_TRUE(PathExists(fs, dir / "conf/.hidden"));
    // A named pipe is a "system" file: it exists but is never read.
    ASSERT_EQ(::mkfifo((dir / "pipe").c_str(), 0600), 0);
    EXPECT_EQ(fs.Kind(dir / "pipe"), PathKind::kHiddenFile);
    std::string out = "old";
    EXPECT_FALSE(fs.ReadFile(dir / "pipe", out));
    EXPECT_EQ(out, "");
}

TEST(PosixFileSystem, ReplaceKeepsThePermissions) {
    TempFolder dir;
    dir.Write("list", "old content\r\n");
    ::chmod((dir / "list").c_str(), 0640);
    PosixFileSystem fs;
    ASSERT_TRUE(fs.ReplaceFile(dir / "list", "new\r\n"));
    EXPECT_EQ(dir.Read("list"), "new\r\n");
    struct stat st;
    ASSERT_EQ(::stat((dir / "list").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u) << "permissions of the replaced file are kept";
}

TEST(PosixFileSystem, ReplaceInAReadOnlyFolderKeepsTheOldFile) {
    if (::geteuid() == 0)
        GTEST_SKIP() << "root writes into read-only folders";
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
    EXPECT_EQ(dir.Entries(), 1) << "no temporary file stays behind";
}

}  // namespace
}  // namespace qb::platform
