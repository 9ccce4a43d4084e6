// 8-bit text of the system code page (Windows-1252 semantics, every byte
// value a character of its own) and the one case folding the whole system
// uses wherever text is compared "without regard to case".
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace qb::text {

namespace detail {
constexpr std::array<unsigned char, 256> MakeLowerTable() {
    std::array<unsigned char, 256> t{};
    for (int i = 0; i < 256; ++i)
        t[i] = static_cast<unsigned char>(i);
    for (int c = 'A'; c <= 'Z'; ++c)
        t[c] = static_cast<unsigned char>(c + 32);
    for (int c = 0xC0; c <= 0xDE; ++c) {
        if (c != 0xD7)
            t[c] = static_cast<unsigned char>(c + 32);  // 0xD7 is the multiplication sign
    }
    t[0x8A] = 0x9A;  // S caron
    t[0x8C] = 0x9C;  // OE ligature
    t[0x8E] = 0x9E;  // Z caron
    t[0x9F] = 0xFF;  // Y diaeresis
    return t;
}
constexpr std::array<unsigned char, 256> MakeUpperTable() {
    std::array<unsigned char, 256> lower = MakeLowerTable();
    std::array<unsigned char, 256> t{};
    for (int i = 0; i < 256; ++i)
        t[i] = static_cast<unsigned char>(i);
    for (int i = 0; i < 256; ++i) {
        if (lower[i] != i)
            t[lower[i]] = static_cast<unsigned char>(i);
    }
    return t;
}
inline constexpr std::array<unsigned char, 256> kLower = MakeLowerTable();
inline constexpr std::array<unsigned char, 256> kUpper = MakeUpperTable();

// Unicode code points of the bytes 0x80..0x9F. The five bytes Windows-1252
// leaves undefined map to the C1 control of the same value, as the system's
// conversion functions do, so all 256 bytes round-trip.
inline constexpr std::array<char16_t, 32> kHigh = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};
}  // namespace detail

inline char ToLower(char c) {
    return static_cast<char>(detail::kLower[static_cast<unsigned char>(c)]);
}
inline char ToUpper(char c) {
    return static_cast<char>(detail::kUpper[static_cast<unsigned char>(c)]);
}

inline std::string Lower(std::string_view s) {
    std::string out(s);
    for (char& c : out)
        c = ToLower(c);
    return out;
}
inline std::string Upper(std::string_view s) {
    std::string out(s);
    for (char& c : out)
        c = ToUpper(c);
    return out;
}

// Case-insensitive three-way comparison: -1, 0 or 1. Compares the lower-case
// folds byte by byte as unsigned values, a shorter text first when it is a
// prefix of the other. A consistent total order; allocates nothing.
inline int CompareNoCase(std::string_view a, std::string_view b) {
    const size_t n = a.size() < b.size() ? a.size() : b.size();
    for (size_t i = 0; i < n; ++i) {
        const unsigned char x = detail::kLower[static_cast<unsigned char>(a[i])];
        const unsigned char y = detail::kLower[static_cast<unsigned char>(b[i])];
        if (x != y)
            return x < y ? -1 : 1;
    }
    if (a.size() == b.size())
        return 0;
    return a.size() < b.size() ? -1 : 1;
}
inline bool EqualNoCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && CompareNoCase(a, b) == 0;
}

// One byte of the system code page as a 16-bit code unit, and back. A code
// unit with no byte of its own becomes '?', as the system's conversion does.
inline char16_t AnsiToWide(char c) {
    const unsigned char b = static_cast<unsigned char>(c);
    if (b >= 0x80 && b <= 0x9F)
        return detail::kHigh[b - 0x80];
    return b;
}
inline char WideToAnsi(char16_t u) {
    if (u < 0x80 || (u >= 0xA0 && u <= 0xFF))
        return static_cast<char>(u);
    for (int i = 0; i < 32; ++i) {
        if (detail::kHigh[i] == u)
            return static_cast<char>(0x80 + i);
    }
    return '?';
}

// Trims blanks (space characters only) at both ends.
inline std::string_view TrimBlanks(std::string_view s) {
    size_t b = 0, e = s.size();
    while (b < e && s[b] == ' ')
        ++b;
    while (e > b && s[e - 1] == ' ')
        --e;
    return s.substr(b, e - b);
}

}  // namespace qb::text
