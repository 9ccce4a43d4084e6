// FileList: a set of text lines kept in a SortedList and mirrored to a list
// file. It neither loads nor writes by itself: the owner calls Load and Save.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

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
    // cannot be read, or a line the list refuses (not a number in numeric
    // mode), ends the load with a "LoadList Error" message box; the lines
    // read before stay and no error reaches the caller.
    void Load();

    // In memory only; no duplicate check.
    void Add(std::string_view line) { entries_.Add(line, 0); }
    // Removes one equal entry, if any; in memory only.
    void Remove(std::string_view line) { entries_.Remove(line); }
    // Text mode: regardless of case; numeric mode: the same number (a line
    // that is no number raises 0x80040001).
    bool Exists(std::string_view line) { return entries_.Exists(line); }

    // Writes every entry in key order, each followed by CR LF, to FileLocation
    // (replacing the file atomically). Raises a RunError when the file cannot
    // be written; the old file then stays as it was.
    void Save() { WriteTo(fileLocation_); }
    // The same to path; when path is empty or only spaces, FileLocation is
    // written and path receives it.
    void Save(std::string& path);

    int32_t Count() const { return entries_.Count(); }
    // The entries in key order (element 0 is the first).
    std::vector<std::string> Items() { return entries_.keys(); }
    void Clear() { entries_.Clear(); }

  private:
    void WriteTo(const std::string& path);

    SortedList<int> entries_;
    std::string fileLocation_;
};

}  // namespace qb::lists
