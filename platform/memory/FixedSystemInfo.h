// A machine with a fixed amount of available physical memory, for tests of
// code that decides by it.
#pragma once

#include <cstdint>

#include "platform/SystemInfo.h"

namespace qb::platform {

class FixedSystemInfo final : public SystemInfo {
  public:
    explicit FixedSystemInfo(uint64_t available) : available_(available) {}
    void SetAvailable(uint64_t available) { available_ = available; }
    uint64_t AvailablePhysicalMemory() override { return available_; }

  private:
    uint64_t available_;
};

}  // namespace qb::platform
