// A list of record slots kept in key order, held in runs of at most kRunMax
// slots. Adding or removing one slot moves the slots of one run only, not
// those of the whole list, so that adding many new addresses to a large
// database stays close to linear; finding a place is a binary search over
// the runs' last slots, then one within the run.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace qb::addrdb {

class SlotRuns {
  public:
    static constexpr size_t kRunMax = 512;

    // A place in the list: a run and a place in it. The place after the last
    // slot is the end of the last run (or {0, 0} for an empty list).
    struct Place {
        size_t run = 0;
        size_t at = 0;
    };

    class Iterator {
      public:
        Iterator(const std::vector<std::vector<uint32_t>>* runs, size_t run, size_t at)
            : runs_(runs), run_(run), at_(at) {}
        uint32_t operator*() const { return (*runs_)[run_][at_]; }
        Iterator& operator++() {
            if (++at_ == (*runs_)[run_].size()) {
                ++run_;
                at_ = 0;
            }
            return *this;
        }
        bool operator==(const Iterator& o) const { return run_ == o.run_ && at_ == o.at_; }

      private:
        const std::vector<std::vector<uint32_t>>* runs_;
        size_t run_, at_;
    };

    size_t size() const { return size_; }
    bool empty() const { return size_ == 0; }
    Iterator begin() const { return {&runs_, 0, 0}; }
    Iterator end() const { return {&runs_, runs_.size(), 0}; }
    uint32_t back() const { return runs_.back().back(); }

    // The first place whose slot is not before key, where before(slot, key)
    // is the list's order; the end when every slot is before key.
    template <typename Key, typename Before>
    Place LowerBound(const Key& key, Before before) const {
        const auto run = std::partition_point(runs_.begin(), runs_.end(),
                                              [&](const Run& r) { return before(r.back(), key); });
        if (run == runs_.end())
            return End();
        const auto at = std::lower_bound(run->begin(), run->end(), key, before);
        return {static_cast<size_t>(run - runs_.begin()), static_cast<size_t>(at - run->begin())};
    }

    // True when place holds a slot (is not the end).
    bool Holds(Place p) const { return p.run < runs_.size() && p.at < runs_[p.run].size(); }
    uint32_t operator[](Place p) const { return runs_[p.run][p.at]; }

    // Makes room for one Insert, which then needs no memory: a change that
    // must not fail half-way calls this before it changes anything.
    void Reserve() {
        if (runs_.size() == runs_.capacity())
            runs_.reserve(std::max<size_t>(4, runs_.size() * 2));
        if (spare_.capacity() < kRunMax)
            spare_.reserve(kRunMax);
    }

    // Puts slot at place p (from LowerBound); throws only before any change.
    void Insert(Place p, uint32_t slot) {
        Reserve();
        if (runs_.empty()) {
            runs_.push_back(std::move(spare_));
            spare_ = Run();
            p = {0, 0};
        }
        if (runs_[p.run].size() == kRunMax) {
            // A full run splits in two halves; the upper half becomes the
            // next run.
            Run& full = runs_[p.run];
            spare_.assign(full.begin() + kRunMax / 2, full.end());
            full.resize(kRunMax / 2);
            runs_.insert(runs_.begin() + static_cast<std::ptrdiff_t>(p.run + 1), std::move(spare_));
            spare_ = Run();
            if (p.at > kRunMax / 2) {
                ++p.run;
                p.at -= kRunMax / 2;
            }
        }
        Run& run = runs_[p.run];
        run.insert(run.begin() + static_cast<std::ptrdiff_t>(p.at), slot);
        ++size_;
    }

    // Takes out the slot at place p (which must hold one); needs no memory.
    void Erase(Place p) {
        Run& run = runs_[p.run];
        run.erase(run.begin() + static_cast<std::ptrdiff_t>(p.at));
        if (run.empty())
            runs_.erase(runs_.begin() + static_cast<std::ptrdiff_t>(p.run));
        --size_;
    }

    // Adds slot after the last one (which it must not be before).
    void PushBack(uint32_t slot) {
        if (runs_.empty() || runs_.back().size() == kRunMax) {
            Run run;
            run.reserve(kRunMax);
            runs_.push_back(std::move(run));
        }
        runs_.back().push_back(slot);
        ++size_;
    }

    // The list becomes the slots of all, which are in order; runs are filled
    // to half, so that the first additions do not split them at once.
    void Assign(const std::vector<uint32_t>& all) {
        std::vector<Run> runs;
        runs.reserve(all.size() / (kRunMax / 2) + 1);
        for (size_t i = 0; i < all.size(); i += kRunMax / 2) {
            Run run;
            run.reserve(kRunMax);
            run.assign(
                all.begin() + static_cast<std::ptrdiff_t>(i),
                all.begin() + static_cast<std::ptrdiff_t>(std::min(all.size(), i + kRunMax / 2)));
            runs.push_back(std::move(run));
        }
        runs_.swap(runs);
        size_ = all.size();
    }

    // Takes out every slot for which gone(slot) holds; needs no memory.
    template <typename Gone>
    void RemoveIf(Gone gone) {
        size_ = 0;
        for (Run& run : runs_) {
            run.erase(std::remove_if(run.begin(), run.end(), gone), run.end());
            size_ += run.size();
        }
        runs_.erase(
            std::remove_if(runs_.begin(), runs_.end(), [](const Run& r) { return r.empty(); }),
            runs_.end());
    }

    void Clear() {
        runs_.clear();
        size_ = 0;
    }

    // Gives back all memory.
    void Release() {
        std::vector<Run>().swap(runs_);
        Run().swap(spare_);
        size_ = 0;
    }

  private:
    using Run = std::vector<uint32_t>;

    Place End() const {
        return runs_.empty() ? Place{} : Place{runs_.size() - 1, runs_.back().size()};
    }

    std::vector<Run> runs_;  // none empty; each with room for kRunMax slots
    Run spare_;              // room for the next split
    size_t size_ = 0;
};

}  // namespace qb::addrdb
