// conf\oesent.pending, what a run killed while saving the Sent Items counts
// leaves: each state it can be found in, and what the next run makes of it.
// Whatever the state, the next run ends as a run that was never killed
// (each sent message counted once), or, for a pending file it cannot read,
// with the messages counted again but never lost.
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cinttypes>
#include <cstdio>

#include "tests/e2e/Scenario.h"

namespace qb::test {
namespace {

constexpr const char* kDamaged =
    "conf\\oesent.pending could not be read; its Sent Items messages will be counted again.";

// The fingerprint the pending file records: size and 64-bit FNV-1a hash.
std::string Fingerprint(const std::string& bytes) {
    uint64_t h = 0xcbf29ce484222325ULL;
    for (const char c : bytes) {
        h ^= static_cast<unsigned char>(c);
        h *= 0x100000001b3ULL;
    }
    char hash[17];
    std::snprintf(hash, sizeof hash, "%016" PRIx64, h);
    return std::to_string(bytes.size()) + " " + hash;
}

std::string PendingFile(const std::string& databaseBefore, const std::string& content) {
    const std::string database =
        databaseBefore == "<missing>" ? "missing" : Fingerprint(databaseBefore);
    return "oesent.pending 1\r\ndatabase " + database + "\r\noesent " + Fingerprint(content) +
           "\r\n" + content;
}

const std::string kSentBefore = "1\r\n2\r\n";
const std::string kSentAfter = "1\r\n2\r\n3\r\n";

// Two generations of a store: the second sends one message more.
void FirstGeneration(Scenario& s) {
    s.StandardFolders();
    s.Messages("Inbox.dbx", {From(1, "in@x.example")});
    s.Messages("Sent Items.dbx", {To(1, "a@x.com;b@x.com"), To(2, "c@x.com")});
    s.Messages("Good Mail.dbx", {});
    s.Messages("Junk Found.dbx", {});
}
void SecondGeneration(Scenario& s) {
    s.Messages("Sent Items.dbx",
               {To(1, "a@x.com;b@x.com"), To(2, "c@x.com"), To(3, "a@x.com;d@x.com")});
}

// The reference: both generations, each run to its end.
struct Reference {
    Scenario s;
    std::string databaseAfterFirst;
    Reference() {
        FirstGeneration(s);
        EXPECT_EQ(s.Run().exitCode, 0);
        databaseAfterFirst = s.File("quellboxaddr.bin");
        SecondGeneration(s);
        EXPECT_EQ(s.Run().exitCode, 0);
        EXPECT_EQ(s.File("oesent"), kSentAfter);
    }
};

void ExpectSameResult(const Scenario& s, const Scenario& reference) {
    EXPECT_EQ(s.File("oesent"), reference.File("oesent"));
    EXPECT_EQ(s.File("oesent.pending"), "<missing>");
    const auto db = s.Database();
    const auto expected = reference.Database();
    EXPECT_EQ(db.size(), expected.size());
    for (const auto& [address, record] : expected) {
        EXPECT_EQ(db.count(address) ? db.at(address).to : -1, record.to) << address;
        EXPECT_EQ(db.count(address) ? db.at(address).from : -1, record.from) << address;
    }
}

bool Logged(const Scenario& s, const std::string& line) {
    const auto lines = s.Console();
    return std::find(lines.begin(), lines.end(), line) != lines.end();
}

TEST(SentState, KilledBeforeTheDatabaseSaveTheMessagesAreCountedOnce) {
    const Reference reference;
    // Killed after the pending file was written, before (or while) the save
    // replaced the database: the database file is as the pending file saw it.
    Scenario s;
    FirstGeneration(s);
    ASSERT_EQ(s.Run().exitCode, 0);
    SecondGeneration(s);
    s.ListFile("oesent.pending", PendingFile(s.File("quellboxaddr.bin"), kSentAfter));
    ASSERT_EQ(s.Run().exitCode, 0);
    ExpectSameResult(s, reference.s);
    EXPECT_FALSE(Logged(s, kDamaged));
}

TEST(SentState, KilledAfterTheDatabaseSaveTheMessagesAreNotCountedAgain) {
    const Reference reference;
    // The save replaced the database; conf\oesent is still the old one (kill
    // before or while it was replaced) or already the new one (kill before
    // the pending file was removed).
    for (const std::string& sent : {kSentBefore, kSentAfter}) {
        SCOPED_TRACE("conf/oesent " + sent);
        Scenario s;
        FirstGeneration(s);
        ASSERT_EQ(s.Run().exitCode, 0);
        SecondGeneration(s);
        s.ListFile("oesent.pending", PendingFile(s.File("quellboxaddr.bin"), kSentAfter));
        s.ListFile("quellboxaddr.bin", reference.s.File("quellboxaddr.bin"));
        s.ListFile("oesent", sent);
        ASSERT_EQ(s.Run().exitCode, 0);
        ExpectSameResult(s, reference.s);
    }
}

TEST(SentState, KilledAfterTheFirstSaveMadeTheDatabaseTheMessagesAreNotCountedAgain) {
    const Reference reference;
    // The very first run: no database before the save, none in conf\oesent.
    Scenario s;
    FirstGeneration(s);
    s.ListFile("oesent.pending", PendingFile("<missing>", kSentBefore));
    s.ListFile("quellboxaddr.bin", reference.databaseAfterFirst);
    ASSERT_EQ(s.Run().exitCode, 0);
    EXPECT_EQ(s.File("oesent"), kSentBefore);
    SecondGeneration(s);
    ASSERT_EQ(s.Run().exitCode, 0);
    ExpectSameResult(s, reference.s);
}

TEST(SentState, APendingFileThatCannotBeReadIsDroppedAndNothingIsLost) {
    const Reference reference;
    // Each claims a save took place (the database is not the one it saw):
    // taken at its word, a damaged one would mark messages as counted whose
    // counts the database lacks, or record numbers of no message.
    const std::string whole = PendingFile("an older database", kSentAfter);
    struct Case {
        const char* name;
        std::string pending;
        bool reported;
    };
    const Case cases[] = {
        {"cut short", whole.substr(0, whole.size() - 3), true},
        {"other header", "oesent.pending 2" + whole.substr(whole.find("\r\n")), true},
        {"no header", kSentAfter, true},
        {"a changed byte", whole.substr(0, whole.size() - 3) + "4\r\n", true},
        {"emptied", "", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Scenario s;
        FirstGeneration(s);
        ASSERT_EQ(s.Run().exitCode, 0);
        SecondGeneration(s);
        s.ListFile("oesent.pending", c.pending);
        ASSERT_EQ(s.Run().exitCode, 0);
        EXPECT_EQ(Logged(s, kDamaged), c.reported);
        ExpectSameResult(s, reference.s);
    }
}

// ---- Leftovers of killed runs ---------------------------------------------

pid_t DeadProcess() {
    const pid_t child = ::fork();
    if (child == 0)
        ::_exit(0);
    int status = 0;
    ::waitpid(child, &status, 0);
    return child;
}

TEST(SentState, TemporaryFilesOfKilledWritersAreRemovedAndALiveWritersStays) {
    Scenario s;
    FirstGeneration(s);
    ASSERT_EQ(s.Run().exitCode, 0);
    // The next run saves nothing: the database's leftovers go when it is opened.
    const std::string dead = "conf/.quellboxaddr.bin." + std::to_string(DeadProcess()) + ".AbC123";
    const std::string live = "conf/.quellboxaddr.bin." + std::to_string(::getpid()) + ".AbC123";
    s.Program().Write(dead, "part of a save");
    s.Program().Write(live, "a save going on");
    s.Program().Write("conf/.oesent.pending.qbtmp-AbC123", "part of a pending file");
    s.WriteRegistryNow();
    s.Program().Write(".registry.reg.qbtmp-AbC123", "part of a registry");
    const std::string database = s.File("quellboxaddr.bin");
    ASSERT_EQ(s.Run().exitCode, 0);
    EXPECT_EQ(s.File("quellboxaddr.bin"), database);
    EXPECT_EQ(s.Program().Read(dead), "<missing>");
    EXPECT_EQ(s.Program().Read(live), "a save going on");
    EXPECT_EQ(s.Program().Read("conf/.oesent.pending.qbtmp-AbC123"), "<missing>");
    EXPECT_EQ(s.Program().Read(".registry.reg.qbtmp-AbC123"), "<missing>");
}

}  // namespace
}  // namespace qb::test
