// Lead bytes from GetCPInfo, which Windows XP has.
#include "common/LeanWindows.h"

#include "platform/codepage/LeadBytes.h"

namespace qb::platform {

bool LeadBytes(uint32_t number, std::array<bool, 256>& lead) {
    lead.fill(false);
    CPINFO info{};
    if (!::GetCPInfo(number, &info) || info.MaxCharSize > 2)
        return false;
    // Pairs of inclusive ranges, ended by two zero bytes.
    for (int i = 0; i + 1 < MAX_LEADBYTES && info.LeadByte[i] != 0; i += 2) {
        for (int b = info.LeadByte[i]; b <= info.LeadByte[i + 1]; ++b)
            lead[static_cast<size_t>(b)] = true;
    }
    return true;
}

uint32_t ProcessCodePage() {
    return ::GetACP();
}

}  // namespace qb::platform
