// Fuzz target for the quellboxaddr.bin reader: any bytes load without a
// crash; the file saved from them loads back to the same database (histories
// cut to the newest 20, as the writer keeps them) and saves to the same bytes.
// The loaded records then go through scoring, and through operations whose
// pruning is checked against pruning the plain way (every record in key order).
#include <cstdint>
#include <cstdlib>
#include <iterator>
#include <string>

#include "addrdb/AddressDatabase.h"

using qb::addrdb::AddressDatabase;
using qb::addrdb::AddressRecord;

namespace {

void Check(bool ok) {
    if (!ok)
        std::abort();
}

// The two pruning passes as defined, walking every record in key order.
void PlainPrune(AddressDatabase::Entries& entries, uint32_t totalTo, size_t maxEntries) {
    if (entries.size() <= maxEntries)
        return;
    for (auto it = entries.begin(); it != entries.end() && entries.size() > maxEntries;) {
        const bool small = totalTo != 0 && it->second.scoreHistory.empty() &&
                           static_cast<double>(it->second.toCount) / totalTo < 0.02;
        it = small ? entries.erase(it) : std::next(it);
    }
    for (auto it = entries.begin(); it != entries.end() && entries.size() > maxEntries;) {
        const bool idle = it->second.fromCount == 0 && it->second.toCount < 10;
        it = idle ? entries.erase(it) : std::next(it);
    }
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
        keys.emplace_back(entry.first);
    uint32_t score = size > 0 ? data[0] : 0;
    for (const std::string& key : keys) {
        const uint32_t adjusted = third.adjustScore(key.c_str(), score);
        Check(adjusted <= score || (adjusted >= 1 && adjusted <= 100));
        score = score * 31 + 7;
    }
    third.addSpamAddrFrom("new@example.com", 1);
    Check(third.Records().size() <= keys.size() + 1);

    // Operations picked by the input's bytes on a few short addresses.
    const uint32_t capacity = size > 0 ? data[size - 1] % 8 : 1;
    AddressDatabase fourth(".", capacity);
    fourth.Load(saved);
    for (size_t i = 0; i + 1 < size && i < 512; i += 2) {
        const std::string key(1 + data[i] % 3, static_cast<char>('a' + data[i] / 3 % 5));
        const uint32_t n = data[i + 1] / 6 % 12;
        AddressDatabase::Entries expected = fourth.Records();
        switch (data[i + 1] % 6) {
            case 0:
                fourth.addSpamAddrTo(key.c_str(), n);
                continue;
            case 1:
                fourth.addSpamAddrScore(key.c_str(), n * 9);
                continue;
            case 2:
                fourth.deleteSpamAddrEntry(key.c_str());
                continue;
            case 3:
                fourth.adjustScore(key.c_str(), n * 10);
                continue;
            case 4: {
                const auto it = expected.find(key);
                if (it == expected.end() || it->second.fromCount != n) {
                    if (it != expected.end())
                        it->second.fromCount = n;
                    else
                        expected.emplace(key, AddressRecord{n, 0, {}});
                    PlainPrune(expected, fourth.TotalTo(), capacity);
                }
                fourth.setSpamAddrFrom(key.c_str(), n);
                break;
            }
            default: {
                const auto it = expected.find(key);
                if (it != expected.end()) {
                    it->second.fromCount += n;
                } else {
                    expected.emplace(key, AddressRecord{n, 0, {}});
                    PlainPrune(expected, fourth.TotalTo(), capacity);
                }
                fourth.addSpamAddrFrom(key.c_str(), n);
                break;
            }
        }
        Check(fourth.Records() == expected);
    }
    AddressDatabase::Entries expected = fourth.Records();
    PlainPrune(expected, fourth.TotalTo(), capacity);
    fourth.pruneEntries();
    Check(fourth.Records() == expected);
    return 0;
}
