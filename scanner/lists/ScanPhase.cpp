#include "scanner/lists/ScanPhase.h"

#include <algorithm>
#include <charconv>
#include <optional>
#include <string_view>

#include "common/Hash.h"
#include "platform/Clock.h"
#include "platform/FileSystem.h"
#include "platform/Platform.h"
#include "scanner/lists/AddressList.h"

namespace qb::lists {

namespace {

constexpr std::string_view kMagic = "scanphase 1\r\n";
constexpr std::string_view kEnd = "end ";
constexpr std::string_view kNewLine = "\r\n";

// Set for the rest of the run when a record could not be put back.
bool gListsHeld = false;

int64_t gWriteInterval = ScanPhase::kMaxWriteIntervalMs;

std::string FolderOf(const std::string& path) {
    const size_t cut = path.find_last_of("\\/");
    return cut == std::string::npos ? std::string() : path.substr(0, cut + 1);
}

// One file as the record holds it.
struct Entry {
    std::string name;
    std::optional<std::string> content;  // none: the file did not exist
};

struct Record {
    std::string phase;
    std::vector<Entry> entries;
};

// Takes text up to the next CR LF off the front of rest.
std::optional<std::string_view> TakeLine(std::string_view& rest) {
    const size_t end = rest.find(kNewLine);
    if (end == std::string_view::npos)
        return std::nullopt;
    const std::string_view line = rest.substr(0, end);
    rest.remove_prefix(end + kNewLine.size());
    return line;
}

bool TakePrefix(std::string_view& text, std::string_view prefix) {
    if (text.substr(0, prefix.size()) != prefix)
        return false;
    text.remove_prefix(prefix.size());
    return true;
}

// A name the record may hold: one file of the record's own folder.
bool PlainName(std::string_view name) {
    return !name.empty() && name != "." && name != ".." &&
           name.find_first_of("\\/:\r\n") == std::string_view::npos;
}

// The record read back; nothing when it fails any check.
std::optional<Record> ParseRecord(std::string_view bytes) {
    const size_t endLine = bytes.rfind(kEnd);
    if (endLine == std::string_view::npos || bytes.substr(0, kMagic.size()) != kMagic)
        return std::nullopt;
    std::string_view tail = bytes.substr(endLine + kEnd.size());
    if (tail != hash::Fnv1aHex(bytes.substr(0, endLine)) + std::string(kNewLine))
        return std::nullopt;
    std::string_view rest = bytes.substr(kMagic.size(), endLine - kMagic.size());
    Record record;
    std::optional<std::string_view> line = TakeLine(rest);
    if (!line || !TakePrefix(*line, "phase "))
        return std::nullopt;
    record.phase = std::string(*line);
    while (!rest.empty()) {
        line = TakeLine(rest);
        if (!line)
            return std::nullopt;
        Entry entry;
        if (TakePrefix(*line, "absent ")) {
            entry.name = std::string(*line);
        } else if (TakePrefix(*line, "file ")) {
            size_t size = 0;
            const char* first = line->data();
            const char* last = first + line->size();
            const auto [stop, error] = std::from_chars(first, last, size);
            if (error != std::errc() || stop == last || *stop != ' ' ||
                size > rest.size() - std::min(rest.size(), kNewLine.size()) ||
                rest.substr(size, kNewLine.size()) != kNewLine)
                return std::nullopt;
            entry.name = std::string(stop + 1, last);
            entry.content = std::string(rest.substr(0, size));
            rest.remove_prefix(size + kNewLine.size());
        } else {
            return std::nullopt;
        }
        if (!PlainName(entry.name))
            return std::nullopt;
        record.entries.push_back(std::move(entry));
    }
    return record;
}

std::string Serialize(const Record& record) {
    std::string out(kMagic);
    out += "phase " + record.phase + std::string(kNewLine);
    for (const Entry& entry : record.entries) {
        if (!entry.content) {
            out += "absent " + entry.name + std::string(kNewLine);
            continue;
        }
        out += "file " + std::to_string(entry.content->size()) + " " + entry.name +
               std::string(kNewLine);
        out += *entry.content;
        out += kNewLine;
    }
    out += std::string(kEnd) + hash::Fnv1aHex(out) + std::string(kNewLine);
    return out;
}

// Empties the record on the disk (synced: an empty record means no phase is
// unfinished, also when the removal after it is lost), then removes it.
bool Retire(const std::string& recordPath) {
    platform::FileSystem& fs = platform::Files();
    if (!fs.ReplaceFile(recordPath, "", platform::Durability::kSynced))
        return false;
    fs.DeleteFile(recordPath);
    return true;
}

}  // namespace

ScanPhase::ScanPhase(std::string recordPath, std::string name, std::vector<AddressList*> lists)
    : recordPath_(std::move(recordPath)),
      name_(std::move(name)),
      lastWrite_(platform::Time().Milliseconds()) {
    for (AddressList* list : lists) {
        lists_.push_back({list});
        list->phase_ = this;
    }
}

ScanPhase::~ScanPhase() {
    try {
        WriteWaiting(false);
    } catch (...) {
        // The record, when there is one, still holds the files as they were
        // before the phase; without one nothing of the phase was written.
    }
    for (Bound& bound : lists_)
        bound.list->phase_ = nullptr;
}

void ScanPhase::SetWriteInterval(int64_t milliseconds) {
    gWriteInterval = std::clamp<int64_t>(milliseconds, 0, kMaxWriteIntervalMs);
}

int64_t ScanPhase::WriteInterval() {
    return gWriteInterval;
}

ScanPhase::Bound& ScanPhase::Find(const AddressList& list) {
    return *std::find_if(lists_.begin(), lists_.end(),
                         [&list](const Bound& b) { return b.list == &list; });
}

void ScanPhase::BeforeChange(bool addition) {
    const Kind kind = addition ? Kind::kAdditions : Kind::kRemovals;
    if (batch_ != Kind::kNone && batch_ != kind)
        WriteWaiting(false);
    batch_ = kind;
}

void ScanPhase::AfterChange(const AddressList& list) {
    Find(list).waiting = true;
    WriteIfDue();
}

void ScanPhase::WriteIfDue() {
    if (batch_ != Kind::kNone && platform::Time().Milliseconds() - lastWrite_ >= gWriteInterval)
        WriteWaiting(false);
}

void ScanPhase::Save(const AddressList& list) {
    WriteWaiting(true);
    Bound& bound = Find(list);
    if (bound.written && !bound.unsynced)
        return;
    bound.list->Write(platform::Durability::kSynced);
    bound.written = true;
    bound.unsynced = false;
}

void ScanPhase::WriteWaiting(bool synced) {
    if (batch_ == Kind::kNone)
        return;
    if (!synced && !RecordWritten())
        synced = true;
    lastWrite_ = platform::Time().Milliseconds();
    const auto write = [synced](Bound& bound) {
        if (!bound.waiting)
            return;
        bound.list->Write(synced ? platform::Durability::kSynced
                                 : platform::Durability::kAtomicOnly);
        bound.waiting = false;
        bound.unsynced = !synced;
        bound.written = true;
    };
    if (batch_ == Kind::kAdditions)
        std::for_each(lists_.begin(), lists_.end(), write);
    else
        std::for_each(lists_.rbegin(), lists_.rend(), write);
    batch_ = Kind::kNone;
}

bool ScanPhase::RecordWritten() {
    if (state_ != State::kNotWritten)
        return state_ == State::kWritten;
    state_ = State::kRefused;
    platform::FileSystem& fs = platform::Files();
    const std::string folder = FolderOf(recordPath_);
    Record record{name_, {}};
    for (const Bound& bound : lists_) {
        const std::string& path = bound.list->FileLocation();
        if (path.size() <= folder.size() || path.compare(0, folder.size(), folder) != 0 ||
            !PlainName(std::string_view(path).substr(folder.size())))
            return false;
        Entry entry{path.substr(folder.size()), std::nullopt};
        if (fs.Kind(path) != platform::PathKind::kMissing) {
            std::string content;
            if (!fs.ReadFile(path, content))
                return false;
            entry.content = std::move(content);
        }
        record.entries.push_back(std::move(entry));
    }
    if (!fs.ReplaceFile(recordPath_, Serialize(record), platform::Durability::kSynced))
        return false;
    state_ = State::kWritten;
    return true;
}

void ScanPhase::Finish() {
    WriteWaiting(true);
    for (Bound& bound : lists_) {
        if (bound.unsynced) {
            bound.list->Write(platform::Durability::kSynced);
            bound.unsynced = false;
        }
    }
    if (state_ == State::kWritten && Retire(recordPath_))
        state_ = State::kNotWritten;
}

bool ScanPhase::ListsWritable() {
    return !gListsHeld;
}

PhaseRecovery RecoverUnfinishedPhase(const std::string& recordPath) {
    platform::FileSystem& fs = platform::Files();
    PhaseRecovery result;
    gListsHeld = false;
    if (fs.Kind(recordPath) == platform::PathKind::kMissing)
        return result;
    std::string bytes;
    const bool read = fs.ReadFile(recordPath, bytes);
    if (read && bytes.empty()) {
        fs.DeleteFile(recordPath);
        return result;
    }
    const std::optional<Record> record = read ? ParseRecord(bytes) : std::nullopt;
    if (!record) {
        // Nothing in it can be trusted: the files stay as they are. The
        // record is kept aside for a look, out of the way of the next phase.
        result.outcome = PhaseRecovery::Outcome::kDamaged;
        if (read && fs.ReplaceFile(recordPath + ".damaged", bytes))
            fs.DeleteFile(recordPath);
        return result;
    }
    result.phase = record->phase;
    const std::string folder = FolderOf(recordPath);
    // Removals first, made durable before anything else: the record may be
    // retired only once a cut can no longer bring back a file it removes
    // (and a record that names no file to write has no synced rewrite that
    // would carry them to the disk).
    bool ok = true, removed = false;
    for (const Entry& entry : record->entries) {
        const std::string path = folder + entry.name;
        if (!entry.content && fs.Kind(path) != platform::PathKind::kMissing) {
            ok = fs.DeleteFile(path) && ok;
            removed = true;
        }
    }
    if (removed)
        ok = fs.SyncFolder(folder) && ok;
    for (const Entry& entry : record->entries) {
        if (entry.content)
            ok = fs.ReplaceFile(folder + entry.name, *entry.content,
                                platform::Durability::kSynced) &&
                 ok;
    }
    if (!ok || !Retire(recordPath)) {
        gListsHeld = true;
        result.outcome = PhaseRecovery::Outcome::kNotRestored;
        return result;
    }
    result.outcome = PhaseRecovery::Outcome::kRestored;
    return result;
}

}  // namespace qb::lists
