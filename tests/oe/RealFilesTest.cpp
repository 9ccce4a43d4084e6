// Real Outlook Express files: each opens, yields its header's record count
// with plausible dates, and the folder file names the files beside it.
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "scanner/oe/CDbx.h"
#include "tests/support/ReportCapture.h"

namespace qb::oe {
namespace {

const std::string kData = QB_DBX_TESTDATA;

std::string RealFile(const std::string& name) {
    return kData + "/" + name;
}

int32_t HeaderCount(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (bytes.size() < 0xC8)
        return -1;
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data()) + 0xC4;
    return static_cast<int32_t>(p[0] | p[1] << 8 | p[2] << 16 | static_cast<uint32_t>(p[3]) << 24);
}

class RealFiles : public ::testing::Test {
  protected:
    void SetUp() override {
        if (kData.empty() || !std::filesystem::exists(kData))
            GTEST_SKIP() << "no real .dbx files here";
    }
    test::ReportCapture report{0};
};

TEST_F(RealFiles, EveryMessageFileOpensWithItsHeaderCountAndPlausibleDates) {
    struct Case {
        const char* name;
        int count;
    };
    for (const Case& c :
         {Case{"Mail-Transport-Dbx/test.dbx", 1}, Case{"Mail-Transport-Dbx/test1.dbx", 1},
          Case{"DbxOutlookExpress/Inbox.dbx", 1}, Case{"DbxOutlookExpress/Outbox.dbx", 0}}) {
        SCOPED_TRACE(c.name);
        const std::string path = RealFile(c.name);
        CDbx reader;
        ASSERT_TRUE(reader.openFile(path, true));
        EXPECT_EQ(reader.ErrNo(), "0");
        EXPECT_EQ(reader.FileType(), dbxTypeEmail);
        EXPECT_EQ(reader.IndexCount(), HeaderCount(path));
        EXPECT_EQ(reader.EMails().Count(), c.count);
        for (const auto& m : reader.EMails()) {
            const int year = std::stoi(m->MailDate().substr(0, 4));
            EXPECT_GE(year, 1996) << m->MailDate();
            EXPECT_LE(year, 2030) << m->MailDate();
            EXPECT_EQ(m->MailDate().size(), 19u);
            EXPECT_NE(m->SenderEMail(), "");
            EXPECT_GT(m->DataOffset(), 0);
            EXPECT_NE(m->Body(), "");
        }
    }
    EXPECT_TRUE(report.console.empty());
}

TEST_F(RealFiles, MessagesCarryTheirSendersAndBodies) {
    CDbx spam;
    ASSERT_TRUE(spam.openFile(RealFile("Mail-Transport-Dbx/test.dbx"), false));
    EXPECT_EQ(spam.EMails().item(1)->SenderEMail(), "off_1@webstation.com");
    EXPECT_EQ(spam.EMails().item(1)->Subject(), "Please read you won't be sorry........");

    CDbx fresh;
    ASSERT_TRUE(fresh.openFile(RealFile("Mail-Transport-Dbx/test1.dbx"), true));
    const auto m = fresh.EMails().item(1);
    EXPECT_EQ(m->SenderEMail(), "noreply@freshmeat.net");
    EXPECT_EQ(m->Subject(), "[fmII] centericq 4.7.5 released (Default branch)");
    EXPECT_NE(m->Body().find("centericq"), std::string::npos);

    CDbx welcome;
    ASSERT_TRUE(welcome.openFile(RealFile("DbxOutlookExpress/Inbox.dbx"), false));
    EXPECT_EQ(welcome.EMails().item(1)->SenderEMail(), "msoe@microsoft.com");
}

// The largest file (28 messages, UTF-8 encoded-word subjects) is not carried
// in the repository; it is checked when the data folder holds it.
TEST_F(RealFiles, LargeMessageFileYieldsEverySender) {
    const std::string path = RealFile("IPED/test_OutlookDBX.dbx");
    if (!std::filesystem::exists(path))
        GTEST_SKIP() << "not in this data folder: " << path;
    CDbx iped;
    ASSERT_TRUE(iped.openFile(path, true));
    EXPECT_EQ(iped.IndexCount(), HeaderCount(path));
    EXPECT_EQ(iped.EMails().Count(), 28);
    int oliver = 0, marcus = 0;
    for (const auto& mail : iped.EMails()) {
        oliver += mail->SenderEMail() == "olivergiovannifuzati@outlook.com";
        marcus += mail->SenderEMail() == "marcusdeoliveiraneves@gmail.com";
        EXPECT_EQ(iped.EMails().item("M_" + std::to_string(mail->Id())), mail);
    }
    EXPECT_EQ(oliver, 27);
    EXPECT_EQ(marcus, 1);
}

TEST_F(RealFiles, FolderFileNamesTheMessageFilesBesideIt) {
    const std::string path = RealFile("DbxOutlookExpress/Folders.dbx");
    CDbx reader;
    ASSERT_TRUE(reader.openFile(path, false));
    EXPECT_EQ(reader.FileType(), dbxTypeFolder);
    EXPECT_EQ(reader.IndexCount(), HeaderCount(path));
    EXPECT_EQ(reader.Folders().Count(), 8);
    int files = 0;
    for (const auto& f : reader.Folders()) {
        if (f->FileName().empty())
            continue;
        ++files;
        EXPECT_TRUE(std::filesystem::exists(RealFile("DbxOutlookExpress/" + f->FileName())))
            << f->FileName();
        EXPECT_EQ(f->FileName(), f->Name() + ".dbx");
    }
    EXPECT_EQ(files, 2);
    EXPECT_EQ(reader.Folders().item("F_4")->Name(), "Inbox");
    EXPECT_EQ(reader.Folders().item("F_5")->FileName(), "Outbox.dbx");
    EXPECT_EQ(reader.Folders().item("F_6")->Name(), "Sent Items");
}

// Outlook Express 6 marks its standard folders with their kind (field 0x09,
// stored directly) and Local Folders' folders with store type 3.
TEST_F(RealFiles, FolderFileMarksTheStandardFoldersWithTheirKind) {
    CDbx reader;
    ASSERT_TRUE(reader.openFile(RealFile("DbxOutlookExpress/Folders.dbx"), false));
    const struct {
        const char* key;
        int32_t kind;
        int32_t storeType;
    } expected[] = {{"F_4", kFolderInbox, kLocalStore},
                    {"F_5", kFolderOutbox, kLocalStore},
                    {"F_6", kFolderSentItems, kLocalStore},
                    {"F_7", kFolderDeletedItems, kLocalStore},
                    {"F_8", kFolderDrafts, kLocalStore},
                    {"F_1", 0, kLocalStore},
                    {"F_9", 0, 2}};
    for (const auto& e : expected) {
        const auto folder = reader.Folders().item(e.key);
        EXPECT_EQ(folder->FolderKind(), e.kind) << folder->Name();
        EXPECT_EQ(folder->StoreType(), e.storeType) << folder->Name();
    }
}

TEST_F(RealFiles, OfflineFileIsNotAStoreFile) {
    CDbx reader;
    EXPECT_FALSE(reader.openFile(RealFile("DbxOutlookExpress/Offline.dbx"), false));
    EXPECT_EQ(reader.ErrNo(), "1");
    EXPECT_EQ(reader.FileType(), dbxTypeEmail);
    EXPECT_EQ(reader.FileName(), "");
}

}  // namespace
}  // namespace qb::oe
