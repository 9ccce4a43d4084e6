#include "tools/oe/StoreSample.h"

#include <algorithm>
#include <cstdio>
#include <optional>
#include <vector>

#include "tests/support/dbx/DbxWriter.h"

namespace qb::tools {

namespace dbx = test::dbx;

namespace {

dbx::Message SampleMessage(int32_t i) {
    dbx::Message m;
    const std::string n = std::to_string(i);
    m.id = static_cast<uint32_t>(i + 1);
    m.flag = 0x80 | (i % 4);
    m.date = dbx::FileTime(2003, 1 + i % 12, 1 + i % 28, i % 24, i % 60, (i * 7) % 60);
    m.messageId = "<" + n + ".message@mail" + std::to_string(i % 97) + ".example.com>";
    m.subject = "Report number " + n + " on the state of things";
    m.origSubject = *m.subject;
    m.fetchServer = "pop.example.com";
    m.senderName = "Sender " + std::to_string(i % 5000);
    m.senderEMail =
        "sender" + std::to_string(i % 5000) + "@domain" + std::to_string(i % 300) + ".example.com";
    m.recipientName = "Reader";
    m.recipientEMail = "reader@example.com";
    m.accountName = "pop.example.com";
    m.accountNumber = "00000001";
    return m;
}

std::string BodyText(size_t length, int32_t i) {
    std::string text = "Subject: Report number " + std::to_string(i) + "\r\n\r\n";
    while (text.size() < length)
        text += "All work and no play makes a long message body. ";
    text.resize(length);
    return text;
}

// The sample message, from the sender-th of senders addresses when senders
// is above 0.
dbx::Message SampleMessageFrom(int32_t i, int32_t senders) {
    dbx::Message m = SampleMessage(i);
    if (senders > 0) {
        const int32_t sender = i % senders;
        m.senderEMail = "sender" + std::to_string(sender) + "@domain" +
                        std::to_string(sender % 300) + ".example.com";
    }
    return m;
}

}  // namespace

void WriteMessageStore(const std::string& path, int32_t messages, int64_t targetBytes,
                       RecordLayout layout, int32_t senders) {
    dbx::DbxWriter w(dbx::Kind::Message);
    // Bytes per message left for the body: the record, its index entry and
    // the block headers (16 bytes per 512 text bytes) come off the share.
    const int64_t share = std::max<int64_t>(0, (targetBytes - w.Size()) / std::max(messages, 1));
    const int64_t record = static_cast<int64_t>(
        dbx::MessageRecord(SampleMessage(messages), 0).fields.size() * 4 + 320);
    const int64_t text = std::max<int64_t>(0, (share - record - 12 - 12) * 512 / 528);
    w.Reserve(static_cast<size_t>(targetBytes) + (1 << 20));
    std::vector<int32_t> records;
    records.reserve(static_cast<size_t>(messages));
    if (layout == RecordLayout::AmongBodies) {
        for (int32_t i = 0; i < messages; ++i) {
            dbx::Message m = SampleMessageFrom(i, senders);
            m.body = BodyText(static_cast<size_t>(text), i);
            records.push_back(w.AddMessage(m));
        }
    } else {
        std::vector<int32_t> bodies;
        bodies.reserve(static_cast<size_t>(messages));
        for (int32_t i = 0; i < messages; ++i)
            bodies.push_back(w.AddBody(BodyText(static_cast<size_t>(text), i)));
        for (int32_t i = 0; i < messages; ++i) {
            const int32_t body = bodies[static_cast<size_t>(i)];
            records.push_back(w.AddRecord(
                dbx::MessageRecord(SampleMessageFrom(i, senders),
                                   body != 0 ? std::optional<int32_t>(body) : std::nullopt)));
        }
    }
    // Outlook Express keeps its trees flat: nodes of up to a few dozen entries.
    w.AddTree(records, {dbx::Shape::Balanced, 32, 1});
    w.Save(path);
}

int WriteSampleStore(const std::string& folder, const std::vector<std::string>& extraFolders) {
    std::vector<std::string> names = {"Inbox", "Outbox", "Sent Items", "Deleted Items", "Drafts"};
    names.insert(names.end(), extraFolders.begin(), extraFolders.end());
    dbx::DbxWriter folders(dbx::Kind::Folder);
    std::vector<int32_t> records;
    dbx::Folder root;
    root.id = 1;
    root.parentId = 0;
    root.name = "Local Folders";
    records.push_back(folders.AddFolder(root));
    int written = 0;
    for (size_t i = 0; i < names.size(); ++i) {
        dbx::Folder f;
        f.id = static_cast<uint32_t>(i + 2);
        f.parentId = 1;
        f.name = names[i];
        f.fileName = names[i] + ".dbx";
        records.push_back(folders.AddFolder(f));
        const bool empty =
            names[i] == "Outbox" || names[i] == "Deleted Items" || names[i] == "Drafts";
        std::vector<dbx::Message> messages;
        for (int32_t m = 0; !empty && m < 5; ++m) {
            dbx::Message message = SampleMessage(static_cast<int32_t>(i) * 100 + m);
            message.body = BodyText(600, m);
            messages.push_back(message);
        }
        dbx::DbxWriter mail(dbx::Kind::Message);
        std::vector<int32_t> mailRecords;
        for (const dbx::Message& message : messages)
            mailRecords.push_back(mail.AddMessage(message));
        mail.AddTree(mailRecords);
        mail.Save(folder + "/" + *f.fileName);
        ++written;
    }
    folders.AddTree(records);
    folders.Save(folder + "/Folders.dbx");
    return written + 1;
}

int WriteFuzzSeeds(const std::string& folder) {
    int n = 0;
    auto save = [&](const std::string& bytes) {
        char name[32];
        std::snprintf(name, sizeof name, "/seed-%03d.dbx", n++);
        FILE* f = std::fopen((folder + name).c_str(), "wb");
        if (f) {
            std::fwrite(bytes.data(), 1, bytes.size(), f);
            std::fclose(f);
        }
    };
    const dbx::Shape shapes[] = {dbx::Shape::Balanced, dbx::Shape::Chain,
                                 dbx::Shape::FirstChildChain, dbx::Shape::Random};
    for (dbx::Shape shape : shapes) {
        for (int count : {1, 3, 9}) {
            // Small headers keep the seeds small.
            dbx::DbxWriter w(dbx::Kind::Message, 0xE8);
            std::vector<int32_t> records;
            for (int i = 0; i < count; ++i) {
                dbx::Message m = SampleMessage(i);
                m.body = BodyText(static_cast<size_t>(40 + 300 * i), i);
                m.blockText = 128;
                m.pointerInValueArea = i % 2 == 1;
                records.push_back(w.AddMessage(m));
            }
            w.AddTree(records, {shape, 2, static_cast<uint32_t>(count)});
            save(w.Bytes());
            // The same file with a count that is off by one either way.
            w.SetCount(count + 1);
            save(w.Bytes());
            w.SetCount(count - 1);
            save(w.Bytes());
        }
        dbx::DbxWriter folders(dbx::Kind::Folder, 0xE8);
        std::vector<int32_t> records;
        const char* names[] = {"Local Folders", "Inbox", "Sent Items", "Junk"};
        for (int i = 0; i < 4; ++i) {
            dbx::Folder f;
            f.id = static_cast<uint32_t>(i + 1);
            f.parentId = i == 0 ? 0u : 1u;
            f.name = names[i];
            if (i > 0)
                f.fileName = std::string(names[i]) + ".dbx";
            records.push_back(folders.AddFolder(f));
        }
        folders.AddTree(records, {shape, 2, 5});
        save(folders.Bytes());
    }
    // A looping tree and a looping body chain.
    dbx::DbxWriter loop(dbx::Kind::Message, 0xE8);
    dbx::Message m = SampleMessage(1);
    m.body = BodyText(300, 1);
    m.blockText = 100;
    const int32_t record = loop.AddMessage(m);
    const int32_t node = loop.Size();
    loop.AddNode(node, 1, {{record, node, 1}});
    loop.SetRoot(node);
    loop.SetCount(1);
    loop.PatchWord(0xE8 + 2 * 116 + 0x0C, 0xE8);
    save(loop.Bytes());
    return n;
}

}  // namespace qb::tools
