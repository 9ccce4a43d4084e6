// The code page in force and the case tables, for every system.
#include "platform/CodePage.h"

#include <algorithm>
#include <cstdlib>
#include <utility>
#include <vector>

#include "platform/Registry.h"
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

namespace {

// A code page number as text: decimal digits, blanks around them allowed.
std::optional<uint32_t> CodePageNumber(std::string_view text) {
    text = text::TrimBlanks(text.substr(0, text.find('\0')));
    if (text.empty() || text.size() > 5)
        return std::nullopt;
    uint32_t number = 0;
    for (const char c : text) {
        if (c < '0' || c > '9')
            return std::nullopt;
        number = number * 10 + static_cast<uint32_t>(c - '0');
    }
    return number == 0 ? std::nullopt : std::optional<uint32_t>(number);
}

std::optional<uint32_t> RegistryCodePage(Registry& registry) {
    Registry::Key key = 0;
    if (registry.OpenKey(reg::kLocalMachine, kCodePageKey, reg::kKeyRead, key) != reg::kOk)
        return std::nullopt;
    uint32_t type = 0;
    std::string data;
    std::optional<uint32_t> number;
    if (registry.QueryValue(key, "ACP", type, data) == reg::kOk &&
        (type == reg::kSz || type == reg::kExpandSz))
        number = CodePageNumber(data);
    registry.CloseKey(key);
    return number;
}

}  // namespace

std::optional<uint32_t> WantedCodePage(Registry& registry) {
    if (std::optional<uint32_t> number = SystemCodePage())
        return number;
    if (std::optional<uint32_t> number = RegistryCodePage(registry))
        return number;
    const char* variable = std::getenv(kCodePageVariable);
    return variable != nullptr ? CodePageNumber(variable) : std::nullopt;
}

}  // namespace qb::platform
