// The operating system's file system (posix or Windows, whichever this is
// built for) against a real temporary folder, and the in-memory double
// against the same expectations where they share them. What only one system
// has is tested in PosixFileSystemTest.cpp and Win32PlatformTest.cpp.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/FileSystem.h"
#include "platform/Platform.h"
#include "platform/memory/MemoryFileSystem.h"
#include "tests/support/TempFolder.h"

namespace qb::platform {
namespace {

using test::TempFolder;

TEST(FileSystem, KindsOfFilesFoldersAndMissingPaths) {
    TempFolder dir;
    dir.Write("conf/quellbox.conf", "a=b\r\n");
    FileSystem& fs = DefaultFileSystem();
    EXPECT_EQ(fs.Kind(dir.WinPath() + "\\conf\\quellbox.conf"), PathKind::kFile);
    EXPECT_EQ(fs.Kind(dir.WinPath() + "\\conf"), PathKind::kFolder);
    EXPECT_EQ(fs.Kind(dir.WinPath() + "\\conf\\nothing"), PathKind::kMissing);
    EXPECT_EQ(fs.Kind(dir.WinPath() + "\\nothing\\quellbox.conf"), PathKind::kMissing);
    EXPECT_EQ(fs.Kind(""), PathKind::kMissing);
    EXPECT_TRUE(IsOrdinaryFile(fs, dir / "conf/quellbox.conf"));
    EXPECT_FALSE(IsOrdinaryFile(fs, dir / "conf"));
    EXPECT_TRUE(PathExists(fs, dir / "conf"));
    EXPECT_FALSE(PathExists(fs, dir / "conf/nothing"));
}

TEST(FileSystem, ReadsWholeFilesWithEveryByteValue) {
    TempFolder dir;
    std::string all;
    for (int i = 0; i < 256; ++i)
        all += static_cast<char>(i);
    dir.Write("bytes", all);
    dir.Write("large", std::string(200000, 'q'));
    FileSystem& fs = DefaultFileSystem();
    std::string out = "old";
    ASSERT_TRUE(fs.ReadFile(dir.WinPath() + "\\bytes", out));
    EXPECT_EQ(out, all);
    ASSERT_TRUE(fs.ReadFile(dir / "large", out));
    EXPECT_EQ(out, std::string(200000, 'q'));
    EXPECT_EQ(fs.FileSize(dir / "bytes"), 256);
    EXPECT_EQ(fs.FileSize(dir / "missing"), -1);
    EXPECT_EQ(fs.FileSize(dir.Path()), -1);
    EXPECT_FALSE(fs.ReadFile(dir.Path(), out));
    EXPECT_EQ(out, "") << "a failed read leaves nothing behind";
    out = "old";
    EXPECT_FALSE(fs.ReadFile(dir / "missing", out));
    EXPECT_EQ(out, "");
}

TEST(FileSystem, ReplaceWritesTheNewContentAndLeavesNoTemporaryFile) {
    TempFolder dir;
    dir.Write("list", "old content\r\n");
    FileSystem& fs = DefaultFileSystem();
    ASSERT_TRUE(fs.ReplaceFile(dir.WinPath() + "\\list", "new\r\n"));
    EXPECT_EQ(dir.Read("list"), "new\r\n");
    ASSERT_TRUE(fs.ReplaceFile(dir / "fresh", ""));
    EXPECT_EQ(dir.Read("fresh"), "");
    std::string big(300000, '\0');
    for (size_t i = 0; i < big.size(); ++i)
        big[i] = static_cast<char>(i * 7);
    ASSERT_TRUE(fs.ReplaceFile(dir / "fresh", big));
    EXPECT_EQ(dir.Read("fresh"), big);
    EXPECT_EQ(dir.Entries(), 2);
}

TEST(FileSystem, FailedReplaceKeepsTheOldStateAndLeavesNoTemporaryFile) {
    TempFolder dir;
    FileSystem& fs = DefaultFileSystem();
    EXPECT_FALSE(fs.ReplaceFile(dir / "no/such/folder/list", "x"));
    EXPECT_FALSE(fs.ReplaceFile("", "x"));
    dir.Write("list", "keep me");
    // A folder in the way of the target: the rename fails, the temporary file goes.
    std::filesystem::create_directory(dir / "sub");
    EXPECT_FALSE(fs.ReplaceFile(dir / "sub", "x"));
    EXPECT_TRUE(std::filesystem::is_directory(dir / "sub"));
    EXPECT_EQ(dir.Read("list"), "keep me");
    EXPECT_EQ(dir.Entries(), 2);
}

TEST(FileSystem, AppendCopyDeleteAndFolders) {
    TempFolder dir;
    FileSystem& fs = DefaultFileSystem();
    EXPECT_TRUE(fs.AppendFile(dir / "log", "one\r\n"));
    EXPECT_TRUE(fs.AppendFile(dir.WinPath() + "\\log", "two\r\n"));
    EXPECT_EQ(dir.Read("log"), "one\r\ntwo\r\n");
    EXPECT_TRUE(fs.CopyFile(dir / "log", dir / "copy"));
    EXPECT_EQ(dir.Read("copy"), "one\r\ntwo\r\n");
    EXPECT_TRUE(fs.AppendFile(dir / "copy", "three"));
    EXPECT_EQ(dir.Read("log"), "one\r\ntwo\r\n") << "the copy is a file of its own";
    EXPECT_FALSE(fs.CopyFile(dir / "missing", dir / "copy2"));
    EXPECT_FALSE(dir.Exists("copy2"));
    EXPECT_TRUE(fs.DeleteFile(dir / "copy"));
    EXPECT_FALSE(fs.DeleteFile(dir / "copy"));
    EXPECT_TRUE(fs.CreateFolder(dir.WinPath() + "\\a\\b\\c"));
    EXPECT_TRUE(fs.CreateFolder(dir.WinPath() + "\\a\\b\\c")) << "an existing folder is fine";
    EXPECT_EQ(fs.Kind(dir / "a/b/c"), PathKind::kFolder);
    EXPECT_FALSE(fs.DeleteFile(dir / "a/b/c"));
    EXPECT_FALSE(fs.AppendFile(dir / "a/b/c", "x"));
    EXPECT_FALSE(fs.CreateFolder(dir / "log/sub"));
    EXPECT_FALSE(fs.CreateFolder(""));
}

// Positioned reads of an open file see what the file holds at each read:
// another program may cut it short or write it anew meanwhile.
void CheckPositionedReads(FileSystem& fs, const std::string& path,
                          const std::function<void(const std::string&)>& rewrite) {
    rewrite("0123456789");
    std::unique_ptr<ReadableFile> file = fs.OpenForReading(path);
    ASSERT_NE(file, nullptr);
    char buf[8] = {};
    ASSERT_EQ(file->ReadAt(3, buf, 4), 4);
    EXPECT_EQ(std::string(buf, 4), "3456");
    ASSERT_EQ(file->ReadAt(8, buf, 4), 2) << "a read across the end stops there";
    EXPECT_EQ(std::string(buf, 2), "89");
    EXPECT_EQ(file->ReadAt(10, buf, 4), 0);
    EXPECT_EQ(file->ReadAt(1000, buf, 4), 0);
    EXPECT_EQ(file->ReadAt(-1, buf, 4), -1);
    rewrite("abcde");
    EXPECT_EQ(file->ReadAt(3, buf, 4), 2);
    EXPECT_EQ(std::string(buf, 2), "de");
    EXPECT_EQ(file->ReadAt(6, buf, 4), 0);
    rewrite("ABCDEFGHIJKL");
    ASSERT_EQ(file->ReadAt(8, buf, 4), 4);
    EXPECT_EQ(std::string(buf, 4), "IJKL");
}

TEST(FileSystem, PositionedReadsOfAFileOthersChange) {
    TempFolder dir;
    FileSystem& fs = DefaultFileSystem();
    CheckPositionedReads(fs, dir.WinPath() + "\\store.dbx",
                         [&](const std::string& content) { dir.Write("store.dbx", content); });
    EXPECT_EQ(fs.OpenForReading(dir / "missing"), nullptr);
    EXPECT_EQ(fs.OpenForReading(dir.WinPath()), nullptr) << "a folder is never read";
}

TEST(MemoryFileSystem, PositionedReadsOfAFileOthersChange) {
    MemoryFileSystem fs;
    CheckPositionedReads(fs, "C:\\Store\\Inbox.dbx", [&](const std::string& content) {
        fs.PutFile("C:\\Store\\Inbox.dbx", content);
    });
    std::unique_ptr<ReadableFile> file = fs.OpenForReading("C:/Store/Inbox.dbx");
    ASSERT_NE(file, nullptr);
    ASSERT_TRUE(fs.DeleteFile("C:\\Store\\Inbox.dbx"));
    char buf[4];
    EXPECT_EQ(file->ReadAt(0, buf, 4), -1) << "a file gone meanwhile fails the read";
    EXPECT_EQ(fs.OpenForReading("C:\\Store\\Inbox.dbx"), nullptr);
    EXPECT_EQ(fs.OpenForReading("C:\\Store"), nullptr);
}

// A folder listing: names without the folder part, the kind of each entry,
// "." and ".." left out; a file or a missing path is no folder.
void CheckListing(FileSystem& fs, const std::string& root,
                  const std::function<void(const std::string&)>& put) {
    put("a.eml");
    put("sub/b.eml");
    std::vector<FolderEntry> entries;
    ASSERT_TRUE(fs.ListFolder(root, entries));
    std::map<std::string, PathKind> kinds;
    for (const FolderEntry& e : entries) {
        kinds[e.name] = e.kind;
        EXPECT_FALSE(e.link) << e.name;
        EXPECT_FALSE(e.special) << e.name;
    }
    EXPECT_EQ(kinds, (std::map<std::string, PathKind>{{"a.eml", PathKind::kFile},
                                                      {"sub", PathKind::kFolder}}));
    std::string why;
    EXPECT_FALSE(fs.ListFolder(root + "\\a.eml", entries, why));
    EXPECT_TRUE(entries.empty());
    EXPECT_FALSE(why.empty()) << "the system's reason";
    why.clear();
    EXPECT_FALSE(fs.ListFolder(root + "\\missing", entries, why));
    EXPECT_FALSE(why.empty());
    ASSERT_TRUE(fs.ListFolder(root + "\\sub", entries));
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].name, "b.eml");
}

TEST(FileSystem, ListsFolders) {
    TempFolder dir;
    CheckListing(DefaultFileSystem(), dir.WinPath(),
                 [&](const std::string& name) { dir.Write(name, "x"); });
}

TEST(MemoryFileSystem, ListsFolders) {
    MemoryFileSystem fs;
    CheckListing(fs, "C:\\Store",
                 [&](const std::string& name) { fs.PutFile("C:/Store/" + name, "x"); });
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
