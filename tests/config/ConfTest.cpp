#include "scanner/config/Conf.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/Platform.h"
#include "platform/memory/MemoryFileSystem.h"
#include "platform/memory/RecordingUserInterface.h"

namespace qb::config {
namespace {

constexpr const char* kPath = "C:\\Quellbox\\conf\\quellbox.conf";

class ConfTest : public ::testing::Test {
  protected:
    Conf Loaded(const std::string& content) {
        fs.PutFile(kPath, content);
        Conf conf;
        conf.SetConfigFile(kPath);
        conf.Load();
        return conf;
    }
    std::string File() const { return fs.Content(kPath); }

    platform::MemoryFileSystem fs;
    platform::RecordingUserInterface ui;
    platform::ScopedServices scope{{.files = &fs, .ui = &ui}};
};

TEST_F(ConfTest, CommentsAndLinesWithoutEqualsAreNotValues) {
    Conf conf = Loaded("a=1\r\n#a=2\r\nb\r\n");
    EXPECT_EQ(conf.GetValue("a"), "1");
    EXPECT_FALSE(conf.GetValue("b").has_value());
    EXPECT_FALSE(conf.GetValue("#a").has_value());
}

TEST_F(ConfTest, NothingIsTrimmedAndOnlyTheFirstEqualsSplits) {
    Conf conf = Loaded("key = value\r\na=b=c\r\n");
    EXPECT_EQ(conf.GetValue("key "), " value");
    EXPECT_FALSE(conf.GetValue("key").has_value());
    EXPECT_EQ(conf.GetValue("a"), "b=c");
    EXPECT_EQ(conf.GetValue("A"), "b=c");
    EXPECT_TRUE(conf.ValueExists("KEY "));
}

TEST_F(ConfTest, EmptyValueIsPresentButMissingKeyIsNot) {
    Conf conf = Loaded("empty=\r\n");
    EXPECT_EQ(conf.GetValue("empty"), "");
    EXPECT_FALSE(conf.GetValue("other").has_value());
}

TEST_F(ConfTest, MissingOrHiddenFileLoadsNothing) {
    Conf conf;
    conf.SetConfigFile(kPath);
    conf.Load();
    EXPECT_FALSE(conf.ValueExists("a"));
    fs.PutFile(kPath, "a=1\r\n", true);
    conf.Load();
    EXPECT_FALSE(conf.ValueExists("a"));
}

TEST_F(ConfTest, LastOccurrenceWinsAndLoadingTwiceKeepsOneValue) {
    Conf conf = Loaded("a=1\r\nA=2\r\n");
    EXPECT_EQ(conf.GetValue("a"), "2");
    conf.SetValue("a", "3");
    EXPECT_EQ(conf.GetValue("a"), "3");
    conf.Load();
    EXPECT_EQ(conf.GetValue("a"), "2");
    conf.SetValue("a", "9");
    conf.Save();
    EXPECT_EQ(File(), "a=9\r\nA=9\r\n");  // every line of the key gets the value
}

TEST_F(ConfTest, SaveKeepsLayoutRewritesInPlaceAndAppendsNewKeys) {
    Conf conf = Loaded("# settings\r\na=1\r\n \r\nnoequals\r\nb=2\r\nother=x\r\n");
    conf.SetValue("a", "");
    conf.SetValue("B", "20");
    conf.SetValue("n", "5");
    conf.SetValue("blank", "");
    conf.Save();
    EXPECT_EQ(File(), "# settings\r\n\r\nb=20\r\nother=x\r\nn=5\r\n");
    EXPECT_TRUE(ui.boxes.empty());
}

TEST_F(ConfTest, SaveWithNothingInMemoryRaisesAndWritesNothing) {
    Conf conf = Loaded("# only a comment\r\n");
    EXPECT_THROW(conf.Save(), RunError);
    EXPECT_EQ(File(), "# only a comment\r\n");
    EXPECT_EQ(fs.WriteCount(), 0);
}

TEST_F(ConfTest, WriteValueComparesKeysWithCase) {
    Conf conf = Loaded("key=1\r\n#c\r\nx\r\n");
    conf.WriteValue("Key", "2");
    EXPECT_EQ(File(), "key=1\r\n#c\r\nKey=2\r\n");
    conf.WriteValue("key", "3");
    EXPECT_EQ(File(), "key=3\r\n#c\r\nKey=2\r\n");
    EXPECT_EQ(conf.GetValue("key"), "1");  // memory is not changed
}

TEST_F(ConfTest, MissingFileIsCreatedBySaveAndWriteValue) {
    Conf conf;
    conf.SetConfigFile(kPath);
    conf.Load();
    conf.WriteValue("dbg_verbose_level", "8");
    EXPECT_EQ(File(), "dbg_verbose_level=8\r\n");

    fs.DeleteFile(kPath);
    conf.SetValue("b", "2");
    conf.SetValue("a", "1");
    conf.SetValue("c", "");
    conf.Save();
    EXPECT_EQ(File(), "a=1\r\nb=2\r\n");
    EXPECT_TRUE(ui.boxes.empty());
}

TEST_F(ConfTest, HiddenFileIsNeverReplaced) {
    fs.PutFile(kPath, "a=1\r\n", true);
    Conf conf;
    conf.SetConfigFile(kPath);
    conf.SetValue("a", "2");
    conf.Save();
    conf.WriteValue("a", "3");
    EXPECT_EQ(File(), "a=1\r\n");
    ASSERT_EQ(ui.boxes.size(), 2u);
    EXPECT_EQ(ui.boxes[0].text, "75 : Path/File access error");
}

TEST_F(ConfTest, FailedWriteShowsMessageAndKeepsTheOldFile) {
    Conf conf = Loaded("a=1\r\n");
    conf.SetValue("a", "2");
    fs.SetWritesFail(true);
    conf.Save();
    conf.WriteValue("a", "3");
    EXPECT_EQ(File(), "a=1\r\n");
    ASSERT_EQ(ui.boxes.size(), 2u);
    EXPECT_EQ(ui.boxes[0].text, "75 : Path/File access error");
    EXPECT_EQ(ui.boxes[0].title, "Gleanwick");
    EXPECT_FALSE(fs.Has(std::string(kPath) + ".tmp"));
}

TEST_F(ConfTest, LineEndsAndUnusualBytes) {
    // Lone CR and lone LF end lines as CR LF does; NUL and high bytes stay.
    std::string content = "a=1\rb=2\nc=3\r\n";
    content += std::string("nul=x\0y", 7) + "\r\nhigh=\xE9\xFF\x80\r\nlast=no line end";
    Conf conf = Loaded(content);
    EXPECT_EQ(conf.GetValue("a"), "1");
    EXPECT_EQ(conf.GetValue("b"), "2");
    EXPECT_EQ(conf.GetValue("c"), "3");
    EXPECT_EQ(conf.GetValue("nul"), std::string("x\0y", 3));
    EXPECT_EQ(conf.GetValue("high"), "\xE9\xFF\x80");
    EXPECT_EQ(conf.GetValue("last"), "no line end");
    conf.SetValue("b", "22");
    conf.Save();
    EXPECT_EQ(File(), "a=1\r\nb=22\r\nc=3\r\n" + std::string("nul=x\0y", 7) +
                          "\r\nhigh=\xE9\xFF\x80\r\nlast=no line end\r\n");
}

}  // namespace
}  // namespace qb::config
