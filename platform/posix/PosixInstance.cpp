// The running program on a posix system. The program folder is the folder of
// /proc/self/exe. The one-copy test holds an exclusive advisory lock (flock)
// on the lock file in the program folder itself: one copy per program folder
// runs at a time, whatever the user's session or environment, and the system
// drops the lock with the process however it ends.
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

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

Instance& DefaultInstance() {
    static PosixInstance instance;
    return instance;
}

}  // namespace qb::platform
