// Builds Outlook Express .dbx files from records, for tests, the demo and the
// benchmarks: message and folder files, index trees of any shape, bodies in
// block chains, and deliberately malformed variants (every count, length and
// pointer can be written as given, and any byte patched afterwards).
//
// The layout written is the one Outlook Express 5/6 uses: a file header with
// the signature, the record count at 0xC4 and the root node's offset at 0xE4;
// records of a 12-byte header and a data area of field entries and values;
// index nodes of a 24-byte header and 12-byte entries; body blocks of a
// 16-byte header and up to 512 text bytes.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace qb::test::dbx {

enum class Kind { Message, Folder };

// One field entry of a record: byte 0 the id, bytes 1..3 the value V.
struct Field {
    enum class Mode {
        Direct,  // V is the value (ids from 0x80 up)
        Value,   // bytes placed in the value area; V is their offset there
        Raw,     // V written as given, pointing wherever it points
    };
    uint8_t id = 0;
    Mode mode = Mode::Direct;
    uint32_t v = 0;
    std::string bytes;

    static Field Direct(uint8_t id, uint32_t v) { return {id, Mode::Direct, v, {}}; }
    static Field Raw(uint8_t id, uint32_t v) { return {id, Mode::Raw, v, {}}; }
    static Field Bytes(uint8_t id, std::string bytes) {
        return {id, Mode::Value, 0, std::move(bytes)};
    }
    // Text with its terminating NUL.
    static Field String(uint8_t id, const std::string& text) {
        return Bytes(id, text + std::string(1, '\0'));
    }
    static Field Byte(uint8_t id, uint8_t value) { return Bytes(id, std::string(1, char(value))); }
    static Field Word(uint8_t id, uint32_t value);
    static Field Date(uint8_t id, uint64_t fileTime);
};

struct Record {
    std::vector<Field> fields;
    std::optional<int32_t> length;  // L written instead of the data area's real length
    std::optional<uint8_t> count;   // N written instead of the number of fields
    std::string trailing;           // bytes appended to the data area after the values
};

// A message; each present property becomes its field.
struct Message {
    std::optional<uint32_t> id;    // 0x80
    std::optional<uint32_t> flag;  // 0x81
    std::optional<uint64_t> date;  // 0x12, FILETIME
    std::optional<std::string> origSubject, messageId, subject, parentMessageId, fetchServer,
        senderName, senderEMail, recipientName, recipientEMail, accountName, accountNumber;
    std::optional<std::string> body;  // written as a block chain
    int32_t blockText = 512;          // text bytes per body block
    bool pointerInValueArea = false;  // body pointer as 0x04 (a word) instead of 0x84
};

struct Folder {
    std::optional<uint32_t> id;                        // 0x80
    std::optional<uint32_t> parentId;                  // 0x81
    std::optional<std::string> name;                   // 0x02
    std::optional<std::string> fileName;               // 0x03
    std::optional<uint32_t> kind = std::nullopt;       // 0x89: a standard folder's kind (Inbox 1)
    std::optional<uint32_t> storeType = std::nullopt;  // 0x8A: 3 for a folder of Local Folders
};

Record MessageRecord(const Message& m, std::optional<int32_t> bodyOffset);
Record FolderRecord(const Folder& f);

// FILETIME ticks of a UTC calendar time.
uint64_t FileTime(int year, int month, int day, int hour = 0, int minute = 0, int second = 0);

enum class Shape {
    Balanced,         // full nodes of `fanout` entries, children spread evenly
    Chain,            // one entry per node, the rest below that entry's child: depth = count
    FirstChildChain,  // one entry per node, the records before it in the first child
    Random,           // random entry counts and splits (seeded)
};

struct TreeOptions {
    Shape shape = Shape::Balanced;
    int fanout = 3;  // 1 .. 255
    uint32_t seed = 1;
};

class DbxWriter {
  public:
    // headerSize: at least 0xE8; Outlook Express writes 0x24BC.
    explicit DbxWriter(Kind kind, int32_t headerSize = 0x24BC);

    int32_t Size() const { return static_cast<int32_t>(bytes_.size()); }
    const std::string& Bytes() const { return bytes_; }
    void Save(const std::string& path) const;

    // Appends a record and returns its offset.
    int32_t AddRecord(const Record& record);
    // Appends text as a chain of blocks; the offset of the first block (0
    // for an empty text: no chain).
    int32_t AddBody(const std::string& text, int32_t blockText = 512);
    int32_t AddMessage(const Message& m);
    int32_t AddFolder(const Folder& f);

    struct Entry {
        int32_t record = 0;
        int32_t child = 0;
        int32_t childCount = 0;
    };
    // Appends one index node as given and returns its offset.
    int32_t AddNode(int32_t firstChild, int32_t firstChildCount, const std::vector<Entry>& entries);
    // Appends an index tree whose in-order walk meets the records in the
    // order given, sets the header's root and count, and returns the root.
    int32_t AddTree(const std::vector<int32_t>& records, const TreeOptions& options = {});

    void SetRoot(int32_t offset) { PatchWord(0xE4, static_cast<uint32_t>(offset)); }
    void SetCount(int32_t count) { PatchWord(0xC4, static_cast<uint32_t>(count)); }
    int32_t Append(const std::string& bytes);
    void Patch(int32_t offset, const std::string& bytes);
    void PatchWord(int32_t offset, uint32_t value);
    void Truncate(int32_t size) { bytes_.resize(static_cast<size_t>(size)); }
    // Room for a file of n bytes (for big generated stores).
    void Reserve(size_t n) { bytes_.reserve(n); }

  private:
    struct Built {
        int32_t node = 0;
        int32_t count = 0;
    };
    Built Build(const std::vector<int32_t>& records, size_t begin, size_t end,
                const TreeOptions& options, uint32_t& random);

    std::string bytes_;
};

// Whole files in one call: the records in walk order under a tree of the
// given shape, header count = number of records.
std::string MessageFile(const std::vector<Message>& messages, const TreeOptions& options = {});
std::string FolderFile(const std::vector<Folder>& folders, const TreeOptions& options = {});

}  // namespace qb::test::dbx
