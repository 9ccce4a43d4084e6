// The database file quellboxaddr.bin: a header line "v1 <from-total>
// <to-total>" and one line per record "<address> <from> <to> <scores...>" in
// key order, each line ending in CR LF. The reader is tolerant: it skips blank
// and "#" lines, lower-cases every line, takes the first remaining line as the
// header whatever it holds, reads numbers as far as they go and lets a later
// line for the same address win.
#include <charconv>

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

// A record token as atoi reads it: 0 when there is no number.
uint32_t TokenValue(std::string_view token) {
    size_t pos = 0;
    uint32_t v = 0;
    return ScanNumber(token, pos, v) ? v : 0;
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

void AppendNumber(std::string& out, int64_t value) {
    char buf[24];
    const auto end = std::to_chars(buf, buf + sizeof buf, value).ptr;
    out.append(buf, end);
}

}  // namespace

void AddressDatabase::Load(std::string content) {
    // Every line is lower-cased before it is read; doing it to the whole text
    // at once, in place, is the same (trimming and comment marks are not
    // letters) and costs no copy.
    for (char& c : content) {
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    }
    const std::string_view text = content;
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
        size_t tokens = 1;
        for (const char c : rest) {
            if (c == ' ')
                ++tokens;
        }
        AddressRecord record;
        if (tokens > 2)
            record.scoreHistory.reserve(tokens - 2);
        size_t start = 0;
        for (size_t index = 0; index < tokens; ++index) {
            size_t end = rest.find(' ', start);
            if (end == std::string_view::npos)
                end = rest.size();
            const uint32_t value = TokenValue(rest.substr(start, end - start));
            start = end + 1;
            if (index == 0)
                record.fromCount = value;
            else if (index == 1)
                record.toCount = value;  // a line with one number keeps to-count 0
            else
                record.scoreHistory.push_back(static_cast<int32_t>(value));
        }
        // A sorted file inserts at the end, where the hint makes it cheap; of
        // two lines for one address the later one wins.
        entries.insert_or_assign(entries.end(), std::string(line.substr(0, space)),
                                 std::move(record));
    }
}

std::string AddressDatabase::Text() const {
    std::string out;
    out.reserve(16 + entries.size() * 48);
    out += "v1 ";
    AppendNumber(out, totalFrom);
    out += ' ';
    AppendNumber(out, totalTo);
    out += "\r\n";
    for (const auto& [address, r] : entries) {
        out += address;
        out += ' ';
        AppendNumber(out, r.fromCount);
        out += ' ';
        AppendNumber(out, r.toCount);
        // The newest scores up to the limit, oldest of them first.
        const size_t n = r.scoreHistory.size();
        for (size_t i = n > historyLimit ? n - historyLimit : 0; i < n; ++i) {
            out += ' ';
            AppendNumber(out, r.scoreHistory[i]);
        }
        out += "\r\n";
    }
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
