// Runs over stores and program folders that are missing parts, broken or
// too large: every scan reports what it could not open and the run goes on.
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "tests/e2e/Scenario.h"

namespace qb::test {
namespace {

using Lines = std::vector<std::string>;

bool Has(const Lines& lines, const std::string& line) {
    return std::find(lines.begin(), lines.end(), line) != lines.end();
}

TEST(StoreFailure, MissingFolderListReportsEveryLookupAndEveryScan) {
    Scenario s;
    std::filesystem::create_directories(s.StorePath());  // a store folder without files
    s.Conf("oe_block_folder=Junk\r\noe_approve_folder=Good\r\n");
    const RunResult run = s.Run();
    EXPECT_EQ(run.exitCode, 0);
    const std::string unable = "Unable to open " + s.StorePath() + "\\Folders.dbx";
    const Lines console = s.Console();
    EXPECT_EQ(std::count(console.begin(), console.end(), unable), 4);
    EXPECT_TRUE(Has(console, "Unable to open Inbox"));
    EXPECT_TRUE(Has(console, "Unable to open Sent Items folder."));
    EXPECT_TRUE(Has(console, "Unable to find the folder junk"));
    EXPECT_TRUE(Has(console, "Unable to find the folder good"));
    EXPECT_TRUE(Has(console, "Unable to open approve folder."));
    EXPECT_TRUE(Has(console, "Unable to open block folder."));
    EXPECT_FALSE(s.Program().Exists("conf/oesent")) << "the state file is not touched";
    EXPECT_FALSE(s.Program().Exists("conf/oesbs"));
    EXPECT_EQ(s.RegistryLine("oe_scan_block"), "");
}

TEST(StoreFailure, CorruptAndTruncatedStoreFilesAreReportedNotFatal) {
    Scenario s;
    s.StandardFolders();
    s.Conf("oe_block_folder=Junk Found\r\n");
    s.Program().Write("store/Inbox.dbx", std::string(5000, '\x7f'));
    std::string sent = dbx::MessageFile({To(1, "a@b.c"), To(2, "d@e.f")});
    s.Program().Write("store/Sent Items.dbx", sent.substr(0, sent.size() / 2));
    s.Messages("Junk Found.dbx", {From(1, "spam@bad.biz")});
    EXPECT_EQ(s.Run().exitCode, 0);
    const Lines console = s.Console();
    EXPECT_TRUE(Has(console, "Unable to open Inbox"));
    EXPECT_EQ(s.File("blockedsenders"), "spam@bad.biz\r\n") << "later scans still run";
}

TEST(StoreFailure, StoreFileOverTheScanLimitIsNotRead) {
    Scenario s;
    s.StandardFolders();
    std::vector<dbx::Message> many;
    for (uint32_t i = 1; i <= 6000; ++i) {
        dbx::Message m = From(i, "sender" + std::to_string(i) + "@x.com");
        m.subject = std::string(200, 's');
        many.push_back(m);
    }
    s.Messages("Inbox.dbx", many);
    ASSERT_GT(std::filesystem::file_size(s.StorePath() + "/Inbox.dbx"), 1024u * 1024u);
    s.ProductValue("scan_limit", "\"1\"");
    EXPECT_EQ(s.Run().exitCode, 0);
    const Lines console = s.Console();
    EXPECT_TRUE(Has(console, "Unable to open Inbox"));
    EXPECT_TRUE(std::any_of(console.begin(), console.end(), [](const std::string& l) {
        return l.find(" larger than scan limit.") != std::string::npos;
    })) << ::testing::PrintToString(console);
    EXPECT_EQ(s.Database().count("sender1@x.com"), 0u);
}

TEST(StoreFailure, ScanLimitOverflowIsLoggedAndTheRunGoesOn) {
    Scenario s;
    s.StandardFolders();
    s.Messages("Inbox.dbx", {From(1, "a@x.com")});
    s.ProductValue("scan_limit", "\"2048\"");
    EXPECT_EQ(s.Run().exitCode, 0);
    EXPECT_TRUE(Has(s.Console(), "InitializeObjects() Error 6 : Overflow"));
    EXPECT_EQ(s.Database().count("a@x.com"), 1u) << "no limit: the Inbox is read";
}

TEST(StoreFailure, MissingAddressLibraryEndsTheRunOnMainsErrorPath) {
    Scenario s;
    s.StandardFolders();
    s.Messages("Inbox.dbx", {From(1, "a@x.com")});
    s.OEBlocked({"x@oe.com"});
    std::filesystem::remove(s.Program() / "libquelladdr.so");
    EXPECT_EQ(s.Run().exitCode, 0);
    EXPECT_EQ(s.Console(), Lines{"Main() Error 53 : File not found: quelladdr.dll"});
    EXPECT_FALSE(s.Program().Exists("conf/blockedsenders")) << "nothing after the error runs";
}

TEST(StoreFailure, LibraryWithoutTheExportsEndsTheRunOnMainsErrorPath) {
    Scenario s;
    s.StandardFolders();
    std::filesystem::copy_file(OTHER_LIBRARY_PATH, s.Program() / "libquelladdr.so",
                               std::filesystem::copy_options::overwrite_existing);
    EXPECT_EQ(s.Run().exitCode, 0);
    EXPECT_EQ(s.Console(),
              Lines{"Main() Error 453 : Can't find DLL entry point getSpamAddrH in quelladdr.dll"});
}

TEST(StoreFailure, NoIdentityMeansNoStoreAndEveryScanSaysSo) {
    Scenario s;
    // A registry with the product's key only: no identity is recorded.
    s.Program().Write("registry.reg",
                      "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\Software\\Ferrowin Tessaly Desktop "
                      "Client]\r\n\r\n");
    EXPECT_EQ(s.Run().exitCode, 0);
    const Lines console = s.Console();
    EXPECT_TRUE(Has(console, "Unable to open Inbox"));
    EXPECT_TRUE(Has(console, "Unable to open block folder."));
    EXPECT_TRUE(s.Program().Exists("conf/quellboxaddr.bin") == false)
        << "an unchanged database is not written";
}

TEST(StoreFailure, SecondCopyEndsAtOnceWritingNothing) {
    TempFolder runtime;
    Scenario s;
    s.StandardFolders();
    s.Messages("Inbox.dbx", {From(1, "a@x.com")});
    s.WriteRegistryNow();
    // A first run creates the lock file of this program folder.
    const std::vector<std::string> env = {"QUELLBOX_REGISTRY=" + s.RegistryPath(),
                                          "XDG_RUNTIME_DIR=" + runtime.Path(),
                                          "GLEANWICK_DATE_FORMAT="};
    ASSERT_EQ(s.Program().Run({}, env).exitCode, 0);
    std::filesystem::remove(s.Program() / "conf/quellboxaddr.bin");
    const int fd = ::open((s.Program() / "Gleanwick.lock").c_str(), O_RDWR);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::flock(fd, LOCK_EX | LOCK_NB), 0);  // as a running copy holds it
    s.Program().Write("conf/quellbox.conf", "dbg_verbose_level=8\r\n");
    const std::string console = s.Program().Read("console.txt");
    const RunResult second = s.Program().Run({"-show"}, env);
    ::close(fd);
    EXPECT_EQ(second.exitCode, 0);
    EXPECT_EQ(second.output, "") << "no window, no word";
    EXPECT_EQ(s.Program().Read("console.txt"), console);
    EXPECT_FALSE(s.Program().Exists("conf/quellboxaddr.bin"));
}

}  // namespace
}  // namespace qb::test
