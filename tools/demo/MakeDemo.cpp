// Lays out a program folder for the scanner, for the demo or for mail stores
// copied from Windows.
//
//   make-demo [--windows-root PATH] FOLDER
//     The demo: conf/quellbox.conf (approve folder "Not Spam", block folder
//     "Spam I Missed", trace level 8), conf/approvedsenders (two entries
//     typed in by "the user"), an Outlook Express store of .dbx files made
//     by the test-support writer in store/, a Windows Live Mail store of
//     .eml files in wlm-store/, and registry.reg: the identity, its store
//     root and Outlook Express blocked list, the Windows Live Mail store
//     root and the product's scan switches. Messages are dated relative to
//     now: some older than a day, some not. With --windows-root the registry
//     names the stores below PATH, FOLDER's Windows path, for a run under
//     Wine.
//
//   make-demo [--oe-store DIR] [--wlm-store DIR] [--wmail-store DIR]
//             [--registry FILE.reg]... [--approve NAME] [--block NAME] FOLDER
//     A program folder for stores copied from Windows. The exports named by
//     --registry ("reg export" files, REGEDIT4 or version 5.00, each of them
//     possibly several exports joined) are joined into FOLDER/registry.reg;
//     without any, an existing registry.reg is kept (or a new one made).
//     Each store given becomes its program's "Store Root" there, as plain
//     text naming the absolute folder, replacing the Windows path the export
//     holds: the Outlook Express store of the identity used last ("Last User
//     ID"; one is made when the file has none), the Windows Live Mail store,
//     the Windows Mail store. --approve and --block set oe_approve_folder and
//     oe_block_folder in conf/quellbox.conf, keeping its other lines. The
//     stores themselves are not touched.
#include <sys/stat.h>
#include <time.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "common/Text.h"
#include "platform/CodePage.h"
#include "platform/Registry.h"
#include "platform/portable/FileRegistry.h"
#include "tests/support/dbx/DbxWriter.h"

namespace dbx = qb::test::dbx;
namespace reg = qb::platform::reg;

namespace {

[[noreturn]] void Die(const std::string& message) {
    std::fprintf(stderr, "make-demo: %s\n", message.c_str());
    std::exit(1);
}

void Write(const std::string& path, const std::string& content) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << content;
    if (!out)
        Die("cannot write " + path);
}

bool Read(const std::string& path, std::string& content) {
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return false;
    content.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return !in.bad();
}

time_t HoursAgo(int hours) {
    return ::time(nullptr) - static_cast<time_t>(hours) * 3600;
}

uint64_t FileTimeHoursAgo(int hours) {
    const time_t t = HoursAgo(hours);
    struct tm tm;
    ::gmtime_r(&t, &tm);
    return dbx::FileTime(tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min,
                         tm.tm_sec);
}

// --- The registry file -------------------------------------------------------

const char* const kIdentities = "Identities";
const char* const kDemoIdentity = "{5A5E1A0B-0C1D-4E2F-8A9B-0C1D2E3F4A5B}";
const char* const kWindowsLiveMailKey = "Software\\Microsoft\\Windows Live Mail";
const char* const kWindowsMailKey = "Software\\Microsoft\\Windows Mail";
const char* const kProductKey = "Software\\Ferrowin Tessaly Desktop Client";

std::string OutlookExpressKey(const std::string& identity) {
    return std::string(kIdentities) + "\\" + identity +
           "\\Software\\Microsoft\\Outlook Express\\5.0";
}

// The program folder's registry file, changed through the same registry
// class the scanner reads it with (so a faulty export is refused the same
// way, with the same message).
class RegistryFile {
  public:
    explicit RegistryFile(const std::string& path) : registry_(path) {
        if (!registry_.Problem().empty())
            Die("the registry file cannot be used (see above)");
    }

    std::string Text(uint32_t root, const std::string& path, const std::string& name) {
        qb::platform::Registry::Key key = 0;
        if (registry_.OpenKey(root, path, reg::kKeyRead, key) != reg::kOk)
            return "";
        uint32_t type = 0;
        std::string data;
        const long status = registry_.QueryValue(key, name, type, data);
        registry_.CloseKey(key);
        if (status != reg::kOk || (type != reg::kSz && type != reg::kExpandSz))
            return "";
        return data.substr(0, data.find('\0'));
    }

