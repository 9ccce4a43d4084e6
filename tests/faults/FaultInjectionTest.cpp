// The real scanner under the faults a user's machine has: killed at random
// moments, a disk that fills up, product files it cannot read, two copies
// started together from different sessions. Nothing learned may be lost:
// every product file keeps its old or a complete new content, the lists stay
// paired with their state files, and the next run leaves what a run without
// the fault leaves. See FaultHarness.h for the environment switches.
#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <memory>

#include "tests/faults/FaultHarness.h"

namespace qb::test::faults {
namespace {

using Clock = std::chrono::steady_clock;

std::string Ms(Clock::duration d) {
    return std::to_string(std::chrono::duration_cast<std::chrono::milliseconds>(d).count()) + " ms";
}

int DevNull() {
    return ::open("/dev/null", O_WRONLY | O_CLOEXEC);
}

// The kill campaign's store: the default shape with a Windows Live Mail
// store beside the Outlook Express one.
constexpr StoreShape kWithMailStore{.mailStore = true};

// A program folder and a reference folder set up alike, both past their
// first generation.
struct Pair {
    Scenario victim, reference;
    Pair() {
        SetUpProgram(victim, kWithMailStore);
        SetUpProgram(reference, kWithMailStore);
        victim.WriteRegistryNow();
        reference.WriteRegistryNow();
    }
    // Writes generation g into both stores.
    void Generation(int g) {
        WriteGeneration(victim, g, kWithMailStore);
        WriteGeneration(reference, g, kWithMailStore);
    }
    // Runs the reference uninterrupted; returns how long the run took.
    Clock::duration RunReference() {
        const auto start = Clock::now();
        const RunResult run = reference.Run();
        EXPECT_EQ(run.exitCode, 0) << run.output;
        return Clock::now() - start;
    }
};

TEST(FaultInjection, KilledRunsLoseNothingAndTheNextRunCatchesUp) {
    Campaign campaign;
    Findings found("SIGKILL at random moments of a run");
    const long kills = EnvNumber("QB_FAULT_KILLS", 30);
    const int devnull = DevNull();
    // The store grows with each generation; past about 150 generations the
    // database reaches the record limit the scanner opens it with, and its
    // pruning then removes records by design. A long campaign therefore
    // starts over with fresh folders every kGenerations kills, so that every
    // record lost is a fault.
    constexpr int kGenerations = 100;
    std::unique_ptr<Pair> fresh;
    int interrupted = 0, i = 0;
    for (; i < kills && campaign.InBudget(); ++i) {
        const int g = i % kGenerations + 1;
        if (g == 1)
            fresh = std::make_unique<Pair>();
        Pair& pair = *fresh;
        pair.Generation(g);
        const Snapshot pre = Take(pair.victim.Program());
        const std::set<std::string> namesBefore = Names(pair.victim.Program());
        const Clock::duration full = pair.RunReference();
        const Snapshot ref = Take(pair.reference.Program());
        if (g == 1) {
            // The mail store's harvests and Sent Items took part.
            for (const char* f : {"conf/wlmas", "conf/wlmbs", "conf/wlmsent"})
                ASSERT_FALSE(SplitLines(ref.files.at(f)).lines.empty()) << f;
        }

        std::uniform_int_distribution<int64_t> at(
            0, std::chrono::duration_cast<std::chrono::microseconds>(full).count());
        const std::chrono::microseconds delay(at(campaign.Random()));
        // Every other run writes its lists every millisecond instead of every
        // second: these small runs then write them in several batches, as a
        // long harvest does, and a kill can fall between any two.
        const std::vector<std::string> interval =
            i % 2 ? std::vector<std::string>{"GLEANWICK_LIST_WRITE_INTERVAL=1"}
                  : std::vector<std::string>{};
        const pid_t child =
            pair.victim.Program().Start({}, pair.victim.RunEnvironment(interval), devnull);
        std::this_thread::sleep_for(delay);
        ::kill(child, SIGKILL);
        const int status = WaitFor(child);
        found.Ran("kills");
        if (WIFSIGNALED(status))
            ++interrupted;
        else
            found.Ran("runs that ended before their kill");
        const std::string label =
            "kill " + std::to_string(i) + " at " + Ms(delay) + " of " + Ms(full);
        CheckAfterFault(pre, Take(pair.victim.Program()), ref, label, found);

        const RunResult recovery = pair.victim.Run();
        found.Add("run after a kill failed", recovery.exitCode != 0,
                  label + ": " + recovery.output);
        const std::set<std::string> extra =
            Leftovers(Names(pair.victim.Program()), namesBefore, Names(pair.reference.Program()));
        if (!CheckRecovered(Take(pair.victim.Program()), ref, extra, label, found)) {
            // Go on from the reference's state, so each kill is judged on its own.
            Restore(pair.victim.Program(), ref);
        }
        RemoveNames(pair.victim.Program(), extra);
    }
    ::close(devnull);
    if (i >= 5) {
        EXPECT_GT(interrupted, 0) << "no run was interrupted: the kills test nothing";
    }
    found.Conclude(campaign.Seed());
}

// The file size limit makes every write past the limit fail (SIGXFSZ is
// ignored, so the write returns an error) as on a full disk.
void LimitFileSize(rlim_t bytes) {
    ::signal(SIGXFSZ, SIG_IGN);
    const struct rlimit limit { bytes, bytes };
    ::setrlimit(RLIMIT_FSIZE, &limit);
}

// A small tmpfs mounted on a folder while the object lives (root only, where
// mounting is allowed): a write beyond its size fails for want of space.
class SmallFileSystem {
  public:
    SmallFileSystem(std::string dir, size_t bytes) : dir_(std::move(dir)) {
        const std::string options = "size=" + std::to_string(bytes) + ",mode=0755";
        mounted_ =
            ::geteuid() == 0 && ::mount("tmpfs", dir_.c_str(), "tmpfs", 0, options.c_str()) == 0;
    }
    ~SmallFileSystem() { Unmount(); }
    bool Mounted() const { return mounted_; }
    void Unmount() {
        if (mounted_)
            ::umount2(dir_.c_str(), MNT_DETACH);
        mounted_ = false;
    }

