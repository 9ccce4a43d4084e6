// Facts about the machine the program runs on.
#pragma once

#include <cstdint>

namespace qb::platform {

class SystemInfo {
  public:
    virtual ~SystemInfo() = default;

    // Physical memory, in bytes, that the program could take now without
    // making the system swap: free memory plus what the system can reclaim
    // at once (clean caches). 0 when the system gives no figure at all.
    virtual uint64_t AvailablePhysicalMemory() = 0;
};

}  // namespace qb::platform
