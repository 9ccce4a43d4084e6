// The scanner's driver module: the entry procedure, its fixed run order, the
// scans, the reporting operations and the module's globals.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "scanner/config/RegValue.h"
#include "scanner/driver/AddressDatabase.h"

namespace qb::config {
class Conf;
}
namespace qb::lists {
class AddressList;
class FileList;
}  // namespace qb::lists

namespace qb::driver {

// ---- Globals of the driver, one of each for the whole run ----------------

extern int16_t gVerboseLevel;                // trace level; 8 or more writes the trace lines
extern bool gShowStatus;                     // started with "-show"
extern int32_t gScanLimit;                   // largest store file read, in bytes; 0 = no limit
extern std::string gStoreRoot;               // store root, ending in a backslash
extern AddrHandle gAddrHandle;               // the address database handle
extern std::string gBlockFolder_Filename;    // the block folder's .dbx file name
extern std::string gApproveFolder_filename;  // the approve folder's .dbx file name

extern std::unique_ptr<config::Conf> gConf;                   // conf\quellbox.conf
extern std::unique_ptr<lists::AddressList> gBlockedSenders;   // conf\blockedsenders
extern std::unique_ptr<lists::AddressList> gApprovedSenders;  // conf\approvedsenders

// The address-database library, loaded on the first call into it.
AddressDatabaseLibrary& AddrLib();

// The registry key of the product's own switches and counters (under
// HKEY_LOCAL_MACHINE).
inline constexpr const char* kProductKey = "Software\\Ferrowin Tessaly Desktop Client";

// A value of the product's key, read through a registry object of its own
// (Empty when missing), and a value written there.
config::RegValue ProductValue(const char* name);
void SetProductValue(const char* name, const config::RegValue& value);

// The program folder, as the platform reports it (no trailing separator).
std::string ProgramFolder();

// ---- Entry, set-up and tear-down ------------------------------------------

// The program's entry. Returns whether a run took place (false: another copy
// was running and this one ended at once).
bool Main();
void InitializeObjects();
void CleanUp();

// The code page of the run's 8-bit text (CodePage.cpp): the one
// platform::WantedCodePage finds in the system, the registry or the
// environment, else 1252. Puts it in force (Windows-1252 when it cannot be
// used, with a console line) and returns the number in force. Call before
// any product file is read.
uint32_t SettleCodePage();

// ---- Command line -----------------------------------------------------------

void ParseCommandLine();
int16_t ArgCount();
std::string GetArg(int16_t n);

// ---- Helpers of the run -------------------------------------------------

std::string GetLastUserID();
// list is 1-based: list[1..count]; list[0] is not read.
void BlockedSenders(const std::vector<std::string>& list, int32_t count);
std::string FormatEmail(std::string_view address);
// The same into out, whose memory serves the next call again.
void FormatEmail(std::string_view address, std::string& out);
// Writes the address database to its file when this run changed it since
// the last save. True when the file holds every change (also when there was
// none); false when the library could not write it.
bool SaveAddressDatabase();
// The console line of a database save that failed.
inline constexpr const char* kDatabaseNotSaved = "Unable to save the address database.";

// A store's Sent Items state file and the database together (SentState.cpp);
// name is the state file under conf ("oesent", or another store's, see
// Stores.h). Saves the database and then writes sent to its file, through
// conf\<name>.pending so that a kill at any moment leaves the next run
// counting each message once. False, with the state file untouched, when the
// database could not be saved; raises the list's error when the state file
// cannot be written.
bool SaveSentStateWithDatabase(lists::FileList& sent, const std::string& name);
// Completes or drops the pending file of a killed run. Call while this copy
// is the only one and before the database is opened.
void ResolvePendingSentState(const std::string& name);

// The record of the list phase under way (see lists::ScanPhase):
// program folder\conf\scanphase.
std::string PhaseRecordPath();
// Puts back the files of a list phase that a crash or power cut interrupted,
// and writes a console line for whatever the record called for. Call while
// this copy is the only one and before the lists are loaded.
void RecoverListPhase();
// The console lines of RecoverListPhase ("<phase>" stands for the phase's name).
inline constexpr const char* kPhaseRestored =
    "Lists put back as they were before the interrupted <phase>.";
inline constexpr const char* kPhaseRecordDamaged =
    "conf\\scanphase could not be read; the lists are left as they are (kept as "
    "conf\\scanphase.damaged).";
inline constexpr const char* kPhaseNotRestored =
    "Unable to put back the lists of the interrupted <phase>; no list is changed in this run.";

// ---- The scans, in their run order ---------------------------------------

void PreviousFrom(std::string dbx_file);
void ScanNewSentEmails(std::string dbx_file);
void ScanCaughtLegit(std::string dbx_file);
void ScanUncaughtSpam(std::string dbx_file);
bool DomainListed(const std::string& address, lists::AddressList& list);
std::string GetFolderFilename(std::string name);
// GetFolderFilename's search, and when no folder has the display name, the
// folder of Folders.dbx whose folder kind is kind (0: none; one of Local
// Folders before others), else one whose display name is configured (the
// user's setting, lowered; empty: none). A folder found the second or third
// way gets a trace line "<name> = <file> (folder kind <kind>)" or
// "<name> = <file> (configured name)".
std::string FindFolderFile(std::string name, int32_t kind, const std::string& configured);
// The Inbox's and the Sent Items' .dbx file names: by the display names
// "inbox" and "sent items", by their folder kind, or by the settings below.
std::string InboxFilename();
std::string SentItemsFilename();
// The settings of conf\quellbox.conf that name the Inbox and the Sent Items
// folder where the display names and folder kinds the scanner knows do not
// find them (every store's: Outlook Express, Windows Live Mail, Windows Mail).
inline constexpr const char* kInboxSetting = "oe_inbox_folder";
inline constexpr const char* kSentItemsSetting = "oe_sent_folder";
void GetBlockApproveFiles();
// The scans of the Windows Live Mail and Windows Mail stores, after the
// Outlook Express ones (MailScans.cpp).
void ScanMailStores();

// ---- Reporting -------------------------------------------------------------

void ConsoleLog(const std::string& text);
void StatusMessage(const std::string& text);

}  // namespace qb::driver
