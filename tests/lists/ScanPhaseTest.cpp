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

// A list file the user already had and a state file the phase creates.
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
        ScanPhase phase(kRecord, "approve folder scan", {&list, &state});
        state.Add("new@x.example");
        list.Add("new@x.example");
        list.Remove("typed@user.example");
    }

    AddressList list, state;
};

TEST_F(ScanPhaseTest, RecordIsWrittenOnceBeforeTheFirstUnsyncedChangeAndRetiredAtTheEnd) {
    ScanPhase phase(kRecord, "approve folder scan", {&list, &state});
    EXPECT_EQ(fs.Content(kRecord), kMissing) << "a phase that changes nothing writes nothing";
    state.Add("a@x.example");
    const std::string record = fs.Content(kRecord);
    EXPECT_NE(record.find("file 20 approvedsenders\r\ntyped@user.example\r\n\r\n"),
              std::string::npos)
        << record;
    EXPECT_NE(record.find("absent oesas\r\n"), std::string::npos) << record;
    list.Add("a@x.example");
    list.Add("b@x.example");
    EXPECT_EQ(fs.SyncedWriteCount(), 1) << "only the record waits for the disk";
    EXPECT_EQ(fs.Content(kRecord), record) << "the record keeps the content from before the phase";
    list.Save();
    state.Save();
    phase.Finish();
    EXPECT_EQ(fs.Content(kRecord), kMissing);
    EXPECT_EQ(RecoverUnfinishedPhase(kRecord).outcome, PhaseRecovery::Outcome::kNone);
    EXPECT_EQ(fs.Content(kList), "a@x.example\r\nb@x.example\r\ntyped@user.example\r\n");
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

TEST_F(ScanPhaseTest, WithoutARecordEveryChangeIsSynced) {
    // The state file lies outside the record's folder: no record can name it.
    state.SetFileLocation("C:\\elsewhere\\oesas");
    ScanPhase phase(kRecord, "approve folder scan", {&list, &state});
    list.Add("a@x.example");
    state.Add("a@x.example");
    EXPECT_EQ(fs.Content(kRecord), kMissing);
    EXPECT_EQ(fs.SyncedWriteCount(), 2);
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
