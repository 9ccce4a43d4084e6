#include "platform/portable/RegistryTree.h"

#include <utility>

namespace qb::platform {

namespace {
// A key holds this many values before it keeps an index of them.
constexpr size_t kIndexFrom = 8;

// Names crossing the ANSI interface end at their first NUL, as C strings do.
std::string CutAtNul(const std::string& s) {
    const size_t nul = s.find('\0');
    return nul == std::string::npos ? s : s.substr(0, nul);
}

bool HasLineBreak(std::string_view s) {
    return s.find_first_of("\r\n") != std::string_view::npos;
}

// Splits a key path at "\"; a single trailing "\" is allowed. False when a
// component is empty or cannot be written back to a .reg file.
bool SplitPath(const std::string& path, std::vector<std::string>& parts) {
    parts.clear();
    if (path.empty())
        return true;
    std::string_view rest(path);
    if (rest.back() == '\\')
        rest.remove_suffix(1);
    size_t start = 0;
    for (;;) {
        const size_t slash = rest.find('\\', start);
        const std::string_view part = rest.substr(start, slash - start);
        if (part.empty() || HasLineBreak(part))
            return false;
        parts.emplace_back(part);
        if (slash == std::string_view::npos)
            return true;
        start = slash + 1;
    }
}

// The key path below HKEY_LOCAL_MACHINE (hklm) in the 32-bit programs' view
// of 64-bit Windows: Software\<name>\... becomes
// Software\WOW6432Node\<name>\... when that key exists.
void InView32(const RegNode& hklm, std::vector<std::string>& parts) {
    constexpr const char* kSoftware = "Software";
    constexpr const char* kWow64Node = "WOW6432Node";
    if (parts.size() < 2 || !text::EqualNoCase(parts[0], kSoftware) ||
        text::EqualNoCase(parts[1], kWow64Node))
        return;
    const RegNode* software = hklm.Child(parts[0]);
    const RegNode* wow64 = software ? software->Child(kWow64Node) : nullptr;
    if (wow64 && wow64->Child(parts[1]))
        parts.insert(parts.begin() + 1, kWow64Node);
}

bool SameNode(const RegNode& a, const RegNode& b) {
    if (!(a.name == b.name) || a.listed != b.listed || a.Values() != b.Values() ||
        a.children.size() != b.children.size())
        return false;
    auto i = a.children.begin();
    auto j = b.children.begin();
    for (; i != a.children.end(); ++i, ++j) {
        if (i->first != j->first || !SameNode(*i->second, *j->second))
            return false;
    }
    return true;
}
}  // namespace

std::string RegName::LookupKey() const {
    if (!Lossy())
        return ansi;
    std::string key(1, '\0');
    for (char16_t u : wide) {
        key += static_cast<char>(u >> 8);
        key += static_cast<char>(u & 0xFF);
    }
    return key;
}

RegNode* RegNode::Child(const std::string& lookupKey) const {
    const auto it = children.find(lookupKey);
    return it == children.end() ? nullptr : it->second.get();
}

RegNode& RegNode::AddChild(const RegName& childName) {
    auto [it, added] = children.try_emplace(childName.LookupKey());
    if (added) {
        it->second = std::make_unique<RegNode>();
        it->second->name = childName;
    }
    return *it->second;
}

std::string RegNode::IndexKey(const std::string& lookupKey) {
    if (!lookupKey.empty() && lookupKey[0] == '\0')
        return lookupKey;
    return text::Lower(lookupKey);
}

long RegNode::FindValue(const std::string& lookupKey) const {
    if (values_.size() < kIndexFrom) {
        for (size_t i = 0; i < values_.size(); ++i) {
            const std::string key = values_[i].name.LookupKey();
            if (!RegNameLess{}(key, lookupKey) && !RegNameLess{}(lookupKey, key))
                return static_cast<long>(i);
        }
        return -1;
    }
    if (!indexed_) {
        index_.clear();
        for (size_t i = 0; i < values_.size(); ++i)
            index_.emplace(IndexKey(values_[i].name.LookupKey()), i);
        indexed_ = true;
    }
    const auto it = index_.find(IndexKey(lookupKey));
    return it == index_.end() ? -1 : static_cast<long>(it->second);
}

void RegNode::PutValue(RegValueEntry value) {
    const std::string key = value.name.LookupKey();
    const long at = FindValue(key);
    if (at >= 0) {
        values_[static_cast<size_t>(at)] = std::move(value);
        return;
    }
    values_.push_back(std::move(value));
    if (indexed_)
        index_.emplace(IndexKey(key), values_.size() - 1);
}

bool RegNode::EraseValue(const std::string& lookupKey) {
    const long at = FindValue(lookupKey);
    if (at < 0)
        return false;
    values_.erase(values_.begin() + at);
    indexed_ = false;
    index_.clear();
    return true;
}

RegNode* RegTree::Hive(uint32_t root) {
    for (size_t i = 0; i < kRegHives.size(); ++i) {
        if (kRegHives[i].root == root)
            return &hives[i];
    }
    return nullptr;
}

void RegTree::Clear() {
    for (size_t i = 0; i < kRegHives.size(); ++i) {
        hives[i] = RegNode();
        hives[i].name.ansi = kRegHives[i].name;
    }
}

bool SameTree(const RegTree& a, const RegTree& b) {
    if (a.wide != b.wide || a.version5 != b.version5)
        return false;
    for (size_t i = 0; i < kRegHives.size(); ++i) {
        if (!SameNode(a.hives[i], b.hives[i]))
            return false;
    }
    return true;
}

namespace regtext {

bool IsStringType(uint32_t type) {
    return type == reg::kSz || type == reg::kExpandSz || type == reg::kMultiSz;
}

std::string WideBytesToAnsi(std::string_view bytes) {
    std::u16string units(bytes.size() / 2, u'\0');
    for (size_t i = 0; i < units.size(); ++i)
        units[i] = static_cast<char16_t>(static_cast<unsigned char>(bytes[2 * i]) |
                                         static_cast<unsigned char>(bytes[2 * i + 1]) << 8);
    return text::FromWide(units);
}

std::string AnsiToWideBytes(std::string_view ansi) {
    const std::u16string units = text::ToWide(ansi);
    std::string out;
    out.reserve(units.size() * 2);
    for (const char16_t u : units) {
        out += static_cast<char>(u & 0xFF);
        out += static_cast<char>(u >> 8);
    }
    return out;
}

RegName NameFromWide(std::u16string_view wide) {
    RegName name;
    name.ansi = text::FromWide(wide);
    if (text::ToWide(name.ansi) != wide)
        name.wide.assign(wide);
    return name;
}

}  // namespace regtext

RegNode* TreeRegistry::Resolve(Key key, uint32_t needed, long& error) {
    const auto it = handles_.find(key);
    if (it == handles_.end()) {
        error = reg::kInvalidHandle;
        return nullptr;
    }
    const Handle& h = it->second;
    if (h.access != 0 && (h.access & needed) != needed) {
        error = reg::kAccessDenied;
        return nullptr;
    }
    RegTree* tree = Tree();
    if (!tree) {
        error = reg::kInvalidData;
        return nullptr;
    }
    RegNode* node = tree->Hive(h.root);
    for (const std::string& part : h.path) {
        node = node ? node->Child(part) : nullptr;
    }
    if (!node)
        error = reg::kKeyDeleted;
    return node;
}

long TreeRegistry::CreateKey(uint32_t root, const std::string& path, uint32_t access, Key& key) {
    return OpenOrCreate(root, path, access, true, key);
}

long TreeRegistry::OpenKey(uint32_t root, const std::string& path, uint32_t access, Key& key) {
    return OpenOrCreate(root, path, access, false, key);
}

long TreeRegistry::OpenOrCreate(uint32_t root, const std::string& path, uint32_t access,
                                bool create, Key& key) {
    key = 0;
    RegTree* tree = Tree();
    if (!tree)
        return reg::kInvalidData;
    RegNode* node = tree->Hive(root);
    if (!node)
        return reg::kInvalidHandle;
    std::vector<std::string> parts;
    if (!SplitPath(CutAtNul(path), parts) || parts.size() > kMaxKeyDepth)
        return reg::kInvalidParameter;
    if (view32_ && root == reg::kLocalMachine)
        InView32(*node, parts);
    bool created = false;
    for (const std::string& part : parts) {
        RegNode* child = node->Child(part);
        if (!child) {
            if (!create)
                return reg::kFileNotFound;
            child = &node->AddChild(RegName{part, {}});
            created = true;
        }
        node = child;
    }
    if (create && !parts.empty() && !node->listed) {
        // A key someone opened exists in its own right from now on.
        node->listed = true;
        created = true;
    }
    if (created && !Commit())
        return reg::kAccessDenied;
    key = next_++;
    handles_[key] = Handle{root, std::move(parts), access};
    return reg::kOk;
}

void TreeRegistry::CloseKey(Key key) {
    handles_.erase(key);
}

long TreeRegistry::QueryInfo(Key key, KeyInfo& info) {
    info = KeyInfo{};
    long error = reg::kOk;
    const RegNode* node = Resolve(key, reg::kQueryValue, error);
    if (!node)
        return error;
    info.subkeys = static_cast<uint32_t>(node->children.size());
    info.values = static_cast<uint32_t>(node->Values().size());
    for (const auto& [lookup, child] : node->children) {
        const size_t n = child->name.Lossy() ? child->name.wide.size() : child->name.ansi.size();
        info.longestSubkeyName = std::max(info.longestSubkeyName, static_cast<uint32_t>(n));
    }
    for (const RegValueEntry& v : node->Values()) {
        const size_t n = v.name.Lossy() ? v.name.wide.size() : v.name.ansi.size();
        info.longestValueName = std::max(info.longestValueName, static_cast<uint32_t>(n));
        info.longestValueData =
            std::max(info.longestValueData, static_cast<uint32_t>(v.data.size()));
    }
    return reg::kOk;
}

long TreeRegistry::EnumKey(Key key, uint32_t index, std::string& name) {
    name.clear();
    long error = reg::kOk;
    const RegNode* node = Resolve(key, reg::kEnumerateSubKeys, error);
    if (!node)
        return error;
    if (index >= node->children.size())
        return reg::kNoMoreItems;
    auto it = node->children.begin();
    std::advance(it, index);
    name = it->second->name.ansi;
    return reg::kOk;
}

namespace {
// The data of a stored value as the ANSI functions deliver it.
std::string AnsiData(const RegTree& tree, const RegValueEntry& v) {
    if (tree.wide && regtext::IsStringType(v.type))
        return regtext::WideBytesToAnsi(v.data);
    return v.data;
}
}  // namespace

long TreeRegistry::EnumValue(Key key, uint32_t index, std::string& name, uint32_t& type,
                             std::string& data) {
    name.clear();
    data.clear();
    type = reg::kNone;
    long error = reg::kOk;
    const RegNode* node = Resolve(key, reg::kQueryValue, error);
    if (!node)
        return error;
    if (index >= node->Values().size())
        return reg::kNoMoreItems;
    const RegValueEntry& v = node->Values()[index];
    name = v.name.ansi;
    type = v.type;
    data = AnsiData(*Tree(), v);
    return reg::kOk;
}

long TreeRegistry::QueryValue(Key key, const std::string& name, uint32_t& type, std::string& data) {
    data.clear();
    type = reg::kNone;
    long error = reg::kOk;
    const RegNode* node = Resolve(key, reg::kQueryValue, error);
    if (!node)
        return error;
    const long at = node->FindValue(CutAtNul(name));
    if (at < 0)
        return reg::kFileNotFound;
    const RegValueEntry& v = node->Values()[static_cast<size_t>(at)];
    type = v.type;
    data = AnsiData(*Tree(), v);
    return reg::kOk;
}

long TreeRegistry::SetValue(Key key, const std::string& name, uint32_t type,
                            std::string_view data) {
    long error = reg::kOk;
    RegNode* node = Resolve(key, reg::kSetValue, error);
    if (!node)
        return error;
    RegValueEntry v;
    v.name.ansi = CutAtNul(name);
    // A name with a line break could not be written back as one line.
    if (HasLineBreak(v.name.ansi))
        return reg::kInvalidParameter;
    v.type = type;
    v.data = Tree()->wide && regtext::IsStringType(type) ? regtext::AnsiToWideBytes(data)
                                                         : std::string(data);
    node->PutValue(std::move(v));
    return Commit() ? reg::kOk : reg::kAccessDenied;
}

long TreeRegistry::DeleteValue(Key key, const std::string& name) {
    long error = reg::kOk;
    RegNode* node = Resolve(key, reg::kSetValue, error);
    if (!node)
        return error;
    if (!node->EraseValue(CutAtNul(name)))
        return reg::kFileNotFound;
    return Commit() ? reg::kOk : reg::kAccessDenied;
}

long TreeRegistry::DeleteKey(Key key, const std::string& subkey) {
    return Delete(key, subkey, false);
}

long TreeRegistry::DeleteTree(Key key, const std::string& subkey) {
    if (!canDeleteTrees_)
        return reg::kInvalidParameter;
    return Delete(key, subkey, true);
}

long TreeRegistry::Delete(Key key, const std::string& subkey, bool withSubkeys) {
    long error = reg::kOk;
    RegNode* parent = Resolve(key, 0, error);
    if (!parent)
        return error;
    std::vector<std::string> parts;
    if (!SplitPath(CutAtNul(subkey), parts) || parts.empty() || parts.size() > kMaxKeyDepth)
        return reg::kInvalidParameter;
    for (size_t i = 0; i + 1 < parts.size(); ++i) {
        parent = parent->Child(parts[i]);
        if (!parent)
            return reg::kFileNotFound;
    }
    const auto it = parent->children.find(parts.back());
    if (it == parent->children.end())
        return reg::kFileNotFound;
    if (!withSubkeys && !it->second->children.empty())
        return reg::kAccessDenied;
    parent->children.erase(it);
    // The parent stays a key of its own even when nothing is left below it.
    parent->listed = true;
    return Commit() ? reg::kOk : reg::kAccessDenied;
}

}  // namespace qb::platform
