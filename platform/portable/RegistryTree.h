// A registry held in memory as a tree of keys, and the Registry service over
// such a tree. The in-memory double (platform/memory/MemoryRegistry.h) and
// the registry kept in a .reg file (FileRegistry.h) are both made of it; they
// differ only in where the tree comes from and where changes go.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "common/Text.h"
#include "platform/Registry.h"

namespace qb::platform {

// A key or value name. ansi is the name as the ANSI functions see it. A name
// read from a UTF-16 file that has characters outside the system code page
// also keeps its original in wide: it is written back unchanged, and no ANSI
// name ever matches it (as on the system itself, where "?" does not open it).
struct RegName {
    std::string ansi;
    std::u16string wide;  // empty unless the name had such characters

    bool Lossy() const { return !wide.empty(); }
    // The text keys and values are looked up by.
    std::string LookupKey() const;
    bool operator==(const RegName&) const = default;
};

// Orders lookup keys: lossy names (they begin with a NUL) first and exactly,
// the rest without regard to case.
struct RegNameLess {
    bool operator()(const std::string& a, const std::string& b) const {
        const bool la = !a.empty() && a[0] == '\0';
        const bool lb = !b.empty() && b[0] == '\0';
        if (la != lb)
            return la;
        if (la)
            return a < b;
        return text::CompareNoCase(a, b) < 0;
    }
};

struct RegValueEntry {
    RegName name;
    uint32_t type = 0;
    // The data as stored: for string types in a UTF-16 tree, UTF-16LE bytes.
    std::string data;
    bool operator==(const RegValueEntry&) const = default;
};

class RegNode {
  public:
    RegName name;
    // Written as a key of its own ("[...]" line). A key that is not listed
    // exists only because it has listed keys below it.
    bool listed = false;
    std::map<std::string, std::unique_ptr<RegNode>, RegNameLess> children;

    RegNode* Child(const std::string& lookupKey) const;
    // The child of that name, created unlisted when missing.
    RegNode& AddChild(const RegName& childName);

    const std::vector<RegValueEntry>& Values() const { return values_; }
    // Index of the value with that lookup key, or -1.
    long FindValue(const std::string& lookupKey) const;
    // Replaces the value of the same name in place, or appends it.
    void PutValue(RegValueEntry value);
    bool EraseValue(const std::string& lookupKey);

  private:
    static std::string IndexKey(const std::string& lookupKey);
    std::vector<RegValueEntry> values_;
    // Lookup by folded name, kept once a key has many values.
    mutable std::unordered_map<std::string, size_t> index_;
    mutable bool indexed_ = false;
};

// Keys nest at most this deep below their root, as in the system's registry;
// it also bounds the recursion of writing and comparing trees.
inline constexpr size_t kMaxKeyDepth = 512;

// The predefined roots a tree holds, in the order they are written.
struct RegHive {
    uint32_t root;
    const char* name;
};
inline constexpr std::array<RegHive, 5> kRegHives = {
    {{reg::kClassesRoot, "HKEY_CLASSES_ROOT"},
     {reg::kCurrentUser, "HKEY_CURRENT_USER"},
     {reg::kLocalMachine, "HKEY_LOCAL_MACHINE"},
     {reg::kUsers, "HKEY_USERS"},
     {reg::kCurrentConfig, "HKEY_CURRENT_CONFIG"}}};

struct RegTree {
    RegTree() { Clear(); }

    // String data is stored as UTF-16LE (a "Version 5.00" file) rather than
    // in the 8-bit code page (REGEDIT4).
    bool wide = false;
    // The file began with "Windows Registry Editor Version 5.00" rather than
    // "REGEDIT4" (normally together with wide).
    bool version5 = false;
    std::array<RegNode, kRegHives.size()> hives;

    // The hive of a predefined root; null for any other root.
    RegNode* Hive(uint32_t root);
    void Clear();
};

// Structural equality: the same keys (listed or not), values, types and bytes.
bool SameTree(const RegTree& a, const RegTree& b);

// Name and data conversions between the ANSI interface and a tree.
namespace regtext {
bool IsStringType(uint32_t type);
// UTF-16LE bytes to the 8-bit code page, and back.
std::string WideBytesToAnsi(std::string_view bytes);
std::string AnsiToWideBytes(std::string_view ansi);
// A UTF-16 name as the ANSI functions show it, keeping the original when lossy.
RegName NameFromWide(std::u16string_view wide);
}  // namespace regtext

// The Registry service over a tree. Open keys remember the path they were
// opened by, so a key deleted meanwhile answers reg::kKeyDeleted. A key
// opened with access rights other than 0 refuses operations those rights do
// not allow (reg::kAccessDenied), as the NT family's registry does; 0 is not
// checked, as on the other family.
class TreeRegistry : public Registry {
  public:
    long CreateKey(uint32_t root, const std::string& path, uint32_t access, Key& key) override;
    long OpenKey(uint32_t root, const std::string& path, uint32_t access, Key& key) override;
    void CloseKey(Key key) override;
    long QueryInfo(Key key, KeyInfo& info) override;
    long EnumKey(Key key, uint32_t index, std::string& name) override;
    long EnumValue(Key key, uint32_t index, std::string& name, uint32_t& type,
                   std::string& data) override;
    long QueryValue(Key key, const std::string& name, uint32_t& type, std::string& data) override;
    long SetValue(Key key, const std::string& name, uint32_t type, std::string_view data) override;
    long DeleteValue(Key key, const std::string& name) override;
    long DeleteKey(Key key, const std::string& subkey) override;
    long DeleteTree(Key key, const std::string& subkey) override;
    bool CanDeleteTrees() override { return canDeleteTrees_; }

    // How many keys are open.
    size_t OpenKeys() const { return handles_.size(); }

  protected:
    // The tree to work on; null when the registry cannot be used.
    virtual RegTree* Tree() = 0;
    // Stores the tree after a change. On false the change is forgotten (the
    // implementation goes back to its stored state) and the caller answers
    // reg::kAccessDenied.
    virtual bool Commit() = 0;

    bool canDeleteTrees_ = true;
    // Keys below HKEY_LOCAL_MACHINE\Software are seen as a 32-bit program
    // sees them on 64-bit Windows: a key whose first name below Software
    // also exists under Software\WOW6432Node (a registry exported from
    // 64-bit Windows) is that key, for opening and creating alike; any
    // other key is taken as named.
    bool view32_ = false;

  private:
    struct Handle {
        uint32_t root;
        std::vector<std::string> path;  // lookup keys below the root
        uint32_t access;
    };
    // Opens the key at path below root; create adds the keys missing on the
    // way (else a missing one is kFileNotFound) and lists the key itself.
    long OpenOrCreate(uint32_t root, const std::string& path, uint32_t access, bool create,
                      Key& key);
    // The node of an open key checked for the rights needed; error set when null.
    RegNode* Resolve(Key key, uint32_t needed, long& error);
    long Delete(Key key, const std::string& subkey, bool withSubkeys);

    std::unordered_map<Key, Handle> handles_;
    Key next_ = 1;
};

}  // namespace qb::platform
