#include "tests/support/dbx/DbxWriter.h"

#include <algorithm>
#include <fstream>
#include <stdexcept>

namespace qb::test::dbx {

namespace {

std::string Le32(uint32_t v) {
    std::string s(4, '\0');
    for (int i = 0; i < 4; ++i)
        s[static_cast<size_t>(i)] = static_cast<char>(v >> (8 * i) & 0xFF);
    return s;
}

const char kEmailSignature[] = "\xCF\xAD\x12\xFE\xC5\xFD\x74\x6F\x66\xE3\xD1\x11\x9A\x4E\x00\xC0";
const char kFolderSignature[] = "\xCF\xAD\x12\xFE\xC6\xFD\x74\x6F\x66\xE3\xD1\x11\x9A\x4E\x00\xC0";

uint32_t NextRandom(uint32_t& state) {
    state = state * 1664525u + 1013904223u;
    return state >> 8;
}

}  // namespace

Field Field::Word(uint8_t id, uint32_t value) {
    return Bytes(id, Le32(value));
}

Field Field::Date(uint8_t id, uint64_t fileTime) {
    return Bytes(
        id, Le32(static_cast<uint32_t>(fileTime)) + Le32(static_cast<uint32_t>(fileTime >> 32)));
}

uint64_t FileTime(int year, int month, int day, int hour, int minute, int second) {
    // Days since 1970-01-01 of a civil date, then shifted to 1601-01-01.
    const int y = year - (month <= 2 ? 1 : 0);
    const int era = (y >= 0 ? y : y - 399) / 400;
    const int yoe = y - era * 400;
    const int doy = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    const int doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    const int64_t days = static_cast<int64_t>(era) * 146097 + doe - 719468 + 134774;
    const int64_t seconds = days * 86400 + hour * 3600 + minute * 60 + second;
    return static_cast<uint64_t>(seconds) * 10000000ull;
}

Record MessageRecord(const Message& m, std::optional<int32_t> bodyOffset) {
    Record r;
    auto text = [&r](uint8_t id, const std::optional<std::string>& value) {
        if (value)
            r.fields.push_back(Field::String(id, *value));
    };
    if (m.id)
        r.fields.push_back(Field::Direct(0x80, *m.id));
    if (m.flag)
        r.fields.push_back(Field::Direct(0x81, *m.flag));
    if (bodyOffset) {
        if (m.pointerInValueArea || static_cast<uint32_t>(*bodyOffset) > 0xFFFFFF)
            r.fields.push_back(Field::Word(0x04, static_cast<uint32_t>(*bodyOffset)));
        else
            r.fields.push_back(Field::Direct(0x84, static_cast<uint32_t>(*bodyOffset)));
    }
    text(0x05, m.origSubject);
    text(0x07, m.messageId);
    text(0x08, m.subject);
    text(0x0A, m.parentMessageId);
    text(0x0C, m.fetchServer);
    text(0x0D, m.senderName);
    text(0x0E, m.senderEMail);
    if (m.date)
        r.fields.push_back(Field::Date(0x12, *m.date));
    text(0x13, m.recipientName);
    text(0x14, m.recipientEMail);
    text(0x1A, m.accountName);
    text(0x1B, m.accountNumber);
    return r;
}

Record FolderRecord(const Folder& f) {
    Record r;
    if (f.id)
        r.fields.push_back(Field::Direct(0x80, *f.id));
    if (f.parentId)
        r.fields.push_back(Field::Direct(0x81, *f.parentId));
    if (f.name)
        r.fields.push_back(Field::String(0x02, *f.name));
    if (f.fileName)
        r.fields.push_back(Field::String(0x03, *f.fileName));
    // Fields Outlook Express writes that the reader passes over.
    r.fields.push_back(Field::Direct(0x87, 0));
    r.fields.push_back(Field::Direct(0x88, 1));
    if (f.kind)
        r.fields.push_back(Field::Direct(0x89, *f.kind));
    if (f.storeType)
        r.fields.push_back(Field::Direct(0x8A, *f.storeType));
    return r;
}

DbxWriter::DbxWriter(Kind kind, int32_t headerSize) {
    if (headerSize < 0xE8)
        throw std::invalid_argument("a .dbx header holds at least 0xE8 bytes");
    bytes_.assign(static_cast<size_t>(headerSize), '\0');
    bytes_.replace(0, 16, kind == Kind::Message ? kEmailSignature : kFolderSignature, 16);
}

void DbxWriter::Save(const std::string& path) const {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes_.data(), static_cast<std::streamsize>(bytes_.size()));
    if (!out)
        throw std::runtime_error("cannot write " + path);
}

