#include "packaging/actions/AccountNames.h"

#include <string>

namespace qb::installer {

const WellKnownAccount kWellKnownAccounts[3] = {
    {L"USERSGROUP", L"S-1-5-32-545", 2, {32, 545}},
    {L"ADMINSGROUP", L"S-1-5-32-544", 2, {32, 544}},
    {L"SYSTEMACCOUNT", L"S-1-5-18", 1, {18, 0}},
};

namespace {

const wchar_t kPrefix[] = L"Quellbox: ";

// Whether the ";"-separated list names the property.
bool Lists(const std::wstring& list, const wchar_t* property) {
    return (L";" + list).find(L";" + std::wstring(property) + L";") != std::wstring::npos;
}

std::wstring failureLine(const WellKnownAccount& account, const std::wstring& why) {
    return std::wstring(kPrefix) + L"the local name of the account " + account.sid + L" (" +
           account.property + L") cannot be resolved: " + why +
           L". Give it on the command line, e.g. " + account.property + L"=<local name>.";
}

}  // namespace

bool resolveAccountNames(const InstallerSession& session, const AccountLookup& lookup) {
    bool resolved = true;
    const std::wstring earlier = session.get(kLookedUpProperty);
    std::wstring lookedUp = earlier;
    for (const WellKnownAccount& account : kWellKnownAccounts) {
        std::wstring given = session.get(account.property);
        if (!given.empty()) {
            const std::wstring from = Lists(earlier, account.property)
                                          ? std::wstring(L"the local name of ") + account.sid +
                                                L", looked up in the interface sequence"
                                          : std::wstring(L"given on the command line; ") +
                                                account.sid + L" not looked up";
            session.log(
                std::wstring(kPrefix) + account.property + L" = " + given + L" (" + from + L")",
                false);
            continue;
        }
        LookupResult found = lookup(account);
        if (found.name.empty()) {
            std::wstring why = found.error != 0 ? L"error " + std::to_wstring(found.error)
                                                : std::wstring(L"the system gave an empty name");
            session.log(failureLine(account, why), true);
            resolved = false;
            continue;
        }
        if (!session.set(account.property, found.name)) {
            session.log(failureLine(account, L"the property could not be set"), true);
            resolved = false;
            continue;
        }
        session.log(std::wstring(kPrefix) + account.property + L" = " + found.name +
                        L" (the local name of " + account.sid + L")",
                    false);
        lookedUp += std::wstring(account.property) + L";";
    }
    // (Only the log's wording depends on it: a failure to set it is no fault.)
    if (lookedUp != earlier)
        session.set(kLookedUpProperty, lookedUp);
    return resolved;
}

}  // namespace qb::installer
