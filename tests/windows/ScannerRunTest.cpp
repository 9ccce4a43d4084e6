// The scanner as a Windows program: copied with quelladdr.dll into a program
// folder, its registry seeded with "reg import" of a REGEDIT4 file (the
// identity, its store root, the Outlook Express blocked list), its store
// written by the .dbx writer, started as a process of its own; the product's
// files, the address database and the registry counters checked afterwards.
#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/ExpectedCodePage.h"
#include "tests/support/TempFolder.h"
#include "tests/support/dbx/DbxWriter.h"

// Last: windows.h defines names the other headers use.
#include "platform/win32/WinApi.h"
#include "tests/windows/WindowsProcess.h"

// After windows.h.
#include <shlwapi.h>

namespace qb::test {
namespace {

namespace dbx_ = qb::test::dbx;
using Lines = std::vector<std::string>;

constexpr char kIdentity[] = "{5A5E1A0B-0C1D-4E2F-8A9B-0C1D2E3F4A5B}";
constexpr char kProductKey[] = "Software\\Ferrowin Tessaly Desktop Client";

// A REGEDIT4 string: backslashes and quotes escaped.
std::string RegString(const std::string& text) {
    std::string out = "\"";
    for (char c : text) {
        if (c == '\\' || c == '"')
            out += '\\';
        out += c;
    }
    return out + "\"";
}

uint64_t HoursAgo(int hours) {
    FILETIME now;
    ::GetSystemTimeAsFileTime(&now);
    const uint64_t ticks = (static_cast<uint64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
    return ticks - static_cast<uint64_t>(hours) * 3600ull * 10'000'000ull;
}

dbx_::Message From(uint32_t id, const std::string& sender, int hoursAgo = 72) {
    dbx_::Message m;
    m.id = id;
    m.date = HoursAgo(hoursAgo);
    m.senderEMail = sender;
    m.subject = "message " + std::to_string(id);
    return m;
}

dbx_::Message To(uint32_t id, const std::string& recipients) {
    dbx_::Message m;
    m.id = id;
    m.date = HoursAgo(1);
    m.recipientEMail = recipients;
    return m;
}

dbx_::Folder Folder(uint32_t id, uint32_t parent, const std::string& name,
                    const std::string& file) {
    dbx_::Folder f;
    f.id = id;
    f.parentId = parent;
    f.name = name;
    if (!file.empty())
        f.fileName = file;
    return f;
}

struct Record {
    uint32_t from = 0;
    uint32_t to = 0;
};

class WindowsScannerRun : public ::testing::Test {
  protected:
    void SetUp() override {
        lock_ = std::make_unique<SystemLock>("QuellboxTestScannerRegistry");
        ClearRegistry();
        ASSERT_TRUE(::CopyFileA(HostPath(GLEANWICK_EXE).c_str(),
                                (program.WinPath() + "\\Gleanwick.exe").c_str(), FALSE));
        ASSERT_TRUE(::CopyFileA(HostPath(QUELLADDR_DLL).c_str(),
                                (program.WinPath() + "\\quelladdr.dll").c_str(), FALSE));
        ASSERT_TRUE(::CreateDirectoryA((program.WinPath() + "\\conf").c_str(), nullptr));
    }
    void TearDown() override {
        ClearRegistry();
        lock_.reset();
    }

    static void ClearRegistry() {
        for (REGSAM view : {KEY_WOW64_32KEY, KEY_WOW64_64KEY}) {
            HKEY software;
            if (::RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software", 0, KEY_ALL_ACCESS | view,
                                &software) == ERROR_SUCCESS) {
                ::SHDeleteKeyA(software, "Ferrowin Tessaly Desktop Client");
                ::RegCloseKey(software);
            }
        }
        ::SHDeleteKeyA(HKEY_CURRENT_USER, "Identities");
        ::SHDeleteKeyA(HKEY_CURRENT_USER, "Software\\Microsoft\\Windows Live Mail");
    }

    std::string Store() const { return program.WinPath() + "\\store"; }

    // The identity with its store root and blocked list, and the product's
    // key with the given values (REGEDIT4 value texts), imported by reg.exe.
    void SeedRegistry(const Lines& oeBlocked, const std::map<std::string, std::string>& values) {
        std::string reg = "REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\Identities]\r\n";
        reg += "\"Last User ID\"=" + RegString(kIdentity) + "\r\n\r\n";
        const std::string id = std::string("[HKEY_CURRENT_USER\\Identities\\") + kIdentity;
        reg += id + "]\r\n\"Username\"=\"Main Identity\"\r\n\r\n";
        reg += id + "\\Software\\Microsoft\\Outlook Express\\5.0]\r\n\"Store Root\"=" +
               RegString(Store()) + "\r\n\r\n";
        for (size_t i = 0; i < oeBlocked.size(); ++i) {
            reg += id + "\\Software\\Microsoft\\Outlook Express\\5.0\\Block Senders\\Mail\\" +
                   "Criteria\\" + std::to_string(i) + "]\r\n\"Value\"=" + RegString(oeBlocked[i]) +
                   "\r\n\r\n";
        }
        reg += "[HKEY_LOCAL_MACHINE\\" + std::string(kProductKey) + "]\r\n";
        for (const auto& [name, value] : values)
            reg += RegString(name) + "=" + value + "\r\n";
        reg += "\r\n";
        program.Write("seed.reg", reg);
        // Into the registry view of 32-bit programs, which the scanner uses
        // in both builds.
        ASSERT_EQ(RunProcess("reg import \"" + program.WinPath() + "\\seed.reg\" /reg:32"), 0);
    }

    void StandardStore() {
        program.Write(
            "store/Folders.dbx",
            dbx_::FolderFile({Folder(1, 0, "Local Folders", ""), Folder(4, 1, "Inbox", "Inbox.dbx"),
                              Folder(6, 1, "Sent Items", "Sent Items.dbx"),
                              Folder(10, 1, "Good Mail", "Good Mail.dbx"),
                              Folder(11, 1, "Junk Found", "Junk Found.dbx")}));
        program.Write("store/Inbox.dbx", dbx_::MessageFile({From(1, "Alice@Example.com"),
                                                            From(2, " <bob@example.org>"),
                                                            From(3, "young@example.net", 2)}));
        program.Write(
            "store/Sent Items.dbx",
            dbx_::MessageFile({To(20, "carol@example.com;dave@example.com;Carol@example.com"),
                               To(10, "erin@example.com"), To(30, "")}));
        program.Write("store/Good Mail.dbx",
                      dbx_::MessageFile({From(1, "friend@good.org"), From(2, "pal@good.org")}));
        program.Write("store/Junk Found.dbx",
                      dbx_::MessageFile({From(1, "spam@bad.biz"), From(2, "spam@bad.biz"),
                                         From(3, "more@bad.biz;friend@good.org")}));
    }

    int Run(const std::string& args = "") {
        // Appended piece by piece: GCC 12 at -O3 warns (-Wrestrict) about a
        // literal + std::string, wrongly (its bug 105651).
        std::string command = "\"";
        command += program.WinPath();
        command += "\\Gleanwick.exe\"";
        if (!args.empty()) {
            command += ' ';
            command += args;
        }
        return RunProcess(command);
    }

    std::string File(const std::string& name) const { return program.Read("conf/" + name); }

    std::map<std::string, Record> Database() const {
        std::map<std::string, Record> records;
        std::istringstream in(File("quellboxaddr.bin"));
        std::string line;
        std::getline(in, line);  // the header
        while (std::getline(in, line)) {
            std::istringstream fields(line);
            std::string address;
            Record r;
            fields >> address >> r.from >> r.to;
            records[address] = r;
        }
        return records;
    }

    // A DWORD of the product's key in the registry view given (the 32-bit
    // programs' view unless told), or -1 when there is none.
    static int64_t Counter(const char* name, REGSAM view = KEY_WOW64_32KEY) {
        DWORD value = 0;
        DWORD size = sizeof value;
        DWORD type = 0;
        HKEY key;
        if (::RegOpenKeyExA(HKEY_LOCAL_MACHINE, kProductKey, 0, KEY_READ | view, &key) !=
            ERROR_SUCCESS)
            return -1;
        const LONG rc =
            ::RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(&value), &size);
        ::RegCloseKey(key);
        return rc == ERROR_SUCCESS && type == REG_DWORD ? static_cast<int64_t>(value) : -1;
    }

