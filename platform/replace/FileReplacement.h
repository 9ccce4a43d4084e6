// Replacing a file's content through a temporary file beside it: the one
// implementation of the product's atomic and durable writes, shared by the
// platform layer and the quelladdr library. It needs nothing but the
// operating system, so quelladdr links it (qb_file_replace) without the rest
// of the platform layer.
//
// The policy, in one place: the new content goes to a temporary file in the
// file's own folder, whose name holds the writing process's id; a synced
// commit flushes it to the disk before the rename and returns only once the
// rename is on the disk too (posix: the folder is synced; Windows, which has
// no sync of a folder: MoveFileEx with MOVEFILE_WRITE_THROUGH). An unsynced
// commit renames without waiting for the disk: old or new content after a
// kill, but after a power cut the rename may be on the disk before the data,
// so callers use it only where a synced record keeps the old content
// recoverable (see lists::ScanPhase). Whatever fails, the old file stays as
// it was and the temporary file goes.
//
// Temporary names: posix "." + name + "." + process id + "." + six characters
// of mkstemp; Windows "~" + name + "." + process id in hex + "-" + a counter
// in hex + ".tmp".
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace qb::replace {

class FileReplacement {
  public:
    // New content for the file at path (a Windows-style path; posix reads
    // every "\" as "/" and follows a symbolic link at path to the file it
    // leads to, which is replaced while the link stays). It leaves other
    // writers' temporary files alone: callers that may meet a dead writer's
    // remove them with RemoveDeadWritersTemporaries, once, not on every
    // replacement (a list rewritten on every change would list its folder
    // each time).
    explicit FileReplacement(const std::string& path);
    ~FileReplacement();
    FileReplacement(const FileReplacement&) = delete;
    FileReplacement& operator=(const FileReplacement&) = delete;

    // False when the temporary file could not be made, or a write failed.
    bool Ok() const { return ok_; }
    bool Write(std::string_view data);
    // Puts the new content in place, keeping the old file's permissions
    // (posix) or hidden and system attributes (Windows); a read-only file
    // (Windows) is not replaced. synced: on the disk, rename included, when
    // it returns true. False, with the old file untouched, on any failure.
    bool Commit(bool synced);

  private:
    void Discard();

    std::string path_;
    std::string temp_;
    intptr_t handle_ = -1;
    bool ok_ = false;
};

// Removes the temporary files that processes now gone left beside the file
// at path (killed between creating and renaming one). A live writer's file
// stays: another program may be saving the file. Returns how many went.
int RemoveDeadWritersTemporaries(const std::string& path);

// Pieces of the same file access that the platform layer and quelladdr use
// beside the replacement.

// Writes all of data to an open file, a descriptor (posix) or a HANDLE
// (Windows), retrying short writes and interruptions. False on an error.
bool WriteAll(intptr_t file, std::string_view data);

#ifndef _WIN32
// The native form of a Windows-style path: every "\" becomes "/"; a path
// that is not UTF-8 (code-page text) and names nothing takes its UTF-8 form.
std::string NativePath(std::string_view windowsPath);
// Makes the renames and removals in a folder (a native path; "" is the
// current folder) durable. A file system that cannot sync a folder (EINVAL)
// has nothing to sync.
bool SyncFolder(const std::string& folder);
// The file a native path leads to: a symbolic link is followed (a relative
// target counts from the link's own folder) until a name that is no link,
// which may not exist yet. False for a loop or a chain too long to follow.
bool FollowLinks(std::string path, std::string& out);
#endif

}  // namespace qb::replace
