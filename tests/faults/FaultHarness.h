// Fault-injection support: a store that changes from one generation to the
// next (so that every run adds to and removes from the lists, the state files
// and the database), snapshots of the product files, their parsers, and the
// checks a product folder must pass after a fault and after the run that
// follows it.
//
// Environment: QB_FAULT_SEED replays a campaign (the seed is printed),
// QB_FAULT_KILLS and QB_FAULT_RACES set how many faults a campaign injects,
// QB_FAULT_SECONDS bounds each campaign's time, QB_FAULT_REPORT=1 prints the
// findings instead of failing on them.
#pragma once

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <map>
#include <random>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "tests/e2e/Scenario.h"

namespace qb::test::faults {

inline long EnvNumber(const char* name, long fallback) {
    const char* text = std::getenv(name);
    return text && *text ? std::strtol(text, nullptr, 10) : fallback;
}

// ---- the generated store ----

// Generation g: an Inbox that grows by a few senders, a Sent Items folder
// that gains messages, and approve and block folders whose senders form a
// window that slides on by shift, so each run adds shift addresses to each
// list and removes shift. The default shape is the fault campaigns'; the
// crash-state test takes a small one (each of its states costs a run).
// With mailStore, a Windows Live Mail store (store/wlm) lies beside the
// Outlook Express store, made the same way and smaller, its windows half
// overlapping the Outlook Express ones (addresses both stores' folders owe).
struct StoreShape {
    int inbox = 1200, inboxStep = 10, sentBase = 600, sentStep = 30, window = 80, shift = 12;
    bool mailStore = false;
    int mailInbox = 60, mailSentBase = 40, mailSentStep = 4;
};
inline constexpr int kRecipients = 400;

inline std::vector<std::string> Recipients(uint32_t id) {
    return {"r" + std::to_string(id % kRecipients) + "@to.example",
            "r" + std::to_string((id * 7 + 3) % kRecipients) + "@to.example"};
}

inline void SetUpProgram(Scenario& s, const StoreShape& shape = {}) {
    s.StandardFolders();  // Inbox, Sent Items, Good Mail, Junk Found
    if (shape.mailStore)
        s.MailStore("Windows Live Mail", "store/wlm");
    s.Conf("oe_block_folder=Junk Found\r\noe_approve_folder=Good Mail\r\n");
    s.ListFile("approvedsenders", "typed@user.example\r\n");
    s.ListFile("blockedsenders", "typed@block.example\r\n");
    s.OEBlocked({"oe1@oe.example", "oe2@oe.example"});
}

inline int SentCount(int generation, const StoreShape& shape = {}) {
    return shape.sentBase + generation * shape.sentStep;
}

inline void WriteGeneration(Scenario& s, int generation, const StoreShape& shape = {}) {
    std::vector<dbx::Message> inbox, sent, good, junk;
    for (int k = 0; k < shape.inbox + generation * shape.inboxStep; ++k)
        inbox.push_back(
            From(k + 1, "s" + std::to_string(k) + "@in" + std::to_string(k % 9) + ".example"));
    for (int id = 1; id <= SentCount(generation, shape); ++id) {
        const auto r = Recipients(id);
        sent.push_back(To(id, r[0] + ";" + r[1]));
    }
    for (int k = generation * shape.shift; k < generation * shape.shift + shape.window; ++k) {
        good.push_back(From(k + 1, "a" + std::to_string(k) + "@ok.example"));
        junk.push_back(From(k + 1, "b" + std::to_string(k) + "@spam.example"));
    }
    s.Messages("Inbox.dbx", inbox);
    s.Messages("Sent Items.dbx", sent);
    s.Messages("Good Mail.dbx", good);
    s.Messages("Junk Found.dbx", junk);
    if (!shape.mailStore)
        return;

    const std::string wlm = "store/wlm/";
    std::filesystem::remove_all(s.Program() / wlm);
    for (int k = 0; k < shape.mailInbox + generation; ++k)
        s.Put(wlm + "Mail (jo)/Inbox/" + std::to_string(k) + ".eml",
              Eml("w" + std::to_string(k) + "@in.example", "jo@home.example"));
    for (int m = 1; m <= shape.mailSentBase + generation * shape.mailSentStep; ++m) {
        const auto r = Recipients(m);
        s.Put(wlm + "Mail (jo)/Sent Items/" + std::to_string(m) + ".eml",
              Eml("jo@home.example", r[0] + ", " + r[1], 1,
                  "<" + std::to_string(m) + "@wlm.example>"));
    }
    const int first = generation * shape.shift + shape.window / 2;
    for (int k = first; k < first + shape.window; ++k) {
        s.Put(wlm + "Storage Folders/Good Mail/" + std::to_string(k) + ".eml",
              Eml("a" + std::to_string(k) + "@ok.example", "jo@home.example"));
        s.Put(wlm + "Storage Folders/Junk Found/" + std::to_string(k) + ".eml",
              Eml("b" + std::to_string(k) + "@spam.example", "jo@home.example"));
    }
}

// ---- product files ----

inline const std::vector<std::string>& ProductFiles() {
    static const std::vector<std::string> files = {
        "conf/approvedsenders", "conf/blockedsenders", "conf/oesas",
        "conf/oesbs",           "conf/oesent",         "conf/wlmas",
        "conf/wlmbs",           "conf/wlmsent",        "conf/quellboxaddr.bin"};
    return files;
}
inline constexpr const char* kMissing = "<missing>";

// The product files' contents, and the registry file's with the program
// folder's path written as <folder> (so that two folders compare).
struct Snapshot {
    std::map<std::string, std::string> files;
    std::string registry;
};

inline std::string Replace(std::string text, const std::string& from, const std::string& to) {
    for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
    return text;
}

// A state file of any store: the first store's of a kind, or a further
// store's with its id ("conf/oesas-3fa9c2d1"), or its Sent Items pending file.
inline bool StateFileName(const std::string& name) {
    static const std::regex pattern(
        "conf/(oe(sent|sas|sbs)|(wlm|wmail)(sent|as|bs))(-[0-9a-f]{8})?|"
        "conf/(oe|wlm|wmail)sent(-[0-9a-f]{8})?\\.pending");
    return std::regex_match(name, pattern);
}

// The product files, and the state files of further stores where there are.
inline Snapshot Take(const ProgramFolder& p) {
    Snapshot s;
    for (const std::string& f : ProductFiles())
        s.files[f] = p.Read(f);
    for (const auto& e : std::filesystem::directory_iterator(p / "conf")) {
        const std::string name = "conf/" + e.path().filename().string();
        if (StateFileName(name) && name.find('-') != std::string::npos)
            s.files[name] = p.Read(name);
    }
    s.registry = Replace(p.Read("registry.reg"), p.Dir().Path(), "<folder>");
    return s;
}

inline void Restore(const ProgramFolder& p, const Snapshot& s) {
    for (const auto& [name, content] : s.files) {
        if (content == kMissing)
            std::filesystem::remove(p / name);
        else
            p.Write(name, content);
    }
    p.Write("registry.reg", Replace(s.registry, "<folder>", p.Dir().Path()));
}

// Lines ending in CR LF; whole is false when the text ends inside a line.
struct Lines {
    std::vector<std::string> lines;
    bool whole = true;
};
inline Lines SplitLines(const std::string& text) {
    Lines out;
    if (text == kMissing)
        return out;
    size_t start = 0;
    while (start < text.size()) {
        const size_t end = text.find("\r\n", start);
        if (end == std::string::npos) {
            out.whole = false;
            break;
        }
        out.lines.push_back(text.substr(start, end - start));
        start = end + 2;
    }
    return out;
}

// A sender list or state file: whole when every line is complete and an
// address this store or its user can have put there.
struct List {
    std::set<std::string> entries;
    bool whole = true;
};
inline List ParseList(const std::string& text) {
    static const std::regex known(
        "typed@user\\.example|typed@block\\.example|oe[12]@oe\\.example|a[0-9]+@ok\\.example|"
        "b[0-9]+@spam\\.example");
    List list;
    Lines lines = SplitLines(text);
    list.whole = lines.whole;
    for (const std::string& l : lines.lines) {
        list.whole = list.whole && std::regex_match(l, known);
        list.entries.insert(l);
    }
    return list;
}

// conf\oesent: ascending message numbers.
struct SentState {
    std::set<uint32_t> ids;
    bool whole = true;
};
inline SentState ParseSent(const std::string& text) {
    SentState s;
    Lines lines = SplitLines(text);
    s.whole = lines.whole;
    long last = 0;
    for (const std::string& l : lines.lines) {
        const bool number =
            !l.empty() && l.find_first_not_of("0123456789") == std::string::npos && l.size() < 10;
        const long id = number ? std::stol(l) : -1;
        s.whole = s.whole && number && id > last;
        last = id;
        if (number)
            s.ids.insert(static_cast<uint32_t>(id));
    }
    return s;
}

// conf\wlmsent: the Message-IDs "<m@wlm.example>" of the counted messages,
// in the list's text order; ids holds their numbers m.
inline SentState ParseWlmSent(const std::string& text) {
    static const std::regex key("<([0-9]{1,6})@wlm\\.example>");
    SentState s;
    Lines lines = SplitLines(text);
    s.whole = lines.whole;
    for (const std::string& l : lines.lines) {
        std::smatch m;
        const bool ok = std::regex_match(l, m, key);
        s.whole = s.whole && ok;
        if (ok)
            s.ids.insert(static_cast<uint32_t>(std::stoul(m[1].str())));
    }
    return s;
}

// quellboxaddr.bin: the header "v1 from to", then "address from to" lines.
struct Counts {
    uint64_t from = 0, to = 0;
    bool operator==(const Counts& o) const { return from == o.from && to == o.to; }
};
struct Database {
    std::map<std::string, Counts> records;
    bool present = false;
    bool whole = true;
};
inline Database ParseDatabase(const std::string& text) {
    Database db;
    if (text == kMissing)
        return db;
    db.present = true;
    Lines lines = SplitLines(text);
    db.whole = lines.whole && !lines.lines.empty();
    static const std::regex header("v1 [0-9]+ [0-9]+");
    static const std::regex record("([^ ]+) ([0-9]+) ([0-9]+)");
    for (size_t i = 0; i < lines.lines.size(); ++i) {
        std::smatch m;
        if (i == 0) {
            db.whole = db.whole && std::regex_match(lines.lines[0], header);
        } else if (std::regex_match(lines.lines[i], m, record)) {
            db.records[m[1]] = Counts{std::stoull(m[2]), std::stoull(m[3])};
        } else {
            db.whole = false;
        }
    }
    return db;
}

// The registry file without the two values the block and approve scans write.
inline std::string WithoutScanValues(const std::string& registry) {
    std::string out;
    for (const std::string& l : SplitLines(registry).lines) {
        if (l.rfind("\"oe_scan_", 0) != 0)
            out += l + "\n";
    }
    return out;
}

// Files of the program folder (store excluded) by their relative names.
inline std::set<std::string> Names(const ProgramFolder& p) {
    std::set<std::string> names;
    const std::filesystem::path root = p.Dir().Path();
    for (const auto& e : std::filesystem::recursive_directory_iterator(root)) {
        const std::string rel = std::filesystem::relative(e.path(), root).string();
        if (rel != "store" && rel.rfind("store/", 0) != 0)
            names.insert(rel);
    }
    return names;
}

// ---- findings ----

class Findings {
  public:
    // tag heads the printed lines; reportVariable, when set to 1, makes the
    // findings printed only.
    explicit Findings(std::string campaign, std::string tag = "faults",
                      const char* reportVariable = "QB_FAULT_REPORT")
        : campaign_(std::move(campaign)), tag_(std::move(tag)), reportVariable_(reportVariable) {}
    void Add(const std::string& what, long n, const std::string& detail) {
        if (n <= 0)
            return;
        counts_[what] += n;
        // The fault a detail belongs to: the text before its first colon.
        faulty_[what].insert(detail.substr(0, detail.find(':')));
        if (details_.size() < 30)
            details_.push_back(detail + ": " + what + " (" + std::to_string(n) + ")");
    }
    void Ran(const std::string& what, long n = 1) { ran_[what] += n; }
    long Count(const std::string& what) const {
        const auto it = counts_.find(what);
        return it == counts_.end() ? 0 : it->second;
    }
    long Total() const {
        long t = 0;
        for (const auto& [what, n] : counts_)
            t += n;
        return t;
    }
    // Prints the figures; fails the test on any finding unless the report
    // variable is set. With findingsExpected (a control that shows the checks
    // can see a fault) it fails when there is none instead.
    void Conclude(uint64_t seed, bool findingsExpected = false) const {
        std::ostringstream out;
        const std::string head = "[" + tag_ + "] ";
        out << head << campaign_;
        if (seed != 0)
            out << " seed=" << seed;
        for (const auto& [what, n] : ran_)
            out << "; " << what << "=" << n;
        out << "\n";
        if (counts_.empty())
            out << head << "  no fault found\n";
        for (const auto& [what, n] : counts_) {
            out << head << "  " << what << ": " << n << " (in " << faulty_.at(what).size()
                << " of them)\n";
        }
        for (const std::string& d : details_)
            out << head << "    " << d << "\n";
        std::cout << out.str() << std::flush;
        if (findingsExpected) {
            EXPECT_GT(Total(), 0) << out.str()
                                  << "the control found nothing: the checks see no fault";
        } else if (EnvNumber(reportVariable_, 0) == 0) {
            EXPECT_EQ(Total(), 0) << out.str()
                                  << (seed != 0
                                          ? "replay with QB_FAULT_SEED=" + std::to_string(seed)
                                          : std::string());
        }
    }

