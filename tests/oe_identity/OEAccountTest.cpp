// POP accounts: where they are read from, which are listed, every code of
// AcctConfigurable, and the redirection through the local proxy.
#include <gtest/gtest.h>

#include "common/RunError.h"
#include "scanner/oe/OEIdentity.h"
#include "tests/oe_identity/OEFixture.h"

namespace qb::oe::test {
namespace {

const std::string kGlobal = "Software\\Microsoft\\Internet Account Manager\\Accounts";
const std::string kOwn =
    std::string("Identities\\") + kId + "\\Software\\Microsoft\\Internet Account Manager\\Accounts";

class AccountTest : public OEFixture {
  protected:
    // An account below accountsKey with the given server and user name.
    void Account(const std::string& accountsKey, const std::string& sub, const std::string& server,
                 const std::string& user = "jo") {
        const std::string key = accountsKey + "\\" + sub;
        PutText(key, "Account Name", "Account " + sub);
        if (!server.empty())
            PutText(key, "POP3 Server", server);
        PutText(key, "POP3 User Name", user);
        PutText(key, "SMTP Email Address", "jo@example.com");
        PutText(key, "SMTP Server", "smtp.example.com");
    }
    std::vector<std::string> Keys(const OEIdentity& identity) {
        std::vector<std::string> keys;
        for (const auto& a : identity.Accounts())
            keys.push_back(a->key());
        return keys;
    }
    void Identify(OEIdentity& identity, const std::string& name) {
        PutText(std::string("Identities\\") + kId, "Username", name);
        identity.Identity(kId);
    }
};

TEST_F(AccountTest, AnIdentityWithoutAccountsListsTheGlobalOnesButSavesBelowItsOwnKey) {
    Account(kGlobal, "00000001", "mail");
    Account(kGlobal, "00000002", "");  // no POP3 server: not a POP account
    PutNumber(kGlobal + "\\00000001", "POP3 Port", 110);
    OEIdentity identity;
    Identify(identity, "Second");
    identity.LoadAllPOPAccounts();
    ASSERT_EQ(Keys(identity), std::vector<std::string>{"00000001"});
    const OEPOPAccount& a = *identity.Accounts()[0];
    EXPECT_EQ(a.Account_Name(), "Account 00000001");
    EXPECT_EQ(a.POP_Server(), "mail");
    EXPECT_EQ(a.User_name(), "jo");
    EXPECT_EQ(a.SMTP_Email_Address(), "jo@example.com");
    EXPECT_EQ(a.SMTP_Server(), "smtp.example.com");
    EXPECT_EQ(a.POP3_Port(), "110");  // numbers arrive as decimal text
    EXPECT_EQ(a.POP3_Secure_Connection(), "");
    identity.LoadPOPAccounts();
    EXPECT_EQ(Keys(identity), std::vector<std::string>{"00000001"});

    identity.ConfigureAccount("00000001", "8110");
    EXPECT_EQ(Stored(kOwn + "\\00000001", "POP3 User Name").second, std::string("jo#mail\0", 8));
    EXPECT_EQ(Stored(kGlobal + "\\00000001", "POP3 User Name").second, std::string("jo\0", 3));
}

TEST_F(AccountTest, TheMainIdentityUsesTheGlobalKeyAndOthersTheirOwn) {
    Account(kGlobal, "g", "global.example.com");
    Account(kOwn, "o", "own.example.com");
    OEIdentity identity;
    Identify(identity, "Main Identity");
    identity.LoadAllPOPAccounts();
    EXPECT_EQ(Keys(identity), std::vector<std::string>{"g"});
    Identify(identity, "main identity");  // compared with case
    identity.LoadAllPOPAccounts();
    EXPECT_EQ(Keys(identity), std::vector<std::string>{"o"});
}

TEST_F(AccountTest, LoadPOPAccountsTakesOnlyAccountsThatCanBeRedirected) {
    const char* subs[] = {"plain", "ssl",   "spa",   "smtp0",  "smtp1",
                          "smtp2", "smtp3", "smtp4", "textssl"};
    for (const char* s : subs)
        Account(kGlobal, s, "mail");
    PutNumber(kGlobal + "\\ssl", "POP3 Secure Connection", 1);
    PutNumber(kGlobal + "\\spa", "POP3 Use Sicily", 1);
    PutText(kGlobal + "\\textssl", "POP3 Secure Connection", "1");
    for (uint32_t n : {0u, 1u, 2u, 3u, 4u})
        PutNumber(kGlobal + "\\smtp" + std::to_string(n), "SMTP Use Sicily", n);
    PutNumber(kGlobal + "\\plain", "POP3 Secure Connection", 0);
    OEIdentity identity;
    Identify(identity, "Main Identity");
    identity.LoadAllPOPAccounts();
    EXPECT_EQ(identity.Accounts().size(), 9u);
    identity.LoadPOPAccounts();
    // Subkeys come in the registry's order.
    EXPECT_EQ(Keys(identity), (std::vector<std::string>{"plain", "smtp0", "smtp1", "smtp3"}));
}

TEST_F(AccountTest, AcctConfigurableAnswersEveryCode) {
    Account(kGlobal, "ok", "mail");
    Account(kGlobal, "ssl", "mail");
    PutNumber(kGlobal + "\\ssl", "POP3 Secure Connection", 1);
    Account(kGlobal, "spa", "mail");
    PutNumber(kGlobal + "\\spa", "POP3 Use Sicily", 1);
    Account(kGlobal, "smtp", "mail");
    PutNumber(kGlobal + "\\smtp", "SMTP Use Sicily", 2);
    Account(kGlobal, "done", "localhost", "jo#mail");
    Account(kGlobal, "nav", kNortonAntiVirus2001PopServer);
    PutNumber(kGlobal + "\\nav", "POP3 Port", 110);
    OEIdentity identity;
    Identify(identity, "Main Identity");
    identity.LoadAllPOPAccounts();

    std::string msg = "untouched";
    EXPECT_EQ(identity.AcctConfigurable("ok", "110", msg), acct::kConfigurable);
    EXPECT_EQ(msg, "untouched");
    EXPECT_EQ(identity.AcctConfigurable("missing", "110", msg), acct::kNotFound);
    EXPECT_EQ(msg, "Unable to find account");
    EXPECT_EQ(identity.AcctConfigurable("ssl", "110", msg), acct::kSecure);
    EXPECT_EQ(msg, "Unable to configure this account.  POP Account requires SSL");
    EXPECT_EQ(identity.AcctConfigurable("spa", "110", msg), acct::kSecure);
    EXPECT_EQ(msg,
              "Unable to configure this account.  This POP Account requires Secure Password "
              "Authentication.");
    EXPECT_EQ(identity.AcctConfigurable("smtp", "110", msg), acct::kSmtpAuthentication);
    EXPECT_EQ(msg,
              "This account requires SMTP Authentication and the username settings are the same "
              "as incoming server.  In order for Quellbox to work with Outlook Express, please "
              "change your settings for SMTP Authentication to 'Log on using:', enter your "
              "Account name and Password, and then run this wizard again.");
    EXPECT_EQ(identity.AcctConfigurable("done", "110", msg), acct::kAlreadyConfigured);
    EXPECT_EQ(msg, "This POP Account may already be configured to work with Quellbox.");
    EXPECT_EQ(identity.AcctConfigurable("nav", "110", msg), acct::kPortTaken);
    EXPECT_EQ(msg,
              "We detected Norton Antivirus 2001 listening on the same port as the Tessaly "
              "Client.  Please configure the Tessaly Client to listen on a different port, for "
              "example port 8110, and then run this wizard again.");
    msg = "untouched";
    EXPECT_EQ(identity.AcctConfigurable("nav", "8110", msg), acct::kConfigurable);
    EXPECT_EQ(msg, "untouched");
}

TEST_F(AccountTest, ConfigureAccountRedirectsThroughTheLocalProxy) {
    const std::string key = kGlobal + "\\00000001";
    Account(kGlobal, "00000001", "mail");
    OEIdentity identity;
    Identify(identity, "Main Identity");
    identity.LoadAllPOPAccounts();
    identity.ConfigureAccount("00000001", "8110");
    EXPECT_EQ(Stored(key, "POP3 User Name"), std::make_pair(reg::kSz, std::string("jo#mail\0", 8)));
    EXPECT_EQ(Stored(key, "POP3 Server"), std::make_pair(reg::kSz, std::string("localhost\0", 10)));
    EXPECT_EQ(Stored(key, "POP3 Port"),
              std::make_pair(reg::kDword, std::string("\xAE\x1F\0\0", 4)));
    std::string msg;
    EXPECT_EQ(identity.AcctConfigurable("00000001", "8110", msg), acct::kAlreadyConfigured);

    // A port other than 110 travels in the user name.
    PutText(key, "POP3 User Name", "jo");
    PutText(key, "POP3 Server", "mail");
    PutNumber(key, "POP3 Port", 995);
    identity.LoadAllPOPAccounts();
    identity.ConfigureAccount("00000001", "8110");
    EXPECT_EQ(Stored(key, "POP3 User Name").second, std::string("jo#mail:995\0", 12));
    PutText(key, "POP3 User Name", "jo");
    PutText(key, "POP3 Server", "mail");
    PutNumber(key, "POP3 Port", 110);
    identity.LoadAllPOPAccounts();
    identity.ConfigureAccount("00000001", "8110");
    EXPECT_EQ(Stored(key, "POP3 User Name").second, std::string("jo#mail\0", 8));
    identity.ConfigureAccount("missing", "8110");  // nothing to do
}

TEST_F(AccountTest, APortThatIsNoNumberChangesNothing) {
    const std::string key = kGlobal + "\\00000001";
    Account(kGlobal, "00000001", "mail");
    OEIdentity identity;
    Identify(identity, "Main Identity");
    identity.LoadAllPOPAccounts();
    for (const char* port : {"abc", "40000", ""}) {
        try {
            identity.ConfigureAccount("00000001", port);
            ADD_FAILURE() << "no error for " << port;
        } catch (const RunError& e) {
            EXPECT_TRUE(e.Number() == err::kTypeMismatch || e.Number() == err::kOverflow);
        }
    }
    EXPECT_EQ(Stored(key, "POP3 User Name").second, std::string("jo\0", 3));
    EXPECT_EQ(Stored(key, "POP3 Server").second, std::string("mail\0", 5));
    EXPECT_EQ(identity.Accounts()[0]->User_name(), "jo");
    OEPOPAccount bad = *identity.Accounts()[0];
    bad.Username("changed");
    bad.POP3Port("99999");
    EXPECT_THROW(identity.SaveAccount(bad), RunError);
    EXPECT_EQ(Stored(key, "POP3 User Name").second, std::string("jo\0", 3));
}

}  // namespace
}  // namespace qb::oe::test
