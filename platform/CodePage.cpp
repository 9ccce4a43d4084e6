// The code page in force and the case tables, for every system.
#include "platform/CodePage.h"

#include <map>

#include "platform/codepage/Tables.h"

namespace qb::platform {

void FillCaseTables(text::CodePage& cp, char16_t (*fold)(char16_t unit, bool upper)) {
    // The byte of each character that has one of its own (the first, should
    // two bytes convert to the same character).
    std::map<char16_t, unsigned char> byteOf;
    for (int b = 0; b < 256; ++b) {
        if (!cp.lead[static_cast<size_t>(b)])
            byteOf.emplace(cp.wide[static_cast<size_t>(b)], static_cast<unsigned char>(b));
    }
    for (int b = 0; b < 256; ++b) {
        const size_t i = static_cast<size_t>(b);
        cp.lower[i] = cp.upper[i] = static_cast<unsigned char>(b);
        if (b < 0x80) {
            cp.lower[i] = text::detail::kAsciiLower[i];
            cp.upper[i] = text::detail::kAsciiUpper[i];
            continue;
        }
        if (cp.lead[i] || byteOf.at(cp.wide[i]) != b)
            continue;
        for (const bool upper : {false, true}) {
            const auto to = byteOf.find(fold(cp.wide[i], upper));
            if (to != byteOf.end())
                (upper ? cp.upper : cp.lower)[i] = to->second;
        }
    }
    cp.Finish();
}

bool UseCodePage(uint32_t number) {
    // Kept for the life of the program: the tables in force must outlive
    // every use, also during the program's exit.
    static auto* const built = new std::map<uint32_t, std::unique_ptr<text::CodePage>>;
    const text::CodePage* cp = &text::Windows1252();
    if (number != 1252) {
        auto it = built->find(number);
        if (it == built->end())
            it = built->emplace(number, BuildCodePage(number)).first;
        if (it->second)
            cp = it->second.get();
    }
    text::SetActive(*cp);
    PutCodePageInEnvironment(cp->number);
    return cp->number == number;
}

}  // namespace qb::platform
