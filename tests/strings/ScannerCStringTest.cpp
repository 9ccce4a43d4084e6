// The scanner's copy of CString: bytes held as they are, its trace and error
// lines, and its loadBinary with the scan limit and the free-memory test.
#include "strings/ScannerCString.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/Platform.h"
#include "platform/SystemInfo.h"
#include "platform/memory/FixedSystemInfo.h"
#include "platform/memory/MemoryFileSystem.h"
#include "tests/support/ReportCapture.h"
#include "tests/support/TempFolder.h"

namespace qb::scanner {
namespace {

using Lines = std::vector<std::string>;
constexpr uint64_t kMB = 1024 * 1024;

// A file system whose reads can misbehave: the file vanishes between its
// size and its read, or comes back shorter than its size.
class FlakyFileSystem final : public platform::FileSystem {
  public:
    platform::MemoryFileSystem inner;
    enum class Read { kNormal, kVanish, kShort } read = Read::kNormal;

    platform::PathKind Kind(const std::string& p) override { return inner.Kind(p); }
    int64_t FileSize(const std::string& p) override { return inner.FileSize(p); }
    bool ReadFile(const std::string& p, std::string& out) override {
        if (read == Read::kVanish) {
            inner.DeleteFile(p);
            out.clear();
            return false;
        }
        const bool ok = inner.ReadFile(p, out);
        if (read == Read::kShort)
            out.pop_back();
        return ok;
    }
    bool ReplaceFile(const std::string& p, std::string_view c,
                     platform::Durability d = platform::Durability::kSynced) override {
        return inner.ReplaceFile(p, c, d);
    }
    int RemoveLeftoverTemporaries(const std::string& p) override {
        return inner.RemoveLeftoverTemporaries(p);
    }
    bool AppendFile(const std::string& p, std::string_view c) override {
        return inner.AppendFile(p, c);
    }
    bool CopyFile(const std::string& f, const std::string& t) override {
        return inner.CopyFile(f, t);
    }
    bool DeleteFile(const std::string& p) override { return inner.DeleteFile(p); }
    bool CreateFolder(const std::string& p) override { return inner.CreateFolder(p); }
};

class ScannerLoad : public ::testing::Test {
  protected:
    ScannerLoad() { SetScanLimit(0); }
    ~ScannerLoad() override { SetScanLimit(0); }