    void SetText(uint32_t root, const std::string& path, const std::string& name,
                 const std::string& text) {
        qb::platform::Registry::Key key = 0;
        long status = registry_.CreateKey(root, path, reg::kKeyAllAccess, key);
        if (status == reg::kOk) {
            status = registry_.SetValue(key, name, reg::kSz, text + '\0');
            registry_.CloseKey(key);
        }
        if (status != reg::kOk)
            Die("cannot write " + path + "\\" + name + " into " + registry_.Path());
    }

    // Puts in force the code page the scanner will read the file's text in:
    // the file's ACP value (an export of a Windows that is not Western
    // European carries it), else QUELLBOX_CODEPAGE, else Windows-1252.
    void UseScannersCodePage() {
        const uint32_t wanted = qb::platform::WantedCodePage(registry_).value_or(1252);
        if (wanted != qb::text::Active().number && qb::platform::UseCodePage(wanted))
            registry_.CodePageChanged();
    }

    // The identity Outlook Express used last; one named "Main Identity" is
    // made when there is none.
    std::string Identity() {
        std::string id = Text(reg::kCurrentUser, kIdentities, "Last User ID");
        if (id.empty()) {
            id = kDemoIdentity;
            SetText(reg::kCurrentUser, kIdentities, "Last User ID", id);
            SetText(reg::kCurrentUser, std::string(kIdentities) + "\\" + id, "Username",
                    "Main Identity");
        }
        return id;
    }

  private:
    qb::platform::FileRegistry registry_;
};

// --- The demo ------------------------------------------------------------

dbx::Message Received(uint32_t id, const std::string& sender, const std::string& subject,
                      int hoursAgo) {
    dbx::Message m;
    m.id = id;
    m.date = FileTimeHoursAgo(hoursAgo);
    m.senderEMail = sender;
    m.senderName = sender.substr(0, sender.find('@'));
    m.subject = subject;
    m.body = "Subject: " + subject + "\r\n\r\nDemo message " + std::to_string(id) + ".\r\n";
    return m;
}

dbx::Message Sent(uint32_t id, const std::string& recipients, const std::string& subject) {
    dbx::Message m;
    m.id = id;
    m.date = FileTimeHoursAgo(30);
    m.senderEMail = "me@home.example";
    m.recipientEMail = recipients;
    m.subject = subject;
    return m;
}

void WriteOutlookExpressStore(const std::string& store) {
    std::vector<dbx::Folder> folders;
    auto folder = [&](uint32_t id, uint32_t parent, const char* name, const char* file) {
        dbx::Folder f;
        f.id = id;
        f.parentId = parent;
        f.name = name;
        if (*file)
            f.fileName = file;
        folders.push_back(f);
    };
    folder(0, 0, "Outlook Express", "");
    folder(1, 0, "Local Folders", "");
    folder(4, 1, "Inbox", "Inbox.dbx");
    folder(5, 1, "Outbox", "Outbox.dbx");
    folder(6, 1, "Sent Items", "Sent Items.dbx");
    folder(7, 1, "Deleted Items", "Deleted Items.dbx");
    folder(10, 1, "Not Spam", "Not Spam.dbx");
    folder(11, 1, "Spam I Missed", "Spam I Missed.dbx");
    Write(store + "/Folders.dbx", dbx::FolderFile(folders));

    Write(store + "/Inbox.dbx",
          dbx::MessageFile({Received(1, "Anna@Friends.example", "Lunch on Friday?", 72),
                            Received(2, "<news@list.example>", "Weekly digest", 49),
                            Received(3, "mum@family.example", "Photos", 26),
                            Received(4, "newcomer@fresh.example", "Hello there", 2)}));
    Write(
        store + "/Sent Items.dbx",
        dbx::MessageFile(
            {Sent(101, "anna@friends.example", "Re: Lunch on Friday?"),
             Sent(102, "boss@work.example;colleague@work.example;Anna@friends.example", "Minutes"),
             Sent(103, "plumber@trade.example", "Leaking tap")}));
    Write(store + "/Not Spam.dbx",
          dbx::MessageFile({Received(201, "offers@shop.example", "Your order has shipped", 10),
                            Received(202, "cousin@family.example", "Party", 100)}));
    Write(store + "/Spam I Missed.dbx",
          dbx::MessageFile({Received(301, "winner@lottery.example", "You have won", 5),
                            Received(302, "winner@lottery.example", "Claim now", 4),
                            Received(303, "pills@pharma.example", "Cheap pills", 3),
                            Received(304, "boss@work.example", "Forwarded joke", 1)}));
}

