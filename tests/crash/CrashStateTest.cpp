// The real scanner through power cuts: each run of the table is recorded
// below every file layer of the process (CrashRecorder.c), the states a cut
// may leave are built from the trace (CrashStates.h), and each distinct state
// is laid out as the program folder and followed by one real run on the same
// store, which must leave what the uninterrupted run left: no product file
// torn by the cut (unless the record of the unfinished list phase holds it,
// which the next run puts back before anything reads it), nothing the user
// had lost, nothing counted twice, every list paired with its state file.
//
// Where a state holds the record of an unfinished list phase, its run puts
// the phase back first; that run is recorded too, and a second cut at every
// moment until it has retired the record gives states that must recover in
// the same way.
//
// The control records the same runs with every sync made a no-op: it must
// find faults, or the checks could not see one.
//
// Environment: QB_CRASH_REPORT=1 prints the findings instead of failing;
// QB_CRASH_STRIDE=N runs the recovery of every Nth distinct state only (the
// sanitizer build's default is a sample, see tests/crash/CMakeLists.txt).
#include <fcntl.h>
#include <unistd.h>

#include <functional>
#include <regex>
#include <unordered_set>

#include "tests/crash/CrashStates.h"
#include "tests/faults/FaultHarness.h"

namespace qb::test::crash {
namespace {

using faults::Findings;
using faults::Snapshot;
using faults::StoreShape;

constexpr const char* kTorn = "torn product file";
constexpr const char* kLost = "user data lost for good";
constexpr const char* kTwice = "counted twice";
constexpr const char* kUnpaired = "list/state pair broken";
constexpr const char* kDiffers = "recovery differs from the uninterrupted run otherwise";

// A run of the table: the runs before it (on generations 1, 2, ...), then
// the recorded one on the next generation.
struct Row {
    const char* id;  // the test's name
    const char* name;
    bool scanMail;  // the Inbox and Sent Items scans switched on
    int runsBefore;
    StoreShape shape;
    // The list phases' write interval of the recorded run and those after
    // it: 0 writes every change at once behind the phase record, as a long
    // harvest does between its intervals; -1 keeps the second, within which
    // these small runs write their lists only at each phase's end (or where
    // a harvest turns from additions to removals).
    int writeInterval;
    // No list file before the run: every phase record names only files that
    // were absent, so its put-back only removes files.
    bool withoutLists = false;
    // The recorded run is a second identity's, whose store (store2) is a
    // copy of the first's: its message numbers and verdicts all coincide.
    bool secondStore = false;
};

// A small store: a few senders in each verdict folder, a few new messages.
constexpr StoreShape kSmall{
    .inbox = 12, .inboxStep = 2, .sentBase = 6, .sentStep = 3, .window = 4, .shift = 2};
constexpr StoreShape kNoNewMail{
    .inbox = 12, .inboxStep = 0, .sentBase = 6, .sentStep = 0, .window = 4, .shift = 2};

// The small store with a small Windows Live Mail store beside it, whose
// approve and block windows half overlap the Outlook Express ones.
constexpr StoreShape kSmallWithMailStore{.inbox = 12,
                                         .inboxStep = 2,
                                         .sentBase = 6,
                                         .sentStep = 3,
                                         .window = 4,
                                         .shift = 2,
                                         .mailStore = true,
                                         .mailInbox = 3,
                                         .mailSentBase = 2,
                                         .mailSentStep = 1};

const Row kRows[] = {
    {"ImportAndHarvest", "blocked-list import, approve and block harvest", false, 0, kSmall, -1},
    {"FirstRun",
     "first run without list files: Inbox, Sent Items with the pending file, harvest, every "
     "change written",
     true, 0, kSmall, 0, true},
    {"SecondRun",
     "second run: new mail, Sent Items with the pending file, harvest with removals, every "
     "change written",
     true, 1, kSmall, 0},
    {"SecondRunNoNewMail",
     "second run: no new mail, Sent Items without the pending file, harvest with removals", true, 1,
     kNoNewMail, -1},
    {"MailStore",
     "second run beside a Windows Live Mail store: both stores' Inbox, Sent Items and harvests",
     true, 1, kSmallWithMailStore, -1},
    {"MailStoreEveryChange", "second run beside a Windows Live Mail store, every change written",
     true, 1, kSmallWithMailStore, 0},
    {"SecondStore",
     "a second identity's first run: its index entry, own state files and pending file", true, 1,
     kSmall, -1, false, true},
};

// The files that hold old or whole new content at every moment.
const std::vector<std::string>& CheckedFiles() {
    static const std::vector<std::string> files = [] {
        std::vector<std::string> f = faults::ProductFiles();
        f.push_back("conf/oesent.pending");
        f.push_back("conf/wlmsent.pending");
        f.push_back("conf/stores");
        f.push_back("registry.reg");
        f.push_back("second.reg");
        return f;
    }();
    return files;
}

// The program folder's names that are no product state: the program, its
// library, the store, the console log.
bool Ignored(const std::string& name) {
    namespace fs = std::filesystem;
    static const std::string program = fs::path(GLEANWICK_PATH).filename().string();
    static const std::string library = fs::path(QUELLADDR_PATH).filename().string();
    return name == program || name == library || name == "console.txt" || name == "store" ||
           name.starts_with("store/") || name == "store2" || name.starts_with("store2/");
}

// Harvested entries of a list that no store's state file of the kind (suffix
// "as" or "bs", every store's) holds, and state entries missing from the list.
long Unpaired(const Snapshot& s, const char* list, const char* kind, const char* harvested) {
    const std::regex pattern(harvested);
    const std::regex stateFile(std::string("conf/(oes|wlm|wmail)") + kind + "(-[0-9a-f]{8})?");
    const faults::List a = faults::ParseList(s.files.at(list));
    std::vector<faults::List> owed;
    for (const auto& [name, content] : s.files) {
        if (std::regex_match(name, stateFile))
            owed.push_back(faults::ParseList(content));
    }
    long n = 0;
    for (const std::string& e : a.entries) {
        n += std::regex_match(e, pattern) &&
             std::none_of(owed.begin(), owed.end(),
                          [&](const faults::List& b) { return b.entries.count(e) > 0; });
    }
    for (const faults::List& b : owed) {
        for (const std::string& e : b.entries)
            n += std::regex_match(e, pattern) && !a.entries.count(e);
    }
    return n;
}

// How the run after a crash state compares with the uninterrupted run: the
// fault harness's comparison, sorted into the classes above, and the list
// entries the uninterrupted run has that this one lacks.
void Classify(const Snapshot& now, const Snapshot& ref, const std::set<std::string>& leftovers,
              int exitCode, const std::string& label, Findings& found) {
    Findings compared("recovery");
    faults::CheckRecovered(now, ref, leftovers, label, compared);
    long lost = compared.Count(faults::kToCountsLost) + compared.Count(faults::kFromCountsLost);
    for (const char* list : {"conf/approvedsenders", "conf/blockedsenders"}) {
        const faults::List has = faults::ParseList(now.files.at(list));
        for (const std::string& e : faults::ParseList(ref.files.at(list)).entries)
            lost += !has.entries.count(e);
    }
    const long twice = compared.Count(faults::kCountedTwice);
    const long unpaired = Unpaired(now, "conf/approvedsenders", "as", "a[0-9]+@ok\\.example") +
                          Unpaired(now, "conf/blockedsenders", "bs", "b[0-9]+@spam\\.example") +
                          (now.files.at("conf/oesent") != ref.files.at("conf/oesent")) +
                          (now.files.at("conf/wlmsent") != ref.files.at("conf/wlmsent"));
    found.Add(kLost, lost > 0, label + ": " + std::to_string(lost) + " entries or counts");
    found.Add(kTwice, twice > 0, label + ": " + std::to_string(twice) + " counts");
    found.Add(kUnpaired, unpaired > 0, label + ": " + std::to_string(unpaired) + " entries");
    const bool differs =
        exitCode != 0 || compared.Total() > 0 ||
        faults::WithoutScanValues(now.registry) != faults::WithoutScanValues(ref.registry);
    found.Add(kDiffers, differs && lost + twice + unpaired == 0,
              label + ": exit " + std::to_string(exitCode) + ", " +
                  std::to_string(leftovers.size()) + " leftover files");
}

// The files that the record of an unfinished list phase in the state names
// (conf/scanphase: a header, then "file <size> <name>" with its bytes, or
// "absent <name>", each line ending in CR LF). The next run puts them back
// before it reads any of them.
std::set<std::string> PutBackByTheNextRun(const Tree& state) {
    std::set<std::string> names;
    const auto it = state.files.find("conf/scanphase");
    if (it == state.files.end())
        return names;
    std::string_view rest = it->second;
    const auto line = [&rest]() {
        const size_t end = rest.find("\r\n");
        const std::string_view l = rest.substr(0, end);
        rest.remove_prefix(end == std::string_view::npos ? rest.size() : end + 2);
        return l;
    };
    line();  // the header
    line();  // the phase's name
    while (!rest.empty()) {
        std::string_view l = line();
        if (l.substr(0, 7) == "absent ") {
            names.insert("conf/" + std::string(l.substr(7)));
        } else if (l.substr(0, 5) == "file ") {
            l.remove_prefix(5);
            const size_t blank = l.find(' ');
            const size_t size = std::stoul(std::string(l.substr(0, blank)));
            names.insert("conf/" + std::string(l.substr(blank + 1)));
            rest.remove_prefix(std::min(rest.size(), size + 2));
        }
    }
    return names;
}

// The product files checked for tearing: the fixed ones, and every further
// store's state files the explored run wrote.
std::set<std::string> CheckedNames(const Exploration& e) {
    std::set<std::string> checked(CheckedFiles().begin(), CheckedFiles().end());
    for (const auto& [name, contents] : e.versions) {
        if (faults::StateFileName(name))
            checked.insert(name);
    }
    return checked;
}

// Product files of a crash state (those of checked) holding no complete
// version (whole says which are) and not put back by the next run from a
// phase record either (those are counted in repaired).
void CheckWhole(const Tree& state, const std::set<std::string>& checked,
                const std::function<bool(const std::string&, const std::string&)>& whole,
                const std::string& label, Findings& found, long& repaired) {
    std::string torn;
    const std::set<std::string> putBack = PutBackByTheNextRun(state);
    bool covered = false;
    for (const std::string& f : checked) {
        const auto it = state.files.find(f);
        if (whole(f, it == state.files.end() ? kMissing : it->second))
            continue;
        if (putBack.count(f))
            covered = true;
        else
            torn += " " + f;
    }
    repaired += covered && torn.empty();
    found.Add(kTorn, !torn.empty(), label + ":" + torn);
}

// Whether content is one the exploration saw the file hold as a whole: its
// content before the run or a complete version the run wrote.
bool SeenWhole(const Exploration& e, const std::string& f, const std::string& content) {
    const auto versions = e.versions.find(f);
    return versions == e.versions.end() ? content == kMissing : versions->second.count(content);
}

// Whether the state holds the record of an unfinished list phase.
bool HoldsPhaseRecord(const Tree& state) {
    const auto it = state.files.find("conf/scanphase");
    return it != state.files.end() && !it->second.empty();
}

struct Mode {
    const char* name;
    bool synced;  // false: the control, every sync a no-op
};

// The model on its own, on hand-made traces of one file replaced through a
// temporary: unsynced, the cut can leave it empty; synced (file, then
// folder), only its old or its new content; and a trace missing the rename
// does not give the folder the run left.
TEST(CrashModel, StatesOfOneReplacement) {
    const std::string create = "O 3 " + std::to_string(O_RDWR | O_CREAT | O_EXCL) +
                               " 1\tconf/.list.tmp\t\nW 3 0 5\t\t\nnew\r\n";
    const std::string folderSync =
        "O 4 " + std::to_string(O_RDONLY | O_DIRECTORY) + " 0\tconf\t\nS 4 0 0\t\t\nC 4 0 0\t\t\n";
    const std::string rename = "R -1 0 0\tconf/.list.tmp\tconf/list\n";
    const struct {
        const char* name;
        std::string trace;
        std::set<std::string> contents;  // of conf/list across the states
        bool replays;
    } cases[] = {
        {"unsynced", create + "C 3 0 0\t\t\n" + rename, {"old\r\n", "new\r\n", ""}, true},
        {"synced",
         create + "S 3 0 0\t\t\nC 3 0 0\t\t\n" + rename + folderSync,
         {"old\r\n", "new\r\n"},
         true},
        {"rename missing", create + "C 3 0 0\t\t\n", {}, false},
    };
    Tree before, after;
    before.folders = after.folders = {"conf"};
    before.files["conf/list"] = "old\r\n";
    after.files["conf/list"] = "new\r\n";
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<Op> ops;
        std::string error;
        ASSERT_TRUE(ParseTrace(c.trace, ops, error)) << error;
        const Exploration e =
            Model(before, [](const std::string&) { return false; }).Explore(ops, after);
        EXPECT_EQ(e.error.empty(), c.replays) << e.error;
        if (!c.replays)
            continue;
        std::set<std::string> contents;
        for (const CrashState& state : e.distinct)
            contents.insert(state.tree.files.at("conf/list"));
        EXPECT_EQ(contents, c.contents);
        EXPECT_EQ(e.versions.at("conf/list"), (std::set<std::string>{"old\r\n", "new\r\n"}));
    }
}

// The recorder on the shell and the file tools, whose calls differ from the
// scanner's (copies the kernel makes, renames, links, an append through a
// copied descriptor, truncation, folders made and removed): replaying what
// it recorded gives the folder they leave.
TEST(CrashRecorder, FileToolsAreRecordedWhole) {
    TempFolder root, traceDir;
    root.Write("a", "hello\n");
    const auto none = [](const std::string&) { return false; };
    const Tree before = ReadTree(root.Path(), none);
    const std::string command = "cd '" + root.Path() +
                                "' && LD_PRELOAD=" CRASH_RECORDER " QB_CRASH_TRACE='" +
                                (traceDir / "trace") +
                                "' QB_CRASH_ROOT=. /bin/sh -c 'cp a b && mv b c && ln c d && "
                                "rm a && mkdir e && truncate -s 3 c && echo x >> d && cp c e/f && "
                                "sync e/f && mkdir g && touch g/h && rm -r g'";
    ASSERT_EQ(std::system(command.c_str()), 0);
    std::vector<Op> ops;
    std::string error;
    ASSERT_TRUE(ParseTrace(traceDir.Read("trace"), ops, error)) << error;
    const Tree after = ReadTree(root.Path(), none);
    ASSERT_EQ(after.files.at("d"), "helx\n");
    EXPECT_EQ(Model(before, none).Explore(ops, after).error, "");
}

// Test names and failure messages show a row and a mode by name.
void PrintTo(const Row& row, std::ostream* out) {
    *out << row.name;
}
void PrintTo(const Mode& mode, std::ostream* out) {
    *out << mode.name;
}

class CrashStates : public testing::TestWithParam<std::tuple<Row, Mode>> {
  protected:
    // One run of the program in root, recorded, and the states a cut during
    // it may leave (those after its first statesOf operations only, when
    // given a function that finds their number); before is the folder the
    // run starts from.
    struct Recording {
        RunResult run;
        size_t operations = 0;
        Exploration states;
    };
    Recording Record(ProgramFolder& program, const std::vector<std::string>& env, bool synced,
                     const Tree& before,
                     const std::function<size_t(const std::vector<Op>&)>& statesOf = {}) {
        const std::string root = program.Dir().Path();
        const std::string trace = traces_ / "trace";
        std::filesystem::remove(trace);
        std::vector<std::string> recording = env;
        recording.insert(recording.end(), {"LD_PRELOAD=" CRASH_PRELOAD, "QB_CRASH_TRACE=" + trace,
                                           "QB_CRASH_ROOT=" + root,
                                           std::string("QB_CRASH_NOSYNC=") + (synced ? "0" : "1")});
        Recording r;
        r.run = program.Run({}, recording);
        const Tree after = ReadTree(root, Ignored);
        std::vector<Op> ops;
        std::string error;
        if (!ParseTrace(traces_.Read("trace"), ops, error)) {
            r.states.error = error;
            return r;
        }
        r.operations = ops.size();
        r.states = Model(before, Ignored)
                       .Explore(ops, after, statesOf ? statesOf(ops) : static_cast<size_t>(-1));
        return r;
    }

