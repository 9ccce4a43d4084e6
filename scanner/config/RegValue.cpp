#include "scanner/config/RegValue.h"

#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <optional>

#include "common/RunError.h"
#include "common/Text.h"

namespace qb::config {

namespace {

constexpr const char* kSource = "RegOp";

// The number a text reads as, or nothing.
std::optional<double> ParseNumber(const std::string& text) {
    std::string_view s = qb::text::TrimBlanks(text);
    while (!s.empty() && (s.front() == '\t'))
        s.remove_prefix(1);
    while (!s.empty() && (s.back() == '\t'))
        s.remove_suffix(1);
    if (s.empty())
        return std::nullopt;
    if (s.size() > 2 && s[0] == '&' && (s[1] == 'H' || s[1] == 'h')) {
        const std::string digits(s.substr(2));
        if (digits.size() > 8)
            return std::nullopt;
        for (char c : digits) {
            if (!std::isxdigit(static_cast<unsigned char>(c)))
                return std::nullopt;
        }
        char* end = nullptr;
        const unsigned long n = std::strtoul(digits.c_str(), &end, 16);
        if (*end != '\0')
            return std::nullopt;
        // Hexadecimal text is a 32-bit pattern: &HFFFFFFFF is -1.
        return static_cast<double>(static_cast<int32_t>(static_cast<uint32_t>(n)));
    }
    const std::string copy(s);
    // Only decimal notation: no "inf", "nan" or C's hexadecimal floats.
    for (char c : copy) {
        if (!(std::isdigit(static_cast<unsigned char>(c)) || c == '+' || c == '-' || c == '.' ||
              c == 'e' || c == 'E'))
            return std::nullopt;
    }
    char* end = nullptr;
    errno = 0;
    const double d = std::strtod(copy.c_str(), &end);
    if (end != copy.c_str() + copy.size() || errno == ERANGE)
        return std::nullopt;
    return d;
}

}  // namespace

double ToDouble(const RegValue& v) {
    if (IsEmpty(v))
        return 0;
    if (const bool* b = std::get_if<bool>(&v))
        return *b ? -1 : 0;
    if (const int16_t* i = std::get_if<int16_t>(&v))
        return *i;
    if (const int32_t* l = std::get_if<int32_t>(&v))
        return *l;
    if (const double* d = std::get_if<double>(&v))
        return *d;
    if (const std::string* s = std::get_if<std::string>(&v)) {
        if (const std::optional<double> d = ParseNumber(*s))
            return *d;
    }
    throw TypeMismatchError(kSource);
}

namespace {

// Rounds halves to even and checks the range.
double RoundInRange(double d, double low, double high) {
    const double r = std::nearbyint(d);
    if (!(r >= low && r <= high))
        throw OverflowError(kSource);
    return r;
}

}  // namespace

bool IsNumber(const RegValue& v) {
    return std::holds_alternative<bool>(v) || std::holds_alternative<int16_t>(v) ||
           std::holds_alternative<int32_t>(v) || std::holds_alternative<double>(v);
}

bool IsNumeric(const RegValue& v) {
    if (IsNumber(v))
        return true;
    const std::string* s = std::get_if<std::string>(&v);
    return s && ParseNumber(*s).has_value();
}

std::string ToText(const RegValue& v) {
    if (IsEmpty(v))
        return "";
    if (const bool* b = std::get_if<bool>(&v))
        return *b ? "True" : "False";
    if (const int16_t* i = std::get_if<int16_t>(&v))
        return std::to_string(*i);
    if (const int32_t* l = std::get_if<int32_t>(&v))
        return std::to_string(*l);
    if (const double* d = std::get_if<double>(&v)) {
        char buf[32];
        std::snprintf(buf, sizeof buf, "%.15G", *d);
        return buf;
    }
    if (const std::string* s = std::get_if<std::string>(&v))
        return *s;
    throw TypeMismatchError(kSource);
}

int32_t ToLong(const RegValue& v) {
    return static_cast<int32_t>(RoundInRange(ToDouble(v), -2147483648.0, 2147483647.0));
}

int16_t ToInteger(const RegValue& v) {
    return static_cast<int16_t>(RoundInRange(ToDouble(v), -32768.0, 32767.0));
}

}  // namespace qb::config