// One .eml message as Windows Live Mail saves it (the header lines the
// scanner reads, and a short body).
std::string Eml(const std::string& from, const std::string& to, const std::string& subject,
                int hoursAgo, const std::string& id) {
    const time_t t = HoursAgo(hoursAgo);
    struct tm tm;
    ::gmtime_r(&t, &tm);
    char date[64];
    ::strftime(date, sizeof date, "%a, %d %b %Y %H:%M:%S +0000", &tm);
    return "From: " + from + "\r\nTo: " + to + "\r\nSubject: " + subject + "\r\nDate: " + date +
           "\r\nMessage-ID: <" + id +
           "@demo.example>\r\nMIME-Version: 1.0\r\n"
           "Content-Type: text/plain; charset=\"iso-8859-1\"\r\n\r\nDemo message " +
           id + ".\r\n";
}

// A Windows Live Mail store: one account's Inbox and Sent Items, and the
// approve and block folders among the storage folders. Some addresses are
// the Outlook Express store's too.
void WriteWindowsLiveMailStore(const std::string& store) {
    const char* const me = "\"Me\" <me@home.example>";
    const struct {
        const char* file;  // below the store root: an account's folder, or Storage Folders
        const char* from;
        const char* to;
        const char* subject;
        int hoursAgo;
    } messages[] = {
        {"Home mail (me@home.example)/Inbox/{1A}.eml", "\"Carol\" <carol@club.example>", me,
         "Training on Sunday", 80},
        {"Home mail (me@home.example)/Inbox/{1B}.eml", "Anna <anna@friends.example>", me,
         "Re: Lunch on Friday?", 40},
        {"Home mail (me@home.example)/Inbox/{1C}.eml", "quiz@newsletter.example", me,
         "Tonight's quiz", 3},
        {"Home mail (me@home.example)/Sent Items/{2A}.eml", me,
         "coach@club.example, \"Carol\" <carol@club.example>", "Re: Training", 30},
        {"Storage Folders/Not Spam/{3A}.eml", "tickets@museum.example", me, "Your tickets", 20},
        {"Storage Folders/Spam I Missed/{4A}.eml", "prize@casino.example", me, "Claim your prize",
         6},
        {"Storage Folders/Spam I Missed/{4B}.eml", "winner@lottery.example", me, "Last chance", 5},
    };
    int n = 0;
    for (const auto& m : messages) {
        const std::filesystem::path path = std::filesystem::path(store) / m.file;
        std::filesystem::create_directories(path.parent_path());
        Write(path.string(), Eml(m.from, m.to, m.subject, m.hoursAgo, "wlm" + std::to_string(++n)));
    }
}

