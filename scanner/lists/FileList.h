// FileList: a set of text lines kept in a SortedList and mirrored to a list
// file. It neither loads nor writes by itself: the owner calls Load and Save.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "common/RunError.h"
#include "platform/FileSystem.h"
#include "scanner/lists/SortedList.h"

namespace qb::lists {

class FileList {
  public:
    // An empty list in text mode (case-insensitive keys), bound to no file.
    FileList();

    void SetFileLocation(std::string path) { fileLocation_ = std::move(path); }
    const std::string& FileLocation() const { return fileLocation_; }

    // 0 numeric, 1 text; refused with 0x80040003 while the list holds entries.
    void SetSortMode(int32_t mode) { entries_.SetSortMode(mode); }
    int32_t SortMode() const { return entries_.SortMode(); }

    // Clears the list and reads FileLocation. A missing file (or a folder, a
    // hidden or a system file) leaves the list empty silently. A file that
    // exists but cannot be read shows the "LoadList Error" message box,
    // leaves the list empty, writes one console line and marks the list
    // Unreadable: its file is then never written (Save to FileLocation does
    // nothing) until the next Load, so the entries it holds are not lost. A
    // line the list refuses (not a number in numeric mode) shows the same
    // message box for the first such line and is skipped; the other lines
    // are read. No error reaches the caller.
    void Load();
    // The last Load found the file but could not read it.
    bool Unreadable() const { return unreadable_; }

    // In memory only; no duplicate check.
    void Add(std::string_view line) { entries_.Add(line, 0); }
    // Removes one equal entry, if any; in memory only.
    void Remove(std::string_view line) { entries_.Remove(line); }
    // Text mode: regardless of case; numeric mode: the same number (a line
    // that is no number raises 0x80040001).
    bool Exists(std::string_view line) { return entries_.Exists(line); }

    // Writes every entry in key order, each followed by CR LF, to FileLocation
    // (replacing the file atomically, synced to the disk). Raises a RunError
    // when the file cannot be written; the old file then stays as it was.
    void Save() { WriteTo(fileLocation_, platform::Durability::kSynced); }
    // The same, without waiting for the disk: for a rewrite that a later
    // Save of the same file supersedes.
    void SaveAtomicOnly() { WriteTo(fileLocation_, platform::Durability::kAtomicOnly); }
    // What Save writes: every entry in key order, each followed by CR LF.
    std::string Content();
    // The same to path; when path is empty or only spaces, FileLocation is
    // written and path receives it.
    void Save(std::string& path);

    int32_t Count() const { return entries_.Count(); }
    // The entries in key order (element 0 is the first).
    std::vector<std::string> Items() { return entries_.keys(); }
    void Clear() { entries_.Clear(); }

  private:
    // Builds the content straight from the records (no copy of the keys)
    // and writes it in one replacement.
    void WriteTo(const std::string& path, platform::Durability durability);
    static void ReportLoadError(const ErrorInfo& info);

    SortedList<int> entries_;
    std::string fileLocation_;
    bool unreadable_ = false;
};

}  // namespace qb::lists
