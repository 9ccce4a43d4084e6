// Lays out a demo program folder for the scanner:
//   <folder>/conf/quellbox.conf      block and approve folders configured, trace level 8
//   <folder>/conf/approvedsenders    two entries typed in by "the user"
//   <folder>/registry.reg            identity, store root, Outlook Express blocked list
//   <folder>/store/*.dbx             Folders.dbx, Inbox, Sent Items, an approve and a block folder
// Messages are dated relative to now: some older than a day, some not.
#include <sys/stat.h>
#include <time.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "tests/support/dbx/DbxWriter.h"

namespace dbx = qb::test::dbx;

namespace {

void Write(const std::string& path, const std::string& content) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << content;
    if (!out) {
        std::fprintf(stderr, "make-demo: cannot write %s\n", path.c_str());
        std::exit(1);
    }
}

uint64_t HoursAgo(int hours) {
    const time_t t = ::time(nullptr) - static_cast<time_t>(hours) * 3600;
    struct tm tm;
    ::gmtime_r(&t, &tm);
    return dbx::FileTime(tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min,
                         tm.tm_sec);
}

dbx::Message Received(uint32_t id, const std::string& sender, const std::string& subject,
                      int hoursAgo) {
    dbx::Message m;
    m.id = id;
    m.date = HoursAgo(hoursAgo);
    m.senderEMail = sender;
    m.senderName = sender.substr(0, sender.find('@'));
    m.subject = subject;
    m.body = "Subject: " + subject + "\r\n\r\nDemo message " + std::to_string(id) + ".\r\n";
    return m;
}

dbx::Message Sent(uint32_t id, const std::string& recipients, const std::string& subject) {
    dbx::Message m;
    m.id = id;
    m.date = HoursAgo(30);
    m.senderEMail = "me@home.example";
    m.recipientEMail = recipients;
    m.subject = subject;
    return m;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: make-demo FOLDER\n");
        return 2;
    }
    const std::string root = argv[1];
    ::mkdir(root.c_str(), 0777);
    ::mkdir((root + "/conf").c_str(), 0777);
    ::mkdir((root + "/store").c_str(), 0777);

    Write(root + "/conf/quellbox.conf",
          "# Quellbox demo configuration\r\n"
          "dbg_verbose_level=8\r\n"
          "oe_block_folder=Spam I Missed\r\n"
          "oe_approve_folder=Not Spam\r\n");
    Write(root + "/conf/approvedsenders", "family.example\r\nboss@work.example\r\n");

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
    Write(root + "/store/Folders.dbx", dbx::FolderFile(folders));

    Write(root + "/store/Inbox.dbx",
          dbx::MessageFile({Received(1, "Anna@Friends.example", "Lunch on Friday?", 72),
                            Received(2, "<news@list.example>", "Weekly digest", 49),
                            Received(3, "mum@family.example", "Photos", 26),
                            Received(4, "newcomer@fresh.example", "Hello there", 2)}));
    Write(
        root + "/store/Sent Items.dbx",
        dbx::MessageFile(
            {Sent(101, "anna@friends.example", "Re: Lunch on Friday?"),
             Sent(102, "boss@work.example;colleague@work.example;Anna@friends.example", "Minutes"),
             Sent(103, "plumber@trade.example", "Leaking tap")}));
    Write(root + "/store/Not Spam.dbx",
          dbx::MessageFile({Received(201, "offers@shop.example", "Your order has shipped", 10),
                            Received(202, "cousin@family.example", "Party", 100)}));
    Write(root + "/store/Spam I Missed.dbx",
          dbx::MessageFile({Received(301, "winner@lottery.example", "You have won", 5),
                            Received(302, "winner@lottery.example", "Claim now", 4),
                            Received(303, "pills@pharma.example", "Cheap pills", 3),
                            Received(304, "boss@work.example", "Forwarded joke", 1)}));

    const std::string id = "{5A5E1A0B-0C1D-4E2F-8A9B-0C1D2E3F4A5B}";
    const std::string identity = "[HKEY_CURRENT_USER\\Identities\\" + id;
    std::string reg = "REGEDIT4\r\n\r\n";
    reg += "[HKEY_CURRENT_USER\\Identities]\r\n\"Last User ID\"=\"" + id + "\"\r\n\r\n";
    reg += identity + "]\r\n\"Username\"=\"Main Identity\"\r\n\r\n";
    reg += identity + "\\Software\\Microsoft\\Outlook Express\\5.0]\r\n\"Store Root\"=\"" + root +
           "/store\"\r\n\r\n";
    const char* blocked[] = {"Promo@Ads.example", "spammer@junk.example"};
    for (int i = 0; i < 2; ++i) {
        reg += identity +
               "\\Software\\Microsoft\\Outlook Express\\5.0\\Block Senders\\Mail\\Criteria\\" +
               std::to_string(i) + "]\r\n\"Value\"=\"" + blocked[i] + "\"\r\n\r\n";
    }
    reg +=
        "[HKEY_LOCAL_MACHINE\\Software\\Ferrowin Tessaly Desktop Client]\r\n"
        "\"OEScanInbox\"=\"1\"\r\n\"OEScanSent\"=\"1\"\r\n\r\n";
    Write(root + "/registry.reg", reg);
    std::printf("Demo program folder laid out in %s\n", root.c_str());
    return 0;
}
