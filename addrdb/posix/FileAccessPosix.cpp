#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

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

}  // namespace qb::addrdb
