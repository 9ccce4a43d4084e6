// The database file quellboxaddr.bin: a header line "v1 <from-total>
// <to-total>" and one line per record "<address> <from> <to> <scores...>" in
// key order, each line ending in CR LF. The reader is tolerant: it skips blank
// and "#" lines, lower-cases every line, takes the first remaining line as the
// header whatever it holds, reads numbers as far as they go and lets a later
// line for the same address win.
#include <algorithm>
#include <charconv>
#include <cstring>

#include "addrdb/AddressDatabase.h"
#include "addrdb/FileAccess.h"

namespace qb::addrdb {

namespace {

bool IsCSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// Reads one decimal number the way the C library's scanners do: leading white
// space, an optional sign, the digits up to the first other character. The
// value is taken modulo 2^32 (a minus sign negates it modulo 2^32), so every
// number the writer produces, unsigned or signed, reads back unchanged and no
// input can overflow. False when there is no digit.
bool ScanNumber(std::string_view text, size_t& pos, uint32_t& value) {
    while (pos < text.size() && IsCSpace(text[pos]))
        ++pos;
    bool negative = false;
    if (pos < text.size() && (text[pos] == '+' || text[pos] == '-')) {
        negative = text[pos] == '-';
        ++pos;
    }
    const size_t first = pos;
    uint32_t v = 0;
    while (pos < text.size() && text[pos] >= '0' && text[pos] <= '9') {
        v = v * 10 + static_cast<uint32_t>(text[pos] - '0');
        ++pos;
    }
    if (pos == first)
        return false;
    value = negative ? 0u - v : v;
    return true;
}

// Reads the record token that starts at p as atoi reads it (0 when there is
// no number, modulo 2^32 like ScanNumber) and returns where it ends: at the
// next space or at end.
const char* ReadToken(const char* p, const char* end, uint32_t& value) {
    while (p < end && *p != ' ' && IsCSpace(*p))
        ++p;
    bool negative = false;
    if (p < end && (*p == '+' || *p == '-')) {
        negative = *p == '-';
        ++p;
    }
    uint32_t v = 0;
    while (p < end && static_cast<unsigned char>(*p - '0') < 10) {
        v = v * 10 + static_cast<uint32_t>(*p - '0');
        ++p;
    }
    value = negative ? 0u - v : v;
    while (p < end && *p != ' ')
        ++p;
    return p;
}

std::string_view Trim(std::string_view line) {
    const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
    size_t b = 0, e = line.size();
    while (b < e && blank(line[b]))
        ++b;
    while (e > b && blank(line[e - 1]))
        --e;
    return line.substr(b, e - b);
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

void AddressDatabase::Load(std::string content) {
    // Every line counts as lower-cased. Only the address needs it (in place,
    // in the text the keys stay in): trimming, comment marks and numbers are
    // the same in either case.
    std::string& owned = keys_.Adopt(std::move(content));
    const std::string_view text = owned;
    bool headerRead = false;
    size_t pos = 0;
    while (pos < text.size()) {
        size_t eol = text.find('\n', pos);
        if (eol == std::string_view::npos)
            eol = text.size();
        const std::string_view line = Trim(text.substr(pos, eol - pos));
        pos = eol + 1;
        if (line.empty() || line[0] == '#')
            continue;

        const size_t space = line.find(' ');
        if (!headerRead) {
            // The first line that is neither blank nor a comment is the header,
            // whatever it holds; the totals count only when both numbers read.
            headerRead = true;
            if (space != std::string_view::npos) {
                const std::string_view rest = line.substr(space + 1);
                size_t at = 0;
                uint32_t from = 0, to = 0;
                if (ScanNumber(rest, at, from) && ScanNumber(rest, at, to)) {
                    totalFrom = from;
                    totalTo = to;
                }
            }
            continue;
        }
        if (space == std::string_view::npos)
            continue;  // an address alone

        // Tokens after the address, each ended by a single space (two spaces
        // in a row give an empty token, which reads as 0).
        const std::string_view rest = line.substr(space + 1);
        AddressRecord record;
        const char* p = rest.data();
        const char* const stop = p + rest.size();
        for (size_t index = 0;; ++index) {
            uint32_t value = 0;
            p = ReadToken(p, stop, value);
            const bool last = p == stop;
            if (index == 0) {
                record.fromCount = value;
            } else if (index == 1) {
                record.toCount = value;  // a line with one number keeps to-count 0
                // Room for the scores: each takes at least two characters
                // unless the line holds empty tokens.
                if (!last)
                    record.scoreHistory.reserve(static_cast<size_t>(stop - p) / 2 + 1);
            } else {
                record.scoreHistory.push_back(static_cast<int32_t>(value));
            }
            if (last)
                break;
            ++p;  // the space that ends the token
        }
        char* const key = owned.data() + (line.data() - text.data());
        for (size_t i = 0; i < space; ++i) {
            if (key[i] >= 'A' && key[i] <= 'Z')
                key[i] = static_cast<char>(key[i] - 'A' + 'a');
        }
        // A sorted file inserts at the end, where the hint makes it cheap; of
        // two lines for one address the later one wins.
        entries.insert_or_assign(entries.end(), std::string_view(key, space), std::move(record));
    }
}

std::string AddressDatabase::Text() const {
    // Each line goes straight into the buffer, which grows ahead of the line
    // by the most the line can take. The write position is a plain local
    // passed through the helpers, so it stays in a register.
    std::string out;
    out.resize(64 + entries.size() * 96);  // enough for most files in one go
    size_t used = 0;
    const auto room = [&out, &used](size_t need) {
        if (out.size() - used < need)
            out.resize(std::max(out.size() * 2, used + need));
        return out.data() + used;
    };
    char* p = room(2 + 2 * kNumberRoom + 2);
    p = Put(p, "v1");
    p = PutNumber(p, totalFrom);
    p = PutNumber(p, totalTo);
    p = Put(p, "\r\n");
    used = static_cast<size_t>(p - out.data());
    for (const auto& [address, r] : entries) {
        // The newest scores up to the limit, oldest of them first.
        const size_t n = r.scoreHistory.size();
        const size_t first = n > historyLimit ? n - historyLimit : 0;
        p = room(address.size() + (2 + n - first) * kNumberRoom + 2);
        const char* const start = p;
        p = Put(p, address);
        p = PutNumber(p, r.fromCount);
        p = PutNumber(p, r.toCount);
        for (size_t i = first; i < n; ++i)
            p = PutNumber(p, r.scoreHistory[i]);
        p = Put(p, "\r\n");
        used += static_cast<size_t>(p - start);
    }
    out.resize(used);
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
    std::string text;
    if (!ReadWholeFile(FilePath(), text))
        return false;
    Load(std::move(text));
    return true;
}

bool AddressDatabase::serialize() const {
    return ReplaceWholeFile(FilePath(), Text());
}

}  // namespace qb::addrdb
