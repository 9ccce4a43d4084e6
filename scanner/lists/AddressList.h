// AddressList: a list of e-mail addresses (or bare domains) in a list file
// shared with the rest of the product. A FileList in text mode that writes
// its file on every change: Add, Remove and Import rewrite the whole file
// before they return, so memory and file stay equal, synced to the disk.
// Inside a ScanPhase a change goes to the phase instead, which writes its
// lists together within its write interval and at its end (see ScanPhase.h).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "scanner/lists/FileList.h"
#include "scanner/lists/ScanPhase.h"

namespace qb::lists {

class AddressList {
  public:
    void SetFileLocation(std::string path);
    const std::string& FileLocation() const { return fileLocation_; }

    // Adds the address unchanged and writes the file at once (atomically,
    // synced), or within the write interval of a bound ScanPhase. An entry
    // equal to it regardless of case shows "Entry is already on the list"
    // instead and changes nothing. A failed write raises a RunError; the
    // entry is then already in memory and the old file stays as it was
    // (inside a phase the write, and its failure, may be that of earlier
    // changes, of this list or another of the phase).
    void Add(std::string_view address);
    // Removes one equal entry and writes the file as Add does; without one
    // writes nothing.
    void Remove(std::string_view address);
    bool Exists(std::string_view address) { return lines_.Exists(address); }
    std::vector<std::string> Items() { return lines_.Items(); }
    int32_t Count() const { return lines_.Count(); }

    // Writes FileLocation, or path when it is not blank, synced to the disk.
    // Inside a phase the changes of its lists are written first, synced;
    // this list's file is then written unless that wrote it already or the
    // phase's last write of it was synced.
    void Save(std::string_view path = {});
    // Reads FileLocation (see FileList::Load: a file that cannot be read is
    // never written in this run).
    void Load() { lines_.Load(); }
    bool Unreadable() const { return lines_.Unreadable(); }
    // Merges the lines of another list file (trimmed, lower-cased, blank
    // ones and those already held skipped) and writes FileLocation, also
    // when there is no such file. A file that exists but cannot be read
    // raises a RunError before anything changes.
    void Import(const std::string& path);
    // Empties the list; nothing is written.
    void Clear() { lines_.Clear(); }

  private:
    friend class ScanPhase;
    // Around a change in memory: the phase's bookkeeping, or the file
    // written at once.
    void BeforeChange(bool addition);
    void AfterChange();
    // Writes FileLocation (for the phase).
    void Write(platform::Durability durability);

    ScanPhase* phase_ = nullptr;  // the phase the list is bound to (set by it)
    std::string fileLocation_;
    FileList lines_;
};

}  // namespace qb::lists
