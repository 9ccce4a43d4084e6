// The database file quellboxaddr.bin through the exports: its exact bytes, the
// tolerant reader, where the file lives, the atomic save and what bad input
// does.
#if !defined(_WIN32)
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#if defined(_WIN32)
#include "common/LeanWindows.h"
#endif

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>

#include "tests/addrdb/QuellAddrLibrary.h"
#include "tests/support/ExpectedCodePage.h"
#include "tests/support/TempFolder.h"

namespace {

using namespace qb::test;
using Totals = AddrDb::Totals;

constexpr const char* kFile = "quellboxaddr.bin";

// The file as a save writes it after loading content.
std::string Resave(const std::string& content) {
    TempFolder dir;
    dir.Write(kFile, content);
    AddrDb db(dir.WinPath(), 100000);
    if (db.Save() != 1)
        return "<save failed>";
    return dir.Read(kFile);
}

int EntriesIn(const TempFolder& dir) {
    int n = 0;
    for (const auto& e : std::filesystem::directory_iterator(dir.Path())) {
        (void)e;
        ++n;
    }
    return n;
}

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kSanitized = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif
#else
constexpr bool kSanitized = false;
#endif

TEST(AddrDbFile, WritesTheExactFormat) {
    TempFolder dir;
    AddrDb db(dir.WinPath(), 100);
    ASSERT_EQ(db.Save(), 1);
    EXPECT_EQ(dir.Read(kFile), "v1 0 0\r\n") << "an empty database is the header alone";
    db.From("ab", 2);
    db.Score("ab", 50);
    db.Score("ab", 80);
    db.To("cd", 30);
    db.From("zz", 8);
    db.Score("neg", 0);
    ASSERT_EQ(db.Save(), 1);
    EXPECT_EQ(dir.Read(kFile), "v1 13 30\r\nab 4 0 50 80\r\ncd 0 30\r\nneg 1 0 0\r\nzz 8 0\r\n");
    // Signed scores and unsigned counts as read from a file come back as they were.
    EXPECT_EQ(Resave("v1 4294967295 0\r\nab 4294967295 2147483648 -5 -2147483648 2147483647\r\n"),
              "v1 4294967295 0\r\nab 4294967295 2147483648 -5 -2147483648 2147483647\r\n");
}

TEST(AddrDbFile, ReaderSkipsCommentsAndTakesTheFirstLineAsTheHeader) {
    EXPECT_EQ(Resave("# comment\r\n\r\n   \r\n  # indented\n\t\n"), "v1 0 0\r\n");
    EXPECT_EQ(Resave(""), "v1 0 0\r\n");
    EXPECT_EQ(Resave("ab 3 4\r\ncd 1 2\r\n"), "v1 3 4\r\ncd 1 2\r\n")
        << "a record in the header's place is read as the header and lost";
    EXPECT_EQ(Resave("# x\r\n  V1 3 4  \r\n"), "v1 3 4\r\n");
    EXPECT_EQ(Resave("v1 3\r\nab 1 1\r\n"), "v1 0 0\r\nab 1 1\r\n");
    EXPECT_EQ(Resave("v1\r\nab 1 1\r\n"), "v1 0 0\r\nab 1 1\r\n");
    EXPECT_EQ(Resave("v1 3x 4\r\n"), "v1 0 0\r\n");
    EXPECT_EQ(Resave("v1   3 \t 4 5 junk\r\n"), "v1 3 4\r\n");
    EXPECT_EQ(Resave("anything +3 -1\r\n"), "v1 3 4294967295\r\n");
    EXPECT_EQ(Resave("v1 99999999999 1\r\n"), "v1 1215752191 1\r\n") << "taken modulo 2^32";
}

TEST(AddrDbFile, ReaderReadsRecordLinesAsFarAsTheyGo) {
    EXPECT_EQ(Resave("v1 1 2\r\nAB@X.COM 1 2 3\r\n"), "v1 1 2\r\nab@x.com 1 2 3\r\n");
    EXPECT_EQ(Resave("v1 0 0\r\nonly\r\nalso   \r\n\tlead 1 2\r\n"), "v1 0 0\r\nlead 1 2\r\n");
    EXPECT_EQ(Resave("v1 0 0\r\nab 1 2 x\r\n"), "v1 0 0\r\nab 1 2 0\r\n");
    EXPECT_EQ(Resave("v1 0 0\r\nab 1 1 5\r\ncd 1 1\r\nAB 2 2\r\n"),
              "v1 0 0\r\nab 2 2\r\ncd 1 1\r\n")
        << "the later line for an address wins";
    EXPECT_EQ(Resave("v1 1 2\nab 1 2\ncd 3 4"), "v1 1 2\r\nab 1 2\r\ncd 3 4\r\n")
        << "LF line ends and no final line end";
    EXPECT_EQ(Resave("v1 0 0\r\nab 5\r\n"), "v1 0 0\r\nab 5 0\r\n") << "a single number";
    EXPECT_EQ(Resave("v1 0 0\r\nab 12abc -3x +4 \t7 99999999999\r\n"),
              "v1 0 0\r\nab 12 4294967293 4 7 1215752191\r\n");
    EXPECT_EQ(Resave("v1 0 0\r\nab 1  2\r\n"), "v1 0 0\r\nab 1 0 2\r\n")
        << "two spaces in a row hold an empty token, read as 0";
    EXPECT_EQ(Resave("v1 0 0\r\na\rb 1 2\r\n#c 1 1\r\n"), "v1 0 0\r\na\rb 1 2\r\n");
}

// The loader folds A to Z in every address but never the trail byte of a
// double-byte character of the process's code page, also in a line that the
// reader's pieces cut between a lead and a trail byte. On Windows the code
// page is the process's own (the Windows tests run this once more under a
// Japanese locale).
TEST(AddrDbFile, TheLoaderNeverFoldsATrailByte) {
    // "アテ" in Shift-JIS holds the trail bytes 'A' and 'e'.
    const std::string line = "\x83\x41\x83\x65X@Y 1 2\r\n";
    const std::string cut = "v1 0 0\r\n#" + std::string(65524, 'x') + "\r\n" + line;
    ASSERT_EQ(cut.find(line) + 1, 65536u) << "the read's first piece ends after the lead byte";
    const struct {
        unsigned codePage;
        const char* key;
    } cases[] = {{932, "\x83\x41\x83\x65x@y"}, {1252, "\x83\x61\x83\x65x@y"}};
#if defined(_WIN32)
    ASSERT_TRUE(ExpectedCodePageHolds());
#endif
    for (const auto& c : cases) {
#if defined(_WIN32)
        if (::GetACP() != c.codePage)
            continue;
#else
        ::setenv("QUELLBOX_CODEPAGE", std::to_string(c.codePage).c_str(), 1);
#endif
        const std::string expected = "v1 0 0\r\n" + std::string(c.key) + " 1 2\r\n";
        EXPECT_EQ(Resave("v1 0 0\r\n" + line), expected) << c.codePage;
        EXPECT_EQ(Resave(cut), expected) << c.codePage;
    }
#if !defined(_WIN32)
    ::unsetenv("QUELLBOX_CODEPAGE");
#endif
}

TEST(AddrDbFile, LongHistoriesLoadWholeAndSaveTheNewestTwenty) {
    std::string line = "ab 25 0";
    for (int i = 1; i <= 25; ++i)
        line += i <= 5 ? " 100" : " 0";
    TempFolder dir;
    dir.Write(kFile, "v1 0 0\r\n" + line + "\r\n");
    AddrDb db(dir.WinPath(), 100);
    // All 25 scores count: 90 + 180 + 270 + 360 + 450 = 1350, / 351 = 3.
    // The newest 20 alone would give 1.
    EXPECT_EQ(db.Adjust("ab", 0), 3u);
    ASSERT_EQ(db.Save(), 1);
    // The history held 25, not exactly 20, so the new score dropped none; the
    // file keeps the newest 20 of the 26.
    std::string expected = "v1 1 0\r\nab 26 0";
    for (int i = 0; i < 20; ++i)
        expected += " 0";
    EXPECT_EQ(dir.Read(kFile), expected + "\r\n");
}

TEST(AddrDbFile, FolderTextIsJoinedWithExactlyOneSeparator) {
    TempFolder dir;
    uint32_t round = 0;
    for (const std::string& folder : {dir.WinPath(), dir.WinPath() + "\\", dir.Path() + "/",
                                      dir.WinPath() + "\\\\", dir.Path()}) {
        SCOPED_TRACE(folder);
        {
            AddrDb db(folder, 100);
            EXPECT_EQ(db.GetTo("seen"), static_cast<int32_t>(round))
                << "each handle reads the file the one before wrote";
            db.To("seen", 1);
            EXPECT_EQ(db.Save(), 1);
        }
        ++round;
        EXPECT_EQ(EntriesIn(dir), 1);
        EXPECT_TRUE(dir.Exists(kFile));
    }
}

TEST(AddrDbFile, MissingFolderGivesAnEmptyDatabaseAndFailingSaves) {
    TempFolder dir;
    AddrDb db(dir.WinPath() + "\\absent", 100);
    EXPECT_EQ(db.GetTotals(), (Totals{0, 0, 0}));
    db.From("a", 1);
    EXPECT_EQ(db.Save(), 0);
    EXPECT_EQ(db.Save(), 0);
    EXPECT_EQ(db.GetFrom("a"), 1) << "a failed save leaves the database as it was";
    EXPECT_EQ(db.Free(), 0);
    EXPECT_EQ(EntriesIn(dir), 0);
}

TEST(AddrDbFile, AnUnchangedHandleLeavesTheFileByteForByte) {
    TempFolder dir;
    const std::string odd = "# hand-made\nV1 2 3\n\nB 1 1 9 9\nb 2 2\nc 0 0   \n";
    dir.Write(kFile, odd);
    {
        AddrDb db(dir.WinPath(), 1);  // over capacity, but unchanged handles never prune
        EXPECT_EQ(db.GetFrom("b"), 2);
        EXPECT_EQ(db.GetTo("nobody"), 0);
        EXPECT_EQ(db.Delete("nobody"), 0);
        EXPECT_EQ(db.SetFrom("b", 2), 0);
        EXPECT_EQ(db.Adjust("unknown", 50), 50u);
        EXPECT_EQ(db.GetTotals(), (Totals{2, 3, 2}));
    }
    EXPECT_EQ(dir.Read(kFile), odd);
    {
        AddrDb db(dir.WinPath(), 1);
        db.To("c", 1);
    }
    EXPECT_EQ(dir.Read(kFile), "v1 2 4\r\nb 2 2\r\n") << "a changed handle prunes and rewrites";
}

#if defined(_WIN32)
TEST(AddrDbAtomicSave, ReplacesTheFileAndKeepsItsHiddenAttribute) {
    TempFolder dir;
    dir.Write(kFile, "v1 1 0\r\nold 1 0\r\n");
    const std::string file = dir.WinPath() + "\\" + kFile;
    ASSERT_TRUE(::SetFileAttributesA(file.c_str(), FILE_ATTRIBUTE_HIDDEN));
    AddrDb db(dir.WinPath(), 100);
    db.To("new", 1);
    ASSERT_EQ(db.Save(), 1);
    EXPECT_EQ(dir.Read(kFile), "v1 1 1\r\nnew 0 1\r\nold 1 0\r\n");
    EXPECT_EQ(::GetFileAttributesA(file.c_str()) & FILE_ATTRIBUTE_HIDDEN,
              static_cast<DWORD>(FILE_ATTRIBUTE_HIDDEN));
    EXPECT_EQ(EntriesIn(dir), 1) << "no temporary file stays behind";
}

TEST(AddrDbAtomicSave, AReadOnlyFileIsNotReplaced) {
    TempFolder dir;
    const std::string old = "v1 1 0\r\nold 1 0\r\n";
    dir.Write(kFile, old);
    const std::string file = dir.WinPath() + "\\" + kFile;
    ASSERT_TRUE(::SetFileAttributesA(file.c_str(), FILE_ATTRIBUTE_READONLY));
    {
        AddrDb db(dir.WinPath(), 100);
        db.To("new", 1);
        EXPECT_EQ(db.Save(), 0);
    }
    EXPECT_EQ(dir.Read(kFile), old);
    EXPECT_EQ(EntriesIn(dir), 1) << "no temporary file stays behind";
    ::SetFileAttributesA(file.c_str(), FILE_ATTRIBUTE_NORMAL);
}
#else
TEST(AddrDbAtomicSave, ReplacesTheFileAndKeepsItsPermissions) {
    TempFolder dir;
    dir.Write(kFile, "v1 1 0\r\nold 1 0\r\n");
    ASSERT_EQ(::chmod((dir / kFile).c_str(), 0640), 0);
    AddrDb db(dir.WinPath(), 100);
    db.To("new", 1);
    ASSERT_EQ(db.Save(), 1);
    EXPECT_EQ(dir.Read(kFile), "v1 1 1\r\nnew 0 1\r\nold 1 0\r\n");
    struct stat st;
    ASSERT_EQ(::stat((dir / kFile).c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    EXPECT_EQ(EntriesIn(dir), 1) << "no temporary file stays behind";
}

#endif

TEST(AddrDbAtomicSave, AFolderInTheFilesPlaceFailsTheSaveAndStays) {
    TempFolder dir;
    std::filesystem::create_directory(dir / kFile);
    AddrDb db(dir.WinPath(), 100);
    EXPECT_EQ(db.GetTotals(), (Totals{0, 0, 0}));
    db.To("a", 1);
    EXPECT_EQ(db.Save(), 0);
    EXPECT_EQ(db.Free(), 0);
    EXPECT_TRUE(std::filesystem::is_directory(dir / kFile));
    EXPECT_EQ(EntriesIn(dir), 1) << "no temporary file stays behind";
}

// Posix only: a child process with a file size limit stands in for a full disk.
#if !defined(_WIN32)
TEST(AddrDbAtomicSave, AFullDiskKeepsTheOldFile) {
    TempFolder dir;
    const std::string old = "v1 1 0\r\nkeep 1 0\r\n";
    dir.Write(kFile, old);
    // A child process whose files may not grow past 16 bytes stands in for a
    // full disk: the new content cannot be written.
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::signal(SIGXFSZ, SIG_IGN);
        const struct rlimit limit = {16, 16};
        ::setrlimit(RLIMIT_FSIZE, &limit);
        auto& lib = QuellAddrLibrary::Get();
        SpamAddrHandle h = lib.getSpamAddrH(dir.WinPath().c_str(), 5000);
        for (int i = 0; i < 1000; ++i)
            lib.addSpamAddrFrom(h, ("sender" + std::to_string(i) + "@example.com").c_str(), 1);
        const int saved = lib.saveSpamAddrH(h);
        const int freed = lib.freeSpamAddrH(h);  // its save fails too
        ::_exit(saved == 0 && freed == 0 ? 0 : 1);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "the saves must report the failed write";
    EXPECT_EQ(dir.Read(kFile), old);
    EXPECT_EQ(EntriesIn(dir), 1) << "no temporary file stays behind";
}

#endif

TEST(AddrDbBadInput, BinaryJunkLoadsAndSavesAStableFile) {
    std::mt19937 random(4711);
    const std::string alphabet = std::string("ab #-+09 \t\r\n\n  Zv1", 19) + std::string(1, '\0');
    for (int round = 0; round < 40; ++round) {
        std::string junk(static_cast<size_t>(random() % 20000), '\0');
        for (char& c : junk) {
            c = round % 2 ? static_cast<char>(random())
                          : alphabet[static_cast<size_t>(random()) % alphabet.size()];
        }
        const std::string once = Resave(junk);
        ASSERT_EQ(once.compare(0, 3, "v1 "), 0);
        EXPECT_EQ(Resave(once), once)
            << "a saved file reads back to itself (round " << round << ")";
    }
}

TEST(AddrDbBadInput, HugeLinesHugeNumbersAndManyScores) {
    TempFolder dir;
    // 10 MB single line of scores without a final line end.
    std::string big = "v1 1 1\r\nab 1 2";
    big.reserve(10'000'020);
    while (big.size() < 10'000'000)
        big += " 7";
    dir.Write(kFile, big);
    {
        AddrDb db(dir.WinPath(), 100);
        EXPECT_EQ(db.GetFrom("ab"), 1);
        EXPECT_EQ(db.Adjust("ab", 7), 6u);  // a long history of 7s: 0.9 x 7 on average, + 7
        ASSERT_EQ(db.Save(), 1);
    }
    EXPECT_EQ(dir.Read(kFile), "v1 2 1\r\nab 2 2 7 7 7 7 7 7 7 7 7 7 7 7 7 7 7 7 7 7 7 7\r\n");

    // A 10 MB line without a space, and numbers of every size.
    dir.Write(kFile, "v1 0 0\r\n" + std::string(10'000'000, 'q') +
                         "\r\nn -1 -2147483649 99999999999999999999999999 -0 +-3\r\n");
    AddrDb db(dir.WinPath(), 100);
    EXPECT_EQ(db.GetTotals().entries, 1u);
    EXPECT_EQ(db.GetFrom("n"), -1);
    ASSERT_EQ(db.Save(), 1);
    EXPECT_EQ(dir.Read(kFile), "v1 0 0\r\nn 4294967295 2147483647 -469762049 0 0\r\n");
}

#if !defined(_WIN32)
TEST(AddrDbBadInput, MemoryStaysWithinAFewTimesTheFileSize) {
    if (kSanitized)
        GTEST_SKIP() << "the sanitizers' own memory hides the library's";
    TempFolder dir;
    std::string big = "v1 1 1\r\nab 1 2";
    while (big.size() < 10'000'000)
        big += " 1";
    dir.Write(kFile, big);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        struct rusage before, after;
        ::getrusage(RUSAGE_SELF, &before);
        auto& lib = QuellAddrLibrary::Get();
        SpamAddrHandle h = lib.getSpamAddrH(dir.WinPath().c_str(), 100);
        ::getrusage(RUSAGE_SELF, &after);
        lib.freeSpamAddrH(h);
        const long grownKb = after.ru_maxrss - before.ru_maxrss;
        // The text itself, one lower-cased line, and 4 bytes per 2-byte score.
        ::_exit(grownKb < 5 * 10'000 ? 0 : 1);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "loading a 10 MB file took more than 50 MB";
}
#endif

}  // namespace
