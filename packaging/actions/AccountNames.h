// The local names of the accounts the package grants rights to. The
// LockPermissions table names accounts by their local names, which differ
// from one language of Windows to the next ("Users", "Benutzer",
// "Utilisateurs"); the installer takes them from the accounts' well-known
// identifiers at install time. This part decides what each property gets;
// the lookup and the installer session are passed in, so that it is the same
// code on Windows and in the native tests.
#pragma once

#include <functional>
#include <string>

namespace qb::installer {

// A well-known account: the installer property that carries its local name,
// and its identifier, in the NT authority (S-1-5-...), with one or two
// sub-authorities.
struct WellKnownAccount {
    const wchar_t* property;
    const wchar_t* sid;
    unsigned subAuthorityCount;
    unsigned long subAuthorities[2];
};

// Users (S-1-5-32-545), Administrators (S-1-5-32-544) and the system
// account (S-1-5-18), in that order.
extern const WellKnownAccount kWellKnownAccounts[3];

// What a lookup of an identifier found: the local name, or an empty name and
// the system's error code.
struct LookupResult {
    std::wstring name;
    unsigned long error = 0;
};

using AccountLookup = std::function<LookupResult(const WellKnownAccount&)>;

// The installer session, as far as the resolution needs it: read a property
// (empty when not set), set one (false on failure), and write a line to the
// installer's log, as information or as an error.
struct InstallerSession {
    std::function<std::wstring(const wchar_t* property)> get;
    std::function<bool(const wchar_t* property, const std::wstring& value)> set;
    std::function<void(const std::wstring& line, bool error)> log;
};

// The property in which the action lists (";"-separated) the account
// properties it looked up. The interface sequence's run leaves it for the
// execute sequence's, which then finds those properties set and must not
// take them for names given on the command line.
inline constexpr const wchar_t* kLookedUpProperty = L"QUELLBOXLOOKEDUP";

// Gives each account's property its local name, unless the property already
// holds one (a name given on the command line, or one the interface
// sequence looked up, wins). Logs one line for each account, what it got
// and from where: looked up now, looked up in the interface sequence, or
// given on the command line. Returns false when any account
// could not be resolved or its property not set; every account is tried
// and every failure logged, so that one run of the installer names them all.
bool resolveAccountNames(const InstallerSession& session, const AccountLookup& lookup);

}  // namespace qb::installer
