// The registry of Windows, over the ANSI functions of advapi32 and, for
// deleting a key with its subkeys, SHDeleteKeyA of shlwapi (loaded at run
// time, as the library may be missing on old systems). A 64-bit build sees
// HKEY_LOCAL_MACHINE as 32-bit programs do (ViewFlag).
#include <windows.h>

#include <string>
#include <vector>

#include "platform/Platform.h"
#include "platform/Registry.h"

namespace qb::platform {

namespace {

HKEY ToHkey(Registry::Key key) {
    return reinterpret_cast<HKEY>(static_cast<ULONG_PTR>(key));
}

Registry::Key FromHkey(HKEY key) {
    return static_cast<Registry::Key>(reinterpret_cast<ULONG_PTR>(key));
}

// The predefined roots are sign-extended 32-bit values.
HKEY RootKey(uint32_t root) {
    return reinterpret_cast<HKEY>(
        static_cast<ULONG_PTR>(static_cast<LONG_PTR>(static_cast<LONG>(root))));
}

using SHDeleteKeyFunction = DWORD(WINAPI*)(HKEY, LPCSTR);

// The rest of the product is made of 32-bit programs, which 64-bit Windows
// shows the 32-bit view of HKEY_LOCAL_MACHINE\Software. A 64-bit build opens
// every key below HKEY_LOCAL_MACHINE in that view too, so that both builds
// read and write one set of switches and counters and read the system's keys
// as the 32-bit build would. (Keys opened relative to such a key stay in its
// view; the keys read under HKEY_CURRENT_USER have one view.) 32-bit Windows has no
// views; a 32-bit build asks for none, as Windows 2000 does not know the flag.
DWORD ViewFlag(uint32_t root) {
#if defined(_WIN64)
    return root == reg::kLocalMachine ? KEY_WOW64_32KEY : 0;
#else
    (void)root;
    return 0;
#endif
}

class Win32Registry final : public Registry {
  public:
    long CreateKey(uint32_t root, const std::string& path, uint32_t access, Key& key) override {
        HKEY opened = nullptr;
        DWORD disposition = 0;
        const LONG rc =
            ::RegCreateKeyExA(RootKey(root), path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                              access | ViewFlag(root), nullptr, &opened, &disposition);
        key = rc == ERROR_SUCCESS ? FromHkey(opened) : 0;
        return rc;
    }

    long OpenKey(uint32_t root, const std::string& path, uint32_t access, Key& key) override {
        HKEY opened = nullptr;
        const LONG rc =
            ::RegOpenKeyExA(RootKey(root), path.c_str(), 0, access | ViewFlag(root), &opened);
        key = rc == ERROR_SUCCESS ? FromHkey(opened) : 0;
        return rc;
    }

    void CloseKey(Key key) override {
        if (key != 0)
            ::RegCloseKey(ToHkey(key));
    }

    long QueryInfo(Key key, KeyInfo& info) override {
        info = KeyInfo{};
        DWORD subkeys = 0, longestSubkey = 0, values = 0, longestName = 0, longestData = 0;
        const LONG rc =
            ::RegQueryInfoKeyA(ToHkey(key), nullptr, nullptr, nullptr, &subkeys, &longestSubkey,
                               nullptr, &values, &longestName, &longestData, nullptr, nullptr);
        if (rc == ERROR_SUCCESS) {
            info.subkeys = subkeys;
            info.values = values;
            info.longestSubkeyName = longestSubkey;
            info.longestValueName = longestName;
            info.longestValueData = longestData;
        }
        return rc;
    }

    long EnumKey(Key key, uint32_t index, std::string& name) override {
        name.clear();
        KeyInfo info;
        QueryInfo(key, info);
        std::vector<char> buffer(info.longestSubkeyName + 1);
        for (;;) {
            DWORD length = static_cast<DWORD>(buffer.size());
            const LONG rc = ::RegEnumKeyExA(ToHkey(key), index, buffer.data(), &length, nullptr,
                                            nullptr, nullptr, nullptr);
            if (rc == ERROR_MORE_DATA && buffer.size() < 65536) {
                buffer.resize(buffer.size() * 2);
                continue;
            }
            if (rc == ERROR_SUCCESS)
                name.assign(buffer.data(), length);
            return rc;
        }
    }

