// An in-memory file system for unit tests. Paths are compared after "\" and
// "/" are made the same; folders exist implicitly above every file and can be
// added on their own. Writes can be made to fail to test failure paths.
#pragma once

#include <map>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "platform/FileSystem.h"

namespace qb::platform {

class MemoryFileSystem final : public FileSystem {
  public:
    // Test set-up.
    void PutFile(const std::string& path, std::string content, bool hidden = false);
    // A file that is there (an ordinary file by Kind and FileSize) but that
    // cannot be read, as one without read permission or locked by another
    // program; writes still succeed unless they are made to fail.
    void PutUnreadableFile(const std::string& path, std::string content);
    void PutFolder(const std::string& path);
    // An entry that is neither a file nor a folder (a pipe, a socket, a
    // device, a link that leads nowhere): listed as special, never read.
    void PutSpecialFile(const std::string& path);
    // From now on the listing of the folder at path fails with why, as one
    // without the right to list it, or one whose listing breaks off part
    // way (an I/O error, a network share gone); an empty why lets it list
    // again.
    void FailListing(const std::string& path, std::string why);
    // The file's content, or "<missing>" when there is none.
    std::string Content(const std::string& path) const;
    bool Has(const std::string& path) const;
    // When set, every write (replace, append, copy, delete, create) fails and changes nothing.
    void SetWritesFail(bool fail) { writesFail_ = fail; }
    // How many writes have succeeded.
    int WriteCount() const { return writeCount_; }
    // How many ReplaceFile calls succeeded with Durability::kSynced.
    int SyncedWriteCount() const { return syncedWriteCount_; }
    // The changes made, in order, one text each: "synced PATH" and
    // "unsynced PATH" for ReplaceFile, "delete PATH", "sync folder PATH".
    const std::vector<std::string>& Operations() const { return operations_; }
    // The durability of the last successful ReplaceFile of path
    // (kAtomicOnly when there was none).
    Durability LastDurability(const std::string& path) const;
    // The paths RemoveLeftoverTemporaries was called for, in order.
    const std::vector<std::string>& CleanedPaths() const { return cleanedPaths_; }

    PathKind Kind(const std::string& path) override;
    int64_t FileSize(const std::string& path) override;
    bool ReadFile(const std::string& path, std::string& out) override;
    bool ReplaceFile(const std::string& path, std::string_view content,
                     Durability durability = Durability::kSynced) override;
    int RemoveLeftoverTemporaries(const std::string& path) override;
    bool AppendFile(const std::string& path, std::string_view content) override;
    bool CopyFile(const std::string& from, const std::string& to) override;
    bool DeleteFile(const std::string& path) override;
    bool SyncFolder(const std::string& path) override;
    bool CreateFolder(const std::string& path) override;
    // Reads see the file's content as it is at each read; a file that is
    // gone meanwhile fails the read.
    std::unique_ptr<ReadableFile> OpenForReading(const std::string& path) override;
    using FileSystem::ListFolder;
    bool ListFolder(const std::string& path, std::vector<FolderEntry>& out,
                    std::string& why) override;

  private:
    struct File {
        std::string content;
        bool hidden = false;
        bool unreadable = false;
        bool special = false;
        Durability lastDurability = Durability::kAtomicOnly;
    };
    static std::string Key(std::string_view path);
    bool IsFolder(const std::string& key) const;

    std::map<std::string, File> files_;
    std::set<std::string> folders_;
    std::map<std::string, std::string> listingFailures_;
    bool writesFail_ = false;
    int writeCount_ = 0;
    int syncedWriteCount_ = 0;
    std::vector<std::string> operations_;
    std::vector<std::string> cleanedPaths_;
};

}  // namespace qb::platform
