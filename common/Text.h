// 8-bit text of the system code page and the one case folding the whole
// system uses wherever text is compared "without regard to case".
//
// The code page in force is Windows-1252 (from the tables below) until the
// program puts another in force (platform/CodePage.h builds its tables from
// the system's own conversions and case mapping, once per process). Every
// fold is table-driven: a byte that is a character of its own folds through
// the code page's table; in a double-byte code page (932, 936, 949, 950) the
// byte after a lead byte is a trail byte and is never folded; text that holds
// bytes of 0x80 or more and is valid UTF-8 as a whole (Windows Live Mail
// headers, file names on Linux) folds its ASCII letters only, in a code page
// whose own table would fold such bytes, so it stays valid UTF-8.
#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <utility>

namespace qb::text {

// The tables of one code page. Built once and never changed while in force.
struct CodePage {
    using ToWideFn = std::u16string (*)(uint32_t number, std::string_view bytes);
    using FromWideFn = std::string (*)(uint32_t number, std::u16string_view units);

    uint32_t number = 1252;
    // Whether some byte is the lead byte of a double-byte character.
    bool doubleByte = false;
    // Whether some byte of 0x80 or more has a case pair: text that is UTF-8
    // then folds its ASCII letters only.
    bool foldsHighBytes = true;
    // The fold of each byte taken as a character of its own; a lead byte,
    // and every byte without a case pair in the code page, maps to itself.
    std::array<unsigned char, 256> lower{};
    std::array<unsigned char, 256> upper{};
    std::array<bool, 256> lead{};
    // Each byte as a character of its own in UTF-16. A byte the code page
    // leaves undefined, and a lead byte, maps to the code point of the same
    // value, so every byte converts to a code unit and back unchanged.
    std::array<char16_t, 256> wide{};
    // The bytes 0x80..0xFF ordered by their code unit, for the way back.
    std::array<std::pair<char16_t, unsigned char>, 128> fromWide{};
    // Whole-text conversions of a double-byte code page (the system's own);
    // null in a single-byte code page, which converts byte by byte.
    ToWideFn toWideText = nullptr;
    FromWideFn fromWideText = nullptr;