    long EnumValue(Key key, uint32_t index, std::string& name, uint32_t& type,
                   std::string& data) override {
        name.clear();
        data.clear();
        type = REG_NONE;
        KeyInfo info;
        QueryInfo(key, info);
        std::vector<char> nameBuffer(info.longestValueName + 1);
        std::vector<BYTE> dataBuffer(info.longestValueData + 1);
        for (;;) {
            DWORD nameLength = static_cast<DWORD>(nameBuffer.size());
            DWORD dataLength = static_cast<DWORD>(dataBuffer.size());
            DWORD valueType = REG_NONE;
            const LONG rc = ::RegEnumValueA(ToHkey(key), index, nameBuffer.data(), &nameLength,
                                            nullptr, &valueType, dataBuffer.data(), &dataLength);
            if (rc == ERROR_MORE_DATA && nameBuffer.size() < 65536) {
                // Another writer made a name or data longer meanwhile.
                nameBuffer.resize(nameBuffer.size() * 2);
                dataBuffer.resize(std::max<size_t>(dataBuffer.size() * 2, dataLength));
                continue;
            }
            if (rc == ERROR_SUCCESS) {
                name.assign(nameBuffer.data(), nameLength);
                data.assign(reinterpret_cast<const char*>(dataBuffer.data()), dataLength);
                type = valueType;
            }
            return rc;
        }
    }

    long QueryValue(Key key, const std::string& name, uint32_t& type, std::string& data) override {
        data.clear();
        type = REG_NONE;
        for (;;) {
            DWORD size = 0;
            DWORD valueType = REG_NONE;
            LONG rc =
                ::RegQueryValueExA(ToHkey(key), name.c_str(), nullptr, &valueType, nullptr, &size);
            if (rc != ERROR_SUCCESS)
                return rc;
            std::vector<BYTE> buffer(size + 1);
            DWORD length = static_cast<DWORD>(buffer.size());
            rc = ::RegQueryValueExA(ToHkey(key), name.c_str(), nullptr, &valueType, buffer.data(),
                                    &length);
            if (rc == ERROR_MORE_DATA)
                continue;
            if (rc == ERROR_SUCCESS) {
                data.assign(reinterpret_cast<const char*>(buffer.data()), length);
                type = valueType;
            }
            return rc;
        }
    }

    long SetValue(Key key, const std::string& name, uint32_t type, std::string_view data) override {
        return ::RegSetValueExA(ToHkey(key), name.c_str(), 0, type,
                                reinterpret_cast<const BYTE*>(data.data()),
                                static_cast<DWORD>(data.size()));
    }

    long DeleteValue(Key key, const std::string& name) override {
        return ::RegDeleteValueA(ToHkey(key), name.c_str());
    }

    long DeleteKey(Key key, const std::string& subkey) override {
        return ::RegDeleteKeyA(ToHkey(key), subkey.c_str());
    }

    long DeleteTree(Key key, const std::string& subkey) override {
        HMODULE shlwapi = ::LoadLibraryA("Shlwapi");
        if (!shlwapi)
            return ERROR_MOD_NOT_FOUND;
        // Through void(*)() so the compiler accepts the cast to the real type.
        const auto function = reinterpret_cast<SHDeleteKeyFunction>(
            reinterpret_cast<void (*)()>(::GetProcAddress(shlwapi, "SHDeleteKeyA")));
        const long rc = function ? static_cast<long>(function(ToHkey(key), subkey.c_str()))
                                 : ERROR_PROC_NOT_FOUND;
        ::FreeLibrary(shlwapi);
        return rc;
    }

    bool CanDeleteTrees() override {
        HMODULE shlwapi = ::LoadLibraryA("Shlwapi");
        if (!shlwapi)
            return false;
        ::FreeLibrary(shlwapi);
        return true;
    }

    std::string Problem() override { return ""; }
};

}  // namespace

Registry& DefaultRegistry() {
    static Win32Registry registry;
    return registry;
}

}  // namespace qb::platform
