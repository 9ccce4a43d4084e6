#include "scanner/lists/NumericKey.h"

#include <charconv>
#include <cmath>
#include <string>

namespace qb::lists {

namespace {
bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}
bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

// Roughly the power of ten of a well-formed unsigned decimal text (sign
// already taken off): positive for values of 1 and more, saturating.
long long DecimalMagnitude(std::string_view s) {
    size_t i = 0;
    long long mag = 0;
    bool seenNonZero = false, afterPoint = false;
    for (; i < s.size() && (IsDigit(s[i]) || s[i] == '.'); ++i) {
        if (s[i] == '.') {
            afterPoint = true;
        } else if (!afterPoint) {
            if (seenNonZero || s[i] != '0') {
                seenNonZero = true;
                ++mag;
            }
        } else if (!seenNonZero) {
            if (s[i] != '0')
                seenNonZero = true;
            else
                --mag;
        }
    }
    long long exp = 0;
    bool expNegative = false;
    if (i < s.size()) {
        ++i;  // the "e"
        if (i < s.size() && (s[i] == '+' || s[i] == '-'))
            expNegative = s[i++] == '-';
        for (; i < s.size(); ++i) {
            if (exp < 1000000000)
                exp = exp * 10 + (s[i] - '0');
        }
    }
    return mag + (expNegative ? -exp : exp);
}
}  // namespace

std::optional<double> ParseNumericKey(std::string_view key) {
    size_t b = 0, e = key.size();
    while (b < e && IsBlank(key[b]))
        ++b;
    while (e > b && IsBlank(key[e - 1]))
        --e;
    std::string_view s = key.substr(b, e - b);

    // Check the grammar first: from_chars alone would also take "inf" and "nan".
    size_t i = 0;
    bool negative = false;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) {
        negative = s[i] == '-';
        ++i;
    }
    const size_t mantissa = i;
    int digits = 0;
    bool point = false;
    for (; i < s.size(); ++i) {
        if (IsDigit(s[i])) {
            ++digits;
        } else if (s[i] == '.' && !point) {
            point = true;
        } else {
            break;
        }
    }
    if (digits == 0)
        return std::nullopt;
    if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
        ++i;
        if (i < s.size() && (s[i] == '+' || s[i] == '-'))
            ++i;
        int expDigits = 0;
        while (i < s.size() && IsDigit(s[i])) {
            ++i;
            ++expDigits;
        }
        if (expDigits == 0)
            return std::nullopt;
    }
    if (i != s.size())
        return std::nullopt;

    double value = 0;
    const char* first = s.data() + mantissa;
    const char* last = s.data() + s.size();
    auto [ptr, ec] = std::from_chars(first, last, value);
    if (ec == std::errc::result_out_of_range && ptr == last) {
        // Too large is no number; too small to tell from zero counts as zero.
        if (DecimalMagnitude(s.substr(mantissa)) > 0)
            return std::nullopt;
        value = 0;
    } else if (ec != std::errc() || ptr != last || !std::isfinite(value)) {
        return std::nullopt;
    }
    return negative ? -value : value;
}

}  // namespace qb::lists