    // Fills fromWide and foldsHighBytes from the other tables.
    constexpr void Finish() {
        foldsHighBytes = false;
        for (int b = 0x80; b < 0x100; ++b) {
            fromWide[static_cast<size_t>(b - 0x80)] = {wide[static_cast<size_t>(b)],
                                                       static_cast<unsigned char>(b)};
            if (lower[static_cast<size_t>(b)] != b || upper[static_cast<size_t>(b)] != b)
                foldsHighBytes = true;
        }
        // Insertion sort: 128 entries, once per code page, little code.
        for (size_t i = 1; i < fromWide.size(); ++i) {
            const auto entry = fromWide[i];
            size_t j = i;
            for (; j > 0 && entry < fromWide[j - 1]; --j)
                fromWide[j] = fromWide[j - 1];
            fromWide[j] = entry;
        }
    }
};

namespace detail {

// Windows-1252: A-Z, 0xC0-0xDE but 0xD7 (the multiplication sign), and
// S caron, OE ligature, Z caron, Y diaeresis.
constexpr CodePage MakeWindows1252() {
    CodePage cp;
    for (int i = 0; i < 256; ++i) {
        cp.lower[static_cast<size_t>(i)] = static_cast<unsigned char>(i);
        cp.upper[static_cast<size_t>(i)] = static_cast<unsigned char>(i);
        cp.wide[static_cast<size_t>(i)] = static_cast<char16_t>(i);
    }
    const auto pair = [&cp](int upperByte, int lowerByte) {
        cp.lower[static_cast<size_t>(upperByte)] = static_cast<unsigned char>(lowerByte);
        cp.upper[static_cast<size_t>(lowerByte)] = static_cast<unsigned char>(upperByte);
    };
    for (int c = 'A'; c <= 'Z'; ++c)
        pair(c, c + 32);
    for (int c = 0xC0; c <= 0xDE; ++c) {
        if (c != 0xD7)
            pair(c, c + 32);
    }
    pair(0x8A, 0x9A);
    pair(0x8C, 0x9C);
    pair(0x8E, 0x9E);
    pair(0x9F, 0xFF);
    // 0x80..0x9F; the five bytes the code page leaves undefined map to the
    // C1 control of the same value, as the system's conversion does.
    constexpr char16_t kHigh[32] = {0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
                                    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};
    for (int i = 0; i < 32; ++i)
        cp.wide[static_cast<size_t>(0x80 + i)] = kHigh[i];
    cp.Finish();
    return cp;
}

constexpr std::array<unsigned char, 256> MakeAsciiTable(bool lower) {
    std::array<unsigned char, 256> t{};
    for (int i = 0; i < 256; ++i)
        t[static_cast<size_t>(i)] = static_cast<unsigned char>(i);
    for (int c = 'A'; c <= 'Z'; ++c) {
        if (lower)
            t[static_cast<size_t>(c)] = static_cast<unsigned char>(c + 32);
        else
            t[static_cast<size_t>(c + 32)] = static_cast<unsigned char>(c);
    }
    return t;
}

inline constexpr CodePage kWindows1252 = MakeWindows1252();
inline constexpr std::array<unsigned char, 256> kAsciiLower = MakeAsciiTable(true);
inline constexpr std::array<unsigned char, 256> kAsciiUpper = MakeAsciiTable(false);

inline const CodePage* gActive = &kWindows1252;

}  // namespace detail

// The code page in force.
inline const CodePage& Active() {
    return *detail::gActive;
}
// Windows-1252 from the tables built into the program.
inline const CodePage& Windows1252() {
    return detail::kWindows1252;
}
// Puts cp in force; it must stay alive while it is (platform/CodePage.h
// keeps the tables it builds for the life of the program).
inline void SetActive(const CodePage& cp) {
    detail::gActive = &cp;
}

// Whether s is well-formed UTF-8 (shortest forms, no surrogates, at most
// U+10FFFF). ASCII text is.
inline bool IsUtf8(std::string_view s) {
    size_t i = 0;
    const size_t n = s.size();
    while (i < n) {
        const unsigned char b = static_cast<unsigned char>(s[i]);
        if (b < 0x80) {
            ++i;
            continue;
        }
        size_t more;
        unsigned char min = 0x80, max = 0xBF;  // bounds of the first continuation byte
        if (b >= 0xC2 && b <= 0xDF) {
            more = 1;
        } else if (b >= 0xE0 && b <= 0xEF) {
            more = 2;
            if (b == 0xE0)
                min = 0xA0;
            else if (b == 0xED)
                max = 0x9F;
        } else if (b >= 0xF0 && b <= 0xF4) {
            more = 3;
            if (b == 0xF0)
                min = 0x90;
            else if (b == 0xF4)
                max = 0x8F;
        } else {
            return false;
        }
        if (n - i <= more)
            return false;
        for (size_t k = 1; k <= more; ++k) {
            const unsigned char c = static_cast<unsigned char>(s[i + k]);
            if (c < (k == 1 ? min : 0x80) || c > (k == 1 ? max : 0xBF))
                return false;
        }
        i += more + 1;
    }
    return true;
}

namespace detail {

// out (a copy of s) folded through table: byte by byte, but in a
// double-byte code page trail bytes stay, and in a code page that folds high
// bytes a UTF-8 text folds through ascii instead.
inline void Fold(std::string_view s, std::string& out, const CodePage& cp,
                 const std::array<unsigned char, 256>& table,
                 const std::array<unsigned char, 256>& ascii) {
    // ASCII text (addresses, keys) eight bytes at a time: every code page
    // folds ASCII as ascii does, which toggles the 0x20 bit of the letters
    // of one case. Adding 0x80 - first sets a byte's top bit when the byte
    // is first or above, without a carry into the next byte (all are below
    // 0x80).
    constexpr uint64_t kOnes = 0x0101010101010101ull, kTops = 0x8080808080808080ull;
    const uint64_t first = ascii['A'] != 'A' ? 'A' : 'a';
    size_t i = 0;
    for (; i + 8 <= out.size(); i += 8) {
        uint64_t w;
        std::memcpy(&w, out.data() + i, 8);
        if (w & kTops)
            break;
        const uint64_t letters =
            (w + (0x80 - first) * kOnes) & ~(w + (0x80 - first - 26) * kOnes) & kTops;
        w ^= letters >> 2;
        std::memcpy(out.data() + i, &w, 8);
    }
    unsigned char high = 0;
    for (; i < out.size(); ++i) {
        const unsigned char b = static_cast<unsigned char>(out[i]);
        high |= b;
        out[i] = static_cast<char>(table[b]);
    }
    if (high < 0x80)
        return;
    const size_t n = s.size();
    if (cp.doubleByte) {
        for (size_t i = 0; i + 1 < n; ++i) {
            if (cp.lead[static_cast<unsigned char>(s[i])]) {
                out[i + 1] = s[i + 1];
                ++i;
            }
        }
    } else if (cp.foldsHighBytes && IsUtf8(s)) {
        for (size_t i = 0; i < n; ++i)
            out[i] = static_cast<char>(ascii[static_cast<unsigned char>(s[i])]);
    }
}

// CompareNoCase from the first position i at which a or b holds a byte of
// 0x80 or more; everything before it was ASCII and compared equal. Kept out
// of line, so that the comparison of ASCII texts stays a short loop.
[[gnu::noinline]] inline int CompareNoCaseFrom(std::string_view a, std::string_view b, size_t i,
                                               const CodePage& cp) {
    const size_t n = std::min(a.size(), b.size());
    if (cp.doubleByte) {
        // While the folds agree, both texts have the same characters, so a
        // trail byte stands at the same place in both.
        bool trail = false;
        for (; i < n; ++i) {
            const unsigned char x = static_cast<unsigned char>(a[i]);
            const unsigned char y = static_cast<unsigned char>(b[i]);
            const unsigned char fx = trail ? x : cp.lower[x];
            const unsigned char fy = trail ? y : cp.lower[y];
            if (fx != fy)
                return fx < fy ? -1 : 1;
            trail = !trail && cp.lead[x];
        }
    } else {
        const auto& ta = cp.foldsHighBytes && IsUtf8(a) ? kAsciiLower : cp.lower;
        const auto& tb = cp.foldsHighBytes && IsUtf8(b) ? kAsciiLower : cp.lower;
        for (; i < n; ++i) {
            const unsigned char fx = ta[static_cast<unsigned char>(a[i])];
            const unsigned char fy = tb[static_cast<unsigned char>(b[i])];
            if (fx != fy)
                return fx < fy ? -1 : 1;
        }
    }
    if (a.size() == b.size())
        return 0;
    return a.size() < b.size() ? -1 : 1;
}

}  // namespace detail

// The fold of one byte taken as a character of its own (not a byte of a
// double-byte character).
inline char ToLower(char c) {
    return static_cast<char>(Active().lower[static_cast<unsigned char>(c)]);
}
inline char ToUpper(char c) {
    return static_cast<char>(Active().upper[static_cast<unsigned char>(c)]);
}

// The text in lower (upper) case, as the code page in force folds it. The
// result has the length of the text.
inline void LowerInto(std::string_view s, std::string& out) {  // out: not s's own bytes
    const CodePage& cp = Active();
    out.assign(s.data(), s.size());
    detail::Fold(s, out, cp, cp.lower, detail::kAsciiLower);
}
inline std::string Lower(std::string_view s) {
    std::string out;
    LowerInto(s, out);
    return out;
}
inline std::string Upper(std::string_view s) {
    const CodePage& cp = Active();
    std::string out(s);
    detail::Fold(s, out, cp, cp.upper, detail::kAsciiUpper);
    return out;
}

// Case-insensitive three-way comparison: -1, 0 or 1. Compares the lower-case
// folds (as Lower makes them) byte by byte as unsigned values, a shorter text
// first when it is a prefix of the other. A consistent total order; allocates
// nothing. ASCII text takes one table look-up per byte.
inline int CompareNoCase(std::string_view a, std::string_view b) {
    // ASCII letters fold alike in every code page (its tables are made so).
    const std::array<unsigned char, 256>& ascii = detail::kAsciiLower;
    const size_t n = a.size() < b.size() ? a.size() : b.size();
    for (size_t i = 0; i < n; ++i) {
        const unsigned char x = static_cast<unsigned char>(a[i]);
        const unsigned char y = static_cast<unsigned char>(b[i]);
        if ((x | y) >= 0x80)
            return detail::CompareNoCaseFrom(a, b, i, Active());
        const unsigned char fx = ascii[x];
        const unsigned char fy = ascii[y];
        if (fx != fy)
            return fx < fy ? -1 : 1;
    }
    if (a.size() == b.size())
        return 0;
    return a.size() < b.size() ? -1 : 1;
}
inline bool EqualNoCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && CompareNoCase(a, b) == 0;
}