  private:
    std::string campaign_, tag_;
    const char* reportVariable_;
    std::map<std::string, long> counts_, ran_;
    std::map<std::string, std::set<std::string>> faulty_;
    std::vector<std::string> details_;
};

// The seed (QB_FAULT_SEED or a fresh one) and the time budget of a campaign.
class Campaign {
  public:
    Campaign() {
        const char* text = std::getenv("QB_FAULT_SEED");
        seed_ = text && *text ? std::strtoull(text, nullptr, 10) : std::random_device{}();
        random_.seed(seed_);
        std::cout << "[faults] seed " << seed_ << " (replay with QB_FAULT_SEED=" << seed_ << ")"
                  << std::endl;
    }
    uint64_t Seed() const { return seed_; }
    std::mt19937_64& Random() { return random_; }
    // Whether the campaign still has time for another fault.
    bool InBudget() const {
        return std::chrono::steady_clock::now() - start_ <
               std::chrono::seconds(EnvNumber("QB_FAULT_SECONDS", 60));
    }

  private:
    uint64_t seed_ = 0;
    std::mt19937_64 random_;
    std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
};

// ---- checks ----

// After a fault: every product file holds its old or a complete new content,
// the user's own list entries are there, every harvested address on a target
// list is in its state file, no Sent Items message is recorded whose
// to-counts the database on disk lacks, and the registry file changed at
// at most in the scan values (or as a whole run changes it). pre is the state before the faulty
// run, ref the state an uninterrupted run leaves.
inline void CheckAfterFault(const Snapshot& pre, const Snapshot& now, const Snapshot& ref,
                            const std::string& label, Findings& found) {
    for (const char* list : {"conf/approvedsenders", "conf/blockedsenders", "conf/oesas",
                             "conf/oesbs", "conf/wlmas", "conf/wlmbs"}) {
        const std::string& text = now.files.at(list);
        const bool lost = text == kMissing && pre.files.at(list) != kMissing;
        found.Add("torn or lost product file", !ParseList(text).whole || lost, label + ": " + list);
    }
    const List approved = ParseList(now.files.at("conf/approvedsenders"));
    const List blocked = ParseList(now.files.at("conf/blockedsenders"));
    found.Add("user entry lost from a list", !approved.entries.count("typed@user.example"),
              label + ": approvedsenders");
    found.Add("user entry lost from a list", !blocked.entries.count("typed@block.example"),
              label + ": blockedsenders");
    // A harvested entry must be owed by one store's state file at least.
    const auto unpaired = [&](const List& target, const char* oe, const char* wlm,
                              const char* harvested) {
        const std::regex pattern(harvested);
        const List a = ParseList(now.files.at(oe)), b = ParseList(now.files.at(wlm));
        long n = 0;
        for (const std::string& e : target.entries)
            n += std::regex_match(e, pattern) && !a.entries.count(e) && !b.entries.count(e);
        return n;
    };
    found.Add("harvested list entry without its state entry",
              unpaired(approved, "conf/oesas", "conf/wlmas", "a[0-9]+@ok\\.example"),
              label + ": approvedsenders/oesas/wlmas");
    found.Add("harvested list entry without its state entry",
              unpaired(blocked, "conf/oesbs", "conf/wlmbs", "b[0-9]+@spam\\.example"),
              label + ": blockedsenders/oesbs/wlmbs");

    const SentState sentPre = ParseSent(pre.files.at("conf/oesent"));
    const SentState sentNow = ParseSent(now.files.at("conf/oesent"));
    const bool sentLost =
        now.files.at("conf/oesent") == kMissing && pre.files.at("conf/oesent") != kMissing;
    found.Add("torn or lost product file", !sentNow.whole || sentLost, label + ": oesent");
    bool sentShrank = false;
    for (uint32_t id : sentPre.ids)
        sentShrank = sentShrank || !sentNow.ids.count(id);
    found.Add("torn or lost product file", sentShrank, label + ": oesent lost message numbers");

    const std::string& dbText = now.files.at("conf/quellboxaddr.bin");
    const Database dbPre = ParseDatabase(pre.files.at("conf/quellboxaddr.bin"));
    const Database dbNow = ParseDatabase(dbText);
    const Database dbRef = ParseDatabase(ref.files.at("conf/quellboxaddr.bin"));
    bool dbIntact = dbText == pre.files.at("conf/quellboxaddr.bin");
    if (!dbIntact && dbNow.whole) {
        dbIntact = true;  // a complete new database: no record lost, none beyond the reference
        for (const auto& [address, c] : dbPre.records) {
            const auto it = dbNow.records.find(address);
            dbIntact = dbIntact && it != dbNow.records.end() && it->second.from >= c.from &&
                       it->second.to >= c.to;
        }
        for (const auto& [address, c] : dbNow.records) {
            const auto it = dbRef.records.find(address);
            dbIntact = dbIntact && it != dbRef.records.end() && c.from <= it->second.from &&
                       c.to <= it->second.to;
        }
    }
    found.Add("torn or lost product file", !dbIntact, label + ": quellboxaddr.bin");

    const SentState wlmPre = ParseWlmSent(pre.files.at("conf/wlmsent"));
    const SentState wlmNow = ParseWlmSent(now.files.at("conf/wlmsent"));
    bool wlmShrank = false;
    for (uint32_t id : wlmPre.ids)
        wlmShrank = wlmShrank || !wlmNow.ids.count(id);
    found.Add("torn or lost product file", !wlmNow.whole || wlmShrank, label + ": wlmsent");

    // Messages newly recorded in conf\oesent or conf\wlmsent must have their
    // to-counts on disk.
    std::map<std::string, uint64_t> owed;
    for (const auto& [was, is] : {std::pair{&sentPre, &sentNow}, std::pair{&wlmPre, &wlmNow}}) {
        for (uint32_t id : is->ids) {
            if (!was->ids.count(id)) {
                for (const std::string& r : Recipients(id))
                    ++owed[r];
            }
        }
    }
    long missing = 0;
    for (const auto& [address, n] : owed) {
        const auto before = dbPre.records.find(address);
        const auto after = dbNow.records.find(address);
        const uint64_t had = before == dbPre.records.end() ? 0 : before->second.to;
        const uint64_t has = after == dbNow.records.end() ? 0 : after->second.to;
        missing += has >= had + n ? 0 : static_cast<long>(had + n - has);
    }
    found.Add("to-counts of recorded sent messages missing from the database on disk", missing,
              label);

    const std::string registry = WithoutScanValues(now.registry);
    found.Add(
        "registry file torn or changed beyond the scan values",
        registry != WithoutScanValues(pre.registry) && registry != WithoutScanValues(ref.registry),
        label);
}

// What CheckRecovered finds in the database.
inline constexpr const char* kToCountsLost = "to-counts lost for good";
inline constexpr const char* kFromCountsLost = "from-counts lost for good";
inline constexpr const char* kCountedTwice = "counts added twice";

// After the run that follows a fault: the same files as an uninterrupted
// run's, and no file an uninterrupted run does not leave.
inline bool CheckRecovered(const Snapshot& now, const Snapshot& ref,
                           const std::set<std::string>& leftovers, const std::string& label,
                           Findings& found) {
    const Database dbNow = ParseDatabase(now.files.at("conf/quellboxaddr.bin"));
    const Database dbRef = ParseDatabase(ref.files.at("conf/quellboxaddr.bin"));
    long lostTo = 0, lostFrom = 0, twice = 0;
    for (const auto& [address, c] : dbRef.records) {
        const auto it = dbNow.records.find(address);
        const Counts has = it == dbNow.records.end() ? Counts{} : it->second;
        lostTo += has.to < c.to ? static_cast<long>(c.to - has.to) : 0;
        lostFrom += has.from < c.from ? static_cast<long>(c.from - has.from) : 0;
    }
    for (const auto& [address, c] : dbNow.records) {
        const auto it = dbRef.records.find(address);
        const Counts want = it == dbRef.records.end() ? Counts{} : it->second;
        twice += static_cast<long>((c.to > want.to ? c.to - want.to : 0) +
                                   (c.from > want.from ? c.from - want.from : 0));
    }
    found.Add(kToCountsLost, lostTo, label);
    found.Add(kFromCountsLost, lostFrom, label);
    found.Add(kCountedTwice, twice, label);
    found.Add("database differs from an uninterrupted run's",
              now.files.at("conf/quellboxaddr.bin") != ref.files.at("conf/quellboxaddr.bin"),
              label);
    bool same = now.files.at("conf/quellboxaddr.bin") == ref.files.at("conf/quellboxaddr.bin");
    std::set<std::string> compared;
    for (const auto* snapshot : {&now, &ref}) {
        for (const auto& [name, content] : snapshot->files)
            compared.insert(name);
    }
    const auto content = [](const Snapshot& s, const std::string& name) {
        const auto it = s.files.find(name);
        return it == s.files.end() ? std::string(kMissing) : it->second;
    };
    for (const std::string& f : compared) {
        if (f == "conf/quellboxaddr.bin")
            continue;
        const bool differs = content(now, f) != content(ref, f);
        found.Add("list or state file differs from an uninterrupted run's", differs,
                  label + ": " + f);
        same = same && !differs;
    }
    std::string names;
    for (const std::string& n : leftovers)
        names += " " + n;
    found.Add("leftover files", static_cast<long>(leftovers.size()), label + ":" + names);
    return same;
}

// Names in now that neither the folder before nor an uninterrupted run has
// (the console log aside: a run that repairs something may say so).
inline std::set<std::string> Leftovers(const std::set<std::string>& now,
                                       const std::set<std::string>& before,
                                       const std::set<std::string>& uninterrupted) {
    std::set<std::string> extra;
    for (const std::string& n : now) {
        if (!before.count(n) && !uninterrupted.count(n) && n != "console.txt")
            extra.insert(n);
    }
    return extra;
}

inline void RemoveNames(const ProgramFolder& p, const std::set<std::string>& names) {
    for (const std::string& n : names)
        std::filesystem::remove_all(p / n);
}

// Waits for a child; returns its wait status (killed after the timeout).
inline int WaitFor(pid_t child, std::chrono::seconds timeout = std::chrono::seconds(300)) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    int status = 0;
    while (::waitpid(child, &status, WNOHANG) != child) {
        if (std::chrono::steady_clock::now() > deadline) {
            ::kill(child, SIGKILL);
            ::waitpid(child, &status, 0);
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return status;
}

}  // namespace qb::test::faults
