// The library's own whole-file access, the only code of quelladdr that talks
// to the operating system (one implementation per system: posix/, win32/).
// Paths are Windows-style texts; the posix side turns "\" into "/".
#pragma once

#include <string>
#include <string_view>

namespace qb::addrdb {

// Reads the whole regular file at path into out. False (out empty) when it is
// missing, not a regular file, or cannot be read.
bool ReadWholeFile(const std::string& path, std::string& out);

// Replaces the file at path with content: writes a temporary file in the
// same folder, flushes it to disk and renames it over the old one, keeping the
// old file's permissions. True when done; on false the old file (if any) is
// untouched and no temporary file stays behind.
bool ReplaceWholeFile(const std::string& path, std::string_view content);

}  // namespace qb::addrdb
