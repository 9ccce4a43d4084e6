// The registry of a posix system: a .reg file (see FileRegistry.h), named by
// the environment variable QUELLBOX_REGISTRY or, without it, "registry.reg"
// in the folder of the program file.
#include <cstdlib>
#include <string>

#include "platform/Instance.h"
#include "platform/Platform.h"
#include "platform/portable/FileRegistry.h"

namespace qb::platform {

std::string RegistryFilePath() {
    if (const char* path = std::getenv(kRegistryFileVariable); path && *path)
        return path;
    return Program().ProgramFolder() + "/" + kRegistryFileName;
}

Registry& DefaultRegistry() {
    static FileRegistry registry(RegistryFilePath());
    return registry;
}

}  // namespace qb::platform