  private:
    std::string dir_;
    bool mounted_ = false;
};

size_t Pages(size_t bytes) {
    return (bytes + 4095) / 4096 * 4096;
}

TEST(FaultInjection, FullDiskFailsLoudlyAndTheNextRunCatchesUp) {
    Findings found("full disk");
    enum class Kind { DatabaseOverLimit, EveryFileOverLimit, SmallFileSystem };
    for (const Kind kind :
         {Kind::DatabaseOverLimit, Kind::EveryFileOverLimit, Kind::SmallFileSystem}) {
        Pair pair;
        pair.Generation(1);
        ASSERT_EQ(pair.victim.Run().exitCode, 0);
        pair.RunReference();
        pair.Generation(2);
        pair.RunReference();
        const Snapshot pre = Take(pair.victim.Program());
        const Snapshot ref = Take(pair.reference.Program());
        const std::set<std::string> namesBefore = Names(pair.victim.Program());
        size_t largestList = 0,
               used = Pages(pair.victim.Program().Read("conf/quellbox.conf").size());
        for (const auto& [name, content] : pre.files) {
            if (name != "conf/quellbox.conf" && content != kMissing)
                used += Pages(content.size());
            if (name != "conf/quellboxaddr.bin")
                largestList = std::max(largestList, ref.files.at(name).size());
        }
        const size_t dbSize = ref.files.at("conf/quellboxaddr.bin").size();
        // Room for the lists' rewrites, not for a second copy of the database.
        ASSERT_LT(largestList, dbSize / 2) << "the database must be the one file over the limit";

        std::string label;
        std::function<void()> inChild;
        const std::string conf = pair.victim.Program() / "conf";
        SmallFileSystem disk(conf, used + 3 * 4096);
        if (kind == Kind::SmallFileSystem) {
            if (!disk.Mounted()) {
                std::cout << "[faults] no small file system case: mounting needs root" << std::endl;
                continue;
            }
            label = "conf on a file system " + std::to_string(used / 4096 + 3) +
                    " pages large with " + std::to_string(used / 4096) + " used";
            pair.victim.Program().Write("conf/quellbox.conf",
                                        pair.reference.Program().Read("conf/quellbox.conf"));
            Restore(pair.victim.Program(), pre);
        } else {
            disk.Unmount();
            const rlim_t limit = kind == Kind::DatabaseOverLimit ? dbSize / 2 : 200;
            label = "file size limit " + std::to_string(limit);
            inChild = [limit] { LimitFileSize(limit); };
        }

        const size_t consoleBefore = pair.victim.Console().size();
        const RunResult run = pair.victim.Program().Run({}, pair.victim.RunEnvironment(),
                                                        std::chrono::seconds(300), inChild);
        found.Ran("runs on a full disk");
        const Snapshot after = Take(pair.victim.Program());
        std::set<std::string> names = Names(pair.victim.Program());
        if (disk.Mounted()) {
            disk.Unmount();
            Restore(pair.victim.Program(), after);  // back on the folder under it
        }
        CheckAfterFault(pre, after, ref, label, found);
        if (kind != Kind::EveryFileOverLimit) {
            found.Add("failed database save not reported on the console",
                      pair.victim.Console().size() == consoleBefore, label + ": " + run.output);
        }
        const RunResult recovery = pair.victim.Run();
        found.Add("run after a full disk failed", recovery.exitCode != 0, label);
        names.merge(Names(pair.victim.Program()));
        const std::set<std::string> extra =
            Leftovers(names, namesBefore, Names(pair.reference.Program()));
        CheckRecovered(Take(pair.victim.Program()), ref, extra, label, found);
    }
    found.Conclude(0);
}

// Makes a file unreadable for the scanner. As root (who reads everything)
// the scanner runs as the user nobody in a program folder given to nobody,
// and the file stays root's with mode 0600; otherwise the file loses its
// read permission. Returns what the child must run to take nobody's identity.
std::function<void()> MakeUnreadable(const ProgramFolder& p, const std::string& file) {
    if (::geteuid() != 0) {
        if (!file.empty())
            ::chmod((p / file).c_str(), 0);
        return {};
    }
    const struct passwd* nobody = ::getpwnam("nobody");
    const uid_t uid = nobody ? nobody->pw_uid : 65534;
    const gid_t gid = nobody ? nobody->pw_gid : 65534;
    const std::string root = p.Dir().Path();
    EXPECT_EQ(::lchown(root.c_str(), uid, gid), 0);
    for (const auto& e : std::filesystem::recursive_directory_iterator(root))
        EXPECT_EQ(::lchown(e.path().c_str(), uid, gid), 0) << e.path();
    if (!file.empty()) {
        EXPECT_EQ(::chown((p / file).c_str(), 0, 0), 0);
        EXPECT_EQ(::chmod((p / file).c_str(), 0600), 0);
    }
    return [uid, gid] {
        if (::setgroups(0, nullptr) != 0 || ::setgid(gid) != 0 || ::setuid(uid) != 0)
            ::_exit(126);
    };
}

TEST(FaultInjection, UnreadableProductFilesAreNeverReplaced) {
    Findings found("unreadable product files");
    const auto setUp = [](Scenario& s) {
        SetUpProgram(s, kWithMailStore);
        WriteGeneration(s, 1, kWithMailStore);
        ASSERT_EQ(s.Run().exitCode, 0);
        WriteGeneration(s, 2, kWithMailStore);  // a run that changes every product file
    };
    {
        // The same run with every file readable changes every file: the
        // checks below can see a replacement.
        Scenario control;
        setUp(control);
        const Snapshot before = Take(control.Program());
        const auto asOther = MakeUnreadable(control.Program(), "");
        const RunResult run =
            control.Program().Run({}, control.RunEnvironment(), std::chrono::seconds(300), asOther);
        ASSERT_EQ(run.exitCode, 0) << run.output;
        const Snapshot after = Take(control.Program());
        for (const std::string& f : ProductFiles())
            ASSERT_NE(after.files.at(f), before.files.at(f)) << f;
    }
    std::vector<std::string> files = ProductFiles();
    files.push_back("conf/stores");  // the stores' index, which the control run leaves as it was
    for (const std::string& file : files) {
        SCOPED_TRACE(file);
        Scenario s;
        setUp(s);
        const std::string before = s.Program().Read(file);
        const size_t consoleBefore = s.Console().size();
        const auto asOther = MakeUnreadable(s.Program(), file);
        if (::geteuid() != 0 && ::access((s.Program() / file).c_str(), R_OK) == 0)
            GTEST_SKIP() << "this user reads files without read permission";
        const RunResult run =
            s.Program().Run({}, s.RunEnvironment(), std::chrono::seconds(300), asOther);
        found.Ran("unreadable files");
        ::chmod((s.Program() / file).c_str(), 0644);
        found.Add("unreadable file replaced", s.Program().Read(file) != before, file);
        found.Add("unreadable file not reported on the console",
                  s.Console().size() == consoleBefore, file + ": " + run.output);
        found.Add("run with an unreadable file failed", run.exitCode != 0,
                  file + ": " + run.output);
    }
    found.Conclude(0);
}

TEST(FaultInjection, TwoCopiesFromDifferentSessionsLeaveOneRunsResult) {
    Campaign campaign;
    Findings found("two copies started together");
    const long races = EnvNumber("QB_FAULT_RACES", 6);
    const int devnull = DevNull();
    TempFolder sessionA, sessionB;
    Pair pair;
    pair.Generation(1);
    ASSERT_EQ(pair.victim.Run().exitCode, 0);
    pair.RunReference();
    pair.Generation(2);
    const Clock::duration full = pair.RunReference();
    const Snapshot ref = Take(pair.reference.Program());
    const Snapshot base = Take(pair.victim.Program());
    const std::set<std::string> namesBefore = Names(pair.victim.Program());
    for (int r = 0; r < races && campaign.InBudget(); ++r) {
        Restore(pair.victim.Program(), base);
        std::uniform_int_distribution<int64_t> at(
            0, std::chrono::duration_cast<std::chrono::microseconds>(full).count() / 2);
        const std::chrono::microseconds delay(at(campaign.Random()));
        // The second copy's session has its own runtime folder, or none.
        const std::string second =
            r % 2 == 0 ? "XDG_RUNTIME_DIR=" + sessionB.Path() : "XDG_RUNTIME_DIR";
        const pid_t a = pair.victim.Program().Start(
            {}, pair.victim.RunEnvironment({"XDG_RUNTIME_DIR=" + sessionA.Path()}), devnull);
        std::this_thread::sleep_for(delay);
        const pid_t b =
            pair.victim.Program().Start({}, pair.victim.RunEnvironment({second}), devnull);
        const int statusA = WaitFor(a), statusB = WaitFor(b);
        found.Ran("races");
        const std::string label =
            "race " + std::to_string(r) + " (second copy after " + Ms(delay) + ", " + second + ")";
        found.Add("copy failed", !WIFEXITED(statusA) || WEXITSTATUS(statusA) != 0, label + " A");
        found.Add("copy failed", !WIFEXITED(statusB) || WEXITSTATUS(statusB) != 0, label + " B");
        const std::set<std::string> extra =
            Leftovers(Names(pair.victim.Program()), namesBefore, Names(pair.reference.Program()));
        CheckRecovered(Take(pair.victim.Program()), ref, extra, label, found);
        RemoveNames(pair.victim.Program(), extra);
    }
    ::close(devnull);
    found.Conclude(campaign.Seed());
}

TEST(FaultInjection, BadLineInTheSentStateCostsThatLineOnly) {
    Findings found("a bad line in conf/oesent");
    for (const char* bad : {"x", "", "12ab", "-5"}) {
        Scenario s;
        SetUpProgram(s);
        WriteGeneration(s, 1);
        ASSERT_EQ(s.Run().exitCode, 0);
        const Snapshot pre = Take(s.Program());
        // Message 300's line spoiled: at most its two recipients are counted again.
        const std::string sent = pre.files.at("conf/oesent");
        const size_t at = sent.find("\r\n300\r\n");
        ASSERT_NE(at, std::string::npos);
        s.Program().Write("conf/oesent", sent.substr(0, at) + "\r\n" + bad + sent.substr(at + 5));
        ASSERT_EQ(s.Run().exitCode, 0);
        const Database before = ParseDatabase(pre.files.at("conf/quellboxaddr.bin"));
        const Database after = ParseDatabase(s.Program().Read("conf/quellboxaddr.bin"));
        long again = 0;
        for (const auto& [address, c] : after.records) {
            const auto it = before.records.find(address);
            again += static_cast<long>(c.to - (it == before.records.end() ? 0 : it->second.to));
        }
        found.Ran("spoiled state files");
        found.Add("to-counts added again beyond the spoiled line's", again > 2 ? again - 2 : 0,
                  std::string("bad line '") + bad + "'");
    }
    found.Conclude(0);
}

}  // namespace
}  // namespace qb::test::faults
