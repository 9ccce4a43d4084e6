// The bytes of a UTF-16LE file with its byte-order mark, as regedit writes
// "Version 5.00" exports.
#pragma once

#include <string>

namespace qb::test {

inline std::string Utf16(const std::u16string& s) {
    std::string out = "\xFF\xFE";
    for (char16_t u : s) {
        out += static_cast<char>(u & 0xFF);
        out += static_cast<char>(u >> 8);
    }
    return out;
}

}  // namespace qb::test
