#include "scanner/lists/ScanPhase.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "scanner/lists/AddressList.h"
#include "tests/lists/ListFixture.h"

namespace qb::lists {
namespace {

constexpr const char* kRecord = "C:\\Q\\conf\\scanphase";
constexpr const char* kList = "C:\\Q\\conf\\approvedsenders";
constexpr const char* kState = "C:\\Q\\conf\\oesas";
constexpr const char* kMissing = "<missing>";

using Strings = std::vector<std::string>;

// The file system's operations by name (see MemoryFileSystem::Operations).
std::string Synced(const char* path) {
    return std::string("synced ") + path;
}
std::string Unsynced(const char* path) {
    return std::string("unsynced ") + path;
}
std::string Deleted(const char* path) {
    return std::string("delete ") + path;
}

// A list file the user already had and a state file the phase creates; the
// phase binds them in covering order, as a harvest does: the state file
// owes every address the phase puts on the list.
class ScanPhaseTest : public test::ListFixture {
  protected:
    ScanPhaseTest() {
        fs.PutFile(kList, "typed@user.example\r\n");
        list.SetFileLocation(kList);
        state.SetFileLocation(kState);
        list.Load();
        state.Load();
    }

    // A phase cut off after its changes: no closing save, no Finish.
    void InterruptedPhase() {
        ScanPhase phase(kRecord, "approve folder scan", {&state, &list});
        state.Add("new@x.example");
        list.Add("new@x.example");
        list.Remove("typed@user.example");
    }

    // What the file system did since the last call.
    Strings NewOperations() {
        const Strings& all = fs.Operations();
        Strings recent(all.begin() + static_cast<long>(seen_), all.end());
        seen_ = all.size();
        return recent;
    }

    AddressList list, state;

  private:
    size_t seen_ = 0;
};

// Sets the run's write interval for one test.
class ScopedWriteInterval {
  public:
    explicit ScopedWriteInterval(int64_t ms) : saved_(ScanPhase::WriteInterval()) {
        ScanPhase::SetWriteInterval(ms);
    }
    ~ScopedWriteInterval() { ScanPhase::SetWriteInterval(saved_); }

