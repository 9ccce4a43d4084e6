// The installer's custom action ResolveAccountNames: an immediate action that
// gives USERSGROUP, ADMINSGROUP and SYSTEMACCOUNT the local names of the
// Users group, the Administrators group and the system account before the
// LockPermissions table is applied. Windows Installer calls it with the
// session's handle; it answers ERROR_SUCCESS or ERROR_INSTALL_FAILURE, on
// which the installation ends and changes nothing.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
// (msiquery.h after msi.h, which declares MSIHANDLE and INSTALLMESSAGE)
#include <msi.h>
#include <msiquery.h>

#include <string>
#include <vector>

#include "packaging/actions/AccountNames.h"

namespace {

using qb::installer::AccountLookup;
using qb::installer::InstallerSession;
using qb::installer::LookupResult;
using qb::installer::WellKnownAccount;

// The local name of a well-known account of the NT authority, from this
// computer's account database.
LookupResult lookupAccount(const WellKnownAccount& account) {
    SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
    PSID sid = nullptr;
    if (!::AllocateAndInitializeSid(&nt, static_cast<BYTE>(account.subAuthorityCount),
                                    account.subAuthorities[0], account.subAuthorities[1], 0, 0, 0,
                                    0, 0, 0, &sid))
        return {L"", ::GetLastError()};
    std::vector<wchar_t> name(257), domain(257);
    LookupResult result;
    for (int attempt = 0; attempt < 2; ++attempt) {
        DWORD nameSize = static_cast<DWORD>(name.size());
        DWORD domainSize = static_cast<DWORD>(domain.size());
        SID_NAME_USE use;
        if (::LookupAccountSidW(nullptr, sid, name.data(), &nameSize, domain.data(), &domainSize,
                                &use)) {
            result = {std::wstring(name.data(), nameSize), 0};
            break;
        }
        result = {L"", ::GetLastError()};
        // Too small a buffer: the sizes needed came back; one more try.
        if (result.error != ERROR_INSUFFICIENT_BUFFER)
            break;
        name.resize(nameSize + 1);
        domain.resize(domainSize + 1);
    }
    ::FreeSid(sid);
    return result;
}

std::wstring getProperty(MSIHANDLE install, const wchar_t* property) {
    DWORD size = 0;
    wchar_t none[1] = {L'\0'};
    UINT status = ::MsiGetPropertyW(install, property, none, &size);
    if (status != ERROR_MORE_DATA)
        return std::wstring();
    std::vector<wchar_t> value(size + 1);
    size = static_cast<DWORD>(value.size());
    if (::MsiGetPropertyW(install, property, value.data(), &size) != ERROR_SUCCESS)
        return std::wstring();
    return std::wstring(value.data(), size);
}

// A line in the installer's log; an error is also shown to the user when
// the installation has a user interface.
void logLine(MSIHANDLE install, const std::wstring& line, bool error) {
    MSIHANDLE record = ::MsiCreateRecord(1);
    if (!record)
        return;
    // The text goes in as a field, not as the template, so that brackets in
    // an account's name are not read as a property reference.
    ::MsiRecordSetStringW(record, 0, L"[1]");
    ::MsiRecordSetStringW(record, 1, line.c_str());
    ::MsiProcessMessage(
        install,
        error ? INSTALLMESSAGE(INSTALLMESSAGE_ERROR | MB_OK | MB_ICONERROR) : INSTALLMESSAGE_INFO,
        record);
    ::MsiCloseHandle(record);
}

}  // namespace

extern "C" UINT __stdcall ResolveAccountNames(MSIHANDLE install) {
    try {
        InstallerSession session{
            [install](const wchar_t* property) { return getProperty(install, property); },
            [install](const wchar_t* property, const std::wstring& value) {
                return ::MsiSetPropertyW(install, property, value.c_str()) == ERROR_SUCCESS;
            },
            [install](const std::wstring& line, bool error) { logLine(install, line, error); }};
        return qb::installer::resolveAccountNames(session, lookupAccount) ? ERROR_SUCCESS
                                                                          : ERROR_INSTALL_FAILURE;
    } catch (...) {
        // (out of memory) No exception may cross into the installer.
        logLine(install, L"Quellbox: the account names could not be resolved (out of memory).",
                true);
        return ERROR_INSTALL_FAILURE;
    }
}
