#include "scanner/oe/DbxStore.h"

#include <cstring>
#include <limits>

#include "common/Report.h"
#include "common/RunError.h"
#include "platform/Platform.h"
#include "scanner/oe/CDbx.h"
#include "strings/ScannerCString.h"

namespace qb::oe {

namespace {

using report::ConsoleLog;
using report::Tracing;

// The cache: a few aligned blocks, the least recently used one reloaded.
// Reads larger than two blocks go straight to the file.
constexpr int64_t kBlockSize = 64 * 1024;
constexpr int kBlocks = 8;

RunError LoadFailure(const std::string& path) {
    if (platform::Files().Kind(path) == platform::PathKind::kMissing)
        return RunError(err::kFileNotFound, "CString::loadBinary", "File not found");
    return RunError(err::kPathFileAccess, "CString::loadBinary", "Path/File access error");
}

}  // namespace

// --- ByteSpan ---------------------------------------------------------------

void ByteSpan::Outside() {
    throw RunError(dbx_err::kValueOutside, "CDbx", "Value outside the record's data area");
}

// --- DbxStore ---------------------------------------------------------------

struct DbxStore::Block {
    int64_t start = -1;  // file offset; -1 when empty
    int64_t valid = 0;   // bytes the file gave
    uint64_t used = 0;
    std::unique_ptr<char[]> bytes;
};

DbxStore::DbxStore() = default;
DbxStore::~DbxStore() = default;

void DbxStore::Close() {
    file_.reset();
    blocks_.reset();
    SetWindow(nullptr);
}

void DbxStore::SetWindow(Block* b) {
    last_ = b;
    window_ = b ? b->bytes.get() : nullptr;
    windowStart_ = b ? b->start : 0;
    windowEnd_ = b ? b->start + b->valid : 0;
}

void DbxStore::Open(const std::string& fileName) {
    Close();
    path_.clear();
    size_ = 0;
    try {
        const uint64_t available = platform::System().AvailablePhysicalMemory();
        if (!fileName.empty() && fileName.back() == '\\')
            return;
        const int64_t size = platform::Files().FileSize(fileName);
        if (size < 0)
            throw LoadFailure(fileName);
        if (!strings::AdmitToScan(fileName, size, scanner::ScanLimit(), available,
                                  kReaderMemoryFactor))
            return;
        // Offsets in the file are signed 32-bit: a longer file cannot be a store.
        if (size > std::numeric_limits<int32_t>::max())
            throw OverflowError("CString::append");
        file_ = platform::Files().OpenForReading(fileName);
        if (!file_)
            throw LoadFailure(fileName);
        if (Tracing()) {
            ConsoleLog("Get file_handle");
            ConsoleLog("CString::append");
        }
        path_ = fileName;
        size_ = size;
        if (Tracing())
            ConsoleLog("End of loadBinary.  No Exceptions");
    } catch (...) {
        ConsoleLog(ErrorLine("loadBinary", DescribeCurrentException()));
        Close();
        path_.clear();
        size_ = 0;
    }
}

bool DbxStore::ReadElsewhere(int32_t first, int32_t last, std::string& scratch,
                             std::string_view& bytes) {
    if (first >= 1 && last >= first && last <= size_) {
        const size_t n = static_cast<size_t>(last) - static_cast<size_t>(first) + 1;
        if (const char* p = InOneBlock(first - 1, n)) {
            bytes = std::string_view(p, n);
            return true;
        }
        scratch.resize(n);
        if (Fetch(first - 1, n, scratch.data())) {
            bytes = scratch;
            return true;
        }
    }
    ConsoleLog("CString::getBytes Error " + std::to_string(err::kCollection) +
               " : Index out of bounds");
    return false;
}

const char* DbxStore::InOneBlock(int64_t offset, size_t n) {
    const int64_t start = offset - offset % kBlockSize;
    const int64_t end = offset + static_cast<int64_t>(n);
    if (end > start + kBlockSize)
        return nullptr;
    if (last_ == nullptr || last_->start != start) {
        if (!Reopen())
            return nullptr;
        SetWindow(Load(start));
    }
    if (last_ == nullptr || last_->valid < end - start)
        return nullptr;
    return last_->bytes.get() + (offset - start);
}

bool DbxStore::Reopen() {
    if (file_)
        return true;
    if (path_.empty())
        return false;
    file_ = platform::Files().OpenForReading(path_);
    return file_ != nullptr;
}

bool DbxStore::Fetch(int64_t offset, size_t n, char* out) {
    if (!Reopen())
        return false;
    if (static_cast<int64_t>(n) > 2 * kBlockSize)
        return file_->ReadAt(offset, out, n) == static_cast<int64_t>(n);
    while (n > 0) {
        const int64_t start = offset - offset % kBlockSize;
        Block* b = Load(start);
        const int64_t at = offset - start;
        const size_t piece =
            static_cast<size_t>(std::min<int64_t>(static_cast<int64_t>(n), kBlockSize - at));
        if (b == nullptr || b->valid < at + static_cast<int64_t>(piece))
            return false;
        std::memcpy(out, b->bytes.get() + at, piece);
        out += piece;
        offset += static_cast<int64_t>(piece);
        n -= piece;
    }
    return true;
}

DbxStore::Block* DbxStore::Load(int64_t start) {
    if (!blocks_)
        blocks_ = std::make_unique<Block[]>(kBlocks);
    Block* victim = &blocks_[0];
    for (int i = 0; i < kBlocks; ++i) {
        Block& b = blocks_[i];
        if (b.start == start) {
            b.used = ++clock_;
            return &b;
        }
        if (b.used < victim->used)
            victim = &b;
    }
    if (victim == last_)
        SetWindow(nullptr);  // its bytes are about to change
    if (!victim->bytes)
        victim->bytes.reset(new char[kBlockSize]);  // filled by the read, never zeroed
    const int64_t want = std::min<int64_t>(kBlockSize, size_ - start);
    const int64_t got = file_->ReadAt(start, victim->bytes.get(), static_cast<size_t>(want));
    if (got < 0) {
        victim->start = -1;
        return nullptr;
    }
    victim->start = start;
    victim->valid = got;
    victim->used = ++clock_;
    return victim;
}

}  // namespace qb::oe
