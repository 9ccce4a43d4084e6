// The running program on a posix system. The program folder is the folder of
// /proc/self/exe. The one-copy test holds an exclusive lock on a lock file in
// the user's runtime folder (or /tmp) whose name is made from the program
// folder: one copy per installation runs at a time, as with the named mutex
// the Windows build uses, and the lock goes with the process however it ends.
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/Instance.h"
#include "platform/Platform.h"

namespace qb::platform {

namespace {

std::vector<std::string>& Arguments() {
    static std::vector<std::string> args;
    return args;
}

uint64_t Fnv1a(const std::string& s) {
    uint64_t h = 1469598103934665603ull;
    for (unsigned char c : s) {
        h ^= c;
        h *= 1099511628211ull;
    }
    return h;
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
        const char* runtime = std::getenv("XDG_RUNTIME_DIR");
        std::string folder = (runtime && *runtime) ? runtime : "/tmp";
        char name[96];
        std::snprintf(name, sizeof name, "/Gleanwick-%u-%016llx.lock",
                      static_cast<unsigned>(::getuid()),
                      static_cast<unsigned long long>(Fnv1a(ProgramFolder())));
        const std::string path = folder + name;
        const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
        if (fd < 0)
            return true;  // no lock possible: let the run go on rather than never run
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

Instance& DefaultInstance() {
    static PosixInstance instance;
    return instance;
}

}  // namespace qb::platform
