#include "scanner/driver/Stores.h"

#include <algorithm>
#include <cstddef>
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

// Each kind's id and first state file names, in the run's order.
struct KindInfo {
    StoreKind kind;
    const char* id;
    StoreState first;
};
const KindInfo kKinds[] = {
    {StoreKind::kOutlookExpress, "oe", {"oesent", "oesas", "oesbs"}},
    {StoreKind::kWindowsLiveMail, "wlm", {"wlmsent", "wlmas", "wlmbs"}},
    {StoreKind::kWindowsMail, "wmail", {"wmailsent", "wmailas", "wmailbs"}},
};

const KindInfo& Info(StoreKind kind) {
    return *std::find_if(std::begin(kKinds), std::end(kKinds),
                         [&](const KindInfo& k) { return k.kind == kind; });
}

const char* ProgramName(StoreKind kind) {
    switch (kind) {
        case StoreKind::kWindowsLiveMail:
            return eml::StoreName(eml::StoreKind::kWindowsLiveMail);
        case StoreKind::kWindowsMail:
            return eml::StoreName(eml::StoreKind::kWindowsMail);
        case StoreKind::kOutlookExpress:
            break;
    }
    return "Outlook Express";
}

// One line of conf\stores.
struct Entry {
    StoreKind kind;
    std::string suffix;  // empty for the first store of its kind, else "-" and 8 hex digits
    std::string date;    // yyyy-mm-dd, the day it was last scanned
    int64_t day;         // the same as days since 1970
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

StoreState StateOf(StoreKind kind, const std::string& suffix) {
    const StoreState& first = Info(kind).first;
    return {first.sent + suffix, first.approve + suffix, first.block + suffix};
}

// A root as it is recorded and compared: without trailing separators.
std::string Trimmed(std::string root) {
    while (root.size() > 1 && (root.back() == '\\' || root.back() == '/'))
        root.pop_back();
    return root;
}

// Days since 1970 of a "yyyy-mm-dd" text; nothing for any other text.
std::optional<int64_t> DayOf(std::string_view date) {
    int y = 0, m = 0, d = 0;
    char tail = 0;
    const std::string text(date);
    if (date.size() != 10 || std::sscanf(text.c_str(), "%4d-%2d-%2d%c", &y, &m, &d, &tail) != 3 ||
        m < 1 || m > 12 || d < 1 || d > 31)
        return std::nullopt;
    return civil::DaysFromCivil(y, m, d);
}

// The suffix of an id ("" or "-" and 8 lower-case hex digits) when the id
// names a kind; false otherwise.
bool ParseId(std::string_view id, Entry& entry) {
    for (const KindInfo& k : kKinds) {
        const std::string_view base = k.id;
        if (id.substr(0, base.size()) != base)
            continue;
        const std::string_view suffix = id.substr(base.size());
        const bool hex = suffix.size() == 9 && suffix[0] == '-' &&
                         suffix.find_first_not_of("0123456789abcdef", 1) == std::string_view::npos;
        if (!suffix.empty() && !hex)
            continue;
        entry.kind = k.kind;
        entry.suffix = std::string(suffix);
        return true;
    }
    return false;
}

// The entries of the index's text; false when it is damaged (a wrong first
// line, a line that is no entry, one store or one id twice).
bool Parse(std::string_view text, std::vector<Entry>& entries) {
    if (text.empty())
        return true;  // emptied by hand: no store recorded yet
    if (text.substr(0, kMagic.size()) != kMagic)
        return false;
    text.remove_prefix(kMagic.size());
    while (!text.empty()) {
        const size_t end = text.find("\r\n");
        if (end == std::string_view::npos)
            return false;
        const std::string_view line = text.substr(0, end);
        text.remove_prefix(end + 2);
        const size_t blank = line.find(' ');
        Entry entry{};
        if (blank == std::string_view::npos || !ParseId(line.substr(0, blank), entry) ||
            line.size() < blank + 13 || line[blank + 11] != ' ')
            return false;
        entry.date = std::string(line.substr(blank + 1, 10));
        const std::optional<int64_t> day = DayOf(entry.date);
        entry.root = std::string(line.substr(blank + 12));
        if (!day || entry.root.empty())
            return false;
        entry.day = *day;
        for (const Entry& e : entries) {
            if (e.kind == entry.kind &&
                (e.suffix == entry.suffix || text::EqualNoCase(e.root, entry.root)))
                return false;
        }
        entries.push_back(std::move(entry));
    }
    return true;
}

bool Write(const std::vector<Entry>& entries) {
    std::string text(kMagic);
    for (const Entry& e : entries)
        text += Info(e.kind).id + e.suffix + " " + e.date + " " + e.root + "\r\n";
    return platform::Files().ReplaceFile(IndexPath(), text, platform::Durability::kSynced);
}

// The suffix of a further store of a kind: 8 hex digits of a hash of its
// root, taken again with a counter should another store of the kind have
// them.
std::string NewSuffix(const std::vector<Entry>& entries, StoreKind kind, const std::string& root) {
    const std::string key = text::Lower(root);
    for (int n = 0;; ++n) {
        const std::string suffix =
            "-" + hash::Fnv1aHex(n == 0 ? key : key + "\n" + std::to_string(n)).substr(0, 8);
        if (std::none_of(entries.begin(), entries.end(),
                         [&](const Entry& e) { return e.kind == kind && e.suffix == suffix; }))
            return suffix;
    }
}

struct Today {
    std::string date;
    int64_t day;
};

Today Now() {
    const platform::LocalTime now = platform::Time().Now();
    char date[16];
    std::snprintf(date, sizeof date, "%04d-%02d-%02d", now.year, now.month, now.day);
    return {date, civil::DaysFromCivil(now.year, now.month, now.day)};
}

}  // namespace

