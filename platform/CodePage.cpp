// The code page in force and the case tables, for every system.
#include "platform/CodePage.h"

#include <algorithm>
#include <utility>
#include <vector>

#include "platform/codepage/Tables.h"

namespace qb::platform {

void FillCaseTables(text::CodePage& cp, char16_t (*fold)(char16_t unit, bool upper)) {
    for (int b = 0; b < 256; ++b) {
        const size_t i = static_cast<size_t>(b);
        cp.lower[i] = cp.upper[i] = static_cast<unsigned char>(b);
    }
    // The way back from a character to its byte (of the bytes from 0x80 on;
    // a lead byte's entry is its own value, which no character maps to).
    cp.Finish();
    const auto byteOf = [&cp](char16_t unit) -> int {
        if (unit < 0x80)
            return unit;
        const auto it = std::lower_bound(cp.fromWide.begin(), cp.fromWide.end(),
                                         std::pair<char16_t, unsigned char>{unit, 0});
        if (it == cp.fromWide.end() || it->first != unit || cp.lead[it->second])
            return -1;
        return it->second;
    };
    for (int b = 0; b < 256; ++b) {
        const size_t i = static_cast<size_t>(b);
        if (b < 0x80) {
            cp.lower[i] = text::detail::kAsciiLower[i];
            cp.upper[i] = text::detail::kAsciiUpper[i];
            continue;
        }
        // A byte that is a character of its own, and the first of two bytes
        // that convert to the same character.
        if (cp.lead[i] || byteOf(cp.wide[i]) != b)
            continue;
        for (const bool upper : {false, true}) {
            const int to = byteOf(fold(cp.wide[i], upper));
            if (to >= 0)
                (upper ? cp.upper : cp.lower)[i] = static_cast<unsigned char>(to);
        }
    }
    cp.Finish();
}

bool UseCodePage(uint32_t number) {
    // Kept for the life of the program: the tables in force must outlive
    // every use, also during the program's exit. A code page the system
    // cannot build is remembered as null.
    static auto* const built =
        new std::vector<std::pair<uint32_t, std::unique_ptr<text::CodePage>>>;
    const text::CodePage* cp = &text::Windows1252();
    if (number != 1252) {
        auto it = std::find_if(built->begin(), built->end(),
                               [number](const auto& entry) { return entry.first == number; });
        if (it == built->end()) {
            built->emplace_back(number, BuildCodePage(number));
            it = built->end() - 1;
        }
        if (it->second)
            cp = it->second.get();
    }
    text::SetActive(*cp);
    PutCodePageInEnvironment(cp->number);
    return cp->number == number;
}

}  // namespace qb::platform
