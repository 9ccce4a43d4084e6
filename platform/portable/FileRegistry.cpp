#include "platform/portable/FileRegistry.h"

#include <cstdio>
#include <utility>

#include "common/Report.h"
#include "platform/FileSystem.h"
#include "platform/Platform.h"
#include "platform/portable/RegFile.h"

namespace qb::platform {

FileRegistry::FileRegistry(std::string path, FileSystem* files)
    : path_(std::move(path)), files_(files) {
    view32_ = true;
}

FileSystem& FileRegistry::Files() {
    return files_ ? *files_ : platform::Files();
}

std::string FileRegistry::Problem() {
    Tree();
    return problem_;
}

void FileRegistry::Reload() {
    loaded_ = false;
    problem_.clear();
    tree_ = RegTree();
}

void FileRegistry::RemoveLeftovers() {
    Files().RemoveLeftoverTemporaries(path_);
}

RegTree* FileRegistry::Tree() {
    if (!problem_.empty())
        return nullptr;
    if (!loaded_ && !Load())
        return nullptr;
    return &tree_;
}

// A fault of the registry file goes to the console log and to standard
// error: run from a terminal, the scanner would otherwise end with nothing
// said where the user looks.
void FileRegistry::Tell(const std::string& problem) {
    report::ConsoleLog(problem);
    std::fprintf(stderr, "%s\n", problem.c_str());
}

void FileRegistry::Refuse(std::string problem) {
    problem_ = std::move(problem);
    tree_ = RegTree();
    Tell(problem_);
}

bool FileRegistry::Load() {
    tree_ = RegTree();
    const std::string where = "Registry file " + path_;
    const std::string unusable =
        ". The registry is treated as unreadable and the file is left as it is.";
    switch (Files().Kind(path_)) {
        case PathKind::kMissing:
            // No file yet: an empty registry, written as REGEDIT4 on the first change.
            loaded_ = true;
            return true;
        case PathKind::kFolder:
            Refuse(where + ", line 1: this is a folder, not a file" + unusable);
            return false;
        case PathKind::kFile:
        case PathKind::kHiddenFile:
            break;
    }
    const int64_t size = Files().FileSize(path_);
    if (size > kMaxFileBytes) {
        Refuse(where + ", line 1: the file is larger than " + std::to_string(kMaxFileBytes >> 20) +
               " MB" + unusable);
        return false;
    }
    std::string bytes;
    if (size < 0 || !Files().ReadFile(path_, bytes)) {
        Refuse(where + ", line 1: the file cannot be read" + unusable);
        return false;
    }
    RegFileError error;
    if (!ParseRegFile(bytes, tree_, error)) {
        Refuse(where + ", line " + std::to_string(error.line) + ": " + error.message + unusable);
        return false;
    }
    loaded_ = true;
    return true;
}

bool FileRegistry::Commit() {
    if (Files().ReplaceFile(path_, WriteRegFile(tree_)))
        return true;
    // The file still holds the state before the change: go back to it.
    loaded_ = false;
    tree_ = RegTree();
    if (!reportedWriteFailure_) {
        reportedWriteFailure_ = true;
        Tell("Registry file " + path_ + " cannot be written; registry changes are not kept.");
    }
    return false;
}

}  // namespace qb::platform
