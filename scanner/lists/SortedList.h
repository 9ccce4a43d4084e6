// SortedList: the keyed collection under every list of the scanner. Records
// of a text key and a value, handed out in ascending key order; keys compare
// as numbers (SortMode 0) or as text without regard to case (any other mode).
//
// The list is lazy: Add appends and marks the list unsorted; the first
// operation that needs order sorts everything pending at once (randomized
// quicksort, selection sort for ranges of at most 15 slots). When the records
// appended since the last sort are no more than those already sorted, only
// they are sorted and then merged into the sorted part, so alternating
// lookups and additions cost a merge each rather than a whole sort. Remove
// marks a record deleted and leaves it in place; a lookup that lands on a
// deleted record compacts the array.
//
// V is the value type. Values are stored as copies; a shared reference
// (std::shared_ptr) stays shared with the caller. item() of an absent key
// gives an empty optional, which no stored value equals.
#pragma once

#include <algorithm>
#include <cstdint>
#include <iterator>
#include <optional>
#include <random>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

#include "common/RunError.h"
#include "common/Text.h"
#include "scanner/lists/NumericKey.h"

namespace qb::lists {

inline constexpr const char* kKeyInvalidText =
    "Key Invalid: Text keys are invalid when SortMode is Numeric";
inline constexpr const char* kSortModeFailureText =
    "SortMode Failure: You cannot change the SortMode unless the list is empty.";

// The "number 0" a removed record's value becomes and GetTop delivers for an
// empty list: V(0) when V can be made from a number, else V's empty value.
template <typename V>
V ZeroValue() {
    if constexpr (std::is_constructible_v<V, int>)
        return V(0);
    else
        return V{};
}

template <typename V>
class SortedList {
  public:
    SortedList() = default;

    // Number of live records.
    int32_t Count() const { return live_; }

    int32_t SortMode() const { return sortMode_; }
    // Refused with 0x80040003 while the list holds live records.
    void SetSortMode(int32_t mode) {
        if (live_ != 0)
            throw RunError(err::kSortModeFailure, "SortedList", kSortModeFailureText);
        sortMode_ = mode;
    }

    // Appends a record; duplicates are kept as records of their own. In
    // numeric mode a key that is not numeric raises 0x80040001 and adds nothing.
    void Add(std::string_view key, V value) {
        double number = 0;
        if (sortMode_ == 0)
            number = RequireNumber(key);
        if (used_ >= capacity_)
            Resize();
        Slot& s = slots_[used_];
        s.key.assign(key.data(), key.size());
        s.number = number;
        s.value = std::move(value);
        s.deleted = false;
        ++live_;
        ++used_;
    }

    // Replaces the value of a record with an equal key; a miss changes nothing.
    void SetItem(std::string_view key, V value) {
        const int i = Lookup(key);
        if (i != 0)
            slots_[i - 1].value = std::move(value);
    }

    // Removes one record with an equal key; a miss changes nothing.
    void Remove(std::string_view key) {
        const int i = Lookup(key);
        if (i != 0)
            MarkDeleted(slots_[i - 1]);
    }

    // Removes the first live record in key order; an empty list stays so.
    void RemoveTop() {
        SortIfNeeded();
        for (int i = 0; i < used_; ++i) {
            if (!slots_[i].deleted) {
                MarkDeleted(slots_[i]);
                return;
            }
        }
    }

    // Whether a record with an equal key is present. In numeric mode a key
    // that is not numeric raises 0x80040001.
    bool Exists(std::string_view key) {
        if (sortMode_ == 0)
            return Lookup(key, RequireNumber(key)) != 0;
        return Lookup(key) != 0;
    }

    // The value of a record with an equal key; empty when there is none.
    std::optional<V> item(std::string_view key) {
        const int i = Lookup(key);
        if (i == 0)
            return std::nullopt;
        return slots_[i - 1].value;
    }

