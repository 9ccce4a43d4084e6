// Local date and time, and the system's general date format for them.
#pragma once

#include <cstdint>
#include <string>

namespace qb::platform {

struct LocalTime {
    int year = 1970;
    int month = 1;  // 1..12
    int day = 1;    // 1..31
    int hour = 0;   // 0..23
    int minute = 0;
    int second = 0;
};

class Clock {
  public:
    virtual ~Clock() = default;

    // The current local date and time.
    virtual LocalTime Now() = 0;

    // Milliseconds on a clock that only goes forward (not the time of day,
    // which the user or the network may set back), from an arbitrary start:
    // for measuring intervals within a run.
    virtual int64_t Milliseconds() = 0;

    // The time in the system's general date format: short date, a blank, long
    // time ("6/23/2003 11:20:52 AM" with United States settings).
    virtual std::string GeneralDate(const LocalTime& t) = 0;
};

// The United States general date format: "M/D/YYYY h:mm:ss AM".
std::string UsGeneralDate(const LocalTime& t);

}  // namespace qb::platform
