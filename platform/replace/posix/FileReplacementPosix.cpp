#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>

#include "common/Text.h"
#include "platform/replace/FileReplacement.h"

namespace qb::replace {

namespace {

// The folder part of a native path, with its closing "/" ("" for none).
std::string FolderOf(const std::string& native) {
    const size_t slash = native.find_last_of('/');
    return slash == std::string::npos ? std::string() : native.substr(0, slash + 1);
}

std::string BaseOf(const std::string& native) {
    const size_t slash = native.find_last_of('/');
    return slash == std::string::npos ? native : native.substr(slash + 1);
}

// The writer's process id in a temporary file's name ("." + name + "." +
// id + "." + six characters), or 0 when entry is no such name.
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

}  // namespace

bool SyncFolder(const std::string& folder) {
    const int fd =
        ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool ok = ::fsync(fd) == 0 || errno == EINVAL;
    ::close(fd);
    return ok;
}

std::string NativePath(std::string_view windowsPath) {
    // File names on Linux are UTF-8, a path that is not UTF-8 is text of the
    // code page (a store file named in Folders.dbx, a path from the
    // registry). In a double-byte code page a backslash can be the trail
    // byte of a character ("\x83\x5C"), which stays as it is.
    const bool utf8 = text::IsUtf8(windowsPath);
    const text::CodePage& cp = text::Active();
    std::string out(windowsPath);
    for (size_t i = 0; i < out.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(out[i]);
        if (!utf8 && cp.doubleByte && cp.lead[c])
            ++i;
        else if (c == '\\')
            out[i] = '/';
    }
    // A path that is not UTF-8 names what lies under its own bytes, else
    // what lies under its UTF-8 form (as a store copied from Windows is
    // named). A path not there yet keeps the bytes of its deepest folder
    // that is there (a new file in a folder named in the code page).
    struct stat st;
    if (utf8 || ::lstat(out.c_str(), &st) == 0 || errno != ENOENT)
        return out;
    size_t kept = out.size();
    while ((kept = out.rfind('/', kept - 1)) != std::string::npos && kept != 0) {
        if (::lstat(out.substr(0, kept).c_str(), &st) == 0)
            break;
    }
    if (kept == std::string::npos)
        kept = 0;
    return out.substr(0, kept) + text::Utf8FromWide(text::ToWide(out.substr(kept)));
}

bool FollowLinks(std::string path, std::string& out) {
    for (int hop = 0; hop < 40; ++hop) {
        struct stat st;
        if (::lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) {
            out = std::move(path);
            return true;
        }
        std::string target(static_cast<size_t>(st.st_size > 0 ? st.st_size : 255) + 1, '\0');
        const ssize_t n = ::readlink(path.c_str(), target.data(), target.size());
        if (n <= 0 || static_cast<size_t>(n) >= target.size())
            return false;
        target.resize(static_cast<size_t>(n));
        path = target[0] == '/' ? target : FolderOf(path) + target;
    }
    return false;
}

bool WriteAll(intptr_t file, std::string_view data) {
    const int fd = static_cast<int>(file);
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

int RemoveDeadWritersTemporaries(const std::string& path) {
    std::string native;
    if (!FollowLinks(NativePath(path), native))
        return 0;
    const std::string folder = FolderOf(native);
    DIR* dir = ::opendir(folder.empty() ? "." : folder.c_str());
    if (!dir)
        return 0;
    const std::string prefix = "." + BaseOf(native) + ".";
    const pid_t self = ::getpid();
    int removed = 0;
    while (const dirent* e = ::readdir(dir)) {
        const pid_t writer = WriterOf(e->d_name, prefix);
        if (writer <= 0 || writer == self)
            continue;
        struct stat st;
        if (::kill(writer, 0) != 0 && errno == ESRCH &&
            ::fstatat(::dirfd(dir), e->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0 &&
            S_ISREG(st.st_mode) && ::unlinkat(::dirfd(dir), e->d_name, 0) == 0)
            ++removed;
    }
    ::closedir(dir);
    return removed;
}

FileReplacement::FileReplacement(const std::string& path) {
    if (!FollowLinks(NativePath(path), path_))
        return;
    temp_ = FolderOf(path_) + "." + BaseOf(path_) + "." + std::to_string(::getpid()) + ".XXXXXX";
    const int fd = ::mkostemp(temp_.data(), O_CLOEXEC);
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
    ok_ = ok_ && WriteAll(handle_, data);
    return ok_;
}

bool FileReplacement::Commit(bool synced) {
    if (handle_ < 0)
        return false;
    if (!ok_ || (synced && ::fsync(static_cast<int>(handle_)) != 0)) {
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
    // The rename is done; a synced save counts once the folder holds it on disk.
    ok_ = !synced || SyncFolder(FolderOf(path_));
    return ok_;
}

}  // namespace qb::replace