    // The value of the first live record in key order; ZeroValue when empty.
    void GetTop(V& topBuffer) {
        SortIfNeeded();
        for (int i = 0; i < used_; ++i) {
            if (!slots_[i].deleted) {
                topBuffer = slots_[i].value;
                return;
            }
        }
        topBuffer = ZeroValue<V>();
    }

    // The values of the live records in key order (element 0 is the first).
    std::vector<V> Items() {
        return CollectLive<V>([](const Slot& s) -> const V& { return s.value; });
    }

    // The keys of the live records in key order, as they were added.
    std::vector<std::string> keys() {
        return CollectLive<std::string>([](const Slot& s) -> const std::string& { return s.key; });
    }

    // Calls f(key) for the key of every live record in key order, without
    // copying any key.
    template <typename F>
    void ForEachKey(F&& f) {
        if (live_ == 0)
            return;
        SortIfNeeded();
        for (int i = 0; i < used_; ++i) {
            if (!slots_[i].deleted)
                f(std::string_view(slots_[i].key));
        }
    }

    // Releases every record; the sort mode stays.
    void Clear() {
        std::vector<Slot>().swap(slots_);
        live_ = used_ = sorted_ = tailSorted_ = capacity_ = shrinkMark_ = 0;
    }

    // Has no observable effect.
    void Display() const {}

    // Inspection for tests and tools: the slot array's upper bound and the
    // live count below which a compaction shrinks it.
    int32_t Capacity() const { return capacity_; }
    int32_t ShrinkMark() const { return shrinkMark_; }
    int32_t UsedSlots() const { return used_; }

  private:
    struct Slot {
        std::string key;
        double number = 0;  // the key as a number, numeric mode only
        V value{};
        bool deleted = false;
    };

    // field(slot) of every live slot in key order; an empty list is not sorted.
    template <typename T, typename F>
    std::vector<T> CollectLive(F&& field) {
        std::vector<T> out;
        if (live_ == 0)
            return out;
        SortIfNeeded();
        out.reserve(live_);
        for (int i = 0; i < used_; ++i) {
            if (!slots_[i].deleted)
                out.push_back(field(slots_[i]));
        }
        return out;
    }

    double RequireNumber(std::string_view key) const {
        std::optional<double> n = ParseNumericKey(key);
        if (!n)
            throw RunError(err::kKeyInvalid, "SortedList", kKeyInvalidText);
        return *n;
    }

    static int Sign(double a, double b) { return a > b ? 1 : (a < b ? -1 : 0); }
    int Compare(const Slot& a, const Slot& b) const {
        if (sortMode_ == 0)
            return Sign(a.number, b.number);
        return text::CompareNoCase(a.key, b.key);
    }

    void MarkDeleted(Slot& s) {
        s.value = ZeroValue<V>();
        s.deleted = true;
        --live_;
    }

    // Grows (or, from Compact, shrinks) the slot array to used + a tenth of
    // the live count, at least 10 slots.
    void Resize() {
        int inc = TenthHalfEven(live_);
        if (inc < 10)
            inc = 10;
        shrinkMark_ = live_ - inc;
        capacity_ = used_ + inc;
        slots_.resize(static_cast<size_t>(capacity_));
        if (static_cast<int>(slots_.capacity()) > 2 * capacity_ + 64)
            slots_.shrink_to_fit();
    }

    void Compact() {
        int to = 0, sortedTo = 0, tailSortedTo = 0;
        for (int from = 0; from < used_; ++from) {
            if (slots_[from].deleted)
                continue;
            if (to != from)
                slots_[to] = std::move(slots_[from]);
            ++to;
            if (from < sorted_)
                sortedTo = to;
            if (from < tailSorted_)
                tailSortedTo = to;
        }
        sorted_ = sortedTo;
        tailSorted_ = std::max(sortedTo, tailSortedTo);
        for (int i = to; i < used_; ++i) {
            slots_[i].key.clear();
            slots_[i].value = V{};
            slots_[i].deleted = true;
        }
        used_ = live_;
        if (live_ < shrinkMark_)
            Resize();
    }

