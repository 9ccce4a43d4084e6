// The address database behind one quelladdr handle: per-address counts and
// score histories, the score adjustment, pruning to a capacity, and the
// database file quellboxaddr.bin. Internal to the library; callers see only
// the C exports of quelladdr.h.
#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "addrdb/SlotRuns.h"

namespace qb::addrdb {

// One address's counts and recent scores, as a value (the database itself
// keeps its records flat; see AddressDatabase).
struct AddressRecord {
    uint32_t fromCount = 0;             // messages received, plus one per recorded score
    uint32_t toCount = 0;               // messages sent to (or approved for) the address
    std::vector<int32_t> scoreHistory;  // oldest first

    bool operator==(const AddressRecord&) const = default;
};

class AddressDatabase {
  public:
    // Every record by key, in key order: keys compare byte-wise as unsigned
    // values, a prefix first (the standard string order), which is the file's
    // record order and pruning's visiting order.
    using Snapshot = std::map<std::string, AddressRecord, std::less<>>;

    static constexpr const char* kFileName = "quellboxaddr.bin";
    static constexpr uint32_t kHistoryLimit = 20;

    // An empty database for folder ("" means "."); nothing is read yet.
    AddressDatabase(std::string_view folder, uint32_t maxEntries);

    // The record key for a caller's address: spaces removed; null, empty or
    // all-space text gives "empty".
    static std::string normalizeAddress(const char* text);

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
    // file could be read. A file that exists but cannot be read (no right to
    // read it, held by another program, a read error, not a regular file)
    // leaves the database empty and marks the file as one this handle must
    // never replace. Never sets the changed flag, never prunes.
    bool initialize();
    // Writes the whole database to folder\quellboxaddr.bin through a temporary
    // file that is flushed to disk and renamed over the old one: true when the
    // new file is in place and on disk. False, with the old file untouched,
    // when any step fails or when the file could not be read at opening.
    bool serialize() const;

    // The file's text form. Loading takes the text in pieces of any size, in
    // order, into a database that holds nothing yet; FinishLoad ends it. Load
    // does both for a whole text.
    void Expect(uint64_t size);  // a hint: the text's size, before its pieces
    void LoadPiece(std::string_view piece);
    void FinishLoad();
    void Load(std::string_view text);
    // Hands out the file's text in pieces in order; false when put refused
    // one (and nothing more was handed out).
    bool Produce(const std::function<bool(std::string_view)>& put) const;
    std::string Text() const;

    // folder and the file name joined with exactly one backslash.
    std::string FilePath() const;

    size_t RecordCount() const { return order_.size(); }
    Snapshot Records() const;
    bool IsDirty() const { return dirty; }
    // Whether the file holds what this handle holds: its last save succeeded
    // and nothing changed since (not even a pruning).
    bool FileCurrent() const { return fileCurrent_; }
    uint32_t TotalTo() const { return totalTo; }
    uint32_t TotalFrom() const { return totalFrom; }

  private:
    // One record. Its key bytes lie in keys_, its scores in scores_, each
    // history in a run of `scoreRoom` places of which the first `scoreCount`
    // are used; a history that outgrows its run moves to the end of scores_.
    // Slots are numbered by their place in slots_ and never move; order_
    // lists the live ones in key order.
    struct Slot {
        uint32_t keyAt = 0, keyLen = 0;
        uint32_t fromCount = 0, toCount = 0;
        uint32_t scoreAt = 0, scoreCount = 0, scoreRoom = 0;
        uint32_t dead = 0;  // removed; the slot waits in free_ for reuse
    };

    // Where the loader stands in the text: the kind of line it is in, and
    // within a number or record token, how far that has got.
    struct Parse {
        enum Line : uint8_t { kLineStart, kSkip, kHeader, kHeaderNumbers, kKey, kTokens };
        enum Token : uint8_t { kBlank, kSign, kDigits, kTail };
        Line line = kLineStart;
        Token token = kBlank;
        bool headerRead = false;
        bool negative = false;
        bool sawValue = false;          // a token character after the key: the line is a record
        bool blankBeforeSpace = false;  // held-back blanks: a tab or CR before any space
        bool unsorted = false;          // a key arrived below the one before it
        uint32_t value = 0;
        uint32_t firstNumber = 0;
        int headerNumber = 0;
        size_t heldSpaces = 0;  // spaces held back: they count only if more follows
        size_t tokenIndex = 0;
        Slot record;
    };

    std::string_view Key(const Slot& s) const { return {keys_.data() + s.keyAt, s.keyLen}; }
    std::string_view Key(uint32_t slot) const { return Key(slots_[slot]); }
    bool KeyBefore(uint32_t a, uint32_t b) const { return Key(a) < Key(b); }
    // The place in order_ of key's record, or where it would go.
    SlotRuns::Place Find(std::string_view key, bool& found) const;
    // key's record, or none (UINT32_MAX).
    uint32_t Lookup(std::string_view key) const;
    // key's record, or none (UINT32_MAX) and then the place in order_ where
    // it would go.
    uint32_t Locate(std::string_view key, SlotRuns::Place& at) const;
    // The same by the key order alone.
    uint32_t InOrder(std::string_view key, SlotRuns::Place& at) const;

