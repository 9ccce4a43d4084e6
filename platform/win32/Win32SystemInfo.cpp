// Available physical memory from GlobalMemoryStatusEx: the system's own
// figure of what can be taken without paging (free plus standby memory).
#include "platform/Platform.h"
#include "platform/SystemInfo.h"
#include "platform/win32/WinApi.h"

namespace qb::platform {

namespace {

class Win32SystemInfo final : public SystemInfo {
  public:
    uint64_t AvailablePhysicalMemory() override {
        MEMORYSTATUSEX status{};
        status.dwLength = sizeof status;
        if (!::GlobalMemoryStatusEx(&status))
            return 0;
        return status.ullAvailPhys;
    }
};

}  // namespace

SystemInfo& DefaultSystemInfo() {
    static Win32SystemInfo info;
    return info;
}

}  // namespace qb::platform
