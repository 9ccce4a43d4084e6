// The address database behind one quelladdr handle: per-address counts and
// score histories, the score adjustment, pruning to a capacity, and the
// database file quellboxaddr.bin. Internal to the library; callers see only
// the C exports of quelladdr.h.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace qb::addrdb {

// One address's counts and recent scores. The address itself is the key the
// record is stored under in AddressDatabase::Entries.
struct AddressRecord {
    uint32_t fromCount = 0;  // messages received, plus one per recorded score
    uint32_t toCount = 0;    // messages sent to (or approved for) the address
    // Spam scores, oldest first. A vector, not a deque: it holds at most a
    // few dozen scores in practice, and an empty one costs no allocation.
    std::vector<int32_t> scoreHistory;

    bool operator==(const AddressRecord&) const = default;
};

class AddressDatabase {
  public:
    // Keys compare byte-wise as unsigned values, a prefix first (the standard
    // string order), which is the file's record order and pruning's visiting
    // order. The key bytes live in the database's KeyStore.
    using Entries = std::map<std::string_view, AddressRecord, std::less<>>;

    static constexpr const char* kFileName = "quellboxaddr.bin";
    static constexpr uint32_t kHistoryLimit = 20;

    // An empty database for folder ("" means "."); nothing is read yet.
    AddressDatabase(std::string_view folder, uint32_t maxEntries);

    // The record key for a caller's address: spaces removed; null, empty or
    // all-space text gives "empty".
    static std::string normalizeAddress(const char* text);

    // Stores a fresh record (no history) under key, replacing any there.
    Entries::iterator insertEntry(std::string_view key, uint32_t fromCount, uint32_t toCount);

    // Removes records until at most maxEntries remain, where the two passes
    // allow: first records without history and under 2% of the to-total, then
    // records with from-count 0 and to-count under 10, each pass in key order.
    void pruneEntries();

    // The operations behind the exports of the same names.
    int32_t addSpamAddrTo(const char* address, uint32_t count);
    int32_t addSpamAddrFrom(const char* address, uint32_t count);
    int32_t setSpamAddrFrom(const char* address, uint32_t count);
    int32_t addSpamAddrScore(const char* address, uint32_t score);
    int32_t deleteSpamAddrEntry(const char* address);
    uint32_t getSpamAddrFrom(const char* address) const;
    uint32_t getSpamAddrTo(const char* address) const;
    // The adjusted score of a message from address; records the raw score for
    // a known address unless it is a frequent correspondent.
    uint32_t adjustScore(const char* address, uint32_t score);

    // Reads folder\quellboxaddr.bin into the (empty) database: true when the
    // file could be read. Never sets the changed flag, never prunes.
    bool initialize();
    // Writes the whole database to folder\quellboxaddr.bin through a temporary
    // file and a rename: true when written; on false the old file is intact.
    bool serialize() const;

    // The file's text form: parse into the database (a line replaces any
    // record of its address; the text is kept for the keys' bytes), and
    // produce.
    void Load(std::string text);
    std::string Text() const;

    // folder and the file name joined with exactly one backslash.
    std::string FilePath() const;

    const Entries& Records() const { return entries; }
    bool IsDirty() const { return dirty; }
    uint32_t TotalTo() const { return totalTo; }
    uint32_t TotalFrom() const { return totalFrom; }

  private:
    // The bytes of every key, kept apart from the map so that loading does
    // not allocate per record and the keys of a loaded file lie in file order:
    // the loaded text itself (keys lower-cased in place) and blocks for keys
    // added later. Bytes of removed keys stay until the database goes.
    class KeyStore {
      public:
        std::string& Adopt(std::string text);
        std::string_view Copy(std::string_view key);

      private:
        std::deque<std::string> texts_;  // a deque never moves what it holds
        std::vector<std::unique_ptr<char[]>> blocks_;
        char* next_ = nullptr;
        size_t left_ = 0;
    };

    // Index of the records each pruning pass can remove, in key order, so a
    // pruning after every add does not walk the whole map. Built the first time
    // pruning has work to do, then kept up to date by every change.
    struct KeyOrder {
        bool operator()(Entries::iterator a, Entries::iterator b) const {
            return a->first < b->first;
        }
    };
    using Candidates = std::set<Entries::iterator, KeyOrder>;

    void RecordScore(Entries::iterator it, uint32_t score);
    bool AddToCount(const char* address, uint32_t AddressRecord::*counter, uint32_t count);
    void Reindex(Entries::iterator it);
    void BuildIndex();
    void Erase(Entries::iterator it);

    KeyStore keys_;
    std::string folder;
    std::string fileName = kFileName;
    bool dirty = false;
    Entries entries;
    uint32_t historyLimit = kHistoryLimit;
    uint32_t maxEntries;
    uint32_t totalTo = 0;
    uint32_t totalFrom = 0;

    bool indexed_ = false;
    Candidates withoutHistory_;  // first pass: history empty
    Candidates unanswered_;      // second pass: from-count 0 and to-count under 10
};

}  // namespace qb::addrdb