    // Lookups by hash: a table of slot + 1 (0: free) with the key's hash,
    // open addressing with linear probing, at most half full. The kept hash
    // spares a probe past another key the reading of that key, and a table
    // that grows the reading of every key. It is made once lookups have become
    // many for the database's size (a handle opened for one change never
    // pays for it), then kept up to date by every change; until then, and
    // if memory for it cannot be had, lookups search the key order.
    static uint32_t HashOf(std::string_view key);
    bool TableReady() const;
    struct TableEntry {
        uint32_t slot1 = 0;
        uint32_t hash = 0;
    };
    uint32_t TableFind(std::string_view key) const;
    static size_t TableSize(size_t records);
    void TableFill() const;
    void TableEnter(TableEntry e) const;
    void TableRoom();
    void TableRemove(uint32_t slot);
    // Stores a fresh record (no history) under key at order_ place `at`.
    uint32_t InsertAt(SlotRuns::Place at, std::string_view key, uint32_t fromCount,
                      uint32_t toCount);
    void AppendScore(Slot& s, int32_t score);
    uint32_t NewSlot();
    static uint32_t Offset(size_t size);

    // Makes room for `size` elements ahead of a change that must not fail
    // half-way, growing by half again at least, so that growing one by one
    // stays linear.
    template <typename T>
    static void RoomFor(std::vector<T>& v, size_t size) {
        if (v.capacity() < size)
            v.reserve(std::max(size, v.capacity() + v.capacity() / 2));
    }

    void RecordScore(uint32_t slot, uint32_t score);
    bool AddToCount(const char* address, uint32_t Slot::*counter, uint32_t count);
    // Room for the candidate lists to take in one slot each, before a change
    // that Reindex then follows.
    void RoomToReindex();
    // Brings the candidate counts, and the candidate lists once they exist,
    // in line with a change of slot's record; was is Kinds of the record
    // before the change (0 for a new one).
    void Reindex(uint32_t slot, uint8_t was);
    // Which pruning candidates a record is: kHistoryless (first pass, bar the
    // to-share) and kUnanswered (second pass).
    static constexpr uint8_t kHistoryless = 1, kUnanswered = 2;
    static uint8_t Kinds(const Slot& r) {
        return static_cast<uint8_t>((r.scoreCount == 0 ? kHistoryless : 0) |
                                    (r.fromCount == 0 && r.toCount < 10 ? kUnanswered : 0));
    }
    void Tally(uint8_t kinds, int sign);
    // Whether a pruning pass could remove any record at all.
    bool AnyCandidate() const;
    // The counts of candidates afresh from the records (after a load).
    void CountCandidates();
    void BuildIndex();
    void DropDead(const std::vector<uint32_t>& dead);

    void LoadLine(const char* begin, const char* end);
    // Folds the loaded key of r: the letters A to Z, never a trail byte.
    void FoldKey(const Slot& r);
    // Fills lead with the lead bytes of the process's code page; whether it
    // is a double-byte one.
    static bool ProcessLeadBytes(std::array<bool, 256>& lead);
    void EndLine();
    void EndToken();
    void StoreLoaded();

    std::string folder;
    std::string fileName = kFileName;
    bool dirty = false;
    mutable bool fileCurrent_ = false;
    void Changed() {
        dirty = true;
        fileCurrent_ = false;
    }
    uint32_t historyLimit = kHistoryLimit;
    uint32_t maxEntries;
    uint32_t totalTo = 0;
    uint32_t totalFrom = 0;
    bool keepFile_ = false;  // the file exists but could not be read
    // The lead bytes of the process's code page, found when the database is
    // made; doubleByte_ when there is any.
    std::array<bool, 256> lead_{};
    bool doubleByte_;

    std::string keys_;
    std::vector<int32_t> scores_;
    std::vector<Slot> slots_;
    SlotRuns order_;
    std::vector<uint32_t> loaded_;  // the slots of the lines loaded so far, in file order
    std::vector<uint32_t> free_;
    Parse parse_;
    mutable std::vector<TableEntry> table_;
    mutable size_t lookups_ = 0;  // lookups by key order while there is no table

    // The records each pruning pass can remove, in key order, so a pruning
    // after every add does not walk every record. Built the first time pruning
    // has work to do, then kept up to date by every change.
    bool indexed_ = false;
    SlotRuns withoutHistory_;  // first pass: history empty
    SlotRuns unanswered_;      // second pass: from-count 0 and to-count under 10
    // How many live records are of each kind, kept from the start, so that a
    // database over its capacity with nothing to prune (every record
    // received from and with history, or every one without history but
    // without a to-total) learns so without the lists.
    size_t historylessCount_ = 0;
    size_t unansweredCount_ = 0;
};

}  // namespace qb::addrdb
