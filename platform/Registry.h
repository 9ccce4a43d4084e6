// The system registry: a tree of keys below a few predefined roots, each key
// holding named, typed values. The interface follows the registry's own ANSI
// functions closely (create-or-open, query info, enumerate, query, set,
// delete) so that the Windows implementation is a thin layer over advapi32;
// every call answers with a system error code (reg::kOk on success).
//
// Text crosses this interface in the system's 8-bit code page, as the ANSI
// functions deliver it: names, and the data of string-typed values
// (REG_SZ, REG_EXPAND_SZ, REG_MULTI_SZ), one byte per character. Data of
// every other type is handed over byte for byte.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace qb::platform {

namespace reg {
// Predefined roots.
constexpr uint32_t kClassesRoot = 0x80000000;
constexpr uint32_t kCurrentUser = 0x80000001;
constexpr uint32_t kLocalMachine = 0x80000002;
constexpr uint32_t kUsers = 0x80000003;
constexpr uint32_t kCurrentConfig = 0x80000005;

// Value types.
constexpr uint32_t kNone = 0;
constexpr uint32_t kSz = 1;
constexpr uint32_t kExpandSz = 2;
constexpr uint32_t kBinary = 3;
constexpr uint32_t kDword = 4;
constexpr uint32_t kDwordBigEndian = 5;
constexpr uint32_t kLink = 6;
constexpr uint32_t kMultiSz = 7;

// Access rights.
constexpr uint32_t kQueryValue = 0x0001;
constexpr uint32_t kSetValue = 0x0002;
constexpr uint32_t kCreateSubKey = 0x0004;
constexpr uint32_t kEnumerateSubKeys = 0x0008;
constexpr uint32_t kKeyRead = 0x20019;
constexpr uint32_t kKeyWrite = 0x20006;
constexpr uint32_t kKeyAllAccess = 0xF003F;

// System error codes the implementations answer with.
constexpr long kOk = 0;
constexpr long kFileNotFound = 2;   // no such key or value
constexpr long kAccessDenied = 5;   // rights missing, or the change cannot be stored
constexpr long kInvalidHandle = 6;  // unknown root or closed handle
constexpr long kInvalidData = 13;   // the registry's store cannot be read
constexpr long kInvalidParameter = 87;
constexpr long kNoMoreItems = 259;  // enumeration index past the end
constexpr long kKeyDeleted = 1018;  // the open key was deleted meanwhile
}  // namespace reg

// What RegQueryInfoKey reports: counts, and the longest names in characters
// and longest data in bytes, as stored.
struct KeyInfo {
    uint32_t subkeys = 0;
    uint32_t values = 0;
    uint32_t longestSubkeyName = 0;
    uint32_t longestValueName = 0;
    uint32_t longestValueData = 0;
};

class Registry {
  public:
    // An open key; 0 is no key.
    using Key = uint64_t;

    virtual ~Registry() = default;

    // Opens root\path with the access rights given, creating every missing
    // key on the way when the caller may (an empty path opens the root).
    // On success key is set; on failure it is 0 and nothing is created.
    virtual long CreateKey(uint32_t root, const std::string& path, uint32_t access, Key& key) = 0;

    // Opens root\path only when it exists: creates nothing, and answers
    // reg::kFileNotFound (key 0) when the key or a key above it is missing.
    // For reading the keys of other programs, which a look must not create.
    virtual long OpenKey(uint32_t root, const std::string& path, uint32_t access, Key& key) = 0;

    // Closes an open key; a key of 0 or one already closed is ignored.
    virtual void CloseKey(Key key) = 0;

    // Counts and longest lengths of the key.
    virtual long QueryInfo(Key key, KeyInfo& info) = 0;

    // The name of subkey number index (0-based, in the registry's stable
    // order). reg::kNoMoreItems past the end.
    virtual long EnumKey(Key key, uint32_t index, std::string& name) = 0;

    // Name, type and whole data of value number index (0-based, in the
    // registry's stable order). reg::kNoMoreItems past the end.
    virtual long EnumValue(Key key, uint32_t index, std::string& name, uint32_t& type,
                           std::string& data) = 0;

    // Type and data of the value of that name (empty name: the default value);
    // reg::kFileNotFound when there is none.
    virtual long QueryValue(Key key, const std::string& name, uint32_t& type,
                            std::string& data) = 0;

    // Creates or replaces the value of that name with type and data.
    virtual long SetValue(Key key, const std::string& name, uint32_t type,
                          std::string_view data) = 0;

    // Deletes the value of that name; reg::kFileNotFound when there is none.
    virtual long DeleteValue(Key key, const std::string& name) = 0;

    // Deletes the subkey of key named subkey, which must have no subkeys of
    // its own (RegDeleteKey).
    virtual long DeleteKey(Key key, const std::string& subkey) = 0;

    // Deletes the subkey of key named subkey with all its subkeys (SHDeleteKey).
    virtual long DeleteTree(Key key, const std::string& subkey) = 0;

    // Whether DeleteTree can be used (on Windows: whether shlwapi loads).
    virtual bool CanDeleteTrees() = 0;

    // Why the registry cannot be used at all (for example a registry file that
    // cannot be read), naming the file and line where that applies; empty
    // while it can be used.
    virtual std::string Problem() = 0;

    // Deletes what a writer of the registry killed mid-write left behind
    // (the temporary files of a registry kept in a file); call it while no
    // other copy of the program can be writing the registry. The system's own
    // registry leaves nothing behind.
    virtual void RemoveLeftovers() {}

    // The code page of the program's 8-bit text changed: names and texts
    // read from now on follow the new one. A registry kept in a file reads
    // the file again (its names were made 8-bit in the old code page).
    virtual void CodePageChanged() {}
};

}  // namespace qb::platform