    // Slot number (1-based) of a live record with an equal key, or 0.
    int Lookup(std::string_view key) {
        double probe = 0;
        if (sortMode_ == 0 && used_ != 0) {
            // The comparison converts the key; a text that is no number fails there.
            std::optional<double> n = ParseNumericKey(key);
            if (!n)
                throw TypeMismatchError("SortedList");
            probe = *n;
        }
        return Lookup(key, probe);
    }

    // The same with the key already converted (numeric mode; else unused).
    // Records added since the last sort (the tail) are not merged into the
    // sorted part until they grow past TailLimit: a scan that looks each key
    // up before adding it then shifts the list in batches instead of per
    // record. The tail itself is kept as a sorted run with the newest few
    // records after it, searched one by one; past kFreshLimit they are
    // sorted and merged into the run. So a lookup costs two binary searches
    // and a few comparisons, however long the tail.
    int Lookup(std::string_view key, double probe) {
        if (used_ - sorted_ > TailLimit())
            SortIfNeeded();
        else if (used_ - tailSorted_ > kFreshLimit)
            SortFresh();
        for (;;) {
            if (used_ == 0)
                return 0;
            int hit = Search(key, probe, 0, sorted_);
            if (hit == 0)
                hit = Search(key, probe, sorted_, tailSorted_);
            for (int i = tailSorted_; hit == 0 && i < used_; ++i) {
                if (CompareProbe(key, probe, slots_[i]) == 0)
                    hit = i + 1;
            }
            if (hit == 0 || !slots_[hit - 1].deleted)
                return hit;
            Compact();
        }
    }

    // Slot number (1-based) of a record with an equal key among the sorted
    // slots from..to - 1, or 0.
    int Search(std::string_view key, double probe, int from, int to) const {
        int lo = from + 1, hi = to;
        while (lo <= hi) {
            const int mid = from + MidpointHalfEven(lo - from, hi - from);
            const int c = CompareProbe(key, probe, slots_[mid - 1]);
            if (c == 0)
                return mid;
            if (c > 0)
                lo = mid + 1;
            else
                hi = mid - 1;
        }
        return 0;
    }

    int CompareProbe(std::string_view key, double probe, const Slot& s) const {
        return sortMode_ == 0 ? Sign(probe, s.number) : text::CompareNoCase(key, s.key);
    }

    // The longest tail kept apart from the sorted part: about four times the
    // square root of the slots in use, at least 128, which balances the
    // merges of the newest records into the tail against those of the tail
    // into the list.
    int TailLimit() const {
        int limit = 32;
        while (limit < used_ / limit)
            limit *= 2;
        return 4 * limit;
    }

    // The newest records a lookup compares one by one.
    static constexpr int kFreshLimit = 16;

    // Sorts the newest records and merges them into the tail's sorted run.
    void SortFresh() {
        SortRange(tailSorted_, used_ - 1);
        MergeTail(sorted_, tailSorted_);
        tailSorted_ = used_;
    }

    void SortIfNeeded() {
        if (sorted_ < used_)
            Sort();
    }

    // Sorts slots 0..used - 1. Records appended since the last sort (the
    // tail) are sorted on their own and merged in when they are no more than
    // the sorted records; otherwise the whole list is sorted again.
    void Sort() {
        const int tail = used_ - sorted_;
        if (tail > sorted_) {
            SortRange(0, used_ - 1);
        } else {
            if (tailSorted_ < used_)
                SortFresh();
            MergeTail(0, sorted_);
        }
        sorted_ = tailSorted_ = used_;
    }

