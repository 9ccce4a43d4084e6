// A scanner run set up from parts: program folder, configuration, registry
// file (identity, store root, Outlook Express blocked list, the product's
// switches), and a mail store written by the .dbx writer.
#pragma once

#include <grp.h>
#include <gtest/gtest.h>
#include <time.h>
#include <unistd.h>

#include <filesystem>
#include <functional>

#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "tests/e2e/ProgramRun.h"
#include "tests/support/dbx/DbxWriter.h"

namespace qb::test {

namespace dbx_ = qb::test::dbx;

inline constexpr const char* kIdentity = "{5A5E1A0B-0C1D-4E2F-8A9B-0C1D2E3F4A5B}";

// A FILETIME some hours before now (UTC).
inline uint64_t HoursAgo(int hours) {
    const time_t t = ::time(nullptr) - static_cast<time_t>(hours) * 3600;
    struct tm tm;
    ::gmtime_r(&t, &tm);
    return dbx_::FileTime(tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min,
                          tm.tm_sec);
}

inline dbx_::Message From(uint32_t id, const std::string& sender, int hoursAgo = 72) {
    dbx_::Message m;
    m.id = id;
    m.date = HoursAgo(hoursAgo);
    m.senderEMail = sender;
    m.subject = "message " + std::to_string(id);
    return m;
}

inline dbx_::Message To(uint32_t id, const std::string& recipients) {
    dbx_::Message m;
    m.id = id;
    m.date = HoursAgo(1);
    m.recipientEMail = recipients;
    return m;
}

// An .eml message from sender to recipients, dated some hours ago (UTC),
// with a Message-ID when id is given.
inline std::string Eml(const std::string& from, const std::string& to, int hoursAgo = 72,
                       const std::string& id = "") {
    const time_t t = ::time(nullptr) - static_cast<time_t>(hoursAgo) * 3600;
    struct tm tm;
    ::gmtime_r(&t, &tm);
    char date[64];
    ::strftime(date, sizeof date, "%a, %d %b %Y %H:%M:%S +0000", &tm);
    std::string m = "Received: from mx by host; " + std::string(date) + "\r\nFrom: " + from +
                    "\r\nTo: " + to + "\r\nSubject: hello\r\nDate: " + date + "\r\n";
    if (!id.empty())
        m += "Message-ID: " + id + "\r\n";
    return m + "\r\nFrom: body@example.com\r\n";
}

struct Record {
    uint32_t from = 0;
    uint32_t to = 0;
};

class Scenario {
  public:
    Scenario() : program_(GLEANWICK_PATH, QUELLADDR_PATH) {}

    ProgramFolder& Program() { return program_; }
    std::string StorePath() const { return program_ / "store"; }

