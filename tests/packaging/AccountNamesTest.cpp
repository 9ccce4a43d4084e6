// The resolution of the account names the package's rights name: what each
// property gets on a Windows in another language, that a name given on the
// command line wins, and that a failed lookup fails the action with a line
// in the log.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "packaging/actions/AccountNames.h"

namespace qb::installer {
namespace {

struct Session {
    std::map<std::wstring, std::wstring> properties;
    std::vector<std::wstring> info, errors;
    std::vector<std::wstring> lookedUp;
    bool setFails = false;

    InstallerSession hooks() {
        return {[this](const wchar_t* p) {
                    auto it = properties.find(p);
                    return it == properties.end() ? std::wstring() : it->second;
                },
                [this](const wchar_t* p, const std::wstring& v) {
                    if (setFails)
                        return false;
                    properties[p] = v;
                    return true;
                },
                [this](const std::wstring& line, bool error) {
                    (error ? errors : info).push_back(line);
                }};
    }

    // A lookup that answers from a table by identifier; an identifier not in
    // it fails with 1332 (ERROR_NONE_MAPPED).
    AccountLookup lookup(std::map<std::wstring, std::wstring> names) {
        return [this, names](const WellKnownAccount& account) {
            lookedUp.push_back(account.sid);
            auto it = names.find(account.sid);
            return it == names.end() ? LookupResult{L"", 1332} : LookupResult{it->second, 0};
        };
    }
};

// The names a lookup finds for Users, Administrators and the system account.
std::map<std::wstring, std::wstring> names(const std::wstring& users, const std::wstring& admins,
                                           const std::wstring& system) {
    return {{L"S-1-5-32-545", users}, {L"S-1-5-32-544", admins}, {L"S-1-5-18", system}};
}

bool hasLine(const std::vector<std::wstring>& lines, const std::wstring& part) {
    for (const auto& line : lines)
        if (line.find(part) != std::wstring::npos)
            return true;
    return false;
}

struct LanguageCase {
    const char* language;
    std::wstring users, admins, system;
};

TEST(AccountNames, EachLanguageGetsTheLocalNamesOfTheThreeIdentifiers) {
    const LanguageCase cases[] = {
        {"German", L"Benutzer", L"Administratoren", L"SYSTEM"},
        {"French", L"Utilisateurs", L"Administrateurs", L"Syst\u00e8me"},
        {"English", L"Users", L"Administrators", L"SYSTEM"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.language);
        Session session;
        ASSERT_TRUE(resolveAccountNames(session.hooks(),
                                        session.lookup(names(c.users, c.admins, c.system))));
        EXPECT_EQ(session.properties,
                  (std::map<std::wstring, std::wstring>{
                      {L"USERSGROUP", c.users},
                      {L"ADMINSGROUP", c.admins},
                      {L"SYSTEMACCOUNT", c.system},
                      {kLookedUpProperty, L"USERSGROUP;ADMINSGROUP;SYSTEMACCOUNT;"}}));
        EXPECT_TRUE(session.errors.empty());
        EXPECT_TRUE(hasLine(session.info, L"USERSGROUP = " + c.users +
                                              L" (the local name of "
                                              L"S-1-5-32-545)"));
        EXPECT_TRUE(hasLine(session.info,
                            L"SYSTEMACCOUNT = " + c.system + L" (the local name of S-1-5-18)"));
    }
}

TEST(AccountNames, ANameGivenOnTheCommandLineWinsAndIsNotLookedUp) {
    Session session;
    session.properties[L"USERSGROUP"] = L"Usuarios";
    ASSERT_TRUE(resolveAccountNames(
        session.hooks(), session.lookup(names(L"Benutzer", L"Administratoren", L"SYSTEM"))));
    EXPECT_EQ(session.properties[L"USERSGROUP"], L"Usuarios");
    EXPECT_EQ(session.properties[L"ADMINSGROUP"], L"Administratoren");
    EXPECT_EQ(session.lookedUp, (std::vector<std::wstring>{L"S-1-5-32-544", L"S-1-5-18"}));
    EXPECT_TRUE(hasLine(session.info, L"USERSGROUP = Usuarios (given on the command line"));
}

// With a user interface the action runs twice: in the interface sequence,
// which looks the names up, and in the execute sequence, which finds them
// set and must say where they came from, not call them command-line names.
TEST(AccountNames, TheExecuteSequenceSaysWhichNamesTheInterfaceSequenceLookedUp) {
    Session session;
    session.properties[L"ADMINSGROUP"] = L"Admins";  // on the command line
    const AccountLookup lookup = session.lookup(names(L"Benutzer", L"Administratoren", L"SYSTEM"));
    ASSERT_TRUE(resolveAccountNames(session.hooks(), lookup));  // interface sequence
    EXPECT_EQ(session.properties[kLookedUpProperty], L"USERSGROUP;SYSTEMACCOUNT;");
    session.info.clear();
    ASSERT_TRUE(resolveAccountNames(session.hooks(), lookup));  // execute sequence
    EXPECT_EQ(session.lookedUp, (std::vector<std::wstring>{L"S-1-5-32-545", L"S-1-5-18"}));
    EXPECT_EQ(session.info,
              (std::vector<std::wstring>{
                  L"Quellbox: USERSGROUP = Benutzer (the local name of S-1-5-32-545, looked up in "
                  L"the interface sequence)",
                  L"Quellbox: ADMINSGROUP = Admins (given on the command line; S-1-5-32-544 not "
                  L"looked up)",
                  L"Quellbox: SYSTEMACCOUNT = SYSTEM (the local name of S-1-5-18, looked up in "
                  L"the interface sequence)"}));
}

TEST(AccountNames, AFailedLookupFailsTheActionNamingTheAccountAndTriesTheOthers) {
    Session session;
    // The Administrators group cannot be resolved; the other two can.
    EXPECT_FALSE(resolveAccountNames(
        session.hooks(),
        session.lookup({{L"S-1-5-32-545", L"Utilisateurs"}, {L"S-1-5-18", L"Syst\u00e8me"}})));
    EXPECT_EQ(session.properties.count(L"ADMINSGROUP"), 0u);
    EXPECT_EQ(session.properties[L"SYSTEMACCOUNT"], L"Syst\u00e8me");
    ASSERT_EQ(session.errors.size(), 1u);
    EXPECT_NE(session.errors[0].find(L"S-1-5-32-544 (ADMINSGROUP) cannot be resolved: error 1332"),
              std::wstring::npos)
        << std::string(session.errors[0].begin(), session.errors[0].end());
}

TEST(AccountNames, AnEmptyNameOrAPropertyThatCannotBeSetFails) {
    Session empty;
    EXPECT_FALSE(resolveAccountNames(empty.hooks(), [](const WellKnownAccount&) {
        return LookupResult{L"", 0};
    }));
    EXPECT_EQ(empty.errors.size(), 3u);
    EXPECT_TRUE(hasLine(empty.errors, L"the system gave an empty name"));

    Session unsettable;
    unsettable.setFails = true;
    EXPECT_FALSE(resolveAccountNames(
        unsettable.hooks(), unsettable.lookup(names(L"Users", L"Administrators", L"SYSTEM"))));
    EXPECT_EQ(unsettable.errors.size(), 3u);
    EXPECT_TRUE(hasLine(unsettable.errors, L"the property could not be set"));
}

}  // namespace
}  // namespace qb::installer
