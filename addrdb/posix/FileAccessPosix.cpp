#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <memory>

#include "addrdb/FileAccess.h"

namespace qb::addrdb {

namespace {

std::string NativePath(const std::string& path) {
    std::string out = path;
    for (char& c : out) {
        if (c == '\\')
            c = '/';
    }
    return out;
}

class Descriptor {
  public:
    explicit Descriptor(int fd) : fd_(fd) {}
    ~Descriptor() {
        if (fd_ >= 0)
            ::close(fd_);
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int Get() const { return fd_; }

  private:
    int fd_;
};

bool WriteAll(int fd, std::string_view data) {
    const char* p = data.data();
    size_t left = data.size();
    while (left > 0) {
        const ssize_t n = ::write(fd, p, left);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        p += n;
        left -= static_cast<size_t>(n);
    }
    return true;
}

// The temporary files of one file: "." + name + "." + process id + "." and
// six characters of mkstemp. The process id, or 0 when name is not one.
pid_t WriterOf(std::string_view entry, std::string_view prefix) {
    if (entry.size() <= prefix.size() || entry.compare(0, prefix.size(), prefix) != 0)
        return 0;
    entry.remove_prefix(prefix.size());
    const size_t dot = entry.find('.');
    if (dot == 0 || dot == std::string_view::npos || dot > 9 || entry.size() - dot != 7)
        return 0;
    pid_t pid = 0;
    for (size_t i = 0; i < dot; ++i) {
        if (entry[i] < '0' || entry[i] > '9')
            return 0;
        pid = pid * 10 + (entry[i] - '0');
    }
    return pid;
}

// Removes the temporary files that processes now gone left beside the file
// (killed between creating and renaming one). A live writer's file stays.
void RemoveLeftovers(const std::string& folder, const std::string& base) {
    DIR* dir = ::opendir(folder.empty() ? "." : folder.c_str());
    if (!dir)
        return;
    const std::string prefix = "." + base + ".";
    const pid_t self = ::getpid();
    while (const dirent* e = ::readdir(dir)) {
        const pid_t writer = WriterOf(e->d_name, prefix);
        if (writer <= 0 || writer == self)
            continue;
        if (::kill(writer, 0) != 0 && errno == ESRCH)
            ::unlinkat(::dirfd(dir), e->d_name, 0);
    }
    ::closedir(dir);
}

// Makes a rename in folder durable. A file system that cannot sync a folder
// (EINVAL) has nothing to sync.
bool SyncFolder(const std::string& folder) {
    const int fd =
        ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool ok = ::fsync(fd) == 0 || errno == EINVAL;
    ::close(fd);
    return ok;
}

}  // namespace

ReadOutcome ReadFileInPieces(const std::string& path, const std::function<void(uint64_t)>& expect,
                             const std::function<void(std::string_view)>& take) {
    // Non-blocking open so that a pipe in the file's place cannot hang us; it
    // is then refused as not a regular file.
    Descriptor file(::open(NativePath(path).c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (file.Get() < 0)
        return errno == ENOENT || errno == ENOTDIR ? ReadOutcome::kMissing
                                                   : ReadOutcome::kUnreadable;
    struct stat st;
    if (::fstat(file.Get(), &st) != 0 || !S_ISREG(st.st_mode))
        return ReadOutcome::kUnreadable;
    expect(static_cast<uint64_t>(st.st_size));
    const std::unique_ptr<char[]> buffer(new char[kPieceSize]);
    for (;;) {
        const ssize_t n = ::read(file.Get(), buffer.get(), kPieceSize);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return ReadOutcome::kUnreadable;
        }
        if (n == 0)
            return ReadOutcome::kRead;
        take({buffer.get(), static_cast<size_t>(n)});
    }
}

void RemoveDeadWritersTemporaries(const std::string& path) {
    const std::string native = NativePath(path);
    const size_t slash = native.find_last_of('/');
    RemoveLeftovers(slash == std::string::npos ? "" : native.substr(0, slash + 1),
                    slash == std::string::npos ? native : native.substr(slash + 1));
}

FileReplacement::FileReplacement(const std::string& path) : path_(NativePath(path)) {
    RemoveDeadWritersTemporaries(path_);
    const size_t slash = path_.find_last_of('/');
    const std::string folder = slash == std::string::npos ? "" : path_.substr(0, slash + 1);
    const std::string base = slash == std::string::npos ? path_ : path_.substr(slash + 1);
    temp_ = folder + "." + base + "." + std::to_string(::getpid()) + ".XXXXXX";
    const int fd = ::mkstemp(temp_.data());
    if (fd < 0)
        return;
    handle_ = fd;
    // The replacement keeps the permissions of the file it replaces; a new
    // file gets the usual ones (0666 less the umask) rather than mkstemp's 0600.
    mode_t mode;
    struct stat old;
    if (::stat(path_.c_str(), &old) == 0 && S_ISREG(old.st_mode)) {
        mode = old.st_mode & 07777;
    } else {
        const mode_t mask = ::umask(0);
        ::umask(mask);
        mode = 0666 & ~mask;
    }
    ok_ = ::fchmod(fd, mode) == 0;
}

FileReplacement::~FileReplacement() {
    Discard();
}

void FileReplacement::Discard() {
    if (handle_ < 0)
        return;
    ::close(static_cast<int>(handle_));
    ::unlink(temp_.c_str());
    handle_ = -1;
    ok_ = false;
}

bool FileReplacement::Write(std::string_view data) {
    ok_ = ok_ && WriteAll(static_cast<int>(handle_), data);
    return ok_;
}

bool FileReplacement::Commit() {
    if (handle_ < 0)
        return false;
    if (!ok_ || ::fsync(static_cast<int>(handle_)) != 0) {
        Discard();
        return false;
    }
    const int fd = static_cast<int>(handle_);
    handle_ = -1;
    if (::close(fd) != 0 || ::rename(temp_.c_str(), path_.c_str()) != 0) {
        ::unlink(temp_.c_str());
        ok_ = false;
        return false;
    }
    // The rename is done; the save counts once the folder holds it on disk.
    const size_t slash = path_.find_last_of('/');
    ok_ = SyncFolder(slash == std::string::npos ? "" : path_.substr(0, slash + 1));
    return ok_;
}

}  // namespace qb::addrdb
