#include "addrdb/AddressDatabase.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace qb::addrdb {

namespace {

// The adjusted score of a known address with a history: a weighted average in
// which the i-th oldest stored score has weight i and is discounted by 0.9,
// and the new score has weight n + 1 undiscounted. The running sum is
// truncated towards zero after each stored score. The sum is kept in a double
// holding whole numbers, so it is exact for every realistic history and never
// overflows for a history of any length read from a file; a negative average
// (negative scores in a hand-edited file) counts as 0.
uint64_t WeightedAverage(const std::vector<int32_t>& history, uint32_t score) {
    double acc = 0;
    int64_t weight = 1;
    for (const int32_t s : history) {
        acc = std::trunc(acc + 0.9 * static_cast<double>(weight * s));
        ++weight;
    }
    // weight is n + 1 now.
    acc += static_cast<double>(weight) * static_cast<double>(score);
    const uint64_t total = static_cast<uint64_t>(weight) * static_cast<uint64_t>(weight + 1) / 2;
    if (acc <= 0)
        return 0;
    if (acc < 9.0e18)
        return static_cast<uint64_t>(acc) / total;
    return static_cast<uint64_t>(std::min(acc / static_cast<double>(total), 9.0e18));
}

// The limits of an adjusted score: 0 becomes 1, above 100 becomes 99.
uint32_t Limit(uint64_t result) {
    if (result == 0)
        return 1;
    if (result > 100)
        return 99;
    return static_cast<uint32_t>(result);
}

}  // namespace

AddressDatabase::AddressDatabase(std::string_view folderText, uint32_t capacity)
    : folder(folderText.empty() ? std::string(".") : std::string(folderText)),
      maxEntries(capacity) {}

std::string AddressDatabase::normalizeAddress(const char* text) {
    std::string key;
    if (text) {
        for (const char* p = text; *p; ++p) {
            if (*p != ' ')
                key.push_back(*p);
        }
    }
    if (key.empty())
        key = "empty";
    return key;
}

std::string& AddressDatabase::KeyStore::Adopt(std::string text) {
    return texts_.emplace_back(std::move(text));
}

std::string_view AddressDatabase::KeyStore::Copy(std::string_view key) {
    constexpr size_t kBlock = 64 * 1024;
    char* to;
    if (key.size() > kBlock / 4) {
        blocks_.push_back(std::make_unique<char[]>(key.size()));
        to = blocks_.back().get();
    } else {
        if (left_ < key.size()) {
            blocks_.push_back(std::make_unique<char[]>(kBlock));
            next_ = blocks_.back().get();
            left_ = kBlock;
        }
        to = next_;
        next_ += key.size();
        left_ -= key.size();
    }
    std::memcpy(to, key.data(), key.size());
    return {to, key.size()};
}

AddressDatabase::Entries::iterator AddressDatabase::insertEntry(std::string_view key,
                                                                uint32_t fromCount,
                                                                uint32_t toCount) {
    auto it = entries.find(key);
    if (it != entries.end())
        it->second = AddressRecord{fromCount, toCount, {}};
    else
        it = entries.emplace(keys_.Copy(key), AddressRecord{fromCount, toCount, {}}).first;
    Reindex(it);
    return it;
}

void AddressDatabase::Erase(Entries::iterator it) {
    if (indexed_) {
        withoutHistory_.erase(it);
        unanswered_.erase(it);
    }
    entries.erase(it);
}

void AddressDatabase::Reindex(Entries::iterator it) {
    if (!indexed_)
        return;
    const AddressRecord& r = it->second;
    if (r.scoreHistory.empty())
        withoutHistory_.insert(it);
    else
        withoutHistory_.erase(it);
    if (r.fromCount == 0 && r.toCount < 10)
        unanswered_.insert(it);
    else
        unanswered_.erase(it);
}

void AddressDatabase::BuildIndex() {
    withoutHistory_.clear();
    unanswered_.clear();
    indexed_ = true;
    for (auto it = entries.begin(); it != entries.end(); ++it) {
        const AddressRecord& r = it->second;
        if (r.scoreHistory.empty())
            withoutHistory_.insert(withoutHistory_.end(), it);
        if (r.fromCount == 0 && r.toCount < 10)
            unanswered_.insert(unanswered_.end(), it);
    }
}

