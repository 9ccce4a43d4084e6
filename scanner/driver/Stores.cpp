#include "scanner/driver/Stores.h"

#include <algorithm>
#include <cstdio>

#include "common/CivilTime.h"
#include "common/Hash.h"
#include "common/Text.h"
#include "platform/Clock.h"
#include "platform/FileSystem.h"
#include "platform/Platform.h"
#include "scanner/config/Conf.h"
#include "scanner/driver/Driver.h"
#include "scanner/driver/Guard.h"
#include "scanner/driver/Harvest.h"
#include "scanner/eml/MailStores.h"

namespace qb::driver {

namespace {

constexpr std::string_view kMagic = "stores 1\r\n";

// Each kind's id and first state file names, in the order of StoreKind.
struct KindInfo {
    const char* id;
    const char* sent;
    const char* approve;
    const char* block;
};
constexpr KindInfo kKinds[] = {{"oe", "oesent", "oesas", "oesbs"},
                               {"wlm", "wlmsent", "wlmas", "wlmbs"},
                               {"wmail", "wmailsent", "wmailas", "wmailbs"}};
constexpr StoreKind kKindOf[] = {StoreKind::kOutlookExpress, StoreKind::kWindowsLiveMail,
                                 StoreKind::kWindowsMail};

const KindInfo& Info(StoreKind kind) {
    return kKinds[static_cast<int>(kind)];
}

std::string ProgramName(StoreKind kind) {
    if (kind == StoreKind::kOutlookExpress)
        return "Outlook Express";
    return eml::StoreName(kind == StoreKind::kWindowsMail ? eml::StoreKind::kWindowsMail
                                                          : eml::StoreKind::kWindowsLiveMail);
}

// One line of conf\stores.
struct Entry {
    StoreKind kind;
    std::string suffix;  // empty for the first store of its kind, else "-" and 8 hex digits
    std::string date;    // yyyy-mm-dd, the day it was last scanned
    std::string root;
};

struct Index {
    bool usable = true;  // false: conf\stores exists but could not be read
    std::vector<Entry> entries;
    std::vector<RunStore> run;
};

Index& TheIndex() {
    static Index index;
    return index;
}

std::string IndexPath() {
    return ProgramFolder() + "\\conf\\stores";
}

StoreState StateOf(const Entry& e) {
    const KindInfo& k = Info(e.kind);
    return {k.sent + e.suffix, k.approve + e.suffix, k.block + e.suffix};
}

// The entry of a kind's store at root, or of a kind's id suffix; nullptr
// when there is none.
Entry* Find(Index& index, StoreKind kind, const std::string* root, const std::string* suffix) {
    for (Entry& e : index.entries) {
        if (e.kind == kind &&
            ((root && text::EqualNoCase(e.root, *root)) || (suffix && e.suffix == *suffix)))
            return &e;
    }
    return nullptr;
}

// Days since 1970 of a "yyyy-mm-dd" text; -1 for any other text.
int64_t DayOf(const std::string& date) {
    int y = 0, m = 0, d = 0;
    char tail = 0;
    if (date.size() != 10 || std::sscanf(date.c_str(), "%4d-%2d-%2d%c", &y, &m, &d, &tail) != 3 ||
        m < 1 || m > 12 || d < 1 || d > 31)
        return -1;
    return civil::DaysFromCivil(y, m, d);
}

// Reads the index's text into index.entries; false when it is damaged (a
// wrong first line, a line that is no entry, one store or one id twice).
bool Parse(std::string_view text, Index& index) {
    if (text.empty())
        return true;  // emptied by hand: no store recorded yet
    if (text.substr(0, kMagic.size()) != kMagic)
        return false;
    text.remove_prefix(kMagic.size());
    while (!text.empty()) {
        const size_t end = text.find("\r\n");
        const size_t blank = text.find(' ');
        if (end == std::string_view::npos || blank > end || end < blank + 13 ||
            text[blank + 11] != ' ')
            return false;
        const std::string_view id = text.substr(0, blank);
        Entry entry{StoreKind::kOutlookExpress,
                    {},
                    std::string(text.substr(blank + 1, 10)),
                    std::string(text.substr(blank + 12, end - blank - 12))};
        text.remove_prefix(end + 2);
        // The id: a kind's, alone or with "-" and 8 lower-case hex digits.
        bool known = false;
        for (int k = 0; k < 3 && !known; ++k) {
            const std::string_view base = kKinds[k].id;
            const std::string_view suffix = id.substr(std::min(base.size(), id.size()));
            known = id.substr(0, base.size()) == base &&
                    (suffix.empty() ||
                     (suffix.size() == 9 && suffix[0] == '-' &&
                      suffix.find_first_not_of("0123456789abcdef", 1) == std::string_view::npos));
            entry.kind = kKindOf[k];
            entry.suffix = std::string(suffix);
        }
        if (!known || DayOf(entry.date) < 0 || Find(index, entry.kind, &entry.root, &entry.suffix))
            return false;
        index.entries.push_back(std::move(entry));
    }
    return true;
}

bool Write(const Index& index) {
    std::string text(kMagic);
    for (const Entry& e : index.entries)
        text += Info(e.kind).id + e.suffix + " " + e.date + " " + e.root + "\r\n";
    return platform::Files().ReplaceFile(IndexPath(), text, platform::Durability::kSynced);
}

// Today, local time, as yyyy-mm-dd.
std::string Today() {
    const platform::LocalTime now = platform::Time().Now();
    char date[32];
    std::snprintf(date, sizeof date, "%04d-%02d-%02d", now.year, now.month, now.day);
    return date;
}

}  // namespace

void LoadStoreIndex() {
    Index& index = TheIndex();
    index = Index();
    const std::string path = IndexPath();
    if (platform::Files().Kind(path) == platform::PathKind::kMissing)
        return;
    std::string text;
    if (!platform::Files().ReadFile(path, text) || !Parse(text, index)) {
        index.usable = false;
        index.entries.clear();
        ConsoleLog(kStoreIndexUnreadable);
    }
}

std::vector<StoreState> KnownStoreStates() {
    std::vector<StoreState> states;
    for (const KindInfo& k : kKinds)
        states.push_back({k.sent, k.approve, k.block});
    for (const Entry& e : TheIndex().entries) {
        if (!e.suffix.empty())
            states.push_back(StateOf(e));
    }
    return states;
}

std::vector<std::string> VerdictStateFiles(bool approve) {
    std::vector<std::string> names;
    for (StoreState& state : KnownStoreStates())
        names.push_back(std::move(approve ? state.approve : state.block));
    return names;
}

void RegisterRunStores(const std::string& oeRoot) {
    Index& index = TheIndex();
    index.run.clear();
    const std::string live = eml::StoreRoot(eml::StoreKind::kWindowsLiveMail);
    const std::string mail = eml::StoreRoot(eml::StoreKind::kWindowsMail);
    // Both programs pointed at one folder: it is one store, scanned once as
    // the Windows Live Mail store (its Sent Items would otherwise count twice).
    const std::string* roots[] = {&oeRoot, &live, text::EqualNoCase(mail, live) ? nullptr : &mail};
    for (int k = 0; k < 3; ++k) {
        if (!roots[k] || platform::Files().Kind(*roots[k]) != platform::PathKind::kFolder)
            continue;
        std::string root = *roots[k];
        while (root.size() > 1 && (root.back() == '\\' || root.back() == '/'))
            root.pop_back();
        index.run.push_back({kKindOf[k], std::move(root), std::nullopt});
    }
    if (!index.usable)
        return;  // the console said so when it was read

    const std::string today = Today();
    const Index before = index;
    bool changed = false;
    for (const RunStore& store : index.run) {
        if (Entry* e = Find(index, store.kind, &store.root, nullptr)) {
            changed = changed || e->date != today;
            e->date = today;
        } else if (store.root.find_first_of("\r\n") == std::string::npos) {
            // The first store of its kind takes the first names; a further
            // one 8 hex digits of a hash of its root, hashed again with a
            // counter should another store of the kind have them.
            std::string suffix;
            const std::string key = text::Lower(store.root);
            for (int n = 0; Find(index, store.kind, nullptr, &suffix); ++n)
                suffix =
                    "-" + hash::Fnv1aHex(n ? key + "\n" + std::to_string(n) : key).substr(0, 8);
            index.entries.push_back({store.kind, suffix, today, store.root});
            changed = true;
        }
    }
    // Written before any state file of a new store: every state file on the
    // disk then belongs to a recorded store. A store that could not be
    // recorded keeps no state in this run.
    if (changed && !Write(index))
        index.entries = before.entries;
    for (RunStore& store : index.run) {
        if (const Entry* e = Find(index, store.kind, &store.root, nullptr))
            store.state = StateOf(*e);
        else
            ConsoleLog("Unable to record the " + ProgramName(store.kind) + " store " + store.root +
                       " in conf\\stores; its Sent Items, approve and block folders are not "
                       "scanned in this run.");
    }
}

const RunStore* RunStoreOf(StoreKind kind) {
    for (const RunStore& store : TheIndex().run) {
        if (store.kind == kind)
            return &store;
    }
    return nullptr;
}

void ReleaseGoneStores() {
    const Index& index = TheIndex();
    const std::optional<std::string> keep = Need(gConf).GetValue("oe_save_scanned_addresses");
    if (!index.usable || (keep && *keep == "yes"))
        return;
    const int64_t today = DayOf(Today());
    for (const Entry& e : index.entries) {
        if (today - DayOf(e.date) <= kStoreGoneAfterDays)
            continue;
        const StoreState state = StateOf(e);
        bool released = false;
        for (const std::string* name : {&state.approve, &state.block}) {
            const std::string path = ProgramFolder() + "\\conf\\" + *name;
            if (!platform::IsOrdinaryFile(platform::Files(), path))
                continue;
            FolderHarvest harvest(name == &state.approve, *name,
                                  "release of a store no longer scanned");
            if (!harvest.ListsKept())
                continue;  // a file that cannot be read: nothing can be told
            if (harvest.ReleaseAll())
                platform::Files().DeleteFile(path);
            released = true;
        }
        if (released)
            ConsoleLog("The " + ProgramName(e.kind) + " store " + e.root + " was last scanned on " +
                       e.date + "; the addresses only its folders held leave the lists.");
    }
}

}  // namespace qb::driver