    // ---- set-up ----
    void Conf(const std::string& content) { program_.Write("conf/quellbox.conf", content); }
    void ListFile(const std::string& name, const std::string& content) {
        program_.Write("conf/" + name, content);
    }
    // The standard folder list: Inbox, Sent Items, and the two verdict
    // folders (of the store in dir of the program folder).
    void StandardFolders(const std::string& dir = "store") {
        Folders({{1, 0, "Local Folders", ""},
                 {4, 1, "Inbox", "Inbox.dbx"},
                 {6, 1, "Sent Items", "Sent Items.dbx"},
                 {10, 1, "Good Mail", "Good Mail.dbx"},
                 {11, 1, "Junk Found", "Junk Found.dbx"}},
                dir);
    }
    // An Outlook Express store of the standard folders with one message in
    // each (from inboxSender, to sentRecipient, from approvedSender, from
    // blockedSender) and both verdict folders configured.
    void OutlookExpressStore(const std::string& inboxSender, const std::string& sentRecipient,
                             const std::string& approvedSender, const std::string& blockedSender) {
        StandardFolders();
        Messages("Inbox.dbx", {From(1, inboxSender)});
        Messages("Sent Items.dbx", {To(10, sentRecipient)});
        Messages("Good Mail.dbx", {From(1, approvedSender)});
        Messages("Junk Found.dbx", {From(1, blockedSender)});
        Conf("oe_block_folder=Junk Found\r\noe_approve_folder=good mail\r\n");
    }
    struct FolderRow {
        uint32_t id, parent;
        std::string name, file;
        uint32_t kind = 0;  // a standard folder's kind (written with Local Folders' store type)
    };
    void Folders(const std::vector<FolderRow>& rows, const std::string& dir = "store") {
        std::vector<dbx_::Folder> folders;
        for (const FolderRow& r : rows) {
            dbx_::Folder f;
            f.id = r.id;
            f.parentId = r.parent;
            f.name = r.name;
            if (!r.file.empty())
                f.fileName = r.file;
            if (r.kind != 0) {
                f.kind = r.kind;
                f.storeType = 3;
            }
            folders.push_back(f);
        }
        program_.Write(dir + "/Folders.dbx", dbx_::FolderFile(folders));
    }
    void Messages(const std::string& file, const std::vector<dbx_::Message>& messages,
                  const std::string& dir = "store") {
        program_.Write(dir + "/" + file, dbx_::MessageFile(messages));
    }
    void OEBlocked(std::vector<std::string> entries) { oeBlocked_ = std::move(entries); }
    // The store root of Windows Live Mail ("Windows Live Mail") or Windows
    // Mail ("Windows Mail") in the registry: the folder dir of the program
    // folder. Returns its path.
    std::string MailStore(const std::string& program, const std::string& dir) {
        mailStores_[program] = program_ / dir;
        return program_ / dir;
    }
    // A file under the program folder (a message of a mail store).
    void Put(const std::string& path, const std::string& content) { program_.Write(path, content); }
    void ProductValue(const std::string& name, const std::string& regText) {
        productValues_[name] = regText;
    }
    // The system's ANSI code page as a "reg export" of Windows carries it.
    void CodePage(uint32_t number) { codePage_ = number; }

    // ---- run ----
    RunResult Run(const std::vector<std::string>& args = {}) {
        return program_.Run(args, RunEnvironment());
    }
    // The environment changes a run gets (the registry file, written now when
    // it is missing), after the extra ones (see ProgramFolder::Start).
    std::vector<std::string> RunEnvironment(std::vector<std::string> extra = {}) {
        WriteRegistry();
        extra.push_back("QUELLBOX_REGISTRY=" + RegistryPath());
        return extra;
    }
    std::string RegistryPath() const { return program_ / "registry.reg"; }
    // Writes the registry file now (Run writes it when it is missing).
    void WriteRegistryNow() { WriteRegistry(); }
    // The registry file of another user or identity of the same machine
    // (file, beside the program): its identity with the Outlook Express store
    // in storeDir, and a Windows Live Mail store in liveMailDir (none when
    // empty), with this scenario's blocked list and product values. Returns
    // its path, for QUELLBOX_REGISTRY.
    std::string OtherRegistry(const std::string& file, const std::string& identity,
                              const std::string& storeDir, const std::string& liveMailDir) {
        std::map<std::string, std::string> stores;
        if (!liveMailDir.empty())
            stores["Windows Live Mail"] = program_ / liveMailDir;
        program_.Write(file, RegistryText(identity, program_ / storeDir, stores));
        return program_ / file;
    }

