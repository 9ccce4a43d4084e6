// The four folder scans: Inbox, Sent Items, approve folder, block folder.
#include <cstdio>
#include <optional>
#include <unordered_set>
#include <vector>

#include "common/CivilTime.h"
#include "common/RunError.h"
#include "common/Text.h"
#include "platform/Clock.h"
#include "platform/FileSystem.h"
#include "platform/Platform.h"
#include "scanner/config/Conf.h"
#include "scanner/driver/Driver.h"
#include "scanner/driver/Guard.h"
#include "scanner/driver/Harvest.h"
#include "scanner/driver/Stores.h"
#include "scanner/lists/AddressList.h"
#include "scanner/lists/FileList.h"
#include "scanner/lists/NumericKey.h"
#include "scanner/lists/ScanPhase.h"
#include "scanner/lists/SortedList.h"
#include "scanner/oe/CDbx.h"

namespace qb::driver {

namespace {

// Calls visit with each element of a field split at every ";": an empty
// field gives no element; doubled or trailing separators give empty
// elements. The elements are views into field.
template <typename Visit>
void ForEachAddress(std::string_view field, Visit&& visit) {
    if (field.empty())
        return;
    size_t start = 0;
    for (;;) {
        const size_t semi = field.find(';', start);
        if (semi == std::string_view::npos) {
            visit(field.substr(start));
            return;
        }
        visit(field.substr(start, semi - start));
        start = semi + 1;
    }
}

using civil::DaysFromCivil;
using civil::HourNumber;

// The clock hour of a message date "yyyy-mm-dd hh:mm:ss"; a text that is no
// valid date is a type mismatch, which ends the scan through its error path.
int64_t MailHour(const std::string& date) {
    int y, mo, d, h, mi, s;
    char tail;
    if (std::sscanf(date.c_str(), "%4d-%2d-%2d %2d:%2d:%2d%c", &y, &mo, &d, &h, &mi, &s, &tail) !=
            6 ||
        mo < 1 || mo > 12 || d < 1 || d > 31 || h > 23 || mi > 59 || s > 59 || y < 100) {
        throw TypeMismatchError("PreviousFrom");
    }
    return HourNumber(y, mo, d, h);
}

// The clock hour of a message: from the stored date where there is one,
// the same hour MailHour reads from the text the reader makes of it (dates
// of the years 1601 to 9999, whose texts are valid dates); otherwise from
// the text, as MailHour decides.
int64_t MessageHour(const oe::EMailView& email) {
    constexpr uint64_t kTicksPerHour = 36000000000ull;
    constexpr int64_t kDays1601To1970 = DaysFromCivil(1970, 1, 1) - DaysFromCivil(1601, 1, 1);
    constexpr uint64_t kYear10000 =
        static_cast<uint64_t>(DaysFromCivil(10000, 1, 1) - DaysFromCivil(1601, 1, 1)) * 24 *
        kTicksPerHour;
    if (const std::optional<uint64_t> ticks = email.StoredMailDate(); ticks && *ticks < kYear10000)
        return static_cast<int64_t>(*ticks / kTicksPerHour) - kDays1601To1970 * 24;
    return MailHour(email.MailDate());
}

// Whether a numeric list holds two entries for one number. Looked up in a
// copy, which sorts without changing the list's own state.
bool HoldsEqualNumbers(const lists::FileList& list) {
    lists::FileList copy = list;
    const std::vector<std::string> items = copy.Items();
    std::optional<double> previous;
    for (const std::string& item : items) {
        const std::optional<double> number = lists::ParseNumericKey(item);
        if (number && previous && *number == *previous)
            return true;
        previous = number;
    }
    return false;
}

// Opens a scan's .dbx file, keeping of each message the one text the scan
// reads (its sender or its recipients); when it cannot be opened, writes the
// scan's failure line to the status list and the console log.
bool OpenOrReport(oe::CDbx& dbx, const std::string& dbx_file, oe::MailFields::Text kept,
                  const std::string& failureLine) {
    dbx.KeepTexts(oe::CDbx::TextBit(kept));
    if (dbx.openFile(dbx_file, false))
        return true;
    StatusMessage(failureLine);
    ConsoleLog(failureLine);
    return false;
}

// What differs between the approve-folder and the block-folder scan.
struct FolderScan {
    bool approve;
    const char* procedure;
    const char* statusLine;
    const char* failureLine;
};

// The Outlook Express store's state of this run; nullptr when its state
// could not be recorded (the console said so), and then its Sent Items and
// verdict folders are not scanned.
const StoreState* OutlookExpressState() {
    const RunStore* store = RunStoreOf(StoreKind::kOutlookExpress);
    return store && store->state ? &*store->state : nullptr;
}

// The run's distinct addresses of each kind, over every store.
lists::SortedList<int>& RunSet(bool approve) {
    static lists::SortedList<int> sets[2];
    return sets[approve ? 1 : 0];
}

// The folder harvest of the Outlook Express store. Counters are 32-bit, so
// folders and state files of any size are harvested.
void HarvestFolder(const FolderScan& scan, const std::string& dbx_file) {
    if (scan.approve && Tracing())
        ConsoleLog("ScanCaughtLegit : dbx_file = " + dbx_file);
    Guarded(scan.procedure, [&] {
        if (!scan.approve && Tracing())
            ConsoleLog("ScanUncaughtSpam : dbx_file = " + dbx_file);
        Need(gApprovedSenders);
        Need(gBlockedSenders);
        Need(gConf);
        oe::CDbx dbx;
        if (!OpenOrReport(dbx, dbx_file, oe::MailFields::kSenderEMail, scan.failureLine))
            return;
        const StoreState* state = OutlookExpressState();
        if (!state)
            return;
        FolderHarvest harvest(scan.approve, scan.approve ? state->approve : state->block,
                              scan.approve ? "approve folder scan" : "block folder scan");
        if (!scan.approve && Tracing()) {
            ConsoleLog("dbx.EMails.Count = " + std::to_string(dbx.EMails().Count()));
        }
        int32_t emailIndex = 0;
        for (const auto& email : dbx.EMails()) {
            ++emailIndex;
            if (!scan.approve && Tracing()) {
                ConsoleLog("email_index: " + std::to_string(emailIndex));
            }
            ForEachAddress(email->SenderEMailView(),
                           [&](std::string_view element) { harvest.Address(element); });
        }
        if (!scan.approve && Tracing()) {
            ConsoleLog("Remove emails that have been removed from uncaught folder since last scan");
        }
        harvest.Finish(scan.statusLine);
    });
}

}  // namespace

bool ScanSwitchOn(const char* name) {
    // The scan runs when the value, trimmed of blanks, is empty, or when it
    // is exactly "1".
    const std::string value = config::ToText(ProductValue(name));
    return text::TrimBlanks(value).empty() || value == "1";
}

int64_t NowHour() {
    const platform::LocalTime now = platform::Time().Now();
    return HourNumber(now.year, now.month, now.day, now.hour);
}

// The scans count one address per call, message after message, on the
// program's one scanning thread: the address is made in one buffer kept
// between calls instead of a new string each time.
void CountInboxSender(std::string_view element) {
    static std::string a;
    FormatEmail(element, a);
    if (AddrLib().getSpamAddrFrom(gAddrHandle, a) == 0) {
        AddrLib().addSpamAddrFrom(gAddrHandle, a, 1);
    }
}

void CountSentRecipient(std::string_view element) {
    static std::string a;
    FormatEmail(element, a);
    AddrLib().addSpamAddrTo(gAddrHandle, a, 1);
}

FolderHarvest::FolderHarvest(bool approve, const std::string& stateFile,
                             const std::string& phaseName)
    : approve_(approve),
      stateFile_(stateFile),
      target_(Need(approve ? gApprovedSenders : gBlockedSenders)) {
    Need(gApprovedSenders);
    Need(gBlockedSenders);
    Need(gConf);
    scanSet_.SetSortMode(1);
    state_.SetFileLocation(ProgramFolder() + "\\conf\\" + stateFile_);
    state_.Load();
    // A target list or state file that could not be read is never
    // written; changing the other one alone would break their pairing,
    // so the scan then changes neither (the load said so on the console).
    listsKept_ = !state_.Unreadable() && !target_.Unreadable() && lists::ScanPhase::ListsWritable();
    // The phase writes the changes of both files together, the state file
    // covering the list (see Address and Finish for the order), and its
    // record keeps them recoverable as a pair until the closing saves.
    phase_.emplace(PhaseRecordPath(), phaseName,
                   std::vector<lists::AddressList*>{&state_, &target_});
}

void FolderHarvest::StartRun() {
    for (const bool approve : {false, true}) {
        RunSet(approve) = lists::SortedList<int>();
        RunSet(approve).SetSortMode(1);
    }
}

void FolderHarvest::LoadOthers() {
    if (othersLoaded_)
        return;
    othersLoaded_ = true;
    for (const std::string& name : VerdictStateFiles(approve_)) {
        if (name == stateFile_ ||
            !platform::IsOrdinaryFile(platform::Files(), ProgramFolder() + "\\conf\\" + name))
            continue;
        auto other = std::make_unique<lists::AddressList>();
        other->SetFileLocation(ProgramFolder() + "\\conf\\" + name);
        other->Load();
        othersUnreadable_ = othersUnreadable_ || other->Unreadable();
        others_.push_back(std::move(other));
    }
}

bool FolderHarvest::OwedElsewhere(const std::string& address) {
    LoadOthers();
    for (const auto& other : others_) {
        if (other->Exists(address))
            return true;
    }
    return false;
}

void FolderHarvest::Address(std::string_view element) {
    phase_->WriteIfDue();
    const std::string a = FormatEmail(element);
    // An address met before in this folder was settled then: meeting it
    // again would change nothing (the lists, the state file, its to-count
    // and the run's set hold it already, or refused it for good).
    if (scanSet_.Exists(a))
        return;
    scanSet_.Add(a, 0);
    lists::AddressList& other = approve_ ? *gBlockedSenders : *gApprovedSenders;
    const bool onTarget = target_.Exists(a);
    const bool listed =
        onTarget || other.Exists(a) || DomainListed(a, other) || DomainListed(a, target_);
    // State file first: a run killed between the two writes leaves an
    // address the state file owes but the list lacks, which the next run
    // adds again, never a list entry that no state file accounts for.
    if (!listed && listsKept_) {
        if (!state_.Exists(a))
            state_.Add(a);
        target_.Add(a);
    } else if (onTarget && listsKept_ && !state_.Exists(a) && OwedElsewhere(a)) {
        // Another store's folder put it on the list: this store's folder
        // owes it too, so it stays while either folder holds it.
        state_.Add(a);
    }
    if (approve_ && AddrLib().getSpamAddrTo(gAddrHandle, a) == 0)
        AddrLib().addSpamAddrTo(gAddrHandle, a, 1);
    if (!RunSet(approve_).Exists(a))
        RunSet(approve_).Add(a, 0);
}

void FolderHarvest::RemoveGone() {
    if (!listsKept_)
        return;
    // What another store owes cannot be told while its state file cannot be
    // read (the load said so on the console): nothing leaves then.
    LoadOthers();
    if (othersUnreadable_)
        return;
    const std::vector<std::string> owed = state_.Items();
    for (const std::string& address : owed) {
        if (scanSet_.Exists(address))
            continue;
        // List first, state file after it, for the same reason.
        if (target_.Exists(address) && !OwedElsewhere(address))
            target_.Remove(address);
        if (state_.Exists(address))
            state_.Remove(address);
    }
}

void FolderHarvest::SaveFiles() {
    if (!listsKept_)
        return;
    if (approve_) {
        state_.Save();
        target_.Save();
    } else {
        target_.Save();
        state_.Save();
    }
    phase_->Finish();
}

void FolderHarvest::Finish(const std::string& statusLine, bool removeGone) {
    const std::optional<std::string> keep = gConf->GetValue("oe_save_scanned_addresses");
    if (!(keep && *keep == "yes") && removeGone)
        RemoveGone();

    if (!approve_ && Tracing())
        ConsoleLog("Create new oe_block file from current_scan");
    StatusMessage(statusLine + std::to_string(scanSet_.Count()));
    SetProductValue(approve_ ? "oe_scan_approve" : "oe_scan_block",
                    config::RegValue(RunSet(approve_).Count()));
    SaveFiles();
}

bool FolderHarvest::ReleaseAll() {
    RemoveGone();
    SaveFiles();
    return listsKept_ && state_.Count() == 0;
}

void PreviousFrom(std::string dbx_file) {
    Guarded("PreviousFrom", [&] {
        if (!ScanSwitchOn("OEScanInbox"))
            return;
        oe::CDbx dbx;
        if (Tracing())
            ConsoleLog("PreviousFrom : dbx_file = " + dbx_file);
        if (!OpenOrReport(dbx, dbx_file, oe::MailFields::kSenderEMail, "Unable to open Inbox"))
            return;
        const int64_t nowHour = NowHour();
        for (const auto& email : dbx.EMails()) {
            if (nowHour - MessageHour(email) <= 24)
                continue;
            ForEachAddress(email->SenderEMailView(), CountInboxSender);
        }
    });
}

void ScanNewSentEmails(std::string dbx_file) {
    Guarded("ScanNewSentEmails", [&] {
        if (!ScanSwitchOn("OEScanSent"))
            return;
        oe::CDbx dbx;
        if (Tracing())
            ConsoleLog("ScanNewSentEmails : dbx_file = " + dbx_file);
        if (!OpenOrReport(dbx, dbx_file, oe::MailFields::kRecipientEMail,
                          "Unable to open Sent Items folder."))
            return;
        const StoreState* state = OutlookExpressState();
        if (!state)
            return;
        lists::FileList sent;
        sent.SetFileLocation(ProgramFolder() + "\\conf\\" + state->sent);
        sent.SetSortMode(0);
        sent.Load();
        // Without the recorded numbers every message would be counted again.
        if (sent.Unreadable())
            return;
        const auto count = [&](const oe::EMailView& email) {
            ForEachAddress(email.RecipientEMailView(), CountSentRecipient);
        };
        if (HoldsEqualNumbers(sent)) {
            // Entries for one number (a hand-edited file) keep the order in
            // which the list's lookups and additions sort them.
            for (const auto& email : dbx.EMails()) {
                const std::string key = std::to_string(email->Id());
                if (sent.Exists(key))
                    continue;
                count(email);
                sent.Add(key);
            }
        } else {
            // Every number once: the file's order is the numbers' order,
            // however the list gets there. The loaded entries are looked up
            // before anything is added, so the list sorts once instead of
            // once per batch of additions; the messages counted in this run
            // are known by their numbers.
            std::unordered_set<int32_t> counted;
            std::vector<std::string> added;
            for (const auto& email : dbx.EMails()) {
                const int32_t id = email->Id();
                std::string key = std::to_string(id);
                if (counted.count(id) != 0 || sent.Exists(key))
                    continue;
                count(email);
                counted.insert(id);
                added.push_back(std::move(key));
            }
            for (const std::string& key : added)
                sent.Add(key);
        }
        // The state file says these messages are counted: the counts must be
        // in the database file first. Unsaved, the next run counts them.
        if (!SaveSentStateWithDatabase(sent, state->sent))
            ConsoleLog(kDatabaseNotSaved);
    });
}

void ScanCaughtLegit(std::string dbx_file) {
    HarvestFolder(
        {true, "ScanCaughtLegit", "Approved addresses added : ", "Unable to open approve folder."},
        dbx_file);
}

void ScanUncaughtSpam(std::string dbx_file) {
    HarvestFolder(
        {false, "ScanUncaughtSpam", "Blocked addresses added : ", "Unable to open block folder."},
        dbx_file);
}

bool DomainListed(const std::string& address, lists::AddressList& list) {
    const size_t at = address.find('@');
    return list.Exists(at == std::string::npos ? std::string_view(address)
                                               : std::string_view(address).substr(at + 1));
}

}  // namespace qb::driver
