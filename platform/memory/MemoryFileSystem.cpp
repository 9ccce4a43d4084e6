#include "platform/memory/MemoryFileSystem.h"

#include <algorithm>
#include <cstring>
#include <functional>

namespace qb::platform {

std::string MemoryFileSystem::Key(std::string_view path) {
    std::string key(path);
    for (char& c : key) {
        if (c == '\\')
            c = '/';
    }
    while (key.size() > 1 && key.back() == '/')
        key.pop_back();
    return key;
}

bool MemoryFileSystem::IsFolder(const std::string& key) const {
    if (folders_.count(key))
        return true;
    const std::string prefix = key + "/";
    auto it = files_.lower_bound(prefix);
    if (it != files_.end() && it->first.compare(0, prefix.size(), prefix) == 0)
        return true;
    auto ft = folders_.lower_bound(prefix);
    return ft != folders_.end() && ft->compare(0, prefix.size(), prefix) == 0;
}

void MemoryFileSystem::PutFile(const std::string& path, std::string content, bool hidden) {
    files_[Key(path)] = File{std::move(content), hidden};
}

void MemoryFileSystem::PutUnreadableFile(const std::string& path, std::string content) {
    File f{std::move(content)};
    f.unreadable = true;
    files_[Key(path)] = std::move(f);
}

void MemoryFileSystem::PutSpecialFile(const std::string& path) {
    File f;
    f.special = true;
    f.hidden = true;  // like a system file: never taken for an ordinary one
    f.unreadable = true;
    files_[Key(path)] = std::move(f);
}

void MemoryFileSystem::FailListing(const std::string& path, std::string why) {
    if (why.empty())
        listingFailures_.erase(Key(path));
    else
        listingFailures_[Key(path)] = std::move(why);
}

Durability MemoryFileSystem::LastDurability(const std::string& path) const {
    auto it = files_.find(Key(path));
    return it == files_.end() ? Durability::kAtomicOnly : it->second.lastDurability;
}

void MemoryFileSystem::PutFolder(const std::string& path) {
    folders_.insert(Key(path));
}

std::string MemoryFileSystem::Content(const std::string& path) const {
    auto it = files_.find(Key(path));
    return it == files_.end() ? "<missing>" : it->second.content;
}

bool MemoryFileSystem::Has(const std::string& path) const {
    return files_.count(Key(path)) > 0;
}

PathKind MemoryFileSystem::Kind(const std::string& path) {
    const std::string key = Key(path);
    if (key.empty())
        return PathKind::kMissing;
    auto it = files_.find(key);
    if (it != files_.end())
        return it->second.hidden ? PathKind::kHiddenFile : PathKind::kFile;
    return IsFolder(key) ? PathKind::kFolder : PathKind::kMissing;
}

int64_t MemoryFileSystem::FileSize(const std::string& path) {
    auto it = files_.find(Key(path));
    return it == files_.end() ? -1 : static_cast<int64_t>(it->second.content.size());
}

bool MemoryFileSystem::ReadFile(const std::string& path, std::string& out) {
    auto it = files_.find(Key(path));
    if (it == files_.end() || it->second.unreadable) {
        out.clear();
        return false;
    }
    out = it->second.content;
    return true;
}

bool MemoryFileSystem::ReplaceFile(const std::string& path, std::string_view content,
                                   Durability durability) {
    const std::string key = Key(path);
    if (writesFail_ || IsFolder(key))
        return false;
    File& f = files_[key];
    f.content.assign(content);
    f.unreadable = false;  // a new file takes the replaced one's place
    f.lastDurability = durability;
    ++writeCount_;
    if (durability == Durability::kSynced)
        ++syncedWriteCount_;
    operations_.push_back((durability == Durability::kSynced ? "synced " : "unsynced ") + path);
    return true;
}

int MemoryFileSystem::RemoveLeftoverTemporaries(const std::string& path) {
    cleanedPaths_.push_back(path);
    return 0;  // nothing here is ever left half written
}

bool MemoryFileSystem::AppendFile(const std::string& path, std::string_view content) {
    const std::string key = Key(path);
    if (writesFail_ || IsFolder(key))
        return false;
    files_[key].content.append(content);
    ++writeCount_;
    return true;
}

bool MemoryFileSystem::CopyFile(const std::string& from, const std::string& to) {
    auto it = files_.find(Key(from));
    if (it == files_.end() || it->second.unreadable)
        return false;
    const std::string content = it->second.content;
    return ReplaceFile(to, content);
}

bool MemoryFileSystem::DeleteFile(const std::string& path) {
    if (writesFail_)
        return false;
    if (files_.erase(Key(path)) == 0)
        return false;
    ++writeCount_;
    operations_.push_back("delete " + path);
    return true;
}

bool MemoryFileSystem::SyncFolder(const std::string& path) {
    if (writesFail_)
        return false;
    operations_.push_back("sync folder " + path);
    return true;
}

bool MemoryFileSystem::CreateFolder(const std::string& path) {
    const std::string key = Key(path);
    if (files_.count(key))
        return false;
    if (IsFolder(key))
        return true;
    if (writesFail_)
        return false;
    folders_.insert(key);
    ++writeCount_;
    return true;
}

namespace {

// Reads go to the file system's map at each call, so a test can change or
// remove the file while it is open.
class MemoryReadableFile final : public ReadableFile {
  public:
    using Lookup = std::function<const std::string*()>;
    explicit MemoryReadableFile(Lookup lookup) : lookup_(std::move(lookup)) {}

