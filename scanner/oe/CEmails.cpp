#include "scanner/oe/CEmails.h"

#include <bit>
#include <cstring>

#include "common/Text.h"

namespace qb::oe {

namespace {

constexpr size_t kBlock = size_t{1} << 20;

}  // namespace

// --- the number index -------------------------------------------------------

// Neighbouring numbers get neighbouring slots (a store numbers its messages
// in order, and the reader meets them in order), so filling the table walks
// memory instead of jumping about; the higher bits folded in keep numbers
// that differ only there (multiples of a power of two) apart.
size_t CEmails::NumberIndex::Home(uint32_t number) const {
    return static_cast<size_t>(number ^ (number >> 10) ^ (number >> 20)) & (slots_.size() - 1);
}

uint32_t CEmails::NumberIndex::Find(uint32_t number) const {
    if (slots_.empty())
        return kNone;
    for (size_t i = Home(number);; i = (i + 1) & (slots_.size() - 1)) {
        const Slot& s = slots_[i];
        if (s.ref == kNone)
            return kNone;
        if (s.number == number)
            return s.ref;
    }
}

bool CEmails::NumberIndex::Insert(uint32_t number, uint32_t ref) {
    if (2 * (used_ + 1) > slots_.size())
        Grow(slots_.empty() ? 16 : 2 * slots_.size());
    for (size_t i = Home(number);; i = (i + 1) & (slots_.size() - 1)) {
        Slot& s = slots_[i];
        if (s.ref == kNone) {
            s = {number, ref};
            ++used_;
            return true;
        }
        if (s.number == number)
            return false;
    }
}

// Linear probing with backward shifting: no tombstones, so lookups stay
// short however many keys come and go.
void CEmails::NumberIndex::Erase(uint32_t number) {
    if (slots_.empty())
        return;
    const size_t mask = slots_.size() - 1;
    size_t i = Home(number);
    while (slots_[i].ref != kNone && slots_[i].number != number)
        i = (i + 1) & mask;
    if (slots_[i].ref == kNone)
        return;
    for (size_t j = (i + 1) & mask; slots_[j].ref != kNone; j = (j + 1) & mask) {
        const size_t home = Home(slots_[j].number);
        // Slot j may move to the gap at i when its home does not lie in (i, j].
        if (((j - home) & mask) >= ((j - i) & mask)) {
            slots_[i] = slots_[j];
            i = j;
        }
    }
    slots_[i].ref = kNone;
    --used_;
}

void CEmails::NumberIndex::Reserve(size_t n) {
    size_t capacity = 16;
    while (capacity < 2 * n)
        capacity *= 2;
    if (capacity > slots_.size())
        Grow(capacity);
}

void CEmails::NumberIndex::Grow(size_t capacity) {
    std::vector<Slot> old(capacity, Slot{0, kNone});
    old.swap(slots_);
    used_ = 0;
    for (const Slot& s : old) {
        if (s.ref != kNone)
            Insert(s.number, s.ref);
    }
}

void CEmails::NumberIndex::Clear() {
    std::vector<Slot>().swap(slots_);
    used_ = 0;
}

// --- keys -------------------------------------------------------------------

std::optional<uint32_t> CEmails::KeyNumber(const std::string& folded) {
    if (folded.size() < 3 || folded.size() > 12 || folded[0] != 'm' || folded[1] != '_')
        return std::nullopt;
    if (folded[2] == '0' && folded.size() > 3)
        return std::nullopt;
    uint64_t n = 0;
    for (size_t i = 2; i < folded.size(); ++i) {
        if (folded[i] < '0' || folded[i] > '9')
            return std::nullopt;
        n = n * 10 + static_cast<uint64_t>(folded[i] - '0');
    }
    if (n > 0xFFFFFFFFu)
        return std::nullopt;
    return static_cast<uint32_t>(n);
}

uint32_t CEmails::FindKey(const std::string& folded) const {
    if (const auto number = KeyNumber(folded))
        return byNumber_.Find(*number);
    auto it = byKey_.find(folded);
    return it == byKey_.end() ? kNone : it->second;
}

bool CEmails::InsertKey(const std::string& folded, uint32_t ref) {
    if (const auto number = KeyNumber(folded))
        return byNumber_.Insert(*number, ref);
    return byKey_.try_emplace(folded, ref).second;
}

void CEmails::EraseKey(const std::string& folded) {
    if (const auto number = KeyNumber(folded))
        byNumber_.Erase(*number);
    else
        byKey_.erase(folded);
}

std::string CEmails::KeyOf(uint32_t ref) const {
    if (ref & kAdded)
        return added_[ref & ~kAdded].key;
    return "m_" + std::to_string(stored_[ref].id);
}

// --- the collection ---------------------------------------------------------

CEmails::CEmails() = default;
CEmails::~CEmails() = default;

RunError CEmails::Invalid() const {
    return RunError(err::kCollection, "CEmails::Remove()", "Collection key or index is invalid");
}

size_t CEmails::Find(const CollectionIndex& index) const {
    if (index.IsPosition())
        return collection_err::PositionIndex(index.Position(), Count());
    const std::string folded = text::Lower(index.Key());
    const uint32_t ref = folded.empty() ? kNone : FindKey(folded);
    if (ref != kNone) {
        for (size_t i = 0; i < entries_.size(); ++i) {
            if (entries_[i] == ref)
                return i;
        }
    }
    throw collection_err::InvalidArgument();
}

size_t CEmails::Place(const std::optional<CollectionIndex>& before,
                      const std::optional<CollectionIndex>& after) const {
    if (before)
        return Find(*before);
    if (after)
        return Find(*after) + 1;
    return entries_.size();
}

void CEmails::Add(Pointer rItem, const std::string& rsKey,
                  const std::optional<CollectionIndex>& Before,
                  const std::optional<CollectionIndex>& After) {
    std::string folded = text::Lower(rsKey);
    const size_t at = Place(Before, After);
    const uint32_t ref = kAdded | static_cast<uint32_t>(added_.size());
    if (!folded.empty() && !InsertKey(folded, ref))
        throw RunError(collection_err::kDuplicateKey, collection_err::kSource,
                       "This key is already associated with an element of this collection");
    try {
        added_.push_back({std::move(rItem), folded});
        entries_.insert(entries_.begin() + static_cast<std::ptrdiff_t>(at), ref);
    } catch (...) {
        if (added_.size() > (ref & ~kAdded))
            added_.pop_back();
        if (!folded.empty())
            EraseKey(folded);
        throw;
    }
}

void CEmails::AddFields(const MailFields& m) {
    const uint32_t ref = static_cast<uint32_t>(stored_.size());
    // The key "m_<id>": an Id read from a record is never negative, and a
    // key of that form goes to the number index.
    const std::string key = m.id < 0 ? "m_" + std::to_string(m.id) : std::string();
    const bool inserted =
        m.id < 0 ? InsertKey(key, ref) : byNumber_.Insert(static_cast<uint32_t>(m.id), ref);
    if (!inserted)
        throw RunError(collection_err::kDuplicateKey, collection_err::kSource,
                       "This key is already associated with an element of this collection");
    try {
        Stored s{};
        s.id = m.id;
        s.flag = m.flag;
        s.dataOffset = m.dataOffset;
        if (m.date) {
            s.date = *m.date;
            s.present |= kHasDate;
        }
        size_t size = 0;
        uint16_t texts = 0;
        for (int k = 0; k < MailFields::kTextCount; ++k) {
            if (!m.text[k].empty()) {
                size += m.text[k].size() + 1;
                texts |= static_cast<uint16_t>(1u << k);
            }
        }
        if (m.body && !m.body->empty())
            size += 4 + m.body->size();
        char* p = size > 0 ? Allocate(size) : nullptr;
        s.text = p;
        s.present |= texts;
        // The texts present only, lowest bit first (text order).
        for (unsigned rest = texts; rest != 0; rest &= rest - 1) {
            const std::string_view t = m.text[std::countr_zero(rest)];
            std::memcpy(p, t.data(), t.size());
            p[t.size()] = '\0';
            p += t.size() + 1;
        }
        if (m.body && !m.body->empty()) {
            s.present |= kHasBody;
            const uint32_t n = static_cast<uint32_t>(m.body->size());
            std::memcpy(p, &n, 4);
            std::memcpy(p + 4, m.body->data(), n);
        }
        stored_.push_back(s);
        entries_.push_back(ref);
    } catch (...) {
        if (stored_.size() > ref)
            stored_.pop_back();
        if (m.id < 0)
            EraseKey(key);
        else
            byNumber_.Erase(static_cast<uint32_t>(m.id));
        throw;
    }
}

void CEmails::Remove(const CollectionIndex& rvKey) {
    size_t at;
    try {
        at = Find(rvKey);
    } catch (const RunError&) {
        throw Invalid();
    }
    const uint32_t ref = entries_[at];
    const std::string key = KeyOf(ref);
    if (!key.empty())
        EraseKey(key);
    entries_.erase(entries_.begin() + static_cast<std::ptrdiff_t>(at));
    // The collection lets go of the record; a caller holding it keeps it.
    if (ref & kAdded)
        added_[ref & ~kAdded] = AddedRecord{};
    else
        taken_.erase(ref);
}

CEmails::Pointer CEmails::item(const CollectionIndex& rvKey) const {
    if (!rvKey.IsPosition()) {
        const std::string folded = text::Lower(rvKey.Key());
        const uint32_t ref = folded.empty() ? kNone : FindKey(folded);
        if (ref == kNone)
            throw Invalid();
        return Object(ref);
    }
    const int32_t p = rvKey.Position();
    if (p < 1 || p > Count())
        throw Invalid();
    return Object(entries_[static_cast<size_t>(p - 1)]);
}

void CEmails::Clear() {
    std::vector<uint32_t>().swap(entries_);
    std::vector<Stored>().swap(stored_);
    std::vector<AddedRecord>().swap(added_);
    byNumber_.Clear();
    std::unordered_map<std::string, uint32_t>().swap(byKey_);
    std::unordered_map<uint32_t, Pointer>().swap(taken_);
    std::vector<std::unique_ptr<char[]>>().swap(blocks_);
    free_ = nullptr;
    room_ = 0;
}

std::vector<CEmails::Pointer> CEmails::NewEnum() const {
    std::vector<Pointer> out;
    out.reserve(entries_.size());
    for (uint32_t ref : entries_)
        out.push_back(Object(ref));
    return out;
}

void CEmails::Reserve(size_t n) {
    entries_.reserve(n);
    stored_.reserve(n);
    byNumber_.Reserve(n);
}

char* CEmails::Allocate(size_t n) {
    if (n > room_) {
        const size_t size = n > kBlock ? n : kBlock;
        blocks_.push_back(std::unique_ptr<char[]>(new char[size]));
        free_ = blocks_.back().get();
        room_ = size;
    }
    char* p = free_;
    free_ += n;
    room_ -= n;
    return p;
}

std::string_view CEmails::StoredText(const Stored& s, MailFields::Text k) const {
    if (!(s.present & (1u << k)))
        return {};
    const char* p = s.text;
    for (unsigned before = s.present & ((1u << k) - 1); before != 0; before &= before - 1)
        p += std::strlen(p) + 1;
    return std::string_view(p);
}

std::string_view CEmails::StoredBody(const Stored& s) const {
    if (!(s.present & kHasBody))
        return {};
    const char* p = s.text;
    for (int j = 0; j < MailFields::kTextCount; ++j) {
        if (s.present & (1u << j))
            p += std::strlen(p) + 1;
    }
    uint32_t n;
    std::memcpy(&n, p, 4);
    return std::string_view(p + 4, n);
}

const CEmails::Pointer& CEmails::Object(uint32_t ref) const {
    if (ref & kAdded)
        return added_[ref & ~kAdded].item;
    auto it = taken_.find(ref);
    if (it != taken_.end())
        return it->second;
    const Stored& s = stored_[ref];
    auto m = std::make_shared<CEmail>();
    m->SetId(s.id);
    m->SetFlag(s.flag);
    m->SetDataOffset(s.dataOffset);
    if (s.present & kHasDate)
        m->SetMailDate(MailDateText(s.date));
    using T = MailFields;
    auto text = [&](T::Text k) { return std::string(StoredText(s, k)); };
    m->SetOrigSubject(text(T::kOrigSubject));
    m->SetMessageID(text(T::kMessageID));
    m->SetSubject(text(T::kSubject));
    m->SetParentMessageID(text(T::kParentMessageID));
    m->SetFetchServer(text(T::kFetchServer));
    m->SetSenderName(text(T::kSenderName));
    m->SetSenderEMail(text(T::kSenderEMail));
    m->SetRecipientName(text(T::kRecipientName));
    m->SetRecipientEMail(text(T::kRecipientEMail));
    m->Setaccountname(text(T::kAccountName));
    m->SetAccountNumber(text(T::kAccountNumber));
    m->SetBody(std::string(StoredBody(s)));
    return taken_.emplace(ref, std::move(m)).first->second;
}

// --- the view ---------------------------------------------------------------

const CEmail* EMailView::Object() const {
    if (ref_ & CEmails::kAdded)
        return owner_->added_[ref_ & ~CEmails::kAdded].item.get();
    if (owner_->taken_.empty())
        return nullptr;
    auto it = owner_->taken_.find(ref_);
    return it == owner_->taken_.end() ? nullptr : it->second.get();
}

std::shared_ptr<CEmail> EMailView::Record() const {
    return owner_->Object(ref_);
}

std::string EMailView::Text(MailFields::Text k) const {
    return std::string(owner_->StoredText(owner_->stored_[ref_], k));
}

#define QB_EMAIL_VIEW_NUMBER(Getter, member) \
    int32_t EMailView::Getter() const {      \
        if (const CEmail* m = Object())      \
            return m->Getter();              \
        return owner_->stored_[ref_].member; \
    }
#define QB_EMAIL_VIEW_TEXT(Getter, field)   \
    std::string EMailView::Getter() const { \
        if (const CEmail* m = Object())     \
            return m->Getter();             \
        return Text(MailFields::field);     \
    }

QB_EMAIL_VIEW_NUMBER(Id, id)
QB_EMAIL_VIEW_NUMBER(Flag, flag)
QB_EMAIL_VIEW_NUMBER(DataOffset, dataOffset)
QB_EMAIL_VIEW_TEXT(Subject, kSubject)
QB_EMAIL_VIEW_TEXT(MessageID, kMessageID)
QB_EMAIL_VIEW_TEXT(OrigSubject, kOrigSubject)
QB_EMAIL_VIEW_TEXT(ParentMessageID, kParentMessageID)
QB_EMAIL_VIEW_TEXT(FetchServer, kFetchServer)
QB_EMAIL_VIEW_TEXT(SenderName, kSenderName)
QB_EMAIL_VIEW_TEXT(SenderEMail, kSenderEMail)
QB_EMAIL_VIEW_TEXT(RecipientName, kRecipientName)
QB_EMAIL_VIEW_TEXT(RecipientEMail, kRecipientEMail)
QB_EMAIL_VIEW_TEXT(accountname, kAccountName)
QB_EMAIL_VIEW_TEXT(AccountNumber, kAccountNumber)

#define QB_EMAIL_VIEW_TEXT_VIEW(Getter, field)                               \
    std::string_view EMailView::Getter##View() const {                       \
        if (const CEmail* m = Object())                                      \
            return m->Getter();                                              \
        return owner_->StoredText(owner_->stored_[ref_], MailFields::field); \
    }

QB_EMAIL_VIEW_TEXT_VIEW(SenderEMail, kSenderEMail)
QB_EMAIL_VIEW_TEXT_VIEW(RecipientEMail, kRecipientEMail)

#undef QB_EMAIL_VIEW_NUMBER
#undef QB_EMAIL_VIEW_TEXT
#undef QB_EMAIL_VIEW_TEXT_VIEW

int32_t EMailView::ItemType() const {
    if (const CEmail* m = Object())
        return m->ItemType();
    return 0;
}

std::string EMailView::MailDate() const {
    if (const CEmail* m = Object())
        return m->MailDate();
    const auto& s = owner_->stored_[ref_];
    return s.present & CEmails::kHasDate ? MailDateText(s.date) : std::string();
}

std::optional<uint64_t> EMailView::StoredMailDate() const {
    if ((ref_ & CEmails::kAdded) || Object())
        return std::nullopt;
    const auto& s = owner_->stored_[ref_];
    if (!(s.present & CEmails::kHasDate))
        return std::nullopt;
    return s.date;
}

std::string EMailView::Body() const {
    if (const CEmail* m = Object())
        return m->Body();
    return std::string(owner_->StoredBody(owner_->stored_[ref_]));
}

}  // namespace qb::oe
