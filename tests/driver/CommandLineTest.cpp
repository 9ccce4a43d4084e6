#include <gtest/gtest.h>

#include "platform/Platform.h"
#include "platform/memory/FakeInstance.h"
#include "scanner/driver/Driver.h"

namespace qb::driver {
namespace {

class CommandLine : public ::testing::Test {
  protected:
    void Use(const std::string& line) { program.commandLine = line; }
    std::vector<std::string> Args() {
        std::vector<std::string> args;
        for (int16_t n = 1; n <= ArgCount(); ++n)
            args.push_back(GetArg(n));
        return args;
    }

    platform::FakeInstance program;
    platform::ScopedServices scope{{.instance = &program}};
};

using List = std::vector<std::string>;

TEST_F(CommandLine, SplitsAtBlanksOnly) {
    Use("  -show\tx   y ");
    EXPECT_EQ(ArgCount(), 2);
    EXPECT_EQ(Args(), (List{"-show\tx", "y"}));
    EXPECT_EQ(GetArg(3), "");
    EXPECT_EQ(GetArg(0), "");
    Use("   ");
    EXPECT_EQ(ArgCount(), 0);
    Use("");
    EXPECT_EQ(ArgCount(), 0);
}

TEST_F(CommandLine, QuotesGroupAndNeverAppear) {
    Use("\"a b\" c");
    EXPECT_EQ(Args(), (List{"a b", "c"}));
    // The closing quote ends the argument; the next character starts another.
    Use("\"a\"b");
    EXPECT_EQ(Args(), (List{"a", "b"}));
    // A quote inside an unquoted argument is dropped but does not end it.
    Use("ab\"c d");
    EXPECT_EQ(Args(), (List{"abc", "d"}));
    // An argument still open at the end counts.
    Use("x \"open quote");
    EXPECT_EQ(Args(), (List{"x", "open quote"}));
    Use("\"\"");
    EXPECT_EQ(ArgCount(), 1);
    EXPECT_EQ(GetArg(1), "");
}

TEST_F(CommandLine, ShowSwitchInAnyCaseOrQuoted) {
    for (const char* line : {"-show", "-SHOW", "-Show", "\"-show\"", "x -sHoW y"}) {
        Use(line);
        gShowStatus = false;
        ParseCommandLine();
        EXPECT_TRUE(gShowStatus) << line;
    }
    for (const char* line : {"/show", "show", "--show", "-show2", "\"-show \""}) {
        Use(line);
        gShowStatus = true;
        ParseCommandLine();
        EXPECT_FALSE(gShowStatus) << line;
    }
}

TEST(FormatEmail, TrimsLowersAndDropsOneBracketAtEachEnd) {
    EXPECT_EQ(FormatEmail("  <John@Example.COM>  "), "john@example.com");
    EXPECT_EQ(FormatEmail(""), "");
    EXPECT_EQ(FormatEmail("   "), "");
    EXPECT_EQ(FormatEmail("<"), "");
    EXPECT_EQ(FormatEmail("<>"), "");
    EXPECT_EQ(FormatEmail("<< a >>"), "< a >");
    // A display name before the bracket keeps its "<"; only the ">" goes.
    EXPECT_EQ(FormatEmail("Joe Bloggs <JOE@x.org>"), "joe bloggs <joe@x.org");
    EXPECT_EQ(FormatEmail("\xC9MILE@X.FR"), "\xE9mile@x.fr");
    EXPECT_EQ(FormatEmail("\ta@b\t"), "\ta@b\t") << "only blanks are trimmed";
    std::string reused = "a longer address made before";
    FormatEmail(" <Ann@B.C> ", reused);
    EXPECT_EQ(reused, "ann@b.c") << "the buffer holds the new address only";
}

}  // namespace
}  // namespace qb::driver
