#include "scanner/eml/MailStores.h"

#include <algorithm>
#include <array>

#include "common/Text.h"
#include "platform/Environment.h"
#include "platform/FileSystem.h"
#include "platform/Platform.h"
#include "platform/Registry.h"

namespace qb::eml {

namespace {

struct StoreInfo {
    const char* name;
    const char* key;     // under HKEY_CURRENT_USER
    const char* folder;  // below the local application data folder
};

const StoreInfo& Info(StoreKind kind) {
    static const StoreInfo kLive{"Windows Live Mail", "Software\\Microsoft\\Windows Live Mail",
                                 "\\Microsoft\\Windows Live Mail"};
    static const StoreInfo kMail{"Windows Mail", "Software\\Microsoft\\Windows Mail",
                                 "\\Microsoft\\Windows Mail"};
    return kind == StoreKind::kWindowsLiveMail ? kLive : kMail;
}

// The user's local application data folder: %LOCALAPPDATA% where the system
// defines it (Vista and later), else the profile's "Local Settings\Application
// Data" (Windows XP).
std::string LocalAppData() {
    platform::Environment& env = platform::Env();
    const std::string local = env.Expand("%LOCALAPPDATA%");
    if (local != "%LOCALAPPDATA%" && !local.empty())
        return local;
    return env.Expand("%USERPROFILE%") + "\\Local Settings\\Application Data";
}

bool EndsWithNoCase(std::string_view s, std::string_view tail) {
    return s.size() >= tail.size() && text::EqualNoCase(s.substr(s.size() - tail.size()), tail);
}

bool AnyOf(std::string_view name, std::initializer_list<const char*> names) {
    return std::any_of(names.begin(), names.end(),
                       [&](const char* n) { return text::EqualNoCase(name, n); });
}

// Calls enter(path, name) for each folder in the folder at path that is to
// be entered: no hidden ("."-named) folder, and no link, which gets a note.
// False, with a note naming path and the reason, when path cannot be listed.
template <class Enter>
bool ForEachSubfolder(platform::FileSystem& fs, const std::string& path,
                      const std::function<void(const std::string&)>& note, Enter&& enter) {
    std::vector<platform::FolderEntry> entries;
    std::string why;
    if (!fs.ListFolder(path, entries, why)) {
        note(UnlistedFolderLine(path, why));
        return false;
    }
    for (const platform::FolderEntry& entry : entries) {
        if (entry.kind != platform::PathKind::kFolder || entry.name.starts_with('.'))
            continue;
        const std::string child = path + "\\" + entry.name;
        if (entry.link)
            note("Folder not scanned, it is a link: " + child);
        else
            enter(child, entry.name);
    }
    return true;
}

// Lists the folder at path and adds the folders below it, depth first.
// False when path itself cannot be listed; complete turns false when any
// folder of the walk cannot be (what lies below it is unknown).
bool Walk(platform::FileSystem& fs, const std::string& path, bool topLevel,
          std::vector<MailFolder>& out, const std::function<void(const std::string&)>& note,
          bool& complete) {
    const bool listed =
        ForEachSubfolder(fs, path, note, [&](const std::string& child, const std::string& name) {
            const size_t at = out.size();
            out.push_back({child, name, topLevel});
            out[at].listed = Walk(fs, child, false, out, note, complete);
        });
    complete = complete && listed;
    return listed;
}

}  // namespace

std::string UnlistedFolderLine(const std::string& path, const std::string& why) {
    return "Unable to open folder " + path + ": " + why;
}

const char* StoreName(StoreKind kind) {
    return Info(kind).name;
}

std::string StoreRoot(StoreKind kind) {
    // Only looked at: the program's key is never created by the look.
    std::string root;
    platform::Registry& reg = platform::Reg();
    platform::Registry::Key key = 0;
    if (reg.OpenKey(platform::reg::kCurrentUser, Info(kind).key, platform::reg::kKeyRead, key) ==
        platform::reg::kOk) {
        uint32_t type = 0;
        std::string data;
        if (reg.QueryValue(key, "Store Root", type, data) == platform::reg::kOk &&
            (type == platform::reg::kSz || type == platform::reg::kExpandSz)) {
            root = data.substr(0, data.find('\0'));
            root = platform::Env().Expand(root);
        }
        reg.CloseKey(key);
    }
    if (text::TrimBlanks(root).empty())
        root = LocalAppData() + Info(kind).folder;
    while (root.size() > 1 && (root.back() == '\\' || root.back() == '/'))
        root.pop_back();
    return root;
}

StoreFolders FindFolders(platform::FileSystem& fs, const std::string& root, StoreKind kind,
                         const std::function<void(const std::string&)>& note) {
    StoreFolders store;
    std::vector<MailFolder>& folders = store.folders;
    const std::string top = kind == StoreKind::kWindowsMail ? root + "\\Local Folders" : root;
    if (kind == StoreKind::kWindowsMail) {
        Walk(fs, top, true, folders, note, store.complete);
    } else {
        // Each account's directory, and Storage Folders, holds mail folders.
        const bool listed =
            ForEachSubfolder(fs, top, note, [&](const std::string& account, const std::string&) {
                Walk(fs, account, true, folders, note, store.complete);
            });
        store.complete = store.complete && listed;
    }
    std::sort(folders.begin(), folders.end(),
              [](const MailFolder& a, const MailFolder& b) { return a.path < b.path; });
    return store;
}

// The names the programs give their standard folders, in the code page:
// English, German, French, Spanish, Italian, Dutch, Portuguese.
bool IsInboxName(std::string_view name) {
    return AnyOf(name, {"Inbox", "Posteingang",
                        "Bo\xEEte de r\xE9"
                        "ception",
                        "Bandeja de entrada", "Posta in arrivo", "Postvak IN", "Caixa de entrada"});
}

bool IsSentItemsName(std::string_view name) {
    return AnyOf(
        name, {"Sent Items", "Gesendete Objekte", "\xC9l\xE9ments envoy\xE9s", "Elementos enviados",
               "Posta inviata", "Verzonden items", "Itens enviados"});
}

bool MessageFiles(platform::FileSystem& fs, const std::string& folder, MessageFileNames& out,
                  std::string& why) {
    out.files.clear();
    out.special.clear();
    std::vector<platform::FolderEntry> entries;
    if (!fs.ListFolder(folder, entries, why))
        return false;
    for (platform::FolderEntry& entry : entries) {
        if (!EndsWithNoCase(entry.name, ".eml"))
            continue;
        if (entry.special)
            out.special.push_back(std::move(entry.name));
        else if (entry.kind == platform::PathKind::kFile)
            out.files.push_back(std::move(entry.name));
    }
    std::sort(out.files.begin(), out.files.end());
    std::sort(out.special.begin(), out.special.end());
    return true;
}

bool ReadMessageFile(platform::FileSystem& fs, const std::string& path, std::string& buffer,
                     MessageHeader& header) {
    const std::unique_ptr<platform::ReadableFile> file = fs.OpenForReading(path);
    if (!file)
        return false;
    // Most header sections fit in the first 4 KB; read on only for one that
    // does not end there.
    constexpr size_t kFirst = 4096;
    size_t have = 0;
    for (size_t want = kFirst;; want = kHeaderLimit) {
        buffer.resize(want);
        const int64_t got =
            file->ReadAt(static_cast<int64_t>(have), buffer.data() + have, want - have);
        if (got < 0)
            return false;
        have += static_cast<size_t>(got);
        buffer.resize(have);
        const std::string_view read = buffer;
        if (have < want || want == kHeaderLimit || read.find("\n\n") != std::string_view::npos ||
            read.find("\n\r\n") != std::string_view::npos)
            break;
    }
    header = ReadHeader(buffer);
    return true;
}

}  // namespace qb::eml
