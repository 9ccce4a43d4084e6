// Whole runs over stores made by Outlook Express, Windows Mail and Windows
// Live Mail in other languages than English: the standard folders found by
// their kind (Folders.dbx) or their translated names, and the text folded
// by the code page of the registry export.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>

#include "tests/e2e/Scenario.h"

namespace qb::test {
namespace {

using Lines = std::vector<std::string>;

// An Outlook Express store as a Windows of one language makes it: the
// standard folders under their translated names (files named after them),
// marked with their kind.
struct Language {
    const char* name;
    uint32_t codePage;
    std::string inbox, sentItems;
    // A sender whose display name holds letters of the code page, and the
    // database key it becomes (lower case, the blank dropped by the library).
    std::string sender, senderKey;
    // The names of the two .dbx files on disk when they differ from the
    // names in Folders.dbx: UTF-8, as a store copied to Linux is named.
    std::string inboxFile = {}, sentFile = {};
};

const Language kLanguages[] = {
    {"English", 1252, "Inbox", "Sent Items", "Ann <Ann@Example.COM>", "ann<ann@example.com"},
    {"German", 1252, "Posteingang", "Gesendete Objekte", "\xDC\x62 <UB@Example.DE>",
     "\xFC\x62<ub@example.de"},
    {"French", 1252,
     "Bo\xEEte de r\xE9"
     "ception",
     "\xC9l\xE9ments envoy\xE9s", "\xC9lise <Elise@Example.FR>", "\xE9lise<elise@example.fr",
     "Bo\xC3\xAEte de r\xC3\xA9"
     "ception.dbx",
     "\xC3\x89l\xC3\xA9ments envoy\xC3\xA9s.dbx"},
    {"Spanish", 1252, "Bandeja de entrada", "Elementos enviados",
     "\xD1"
     "ando <N@Example.ES>",
     "\xF1"
     "ando<n@example.es"},
    // Cyrillic: "Входящие", "Отправленные"; the sender "Ян".
    {"Russian", 1251, "\xC2\xF5\xEE\xE4\xFF\xF9\xE8\xE5",
     "\xCE\xF2\xEF\xF0\xE0\xE2\xEB\xE5\xED\xED\xFB\xE5", "\xDF\xED <Jan@Example.RU>",
     "\xFF\xED<jan@example.ru",
     "\xD0\x92\xD1\x85\xD0\xBE\xD0\xB4\xD1\x8F\xD1\x89\xD0\xB8\xD0\xB5.dbx",
     "\xD0\x9E\xD1\x82\xD0\xBF\xD1\x80\xD0\xB0\xD0\xB2\xD0\xBB\xD0\xB5\xD0\xBD\xD0\xBD"
     "\xD1\x8B\xD0\xB5.dbx"},
    // Shift-JIS: "受信トレイ" (trail byte 'C'), "送信済みアイテム" (trail bytes
    // 'A', 'C', 'e'); the sender "アイテム" keeps its trail bytes.
    {"Japanese", 932, "\x8E\xF3\x90\x4D\x83\x67\x83\x8C\x83\x43",
     "\x91\x97\x90\x4D\x8D\xCF\x82\xDD\x83\x41\x83\x43\x83\x65\x83\x80",
     "\x83\x41\x83\x43\x83\x65\x83\x80 <Item@Example.JP>",
     "\x83\x41\x83\x43\x83\x65\x83\x80<item@example.jp",
     "\xE5\x8F\x97\xE4\xBF\xA1\xE3\x83\x88\xE3\x83\xAC\xE3\x82\xA4.dbx",
     "\xE9\x80\x81\xE4\xBF\xA1\xE6\xB8\x88\xE3\x81\xBF\xE3\x82\xA2\xE3\x82\xA4\xE3\x83\x86"
     "\xE3\x83\xA0.dbx"},
    // An inbox named "表示", whose first character's trail byte is a
    // backslash: it is part of the name, not a separator.
    {"Japanese, a backslash trail byte", 932, "\x95\x5C\x8E\xA6",
     "\x91\x97\x90\x4D\x8D\xCF\x82\xDD\x83\x41\x83\x43\x83\x65\x83\x80",
     "\x83\x41\x83\x43\x83\x65\x83\x80 <Item@Example.JP>",
     "\x83\x41\x83\x43\x83\x65\x83\x80<item@example.jp", "\xE8\xA1\xA8\xE7\xA4\xBA.dbx",
     "\xE9\x80\x81\xE4\xBF\xA1\xE6\xB8\x88\xE3\x81\xBF\xE3\x82\xA2\xE3\x82\xA4\xE3\x83\x86"
     "\xE3\x83\xA0.dbx"},
};

void FillStore(Scenario& s, const Language& l) {
    s.CodePage(l.codePage);
    s.Folders({{1, 0, "Local Folders", ""},
               {4, 1, l.inbox, l.inbox + ".dbx", 1},
               {5, 1, "Outbox", "Outbox.dbx", 2},
               {6, 1, l.sentItems, l.sentItems + ".dbx", 3},
               {7, 1, "Archive", "Archive.dbx"}});
    s.Messages(l.inboxFile.empty() ? l.inbox + ".dbx" : l.inboxFile,
               {From(1, "Anna@Example.COM"), From(2, l.sender), From(3, "young@example.com", 1)});
    s.Messages(l.sentFile.empty() ? l.sentItems + ".dbx" : l.sentFile,
               {To(10, "Bob@Example.COM;carl@example.com")});
    s.Messages("Outbox.dbx", {To(11, "outbox@example.com")});
    s.Messages("Archive.dbx", {From(1, "archived@example.com")});
}

TEST(LanguageRun, EveryLanguagesOutlookExpressStoreTeachesAsAnEnglishOneDoes) {
    Lines english;  // the console of the English run (the first)
    for (const Language& l : kLanguages) {
        SCOPED_TRACE(l.name);
        Scenario s;
        FillStore(s, l);
        const RunResult run = s.Run({"-show"});
        ASSERT_EQ(run.exitCode, 0) << run.output;
        for (const char* missing : {"Unable to open Inbox", "Unable to open Sent Items"})
            EXPECT_EQ(run.output.find(missing), std::string::npos) << run.output;
        if (english.empty())
            english = s.Console();
        EXPECT_EQ(s.Console(), english) << "the lines of the unconfigured verdict folders alone";
        const auto db = s.Database();
        EXPECT_EQ(db.size(), 4u);
        EXPECT_EQ(db.count("anna@example.com") ? db.at("anna@example.com").from : 0u, 1u);
        EXPECT_EQ(db.count(l.senderKey) ? db.at(l.senderKey).from : 0u, 1u) << l.senderKey;
        EXPECT_EQ(db.count("bob@example.com") ? db.at("bob@example.com").to : 0u, 1u);
        EXPECT_EQ(db.count("carl@example.com") ? db.at("carl@example.com").to : 0u, 1u);
        EXPECT_EQ(s.File("oesent"), "10\r\n");
        // The next run reads the database back (folding A to Z, never a trail
        // byte) and counts nothing twice.
        const std::string database = s.Program().Read("conf/quellboxaddr.bin");
        ASSERT_EQ(s.Run().exitCode, 0);
        EXPECT_EQ(s.Program().Read("conf/quellboxaddr.bin"), database);
    }
}

TEST(LanguageRun, AFolderNamedInboxIsStillTheOneTakenAndKindsShowInTraceLines) {
    Scenario s;
    FillStore(s, kLanguages[1]);  // German
    s.Folders({{1, 0, "Local Folders", ""},
               {4, 1, "Posteingang", "Posteingang.dbx", 1},
               {6, 1, "Gesendete Objekte", "Gesendete Objekte.dbx", 3},
               {20, 1, "Inbox", "Inbox.dbx"}});
    s.Messages("Inbox.dbx", {From(1, "user-folder@example.com")});
    s.Conf("dbg_verbose_level=8\r\n");
    ASSERT_EQ(s.Run().exitCode, 0);
    const auto db = s.Database();
    EXPECT_EQ(db.count("user-folder@example.com"), 1u) << "the display name matches as ever";
    EXPECT_EQ(db.count("anna@example.com"), 0u);
    EXPECT_EQ(db.at("bob@example.com").to, 1u) << "Sent Items found by its kind";
    const Lines console = s.Console();
    const auto has = [&](const std::string& line) {
        return std::find(console.begin(), console.end(), line) != console.end();
    };
    EXPECT_TRUE(has("sent items = Gesendete Objekte.dbx (folder kind 3)"));
    EXPECT_FALSE(has("inbox = Posteingang.dbx (folder kind 1)"));
    EXPECT_TRUE(has("PreviousFrom : dbx_file = " + s.StorePath() + "\\Inbox.dbx"));
}

TEST(LanguageRun, TheSettingsNameTheFoldersWhereNoKindIsKept) {
    Scenario s;
    // Finnish standard folders without a kind: found by the settings alone.
    s.Folders({{1, 0, "Local Folders", ""},
               {4, 1, "Saapuneet", "Saapuneet.dbx"},
               {6, 1, "L\xE4hetetyt", "L\xE4hetetyt.dbx"}});
    s.Messages("Saapuneet.dbx", {From(1, "Anna@Example.FI")});
    s.Messages("L\xE4hetetyt.dbx", {To(10, "bob@example.fi")});
    s.Conf("oe_inbox_folder=SAAPUNEET\r\noe_sent_folder=l\xC4hetetyt\r\n");
    ASSERT_EQ(s.Run().exitCode, 0);
    EXPECT_EQ(s.Database().at("anna@example.fi").from, 1u);
    EXPECT_EQ(s.Database().at("bob@example.fi").to, 1u);
}

// Windows Live Mail stores copied to Linux: folder names in UTF-8.
TEST(LanguageRun, LiveMailFoldersInEveryLanguageAreFoundByTheirUtf8Names) {
    Scenario s;
    s.CodePage(1251);
    const std::string root = s.MailStore("Windows Live Mail", "wlm");
    const struct {
        const char* inbox;
        const char* sent;
    } accounts[] = {
        {"Compte/Bo\xC3\xAEte de r\xC3\xA9"
         "ception",
         "Compte/\xC3\x89l\xC3\xA9ments envoy\xC3\xA9s"},
        {"\xD0\x9F\xD0\xBE\xD1\x87\xD1\x82\xD0\xB0/\xD0\x92\xD1\x85\xD0\xBE\xD0\xB4\xD1\x8F\xD1\x89"
         "\xD0\xB8\xD0\xB5",
         "\xD0\x9F\xD0\xBE\xD1\x87\xD1\x82\xD0\xB0/\xD0\x9E\xD1\x82\xD0\xBF\xD1\x80\xD0\xB0\xD0\xB2"
         "\xD0\xBB\xD0\xB5\xD0\xBD\xD0\xBD\xD1\x8B\xD0\xB5"},
        {"Mail/\xE5\x8F\x97\xE4\xBF\xA1\xE3\x83\x88\xE3\x83\xAC\xE3\x82\xA4",
         "Mail/\xE9\x80\x81\xE4\xBF\xA1\xE6\xB8\x88\xE3\x81\xBF\xE3\x82\xA2\xE3\x82\xA4\xE3\x83"
         "\x86\xE3\x83\xA0"},
        {"Konto/POSTEINGANG", "Konto/gesendete objekte"},
        {"Tili/Eingang", "Tili/Raus"},  // named by the settings
    };
    int n = 0;
    for (const auto& a : accounts) {
        const std::string i = std::to_string(++n);
        s.Put(std::string("wlm/") + a.inbox + "/m.eml", Eml("in" + i + "@example.com", "me@x"));
        s.Put(std::string("wlm/") + a.sent + "/m.eml", Eml("me@x", "out" + i + "@example.com", 1));
    }
    // A UTF-8 address stays valid UTF-8: only its ASCII letters fold.
    s.Put("wlm/Konto/POSTEINGANG/u.eml", Eml("\xC3\x9CNAL@\xC3\x96rnek.COM", "me@x"));
    s.Conf("dbg_verbose_level=8\r\noe_inbox_folder=eingang\r\noe_sent_folder=RAUS\r\n");
    ASSERT_EQ(s.Run().exitCode, 0);
    const auto db = s.Database();
    for (int k = 1; k <= n; ++k) {
        const std::string i = std::to_string(k);
        EXPECT_EQ(db.count("in" + i + "@example.com") ? db.at("in" + i + "@example.com").from : 0u,
                  1u)
            << "Inbox " << accounts[k - 1].inbox;
        EXPECT_EQ(db.count("out" + i + "@example.com") ? db.at("out" + i + "@example.com").to : 0u,
                  1u)
            << "Sent Items " << accounts[k - 1].sent;
    }
    const std::string utf8 = "\xC3\x9Cnal@\xC3\x96rnek.com";
    ASSERT_EQ(db.count(utf8), 1u);
    const Lines console = s.Console();
    const std::string inboxLine = "Windows Live Mail Inbox = " + root +
                                  "\\Compte\\Bo\xC3\xAEte de r\xC3\xA9"
                                  "ception";
    EXPECT_NE(std::find(console.begin(), console.end(), inboxLine), console.end()) << inboxLine;
    const std::string sentLine = "Windows Live Mail Sent Items = " + root + "\\Tili\\Raus";
    EXPECT_NE(std::find(console.begin(), console.end(), sentLine), console.end()) << sentLine;
}

}  // namespace
}  // namespace qb::test