    int64_t ReadAt(int64_t offset, char* out, size_t n) override {
        const std::string* content = lookup_();
        if (content == nullptr || offset < 0)
            return -1;
        if (offset >= static_cast<int64_t>(content->size()))
            return 0;
        const size_t got = std::min(n, content->size() - static_cast<size_t>(offset));
        std::memcpy(out, content->data() + offset, got);
        return static_cast<int64_t>(got);
    }

  private:
    Lookup lookup_;
};

}  // namespace

std::unique_ptr<ReadableFile> MemoryFileSystem::OpenForReading(const std::string& path) {
    const std::string key = Key(path);
    auto found = files_.find(key);
    if (found == files_.end() || found->second.unreadable)
        return nullptr;
    return std::make_unique<MemoryReadableFile>([this, key]() -> const std::string* {
        auto it = files_.find(key);
        return it == files_.end() ? nullptr : &it->second.content;
    });
}

bool MemoryFileSystem::ListFolder(const std::string& path, std::vector<FolderEntry>& out,
                                  std::string& why) {
    out.clear();
    const std::string key = Key(path);
    if (const auto failure = listingFailures_.find(key); failure != listingFailures_.end()) {
        why = failure->second;
        return false;
    }
    if (!IsFolder(key)) {
        why = files_.count(key) ? "Not a directory" : "No such file or directory";
        return false;
    }
    const std::string prefix = key + "/";
    // Each direct child once: a file of its own, or the first part of a
    // deeper path (a folder, which no file of the same name overrides).
    std::map<std::string, FolderEntry> children;
    const auto take = [&](std::string_view rest, PathKind kind, bool special) {
        const size_t slash = rest.find('/');
        const std::string name(rest.substr(0, slash));
        FolderEntry& entry = children[name];
        entry.name = name;
        if (slash != std::string_view::npos) {
            kind = PathKind::kFolder;
            special = false;
        }
        if (entry.kind != PathKind::kFolder) {
            entry.kind = kind;
            entry.special = special;
        }
    };
    for (auto it = files_.lower_bound(prefix); it != files_.end() && it->first.starts_with(prefix);
         ++it)
        take(std::string_view(it->first).substr(prefix.size()),
             it->second.hidden ? PathKind::kHiddenFile : PathKind::kFile, it->second.special);
    for (auto it = folders_.lower_bound(prefix); it != folders_.end() && it->starts_with(prefix);
         ++it)
        take(std::string_view(*it).substr(prefix.size()), PathKind::kFolder, false);
    for (auto& [name, entry] : children)
        out.push_back(std::move(entry));
    return true;
}

}  // namespace qb::platform
