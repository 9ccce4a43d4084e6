// Whole runs of the real scanner over stores made by the .dbx writer.
#include <gtest/gtest.h>

#include <algorithm>

#include "tests/e2e/Scenario.h"

namespace qb::test {
namespace {

using Lines = std::vector<std::string>;

// A store with something in every folder.
void FillStandardStore(Scenario& s) {
    s.StandardFolders();
    s.Messages("Inbox.dbx",
               {From(1, "Alice@Example.com"), From(2, "  <bob@example.org>"),
                From(3, "young@example.net", /*hoursAgo=*/0), From(4, "alice@example.com")});
    s.Messages("Sent Items.dbx", {To(20, "carol@example.com;dave@example.com;Carol@example.com"),
                                  To(10, "erin@example.com"), To(30, "")});
    s.Messages("Good Mail.dbx",
               {From(1, "friend@good.org"), From(2, "pal@good.org"), From(3, "Pal@Good.org")});
    s.Messages("Junk Found.dbx", {From(1, "spam@bad.biz"), From(2, "spam@bad.biz"),
                                  From(3, "more@bad.biz;friend@good.org")});
    s.Conf("oe_block_folder=Junk Found\r\noe_approve_folder=good mail\r\n");
    s.OEBlocked({"Listed@OE.com", "other@oe.com"});
}

TEST(ScannerRun, HarvestsEveryFolderIntoTheProductsFiles) {
    Scenario s;
    FillStandardStore(s);
    const RunResult run = s.Run();
    EXPECT_EQ(run.exitCode, 0) << run.output;
    EXPECT_EQ(run.output, "") << "a silent run shows nothing";

    // Outlook Express blocked list, then the block folder's senders.
    EXPECT_EQ(s.File("blockedsenders"),
              "listed@oe.com\r\nmore@bad.biz\r\nother@oe.com\r\nspam@bad.biz\r\n");
    EXPECT_EQ(s.File("oesbs"), "more@bad.biz\r\nspam@bad.biz\r\n");
    // The approve folder runs first, so friend@good.org is approved, not blocked.
    EXPECT_EQ(s.File("approvedsenders"), "friend@good.org\r\npal@good.org\r\n");
    EXPECT_EQ(s.File("oesas"), "friend@good.org\r\npal@good.org\r\n");
    // Sent Items: identifiers in numeric order.
    EXPECT_EQ(s.File("oesent"), "10\r\n20\r\n30\r\n");

    const auto db = s.Database();
    EXPECT_EQ(db.at("alice@example.com").from, 1u);
    EXPECT_EQ(db.at("bob@example.org").from, 1u);
    EXPECT_EQ(db.count("young@example.net"), 0u) << "younger than a day";
    EXPECT_EQ(db.at("carol@example.com").to, 2u) << "named twice in one message";
    EXPECT_EQ(db.at("dave@example.com").to, 1u);
    EXPECT_EQ(db.at("erin@example.com").to, 1u);
    EXPECT_EQ(db.at("friend@good.org").to, 1u);
    EXPECT_EQ(db.at("pal@good.org").to, 1u);
    EXPECT_EQ(db.count("spam@bad.biz"), 0u) << "the block scan leaves the database alone";

    EXPECT_EQ(s.RegistryLine("oe_scan_approve"), "\"oe_scan_approve\"=dword:00000002");
    EXPECT_EQ(s.RegistryLine("oe_scan_block"), "\"oe_scan_block\"=dword:00000003");
    EXPECT_EQ(s.Console(), Lines{}) << "level 0 and every file found: no console line";
}

TEST(ScannerRun, InboxDatesOfEveryRangeCountAsTheirTextReads) {
    auto dated = [](uint32_t id, const std::string& sender, uint64_t ticks) {
        dbx_::Message m = From(id, sender);
        m.date = ticks;
        return m;
    };
    const uint64_t lastOf9999 = dbx_::FileTime(9999, 12, 31, 23, 59, 59);
    {
        // The first and the last date whose text is a valid date: the first
        // is long past, the last lies ahead.
        Scenario s;
        s.StandardFolders();
        s.Messages("Inbox.dbx", {dated(1, "first@example.com", 0), From(2, "old@example.com"),
                                 From(3, "new@example.com", /*hoursAgo=*/0),
                                 dated(4, "future@example.com", lastOf9999)});
        const RunResult run = s.Run();
        EXPECT_EQ(run.exitCode, 0) << run.output;
        const auto db = s.Database();
        EXPECT_EQ(db.at("first@example.com").from, 1u);
        EXPECT_EQ(db.at("old@example.com").from, 1u);
        EXPECT_EQ(db.count("new@example.com"), 0u) << "younger than a day";
        EXPECT_EQ(db.count("future@example.com"), 0u) << "a date ahead is not a day old";
        const Lines console = s.Console();  // the other folders are missing
        ASSERT_FALSE(console.empty());
        EXPECT_EQ(console.front(), "loadBinary() Error 53 : File not found");
    }
    {
        // A date in the year 10000 has a text that is no valid date: the
        // Inbox scan ends through its error path.
        Scenario s;
        s.StandardFolders();
        s.Messages("Inbox.dbx", {dated(1, "beyond@example.com", lastOf9999 + 10000000)});
        const RunResult run = s.Run();
        EXPECT_EQ(run.exitCode, 0) << run.output;
        EXPECT_EQ(s.Database().count("beyond@example.com"), 0u);
        const Lines console = s.Console();
        ASSERT_FALSE(console.empty());
        EXPECT_EQ(console.front(), "PreviousFrom() Error 13 : Type mismatch");
        EXPECT_EQ(console.size() > 1 ? console[1] : "", "loadBinary() Error 53 : File not found");
    }
}

TEST(ScannerRun, SentItemsCountEachNewMessageNumber) {
    // A message number already recorded and new ones in no particular order:
    // each new one is counted and the state file lists the numbers in order.
    Scenario s;
    s.StandardFolders();
    s.ListFile("oesent", "10\r\n");
    s.Messages("Sent Items.dbx", {To(30, "x@example.com"), To(20, "y@example.com"),
                                  To(10, "z@example.com"), To(5, "x@example.com")});
    ASSERT_EQ(s.Run().exitCode, 0);
    EXPECT_EQ(s.File("oesent"), "5\r\n10\r\n20\r\n30\r\n");
    const auto db = s.Database();
    EXPECT_EQ(db.at("x@example.com").to, 2u);
    EXPECT_EQ(db.at("y@example.com").to, 1u);
    EXPECT_EQ(db.count("z@example.com"), 0u) << "message 10 was counted before";
}

TEST(ScannerRun, SentItemsStateFileWithOneNumberTwiceKeepsItsLines) {
    // A hand-edited state file naming one number in two ways: both lines
    // stay, in the order the list's lookups and additions give them.
    Scenario s;
    s.StandardFolders();
    s.ListFile("oesent", "010\r\n7\r\n10\r\n");
    s.Messages("Sent Items.dbx",
               {To(30, "x@example.com"), To(10, "z@example.com"), To(2, "y@example.com")});
    ASSERT_EQ(s.Run().exitCode, 0);
    EXPECT_EQ(s.File("oesent"), "2\r\n7\r\n10\r\n010\r\n30\r\n");
    const auto db = s.Database();
    EXPECT_EQ(db.at("x@example.com").to, 1u);
    EXPECT_EQ(db.at("y@example.com").to, 1u);
    EXPECT_EQ(db.count("z@example.com"), 0u);
}

TEST(ScannerRun, SecondRunCountsNothingTwice) {
    Scenario s;
    FillStandardStore(s);
    ASSERT_EQ(s.Run().exitCode, 0);
    const std::string db = s.Program().Read("conf/quellboxaddr.bin");
    const std::string blocked = s.File("blockedsenders");
    const std::string approved = s.File("approvedsenders");
    const std::string sent = s.File("oesent");
    ASSERT_EQ(s.Run().exitCode, 0);
    EXPECT_EQ(s.Program().Read("conf/quellboxaddr.bin"), db);
    EXPECT_EQ(s.File("blockedsenders"), blocked);
    EXPECT_EQ(s.File("approvedsenders"), approved);
    EXPECT_EQ(s.File("oesent"), sent);
    EXPECT_EQ(s.RegistryLine("oe_scan_block"), "\"oe_scan_block\"=dword:00000003");
}

TEST(ScannerRun, AddressesLeaveTheListsWithTheirMessagesUnlessKept) {
    for (const char* keep :
         {"", "oe_save_scanned_addresses=Yes\r\n", "oe_save_scanned_addresses=yes\r\n"}) {
        SCOPED_TRACE(keep);
        Scenario s;
        s.StandardFolders();
        s.Conf(std::string("oe_block_folder=junk found\r\n") + keep);
        s.ListFile("blockedsenders", "typed@user.com\r\n");
        s.Messages("Junk Found.dbx", {From(1, "spam@bad.biz"), From(2, "typed@user.com")});
        ASSERT_EQ(s.Run().exitCode, 0);
        EXPECT_EQ(s.File("blockedsenders"), "spam@bad.biz\r\ntyped@user.com\r\n");
        EXPECT_EQ(s.File("oesbs"), "spam@bad.biz\r\n") << "typed by the user: never owed";

        s.Messages("Junk Found.dbx", {});
        ASSERT_EQ(s.Run().exitCode, 0);
        if (std::string(keep).find("=yes") != std::string::npos) {
            EXPECT_EQ(s.File("blockedsenders"), "spam@bad.biz\r\ntyped@user.com\r\n");
            EXPECT_EQ(s.File("oesbs"), "spam@bad.biz\r\n");
        } else {
            EXPECT_EQ(s.File("blockedsenders"), "typed@user.com\r\n");
            EXPECT_EQ(s.File("oesbs"), "");
        }
        EXPECT_EQ(s.RegistryLine("oe_scan_block"), "\"oe_scan_block\"=dword:00000000");
    }
}

TEST(ScannerRun, DomainEntriesCoverTheirAddresses) {
    Scenario s;
    s.StandardFolders();
    s.Conf("oe_block_folder=Junk Found\r\noe_approve_folder=Good Mail\r\n");
    s.ListFile("approvedsenders", "good.org\r\n");
    s.ListFile("blockedsenders", "bad.biz\r\n");
    s.Messages("Good Mail.dbx",
               {From(1, "friend@good.org"), From(2, "x@bad.biz"), From(3, "x@sub.good.org")});
    s.Messages("Junk Found.dbx", {From(1, "spam@bad.biz"), From(2, "friend@good.org")});
    ASSERT_EQ(s.Run().exitCode, 0);
    EXPECT_EQ(s.File("approvedsenders"), "good.org\r\nx@sub.good.org\r\n")
        << "only the exact domain is looked up";
    EXPECT_EQ(s.File("blockedsenders"), "bad.biz\r\n");
    EXPECT_EQ(s.File("oesbs"), "");
    const auto db = s.Database();
    EXPECT_EQ(db.at("friend@good.org").to, 1u) << "approve scan counts listed senders too";
    EXPECT_EQ(db.at("x@bad.biz").to, 1u);
}

TEST(ScannerRun, ScanSwitchesTurnScansOff) {
    struct Case {
        const char* value;
        bool runs;
    } cases[] = {{nullptr, true},  {"\"\"", true},     {"\"  \"", true}, {"\"1\"", true},
                 {"\"0\"", false}, {"\"yes\"", false}, {"\" 1\"", false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.value ? c.value : "missing");
        Scenario s;
        s.StandardFolders();
        s.Messages("Inbox.dbx", {From(1, "a@x.com")});
        s.Messages("Sent Items.dbx", {To(5, "b@x.com")});
        if (c.value) {
            s.ProductValue("OEScanInbox", c.value);
            s.ProductValue("OEScanSent", c.value);
        }
        ASSERT_EQ(s.Run().exitCode, 0);
        const auto db = s.Database();
        EXPECT_EQ(db.count("a@x.com"), c.runs ? 1u : 0u);
        EXPECT_EQ(db.count("b@x.com"), c.runs ? 1u : 0u);
        EXPECT_EQ(s.Program().Exists("conf/oesent"), c.runs);
    }
}

TEST(ScannerRun, TraceLinesAtLevelEightInRunOrder) {
    Scenario s;
    s.StandardFolders();
    s.Messages("Inbox.dbx", {From(1, "a@x.com")});
    s.Messages("Sent Items.dbx", {To(5, "b@x.com")});
    s.Messages("Junk Found.dbx", {From(1, "s@bad.biz")});
    s.Conf("dbg_verbose_level=8\r\noe_block_folder=Junk Found\r\n");
    ASSERT_EQ(s.Run().exitCode, 0);
    const Lines console = s.Console();
    const std::string root = s.StorePath() + "\\";
    // The driver's own lines, in order; the reader's and the loader's lines
    // come between them.
    const Lines expected = {
        "dbg_verbose_level = 8",
        std::string("identity = ") + kIdentity,
        "gStoreRoot = " + root,
        "Processed OE Blocked List ",
        "Store Root = " + s.StorePath(),
        "folders.dbx = " + root + "Folders.dbx",
        "Inbox:Inbox.dbx",
        "PreviousFrom : dbx_file = " + root + "Inbox.dbx",
        "Processed Inbox",
        "ScanNewSentEmails : dbx_file = " + root + "Sent Items.dbx",
        "Processed Sent Items",
        "gBlockFolder_Filename = Junk Found.dbx",
        "gApproveFolder_filename = ",
        "ScanCaughtLegit : dbx_file = " + root,
        "Unable to open approve folder.",
        "Processed approve folder",
        "ScanUncaughtSpam : dbx_file = " + root + "Junk Found.dbx",
        "dbx.EMails.Count = 1",
        "email_index: 1",
        "Remove emails that have been removed from uncaught folder since last scan",
        "Create new oe_block file from current_scan",
        "Processed block folder",
    };
    size_t at = 0;
    for (const std::string& line : console) {
        if (at < expected.size() && line == expected[at])
            ++at;
    }
    EXPECT_EQ(at, expected.size())
        << "missing or out of order: " << (at < expected.size() ? expected[at] : "") << "\n"
        << ::testing::PrintToString(console);
}

TEST(ScannerRun, LevelSevenWritesNoTraceLine) {
    Scenario s;
    FillStandardStore(s);
    s.Conf("dbg_verbose_level=7\r\noe_block_folder=Junk Found\r\noe_approve_folder=good mail\r\n");
    ASSERT_EQ(s.Run().exitCode, 0);
    EXPECT_EQ(s.Console(), Lines{});
}

TEST(ScannerRun, ShownModeListsTheStatusLines) {
    Scenario s;
    FillStandardStore(s);
    const RunResult run = s.Run({"\"-SHOW\""});
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.output,
              "Quellbox Tessaly\n"
              "Importing Outlook Express block list ...\n"
              "Scanning Inbox ...\n"
              "Scanning Sent Items ...\n"
              "Scanning approve folder ...\n"
              "Approved addresses added : 2\n"
              "Scanning block folder ...\n"
              "Blocked addresses added : 3\n"
              "Outlook Express scan finished.\n");
}

TEST(ScannerRun, ConfiguredFolderMissingIsReported) {
    Scenario s;
    s.StandardFolders();
    s.Conf("oe_block_folder=No Such Folder\r\n");
    const RunResult run = s.Run({"-show"});
    EXPECT_EQ(run.exitCode, 0);
    const Lines console = s.Console();
    EXPECT_NE(std::find(console.begin(), console.end(), "Unable to find the folder no such folder"),
              console.end());
    EXPECT_NE(std::find(console.begin(), console.end(), "Unable to open block folder."),
              console.end());
    EXPECT_NE(run.output.find("However we were unable to find the folder no such folder."),
              std::string::npos)
        << "shown mode puts up the message box";
}

TEST(ScannerRun, BlockFolderAboveSixteenBitCountsIsHarvested) {
    Scenario s;
    s.StandardFolders();
    s.Conf("oe_block_folder=Junk Found\r\n");
    std::vector<dbx::Message> junk;
    for (uint32_t i = 1; i <= 33000; ++i)
        junk.push_back(From(i, "spam@bad.biz"));
    junk.push_back(From(40000, "last@bad.biz"));
    s.Messages("Junk Found.dbx", junk);
    ASSERT_EQ(s.Run().exitCode, 0);
    EXPECT_EQ(s.File("blockedsenders"), "last@bad.biz\r\nspam@bad.biz\r\n");
    EXPECT_EQ(s.RegistryLine("oe_scan_block"), "\"oe_scan_block\"=dword:00000002");
    for (const std::string& line : s.Console()) {
        EXPECT_EQ(line.find("ScanUncaughtSpam"), std::string::npos) << line;
    }
}

}  // namespace
}  // namespace qb::test
