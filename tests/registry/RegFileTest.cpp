// Reading and writing the .reg format: every value form, both encodings, and
// the faults that make a file unreadable.
#include <gtest/gtest.h>

#include <string>

#include "tests/registry/Utf16.h"

#include "platform/portable/RegFile.h"

namespace qb::platform {
namespace {

using qb::test::Utf16;

const RegNode* Find(const RegTree& tree, uint32_t root, std::initializer_list<const char*> path) {
    const RegNode* node = const_cast<RegTree&>(tree).Hive(root);
    for (const char* p : path)
        node = node ? node->Child(p) : nullptr;
    return node;
}

const RegValueEntry* Value(const RegNode* node, const std::string& name) {
    const long at = node ? node->FindValue(name) : -1;
    return at < 0 ? nullptr : &node->Values()[static_cast<size_t>(at)];
}

RegFileError ParseError(const std::string& bytes) {
    RegTree tree;
    RegFileError error;
    EXPECT_FALSE(ParseRegFile(bytes, tree, error)) << bytes;
    return error;
}

TEST(RegFile, ReadsEveryValueForm) {
    const std::string file =
        "REGEDIT4\r\n"
        "\r\n"
        "; a comment\r\n"
        "[HKEY_CURRENT_USER\\Identities]\r\n"
        "\"Last User ID\"=\"{ABC}\"\r\n"
        "@=\"default\"\r\n"
        "\"Quote\"=\"say \\\"hi\\\" C:\\\\x\"\r\n"
        "\"Count\"=dword:0000002a\r\n"
        "\"Bin\"=hex:01,02,ff\r\n"
        "\"Expand\"=hex(2):25,41,25,00\r\n"
        "\"Multi\"=hex(7):61,00,62,00,00\r\n"
        "\"Odd\"=hex(b):01,02,03,04,\\\r\n"
        "  05,06,07,08\r\n"
        "\"Empty\"=hex:\r\n"
        "  \"Spaced\" = \"x\"  \r\n"
        "[hkey_local_machine\\Software\\Ferrowin Tessaly Desktop Client]\n"
        "\"scan_limit\"=\"10\"\n";
    RegTree tree;
    RegFileError error;
    ASSERT_TRUE(ParseRegFile(file, tree, error)) << error.line << ": " << error.message;
    EXPECT_FALSE(tree.wide);
    const RegNode* ids = Find(tree, reg::kCurrentUser, {"identities"});
    ASSERT_NE(ids, nullptr);
    EXPECT_EQ(Value(ids, "last user id")->data, std::string("{ABC}\0", 6));
    EXPECT_EQ(Value(ids, "")->data, std::string("default\0", 8));
    EXPECT_EQ(Value(ids, "Quote")->data, std::string("say \"hi\" C:\\x\0", 14));
    EXPECT_EQ(Value(ids, "Count")->type, reg::kDword);
    EXPECT_EQ(Value(ids, "Count")->data, std::string("\x2a\0\0\0", 4));
    EXPECT_EQ(Value(ids, "Bin")->type, reg::kBinary);
    EXPECT_EQ(Value(ids, "Bin")->data, "\x01\x02\xff");
    EXPECT_EQ(Value(ids, "Expand")->type, reg::kExpandSz);
    EXPECT_EQ(Value(ids, "Multi")->type, reg::kMultiSz);
    EXPECT_EQ(Value(ids, "Multi")->data, std::string("a\0b\0\0", 5));
    EXPECT_EQ(Value(ids, "Odd")->type, 0xBu);
    EXPECT_EQ(Value(ids, "Odd")->data, "\x01\x02\x03\x04\x05\x06\x07\x08");
    EXPECT_EQ(Value(ids, "Empty")->data, "");
    EXPECT_NE(Value(ids, "Spaced"), nullptr);
    EXPECT_NE(Find(tree, reg::kLocalMachine, {"SOFTWARE", "Ferrowin Tessaly Desktop Client"}),
              nullptr);
    // Values keep the order of the file.
    EXPECT_EQ(ids->Values()[0].name.ansi, "Last User ID");
    EXPECT_EQ(ids->Values()[1].name.ansi, "");
}

TEST(RegFile, DeletionsApplyInFileOrder) {
    RegTree tree;
    RegFileError error;
    ASSERT_TRUE(
        ParseRegFile("REGEDIT4\r\n[HKEY_CURRENT_USER\\A\\B\\C]\r\n\"v\"=\"1\"\r\n"
                     "\"w\"=\"2\"\r\n\"v\"=-\r\n[-HKEY_CURRENT_USER\\A\\B\\C]\r\n"
                     "[HKEY_CURRENT_USER\\X]\r\n\"w\"=\"2\"\r\n[-HKEY_CURRENT_USER\\X]\r\n"
                     "[HKEY_CURRENT_USER\\X]\r\n[-HKEY_CURRENT_USER\\Nothing\\Here]\r\n",
                     tree, error))
        << error.message;
    // B loses C but stays a key of its own; X came back empty.
    const RegNode* b = Find(tree, reg::kCurrentUser, {"A", "B"});
    ASSERT_NE(b, nullptr);
    EXPECT_TRUE(b->children.empty());
    EXPECT_TRUE(b->listed);
    const RegNode* x = Find(tree, reg::kCurrentUser, {"X"});
    ASSERT_NE(x, nullptr);
    EXPECT_TRUE(x->Values().empty());
    EXPECT_EQ(Find(tree, reg::kCurrentUser, {"Nothing"}), nullptr);
    // The deletions survive a write and a new read.
    RegTree again;
    ASSERT_TRUE(ParseRegFile(WriteRegFile(tree), again, error));
    EXPECT_TRUE(SameTree(tree, again));
}

TEST(RegFile, WritesTheFormatItReadAndKeepsEveryByte) {
    const std::string file =
        "REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\K]\r\n\"s\"=\"a\\\\b\\\"c\"\r\n"
        "\"nonul\"=hex(1):61,62\r\n\"twonul\"=hex(1):61,00,62,00\r\n"
        "\"short\"=hex(4):01,02\r\n\"big\"=hex:" +
        std::string("00,") + std::string(300, 'x') + "\r\n";
    RegTree tree;
    RegFileError error;
    // 300 'x' is not hex: the line is refused, with its number.
    EXPECT_FALSE(ParseRegFile(file, tree, error));
    EXPECT_EQ(error.line, 8u);

    std::string bytes;
    for (int i = 0; i < 256; ++i)
        bytes += static_cast<char>(i);
    std::string all =
        "REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\K]\r\n\"s\"=\"a\\\\b\\\"c\"\r\n"
        "\"nonul\"=hex(1):61,62\r\n\"twonul\"=hex(1):61,00,62,00\r\n"
        "\"short\"=hex(4):01,02\r\n";
    ASSERT_TRUE(ParseRegFile(all, tree, error)) << error.message;
    RegNode* k = tree.Hive(reg::kCurrentUser)->Child("K");
    k->PutValue({{"all", {}}, reg::kBinary, bytes});
    k->PutValue({{"hi", {}}, reg::kSz, std::string("\xe9\x80\0", 3)});
    const std::string written = WriteRegFile(tree);
    EXPECT_EQ(written.substr(0, 10), "REGEDIT4\r\n");
    EXPECT_NE(written.find("\"s\"=\"a\\\\b\\\"c\"\r\n"), std::string::npos);
    // Text that is not one NUL-terminated line stays a hex list.
    EXPECT_NE(written.find("\"nonul\"=hex(1):61,62\r\n"), std::string::npos);
    EXPECT_NE(written.find("\"short\"=hex(4):01,02\r\n"), std::string::npos);
    // Long hex lists are continued on lines of at most 80 columns.
    for (size_t at = 0, next; (next = written.find("\r\n", at)) != std::string::npos; at = next + 2)
        EXPECT_LE(next - at, 80u);
    RegTree again;
    ASSERT_TRUE(ParseRegFile(written, again, error)) << error.message;
    EXPECT_TRUE(SameTree(tree, again));
    EXPECT_EQ(WriteRegFile(again), written);
}

TEST(RegFile, ReadsAndWritesUtf16Version5Files) {
    const std::string file = Utf16(
        u"Windows Registry Editor Version 5.00\r\n\r\n"
        u"[HKEY_CURRENT_USER\\Identities\\{ID}]\r\n"
        u"\"Username\"=\"Ren\u00e9e \u20ac \u03a9\"\r\n"
        u"\"\u03a9name\"=dword:00000001\r\n"
        u"[HKEY_CURRENT_USER\\\u65e5\u672c]\r\n");
    RegTree tree;
    RegFileError error;
    ASSERT_TRUE(ParseRegFile(file, tree, error)) << error.message;
    EXPECT_TRUE(tree.wide);
    EXPECT_TRUE(tree.version5);
    const RegNode* id = Find(tree, reg::kCurrentUser, {"Identities", "{ID}"});
    ASSERT_NE(id, nullptr);
    // String data stays UTF-16; names outside the code page keep their original.
    EXPECT_EQ(regtext::WideBytesToAnsi(id->Values()[0].data), std::string("Ren\xe9"
                                                                          "e \x80 ?\0",
                                                                          10));
    EXPECT_EQ(id->Values()[1].name.ansi, "?name");
    EXPECT_TRUE(id->Values()[1].name.Lossy());
    EXPECT_EQ(id->FindValue("?name"), -1);
    // Written back in the same encoding and header; the key whose name is
    // outside the code page sorts first, the implied key "Identities" is not
    // written on its own.
    EXPECT_EQ(WriteRegFile(tree), Utf16(u"Windows Registry Editor Version 5.00\r\n\r\n"
                                        u"[HKEY_CURRENT_USER\\\u65e5\u672c]\r\n\r\n"
                                        u"[HKEY_CURRENT_USER\\Identities\\{ID}]\r\n"
                                        u"\"Username\"=\"Ren\u00e9e \u20ac \u03a9\"\r\n"
                                        u"\"\u03a9name\"=dword:00000001\r\n"));
}

// Exports joined into one file, as "copy /b a.reg+b.reg" or "cat" make them:
// each part's header (after its byte-order mark, in UTF-16) starts a new
// part, and a value line right after it belongs to no key.
TEST(RegFile, ReadsExportsJoinedIntoOneFile) {
    const std::u16string identities =
        u"Windows Registry Editor Version 5.00\r\n\r\n[HKEY_CURRENT_USER\\Identities]\r\n"
        u"\"Last User ID\"=\"{1}\"\r\n\r\n";
    const std::u16string product =
        u"Windows Registry Editor Version 5.00\r\n\r\n"
        u"[HKEY_LOCAL_MACHINE\\SOFTWARE\\Ferrowin Tessaly Desktop Client]\r\n"
        u"\"OEScanSent\"=\"0\"\r\n\r\n";
    const std::string utf16 = Utf16(identities) + Utf16(product);
    const std::string ansi =
        "REGEDIT4\r\n[HKEY_CURRENT_USER\\A]\r\n\"v\"=\"1\"\r\n"
        "REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\B]\r\n\"w\"=\"2\"\r\n";
    for (const bool wide : {true, false}) {
        const std::string& file = wide ? utf16 : ansi;
        RegTree tree;
        RegFileError error;
        ASSERT_TRUE(ParseRegFile(file, tree, error)) << error.line << ": " << error.message;
        EXPECT_EQ(tree.wide, wide);
        const RegNode* first = Find(tree, reg::kCurrentUser, {wide ? "Identities" : "A"});
        const RegNode* second =
            wide ? Find(tree, reg::kLocalMachine, {"Software", "Ferrowin Tessaly Desktop Client"})
                 : Find(tree, reg::kCurrentUser, {"B"});
        ASSERT_NE(first, nullptr);
        ASSERT_NE(second, nullptr);
        EXPECT_EQ(first->Values().size(), 1u);
        EXPECT_EQ(second->Values().size(), 1u);
        // Written back as one file with one header.
        const std::string written = WriteRegFile(tree);
        EXPECT_EQ(written.find(wide ? Utf16(u"Windows").substr(2) : "REGEDIT4", 4),
                  std::string::npos);
    }
    EXPECT_EQ(ParseError(ansi + "REGEDIT4\r\n\"v\"=\"1\"\r\n").line, 9u);
    // A UTF-16 part joined to an 8-bit file is refused, saying why.
    const RegFileError mixed = ParseError(ansi + Utf16(product));
    EXPECT_EQ(mixed.line, 8u);
    EXPECT_NE(mixed.message.find("joined"), std::string::npos);
}

TEST(RegFile, FaultsNameTheirLine) {
    EXPECT_EQ(ParseError("").line, 1u);
    EXPECT_EQ(ParseError("REGEDIT5\r\n").line, 1u);
    EXPECT_EQ(ParseError("\xEF\xBB\xBFREGEDIT4\r\n").line, 1u);
    EXPECT_EQ(ParseError("\xFE\xFF\0R").line, 1u);
    EXPECT_EQ(ParseError("REGEDIT4\r\n\"v\"=\"1\"\r\n").line, 2u);  // value before any key
    EXPECT_EQ(ParseError("REGEDIT4\r\n[HKEY_CURRENT_USER\\A\r\n").line, 2u);
    EXPECT_EQ(ParseError("REGEDIT4\r\n[HKEY_NOWHERE\\A]\r\n").line, 2u);
    EXPECT_EQ(ParseError("REGEDIT4\r\n[HKEY_CURRENT_USER\\\\A]\r\n").line, 2u);
    EXPECT_EQ(ParseError("REGEDIT4\r\n[-HKEY_CURRENT_USER]\r\n").line, 2u);
    const std::string key = "REGEDIT4\r\n[HKEY_CURRENT_USER\\A]\r\n";
    EXPECT_EQ(ParseError(key + "\"v\"=\"unterminated\r\n").line, 3u);
    EXPECT_EQ(ParseError(key + "\"v\"=\"x\" junk\r\n").line, 3u);
    EXPECT_EQ(ParseError(key + "\"v\"\"x\"\r\n").line, 3u);
    EXPECT_EQ(ParseError(key + "\"v\"=dword:123456789\r\n").line, 3u);
    EXPECT_EQ(ParseError(key + "\"v\"=dword:xyz\r\n").line, 3u);
    EXPECT_EQ(ParseError(key + "\"v\"=hex:1,2\r\n").line, 3u);
    EXPECT_EQ(ParseError(key + "\"v\"=hex:01,\r\n").line, 3u);
    EXPECT_EQ(ParseError(key + "\"v\"=hex(zz):01\r\n").line, 3u);
    EXPECT_EQ(ParseError(key + "\"v\"=qword:01\r\n").line, 3u);
    EXPECT_EQ(ParseError(key + "garbage\r\n").line, 3u);
    EXPECT_EQ(ParseError(key + "\"v\"=hex:01,\\\r\n  02,\\\r\n").line, 4u);  // truncated
    EXPECT_EQ(ParseError(key + std::string("\r\n\"v\"=\"a\0b\"\r\n", 13)).line, 4u);
    // UTF-16 cut in the middle of a code unit, on its third line.
    EXPECT_EQ(
        ParseError(Utf16(u"Windows Registry Editor Version 5.00\r\n\r\n[HKEY_USERS\\A]") + "x")
            .line,
        3u);
    // Keys nest at most 512 deep.
    std::string deep = "[HKEY_CURRENT_USER";
    for (int i = 0; i < 512; ++i)
        deep += "\\k";
    RegTree tree;
    RegFileError error;
    EXPECT_TRUE(ParseRegFile("REGEDIT4\r\n" + deep + "]\r\n", tree, error)) << error.message;
    EXPECT_EQ(ParseError("REGEDIT4\r\n\r\n" + deep + "\\k]\r\n").line, 3u);
    const RegFileError e = ParseError(key + "\"v\"=hex:01,zz\r\n");
    EXPECT_NE(e.message.find("hex"), std::string::npos);
}

}  // namespace
}  // namespace qb::platform
