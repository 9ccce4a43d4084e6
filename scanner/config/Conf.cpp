#include "scanner/config/Conf.h"

#include "common/RunError.h"
#include "common/Text.h"
#include "platform/FileSystem.h"
#include "platform/Platform.h"
#include "platform/UserInterface.h"
#include "scanner/lists/ListFile.h"

namespace qb::config {

namespace {

constexpr const char* kSource = "Conf";

// Splits an entry line at its first "="; false for a line without one.
bool SplitEntry(std::string_view line, std::string_view& key, std::string_view& value) {
    const size_t eq = line.find('=');
    if (eq == std::string_view::npos)
        return false;
    key = line.substr(0, eq);
    value = line.substr(eq + 1);
    return true;
}

void AppendLine(std::string& out, std::string_view a, std::string_view b = {},
                std::string_view c = {}) {
    out += a;
    out += b;
    out += c;
    out += "\r\n";
}

// Rewrites the lines of a configuration file into out: a blank line (spaces
// only) becomes an empty line, a comment stays, a line without "=" is
// dropped, and each entry line goes to entry(line, key, value).
template <typename F>
void RewriteLines(std::string_view content, std::string& out, F&& entry) {
    lists::ForEachLine(content, [&](std::string_view line) {
        if (text::TrimBlanks(line).empty()) {
            AppendLine(out, "");
        } else if (line[0] == '#') {
            AppendLine(out, line);
        } else {
            std::string_view key, value;
            if (SplitEntry(line, key, value))
                entry(line, key, value);
        }
    });
}

void ShowWriteError(int32_t number, const std::string& description) {
    platform::ShowMessage(std::to_string(number) + " : " + description, lists::kProgramTitle,
                          platform::mb::kOk);
}

}  // namespace

Conf::Conf() {
    values_.Clear();
    values_.SetSortMode(1);
}

std::optional<std::string> Conf::GetValue(std::string_view key) {
    return values_.item(key);
}

bool Conf::FileExists() const {
    return platform::IsOrdinaryFile(platform::Files(), configFile_);
}

void Conf::Load() {
    if (!FileExists())
        return;
    std::string content;
    if (!platform::Files().ReadFile(configFile_, content))
        throw RunError(err::kPermissionDenied, kSource, "Permission denied");
    lists::ForEachLine(content, [this](std::string_view line) {
        if (line.empty() || line[0] == '#')
            return;
        std::string_view key, value;
        if (SplitEntry(line, key, value))
            SetValue(key, std::string(value));
    });
}

void Conf::SetValue(std::string_view key, std::string value) {
    if (values_.Exists(key))
        values_.SetItem(key, std::move(value));
    else
        values_.Add(key, std::move(value));
}

std::optional<std::string> Conf::ReadForRewrite() const {
    platform::FileSystem& fs = platform::Files();
    switch (fs.Kind(configFile_)) {
        case platform::PathKind::kMissing:
            return std::string();
        case platform::PathKind::kFile:
            break;
        default:
            ShowWriteError(err::kPathFileAccess, "Path/File access error");
            return std::nullopt;
    }
    std::string content;
    if (!fs.ReadFile(configFile_, content))
        throw RunError(err::kPermissionDenied, kSource, "Permission denied");
    return content;
}

void Conf::Replace(const std::string& content) const {
    if (!platform::Files().ReplaceFile(configFile_, content))
        ShowWriteError(err::kPathFileAccess, "Path/File access error");
}

void Conf::Save() {
    if (values_.Count() == 0)
        throw RunError(err::kSubscript, kSource, "Subscript out of range");
    lists::SortedList<int> written;
    written.SetSortMode(1);
    for (const std::string& key : values_.keys())
        written.Add(key, 0);

    std::optional<std::string> old = ReadForRewrite();
    if (!old)
        return;
    std::string out;
    out.reserve(old->size() + 64);
    RewriteLines(*old, out, [&](std::string_view line, std::string_view key, std::string_view) {
        std::optional<std::string> held = values_.item(key);
        if (!held) {
            AppendLine(out, line);
            return;
        }
        if (!held->empty())
            AppendLine(out, key, "=", *held);
        written.SetItem(key, 1);
    });
    for (const std::string& key : values_.keys()) {
        if (written.item(key) == 1)
            continue;
        std::optional<std::string> held = values_.item(key);
        if (held && !held->empty())
            AppendLine(out, key, "=", *held);
    }
    Replace(out);
}

void Conf::WriteValue(std::string_view key, std::string_view value) {
    std::optional<std::string> old = ReadForRewrite();
    if (!old)
        return;
    std::string out;
    out.reserve(old->size() + key.size() + value.size() + 3);
    bool found = false;
    RewriteLines(*old, out, [&](std::string_view line, std::string_view fileKey, std::string_view) {
        if (fileKey == key) {
            AppendLine(out, fileKey, "=", value);
            found = true;
        } else {
            AppendLine(out, line);
        }
    });
    if (!found)
        AppendLine(out, key, "=", value);
    Replace(out);
}

}  // namespace qb::config
