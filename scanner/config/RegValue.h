// The values RegOp reads and writes: Empty, a Boolean, a 16-bit or 32-bit
// integer, a floating-point number, text, or an array of texts (indexed from
// 0). The conversions are the ones the scanner's callers rely on: to text,
// to a 32-bit or 16-bit integer (rounding halves to even, raising "Type
// mismatch" for what is no number and "Overflow" beyond the range).
#pragma once

#include <cstdint>
#include <string>
#include <variant>
#include <vector>

namespace qb::config {

using RegValue = std::variant<std::monostate, bool, int16_t, int32_t, double, std::string,
                              std::vector<std::string>>;

inline bool IsEmpty(const RegValue& v) {
    return std::holds_alternative<std::monostate>(v);
}

// A Boolean or a number (text is not, even numeric text).
bool IsNumber(const RegValue& v);

// Whether v is a number or text that reads as one.
bool IsNumeric(const RegValue& v);

// Empty gives "", numbers their decimal text, Booleans "True" or "False";
// an array raises "Type mismatch".
std::string ToText(const RegValue& v);

// Empty gives 0, a Boolean -1 or 0, text is read as a number (blanks around
// it allowed, "&H" hexadecimal too); anything else raises "Type mismatch".
int32_t ToLong(const RegValue& v);
double ToDouble(const RegValue& v);
int16_t ToInteger(const RegValue& v);

}  // namespace qb::config
