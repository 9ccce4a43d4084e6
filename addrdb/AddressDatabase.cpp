#include "addrdb/AddressDatabase.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>
#include <stdexcept>

namespace qb::addrdb {

namespace {

// The adjusted score of a known address with a history: a weighted average in
// which the i-th oldest stored score has weight i and is discounted by 0.9,
// and the new score has weight n + 1 undiscounted. The running sum is
// truncated towards zero after each stored score. The sum is kept in a double
// holding whole numbers, so it is exact for every realistic history and never
// overflows for a history of any length read from a file; a negative average
// (negative scores in a hand-edited file) counts as 0.
uint64_t WeightedAverage(const int32_t* history, size_t n, uint32_t score) {
    double acc = 0;
    int64_t weight = 1;
    for (size_t i = 0; i < n; ++i) {
        acc = std::trunc(acc + 0.9 * static_cast<double>(weight * history[i]));
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
      maxEntries(capacity),
      doubleByte_(ProcessLeadBytes(lead_)) {}

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

namespace {

// The record key of a caller's address, as normalizeAddress gives it,
// without making a string where the text is its own key (not empty, no
// space): then the view is of the text itself, otherwise of `made`.
std::string_view KeyOf(const char* text, std::string& made) {
    if (text && *text && !std::strchr(text, ' '))
        return text;
    made = AddressDatabase::normalizeAddress(text);
    return made;
}

}  // namespace

uint32_t AddressDatabase::Offset(size_t size) {
    // Slots hold 32-bit places; a database beyond them (4 GB of keys or 16 GB
    // of scores) cannot be held, as when memory runs out.
    if (size > UINT32_MAX)
        throw std::length_error("address database too large");
    return static_cast<uint32_t>(size);
}

SlotRuns::Place AddressDatabase::Find(std::string_view key, bool& found) const {
    const SlotRuns::Place at =
        order_.LowerBound(key, [this](uint32_t slot, std::string_view k) { return Key(slot) < k; });
    found = order_.Holds(at) && Key(order_[at]) == key;
    return at;
}

uint32_t AddressDatabase::InOrder(std::string_view key, SlotRuns::Place& at) const {
    bool found;
    at = Find(key, found);
    return found ? order_[at] : UINT32_MAX;
}

uint32_t AddressDatabase::Lookup(std::string_view key) const {
    // The table holds every record: what it lacks is not there.
    if (TableReady())
        return TableFind(key);
    SlotRuns::Place at;
    return InOrder(key, at);
}

uint32_t AddressDatabase::Locate(std::string_view key, SlotRuns::Place& at) const {
    if (TableReady()) {
        const uint32_t slot = TableFind(key);
        if (slot != UINT32_MAX)
            return slot;
    }
    return InOrder(key, at);
}

// Eight bytes at a step (a byte at a time cost more than the rest of a
// lookup), each word mixed in by a multiplication, then the bits avalanched
// (MurmurHash3's finaliser) so that the low bits, which pick the place,
// depend on every byte. The table lives in memory only: the hash is no part
// of the file.
uint32_t AddressDatabase::HashOf(std::string_view key) {
    constexpr uint64_t kMultiplier = 0x9E3779B97F4A7C15ull;
    uint64_t h = key.size();
    size_t at = 0;
    for (; at + 8 <= key.size(); at += 8) {
        uint64_t word;
        std::memcpy(&word, key.data() + at, 8);
        h = (h ^ word) * kMultiplier;
        h ^= h >> 29;
    }
    uint64_t tail = 0;
    if (at < key.size())
        std::memcpy(&tail, key.data() + at, key.size() - at);
    h = (h ^ tail) * kMultiplier;
    h ^= h >> 33;
    h *= 0xFF51AFD7ED558CCDull;
    h ^= h >> 33;
    h *= 0xC4CEB9FE1A85EC53ull;
    h ^= h >> 33;
    return static_cast<uint32_t>(h);
}

bool AddressDatabase::TableReady() const {
    if (!table_.empty())
        return true;
    // Made after a lookup per 16 records (and a few more): by then the
    // lookups by key order have cost more than making the table does.
    if (++lookups_ < 64 + order_.size() / 16)
        return false;
    lookups_ = 0;
    try {
        std::vector<TableEntry>(TableSize(order_.size() + 1)).swap(table_);
        TableFill();
    } catch (const std::bad_alloc&) {
        std::vector<TableEntry>().swap(table_);
    }
    return !table_.empty();
}

uint32_t AddressDatabase::TableFind(std::string_view key) const {
    const uint32_t hash = HashOf(key);
    const size_t mask = table_.size() - 1;
    for (size_t i = hash & mask;; i = (i + 1) & mask) {
        const TableEntry e = table_[i];
        if (e.slot1 == 0)
            return UINT32_MAX;
        if (e.hash == hash && Key(e.slot1 - 1) == key)
            return e.slot1 - 1;
    }
}

// The table size for `records` records: a power of two at least twice as many.
size_t AddressDatabase::TableSize(size_t records) {
    size_t size = 64;
    while (size < 2 * records)
        size *= 2;
    return size;
}

// Enters every record of the key order into the (empty) table.
void AddressDatabase::TableFill() const {
    for (const uint32_t slot : order_)
        TableEnter({slot + 1, HashOf(Key(slot))});
}

void AddressDatabase::TableEnter(TableEntry e) const {
    const size_t mask = table_.size() - 1;
    size_t i = e.hash & mask;
    while (table_[i].slot1 != 0)
        i = (i + 1) & mask;
    table_[i] = e;
}

// Room in the table for one more record: a table twice the size, filled
// from the entries' kept hashes (no key is read again). A table that cannot
// grow is dropped (lookups search the key order again).
void AddressDatabase::TableRoom() {
    if (table_.empty() || 2 * (order_.size() + 1) <= table_.size())
        return;
    try {
        std::vector<TableEntry> old(TableSize(order_.size() + 1));
        old.swap(table_);
        for (const TableEntry& e : old) {
            if (e.slot1 != 0)
                TableEnter(e);
        }
    } catch (const std::bad_alloc&) {
        std::vector<TableEntry>().swap(table_);
    }
}

// Takes slot out of the table, moving back the entries after it that
// would otherwise no longer be found.
void AddressDatabase::TableRemove(uint32_t slot) {
    if (table_.empty())
        return;
    const size_t mask = table_.size() - 1;
    size_t i = HashOf(Key(slot)) & mask;
    while (table_[i].slot1 != slot + 1) {
        if (table_[i].slot1 == 0)
            return;
        i = (i + 1) & mask;
    }
    table_[i] = TableEntry{};
    for (size_t j = (i + 1) & mask; table_[j].slot1 != 0; j = (j + 1) & mask) {
        const size_t home = table_[j].hash & mask;
        // The entry at j stays unless the freed place i lies on its probe
        // path, from home to j.
        const bool onPath = i <= j ? (home <= i || home > j) : (home <= i && home > j);
        if (onPath) {
            table_[i] = table_[j];
            table_[j] = TableEntry{};
            i = j;
        }
    }
}

uint32_t AddressDatabase::NewSlot() {
    if (!free_.empty()) {
        const uint32_t slot = free_.back();
        free_.pop_back();
        slots_[slot] = Slot{};
        return slot;
    }
    slots_.emplace_back();
    return Offset(slots_.size() - 1);
}

uint32_t AddressDatabase::InsertAt(SlotRuns::Place at, std::string_view key, uint32_t fromCount,
                                   uint32_t toCount) {
    // Room first, so that nothing changes if memory runs out and nothing
    // after the change can fail.
    order_.Reserve();
    RoomToReindex();
    TableRoom();
    const uint32_t keyAt = Offset(keys_.size() + key.size()) - static_cast<uint32_t>(key.size());
    keys_.append(key);
    const uint32_t slot = NewSlot();
    Slot& s = slots_[slot];
    s.keyAt = keyAt;
    s.keyLen = static_cast<uint32_t>(key.size());
    s.fromCount = fromCount;
    s.toCount = toCount;
    order_.Insert(at, slot);
    if (!table_.empty())
        TableEnter({slot + 1, HashOf(key)});
    Reindex(slot, 0);
    return slot;
}

void AddressDatabase::AppendScore(Slot& s, int32_t score) {
    if (s.scoreCount == s.scoreRoom) {
        const size_t room = std::max<size_t>(4, size_t{s.scoreRoom} * 2);
        if (s.scoreAt + size_t{s.scoreRoom} == scores_.size()) {
            // The last run of scores grows where it is.
            scores_.resize(Offset(s.scoreAt + room));
        } else {
            const uint32_t at = Offset(scores_.size());
            scores_.resize(Offset(at + room));
            std::copy_n(scores_.begin() + s.scoreAt, s.scoreCount, scores_.begin() + at);
            s.scoreAt = at;
        }
        s.scoreRoom = static_cast<uint32_t>(room);
    }
    scores_[s.scoreAt + s.scoreCount] = score;
    ++s.scoreCount;
}

namespace {

// Puts slot into (or takes it out of) a list of slots kept in key order.
template <typename Less>
void SetMember(SlotRuns& list, uint32_t slot, bool member, Less less) {
    const SlotRuns::Place at = list.LowerBound(slot, less);
    const bool there = list.Holds(at) && list[at] == slot;
    if (member && !there)
        list.Insert(at, slot);
    else if (!member && there)
        list.Erase(at);
}

}  // namespace

void AddressDatabase::RoomToReindex() {
    if (!indexed_)
        return;
    withoutHistory_.Reserve();
    unanswered_.Reserve();
}

void AddressDatabase::Tally(uint8_t kinds, int sign) {
    if (kinds & kHistoryless)
        historylessCount_ += static_cast<size_t>(sign);
    if (kinds & kUnanswered)
        unansweredCount_ += static_cast<size_t>(sign);
}

bool AddressDatabase::AnyCandidate() const {
    // The first pass takes records without history only with a to-total.
    return unansweredCount_ != 0 || (totalTo != 0 && historylessCount_ != 0);
}

void AddressDatabase::CountCandidates() {
    historylessCount_ = unansweredCount_ = 0;
    for (const uint32_t slot : order_)
        Tally(Kinds(slots_[slot]), +1);
}

void AddressDatabase::Reindex(uint32_t slot, uint8_t was) {
    const uint8_t now = Kinds(slots_[slot]);
    if (now == was)
        return;
    Tally(was, -1);
    Tally(now, +1);
    if (!indexed_)
        return;
    const auto less = [this](uint32_t a, uint32_t b) { return KeyBefore(a, b); };
    if ((now ^ was) & kHistoryless)
        SetMember(withoutHistory_, slot, (now & kHistoryless) != 0, less);
    if ((now ^ was) & kUnanswered)
        SetMember(unanswered_, slot, (now & kUnanswered) != 0, less);
}

void AddressDatabase::BuildIndex() {
    withoutHistory_.Clear();
    unanswered_.Clear();
    for (const uint32_t slot : order_) {
        const Slot& r = slots_[slot];
        if (r.scoreCount == 0)
            withoutHistory_.PushBack(slot);
        if (r.fromCount == 0 && r.toCount < 10)
            unanswered_.PushBack(slot);
    }
    indexed_ = true;
}

// Takes the records marked dead out of the key order and the candidate
// lists, and offers their slots for reuse: a few one by one, many in one
// sweep of each list.
void AddressDatabase::DropDead(const std::vector<uint32_t>& dead) {
    if (dead.empty())
        return;
    RoomFor(free_, free_.size() + dead.size());  // nothing below can fail
    if (dead.size() <= 8) {
        const auto less = [this](uint32_t a, uint32_t b) { return KeyBefore(a, b); };
        for (const uint32_t slot : dead) {
            SetMember(order_, slot, false, less);
            SetMember(withoutHistory_, slot, false, less);
            SetMember(unanswered_, slot, false, less);
        }
    } else {
        const auto gone = [this](uint32_t slot) { return slots_[slot].dead != 0; };
        for (SlotRuns* list : {&order_, &withoutHistory_, &unanswered_})
            list->RemoveIf(gone);
    }
    if (dead.size() <= 8) {
        for (const uint32_t slot : dead)
            TableRemove(slot);
    } else if (!table_.empty()) {
        std::fill(table_.begin(), table_.end(), TableEntry{});
        TableFill();
    }
    for (const uint32_t slot : dead)
        Tally(Kinds(slots_[slot]), -1);
    fileCurrent_ = false;
    free_.insert(free_.end(), dead.begin(), dead.end());
}

void AddressDatabase::pruneEntries() {
    // A database over its capacity with no candidate stays as it is: then
    // every add finds that out in constant time.
    if (order_.size() <= maxEntries || !AnyCandidate())
        return;
    if (!indexed_)
        BuildIndex();
    size_t surplus = order_.size() - maxEntries;
    std::vector<uint32_t> dead;
    dead.reserve(surplus);  // marking cannot fail half-way
    // First pass: no history and a to-share below 2 per cent. With a to-total
    // of 0 the share is undefined and no record qualifies.
    if (totalTo != 0) {
        for (const uint32_t slot : withoutHistory_) {
            if (surplus == 0)
                break;
            Slot& r = slots_[slot];
            if (static_cast<double>(r.toCount) / static_cast<double>(totalTo) < 0.02) {
                dead.push_back(slot);
                r.dead = 1;
                --surplus;
            }
        }
    }
    // Second pass: never received from and rarely written to; every
    // candidate still there qualifies.
    for (const uint32_t slot : unanswered_) {
        if (surplus == 0)
            break;
        Slot& r = slots_[slot];
        if (!r.dead) {
            dead.push_back(slot);
            r.dead = 1;
            --surplus;
        }
    }
    DropDead(dead);
}

// Adds count to one counter of the address's record, creating the record
// (with that counter at count and the other at 0) when there is none.
// True when the record was created.
bool AddressDatabase::AddToCount(const char* address, uint32_t Slot::*counter, uint32_t count) {
    std::string made;
    const std::string_view key = KeyOf(address, made);
    SlotRuns::Place at;
    const uint32_t slot = Locate(key, at);
    if (slot == UINT32_MAX) {
        const bool from = counter == &Slot::fromCount;
        InsertAt(at, key, from ? count : 0, from ? 0 : count);
        return true;
    }
    RoomToReindex();
    Slot& r = slots_[slot];
    const uint8_t was = Kinds(r);
    r.*counter += count;
    Reindex(slot, was);
    return false;
}

int32_t AddressDatabase::addSpamAddrTo(const char* address, uint32_t count) {
    AddToCount(address, &Slot::toCount, count);
    totalTo += count;
    Changed();
    return 1;
}

int32_t AddressDatabase::addSpamAddrFrom(const char* address, uint32_t count) {
    if (AddToCount(address, &Slot::fromCount, count))
        pruneEntries();
    totalFrom += count;
    Changed();
    return 1;
}

int32_t AddressDatabase::setSpamAddrFrom(const char* address, uint32_t count) {
    std::string made;
    const std::string_view key = KeyOf(address, made);
    bool found;
    const SlotRuns::Place at = Find(key, found);
    if (found) {
        const uint32_t slot = order_[at];
        if (slots_[slot].fromCount == count)
            return dirty ? 1 : 0;
        RoomToReindex();
        const uint8_t was = Kinds(slots_[slot]);
        slots_[slot].fromCount = count;
        Reindex(slot, was);
    } else {
        InsertAt(at, key, count, 0);
    }
    pruneEntries();
    // The from-total grows by the new value itself, not by the difference.
    totalFrom += count;
    Changed();
    return 1;
}

void AddressDatabase::RecordScore(uint32_t slot, uint32_t score) {
    if (score > 100)
        score = 100;
    RoomToReindex();
    Slot& r = slots_[slot];
    const uint8_t was = Kinds(r);
    // A history read from a file may be longer than the limit; only one of
    // exactly the limit's length loses its oldest score here.
    if (r.scoreCount == historyLimit) {
        const auto run = scores_.begin() + r.scoreAt;
        std::copy(run + 1, run + r.scoreCount, run);
        --r.scoreCount;
    }
    AppendScore(r, static_cast<int32_t>(score));
    r.fromCount += 1;
    Reindex(slot, was);
    totalFrom += 1;
    Changed();
}

int32_t AddressDatabase::addSpamAddrScore(const char* address, uint32_t score) {
    std::string made;
    const std::string_view key = KeyOf(address, made);
    bool found;
    const SlotRuns::Place at = Find(key, found);
    // A new record gets its from-count 1 from the score; no pruning.
    const uint32_t slot = found ? order_[at] : InsertAt(at, key, 0, 0);
    RecordScore(slot, score);
    return 1;
}

int32_t AddressDatabase::deleteSpamAddrEntry(const char* address) {
    std::string made;
    bool found;
    const SlotRuns::Place at = Find(KeyOf(address, made), found);
    if (!found)
        return 0;
    const uint32_t slot = order_[at];
    RoomFor(free_, free_.size() + 1);
    if (indexed_) {
        const auto less = [this](uint32_t a, uint32_t b) { return KeyBefore(a, b); };
        SetMember(withoutHistory_, slot, false, less);
        SetMember(unanswered_, slot, false, less);
    }
    order_.Erase(at);
    TableRemove(slot);
    Tally(Kinds(slots_[slot]), -1);
    slots_[slot].dead = 1;
    free_.push_back(slot);
    Changed();
    return 1;
}

uint32_t AddressDatabase::getSpamAddrFrom(const char* address) const {
    std::string made;
    const uint32_t slot = Lookup(KeyOf(address, made));
    return slot == UINT32_MAX ? 0 : slots_[slot].fromCount;
}

uint32_t AddressDatabase::getSpamAddrTo(const char* address) const {
    std::string made;
    const uint32_t slot = Lookup(KeyOf(address, made));
    return slot == UINT32_MAX ? 0 : slots_[slot].toCount;
}

uint32_t AddressDatabase::adjustScore(const char* address, uint32_t score) {
    std::string made;
    const uint32_t slot = Lookup(KeyOf(address, made));
    if (slot == UINT32_MAX)
        return Limit(score);
    const Slot& r = slots_[slot];

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
    if (r.scoreCount == 0)
        result = score > 5 ? score - 5 : score;
    else
        result = WeightedAverage(&scores_[r.scoreAt], r.scoreCount, score);
    RecordScore(slot, score);
    return Limit(result);
}

AddressDatabase::Snapshot AddressDatabase::Records() const {
    Snapshot all;
    for (const uint32_t slot : order_) {
        const Slot& r = slots_[slot];
        const auto run = scores_.begin() + r.scoreAt;
        all.emplace_hint(all.end(), Key(r),
                         AddressRecord{r.fromCount, r.toCount, {run, run + r.scoreCount}});
    }
    return all;
}

}  // namespace qb::addrdb
