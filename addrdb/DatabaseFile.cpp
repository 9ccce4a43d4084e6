// The database file quellboxaddr.bin: a header line "v1 <from-total>
// <to-total>" and one line per record "<address> <from> <to> <scores...>" in
// key order, each line ending in CR LF. The reader is tolerant: it skips blank
// and "#" lines, lower-cases every line, takes the first remaining line as the
// header whatever it holds, reads numbers as far as they go and lets a later
// line for the same address win.
#include <algorithm>
#include <charconv>
#include <cstring>
#include <memory>
#include <new>

#include "addrdb/AddressDatabase.h"
#include "addrdb/FileAccess.h"
#include "platform/codepage/LeadBytes.h"
#include "platform/replace/FileReplacement.h"

namespace qb::addrdb {

namespace {

bool IsCSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

bool IsDigit(char c) {
    return static_cast<unsigned char>(c - '0') < 10;
}

char LowerCase(char c) {
    return static_cast<char>(c + (static_cast<unsigned char>(c - 'A') < 26 ? 32 : 0));
}

// Reads the record token that starts at p as atoi reads it (white space
// other than a space, an optional sign, the digits up to the first other
// character, 0 when there are none; the value modulo 2^32, a minus sign
// negating it modulo 2^32) and returns where it ends: at the next space or at
// end.
const char* ReadToken(const char* p, const char* end, uint32_t& value) {
    while (p < end && *p != ' ' && IsCSpace(*p))
        ++p;
    bool negative = false;
    if (p < end && (*p == '+' || *p == '-')) {
        negative = *p == '-';
        ++p;
    }
    uint32_t v = 0;
    while (p < end && IsDigit(*p)) {
        v = v * 10 + static_cast<uint32_t>(*p - '0');
        ++p;
    }
    value = negative ? 0u - v : v;
    while (p < end && *p != ' ')
        ++p;
    return p;
}

bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

// Room one number takes: " 4294967295", " -2147483648".
constexpr size_t kNumberRoom = 12;

char* Put(char* p, std::string_view s) {
    std::memcpy(p, s.data(), s.size());
    return p + s.size();
}

char* PutLongNumber(char* p, int64_t value) {
    return std::to_chars(p, p + kNumberRoom - 1, value).ptr;
}

// A space and the number in decimal. Scores and most counts are below 100
// and take the short way.
inline char* PutNumber(char* p, int64_t value) {
    *p++ = ' ';
    if (value >= 0 && value < 100) {
        if (value >= 10)
            *p++ = static_cast<char>('0' + value / 10);
        *p++ = static_cast<char>('0' + value % 10);
        return p;
    }
    return PutLongNumber(p, value);
}

}  // namespace

bool AddressDatabase::ProcessLeadBytes(std::array<bool, 256>& lead) {
    platform::LeadBytes(platform::ProcessCodePage(), lead);
    return std::find(lead.begin(), lead.end(), true) != lead.end();
}

void AddressDatabase::FoldKey(const Slot& r) {
    char* const key = keys_.data() + r.keyAt;
    const size_t n = r.keyLen;  // a local: the stores below cannot change it
    if (!doubleByte_) {
        for (size_t i = 0; i < n; ++i)
            key[i] = LowerCase(key[i]);
        return;
    }
    for (size_t i = 0; i < n; ++i) {
        if (lead_[static_cast<unsigned char>(key[i])])
            ++i;  // the trail byte stays
        else
            key[i] = LowerCase(key[i]);
    }
}

// A whole record line (after the header) without its LF: trimmed of blanks
// at both ends, skipped when empty, a comment or an address alone; else the
// address (lower-cased) and the tokens after it, each ended by a single space
// (two spaces in a row hold an empty token, which reads as 0).
void AddressDatabase::LoadLine(const char* begin, const char* end) {
    while (begin < end && IsBlank(*begin))
        ++begin;
    while (end > begin && IsBlank(end[-1]))
        --end;
    if (begin == end || *begin == '#')
        return;
    const char* const space =
        static_cast<const char*>(std::memchr(begin, ' ', static_cast<size_t>(end - begin)));
    if (!space)
        return;
    Slot& r = parse_.record;
    r = Slot{};
    r.keyAt = Offset(keys_.size() + static_cast<size_t>(space - begin)) -
              static_cast<uint32_t>(space - begin);
    r.keyLen = static_cast<uint32_t>(space - begin);
    keys_.append(begin, space);
    FoldKey(r);
    r.scoreAt = Offset(scores_.size());
    const char* p = space + 1;
    for (size_t index = 0;; ++index) {
        // Most tokens are plain digits ended by a space or the line's end;
        // anything else takes the general rule.
        uint32_t value = 0;
        const char* q = p;
        while (q < end && IsDigit(*q)) {
            value = value * 10 + static_cast<uint32_t>(*q - '0');
            ++q;
        }
        p = q == p || (q < end && *q != ' ') ? ReadToken(p, end, value) : q;
        if (index == 0)
            r.fromCount = value;
        else if (index == 1)
            r.toCount = value;  // a line with one number keeps to-count 0
        else
            scores_.push_back(static_cast<int32_t>(value));
        if (p == end)
            break;
        ++p;  // the space that ends the token
    }
    StoreLoaded();
}

// Loading reads the text as it comes, piece by piece. A record line that lies
// whole in the piece is read at once (LoadLine). Any other line (the header,
// or a line that goes on into the next piece, however long) is read as it
// comes, keeping only where it stands (AddressDatabase::Parse), with the same
// rules: key bytes go straight into keys_ and tokens straight into the counts
// and scores_; blanks (space, tab, CR) are held back until something else
// follows them on the line, so that blanks at a line's end count for nothing,
// as trimming the line makes them.
void AddressDatabase::LoadPiece(std::string_view piece) {
    Parse& ps = parse_;
    const char* p = piece.data();
    const char* const end = p + piece.size();
    while (p < end) {
        if (ps.line == Parse::kLineStart && ps.headerRead) {
            const char* const eol =
                static_cast<const char*>(std::memchr(p, '\n', static_cast<size_t>(end - p)));
            if (eol) {
                LoadLine(p, eol);
                p = eol + 1;
                continue;
            }
        }
        const char c = *p;
        switch (ps.line) {
            case Parse::kLineStart:
                ++p;
                if (c == ' ' || c == '\t' || c == '\r' || c == '\n')
                    break;
                if (c == '#') {
                    ps.line = Parse::kSkip;
                } else if (!ps.headerRead) {
                    // The first line that is neither blank nor a comment is
                    // the header, whatever it holds.
                    ps.headerRead = true;
                    ps.line = Parse::kHeader;
                } else {
                    ps.record = Slot{};
                    ps.record.keyAt = Offset(keys_.size() + 1) - 1;
                    keys_.push_back(c);
                    ps.line = Parse::kKey;
                }
                break;

            case Parse::kSkip: {
                const void* eol = std::memchr(p, '\n', static_cast<size_t>(end - p));
                if (!eol) {
                    p = end;
                } else {
                    p = static_cast<const char*>(eol) + 1;
                    ps.line = Parse::kLineStart;
                }
                break;
            }

            case Parse::kHeader:  // up to the header's first space
                ++p;
                if (c == '\n') {
                    ps.line = Parse::kLineStart;  // no space: the totals stay 0
                } else if (c == ' ') {
                    ps.line = Parse::kHeaderNumbers;
                    ps.headerNumber = 0;
                    ps.token = Parse::kBlank;
                    ps.value = 0;
                    ps.negative = false;
                }
                break;

            case Parse::kHeaderNumbers:
                // The two numbers as "%u %u" reads them: white space, a sign,
                // at least one digit; the totals count only when both read.
                if (c == '\n') {
                    EndLine();
                    ++p;
                    break;
                }
                if (ps.token == Parse::kDigits && IsDigit(c)) {
                    ps.value = ps.value * 10 + static_cast<uint32_t>(c - '0');
                    ++p;
                } else if (ps.token == Parse::kDigits) {
                    const uint32_t number = ps.negative ? 0u - ps.value : ps.value;
                    if (ps.headerNumber == 0) {
                        // This character starts the second number's part.
                        ps.firstNumber = number;
                        ps.headerNumber = 1;
                        ps.token = Parse::kBlank;
                        ps.value = 0;
                        ps.negative = false;
                    } else {
                        totalFrom = ps.firstNumber;
                        totalTo = number;
                        ps.line = Parse::kSkip;
                    }
                } else if (IsDigit(c)) {
                    ps.value = static_cast<uint32_t>(c - '0');
                    ps.token = Parse::kDigits;
                    ++p;
                } else if (ps.token == Parse::kBlank && IsCSpace(c)) {
                    ++p;
                } else if (ps.token == Parse::kBlank && (c == '+' || c == '-')) {
                    ps.negative = c == '-';
                    ps.token = Parse::kSign;
                    ++p;
                } else {
                    ps.line = Parse::kSkip;  // no number: the totals stay 0
                }
                break;

            case Parse::kKey: {
                // The address: everything up to the line's first space.
                const char* q = p;
                while (q < end && *q != ' ' && *q != '\n')
                    ++q;
                Offset(keys_.size() + static_cast<size_t>(q - p));  // throws when too large
                keys_.append(p, q);
                p = q;
                if (p == end)
                    break;
                ++p;
                if (*q == '\n') {
                    keys_.resize(ps.record.keyAt);  // an address alone
                    ps.line = Parse::kLineStart;
                    break;
                }
                ps.record.keyLen = static_cast<uint32_t>(keys_.size()) - ps.record.keyAt;
                FoldKey(ps.record);
                ps.record.scoreAt = Offset(scores_.size());
                ps.line = Parse::kTokens;
                ps.token = Parse::kBlank;
                ps.value = 0;
                ps.negative = false;
                ps.sawValue = false;
                ps.heldSpaces = 0;
                ps.blankBeforeSpace = false;
                ps.tokenIndex = 0;
                break;
            }

            case Parse::kTokens:
                // The tokens after the address, each ended by a single space
                // and read as atoi reads it (two spaces in a row hold an
                // empty token, which reads as 0).
                ++p;
                if (IsDigit(c) && ps.heldSpaces == 0 && !ps.blankBeforeSpace &&
                    ps.token != Parse::kTail) {
                    ps.value = ps.value * 10 + static_cast<uint32_t>(c - '0');
                    ps.token = Parse::kDigits;
                    ps.sawValue = true;
                    break;
                }
                if (c == '\n') {
                    EndLine();
                    break;
                }
                if (c == ' ') {
                    ++ps.heldSpaces;
                    break;
                }
                if (c == '\t' || c == '\r') {
                    if (ps.heldSpaces == 0)
                        ps.blankBeforeSpace = true;
                    break;
                }
                // Something that counts: the blanks held back lie inside the
                // line. A tab or CR ends a number; each space ends a token.
                if (ps.blankBeforeSpace && ps.token != Parse::kBlank)
                    ps.token = Parse::kTail;
                ps.blankBeforeSpace = false;
                for (; ps.heldSpaces > 0; --ps.heldSpaces)
                    EndToken();
                ps.sawValue = true;
                if (ps.token == Parse::kBlank && (c == '+' || c == '-')) {
                    ps.negative = c == '-';
                    ps.token = Parse::kSign;
                } else if (IsDigit(c) && ps.token != Parse::kTail) {
                    ps.value = ps.value * 10 + static_cast<uint32_t>(c - '0');
                    ps.token = Parse::kDigits;
                } else if (!(ps.token == Parse::kBlank && IsCSpace(c))) {
                    ps.token = Parse::kTail;
                }
                break;
        }
    }
}

void AddressDatabase::EndToken() {
    Parse& ps = parse_;
    const uint32_t value = ps.negative ? 0u - ps.value : ps.value;
    if (ps.tokenIndex == 0)
        ps.record.fromCount = value;
    else if (ps.tokenIndex == 1)
        ps.record.toCount = value;  // a line with one number keeps to-count 0
    else
        scores_.push_back(static_cast<int32_t>(value));
    ++ps.tokenIndex;
    ps.token = Parse::kBlank;
    ps.value = 0;
    ps.negative = false;
}

// The end of a line (or of the text) in the middle of a header's numbers or
// of a record's tokens.
void AddressDatabase::EndLine() {
    Parse& ps = parse_;
    if (ps.line == Parse::kHeaderNumbers) {
        if (ps.headerNumber == 1 && ps.token == Parse::kDigits) {
            totalFrom = ps.firstNumber;
            totalTo = ps.negative ? 0u - ps.value : ps.value;
        }
    } else if (ps.line == Parse::kTokens) {
        if (ps.sawValue) {
            EndToken();
            StoreLoaded();
        } else {
            keys_.resize(ps.record.keyAt);  // only blanks after the address
        }
    }
    ps.line = Parse::kLineStart;
}

void AddressDatabase::StoreLoaded() {
    Slot r = parse_.record;
    r.scoreCount = Offset(scores_.size()) - r.scoreAt;
    r.scoreRoom = r.scoreCount;
    // A saved file holds its keys in order: each line goes at the end. A line
    // for the address of the line before replaces its record (the later line
    // wins); a key below the one before leaves the order to FinishLoad.
    if (!loaded_.empty() && !parse_.unsorted) {
        const std::string_view last = Key(loaded_.back());
        const std::string_view key = Key(r);
        if (key == last) {
            slots_[loaded_.back()] = r;
            return;
        }
        if (key < last)
            parse_.unsorted = true;
    }
    slots_.push_back(r);
    loaded_.push_back(Offset(slots_.size() - 1));
}

void AddressDatabase::FinishLoad() {
    Parse& ps = parse_;
    if (ps.line == Parse::kKey)
        keys_.resize(ps.record.keyAt);  // an address alone on the last line
    else
        EndLine();
    if (ps.unsorted) {
        // Key order, lines of one address in file order; the last of them wins.
        std::stable_sort(loaded_.begin(), loaded_.end(),
                         [this](uint32_t a, uint32_t b) { return KeyBefore(a, b); });
        size_t kept = 0;
        for (size_t i = 0; i < loaded_.size(); ++i) {
            if (i + 1 < loaded_.size() && Key(loaded_[i]) == Key(loaded_[i + 1])) {
                slots_[loaded_[i]].dead = 1;
                free_.push_back(loaded_[i]);
            } else {
                loaded_[kept++] = loaded_[i];
            }
        }
        loaded_.resize(kept);
    }
    order_.Assign(loaded_);
    CountCandidates();
    std::vector<uint32_t>().swap(loaded_);
    // Lookups by hash start afresh over the loaded records.
    std::vector<TableEntry>().swap(table_);
    lookups_ = 0;
    parse_ = Parse{};
}

void AddressDatabase::Expect(uint64_t size) {
    // Room for what a file of this size usually holds (lines of some 60 bytes
    // or more, up to half of them the address, scores of three bytes), so
    // that loading seldom moves what it has read. Room not used costs address
    // space only; a file beyond the guess simply grows the room.
    // Only a hint: where the address space cannot give the room at once (a
    // huge file in a 32-bit process), loading grows it as it goes.
    const size_t bytes = static_cast<size_t>(std::min<uint64_t>(size, 1u << 30));
    try {
        keys_.reserve(bytes / 2);
        scores_.reserve(bytes / 3);
        slots_.reserve(bytes / 60);
        loaded_.reserve(bytes / 60);
    } catch (const std::bad_alloc&) {
    }
}

void AddressDatabase::Load(std::string_view text) {
    LoadPiece(text);
    FinishLoad();
}

bool AddressDatabase::Produce(const std::function<bool(std::string_view)>& put) const {
    // Lines are made in one buffer that goes out whenever the next line might
    // not fit; a key too long for the buffer goes out by itself.
    constexpr size_t kLineNumbers = (2 + kHistoryLimit) * kNumberRoom + 2;
    const std::unique_ptr<char[]> buffer(new char[kPieceSize]);
    char* const begin = buffer.get();
    char* const stop = begin + kPieceSize;
    char* p = begin;
    const auto flush = [&] {
        const bool ok = p == begin || put({begin, static_cast<size_t>(p - begin)});
        p = begin;
        return ok;
    };
    p = Put(p, "v1");
    p = PutNumber(p, totalFrom);
    p = PutNumber(p, totalTo);
    p = Put(p, "\r\n");
    for (const uint32_t slot : order_) {
        const Slot& r = slots_[slot];
        const std::string_view key = Key(r);
        if (static_cast<size_t>(stop - p) < key.size() + kLineNumbers && !flush())
            return false;
        if (key.size() + kLineNumbers > kPieceSize) {
            if (!put(key))
                return false;
        } else {
            p = Put(p, key);
        }
        p = PutNumber(p, r.fromCount);
        p = PutNumber(p, r.toCount);
        // The newest scores up to the limit, oldest of them first.
        const uint32_t first = r.scoreCount > historyLimit ? r.scoreCount - historyLimit : 0;
        const int32_t* const run = scores_.data() + r.scoreAt;
        for (const int32_t* s = run + first; s < run + r.scoreCount; ++s)
            p = PutNumber(p, *s);
        p = Put(p, "\r\n");
    }
    return flush();
}

std::string AddressDatabase::Text() const {
    std::string out;
    Produce([&out](std::string_view piece) {
        out.append(piece);
        return true;
    });
    return out;
}

std::string AddressDatabase::FilePath() const {
    // Exactly one separator between folder and file name, whatever the folder
    // ends with.
    size_t end = folder.size();
    while (end > 0 && (folder[end - 1] == '\\' || folder[end - 1] == '/'))
        --end;
    return folder.substr(0, end) + "\\" + fileName;
}

bool AddressDatabase::initialize() {
    // Saves of processes killed mid-write left their temporary files; the
    // next save would remove them too, but a run that saves nothing would not.
    replace::RemoveDeadWritersTemporaries(FilePath());
    const ReadOutcome outcome = ReadFileInPieces(
        FilePath(), [this](uint64_t size) { Expect(size); },
        [this](std::string_view piece) { LoadPiece(piece); });
    if (outcome == ReadOutcome::kRead) {
        FinishLoad();
        return true;
    }
    // Whatever part of an unreadable file came in goes: the database starts
    // empty. A file that exists but could not be read is never replaced by
    // this handle, which does not know what the file holds.
    std::string().swap(keys_);
    std::vector<int32_t>().swap(scores_);
    std::vector<Slot>().swap(slots_);
    std::vector<uint32_t>().swap(loaded_);
    std::vector<TableEntry>().swap(table_);
    order_.Release();
    std::vector<uint32_t>().swap(free_);
    parse_ = Parse{};
    CountCandidates();  // none
    totalFrom = 0;
    totalTo = 0;
    keepFile_ = outcome == ReadOutcome::kUnreadable;
    return false;
}

bool AddressDatabase::serialize() const {
    if (keepFile_)
        return false;
    // Another program's save killed since the load may have left its
    // temporary file; a save is rare enough to look each time.
    replace::RemoveDeadWritersTemporaries(FilePath());
    replace::FileReplacement file(FilePath());
    if (!file.Ok())
        return false;
    fileCurrent_ =
        Produce([&file](std::string_view piece) { return file.Write(piece); }) && file.Commit(true);
    return fileCurrent_;
}

}  // namespace qb::addrdb
