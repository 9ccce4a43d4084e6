// Fuzz target for the quellboxaddr.bin reader: any bytes load without a
// crash, handed over in pieces of any sizes, to the same database as reading
// the whole text line by line the plain way; the file saved from them loads
// back to the same database (histories cut to the newest 20, as the writer
// keeps them) and saves to the same bytes. The loaded records then go through
// scoring, and through operations whose pruning is checked against pruning
// the plain way (every record in key order).
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <iterator>
#include <string>
#include <string_view>

#include "addrdb/AddressDatabase.h"

using qb::addrdb::AddressDatabase;
using qb::addrdb::AddressRecord;

namespace {

void Check(bool ok) {
    if (!ok)
        std::abort();
}

struct Plain {
    AddressDatabase::Snapshot records;
    uint32_t totalFrom = 0, totalTo = 0;
};

bool IsCSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// A number as the C library's readers take it, modulo 2^32: white space
// (other than a space where `space` is false), a sign, digits. False when
// there is no digit.
bool PlainNumber(std::string_view text, size_t& pos, uint32_t& value, bool space) {
    while (pos < text.size() && IsCSpace(text[pos]) && (space || text[pos] != ' '))
        ++pos;
    bool negative = false;
    if (pos < text.size() && (text[pos] == '+' || text[pos] == '-'))
        negative = text[pos++] == '-';
    const size_t first = pos;
    uint32_t v = 0;
    for (; pos < text.size() && text[pos] >= '0' && text[pos] <= '9'; ++pos)
        v = v * 10 + static_cast<uint32_t>(text[pos] - '0');
    value = negative ? 0u - v : v;
    return pos > first;
}

// The file's text read the plain way: line by line, each trimmed and lower-cased.
Plain PlainLoad(std::string_view text) {
    Plain out;
    bool header = false;
    size_t pos = 0;
    while (pos < text.size()) {
        size_t eol = text.find('\n', pos);
        if (eol == std::string_view::npos)
            eol = text.size();
        std::string line(text.substr(pos, eol - pos));
        pos = eol + 1;
        const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r'; };
        while (!line.empty() && blank(line.back()))
            line.pop_back();
        size_t b = 0;
        while (b < line.size() && blank(line[b]))
            ++b;
        line.erase(0, b);
        if (line.empty() || line[0] == '#')
            continue;
        for (char& c : line)
            c = c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
        const size_t space = line.find(' ');
        if (!header) {
            header = true;
            size_t at = space + 1;
            uint32_t from, to;
            if (space != std::string::npos && PlainNumber(line, at, from, true) &&
                PlainNumber(line, at, to, true)) {
                out.totalFrom = from;
                out.totalTo = to;
            }
            continue;
        }
        if (space == std::string::npos)
            continue;
        AddressRecord record;
        size_t at = space + 1;
        for (size_t index = 0;; ++index) {
            uint32_t value;
            PlainNumber(line, at, value, false);
            while (at < line.size() && line[at] != ' ')
                ++at;
            if (index == 0)
                record.fromCount = value;
            else if (index == 1)
                record.toCount = value;
            else
                record.scoreHistory.push_back(static_cast<int32_t>(value));
            if (at == line.size())
                break;
            ++at;
        }
        out.records.insert_or_assign(line.substr(0, space), std::move(record));
    }
    return out;
}

// The two pruning passes as defined, walking every record in key order.
void PlainPrune(AddressDatabase::Snapshot& entries, uint32_t totalTo, size_t maxEntries) {
    if (entries.size() <= maxEntries)
        return;
    for (auto it = entries.begin(); it != entries.end() && entries.size() > maxEntries;) {
        const bool small = totalTo != 0 && it->second.scoreHistory.empty() &&
                           static_cast<double>(it->second.toCount) / totalTo < 0.02;
        it = small ? entries.erase(it) : std::next(it);
    }
    for (auto it = entries.begin(); it != entries.end() && entries.size() > maxEntries;) {
        const bool idle = it->second.fromCount == 0 && it->second.toCount < 10;
        it = idle ? entries.erase(it) : std::next(it);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    // The text in pieces of 1 to 64 bytes, their sizes taken from the text.
    AddressDatabase first(".", 5000);
    first.Expect(size);
    for (size_t at = 0, i = 0; at < size; ++i) {
        const size_t piece = std::min<size_t>(size - at, 1 + data[i % size] % 64);
        first.LoadPiece(text.substr(at, piece));
        at += piece;
    }
    first.FinishLoad();
    const Plain plain = PlainLoad(text);
    Check(first.TotalFrom() == plain.totalFrom);
    Check(first.TotalTo() == plain.totalTo);
    Check(first.Records() == plain.records);
    const std::string saved = first.Text();

    AddressDatabase second(".", 5000);
    second.Load(saved);
    Check(second.TotalFrom() == first.TotalFrom());
    Check(second.TotalTo() == first.TotalTo());
    const AddressDatabase::Snapshot reloaded = second.Records();
    Check(reloaded.size() == plain.records.size());
    auto again = reloaded.begin();
    for (const auto& [address, record] : plain.records) {
        AddressRecord kept = record;
        const size_t n = kept.scoreHistory.size();
        if (n > AddressDatabase::kHistoryLimit)
            kept.scoreHistory.erase(
                kept.scoreHistory.begin(),
                kept.scoreHistory.begin() +
                    static_cast<std::ptrdiff_t>(n - AddressDatabase::kHistoryLimit));
        Check(again->first == address);
        Check(again->second == kept);
        ++again;
    }
    Check(second.Text() == saved);

    // Score every loaded address once and prune to half: arithmetic on
    // whatever counts and scores the input held.
    AddressDatabase third(".", static_cast<uint32_t>(first.RecordCount() / 2));
    third.Load(saved);
    std::vector<std::string> keys;
    for (const auto& entry : third.Records())
        keys.emplace_back(entry.first);
    uint32_t score = size > 0 ? data[0] : 0;
    for (const std::string& key : keys) {
        const uint32_t adjusted = third.adjustScore(key.c_str(), score);
        Check(adjusted <= score || (adjusted >= 1 && adjusted <= 100));
        score = score * 31 + 7;
    }
    third.addSpamAddrFrom("new@example.com", 1);
    Check(third.Records().size() <= keys.size() + 1);

    // Operations picked by the input's bytes on a few short addresses, each
    // checked against the same operation on a plain map of the records.
    const uint32_t capacity = size > 0 ? data[size - 1] % 8 : 1;
    AddressDatabase fourth(".", capacity);
    fourth.Load(saved);
    AddressDatabase::Snapshot model = fourth.Records();
    const auto recordScore = [&model](const std::string& key, uint32_t s) {
        AddressRecord& r = model[key];
        r.fromCount += 1;
        if (r.scoreHistory.size() == AddressDatabase::kHistoryLimit)
            r.scoreHistory.erase(r.scoreHistory.begin());
        r.scoreHistory.push_back(static_cast<int32_t>(s > 100 ? 100 : s));
    };
    for (size_t i = 0; i + 1 < size && i < 512; i += 2) {
        const std::string key(1 + data[i] % 3, static_cast<char>('a' + data[i] / 3 % 5));
        const uint32_t n = data[i + 1] / 6 % 12;
        const auto it = model.find(key);
        switch (data[i + 1] % 6) {
            case 0:
                model[key].toCount += n;
                fourth.addSpamAddrTo(key.c_str(), n);
                break;
            case 1:
                recordScore(key, n * 9);
                fourth.addSpamAddrScore(key.c_str(), n * 9);
                break;
            case 2:
                if (it != model.end())
                    model.erase(it);
                fourth.deleteSpamAddrEntry(key.c_str());
                break;
            case 3: {
                // Recorded for a known address unless a frequent correspondent.
                const uint32_t total = fourth.TotalTo();
                if (it != model.end() &&
                    !(total > 100 && uint64_t{it->second.toCount} * 100 / total > 15))
                    recordScore(key, n * 10);
                fourth.adjustScore(key.c_str(), n * 10);
                break;
            }
            case 4:
                if (it == model.end() || it->second.fromCount != n) {
                    if (it != model.end())
                        it->second.fromCount = n;
                    else
                        model.emplace(key, AddressRecord{n, 0, {}});
                    PlainPrune(model, fourth.TotalTo(), capacity);
                }
                fourth.setSpamAddrFrom(key.c_str(), n);
                break;
            default:
                if (it != model.end()) {
                    it->second.fromCount += n;
                } else {
                    model.emplace(key, AddressRecord{n, 0, {}});
                    PlainPrune(model, fourth.TotalTo(), capacity);
                }
                fourth.addSpamAddrFrom(key.c_str(), n);
                break;
        }
        Check(fourth.Records() == model);
        Check(fourth.RecordCount() == model.size());
    }
    AddressDatabase::Snapshot expected = fourth.Records();
    PlainPrune(expected, fourth.TotalTo(), capacity);
    fourth.pruneEntries();
    Check(fourth.Records() == expected);
    return 0;
}
