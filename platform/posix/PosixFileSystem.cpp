#include "platform/posix/PosixFileSystem.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "platform/posix/PosixMemory.h"
#include "platform/replace/FileReplacement.h"

namespace qb::platform {

namespace {

// A whole-file read of a large file (a store file of hundreds of megabytes)
// spends most of its time faulting in fresh memory page by page. Asking for
// huge pages and taking all pages in one call makes that a small part. Both
// are hints: where the system refuses them, the read goes on as it is.
void PrepareLargeBuffer(char* data, size_t size) {
    constexpr size_t kLarge = size_t{8} << 20;
    if (size < kLarge)
        return;
#ifdef MADV_HUGEPAGE
    AdviseWholePages(data, size, MADV_HUGEPAGE);
#endif
#ifdef MADV_POPULATE_WRITE
    AdviseWholePages(data, size, MADV_POPULATE_WRITE);
#endif
}

std::string BaseName(const std::string& native) {
    const size_t slash = native.find_last_of('/');
    return slash == std::string::npos ? native : native.substr(slash + 1);
}

// What a file's type (the S_IFMT bits of its mode) and name make it:
// "."-names and anything that is neither a regular file nor a folder are
// hidden files.
PathKind KindOf(mode_t mode, const std::string& name) {
    if (S_ISDIR(mode))
        return PathKind::kFolder;
    if (!S_ISREG(mode) || (!name.empty() && name[0] == '.'))
        return PathKind::kHiddenFile;
    return PathKind::kFile;
}

// Opens path for reading when it is a regular file (never a device, pipe or
// folder, and without waiting on one); -1 otherwise. st gets its status.
int OpenRegularFile(const std::string& path, struct stat& st) {
    const std::string native = NativePath(path);
    const int fd = ::open(native.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        return -1;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// A regular file open for pread.
class PosixReadableFile final : public ReadableFile {
  public:
    explicit PosixReadableFile(int fd) : fd_(fd) {}
    ~PosixReadableFile() override { ::close(fd_); }
    PosixReadableFile(const PosixReadableFile&) = delete;
    PosixReadableFile& operator=(const PosixReadableFile&) = delete;

    int64_t ReadAt(int64_t offset, char* out, size_t n) override {
        if (offset < 0)
            return -1;
        size_t have = 0;
        while (have < n) {
            const ssize_t got = ::pread(fd_, out + have, n - have,
                                        static_cast<off_t>(offset) + static_cast<off_t>(have));
            if (got < 0) {
                if (errno == EINTR)
                    continue;
                return -1;
            }
            if (got == 0)
                break;
            have += static_cast<size_t>(got);
        }
        return static_cast<int64_t>(have);
    }

  private:
    int fd_;
};

std::string FolderOf(const std::string& native) {
    const size_t slash = native.find_last_of('/');
    if (slash == std::string::npos)
        return ".";
    if (slash == 0)
        return "/";
    return native.substr(0, slash);
}

// What marked the name of a temporary file of ReplaceFile in earlier
// versions: "." + the replaced file's name + this + six characters that
// mkstemp chose.
constexpr const char* kTemporaryMark = ".qbtmp-";
constexpr size_t kUniqueLength = 6;

}  // namespace

PathKind PosixFileSystem::Kind(const std::string& path) {
    const std::string native = NativePath(path);
    struct stat st;
    if (native.empty() || ::stat(native.c_str(), &st) != 0)
        return PathKind::kMissing;
    return KindOf(st.st_mode, BaseName(native));
}

bool PosixFileSystem::ListFolder(const std::string& path, std::vector<FolderEntry>& out,
                                 std::string& why) {
    out.clear();
    const std::string native = NativePath(path);
    DIR* dir = native.empty() ? nullptr : ::opendir(native.c_str());
    if (dir == nullptr) {
        why = std::strerror(native.empty() ? ENOENT : errno);
        return false;
    }
    const int dirFd = ::dirfd(dir);
    for (;;) {
        // readdir tells the end of the folder from a failure only by errno.
        errno = 0;
        const dirent* entry = ::readdir(dir);
        if (entry == nullptr) {
            if (errno == 0)
                break;
            why = std::strerror(errno);
            out.clear();
            ::closedir(dir);
            return false;
        }
        FolderEntry item;
        item.name = entry->d_name;
        const std::string& name = item.name;
        if (name == "." || name == "..")
            continue;
        // Where the listing tells an ordinary file or folder, no status is
        // needed: a large folder lists at the cost of reading it.
        if (entry->d_type == DT_REG || entry->d_type == DT_DIR) {
            item.kind = KindOf(DTTOIF(entry->d_type), name);
            out.push_back(std::move(item));
            continue;
        }
        // Otherwise the entry's own status; only a link's target needs a
        // second one. An entry gone meanwhile stays kMissing; a link that
        // leads nowhere too, and it is special.
        struct stat st;
        bool known = ::fstatat(dirFd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0;
        if (known && S_ISLNK(st.st_mode)) {
            item.link = true;
            known = ::fstatat(dirFd, name.c_str(), &st, 0) == 0;
            item.special = !known;
        }
        if (known) {
            item.kind = KindOf(st.st_mode, name);
            item.special = !S_ISREG(st.st_mode) && !S_ISDIR(st.st_mode);
        }
        out.push_back(std::move(item));
    }
    ::closedir(dir);
    return true;
}

int64_t PosixFileSystem::FileSize(const std::string& path) {
    const std::string native = NativePath(path);
    struct stat st;
    if (::stat(native.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
        return -1;
    return static_cast<int64_t>(st.st_size);
}

bool PosixFileSystem::ReadFile(const std::string& path, std::string& out) {
    out.clear();
    struct stat st;
    const int fd = OpenRegularFile(path, st);
    if (fd < 0)
        return false;
    // Read the size found now; a file that grows meanwhile is read to its end.
    size_t have = 0;
    out.reserve(static_cast<size_t>(st.st_size));
    PrepareLargeBuffer(out.data(), static_cast<size_t>(st.st_size));
    out.resize(static_cast<size_t>(st.st_size));
    bool ok = true;
    // Once the expected size is in, a small probe tells the end of the file
    // from growth, so a file read whole is never copied into a larger string.
    char probe[4096];
    for (;;) {
        const bool full = have == out.size();
        const ssize_t n = full ? ::read(fd, probe, sizeof probe)
                               : ::read(fd, out.data() + have, out.size() - have);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            ok = false;
            break;
        }
        if (n == 0)
            break;
        if (full) {
            out.append(probe, static_cast<size_t>(n));
            out.resize(out.size() + 65536);
        }
        have += static_cast<size_t>(n);
    }
    ::close(fd);
    if (!ok) {
        out.clear();
        return false;
    }
    out.resize(have);
    return true;
}

bool PosixFileSystem::ReplaceFile(const std::string& path, std::string_view content,
                                  Durability durability) {
    replace::FileReplacement file(path);
    return file.Write(content) && file.Commit(durability == Durability::kSynced);
}

int PosixFileSystem::RemoveLeftoverTemporaries(const std::string& path) {
    const int dead = replace::RemoveDeadWritersTemporaries(path);
    // The names of the earlier versions' temporary files carried no writer:
    // with this copy the only one, they are leftovers.
    std::string native;
    if (!replace::FollowLinks(NativePath(path), native))
        return dead;
    const std::string folder = FolderOf(native);
    // Built by appending: GCC 12 at -O3 warns (-Wrestrict, a false positive)
    // on "." + std::string&&.
    std::string prefix(1, '.');
    prefix += BaseName(native);
    prefix += kTemporaryMark;
    DIR* dir = ::opendir(folder.c_str());
    if (!dir)
        return dead;
    int removed = dead;
    while (const struct dirent* entry = ::readdir(dir)) {
        const std::string name = entry->d_name;
        if (name.size() != prefix.size() + kUniqueLength || name.compare(0, prefix.size(), prefix))
            continue;
        const std::string full = folder + "/" + name;
        struct stat st;
        if (::lstat(full.c_str(), &st) == 0 && S_ISREG(st.st_mode) && ::unlink(full.c_str()) == 0)
            ++removed;
    }
    ::closedir(dir);
    return removed;
}

bool PosixFileSystem::AppendFile(const std::string& path, std::string_view content) {
    const std::string native = NativePath(path);
    const int fd = ::open(native.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0666);
    if (fd < 0)
        return false;
    bool ok = replace::WriteAll(fd, content);
    ok = (::close(fd) == 0) && ok;
    return ok;
}

bool PosixFileSystem::CopyFile(const std::string& from, const std::string& to) {
    std::string content;
    return ReadFile(from, content) && ReplaceFile(to, content);
}

bool PosixFileSystem::DeleteFile(const std::string& path) {
    const std::string native = NativePath(path);
    struct stat st;
    if (::lstat(native.c_str(), &st) != 0 || S_ISDIR(st.st_mode))
        return false;
    return ::unlink(native.c_str()) == 0;
}

bool PosixFileSystem::SyncFolder(const std::string& path) {
    return replace::SyncFolder(NativePath(path));
}

bool PosixFileSystem::CreateFolder(const std::string& path) {
    const std::string native = NativePath(path);
    if (native.empty())
        return false;
    for (size_t i = 1; i <= native.size(); ++i) {
        if (i == native.size() || native[i] == '/') {
            const std::string part = native.substr(0, i);
            if (::mkdir(part.c_str(), 0777) != 0 && errno != EEXIST)
                return false;
        }
    }
    struct stat st;
    return ::stat(native.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::unique_ptr<ReadableFile> PosixFileSystem::OpenForReading(const std::string& path) {
    struct stat st;
    const int fd = OpenRegularFile(path, st);
    if (fd < 0)
        return nullptr;
    return std::make_unique<PosixReadableFile>(fd);
}

}  // namespace qb::platform
