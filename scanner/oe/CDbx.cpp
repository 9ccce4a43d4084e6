#include "scanner/oe/CDbx.h"

#include <algorithm>
#include <cstring>
#include <unordered_set>

#include "common/Report.h"
#include "common/RunError.h"
#include "strings/ScannerCString.h"

namespace qb::oe {

namespace {

using report::ConsoleLog;
using report::Tracing;

// Signature words of the two kinds of file.
constexpr uint32_t kSig0 = 0xFE12ADCF;
constexpr uint32_t kSigEmail1 = 0x6F74FDC5;
constexpr uint32_t kSigFolder1 = 0x6F74FDC6;
constexpr uint32_t kSig2 = 0x11D1E366;
constexpr uint32_t kSig3 = 0xC0004E9A;

// Places in the file header, the index node, the record and the body block.
constexpr int32_t kCountOffset = 0xC4;
constexpr int32_t kRootOffset = 0xE4;
constexpr int32_t kNodeHeaderSize = 0x18;
constexpr int32_t kEntrySize = 12;
constexpr int32_t kRecordHeaderSize = 12;
constexpr int32_t kBlockHeaderSize = 16;

int32_t Add(int32_t a, int32_t b) {
    int32_t r;
    if (__builtin_add_overflow(a, b, &r))
        throw OverflowError("CDbx");
    return r;
}

RunError Numbered(int32_t number) {
    // The reader's four own failure numbers carry no description.
    return RunError(number, "CDbx", "");
}
RunError ReadOutside() {
    return RunError(dbx_err::kReadOutside, "CDbx", "Read outside the file");
}

}  // namespace

std::string MailDateText(uint64_t ticks) {
    int64_t year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
    if (ticks <= 0x7FFFFFFFFFFFFFFFull) {
        const int64_t seconds = static_cast<int64_t>(ticks / 10000000ull);
        const int64_t days = seconds / 86400;
        const int64_t rest = seconds % 86400;
        hour = rest / 3600;
        minute = rest / 60 % 60;
        second = rest % 60;
        // Civil date from a day number (days since 0000-03-01 based era arithmetic).
        const int64_t z = days - 134774 + 719468;  // 134774: days from 1601-01-01 to 1970-01-01
        const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
        const int64_t doe = z - era * 146097;
        const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
        const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
        const int64_t mp = (5 * doy + 2) / 153;
        day = doy - (153 * mp + 2) / 5 + 1;
        month = mp < 10 ? mp + 3 : mp - 9;
        year = yoe + era * 400 + (month <= 2 ? 1 : 0);
    }
    // Written digit by digit into a buffer, made a string once: this runs
    // once per message of a large file.
    char buffer[96];  // 5 numbers of up to 19 digits and their separators
    char* p = buffer;
    auto put = [&p](int64_t value, int digits, char after) {
        char d[24];
        int n = 0;
        do {
            d[n++] = static_cast<char>('0' + value % 10);
            value /= 10;
        } while (value > 0);
        for (int pad = n; pad < digits; ++pad)
            *p++ = '0';
        while (n > 0)
            *p++ = d[--n];
        if (after)
            *p++ = after;
    };
    put(year, 4, '-');
    put(month, 2, '-');
    put(day, 2, ' ');
    put(hour, 2, ':');
    put(minute, 2, ':');
    put(second, 2, 0);
    return std::string(buffer, static_cast<size_t>(p - buffer));
}

CDbx::CDbx() = default;
CDbx::~CDbx() = default;

bool CDbx::Read(int32_t pos, int32_t n, std::string& scratch, std::string_view& bytes) {
    const int32_t first = Add(pos, 1);
    const int32_t last = Add(pos, n);
    if (!opened_)
        return false;
    return store_.Read(first, last, scratch, bytes);
}

bool CDbx::openFile(const std::string& sFileName, bool fRetrieveBody) {
    // The file stays open only while the records are read.
    struct Closing {
        DbxStore& store;
        ~Closing() { store.Close(); }
    } closing{store_};
    try {
        opened_ = true;
        store_.Open(sFileName);

        std::string_view signature;
        if (!Read(0, 16, scratch_, signature))
            throw ReadOutside();
        if (Tracing()) {
            ConsoleLog("Len(signature) = " + std::to_string(signature.size()));
            ConsoleLog("sig(0) = " + std::to_string(static_cast<unsigned char>(signature[0])));
            ConsoleLog("Done with CopyMemory");
        }
        const ByteSpan sig(signature);
        const uint32_t w0 = sig.UWord(0), w1 = sig.UWord(4);
        const uint32_t w2 = sig.UWord(8), w3 = sig.UWord(12);
        const bool tail = w2 == kSig2 && w3 == kSig3;
        if (w0 == kSig0 && w1 == kSigEmail1 && tail) {
            fileType_ = dbxTypeEmail;
            if (Tracing())
                ConsoleLog("dbxTypeEmail");
        } else if (w0 == kSig0 && w1 == kSigFolder1 && tail) {
            fileType_ = dbxTypeFolder;
            if (Tracing())
                ConsoleLog("dbxTypeFolder");
        } else if (w0 == kSig0 && w1 == kSigFolder1) {
            if (Tracing())
                ConsoleLog("dbxTypeVoid");
            fileType_ = dbxTypeVoid;
            throw Numbered(dbx_err::kBadFile);
        } else {
            if (Tracing())
                ConsoleLog("dbxErrBadFile");
            throw Numbered(dbx_err::kBadFile);
        }
        fileName_ = sFileName;

        getIndexes();

        recordBudget_ = FileSize();
        bodyBudget_ = FileSize();
        const int32_t count = indexCount_;
        // Room for the messages at once, as many as a file of real messages
        // can hold (a message takes far more than 256 bytes with its body);
        // a count that only a broken file gives lets the room grow as
        // messages actually come.
        if (fileType_ == dbxTypeEmail)
            emails_.Reserve(static_cast<size_t>(emails_.Count()) +
                            std::min({static_cast<size_t>(std::max(count, 0)), slots_.size(),
                                      static_cast<size_t>(FileSize() / 256)}));
        for (int32_t i = 0; i < count; ++i) {
            // Slots exist only when the walk could make them (a count the file
            // cannot hold gets none).
            if (static_cast<size_t>(i) >= slots_.size())
                throw RunError(err::kSubscript, "CDbx", "Subscript out of range");
            if (!getItem(slots_[static_cast<size_t>(i)], fileType_, fRetrieveBody))
                throw RunError(itemFailure_, "CDbx", itemFailureText_);
            if (fileType_ == dbxTypeEmail)
                emails_.AddFields(mail_);
            else
                folders_.Add(folder_, "F_" + std::to_string(folder_->Id()));
        }
        errNo_ = 0;
        if (Tracing())
            ConsoleLog("No Exceptions");
        return true;
    } catch (...) {
        ConsoleLog(ErrorLine("openFile", DescribeCurrentException()));
        errNo_ = 1;
        return false;
    }
}

bool CDbx::getIndexes() {
    try {
        if (Tracing())
            ConsoleLog("getIndexes");
        std::string_view word;
        if (!Read(kRootOffset, 4, scratch_, word))
            throw ReadOutside();
        rootPointer_ = ByteSpan(word).Word(0);
        if (!Read(kCountOffset, 4, scratch_, word))
            throw ReadOutside();
        const int32_t count = ByteSpan(word).Word(0);
        indexCount_ = count;
        std::vector<int32_t>().swap(slots_);
        if (count < 0)
            throw RunError(err::kSubscript, "CDbx", "Subscript out of range");
        // Every entry takes 12 bytes of the file, so a well-formed file never
        // counts more records than that; a larger count gets no slots at all.
        if (count > FileSize() / kEntrySize)
            throw RunError(err::kOutOfMemory, "CDbx", "Out of memory");
        slots_.assign(static_cast<size_t>(count) + 1, 0);
        // Offset 0 is the file header, never a node: an empty file (root 0)
        // has no tree to walk, and walking its header would only report a
        // read outside the file on every open of an empty folder.
        if (rootPointer_ != 0)
            getIndexNode(rootPointer_);
        indexCount_ = count;
        errNo_ = 0;
        return true;
    } catch (...) {
        ConsoleLog(ErrorLine("getIndexes", DescribeCurrentException()));
        errNo_ = 3;
        return false;
    }
}

// Walks the subtree at root in order: a node's first child, then each entry
// followed by that entry's child, storing each entry's record offset in the
// next free slot from the top down. A failure inside a node (a read outside
// the file, an overflow, no free slot) ends that node only; its parent goes
// on with its next entry.
//
// The walk keeps its own stack, so a deep tree cannot exhaust the machine's
// stack, and it ends on any input: a child that is already open on the
// current path (a pointer back into an ancestor) is not walked again, and the
// walk stops once it has read as many node bytes as the file holds, which a
// tree of non-overlapping nodes never does.
void CDbx::getIndexNode(int32_t root) {
    struct Frame {
        int32_t pos;
        int32_t entries;
        int32_t next;  // the next entry to read; -1 while the first child is still due
        int32_t firstChild;
        int32_t underFirst;
    };
    std::vector<Frame> stack;
    std::unordered_set<int32_t> open;
    int64_t budget = FileSize();
    std::string_view bytes;

    // Reads the node header at pos and puts the node on the stack.
    auto enter = [&](int32_t pos) {
        errNo_ = 3;
        if (open.count(pos))
            return;
        budget -= kNodeHeaderSize;
        try {
            if (budget < 0 || !Read(pos, kNodeHeaderSize, scratch_, bytes))
                return;
        } catch (const RunError&) {
            return;
        }
        const ByteSpan header(bytes);
        stack.push_back({pos, static_cast<int32_t>(header.Byte(0x11)), -1, header.Word(0x08),
                         header.Word(0x14)});
        open.insert(pos);
    };
    auto leave = [&] {
        open.erase(stack.back().pos);
        stack.pop_back();
    };

    enter(root);
    while (!stack.empty()) {
        Frame& node = stack.back();
        if (node.next < 0) {
            node.next = 0;
            if (node.underFirst > 0)
                enter(node.firstChild);
            continue;
        }
        if (node.next >= node.entries) {
            errNo_ = 0;
            leave();
            continue;
        }
        const int32_t k = node.next++;
        bool read = false;
        try {
            const int32_t at = Add(Add(node.pos, kNodeHeaderSize), kEntrySize * k);
            budget -= kEntrySize;
            read = budget >= 0 && Read(at, kEntrySize, scratch_, bytes);
        } catch (const RunError&) {
            read = false;
        }
        if (!read) {
            leave();
            continue;
        }
        if (indexCount_ == 0) {
            // No free slot: this entry and everything after it are not stored.
            errNo_ = 5;
            leave();
            continue;
        }
        const ByteSpan entry(bytes);
        --indexCount_;
        slots_[static_cast<size_t>(indexCount_)] = entry.Word(0);
        if (entry.Word(8) > 0)
            enter(entry.Word(4));
    }
}

// Reads the record at pos: a message into mail_ when fileKind is the message
// kind, a CFolder into folder_ otherwise. False on failure, with the failure
// kept for openFile.
bool CDbx::getItem(int32_t pos, int32_t fileKind, bool fRetrieveBody) {
    errNo_ = 3;
    const bool email = fileKind == dbxTypeEmail;
    try {
        if (email)
            mail_.Clear();
        else
            folder_ = std::make_shared<CFolder>();

        std::string_view bytes;
        if (!Read(pos, kRecordHeaderSize, scratch_, bytes))
            throw Numbered(dbx_err::kBadHeader);
        const ByteSpan header(bytes);
        const int32_t length = header.Word(4);
        const int32_t fields = static_cast<int32_t>(header.Byte(0x0A));
        if (length < 0) {
            errNo_ = 7;
            throw Numbered(dbx_err::kBadData);
        }
        bytes = {};
        if (length > 0 && !Read(Add(pos, kRecordHeaderSize), length, scratch_, bytes)) {
            errNo_ = 7;
            throw Numbered(dbx_err::kBadData);
        }
        // The texts point into the data area until the message is stored;
        // reading a body in between would overwrite the cache under them.
        if (email && fRetrieveBody) {
            data_.assign(bytes);
            bytes = data_;
        }
        // Records of a well-formed file do not overlap, so together they never
        // hold more bytes than the file; slots that name the same bytes over
        // and over end here instead of multiplying the file in memory.
        recordBudget_ -= static_cast<int64_t>(kRecordHeaderSize) + length;
        if (recordBudget_ < 0)
            throw RunError(dbx_err::kOverlap, "CDbx", "Records hold more bytes than the file");

        const ByteSpan data(bytes);
        if (email)
            mail_.dataOffset = -1;
        const int64_t values = 4 * static_cast<int64_t>(fields);
        for (int32_t k = 0; k < fields; ++k) {
            if (4 * k + 4 > length)
                throw RunError(dbx_err::kValueOutside, "CDbx",
                               "Field entry outside the record's data area");
            const uint32_t word = data.UWord(4 * k);
            const int32_t id = static_cast<int32_t>(word & 0xFF);
            const int32_t v = static_cast<int32_t>(word >> 8);
            const int64_t loc = values + v;
            if (email) {
                MailFields& m = mail_;
                const auto keep = [&](MailFields::Text k) {
                    if (keptTexts_ & TextBit(k))
                        m.text[k] = data.String(loc);
                };
                switch (id) {
                    case 0x01:
                        m.flag = static_cast<int32_t>(data.Byte(loc));
                        break;
                    case 0x04:
                        m.dataOffset = data.Word(loc);
                        break;
                    case 0x05:
                        keep(MailFields::kOrigSubject);
                        break;
                    case 0x07:
                        keep(MailFields::kMessageID);
                        break;
                    case 0x08:
                        keep(MailFields::kSubject);
                        break;
                    case 0x0A:
                        keep(MailFields::kParentMessageID);
                        break;
                    case 0x0C:
                        keep(MailFields::kFetchServer);
                        break;
                    case 0x0D:
                        keep(MailFields::kSenderName);
                        break;
                    case 0x0E:
                        keep(MailFields::kSenderEMail);
                        break;
                    case 0x12:
                        m.date = data.Quad(loc);
                        break;
                    case 0x13:
                        keep(MailFields::kRecipientName);
                        break;
                    case 0x14:
                        keep(MailFields::kRecipientEMail);
                        break;
                    case 0x1A:
                        keep(MailFields::kAccountName);
                        break;
                    case 0x1B:
                        keep(MailFields::kAccountNumber);
                        break;
                    case 0x80:
                        m.id = v;
                        break;
                    case 0x81:
                        m.flag = v;
                        break;
                    case 0x84:
                        m.dataOffset = v;
                        break;
                    default:
                        break;  // 0x02, 0x06, 0x09, 0x0B, 0x16, 0x1C, 0x90, 0x91 and the rest
                }
            } else {
                CFolder& f = *folder_;
                switch (id) {
                    case 0x02:
                        f.SetName(std::string(data.String(loc)));
                        break;
                    case 0x03:
                        f.SetFileName(std::string(data.String(loc)));
                        break;
                    case 0x80:
                        f.SetId(v);
                        break;
                    case 0x81:
                        f.SetParentId(v);
                        break;
                    case 0x09:  // read only when it lies inside: no field a
                                // folder record had before makes it fail
                        f.SetFolderKind(loc + 4 <= data.Size() ? data.Word(loc) : 0);
                        break;
                    case 0x89:
                        f.SetFolderKind(v);
                        break;
                    case 0x0A:
                        f.SetStoreType(loc + 4 <= data.Size() ? data.Word(loc) : 0);
                        break;
                    case 0x8A:
                        f.SetStoreType(v);
                        break;
                    default:
                        break;  // 0x86, 0x87, 0x88, 0x8B and the rest
                }
            }
        }
        if (email && fRetrieveBody) {
            body_ = ReadBody(mail_.dataOffset, bodyBudget_);
            mail_.body = body_;
        }
        errNo_ = 0;
        return true;
    } catch (...) {
        const ErrorInfo info = DescribeCurrentException();
        itemFailure_ = info.number;
        itemFailureText_ = info.description;
        return false;
    }
}

std::string CDbx::getBody(int32_t pos) {
    int64_t budget = FileSize();
    std::string body = ReadBody(pos, budget);
    // The file was opened again for this body only.
    store_.Close();
    return body;
}

// Follows the block chain from pos. The blocks of one body do not overlap in
// a well-formed file, so a chain that has read more bytes than the budget
// (the file's size; in openFile one budget for all its bodies) points back
// into itself or into another body, and fails.
std::string CDbx::ReadBody(int32_t pos, int64_t& budget) {
    errNo_ = 7;
    std::string body;
    try {
        while (pos != 0) {
            std::string_view bytes;
            if (!Read(pos, kBlockHeaderSize, scratch_, bytes))
                return {};
            const ByteSpan header(bytes);
            const int32_t size = header.Short(8);
            const int32_t next = header.Word(0x0C);
            if (size < 0)
                return {};
            budget -= kBlockHeaderSize + size;
            if (budget < 0)
                return {};
            if (size > 0) {
                if (!Read(Add(pos, kBlockHeaderSize), size, scratch_, bytes))
                    return {};
                body += bytes;
            }
            pos = next;
        }
    } catch (...) {
        return {};
    }
    errNo_ = 0;
    return body;
}

}  // namespace qb::oe
