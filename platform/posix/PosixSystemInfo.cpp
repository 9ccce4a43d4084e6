// Available physical memory on Linux: the kernel's own estimate
// (MemAvailable in /proc/meminfo), which counts free memory and the caches
// it can drop at once. Without it, free plus buffer memory from sysinfo.
#include <sys/sysinfo.h>

#include <cstdio>
#include <cstring>

#include "platform/Platform.h"
#include "platform/SystemInfo.h"

namespace qb::platform {

namespace {

class PosixSystemInfo final : public SystemInfo {
  public:
    uint64_t AvailablePhysicalMemory() override {
        if (FILE* f = std::fopen("/proc/meminfo", "re")) {
            char line[256];
            unsigned long long kb = 0;
            bool found = false;
            while (!found && std::fgets(line, sizeof line, f)) {
                if (std::sscanf(line, "MemAvailable: %llu kB", &kb) == 1)
                    found = true;
            }
            std::fclose(f);
            if (found)
                return static_cast<uint64_t>(kb) * 1024;
        }
        struct sysinfo info;
        if (::sysinfo(&info) != 0)
            return 0;
        const uint64_t unit = info.mem_unit ? info.mem_unit : 1;
        const uint64_t avail = (static_cast<uint64_t>(info.freeram) + info.bufferram) * unit;
        return avail ? avail : static_cast<uint64_t>(info.totalram) * unit;
    }
};

}  // namespace

SystemInfo& DefaultSystemInfo() {
    static PosixSystemInfo info;
    return info;
}

}  // namespace qb::platform
