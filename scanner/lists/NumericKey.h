// Conversion of list keys to numbers for lists that compare keys as numbers.
#pragma once

#include <optional>
#include <string_view>

namespace qb::lists {

// The number a key stands for, or nothing when the key is not numeric.
//
// Accepted: optional blanks (spaces, tabs) at either end, an optional sign,
// decimal digits with at most one "." (at least one digit in all), and an
// optional exponent "e"/"E" with optional sign and at least one digit. The
// decimal separator is always "." so that list files mean the same on every
// machine. Refused: empty or blank texts, thousands separators, currency
// signs, hexadecimal forms, "inf"/"nan", and values too large for a double.
std::optional<double> ParseNumericKey(std::string_view key);

// (lo + hi) / 2 rounded to the nearest integer, ties to the even integer.
// lo and hi are slot numbers (at least 1).
inline int MidpointHalfEven(int lo, int hi) {
    const long long sum = static_cast<long long>(lo) + hi;
    const long long half = sum / 2;
    if (sum % 2 == 0)
        return static_cast<int>(half);
    return static_cast<int>(half % 2 == 0 ? half : half + 1);
}

// n / 10 rounded to the nearest integer, ties to the even integer.
inline int TenthHalfEven(int n) {
    int q = n / 10;
    const int r = n % 10;
    if (r > 5 || (r == 5 && q % 2 != 0))
        ++q;
    return q;
}

}  // namespace qb::lists