// One byte of the code page taken as a character of its own, as a 16-bit
// code unit, and back. A code unit with no byte of its own becomes '?', as
// the system's conversion does.
inline char16_t AnsiToWide(char c) {
    return Active().wide[static_cast<unsigned char>(c)];
}
inline char WideToAnsi(char16_t u) {
    if (u < 0x80)
        return static_cast<char>(u);
    const CodePage& cp = Active();
    const auto it = std::lower_bound(cp.fromWide.begin(), cp.fromWide.end(),
                                     std::pair<char16_t, unsigned char>{u, 0});
    return it != cp.fromWide.end() && it->first == u ? static_cast<char>(it->second) : '?';
}

// Whole texts of the code page as UTF-16 and back (a double-byte character
// is one code unit); a code unit the code page cannot hold becomes '?'.
inline std::u16string ToWide(std::string_view s) {
    const CodePage& cp = Active();
    if (cp.toWideText)
        return cp.toWideText(cp.number, s);
    std::u16string out(s.size(), u'\0');
    for (size_t i = 0; i < s.size(); ++i)
        out[i] = cp.wide[static_cast<unsigned char>(s[i])];
    return out;
}
inline std::string FromWide(std::u16string_view s) {
    const CodePage& cp = Active();
    if (cp.fromWideText)
        return cp.fromWideText(cp.number, s);
    std::string out(s.size(), '\0');
    for (size_t i = 0; i < s.size(); ++i)
        out[i] = WideToAnsi(s[i]);
    return out;
}

