#include "scanner/eml/MailStores.h"

#include <algorithm>
#include <array>

#include "common/Text.h"
#include "platform/CodePage.h"
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

// The names Windows Mail and Windows Live Mail give their standard folders
// in the languages they shipped in (with the variants the programs' versions
// used), compared in UTF-16 after the system's case mapping.
namespace {

// A language's names, at most two of each kind (null: none more).
struct StandardNames {
    const char* language;
    const char16_t* inbox[2];
    const char16_t* sentItems[2];
};

const StandardNames kStandardNames[] = {
    {"en", {u"Inbox"}, {u"Sent Items"}},
    {"de", {u"Posteingang"}, {u"Gesendete Objekte"}},
    {"fr", {u"Bo\u00EEte de r\u00E9ception"}, {u"\u00C9l\u00E9ments envoy\u00E9s"}},
    {"es", {u"Bandeja de entrada"}, {u"Elementos enviados"}},
    {"it", {u"Posta in arrivo"}, {u"Posta inviata"}},
    {"nl", {u"Postvak IN"}, {u"Verzonden items"}},
    {"pt-BR, pt-PT, gl", {u"Caixa de entrada", u"A receber"}, {u"Itens enviados"}},
    {"sv", {u"Inkorgen"}, {u"Skickat", u"Skickade objekt"}},
    {"da", {u"Indbakke"}, {u"Sendt post", u"Sendte elementer"}},
    {"nb", {u"Innboks"}, {u"Sendte elementer"}},
    {"fi", {u"Saapuneet"}, {u"L\u00E4hetetyt", u"L\u00E4hetetyt kohteet"}},
    {"pl", {u"Skrzynka odbiorcza"}, {u"Elementy wys\u0142ane"}},
    {"cs", {u"Doru\u010Den\u00E1 po\u0161ta"}, {u"Odeslan\u00E1 po\u0161ta"}},
    {"sk", {u"Doru\u010Den\u00E1 po\u0161ta"}, {u"Odoslan\u00E1 po\u0161ta"}},
    {"hu",
     {u"Be\u00E9rkezett \u00FCzenetek"},
     {u"Elk\u00FCld\u00F6tt elemek", u"Elk\u00FCld\u00F6tt \u00FCzenetek"}},
    {"ro", {u"Inbox", u"Mesaje primite"}, {u"Elemente trimise"}},
    {"hr", {u"Ulazna po\u0161ta", u"Pristigla po\u0161ta"}, {u"Poslane stavke", u"Poslano"}},
    {"sl", {u"Prejeto"}, {u"Poslano"}},
    {"sr-Latn", {u"Prijemno sandu\u010De"}, {u"Poslate stavke"}},
    {"sr-Cyrl",
     {u"\u041F\u0440\u0438\u0458\u0435\u043C\u043D\u043E "
      u"\u0441\u0430\u043D\u0434\u0443\u0447\u0435"},
     {u"\u041F\u043E\u0441\u043B\u0430\u0442\u0435 \u0441\u0442\u0430\u0432\u043A\u0435"}},
    {"et", {u"Sisendkaust"}, {u"Saadetud \u00FCksused", u"Saadetud"}},
    {"lv", {u"Ies\u016Btne"}, {u"Nos\u016Bt\u012Btie vienumi"}},
    {"lt",
     {u"Gauti lai\u0161kai", u"Gauta"},
     {u"I\u0161si\u0173sti lai\u0161kai", u"I\u0161si\u0173sta"}},
    {"ru",
     {u"\u0412\u0445\u043E\u0434\u044F\u0449\u0438\u0435"},
     {u"\u041E\u0442\u043F\u0440\u0430\u0432\u043B\u0435\u043D\u043D\u044B\u0435"}},
    {"uk",
     {u"\u0412\u0445\u0456\u0434\u043D\u0456"},
     {u"\u041D\u0430\u0434\u0456\u0441\u043B\u0430\u043D\u0456"}},
    {"bg",
     {u"\u0412\u0445\u043E\u0434\u044F\u0449\u0438"},
     {u"\u0418\u0437\u043F\u0440\u0430\u0442\u0435\u043D\u0438"}},
    {"el",
     {u"\u0395\u03B9\u03C3\u03B5\u03C1\u03C7\u03CC\u03BC\u03B5\u03BD\u03B1"},
     {u"\u0391\u03C0\u03B5\u03C3\u03C4\u03B1\u03BB\u03BC\u03AD\u03BD\u03B1"}},
    {"tr", {u"Gelen Kutusu"}, {u"G\u00F6nderilmi\u015F \u00D6\u011Feler"}},
    {"he",
     {u"\u05D3\u05D5\u05D0\u05E8 \u05E0\u05DB\u05E0\u05E1"},
     {u"\u05E4\u05E8\u05D9\u05D8\u05D9\u05DD \u05E9\u05E0\u05E9\u05DC\u05D7\u05D5"}},
    {"ar",
     {u"\u0639\u0644\u0628\u0629 \u0627\u0644\u0648\u0627\u0631\u062F"},
     {u"\u0627\u0644\u0639\u0646\u0627\u0635\u0631 \u0627\u0644\u0645\u0631\u0633\u0644\u0629"}},
    {"th",
     {u"\u0E01\u0E25\u0E48\u0E2D\u0E07\u0E08\u0E14\u0E2B\u0E21\u0E32\u0E22\u0E40\u0E02\u0E49"
      u"\u0E32"},
     {u"\u0E23\u0E32\u0E22\u0E01\u0E32\u0E23\u0E17\u0E35\u0E48\u0E2A\u0E48\u0E07"}},
    {"ja",
     {u"\u53D7\u4FE1\u30C8\u30EC\u30A4"},
     {u"\u9001\u4FE1\u6E08\u307F\u30A2\u30A4\u30C6\u30E0"}},
    {"ko", {u"\uBC1B\uC740 \uD3B8\uC9C0\uD568"}, {u"\uBCF4\uB0B8 \uD3B8\uC9C0\uD568"}},
    {"zh-CN",
     {u"\u6536\u4EF6\u7BB1"},
     {u"\u5DF2\u53D1\u9001\u90AE\u4EF6", u"\u5DF2\u53D1\u9001\u9879\u76EE"}},
    {"zh-TW, zh-HK", {u"\u6536\u4EF6\u5323"}, {u"\u5BC4\u4EF6\u5099\u4EFD"}},
    {"ca", {u"Safata d'entrada"}, {u"Elements enviats"}},
    {"eu", {u"Sarrera-ontzia"}, {u"Bidalitako elementuak"}},
    {"hi",
     {u"\u0907\u0928\u092C\u0949\u0915\u094D\u0938"},
     {u"\u092D\u0947\u091C\u0947 \u0917\u090F \u0906\u0907\u091F\u092E"}},
    {"id", {u"Kotak Masuk"}, {u"Item Terkirim"}},
    {"ms", {u"Peti Masuk"}, {u"Item Dihantar"}},
    {"vi", {u"H\u1ED9p th\u01B0 \u0111\u1EBFn"}, {u"M\u1EE5c \u0111\u00E3 g\u1EEDi"}},
};

// A name in UTF-16, every code unit in lower case.
std::u16string FoldedName(std::string_view name) {
    return platform::LowerWide(platform::NameToWide(name));
}

// Every standard name of one kind, folded once.
const std::vector<std::u16string>& FoldedNames(bool inbox) {
    static const auto make = [](bool wantInbox) {
        std::vector<std::u16string> out;
        for (const StandardNames& language : kStandardNames) {
            for (const char16_t* name : wantInbox ? language.inbox : language.sentItems) {
                if (name)
                    out.push_back(platform::LowerWide(name));
            }
        }
        return out;
    };
    static const std::vector<std::u16string> inboxNames = make(true);
    static const std::vector<std::u16string> sentNames = make(false);
    return inbox ? inboxNames : sentNames;
}

bool IsStandardName(std::string_view name, bool inbox) {
    const std::vector<std::u16string>& names = FoldedNames(inbox);
    return std::find(names.begin(), names.end(), FoldedName(name)) != names.end();
}

}  // namespace

bool IsInboxName(std::string_view name) {
    return IsStandardName(name, true);
}

bool IsSentItemsName(std::string_view name) {
    return IsStandardName(name, false);
}

bool SameFolderName(std::string_view a, std::string_view b) {
    return FoldedName(a) == FoldedName(b);
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
