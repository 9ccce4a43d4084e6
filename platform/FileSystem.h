// File system service. Paths are the system's Windows-style path texts
// ("C:\Program Files\Quellbox\conf\quellbox.conf"); each implementation maps
// them to its own file system (posix: every "\" becomes "/").
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace qb::platform {

// What a path names. A file with the hidden or system attribute is told apart
// from an ordinary one: several callers count it as missing.
enum class PathKind { kMissing, kFile, kHiddenFile, kFolder };

// How far a replaced file must have gone when ReplaceFile returns. The one
// policy of the product's files: every change is written at once and
// atomically; the last write of a file in a scan phase or a run (and every
// other write whose result is reported as kept) is kSynced, the rewrites
// before it, which the synced one supersedes, are kAtomicOnly.
enum class Durability {
    kSynced,      // on the disk, rename included, before the call returns
    kAtomicOnly,  // old or new content after a crash of the process; the
                  // system writes it back in its own time
};

// One file open for positioned reads (see FileSystem::OpenForReading). The
// file is closed when the object goes.
class ReadableFile {
  public:
    virtual ~ReadableFile() = default;
    // Reads up to n bytes at offset into out and returns how many it read:
    // n, fewer only where the file ends, 0 at or past its end; -1 on a read
    // error or a negative offset.
    virtual int64_t ReadAt(int64_t offset, char* out, size_t n) = 0;
};

// One entry of a folder listing.
struct FolderEntry {
    // The entry's name without a folder part, in the system's 8-bit path
    // text: appended to the folder's path after a "\\" it names the entry
    // for every call of the file system. (On Windows a name that the code
    // page cannot hold comes in an escaped form that only the file system
    // reads back; see Win32FileSystem.h.)
    std::string name;
    PathKind kind = PathKind::kMissing;  // kFile, kHiddenFile or kFolder
    bool link = false;  // a symbolic link (or junction) leading to the file or folder
    // Neither a file nor a folder: a pipe, socket or device, or a link that
    // leads nowhere (kind kMissing). Never opened by the file system's readers.
    bool special = false;
};

class FileSystem {
  public:
    virtual ~FileSystem() = default;

    // What the path names; kMissing when nothing is there or it cannot be examined.
    virtual PathKind Kind(const std::string& path) = 0;

    // Size in bytes of the file at path; -1 when it is no file or cannot be examined.
    virtual int64_t FileSize(const std::string& path) = 0;

    // Reads the whole file into out (replacing its content). On failure out is
    // empty and the result false. Never follows a folder.
    virtual bool ReadFile(const std::string& path, std::string& out) = 0;

    // Replaces the file at path by content atomically: a temporary file in the
    // same folder is written and renamed over path, so a reader (or a run
    // killed at any moment) sees the old content or the new, never a part.
    // With Durability::kSynced the temporary file reaches the disk before
    // the rename and the rename itself after it, so a power loss cannot undo
    // the new content once the call returned; kAtomicOnly leaves both to the
    // system. When path is a symbolic link, the file it leads to is replaced
    // and the link stays. On failure the old file (or its absence) is
    // untouched, no temporary file stays, and the result is false.
    virtual bool ReplaceFile(const std::string& path, std::string_view content,
                             Durability durability = Durability::kSynced) = 0;

    // Deletes the temporary files that ReplaceFile of path left beside it
    // when the process was killed between creating and renaming one. Only
    // names of that one recognisable pattern, made for this path, are
    // touched; call it while no other copy of the program can be writing
    // the file. Returns how many were deleted.
    virtual int RemoveLeftoverTemporaries(const std::string& path) = 0;

    // Appends content to the file at path, creating it when missing. False when
    // it cannot be opened or written; may then have written part of content.
    virtual bool AppendFile(const std::string& path, std::string_view content) = 0;

    // Copies the file from to the path to (replacing it atomically). False on failure.
    virtual bool CopyFile(const std::string& from, const std::string& to) = 0;

    // Deletes the file at path. False when it is missing or cannot be deleted.
    // The removal reaches the disk in the system's own time (see SyncFolder).
    virtual bool DeleteFile(const std::string& path) = 0;

    // Makes the removals made in the folder at path so far durable: once it
    // returns true, a power cut cannot bring those files back. The base
    // cannot: false.
    virtual bool SyncFolder(const std::string& path) {
        (void)path;
        return false;
    }

    // Creates the folder and any missing parents. True when it exists afterwards.
    virtual bool CreateFolder(const std::string& path) = 0;

    // Opens the file at path for positioned reads, for readers that need only
    // parts of a large file; nullptr when it is no file or cannot be opened.
    // Other programs may go on reading, writing, replacing and deleting the
    // file while it is open; a read then sees whatever the file holds at that
    // moment. The base offers no positioned reading.
    virtual std::unique_ptr<ReadableFile> OpenForReading(const std::string& path) {
        (void)path;
        return nullptr;
    }

    // Fills out with the entries of the folder at path ("." and ".." left
    // out), in no particular order. False, with out empty and why holding
    // the system's reason ("Permission denied"), when path is no folder or
    // cannot be listed, and also when the listing breaks off part way (an
    // I/O error, a network share gone): a part of a folder is never handed
    // out as the whole. An entry that vanishes while the folder is listed
    // may be missing or may come with kind kMissing.
    virtual bool ListFolder(const std::string& path, std::vector<FolderEntry>& out,
                            std::string& why) {
        (void)path;
        out.clear();
        why = "not supported";
        return false;
    }
    // The same without the reason.
    bool ListFolder(const std::string& path, std::vector<FolderEntry>& out) {
        std::string why;
        return ListFolder(path, out, why);
    }
};

// An ordinary file: exists, is no folder, and has neither the hidden nor the
// system attribute.
inline bool IsOrdinaryFile(FileSystem& fs, const std::string& path) {
    return fs.Kind(path) == PathKind::kFile;
}

// A file or folder exists at path, hidden or not.
inline bool PathExists(FileSystem& fs, const std::string& path) {
    return fs.Kind(path) != PathKind::kMissing;
}

}  // namespace qb::platform