    // ---- results ----
    std::vector<std::string> Console() const { return program_.ConsoleLines(); }
    std::string File(const std::string& name) const { return program_.Read("conf/" + name); }
    std::map<std::string, Record> Database() const {
        std::map<std::string, Record> records;
        std::istringstream in(program_.Read("conf/quellboxaddr.bin"));
        std::string line;
        bool header = true;
        while (std::getline(in, line)) {
            if (header) {
                header = false;
                continue;
            }
            std::istringstream fields(line);
            std::string address;
            Record r;
            fields >> address >> r.from >> r.to;
            records[address] = r;
        }
        return records;
    }
    // The registry file's line for a value of the product's key, or "".
    std::string RegistryLine(const std::string& name) const {
        std::istringstream in(program_.Read("registry.reg"));
        std::string line;
        bool inKey = false;
        while (std::getline(in, line)) {
            if (!line.empty() && line.back() == '\r')
                line.pop_back();
            if (!line.empty() && line[0] == '[') {
                inKey = line == "[HKEY_LOCAL_MACHINE\\Software\\Ferrowin Tessaly Desktop Client]";
                continue;
            }
            if (inKey && line.rfind("\"" + name + "\"=", 0) == 0)
                return line;
        }
        return "";
    }

  private:
    void WriteRegistry() {
        if (program_.Exists("registry.reg"))
            return;  // later runs keep what the first left
        program_.Write("registry.reg", RegistryText(kIdentity, StorePath(), mailStores_));
    }

    std::string RegistryText(const std::string& identity, const std::string& storePath,
                             const std::map<std::string, std::string>& mailStores) const {
        std::string reg = "REGEDIT4\r\n\r\n";
        reg += "[HKEY_CURRENT_USER\\Identities]\r\n\"Last User ID\"=\"" + identity + "\"\r\n\r\n";
        const std::string id = std::string("[HKEY_CURRENT_USER\\Identities\\") + identity;
        reg += id + "]\r\n\"Username\"=\"Main Identity\"\r\n\r\n";
        reg += id + "\\Software\\Microsoft\\Outlook Express\\5.0]\r\n\"Store Root\"=\"" +
               storePath + "\"\r\n\r\n";
        for (size_t i = 0; i < oeBlocked_.size(); ++i) {
            reg += id +
                   "\\Software\\Microsoft\\Outlook Express\\5.0\\Block Senders\\Mail\\Criteria\\" +
                   std::to_string(i) + "]\r\n\"Value\"=\"" + oeBlocked_[i] + "\"\r\n\r\n";
        }
        for (const auto& [program, root] : mailStores) {
            reg += "[HKEY_CURRENT_USER\\Software\\Microsoft\\" + program +
                   "]\r\n\"Store Root\"=\"" + root + "\"\r\n\r\n";
        }
        if (codePage_ != 0) {
            reg +=
                "[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Control\\Nls\\CodePage]\r\n"
                "\"ACP\"=\"" +
                std::to_string(codePage_) + "\"\r\n\r\n";
        }
        reg += "[HKEY_LOCAL_MACHINE\\Software\\Ferrowin Tessaly Desktop Client]\r\n";
        for (const auto& [name, value] : productValues_) {
            reg += "\"" + name + "\"=" + value + "\r\n";
        }
        reg += "\r\n";
        return reg;
    }

    ProgramFolder program_;
    std::vector<std::string> oeBlocked_;
    std::map<std::string, std::string> productValues_;
    std::map<std::string, std::string> mailStores_;
    uint32_t codePage_ = 0;
};

// Runs the program as an ordinary user when the tests run as root, who
// reads every file whatever its mode. The program folder is handed to that
// user first.
class AsOrdinaryUser {
  public:
    static constexpr uid_t kNobody = 65534;

    explicit AsOrdinaryUser(Scenario& s) : root_(::geteuid() == 0) {
        if (!root_)
            return;
        const std::string dir = s.Program().Dir().Path();
        ::chown(dir.c_str(), kNobody, kNobody);
        for (const auto& e : std::filesystem::recursive_directory_iterator(dir))
            ::lchown(e.path().c_str(), kNobody, kNobody);
    }

    // Runs in the child before the program starts.
    std::function<void()> Drop() const {
        if (!root_)
            return {};
        return [] {
            if (::setgroups(0, nullptr) != 0 || ::setgid(kNobody) != 0 || ::setuid(kNobody) != 0)
                ::_exit(125);
        };
    }

  private:
    bool root_;
};

}  // namespace qb::test
