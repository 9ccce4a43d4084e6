// The ordered, keyed collection of message records that CDbx exposes as
// EMails. The reader keys each message "M_" followed by its Id.
//
// A store holds hundreds of thousands of messages, so the reader's messages
// are kept compactly: one fixed-size entry per message and their texts, each
// ended by a NUL, one after the other in a few large blocks. A CEmail object
// is made only when a caller takes a message out (item, NewEnum), and then
// stays the one object of that message, shared like any record added with
// Add. Walking the collection (begin/end) yields light views whose getters
// build each text when it is asked for.
//
// Keys are unique and compared without regard to case; errors are those of
// the record collections (Collection.h): Add passes the inner collection's
// error on, Remove and item raise "Collection key or index is invalid" with
// the source "CEmails::Remove()".
#pragma once

#include <cstddef>
#include <cstdint>
#include <iterator>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "scanner/oe/CEmail.h"
#include "scanner/oe/Collection.h"

namespace qb::oe {

// What the reader found in one message record. The texts point into the
// reader's copy of the record and are copied when the message is stored.
struct MailFields {
    enum Text {
        kOrigSubject,
        kMessageID,
        kSubject,
        kParentMessageID,
        kFetchServer,
        kSenderName,
        kSenderEMail,
        kRecipientName,
        kRecipientEMail,
        kAccountName,
        kAccountNumber,
        kTextCount
    };
    int32_t id = 0;
    int32_t flag = 0;
    int32_t dataOffset = 0;
    std::optional<uint64_t> date;  // FILETIME ticks
    std::string_view text[kTextCount];
    std::optional<std::string_view> body;  // when the file was opened with bodies

    // Back to a fresh MailFields member by member: assigning a new one zeroes
    // and copies the whole object, once per record the reader reads.
    void Clear() {
        id = flag = dataOffset = 0;
        date.reset();
        for (std::string_view& t : text)
            t = {};
        body.reset();
    }
};

class CEmails;

// One message as a walk over the collection shows it: the getters of
// CEmail, read from the stored message (or from the message's object once
// one exists) at each call.
class EMailView {
  public:
    const EMailView* operator->() const { return this; }

    int32_t Id() const;
    std::string MailDate() const;
    // The stored date (100-nanosecond ticks since 1601-01-01) from which
    // MailDate makes its text, for a message of the reader's that has a date
    // and no record object yet; none otherwise (MailDate then tells).
    std::optional<uint64_t> StoredMailDate() const;
    int32_t DataOffset() const;
    int32_t ItemType() const;
    std::string Subject() const;
    int32_t Flag() const;
    std::string MessageID() const;
    std::string OrigSubject() const;
    std::string ParentMessageID() const;
    std::string FetchServer() const;
    std::string SenderName() const;
    std::string SenderEMail() const;
    std::string RecipientName() const;
    std::string RecipientEMail() const;
    std::string accountname() const;
    std::string AccountNumber() const;
    std::string Body() const;
    // SenderEMail and RecipientEMail as views, without making a string: of
    // the stored text, or of the message object's text, valid while the
    // collection lives and that text is not changed.
    std::string_view SenderEMailView() const;
    std::string_view RecipientEMailView() const;

    // The message's record object, made now when it has none yet; the same
    // object item gives for this message.
    std::shared_ptr<CEmail> Record() const;
    friend bool operator==(const EMailView& view, const std::shared_ptr<CEmail>& record) {
        return view.Record() == record;
    }

  private:
    friend class CEmails;
    EMailView(const CEmails& owner, uint32_t ref) : owner_(&owner), ref_(ref) {}
    // The message's object when it has one, else nullptr.
    const CEmail* Object() const;
    std::string Text(MailFields::Text k) const;

    const CEmails* owner_;
    uint32_t ref_;
};

class CEmails {
  public:
    using Pointer = std::shared_ptr<CEmail>;

    CEmails();
    ~CEmails();
    CEmails(const CEmails&) = delete;
    CEmails& operator=(const CEmails&) = delete;

    // As the record collections' Add: before wins over after; with neither
    // the element goes to the end.
    void Add(Pointer rItem, const std::string& rsKey = {},
             const std::optional<CollectionIndex>& Before = std::nullopt,
             const std::optional<CollectionIndex>& After = std::nullopt);
    void Remove(const CollectionIndex& rvKey);
    Pointer item(const CollectionIndex& rvKey) const;
    int32_t Count() const { return static_cast<int32_t>(entries_.size()); }
    void Clear();
    // A snapshot of the elements in collection order; safe to walk while the
    // collection changes.
    std::vector<Pointer> NewEnum() const;
    // Room for n elements without reallocation (a hint for bulk loading).
    void Reserve(size_t n);

