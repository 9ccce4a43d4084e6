// Lead bytes through glibc's iconv: a byte that iconv takes for the start of
// an unfinished character is a lead byte.
#include <iconv.h>

#include <cerrno>
#include <charconv>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/codepage/LeadBytes.h"

namespace qb::platform {

namespace {

enum class Outcome { kCharacter, kUnfinished, kInvalid };

Outcome Convert(iconv_t cd, const char* bytes, size_t n) {
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
    char in[2];
    std::memcpy(in, bytes, n);
    char out[16];
    char* ip = in;
    char* op = out;
    size_t inLeft = n, outLeft = sizeof out;
    if (iconv(cd, &ip, &inLeft, &op, &outLeft) != static_cast<size_t>(-1))
        return inLeft == 0 ? Outcome::kCharacter : Outcome::kInvalid;
    return errno == EINVAL ? Outcome::kUnfinished : Outcome::kInvalid;
}

}  // namespace

bool LeadBytes(uint32_t number, std::array<bool, 256>& lead) {
    lead.fill(false);
    const std::string name = "CP" + std::to_string(number);
    const iconv_t cd = iconv_open("UTF-32LE", name.c_str());
    if (cd == reinterpret_cast<iconv_t>(-1))
        return false;
    bool ok = true;
    for (int b = 0x80; b < 0x100 && ok; ++b) {
        const char one = static_cast<char>(b);
        if (Convert(cd, &one, 1) != Outcome::kUnfinished)
            continue;
        lead[static_cast<size_t>(b)] = true;
        // Two bytes must end every character that starts with it.
        for (int t = 0x40; t < 0x100 && ok; ++t) {
            const char two[2] = {one, static_cast<char>(t)};
            ok = Convert(cd, two, 2) != Outcome::kUnfinished;
        }
    }
    iconv_close(cd);
    if (!ok)
        lead.fill(false);
    return ok;
}

uint32_t ProcessCodePage() {
    const char* text = std::getenv(kCodePageVariable);
    uint32_t number = 0;
    if (text) {
        const char* end = text + std::strlen(text);
        const auto [at, error] = std::from_chars(text, end, number);
        if (error != std::errc() || at != end)
            number = 0;
    }
    return number != 0 ? number : 1252;
}

}  // namespace qb::platform