int32_t DbxWriter::Append(const std::string& bytes) {
    const int32_t at = Size();
    bytes_ += bytes;
    return at;
}

void DbxWriter::Patch(int32_t offset, const std::string& bytes) {
    if (offset < 0 || static_cast<size_t>(offset) + bytes.size() > bytes_.size())
        bytes_.resize(static_cast<size_t>(offset) + bytes.size(), '\0');
    bytes_.replace(static_cast<size_t>(offset), bytes.size(), bytes);
}

void DbxWriter::PatchWord(int32_t offset, uint32_t value) {
    Patch(offset, Le32(value));
}

int32_t DbxWriter::AddRecord(const Record& record) {
    std::string entries;
    std::string values;
    for (const Field& f : record.fields) {
        uint32_t v = f.v;
        if (f.mode == Field::Mode::Value) {
            v = static_cast<uint32_t>(values.size());
            values += f.bytes;
        }
        entries += static_cast<char>(f.id);
        entries += Le32(v).substr(0, 3);
    }
    const std::string data = entries + values + record.trailing;
    const int32_t at = Size();
    std::string header = Le32(static_cast<uint32_t>(at));
    header +=
        Le32(static_cast<uint32_t>(record.length.value_or(static_cast<int32_t>(data.size()))));
    header += std::string(2, '\0');
    header += static_cast<char>(record.count.value_or(static_cast<uint8_t>(record.fields.size())));
    header += '\0';
    bytes_ += header + data;
    return at;
}

int32_t DbxWriter::AddBody(const std::string& text, int32_t blockText) {
    if (text.empty())
        return 0;
    if (blockText < 1 || blockText > 0x7FFF)
        throw std::invalid_argument("block text size out of range");
    // Blocks are written in chain order, each pointing at the one after it.
    const int32_t first = Size();
    size_t done = 0;
    while (done < text.size()) {
        const size_t n = std::min(text.size() - done, static_cast<size_t>(blockText));
        const int32_t at = Size();
        const bool last = done + n == text.size();
        const int32_t next = last ? 0 : at + 16 + static_cast<int32_t>(n);
        std::string header = Le32(static_cast<uint32_t>(at));
        header += Le32(static_cast<uint32_t>(blockText));
        header += static_cast<char>(n & 0xFF);
        header += static_cast<char>(n >> 8 & 0xFF);
        header += std::string(2, '\0');
        header += Le32(static_cast<uint32_t>(next));
        bytes_ += header;
        bytes_.append(text, done, n);
        done += n;
    }
    return first;
}

int32_t DbxWriter::AddMessage(const Message& m) {
    std::optional<int32_t> body;
    if (m.body)
        body = AddBody(*m.body, m.blockText);
    return AddRecord(MessageRecord(m, body));
}

int32_t DbxWriter::AddFolder(const Folder& f) {
    return AddRecord(FolderRecord(f));
}