  private:
    int64_t saved_;
};

TEST_F(ScanPhaseTest, ChangesWaitForTheIntervalAndAreWrittenTogetherBehindTheRecord) {
    ScanPhase phase(kRecord, "approve folder scan", {&state, &list});
    state.Add("a@x.example");
    list.Add("a@x.example");
    clock.milliseconds = 999;
    state.Add("b@x.example");
    list.Add("b@x.example");
    EXPECT_EQ(NewOperations(), Strings{}) << "changes within the interval wait";

    // The first change after the interval writes every list waiting, first
    // to last for additions, after the synced record.
    clock.milliseconds = 1000;
    state.Add("c@x.example");
    EXPECT_EQ(NewOperations(), (Strings{Synced(kRecord), Unsynced(kState), Unsynced(kList)}));
    const std::string record = fs.Content(kRecord);
    EXPECT_NE(record.find("file 20 approvedsenders\r\ntyped@user.example\r\n\r\n"),
              std::string::npos)
        << record;
    EXPECT_NE(record.find("absent oesas\r\n"), std::string::npos) << record;
    EXPECT_EQ(fs.Content(kState), "a@x.example\r\nb@x.example\r\nc@x.example\r\n");
    EXPECT_EQ(fs.Content(kList), "a@x.example\r\nb@x.example\r\ntyped@user.example\r\n");

    // A change that waits is written when the interval has passed, also
    // without a change after it.
    list.Add("c@x.example");
    clock.milliseconds = 1999;
    phase.WriteIfDue();
    EXPECT_EQ(NewOperations(), Strings{});
    clock.milliseconds = 2000;
    phase.WriteIfDue();
    EXPECT_EQ(NewOperations(), Strings{Unsynced(kList)});

    // The closing saves sync both files; then the record goes.
    state.Save();
    list.Save();
    phase.Finish();
    EXPECT_EQ(NewOperations(),
              (Strings{Synced(kState), Synced(kList), Synced(kRecord), Deleted(kRecord)}));
    EXPECT_EQ(RecoverUnfinishedPhase(kRecord).outcome, PhaseRecovery::Outcome::kNone);
    EXPECT_EQ(fs.Content(kList),
              "a@x.example\r\nb@x.example\r\nc@x.example\r\ntyped@user.example\r\n");
}

TEST_F(ScanPhaseTest, APhaseWithinOneIntervalWritesOnlyItsClosingSavesSynced) {
    ScanPhase phase(kRecord, "block folder scan", {&state, &list});
    state.Add("a@x.example");
    list.Add("a@x.example");
    clock.milliseconds = 400;
    list.Save();
    state.Save();
    phase.Finish();
    // The waiting changes go first, synced, in covering order; a save of a
    // file they just wrote writes nothing more.
    EXPECT_EQ(NewOperations(), (Strings{Synced(kState), Synced(kList)}));
    EXPECT_EQ(fs.Content(kState), "a@x.example\r\n");
}

TEST_F(ScanPhaseTest, RemovalsAreWrittenLastToFirstAndNeverTogetherWithAdditions) {
    ScanPhase phase(kRecord, "approve folder scan", {&state, &list});
    for (const char* a : {"a@x.example", "b@x.example"}) {
        state.Add(a);
        list.Add(a);
    }
    EXPECT_EQ(NewOperations(), Strings{});
    // A removal first writes the additions waiting, whatever the interval.
    list.Remove("a@x.example");
    EXPECT_EQ(NewOperations(), (Strings{Synced(kRecord), Unsynced(kState), Unsynced(kList)}));
    EXPECT_EQ(fs.Content(kList), "a@x.example\r\nb@x.example\r\ntyped@user.example\r\n");
    state.Remove("a@x.example");
    state.Remove("b@x.example");
    list.Remove("b@x.example");
    clock.milliseconds = 1000;
    phase.WriteIfDue();
    // The state file, written first although changed first, would lose b
    // while the list still held it.
    EXPECT_EQ(NewOperations(), (Strings{Unsynced(kList), Unsynced(kState)}));
    EXPECT_EQ(fs.Content(kList), "typed@user.example\r\n");
    EXPECT_EQ(fs.Content(kState), "");
}

TEST_F(ScanPhaseTest, IntervalZeroWritesEveryChangeAtOnceAndFinishSyncsThem) {
    const ScopedWriteInterval interval(0);
    ScanPhase phase(kRecord, "approve folder scan", {&state, &list});
    state.Add("a@x.example");
    list.Add("a@x.example");
    EXPECT_EQ(NewOperations(), (Strings{Synced(kRecord), Unsynced(kState), Unsynced(kList)}));
    // Without closing saves Finish syncs what was written unsynced before
    // it retires the record.
    phase.Finish();
    EXPECT_EQ(NewOperations(),
              (Strings{Synced(kState), Synced(kList), Synced(kRecord), Deleted(kRecord)}));
    ScanPhase::SetWriteInterval(60000);
    EXPECT_EQ(ScanPhase::WriteInterval(), ScanPhase::kMaxWriteIntervalMs);
}

TEST_F(ScanPhaseTest, WithoutARecordEveryWriteIsSynced) {
    // The state file lies outside the record's folder: no record can name it.
    state.SetFileLocation("C:\\elsewhere\\oesas");
    ScanPhase phase(kRecord, "approve folder scan", {&state, &list});
    state.Add("a@x.example");
    clock.milliseconds = 1000;
    list.Add("a@x.example");
    EXPECT_EQ(fs.Content(kRecord), kMissing);
    EXPECT_EQ(fs.SyncedWriteCount(), 2);
    EXPECT_EQ(fs.WriteCount(), 2);
}

TEST_F(ScanPhaseTest, InterruptedPhaseIsPutBackAsAWholeAtTheNextStart) {
    InterruptedPhase();
    EXPECT_EQ(fs.Content(kList), "new@x.example\r\n");
    const PhaseRecovery recovery = RecoverUnfinishedPhase(kRecord);
    EXPECT_EQ(recovery.outcome, PhaseRecovery::Outcome::kRestored);
    EXPECT_EQ(recovery.phase, "approve folder scan");
    EXPECT_EQ(fs.Content(kList), "typed@user.example\r\n");
    EXPECT_EQ(fs.Content(kState), kMissing) << "a file the phase created goes again";
    EXPECT_EQ(fs.Content(kRecord), kMissing);
    EXPECT_EQ(fs.LastDurability(kList), platform::Durability::kSynced);
    EXPECT_TRUE(ScanPhase::ListsWritable());
}

TEST_F(ScanPhaseTest, PutBackMakesItsRemovalsDurableBeforeItRetiresTheRecord) {
    {
        // A phase over a file that did not exist: the record holds nothing
        // to write back, only a removal.
        ScanPhase phase(kRecord, "block folder scan", {&state});
        state.Add("new@x.example");
    }
    NewOperations();
    EXPECT_EQ(RecoverUnfinishedPhase(kRecord).outcome, PhaseRecovery::Outcome::kRestored);
    EXPECT_EQ(NewOperations(), (Strings{Deleted(kState), "sync folder C:\\Q\\conf\\",
                                        Synced(kRecord), Deleted(kRecord)}));
}

TEST_F(ScanPhaseTest, DamagedRecordLeavesEveryFileAsItIs) {
    InterruptedPhase();
    const std::string good = fs.Content(kRecord);
    const std::string tampered = [&] {
        std::string t = good;
        t[t.find("typed")] = 'T';
        return t;
    }();
    const std::string sized = [&] {
        std::string t = good;
        t.replace(t.find("file 20"), 7, "file 99");
        return t;
    }();
    const struct {
        const char* what;
        std::string bytes;
    } cases[] = {
        {"cut short", good.substr(0, good.size() - 5)},
        {"a byte changed", tampered},
        {"a size beyond its bytes", sized},
        {"garbage", std::string("\0\xff garbage", 10)},
        {"no header", good.substr(13)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        fs.PutFile(kRecord, c.bytes);
        EXPECT_EQ(RecoverUnfinishedPhase(kRecord).outcome, PhaseRecovery::Outcome::kDamaged);
        EXPECT_EQ(fs.Content(kList), "new@x.example\r\n");
        EXPECT_EQ(fs.Content(kState), "new@x.example\r\n");
        EXPECT_EQ(fs.Content(kRecord), kMissing);
        EXPECT_EQ(fs.Content(std::string(kRecord) + ".damaged"), c.bytes);
        EXPECT_TRUE(ScanPhase::ListsWritable());
    }
}

TEST_F(ScanPhaseTest, RecordThatCannotBePutBackStaysAndHoldsTheListsForTheRun) {
    InterruptedPhase();
    fs.SetWritesFail(true);
    const PhaseRecovery failed = RecoverUnfinishedPhase(kRecord);
    EXPECT_EQ(failed.outcome, PhaseRecovery::Outcome::kNotRestored);
    EXPECT_FALSE(ScanPhase::ListsWritable());
    EXPECT_NE(fs.Content(kRecord), kMissing);
    fs.SetWritesFail(false);
    EXPECT_EQ(RecoverUnfinishedPhase(kRecord).outcome, PhaseRecovery::Outcome::kRestored);
    EXPECT_TRUE(ScanPhase::ListsWritable());
    EXPECT_EQ(fs.Content(kList), "typed@user.example\r\n");
}

}  // namespace
}  // namespace qb::lists
