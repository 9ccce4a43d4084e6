// The code pages' tables as the system builds them, and the folds and
// comparisons of common/Text.h under each.
#include "platform/CodePage.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

namespace qb::platform {
namespace {

// Each test puts code pages in force; Windows-1252 is back after it.
class CodePageTest : public ::testing::Test {
  protected:
    void TearDown() override { UseCodePage(1252); }
    void Use(uint32_t number) { ASSERT_TRUE(UseCodePage(number)) << number; }
};

TEST_F(CodePageTest, TheSystemsWindows1252IsTheBuiltInOne) {
    const std::unique_ptr<text::CodePage> built = BuildCodePage(1252);
    ASSERT_TRUE(built);
    const text::CodePage& own = text::Windows1252();
    for (int b = 0; b < 256; ++b) {
        const size_t i = static_cast<size_t>(b);
        EXPECT_EQ(built->lower[i], own.lower[i]) << "lower of byte " << b;
        EXPECT_EQ(built->upper[i], own.upper[i]) << "upper of byte " << b;
        EXPECT_EQ(built->wide[i], own.wide[i]) << "code unit of byte " << b;
    }
    EXPECT_FALSE(built->doubleByte);
    EXPECT_TRUE(built->foldsHighBytes);
}

// Lower and Upper of one text under one code page.
struct FoldCase {
    uint32_t codePage;
    const char* text;
    const char* lower;
    const char* upper;
};

TEST_F(CodePageTest, FoldsFollowTheCodePageAndNeverTouchATrailByte) {
    const FoldCase cases[] = {
        // Cyrillic capitals Ч Я Ё and their small letters.
        {1251, "\xD7\xDF\xA8 Ab", "\xF7\xFF\xB8 ab", "\xD7\xDF\xA8 AB"},
        {1251, "\xF7\xFF\xB8", "\xF7\xFF\xB8", "\xD7\xDF\xA8"},
        // Japanese: "アイテム" has the trail bytes 'A', 'C' and 'e'; a lone
        // lead byte at the end stays too.
        {932, "X\x83\x41\x83\x43\x83\x65y", "x\x83\x41\x83\x43\x83\x65y",
         "X\x83\x41\x83\x43\x83\x65Y"},
        {932, "Ab\x83", "ab\x83", "AB\x83"},
        // A trail byte that is itself a lead byte value ends its character.
        {932, "\x83\x83Q", "\x83\x83q", "\x83\x83Q"},
        {936,
         "A\x81\x41"
         "b",
         "a\x81\x41"
         "b",
         "A\x81\x41"
         "B"},
        {949,
         "A\x81\x41"
         "b",
         "a\x81\x41"
         "b",
         "A\x81\x41"
         "B"},
        {950,
         "A\xA1\x41"
         "b",
         "a\xA1\x41"
         "b",
         "A\xA1\x41"
         "B"},
        // UTF-8 text ("MÜLLER", "Ünal") stays valid UTF-8: ASCII letters fold.
        {1252, "M\xC3\x9CLLER@X", "m\xC3\x9Cller@x", "M\xC3\x9CLLER@X"},
        {1251, "\xC3\x9Cnal", "\xC3\x9Cnal", "\xC3\x9CNAL"},
        // Not UTF-8: folded by the code page as ever.
        {1252, "\xC3\x9C\xC9", "\xE3\x9C\xE9", "\xC3\x8C\xC9"},
        // Long ASCII texts fold eight bytes at a time: the bytes around the
        // letters stay, and a high byte after a whole word is seen.
        {1252, "@AZ[`az{ JOHN.Smith@Example.COM", "@az[`az{ john.smith@example.com",
         "@AZ[`AZ{ JOHN.SMITH@EXAMPLE.COM"},
        {932, "ABCDEFGH\x83\x41Qrs", "abcdefgh\x83\x41qrs", "ABCDEFGH\x83\x41QRS"},
    };
    for (const FoldCase& c : cases) {
        Use(c.codePage);
        EXPECT_EQ(text::Lower(c.text), c.lower) << c.codePage << ": " << c.text;
        EXPECT_EQ(text::Upper(c.text), c.upper) << c.codePage << ": " << c.text;
        EXPECT_TRUE(text::EqualNoCase(c.text, c.lower)) << c.codePage << ": " << c.text;
    }
}

// CompareNoCase orders as the byte values of Lower do, under every code page,
// over random texts of ASCII letters, high bytes and UTF-8 sequences.
TEST_F(CodePageTest, CompareNoCaseAgreesWithLowerInEveryCodePage) {
    const std::vector<std::string> pieces = {"a",    "A",    "z",        "Q",        "@",
                                             "\x81", "\x83", "\x41",     "\xC3\x9C", "\xD7",
                                             "\xF7", "\xA1", "\x83\x41", "\xE9",     "\xFF"};
    std::mt19937 rng(24);
    std::vector<std::string> texts;
    for (int i = 0; i < 300; ++i) {
        std::string t;
        for (int n = static_cast<int>(rng() % 5); n > 0; --n)
            t += pieces[rng() % pieces.size()];
        texts.push_back(t);
    }
    const auto sign = [](int v) { return (v > 0) - (v < 0); };
    for (const uint32_t number : {1252u, 1251u, 932u, 936u}) {
        Use(number);
        for (size_t i = 0; i < texts.size(); ++i) {
            const std::string& a = texts[i];
            const std::string& b = texts[(i * 7 + 3) % texts.size()];
            const std::string la = text::Lower(a), lb = text::Lower(b);
            EXPECT_EQ(sign(text::CompareNoCase(a, b)), sign(la.compare(lb)))
                << number << ": " << a << " / " << b;
            EXPECT_EQ(text::CompareNoCase(a, la), 0) << number << ": " << a;
        }
    }
}

TEST_F(CodePageTest, WholeTextsConvertBothWays) {
    Use(932);
    // "受信トレイ" in Shift-JIS and UTF-16.
    const std::string sjis = "\x8E\xF3\x90\x4D\x83\x67\x83\x8C\x83\x43";
    const std::u16string wide = u"\u53D7\u4FE1\u30C8\u30EC\u30A4";
    EXPECT_EQ(text::ToWide(sjis), wide);
    EXPECT_EQ(text::FromWide(wide), sjis);
    EXPECT_EQ(text::FromWide(u"\uD55C"), "?") << "Hangul has no Shift-JIS bytes";
    EXPECT_EQ(text::FromWide(u"\xD800x"), "?x") << "an unpaired surrogate";
    Use(1251);
    EXPECT_EQ(text::ToWide("\xC2\xF5\xEE\xE4\xFF\xF9\xE8\xE5"),
              u"\u0412\u0445\u043E\u0434\u044F\u0449\u0438\u0435");
    EXPECT_EQ(text::FromWide(u"\u0412\u0445\u043E\u0434"), "\xC2\xF5\xEE\xE4");
    for (int b = 0; b < 256; ++b) {
        const char c = static_cast<char>(b);
        EXPECT_EQ(text::WideToAnsi(text::AnsiToWide(c)), c) << "byte " << b << " round-trips";
    }
}

TEST_F(CodePageTest, ACodePageTheSystemCannotBuildLeavesWindows1252) {
    Use(1251);
    for (const uint32_t number : {65001u, 54936u, 4242u}) {
        EXPECT_FALSE(UseCodePage(number)) << number;
        EXPECT_EQ(text::Active().number, 1252u);
    }
}

TEST_F(CodePageTest, NamesCompareInUnicode) {
    EXPECT_EQ(LowerWide(u"\u0412\u0425\u041E\u0414 \u00C9L\u00C9MENTS"),
              u"\u0432\u0445\u043E\u0434 \u00E9l\u00E9ments");
    EXPECT_EQ(NameToWide("Inbox"), u"Inbox");
    for (const char* utf8 :
         {"a", "\xC3\x89t\xC3\xA9", "\xE5\x8F\x97\xE4\xBF\xA1", "\xF0\x9F\x93\xA8"})
        EXPECT_EQ(text::Utf8FromWide(text::WideFromUtf8(utf8)), utf8);
    EXPECT_EQ(text::Utf8FromWide(u"\xD800x"), "\xEF\xBF\xBDx") << "an unpaired surrogate";
#ifndef _WIN32
    // Linux file names are UTF-8; other bytes are code-page text.
    EXPECT_EQ(NameToWide("\xC3\x89l\xC3\xA9ments"), u"\u00C9l\u00E9ments");
    EXPECT_EQ(NameToWide("\xF0\x9F\x93\xA8"), u"\U0001F4E8");
    EXPECT_EQ(NameToWide("\xC9l\xE9ments"), u"\u00C9l\u00E9ments");
    Use(1251);
    EXPECT_EQ(NameToWide("\xC2\xF5"), u"\u0412\u0445");
#else
    EXPECT_EQ(NameToWide("a?0412b"), u"a\u0412b") << "the escaped form of the folder listing";
#endif
}

}  // namespace
}  // namespace qb::platform
