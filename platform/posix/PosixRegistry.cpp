// The registry of a posix system: a .reg file (see FileRegistry.h), named by
// the environment variable QUELLBOX_REGISTRY or, without it, "registry.reg"
// in the folder of the program file.
#include <limits.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "platform/Platform.h"
#include "platform/portable/FileRegistry.h"

namespace qb::platform {

namespace {
std::string ProgramFolder() {
    char buf[PATH_MAX];
    const ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
    if (n <= 0)
        return ".";
    std::string path(buf, static_cast<size_t>(n));
    const size_t slash = path.find_last_of('/');
    return slash == std::string::npos || slash == 0 ? "/" : path.substr(0, slash);
}
}  // namespace

std::string RegistryFilePath() {
    if (const char* path = std::getenv(kRegistryFileVariable); path && *path)
        return path;
    return ProgramFolder() + "/" + kRegistryFileName;
}

Registry& DefaultRegistry() {
    static FileRegistry registry(RegistryFilePath());
    return registry;
}

}  // namespace qb::platform
