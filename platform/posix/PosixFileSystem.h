// The file system of a posix system. Windows-style path texts are mapped by
// NativePath; a name that begins with "." counts as hidden, and anything that
// is neither a regular file nor a folder (device, pipe, socket) as a system
// file, so that no caller ever reads from it.
#pragma once

#include <string>
#include <string_view>

#include "platform/FileSystem.h"
#include "platform/replace/FileReplacement.h"

namespace qb::platform {

// "\" becomes "/"; everything else stays as it is.
using replace::NativePath;

class PosixFileSystem final : public FileSystem {
  public:
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
    std::unique_ptr<ReadableFile> OpenForReading(const std::string& path) override;
    using FileSystem::ListFolder;
    bool ListFolder(const std::string& path, std::vector<FolderEntry>& out,
                    std::string& why) override;
};

}  // namespace qb::platform
