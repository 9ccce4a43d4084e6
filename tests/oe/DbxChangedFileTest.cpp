// The reader keeps only the records, not the file: a body is read from the
// file as it is when getBody is called. A file cut short or written anew by
// another program in between must neither crash the reader nor make it read
// outside the file; where the body chain no longer holds, getBody fails by
// its usual rules (empty text, ErrNo 7). Also the loader's checks as the
// reader makes them now: the free-memory test and the largest file.
#include <filesystem>

#include "platform/Platform.h"
#include "platform/memory/FixedSystemInfo.h"
#include "platform/memory/MemoryFileSystem.h"
#include "strings/ScannerCString.h"
#include "tests/oe/DbxTestSupport.h"

namespace qb::oe {
namespace {

const std::string kOutside = "CString::getBytes Error -2147220992 : Index out of bounds";

class ChangedFile : public DbxTest {
  protected:
    // A store of one message whose body is three blocks of 512, 512 and 40
    // bytes, all of them `fill`.
    static std::string OneMessage(char fill) {
        dbx::Message m = Numbered(1)[0];
        m.body = std::string(1064, fill);
        return dbx::MessageFile({m});
    }
    // Opens the store without bodies and returns the first block's offset.
    int32_t OpenOne(CDbx& reader, const std::string& bytes) {
        path_ = Store(bytes);
        EXPECT_TRUE(reader.openFile(path_, false));
        EXPECT_EQ(reader.EMails().Count(), 1);
        report.console.clear();
        return reader.EMails().item(1)->DataOffset();
    }
    void Rewrite(const std::string& bytes) { folder.Write("Inbox.dbx", bytes); }
    std::string path_;
};

TEST_F(ChangedFile, BodyOfAFileCutShortFailsInsideTheOldSize) {
    const std::string bytes = OneMessage('a');
    for (int32_t keep : {0, 1, 16 + 512 + 8, 16 + 512 + 16 + 511}) {
        SCOPED_TRACE(keep);
        CDbx reader;
        const int32_t body = OpenOne(reader, bytes);
        ASSERT_GT(body, 0);
        ASSERT_EQ(reader.getBody(body), std::string(1064, 'a'));
        Rewrite(bytes.substr(0, static_cast<size_t>(body + keep)));
        EXPECT_EQ(reader.getBody(body), "");
        EXPECT_EQ(reader.ErrNo(), "7");
        EXPECT_EQ(report.console, std::vector<std::string>{kOutside});
        // The records stay as they were read.
        EXPECT_EQ(reader.EMails().item("M_1")->SenderEMail(), "sender1@example.com");
        report.console.clear();
    }
}

TEST_F(ChangedFile, BodyOfAFileWrittenAnewIsReadAsTheFileIsNow) {
    CDbx reader;
    const int32_t body = OpenOne(reader, OneMessage('a'));
    Rewrite(OneMessage('b'));
    EXPECT_EQ(reader.getBody(body), std::string(1064, 'b'));
    EXPECT_EQ(reader.ErrNo(), "0");
    EXPECT_TRUE(report.console.empty());
    EXPECT_EQ(reader.EMails().item(1)->Body(), "") << "opened without bodies";
}

TEST_F(ChangedFile, ChainOfAFileWrittenAnewEndsWithinTheSizeFirstSeen) {
    const std::string bytes = OneMessage('a');
    CDbx reader;
    const int32_t body = OpenOne(reader, bytes);
    const int32_t third = body + 2 * (16 + 512);

    // Longer now, the last block leading into the new bytes: the reader
    // stays inside the size the file had when it was opened.
    std::string grown = bytes + std::string(4096, 'z');
    const uint32_t past = static_cast<uint32_t>(bytes.size() + 100);
    for (int i = 0; i < 4; ++i)
        grown[static_cast<size_t>(third + 0x0C + i)] = static_cast<char>(past >> (8 * i));
    Rewrite(grown);
    EXPECT_EQ(reader.getBody(body), "");
    EXPECT_EQ(reader.ErrNo(), "7");
    EXPECT_EQ(report.console, std::vector<std::string>{kOutside});

    // A chain made to loop ends by the size budget, quietly.
    report.console.clear();
    std::string looping = bytes;
    for (int i = 0; i < 4; ++i)
        looping[static_cast<size_t>(third + 0x0C + i)] = static_cast<char>(body >> (8 * i));
    Rewrite(looping);
    EXPECT_EQ(reader.getBody(body), "");
    EXPECT_EQ(reader.ErrNo(), "7");
    EXPECT_TRUE(report.console.empty());

    // The file as it was reads as before.
    Rewrite(bytes);
    EXPECT_EQ(reader.getBody(body), std::string(1064, 'a'));
    EXPECT_EQ(reader.ErrNo(), "0");
}

TEST_F(ChangedFile, RecordsOutliveTheFile) {
    CDbx reader;
    const int32_t body = OpenOne(reader, OneMessage('a'));
    std::filesystem::remove(folder / "Inbox.dbx");
    EXPECT_EQ(reader.EMails().item("M_1")->SenderEMail(), "sender1@example.com");
    for (const auto& m : reader.EMails())
        EXPECT_EQ(m->SenderEMail(), "sender1@example.com");
    EXPECT_EQ(reader.getBody(body), "");
    EXPECT_EQ(reader.ErrNo(), "7");
    EXPECT_EQ(report.console, std::vector<std::string>{kOutside});
}

TEST_F(ChangedFile, MessagesOpenedWithBodiesKeepThem) {
    const std::string path = Store(OneMessage('q'));
    CDbx reader;
    ASSERT_TRUE(reader.openFile(path, true));
    std::filesystem::remove(folder / "Inbox.dbx");
    EXPECT_EQ(reader.EMails().item(1)->Body(), std::string(1064, 'q'));
    for (const auto& m : reader.EMails())
        EXPECT_EQ(m->Body(), std::string(1064, 'q'));
}

// The reader keeps at most the records, never the whole file: it asks for
// one megabyte of free memory per megabyte of file, and refuses with the
// loader's message below that.
TEST_F(DbxTest, FreeMemoryTestAsksForTheFileSize) {
    platform::MemoryFileSystem fs;
    platform::FixedSystemInfo memory(0);
    platform::ScopedServices scope{{.files = &fs, .system = &memory}};
    const std::string path = "C:\\Store\\Inbox.dbx";
    const std::string bytes = dbx::MessageFile(Numbered(3));
    fs.PutFile(path, bytes);

    memory.SetAvailable(bytes.size() - 1);
    CDbx refused;
    EXPECT_FALSE(refused.openFile(path, false));
    const std::string line = "Insufficient physical memory available to scan " + path;
    EXPECT_EQ(report.status, std::vector<std::string>{line});
    EXPECT_EQ(report.console.front(), line);
    EXPECT_EQ(refused.EMails().Count(), 0);

    memory.SetAvailable(bytes.size());
    CDbx opened;
    EXPECT_TRUE(opened.openFile(path, false));
    EXPECT_EQ(Ids(opened.EMails()), Descending(3));

    // The scan limit still decides alone when it is set.
    scanner::SetScanLimit(static_cast<int32_t>(bytes.size()));
    memory.SetAvailable(0);
    CDbx limited;
    const bool withinLimit = limited.openFile(path, false);
    scanner::SetScanLimit(0);
    EXPECT_TRUE(withinLimit);
}

// Offsets in a store are signed 32-bit, so any file up to 2 GiB - 1 is read
// (sparse files here: the bytes after the header cost no disk).
TEST_F(DbxTest, FilesUpToTheLargestOffsetOpen) {
    platform::FixedSystemInfo memory(uint64_t{64} << 30);
    platform::ScopedServices scope{{.system = &memory}};
    const std::string path = Store(dbx::MessageFile({}));
    std::filesystem::resize_file(folder / "Inbox.dbx", (uint64_t{3} << 29));  // 1.5 GiB
    CDbx big;
    EXPECT_TRUE(big.openFile(path, false));
    EXPECT_EQ(big.IndexCount(), 0);
    EXPECT_TRUE(report.console.empty());

    std::filesystem::resize_file(folder / "Inbox.dbx", uint64_t{1} << 31);
    CDbx tooBig;
    EXPECT_FALSE(tooBig.openFile(path, false));
    EXPECT_EQ(report.console,
              (std::vector<std::string>{"loadBinary() Error 6 : Overflow", kOutside,
                                        "openFile() Error -2147220990 : Read outside the file"}));
}

}  // namespace
}  // namespace qb::oe
