// Fuzz target for the quellboxaddr.bin reader: any bytes load without a
// crash; the file saved from them loads back to the same database (histories
// cut to the newest 20, as the writer keeps them) and saves to the same bytes.
// The loaded records then go through scoring and pruning.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "addrdb/AddressDatabase.h"

using qb::addrdb::AddressDatabase;
using qb::addrdb::AddressRecord;

namespace {

void Check(bool ok) {
    if (!ok)
        std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    AddressDatabase first(".", 5000);
    first.Load(std::string(reinterpret_cast<const char*>(data), size));
    const std::string saved = first.Text();

    AddressDatabase second(".", 5000);
    second.Load(saved);
    Check(second.TotalFrom() == first.TotalFrom());
    Check(second.TotalTo() == first.TotalTo());
    Check(second.Records().size() == first.Records().size());
    auto again = second.Records().begin();
    for (const auto& [address, record] : first.Records()) {
        AddressRecord kept = record;
        const size_t n = kept.scoreHistory.size();
        if (n > AddressDatabase::kHistoryLimit)
            kept.scoreHistory.erase(
                kept.scoreHistory.begin(),
                kept.scoreHistory.begin() +
                    static_cast<std::ptrdiff_t>(n - AddressDatabase::kHistoryLimit));
        Check(again->first == address);
        Check(again->second == kept);
        ++again;
    }
    Check(second.Text() == saved);

    // Score every loaded address once and prune to half: arithmetic on
    // whatever counts and scores the input held.
    AddressDatabase third(".", static_cast<uint32_t>(first.Records().size() / 2));
    third.Load(saved);
    std::vector<std::string> keys;
    for (const auto& entry : third.Records())
        keys.push_back(entry.first);
    uint32_t score = size > 0 ? data[0] : 0;
    for (const std::string& key : keys) {
        const uint32_t adjusted = third.adjustScore(key.c_str(), score);
        Check(adjusted <= score || (adjusted >= 1 && adjusted <= 100));
        score = score * 31 + 7;
    }
    third.addSpamAddrFrom("new@example.com", 1);
    Check(third.Records().size() <= keys.size() + 1);
    return 0;
}