int Demo(const std::string& root, const std::string& windowsRoot) {
    ::mkdir(root.c_str(), 0777);
    ::mkdir((root + "/conf").c_str(), 0777);
    ::mkdir((root + "/store").c_str(), 0777);
    Write(root + "/conf/quellbox.conf",
          "# Quellbox demo configuration\r\n"
          "dbg_verbose_level=8\r\n"
          "oe_block_folder=Spam I Missed\r\n"
          "oe_approve_folder=Not Spam\r\n");
    Write(root + "/conf/approvedsenders", "family.example\r\nboss@work.example\r\n");
    WriteOutlookExpressStore(root + "/store");
    WriteWindowsLiveMailStore(root + "/wlm-store");

    // The stores as the scanner is to find them: below the folder, or below
    // its Windows path.
    auto where = [&](const std::string& name) {
        return windowsRoot.empty() ? root + "/" + name : windowsRoot + "\\" + name;
    };
    std::filesystem::remove(root + "/registry.reg");
    RegistryFile registry(root + "/registry.reg");
    const std::string identity = registry.Identity();
    registry.SetText(reg::kCurrentUser, OutlookExpressKey(identity), "Store Root", where("store"));
    const char* blocked[] = {"Promo@Ads.example", "spammer@junk.example"};
    for (int i = 0; i < 2; ++i)
        registry.SetText(
            reg::kCurrentUser,
            OutlookExpressKey(identity) + "\\Block Senders\\Mail\\Criteria\\" + std::to_string(i),
            "Value", blocked[i]);
    registry.SetText(reg::kCurrentUser, kWindowsLiveMailKey, "Store Root", where("wlm-store"));
    registry.SetText(reg::kLocalMachine, kProductKey, "OEScanInbox", "1");
    registry.SetText(reg::kLocalMachine, kProductKey, "OEScanSent", "1");
    std::printf("Demo program folder laid out in %s\n", root.c_str());
    return 0;
}

// --- A program folder for stores copied from Windows ---------------------------

struct OwnStores {
    std::string oe, wlm, wmail;
    std::vector<std::string> exports;
    std::string approve, block;
    bool approveGiven = false, blockGiven = false;
};

std::string Absolute(const std::string& path) {
    std::error_code error;
    const std::filesystem::path absolute = std::filesystem::absolute(path, error);
    if (error || !std::filesystem::is_directory(absolute))
        Die(path + " is not a folder");
    return absolute.lexically_normal().string();
}

// A folder's path (UTF-8, as Linux names files) as a store root in the
// registry file: text of the code page in force, which is how the scanner
// reads it back (it finds the folder through the text's UTF-8 form); the
// UTF-8 bytes themselves when a character has no place in the code page.
std::string StoreRoot(const std::string& folder) {
    if (!qb::text::IsUtf8(folder))
        return folder;
    const std::u16string wide = qb::text::WideFromUtf8(folder);
    const std::string text = qb::text::FromWide(wide);
    return qb::text::ToWide(text) == wide ? text : folder;
}

// The exports joined into one file, in the encoding they share.
std::string JoinedExports(const std::vector<std::string>& files) {
    std::string joined;
    bool wide = false;
    for (size_t i = 0; i < files.size(); ++i) {
        std::string bytes;
        if (!Read(files[i], bytes))
            Die("cannot read " + files[i]);
        const bool isWide = bytes.size() >= 2 && bytes[0] == '\xFF' && bytes[1] == '\xFE';
        if (i == 0)
            wide = isWide;
        else if (isWide != wide)
            Die(files[i] + " is not in the encoding of " + files[0] +
                " (\"reg export\" writes UTF-16, regedit's Win9x/NT4 format 8-bit text): export "
                "them in one format");
        // Each part ends with a line end, so the next part's header starts a line.
        const std::string lineEnd = isWide ? std::string("\r\0\n\0", 4) : "\r\n";
        if (bytes.size() < lineEnd.size() ||
            bytes.compare(bytes.size() - lineEnd.size(), lineEnd.size(), lineEnd) != 0)
            bytes += lineEnd;
        joined += bytes;
    }
    return joined;
}

// Sets key=value in the configuration, in place of the key's line(s), keeping
// every other line.
std::string WithSetting(const std::string& conf, const std::string& key, const std::string& value) {
    std::string out;
    size_t at = 0;
    while (at < conf.size()) {
        size_t end = conf.find('\n', at);
        end = end == std::string::npos ? conf.size() : end + 1;
        const std::string line = conf.substr(at, end - at);
        const size_t eq = line.find('=');
        std::string name = eq == std::string::npos ? "" : line.substr(0, eq);
        while (!name.empty() && (name.back() == ' ' || name.back() == '\t'))
            name.pop_back();
        if (name != key)
            out += line;
        at = end;
    }
    if (!out.empty() && out.back() != '\n')
        out += "\r\n";
    return out + key + "=" + value + "\r\n";
}

