// What the scanner has learned is kept through the faults a real disk has and
// on a machine with several users: a folder that cannot be listed (no
// rights, an I/O error, removed or replaced during the run) or read is never
// taken for an empty one; a message with thousands of senders weighs as one;
// and every store (each user's, each identity's) keeps its own state while
// the lists stay the machine's.
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <time.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <functional>
#include <regex>
#include <set>
#include <sstream>

#include "tests/e2e/Scenario.h"

namespace qb::test {
namespace {

namespace fs = std::filesystem;
using Lines = std::vector<std::string>;
using Files = std::map<std::string, std::string>;

// Every file of conf but the stores' index (whose date moves at midnight).
Files Conf(Scenario& s) {
    Files files;
    for (const auto& e : fs::directory_iterator(s.Program() / "conf")) {
        const std::string name = e.path().filename().string();
        if (name != "stores")
            files[name] = s.File(name);
    }
    return files;
}

// One user's stores, each verdict sender in one folder only: Outlook
// Express (store/) and Windows Live Mail (wlm/, with a block folder at the
// top of Storage Folders and one below Archive).
void FillStores(Scenario& s) {
    s.OutlookExpressStore("oe@inbox.example", "oe@sent.example", "friend@oe.example",
                          "spam@oe.example");
    s.MailStore("Windows Live Mail", "wlm");
    s.Put("wlm/Hotmail (jo)/Inbox/1.eml", Eml("ann@wlm.example", "jo@hotmail.example"));
    s.Put("wlm/Hotmail (jo)/Sent Items/1.eml",
          Eml("jo@hotmail.example", "carl@wlm.example", 1, "<s1@jo>"));
    s.Put("wlm/Storage Folders/Good Mail/g.eml", Eml("pal@wlm.example", "jo@hotmail.example"));
    s.Put("wlm/Storage Folders/Junk Found/j.eml", Eml("junk@wlm.example", "jo@hotmail.example"));
    s.Put("wlm/Storage Folders/Archive/Junk Found/k.eml",
          Eml("old@wlm.example", "jo@hotmail.example"));
}

// A fault put in place after a first run, and what the run with it writes to
// the console (the store's paths follow "<wlm>" and "<oe>"). preload: the
// file layer's hook (FileFaultHook.c), with QB_HOOK_AT and QB_HOOK_DO.
struct Fault {
    const char* name;
    std::function<void(Scenario&)> apply;
    Lines console;
    std::vector<std::string> hook = {};
    Files changed = {};  // what the run may change: files and their new content
    bool exact = true;   // console holds every line the run writes, else some in order
};

std::string Folder(Scenario& s, const std::string& relative) {
    return s.Program() / relative;
}
void NoRights(Scenario& s, const std::string& relative) {
    ::chmod(Folder(s, relative).c_str(), 0);
}

const char* const kIndexOutOfBounds = "CString::getBytes Error -2147220992 : Index out of bounds";
const char* const kReadOutside = "openFile() Error -2147220990 : Read outside the file";
const char* const kApproveIncomplete =
    "Windows Live Mail approve folder not read in full; no address leaves approvedsenders in "
    "this run.";
const char* const kBlockIncomplete =
    "Windows Live Mail block folder not read in full; no address leaves blockedsenders in this "
    "run.";

std::vector<Fault> Faults() {
    return {
        {"the Windows Live Mail store folder cannot be listed",
         [](Scenario& s) { NoRights(s, "wlm"); },
         {"Unable to open folder <wlm>: Permission denied", kApproveIncomplete, kBlockIncomplete}},
        {"an account folder cannot be listed",
         [](Scenario& s) { NoRights(s, "wlm/Storage Folders"); },
         {"Unable to open folder <wlm>\\Storage Folders: Permission denied", kApproveIncomplete,
          kBlockIncomplete}},
        {"a folder above a block folder cannot be listed",
         [](Scenario& s) { NoRights(s, "wlm/Storage Folders/Archive"); },
         {"Unable to open folder <wlm>\\Storage Folders\\Archive: Permission denied",
          kApproveIncomplete, kBlockIncomplete}},
        {"the block folder cannot be listed",
         [](Scenario& s) { NoRights(s, "wlm/Storage Folders/Junk Found"); },
         {"Unable to open folder <wlm>\\Storage Folders\\Junk Found: Permission denied",
          kApproveIncomplete, kBlockIncomplete}},
        {"the listing of an account folder breaks off part way",
         [](Scenario&) {},
         {"Unable to open folder <wlm>\\Storage Folders: Input/output error", kApproveIncomplete,
          kBlockIncomplete},
         {"wlm/Storage Folders", "break"}},
        {"the block folder is removed during the run",
         [](Scenario&) {},
         {"Unable to open folder <wlm>\\Storage Folders\\Junk Found: No such file or directory",
          kBlockIncomplete},
         {"wlm/Storage Folders/Good Mail/g.eml", "remove wlm/Storage Folders/Junk Found"}},
        {"the block folder is replaced by a file during the run",
         [](Scenario&) {},
         {"Unable to open folder <wlm>\\Storage Folders\\Junk Found: Not a directory",
          kBlockIncomplete},
         {"wlm/Storage Folders/Good Mail/g.eml", "replace wlm/Storage Folders/Junk Found"}},
        {"a pipe, a socket and a link to nothing lie among the block folder's messages",
         [](Scenario& s) {
             const std::string junk = Folder(s, "wlm/Storage Folders/Junk Found");
             fs::remove(junk + "/j.eml");
             s.Put("wlm/Storage Folders/Junk Found/n.eml",
                   Eml("new@wlm.example", "jo@hotmail.example"));
             ::mkfifo((junk + "/p.eml").c_str(), 0644);
             fs::create_symlink(junk + "/nowhere", junk + "/d.eml");
             const int sock = ::socket(AF_UNIX, SOCK_STREAM, 0);
             sockaddr_un address{};
             address.sun_family = AF_UNIX;
             std::snprintf(address.sun_path, sizeof address.sun_path, "%s/s.eml", junk.c_str());
             ::bind(sock, reinterpret_cast<sockaddr*>(&address), sizeof address);
             ::close(sock);
         },
         {"Unable to open <wlm>\\Storage Folders\\Junk Found\\d.eml: not an ordinary file",
          "Unable to open <wlm>\\Storage Folders\\Junk Found\\p.eml: not an ordinary file",
          "Unable to open <wlm>\\Storage Folders\\Junk Found\\s.eml: not an ordinary file",
          kBlockIncomplete},
         {},
         {{"blockedsenders",
           "junk@wlm.example\r\nnew@wlm.example\r\nold@wlm.example\r\nspam@oe.example\r\n"},
          {"wlmbs", "junk@wlm.example\r\nnew@wlm.example\r\nold@wlm.example\r\n"}}},
        {"the Outlook Express block folder's file cannot be read",
         [](Scenario& s) { NoRights(s, "store/Junk Found.dbx"); },
         {"loadBinary() Error 75 : Path/File access error", kIndexOutOfBounds, kReadOutside,
          "Unable to open block folder."}},
        {"the Outlook Express store folder cannot be listed",
         [](Scenario& s) { NoRights(s, "store"); },
         // Among the lines of every lookup in Folders.dbx and every scan.
         {"Unable to open <oe>\\Folders.dbx", "Unable to open Inbox",
          "Unable to open Sent Items folder.", "Unable to find the folder junk found",
          "Unable to open approve folder.", "Unable to open block folder."},
         {},
         {},
         false},
        {"the Outlook Express block folder's file vanishes during the run",
         [](Scenario&) {},
         {"loadBinary() Error 53 : File not found", kIndexOutOfBounds, kReadOutside,
          "Unable to open block folder."},
         {"store/Good Mail.dbx", "remove store/Junk Found.dbx"}},
    };
}

std::string Expand(std::string line, Scenario& s) {
    for (const auto& [mark, dir] : {std::pair{"<wlm>", "wlm"}, std::pair{"<oe>", "store"}}) {
        if (const size_t at = line.find(mark); at != std::string::npos)
            line.replace(at, std::strlen(mark), Folder(s, dir));
    }
    return line;
}

TEST(StoreFaults, NothingLearnedLeavesTheListsWhenAFolderOrFileCannotBeRead) {
    for (const Fault& fault : Faults()) {
        SCOPED_TRACE(fault.name);
        Scenario s;
        FillStores(s);
        ASSERT_EQ(s.Run().exitCode, 0);
        ASSERT_EQ(s.File("blockedsenders"),
                  "junk@wlm.example\r\nold@wlm.example\r\nspam@oe.example\r\n");
        Files expected = Conf(s);
        for (const auto& [name, content] : fault.changed)
            expected[name] = content;
        fs::remove(s.Program() / "console.txt");
        AsOrdinaryUser user(s);
        fault.apply(s);
        std::vector<std::string> env;
        if (!fault.hook.empty()) {
            const std::string at = Folder(s, fault.hook[0]);
            std::string what = fault.hook[1];
            if (const size_t blank = what.find(' '); blank != std::string::npos)
                what = what.substr(0, blank + 1) + Folder(s, what.substr(blank + 1));
            env = {"LD_PRELOAD=" FILE_FAULT_PRELOAD, "QB_HOOK_AT=" + at, "QB_HOOK_DO=" + what};
        }
        const RunResult run =
            s.Program().Run({}, s.RunEnvironment(env), std::chrono::seconds(60), user.Drop());
        ASSERT_EQ(run.exitCode, 0) << run.output;
        Lines console;
        for (const std::string& line : fault.console)
            console.push_back(Expand(line, s));
        if (fault.exact) {
            EXPECT_EQ(s.Console(), console);
        } else {
            const Lines all = s.Console();
            auto at = all.begin();
            for (const std::string& line : console) {
                at = std::find(at, all.end(), line);
                EXPECT_NE(at, all.end()) << line;
            }
        }
        EXPECT_EQ(Conf(s), expected);
    }
}

// A message whose From field lists 3,000 addresses, in the Inbox beside a
// database of 4,000 learned correspondents (the scanner opens it with room
// for 5,000) and in a block folder: one sender, as an Outlook Express
// message has.
TEST(OneSender, AMessageWithThousandsOfSendersWeighsAsOne) {
    Scenario s;
    std::string from;
    for (int i = 0; i < 3000; ++i) {
        char address[32];
        std::snprintf(address, sizeof address, "%sf%04d@fl.example", i ? ", " : "", i);
        from += address;
    }
    const std::string flood = Eml(from, "jo@hotmail.example");
    ASSERT_LT(flood.size(), 64u * 1024u) << "the whole field lies within what the reader reads";
    s.MailStore("Windows Live Mail", "wlm");
    s.Put("wlm/Hotmail (jo)/Inbox/flood.eml", flood);
    s.Put("wlm/Storage Folders/Junk/flood.eml", flood);
    s.Conf("oe_block_folder=Junk\r\n");
    std::string database = "v1 0 4000\r\n";
    for (int i = 0; i < 4000; ++i) {
        char line[48];
        std::snprintf(line, sizeof line, "a%04d@learned.example 0 1\r\n", i);
        database += line;
    }
    s.ListFile("quellboxaddr.bin", database);
    ASSERT_EQ(s.Run().exitCode, 0);
    const auto db = s.Database();
    EXPECT_EQ(db.size(), 4001u);
    for (int i = 0; i < 4000; ++i) {
        char address[32];
        std::snprintf(address, sizeof address, "a%04d@learned.example", i);
        ASSERT_EQ(db.count(address), 1u) << address << " was pushed out";
    }
    EXPECT_EQ(db.at("f0000@fl.example").from, 1u);
    EXPECT_EQ(s.File("blockedsenders"), "f0000@fl.example\r\n");
    EXPECT_EQ(s.File("wlmbs"), "f0000@fl.example\r\n");
}

// A machine with two users, A and B (B's profile copied from A's, so that
// their identities share one GUID), and a second identity of A, A2: one
// program folder, each run with its user's registry file. Verdicts overlap
// and Sent Items message numbers (and Message-IDs) coincide between stores.
struct Person {
    const char* registry;
    const char* identity;
    const char* oe;
    const char* wlm;
};
const Person kA{"a.reg", kIdentity, "oeA", "wlmA"};
const Person kB{"b.reg", kIdentity, "oeB", "wlmB"};
const Person kA2{"a2.reg", "{0B1C2D3E-4F50-6172-8394-A5B6C7D8E9F0}", "oeA2", "wlmA"};

class SharedMachine : public ::testing::Test {
  protected:
    void SetUp() override {
        s.Conf("oe_block_folder=Junk Found\r\noe_approve_folder=Good Mail\r\n");
        for (const Person& p : {kA, kB, kA2}) {
            s.StandardFolders(p.oe);
            s.Messages("Inbox.dbx", {}, p.oe);
        }
        s.Messages("Sent Items.dbx", {To(1, "carl@a.example"), To(2, "carl@a.example")}, "oeA");
        s.Messages("Good Mail.dbx", {From(1, "offers@shop.example")}, "oeA");
        s.Messages("Junk Found.dbx", {From(1, "spam@both.example"), From(2, "a-spam@x.example")},
                   "oeA");
        s.Messages("Sent Items.dbx", {To(1, "dora@b.example"), To(2, "dora@b.example")}, "oeB");
        s.Messages("Good Mail.dbx", {From(1, "b-friend@x.example")}, "oeB");
        s.Messages("Junk Found.dbx", {From(1, "spam@both.example")}, "oeB");
        s.Messages("Sent Items.dbx", {To(1, "erin@a2.example")}, "oeA2");
        s.Messages("Good Mail.dbx",
                   {From(1, "offers@shop.example"), From(2, "a2-friend@x.example")}, "oeA2");
        s.Messages("Junk Found.dbx", {}, "oeA2");
        s.Put("wlmA/Hotmail (a)/Sent Items/1.eml",
              Eml("a@x.example", "finn@a.example", 1, "<m1@x>"));
        s.Put("wlmA/Storage Folders/Good Mail/g.eml", Eml("pal@a.example", "a@x.example"));
        s.Put("wlmB/Hotmail (b)/Sent Items/1.eml",
              Eml("b@x.example", "gus@b.example", 1, "<m1@x>"));
        s.Put("wlmB/Storage Folders/Junk Found/j.eml", Eml("b-junk@x.example", "b@x.example"));
    }

