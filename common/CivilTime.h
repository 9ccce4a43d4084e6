// Calendar arithmetic shared by the scans: days and clock hours since
// 1970-01-01 of a civil date (proleptic Gregorian calendar).
#pragma once

#include <cstdint>

namespace qb::civil {

// Days since 1970-01-01 of a civil date.
constexpr int64_t DaysFromCivil(int64_t y, int m, int d) {
    y -= m <= 2;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const int64_t yoe = y - era * 400;
    const int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}

// The clock hour of a date and time: hours since 1970 with minutes and
// seconds dropped.
constexpr int64_t HourNumber(int year, int month, int day, int hour) {
    return DaysFromCivil(year, month, day) * 24 + hour;
}

}  // namespace qb::civil
