// The network members of CString over WinINet, against the HTTP and FTP
// servers of local_servers.py that scripts/windows-test starts on the Linux
// side for the whole run: QB_TEST_SERVERS holds "http=P ftp=P silent=P",
// QB_TEST_SERVERS_ROOT the servers' folder as a Windows path. Each test
// reads only the log lines written since it began.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "platform/Network.h"
#include "platform/Platform.h"
#include "strings/CString.h"
#include "strings/MInet.h"

namespace qb::strings {
namespace {

std::u16string U(const std::string& bytes) {
    return CString::FromBytes(bytes);
}

std::string ReadAll(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

class WinInetNetwork : public ::testing::Test {
  protected:
    void SetUp() override {
        const char* servers = std::getenv("QB_TEST_SERVERS");
        const char* root = std::getenv("QB_TEST_SERVERS_ROOT");
        if (!servers || !root ||
            std::sscanf(servers, "http=%d ftp=%d silent=%d", &http_, &ftp_, &silent_) != 3)
            GTEST_SKIP() << "QB_TEST_SERVERS and QB_TEST_SERVERS_ROOT name no servers";
        root_ = root;
        httpLogStart_ = ReadAll(root_ / "http.log").size();
        ftpLogStart_ = ReadAll(root_ / "ftp.log").size();
    }

    std::string Http() const { return "127.0.0.1:" + std::to_string(http_); }
    std::string Ftp() const { return "127.0.0.1:" + std::to_string(ftp_); }

    void Put(const std::string& name, const std::string& content) const {
        std::filesystem::create_directories((root_ / name).parent_path());
        std::ofstream(root_ / name, std::ios::binary) << content;
    }
    std::string Get(const std::string& name) const { return ReadAll(root_ / name); }

    // Lines of a server's log since the test began that start with prefix.
    std::vector<std::string> Logged(const std::string& log, const std::string& prefix) const {
        const std::string text =
            ReadAll(root_ / log).substr(log == "http.log" ? httpLogStart_ : ftpLogStart_);
        std::vector<std::string> out;
        size_t from = 0;
        for (size_t end; (end = text.find('\n', from)) != std::string::npos; from = end + 1) {
            std::string line = text.substr(from, end - from);
            if (line.rfind(prefix, 0) == 0)
                out.push_back(line);
        }
        return out;
    }

    int http_ = 0, ftp_ = 0, silent_ = 0;
    std::filesystem::path root_;
    size_t httpLogStart_ = 0, ftpLogStart_ = 0;
};

std::string AllBytes() {
    std::string bytes;
    for (int i = 0; i < 256; ++i)
        bytes += static_cast<char>(i);
    return bytes;
}

TEST_F(WinInetNetwork, LoadHttpGetsTheJoinedPathFromTheOrigin) {
    Put("http/win/page.bin", AllBytes() + "\r\nend");
    CString s;
    s.loadHTTP(U(Http() + "/"), u"/win/page.bin");
    std::string bytes;
    ASSERT_TRUE(s.getBytes(1, s.length(), bytes));
    EXPECT_EQ(bytes, AllBytes() + "\r\nend");
    EXPECT_EQ(Logged("http.log", "GET "), (std::vector<std::string>{"GET /win/page.bin HTTP/1.1"}));
    EXPECT_EQ(Logged("http.log", "User-Agent: ")[0], "User-Agent: Kestrane CString-Class");
    // INTERNET_FLAG_RELOAD: each load asks the server again, never a cached copy.
    Put("http/win/page.bin", "changed");
    s.loadHTTP(U(Http()), u"win/page.bin");
    EXPECT_EQ(s.toString(), u"changed");
    EXPECT_EQ(Logged("http.log", "GET ").size(), 2u);
}

TEST_F(WinInetNetwork, ErrorPagesAndFailuresLeaveTheBufferEmpty) {
    CString s;
    s.append(u"old");
    s.loadHTTP(U(Http()), u"status/404");
    EXPECT_EQ(s.length(), 0) << "an error page is no content";
    s.append(u"old");
    s.loadHTTP(U(Http()), u"status/500");
    EXPECT_EQ(s.length(), 0);
    s.append(u"old");
    s.loadHTTP(u"127.0.0.1:1", u"refused.txt");
    EXPECT_EQ(s.length(), 0);

    std::string body = "x";
    platform::Network& net = platform::Net();
    const int32_t rc = net.Download("http://" + Http() + "/status/404", MInet::kAgent, body);
    EXPECT_NE(rc, 0);
    EXPECT_TRUE(body.empty());
    EXPECT_EQ(net.ErrorText(rc), "HTTP status 404");
    const int32_t refused = net.Download("http://127.0.0.1:1/x", MInet::kAgent, body);
    EXPECT_GE(refused, 12000);  // a WinINet error number
    EXPECT_LT(refused, 13000);
    EXPECT_FALSE(net.ErrorText(refused).empty());
    EXPECT_NE(net.Download("gopher://127.0.0.1/x", MInet::kAgent, body), 0);
}

TEST_F(WinInetNetwork, LoadFtpWithUserAndAnonymously) {
    Put("ftp/alice/pub/w.bin", AllBytes());
    Put("ftp/anon/wreadme.txt", "anonymous\r\n");
    CString s;
    s.loadFTP(U(Ftp()), u"alice", u"s3cret", u"/pub/w.bin");
    const std::string all = AllBytes();
    EXPECT_EQ(s.toCharArray(), std::vector<uint8_t>(all.begin(), all.end()));
    s.loadFTP(U(Ftp()), u"", u"ignored", u"wreadme.txt");
    EXPECT_EQ(s.toString(), u"anonymous\r\n");
    const auto users = Logged("ftp.log", "USER ");
    ASSERT_EQ(users.size(), 2u);
    EXPECT_EQ(users[0], "USER alice");
    EXPECT_EQ(users[1], "USER anonymous");
    s.append(u"old");
    s.loadFTP(U(Ftp()), u"alice", u"wrong", u"pub/w.bin");
    EXPECT_EQ(s.length(), 0);
}

TEST_F(WinInetNetwork, SaveFtpUploadsPassiveAsciiToThePathFromTheRoot) {
    std::string content;
    for (int i = 0; i < 40000; ++i)
        content += static_cast<char>('a' + i % 26);
    content[100] = '\x80';
    CString s;
    s.append(U(content));
    EXPECT_TRUE(s.saveFTP(U(Ftp()), u"alice", u"s3cret", u"wout.txt"));
    EXPECT_EQ(Get("ftp/alice/wout.txt"), content);
    const auto type = Logged("ftp.log", "TYPE ");
    ASSERT_FALSE(type.empty());
    EXPECT_EQ(type.back(), "TYPE A");
    EXPECT_EQ(Logged("ftp.log", "STOR "), (std::vector<std::string>{"STOR /wout.txt"}));
    EXPECT_EQ(Logged("ftp.log", "PORT ").size() + Logged("ftp.log", "EPRT ").size(), 0u);

    CString other;
    other.append(u"for anyone");
    EXPECT_TRUE(other.saveFTP(U(Ftp()), u"", u"", u"win.txt"));
    EXPECT_EQ(Get("ftp/anon/win.txt"), "for anyone");

    EXPECT_FALSE(other.saveFTP(U(Ftp()), u"alice", u"wrong", u"x.txt"));
    EXPECT_EQ(MInet::LastDiagnostic().rfind("InternetWriteFile error code: ", 0), 0u)
        << MInet::LastDiagnostic();
    EXPECT_FALSE(other.saveFTP(U(Ftp()), u"alice", u"s3cret", u"no/such/folder/x.txt"));
}

}  // namespace
}  // namespace qb::strings
