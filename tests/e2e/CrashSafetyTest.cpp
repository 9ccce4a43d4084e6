// Runs of the real scanner that are killed, run out of disk, meet files they
// cannot read or a second copy: nothing learned is lost for good, no file of
// the user's is replaced by one of this run's, and the next run repairs what
// a killed one left.
#include <grp.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <random>
#include <regex>
#include <set>
#include <sstream>

#include "common/Hash.h"
#include "tests/e2e/Scenario.h"

namespace qb::test {
namespace {

namespace fs = std::filesystem;
using Lines = std::vector<std::string>;

constexpr const char* kNotSaved = "Unable to save the address database.";

bool Has(const Lines& lines, const std::string& line) {
    return std::find(lines.begin(), lines.end(), line) != lines.end();
}

size_t CountOf(const Lines& lines, const std::string& line) {
    return static_cast<size_t>(std::count(lines.begin(), lines.end(), line));
}

// The entries of a list file as it is on disk.
std::set<std::string> Entries(const std::string& content) {
    std::set<std::string> out;
    if (content == "<missing>")
        return out;
    std::istringstream in(content);
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (!line.empty())
            out.insert(line);
    }
    return out;
}

// Temporary files of the file layer left in a folder: "." + name + "." +
// writer's process id + "." + six characters, or the earlier versions'
// "." + name + ".qbtmp-" + six characters.
int Leftovers(const std::string& folder) {
    static const std::regex temporary(R"(\..+\.([0-9]+\.|qbtmp-)[A-Za-z0-9]{6})");
    int n = 0;
    for (const auto& e : fs::directory_iterator(folder))
        n += std::regex_match(e.path().filename().string(), temporary) ? 1 : 0;
    return n;
}

std::vector<std::string> Environment(Scenario& s) {
    s.WriteRegistryNow();
    return {"QUELLBOX_REGISTRY=" + s.RegistryPath()};
}

// A store whose Sent Items and Inbox hold more than a small file size limit
// lets the database grow beyond it.
void StoreWithManyCorrespondents(Scenario& s) {
    s.StandardFolders();
    std::vector<dbx::Message> inbox;
    for (uint32_t i = 1; i <= 60; ++i)
        inbox.push_back(From(i, "sender" + std::to_string(i) + "@in.example"));
    s.Messages("Inbox.dbx", inbox);
    s.Messages("Sent Items.dbx",
               {To(7, "carol@example.com;dave@example.com"), To(9, "erin@example.com")});
}

TEST(CrashSafety, SentItemsStateIsWrittenOnlyOnceTheDatabaseIsSaved) {
    Scenario s;
    StoreWithManyCorrespondents(s);
    // A folder where the database file belongs: the library can neither
    // read nor write it.
    fs::create_directories(s.Program() / "conf/quellboxaddr.bin");
    ASSERT_EQ(s.Run().exitCode, 0);
    const Lines console = s.Console();
    EXPECT_EQ(CountOf(console, kNotSaved), 2u)
        << "after Sent Items and at the end: " << ::testing::PrintToString(console);
    EXPECT_FALSE(s.Program().Exists("conf/oesent")) << "no claim that the messages were counted";

    // The next run that can write the database counts every message once.
    fs::remove(s.Program() / "conf/quellboxaddr.bin");
    ASSERT_EQ(s.Run().exitCode, 0);
    EXPECT_EQ(CountOf(s.Console(), kNotSaved), 2u) << "no new failure line";
    EXPECT_EQ(s.File("oesent"), "7\r\n9\r\n");
    const auto db = s.Database();
    EXPECT_EQ(db.at("carol@example.com").to, 1u);
    EXPECT_EQ(db.at("erin@example.com").to, 1u);
    EXPECT_EQ(db.at("sender60@in.example").from, 1u);
}

TEST(CrashSafety, FullDiskAtTheDatabaseWriteIsReportedAndLosesNoCounts) {
    Scenario reference;
    StoreWithManyCorrespondents(reference);
    ASSERT_EQ(reference.Run().exitCode, 0);
    ASSERT_GT(reference.Program().Read("conf/quellboxaddr.bin").size(), 1024u);

    Scenario s;
    StoreWithManyCorrespondents(s);
    // Files may grow to 1 KiB only, as on a disk that is full: the small
    // state files and console lines fit, the database does not.
    const auto fullDisk = [] {
        ::signal(SIGXFSZ, SIG_IGN);
        const struct rlimit limit = {1024, 1024};
        ::setrlimit(RLIMIT_FSIZE, &limit);
    };
    const RunResult run = s.Program().Run({}, Environment(s), std::chrono::seconds(120), fullDisk);
    ASSERT_EQ(run.exitCode, 0) << run.output;
    EXPECT_TRUE(Has(s.Console(), kNotSaved)) << "the failed write is reported";
    EXPECT_FALSE(s.Program().Exists("conf/quellboxaddr.bin"));
    EXPECT_FALSE(s.Program().Exists("conf/oesent"));

    // With room again, the next run ends as an undisturbed one did.
    ASSERT_EQ(s.Run().exitCode, 0);
    EXPECT_EQ(s.Program().Read("conf/quellboxaddr.bin"),
              reference.Program().Read("conf/quellboxaddr.bin"));
    EXPECT_EQ(s.File("oesent"), reference.File("oesent"));
}

TEST(CrashSafety, BadLineInSentItemsStateCostsThatLineOnly) {
    Scenario s;
    s.StandardFolders();
    s.Messages("Sent Items.dbx", {To(10, "a@x.com"), To(20, "b@x.com"), To(30, "c@x.com")});
    s.ListFile("oesent", "10\r\nten\r\n20\r\n");
    const RunResult run = s.Run();
    ASSERT_EQ(run.exitCode, 0);
    // Without a terminal the message box's text goes to the console log.
    EXPECT_EQ(CountOf(s.Console(),
                      "-2147221503:Key Invalid: Text keys are invalid when SortMode is Numeric"),
              1u);
    const auto db = s.Database();
    EXPECT_EQ(db.count("a@x.com"), 0u) << "recorded before the bad line";
    EXPECT_EQ(db.count("b@x.com"), 0u) << "recorded after the bad line";
    EXPECT_EQ(db.at("c@x.com").to, 1u);
    EXPECT_EQ(s.File("oesent"), "10\r\n20\r\n30\r\n");
}

TEST(CrashSafety, ListFilesThatCannotBeReadAreNeverReplaced) {
    Scenario s;
    s.StandardFolders();
    s.Messages("Sent Items.dbx", {To(10, "a@x.com"), To(30, "c@x.com")});
    s.Messages("Good Mail.dbx", {From(1, "friend@good.org")});
    s.Messages("Junk Found.dbx", {From(1, "spam@bad.biz")});
    s.Conf("oe_block_folder=Junk Found\r\noe_approve_folder=Good Mail\r\n");
    s.OEBlocked({"listed@oe.com"});
    s.ListFile("approvedsenders", "user@typed.com\r\n");
    s.ListFile("oesas", "gone@good.org\r\n");
    s.ListFile("blockedsenders", "mine@bad.biz\r\n");
    s.ListFile("oesent", "10\r\n");
    const auto env = Environment(s);
    AsOrdinaryUser user(s);
    for (const char* name : {"approvedsenders", "blockedsenders", "oesent"})
        ::chmod((s.Program() / (std::string("conf/") + name)).c_str(), 0);

    const RunResult run = s.Program().Run({}, env, std::chrono::seconds(120), user.Drop());
    ASSERT_EQ(run.exitCode, 0) << run.output;
    const Lines console = s.Console();
    EXPECT_EQ(CountOf(console, "70:Permission denied"), 3u) << ::testing::PrintToString(console);
    const std::string conf = s.Program().Dir().Path() + "\\conf\\";
    for (const char* name : {"approvedsenders", "blockedsenders", "oesent"}) {
        EXPECT_EQ(CountOf(console,
                          "Unable to read " + conf + name + "; it is left unchanged in this run."),
                  1u)
            << name << ": " << ::testing::PrintToString(console);
    }
    EXPECT_EQ(s.File("approvedsenders"), "user@typed.com\r\n");
    EXPECT_EQ(s.File("blockedsenders"), "mine@bad.biz\r\n");
    EXPECT_EQ(s.File("oesent"), "10\r\n");
    EXPECT_EQ(s.File("oesas"), "gone@good.org\r\n") << "its list unknown, the state stays too";
    EXPECT_FALSE(s.Program().Exists("conf/oesbs"));
    EXPECT_EQ(s.Database().count("c@x.com"), 0u) << "without the state no message is counted";

    // Readable again: the next run takes everything up from there.
    for (const char* name : {"approvedsenders", "blockedsenders", "oesent"})
        ::chmod((s.Program() / (std::string("conf/") + name)).c_str(), 0644);
    ASSERT_EQ(s.Program().Run({}, env, std::chrono::seconds(120), user.Drop()).exitCode, 0);
    EXPECT_EQ(s.File("approvedsenders"), "friend@good.org\r\nuser@typed.com\r\n");
    EXPECT_EQ(s.File("oesas"), "friend@good.org\r\n");
    EXPECT_EQ(s.File("blockedsenders"), "listed@oe.com\r\nmine@bad.biz\r\nspam@bad.biz\r\n");
    EXPECT_EQ(s.File("oesent"), "10\r\n30\r\n");
    EXPECT_EQ(s.Database().at("c@x.com").to, 1u);
    EXPECT_EQ(s.Database().count("a@x.com"), 0u);
}

// What a power cut in the approve folder scan can leave: the phase's record
// on disk, the list's last rewrite renamed into place without its data, the
// state file's rewrite lost. The next run puts the pair back first.
TEST(CrashSafety, ListPhaseCutByAPowerLossIsPutBackBeforeTheRun) {
    const std::string before =
        "scanphase 1\r\nphase approve folder scan\r\n"
        "file 16 approvedsenders\r\nuser@typed.com\r\n\r\n"
        "absent oesas\r\n";
    const struct {
        const char* what;
        std::string record;
        const char* console;
        const char* approved;  // after the run
    } cases[] = {
        {"whole record", before + "end " + hash::Fnv1aHex(before) + "\r\n",
         "Lists put back as they were before the interrupted approve folder scan.",
         "friend@good.org\r\nuser@typed.com\r\n"},
        {"damaged record", before + "end 0000000000000000\r\n",
         "conf\\scanphase could not be read; the lists are left as they are (kept as "
         "conf\\scanphase.damaged).",
         "friend@good.org\r\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Scenario s;
        s.StandardFolders();
        s.Messages("Good Mail.dbx", {From(1, "friend@good.org")});
        s.Conf("oe_approve_folder=Good Mail\r\n");
        s.ListFile("approvedsenders", "");
        s.ListFile("oesas", "stale@good.org\r\n");
        s.ListFile("scanphase", c.record);
        ASSERT_EQ(s.Run().exitCode, 0);
        EXPECT_TRUE(Has(s.Console(), c.console)) << ::testing::PrintToString(s.Console());
        EXPECT_EQ(s.File("approvedsenders"), c.approved);
        EXPECT_EQ(s.File("oesas"), "friend@good.org\r\n");
        EXPECT_FALSE(s.Program().Exists("conf/scanphase"));
    }
}

TEST(CrashSafety, ListFileThatIsALinkKeepsItsLinkAndLeftoversGo) {
    Scenario s;
    s.StandardFolders();
    s.Messages("Junk Found.dbx", {From(1, "spam@bad.biz")});
    s.Conf("oe_block_folder=Junk Found\r\n");
    s.Program().Write("shared/blockedsenders", "mine@bad.biz\r\n");
    ASSERT_EQ(::symlink("../shared/blockedsenders", (s.Program() / "conf/blockedsenders").c_str()),
              0);
    // What killed runs leave (the one beside the link's target included),
    // and names that only look alike.
    s.Program().Write("conf/.oesbs.qbtmp-a1B2c3", "half");
    s.Program().Write("conf/.oesent.qbtmp-zzzzzz", "half");
    s.Program().Write("conf/.oesas.99999999.a1B2c3", "a dead writer's");
    s.Program().Write("conf/.approvedsenders.1.a1B2c3", "a live writer's");
    s.Program().Write("shared/.blockedsenders.qbtmp-000000", "half");
    s.Program().Write("conf/.user-notes", "mine");
    s.Program().Write("conf/oesbs.qbtmp-a1B2c3", "mine");
    s.Program().Write("conf/.other.qbtmp-a1B2c3", "another program's");
    ASSERT_EQ(s.Run().exitCode, 0);

    struct stat st;
    ASSERT_EQ(::lstat((s.Program() / "conf/blockedsenders").c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode)) << "the link stays";
    EXPECT_EQ(s.Program().Read("shared/blockedsenders"), "mine@bad.biz\r\nspam@bad.biz\r\n");
    EXPECT_EQ(Leftovers(s.Program() / "conf"), 2)
        << "the other program's and the live writer's stay";
    EXPECT_EQ(s.Program().Read("conf/.approvedsenders.1.a1B2c3"), "a live writer's");
    EXPECT_EQ(Leftovers(s.Program() / "shared"), 0);
    EXPECT_EQ(s.Program().Read("conf/.other.qbtmp-a1B2c3"), "another program's");
    EXPECT_EQ(s.Program().Read("conf/.user-notes"), "mine");
    EXPECT_EQ(s.Program().Read("conf/oesbs.qbtmp-a1B2c3"), "mine");
}

TEST(CrashSafety, OneCopyPerProgramFolderWhateverTheEnvironment) {
    Scenario s;
    s.StandardFolders();
    s.Messages("Inbox.dbx", {From(1, "a@x.com")});
    const std::vector<std::string> env = Environment(s);
    ASSERT_EQ(s.Program().Run({}, env).exitCode, 0);
    ASSERT_TRUE(s.Program().Exists("Gleanwick.lock")) << "the lock lives in the program folder";
    fs::remove(s.Program() / "conf/quellboxaddr.bin");
    s.Conf("dbg_verbose_level=8\r\n");
    const std::string console = s.Program().Read("console.txt");

    // A running copy holds the lock: a copy of another session (another
    // runtime folder, or none) ends at once all the same.
    const int fd = ::open((s.Program() / "Gleanwick.lock").c_str(), O_RDWR);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::flock(fd, LOCK_EX | LOCK_NB), 0);
    TempFolder otherRuntime;
    for (const std::string& runtime :
         {"XDG_RUNTIME_DIR=" + otherRuntime.Path(), std::string("XDG_RUNTIME_DIR=/no/such/dir")}) {
        std::vector<std::string> e = env;
        e.push_back(runtime);
        const RunResult second = s.Program().Run({"-show"}, e);
        EXPECT_EQ(second.exitCode, 0);
        EXPECT_EQ(second.output, "") << "no window, no word";
    }
    EXPECT_EQ(s.Program().Read("console.txt"), console);
    EXPECT_FALSE(s.Program().Exists("conf/quellboxaddr.bin"));

    // The lock goes with its process, however it ends.
    ::close(fd);
    ASSERT_EQ(s.Program().Run({}, env).exitCode, 0);
    EXPECT_EQ(s.Database().at("a@x.com").from, 1u);
}

// ---- Killed runs ---------------------------------------------------------

// Verdict folders large enough that a kill lands in the middle of their
// harvest: the first run harvests the old folders, the killed run moves to
// the new ones, adding and removing addresses.
struct Harvest {
    static std::vector<dbx::Message> Folder(const char* prefix, int from, int to) {
        std::vector<dbx::Message> m;
        for (int i = from; i < to; ++i)
            m.push_back(From(static_cast<uint32_t>(i), prefix + std::to_string(i) + "@x.example"));
        return m;
    }
    static void Old(Scenario& s) {
        s.Messages("Good Mail.dbx", Folder("good", 1, 200));
        s.Messages("Junk Found.dbx", Folder("junk", 1, 200));
    }
    static void New(Scenario& s) {
        s.Messages("Good Mail.dbx", Folder("good", 100, 300));
        s.Messages("Junk Found.dbx", Folder("junk", 100, 300));
    }
    static void SetUp(Scenario& s) {
        s.StandardFolders();
        s.Messages("Inbox.dbx", Folder("in", 1, 50));
        s.Messages("Sent Items.dbx", {To(1, "a@x.com;b@x.com"), To(2, "c@x.com")});
        s.Conf("oe_block_folder=Junk Found\r\noe_approve_folder=Good Mail\r\n");
        s.ListFile("approvedsenders", "user@typed.example\r\n");
        s.ListFile("blockedsenders", "user@typed.example\r\n");
        Old(s);
    }
};

const char* const kProductFiles[] = {"approvedsenders", "oesas", "blockedsenders", "oesbs",
                                     "oesent"};

TEST(CrashSafety, KilledRunsLeaveListsPairedAndTheNextRunEndsAsAnUndisturbedOne) {
    Scenario reference;
    Harvest::SetUp(reference);
    ASSERT_EQ(reference.Run().exitCode, 0);
    Harvest::New(reference);
    const auto started = std::chrono::steady_clock::now();
    ASSERT_EQ(reference.Run().exitCode, 0);
    const auto length = std::chrono::duration_cast<std::chrono::microseconds>(
        std::chrono::steady_clock::now() - started);

    const unsigned seed = 20261208;
    std::mt19937 random(seed);
    std::uniform_int_distribution<long> when(1, std::max<long>(2, length.count()));
    constexpr int kKills = 8;
    int pairedChecks = 0;
    for (int kill = 0; kill < kKills; ++kill) {
        const auto after = std::chrono::microseconds(when(random));
        SCOPED_TRACE("seed " + std::to_string(seed) + ", kill " + std::to_string(kill) + " after " +
                     std::to_string(after.count()) + " us");
        Scenario s;
        Harvest::SetUp(s);
        ASSERT_EQ(s.Run().exitCode, 0);
        Harvest::New(s);
        s.Program().Run({}, Environment(s), std::chrono::seconds(120), {}, after);

        // Every file holds whole content, and every harvested address on a
        // list is owed by its state file, so the next run can take it off.
        for (const char* name : kProductFiles) {
            const std::string content = s.File(name);
            EXPECT_TRUE(content == "<missing>" || content.empty() ||
                        content.compare(content.size() - 2, 2, "\r\n") == 0)
                << name;
        }
        for (const auto& [list, state] :
             {std::pair{"approvedsenders", "oesas"}, std::pair{"blockedsenders", "oesbs"}}) {
            const std::set<std::string> owed = Entries(s.File(state));
            for (const std::string& entry : Entries(s.File(list))) {
                if (entry == "user@typed.example")
                    continue;
                EXPECT_TRUE(owed.count(entry))
                    << entry << " on " << list << " but not in " << state;
                ++pairedChecks;
            }
        }

        ASSERT_EQ(s.Run().exitCode, 0);
        for (const char* name : kProductFiles)
            EXPECT_EQ(s.File(name), reference.File(name)) << name;
        auto db = s.Database();
        const auto expected = reference.Database();
        EXPECT_EQ(db.size(), expected.size());
        for (const auto& [address, record] : expected) {
            EXPECT_EQ(db[address].from, record.from) << address;
            EXPECT_EQ(db[address].to, record.to) << address;
        }
        EXPECT_EQ(Leftovers(s.Program() / "conf"), 0);
    }
    EXPECT_GT(pairedChecks, 0) << "no kill landed after the first list write";
}

}  // namespace
}  // namespace qb::test
