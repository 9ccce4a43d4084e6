// The running program on a posix system. The program folder is the folder of
// /proc/self/exe. The one-copy test holds an exclusive advisory lock (flock)
// on the lock file in the program folder itself: one copy per program folder
// runs at a time, whatever the user's session or environment, and the system
// drops the lock with the process however it ends.
#include <fcntl.h>
#include <malloc.h>
#include <sys/file.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/Instance.h"
#include "platform/Platform.h"
#include "platform/posix/PosixMemory.h"

namespace qb::platform {

namespace {

std::vector<std::string>& Arguments() {
    static std::vector<std::string> args;
    return args;
}

class PosixInstance final : public Instance {
  public:
    std::string ProgramFolder() override {
        std::string path(4096, '\0');
        const ssize_t n = ::readlink("/proc/self/exe", path.data(), path.size());
        if (n <= 0)
            return ".";
        path.resize(static_cast<size_t>(n));
        const size_t slash = path.find_last_of('/');
        if (slash == std::string::npos)
            return ".";
        return slash == 0 ? "/" : path.substr(0, slash);
    }

    std::string CommandLine() override {
        std::string line;
        for (const std::string& arg : Arguments()) {
            if (!line.empty())
                line += ' ';
            if (arg.find(' ') != std::string::npos || arg.empty()) {
                line += '"' + arg + '"';
            } else {
                line += arg;
            }
        }
        return line;
    }

    bool ClaimSoleInstance() override {
        if (lockFd_ >= 0)
            return true;
        const std::string path = ProgramFolder() + "/" + kSoleInstanceLockFile;
        int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
        if (fd < 0)  // a folder the user may not write: a lock file laid out there still serves
            fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        // Without a lock nothing keeps a second copy out: do not run.
        if (fd < 0)
            return false;
        if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
            ::close(fd);
            return false;
        }
        lockFd_ = fd;  // held until the process ends
        return true;
    }

  private:
    int lockFd_ = -1;
};

}  // namespace

void SetProgramArguments(int argc, char** argv) {
    Arguments().assign(argv + (argc > 0 ? 1 : 0), argv + argc);
}

// A run's memory is a few large tables filled once, and on many machines (a
// virtual machine above all) each fresh 4 KB page costs a trap of several
// microseconds: one large Inbox's tables are some 2,700 of them, more than
// the reading of the store costs. So, with glibc's allocator: large blocks
// come from the heap rather than a mapping of their own (a table that grows
// would otherwise fault in every page of each new mapping), the heap is not
// given back during the run, and the heap is grown once by a step of address
// space, which the kernel is asked to back with 2 MB pages (one fault per
// 2 MB, where transparent huge pages are enabled for such a request). Growing
// touches nothing: only what the run uses becomes memory. Elsewhere, and
// under a sanitizer (which brings its own allocator), nothing changes.
void PrepareHeap() {
#if defined(__GLIBC__) && defined(MADV_HUGEPAGE) && !defined(__SANITIZE_ADDRESS__)
    constexpr size_t kStep = size_t{32} << 20;
    ::mallopt(M_MMAP_THRESHOLD, static_cast<int>(kStep));
    ::mallopt(M_TRIM_THRESHOLD, static_cast<int>(2 * kStep));
    ::mallopt(M_TOP_PAD, static_cast<int>(kStep));
    // A block larger than the heap's free top makes it grow by the block
    // plus the step; freed, it stays the heap's top.
    void* const block = std::malloc(kStep / 2);
    if (block == nullptr)
        return;
    const auto from = reinterpret_cast<uintptr_t>(block);
    const auto to = reinterpret_cast<uintptr_t>(::sbrk(0));
    std::free(block);
    // Only when the block lies in the heap's own break area (glibc falls
    // back to mappings where the break cannot move).
    if (to != static_cast<uintptr_t>(-1) && from < to)
        AdviseWholePages(reinterpret_cast<void*>(from), to - from, MADV_HUGEPAGE);
#endif
}

Instance& DefaultInstance() {
    static PosixInstance instance;
    return instance;
}

}  // namespace qb::platform