    TempFolder traces_;
};

// The operations of a run up to the one that retires the phase record it
// found (its removal), all when there is none: a cut after them is one of a
// run over the lists put back.
size_t ThroughThePutBack(const std::vector<Op>& ops) {
    for (size_t k = 0; k < ops.size(); ++k) {
        if (ops[k].kind == 'U' && ops[k].path == "conf/scanphase")
            return k + 1;
    }
    return ops.size();
}

TEST_P(CrashStates, EveryStateRecoversToTheUninterruptedRun) {
    const auto& [row, mode] = GetParam();
    Scenario s;
    faults::SetUpProgram(s, row.shape);
    if (!row.scanMail) {
        s.ProductValue("OEScanInbox", "\"0\"");
        s.ProductValue("OEScanSent", "\"0\"");
    }
    for (int g = 1; g <= row.runsBefore; ++g) {
        faults::WriteGeneration(s, g, row.shape);
        ASSERT_EQ(s.Run().exitCode, 0);
    }
    faults::WriteGeneration(s, row.runsBefore + 1, row.shape);
    ProgramFolder& program = s.Program();
    if (row.withoutLists) {
        for (const char* list : {"conf/approvedsenders", "conf/blockedsenders"})
            std::filesystem::remove(program / list);
    }
    const std::string root = program.Dir().Path();
    std::vector<std::string> env = s.RunEnvironment();
    if (row.secondStore) {
        std::filesystem::copy(program / "store", program / "store2",
                              std::filesystem::copy_options::recursive);
        env = {"QUELLBOX_REGISTRY=" + s.OtherRegistry("second.reg",
                                                      "{0B1C2D3E-4F50-6172-8394-A5B6C7D8E9F0}",
                                                      "store2", "")};
    }
    if (row.writeInterval >= 0)
        env.push_back("GLEANWICK_LIST_WRITE_INTERVAL=" + std::to_string(row.writeInterval));
    const Tree before = ReadTree(root, Ignored);
    const std::set<std::string> namesBefore = faults::Names(program);

    // The recorded run, uninterrupted: its result is what every recovery must reach.
    const Recording first = Record(program, env, mode.synced, before);
    ASSERT_EQ(first.run.exitCode, 0) << first.run.output;
    ASSERT_GT(first.operations, 0u) << "nothing recorded: the recorder was not loaded";
    const Exploration& e = first.states;
    ASSERT_EQ(e.error, "") << "the recorder missed an operation";
    const Snapshot ref = faults::Take(program);
    const std::set<std::string> namesAfter = faults::Names(program);

    const std::string campaign = std::string(row.name) + " (" + mode.name + ")";
    Findings found(campaign, "crash", "QB_CRASH_REPORT");
    Findings twice("second cut: " + campaign, "crash", "QB_CRASH_REPORT");
    const long stride = std::max(1L, faults::EnvNumber("QB_CRASH_STRIDE", QB_CRASH_DEFAULT_STRIDE));
    // The control's second cuts are many (no sync of the put-back narrows
    // them) and only have to show that the checks see a fault: the put-back
    // runs of a sample of its states are cut again.
    const long putBackStride = mode.synced ? 1 : 8;
    long recovered = 0, repaired = 0, putBackRuns = 0, built = 0, distinct = 0, recovered2 = 0,
         repaired2 = 0, withRecord = 0;
    // The result of a recovery run, compared with the uninterrupted run's.
    const auto recover = [&](int exitCode, const std::string& label, Findings& into) {
        const std::set<std::string> extra =
            faults::Leftovers(faults::Names(program), namesBefore, namesAfter);
        Classify(faults::Take(program), ref, extra, exitCode, label, into);
    };
    const std::set<std::string> checked = CheckedNames(e);
    std::unordered_set<size_t> seen;
    for (const CrashState& state : e.distinct)
        seen.insert(state.key);
    for (size_t i = 0; i < e.distinct.size(); i += static_cast<size_t>(stride)) {
        const CrashState& state = e.distinct[i];
        const std::string label = "state " + std::to_string(i) + " " + state.label;
        CheckWhole(
            state.tree, checked,
            [&e](const std::string& f, const std::string& c) { return SeenWhole(e, f, c); }, label,
            found, repaired);
        LayOut(root, state.tree, Ignored);
        std::filesystem::remove(program / "console.txt");
        ++recovered;
        if (!HoldsPhaseRecord(state.tree) || withRecord++ % putBackStride != 0) {
            recover(program.Run({}, env).exitCode, label, found);
            continue;
        }
        // The run that puts the phase back, recorded for the second cut.
        const Recording putBack = Record(program, env, mode.synced, state.tree, ThroughThePutBack);
        ASSERT_EQ(putBack.states.error, "") << label << ": the recorder missed an operation";
        recover(putBack.run.exitCode, label, found);
        ++putBackRuns;
        built += putBack.states.built;
        for (const CrashState& cut : putBack.states.distinct) {
            if (!seen.insert(cut.key).second || distinct++ % stride != 0)
                continue;
            const std::string label2 = label + ", then " + cut.label;
            // Whole: a version of the first run, or one the put-back wrote
            // (not what the first cut left, which may be torn).
            CheckWhole(
                cut.tree, checked,
                [&](const std::string& f, const std::string& c) {
                    const auto was = state.tree.files.find(f);
                    return SeenWhole(e, f, c) ||
                           (SeenWhole(putBack.states, f, c) &&
                            c != (was == state.tree.files.end() ? kMissing : was->second));
                },
                label2, twice, repaired2);
            LayOut(root, cut.tree, Ignored);
            std::filesystem::remove(program / "console.txt");
            ++recovered2;
            recover(program.Run({}, env).exitCode, label2, twice);
        }
    }
    found.Ran("operations", static_cast<long>(first.operations));
    found.Ran("states built", e.built);
    found.Ran("distinct", static_cast<long>(e.distinct.size()));
    found.Ran("recovered", recovered);
    twice.Ran("put-back runs", putBackRuns);
    twice.Ran("states built", built);
    twice.Ran("distinct", distinct);
    twice.Ran("recovered", recovered2);
    const auto summary = [](const std::string& what, long builtN, long distinctN, long runs,
                            const Findings& f, long repairedN) {
        std::cout << "[crash] summary: " << what << ": states built " << builtN << ", distinct "
                  << distinctN << ", recovery runs " << runs << ", torn " << f.Count(kTorn)
                  << " (and " << repairedN
                  << " torn but put back by the next run from the phase record), lost "
                  << f.Count(kLost) << ", counted twice " << f.Count(kTwice) << ", pairs broken "
                  << f.Count(kUnpaired) << ", other differences " << f.Count(kDiffers) << std::endl;
    };
    summary(campaign, e.built, static_cast<long>(e.distinct.size()), recovered, found, repaired);
    summary("second cut, during " + std::to_string(putBackRuns) + " put-back runs: " + campaign,
            built, distinct, recovered2, twice, repaired2);
    found.Conclude(0, !mode.synced);
    // The control's second cuts: the put-back's own syncs are no-ops too, so
    // they must show faults wherever there were put-backs to cut.
    twice.Conclude(0, !mode.synced && recovered2 > 0);
}

INSTANTIATE_TEST_SUITE_P(Runs, CrashStates,
                         testing::Combine(testing::ValuesIn(kRows),
                                          testing::Values(Mode{"today's syncs", true},
                                                          Mode{"control, no syncs", false})),
                         [](const testing::TestParamInfo<std::tuple<Row, Mode>>& info) {
                             return std::string(std::get<0>(info.param).id) +
                                    (std::get<1>(info.param).synced ? "" : "_Control");
                         });

}  // namespace
}  // namespace qb::test::crash