    // Merges the sorted records from..used - 1 into the sorted slots
    // first..from - 1 before them, from the back: each record, largest
    // first, goes after the records whose keys are not greater than its own,
    // and only the records above its place move up.
    void MergeTail(int first, int from) {
        std::vector<Slot> tail(std::make_move_iterator(slots_.begin() + from),
                               std::make_move_iterator(slots_.begin() + used_));
        int end = from;    // sorted records first..end - 1 are not placed yet
        int dest = used_;  // slots dest..used - 1 are final
        for (int t = static_cast<int>(tail.size()) - 1; t >= 0; --t) {
            int lo = first, hi = end;  // first slot whose key is greater than tail[t]'s
            while (lo < hi) {
                const int mid = lo + (hi - lo) / 2;
                if (Compare(slots_[mid], tail[t]) > 0)
                    hi = mid;
                else
                    lo = mid + 1;
            }
            std::move_backward(slots_.begin() + lo, slots_.begin() + end, slots_.begin() + dest);
            dest -= end - lo;
            end = lo;
            slots_[--dest] = std::move(tail[t]);
        }
    }

    // Sorts slots lo..hi (0-based, inclusive). Recurses into the smaller part
    // and loops over the larger one, so the stack stays shallow whatever the keys.
    void SortRange(int lo, int hi) {
        while (hi > lo) {
            if (hi - lo < 15) {
                SelectionSort(lo, hi);
                return;
            }
            int split = Partition(lo, hi);
            int rightLo = split + 1;
            if (split == lo) {
                // Nothing was smaller than the pivot: it is the range's least
                // key. Gather the keys equal to it beside it so that long runs
                // of equal keys cost one pass instead of one pass per key.
                const Slot& pivot = slots_[split];
                for (int t = rightLo; t <= hi; ++t) {
                    if (Compare(slots_[t], pivot) == 0) {
                        if (t != rightLo)
                            std::swap(slots_[t], slots_[rightLo]);
                        ++rightLo;
                    }
                }
            }
            if (split - 1 - lo < hi - rightLo) {
                SortRange(lo, split - 1);
                lo = rightLo;
            } else {
                SortRange(rightLo, hi);
                hi = split - 1;
            }
        }
    }

    void SelectionSort(int lo, int hi) {
        for (int i = lo; i < hi; ++i) {
            int least = i;
            for (int k = i + 1; k <= hi; ++k) {
                if (Compare(slots_[k], slots_[least]) < 0)
                    least = k;
            }
            if (least != i)
                std::swap(slots_[i], slots_[least]);
        }
    }

    // Partitions lo..hi around a random pivot moving records into a hole;
    // returns the pivot's final slot. Keys equal to the pivot end on its right.
    int Partition(int lo, int hi) {
        std::uniform_int_distribution<int> pick(lo, hi);
        const int p = pick(random_);
        Slot pivot = std::move(slots_[p]);
        if (p != lo)
            slots_[p] = std::move(slots_[lo]);
        int i = lo, j = hi;
        for (;;) {
            while (j > i && Compare(slots_[j], pivot) >= 0)
                --j;
            if (j <= i) {
                slots_[i] = std::move(pivot);
                return i;
            }
            slots_[i] = std::move(slots_[j]);
            ++i;
            while (i < j && Compare(slots_[i], pivot) < 0)
                ++i;
            if (i >= j) {
                slots_[j] = std::move(pivot);
                return j;
            }
            slots_[j] = std::move(slots_[i]);
        }
    }

    int32_t live_ = 0;
    int32_t used_ = 0;
    std::vector<Slot> slots_;
    int32_t capacity_ = 0;
    int32_t shrinkMark_ = 0;
    // Slots 0..sorted_ - 1 are in key order; the list needs a sort while
    // sorted_ < used_. Slots sorted_..tailSorted_ - 1 (the tail's sorted
    // run) are in key order too.
    int32_t sorted_ = 0;
    int32_t tailSorted_ = 0;
    int32_t sortMode_ = 0;
    // Never seeded from outside: pivot choices repeat from run to run.
    std::minstd_rand random_;
};

}  // namespace qb::lists