    FlakyFileSystem fs;
    platform::FixedSystemInfo memory{1024 * kMB};
    platform::ScopedServices scope{{.files = &fs.inner, .system = &memory}};
    test::ReportCapture reports;
};

TEST(ScannerCString, ClearIsNamedClearAndResetsCapacity) {
    CString s;
    s.append(std::string(5000, 'x'));
    EXPECT_EQ(s.getCapacity(), 16384);
    s.Clear();
    EXPECT_EQ(s.length(), 0);
    EXPECT_EQ(s.getCapacity(), 4096);
}

TEST(ScannerCString, AppendTracesOnlyAtLevelEight) {
    test::ReportCapture reports(7);
    CString s;
    s.append("a");
    EXPECT_TRUE(reports.console.empty());
    reports.SetLevel(8);
    s.append("b");
    s.append("c");
    EXPECT_EQ(reports.console, (Lines{"CString::append", "CString::append"}));
    EXPECT_EQ(s.toString(), "abc");
}

TEST(ScannerCString, GetBytesWritesItsErrorLineAtEveryLevel) {
    test::ReportCapture reports(0);
    CString s;
    s.append("hello");
    std::string dst = "keep";
    EXPECT_TRUE(s.getBytes(2, 4, dst));
    EXPECT_EQ(dst, "ell");
    EXPECT_TRUE(reports.console.empty());
    dst = "keep";
    EXPECT_FALSE(s.getBytes(2, 6, dst));
    EXPECT_FALSE(s.getBytes(0, 1, dst));
    EXPECT_EQ(dst, "keep");
    EXPECT_EQ(reports.console,
              (Lines{"CString::getBytes Error -2147220992 : Index out of bounds",
                     "CString::getBytes Error -2147220992 : Index out of bounds"}));
}

TEST(ScannerCString, CaseFoldingAndComparisonsWorkOnBytes) {
    CString s, other;
    s.append(
        "Stra\xDF"
        "e \xC4");
    other.append(
        "STRA\xDF"
        "E \xE4");
    EXPECT_TRUE(s.equalsIgnoreCase(&other));
    EXPECT_EQ(s.toUpperCase().toString(),
              "STRA\xDF"
              "E \xC4");
    EXPECT_EQ(s.hashCode(), s.hashCode());
    CString high;
    high.append("\xFF");
    EXPECT_EQ(high.hashCode(), 255.0);  // bytes count as unsigned
}

TEST_F(ScannerLoad, ReadsEveryByteUnchanged) {
    std::string all;
    for (int i = 0; i < 256; ++i)
        all += static_cast<char>(i);
    fs.inner.PutFile("C:\\Store\\Inbox.dbx", all + all);
    CString s;
    s.loadBinary("C:\\Store\\Inbox.dbx");
    ASSERT_EQ(s.length(), 512);
    std::string back;
    ASSERT_TRUE(s.getBytes(1, 512, back));
    EXPECT_EQ(back, all + all);
    for (int k : {0, 13, 127, 128, 255, 511}) {
        ASSERT_TRUE(s.getBytes(k + 1, k + 1, back));  // file offset k is position k + 1
        EXPECT_EQ(static_cast<unsigned char>(back[0]), k % 256);
    }
    EXPECT_EQ(s.View(), all + all);
    EXPECT_TRUE(reports.console.empty());
    EXPECT_TRUE(reports.status.empty());
}

TEST_F(ScannerLoad, TracesItsStepsAtLevelEight) {
    fs.inner.PutFile("C:\\Store\\Inbox.dbx", std::string(5000, 'm'));
    reports.SetLevel(8);
    CString s;
    s.loadBinary("C:\\Store\\Inbox.dbx");
    EXPECT_EQ(s.length(), 5000);
    EXPECT_EQ(s.getCapacity(), 16384);  // as appending 5000 characters to a cleared buffer
    EXPECT_EQ(reports.console, (Lines{"filesize = 5000", "Get file_handle", "CString::append",
                                      "End of loadBinary.  No Exceptions"}));
}

TEST_F(ScannerLoad, FolderNameStaysSilent) {
    reports.SetLevel(8);
    fs.inner.PutFolder("C:\\Store");
    CString s;
    s.append("old");
    reports.console.clear();
    s.loadBinary("C:\\Store\\");
    EXPECT_EQ(s.length(), 0);
    EXPECT_TRUE(reports.console.empty());
    EXPECT_TRUE(reports.status.empty());
}

TEST_F(ScannerLoad, ScanLimitRefusesLargerFilesOnly) {
    SetScanLimit(10485760);
    memory.SetAvailable(0);  // no memory test while a limit is set
    fs.inner.PutFile("C:\\Store\\Big.dbx", std::string(20 * kMB, 'b'));
    fs.inner.PutFile("C:\\Store\\Edge.dbx", std::string(10485760, 'e'));
    CString s;
    s.loadBinary("C:\\Store\\Big.dbx");
    EXPECT_EQ(s.length(), 0);
    EXPECT_EQ(reports.status, (Lines{"C:\\Store\\Big.dbx larger than scan limit."}));
    EXPECT_EQ(reports.console, (Lines{"C:\\Store\\Big.dbx larger than scan limit."}));
    s.loadBinary("C:\\Store\\Edge.dbx");
    EXPECT_EQ(s.length(), 10485760);
    EXPECT_EQ(reports.console.size(), 1u);
}

TEST_F(ScannerLoad, WithoutLimitNeedsEightTimesTheFileInFreeMemory) {
    fs.inner.PutFile("C:\\Store\\Inbox.dbx", std::string(kMB, 'i'));
    CString s;
    memory.SetAvailable(8 * kMB);
    s.loadBinary("C:\\Store\\Inbox.dbx");
    EXPECT_EQ(s.length(), static_cast<int32_t>(kMB));
    EXPECT_TRUE(reports.console.empty());

    memory.SetAvailable(8 * kMB - 1);
    s.loadBinary("C:\\Store\\Inbox.dbx");
    EXPECT_EQ(s.length(), 0);
    const std::string line = "Insufficient physical memory available to scan C:\\Store\\Inbox.dbx";
    EXPECT_EQ(reports.status, (Lines{line}));
    EXPECT_EQ(reports.console, (Lines{line}));

    SetScanLimit(-1);  // a negative limit counts as none
    reports.console.clear();
    s.loadBinary("C:\\Store\\Inbox.dbx");
    EXPECT_EQ(reports.console, (Lines{line}));
}

TEST_F(ScannerLoad, FailuresWriteOneErrorLineAndLeaveTheBufferEmpty) {
    CString s;
    s.append("old");
    s.loadBinary("C:\\Store\\Missing.dbx");
    EXPECT_EQ(s.length(), 0);
    EXPECT_EQ(reports.console, (Lines{"loadBinary() Error 53 : File not found"}));

    platform::ScopedServices flaky({.files = &fs});
    fs.inner.PutFile("C:\\Store\\Gone.dbx", "soon gone");
    fs.read = FlakyFileSystem::Read::kVanish;
    reports.console.clear();
    s.loadBinary("C:\\Store\\Gone.dbx");
    EXPECT_EQ(s.length(), 0);
    EXPECT_EQ(reports.console, (Lines{"loadBinary() Error 53 : File not found"}));

    fs.inner.PutFile("C:\\Store\\Short.dbx", "shrinks");
    fs.read = FlakyFileSystem::Read::kShort;
    reports.console.clear();
    s.loadBinary("C:\\Store\\Short.dbx");
    EXPECT_EQ(s.length(), 0);
    EXPECT_EQ(reports.console, (Lines{"loadBinary() Error 62 : Input past end of file"}));
}

TEST(ScannerLoadFiles, TheSystemReportsAvailableMemory) {
    const uint64_t available = platform::DefaultSystemInfo().AvailablePhysicalMemory();
    EXPECT_GT(available, 16 * kMB);
    EXPECT_LT(available, uint64_t{1} << 50);
}

TEST(ScannerLoadFiles, AFolderWithoutTheBackslashIsAnAccessError) {
    test::TempFolder dir;
    platform::FixedSystemInfo memory(1024 * kMB);
    platform::ScopedServices scope({.system = &memory});
    test::ReportCapture reports;
    dir.Write("Store\\Inbox.dbx", "real bytes\r\n");
    CString s;
    s.loadBinary(dir.WinPath() + "\\Store");
    EXPECT_EQ(s.length(), 0);
    EXPECT_EQ(reports.console, (Lines{"loadBinary() Error 75 : Path/File access error"}));
    s.loadBinary(dir.WinPath() + "\\Store\\Inbox.dbx");
    EXPECT_EQ(s.toString(), "real bytes\r\n");
}

}  // namespace
}  // namespace qb::scanner