    // The reader's add: the message at the end under the key "M_<id>", kept
    // compactly. Raises as Add does when the key is taken, and then leaves
    // the collection unchanged.
    void AddFields(const MailFields& m);

    // Walks the elements in collection order; the collection must not change
    // during the walk (NewEnum gives a snapshot).
    class const_iterator {
      public:
        using iterator_category = std::forward_iterator_tag;
        using value_type = EMailView;
        using difference_type = std::ptrdiff_t;
        using pointer = void;
        using reference = EMailView;
        const_iterator(const CEmails& owner, size_t at) : owner_(&owner), at_(at) {}
        EMailView operator*() const { return EMailView(*owner_, owner_->entries_[at_]); }
        const_iterator& operator++() {
            ++at_;
            return *this;
        }
        bool operator==(const const_iterator& o) const { return at_ == o.at_; }
        bool operator!=(const const_iterator& o) const { return at_ != o.at_; }

      private:
        const CEmails* owner_;
        size_t at_;
    };
    const_iterator begin() const { return const_iterator(*this, 0); }
    const_iterator end() const { return const_iterator(*this, entries_.size()); }

  private:
    friend class EMailView;

    // A message of the reader's. Its texts lie at text: those present (bit k
    // of present for text k) one after the other, each ended by a NUL (a
    // record's text never holds one), then the body when there is one, as a
    // 4-byte length and its bytes.
    struct Stored {
        const char* text;
        uint64_t date;
        int32_t id;
        int32_t flag;
        int32_t dataOffset;
        uint16_t present;
    };
    static constexpr uint16_t kHasDate = 1u << 14;
    static constexpr uint16_t kHasBody = 1u << 15;

    // An element names its record by a ref: a stored message's index, or
    // kAdded plus the index of a record added with Add.
    static constexpr uint32_t kAdded = 0x80000000u;
    static constexpr uint32_t kNone = 0xFFFFFFFFu;
    struct AddedRecord {
        Pointer item;
        std::string key;  // folded; empty for an element without key
    };

    // Keys of the form "m_<number>" (every key the reader gives) mapped to
    // refs in one flat open-addressing table, without a node per key.
    class NumberIndex {
      public:
        uint32_t Find(uint32_t number) const;
        bool Insert(uint32_t number, uint32_t ref);  // false when present
        void Erase(uint32_t number);
        void Reserve(size_t n);
        void Clear();

      private:
        struct Slot {
            uint32_t number;
            uint32_t ref;  // kNone: free
        };
        size_t Home(uint32_t number) const;
        void Grow(size_t capacity);

        std::vector<Slot> slots_;
        size_t used_ = 0;
    };

    // The number of a folded key "m_<digits>" written as the reader writes
    // it (no sign, no leading zero); nothing for any other key.
    static std::optional<uint32_t> KeyNumber(const std::string& folded);
    uint32_t FindKey(const std::string& folded) const;  // kNone when absent
    bool InsertKey(const std::string& folded, uint32_t ref);
    void EraseKey(const std::string& folded);
    // The folded key an element carries ("" for none).
    std::string KeyOf(uint32_t ref) const;

    // The 0-based index of the element named; raises the inner collection's
    // error when there is none.
    size_t Find(const CollectionIndex& index) const;
    size_t Place(const std::optional<CollectionIndex>& before,
                 const std::optional<CollectionIndex>& after) const;
    // The element's object, made from its stored message the first time.
    const Pointer& Object(uint32_t ref) const;
    // Text k of a stored message; the body after the texts.
    std::string_view StoredText(const Stored& s, MailFields::Text k) const;
    std::string_view StoredBody(const Stored& s) const;
    char* Allocate(size_t n);
    RunError Invalid() const;

    std::vector<uint32_t> entries_;
    std::vector<Stored> stored_;
    std::vector<AddedRecord> added_;
    NumberIndex byNumber_;
    std::unordered_map<std::string, uint32_t> byKey_;
    // Objects made for stored messages taken out, by stored index.
    mutable std::unordered_map<uint32_t, Pointer> taken_;
    // The texts: blocks of kBlock bytes (or one text's size when larger).
    std::vector<std::unique_ptr<char[]>> blocks_;
    char* free_ = nullptr;
    size_t room_ = 0;
};

}  // namespace qb::oe
