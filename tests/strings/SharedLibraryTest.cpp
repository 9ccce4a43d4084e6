// The class as callers of the Strings shared library see it: its own
// platform services (files, network) and nothing of the caller's.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "strings/CString.h"
#include "tests/strings/LocalServers.h"
#include "tests/support/TempFolder.h"

namespace qb::strings {
namespace {

TEST(StringsLibrary, SavesAndLoadsFilesThroughItsOwnPlatform) {
    test::TempFolder dir;
    CString s;
    for (int i = 0; i < 256; ++i)
        s.append(std::u16string(1, text::AnsiToWide(static_cast<char>(i))));
    const std::u16string path = CString::FromBytes(dir.WinPath() + "\\all.bin");
    ASSERT_TRUE(s.save(path));
    CString back;
    back.loadBinary(path);
    EXPECT_TRUE(back.equals(&s));
    EXPECT_THROW(back.hashCode(), RunError);  // 256 characters leave the double range
    back.clear();
    EXPECT_EQ(back.getCapacity(), 4096);
}

TEST(StringsLibrary, LoadsOverHttpWithItsOwnClient) {
    ::setenv("NO_PROXY", "127.0.0.1,localhost", 1);
    ::setenv("no_proxy", "127.0.0.1,localhost", 1);
    test::LocalServers servers;
    servers.Root().Write("http/page.txt", "from the library");
    CString s;
    s.loadHTTP(CString::FromBytes(servers.Http()), u"page.txt");
    EXPECT_EQ(s.toString(), u"from the library");
}

}  // namespace
}  // namespace qb::strings