    // console.txt without each line's date and time.
    Lines Console() const {
        Lines out;
        if (!program.Exists("console.txt"))
            return out;
        std::istringstream in(program.Read("console.txt"));
        std::string line;
        while (std::getline(in, line)) {
            if (!line.empty() && line.back() == '\r')
                line.pop_back();
            const size_t sep = line.find(" : ");
            out.push_back(sep == std::string::npos ? line : line.substr(sep + 3));
        }
        return out;
    }

    std::unique_ptr<SystemLock> lock_;  // first: the keys are this test's alone
    TempFolder program;
};

TEST_F(WindowsScannerRun, HarvestsEveryFolderIntoTheProductsFiles) {
    StandardStore();
    program.Write("conf/quellbox.conf",
                  "oe_block_folder=Junk Found\r\noe_approve_folder=good mail\r\n");
    SeedRegistry({"Listed@OE.com", "other@oe.com"}, {});
    ASSERT_EQ(Run(), 0);

    EXPECT_EQ(File("blockedsenders"),
              "listed@oe.com\r\nmore@bad.biz\r\nother@oe.com\r\nspam@bad.biz\r\n");
    EXPECT_EQ(File("oesbs"), "more@bad.biz\r\nspam@bad.biz\r\n");
    EXPECT_EQ(File("approvedsenders"), "friend@good.org\r\npal@good.org\r\n");
    EXPECT_EQ(File("oesas"), "friend@good.org\r\npal@good.org\r\n");
    EXPECT_EQ(File("oesent"), "10\r\n20\r\n30\r\n");

    const auto db = Database();
    ASSERT_EQ(db.count("alice@example.com"), 1u) << File("quellboxaddr.bin");
    EXPECT_EQ(db.at("alice@example.com").from, 1u);
    EXPECT_EQ(db.at("bob@example.org").from, 1u);
    EXPECT_EQ(db.count("young@example.net"), 0u) << "younger than a day";
    EXPECT_EQ(db.at("carol@example.com").to, 2u);
    EXPECT_EQ(db.at("dave@example.com").to, 1u);
    EXPECT_EQ(db.at("erin@example.com").to, 1u);
    EXPECT_EQ(db.at("friend@good.org").to, 1u);
    EXPECT_EQ(db.count("spam@bad.biz"), 0u);

    EXPECT_EQ(Counter("oe_scan_approve"), 2);
    EXPECT_EQ(Counter("oe_scan_block"), 3);
    EXPECT_EQ(Console(), Lines{}) << "level 0 and every file found: no console line";

    // A second run counts nothing twice.
    const std::string before = File("quellboxaddr.bin");
    ASSERT_EQ(Run(), 0);
    EXPECT_EQ(File("quellboxaddr.bin"), before);
    EXPECT_EQ(File("oesent"), "10\r\n20\r\n30\r\n");
}

// A file written through the wide-character API, in folders made the same
// way: names the code page cannot hold.
void WriteWide(const std::wstring& path, const std::string& content) {
    for (size_t sep = path.find(L'\\', 3); sep != std::wstring::npos;
         sep = path.find(L'\\', sep + 1))
        ::CreateDirectoryW(path.substr(0, sep).c_str(), nullptr);
    HANDLE h = ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                             FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    DWORD written = 0;
    ::WriteFile(h, content.data(), static_cast<DWORD>(content.size()), &written, nullptr);
    ::CloseHandle(h);
}

std::string OldMessage(const std::string& from) {
    return "From: " + from +
           "\r\nTo: jo@home.example\r\nDate: Tue, 1 Jul 2003 10:00:00 +0000\r\n\r\n";
}

TEST_F(WindowsScannerRun, ScansAWindowsLiveMailStoreWhoseFolderNamesTheCodePageLacks) {
    StandardStore();
    program.Write("conf/quellbox.conf", "oe_block_folder=Junk Found\r\n");
    const std::string wlm = program.WinPath() + "\\wlm";
    const std::wstring root(wlm.begin(), wlm.end());
    // "Почта (jo)" and "Архив": Cyrillic, outside the Western code page.
    WriteWide(root + L"\\\x041F\x043E\x0447\x0442\x0430 (jo)\\Inbox\\1.eml",
              OldMessage("Ivan <Ivan@mail.example>"));
    WriteWide(root + L"\\Storage Folders\\\x0410\x0440\x0445\x0438\x0432\\Junk Found\\z.eml",
              OldMessage("deep@bad.biz"));
    SeedRegistry({}, {});
    ASSERT_EQ(
        RunProcess("reg add \"HKCU\\Software\\Microsoft\\Windows Live Mail\" /v \"Store Root\" "
                   "/d \"" +
                   wlm + "\" /f"),
        0);
    ASSERT_EQ(Run(), 0);

    // No approve folder: the Outlook Express block folder's friend@good.org is blocked too.
    EXPECT_EQ(File("blockedsenders"),
              "deep@bad.biz\r\nfriend@good.org\r\nmore@bad.biz\r\nspam@bad.biz\r\n");
    EXPECT_EQ(File("wlmbs"), "deep@bad.biz\r\n");
    const auto db = Database();
    ASSERT_EQ(db.count("ivan@mail.example"), 1u) << File("quellboxaddr.bin");
    EXPECT_EQ(db.at("ivan@mail.example").from, 1u);
    EXPECT_EQ(Counter("oe_scan_block"), 4) << "both stores' block folders";
}

// A Japanese Windows: the system's code page is 932 (Wine takes it from the
// locale; the ctest entry CodePage932.WindowsScannerRun runs this under
// LC_ALL=ja_JP.UTF-8). The standard folders bear Japanese names and are found
// by their kind; a display name keeps its trail bytes in the database.
TEST_F(WindowsScannerRun, AJapaneseStoreUnderCodePage932) {
    ASSERT_TRUE(test::ExpectedCodePageHolds());
    if (::GetACP() != 932)
        GTEST_SKIP() << "the system's code page is " << ::GetACP() << ", not 932";
    // "受信トレイ" and "送信済みアイテム" in Shift-JIS; the files named alike.
    dbx_::Folder inbox = Folder(4, 1, "\x8E\xF3\x90\x4D\x83\x67\x83\x8C\x83\x43",
                                "\x8E\xF3\x90\x4D\x83\x67\x83\x8C\x83\x43.dbx");
    dbx_::Folder sent =
        Folder(6, 1, "\x91\x97\x90\x4D\x8D\xCF\x82\xDD\x83\x41\x83\x43\x83\x65\x83\x80",
               "\x91\x97\x90\x4D\x8D\xCF\x82\xDD\x83\x41\x83\x43\x83\x65\x83\x80.dbx");
    inbox.kind = 1;
    sent.kind = 3;
    inbox.storeType = sent.storeType = 3;
    program.Write("store/Folders.dbx",
                  dbx_::FolderFile({Folder(1, 0, "Local Folders", ""), inbox, sent}));
    const std::string store = Store();
    const std::wstring root(store.begin(), store.end());
    // "アイテム" holds the trail bytes 'A', 'C' and 'e'.
    WriteWide(root + L"\\\x53D7\x4FE1\x30C8\x30EC\x30A4.dbx",
              dbx_::MessageFile({From(1, "Anna@Example.JP"),
                                 From(2, "\x83\x41\x83\x43\x83\x65\x83\x80 <Item@Example.JP>")}));
    WriteWide(root + L"\\\x9001\x4FE1\x6E08\x307F\x30A2\x30A4\x30C6\x30E0.dbx",
              dbx_::MessageFile({To(10, "Bob@Example.JP")}));
    SeedRegistry({}, {});
    ASSERT_EQ(Run(), 0);
    const auto db = Database();
    ASSERT_EQ(db.count("anna@example.jp"), 1u) << File("quellboxaddr.bin");
    EXPECT_EQ(db.at("anna@example.jp").from, 1u);
    const std::string item = "\x83\x41\x83\x43\x83\x65\x83\x80<item@example.jp";
    ASSERT_EQ(db.count(item), 1u) << File("quellboxaddr.bin");
    EXPECT_EQ(db.at(item).from, 1u);
    EXPECT_EQ(db.at("bob@example.jp").to, 1u);
    EXPECT_EQ(File("oesent"), "10\r\n");
    // The next run reads the keys back as they are.
    const std::string before = File("quellboxaddr.bin");
    ASSERT_EQ(Run(), 0);
    EXPECT_EQ(File("quellboxaddr.bin"), before);
}

TEST_F(WindowsScannerRun, TracesTheWindowsStoreRootAndHonoursTheScanLimit) {
    StandardStore();
    program.Write("conf/quellbox.conf", "dbg_verbose_level=8\r\n");
    SeedRegistry({}, {{"scan_limit", "\"2048\""}, {"OEScanSent", "dword:00000000"}});
    ASSERT_EQ(Run("-SHOW-not"), 0);
    const Lines console = Console();
    auto has = [&](const std::string& line) {
        for (const std::string& l : console) {
            if (l == line)
                return true;
        }
        return false;
    };
    EXPECT_TRUE(has("dbg_verbose_level = 8"));
    EXPECT_TRUE(has(std::string("identity = ") + kIdentity));
    EXPECT_TRUE(has("gStoreRoot = " + Store() + "\\"));
    EXPECT_TRUE(has("Store Root = " + Store()));
    bool overflow = false;
    for (const std::string& l : console)
        overflow = overflow || l.rfind("InitializeObjects() Error 6 : ", 0) == 0;
    EXPECT_TRUE(overflow) << "a scan limit of 2048 megabytes overflows";
    EXPECT_EQ(File("oesent"), "<missing>") << "OEScanSent 0 turns the Sent Items scan off";
    EXPECT_EQ(Database().at("alice@example.com").from, 1u);
}

// Whether this Windows keeps a 64-bit registry view beside the 32-bit one:
// 64-bit Windows, whether this is the 64-bit build or the 32-bit one under
// WoW64. 32-bit Windows has one view; the view flags change nothing there.
bool HasTwoRegistryViews() {
#if defined(_WIN64)
    return true;
#else
    BOOL wow64 = FALSE;
    return ::IsWow64Process(::GetCurrentProcess(), &wow64) && wow64;
#endif
}

// The scanner reads its switches from the product's key as the product's
// 32-bit programs see it and writes its counters there; on 64-bit Windows a
// contrary value in the 64-bit view changes nothing and gets no counter,
// whether the scanner is the 64-bit build or the 32-bit one under WoW64.
TEST_F(WindowsScannerRun, SharesTheProductKeyWithThe32BitPrograms) {
    StandardStore();
    program.Write("conf/quellbox.conf", "oe_approve_folder=Good Mail\r\n");
    SeedRegistry({}, {{"OEScanSent", "dword:00000000"}});
    const bool twoViews = HasTwoRegistryViews();
    if (twoViews) {
        HKEY native;
        ASSERT_EQ(::RegCreateKeyExA(HKEY_LOCAL_MACHINE, kProductKey, 0, nullptr, 0,
                                    KEY_ALL_ACCESS | KEY_WOW64_64KEY, nullptr, &native, nullptr),
                  ERROR_SUCCESS);
        const DWORD on = 1;
        ASSERT_EQ(::RegSetValueExA(native, "OEScanSent", 0, REG_DWORD,
                                   reinterpret_cast<const BYTE*>(&on), sizeof on),
                  ERROR_SUCCESS);
        ::RegCloseKey(native);
    }
    ASSERT_EQ(Run(), 0);
    EXPECT_EQ(File("oesent"), "<missing>") << "OEScanSent 0 of the 32-bit view is in force";
    EXPECT_EQ(File("approvedsenders"), "friend@good.org\r\npal@good.org\r\n");
    EXPECT_EQ(Counter("oe_scan_approve"), 2);
    if (twoViews) {
        EXPECT_EQ(Counter("oe_scan_approve", KEY_WOW64_64KEY), -1);
        EXPECT_EQ(Counter("OEScanSent", KEY_WOW64_64KEY), 1) << "the other view stays as it was";
    }
}

TEST_F(WindowsScannerRun, WithoutTheAddressLibraryTheRunEndsOnMainsErrorPath) {
    StandardStore();
    SeedRegistry({}, {});
    ASSERT_TRUE(::DeleteFileA((program.WinPath() + "\\quelladdr.dll").c_str()));
    ASSERT_EQ(Run(), 0);
    bool mainError = false;
    for (const std::string& l : Console())
        mainError = mainError || l.rfind("Main() Error 53 : ", 0) == 0;
    EXPECT_TRUE(mainError);
    EXPECT_FALSE(program.Exists("conf/quellboxaddr.bin"));
}

TEST_F(WindowsScannerRun, ACopyHoldingTheProgramFoldersLockKeepsEveryOtherOut) {
    StandardStore();
    SeedRegistry({}, {});
    ASSERT_EQ(Run(), 0);
    ASSERT_TRUE(program.Exists("Gleanwick.lock")) << "the lock lives in the program folder";
    ASSERT_TRUE(::DeleteFileA((program.WinPath() + "\\conf\\quellboxaddr.bin").c_str()));
    // Held as a copy of another session holds it: that copy's mutex is
    // not visible here, its lock is.
    HANDLE held = ::CreateFileA((program.WinPath() + "\\Gleanwick.lock").c_str(),
                                GENERIC_READ | GENERIC_WRITE,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    OVERLAPPED at = {};
    ASSERT_TRUE(
        ::LockFileEx(held, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &at));
    ASSERT_EQ(Run(), 0);
    EXPECT_FALSE(program.Exists("conf/quellboxaddr.bin")) << "the second copy wrote nothing";
    ::CloseHandle(held);
    ASSERT_EQ(Run(), 0);
    EXPECT_EQ(Database().at("alice@example.com").from, 1u) << "the lock went with its holder";
}

}  // namespace
}  // namespace qb::test
