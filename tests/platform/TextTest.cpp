#include "common/Text.h"

#include <gtest/gtest.h>

#include <set>

namespace qb::text {
namespace {

TEST(Text, FoldsAsciiAndWesternLettersBothWays) {
    EXPECT_EQ(Lower("AbC@[Z]"), "abc@[z]");
    EXPECT_EQ(Upper("abc`{z}"), "ABC`{Z}");
    // Latin-1 capitals and the four Windows-1252 extras.
    EXPECT_EQ(Lower("\xC0\xC9\xDE\x8A\x8C\x8E\x9F"), "\xE0\xE9\xFE\x9A\x9C\x9E\xFF");
    EXPECT_EQ(Upper("\xE0\xE9\xFE\x9A\x9C\x9E\xFF"), "\xC0\xC9\xDE\x8A\x8C\x8E\x9F");
    // The multiplication and division signs and sharp s have no case partner.
    EXPECT_EQ(Lower("\xD7"), "\xD7");
    EXPECT_EQ(Upper("\xF7\xDF"), "\xF7\xDF");
}

TEST(Text, CompareNoCaseIsATotalOrderIgnoringCase) {
    EXPECT_EQ(CompareNoCase("Alpha", "ALPHA"), 0);
    EXPECT_EQ(CompareNoCase("alpha", "alphabet"), -1);
    EXPECT_EQ(CompareNoCase("b", "A"), 1);
    EXPECT_EQ(CompareNoCase("", ""), 0);
    EXPECT_EQ(CompareNoCase("", "a"), -1);
    // Bytes above 0x7F compare as unsigned values, after every ASCII letter.
    EXPECT_EQ(CompareNoCase("\xE9", "z"), 1);
    EXPECT_EQ(CompareNoCase("\xC9", "\xE9"), 0);
    EXPECT_TRUE(EqualNoCase("Quellbox", "qUELLBOX"));
    EXPECT_FALSE(EqualNoCase("a", "ab"));
    // Antisymmetric over a mixed sample.
    const char* sample[] = {"", "a", "A", "_", "[", "z", "Z", "\x80", "\xFF", "ab", "aB", "b"};
    for (const char* x : sample) {
        for (const char* y : sample) {
            EXPECT_EQ(CompareNoCase(x, y), -CompareNoCase(y, x)) << x << " / " << y;
        }
    }
}

TEST(Text, CodePageRoundTripsAllBytes) {
    std::set<char16_t> seen;
    for (int b = 0; b < 256; ++b) {
        const char c = static_cast<char>(b);
        const char16_t u = AnsiToWide(c);
        EXPECT_TRUE(seen.insert(u).second) << "byte " << b << " shares its code unit";
        EXPECT_EQ(WideToAnsi(u), c) << "byte " << b;
    }
    EXPECT_EQ(AnsiToWide('\x80'), u'\u20AC');
    EXPECT_EQ(WideToAnsi(u'\u20AC'), '\x80');
    EXPECT_EQ(WideToAnsi(u'\u4E2D'), '?');
}

TEST(Text, TrimBlanksOnlyTrimsSpaces) {
    EXPECT_EQ(TrimBlanks("  a b  "), "a b");
    EXPECT_EQ(TrimBlanks("\ta\t"), "\ta\t");
    EXPECT_EQ(TrimBlanks("   "), "");
}

}  // namespace
}  // namespace qb::text
