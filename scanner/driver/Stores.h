// The stores the scanner reads and the state files each keeps under conf.
//
// Every store (an Outlook Express identity's folder of .dbx files, a user's
// Windows Live Mail or Windows Mail folder) has its own Sent Items, approve
// and block state; the lists, the database and the registry counters are the
// machine's, shared by every store. A store is known by its kind and its
// root folder, compared without regard to case: each user's and identity's
// store lies in a folder of its own. conf\stores records each store ever
// scanned:
//
//   stores 1
//   <id> <yyyy-mm-dd> <root>
//
// one line per store (CR LF after each line): its id, the day it was last
// scanned and its root. The id names its state files: the first store of a
// kind has the first names ("oe": oesent, oesas, oesbs; "wlm": wlmsent,
// wlmas, wlmbs; "wmail": wmailsent, wmailas, wmailbs), so a machine with one
// store of each kind keeps the files it always had; every further store has
// the same names followed by "-" and eight hex digits of a hash of its root
// ("oe-3fa9c2d1": oesent-3fa9c2d1, oesas-3fa9c2d1, oesbs-3fa9c2d1). The index
// is written (atomically, synced) before any state file of a new store, so
// each state file on the disk belongs to a recorded store.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace qb::driver {

enum class StoreKind { kOutlookExpress, kWindowsLiveMail, kWindowsMail };

// The state files of one store, names under conf.
struct StoreState {
    std::string sent;     // the Sent Items messages counted
    std::string approve;  // the addresses its approve folders put on approvedsenders
    std::string block;    // the addresses its block folders put on blockedsenders
};

// A store this run scans: its root is a folder.
struct RunStore {
    StoreKind kind;
    std::string root;
    // None when the store could not be recorded in conf\stores (the console
    // said why): its Sent Items and verdict folders are not scanned.
    std::optional<StoreState> state;
};

// A store not scanned for this many days is gone for good (a deleted user or
// identity): its approve and block state files stop owing their addresses.
inline constexpr int kStoreGoneAfterDays = 180;

// The console lines of the stores' bookkeeping.
inline constexpr const char* kStoreIndexUnreadable =
    "conf\\stores could not be read; no Sent Items, approve or block folder is scanned in "
    "this run.";

// Reads conf\stores. Call while this copy is the only one, before any
// store's state is read.
void LoadStoreIndex();

// The state files of every store conf\stores records, and the first names
// of each kind whether recorded or not.
std::vector<StoreState> KnownStoreStates();

// Records this run's stores (the Outlook Express store at oeRoot, the user's
// Windows Live Mail and Windows Mail stores; each only where its root is a
// folder) in conf\stores with today's date, and keeps them for RunStoreOf.
void RegisterRunStores(const std::string& oeRoot);

// This run's store of a kind; nullptr when it has none.
const RunStore* RunStoreOf(StoreKind kind);

// The approve (or block) state files of every store: the recorded ones and
// the first names of each kind.
std::vector<std::string> VerdictStateFiles(bool approve);

// Takes off the lists the addresses that only stores gone for good (not
// scanned for kStoreGoneAfterDays) still owe, and removes their approve and
// block state files; their Sent Items state stays, should they come back.
// Nothing is released while "oe_save_scanned_addresses" is "yes".
void ReleaseGoneStores();

}  // namespace qb::driver
