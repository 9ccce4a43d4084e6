// RegOp: the scanner's one way into the registry. An object is pointed at one
// key (a root and a key path) and then reads, writes, enumerates and deletes
// that key's values and subkeys, converting between registry types and
// RegValue. It keeps the key open between calls and caches the key's values
// (names compared without regard to case) until the next write or delete.
//
// Registry failures are not raised: a key that cannot be opened reads as
// having no values and no subkeys. Conversion errors while writing (text that
// is no number over a REG_DWORD value) are raised as RunError.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "common/Text.h"
#include "platform/Registry.h"
#include "scanner/config/RegValue.h"

namespace qb::config {

class RegOp {
  public:
    // Option bits.
    static constexpr int32_t kNumbersAsText = 1;  // write numeric values as text
    static constexpr int32_t kMultiAsArray = 2;   // read REG_MULTI_SZ as an array
    static constexpr int32_t kExpandOnRead = 4;   // read REG_EXPAND_SZ expanded
    static constexpr int32_t kShowErrors = 8;     // show error texts in a message box

    static constexpr const char* kUnsupported = "(unsupported data format)";
    static constexpr const char* kNoKeyText = "No Key name specified!";
    static constexpr const char* kCannotOpenText = "Could not open Registry Key!";
    static constexpr const char* kUnsupportedTypeText =
        "Existing value has unsupported data type and will not be overwritten";
    static constexpr const char* kErrorTitle = "Registry Error";

    RegOp();
    ~RegOp();
    RegOp(const RegOp&) = delete;
    RegOp& operator=(const RegOp&) = delete;

    // Predefined root (HKEY_CURRENT_USER after construction; 0 also means it).
    // A different root reopens a key already named.
    void root(uint32_t rootKey);
    // Key path below the root, without a leading backslash. Empty is ignored;
    // the first path is stored, a later one that differs (without regard to
    // case) is opened at once.
    void key(const std::string& path);
    // Option bits 0 to 15; other values are ignored.
    void Options(int32_t bits);

    // The value of that name (empty: the key's default value); Empty when there is none.
    RegValue Value(const std::string& name = "");
    // Writes the value of that name; Empty writes nothing.
    void Value(const std::string& name, const RegValue& newValue);

    // Name and value of every value, in cache order; empty when the key has none.
    std::vector<std::pair<std::string, RegValue>> AllValues();
    // Names of the subkeys in enumeration order; empty when there are none.
    std::vector<std::string> AllKeys();
    // True when the value was deleted.
    bool DeleteValue(const std::string& name = "");
    // Deletes the key from its parent, with its subkeys where the system can;
    // the object then points at the parent. A key directly below the root is
    // never deleted.
    bool DeleteKey();
    int32_t ValueCount();
    int32_t KeyCount();

  private:
    struct NoCaseLess {
        bool operator()(const std::string& a, const std::string& b) const {
            return text::CompareNoCase(a, b) < 0;
        }
    };

    void OpenKey();
    void CloseKey();
    bool EnsureOpen();
    void RefreshValues();
    void ReadInfo();
    void ClearCache();
    RegValue Map(uint32_t type, const std::string& data) const;
    bool ContainsEnvVar(const std::string& text) const;
    void ShowError(const std::string& text) const;
    void SetAccess(uint32_t rights);

    uint32_t access_ = 0;
    uint32_t openAccess_ = 0;
    uint32_t root_ = platform::reg::kCurrentUser;
    int32_t options_ = 0;
    std::string key_;
    platform::Registry::Key handle_ = 0;
    uint32_t subkeyCount_ = 0;
    uint32_t valueCount_ = 0;
    uint32_t longestSubkeyName_ = 0;
    uint32_t longestValueName_ = 0;
    uint32_t longestValueData_ = 0;
    bool ntFamily_ = false;
    // The value cache: entries in enumeration order, and a lookup by name.
    std::vector<std::pair<std::string, RegValue>> cache_;
    std::map<std::string, size_t, NoCaseLess> cacheIndex_;
};

}  // namespace qb::config
