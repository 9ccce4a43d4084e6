// An in-memory file system for unit tests. Paths are compared after "\" and
// "/" are made the same; folders exist implicitly above every file and can be
// added on their own. Writes can be made to fail to test failure paths.
#pragma once

#include <map>
#include <set>
#include <string>
#include <string_view>

#include "platform/FileSystem.h"

namespace qb::platform {

class MemoryFileSystem final : public FileSystem {
  public:
    // Test set-up.
    void PutFile(const std::string& path, std::string content, bool hidden = false);
    void PutFolder(const std::string& path);
    // The file's content, or "<missing>" when there is none.
    std::string Content(const std::string& path) const;
    bool Has(const std::string& path) const;
    // When set, every write (replace, append, copy, delete, create) fails and changes nothing.
    void SetWritesFail(bool fail) { writesFail_ = fail; }
    // How many writes have succeeded.
    int WriteCount() const { return writeCount_; }

    PathKind Kind(const std::string& path) override;
    int64_t FileSize(const std::string& path) override;
    bool ReadFile(const std::string& path, std::string& out) override;
    bool ReplaceFile(const std::string& path, std::string_view content) override;
    bool AppendFile(const std::string& path, std::string_view content) override;
    bool CopyFile(const std::string& from, const std::string& to) override;
    bool DeleteFile(const std::string& path) override;
    bool CreateFolder(const std::string& path) override;
    // Reads see the file's content as it is at each read; a file that is
    // gone meanwhile fails the read.
    std::unique_ptr<ReadableFile> OpenForReading(const std::string& path) override;

  private:
    struct File {
        std::string content;
        bool hidden = false;
    };
    static std::string Key(std::string_view path);
    bool IsFolder(const std::string& key) const;

    std::map<std::string, File> files_;
    std::set<std::string> folders_;
    bool writesFail_ = false;
    int writeCount_ = 0;
};

}  // namespace qb::platform
