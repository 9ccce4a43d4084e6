// OEIdentity: one Outlook Express identity of the current user. Given the
// identity's id (its key name under HKEY_CURRENT_USER\Identities) it finds the
// display name and the folder of the .dbx files (the store root), owns the
// identity's blocked-senders list, and lists and redirects its POP accounts.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "scanner/oe/OEBlockedList.h"
#include "scanner/oe/OEPOPAccount.h"

namespace qb::oe {

// The POP3 server name by which an account set up for the mail scanning of
// Norton AntiVirus 2001 is recognised: that product pointed the account at its
// own local POP3 proxy under this name.
inline constexpr const char* kNortonAntiVirus2001PopServer = "pop3.norton.antivirus";

// The name by which the local machine reaches itself; a redirected account
// fetches its mail from the product's proxy there.
inline constexpr const char* kLoopbackHostName = "localhost";

// The display name of the identity whose accounts live in the global
// accounts key.
inline constexpr const char* kMainIdentity = "Main Identity";

// The OS variable's value on the Windows NT family.
inline constexpr const char* kNtOsName = "Windows_NT";

// AcctConfigurable's codes.
namespace acct {
constexpr int32_t kConfigurable = 0;
constexpr int32_t kNotFound = 100;
constexpr int32_t kSecure = 101;
constexpr int32_t kAlreadyConfigured = 103;
constexpr int32_t kPortTaken = 120;
constexpr int32_t kSmtpAuthentication = 121;
}  // namespace acct

class OEIdentity {
  public:
    OEIdentity() = default;
    OEIdentity(const OEIdentity&) = delete;
    OEIdentity& operator=(const OEIdentity&) = delete;

    // Sets the identity and resolves its display name and store root anew.
    void Identity(const std::string& id);
    // The store folder, without a trailing backslash. The last fallback
    // stands even when it does not exist.
    const std::string& StoreRoot() const { return storeRoot_; }
    int32_t BlockedListCount() const { return blockedList_.Count(); }
    const std::string& Identity_Username() const { return identityUsername_; }

    // Replaces the accounts with every account that has a POP3 server.
    void LoadAllPOPAccounts();
    // Replaces the accounts with those that can be redirected: a POP3 server,
    // no SSL, no Secure Password Authentication, SMTP Use Sicily 0, 1 or 3.
    void LoadPOPAccounts();
    // Whether the account with subkey name acctkey can be redirected through
    // the proxy listening on proxy_port: acct::kConfigurable, or a refusal code
    // with its reason in errormsg (left unchanged otherwise).
    int32_t AcctConfigurable(const std::string& acctkey, const std::string& proxy_port,
                             std::string& errormsg) const;
    // Redirects the account through the local proxy and saves it. A port text
    // that is no 16-bit number raises before anything changes.
    void ConfigureAccount(const std::string& acctkey, const std::string& proxy_port);
    // Writes the account's user name, server and port below the identity's
    // accounts key (no fallback). A port that is no 16-bit number raises
    // before anything is written.
    void SaveAccount(const OEPOPAccount& account);

    // For the scanner: loads the blocked-senders list, and its entries in
    // sorted order (element 0 is the first).
    void LoadBlockedList() { blockedList_.Load(); }
    std::vector<std::string> BlockedListItems() { return blockedList_.Entries(); }

    // The accounts last loaded, in the registry's order of their subkeys.
    const std::vector<std::shared_ptr<OEPOPAccount>>& Accounts() const { return accounts_; }

    // The expansions of %USERNAME% and %OS% of the last resolution.
    const std::string& UserName() const { return userName_; }
    const std::string& OsName() const { return osName_; }

  private:
    void ResolveStoreRoot();
    std::string AccountsKey(bool fallBack) const;
    void LoadAccounts(bool onlyRedirectable);
    std::shared_ptr<OEPOPAccount> Find(const std::string& acctkey) const;

    std::vector<std::shared_ptr<OEPOPAccount>> accounts_;
    OEBlockedList blockedList_;
    std::string identity_;
    std::string identityUsername_;
    std::string userName_;
    std::string osName_;
    std::string storeRoot_;
};

// Whether path names an existing file or folder, hidden or not. The empty
// path does not exist: an identity without a "Store Root" value goes on to
// the fallbacks.
bool PathExists(const std::string& path);

}  // namespace qb::oe
