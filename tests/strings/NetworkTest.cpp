// The network members of CString against real HTTP and FTP servers on
// 127.0.0.1, started for each test and stopped by process id: the exact
// requests that reach the servers and the bytes that arrive.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <string>

#include "platform/Platform.h"
#include "platform/posix/network/CurlNetwork.h"
#include "strings/CString.h"
#include "tests/strings/LocalServers.h"

namespace qb::strings {
namespace {

std::u16string U(const std::string& bytes) {
    return CString::FromBytes(bytes);
}

std::string AllBytes() {
    std::string bytes;
    for (int i = 0; i < 256; ++i)
        bytes += static_cast<char>(i);
    return bytes;
}

class CStringOverNetwork : public ::testing::Test {
  protected:
    CStringOverNetwork() {
        ::setenv("NO_PROXY", "127.0.0.1,localhost", 1);
        ::setenv("no_proxy", "127.0.0.1,localhost", 1);
    }

    // Lines of a server's log that start with prefix.
    std::vector<std::string> Logged(const std::string& log, const std::string& prefix) const {
        std::vector<std::string> out;
        const std::string text = servers.Root().Read(log);
        size_t from = 0;
        for (size_t end; (end = text.find('\n', from)) != std::string::npos; from = end + 1) {
            const std::string line = text.substr(from, end - from);
            if (line.rfind(prefix, 0) == 0)
                out.push_back(line);
        }
        return out;
    }

