// The reader over well-formed files of the writer: fields, keys and order,
// tree shapes, bodies, dates, the trace lines and the documented failures.
#include <optional>
#include <string>
#include <vector>

#include "strings/ScannerCString.h"
#include "tests/oe/DbxTestSupport.h"

namespace qb::oe {
namespace {

dbx::Message FullMessage() {
    dbx::Message m;
    m.id = 0x123456;
    m.flag = 0x81;
    m.date = dbx::FileTime(2003, 7, 15, 9, 5, 0);
    m.origSubject = "Orig";
    m.messageId = "<abc@host>";
    m.subject = "Hello there";
    m.parentMessageId = "<parent@host>";
    m.fetchServer = "pop.example.com";
    m.senderName = "Ann Sender";
    m.senderEMail = "ann@example.com;bob@example.com";
    m.recipientName = "Rick";
    m.recipientEMail = "rick@example.com";
    m.accountName = "Main account";
    m.accountNumber = "00000001";
    m.body = "Subject: Hello there\r\n\r\nBody text \xE9\xFF";
    return m;
}

TEST_F(DbxTest, MessageFileFillsEveryFieldOfItsRecords) {
    const std::string path = Store(dbx::MessageFile({FullMessage()}));
    CDbx reader;
    ASSERT_TRUE(reader.openFile(path, true));
    EXPECT_EQ(reader.ErrNo(), "0");
    EXPECT_EQ(reader.FileType(), dbxTypeEmail);
    EXPECT_EQ(reader.FileName(), path);
    EXPECT_EQ(reader.IndexCount(), 1);
    ASSERT_EQ(reader.EMails().Count(), 1);
    EXPECT_EQ(reader.Folders().Count(), 0);
    const auto m = reader.EMails().item("M_1193046");
    EXPECT_EQ(m->Id(), 0x123456);
    EXPECT_EQ(m->Flag(), 0x81);
    EXPECT_EQ(m->MailDate(), "2003-07-15 09:05:00");
    EXPECT_EQ(m->OrigSubject(), "Orig");
    EXPECT_EQ(m->MessageID(), "<abc@host>");
    EXPECT_EQ(m->Subject(), "Hello there");
    EXPECT_EQ(m->ParentMessageID(), "<parent@host>");
    EXPECT_EQ(m->FetchServer(), "pop.example.com");
    EXPECT_EQ(m->SenderName(), "Ann Sender");
    EXPECT_EQ(m->SenderEMail(), "ann@example.com;bob@example.com");
    EXPECT_EQ(m->RecipientName(), "Rick");
    EXPECT_EQ(m->RecipientEMail(), "rick@example.com");
    EXPECT_EQ(m->accountname(), "Main account");
    EXPECT_EQ(m->AccountNumber(), "00000001");
    EXPECT_EQ(m->ItemType(), 0);
    EXPECT_EQ(m->Body(), *FullMessage().body);
    EXPECT_GT(m->DataOffset(), 0);
    EXPECT_EQ(reader.getBody(m->DataOffset()), *FullMessage().body);
}

TEST_F(DbxTest, WithoutBodiesTheBodyStaysEmptyButCanBeReadLater) {
    dbx::Message m = FullMessage();
    m.pointerInValueArea = true;  // the body pointer as a 32-bit value (0x04)
    const std::string path = Store(dbx::MessageFile({m}));
    CDbx reader;
    ASSERT_TRUE(reader.openFile(path, false));
    const auto mail = reader.EMails().item(1);
    EXPECT_EQ(mail->Body(), "");
    EXPECT_EQ(reader.getBody(mail->DataOffset()), *m.body);
    EXPECT_EQ(reader.ErrNo(), "0");
}

TEST_F(DbxTest, TextsNotAskedForReadAsEmptyAndTheRestAsAlways) {
    const std::string path = Store(dbx::MessageFile({FullMessage()}));
    CDbx reader;
    reader.KeepTexts(CDbx::TextBit(MailFields::kSenderEMail) |
                     CDbx::TextBit(MailFields::kAccountNumber));
    ASSERT_TRUE(reader.openFile(path, false));
    const auto view = *reader.EMails().begin();
    EXPECT_EQ(view.SenderEMailView(), "ann@example.com;bob@example.com");
    EXPECT_EQ(view.RecipientEMailView(), "");
    const auto m = reader.EMails().item(1);
    EXPECT_EQ(m->AccountNumber(), "00000001");
    for (const std::string& text : {m->Subject(), m->OrigSubject(), m->MessageID(), m->SenderName(),
                                    m->RecipientEMail(), m->accountname()})
        EXPECT_EQ(text, "");
    EXPECT_EQ(m->Id(), 0x123456);
    EXPECT_EQ(m->Flag(), 0x81);
    EXPECT_EQ(m->MailDate(), "2003-07-15 09:05:00");
    EXPECT_EQ(reader.getBody(m->DataOffset()), *FullMessage().body);
}

TEST_F(DbxTest, FolderFileFillsFolderRecordsKeyedByTheirId) {
    std::vector<dbx::Folder> folders;
    folders.push_back({0, std::nullopt, std::string("Outlook Express"), std::nullopt});
    folders.push_back({4, 1, std::string("Inbox"), std::string("Inbox.dbx")});
    folders.push_back({6, 1, std::string("Sent Items"), std::string("Sent Items.dbx")});
    const std::string path = Store(dbx::FolderFile(folders), "Folders.dbx");
    CDbx reader;
    ASSERT_TRUE(reader.openFile(path, false));
    EXPECT_EQ(reader.FileType(), dbxTypeFolder);
    ASSERT_EQ(reader.Folders().Count(), 3);
    EXPECT_EQ(reader.EMails().Count(), 0);
    // Slot order is the reverse of the walk order.
    EXPECT_EQ(reader.Folders().item(1)->Name(), "Sent Items");
    const auto inbox = reader.Folders().item("F_4");
    EXPECT_EQ(inbox->Name(), "Inbox");
    EXPECT_EQ(inbox->FileName(), "Inbox.dbx");
    EXPECT_EQ(inbox->ParentId(), 1);
    EXPECT_EQ(inbox->ItemType(), 2);
    EXPECT_EQ(inbox->Number(), 0);
    EXPECT_EQ(reader.Folders().item("F_0")->Name(), "Outlook Express");
}

TEST_F(DbxTest, EveryTreeShapeGivesAllRecordsInReverseWalkOrder) {
    struct Case {
        dbx::Shape shape;
        int fanout;
        int records;
    };
    const std::vector<Case> cases = {
        {dbx::Shape::Balanced, 1, 40},    {dbx::Shape::Balanced, 2, 100},
        {dbx::Shape::Balanced, 3, 1},     {dbx::Shape::Balanced, 5, 333},
        {dbx::Shape::Balanced, 255, 255}, {dbx::Shape::Balanced, 255, 1000},
        {dbx::Shape::Chain, 1, 300},      {dbx::Shape::FirstChildChain, 1, 300},
        {dbx::Shape::Random, 7, 500},     {dbx::Shape::Random, 255, 2000},
        {dbx::Shape::Balanced, 3, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(static_cast<int>(c.shape)) + "/" + std::to_string(c.fanout) +
                     "/" + std::to_string(c.records));
        const std::string path =
            Store(dbx::MessageFile(Numbered(c.records), {c.shape, c.fanout, 17}));
        CDbx reader;
        ASSERT_TRUE(reader.openFile(path, false));
        EXPECT_EQ(reader.IndexCount(), c.records);
        EXPECT_EQ(Ids(reader.EMails()), Descending(c.records));
        if (c.records > 0) {
            EXPECT_EQ(reader.EMails().item("M_" + std::to_string(c.records))->SenderEMail(),
                      "sender" + std::to_string(c.records) + "@example.com");
        }
    }
}

TEST_F(DbxTest, DeepTreesAreWalkedWithoutExhaustingTheStack) {
    for (dbx::Shape shape : {dbx::Shape::Chain, dbx::Shape::FirstChildChain}) {
        const std::string path = Store(dbx::MessageFile(Numbered(50000), {shape, 1, 1}));
        CDbx reader;
        ASSERT_TRUE(reader.openFile(path, false));
        EXPECT_EQ(reader.EMails().Count(), 50000);
        EXPECT_EQ(reader.EMails().item(1)->Id(), 50000);
        EXPECT_EQ(reader.EMails().item(50000)->Id(), 1);
    }
}

TEST_F(DbxTest, AtTraceLevelEightTheReaderLogsEachStep) {
    const std::string path = Store(dbx::MessageFile(Numbered(2)));
    report.SetLevel(8);
    CDbx reader;
    ASSERT_TRUE(reader.openFile(path, false));
    // The file loader's lines come first, then the reader's.
    EXPECT_EQ(report.console,
              (std::vector<std::string>{
                  "filesize = " + std::to_string(folder.Read("Inbox.dbx").size()),
                  "Get file_handle", "CString::append", "End of loadBinary.  No Exceptions",
                  "Len(signature) = 16", "sig(0) = 207", "Done with CopyMemory", "dbxTypeEmail",
                  "getIndexes", "No Exceptions"}));
    report.console.clear();
    const std::string folders = Store(dbx::FolderFile({{1, 0, std::string("A"), std::nullopt}}));
    CDbx folderReader;
    ASSERT_TRUE(folderReader.openFile(folders, false));
    EXPECT_EQ(ReaderLines(), (std::vector<std::string>{"Len(signature) = 16", "sig(0) = 207",
                                                       "Done with CopyMemory", "dbxTypeFolder",
                                                       "getIndexes", "No Exceptions"}));
    report.console.clear();
    report.SetLevel(7);
    CDbx quiet;
    ASSERT_TRUE(quiet.openFile(path, false));
    EXPECT_TRUE(report.console.empty());
}

TEST_F(DbxTest, ShortOrEmptyFilesFail) {
    CDbx reader;
    ASSERT_TRUE(reader.openFile(Store(dbx::MessageFile(Numbered(1)), "good.dbx"), false));
    const std::string good = reader.FileName();
    for (const std::string& bytes :
         {std::string(), std::string("\xCF\xAD\x12\xFE", 4), dbx::MessageFile({}).substr(0, 15)}) {
        report.console.clear();
        EXPECT_FALSE(reader.openFile(Store(bytes, "short.dbx"), false));
        EXPECT_EQ(reader.ErrNo(), "1");
        EXPECT_EQ(reader.FileName(), good);
        ASSERT_FALSE(ReaderLines().empty());
        EXPECT_EQ(ReaderLines().back(), "openFile() Error -2147220990 : Read outside the file");
    }
    EXPECT_FALSE(reader.openFile(folder.WinPath() + "\\missing.dbx", false));
    EXPECT_EQ(reader.EMails().Count(), 1);
}

TEST_F(DbxTest, FileTheLoaderRefusesDoesNotOpen) {
    const std::string path = Store(dbx::MessageFile(Numbered(3)));
    scanner::SetScanLimit(1000);
    CDbx reader;
    const bool opened = reader.openFile(path, false);
    scanner::SetScanLimit(0);
    EXPECT_FALSE(opened);
    EXPECT_EQ(reader.ErrNo(), "1");
    EXPECT_EQ(reader.EMails().Count(), 0);
    EXPECT_EQ(report.status, (std::vector<std::string>{path + " larger than scan limit."}));
    EXPECT_EQ(ReaderLines().back(), "openFile() Error -2147220990 : Read outside the file");
    // The same object opens the file once the limit allows it.
    EXPECT_TRUE(reader.openFile(path, false));
    EXPECT_EQ(reader.EMails().Count(), 3);
}

TEST_F(DbxTest, SignatureDecidesTheFileType) {
    std::string file = dbx::FolderFile({});
    file[9] = 0x00;  // third word differs: a void folder file
    report.SetLevel(8);
    CDbx reader;
    EXPECT_FALSE(reader.openFile(Store(file), false));
    EXPECT_EQ(reader.FileType(), dbxTypeVoid);
    EXPECT_EQ(reader.ErrNo(), "1");
    EXPECT_EQ(reader.FileName(), "");
    std::vector<std::string> lines = ReaderLines();
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(lines[lines.size() - 2], "dbxTypeVoid");
    EXPECT_EQ(lines.back(), "openFile() Error -2147220991 : ");

    // Anything else leaves the type as it was.
    std::string other = dbx::MessageFile({});
    other[4] = 0x30;
    report.console.clear();
    CDbx second;
    EXPECT_FALSE(second.openFile(Store(other), false));
    EXPECT_EQ(second.FileType(), dbxTypeEmail);
    lines = ReaderLines();
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(lines[lines.size() - 2], "dbxErrBadFile");
    EXPECT_EQ(lines.back(), "openFile() Error -2147220991 : ");
}

TEST_F(DbxTest, FileEndingBeforeTheRootPointerOpensEmpty) {
    dbx::DbxWriter w(dbx::Kind::Message, 0xE8);
    w.SetCount(3);
    w.Truncate(0xE6);
    CDbx reader;
    EXPECT_TRUE(reader.openFile(Store(w.Bytes()), false));
    EXPECT_EQ(reader.ErrNo(), "0");
    EXPECT_EQ(reader.EMails().Count(), 0);
    const std::vector<std::string> lines = ReaderLines();
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.back(), "getIndexes() Error -2147220990 : Read outside the file");
}

TEST_F(DbxTest, MoreEntriesThanTheCountKeepTheFirstInWalkOrder) {
    dbx::DbxWriter w(dbx::Kind::Message);
    std::vector<int32_t> records;
    for (const auto& m : Numbered(10))
        records.push_back(w.AddMessage(m));
    w.AddTree(records, {dbx::Shape::Balanced, 3, 1});
    w.SetCount(6);
    CDbx reader;
    EXPECT_TRUE(reader.openFile(Store(w.Bytes()), false));
    EXPECT_EQ(reader.IndexCount(), 6);
    EXPECT_EQ(Ids(reader.EMails()), Descending(6));
}

TEST_F(DbxTest, FewerEntriesThanTheCountFailOnTheEmptyLowestSlot) {
    dbx::DbxWriter w(dbx::Kind::Message);
    std::vector<int32_t> records;
    for (const auto& m : Numbered(4))
        records.push_back(w.AddMessage(m));
    w.AddTree(records);
    w.SetCount(5);
    CDbx reader;
    EXPECT_FALSE(reader.openFile(Store(w.Bytes()), false));
    EXPECT_EQ(reader.ErrNo(), "1");
    EXPECT_EQ(reader.EMails().Count(), 0);
    // Slot 0 is offset 0: the file header read as a record, whose length runs
    // past the end of the file.
    EXPECT_EQ(ReaderLines().back(), "openFile() Error -2147220985 : ");
}

TEST_F(DbxTest, DuplicateIdsFailAndKeepTheRecordsAddedBefore) {
    std::vector<dbx::Message> messages = Numbered(3);
    messages[0].id = 2;  // walked first, so read last
    CDbx reader;
    EXPECT_FALSE(reader.openFile(Store(dbx::MessageFile(messages)), false));
    EXPECT_EQ(reader.ErrNo(), "1");
    EXPECT_EQ(Ids(reader.EMails()), (std::vector<int32_t>{3, 2}));
    EXPECT_EQ(ReaderLines().back(),
              "openFile() Error 457 : This key is already associated with an element of this "
              "collection");

    // Two messages without an Id both want "M_0".
    CDbx second;
    EXPECT_FALSE(second.openFile(Store(dbx::MessageFile({dbx::Message{}, dbx::Message{}})), false));
    EXPECT_EQ(second.EMails().Count(), 1);
}

TEST_F(DbxTest, ASecondFileAddsToTheCollections) {
    CDbx reader;
    ASSERT_TRUE(reader.openFile(Store(dbx::MessageFile(Numbered(3)), "a.dbx"), false));
    ASSERT_TRUE(reader.openFile(Store(dbx::MessageFile(Numbered(2, 10)), "b.dbx"), false));
    EXPECT_EQ(Ids(reader.EMails()), (std::vector<int32_t>{3, 2, 1, 11, 10}));
    EXPECT_EQ(reader.IndexCount(), 2);
    EXPECT_EQ(reader.FileName(), folder.WinPath() + "\\b.dbx");
}

TEST_F(DbxTest, MessagesWithoutBodyPointerKeepMinusOne) {
    dbx::Message m;
    m.id = 7;
    CDbx reader;
    ASSERT_TRUE(reader.openFile(Store(dbx::MessageFile({m})), true));
    EXPECT_EQ(reader.EMails().item(1)->DataOffset(), -1);
    EXPECT_EQ(reader.EMails().item(1)->Body(), "");
    EXPECT_EQ(reader.ErrNo(), "0");
    EXPECT_EQ(reader.getBody(-1), "");
    EXPECT_EQ(reader.ErrNo(), "7");
    EXPECT_EQ(reader.getBody(0), "");
    EXPECT_EQ(reader.ErrNo(), "0");
}

TEST_F(DbxTest, BodyChainsAreJoinedBlockByBlock) {
    dbx::Message m;
    m.id = 1;
    std::string text;
    for (int i = 0; i < 1064; ++i)
        text += static_cast<char>(i % 251 + 1);
    m.body = text;
    m.blockText = 512;  // blocks of 512, 512 and 40 bytes
    CDbx reader;
    ASSERT_TRUE(reader.openFile(Store(dbx::MessageFile({m})), true));
    EXPECT_EQ(reader.EMails().item(1)->Body().size(), 1064u);
    EXPECT_EQ(reader.EMails().item(1)->Body(), text);
    // Every byte value comes back unchanged.
    std::string all;
    for (int i = 0; i < 256; ++i)
        all += static_cast<char>(i);
    dbx::DbxWriter w(dbx::Kind::Message);
    const int32_t body = w.AddBody(all, 100);
    EXPECT_EQ(reader.openFile(Store(w.Bytes(), "raw.dbx"), false), true);
    EXPECT_EQ(reader.getBody(body), all);
}

TEST_F(DbxTest, DatesAreWrittenAsUtcCalendarText) {
    struct Case {
        uint64_t ticks;
        const char* text;
    };
    const std::vector<Case> cases = {
        {0, "1601-01-01 00:00:00"},
        {dbx::FileTime(2000, 2, 29, 23, 59, 59), "2000-02-29 23:59:59"},
        {dbx::FileTime(1999, 12, 31, 0, 0, 1) + 9999999, "1999-12-31 00:00:01"},
        {0x7FFFFFFFFFFFFFFFull, "30828-09-14 02:48:05"},
        {0x8000000000000000ull, "0000-00-00 00:00:00"},
    };
    for (const Case& c : cases) {
        dbx::Message m;
        m.id = 1;
        m.date = c.ticks;
        CDbx reader;
        ASSERT_TRUE(reader.openFile(Store(dbx::MessageFile({m})), false));
        EXPECT_EQ(reader.EMails().item(1)->MailDate(), c.text);
    }
}

TEST_F(DbxTest, ViewsGiveTheStoredDateUntilTheMessageHasAnObject) {
    dbx::Message a;
    a.id = 1;
    a.date = dbx::FileTime(2003, 7, 15, 9, 5, 0);
    dbx::Message b = a;
    b.id = 2;
    b.date = 0x8000000000000000ull;
    CDbx reader;
    ASSERT_TRUE(reader.openFile(Store(dbx::MessageFile({a, b})), false));
    auto dateOf = [&](int32_t id) {
        for (const auto& m : reader.EMails()) {
            if (m->Id() == id)
                return m->StoredMailDate();
        }
        ADD_FAILURE() << "no message " << id;
        return std::optional<uint64_t>();
    };
    EXPECT_EQ(dateOf(1), a.date);
    EXPECT_EQ(dateOf(2), b.date) << "every stored date, whatever its text";
    // Once the message has its object, whose date is text that may be
    // changed, the view gives the text alone.
    std::shared_ptr<CEmail> taken;
    for (const auto& m : reader.EMails()) {
        if (m->Id() == 1)
            taken = m->Record();
    }
    ASSERT_NE(taken, nullptr);
    taken->SetMailDate("2001-01-01 00:00:00");
    EXPECT_EQ(dateOf(1), std::nullopt);
    for (const auto& m : reader.EMails()) {
        if (m->Id() == 1) {
            EXPECT_EQ(m->MailDate(), "2001-01-01 00:00:00");
        }
    }
}

TEST_F(DbxTest, AddressViewsShowTheStoredTextsThenTheObjectsTexts) {
    dbx::Message a;
    a.id = 1;
    a.senderEMail = "Sender@Example.com";
    a.recipientEMail = "one@example.com;two@example.com";
    dbx::Message b;
    b.id = 2;  // no addresses at all
    CDbx reader;
    ASSERT_TRUE(reader.openFile(Store(dbx::MessageFile({a, b})), false));
    for (const auto& m : reader.EMails()) {
        EXPECT_EQ(m->SenderEMailView(), m->SenderEMail());
        EXPECT_EQ(m->RecipientEMailView(), m->RecipientEMail());
        if (m->Id() == 1) {
            EXPECT_EQ(m->SenderEMailView(), "Sender@Example.com");
            EXPECT_EQ(m->RecipientEMailView(), "one@example.com;two@example.com");
            m->Record()->SetSenderEMail("changed@example.com");
        } else {
            EXPECT_EQ(m->SenderEMailView(), "");
            EXPECT_EQ(m->RecipientEMailView(), "");
        }
    }
    for (const auto& m : reader.EMails()) {
        if (m->Id() == 1) {
            EXPECT_EQ(m->SenderEMailView(), "changed@example.com") << "the object's text";
            EXPECT_EQ(m->RecipientEMailView(), "one@example.com;two@example.com");
        }
    }
}

TEST_F(DbxTest, LaterFieldsWinAndUnknownFieldsAreSkipped) {
    dbx::Record r;
    r.fields = {dbx::Field::Direct(0x80, 5),         dbx::Field::Byte(0x01, 0xFE),
                dbx::Field::Direct(0x81, 0x1234),    dbx::Field::Direct(0x84, 77),
                dbx::Field::Word(0x04, 0xFFFFFFF0),  dbx::Field::String(0x02, "skipped"),
                dbx::Field::Direct(0x90, 1),         dbx::Field::String(0x77, "unknown"),
                dbx::Field::String(0x08, "Subject"), dbx::Field::Byte(0x01, 0x07)};
    dbx::DbxWriter w(dbx::Kind::Message);
    w.AddTree({w.AddRecord(r)});
    CDbx reader;
    ASSERT_TRUE(reader.openFile(Store(w.Bytes()), false));
    const auto m = reader.EMails().item("M_5");
    EXPECT_EQ(m->Flag(), 7);
    EXPECT_EQ(m->DataOffset(), -16);
    EXPECT_EQ(m->Subject(), "Subject");
}

TEST_F(DbxTest, StringsEndAtTheirNulOrAtTheEndOfTheDataArea) {
    dbx::Record r;
    r.fields = {dbx::Field::Direct(0x80, 1),
                dbx::Field::Raw(0x08, 0x100000),                 // far past the area: empty
                dbx::Field::Bytes(0x05, std::string("\0x", 2)),  // NUL at the start: empty
                dbx::Field::Bytes(0x0E, "a@b.c\0rest")};
    r.fields.back().bytes = std::string("a@b.c\0rest", 10);
    r.trailing = "tail";                           // the last string runs to the end of the area
    r.fields.push_back(dbx::Field::Raw(0x0D, 0));  // placed after the values below
    dbx::DbxWriter w(dbx::Kind::Message);
    // The sender name points at "tail", which has no NUL before the area ends.
    r.fields.back().v = 2 + 10;
    w.AddTree({w.AddRecord(r)});
    CDbx reader;
    ASSERT_TRUE(reader.openFile(Store(w.Bytes()), false));
    const auto m = reader.EMails().item(1);
    EXPECT_EQ(m->Subject(), "");
    EXPECT_EQ(m->OrigSubject(), "");
    EXPECT_EQ(m->SenderEMail(), "a@b.c");
    EXPECT_EQ(m->SenderName(), "tail");
}

// The writer's bytes, checked against the layout by hand, so that the reader
// and the writer cannot agree on a misreading of it.
TEST(DbxWriter, WritesTheOutlookExpressLayout) {
    dbx::DbxWriter w(dbx::Kind::Folder, 0xE8);
    EXPECT_EQ(w.Bytes().substr(0, 16),
              std::string("\xCF\xAD\x12\xFE\xC6\xFD\x74\x6F\x66\xE3\xD1\x11\x9A\x4E\x00\xC0", 16));
    dbx::Record r;
    r.fields = {dbx::Field::Direct(0x80, 0x030201), dbx::Field::String(0x02, "Ab")};
    const int32_t record = w.AddRecord(r);
    EXPECT_EQ(record, 0xE8);
    EXPECT_EQ(w.Bytes().substr(0xE8),
              std::string("\xE8\x00\x00\x00"  // own offset
                          "\x0B\x00\x00\x00"  // L: two entries and "Ab\0"
                          "\x00\x00\x02\x00"  // N = 2
                          "\x80\x01\x02\x03"  // id 0x80, V = 0x030201
                          "\x02\x00\x00\x00"  // id 0x02 at value offset 0
                          "Ab\0",
                          23));
    const int32_t node = w.AddNode(0x1234, 7, {{record, 0x5678, 3}});
    EXPECT_EQ(w.Bytes().substr(static_cast<size_t>(node)),
              std::string("\xFF\x00\x00\x00"
                          "\x00\x00\x00\x00"
                          "\x34\x12\x00\x00"  // first child
                          "\x00\x00\x00\x00"
                          "\x00\x01\x00\x00"  // one entry at 0x11
                          "\x07\x00\x00\x00"  // records under the first child
                          "\xE8\x00\x00\x00\x78\x56\x00\x00\x03\x00\x00\x00",
                          36));
    const int32_t body = w.AddBody("xyz", 2);
    EXPECT_EQ(w.Bytes().substr(static_cast<size_t>(body)),
              std::string("\x23\x01\x00\x00\x02\x00\x00\x00\x02\x00\x00\x00\x35\x01\x00\x00xy"
                          "\x35\x01\x00\x00\x02\x00\x00\x00\x01\x00\x00\x00\x00\x00\x00\x00z",
                          35));
    w.AddTree({record});
    EXPECT_EQ(w.Bytes().substr(0xC4, 4), std::string("\x01\x00\x00\x00", 4));
}

}  // namespace
}  // namespace qb::oe
