// The Strings library's CString: buffer growth, string operations, file load
// and save, and the network members against a recording network.
#include "strings/CString.h"

#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <vector>

#include "platform/Platform.h"
#include "platform/memory/MemoryFileSystem.h"
#include "platform/memory/RecordingNetwork.h"
#include "tests/support/TempFolder.h"

namespace qb::strings {
namespace {

CString Of(std::u16string_view text) {
    CString s;
    s.append(text);
    return s;
}

std::string AllBytes() {
    std::string bytes;
    for (int i = 0; i < 256; ++i)
        bytes += static_cast<char>(i);
    return bytes;
}

TEST(CStringBuffer, NewObjectIsEmptyWithTheDefaultCapacity) {
    CString s;
    EXPECT_EQ(s.length(), 0);
    EXPECT_EQ(s.getCapacity(), 4096);
    EXPECT_EQ(s.toString(), u"");
    EXPECT_EQ(s.charAt(1), u"");
}

TEST(CStringBuffer, GrowsByFactorFourOnlyWhenFull) {
    CString s;
    s.append(std::u16string(4096, u'a'));
    EXPECT_EQ(s.getCapacity(), 4096);
    s.append(u"b");
    EXPECT_EQ(s.getCapacity(), 16384);
    s.setCapacity(100);
    EXPECT_EQ(s.getCapacity(), 16384);
    s.append(std::u16string(16383 - 4097, u'c'));
    EXPECT_EQ(s.length(), 16383);
    EXPECT_EQ(s.getCapacity(), 16384);
    s.append(u"d");  // a full buffer is fine; only the next append grows it
    EXPECT_EQ(s.getCapacity(), 16384);
    s.append(u"e");
    EXPECT_EQ(s.getCapacity(), 65536);
    EXPECT_EQ(s.charAt(4097), u"b");
    EXPECT_EQ(s.charAt(16384), u"d");
    EXPECT_EQ(s.charAt(16385), u"e");

    CString fresh;
    fresh.append(std::u16string(16383, u'x'));
    EXPECT_EQ(fresh.getCapacity(), 16384);
    CString exact;
    exact.append(std::u16string(16384, u'x'));  // growing always leaves room
    EXPECT_EQ(exact.getCapacity(), 65536);

    CString big;
    big.append(std::u16string(70000, u'x'));  // 4096 -> 16384 -> 65536 -> 262144 in one append
    EXPECT_EQ(big.getCapacity(), 262144);
}

TEST(CStringBuffer, SetCapacityGrowsExactlyAndClearResets) {
    CString s = Of(u"keep");
    s.setCapacity(5000);
    EXPECT_EQ(s.getCapacity(), 5000);
    EXPECT_EQ(s.toString(), u"keep");
    s.append(std::u16string(4996, u'z'));
    EXPECT_EQ(s.getCapacity(), 5000);
    s.append(u"!");  // 5001 characters: 5000 * 4
    EXPECT_EQ(s.getCapacity(), 20000);
    EXPECT_EQ(s.subStringVB(1, 4), u"keep");
    s.clear();
    EXPECT_EQ(s.getCapacity(), 4096);
    EXPECT_EQ(s.length(), 0);
    s.append(u"again");
    EXPECT_EQ(s.toString(), u"again");
}

TEST(CStringBuffer, CapacityBeyondTheSignedRangeIsAnOverflow) {
    EXPECT_EQ(GrownCapacity(4096, (int64_t{1} << 30) - 1, "t"), 1 << 30);
    try {
        GrownCapacity(4096, int64_t{1} << 30, "CString::append");
        FAIL() << "no overflow";
    } catch (const RunError& e) {
        EXPECT_EQ(e.Number(), err::kOverflow);
    }
    EXPECT_THROW(GrownCapacity(600000000, 600000001, "t"), RunError);
}

TEST(CStringPositions, CharAtAndSubStringsAreOneBasedAndInclusive) {
    const CString s = Of(u"hello");
    EXPECT_EQ(s.charAt(1), u"h");
    EXPECT_EQ(s.charAt(5), u"o");
    EXPECT_EQ(s.charAt(0), u"");
    EXPECT_EQ(s.charAt(6), u"");
    EXPECT_EQ(s.subStringVB(2, 4), u"ell");
    EXPECT_EQ(s.subStringVB(2), u"ello");
    EXPECT_EQ(s.subStringVB(4, 99), u"lo");
    EXPECT_EQ(s.subStringVB(3, 3), u"l");
    EXPECT_EQ(s.subStringVB(3, 2), u"");
    EXPECT_EQ(s.subStringVB(0, 3), u"");
    EXPECT_EQ(s.subStringVB(0), u"");
    EXPECT_EQ(s.subStringVB(6), u"");
    EXPECT_EQ(s.subString(2, 3).toString(), u"el");
    EXPECT_EQ(s.subString(2).toString(), u"ello");
}

TEST(CStringDerived, NewStringsLeaveTheBufferUnchanged) {
    const CString s = Of(u"  Hello World  ");
    EXPECT_EQ(s.replace(u"l", u"L").toString(), u"  HeLLo WorLd  ");
    EXPECT_EQ(s.replace(u"World", u"").toString(), u"  Hello   ");
    EXPECT_EQ(s.replace(u"", u"x").toString(), u"  Hello World  ");
    EXPECT_EQ(Of(u"aaa").replace(u"aa", u"b").toString(), u"ba");
    EXPECT_EQ(Of(u"aXa").replace(u"a", u"aa").toString(), u"aaXaa");
    EXPECT_EQ(s.trim().toString(), u"Hello World");
    EXPECT_EQ(Of(u"\t x \t").trim().toString(), u"\t x \t");
    EXPECT_EQ(s.toString(), u"  Hello World  ");
}

TEST(CStringDerived, CaseConversionFollowsTheCodePage) {
    // É/é, Š/š (U+0160/U+0161), Ÿ/ÿ (U+0178/U+00FF); Greek sigma has no byte and stays.
    const CString s = Of(u"Ab\u00C9\u0161\u0178z\u03A3");
    EXPECT_EQ(s.toLowerCase().toString(), u"ab\u00E9\u0161\u00FFz\u03A3");
    EXPECT_EQ(s.toUpperCase().toString(), u"AB\u00C9\u0160\u0178Z\u03A3");
    EXPECT_EQ(s.toString(), u"Ab\u00C9\u0161\u0178z\u03A3");
}

TEST(CStringDerived, ValueOfGivesTheDefaultTextForms) {
    CString s = Of(u"mine");
    EXPECT_EQ(s.valueOfLong(-5).toString(), u"-5");
    EXPECT_EQ(s.toString(), u"mine");
    EXPECT_EQ(CString::valueOfBool(true).toString(), u"True");
    EXPECT_EQ(CString::valueOfBool(false).toString(), u"False");
    EXPECT_EQ(CString::valueOfLong(INT32_MIN).toString(), u"-2147483648");
    EXPECT_EQ(CString::valueOfInt(-32768).toString(), u"-32768");
    EXPECT_EQ(CString::valueOfDouble(0.1).toString(), u"0.1");
    EXPECT_EQ(CString::valueOfDouble(1.0 / 3).toString(), u"0.333333333333333");
    EXPECT_EQ(CString::valueOfDouble(-2.5).toString(), u"-2.5");
    EXPECT_EQ(CString::valueOfDouble(123456789012345.0).toString(), u"123456789012345");
    EXPECT_EQ(CString::valueOfDouble(1e20).toString(), u"1E+20");
    EXPECT_EQ(CString::valueOfDouble(0.0).toString(), u"0");
    EXPECT_EQ(CString::valueOfDouble(0.0001).toString(), u"0.0001");
    EXPECT_EQ(CString::valueOfDouble(-0.00001).toString(), u"-1E-05");
    EXPECT_EQ(CString::valueOfSingle(1.0f / 3).toString(), u"0.3333333");
    EXPECT_EQ(CString::valueOfSingle(0.1f).toString(), u"0.1");
    EXPECT_EQ(CString::valueOfSingle(16777216.0f).toString(), u"1.677722E+07");
}

TEST(CStringCompare, EqualityIsExactOrUpperCaseFolded) {
    const CString s = Of(u"Hello"), same = Of(u"Hello"), lower = Of(u"hello");
    EXPECT_TRUE(s.equals(&same));
    EXPECT_FALSE(s.equals(&lower));
    EXPECT_FALSE(s.equals(nullptr));
    EXPECT_TRUE(s.equalsIgnoreCase(&lower));
    EXPECT_FALSE(s.equalsIgnoreCase(nullptr));
    EXPECT_TRUE(s.equalsVB(u"Hello"));
    EXPECT_FALSE(s.equalsVB(u"Hell"));
    EXPECT_TRUE(s.equalsIgnoreCaseVB(u"HELLO"));
    EXPECT_FALSE(s.equalsIgnoreCaseVB(u"HELLO!"));
    EXPECT_TRUE(Of(u"\u00E9").equalsIgnoreCaseVB(u"\u00C9"));
}

TEST(CStringCompare, CompareToIsThreeWay) {
    const CString a = Of(u"a"), b = Of(u"B"), a2 = Of(u"a"), ab = Of(u"ab");
    EXPECT_EQ(a.compareTo(&b), 1);  // 'a' (97) after 'B' (66)
    EXPECT_EQ(a.compareToIgnoreCase(&b), -1);
    EXPECT_EQ(b.compareTo(&a), -1);
    EXPECT_EQ(a.compareTo(&a2), 0);
    EXPECT_EQ(a.compareTo(&ab), -1);
    EXPECT_EQ(Of(u"ABC").compareToIgnoreCase(&ab), 1);
    EXPECT_EQ(a.compareTo(nullptr), -1);
    EXPECT_EQ(a.compareToIgnoreCase(nullptr), -1);
}

TEST(CStringCompare, StartsAndEndsWith) {
    const CString s = Of(u"hello"), he = Of(u"he"), lo = Of(u"lo"), empty;
    EXPECT_TRUE(s.startsWith(&he));
    EXPECT_FALSE(s.startsWith(&lo));
    EXPECT_TRUE(s.endsWith(&lo));
    EXPECT_FALSE(s.endsWith(&he));
    EXPECT_TRUE(s.startsWith(&empty));
    EXPECT_TRUE(s.endsWith(&empty));
    EXPECT_FALSE(s.startsWith(nullptr));
    EXPECT_FALSE(s.endsWith(nullptr));
    EXPECT_TRUE(s.startsWithVB(u"hello"));
    EXPECT_FALSE(s.startsWithVB(u"hello!"));
    EXPECT_FALSE(s.endsWithVB(u"LO"));
}

TEST(CStringSearch, FirstAndLastOccurrence) {
    const CString s = Of(u"hello"), l = Of(u"l"), ll = Of(u"ll");
    EXPECT_EQ(s.indexOfVB(u"l"), 3);
    EXPECT_EQ(s.lastIndexOfVB(u"l"), 4);
    EXPECT_EQ(s.indexOfVB(u"z"), -1);
    EXPECT_EQ(s.lastIndexOfVB(u"z"), -1);
    EXPECT_EQ(s.indexOf(&ll), 3);
    EXPECT_EQ(s.lastIndexOf(&l), 4);
    EXPECT_EQ(s.indexOfVB(u"L"), -1);
    EXPECT_EQ(s.indexOf(nullptr), -1);
    EXPECT_EQ(s.lastIndexOf(nullptr), -1);
    EXPECT_EQ(s.indexOfVB(u"hello!"), -1);
    EXPECT_EQ(CString().indexOfVB(u"a"), -1);
    EXPECT_EQ(s.indexOfVB(u""), 1);
    EXPECT_EQ(s.lastIndexOfVB(u""), 5);
}

TEST(CStringRegion, MatchesWithinBothTexts) {
    const CString s = Of(u"hello"), other = Of(u"hello"), upper = Of(u"xELLx");
    EXPECT_TRUE(s.regionMatches(false, 1, &other, 1, 5));
    EXPECT_FALSE(s.regionMatches(false, 2, &upper, 2, 3));
    EXPECT_TRUE(s.regionMatches(true, 2, &upper, 2, 3));
    EXPECT_TRUE(s.regionMatches(false, 5, &other, 1, 0));
}

TEST(CStringRegion, RaisesItsTwoErrors) {
    const CString s = Of(u"hello"), other = Of(u"hello");
    const auto expectError = [&](auto call, const std::string& description) {
        try {
            call();
            ADD_FAILURE() << "no error for " << description;
        } catch (const RunError& e) {
            EXPECT_EQ(e.Number(), -2147220992);
            EXPECT_EQ(e.Source(), "CString::regionMatches()");
            EXPECT_EQ(e.Description(), description);
        }
    };
    expectError([&] { s.regionMatches(false, 1, nullptr, 1, 1); }, "NullPointer Exeption");
    expectError([&] { s.regionMatches(false, 1, &other, 1, 6); }, "Index out of bounds");
    expectError([&] { s.regionMatches(false, 0, &other, 1, 1); }, "Index out of bounds");
    expectError([&] { s.regionMatches(false, 1, &other, 0, 1); }, "Index out of bounds");
    expectError([&] { s.regionMatches(false, 5, &other, 1, 2); }, "Index out of bounds");
    expectError([&] { s.regionMatches(false, 1, &other, 1, -1); }, "Index out of bounds");
}

TEST(CStringBytes, GetBytesCopiesARangeOrLeavesDstAlone) {
    const CString s = Of(u"he\u20ACl\u03A3");  // euro sign is byte 0x80; sigma has no byte
    std::string dst = "untouched";
    EXPECT_TRUE(s.getBytes(1, 5, dst));
    EXPECT_EQ(dst, "he\x80l?");
    dst = "untouched";
    EXPECT_FALSE(s.getBytes(2, 6, dst));
    EXPECT_FALSE(s.getBytes(0, 1, dst));
    EXPECT_FALSE(s.getBytes(3, 2, dst));
    EXPECT_EQ(dst, "untouched");
    std::vector<uint8_t> v;
    EXPECT_TRUE(s.getBytes(3, 3, v));
    EXPECT_EQ(v, std::vector<uint8_t>{0x80});
    EXPECT_TRUE(CString().toCharArray().empty());
    EXPECT_EQ(s.toCharArray(), (std::vector<uint8_t>{'h', 'e', 0x80, 'l', '?'}));
}

TEST(CStringHash, SumsPowersOfThirtyOneInDoublePrecision) {
    EXPECT_EQ(Of(u"ab").hashCode(), 97.0 * 31 + 98);
    EXPECT_EQ(CString().hashCode(), 0.0);
    EXPECT_EQ(Of(u"\u20AC").hashCode(), 128.0);  // the character's byte, not its code unit
    EXPECT_GT(Of(std::u16string(206, u'\u00FF')).hashCode(), 1e306);
    try {
        Of(std::u16string(208, u'\0')).hashCode();
        FAIL() << "no overflow at 208 characters";
    } catch (const RunError& e) {
        EXPECT_EQ(e.Number(), err::kOverflow);
    }
    std::u16string t(207, u'\0');
    t[0] = 10;
    EXPECT_GT(Of(t).hashCode(), 1e308);
    t[0] = 11;
    EXPECT_THROW(Of(t).hashCode(), RunError);
}

TEST(CStringFiles, LoadKeepsEveryByteAndLineEnd) {
    test::TempFolder dir;
    dir.Write("all.bin", AllBytes());
    dir.Write("text.txt", "one\r\ntwo\n");
    CString s;
    s.loadBinary(CString::FromBytes(dir.WinPath() + "\\all.bin"));
    ASSERT_EQ(s.length(), 256);
    std::string back;
    ASSERT_TRUE(s.getBytes(1, 256, back));
    EXPECT_EQ(back, AllBytes());
    EXPECT_EQ(s.charAt(0x80 + 1), u"\u20AC");
    s.load(CString::FromBytes(dir.WinPath() + "\\text.txt"));
    EXPECT_EQ(s.toString(), u"one\r\ntwo\n");
    EXPECT_EQ(s.getCapacity(), 4096);
}

TEST(CStringFiles, LoadFailuresLeaveTheBufferEmpty) {
    test::TempFolder dir;
    CString s = Of(std::u16string(5000, u'x'));
    s.load(CString::FromBytes(dir.WinPath() + "\\missing.txt"));
    EXPECT_EQ(s.length(), 0);
    EXPECT_EQ(s.getCapacity(), 4096);
    s.append(u"old");
    s.loadBinary(CString::FromBytes(dir.WinPath()));  // a folder
    EXPECT_EQ(s.length(), 0);
}

TEST(CStringFiles, SaveReplacesTheWholeFile) {
    test::TempFolder dir;
    const std::u16string path = CString::FromBytes(dir.WinPath() + "\\out.txt");
    EXPECT_TRUE(Of(u"a longer first content").save(path));
    EXPECT_TRUE(Of(u"short\u20AC\u03A3").save(path));
    EXPECT_EQ(dir.Read("out.txt"), "short\x80?");
    EXPECT_TRUE(CString().save(path));
    EXPECT_EQ(dir.Read("out.txt"), "");
    EXPECT_FALSE(Of(u"x").save(CString::FromBytes(dir.WinPath() + "\\no\\such\\folder\\f.txt")));
}

TEST(CStringFiles, SaveReportsAFailedWrite) {
    platform::MemoryFileSystem fs;
    platform::ScopedServices scope({.files = &fs});
    fs.SetWritesFail(true);
    EXPECT_FALSE(Of(u"data").save(u"C:\\out.txt"));
    fs.SetWritesFail(false);
    EXPECT_TRUE(Of(u"data").save(u"C:\\out.txt"));
    EXPECT_EQ(fs.Content("C:\\out.txt"), "data");
}

class CStringNet : public ::testing::Test {
  protected:
    platform::RecordingNetwork net;
    platform::ScopedServices scope{{.network = &net}};
};

TEST_F(CStringNet, LoadHttpJoinsHostAndFileWithOneSlash) {
    net.pages["http://example.org/dir/page.htm"] = "body \x80";
    CString s;
    s.loadHTTP(u"example.org/", u"/dir/page.htm");
    EXPECT_EQ(s.toString(), u"body \u20AC");
    s.loadHTTP(u"example.org", u"dir/page.htm");
    EXPECT_EQ(s.toString(), u"body \u20AC");
    s.loadHTTP(u"example.org//", u"//dir/page.htm");  // only one slash comes off each side
    EXPECT_EQ(s.length(), 0);
    ASSERT_EQ(net.downloads.size(), 3u);
    EXPECT_EQ(net.downloads[2].url, "http://example.org///dir/page.htm");
    EXPECT_EQ(net.downloads[0].agent, "Kestrane CString-Class");
}

TEST_F(CStringNet, LoadFtpPutsTheLoginBeforeTheHost) {
    net.pages["ftp://bob:pw@files.example.org/pub/a.txt"] = "A";
    net.pages["ftp://files.example.org/pub/a.txt"] = "anon";
    CString s;
    s.loadFTP(u"files.example.org/", u"bob", u"pw", u"/pub/a.txt");
    EXPECT_EQ(s.toString(), u"A");
    s.loadFTP(u"files.example.org", u"", u"ignored", u"pub/a.txt");
    EXPECT_EQ(s.toString(), u"anon");
}

TEST_F(CStringNet, FailedLoadsLeaveTheBufferEmpty) {
    CString s = Of(u"previous");
    s.loadHTTP(u"example.org", u"missing");
    EXPECT_EQ(s.length(), 0);
    s.append(u"previous");
    net.failWith = 7;
    s.loadFTP(u"h", u"u", u"p", u"f");
    EXPECT_EQ(s.length(), 0);
}

TEST_F(CStringNet, SaveFtpSendsChunksOf16384ToAPathFromTheRoot) {
    std::u16string content(40000, u'q');
    content[16383] = u'\u20AC';
    content[39999] = u'!';
    const CString s = Of(content);
    EXPECT_TRUE(s.saveFTP(u"ftp.example.org", u"bob", u"pw", u"out.txt"));
    ASSERT_EQ(net.uploads.size(), 1u);
    const auto& up = net.uploads[0];
    EXPECT_EQ(up.host, "ftp.example.org");
    EXPECT_EQ(up.user, "bob");
    EXPECT_EQ(up.password, "pw");
    EXPECT_EQ(up.path, "/out.txt");
    EXPECT_EQ(up.agent, "Kestrane CString-Class");
    ASSERT_EQ(up.chunks.size(), 3u);
    EXPECT_EQ(up.chunks[0].size(), 16384u);
    EXPECT_EQ(up.chunks[1].size(), 16384u);
    EXPECT_EQ(up.chunks[2].size(), 7232u);
    EXPECT_EQ(up.chunks[0].back(), '\x80');
    EXPECT_EQ(up.chunks[2].back(), '!');

    EXPECT_TRUE(s.saveFTP(u"ftp.example.org", u"", u"", u"/up/x.txt"));
    EXPECT_EQ(net.uploads[1].user, "ftp");
    EXPECT_NE(net.uploads[1].password.find('@'), std::string::npos);
    EXPECT_EQ(net.uploads[1].path, "/up/x.txt");
    EXPECT_TRUE(MInet::LastDiagnostic().empty());
}

TEST_F(CStringNet, SaveFtpGivesFalseWhenTheUploadFails) {
    net.failWith = 67;
    EXPECT_FALSE(Of(u"x").saveFTP(u"h", u"u", u"bad", u"f.txt"));
    EXPECT_EQ(MInet::LastDiagnostic(),
              "InternetWriteFile error code: 67 Message: recorded error 67");
}

}  // namespace
}  // namespace qb::strings
