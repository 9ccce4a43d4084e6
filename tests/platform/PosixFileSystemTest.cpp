// What only the posix file system does: dot names and special files count as
// hidden, permissions survive a replace, failures part-way through a write.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstring>
#include <filesystem>
#include <iterator>
#include <map>
#include <vector>

#include "platform/CodePage.h"
#include "platform/posix/PosixFileSystem.h"
#include "tests/support/TempFolder.h"

namespace qb::platform {
namespace {

using test::TempFolder;

// Replaces path by 1000 bytes in a child process whose files may grow to 4
// bytes only, as on a full disk; the child takes the limit so the test
// process keeps its own. With the signal of the limit ignored the write
// fails; at its default the child dies part-way, as a killed run would.
// The child's wait status; its exit code is 0 when the replace failed.
int ReplaceBeyondAFileSizeLimit(PosixFileSystem& fs, const std::string& path, bool dieOnLimit) {
    const pid_t child = ::fork();
    if (child == 0) {
        ::signal(SIGXFSZ, dieOnLimit ? SIG_DFL : SIG_IGN);
        const struct rlimit limit = {4, 4};
        ::setrlimit(RLIMIT_FSIZE, &limit);
        const bool ok = fs.ReplaceFile(path, std::string(1000, 'x'));
        ::_exit(ok ? 1 : 0);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    return status;
}

int EntriesIn(const std::string& folder) {
    return static_cast<int>(std::distance(std::filesystem::directory_iterator(folder),
                                          std::filesystem::directory_iterator()));
}

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

// A path of the code page's text names a folder under its own bytes, else
// under its UTF-8 form; in a double-byte code page a backslash that is a
// trail byte ("\x83\x5C", the first character of the Shift-JIS name) is
// part of the name.
TEST(PosixFileSystem, CodePagePathsNameFoldersUnderTheirBytesOrTheirUtf8Form) {
    const std::string sjis = "\x83\x5C\x83\x74\x83\x67";  // "ソフト"
    const struct {
        uint32_t codePage;
        std::string name;    // the folder's name in the path
        std::string folder;  // the folder as it lies on disk
    } cases[] = {
        {1252, "\xE9t\xE9", "\xE9t\xE9"},
        {1252, "\xE9t\xE9", "\xC3\xA9t\xC3\xA9"},
        {932, sjis, sjis},
        {932, sjis, "\xE3\x82\xBD\xE3\x83\x95\xE3\x83\x88"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.codePage);
        ASSERT_TRUE(UseCodePage(c.codePage));
        TempFolder dir;
        // (Not dir / name, which takes every backslash for a separator.)
        const std::string folder = dir.Path() + "/" + c.folder;
        ASSERT_TRUE(std::filesystem::create_directory(folder));
        PosixFileSystem fs;
        const std::string file = dir.WinPath() + "\\" + c.name + "\\new.txt";
        EXPECT_TRUE(fs.ReplaceFile(file, "new"));
        std::string read;
        EXPECT_TRUE(fs.ReadFile(folder + "/new.txt", read));
        EXPECT_EQ(read, "new");
        EXPECT_TRUE(fs.ReadFile(file, read));
        EXPECT_EQ(read, "new");
    }
    UseCodePage(1252);
}

TEST(PosixFileSystem, FailedWriteLeavesTheOldFile) {
    TempFolder dir;
    dir.Write("list", "keep me");
    PosixFileSystem fs;
    const int status = ReplaceBeyondAFileSizeLimit(fs, dir / "list", false);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "the replace must report the failed write";
    EXPECT_EQ(dir.Read("list"), "keep me");
    EXPECT_EQ(dir.Entries(), 1) << "no temporary file stays behind";
}

TEST(PosixFileSystem, ReplaceThroughASymbolicLinkReplacesTheLinkedFile) {
    TempFolder dir;
    dir.Write("shared/approvedsenders", "old\r\n");
    dir.Write("conf/keep", "");
    ASSERT_EQ(::symlink("../shared/approvedsenders", (dir / "conf/approvedsenders").c_str()), 0);
    ASSERT_EQ(::symlink((dir / "conf/approvedsenders").c_str(), (dir / "conf/chain").c_str()), 0);
    PosixFileSystem fs;
    ASSERT_TRUE(fs.ReplaceFile(dir / "conf/approvedsenders", "new\r\n"));
    ASSERT_TRUE(fs.ReplaceFile(dir / "conf/chain", "newer\r\n", Durability::kAtomicOnly));
    struct stat st;
    ASSERT_EQ(::lstat((dir / "conf/approvedsenders").c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode)) << "the link stays a link";
    ASSERT_EQ(::lstat((dir / "conf/chain").c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    EXPECT_EQ(dir.Read("shared/approvedsenders"), "newer\r\n") << "the linked file is updated";
    EXPECT_EQ(EntriesIn(dir / "conf"), 3) << "a file and two links: no temporary stays";
    EXPECT_EQ(EntriesIn(dir / "shared"), 1);

    // A link to a file not there yet creates it; a loop of links is refused.
    ASSERT_EQ(::symlink("fresh", (dir / "conf/dangling").c_str()), 0);
    ASSERT_TRUE(fs.ReplaceFile(dir / "conf/dangling", "x"));
    EXPECT_EQ(dir.Read("conf/fresh"), "x");
    ASSERT_EQ(::symlink("loop2", (dir / "conf/loop1").c_str()), 0);
    ASSERT_EQ(::symlink("loop1", (dir / "conf/loop2").c_str()), 0);
    EXPECT_FALSE(fs.ReplaceFile(dir / "conf/loop1", "x"));
}

TEST(PosixFileSystem, TemporaryOfAKilledReplaceIsRemovedByTheNextCleanUp) {
    TempFolder dir;
    dir.Write("conf/list", "keep me");
    PosixFileSystem fs;
    const int status = ReplaceBeyondAFileSizeLimit(fs, dir / "conf/list", true);
    ASSERT_TRUE(WIFSIGNALED(status)) << "the child was meant to die while writing";
    ASSERT_EQ(EntriesIn(dir / "conf"), 2) << "the list and the killed write's temporary";
    EXPECT_EQ(dir.Read("conf/list"), "keep me");

    // Names of other programs, of other files, and near misses of the
    // pattern stay.
    dir.Write("conf/.hidden", "");
    dir.Write("conf/list.qbtmp-abcdef", "");
    dir.Write("conf/.list.qbtmp-abc", "");
    dir.Write("conf/.list2.qbtmp-abcdef", "");
    dir.Write("conf/.qbtmp-abcdef", "");
    EXPECT_EQ(fs.RemoveLeftoverTemporaries(dir.WinPath() + "\\conf\\list"), 1);
    EXPECT_EQ(EntriesIn(dir / "conf"), 6);
    EXPECT_EQ(dir.Read("conf/list"), "keep me");
    EXPECT_EQ(fs.RemoveLeftoverTemporaries(dir / "missing/list"), 0);
}

}  // namespace
}  // namespace qb::platform

namespace qb::platform {
namespace {

TEST(PosixFileSystem, ListingMarksLinksSpecialFilesAndTheirKinds) {
    test::TempFolder dir;
    dir.Write("store/f.eml", "x");
    dir.Write("store/.hidden", "x");
    std::filesystem::create_directory_symlink(dir / "store", dir / "store/loop");
    std::filesystem::create_symlink(dir / "store/f.eml", dir / "store/g.eml");
    std::filesystem::create_symlink(dir / "nowhere", dir / "store/dangling");
    ASSERT_EQ(::mkfifo((dir / "store/pipe.eml").c_str(), 0600), 0);
    const int sock = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const std::string socketPath = dir / "store/socket.eml";
    ASSERT_LT(socketPath.size(), sizeof address.sun_path);
    std::strcpy(address.sun_path, socketPath.c_str());
    ASSERT_EQ(::bind(sock, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    PosixFileSystem fs;
    std::vector<FolderEntry> entries;
    ASSERT_TRUE(fs.ListFolder(dir / "store", entries));
    ::close(sock);
    struct Seen {
        PathKind kind;
        bool link, special;
        bool operator==(const Seen&) const = default;
    };
    std::map<std::string, Seen> seen;
    for (const FolderEntry& e : entries)
        seen[e.name] = {e.kind, e.link, e.special};
    EXPECT_EQ(seen,
              (std::map<std::string, Seen>{{".hidden", {PathKind::kHiddenFile, false, false}},
                                           {"dangling", {PathKind::kMissing, true, true}},
                                           {"f.eml", {PathKind::kFile, false, false}},
                                           {"g.eml", {PathKind::kFile, true, false}},
                                           {"loop", {PathKind::kFolder, true, false}},
                                           {"pipe.eml", {PathKind::kHiddenFile, false, true}},
                                           {"socket.eml", {PathKind::kHiddenFile, false, true}}}));
    std::string why;
    EXPECT_FALSE(fs.ListFolder(dir / "store/f.eml", entries, why));
    EXPECT_EQ(why, "Not a directory");
    EXPECT_EQ(fs.OpenForReading(dir / "store/pipe.eml"), nullptr) << "never opened, never waits";
}

}  // namespace
}  // namespace qb::platform
