// conf\oesent and the address database, written so that each sent message is
// counted exactly once whatever moment a run is killed at.
//
// The database is saved before conf\oesent says its messages are counted, so
// a kill between the two would have the next run count them again. The
// pending file conf\oesent.pending closes that window: it is written (synced)
// before the save and holds the new conf\oesent content and a fingerprint of
// the database file as it was before the save. A run finding one at its start
// knows from the database file whether the save took place: changed, the
// counts are in and conf\oesent gets the pending content; unchanged, they are
// not and the pending file is dropped, so this run counts them.
//
// The pending file's layout (CR LF after each of the three header lines):
//   oesent.pending 1
//   database <size> <hash>      or   database missing
//   oesent <size> <hash>
//   <the new content of conf\oesent, exactly size bytes>
// sizes in decimal, hashes as 16 hex digits (FNV-1a, 64 bits).
#include <cinttypes>
#include <cstdio>

#include "common/Hash.h"
#include "platform/FileSystem.h"
#include "platform/Platform.h"
#include "scanner/driver/AddressDatabase.h"
#include "scanner/driver/Driver.h"
#include "scanner/lists/FileList.h"

namespace qb::driver {

namespace {

std::string Magic(const std::string& name) {
    return name + ".pending 1";
}

std::string ConfPath(const std::string& name) {
    return ProgramFolder() + "\\conf\\" + name;
}

std::string Fingerprint(std::string_view bytes) {
    return std::to_string(bytes.size()) + " " + hash::Fnv1aHex(bytes);
}

// The database file's fingerprint as it is now: "missing" when there is no
// file; empty when there is one that cannot be read (no fingerprint can tell
// a save then, and none is recorded).
std::string DatabaseFingerprint() {
    const std::string path = ConfPath("quellboxaddr.bin");
    if (platform::Files().Kind(path) == platform::PathKind::kMissing)
        return "missing";
    std::string bytes;
    if (!platform::Files().ReadFile(path, bytes))
        return {};
    return Fingerprint(bytes);
}

// Takes the next CR LF-ended line off rest; false when there is none.
bool TakeLine(std::string_view& rest, std::string_view& line) {
    const size_t end = rest.find("\r\n");
    if (end == std::string_view::npos)
        return false;
    line = rest.substr(0, end);
    rest.remove_prefix(end + 2);
    return true;
}

struct Pending {
    std::string database;  // the fingerprint recorded before the save
    std::string_view content;
};

// Parses a pending file; false when it is damaged in any way (a wrong
// header, a content whose size or hash differs from the recorded one).
bool Parse(const std::string& name, std::string_view text, Pending& out) {
    std::string_view magic, database, content;
    if (!TakeLine(text, magic) || !TakeLine(text, database) || !TakeLine(text, content))
        return false;
    constexpr std::string_view kDatabase = "database ";
    const std::string kContent = name + " ";
    if (magic != Magic(name) || database.substr(0, kDatabase.size()) != kDatabase ||
        content.substr(0, kContent.size()) != kContent)
        return false;
    database.remove_prefix(kDatabase.size());
    content.remove_prefix(kContent.size());
    if (database.empty() || content != Fingerprint(text))
        return false;
    out.database = std::string(database);
    out.content = text;
    return true;
}

// Removes the pending file. One that cannot be deleted is emptied, which
// reads as nothing pending, so it cannot be applied a second time later.
void DropPending(const std::string& name) {
    const std::string path = ConfPath(name + ".pending");
    if (!platform::Files().DeleteFile(path) && platform::Files().FileSize(path) > 0)
        platform::Files().ReplaceFile(path, "", platform::Durability::kSynced);
}

}  // namespace

void ResolvePendingSentState(const std::string& name) {
    const std::string path = ConfPath(name + ".pending");
    if (platform::Files().Kind(path) == platform::PathKind::kMissing)
        return;
    std::string text;
    const bool read = platform::Files().ReadFile(path, text);
    Pending pending;
    if (read && text.empty()) {
        // Emptied by a run that could not delete it: nothing pending.
    } else if (!read || !Parse(name, text, pending)) {
        // Without its content nothing can be completed; the messages it
        // held are counted again rather than lost. (So too, below, when the
        // database file cannot be read now: no save can be told.)
        ConsoleLog("conf\\" + name +
                   ".pending could not be read; its Sent Items messages will be counted again.");
    } else if (const std::string now = DatabaseFingerprint();
               !now.empty() && now != pending.database) {
        // The save took place: the counts are in the database, so
        // conf\oesent must record their messages. An existing conf\oesent
        // that cannot be read is not replaced (the scan then leaves it too).
        const std::string sent = ConfPath(name);
        std::string old;
        const bool readable = platform::Files().Kind(sent) == platform::PathKind::kMissing ||
                              platform::Files().ReadFile(sent, old);
        if (readable &&
            !platform::Files().ReplaceFile(sent, pending.content, platform::Durability::kSynced))
            ConsoleLog("Unable to update conf\\" + name + ".");
    }
    DropPending(name);
}

bool SaveSentStateWithDatabase(lists::FileList& sent, const std::string& name) {
    // Nothing counted since the last save: the counts conf\oesent claims are
    // already on disk, and no window needs closing.
    if (!AddrLib().Unsaved()) {
        sent.Save();
        return true;
    }
    const std::string content = sent.Content();
    const std::string database = DatabaseFingerprint();
    const std::string pendingPath = ConfPath(name + ".pending");
    // Without a fingerprint or a pending file the old order stays: database
    // first, then conf\oesent (a kill between the two counts once more).
    const bool pending =
        !database.empty() &&
        platform::Files().ReplaceFile(pendingPath,
                                      Magic(name) + "\r\ndatabase " + database + "\r\n" + name +
                                          " " + Fingerprint(content) + "\r\n" + content,
                                      platform::Durability::kSynced);
    if (!SaveAddressDatabase()) {
        if (pending)
            DropPending(name);
        return false;
    }
    sent.Save();
    if (pending)
        DropPending(name);
    return true;
}

}  // namespace qb::driver
