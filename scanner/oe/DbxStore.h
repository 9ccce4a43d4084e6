// How the .dbx reader gets at a store file without holding it: the file is
// opened for positioned reads, and the few parts the reader needs (header,
// index nodes, records, bodies) are copied out through a small cache of
// file blocks. Nothing is mapped, so a file that another program cuts short
// or rewrites meanwhile only makes reads fail or see the new bytes.
//
// Open makes the file loader's checks and writes its lines, as the
// scanner's CString::loadBinary does for a file it reads whole: the folder
// name, "filesize = <size>" (trace level 8), the scan limit with its
// refusal, the free-memory test, "Get file_handle", "CString::append" and
// "End of loadBinary.  No Exceptions" (trace level 8), and
// "loadBinary() Error <number> : <description>" on failure. The free-memory
// test asks for one megabyte free per megabyte of file: the reader keeps at
// most the records' bytes, which together never exceed the file.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "platform/FileSystem.h"

namespace qb::oe {

// Megabytes of free physical memory the reader needs per megabyte of file.
constexpr double kReaderMemoryFactor = 1;

// A bounded view of bytes the reader has copied out of the file: a node
// header, an index entry, a record's header or data area, a block header.
// Fixed-size reads check their bounds; one that does not lie wholly inside
// the view fails with the reader's "value outside" error (0x80040204), so
// the bounds discipline of every decoder lives here.
class ByteSpan {
  public:
    explicit ByteSpan(std::string_view bytes) : bytes_(bytes) {}
    int64_t Size() const { return static_cast<int64_t>(bytes_.size()); }
    uint32_t Byte(int64_t at) const { return *At(at, 1); }
    int32_t Short(int64_t at) const {  // signed 16-bit
        const unsigned char* p = At(at, 2);
        return static_cast<int16_t>(static_cast<uint16_t>(p[0] | p[1] << 8));
    }
    uint32_t UWord(int64_t at) const {
        const unsigned char* p = At(at, 4);
        return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
               static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
    }
    int32_t Word(int64_t at) const { return static_cast<int32_t>(UWord(at)); }
    uint64_t Quad(int64_t at) const {
        At(at, 8);
        return static_cast<uint64_t>(UWord(at + 4)) << 32 | UWord(at);
    }
    // The bytes from at up to the first NUL or the end; empty when at lies
    // outside the view (a text is never a failure).
    std::string_view String(int64_t at) const {
        if (at < 0 || at >= Size())
            return {};
        const std::string_view rest = bytes_.substr(static_cast<size_t>(at));
        return rest.substr(0, rest.find('\0'));
    }

  private:
    const unsigned char* At(int64_t at, int64_t n) const {
        if (at < 0 || at > Size() - n)
            Outside();
        return reinterpret_cast<const unsigned char*>(bytes_.data()) + at;
    }
    [[noreturn]] static void Outside();

    std::string_view bytes_;
};

class DbxStore {
  public:
    DbxStore();
    ~DbxStore();
    DbxStore(const DbxStore&) = delete;
    DbxStore& operator=(const DbxStore&) = delete;

    // Makes fileName the store, after the loader's checks; a file declined
    // or failing leaves a store of size 0 (every read fails).
    void Open(const std::string& fileName);
    // The file's size when it was opened; reads stay inside it.
    int64_t Size() const { return size_; }
    // The bytes at 1-based positions first..last (file offset k is position
    // k + 1) as bytes: a view into the cache, or into scratch when they span
    // blocks, valid until the next Read. On a range outside the store, or
    // bytes the file no longer holds: false and the console line
    // "CString::getBytes Error -2147220992 : Index out of bounds".
    bool Read(int32_t first, int32_t last, std::string& scratch, std::string_view& bytes) {
        // Most reads lie in the block read last: those take no call.
        if (last >= first && first > windowStart_ && last <= windowEnd_) {
            bytes = std::string_view(window_ + (first - 1 - windowStart_),
                                     static_cast<size_t>(last - first) + 1);
            return true;
        }
        return ReadElsewhere(first, last, scratch, bytes);
    }
    // Lets go of the file and the cache; a later Read opens the file again.
    void Close();

  private:
    struct Block;
    bool ReadElsewhere(int32_t first, int32_t last, std::string& scratch, std::string_view& bytes);
    // The block used last becomes the window; nullptr: none.
    void SetWindow(Block* b);
    bool Fetch(int64_t offset, size_t n, char* out);
    // Opens the file again after Close; false when there is none or it cannot be.
    bool Reopen();
    Block* Load(int64_t start);
    // The block at start when it holds [offset, offset + n), else nullptr.
    const char* InOneBlock(int64_t offset, size_t n);

    std::string path_;
    int64_t size_ = 0;
    std::unique_ptr<platform::ReadableFile> file_;
    std::unique_ptr<Block[]> blocks_;
    uint64_t clock_ = 0;
    Block* last_ = nullptr;  // the block used last
    // The file bytes [windowStart_, windowEnd_) that last_ holds, at window_.
    const char* window_ = nullptr;
    int64_t windowStart_ = 0, windowEnd_ = 0;
};

}  // namespace qb::oe
