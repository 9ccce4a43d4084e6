#include "scanner/config/RegOp.h"

#include "platform/Environment.h"
#include "platform/Platform.h"
#include "platform/UserInterface.h"

namespace qb::config {

namespace reg = platform::reg;

namespace {
constexpr size_t kEnvironmentEntriesSearched = 100;

std::string UpToNul(const std::string& data) {
    return data.substr(0, data.find('\0'));
}

std::string StringData(const std::string& textValue) {
    std::string data = textValue;
    data += '\0';
    return data;
}
}  // namespace

RegOp::RegOp() {
    ntFamily_ = platform::Env().NtFamily();
    if (ntFamily_)
        access_ = reg::kKeyRead;
}

RegOp::~RegOp() {
    CloseKey();
}

void RegOp::SetAccess(uint32_t rights) {
    if (ntFamily_)
        access_ = rights;
}

void RegOp::root(uint32_t rootKey) {
    if (rootKey == root_)
        return;
    root_ = rootKey;
    if (!key_.empty())
        OpenKey();
}

void RegOp::key(const std::string& path) {
    if (path.empty())
        return;
    if (key_.empty()) {
        key_ = path;
        return;
    }
    if (!text::EqualNoCase(path, key_)) {
        key_ = path;
        OpenKey();
    }
}

void RegOp::Options(int32_t bits) {
    if (bits >= 0 && bits <= 15)
        options_ = bits;
}

void RegOp::OpenKey() {
    CloseKey();
    // The cached values belong to the key open before; they go even when no
    // key opens now, so a failed reopen never shows another key's values.
    ClearCache();
    subkeyCount_ = valueCount_ = 0;
    if (root_ == 0)
        root_ = reg::kCurrentUser;
    platform::Registry::Key opened = 0;
    if (platform::Reg().CreateKey(root_, key_, access_, opened) != reg::kOk || opened == 0)
        return;
    handle_ = opened;
    ReadInfo();
    openAccess_ = access_;
}

void RegOp::CloseKey() {
    if (handle_ != 0)
        platform::Reg().CloseKey(handle_);
    handle_ = 0;
}

void RegOp::ReadInfo() {
    platform::KeyInfo info;
    platform::Reg().QueryInfo(handle_, info);
    subkeyCount_ = info.subkeys;
    valueCount_ = info.values;
    longestSubkeyName_ = info.longestSubkeyName;
    longestValueName_ = info.longestValueName;
    longestValueData_ = info.longestValueData;
}

void RegOp::ClearCache() {
    cache_.clear();
    cacheIndex_.clear();
}

bool RegOp::EnsureOpen() {
    if (key_.empty()) {
        ShowError(kNoKeyText);
        return false;
    }
    if (handle_ != 0 && openAccess_ != access_)
        CloseKey();
    if (handle_ == 0)
        OpenKey();
    if (handle_ == 0) {
        ShowError(kCannotOpenText);
        return false;
    }
    return true;
}

void RegOp::RefreshValues() {
    if (key_.empty()) {
        // Reported once here; EnsureOpen would only say it again.
        ShowError(kNoKeyText);
        return;
    }
    SetAccess(reg::kKeyRead);
    if (!EnsureOpen() || valueCount_ == 0)
        return;
    ClearCache();
    for (uint32_t i = 0; i < valueCount_; ++i) {
        std::string name, data;
        uint32_t type = 0;
        if (platform::Reg().EnumValue(handle_, i, name, type, data) != reg::kOk)
            continue;
        name = UpToNul(name);
        if (cacheIndex_.count(name))
            continue;  // names are unique in a key; keep the first of look-alikes
        cacheIndex_.emplace(name, cache_.size());
        cache_.emplace_back(name, Map(type, data));
    }
}

RegValue RegOp::Map(uint32_t type, const std::string& data) const {
    switch (type) {
        case reg::kSz:
            return UpToNul(data);
        case reg::kExpandSz: {
            std::string value = UpToNul(data);
            if (options_ & kExpandOnRead)
                value = platform::Env().Expand(value);
            return value;
        }
        case reg::kDword: {
            // Read into a 4-byte buffer: shorter data leaves the rest 0.
            uint32_t n = 0;
            for (size_t i = 0; i < 4 && i < data.size(); ++i)
                n |= static_cast<uint32_t>(static_cast<unsigned char>(data[i])) << (8 * i);
            return static_cast<int32_t>(n);
        }
        case reg::kMultiSz: {
            std::string joined;
            const size_t pair = data.find(std::string(2, '\0'));
            if (pair != std::string::npos) {
                joined = data.substr(0, pair);
            } else {
                joined = data;
                while (!joined.empty() && joined.back() == '\0')
                    joined.pop_back();
            }
            if (!(options_ & kMultiAsArray))
                return joined;
            std::vector<std::string> parts;
            if (joined.empty())
                return parts;
            size_t start = 0;
            for (;;) {
                const size_t nul = joined.find('\0', start);
                parts.push_back(joined.substr(start, nul - start));
                if (nul == std::string::npos)
                    break;
                start = nul + 1;
            }
            return parts;
        }
        default:
            return std::string(kUnsupported);
    }
}

RegValue RegOp::Value(const std::string& name) {
    if (cache_.empty())
        RefreshValues();
    const auto it = cacheIndex_.find(name);
    return it == cacheIndex_.end() ? RegValue{} : cache_[it->second].second;
}

void RegOp::Value(const std::string& name, const RegValue& newValue) {
    if (IsEmpty(newValue))
        return;
    SetAccess(reg::kKeyRead | reg::kKeyWrite);
    if (!EnsureOpen())
        return;
    RegValue value = newValue;
    uint32_t existingType = 0;
    std::string existing;
    if (platform::Reg().QueryValue(handle_, name, existingType, existing) == reg::kOk) {
        switch (existingType) {
            case reg::kSz:
            case reg::kExpandSz:
                value = ToText(value);
                break;
            case reg::kDword:
                value = ToLong(value);
                break;
            case reg::kMultiSz:
                break;
            default:
                ShowError(kUnsupportedTypeText);
                return;
        }
    }
    if ((options_ & kNumbersAsText) && IsNumber(value))
        value = ToText(value);
    if (name.empty())
        value = ToText(value);

    uint32_t type = reg::kSz;
    std::string data;
    if (const auto* parts = std::get_if<std::vector<std::string>>(&value)) {
        for (size_t i = 0; i < parts->size(); ++i) {
            if (i > 0)
                data += '\0';
            data += (*parts)[i];
        }
        data += std::string(2, '\0');
        type = reg::kMultiSz;
    } else if (std::holds_alternative<int16_t>(value) || std::holds_alternative<int32_t>(value)) {
        const uint32_t n = static_cast<uint32_t>(ToLong(value));
        for (int i = 0; i < 4; ++i)
            data += static_cast<char>(n >> (8 * i) & 0xFF);
        type = reg::kDword;
    } else if (const auto* textValue = std::get_if<std::string>(&value)) {
        type = ContainsEnvVar(*textValue) ? reg::kExpandSz : reg::kSz;
        data = StringData(*textValue);
    } else {
        data = StringData(ToText(value));
    }
    // A failed write is not detected; the next read shows what is stored.
    platform::Reg().SetValue(handle_, name, type, data);
    ReadInfo();
    ClearCache();
}

bool RegOp::ContainsEnvVar(const std::string& textValue) const {
    const size_t first = textValue.find('%');
    if (first == std::string::npos || first == textValue.rfind('%'))
        return false;
    const std::string folded = text::Lower(textValue);
    const std::vector<std::string> entries = platform::Env().Entries();
    for (size_t i = 0; i < entries.size() && i < kEnvironmentEntriesSearched; ++i) {
        if (entries[i].empty())
            break;
        const std::string name = entries[i].substr(0, entries[i].find('='));
        if (folded.find(text::Lower("%" + name + "%")) != std::string::npos)
            return true;
    }
    return false;
}

std::vector<std::pair<std::string, RegValue>> RegOp::AllValues() {
    SetAccess(reg::kKeyRead);
    if (!EnsureOpen() || valueCount_ == 0)
        return {};
    if (cache_.empty())
        RefreshValues();
    return cache_;
}

std::vector<std::string> RegOp::AllKeys() {
    SetAccess(reg::kKeyRead);
    if (!EnsureOpen() || subkeyCount_ == 0)
        return {};
    std::vector<std::string> names(subkeyCount_);
    for (uint32_t i = 0; i < subkeyCount_; ++i) {
        std::string name;
        if (platform::Reg().EnumKey(handle_, i, name) == reg::kOk)
            names[i] = UpToNul(name);
    }
    return names;
}

bool RegOp::DeleteValue(const std::string& name) {
    SetAccess(reg::kKeyAllAccess);
    if (!EnsureOpen())
        return false;
    if (platform::Reg().DeleteValue(handle_, name) != reg::kOk)
        return false;
    ReadInfo();
    ClearCache();
    return true;
}

bool RegOp::DeleteKey() {
    if (key_.empty()) {
        ShowError(kNoKeyText);
        return false;
    }
    const size_t slash = key_.rfind('\\');
    if (slash == std::string::npos || slash + 1 == key_.size())
        return false;
    const std::string child = key_.substr(slash + 1);
    key_ = key_.substr(0, slash);
    SetAccess(reg::kKeyAllAccess);
    OpenKey();
    if (handle_ == 0)
        return false;
    platform::Registry& registry = platform::Reg();
    const long rc = registry.CanDeleteTrees() ? registry.DeleteTree(handle_, child)
                                              : registry.DeleteKey(handle_, child);
    if (rc != reg::kOk)
        return false;
    ReadInfo();
    ClearCache();
    return true;
}

int32_t RegOp::ValueCount() {
    return EnsureOpen() ? static_cast<int32_t>(valueCount_) : 0;
}

int32_t RegOp::KeyCount() {
    return EnsureOpen() ? static_cast<int32_t>(subkeyCount_) : 0;
}

void RegOp::ShowError(const std::string& message) const {
    if (options_ & kShowErrors)
        platform::Ui().MessageBox(message, kErrorTitle,
                                  platform::mb::kOk | platform::mb::kIconExclamation);
}

}  // namespace qb::config
