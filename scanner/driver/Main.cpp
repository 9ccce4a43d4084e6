// The scanner's entry: set-up, the fixed run order of the scans, tear-down.
#include <cmath>
#include <cstdlib>

#include "common/Report.h"
#include "common/Text.h"
#include "platform/Environment.h"
#include "platform/FileSystem.h"
#include "platform/Instance.h"
#include "platform/Platform.h"
#include "platform/Registry.h"
#include "platform/StatusWindow.h"
#include "scanner/config/Conf.h"
#include "scanner/config/RegOp.h"
#include "scanner/driver/Driver.h"
#include "scanner/driver/Guard.h"
#include "scanner/driver/Harvest.h"
#include "scanner/driver/Stores.h"
#include "scanner/lists/AddressList.h"
#include "scanner/lists/ScanPhase.h"
#include "scanner/oe/OEIdentity.h"
#include "strings/ScannerCString.h"

namespace qb::driver {

namespace {

// The trace level from its configuration text. A missing key, or a text that
// is no whole number within the 16-bit range, gives 0: the level decides
// only how much is written, so a mistyped value must not stop the run.
int16_t TraceLevelFrom(const std::optional<std::string>& value) {
    if (!value)
        return 0;
    const std::string text(qb::text::TrimBlanks(*value));
    if (text.empty())
        return 0;
    char* end = nullptr;
    const long level = std::strtol(text.c_str(), &end, 10);
    if (*end != '\0' || level < -32768 || level > 32767)
        return 0;
    return static_cast<int16_t>(level);
}

// The scan limit in megabytes from its registry text, as bytes; raises a
// type-mismatch error for a text that is no number and an overflow error for
// a product beyond the 32-bit range.
int32_t ScanLimitFrom(const std::string& value) {
    const std::string text(qb::text::TrimBlanks(value));
    char* end = nullptr;
    const double number = std::strtod(text.c_str(), &end);
    if (text.empty() || *end != '\0' || !std::isfinite(number)) {
        throw TypeMismatchError("InitializeObjects");
    }
    // A whole number as the conversion makes it: halves go to the even neighbour.
    const double megabytes = std::nearbyint(number);
    if (megabytes < -2147483648.0 || megabytes > 2147483647.0) {
        throw OverflowError("InitializeObjects");
    }
    const int64_t bytes = static_cast<int64_t>(megabytes) * 1024 * 1024;
    if (bytes < INT32_MIN || bytes > INT32_MAX)
        throw OverflowError("InitializeObjects");
    return static_cast<int32_t>(bytes);
}

// Reports of the lower layers (the store reader, the scanner's buffer, the
// list classes) reach the console log and the status list through the hook.
void InstallReporting() {
    report::Install({[](const std::string& t) { ConsoleLog(t); },
                     [](const std::string& t) { StatusMessage(t); },
                     [] { return static_cast<int>(gVerboseLevel); }});
}

// The list phases' write interval: the environment variable
// GLEANWICK_LIST_WRITE_INTERVAL (whole milliseconds, cut to a second), which
// tests set to write more often; otherwise a second.
int64_t ListWriteInterval() {
    const std::string text = platform::Env().Expand("%GLEANWICK_LIST_WRITE_INTERVAL%");
    if (text.empty() || text.size() > 9 ||
        text.find_first_not_of("0123456789") != std::string::npos)
        return lists::ScanPhase::kMaxWriteIntervalMs;
    return std::stoll(text);
}

void PumpStatusWindow() {
    if (gShowStatus)
        platform::Status().PumpEvents();
}

}  // namespace

void InitializeObjects() {
    Guarded("InitializeObjects", [] {
        const std::string conf = ProgramFolder() + "\\conf";
        gConf = std::make_unique<config::Conf>();
        gConf->SetConfigFile(conf + "\\quellbox.conf");
        gConf->Load();
        gBlockedSenders = std::make_unique<lists::AddressList>();
        gBlockedSenders->SetFileLocation(conf + "\\blockedsenders");
        gBlockedSenders->Load();
        gApprovedSenders = std::make_unique<lists::AddressList>();
        gApprovedSenders->SetFileLocation(conf + "\\approvedsenders");
        gApprovedSenders->Load();

        const std::string limit = config::ToText(ProductValue("scan_limit"));
        gScanLimit = limit.empty() ? 0 : ScanLimitFrom(limit);
        scanner::SetScanLimit(gScanLimit);
    });
}

void CleanUp() {
    gBlockedSenders.reset();
    gApprovedSenders.reset();
    gConf.reset();
}

std::string GetLastUserID() {
    config::RegOp reg;
    reg.root(platform::reg::kCurrentUser);
    reg.key("Identities");
    return config::ToText(reg.Value("Last User ID"));
}

void BlockedSenders(const std::vector<std::string>& list, int32_t count) {
    Guarded("BlockedSenders", [&] {
        if (count == 0)
            return;
        lists::AddressList& blocked = Need(gBlockedSenders);
        // A list whose earlier phase could not be put back stays as it is.
        if (!lists::ScanPhase::ListsWritable())
            return;
        lists::ScanPhase phase(PhaseRecordPath(), "Outlook Express blocked list import",
                               {&blocked});
        for (int32_t i = 1; i <= count; ++i) {
            const std::string a = FormatEmail(list.at(static_cast<size_t>(i)));
            if (!blocked.Exists(a))
                blocked.Add(a);
        }
        blocked.Save();
        phase.Finish();
    });
}

// Trims blanks, lowers the case, and drops a leading "<" and then a trailing ">".
void FormatEmail(std::string_view address, std::string& out) {
    std::string_view a = text::TrimBlanks(address);
    if (!a.empty() && a.front() == '<')
        a.remove_prefix(1);
    if (!a.empty() && a.back() == '>')
        a.remove_suffix(1);
    text::LowerInto(a, out);
}

std::string FormatEmail(std::string_view address) {
    std::string out;
    FormatEmail(address, out);
    return out;
}

std::string PhaseRecordPath() {
    return ProgramFolder() + "\\conf\\scanphase";
}

void RecoverListPhase() {
    const lists::PhaseRecovery recovery = lists::RecoverUnfinishedPhase(PhaseRecordPath());
    const auto withPhase = [&](std::string line) {
        const size_t at = line.find("<phase>");
        return line.replace(at, 7, recovery.phase);
    };
    switch (recovery.outcome) {
        case lists::PhaseRecovery::Outcome::kNone:
            break;
        case lists::PhaseRecovery::Outcome::kRestored:
            ConsoleLog(withPhase(kPhaseRestored));
            break;
        case lists::PhaseRecovery::Outcome::kDamaged:
            ConsoleLog(kPhaseRecordDamaged);
            break;
        case lists::PhaseRecovery::Outcome::kNotRestored:
            ConsoleLog(withPhase(kPhaseNotRestored));
            break;
    }
}

bool SaveAddressDatabase() {
    return !AddrLib().Unsaved() || AddrLib().saveSpamAddrH(gAddrHandle) == 1;
}

bool Main() {
    if (!platform::Program().ClaimSoleInstance())
        return false;
    SettleCodePage();
    // With this copy the only one, temporary files of a killed run are
    // leftovers: nothing is writing them any more.
    const auto removeLeftovers = [](const std::string& file) {
        platform::Files().RemoveLeftoverTemporaries(ProgramFolder() + "\\conf\\" + file);
    };
    for (const char* file : {"approvedsenders", "blockedsenders", "scanphase", "stores"})
        removeLeftovers(file);
    // Every store's state files: those conf\stores records, and the first
    // names of each kind.
    LoadStoreIndex();
    const std::vector<StoreState> stores = KnownStoreStates();
    for (const StoreState& store : stores) {
        for (const std::string& file : {store.sent, store.approve, store.block})
            removeLeftovers(file);
        removeLeftovers(store.sent + ".pending");
    }
    platform::Reg().RemoveLeftovers();
    // A run killed while saving the Sent Items counts left its conf\oesent
    // (or another store's) pending: settle it before the database is read.
    for (const StoreState& store : stores)
        ResolvePendingSentState(store.sent);
    // A run cut off in the middle of a list phase left its record: put the
    // phase's files back before any of them is read.
    RecoverListPhase();
    lists::ScanPhase::SetWriteInterval(ListWriteInterval());
    FolderHarvest::StartRun();
    InstallReporting();
    if (ArgCount() > 0)
        ParseCommandLine();
    InitializeObjects();

    gVerboseLevel = TraceLevelFrom(gConf ? gConf->GetValue("dbg_verbose_level") : std::nullopt);
    if (Tracing())
        ConsoleLog("dbg_verbose_level = " + std::to_string(gVerboseLevel));
    if (gShowStatus)
        platform::Status().Show();

    const bool ok = Guarded("Main", [] {
        auto identity = std::make_unique<oe::OEIdentity>();
        if (Tracing())
            ConsoleLog("identity = " + GetLastUserID());
        gAddrHandle = AddrLib().getSpamAddrH(ProgramFolder() + "\\conf", 5000);
        identity->Identity(GetLastUserID());
        gStoreRoot = identity->StoreRoot() + "\\";
        // The run's stores, each with its own state files (conf\stores).
        Guarded("RegisterStores", [&] { RegisterRunStores(identity->StoreRoot()); });
        identity->LoadBlockedList();
        StatusMessage("Importing Outlook Express block list ...");

        std::vector<std::string> items{std::string()};  // 1-based: slot 0 unused
        for (std::string& entry : identity->BlockedListItems())
            items.push_back(std::move(entry));
        BlockedSenders(items, identity->BlockedListCount());
        if (Tracing()) {
            ConsoleLog("gStoreRoot = " + gStoreRoot);
            ConsoleLog("Processed OE Blocked List ");
            ConsoleLog("Store Root = " + identity->StoreRoot());
        }

        PumpStatusWindow();
        StatusMessage("Scanning Inbox ...");
        PreviousFrom(gStoreRoot + InboxFilename());
        if (Tracing())
            ConsoleLog("Processed Inbox");

        PumpStatusWindow();
        StatusMessage("Scanning Sent Items ...");
        ScanNewSentEmails(gStoreRoot + SentItemsFilename());
        if (Tracing())
            ConsoleLog("Processed Sent Items");

        PumpStatusWindow();
        GetBlockApproveFiles();

        StatusMessage("Scanning approve folder ...");
        ScanCaughtLegit(gStoreRoot + gApproveFolder_filename);
        if (Tracing())
            ConsoleLog("Processed approve folder");

        StatusMessage("Scanning block folder ...");
        ScanUncaughtSpam(gStoreRoot + gBlockFolder_Filename);
        if (Tracing())
            ConsoleLog("Processed block folder");

        ScanMailStores();
        // Stores gone for good (a deleted user or identity) stop owing.
        Guarded("ReleaseGoneStores", [] { ReleaseGoneStores(); });

        identity.reset();
        // The release writes a changed database but reports no failure: an
        // explicit save first finds out (the release then writes it pruned).
        if (!SaveAddressDatabase())
            ConsoleLog(kDatabaseNotSaved);
        AddrLib().freeSpamAddrH(gAddrHandle);
        gAddrHandle = nullptr;
        CleanUp();
        StatusMessage("Outlook Express scan finished.");
    });
    if (!ok)
        CleanUp();

    if (gShowStatus) {
        // The window stays until the user is done with it: after a full run
        // with OK enabled, after an error with OK disabled.
        platform::Status().PumpEvents();
        platform::Status().WaitForOk(ok);
    }
    platform::Status().Close();
    return true;
}

}  // namespace qb::driver