    void Run(const Person& p, const std::function<void()>& asUser = {}) {
        const std::string registry = s.OtherRegistry(p.registry, p.identity, p.oe, p.wlm);
        fs::remove(s.Program() / "console.txt");
        ASSERT_EQ(s.Program()
                      .Run({}, {"QUELLBOX_REGISTRY=" + registry}, std::chrono::seconds(60), asUser)
                      .exitCode,
                  0);
    }

    // conf\stores: each store's id by its root's folder name.
    std::map<std::string, std::string> Ids() {
        std::map<std::string, std::string> ids;
        std::istringstream in(s.File("stores"));
        std::string line;
        std::getline(in, line);
        EXPECT_EQ(line, "stores 1\r");
        const std::regex entry("(oe|wlm)(-[0-9a-f]{8})? ([0-9]{4}-[0-9]{2}-[0-9]{2}) (.*)\r");
        while (std::getline(in, line)) {
            std::smatch m;
            EXPECT_TRUE(std::regex_match(line, m, entry)) << line;
            ids[fs::path(m[4].str()).filename().string()] = m[2];
            dates[fs::path(m[4].str()).filename().string()] = m[3];
        }
        return ids;
    }

    Scenario s;
    std::map<std::string, std::string> dates;
};

TEST_F(SharedMachine, EachStoreKeepsItsOwnStateAndTheListsStayTheMachines) {
    Run(kA);
    // One user with one identity: the files a machine always had.
    std::set<std::string> names;
    for (const auto& [name, content] : Conf(s))
        names.insert(name);
    EXPECT_EQ(names, (std::set<std::string>{"approvedsenders", "blockedsenders", "oesas", "oesbs",
                                            "oesent", "quellbox.conf", "quellboxaddr.bin", "wlmas",
                                            "wlmsent"}));
    Run(kB);
    Run(kA2);
    std::map<std::string, std::string> ids = Ids();
    ASSERT_EQ(ids.size(), 5u);
    EXPECT_EQ(ids["oeA"] + ids["wlmA"], "") << "the first store of each kind keeps the first names";
    const std::string b = ids["oeB"], wb = ids["wlmB"], a2 = ids["oeA2"];
    EXPECT_TRUE(!b.empty() && !wb.empty() && !a2.empty() && b != a2);
    const Files expected = {
        {"approvedsenders",
         "a2-friend@x.example\r\nb-friend@x.example\r\noffers@shop.example\r\npal@a.example\r\n"},
        {"blockedsenders", "a-spam@x.example\r\nb-junk@x.example\r\nspam@both.example\r\n"},
        {"oesas", "offers@shop.example\r\n"},
        {"oesbs", "a-spam@x.example\r\nspam@both.example\r\n"},
        {"oesent", "1\r\n2\r\n"},
        {"oesas" + b, "b-friend@x.example\r\n"},
        {"oesbs" + b, "spam@both.example\r\n"},
        {"oesent" + b, "1\r\n2\r\n"},
        {"oesas" + a2, "a2-friend@x.example\r\noffers@shop.example\r\n"},
        {"oesbs" + a2, ""},
        {"oesent" + a2, "1\r\n"},
        {"wlmas", "pal@a.example\r\n"},
        {"wlmsent", "<m1@x>\r\n"},
        {"wlmbs" + wb, "b-junk@x.example\r\n"},
        {"wlmsent" + wb, "<m1@x>\r\n"},
    };
    Files conf = Conf(s);
    const std::string database = conf["quellboxaddr.bin"];
    for (const char* file : {"quellbox.conf", "quellboxaddr.bin"})
        conf.erase(file);
    EXPECT_EQ(conf, expected);
    // Every store's sent messages once, whatever numbers they share.
    const auto db = s.Database();
    for (const auto& [address, to] : std::map<std::string, uint32_t>{{"carl@a.example", 2},
                                                                     {"dora@b.example", 2},
                                                                     {"erin@a2.example", 1},
                                                                     {"finn@a.example", 1},
                                                                     {"gus@b.example", 1}})
        EXPECT_EQ(db.at(address).to, to) << address;

    // Alternating runs over unchanged stores change nothing.
    for (const Person& p : {kA, kB, kA2, kB})
        Run(p);
    Files again = Conf(s);
    EXPECT_EQ(again["quellboxaddr.bin"], database);
    for (const char* file : {"quellbox.conf", "quellboxaddr.bin"})
        again.erase(file);
    EXPECT_EQ(again, expected);

    // An address leaves a list only when no store's folder owes it.
    s.Messages("Good Mail.dbx", {}, "oeA");
    s.Messages("Junk Found.dbx", {From(2, "a-spam@x.example")}, "oeA");
    Run(kA);
    Run(kB);
    EXPECT_EQ(s.File("oesas"), "");
    EXPECT_EQ(
        s.File("approvedsenders"),
        "a2-friend@x.example\r\nb-friend@x.example\r\noffers@shop.example\r\npal@a.example\r\n")
        << "A2's folder still holds offers@shop.example";
    EXPECT_EQ(s.File("blockedsenders"),
              "a-spam@x.example\r\nb-junk@x.example\r\nspam@both.example\r\n")
        << "B's folder still holds spam@both.example";
    s.Messages("Good Mail.dbx", {From(2, "a2-friend@x.example")}, "oeA2");
    Run(kA2);
    EXPECT_EQ(s.File("approvedsenders"),
              "a2-friend@x.example\r\nb-friend@x.example\r\npal@a.example\r\n");

    // User B is gone: after half a year without a scan its stores owe
    // nothing, and what only they owed leaves the lists.
    const time_t longAgo = ::time(nullptr) - 200 * 86400;
    struct tm tm;
    ::localtime_r(&longAgo, &tm);
    char old[16];
    ::strftime(old, sizeof old, "%Y-%m-%d", &tm);
    std::string index = s.File("stores");
    for (const char* store : {"oeB", "wlmB"}) {
        const size_t at = index.find(dates[store] + " " + Folder(s, store));
        ASSERT_NE(at, std::string::npos) << index;
        index.replace(at, 10, old);
    }
    s.ListFile("stores", index);
    Run(kA);
    EXPECT_EQ(s.Console(),
              (Lines{"Unable to open Windows Live Mail Inbox",
                     "Unable to find the folder junk found in Windows Live Mail",
                     "The Outlook Express store " + Folder(s, "oeB") + " was last scanned on " +
                         old + "; the addresses only its folders held leave the lists.",
                     "The Windows Live Mail store " + Folder(s, "wlmB") + " was last scanned on " +
                         old + "; the addresses only its folders held leave the lists."}));
    EXPECT_EQ(s.File("approvedsenders"), "a2-friend@x.example\r\npal@a.example\r\n");
    EXPECT_EQ(s.File("blockedsenders"), "a-spam@x.example\r\n");
    for (const std::string& file : {"oesas" + b, "oesbs" + b, "wlmbs" + wb})
        EXPECT_FALSE(s.Program().Exists("conf/" + file)) << file;
    EXPECT_EQ(s.File("oesent" + b), "1\r\n2\r\n") << "kept, should B come back";

    // B comes back: its verdicts with it, its messages not counted again.
    Run(kB);
    EXPECT_EQ(s.File("approvedsenders"),
              "a2-friend@x.example\r\nb-friend@x.example\r\npal@a.example\r\n");
    EXPECT_EQ(s.File("blockedsenders"),
              "a-spam@x.example\r\nb-junk@x.example\r\nspam@both.example\r\n");
    EXPECT_EQ(s.Database().at("dora@b.example").to, 2u);
    Ids();
    EXPECT_NE(dates["oeB"], old);

    // What another store owes cannot be told while its state file cannot be
    // read: nothing leaves the list through A's folder then.
    s.Messages("Junk Found.dbx", {}, "oeA");
    AsOrdinaryUser user(s);
    const std::string unreadable = s.Program() / ("conf/oesbs" + b);
    ::chmod(unreadable.c_str(), 0);
    Run(kA, user.Drop());
    EXPECT_EQ(s.File("blockedsenders"),
              "a-spam@x.example\r\nb-junk@x.example\r\nspam@both.example\r\n");
    const std::string path = s.Program().Dir().Path() + "\\conf\\oesbs" + b;
    EXPECT_EQ(s.Console(), (Lines{"70:Permission denied",
                                  "Unable to read " + path + "; it is left unchanged in this run.",
                                  "Unable to open Windows Live Mail Inbox",
                                  "Unable to find the folder junk found in Windows Live Mail"}));
    ::chmod(unreadable.c_str(), 0644);
    Run(kA);
    EXPECT_EQ(s.File("blockedsenders"), "b-junk@x.example\r\nspam@both.example\r\n");
}

}  // namespace
}  // namespace qb::test
