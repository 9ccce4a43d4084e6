// libFuzzer target: any bytes as a message's header section. Beyond not
// crashing or reading out of bounds, every address the reader hands out
// must be one the lists can hold: an "@" between a local part and a domain,
// no control byte, at most kLongestAddress bytes.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "scanner/eml/MessageHeader.h"

namespace {

void Check(const std::string& a) {
    const size_t at = a.rfind('@');
    if (a.size() > qb::eml::kLongestAddress || at == std::string::npos || at == 0 ||
        at + 1 == a.size())
        std::abort();
    for (const char c : a) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F)
            std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data),
                                 size < qb::eml::kHeaderLimit ? size : qb::eml::kHeaderLimit);
    const qb::eml::MessageHeader header = qb::eml::ReadHeader(bytes);
    if (!header.sender.empty())
        Check(header.sender);
    for (const std::string& a : header.recipients)
        Check(a);
    for (const std::string& a : qb::eml::ReadAddresses(bytes))
        Check(a);
    (void)qb::eml::ReadDateHour(bytes);
    return 0;
}
