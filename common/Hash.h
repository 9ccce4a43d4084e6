// The one content hash of the product's own files: FNV-1a, 64 bits. It tells
// a damaged or changed file from the one recorded, nothing more.
#pragma once

#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

namespace qb::hash {

inline uint64_t Fnv1a(std::string_view bytes) {
    uint64_t h = 0xcbf29ce484222325ULL;
    for (const char c : bytes) {
        h ^= static_cast<unsigned char>(c);
        h *= 0x100000001b3ULL;
    }
    return h;
}

// The hash as 16 lower-case hex digits.
inline std::string Fnv1aHex(std::string_view bytes) {
    char out[17];
    std::snprintf(out, sizeof out, "%016" PRIx64, Fnv1a(bytes));
    return out;
}

}  // namespace qb::hash