int32_t DbxWriter::AddNode(int32_t firstChild, int32_t firstChildCount,
                           const std::vector<Entry>& entries) {
    if (entries.size() > 255)
        throw std::invalid_argument("a node holds at most 255 entries");
    const int32_t at = Size();
    std::string node = Le32(static_cast<uint32_t>(at));
    node += Le32(0);
    node += Le32(static_cast<uint32_t>(firstChild));
    node += Le32(0);  // parent: not needed by readers of the walk
    node += '\0';
    node += static_cast<char>(entries.size());
    node += std::string(2, '\0');
    node += Le32(static_cast<uint32_t>(firstChildCount));
    for (const Entry& e : entries) {
        node += Le32(static_cast<uint32_t>(e.record));
        node += Le32(static_cast<uint32_t>(e.child));
        node += Le32(static_cast<uint32_t>(e.childCount));
    }
    bytes_ += node;
    return at;
}

DbxWriter::Built DbxWriter::Build(const std::vector<int32_t>& records, size_t begin, size_t end,
                                  const TreeOptions& options, uint32_t& random) {
    const size_t n = end - begin;
    if (n == 0)
        return {};
    const size_t fanout = static_cast<size_t>(options.fanout);
    size_t k = std::min(n, fanout);
    if (options.shape == Shape::Random)
        k = 1 + NextRandom(random) % k;
    // k entries and k + 1 groups below them, in walk order.
    std::vector<size_t> groups(k + 1, 0);
    size_t rest = n - k;
    if (options.shape == Shape::Random) {
        for (size_t g = 0; g < k && rest > 0; ++g) {
            const size_t take = NextRandom(random) % (rest + 1);
            groups[g] = take;
            rest -= take;
        }
        groups[k] += rest;
    } else {
        for (size_t g = 0; g <= k; ++g)
            groups[g] = rest / (k + 1) + (g < rest % (k + 1) ? 1 : 0);
    }
    std::vector<Built> below(k + 1);
    std::vector<Entry> entries(k);
    size_t at = begin;
    for (size_t g = 0; g <= k; ++g) {
        below[g] = Build(records, at, at + groups[g], options, random);
        at += groups[g];
        if (g < k)
            entries[g].record = records[at++];
    }
    for (size_t e = 0; e < k; ++e) {
        entries[e].child = below[e + 1].node;
        entries[e].childCount = below[e + 1].count;
    }
    return {AddNode(below[0].node, below[0].count, entries), static_cast<int32_t>(n)};
}

int32_t DbxWriter::AddTree(const std::vector<int32_t>& records, const TreeOptions& options) {
    if (options.fanout < 1 || options.fanout > 255)
        throw std::invalid_argument("fanout must be 1 .. 255");
    int32_t root = 0;
    const int32_t n = static_cast<int32_t>(records.size());
    if (options.shape == Shape::Chain) {
        // Built from the last record up; walking node i meets record i, then
        // descends into node i + 1.
        for (int32_t i = n - 1; i >= 0; --i)
            root = AddNode(0, 0, {{records[static_cast<size_t>(i)], root, n - 1 - i}});
    } else if (options.shape == Shape::FirstChildChain) {
        for (int32_t i = 0; i < n; ++i)
            root = AddNode(root, i, {{records[static_cast<size_t>(i)], 0, 0}});
    } else {
        uint32_t random = options.seed;
        root = Build(records, 0, records.size(), options, random).node;
    }
    SetRoot(root);
    SetCount(n);
    return root;
}

namespace {

// A file of one record per item, under one tree in the items' order.
template <class T, class AddItem>
std::string WholeFile(Kind kind, const std::vector<T>& items, const TreeOptions& options,
                      AddItem add) {
    DbxWriter w(kind);
    std::vector<int32_t> records;
    for (const T& item : items)
        records.push_back(add(w, item));
    w.AddTree(records, options);
    return w.Bytes();
}

}  // namespace

std::string MessageFile(const std::vector<Message>& messages, const TreeOptions& options) {
    return WholeFile(Kind::Message, messages, options,
                     [](DbxWriter& w, const Message& m) { return w.AddMessage(m); });
}

std::string FolderFile(const std::vector<Folder>& folders, const TreeOptions& options) {
    return WholeFile(Kind::Folder, folders, options,
                     [](DbxWriter& w, const Folder& f) { return w.AddFolder(f); });
}

}  // namespace qb::test::dbx
