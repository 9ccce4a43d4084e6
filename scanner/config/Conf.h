// Conf: a key=value configuration file of the product, read into memory,
// looked up by key regardless of case, and written back keeping comments,
// blank lines and the order of its lines.
//
// File format: one entry per line; CR LF, a lone CR or a lone LF ends a line
// when reading, CR LF ends every line written. An entry is key "=" value split
// at the first "=", nothing trimmed. A line starting with "#" is a comment;
// other lines without "=" are ignored, and dropped when the file is rewritten.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "scanner/lists/SortedList.h"

namespace qb::config {

class Conf {
  public:
    Conf();

    // Sets the file path; reads nothing.
    void SetConfigFile(std::string path) { configFile_ = std::move(path); }
    const std::string& ConfigFile() const { return configFile_; }

    // The value of key (any letter case), or nothing when it is not present.
    std::optional<std::string> GetValue(std::string_view key);

    // Reads the file into memory. A missing file (or a hidden or system file,
    // or a folder) reads nothing. A key that occurs more than once keeps the
    // value of its last line, and loading again updates the values held
    // rather than adding them twice. A file that exists but cannot be read
    // raises a RunError.
    void Load();

    // In memory only: replaces the key's value or adds the pair.
    void SetValue(std::string_view key, std::string value);
    bool ValueExists(std::string_view key) { return values_.Exists(key); }

    // Writes every value in memory into the file: lines of keys held in
    // memory get the value in memory (or are dropped when it is empty), other
    // lines stay; keys not yet in the file are appended in key order. A
    // missing file is created. Raises a RunError (subscript out of range)
    // when memory holds no value, and when the existing file cannot be read;
    // a failed write shows a message box and leaves the old file intact.
    void Save();

    // Writes one pair straight into the file: every line whose key equals
    // key exactly (case counts) gets the value; without one the pair is
    // appended. Memory is not changed. A missing file is created holding the
    // one pair. Failures as for Save.
    void WriteValue(std::string_view key, std::string_view value);

  private:
    // Whether configFile_ is an ordinary file; a hidden or system file counts as missing.
    bool FileExists() const;
    // The file's content for a rewrite: empty when the file is missing (the
    // rewrite creates it); nothing when the path names a hidden or system
    // file or a folder, which is never replaced.
    std::optional<std::string> ReadForRewrite() const;
    // Replaces the file by content; a failure shows the error message box.
    void Replace(const std::string& content) const;

    lists::SortedList<std::string> values_;
    std::string configFile_;
};

}  // namespace qb::config
