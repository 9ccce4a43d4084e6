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
#include "scanner/eml/MailStores.h"
#include "scanner/lists/FileList.h"

namespace qb::driver {

namespace {

// One store being scanned.
struct Store {
    eml::StoreKind kind;
    std::string name;    // "Windows Live Mail"
    std::string prefix;  // of its state files under conf: "wlm", "wmail"
    std::string root;
    std::vector<eml::MailFolder> folders;
};

// Calls visit(relative path, header) for each message of the folders,
// reading each file's header section. A folder or message that cannot be
// read gets a console line and the rest go on; the result says whether all
// could be read.
template <class Visit>
bool ForEachMessage(const Store& store, const std::vector<const eml::MailFolder*>& folders,
                    Visit&& visit) {
    bool complete = true;
    std::vector<std::string> names;
    std::string buffer;
    eml::MessageHeader header;
    for (const eml::MailFolder* folder : folders) {
        if (Tracing())
            ConsoleLog(store.name + " folder = " + folder->path);
        if (!eml::MessageFiles(platform::Files(), folder->path, names)) {
            ConsoleLog("Unable to open folder " + folder->path);
            complete = false;
            continue;
        }
        for (const std::string& file : names) {
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
    for (const eml::MailFolder& folder : store.folders) {
        if (pick(folder))
            out.push_back(&folder);
    }
    return out;
}

void ReportUnableToOpen(const std::string& line) {
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
            return ReportUnableToOpen("Unable to open " + store.name + " Inbox");
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
            for (const std::string& a : h.senders)
                CountInboxSender(a);
        });
    });
}

void ScanSent(const Store& store) {
    Guarded("ScanMailSent", [&] {
        if (!ScanSwitchOn("OEScanSent"))
            return;
        const auto sentFolders = StandardFolders(store, false);
        if (sentFolders.empty())
            return ReportUnableToOpen("Unable to open " + store.name + " Sent Items folder.");
        const std::string stateName = store.prefix + "sent";
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
            std::string key = h.messageId.empty() ? std::string(file) : h.messageId;
            std::string folded = text::Lower(key);
            if (counted.count(folded) != 0 || sent.Exists(key))
                return;
            for (const std::string& a : h.recipients)
                CountSentRecipient(a);
            counted.insert(std::move(folded));
            added.push_back(std::move(key));
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
        const auto folders = FoldersWhere(
            store, [&](const eml::MailFolder& f) { return eml::SameFolderName(f.name, wanted); });
        if (folders.empty()) {
            ConsoleLog("Unable to find the folder " + wanted + " in " + store.name);
            return;
        }
        FolderHarvest harvest(approve, (store.prefix + (approve ? "as" : "bs")).c_str(),
                              store.name + (approve ? " approve" : " block") + " folder scan");
        const bool complete =
            ForEachMessage(store, folders, [&](std::string_view, const eml::MessageHeader& h) {
                for (const std::string& a : h.senders)
                    harvest.Address(a);
            });
        harvest.Finish(store.name + (approve ? " approved" : " blocked") + " addresses added : ",
                       complete);
    });
}

void ScanStore(eml::StoreKind kind, const char* prefix, const std::string& root) {
    Store store{kind, eml::StoreName(kind), prefix, root, {}};
    // A program that was never used here has no store: nothing to say.
    if (platform::Files().Kind(store.root) != platform::PathKind::kFolder)
        return;
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
        const std::string live = eml::StoreRoot(eml::StoreKind::kWindowsLiveMail);
        ScanStore(eml::StoreKind::kWindowsLiveMail, "wlm", live);
        // Both programs pointed at one folder: it is one store, scanned once
        // (its Sent Items would otherwise count twice).
        const std::string mail = eml::StoreRoot(eml::StoreKind::kWindowsMail);
        if (!text::EqualNoCase(mail, live))
            ScanStore(eml::StoreKind::kWindowsMail, "wmail", mail);
    });
}

}  // namespace qb::driver