// Valid UTF-8 (see IsUtf8) as UTF-16, and UTF-16 as UTF-8 (an unpaired
// surrogate becomes U+FFFD).
inline std::u16string WideFromUtf8(std::string_view s) {
    std::u16string out;
    out.reserve(s.size());
    for (size_t i = 0; i < s.size();) {
        const unsigned char b = static_cast<unsigned char>(s[i]);
        const size_t n = b < 0x80 ? 1 : b < 0xE0 ? 2 : b < 0xF0 ? 3 : 4;
        char32_t c = n == 1 ? b : b & (0x7F >> n);
        for (size_t k = 1; k < n && i + k < s.size(); ++k)
            c = c << 6 | (static_cast<unsigned char>(s[i + k]) & 0x3F);
        if (c > 0xFFFF) {
            c -= 0x10000;
            out += static_cast<char16_t>(0xD800 + (c >> 10));
            out += static_cast<char16_t>(0xDC00 + (c & 0x3FF));
        } else {
            out += static_cast<char16_t>(c);
        }
        i += n;
    }
    return out;
}
inline std::string Utf8FromWide(std::u16string_view s) {
    std::string out;
    out.reserve(s.size());
    for (size_t i = 0; i < s.size(); ++i) {
        char32_t c = s[i];
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < s.size() && s[i + 1] >= 0xDC00 &&
            s[i + 1] <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (s[++i] - 0xDC00);
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            c = 0xFFFD;
        }
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (c < 0x800) {
            out += static_cast<char>(0xC0 | c >> 6);
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            out += static_cast<char>(0xE0 | c >> 12);
            out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | c >> 18);
            out += static_cast<char>(0x80 | (c >> 12 & 0x3F));
            out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
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
