// What the scans of every store share: the Inbox's sender count, the Sent
// Items' recipient count, and the harvest of an approve or block folder into
// its list and a state file of the store's own (see Stores.h).
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "scanner/lists/AddressList.h"
#include "scanner/lists/ScanPhase.h"
#include "scanner/lists/SortedList.h"

namespace qb::driver {

// A sender of an Inbox message old enough: a from-count once.
void CountInboxSender(std::string_view element);
// A recipient of a new Sent Items message: one more to-count.
void CountSentRecipient(std::string_view element);
// A scan switch of the product's key ("OEScanInbox", "OEScanSent").
bool ScanSwitchOn(const char* name);
// The clock hour of now, local time.
int64_t NowHour();

// The approve or block harvest of one store. The state file names the
// addresses this store's folder put on the target list; an address leaves
// the list when it leaves the folder, unless another store's state file
// still holds it. Every store's harvest of a kind adds to one set for the
// run, whose size is the registry counter.
class FolderHarvest {
  public:
    // approve: the approve harvest (else block); stateFile: under conf;
    // phaseName: the list phase's name in its record and console lines.
    FolderHarvest(bool approve, const std::string& stateFile, const std::string& phaseName);
    FolderHarvest(const FolderHarvest&) = delete;
    FolderHarvest& operator=(const FolderHarvest&) = delete;

    // One element of a message's sender field.
    void Address(std::string_view element);
    // Takes the addresses the folder no longer holds off both lists (not
    // when removeGone is false: a folder or message could not be read, so
    // what is gone is not known), writes the status line (statusLine and
    // this store's count) and the registry counter (the run's count), and
    // writes both files.
    void Finish(const std::string& statusLine, bool removeGone = true);
    // For a store gone for good: takes every address its state file owes off
    // the target list (unless another store's state file owes it too) and
    // out of the state file, as Finish does for addresses gone from the
    // folder, and writes both files; no status line, no counter. True when
    // the state file owes nothing any more.
    bool ReleaseAll();
    // Whether the target list and the state file could both be read (and no
    // unfinished phase holds the lists): only then does the harvest change them.
    bool ListsKept() const { return listsKept_; }

    // Forgets the run's sets (a new run starts).
    static void StartRun();

  private:
    // Loads the other stores' state files of the kind, once.
    void LoadOthers();
    // Whether another store's state file holds the address.
    bool OwedElsewhere(const std::string& address);
    // Takes the addresses the folder no longer holds off both lists.
    void RemoveGone();
    // Writes both files in the harvest's order and closes the phase.
    void SaveFiles();

    bool approve_;
    std::string stateFile_;
    lists::AddressList& target_;
    lists::AddressList state_;
    lists::SortedList<int> scanSet_;
    std::optional<lists::ScanPhase> phase_;
    bool listsKept_ = false;
    std::vector<std::unique_ptr<lists::AddressList>> others_;  // loaded on first need
    bool othersLoaded_ = false;
    bool othersUnreadable_ = false;  // another store's state file could not be read
};

}  // namespace qb::driver
