// The file system of Windows. Path texts go to the -A functions as they are
// (the system accepts "\" and "/" alike); a file with the hidden or system
// attribute is a hidden file, and anything that is no disk file (a device
// such as "NUL" or "CON", a pipe) is never read.
#pragma once

#include <string>
#include <string_view>

#include "platform/FileSystem.h"

namespace qb::platform {

class Win32FileSystem final : public FileSystem {
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
    bool CreateFolder(const std::string& path) override;
};

}  // namespace qb::platform
