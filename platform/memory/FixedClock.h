// A clock for unit tests: reports a set time, in the United States format,
// and a set interval clock that the test moves on.
#pragma once

#include "platform/Clock.h"

namespace qb::platform {

class FixedClock final : public Clock {
  public:
    LocalTime now;
    int64_t milliseconds = 0;
    LocalTime Now() override { return now; }
    int64_t Milliseconds() override { return milliseconds; }
    std::string GeneralDate(const LocalTime& t) override { return UsGeneralDate(t); }
};

}  // namespace qb::platform
