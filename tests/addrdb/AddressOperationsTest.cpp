// The records and operations of quelladdr, driven through its exports: address
// keys, counts and totals, the changed flag as seen through the file, score
// adjustment and pruning.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "tests/addrdb/QuellAddrLibrary.h"
#include "tests/support/TempFolder.h"

namespace {

using namespace qb::test;
using Totals = AddrDb::Totals;

constexpr const char* kFile = "quellboxaddr.bin";

// The saved line of one record, or "<none>".
std::string LineOf(const std::string& file, const std::string& key) {
    size_t pos = 0;
    while (pos < file.size()) {
        size_t end = file.find("\r\n", pos);
        if (end == std::string::npos)
            end = file.size();
        const std::string line = file.substr(pos, end - pos);
        if (line.compare(0, key.size() + 1, key + " ") == 0)
            return line;
        pos = end + 2;
    }
    return "<none>";
}

TEST(AddrDbLifecycle, OpenAndReleaseReportAsDefined) {
    EXPECT_EQ(QuellAddrLibrary::Get().freeSpamAddrH(nullptr), 1);
    TempFolder dir;
    AddrDb db(dir.WinPath(), 5000);
    ASSERT_NE(db.Handle(), nullptr);
    EXPECT_EQ(db.GetTotals(), (Totals{0, 0, 0}));
    EXPECT_EQ(db.Free(), 0);
    EXPECT_FALSE(dir.Exists(kFile)) << "an unchanged handle writes nothing";

    // A changed handle on a folder that does not exist: every save fails,
    // and the release still answers 0.
    AddrDb missing(dir.WinPath() + "\\no\\such", 5000);
    EXPECT_EQ(missing.To("a", 1), 1);
    EXPECT_EQ(missing.Save(), 0);
    EXPECT_EQ(missing.Free(), 0);
    EXPECT_FALSE(dir.Exists("no"));
}

TEST(AddrDbLifecycle, EmptyFolderMeansTheCurrentDirectory) {
    TempFolder dir;
    const auto saved = std::filesystem::current_path();
    std::filesystem::current_path(dir.Path());
    {
        AddrDb db("", 10);
        db.To("x", 1);
        EXPECT_EQ(db.Save(), 1);
    }
    std::filesystem::current_path(saved);
    EXPECT_EQ(dir.Read(kFile), "v1 0 1\r\nx 0 1\r\n");
}

TEST(AddrDbOperations, AddressesLoseTheirSpacesAndEmptyOnesShareOneRecord) {
    TempFolder dir;
    AddrDb db(dir.WinPath(), 100);
    db.To("a b", 1);
    db.To("ab", 2);
    db.To(" a  b ", 4);
    EXPECT_EQ(db.GetTo("ab"), 7);
    EXPECT_EQ(db.GetTo("a b"), 7);
    db.To(nullptr, 1);
    db.To("", 2);
    db.To("   ", 4);
    EXPECT_EQ(db.GetTo("empty"), 7);
    EXPECT_EQ(db.GetTo(nullptr), 7);
    db.To("a\tb", 1);  // only spaces go; a tab stays part of the key
    EXPECT_EQ(db.GetTo("ab"), 7);
    EXPECT_EQ(db.GetTotals(), (Totals{3, 15, 0}));
}

TEST(AddrDbOperations, CaseMattersUntilTheFileIsReadBack) {
    TempFolder dir;
    {
        AddrDb db(dir.WinPath(), 100);
        db.To("Bob@X.com", 3);
        db.To("bob@x.com", 5);
        EXPECT_EQ(db.GetTotals().entries, 2u);
        EXPECT_EQ(db.GetTo("Bob@X.com"), 3);
    }
    EXPECT_EQ(dir.Read(kFile), "v1 0 8\r\nBob@X.com 0 3\r\nbob@x.com 0 5\r\n");
    AddrDb again(dir.WinPath(), 100);
    EXPECT_EQ(again.GetTotals(), (Totals{1, 8, 0}));
    EXPECT_EQ(again.GetTo("bob@x.com"), 5) << "the later, small-letter line wins";
    EXPECT_EQ(again.GetTo("Bob@X.com"), 0);
}

TEST(AddrDbOperations, CountsTotalsAndQueriesThatCreateNothing) {
    TempFolder dir;
    AddrDb db(dir.WinPath(), 100);
    EXPECT_EQ(db.From("a", 3), 1);
    EXPECT_EQ(db.From("a", 2), 1);
    EXPECT_EQ(db.To("a", 4), 1);
    EXPECT_EQ(db.From("b", 1), 1);
    EXPECT_EQ(db.GetFrom("a"), 5);
    EXPECT_EQ(db.GetTo("a"), 4);
    EXPECT_EQ(db.GetTo("b"), 0) << "a known address with to-count 0";
    EXPECT_EQ(db.GetFrom("nobody"), 0);
    EXPECT_EQ(db.GetTo("nobody"), 0);
    EXPECT_EQ(db.GetTotals(), (Totals{2, 4, 6}));
    // Counts and totals are unsigned 32-bit and wrap.
    db.To("c", 0xFFFFFFFFu);
    EXPECT_EQ(db.GetTotals(), (Totals{3, 3, 6}));
    EXPECT_EQ(static_cast<uint32_t>(db.GetTo("c")), 0xFFFFFFFFu);
}

TEST(AddrDbOperations, SetFromChangesOnlyWhatDiffersAndReportsTheChangedFlag) {
    TempFolder dir;
    dir.Write(kFile, "v1 7 0\r\na 7 0\r\n");
    {
        AddrDb db(dir.WinPath(), 100);
        EXPECT_EQ(db.SetFrom("a", 7), 0) << "same value on an unchanged handle";
        EXPECT_EQ(db.GetTotals(), (Totals{1, 0, 7}));
    }
    EXPECT_EQ(dir.Read(kFile), "v1 7 0\r\na 7 0\r\n") << "nothing changed, nothing written";

    AddrDb db(dir.WinPath(), 100);
    db.To("b", 1);
    EXPECT_EQ(db.SetFrom("a", 7), 1) << "same value on a handle changed earlier";
    EXPECT_EQ(db.GetTotals(), (Totals{2, 1, 7}));
    EXPECT_EQ(db.SetFrom("a", 9), 1);
    EXPECT_EQ(db.GetFrom("a"), 9);
    EXPECT_EQ(db.GetTotals(), (Totals{2, 1, 16})) << "the total grows by the new value itself";
    EXPECT_EQ(db.SetFrom("c", 4), 1);
    EXPECT_EQ(db.GetTotals(), (Totals{3, 1, 20}));
}

TEST(AddrDbOperations, ScoresAreLimitedTo100AndTheHistoryKeepsTheNewestTwenty) {
    TempFolder dir;
    AddrDb db(dir.WinPath(), 100);
    EXPECT_EQ(db.Score("new", 250), 1);
    EXPECT_EQ(db.GetFrom("new"), 1);
    EXPECT_EQ(db.GetTo("new"), 0);
    std::string expected = "a 20 0";
    for (uint32_t i = 1; i <= 20; ++i) {
        db.Score("a", i);
        // Appended in two steps: GCC 12 at -O3 warns (-Wrestrict) about
        // " " + std::to_string(i), wrongly (its bug 105651).
        expected += ' ';
        expected += std::to_string(i);
    }
    ASSERT_EQ(db.Save(), 1);
    EXPECT_EQ(LineOf(dir.Read(kFile), "new"), "new 1 0 100");
    EXPECT_EQ(LineOf(dir.Read(kFile), "a"), expected);
    db.Score("a", 21);
    ASSERT_EQ(db.Save(), 1);
    EXPECT_EQ(LineOf(dir.Read(kFile), "a"),
              "a 21 0 2 3 4 5 6 7 8 9 10 11 12 13 14 15 16 17 18 19 20 21");
    EXPECT_EQ(db.GetTotals(), (Totals{2, 0, 22}));
}

TEST(AddrDbOperations, DeleteRemovesOneRecordAndLeavesTheTotals) {
    TempFolder dir;
    dir.Write(kFile, "v1 5 9\r\na 5 9\r\n");
    {
        AddrDb db(dir.WinPath(), 100);
        EXPECT_EQ(db.Delete("zzz"), 0);
    }
    EXPECT_EQ(dir.Read(kFile), "v1 5 9\r\na 5 9\r\n") << "a failed delete changes nothing";
    {
        AddrDb db(dir.WinPath(), 100);
        EXPECT_EQ(db.Delete(" a"), 1);
        EXPECT_EQ(db.Delete("a"), 0);
        EXPECT_EQ(db.GetTotals(), (Totals{0, 9, 5}));
    }
    EXPECT_EQ(dir.Read(kFile), "v1 5 9\r\n");
}

TEST(AddrDbScore, TheThreeWorkedExamples) {
    TempFolder dir;
    AddrDb db(dir.WinPath(), 100);
    // History 50, new score 80: (45 + 2 x 80) / 3 = 68; the history becomes 50 80.
    db.Score("hist", 50);
    EXPECT_EQ(db.Adjust("hist", 80), 68u);
    // Known without history: 80 - 5 = 75, and 80 is recorded.
    db.From("plain", 1);
    EXPECT_EQ(db.Adjust("plain", 80), 75u);
    ASSERT_EQ(db.Save(), 1);
    EXPECT_EQ(LineOf(dir.Read(kFile), "hist"), "hist 2 0 50 80");
    EXPECT_EQ(LineOf(dir.Read(kFile), "plain"), "plain 2 0 80");

    // Frequent correspondent: to-total 200, to-count 40 (20 per cent):
    // 160 x 80 / 200 = 64, nothing recorded.
    TempFolder other;
    AddrDb friends(other.WinPath(), 100);
    friends.To("friend", 40);
    friends.To("someone", 160);
    EXPECT_EQ(friends.Adjust("friend", 80), 64u);
    EXPECT_EQ(friends.GetFrom("friend"), 0);
    EXPECT_EQ(friends.GetTotals(), (Totals{2, 200, 0}));
}

TEST(AddrDbScore, UnknownAddressesGetTheLimitedScoreAndNoRecord) {
    TempFolder dir;
    {
        AddrDb db(dir.WinPath(), 100);
        EXPECT_EQ(db.Adjust("x", 0), 1u);
        EXPECT_EQ(db.Adjust("x", 37), 37u);
        EXPECT_EQ(db.Adjust("x", 100), 100u);
        EXPECT_EQ(db.Adjust("x", 101), 99u);
        EXPECT_EQ(db.Adjust("x", 0xFFFFFFFFu), 99u);
        EXPECT_EQ(db.GetTotals(), (Totals{0, 0, 0}));
    }
    EXPECT_FALSE(dir.Exists(kFile)) << "scoring an unknown address changes nothing";
}

TEST(AddrDbScore, KnownAddressesWithoutHistoryLoseFiveAndRecordTheRawScore) {
    TempFolder dir;
    AddrDb db(dir.WinPath(), 100);
    for (const char* a : {"k6", "k5", "k0", "k250"})
        db.To(a, 1);
    EXPECT_EQ(db.Adjust("k6", 6), 1u);
    EXPECT_EQ(db.Adjust("k5", 5), 5u);
    EXPECT_EQ(db.Adjust("k0", 0), 1u);
    EXPECT_EQ(db.Adjust("k250", 250), 99u);
    ASSERT_EQ(db.Save(), 1);
    const std::string file = dir.Read(kFile);
    EXPECT_EQ(LineOf(file, "k6"), "k6 1 1 6");
    EXPECT_EQ(LineOf(file, "k5"), "k5 1 1 5");
    EXPECT_EQ(LineOf(file, "k0"), "k0 1 1 0");
    EXPECT_EQ(LineOf(file, "k250"), "k250 1 1 100");
    EXPECT_EQ(db.GetTotals(), (Totals{4, 4, 4}));
}

TEST(AddrDbScore, HistoriesGiveTheWeightedAverageTruncatedAfterEachStep) {
    TempFolder dir;
    dir.Write(kFile,
              "v1 0 0\r\n"
              "two 2 0 10 20\r\n"
              "steps 3 0 1 1 7\r\n"
              "full 20 0 100 100 100 100 100 100 100 100 100 100 100 100 100 100 100 100 100 "
              "100 100 100\r\n"
              "neg 2 0 -100 -100\r\n"
              "big 1 0 2147483647\r\n");
    AddrDb db(dir.WinPath(), 100);
    // (9 + 36 + 3 x 30) / 6 = 22
    EXPECT_EQ(db.Adjust("two", 30), 22u);
    // Truncating after each step: 0, 1, 19, then 19 + 40 = 59, / 10 = 5
    // (one truncation at the end would give 6).
    EXPECT_EQ(db.Adjust("steps", 10), 5u);
    // 90 x (1 + ... + 20) + 21 x 100 = 21000, / 231 = 90; the oldest 100 goes.
    EXPECT_EQ(db.Adjust("full", 100), 90u);
    EXPECT_EQ(db.Adjust("neg", 0), 1u) << "a negative average counts as 0, then 1";
    EXPECT_EQ(db.Adjust("big", 100), 99u);
    ASSERT_EQ(db.Save(), 1);
    const std::string file = dir.Read(kFile);
    EXPECT_EQ(LineOf(file, "two"), "two 3 0 10 20 30");
    EXPECT_EQ(
        LineOf(file, "full"), "full 21 0 " + [] {
            std::string s;
            for (int i = 0; i < 19; ++i)
                s += "100 ";
            return s + "100";
        }());
    EXPECT_EQ(LineOf(file, "neg"), "neg 3 0 -100 -100 0");
}

TEST(AddrDbScore, FrequentCorrespondentsScaleDownWithoutLimits) {
    TempFolder dir;
    AddrDb db(dir.WinPath(), 100);
    db.To("f", 40);
    db.To("g", 160);
    EXPECT_EQ(db.Adjust("f", 0), 0u) << "the limits do not apply here";
    EXPECT_EQ(db.Adjust("f", 250), 200u);
    EXPECT_EQ(db.GetFrom("f"), 0) << "nothing recorded";
    // A share of 15 per cent or less is not frequent: 30 x 100 / 230 = 13.
    db.To("h", 30);
    EXPECT_EQ(db.Adjust("h", 80), 75u);

    TempFolder other;
    AddrDb all(other.WinPath(), 100);
    all.To("all", 150);
    EXPECT_EQ(all.Adjust("all", 80), 0u) << "the address holds every to-count";
    // A to-total of 100 or less never makes a frequent correspondent.
    TempFolder third;
    AddrDb few(third.WinPath(), 100);
    few.To("few", 100);
    EXPECT_EQ(few.Adjust("few", 80), 75u);
}

TEST(AddrDbPruning, AddFromRemovesTheFirstSmallRecordInByteOrder) {
    TempFolder dir;
    // Byte order: a prefix first, capitals before small letters, bytes above
    // 127 after every ASCII letter.
    dir.Write(kFile,
              "v1 4 1000\r\n"
              "abc 1 0\r\n"
              "ab 1 0\r\n"
              "big 0 1000\r\n"
              "\xe9 1 0\r\n");
    AddrDb db(dir.WinPath(), 4);
    EXPECT_EQ(db.GetTotals().entries, 4u);
    db.From("zz", 1);  // "ab" goes
    EXPECT_EQ(db.GetFrom("ab"), 0);
    EXPECT_EQ(db.GetFrom("abc"), 1);
    db.From("zy", 1);  // "abc" goes; "big" holds all to-counts and stays
    EXPECT_EQ(db.GetFrom("abc"), 0);
    db.From("zx", 1);  // the new record itself is the first candidate
    EXPECT_EQ(db.GetFrom("zx"), 0);
    db.From("\xea", 1);  // "zy" goes, not the byte 0xE9
    EXPECT_EQ(db.GetFrom("zy"), 0);
    EXPECT_EQ(db.GetFrom("\xe9"), 1);
    EXPECT_EQ(db.GetFrom("\xea"), 1);
    db.From("Zed", 1);  // capitals sort first: the new record goes again
    EXPECT_EQ(db.GetFrom("Zed"), 0);
    EXPECT_EQ(db.GetTotals(), (Totals{4, 1000, 9})) << "pruning leaves the totals";
    // A record with history never goes in the first pass.
    db.Score("aaa", 50);
    EXPECT_EQ(db.GetTotals().entries, 5u) << "a score never prunes";
    db.From("zw", 1);  // six records: "zw" and "zz" go, "aaa" stays
    EXPECT_EQ(db.GetFrom("aaa"), 1);
    EXPECT_EQ(db.GetFrom("zw"), 0);
    EXPECT_EQ(db.GetFrom("zz"), 0);
    EXPECT_EQ(db.GetTotals().entries, 4u);
}

TEST(AddrDbPruning, WithoutToTotalTheSecondPassDoesTheWork) {
    TempFolder dir;
    dir.Write(kFile, "v1 0 0\r\na 0 0\r\nb 0 9\r\nc 0 10\r\nd 0 0\r\n");
    AddrDb db(dir.WinPath(), 3);
    EXPECT_EQ(db.GetTotals().entries, 4u) << "loading never prunes";
    db.From("e", 1);  // 5 records: "a" and "b" go, then the count is 3
    EXPECT_EQ(db.GetTotals().entries, 3u);
    ASSERT_EQ(db.Save(), 1);
    EXPECT_EQ(dir.Read(kFile), "v1 1 0\r\nc 0 10\r\nd 0 0\r\ne 1 0\r\n");
    // Only "d" qualifies any more; once it is gone the surplus stays.
    db.From("f", 1);  // "d" goes
    db.From("g", 1);
    db.From("h", 1);
    EXPECT_EQ(db.GetTotals().entries, 5u);
    EXPECT_EQ(db.GetFrom("d"), 0);
    EXPECT_EQ(db.GetTo("c"), 10);
}

TEST(AddrDbPruning, SetFromPrunesOnlyAfterAChange) {
    TempFolder dir;
    dir.Write(kFile, "v1 0 100\r\nbig 0 98\r\nlow 0 1\r\nlower 0 1\r\n");
    AddrDb db(dir.WinPath(), 2);
    EXPECT_EQ(db.SetFrom("big", 0), 0);
    EXPECT_EQ(db.GetTotals().entries, 3u);
    EXPECT_EQ(db.SetFrom("big", 5), 1);
    EXPECT_EQ(db.GetTotals().entries, 2u);
    EXPECT_EQ(db.GetTo("low"), 0);
    EXPECT_EQ(db.GetTo("lower"), 1);
}

TEST(AddrDbPruning, TheReleasePrunesBeforeItsSaveAndAnEarlierSaveDoesNot) {
    TempFolder dir;
    AddrDb db(dir.WinPath(), 2);
    db.To("a", 1);
    db.To("b", 1);
    db.To("c", 1);
    db.Score("d", 10);
    EXPECT_EQ(db.GetTotals().entries, 4u) << "adding to-counts and scores never prunes";
    ASSERT_EQ(db.Save(), 1);
    EXPECT_EQ(dir.Read(kFile), "v1 1 3\r\na 0 1\r\nb 0 1\r\nc 0 1\r\nd 1 0 10\r\n");
    EXPECT_EQ(db.Free(), 0);
    EXPECT_EQ(dir.Read(kFile), "v1 1 3\r\nc 0 1\r\nd 1 0 10\r\n");
}

TEST(AddrDbPruning, AReleaseWritesOnlyWhatChangedSinceTheLastSave) {
    TempFolder dir;
    const std::string other = "v1 0 5\r\nother 0 5\r\n";  // another program's save meanwhile
    {
        AddrDb db(dir.WinPath(), 10);
        db.From("a", 1);
        ASSERT_EQ(db.Save(), 1);
        dir.Write(kFile, other);
        EXPECT_EQ(db.Free(), 0);
        EXPECT_EQ(dir.Read(kFile), other) << "nothing changed since the save: no second write";
    }
    AddrDb db(dir.WinPath(), 10);
    db.To("b", 1);
    ASSERT_EQ(db.Save(), 1);
    db.From("c", 1);  // a change after the save: the release writes again
    EXPECT_EQ(db.Free(), 0);
    EXPECT_EQ(dir.Read(kFile), "v1 1 6\r\nb 0 1\r\nc 1 0\r\nother 0 5\r\n");
}

TEST(AddrDbPruning, ThousandsOfRecordsInAnyOrderKeepKeyOrderThroughDeletesAndPruning) {
    TempFolder dir;
    AddrDb db(dir.WinPath(), 3000);
    // 5000 keys added in a scrambled order (7919 is prime to 5000), enough to
    // fill and split the library's runs many times over.
    const auto key = [](int i) {
        char text[16];
        std::snprintf(text, sizeof text, "k%05d", i);
        return std::string(text);
    };
    for (int n = 0; n < 5000; ++n)
        ASSERT_EQ(db.To(key(n * 7919 % 5000).c_str(), 1), 1);
    for (int i = 0; i < 5000; i += 3)
        ASSERT_EQ(db.Delete(key(i).c_str()), 1);
    EXPECT_EQ(db.Delete(key(3).c_str()), 0) << "deleted once only";
    std::vector<int> kept;
    std::string expected = "v1 0 5000\r\n";
    for (int i = 0; i < 5000; ++i) {
        if (i % 3 != 0) {
            kept.push_back(i);
            expected += key(i) + " 0 1\r\n";
        }
    }
    ASSERT_EQ(kept.size(), 3333u);
    ASSERT_EQ(db.Save(), 1);
    EXPECT_EQ(dir.Read(kFile), expected);

    // One more record: the 334 first in key order go in the first pass.
    db.From("zz", 1);
    EXPECT_EQ(db.GetTotals(), (Totals{3000, 5000, 1}));
    EXPECT_EQ(db.GetTo(key(kept[333]).c_str()), 0);
    EXPECT_EQ(db.GetTo(key(kept[334]).c_str()), 1);
    expected = "v1 1 5000\r\n";
    for (size_t i = 334; i < kept.size(); ++i)
        expected += key(kept[i]) + " 0 1\r\n";
    expected += "zz 1 0\r\n";
    ASSERT_EQ(db.Save(), 1);
    EXPECT_EQ(dir.Read(kFile), expected);
}

// Random changes over a few keys and a small capacity, against a plain model
// of the records and the two pruning passes: the library keeps what the
// model keeps, in the same order, whichever changes made a record a pruning
// candidate or took that away (and when none is left to prune, the database
// stays over its capacity).
TEST(AddrDbPruning, RandomChangesPruneAsThePlainRulesSay) {
    struct Record {
        uint32_t from = 0, to = 0;
        std::vector<uint32_t> scores;
    };
    struct Model {
        std::map<std::string, Record> records;
        uint32_t totalFrom = 0, totalTo = 0;
        size_t capacity;
        void Prune() {
            if (records.size() <= capacity)
                return;
            size_t surplus = records.size() - capacity;
            std::vector<std::string> dead;
            for (const auto& [key, r] : records) {
                if (totalTo != 0 && surplus > 0 && r.scores.empty() &&
                    static_cast<double>(r.to) / totalTo < 0.02) {
                    dead.push_back(key);
                    --surplus;
                }
            }
            for (const auto& [key, r] : records) {
                if (surplus > 0 && r.from == 0 && r.to < 10 &&
                    std::find(dead.begin(), dead.end(), key) == dead.end()) {
                    dead.push_back(key);
                    --surplus;
                }
            }
            for (const std::string& key : dead)
                records.erase(key);
        }
        std::string Text() const {
            std::string t =
                "v1 " + std::to_string(totalFrom) + " " + std::to_string(totalTo) + "\r\n";
            for (const auto& [key, r] : records) {
                t += key + " " + std::to_string(r.from) + " " + std::to_string(r.to);
                for (const uint32_t s : r.scores)
                    t += " " + std::to_string(s);
                t += "\r\n";
            }
            return t;
        }
    };
    for (const unsigned seed : {1u, 2u, 3u}) {
        TempFolder dir;
        Model m;
        m.capacity = 12;
        AddrDb db(dir.WinPath(), 12);
        std::mt19937 rng(seed);
        for (int step = 1; step <= 3000; ++step) {
            // Half the keys share their first 20 bytes, as addresses of one
            // domain written name last might.
            char key[32];
            const unsigned k = static_cast<unsigned>(rng() % 40);
            std::snprintf(key, sizeof key, k % 2 ? "k%02u" : "shared.first.bytes.%02u", k);
            const uint32_t n = static_cast<uint32_t>(rng() % 13);
            const bool known = m.records.count(key) != 0;
            Record& r = m.records[key];  // a new one is dropped below if the step makes none
            switch (rng() % 8) {
                case 0:
                case 1:  // most messages are received ones
                    db.From(key, n % 3);
                    r.from += n % 3;
                    if (!known)
                        m.Prune();
                    m.totalFrom += n % 3;
                    break;
                case 2:
                    db.To(key, n);
                    r.to += n;
                    m.totalTo += n;
                    break;
                case 3:
                    if (known && r.from == n % 3)
                        break;
                    db.SetFrom(key, n % 3);
                    r.from = n % 3;
                    m.Prune();
                    m.totalFrom += n % 3;
                    break;
                case 4:
                    db.Score(key, n * 10);
                    if (r.scores.size() == 20)
                        r.scores.erase(r.scores.begin());
                    r.scores.push_back(std::min<uint32_t>(n * 10, 100));  // scores stop at 100
                    r.from += 1;
                    m.totalFrom += 1;
                    break;
                case 5:
                    EXPECT_EQ(db.Delete(key), known ? 1 : 0);
                    m.records.erase(key);
                    break;
                default:
                    EXPECT_EQ(db.GetFrom(key), static_cast<int32_t>(r.from)) << key;
                    EXPECT_EQ(db.GetTo(key), static_cast<int32_t>(r.to)) << key;
                    if (!known)
                        m.records.erase(key);
                    break;
            }
            ASSERT_EQ(db.GetTotals(),
                      (Totals{static_cast<uint32_t>(m.records.size()), m.totalTo, m.totalFrom}))
                << "seed " << seed << " step " << step;
            if (step % 250 == 0) {
                ASSERT_EQ(db.Save(), 1);
                ASSERT_EQ(dir.Read(kFile), m.Text()) << "seed " << seed << " step " << step;
            }
        }
    }
}

}  // namespace
