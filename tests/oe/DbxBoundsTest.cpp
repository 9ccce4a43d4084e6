// Malformed files: looping trees and chains, impossible counts and lengths,
// values past their data area. Each must end with a defined result.
#include <string>
#include <vector>

#include "tests/oe/DbxTestSupport.h"

namespace qb::oe {
namespace {

// A message file whose records are written but whose tree the test builds.
struct Messages {
    dbx::DbxWriter w{dbx::Kind::Message};
    std::vector<int32_t> records;
    explicit Messages(int n) {
        for (int i = 1; i <= n; ++i) {
            dbx::Message m;
            m.id = static_cast<uint32_t>(i);
            records.push_back(w.AddMessage(m));
        }
    }
};

TEST_F(DbxTest, ChildPointingBackToAnAncestorIsNotWalkedAgain) {
    Messages f(3);
    // Root holds records 1 and 2; its second entry's child is the root itself,
    // its first child a node holding record 3 whose own first child is the root.
    const int32_t rootAt = f.w.Size() + 24 + 12;  // the node after the child
    const int32_t child = f.w.AddNode(rootAt, 2, {{f.records[2], 0, 0}});
    const int32_t root = f.w.AddNode(child, 1, {{f.records[0], 0, 0}, {f.records[1], rootAt, 3}});
    ASSERT_EQ(root, rootAt);
    f.w.SetRoot(root);
    f.w.SetCount(3);
    CDbx reader;
    ASSERT_TRUE(reader.openFile(Store(f.w.Bytes()), false));
    EXPECT_EQ(Ids(reader.EMails()), (std::vector<int32_t>{2, 1, 3}));
}

TEST_F(DbxTest, NodeThatIsItsOwnFirstChildEnds) {
    Messages f(2);
    const int32_t at = f.w.Size();
    f.w.AddNode(at, 5, {{f.records[0], at, 9}, {f.records[1], 0, 0}});
    f.w.SetRoot(at);
    f.w.SetCount(2);
    CDbx reader;
    ASSERT_TRUE(reader.openFile(Store(f.w.Bytes()), false));
    EXPECT_EQ(Ids(reader.EMails()), (std::vector<int32_t>{2, 1}));
}

TEST_F(DbxTest, SharedSubtreesEndWithinTheFileSize) {
    // Every entry of a node points at the same child, which does the same one
    // level down: walked faithfully this is 255^depth visits. The walk stops
    // once it has read as many node bytes as the file holds.
    Messages f(1);
    int32_t child = f.w.AddNode(0, 0, {{f.records[0], 0, 0}});
    for (int level = 0; level < 6; ++level) {
        std::vector<dbx::DbxWriter::Entry> entries(255, {f.records[0], child, 1});
        child = f.w.AddNode(child, 1, entries);
    }
    f.w.SetRoot(child);
    // With as many slots as the file could hold, the walk runs out of bytes
    // before it fills them: slot 0 stays empty.
    f.w.SetCount(f.w.Size() / 12);
    CDbx reader;
    EXPECT_FALSE(reader.openFile(Store(f.w.Bytes()), false));
    EXPECT_EQ(reader.EMails().Count(), 0);
    // With fewer slots they fill with the one record, a duplicate after the first.
    f.w.SetCount(1000);
    CDbx second;
    EXPECT_FALSE(second.openFile(Store(f.w.Bytes()), false));
    EXPECT_EQ(second.EMails().Count(), 1);
}

TEST_F(DbxTest, NegativeCountGivesAnEmptyLoop) {
    Messages f(2);
    f.w.AddTree(f.records);
    f.w.SetCount(-5);
    report.SetLevel(0);
    CDbx reader;
    EXPECT_TRUE(reader.openFile(Store(f.w.Bytes()), false));
    EXPECT_EQ(reader.IndexCount(), -5);
    EXPECT_EQ(reader.EMails().Count(), 0);
    EXPECT_EQ(ReaderLines(),
              (std::vector<std::string>{"getIndexes() Error 9 : Subscript out of range"}));
}

TEST_F(DbxTest, CountTheFileCannotHoldGetsNoSlots) {
    for (int32_t count : {0x7FFFFFFF, 1 << 28}) {
        Messages f(2);
        f.w.AddTree(f.records);
        f.w.SetCount(count);
        report.console.clear();
        CDbx reader;
        EXPECT_FALSE(reader.openFile(Store(f.w.Bytes()), false));
        EXPECT_EQ(reader.IndexCount(), count);
        EXPECT_EQ(reader.EMails().Count(), 0);
        EXPECT_EQ(ReaderLines(),
                  (std::vector<std::string>{"getIndexes() Error 7 : Out of memory",
                                            "openFile() Error 9 : Subscript out of range"}));
    }
}

TEST_F(DbxTest, LoopingBodyChainFailsInsteadOfGrowing) {
    dbx::DbxWriter w(dbx::Kind::Message);
    const int32_t body = w.AddBody(std::string(300, 'x'), 100);       // three blocks
    w.PatchWord(body + 2 * 116 + 0x0C, static_cast<uint32_t>(body));  // last points to first
    dbx::Message m;
    m.id = 1;
    dbx::Record r = dbx::MessageRecord(m, body);
    w.AddTree({w.AddRecord(r)});
    CDbx reader;
    ASSERT_TRUE(reader.openFile(Store(w.Bytes()), true));
    EXPECT_EQ(reader.EMails().item(1)->Body(), "");
    EXPECT_EQ(reader.getBody(body), "");
    EXPECT_EQ(reader.ErrNo(), "7");
    // A block whose length is negative fails the same way.
    w.PatchWord(body + 2 * 116 + 0x0C, 0);
    w.Patch(body + 116 + 8, std::string("\x00\x80", 2));
    CDbx second;
    ASSERT_TRUE(second.openFile(Store(w.Bytes(), "neg.dbx"), false));
    EXPECT_EQ(second.getBody(body), "");
    EXPECT_EQ(second.ErrNo(), "7");
}

TEST_F(DbxTest, ManySlotsNamingOneBigRecordStopAtTheFileSize) {
    // Records that overlap: each starts 16 bytes after the previous one and
    // runs to the end of the file, with an Id of its own. Read faithfully,
    // their data areas add up to many times the file.
    dbx::DbxWriter w(dbx::Kind::Message, 0xE8);
    const int n = 200;
    const int32_t first = w.Size();
    const int32_t end = first + 16 * n + 4096;
    std::vector<int32_t> records;
    for (int i = 0; i < n; ++i) {
        const int32_t at = w.Size();
        std::string rec(16, '\0');
        const int32_t length = end - at - 12;
        for (int b = 0; b < 4; ++b)
            rec[4 + b] = static_cast<char>(length >> (8 * b) & 0xFF);
        rec[0x0A] = 1;
        rec[12] = static_cast<char>(0x80);
        rec[13] = static_cast<char>(i + 1);
        w.Append(rec);
        records.push_back(at);
    }
    w.Append(std::string(static_cast<size_t>(end - w.Size()), 'x'));
    w.AddTree(records, {dbx::Shape::Balanced, 255, 1});
    CDbx reader;
    EXPECT_FALSE(reader.openFile(Store(w.Bytes()), false));
    EXPECT_LT(reader.EMails().Count(), n);
    EXPECT_EQ(ReaderLines().back(),
              "openFile() Error -2147220986 : Records hold more bytes than the file");
}

TEST_F(DbxTest, FixedSizeValuesMustLieInsideTheDataArea) {
    struct Case {
        uint8_t id;
        int fromEnd;  // value position counted back from the end of the data area
        bool reads;
    };
    const std::vector<Case> cases = {
        {0x01, 1, true},  {0x01, 0, false}, {0x04, 4, true},  {0x04, 3, false},
        {0x04, 1, false}, {0x12, 8, true},  {0x12, 4, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.id) + "/" + std::to_string(c.fromEnd));
        dbx::Record r;
        r.fields = {dbx::Field::Direct(0x80, 1), dbx::Field::Raw(c.id, 0)};
        r.trailing = std::string(16, '\x01');
        r.fields[1].v = static_cast<uint32_t>(16 - c.fromEnd);
        dbx::DbxWriter w(dbx::Kind::Message);
        w.AddTree({w.AddRecord(r)});
        report.console.clear();
        CDbx reader;
        EXPECT_EQ(reader.openFile(Store(w.Bytes()), false), c.reads);
        EXPECT_EQ(reader.EMails().Count(), c.reads ? 1 : 0);
        if (!c.reads) {
            EXPECT_EQ(ReaderLines().back(),
                      "openFile() Error -2147220988 : Value outside the record's data area");
        }
    }
}

TEST_F(DbxTest, BrokenRecordsFailOpenFile) {
    struct Case {
        const char* name;
        std::optional<int32_t> length;
        std::optional<uint8_t> count;
        const char* line;
    };
    const std::vector<Case> cases = {
        {"negative length", -1, std::nullopt, "openFile() Error -2147220985 : "},
        {"length past the end", 0x10000000, std::nullopt, "openFile() Error -2147220985 : "},
        {"more fields than fit", std::nullopt, 9,
         "openFile() Error -2147220988 : Field entry outside the record's data area"},
        {"zero length with fields", 0, std::nullopt,
         "openFile() Error -2147220988 : Field entry outside the record's data area"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        dbx::Record r;
        r.fields = {dbx::Field::Direct(0x80, 1)};
        r.length = c.length;
        r.count = c.count;
        dbx::DbxWriter w(dbx::Kind::Message);
        w.AddTree({w.AddRecord(r)});
        report.console.clear();
        CDbx reader;
        EXPECT_FALSE(reader.openFile(Store(w.Bytes()), false));
        EXPECT_EQ(reader.ErrNo(), "1");
        EXPECT_EQ(ReaderLines().back(), c.line);
    }
    // A record with an empty data area and no fields is a message with Id 0.
    dbx::Record empty;
    dbx::DbxWriter w(dbx::Kind::Message);
    w.AddTree({w.AddRecord(empty)});
    CDbx reader;
    EXPECT_TRUE(reader.openFile(Store(w.Bytes()), false));
    EXPECT_EQ(reader.EMails().item("M_0")->DataOffset(), -1);
}

TEST_F(DbxTest, OffsetsNearTheTopOfTheRangeOverflowCleanly) {
    dbx::DbxWriter w(dbx::Kind::Message);
    w.AddTree({0x7FFFFFF8});
    CDbx reader;
    EXPECT_FALSE(reader.openFile(Store(w.Bytes()), false));
    EXPECT_EQ(ReaderLines().back(), "openFile() Error 6 : Overflow");
    // Index nodes at such offsets end the walk without a record.
    dbx::DbxWriter tree(dbx::Kind::Message);
    tree.SetRoot(0x7FFFFFF0);
    tree.SetCount(1);
    EXPECT_FALSE(reader.openFile(Store(tree.Bytes(), "t.dbx"), false));
    EXPECT_EQ(reader.getBody(0x7FFFFFF5), "");
    EXPECT_EQ(reader.ErrNo(), "7");
}

TEST_F(DbxTest, EmptyFileWithoutTreeOpensQuietly) {
    // Root 0 is the file header itself: there is no tree, and nothing is
    // reported. (The header's own words would lead a walk outside the file.)
    dbx::DbxWriter w(dbx::Kind::Message);
    w.PatchWord(0x08, 0x11D1E366);
    w.PatchWord(0x14, 5);
    CDbx reader;
    EXPECT_TRUE(reader.openFile(Store(w.Bytes()), false));
    EXPECT_EQ(reader.EMails().Count(), 0);
    EXPECT_TRUE(report.console.empty());
}

TEST_F(DbxTest, ReaderWithoutAFileHasNoBody) {
    CDbx reader;
    EXPECT_EQ(reader.getBody(100), "");
    EXPECT_EQ(reader.ErrNo(), "7");
    EXPECT_EQ(reader.FileType(), dbxTypeEmail);
    EXPECT_EQ(reader.IndexCount(), 0);
}

}  // namespace
}  // namespace qb::oe