void LoadStoreIndex() {
    Index& index = TheIndex();
    index = Index();
    const std::string path = IndexPath();
    if (platform::Files().Kind(path) == platform::PathKind::kMissing)
        return;
    std::string text;
    if (!platform::Files().ReadFile(path, text) || !Parse(text, index.entries)) {
        index.usable = false;
        index.entries.clear();
        ConsoleLog(kStoreIndexUnreadable);
    }
}

std::vector<StoreState> KnownStoreStates() {
    std::vector<StoreState> states;
    for (const KindInfo& k : kKinds)
        states.push_back(k.first);
    for (const Entry& e : TheIndex().entries) {
        if (!e.suffix.empty())
            states.push_back(StateOf(e.kind, e.suffix));
    }
    return states;
}

std::vector<std::string> VerdictStateFiles(bool approve) {
    std::vector<std::string> names;
    for (const StoreState& state : KnownStoreStates())
        names.push_back(approve ? state.approve : state.block);
    return names;
}

void RegisterRunStores(const std::string& oeRoot) {
    Index& index = TheIndex();
    index.run.clear();
    const auto found = [&](StoreKind kind, const std::string& root) {
        if (platform::Files().Kind(root) == platform::PathKind::kFolder)
            index.run.push_back({kind, Trimmed(root), std::nullopt});
    };
    found(StoreKind::kOutlookExpress, oeRoot);
    const std::string live = eml::StoreRoot(eml::StoreKind::kWindowsLiveMail);
    found(StoreKind::kWindowsLiveMail, live);
    // Both programs pointed at one folder: it is one store, scanned once as
    // the Windows Live Mail store (its Sent Items would otherwise count twice).
    const std::string mail = eml::StoreRoot(eml::StoreKind::kWindowsMail);
    if (!text::EqualNoCase(mail, live))
        found(StoreKind::kWindowsMail, mail);
    if (!index.usable)
        return;  // the console said so when it was read

    const Today today = Now();
    bool changed = false;
    std::vector<size_t> added;
    for (const RunStore& store : index.run) {
        const auto it =
            std::find_if(index.entries.begin(), index.entries.end(), [&](const Entry& e) {
                return e.kind == store.kind && text::EqualNoCase(e.root, store.root);
            });
        if (it != index.entries.end()) {
            changed = changed || it->date != today.date;
            it->date = today.date;
            it->day = today.day;
            continue;
        }
        // A root that cannot be written on one line cannot be recorded.
        if (store.root.find_first_of("\r\n") != std::string::npos)
            continue;
        const bool firstFree =
            std::none_of(index.entries.begin(), index.entries.end(),
                         [&](const Entry& e) { return e.kind == store.kind && e.suffix.empty(); });
        added.push_back(index.entries.size());
        index.entries.push_back({store.kind,
                                 firstFree ? "" : NewSuffix(index.entries, store.kind, store.root),
                                 today.date, today.day, store.root});
        changed = true;
    }
    // Written before any state file of a new store: every state file on the
    // disk then belongs to a recorded store. A store that could not be
    // recorded keeps no state in this run.
    if (changed && !Write(index.entries)) {
        for (auto at = added.rbegin(); at != added.rend(); ++at)
            index.entries.erase(index.entries.begin() + static_cast<std::ptrdiff_t>(*at));
    }
    for (RunStore& store : index.run) {
        const auto it =
            std::find_if(index.entries.begin(), index.entries.end(), [&](const Entry& e) {
                return e.kind == store.kind && text::EqualNoCase(e.root, store.root);
            });
        if (it != index.entries.end())
            store.state = StateOf(it->kind, it->suffix);
        else
            ConsoleLog("Unable to record the " + std::string(ProgramName(store.kind)) + " store " +
                       store.root +
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
    const int64_t today = Now().day;
    for (const Entry& e : index.entries) {
        if (today - e.day <= kStoreGoneAfterDays)
            continue;
        const StoreState state = StateOf(e.kind, e.suffix);
        bool released = false;
        for (const bool approve : {true, false}) {
            const std::string& name = approve ? state.approve : state.block;
            const std::string path = ProgramFolder() + "\\conf\\" + name;
            if (!platform::IsOrdinaryFile(platform::Files(), path))
                continue;
            FolderHarvest harvest(approve, name, "release of a store no longer scanned");
            if (!harvest.ListsKept())
                continue;  // a file that cannot be read: nothing can be told
            if (harvest.ReleaseAll())
                platform::Files().DeleteFile(path);
            released = true;
        }
        if (released)
            ConsoleLog("The " + std::string(ProgramName(e.kind)) + " store " + e.root +
                       " was last scanned on " + e.date +
                       "; the addresses only its folders held leave the lists.");
    }
}

}  // namespace qb::driver
