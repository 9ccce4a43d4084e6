// The library's own file access, the only code of quelladdr that talks to the
// operating system (one implementation per system: posix/, win32/). Paths are
// Windows-style texts; the posix side turns "\" into "/".
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace qb::addrdb {

// The size of the one buffer a file goes through, in and out.
constexpr size_t kPieceSize = 64 * 1024;

enum class ReadOutcome {
    kRead,        // every byte was handed over
    kMissing,     // no file there (or no folder)
    kUnreadable,  // something is there that could not be read to its end
};

// Reads the regular file at path through one buffer of kPieceSize bytes:
// tells expect the file's size first, then hands the bytes to take piece by
// piece, in order.
ReadOutcome ReadFileInPieces(const std::string& path, const std::function<void(uint64_t)>& expect,
                             const std::function<void(std::string_view)>& take);

// Removes the temporary files that processes now gone left beside the file
// at path (killed between creating and renaming one, see FileReplacement). A
// live writer's file stays: another program may be saving the file.
void RemoveDeadWritersTemporaries(const std::string& path);

// New content for the file at path. It is written to a temporary file in the
// same folder, whose name holds the writing process's id; Commit flushes it
// to disk, renames it over the file (keeping the old file's permissions or
// attributes) and makes the rename itself durable. Whatever fails, the old
// file stays as it was and the temporary file goes. Creating one also removes
// the temporary files of processes that died while writing this file.
class FileReplacement {
  public:
    explicit FileReplacement(const std::string& path);
    ~FileReplacement();
    FileReplacement(const FileReplacement&) = delete;
    FileReplacement& operator=(const FileReplacement&) = delete;

    // False when the temporary file could not be made, or a write failed.
    bool Ok() const { return ok_; }
    bool Write(std::string_view data);
    // True when the new content is in place and on disk.
    bool Commit();

  private:
    void Discard();

    std::string path_;
    std::string temp_;
    intptr_t handle_ = -1;
    bool ok_ = false;
};

}  // namespace qb::addrdb
