// Whole runs of the real scanner over Windows Live Mail and Windows Mail
// stores (folders of .eml files) beside an Outlook Express store.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>

#include "tests/e2e/Scenario.h"

namespace qb::test {
namespace {

using Lines = std::vector<std::string>;

constexpr const char* kJunk = "wlm/Storage Folders/Junk Found/";

// An Outlook Express store and both other stores, with something in every
// scanned folder: several accounts, a translated Windows Mail, and a block
// folder below a folder whose name is no code-page text.
void FillAllStores(Scenario& s) {
    s.OutlookExpressStore("oe@inbox.com", "oe@sent.com", "friend@good.org", "spam@bad.biz");

    s.MailStore("Windows Live Mail", "wlm");
    s.Put("wlm/Hotmail (jo)/Inbox/1.eml", Eml("Ann <Ann@wlm.org>", "jo@hotmail.com"));
    s.Put("wlm/Hotmail (jo)/Inbox/2.eml", Eml("young@wlm.org", "jo@hotmail.com", 1));
    s.Put("wlm/Hotmail (jo)/Inbox/3.eml", "From: undated@wlm.org\r\n\r\n");
    s.Put("wlm/Hotmail (jo)/Inbox/note.txt", Eml("not@a-message.org", "jo@hotmail.com"));
    s.Put("wlm/Gmail (jo)/Inbox/a.eml", Eml("\"Smith, Bob\" <Bob@gmail.org>", "jo@gmail.com"));
    s.Put("wlm/Hotmail (jo)/Sent Items/s1.eml",
          Eml("jo@hotmail.com", "carl@wlm.org, Dora <dora@wlm.org>", 1, "<s1@jo>"));
    s.Put("wlm/Gmail (jo)/Sent Items/s2.eml", Eml("jo@gmail.com", "carl@wlm.org", 1));
    s.Put("wlm/Storage Folders/Good Mail/g.eml", Eml("pal@good.org", "jo@hotmail.com"));
    s.Put(std::string(kJunk) + "j.eml", Eml("spam@bad.biz", "jo@hotmail.com"));
    s.Put(std::string(kJunk) + "k.eml", Eml("junk@wlm.biz", "jo@hotmail.com"));
    s.Put("wlm/Storage Folders/\xD0\x90\xD1\x80\xD1\x85\xD0\xB8\xD0\xB2/Junk Found/z.eml",
          Eml("deep@bad.biz", "jo@hotmail.com"));

    s.MailStore("Windows Mail", "wmail");
    s.Put("wmail/Local Folders/Posteingang/1.eml", Eml("greta@wm.de", "jo@wm.de"));
    s.Put("wmail/Local Folders/Gesendete Objekte/1.eml",
          Eml("jo@wm.de", "hans@wm.de", 1, "<g1@jo>"));
    s.Put("wmail/Local Folders/Junk Found/1.eml", Eml("spam@bad.biz", "jo@wm.de"));
}

// Every test starts from the filled stores; most from after a first run.
class MailStoreRun : public ::testing::Test {
  protected:
    void SetUp() override { FillAllStores(s); }
    void FirstRun() { ASSERT_EQ(s.Run().exitCode, 0); }
    std::filesystem::path Junk() { return s.Program() / kJunk; }
    void ExpectFiles(const std::vector<std::pair<const char*, const char*>>& files) const {
        for (const auto& [name, content] : files)
            EXPECT_EQ(s.File(name), content) << name;
    }

