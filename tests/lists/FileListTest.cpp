#include "scanner/lists/FileList.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/lists/ListFixture.h"
#include "tests/support/ReportCapture.h"

namespace qb::lists {
namespace {

using Strings = std::vector<std::string>;
constexpr const char* kPath = "C:\\Quellbox\\conf\\oesent";

class FileListTest : public test::ListFixture {
  protected:
    FileList Loaded(const std::string& content, int mode = 1) {
        fs.PutFile(kPath, content);
        FileList list;
        list.SetFileLocation(kPath);
        if (mode != 1)
            list.SetSortMode(mode);
        list.Load();
        return list;
    }
};

TEST_F(FileListTest, TrimsSkipsBlankLinesAndWritesInKeyOrder) {
    FileList list = Loaded("  b \r\n\r\na\r\n   \r\n");
    EXPECT_EQ(list.Count(), 2);
    EXPECT_EQ(list.Items(), (Strings{"a", "b"}));
    list.Save();
    EXPECT_EQ(fs.Content(kPath), "a\r\nb\r\n");
    EXPECT_TRUE(ui.boxes.empty());
}

TEST_F(FileListTest, CaseVariantsAreTwoEntries) {
    FileList list = Loaded("x\r\nX\r\n");
    EXPECT_EQ(list.Count(), 2);
    EXPECT_TRUE(list.Exists("x"));
    list.Remove("x");
    EXPECT_EQ(list.Count(), 1);
    list.Save();
    const std::string content = fs.Content(kPath);
    EXPECT_TRUE(content == "x\r\n" || content == "X\r\n") << content;
}

TEST_F(FileListTest, NumericListsSortByValue) {
    FileList list = Loaded("10\r\n9\r\n100\r\n", 0);
    list.Save();
    EXPECT_EQ(fs.Content(kPath), "9\r\n10\r\n100\r\n");
    EXPECT_TRUE(list.Exists("9.0"));
}

TEST_F(FileListTest, BadLinesInNumericListShowLoadListErrorOnceAndCostOnlyThemselves) {
    FileList list = Loaded("3\r\n1\r\nx\r\n2\r\ny\r\n10\r\n", 0);
    ASSERT_EQ(ui.boxes.size(), 1u) << "one message for the file, not one per bad line";
    EXPECT_EQ(ui.boxes[0].title, "LoadList Error");
    EXPECT_EQ(ui.boxes[0].text,
              "-2147221503:Key Invalid: Text keys are invalid when SortMode is Numeric");
    EXPECT_EQ(ui.boxes[0].style, platform::mb::kOk);
    EXPECT_EQ(list.Items(), (Strings{"1", "2", "3", "10"}));
    EXPECT_FALSE(list.Unreadable()) << "a bad line is no read failure: the file may be written";
    list.Save();
    EXPECT_EQ(fs.Content(kPath), "1\r\n2\r\n3\r\n10\r\n");
}

TEST_F(FileListTest, FileThatCannotBeReadIsReportedAndNeverWritten) {
    qb::test::ReportCapture reports;
    fs.PutUnreadableFile(kPath, "12\r\n15\r\n");
    FileList list;
    list.SetFileLocation(kPath);
    list.SetSortMode(0);
    list.Load();
    ASSERT_EQ(ui.boxes.size(), 1u);
    EXPECT_EQ(ui.boxes[0].title, "LoadList Error");
    EXPECT_EQ(ui.boxes[0].text, "70:Permission denied");
    EXPECT_EQ(reports.console,
              (Strings{"Unable to read C:\\Quellbox\\conf\\oesent; it is left unchanged in this "
                       "run."}));
    EXPECT_TRUE(list.Unreadable());
    EXPECT_EQ(list.Count(), 0);

    list.Add("20");
    list.Save();
    list.SaveAtomicOnly();
    std::string blank = " ";
    list.Save(blank);
    EXPECT_EQ(fs.WriteCount(), 0) << "the user's entries are not replaced by this run's";
    std::string other = "C:\\elsewhere\\copy";
    list.Save(other);
    EXPECT_EQ(fs.Content(other), "20\r\n") << "another file may still be written";
    EXPECT_EQ(reports.console.size(), 1u) << "said once";

    // Readable again: the next load takes it up as usual.
    fs.PutFile(kPath, "12\r\n");
    list.Load();
    EXPECT_FALSE(list.Unreadable());
    list.Add("20");
    list.Save();
    EXPECT_EQ(fs.Content(kPath), "12\r\n20\r\n");
}

TEST_F(FileListTest, SaveIsSyncedAndAtomicOnlySaveIsNot) {
    FileList list = Loaded("a\r\n");
    list.Add("b");
    list.SaveAtomicOnly();
    EXPECT_EQ(fs.Content(kPath), "a\r\nb\r\n");
    EXPECT_EQ(fs.LastDurability(kPath), platform::Durability::kAtomicOnly);
    EXPECT_EQ(fs.SyncedWriteCount(), 0);
    list.Save();
    EXPECT_EQ(fs.LastDurability(kPath), platform::Durability::kSynced);
    EXPECT_EQ(fs.SyncedWriteCount(), 1);
}

TEST_F(FileListTest, SaveWithExplicitOrBlankPath) {
    FileList list = Loaded("a\r\n");
    list.Add("b");
    std::string other = "C:\\elsewhere\\copy";
    list.Save(other);
    EXPECT_EQ(fs.Content(other), "a\r\nb\r\n");
    EXPECT_EQ(fs.Content(kPath), "a\r\n");
    EXPECT_EQ(other, "C:\\elsewhere\\copy");
    EXPECT_EQ(list.FileLocation(), kPath);

    std::string blank = "   ";
    list.Save(blank);
    EXPECT_EQ(blank, kPath);
    EXPECT_EQ(fs.Content(kPath), "a\r\nb\r\n");
}

TEST_F(FileListTest, MissingHiddenOrFolderFileLoadsEmptyWithoutMessage) {
    FileList list;
    list.SetFileLocation(kPath);
    list.Add("stale");
    list.Load();
    EXPECT_EQ(list.Count(), 0);
    fs.PutFile(kPath, "a\r\n", true);
    list.Load();
    EXPECT_EQ(list.Count(), 0);
    list.SetFileLocation("C:\\Quellbox\\conf");
    list.Load();
    EXPECT_EQ(list.Count(), 0);
    EXPECT_TRUE(ui.boxes.empty());
    list.SetFileLocation(kPath + std::string("2"));
    list.Save();  // a missing file comes into being on Save
    EXPECT_EQ(fs.Content(kPath + std::string("2")), "");
}

TEST_F(FileListTest, OrderedFileRoundTripsByteForByte) {
    const std::string original = "alpha\r\nBeta\r\ngamma\r\n";
    FileList list = Loaded(original);
    list.Save();
    EXPECT_EQ(fs.Content(kPath), original);
}

TEST_F(FileListTest, AnyLineEndAndAnyByteIsRead) {
    // CR LF, lone CR and lone LF all end a line; NUL, tabs and high bytes stay.
    std::string content = "c\rb\na\r\n";
    content += std::string("n\0ul", 4) + "\r\n";
    content += "\xE9t\xE9\t\r\n\xFF\x80";
    FileList list = Loaded(content);
    std::vector<std::string> items = list.Items();
    EXPECT_EQ(items, (Strings{"a", "b", "c", std::string("n\0ul", 4), "\xE9t\xE9\t", "\xFF\x80"}));
    list.Save();
    EXPECT_EQ(fs.Content(kPath),
              "a\r\nb\r\nc\r\n" + std::string("n\0ul", 4) + "\r\n\xE9t\xE9\t\r\n\xFF\x80\r\n");
}

TEST_F(FileListTest, FailedSaveRaisesAndLeavesTheOldFile) {
    FileList list = Loaded("a\r\n");
    list.Add("b");
    fs.SetWritesFail(true);
    try {
        list.Save();
        FAIL() << "a failed write was reported as success";
    } catch (const RunError& e) {
        EXPECT_EQ(e.Number(), err::kPathFileAccess);
    }
    EXPECT_EQ(fs.Content(kPath), "a\r\n");
}

TEST_F(FileListTest, SortModeIsRefusedAfterLoad) {
    FileList list = Loaded("a\r\n");
    try {
        list.SetSortMode(0);
        FAIL();
    } catch (const RunError& e) {
        EXPECT_EQ(e.Number(), err::kSortModeFailure);
    }
    EXPECT_EQ(list.SortMode(), 1);
}

}  // namespace
}  // namespace qb::lists
