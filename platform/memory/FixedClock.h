// A clock for unit tests: reports a set time, in the United States format.
#pragma once

#include "platform/Clock.h"

namespace qb::platform {

class FixedClock final : public Clock {
  public:
    LocalTime now;
    LocalTime Now() override { return now; }
    std::string GeneralDate(const LocalTime& t) override { return UsGeneralDate(t); }
};

}  // namespace qb::platform
