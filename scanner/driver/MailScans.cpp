// The scans of the Windows Live Mail and Windows Mail stores: the Inbox, the
// Sent Items, the approve and the block folder of each store found, as the
// Outlook Express store's are scanned, message for message. A message is an
// .eml file; only its header section is read.
#include <unordered_set>

#include "common/Text.h"
#include "platform/FileSystem.h"
#include "platform/Platform.h"
#include "platform/StatusWindow.h"
#include "scanner/config/Conf.h"
#include "scanner/driver/Driver.h"
#include "scanner/driver/Guard.h"
#include "scanner/driver/Harvest.h"
#include "scanner/driver/Stores.h"
#include "scanner/eml/MailStores.h"
#include "scanner/lists/FileList.h"

namespace qb::driver {

namespace {

// One store being scanned.
struct Store {
    std::string name;  // "Windows Live Mail"
    std::string root;
    const StoreState* state;  // nullptr: no state in this run (see RunStore)
    eml::StoreFolders folders;
};

// Calls visit(relative path, header) for each message of the folders,
// reading each file's header section. A folder or message that cannot be
// read gets a console line (a folder the walk could not list has had its
// line) and the rest go on; the result says whether all could be read.
template <class Visit>
bool ForEachMessage(const Store& store, const std::vector<const eml::MailFolder*>& folders,
                    Visit&& visit) {
    bool complete = true;
    eml::MessageFileNames names;
    std::string buffer, why;
    eml::MessageHeader header;
    for (const eml::MailFolder* folder : folders) {
        if (Tracing())
            ConsoleLog(store.name + " folder = " + folder->path);
        if (!folder->listed) {
            complete = false;
            continue;
        }
        if (!eml::MessageFiles(platform::Files(), folder->path, names, why)) {
            ConsoleLog(eml::UnlistedFolderLine(folder->path, why));
            complete = false;
            continue;
        }
        // A pipe, socket, device or a link to nothing where a message is
        // expected is never opened: it could hang the run.
        for (const std::string& file : names.special) {
            ConsoleLog("Unable to open " + folder->path + "\\" + file + ": not an ordinary file");
            complete = false;
        }
        for (const std::string& file : names.files) {
            const std::string path = folder->path + "\\" + file;
            if (!eml::ReadMessageFile(platform::Files(), path, buffer, header)) {
                ConsoleLog("Unable to open " + path);
                complete = false;
                continue;
            }
            visit(std::string_view(path).substr(store.root.size() + 1), header);
        }
    }
    return complete;
}

template <class Pick>
std::vector<const eml::MailFolder*> FoldersWhere(const Store& store, Pick&& pick) {
    std::vector<const eml::MailFolder*> out;
    for (const eml::MailFolder& folder : store.folders.folders) {
        if (pick(folder))
            out.push_back(&folder);
    }
    return out;
}

// A standard folder that the store lacks. When a folder of the store could
// not be listed, the folder may lie below it: its line said so already.
void ReportNotFound(const Store& store, const std::string& line) {
    if (!store.folders.complete)
        return;
    StatusMessage(line);
    ConsoleLog(line);
}

// The store's Inbox (inbox true) or Sent Items folders: those directly below
// an account (or Local Folders) that bear the standard name in a language the
// programs shipped in, or the name the user set; a trace line names each.
std::vector<const eml::MailFolder*> StandardFolders(const Store& store, bool inbox) {
    const std::optional<std::string> value =
        gConf ? gConf->GetValue(inbox ? kInboxSetting : kSentItemsSetting) : std::nullopt;
    const std::string configured = value.value_or(std::string());
    const auto folders = FoldersWhere(store, [&](const eml::MailFolder& f) {
        return f.topLevel && ((inbox ? eml::IsInboxName(f.name) : eml::IsSentItemsName(f.name)) ||
                              (!configured.empty() && eml::SameFolderName(f.name, configured)));
    });
    if (Tracing()) {
        for (const eml::MailFolder* folder : folders)
            ConsoleLog(store.name + (inbox ? " Inbox = " : " Sent Items = ") + folder->path);
    }
    return folders;
}

void ScanInbox(const Store& store) {
    Guarded("ScanMailInbox", [&] {
        if (!ScanSwitchOn("OEScanInbox"))
            return;
        const auto inboxes = StandardFolders(store, true);
        if (inboxes.empty())
            return ReportNotFound(store, "Unable to open " + store.name + " Inbox");
        const int64_t nowHour = NowHour();
        ForEachMessage(store, inboxes, [&](std::string_view file, const eml::MessageHeader& h) {
            // A message with no date to read cannot be told old enough; it
            // waits for a later run that can (never: its count is not taken).
            if (!h.hour) {
                if (Tracing())
                    ConsoleLog("No date: " + std::string(file));
                return;
            }
            if (nowHour - *h.hour <= 24)
                return;
            if (!h.sender.empty())
                CountInboxSender(h.sender);
        });
    });
}

void ScanSent(const Store& store) {
    Guarded("ScanMailSent", [&] {
        if (!ScanSwitchOn("OEScanSent"))
            return;
        const auto sentFolders = StandardFolders(store, false);
        if (sentFolders.empty())
            return ReportNotFound(store, "Unable to open " + store.name + " Sent Items folder.");
        if (!store.state)
            return;
        const std::string& stateName = store.state->sent;
        lists::FileList sent;
        sent.SetFileLocation(ProgramFolder() + "\\conf\\" + stateName);
        sent.SetSortMode(1);
        sent.Load();
        // Without the recorded messages every message would be counted again.
        if (sent.Unreadable())
            return;
        // The loaded keys are looked up before anything is added, so the
        // list sorts once; the messages counted in this run are known here,
        // compared without regard to case as the list compares them.
        std::unordered_set<std::string> counted;
        std::vector<std::string> added;
        ForEachMessage(store, sentFolders, [&](std::string_view file, const eml::MessageHeader& h) {
            const std::string_view key = h.messageId.empty() ? file : h.messageId;
            std::string folded = text::Lower(key);
            if (counted.count(folded) != 0 || sent.Exists(key))
                return;
            for (const std::string& a : h.recipients)
                CountSentRecipient(a);
            counted.insert(std::move(folded));
            added.emplace_back(key);
        });
        for (const std::string& key : added)
            sent.Add(key);
        if (!SaveSentStateWithDatabase(sent, stateName))
            ConsoleLog(kDatabaseNotSaved);
    });
}

void ScanHarvest(const Store& store, bool approve) {
    Guarded(approve ? "ScanMailApprove" : "ScanMailBlock", [&] {
        const std::optional<std::string> value =
            Need(gConf).GetValue(approve ? "oe_approve_folder" : "oe_block_folder");
        const std::string wanted = value ? text::Lower(*value) : std::string();
        if (wanted.empty())
            return;  // not configured: the Outlook Express scan said so
        if (!store.state)
            return;
        const auto folders = FoldersWhere(
            store, [&](const eml::MailFolder& f) { return eml::SameFolderName(f.name, wanted); });
        // What a folder that was not read held cannot be told from what left
        // it: nothing leaves the list then, and the line says so.
        const std::string incomplete = store.name + (approve ? " approve" : " block") +
                                       " folder not read in full; no address leaves " +
                                       (approve ? "approvedsenders" : "blockedsenders") +
                                       " in this run.";
        if (folders.empty()) {
            ConsoleLog(store.folders.complete
                           ? "Unable to find the folder " + wanted + " in " + store.name
                           : incomplete);
            return;
        }
        FolderHarvest harvest(approve, approve ? store.state->approve : store.state->block,
                              store.name + (approve ? " approve" : " block") + " folder scan");
        const bool complete = ForEachMessage(store, folders,
                                             [&](std::string_view, const eml::MessageHeader& h) {
                                                 if (!h.sender.empty())
                                                     harvest.Address(h.sender);
                                             }) &&
                              store.folders.complete;
        if (!complete)
            ConsoleLog(incomplete);
        harvest.Finish(store.name + (approve ? " approved" : " blocked") + " addresses added : ",
                       complete);
    });
}

void ScanStore(const RunStore& run, eml::StoreKind kind) {
    Store store{eml::StoreName(kind), run.root, run.state ? &*run.state : nullptr, {}};
    if (Tracing())
        ConsoleLog(store.name + " store root = " + store.root);
    store.folders = eml::FindFolders(platform::Files(), store.root, kind,
                                     [](const std::string& line) { ConsoleLog(line); });
    const struct {
        const char* what;
        void (*scan)(const Store&);
    } steps[] = {
        {"Inbox", ScanInbox},
        {"Sent Items", ScanSent},
        {"approve folder", [](const Store& s) { ScanHarvest(s, true); }},
        {"block folder", [](const Store& s) { ScanHarvest(s, false); }},
    };
    for (const auto& step : steps) {
        if (gShowStatus)
            platform::Status().PumpEvents();
        StatusMessage("Scanning " + store.name + " " + step.what + " ...");
        step.scan(store);
        if (Tracing())
            ConsoleLog("Processed " + store.name + " " + step.what);
    }
}

}  // namespace

void ScanMailStores() {
    Guarded("ScanMailStores", [] {
        // A program that was never used here has no store, and no line: the
        // run's stores are those whose root is a folder (RegisterRunStores).
        if (const RunStore* live = RunStoreOf(StoreKind::kWindowsLiveMail))
            ScanStore(*live, eml::StoreKind::kWindowsLiveMail);
        if (const RunStore* mail = RunStoreOf(StoreKind::kWindowsMail))
            ScanStore(*mail, eml::StoreKind::kWindowsMail);
    });
}

}  // namespace qb::driver
