// ScanPhase: the list files that one step of a run (the import of the
// Outlook Express blocked list, the approve or the block folder scan) changes
// entry by entry, kept recoverable as a whole across a power cut.
//
// Every change of an AddressList is written at once, so that the rest of the
// product sees it, but without waiting for the disk: a sync per change would
// cost a disk flush each. After a power cut such a rewrite can be on the disk
// without its data (the rename made durable by a later sync of the folder or
// by the file system's own journal commit, the data not), and unsynced
// rewrites of two files can reach the disk in either order. So before the
// first unsynced rewrite, the phase writes one synced record, conf\scanphase,
// with the content every file of the phase has on the disk at that moment.
// The phase's closing saves are synced; after them Finish retires the record.
// A run that finds a record at its start knows that the phase did not finish
// and puts all its files back as the record holds them, before it reads any
// of them: a cut undoes the interrupted phase's own changes, never more, and
// a list and its state file come back together.
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

#include <string>
#include <vector>

namespace qb::lists {

class AddressList;

class ScanPhase {
  public:
    // A phase over the files of lists (each list's FileLocation, which must
    // lie in the record's folder). Binds itself to the lists: their changes
    // then ask it first (see BeforeUnsyncedWrite); the destructor unbinds
    // them and leaves an unfinished record in place.
    ScanPhase(std::string recordPath, std::string name, std::vector<AddressList*> lists);
    ~ScanPhase();
    ScanPhase(const ScanPhase&) = delete;
    ScanPhase& operator=(const ScanPhase&) = delete;

    // Asked before each change of a bound list is written unsynced. The
    // first call writes the record (synced). True when the record is on the
    // disk; false when it could not be written (a file of the phase lies
    // outside the record's folder, or cannot be read, or the disk refused),
    // and then every rewrite of the phase must be synced itself.
    bool BeforeUnsyncedWrite();

    // After the phase's closing synced saves: the record is emptied (synced,
    // so that no later crash brings it back) and then removed. Nothing to do
    // when no record was written.
    void Finish();

    // Whether this run may change the lists at all: false when a record of
    // an unfinished phase could not be put back (see RecoverUnfinishedPhase),
    // so that nothing writes over files the record still has to restore.
    static bool ListsWritable();

  private:
    enum class State { kNotWritten, kWritten, kRefused };
    std::string recordPath_;
    std::string name_;
    std::vector<AddressList*> lists_;
    State state_ = State::kNotWritten;
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
