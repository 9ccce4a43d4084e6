#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>

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

}  // namespace

bool ReadWholeFile(const std::string& path, std::string& out) {
    out.clear();
    // Non-blocking open so that a pipe in the file's place cannot hang us; it
    // is then refused as not a regular file.
    const int fd = ::open(NativePath(path).c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        return false;
    struct stat st;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return false;
    }
    // One byte more than the file holds, so the read that meets the end
    // needs no larger buffer.
    out.resize(static_cast<size_t>(st.st_size) + 1);
    size_t have = 0;
    bool ok = true;
    for (;;) {
        if (have == out.size())
            out.resize(out.size() + 65536);  // the file grew since fstat
        const ssize_t n = ::read(fd, out.data() + have, out.size() - have);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            ok = false;
            break;
        }
        if (n == 0)
            break;
        have += static_cast<size_t>(n);
    }
    ::close(fd);
    out.resize(ok ? have : 0);
    return ok;
}

bool ReplaceWholeFile(const std::string& path, std::string_view content) {
    const std::string native = NativePath(path);
    const size_t slash = native.find_last_of('/');
    const std::string folder = slash == std::string::npos ? "." : native.substr(0, slash + 1);
    const std::string base = slash == std::string::npos ? native : native.substr(slash + 1);
    std::string temp =
        (slash == std::string::npos ? std::string() : folder) + "." + base + ".XXXXXX";
    const int fd = ::mkstemp(temp.data());
    if (fd < 0)
        return false;

    // The replacement keeps the permissions of the file it replaces; a new
    // file gets the usual ones (0666 less the umask) rather than mkstemp's 0600.
    mode_t mode;
    struct stat old;
    if (::stat(native.c_str(), &old) == 0 && S_ISREG(old.st_mode)) {
        mode = old.st_mode & 07777;
    } else {
        const mode_t mask = ::umask(0);
        ::umask(mask);
        mode = 0666 & ~mask;
    }
    bool ok = ::fchmod(fd, mode) == 0 && WriteAll(fd, content) && ::fsync(fd) == 0;
    ok = ::close(fd) == 0 && ok;
    if (ok && ::rename(temp.c_str(), native.c_str()) == 0)
        return true;
    ::unlink(temp.c_str());
    return false;
}

}  // namespace qb::addrdb
