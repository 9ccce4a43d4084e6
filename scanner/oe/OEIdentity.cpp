#include "scanner/oe/OEIdentity.h"

#include <algorithm>

#include "common/Text.h"
#include "platform/Environment.h"
#include "platform/FileSystem.h"
#include "platform/Platform.h"
#include "platform/Registry.h"
#include "scanner/config/RegOp.h"

namespace qb::oe {

namespace {

namespace reg = platform::reg;

constexpr const char* kGlobalAccountsKey =
    "Software\\Microsoft\\Internet Account Manager\\Accounts";
constexpr const char* kStoreTail = "\\Microsoft\\Outlook Express";

std::string Read(uint32_t root, const std::string& key, const std::string& name,
                 int32_t options = 0) {
    config::RegOp op;
    op.root(root);
    op.key(key);
    op.Options(options);
    return config::ToText(op.Value(name));
}

// Whether a setting holds the number n (as a number or numeric text).
bool HoldsNumber(const config::RegValue& v, int32_t n) {
    return config::IsNumeric(v) && config::ToDouble(v) == n;
}

}  // namespace

bool PathExists(const std::string& path) {
    return !path.empty() && platform::PathExists(platform::Files(), path);
}

void OEIdentity::Identity(const std::string& id) {
    identity_ = id;
    blockedList_.Identity(id);
    ResolveStoreRoot();
}

void OEIdentity::ResolveStoreRoot() {
    platform::Environment& env = platform::Env();
    userName_ = env.Expand("%USERNAME%");
    osName_ = env.Expand("%OS%");
    identityUsername_ = Read(reg::kCurrentUser, "Identities\\" + identity_, "Username");
    const std::string storeRootKey =
        "Identities\\" + identity_ + "\\Software\\Microsoft\\Outlook Express\\5.0";
    const std::string identityTail = "\\Application Data\\Identities\\" + identity_ + kStoreTail;
    storeRoot_ = Read(reg::kCurrentUser, storeRootKey, "Store Root", config::RegOp::kExpandOnRead);
    if (osName_ == kNtOsName) {
        if (!PathExists(storeRoot_))
            storeRoot_ = env.Expand("%USERPROFILE%") +
                         "\\Local Settings\\Application Data\\Identities\\" + identity_ +
                         kStoreTail;
        if (!PathExists(storeRoot_))
            storeRoot_ = env.Expand("%SYSTEMROOT%") + "\\Profiles\\" + userName_ + identityTail;
    } else if (!PathExists(storeRoot_)) {
        storeRoot_ =
            Read(reg::kLocalMachine, "Software\\Microsoft\\Windows\\CurrentVersion", "SystemRoot") +
            identityTail;
    }
}

std::string OEIdentity::AccountsKey(bool fallBack) const {
    if (identityUsername_ == kMainIdentity)
        return kGlobalAccountsKey;
    const std::string own =
        "Identities\\" + identity_ + "\\Software\\Microsoft\\Internet Account Manager\\Accounts";
    if (fallBack) {
        config::RegOp op;
        op.root(reg::kCurrentUser);
        op.key(own);
        if (op.KeyCount() == 0)
            return kGlobalAccountsKey;
    }
    return own;
}

void OEIdentity::LoadAllPOPAccounts() {
    LoadAccounts(false);
}

void OEIdentity::LoadPOPAccounts() {
    LoadAccounts(true);
}

void OEIdentity::LoadAccounts(bool onlyRedirectable) {
    accounts_.clear();
    const std::string accountsKey = AccountsKey(true);
    config::RegOp list;
    list.root(reg::kCurrentUser);
    list.key(accountsKey);
    const std::vector<std::string> names = list.AllKeys();
    const size_t count = std::min(names.size(), static_cast<size_t>(std::max(list.KeyCount(), 0)));
    for (size_t i = 0; i < count; ++i) {
        config::RegOp op;
        op.root(reg::kCurrentUser);
        op.key(accountsKey + "\\" + names[i]);
        const std::string server = config::ToText(op.Value("POP3 Server"));
        if (server.empty())
            continue;
        if (onlyRedirectable) {
            const config::RegValue smtp = op.Value("SMTP Use Sicily");
            const bool smtpAllowed =
                config::IsEmpty(smtp) || smtp == config::RegValue(std::string()) ||
                HoldsNumber(smtp, 0) || HoldsNumber(smtp, 1) || HoldsNumber(smtp, 3);
            if (HoldsNumber(op.Value("POP3 Secure Connection"), 1) ||
                HoldsNumber(op.Value("POP3 Use Sicily"), 1) || !smtpAllowed)
                continue;
        }
        auto account = std::make_shared<OEPOPAccount>();
        account->accountname(config::ToText(op.Value("Account Name")));
        account->POPServer(server);
        account->SMTPEmailAddress(config::ToText(op.Value("SMTP Email Address")));
        account->SMTPServer(config::ToText(op.Value("SMTP Server")));
        account->Username(config::ToText(op.Value("POP3 User Name")));
        account->POP3Port(config::ToText(op.Value("POP3 Port")));
        account->POP3SecureConnection(config::ToText(op.Value("POP3 Secure Connection")));
        account->POP3UseSicily(config::ToText(op.Value("POP3 Use Sicily")));
        account->SMTPUseSicily(config::ToText(op.Value("SMTP Use Sicily")));
        account->SetKey(names[i]);
        accounts_.push_back(std::move(account));
    }
}

std::shared_ptr<OEPOPAccount> OEIdentity::Find(const std::string& acctkey) const {
    for (const auto& account : accounts_) {
        if (text::EqualNoCase(account->key(), acctkey))
            return account;
    }
    return nullptr;
}

int32_t OEIdentity::AcctConfigurable(const std::string& acctkey, const std::string& proxy_port,
                                     std::string& errormsg) const {
    const std::shared_ptr<OEPOPAccount> account = Find(acctkey);
    if (!account) {
        errormsg = "Unable to find account";
        return acct::kNotFound;
    }
    if (account->POP3_Secure_Connection() == "1") {
        errormsg = "Unable to configure this account.  POP Account requires SSL";
        return acct::kSecure;
    }
    if (account->POP3_Use_Sicily() == "1") {
        errormsg =
            "Unable to configure this account.  This POP Account requires Secure Password "
            "Authentication.";
        return acct::kSecure;
    }
    if (account->SMTP_Use_Sicily() == "2") {
        errormsg =
            "This account requires SMTP Authentication and the username settings are the same "
            "as incoming server.  In order for Quellbox to work with Outlook Express, please "
            "change your settings for SMTP Authentication to 'Log on using:', enter your Account "
            "name and Password, and then run this wizard again.";
        return acct::kSmtpAuthentication;
    }
    if (account->User_name().find('#') != std::string::npos) {
        errormsg = "This POP Account may already be configured to work with Quellbox.";
        return acct::kAlreadyConfigured;
    }
    if (account->POP_Server() == kNortonAntiVirus2001PopServer &&
        account->POP3_Port() == proxy_port) {
        errormsg =
            "We detected Norton Antivirus 2001 listening on the same port as the Tessaly "
            "Client.  Please configure the Tessaly Client to listen on a different port, for "
            "example port 8110, and then run this wizard again.";
        return acct::kPortTaken;
    }
    return acct::kConfigurable;
}

void OEIdentity::ConfigureAccount(const std::string& acctkey, const std::string& proxy_port) {
    const std::shared_ptr<OEPOPAccount> account = Find(acctkey);
    if (!account)
        return;
    // A port that cannot be stored fails here, before the account changes.
    config::ToInteger(proxy_port);
    const std::string& port = account->POP3_Port();
    std::string user = account->User_name() + "#" + account->POP_Server();
    if (!port.empty() && port != "110")
        user += ":" + port;
    account->Username(user);
    account->POPServer(kLoopbackHostName);
    account->POP3Port(proxy_port);
    SaveAccount(*account);
}

void OEIdentity::SaveAccount(const OEPOPAccount& account) {
    // Converted first: a port that is no 16-bit number leaves the account untouched.
    const int16_t port = config::ToInteger(account.POP3_Port());
    config::RegOp op;
    op.root(reg::kCurrentUser);
    op.key(AccountsKey(false) + "\\" + account.key());
    op.Value("POP3 User Name", account.User_name());
    op.Value("POP3 Server", account.POP_Server());
    op.Value("POP3 Port", port);
}

}  // namespace qb::oe
