// Local time from the C library. The general date format is the United
// States one unless GLEANWICK_DATE_FORMAT holds a strftime pattern, since a
// posix system has no single "general date" setting of its own.
#include <time.h>

#include <cstdlib>

#include "platform/Clock.h"
#include "platform/Platform.h"

namespace qb::platform {

namespace {

class PosixClock final : public Clock {
  public:
    LocalTime Now() override {
        const time_t now = ::time(nullptr);
        struct tm tm;
        ::localtime_r(&now, &tm);
        return {tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec};
    }

    int64_t Milliseconds() override {
        struct timespec ts;
        ::clock_gettime(CLOCK_MONOTONIC, &ts);
        return static_cast<int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
    }

    std::string GeneralDate(const LocalTime& t) override {
        const char* pattern = std::getenv("GLEANWICK_DATE_FORMAT");
        if (!pattern || !*pattern)
            return UsGeneralDate(t);
        struct tm tm = {};
        tm.tm_year = t.year - 1900;
        tm.tm_mon = t.month - 1;
        tm.tm_mday = t.day;
        tm.tm_hour = t.hour;
        tm.tm_min = t.minute;
        tm.tm_sec = t.second;
        tm.tm_isdst = -1;
        ::mktime(&tm);  // fills the weekday and day of year a pattern may ask for
        char buf[256];
        const size_t n = ::strftime(buf, sizeof buf, pattern, &tm);
        return n == 0 ? UsGeneralDate(t) : std::string(buf, n);
    }
};

}  // namespace

Clock& DefaultClock() {
    static PosixClock clock;
    return clock;
}

}  // namespace qb::platform