int OwnStore(const std::string& root, const OwnStores& stores) {
    namespace fs = std::filesystem;
    std::error_code error;
    fs::create_directories(root + "/conf", error);
    if (error)
        Die("cannot make " + root + "/conf");
    const std::string registryPath = root + "/registry.reg";
    if (!stores.exports.empty()) {
        Write(registryPath, JoinedExports(stores.exports));
        std::printf("%s: the exports joined\n", registryPath.c_str());
    }
    RegistryFile registry(registryPath);
    registry.UseScannersCodePage();
    if (!stores.oe.empty()) {
        const std::string identity = registry.Identity();
        const std::string folder = Absolute(stores.oe);
        registry.SetText(reg::kCurrentUser, OutlookExpressKey(identity), "Store Root",
                         StoreRoot(folder));
        std::printf("%s: Outlook Express store of the identity %s: %s\n", registryPath.c_str(),
                    identity.c_str(), folder.c_str());
    }
    const struct {
        const std::string& folder;
        const char* key;
        const char* program;
    } mailStores[] = {{stores.wlm, kWindowsLiveMailKey, "Windows Live Mail"},
                      {stores.wmail, kWindowsMailKey, "Windows Mail"}};
    for (const auto& store : mailStores) {
        if (store.folder.empty())
            continue;
        const std::string folder = Absolute(store.folder);
        registry.SetText(reg::kCurrentUser, store.key, "Store Root", StoreRoot(folder));
        std::printf("%s: %s store: %s\n", registryPath.c_str(), store.program, folder.c_str());
    }
    if (stores.approveGiven || stores.blockGiven) {
        const std::string confPath = root + "/conf/quellbox.conf";
        std::string conf;
        Read(confPath, conf);
        if (stores.approveGiven)
            conf = WithSetting(conf, "oe_approve_folder", stores.approve);
        if (stores.blockGiven)
            conf = WithSetting(conf, "oe_block_folder", stores.block);
        Write(confPath, conf);
        if (stores.approveGiven)
            std::printf("%s: approve folder \"%s\"\n", confPath.c_str(), stores.approve.c_str());
        if (stores.blockGiven)
            std::printf("%s: block folder \"%s\"\n", confPath.c_str(), stores.block.c_str());
    }
    return 0;
}

[[noreturn]] void Usage() {
    std::fprintf(stderr,
                 "usage: make-demo [--windows-root PATH] FOLDER\n"
                 "       make-demo [--oe-store DIR] [--wlm-store DIR] [--wmail-store DIR]\n"
                 "                 [--registry FILE.reg]... [--approve NAME] [--block NAME] "
                 "FOLDER\n");
    std::exit(2);
}

}  // namespace

int main(int argc, char** argv) {
    std::string folder, windowsRoot;
    OwnStores stores;
    bool own = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        auto next = [&]() -> std::string {
            if (i + 1 >= argc)
                Usage();
            return argv[++i];
        };
        if (arg == "--windows-root") {
            windowsRoot = next();
        } else if (arg == "--oe-store") {
            stores.oe = next();
            own = true;
        } else if (arg == "--wlm-store") {
            stores.wlm = next();
            own = true;
        } else if (arg == "--wmail-store") {
            stores.wmail = next();
            own = true;
        } else if (arg == "--registry") {
            stores.exports.push_back(next());
            own = true;
        } else if (arg == "--approve") {
            stores.approve = next();
            stores.approveGiven = own = true;
        } else if (arg == "--block") {
            stores.block = next();
            stores.blockGiven = own = true;
        } else if (arg.starts_with("--") || !folder.empty()) {
            Usage();
        } else {
            folder = arg;
        }
    }
    if (folder.empty() || (own && !windowsRoot.empty()))
        Usage();
    return own ? OwnStore(folder, stores) : Demo(folder, windowsRoot);
}
