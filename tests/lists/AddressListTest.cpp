#include "scanner/lists/AddressList.h"

#include <gtest/gtest.h>

#if !defined(_WIN32)
#include <sys/resource.h>
#endif
#include <string>

#include <csignal>
#include <filesystem>
#include <vector>

#include "tests/lists/ListFixture.h"
#include "tests/support/TempFolder.h"

namespace qb::lists {
namespace {

using Strings = std::vector<std::string>;
constexpr const char* kPath = "C:\\Quellbox\\conf\\blockedsenders";

class AddressListTest : public test::ListFixture {
  protected:
    AddressListTest() { list.SetFileLocation(kPath); }
    AddressList list;
};

TEST_F(AddressListTest, EveryChangeIsWrittenAtOnceAndSyncedOutsideAPhase) {
    list.Add("b@x.com");
    EXPECT_EQ(fs.Content(kPath), "b@x.com\r\n");
    list.Add("a@x.com");
    EXPECT_EQ(fs.Content(kPath), "a@x.com\r\nb@x.com\r\n");
    list.Remove("b@x.com");
    EXPECT_EQ(fs.Content(kPath), "a@x.com\r\n");
    EXPECT_EQ(fs.WriteCount(), 3);
    EXPECT_EQ(fs.SyncedWriteCount(), 3) << "no record keeps an unsynced rewrite recoverable";
}

TEST_F(AddressListTest, UnreadableFileKeepsTheUsersEntries) {
    fs.PutUnreadableFile(kPath, "user@typed.com\r\n");
    list.Load();
    ASSERT_EQ(ui.boxes.size(), 1u);
    EXPECT_EQ(ui.boxes[0].title, "LoadList Error");
    EXPECT_TRUE(list.Unreadable());
    list.Add("new@x.com");
    list.Remove("new@x.com");
    list.Add("other@x.com");
    list.Save();
    EXPECT_EQ(fs.WriteCount(), 0);
    EXPECT_EQ(fs.Content(kPath), "user@typed.com\r\n");
}

TEST_F(AddressListTest, DuplicateAddShowsMessageAndChangesNothing) {
    list.Add("abc");
    EXPECT_TRUE(list.Exists("ABC"));
    const int writes = fs.WriteCount();
    list.Add("ABC");
    ASSERT_EQ(ui.boxes.size(), 1u);
    EXPECT_EQ(ui.boxes[0].text, "Entry is already on the list");
    EXPECT_EQ(ui.boxes[0].title, "Gleanwick");
    EXPECT_EQ(ui.boxes[0].style, platform::mb::kOk);
    EXPECT_EQ(fs.WriteCount(), writes);
    EXPECT_EQ(fs.Content(kPath), "abc\r\n");
}

TEST_F(AddressListTest, EveryChangeRewritesTheFileInOrder) {
    list.Add("zed@x.com");
    list.Add("Bob@y.com");
    list.Add("alice@z.com");
    EXPECT_EQ(fs.Content(kPath), "alice@z.com\r\nBob@y.com\r\nzed@x.com\r\n");
    list.Remove("BOB@Y.COM");
    EXPECT_EQ(fs.Content(kPath), "alice@z.com\r\nzed@x.com\r\n");
    EXPECT_EQ(list.Count(), 2);
    EXPECT_EQ(list.Items(), (Strings{"alice@z.com", "zed@x.com"}));
}

TEST_F(AddressListTest, SpacesStayInMemoryAndGoOnReload) {
    list.Add("  spaced@x.com ");
    EXPECT_EQ(list.Items(), (Strings{"  spaced@x.com "}));
    EXPECT_EQ(fs.Content(kPath), "  spaced@x.com \r\n");
    list.Load();
    EXPECT_EQ(list.Items(), (Strings{"spaced@x.com"}));
}

TEST_F(AddressListTest, RemovingAnAbsentAddressWritesNothing) {
    list.Add("a@b.c");
    const int writes = fs.WriteCount();
    list.Remove("x@y.z");
    EXPECT_EQ(fs.WriteCount(), writes);
}

TEST_F(AddressListTest, ImportTrimsLowersSkipsAndWritesOnce) {
    fs.PutFile("C:\\import.txt", "XYZ\r\n\r\n  xyz \r\nKnown@Host\r\n");
    list.Add("known@host");
    const int writes = fs.WriteCount();
    list.Import("C:\\import.txt");
    EXPECT_EQ(fs.WriteCount(), writes + 1);
    EXPECT_EQ(list.Items(), (Strings{"known@host", "xyz"}));
    EXPECT_EQ(fs.Content(kPath), "known@host\r\nxyz\r\n");
    EXPECT_TRUE(ui.boxes.empty());
}

TEST_F(AddressListTest, ImportOfAMissingFileStillWrites) {
    list.Import("C:\\nothing.txt");
    EXPECT_EQ(fs.Content(kPath), "");
    EXPECT_EQ(fs.WriteCount(), 1);
}

TEST_F(AddressListTest, SaveToAnotherPathLeavesFileLocation) {
    list.Add("a@b.c");
    list.Save("C:\\copy");
    EXPECT_EQ(fs.Content("C:\\copy"), "a@b.c\r\n");
    list.Clear();
    EXPECT_EQ(list.Count(), 0);
    EXPECT_EQ(fs.Content(kPath), "a@b.c\r\n");  // Clear writes nothing
    list.Save("  ");
    EXPECT_EQ(fs.Content(kPath), "");
    EXPECT_EQ(list.FileLocation(), kPath);
}

TEST_F(AddressListTest, FailedWriteRaisesAndKeepsTheOldFile) {
    list.Add("first@x.com");
    fs.SetWritesFail(true);
    EXPECT_THROW(list.Add("second@x.com"), RunError);
    EXPECT_EQ(fs.Content(kPath), "first@x.com\r\n");
    EXPECT_TRUE(list.Exists("second@x.com"));  // already changed in memory
}

// A file-size limit makes the real write fail part-way, as a full disk would.
// Posix only: the file size limit of the process stands in for a full disk.
#if !defined(_WIN32)
TEST(AddressListOnDisk, WriteFailingPartWayKeepsTheOldFileIntact) {
    qb::test::TempFolder dir;
    const std::string old = "old@x.com\r\n";
    dir.Write("conf/approvedsenders", old);
    AddressList list;
    list.SetFileLocation(dir.WinPath() + "\\conf\\approvedsenders");
    list.Load();
    ASSERT_EQ(list.Count(), 1);

    struct rlimit saved;
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
    void (*savedHandler)(int) = std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit small = saved;
    small.rlim_cur = 16;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    bool raised = false;
    try {
        list.Add("a-rather-long-new-address@example.com");
    } catch (const RunError&) {
        raised = true;
    }
    ::setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, savedHandler);

    EXPECT_TRUE(raised);
    EXPECT_EQ(dir.Read("conf/approvedsenders"), old);
    int files = 0;
    for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(dir / "conf"))
        ++files;
    EXPECT_EQ(files, 1) << "a temporary file was left behind";
}
#endif

}  // namespace
}  // namespace qb::lists
