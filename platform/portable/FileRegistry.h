// The registry kept in a text file in the Windows .reg export format, so
// that a registry exported from a Windows machine ("reg export") can be used
// as it is. The file is read in full on first use; every change is written
// back at once, atomically, in the format it was read in (a new file as
// REGEDIT4), keeping every key and value it does not touch.
//
// A file that cannot be read as a registry (malformed, truncated, in another
// encoding, too large) makes the registry unusable: every operation fails,
// Problem() names the file, the line and the fault, the console log and
// standard error get that text once, and the file is never written.
//
// Keys below HKEY_LOCAL_MACHINE\Software are seen as the product's 32-bit
// programs see them on 64-bit Windows: a file exported there holds the
// product's key under Software\WOW6432Node, and that is the key read and
// written (see TreeRegistry::view32_).
#pragma once

#include <cstdint>
#include <string>

#include "platform/portable/RegistryTree.h"

namespace qb::platform {

class FileSystem;

// The environment variable that names the registry file of a posix system,
// and the file's name beside the program when the variable is not set.
inline constexpr const char* kRegistryFileVariable = "QUELLBOX_REGISTRY";
inline constexpr const char* kRegistryFileName = "registry.reg";

// The file the posix system's default registry uses.
std::string RegistryFilePath();

class FileRegistry final : public TreeRegistry {
  public:
    // Files larger than this are refused: the whole tree is held in memory.
    static constexpr int64_t kMaxFileBytes = int64_t{256} << 20;

    // The registry in the file at path (a Windows-style path text), read and
    // written through files (the file system service in force when null).
    explicit FileRegistry(std::string path, FileSystem* files = nullptr);

    const std::string& Path() const { return path_; }
    std::string Problem() override;
    // The temporary files of a replacement of the registry file that a
    // killed process left beside it.
    void RemoveLeftovers() override;

    // Forgets what was read, so the next operation reads the file again.
    void Reload();
    void CodePageChanged() override { Reload(); }

  protected:
    RegTree* Tree() override;
    bool Commit() override;

  private:
    FileSystem& Files();
    bool Load();
    void Refuse(std::string problem);
    static void Tell(const std::string& problem);

    std::string path_;
    FileSystem* files_;
    RegTree tree_;
    bool loaded_ = false;
    std::string problem_;
    bool reportedWriteFailure_ = false;
};

}  // namespace qb::platform
