// Expansion of %NAME% references, as the posix environment and the test
// double do it.
#include <gtest/gtest.h>
#include <stdlib.h>

#include "platform/Environment.h"
#include "platform/Platform.h"
#include "platform/memory/MemoryEnvironment.h"
#if defined(_WIN32)
#include "platform/win32/WinApi.h"
#else
#include "platform/posix/PosixEnvironment.h"
#endif

namespace qb::platform {
namespace {

TEST(Environment, ExpandsDefinedReferencesAndKeepsTheRest) {
    MemoryEnvironment env;
    env.Set("USERPROFILE", "C:\\Users\\jo");
    env.Set("PATH", "p");
    EXPECT_EQ(env.Expand("%UserProfile%\\Local Settings"), "C:\\Users\\jo\\Local Settings");
    EXPECT_EQ(env.Expand("%OS%"), "%OS%");
    EXPECT_EQ(env.Expand("%NO%PATH%"), "%NOp");
    EXPECT_EQ(env.Expand("100%"), "100%");
    EXPECT_EQ(env.Expand("%%PATH%%"), "%p%");
    EXPECT_EQ(env.Expand("a%PATH%b%PATH%"), "apbp");
    // Expansions are never cut short.
    env.Set("LONG", std::string(3000, 'x'));
    EXPECT_EQ(env.Expand("%LONG%%LONG%").size(), 6000u);
    EXPECT_EQ(env.Entries(), (std::vector<std::string>{"USERPROFILE=C:\\Users\\jo", "PATH=p",
                                                       "LONG=" + std::string(3000, 'x')}));
}

#if defined(_WIN32)
TEST(Environment, WindowsExpandsThroughTheSystem) {
    ASSERT_TRUE(::SetEnvironmentVariableA("QB_TEST_VARIABLE", "value"));
    ::SetEnvironmentVariableA("QB_TEST_UNDEFINED", nullptr);
    Environment& env = DefaultEnvironment();
    EXPECT_EQ(env.Expand("[%qb_test_variable%][%QB_TEST_UNDEFINED%]"),
              "[value][%QB_TEST_UNDEFINED%]");
    // Longer than any fixed buffer would hold.
    const std::string longValue(5000, 'x');
    ASSERT_TRUE(::SetEnvironmentVariableA("QB_TEST_LONG", longValue.c_str()));
    EXPECT_EQ(env.Expand("%QB_TEST_LONG%-%QB_TEST_LONG%"), longValue + "-" + longValue);
    bool found = false;
    for (const std::string& e : env.Entries())
        found = found || e == "QB_TEST_VARIABLE=value";
    EXPECT_TRUE(found);
    EXPECT_TRUE(env.NtFamily());
    EXPECT_FALSE(env.UserName().empty());
    ::SetEnvironmentVariableA("QB_TEST_VARIABLE", nullptr);
    ::SetEnvironmentVariableA("QB_TEST_LONG", nullptr);
}
#else
TEST(Environment, PosixUsesTheProcessEnvironment) {
    ::setenv("QB_TEST_VARIABLE", "value", 1);
    ::unsetenv("QB_TEST_UNDEFINED");
    PosixEnvironment env;
    EXPECT_EQ(env.Expand("[%qb_test_variable%][%QB_TEST_UNDEFINED%]"),
              "[value][%QB_TEST_UNDEFINED%]");
    bool found = false;
    for (const std::string& e : env.Entries())
        found = found || e == "QB_TEST_VARIABLE=value";
    EXPECT_TRUE(found);
    EXPECT_TRUE(env.NtFamily());
    ::setenv("USERNAME", "someone", 1);
    EXPECT_EQ(env.UserName(), "someone");
    ::unsetenv("USERNAME");
    EXPECT_FALSE(env.UserName().empty());
    ::unsetenv("QB_TEST_VARIABLE");
}
#endif

}  // namespace
}  // namespace qb::platform