    test::LocalServers servers;
    platform::CurlNetwork net{{.connectSeconds = 3, .stallSeconds = 2}};
    platform::ScopedServices scope{{.network = &net}};
};

TEST_F(CStringOverNetwork, LoadHttpRequestsTheJoinedPathWithoutCache) {
    servers.Root().Write("http/dir/page.bin", AllBytes() + "\r\nend");
    CString s;
    s.loadHTTP(U(servers.Http() + "/"), u"/dir/page.bin");
    std::string bytes;
    ASSERT_TRUE(s.getBytes(1, s.length(), bytes));
    EXPECT_EQ(bytes, AllBytes() + "\r\nend");
    s.loadHTTP(U(servers.Http()), u"dir/page.bin");
    EXPECT_EQ(s.length(), 261);
    EXPECT_EQ(Logged("http.log", "GET "), (std::vector<std::string>{"GET /dir/page.bin HTTP/1.1",
                                                                    "GET /dir/page.bin HTTP/1.1"}));
    EXPECT_EQ(Logged("http.log", "User-Agent: ")[0], "User-Agent: Kestrane CString-Class");
    EXPECT_EQ(Logged("http.log", "Cache-Control: ")[0], "Cache-Control: no-cache");
    EXPECT_EQ(Logged("http.log", "Pragma: ")[0], "Pragma: no-cache");
}

TEST_F(CStringOverNetwork, LoadHttpFollowsRedirectsAndEmptiesOnErrors) {
    servers.Root().Write("http/hello.txt", "hello");
    CString s;
    s.loadHTTP(U(servers.Http()), u"moved");
    EXPECT_EQ(s.toString(), u"hello");
    s.loadHTTP(U(servers.Http()), u"status/404");
    EXPECT_EQ(s.length(), 0);  // the error page is not content
    s.append(u"old");
    s.loadHTTP(U(servers.Http()), u"status/500");
    EXPECT_EQ(s.length(), 0);
    s.append(u"old");
    s.loadHTTP(U(servers.Http()), u"no-such-file");
    EXPECT_EQ(s.length(), 0);
}

TEST_F(CStringOverNetwork, DeadServersFailWithinTheTimeouts) {
    const auto start = std::chrono::steady_clock::now();
    CString s;
    s.append(u"old");
    s.loadHTTP(U(servers.Silent()), u"never.txt");  // accepts, never answers
    EXPECT_EQ(s.length(), 0);
    s.append(u"old");
    s.loadFTP(U(servers.Silent()), u"", u"", u"never.txt");
    EXPECT_EQ(s.length(), 0);
    EXPECT_FALSE(s.saveFTP(U(servers.Silent()), u"alice", u"s3cret", u"never.txt"));
    s.loadHTTP(u"127.0.0.1:1", u"refused.txt");
    EXPECT_EQ(s.length(), 0);
    const auto seconds =
        std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now() - start)
            .count();
    EXPECT_LT(seconds, 20);
}

TEST_F(CStringOverNetwork, UnreachableHostsFailAfterTheConnectTimeout) {
    const auto start = std::chrono::steady_clock::now();
    CString s;
    s.append(u"old");
    s.loadHTTP(U(servers.Unreachable()), u"never.txt");
    EXPECT_EQ(s.length(), 0);
    EXPECT_FALSE(s.saveFTP(U(servers.Unreachable()), u"alice", u"s3cret", u"never.txt"));
    EXPECT_EQ(MInet::LastDiagnostic().rfind("InternetWriteFile error code: 28 ", 0), 0u)
        << MInet::LastDiagnostic();
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_GE(seconds, 2 * 3 - 0.5);  // the connect timeout of 3 s, twice
    EXPECT_LT(seconds, 15);
}

TEST_F(CStringOverNetwork, LoadFtpWithUserAndAnonymously) {
    servers.Root().Write("ftp/alice/pub/a.bin", AllBytes());
    servers.Root().Write("ftp/anon/readme.txt", "anonymous\r\n");
    CString s;
    s.loadFTP(U(servers.Ftp() + "/"), u"alice", u"s3cret", u"/pub/a.bin");
    const std::string all = AllBytes();
    EXPECT_EQ(s.toCharArray(), std::vector<uint8_t>(all.begin(), all.end()));
    EXPECT_EQ(Logged("ftp.log", "USER ")[0], "USER alice");
    s.loadFTP(U(servers.Ftp()), u"", u"ignored", u"readme.txt");
    EXPECT_EQ(s.toString(), u"anonymous\r\n");
    EXPECT_EQ(Logged("ftp.log", "USER ")[1], "USER anonymous");
    const auto retr = Logged("ftp.log", "RETR ");
    ASSERT_EQ(retr.size(), 2u);
    EXPECT_EQ(retr[0], "RETR a.bin");  // after changing into pub
    EXPECT_EQ(retr[1], "RETR readme.txt");
}

TEST_F(CStringOverNetwork, LoadFtpFailuresLeaveTheBufferEmpty) {
    servers.Root().Write("ftp/alice/a.txt", "A");
    CString s;
    s.append(u"old");
    s.loadFTP(U(servers.Ftp()), u"alice", u"wrong", u"a.txt");
    EXPECT_EQ(s.length(), 0);
    s.append(u"old");
    s.loadFTP(U(servers.Ftp()), u"alice", u"s3cret", u"missing.txt");
    EXPECT_EQ(s.length(), 0);
}

TEST_F(CStringOverNetwork, SaveFtpUploadsPassiveAsciiToThePathFromTheRoot) {
    std::string content;
    for (int i = 0; i < 40000; ++i)
        content += static_cast<char>('a' + i % 26);
    content[100] = '\x80';
    CString s;
    s.append(U(content));
    EXPECT_TRUE(s.saveFTP(U(servers.Ftp()), u"alice", u"s3cret", u"out.txt"));
    EXPECT_EQ(servers.Root().Read("ftp/alice/out.txt"), content);
    const auto type = Logged("ftp.log", "TYPE ");
    ASSERT_FALSE(type.empty());
    EXPECT_EQ(type.back(), "TYPE A");
    EXPECT_EQ(Logged("ftp.log", "STOR "), (std::vector<std::string>{"STOR /out.txt"}));
    EXPECT_EQ(Logged("ftp.log", "PORT ").size() + Logged("ftp.log", "EPRT ").size(), 0u);
    EXPECT_EQ(Logged("ftp.log", "PASV").size() + Logged("ftp.log", "EPSV").size(), 1u);

    // A shorter content replaces the file entirely.
    CString shorter;
    shorter.append(u"short");
    EXPECT_TRUE(shorter.saveFTP(U(servers.Ftp()), u"alice", u"s3cret", u"/out.txt"));
    EXPECT_EQ(servers.Root().Read("ftp/alice/out.txt"), "short");
}

TEST_F(CStringOverNetwork, SaveFtpAnonymouslyAndItsFailures) {
    CString s;
    s.append(u"for anyone");
    EXPECT_TRUE(s.saveFTP(U(servers.Ftp()), u"", u"", u"in.txt"));
    EXPECT_EQ(servers.Root().Read("ftp/anon/in.txt"), "for anyone");
    EXPECT_EQ(Logged("ftp.log", "USER ")[0], "USER ftp");

    EXPECT_FALSE(s.saveFTP(U(servers.Ftp()), u"alice", u"wrong", u"x.txt"));
    EXPECT_EQ(MInet::LastDiagnostic().rfind("InternetWriteFile error code: 67 Message: ", 0), 0u)
        << MInet::LastDiagnostic();
    EXPECT_FALSE(s.saveFTP(U(servers.Ftp()), u"alice", u"s3cret", u"no/such/folder/x.txt"));
    EXPECT_FALSE(servers.Root().Exists("ftp/alice/x.txt"));
    EXPECT_FALSE(servers.Root().Exists("ftp/alice/no"));
}

}  // namespace
}  // namespace qb::strings