    Scenario s;
};

TEST_F(MailStoreRun, ScansEveryStoreAfterOutlookExpress) {
    const RunResult run = s.Run({"-show"});
    ASSERT_EQ(run.exitCode, 0) << run.output;
    EXPECT_EQ(run.output,
              "Quellbox Tessaly\n"
              "Importing Outlook Express block list ...\n"
              "Scanning Inbox ...\n"
              "Scanning Sent Items ...\n"
              "Scanning approve folder ...\n"
              "Approved addresses added : 1\n"
              "Scanning block folder ...\n"
              "Blocked addresses added : 1\n"
              "Scanning Windows Live Mail Inbox ...\n"
              "Scanning Windows Live Mail Sent Items ...\n"
              "Scanning Windows Live Mail approve folder ...\n"
              "Windows Live Mail approved addresses added : 1\n"
              "Scanning Windows Live Mail block folder ...\n"
              "Windows Live Mail blocked addresses added : 3\n"
              "Scanning Windows Mail Inbox ...\n"
              "Scanning Windows Mail Sent Items ...\n"
              "Scanning Windows Mail approve folder ...\n"
              "Scanning Windows Mail block folder ...\n"
              "Windows Mail blocked addresses added : 1\n"
              "Outlook Express scan finished.\n");
    EXPECT_EQ(s.Console(), Lines{"Unable to find the folder good mail in Windows Mail"});

    const auto db = s.Database();
    for (const char* sender : {"oe@inbox.com", "ann@wlm.org", "bob@gmail.org", "greta@wm.de"})
        EXPECT_EQ(db.at(sender).from, 1u) << sender;
    for (const char* young : {"young@wlm.org", "undated@wlm.org", "not@a-message.org"})
        EXPECT_EQ(db.count(young), 0u) << young;
    EXPECT_EQ(db.at("carl@wlm.org").to, 2u) << "in two sent messages";
    for (const char* recipient :
         {"oe@sent.com", "dora@wlm.org", "hans@wm.de", "friend@good.org", "pal@good.org"})
        EXPECT_EQ(db.at(recipient).to, 1u) << recipient;

    const std::vector<std::pair<const char*, const char*>> files = {
        {"approvedsenders", "friend@good.org\r\npal@good.org\r\n"},
        {"oesas", "friend@good.org\r\n"},
        {"wlmas", "pal@good.org\r\n"},
        {"blockedsenders", "deep@bad.biz\r\njunk@wlm.biz\r\nspam@bad.biz\r\n"},
        {"oesbs", "spam@bad.biz\r\n"},
        {"wlmbs", "deep@bad.biz\r\njunk@wlm.biz\r\nspam@bad.biz\r\n"},
        {"wmailbs", "spam@bad.biz\r\n"},
        {"wlmsent", "<s1@jo>\r\nGmail (jo)\\Sent Items\\s2.eml\r\n"},
        {"wmailsent", "<g1@jo>\r\n"}};
    ExpectFiles(files);
    // The counters count the run's distinct addresses over every store.
    EXPECT_EQ(s.RegistryLine("oe_scan_approve"), "\"oe_scan_approve\"=dword:00000002");
    EXPECT_EQ(s.RegistryLine("oe_scan_block"), "\"oe_scan_block\"=dword:00000003");

    // A second run over the same stores counts nothing twice.
    const std::string database = s.Program().Read("conf/quellboxaddr.bin");
    ASSERT_EQ(s.Run().exitCode, 0);
    EXPECT_EQ(s.Program().Read("conf/quellboxaddr.bin"), database);
    ExpectFiles(files);
}

TEST_F(MailStoreRun, AnAddressLeavesTheListWhenNoStoresFolderOwesItAnyMore) {
    FirstRun();
    const std::filesystem::path junk = Junk();
    std::filesystem::remove(junk / "j.eml");
    std::filesystem::remove(junk / "k.eml");
    ASSERT_EQ(s.Run().exitCode, 0);
    EXPECT_EQ(s.File("blockedsenders"), "deep@bad.biz\r\nspam@bad.biz\r\n")
        << "the other stores' block folders still hold spam@bad.biz";
    EXPECT_EQ(s.File("wlmbs"), "deep@bad.biz\r\n");

    s.Messages("Junk Found.dbx", {});
    std::filesystem::remove(s.Program() / "wmail/Local Folders/Junk Found/1.eml");
    ASSERT_EQ(s.Run().exitCode, 0);
    ExpectFiles({{"blockedsenders", "deep@bad.biz\r\n"}, {"oesbs", ""}, {"wmailbs", ""}});
    EXPECT_EQ(s.RegistryLine("oe_scan_block"), "\"oe_scan_block\"=dword:00000001");
}

TEST_F(MailStoreRun, UnreadableMessagesFoldersAndLinkedFoldersAreReportedAndTheRestScanned) {
    FirstRun();
    const std::filesystem::path junk = Junk();
    std::filesystem::create_directory_symlink(s.Program() / "wlm/Storage Folders", junk / "loop");
    s.Put(std::string(kJunk) + "new.eml", Eml("new@bad.biz", "jo@hotmail.com"));
    std::filesystem::remove(s.Program() / "console.txt");
    // A folder that cannot be listed, as one removed during the run: the
    // message gone from it must not take its sender off the list.
    const std::filesystem::path good = s.Program() / "wlm/Storage Folders/Good Mail";
    std::filesystem::remove(good / "g.eml");
    AsOrdinaryUser user(s);
    ::chmod((junk / "j.eml").c_str(), 0);
    ::chmod(good.c_str(), 0);
    std::filesystem::remove(junk / "k.eml");

    const RunResult run =
        s.Program().Run({}, s.RunEnvironment(), std::chrono::seconds(120), user.Drop());
    ASSERT_EQ(run.exitCode, 0) << run.output;
    const std::string store = s.Program().Dir().Path() + "/wlm";
    EXPECT_EQ(
        s.Console(),
        (Lines{"Unable to open folder " + store + "\\Storage Folders\\Good Mail: Permission denied",
               "Folder not scanned, it is a link: " + store + "\\Storage Folders\\Junk Found\\loop",
               "Windows Live Mail approve folder not read in full; no address leaves "
               "approvedsenders in this run.",
               "Unable to open " + store + "\\Storage Folders\\Junk Found\\j.eml",
               "Windows Live Mail block folder not read in full; no address leaves blockedsenders "
               "in this run.",
               "Unable to find the folder good mail in Windows Mail"}));
    EXPECT_EQ(s.File("blockedsenders"),
              "deep@bad.biz\r\njunk@wlm.biz\r\nnew@bad.biz\r\nspam@bad.biz\r\n")
        << "with a message unread, nothing leaves the list";
    EXPECT_EQ(s.File("approvedsenders"), "friend@good.org\r\npal@good.org\r\n")
        << "nor with a folder unread";
    ::chmod(good.c_str(), 0755);
    EXPECT_EQ(s.Database().at("ann@wlm.org").from, 1u);
}

TEST(MailStoreSharing, OneFolderNamedByBothProgramsIsScannedOnce) {
    Scenario s;
    s.MailStore("Windows Live Mail", "mail");
    s.MailStore("Windows Mail", "mail");
    s.Put("mail/Local Folders/Sent Items/1.eml", Eml("jo@home.example", "ann@x.org", 1));
    ASSERT_EQ(s.Run().exitCode, 0);
    EXPECT_EQ(s.Database().at("ann@x.org").to, 1u);
    EXPECT_TRUE(s.Program().Exists("conf/wlmsent"));
    EXPECT_FALSE(s.Program().Exists("conf/wmailsent"));
}

}  // namespace
}  // namespace qb::test
