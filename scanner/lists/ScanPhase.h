// ScanPhase: the list files that one step of a run (the import of the
// Outlook Express blocked list, the approve or the block folder scan) changes
// entry by entry, written together at short intervals and kept recoverable
// as a whole across a power cut.
//
// Rewriting a whole list file for every change made a step that moves V
// addresses write V files of up to V lines: quadratic. Within a phase a
// change of a bound list is kept in memory; the phase writes every list with
// changes together when the write interval (at most a second) has passed
// since its last write, and at the phase's end, so that the rest of the
// product sees each change within about a second and a step costs in
// proportion to its changes plus its files' size.
//
// The rewrites during the phase do not wait for the disk: a sync per write
// would cost a disk flush each. After a power cut such a rewrite can be on
// the disk without its data (the rename made durable by a later sync of the
// folder or by the file system's own journal commit, the data not), and
// unsynced rewrites of two files can reach the disk in either order. So
// before the first unsynced rewrite, the phase writes one synced record,
// conf\scanphase, with the content every file of the phase has on the disk
// at that moment. The phase's closing writes are synced; after them Finish
// retires the record. A run that finds a record at its start knows that the
// phase did not finish and puts all its files back as the record holds them,
// before it reads any of them: a cut undoes the interrupted phase's own
// changes, never more, and a list and its state file come back together. A
// phase that ends before its first interval has passed writes no record: its
// only writes are the closing synced ones.
//
// A kill leaves what was written, in the order it was written. The lists are
// given in covering order: what a later list holds of the phase's changes, an
// earlier list holds too (a harvest's state file, then its target list: an
// address the list got from the folder is owed by the state file). So a write
// of additions goes through the lists first to last, a write of removals last
// to first, and a write never mixes the two: a change of the other kind
// writes the changes before it first. Every moment between two rewrites then
// keeps the covering.
//
// Record layout (CR LF after each header line and after each file's bytes):
//   scanphase 1
//   phase <the phase's name>
//   file <size> <name>          the file had size bytes, which follow
//   absent <name>               the file did not exist
//   end <hash>                  FNV-1a of every byte before this line
// names relative to the record's folder. An empty or missing record means
// no phase is unfinished.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace qb::lists {

class AddressList;

class ScanPhase {
  public:
    // The longest time a change of a phase waits for its write.
    static constexpr int64_t kMaxWriteIntervalMs = 1000;

    // A phase over the files of lists (each list's FileLocation, which must
    // lie in the record's folder), in covering order (see above). Binds
    // itself to the lists: their changes then go through it; the destructor
    // writes the changes still waiting (a failure is ignored: the record
    // stays anyway), unbinds the lists and leaves an unfinished record in
    // place.
    ScanPhase(std::string recordPath, std::string name, std::vector<AddressList*> lists);
    ~ScanPhase();
    ScanPhase(const ScanPhase&) = delete;
    ScanPhase& operator=(const ScanPhase&) = delete;

    // Writes the changes waiting when the write interval has passed since
    // the last write. Changes check by themselves; a step that can go a
    // while without changes (reading messages whose senders are listed
    // already) calls it as it goes, so that no change waits longer.
    void WriteIfDue();

    // After the phase's closing saves: writes what is still waiting or was
    // written unsynced (synced), then the record is emptied (synced, so that
    // no later crash brings it back) and removed. A write that fails raises
    // a RunError and leaves the record.
    void Finish();

    // Whether this run may change the lists at all: false when a record of
    // an unfinished phase could not be put back (see RecoverUnfinishedPhase),
    // so that nothing writes over files the record still has to restore.
    static bool ListsWritable();

    // The write interval of every phase of the run, at most
    // kMaxWriteIntervalMs (a longer one is cut to it); 0 writes each change
    // at once.
    static void SetWriteInterval(int64_t milliseconds);
    static int64_t WriteInterval();

  private:
    friend class AddressList;
    enum class Kind { kNone, kAdditions, kRemovals };
    struct Bound {
        AddressList* list;
        bool waiting = false;   // changed since its last write
        bool unsynced = false;  // its last write of this phase did not wait for the disk
        bool written = false;   // the phase has written it
    };

    // From a bound list: before a change of the kind (an entry added or
    // removed) is made in memory, and after it.
    void BeforeChange(bool addition);
    void AfterChange(const AddressList& list);
    // A synced save of a bound list's own file: every change waiting is
    // written first, synced, in covering order; then the list's file, unless
    // that already wrote it or the phase's last write of it was synced.
    void Save(const AddressList& list);

    // Writes the waiting lists in the order of the batch's kind: synced, or
    // unsynced once the record is on the disk (synced when it cannot be).
    void WriteWaiting(bool synced);
    // Writes the record (synced) before the first unsynced rewrite. True
    // when it is on the disk; false when it could not be written (a file of
    // the phase lies outside the record's folder, or cannot be read, or the
    // disk refused), and then every rewrite of the phase must be synced.
    bool RecordWritten();
    Bound& Find(const AddressList& list);

    enum class State { kNotWritten, kWritten, kRefused };
    std::string recordPath_;
    std::string name_;
    std::vector<Bound> lists_;
    State state_ = State::kNotWritten;
    Kind batch_ = Kind::kNone;
    int64_t lastWrite_ = 0;
};

// What the start of a run did with the record of an earlier run.
struct PhaseRecovery {
    enum class Outcome {
        kNone,         // no record, or an empty one
        kRestored,     // the phase's files were put back as they were before it
        kDamaged,      // the record could not be read or fails its checks: no
                       // file was touched, the record is kept as <record>.damaged
        kNotRestored,  // a file could not be put back: the record stays for the
                       // next run and ListsWritable() is false for this one
    };
    Outcome outcome = Outcome::kNone;
    std::string phase;  // the phase's name, when the record told it
};

// Puts back the files of a phase that did not finish, as its record at
// recordPath holds them. Call while this copy of the program is the only one
// and before any list file is read.
PhaseRecovery RecoverUnfinishedPhase(const std::string& recordPath);

}  // namespace qb::lists
