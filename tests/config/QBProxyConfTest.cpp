#include "scanner/config/QBProxyConf.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/Platform.h"
#include "platform/memory/MemoryFileSystem.h"
#include "platform/memory/RecordingUserInterface.h"

namespace qb::config {
namespace {

using Strings = std::vector<std::string>;
constexpr const char* kFolder = "C:\\Quellbox";
constexpr const char* kPath = "C:\\Proxy\\quellbox.conf";
constexpr const char* kDefault = "C:\\Quellbox\\conf\\default_quellbox.conf";

class QBProxyConfTest : public ::testing::Test {
  protected:
    void Open(const std::string& content) {
        fs.PutFile(kPath, content);
        proxy.SetConfigurationFile(kPath);
        proxy.Load();
    }

    platform::MemoryFileSystem fs;
    platform::RecordingUserInterface ui;
    platform::ScopedServices scope{{.files = &fs, .ui = &ui}};
    QBProxyConf proxy{kFolder};
};

TEST(SplitAtDelimitersTest, TrimsPiecesOnceADelimiterIsFound) {
    EXPECT_EQ(SplitAtDelimiters("smtp1, smtp2:587", {","}), (Strings{"smtp1", "smtp2:587"}));
    EXPECT_EQ(SplitAtDelimiters("  whole piece  ", {","}), (Strings{"  whole piece  "}));
    EXPECT_EQ(SplitAtDelimiters(" a ,, b ,", {","}), (Strings{"a", "", "b", ""}));
    EXPECT_EQ(SplitAtDelimiters("a;b,c", {",", ";"}), (Strings{"a", "b", "c"}));
    EXPECT_EQ(SplitAtDelimiters("", {","}), (Strings{""}));
}

TEST_F(QBProxyConfTest, ServersWithAndWithoutPorts) {
    Open("outgoing_server=smtp2:587, smtp1\r\n");
    EXPECT_EQ(proxy.Get_Outgoing_Servers(), (Strings{"smtp1:25", "smtp2:587"}));
    EXPECT_EQ(proxy.Get_Outgoing_Ports(), (Strings{"25", "587"}));
    EXPECT_TRUE(proxy.OutgoingServerExists("SMTP1", "25"));
    EXPECT_FALSE(proxy.UseDefaultConf());
}

TEST_F(QBProxyConfTest, DoubledCommaGivesAnEmptyServer) {
    Open("outgoing_server=a,,b\r\n");
    EXPECT_EQ(proxy.Get_Outgoing_Servers(), (Strings{":25", "a:25", "b:25"}));
}

TEST_F(QBProxyConfTest, ThresholdsDefaultTo90AndReachTheFileOnSave) {
    Open("# proxy\r\nspam_flag_threshold=70\r\n");
    EXPECT_EQ(proxy.GetValue("spam_flag_threshold"), "70");
    EXPECT_EQ(proxy.GetValue("spam_subject_threshold"), "90");
    EXPECT_EQ(proxy.GetValue("spam_reject_threshold"), "90");
    EXPECT_EQ(fs.Content(kPath), "# proxy\r\nspam_flag_threshold=70\r\n");
    proxy.Save();
    EXPECT_EQ(fs.Content(kPath),
              "# proxy\r\nspam_flag_threshold=70\r\nspam_reject_threshold=90\r\n"
              "spam_subject_threshold=90\r\n");
}

TEST_F(QBProxyConfTest, SaveRewritesServersInKeyOrderWithoutSpaces) {
    Open("outgoing_server= zeta:2525 ,alpha\r\nspam_flag_threshold=1\r\n");
    proxy.Save();
    EXPECT_EQ(fs.Content(kPath),
              "outgoing_server=alpha:25,zeta:2525\r\nspam_flag_threshold=1\r\n"
              "spam_reject_threshold=90\r\nspam_subject_threshold=90\r\n");
    proxy.RemoveOutgoingServer("ALPHA:25");
    proxy.RemoveOutgoingServer("zeta:2525");
    proxy.Save();
    EXPECT_EQ(fs.Content(kPath),
              "spam_flag_threshold=1\r\nspam_reject_threshold=90\r\nspam_subject_threshold=90\r\n");
}

TEST_F(QBProxyConfTest, AddOutgoingServerCodes) {
    Open("");
    std::string host = "mail.example.com", port = "  ";
    EXPECT_EQ(proxy.AddOutgoingServer(host, port), server::kAdded);
    EXPECT_EQ(port, "25");
    EXPECT_EQ(proxy.AddOutgoingServer(host, port), server::kAlreadyPresent);
    std::string blank = "   ", anyPort = "1";
    EXPECT_EQ(proxy.AddOutgoingServer(blank, anyPort), server::kHostBlank);
    std::string spaced = " h ", p = "26";
    EXPECT_EQ(proxy.AddOutgoingServer(spaced, p), server::kAdded);
    EXPECT_EQ(proxy.Get_Outgoing_Servers(), (Strings{" h :26", "mail.example.com:25"}));
}

TEST_F(QBProxyConfTest, LoadingTwiceAddsServersTwice) {
    Open("outgoing_server=a\r\n");
    proxy.Load();
    EXPECT_EQ(proxy.Get_Outgoing_Servers(), (Strings{"a:25", "a:25"}));
}

TEST_F(QBProxyConfTest, MissingFileIsCopiedFromTheDefault) {
    fs.PutFile(kDefault, "outgoing_server=d\r\n");
    proxy.SetConfigurationFile(kPath);
    EXPECT_TRUE(proxy.UseDefaultConf());
    EXPECT_EQ(fs.Content(kPath), "outgoing_server=d\r\n");
    proxy.Load();
    EXPECT_EQ(proxy.Get_Outgoing_Servers(), (Strings{"d:25"}));
    EXPECT_TRUE(ui.boxes.empty());
}

TEST_F(QBProxyConfTest, MissingFileAndDefaultShowMessage) {
    proxy.SetConfigurationFile(kPath);
    ASSERT_EQ(ui.boxes.size(), 1u);
    EXPECT_EQ(ui.boxes[0].text, "Can not find default_quellbox.conf");
    EXPECT_EQ(ui.boxes[0].style, platform::mb::kOk);
    EXPECT_FALSE(proxy.UseDefaultConf());
    proxy.Load();
    EXPECT_TRUE(proxy.Get_Outgoing_Servers().empty());
    EXPECT_EQ(proxy.GetValue("spam_flag_threshold"), "90");
}

TEST_F(QBProxyConfTest, FailedCopyRaises) {
    fs.PutFile(kDefault, "x=1\r\n");
    fs.SetWritesFail(true);
    EXPECT_THROW(proxy.SetConfigurationFile(kPath), RunError);
    EXPECT_FALSE(proxy.UseDefaultConf());
}

TEST_F(QBProxyConfTest, WriteValueGoesStraightToTheFile) {
    Open("a=1\r\n");
    proxy.WriteValue("a", "2");
    EXPECT_EQ(fs.Content(kPath), "a=2\r\n");
    proxy.SetValue("b", "3");
    EXPECT_EQ(proxy.GetValue("b"), "3");
}

}  // namespace
}  // namespace qb::config