void AddressDatabase::pruneEntries() {
    if (entries.size() <= maxEntries)
        return;
    if (!indexed_)
        BuildIndex();
    // First pass: no history and a to-share below 2 per cent. With a to-total
    // of 0 the share is undefined and no record qualifies.
    if (totalTo != 0) {
        for (auto c = withoutHistory_.begin();
             c != withoutHistory_.end() && entries.size() > maxEntries;) {
            const auto it = *c;
            const double share =
                static_cast<double>(it->second.toCount) / static_cast<double>(totalTo);
            if (share < 0.02) {
                c = withoutHistory_.erase(c);
                unanswered_.erase(it);
                entries.erase(it);
            } else {
                ++c;
            }
        }
    }
    // Second pass: never received from and rarely written to; every
    // candidate qualifies.
    while (entries.size() > maxEntries && !unanswered_.empty()) {
        const auto it = *unanswered_.begin();
        unanswered_.erase(unanswered_.begin());
        withoutHistory_.erase(it);
        entries.erase(it);
    }
}

// Adds count to one counter of the address's record, creating the record
// (with that counter at count and the other at 0) when there is none.
// True when the record was created.
bool AddressDatabase::AddToCount(const char* address, uint32_t AddressRecord::*counter,
                                 uint32_t count) {
    const std::string key = normalizeAddress(address);
    auto it = entries.find(key);
    if (it == entries.end()) {
        const bool from = counter == &AddressRecord::fromCount;
        insertEntry(key, from ? count : 0, from ? 0 : count);
        return true;
    }
    it->second.*counter += count;
    Reindex(it);
    return false;
}

int32_t AddressDatabase::addSpamAddrTo(const char* address, uint32_t count) {
    AddToCount(address, &AddressRecord::toCount, count);
    totalTo += count;
    dirty = true;
    return 1;
}

int32_t AddressDatabase::addSpamAddrFrom(const char* address, uint32_t count) {
    if (AddToCount(address, &AddressRecord::fromCount, count))
        pruneEntries();
    totalFrom += count;
    dirty = true;
    return 1;
}

int32_t AddressDatabase::setSpamAddrFrom(const char* address, uint32_t count) {
    const std::string key = normalizeAddress(address);
    auto it = entries.find(key);
    if (it != entries.end()) {
        if (it->second.fromCount == count)
            return dirty ? 1 : 0;
        it->second.fromCount = count;
        Reindex(it);
    } else {
        insertEntry(key, count, 0);
    }
    pruneEntries();
    // The from-total grows by the new value itself, not by the difference.
    totalFrom += count;
    dirty = true;
    return 1;
}

void AddressDatabase::RecordScore(Entries::iterator it, uint32_t score) {
    if (score > 100)
        score = 100;
    AddressRecord& r = it->second;
    r.fromCount += 1;
    // A history read from a file may be longer than the limit; only one of
    // exactly the limit's length loses its oldest score here.
    if (r.scoreHistory.size() == historyLimit)
        r.scoreHistory.erase(r.scoreHistory.begin());
    r.scoreHistory.push_back(static_cast<int32_t>(score));
    Reindex(it);
    totalFrom += 1;
    dirty = true;
}

int32_t AddressDatabase::addSpamAddrScore(const char* address, uint32_t score) {
    const std::string key = normalizeAddress(address);
    auto it = entries.find(key);
    if (it == entries.end())
        it = insertEntry(key, 0, 0);  // the score makes its from-count 1; no pruning
    RecordScore(it, score);
    return 1;
}

int32_t AddressDatabase::deleteSpamAddrEntry(const char* address) {
    const auto it = entries.find(normalizeAddress(address));
    if (it == entries.end())
        return 0;
    Erase(it);
    dirty = true;
    return 1;
}

uint32_t AddressDatabase::getSpamAddrFrom(const char* address) const {
    const auto it = entries.find(normalizeAddress(address));
    return it == entries.end() ? 0 : it->second.fromCount;
}

uint32_t AddressDatabase::getSpamAddrTo(const char* address) const {
    const auto it = entries.find(normalizeAddress(address));
    return it == entries.end() ? 0 : it->second.toCount;
}

uint32_t AddressDatabase::adjustScore(const char* address, uint32_t score) {
    const auto it = entries.find(normalizeAddress(address));
    if (it == entries.end())
        return Limit(score);
    const AddressRecord& r = it->second;

    // Frequent correspondent: more than 15 per cent of all to-counts. The
    // score shrinks by the address's share; nothing is recorded and the
    // limits do not apply. Products are taken in 64 bits so that large counts
    // do not wrap; an address holding every to-count (or more, in a
    // hand-edited file) gets 0.
    if (totalTo > 100 && static_cast<uint64_t>(r.toCount) * 100 / totalTo > 15) {
        if (r.toCount >= totalTo)
            return 0;
        return static_cast<uint32_t>(static_cast<uint64_t>(totalTo - r.toCount) * score / totalTo);
    }

    uint64_t result;
    if (r.scoreHistory.empty())
        result = score > 5 ? score - 5 : score;
    else
        result = WeightedAverage(r.scoreHistory, score);
    RecordScore(it, score);
    return Limit(result);
}

}  // namespace qb::addrdb
