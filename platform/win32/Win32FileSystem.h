// The file system of Windows. Path texts are the system's 8-bit code page
// (the system accepts "\" and "/" alike); a file with the hidden or system
// attribute is a hidden file, and anything that is no disk file (a device
// such as "NUL" or "CON", a pipe) is never read.
//
// Names outside the code page. A folder listing hands out a name the code
// page cannot hold in an escaped form: each character the code page lacks
// becomes "?" and its UTF-16 code unit in four upper-case hex digits
// ("?0412"). "?" can be part of no Windows file name, so the form is never
// taken for a real name. Every reading call (Kind, FileSize, ReadFile,
// OpenForReading, ListFolder) maps such a path back to its wide characters
// and uses the wide-character API, so a message in a folder with such a name
// is read like any other, while the scanner's text stays 8-bit.
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
    bool SyncFolder(const std::string& path) override;
    bool CreateFolder(const std::string& path) override;
    std::unique_ptr<ReadableFile> OpenForReading(const std::string& path) override;
    using FileSystem::ListFolder;
    bool ListFolder(const std::string& path, std::vector<FolderEntry>& out,
                    std::string& why) override;
};

// The escaped form of a wide name and the wide path of a path text that may
// hold escaped names (exposed for tests).
std::string EscapedName(std::wstring_view name);
std::wstring WidePath(std::string_view path);

}  // namespace qb::platform
