// An ordered collection whose elements may carry a text key, addressed by a
// 1-based position or by key. Keys are unique and compared without regard to
// case. It raises its own errors, which the record collections (CEmails,
// CFolders) pass on from Add and translate for Remove and item.
#pragma once

#include <cstddef>
#include <cstdint>
#include <iterator>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <variant>
#include <vector>

#include "common/RunError.h"
#include "common/Text.h"

namespace qb::oe {

namespace collection_err {
constexpr int32_t kDuplicateKey =
    457;  // "This key is already associated with an element of this collection"
constexpr char kSource[] = "Collection";

inline RunError InvalidArgument() {
    return RunError(err::kInvalidCall, kSource, "Invalid procedure call or argument");
}
// The 0-based index of 1-based position p among count elements, or raises.
inline size_t PositionIndex(int32_t p, int32_t count) {
    if (p < 1 || p > count)
        throw RunError(err::kSubscript, kSource, "Subscript out of range");
    return static_cast<size_t>(p - 1);
}
}  // namespace collection_err

// A position (1-based) or a key: how an element is named.
class CollectionIndex {
  public:
    CollectionIndex(int32_t position) : value_(position) {}
    CollectionIndex(std::string key) : value_(std::move(key)) {}
    CollectionIndex(const char* key) : value_(std::string(key)) {}

    bool IsPosition() const { return std::holds_alternative<int32_t>(value_); }
    int32_t Position() const { return std::get<int32_t>(value_); }
    const std::string& Key() const { return std::get<std::string>(value_); }

  private:
    std::variant<int32_t, std::string> value_;
};

template <class T>
class Collection {
  public:
    using Pointer = std::shared_ptr<T>;

  private:
    struct Entry {
        std::string key;  // folded to lower case; empty for an element without key
        Pointer item;
    };

  public:
    // Inserts item; with a non-empty key the element carries it. Before wins
    // over After; with neither the element goes to the end. Raises (and
    // leaves the collection unchanged) on a duplicate key or when Before or
    // After names no element.
    void Add(Pointer item, const std::string& key = {},
             const std::optional<CollectionIndex>& before = std::nullopt,
             const std::optional<CollectionIndex>& after = std::nullopt) {
        std::string folded = text::Lower(key);
        size_t at = entries_.size();
        if (before)
            at = Find(*before);
        else if (after)
            at = Find(*after) + 1;
        if (!folded.empty()) {
            if (!byKey_.try_emplace(folded, item).second)
                throw RunError(collection_err::kDuplicateKey, collection_err::kSource,
                               "This key is already associated with an element of this "
                               "collection");
            try {
                entries_.insert(entries_.begin() + static_cast<std::ptrdiff_t>(at),
                                Entry{std::move(folded), std::move(item)});
            } catch (...) {
                byKey_.erase(text::Lower(key));
                throw;
            }
            return;
        }
        entries_.insert(entries_.begin() + static_cast<std::ptrdiff_t>(at),
                        Entry{std::string(), std::move(item)});
    }

    void Remove(const CollectionIndex& index) {
        const size_t at = Find(index);
        if (!entries_[at].key.empty())
            byKey_.erase(entries_[at].key);
        entries_.erase(entries_.begin() + static_cast<std::ptrdiff_t>(at));
    }

    const Pointer& item(const CollectionIndex& index) const {
        if (!index.IsPosition()) {
            auto it = byKey_.find(text::Lower(index.Key()));
            if (it == byKey_.end())
                throw collection_err::InvalidArgument();
            return it->second;
        }
        return entries_[Find(index)].item;
    }

    int32_t Count() const { return static_cast<int32_t>(entries_.size()); }

    void Clear() {
        std::vector<Entry>().swap(entries_);
        std::unordered_map<std::string, Pointer>().swap(byKey_);
    }

    // Room for n elements without reallocation (a hint for bulk loading).
    void Reserve(size_t n) {
        entries_.reserve(n);
        byKey_.reserve(n);
    }

    // Walks the elements in collection order. The collection must not change
    // during the walk; NewEnum of the record collections gives a snapshot.
    class const_iterator {
      public:
        using iterator_category = std::forward_iterator_tag;
        using value_type = Pointer;
        using difference_type = std::ptrdiff_t;
        using pointer = const Pointer*;
        using reference = const Pointer&;
        using Base = typename std::vector<Entry>::const_iterator;
        explicit const_iterator(Base it) : it_(it) {}
        const Pointer& operator*() const { return it_->item; }
        const_iterator& operator++() {
            ++it_;
            return *this;
        }
        bool operator==(const const_iterator& o) const { return it_ == o.it_; }
        bool operator!=(const const_iterator& o) const { return it_ != o.it_; }

      private:
        Base it_;
    };
    const_iterator begin() const { return const_iterator(entries_.begin()); }
    const_iterator end() const { return const_iterator(entries_.end()); }

  private:
    // The 0-based index of the element named, or raises.
    size_t Find(const CollectionIndex& index) const {
        if (index.IsPosition())
            return collection_err::PositionIndex(index.Position(), Count());
        const std::string folded = text::Lower(index.Key());
        if (!folded.empty() && byKey_.count(folded)) {
            for (size_t i = 0; i < entries_.size(); ++i) {
                if (entries_[i].key == folded)
                    return i;
            }
        }
        throw collection_err::InvalidArgument();
    }

    std::vector<Entry> entries_;
    std::unordered_map<std::string, Pointer> byKey_;
};

// The record collections: the inner collection's errors from Remove and item
// become error 0x80040200 "Collection key or index is invalid" with the
// collection's own source; Add passes the inner error on unchanged.
template <class T>
class RecordCollection {
  public:
    using Pointer = std::shared_ptr<T>;

    void Add(Pointer rItem, const std::string& rsKey = {},
             const std::optional<CollectionIndex>& Before = std::nullopt,
             const std::optional<CollectionIndex>& After = std::nullopt) {
        inner_.Add(std::move(rItem), rsKey, Before, After);
    }
    void Remove(const CollectionIndex& rvKey) {
        try {
            inner_.Remove(rvKey);
        } catch (const RunError&) {
            throw Invalid();
        }
    }
    Pointer item(const CollectionIndex& rvKey) const {
        try {
            return inner_.item(rvKey);
        } catch (const RunError&) {
            throw Invalid();
        }
    }
    int32_t Count() const { return inner_.Count(); }
    void Clear() { inner_.Clear(); }
    // A snapshot of the elements in collection order; safe to walk while the
    // collection changes.
    std::vector<Pointer> NewEnum() const { return std::vector<Pointer>(begin(), end()); }
    typename Collection<T>::const_iterator begin() const { return inner_.begin(); }
    typename Collection<T>::const_iterator end() const { return inner_.end(); }
    void Reserve(size_t n) { inner_.Reserve(n); }

  protected:
    explicit RecordCollection(const char* removeSource) : source_(removeSource) {}

  private:
    RunError Invalid() const {
        return RunError(err::kCollection, source_, "Collection key or index is invalid");
    }

    Collection<T> inner_;
    const char* source_;
};

}  // namespace qb::oe
