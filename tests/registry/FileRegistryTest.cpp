// The registry kept in a .reg file, through the Registry interface: what the
// ANSI functions deliver, write-back, access rights, deletion, and files that
// cannot be used.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <string>

#include "platform/memory/MemoryFileSystem.h"
#include "platform/memory/MemoryRegistry.h"
#include "platform/portable/FileRegistry.h"
#include "platform/posix/PosixFileSystem.h"
#include "tests/registry/Utf16.h"
#include "tests/support/ReportCapture.h"
#include "tests/support/TempFolder.h"

namespace qb::platform {
namespace {

using qb::test::ReportCapture;
using qb::test::TempFolder;
using qb::test::Utf16;

struct Opened {
    Registry& reg;
    Registry::Key key = 0;
    long status;
    Opened(Registry& r, uint32_t root, const std::string& path, uint32_t access = reg::kKeyRead)
        : reg(r), status(r.CreateKey(root, path, access, key)) {}
    ~Opened() { reg.CloseKey(key); }
    std::string Get(const std::string& name, uint32_t* type = nullptr) {
        uint32_t t = 0;
        std::string data;
        if (reg.QueryValue(key, name, t, data) != reg::kOk)
            return "<none>";
        if (type)
            *type = t;
        return data;
    }
};

class FileRegistryTest : public ::testing::Test {
  protected:
    TempFolder dir;
    PosixFileSystem fs;
    std::string Path() const { return dir / "registry.reg"; }
};

TEST_F(FileRegistryTest, DeliversTextInTheCodePageFromEitherEncoding) {
    dir.Write(
        "registry.reg",
        Utf16(u"Windows Registry Editor Version 5.00\r\n\r\n[HKEY_CURRENT_USER\\Identities]\r\n"
              u"\"Last User ID\"=\"{1}\"\r\n\"Name\"=\"Z\u00fcrich \u20ac \u03a9\"\r\n"
              u"\"Multi\"=hex(7):61,00,00,00,62,00,00,00,00,00\r\n"
              u"\"Keep\"=\"\u03a9\u03a9\"\r\n"));
    FileRegistry registry(Path(), &fs);
    {
        Opened k(registry, reg::kCurrentUser, "identities", reg::kKeyAllAccess);
        ASSERT_EQ(k.status, reg::kOk);
        uint32_t type = 0;
        EXPECT_EQ(k.Get("LAST USER ID", &type), std::string("{1}\0", 4));
        EXPECT_EQ(type, reg::kSz);
        EXPECT_EQ(k.Get("Name"), std::string("Z\xfcrich \x80 ?\0", 11));
        EXPECT_EQ(k.Get("Multi"), std::string("a\0b\0\0", 5));
        // A write stores UTF-16 again and leaves the other values' bytes alone.
        ASSERT_EQ(registry.SetValue(k.key, "Name", reg::kSz, std::string("\xe9\0", 2)), reg::kOk);
    }
    const std::string after = dir.Read("registry.reg");
    EXPECT_EQ(after.substr(0, 2), "\xFF\xFE");
    EXPECT_NE(after.find(Utf16(u"\"Name\"=\"\u00e9\"").substr(2)), std::string::npos);
    EXPECT_NE(after.find(Utf16(u"\"Keep\"=\"\u03a9\u03a9\"").substr(2)), std::string::npos);
}

TEST_F(FileRegistryTest, CreatesMissingKeysAndWritesEachChangeBack) {
    FileRegistry registry(Path(), &fs);
    EXPECT_FALSE(dir.Exists("registry.reg"));
    {
        Opened k(registry, reg::kLocalMachine, "Software\\Ferrowin Tessaly Desktop Client",
                 reg::kKeyRead | reg::kKeyWrite);
        ASSERT_EQ(k.status, reg::kOk);
        // A new file is a REGEDIT4 file holding the new key.
        EXPECT_EQ(dir.Read("registry.reg"),
                  "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\Software\\Ferrowin Tessaly Desktop "
                  "Client]\r\n");
        ASSERT_EQ(
            registry.SetValue(k.key, "oe_scan_block", reg::kDword, std::string("\x07\0\0\0", 4)),
            reg::kOk);
        ASSERT_EQ(registry.SetValue(k.key, "", reg::kSz, std::string("d\0", 2)), reg::kOk);
    }
    EXPECT_EQ(dir.Read("registry.reg"),
              "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\Software\\Ferrowin Tessaly Desktop Client]\r\n"
              "\"oe_scan_block\"=dword:00000007\r\n@=\"d\"\r\n");
    // A second registry on the same file sees it all.
    FileRegistry again(Path(), &fs);
    Opened k(again, reg::kLocalMachine, "SOFTWARE\\ferrowin tessaly desktop client");
    EXPECT_EQ(k.Get("OE_SCAN_BLOCK"), std::string("\x07\0\0\0", 4));
    EXPECT_EQ(registry.OpenKeys(), 0u);
}

// An export from 64-bit Windows names the product's key under
// Software\WOW6432Node: the key the product's 32-bit programs use there, so
// the one read and written; a key the export holds only outside that node
// is used as named.
TEST_F(FileRegistryTest, AnExportFrom64BitWindowsIsSeenAsThe32BitProgramsSeeIt) {
    dir.Write(
        "registry.reg",
        Utf16(u"Windows Registry Editor Version 5.00\r\n\r\n"
              u"[HKEY_LOCAL_MACHINE\\SOFTWARE\\WOW6432Node\\Ferrowin Tessaly Desktop Client]\r\n"
              u"\"OEScanSent\"=\"0\"\r\n\r\n"
              u"[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion]\r\n"
              u"\"SystemRoot\"=\"C:\\\\WINDOWS\"\r\n"));
    FileRegistry registry(Path(), &fs);
    {
        Opened product(registry, reg::kLocalMachine, "Software\\Ferrowin Tessaly Desktop Client",
                       reg::kKeyRead | reg::kKeyWrite);
        ASSERT_EQ(product.status, reg::kOk);
        EXPECT_EQ(product.Get("OEScanSent"), std::string("0\0", 2));
        ASSERT_EQ(registry.SetValue(product.key, "oe_scan_block", reg::kSz, std::string("3\0", 2)),
                  reg::kOk);
        Opened windows(registry, reg::kLocalMachine,
                       "SOFTWARE\\Microsoft\\Windows\\CurrentVersion");
        EXPECT_EQ(windows.Get("SystemRoot"), std::string("C:\\WINDOWS\0", 11));
        Opened named(registry, reg::kLocalMachine,
                     "Software\\Wow6432Node\\Ferrowin Tessaly Desktop Client");
        EXPECT_EQ(named.Get("oe_scan_block"), std::string("3\0", 2));
    }
    // No second product key beside the exported one.
    const std::string after = dir.Read("registry.reg");
    EXPECT_NE(after.find(Utf16(u"WOW6432Node\\Ferrowin Tessaly Desktop Client]\r\n"
                               u"\"OEScanSent\"=\"0\"\r\n\"oe_scan_block\"=\"3\"")
                             .substr(2)),
              std::string::npos);
    EXPECT_EQ(after.find(Utf16(u"SOFTWARE\\Ferrowin").substr(2)), std::string::npos);
}

TEST_F(FileRegistryTest, EnumeratesInAStableOrderWithCountsAndLengths) {
    dir.Write("registry.reg",
              "REGEDIT4\r\n[HKEY_CURRENT_USER\\K\\beta]\r\n[HKEY_CURRENT_USER\\K\\Alpha]\r\n"
              "[HKEY_CURRENT_USER\\K\\gamma\\deep]\r\n[HKEY_CURRENT_USER\\K]\r\n\"z\"=\"1\"\r\n"
              "\"longer name\"=hex:01,02,03,04,05\r\n\"a\"=dword:1\r\n");
    FileRegistry registry(Path(), &fs);
    Opened k(registry, reg::kCurrentUser, "K");
    KeyInfo info;
    ASSERT_EQ(registry.QueryInfo(k.key, info), reg::kOk);
    EXPECT_EQ(info.subkeys, 3u);
    EXPECT_EQ(info.values, 3u);
    EXPECT_EQ(info.longestSubkeyName, 5u);
    EXPECT_EQ(info.longestValueName, 11u);
    EXPECT_EQ(info.longestValueData, 5u);
    std::string name;
    std::vector<std::string> keys;
    for (uint32_t i = 0; registry.EnumKey(k.key, i, name) == reg::kOk; ++i)
        keys.push_back(name);
    EXPECT_EQ(keys, (std::vector<std::string>{"Alpha", "beta", "gamma"}));
    EXPECT_EQ(registry.EnumKey(k.key, 3, name), reg::kNoMoreItems);
    std::vector<std::string> values;
    uint32_t type;
    std::string data;
    for (uint32_t i = 0; registry.EnumValue(k.key, i, name, type, data) == reg::kOk; ++i)
        values.push_back(name);
    EXPECT_EQ(values, (std::vector<std::string>{"z", "longer name", "a"}));
}

TEST_F(FileRegistryTest, AccessRightsAndDeletionFollowTheSystem) {
    dir.Write("registry.reg", "REGEDIT4\r\n[HKEY_CURRENT_USER\\P\\C\\G]\r\n\"v\"=\"1\"\r\n");
    FileRegistry registry(Path(), &fs);
    Opened readOnly(registry, reg::kCurrentUser, "P\\C");
    EXPECT_EQ(registry.SetValue(readOnly.key, "x", reg::kSz, "1"), reg::kAccessDenied);
    EXPECT_EQ(registry.DeleteValue(readOnly.key, "x"), reg::kAccessDenied);
    Opened none(registry, reg::kCurrentUser, "P\\C", 0);  // unchecked, as on the 9x family
    EXPECT_EQ(registry.SetValue(none.key, "x", reg::kSz, std::string("1\0", 2)), reg::kOk);
    Opened parent(registry, reg::kCurrentUser, "P", reg::kKeyAllAccess);
    EXPECT_EQ(registry.DeleteKey(parent.key, "C"), reg::kAccessDenied);  // has a subkey
    EXPECT_EQ(registry.DeleteKey(parent.key, "missing"), reg::kFileNotFound);
    EXPECT_EQ(registry.DeleteTree(parent.key, "c"), reg::kOk);
    // Keys open below the deleted one answer so.
    EXPECT_EQ(registry.SetValue(none.key, "x", reg::kSz, "1"), reg::kKeyDeleted);
    EXPECT_EQ(dir.Read("registry.reg"), "REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\P]\r\n");
    Registry::Key key = 0;
    EXPECT_EQ(registry.CreateKey(0x80000004, "X", reg::kKeyRead, key), reg::kInvalidHandle);
    EXPECT_EQ(registry.CreateKey(reg::kCurrentUser, "a\\\\b", reg::kKeyRead, key),
              reg::kInvalidParameter);
    std::string deep = "k";
    for (int i = 0; i < 512; ++i)
        deep += "\\k";
    EXPECT_EQ(registry.CreateKey(reg::kCurrentUser, deep, reg::kKeyRead, key),
              reg::kInvalidParameter);
    EXPECT_EQ(key, 0u);
}

TEST_F(FileRegistryTest, AnUnusableFileIsReportedOnceAndNeverWritten) {
    const std::string bad =
        "REGEDIT4\r\n[HKEY_CURRENT_USER\\Identities]\r\n\"Last User ID\"=\"{1}\r\n";
    dir.Write("registry.reg", bad);
    ReportCapture capture;
    ::testing::internal::CaptureStderr();
    FileRegistry registry(Path(), &fs);
    Registry::Key key = 0;
    EXPECT_EQ(registry.CreateKey(reg::kCurrentUser, "Identities", reg::kKeyAllAccess, key),
              reg::kInvalidData);
    EXPECT_EQ(registry.CreateKey(reg::kCurrentUser, "Other", reg::kKeyAllAccess, key),
              reg::kInvalidData);
    EXPECT_EQ(key, 0u);
    EXPECT_EQ(registry.Problem(), "Registry file " + Path() +
                                      ", line 3: a quoted text without its closing quote. The "
                                      "registry is treated as unreadable and the file is left "
                                      "as it is.");
    EXPECT_EQ(capture.console, std::vector<std::string>{registry.Problem()});
    // Standard error too, where a user who started the scanner from a
    // terminal looks.
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), registry.Problem() + "\n");
    EXPECT_EQ(dir.Read("registry.reg"), bad);

    // Too large, a folder, and a file that cannot be read are refused the same way.
    dir.Write("big.reg", "REGEDIT4\r\n");
    ASSERT_EQ(::truncate((dir / "big.reg").c_str(), FileRegistry::kMaxFileBytes + 1), 0);
    FileRegistry big(dir / "big.reg", &fs);
    EXPECT_NE(big.Problem().find("larger than 256 MB"), std::string::npos);
    EXPECT_EQ(fs.FileSize(dir / "big.reg"), FileRegistry::kMaxFileBytes + 1);
    FileRegistry folder(dir.Path(), &fs);
    EXPECT_NE(folder.Problem().find("a folder"), std::string::npos);
}

TEST(FileRegistryWrites, AFailedWriteForgetsTheChange) {
    MemoryFileSystem files;
    files.PutFile("C:\\reg.reg", "REGEDIT4\r\n[HKEY_CURRENT_USER\\K]\r\n\"v\"=\"old\"\r\n");
    ReportCapture capture;
    FileRegistry registry("C:\\reg.reg", &files);
    Opened k(registry, reg::kCurrentUser, "K", reg::kKeyAllAccess);
    files.SetWritesFail(true);
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(registry.SetValue(k.key, "v", reg::kSz, std::string("new\0", 4)), reg::kAccessDenied);
    Registry::Key other = 0;
    EXPECT_EQ(registry.CreateKey(reg::kCurrentUser, "New", reg::kKeyRead, other),
              reg::kAccessDenied);
    EXPECT_EQ(k.Get("v"), std::string("old\0", 4));
    EXPECT_EQ(capture.console.size(), 1u);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), capture.console.at(0) + "\n");
    files.SetWritesFail(false);
    EXPECT_EQ(registry.SetValue(k.key, "v", reg::kSz, std::string("new\0", 4)), reg::kOk);
    EXPECT_EQ(files.Content("C:\\reg.reg"),
              "REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\K]\r\n\"v\"=\"new\"\r\n");
}

TEST(FileRegistryLocation, TheVariableNamesTheFileElseItLiesBesideTheProgram) {
    const char* saved = ::getenv(kRegistryFileVariable);
    const std::string keep = saved ? saved : "";
    ::setenv(kRegistryFileVariable, "/tmp/elsewhere.reg", 1);
    EXPECT_EQ(RegistryFilePath(), "/tmp/elsewhere.reg");
    ::unsetenv(kRegistryFileVariable);
    const std::string beside = RegistryFilePath();
    EXPECT_EQ(beside.substr(beside.size() - 13), "/registry.reg");
    EXPECT_NE(beside.find("registry"), 0u);
    if (saved)
        ::setenv(kRegistryFileVariable, keep.c_str(), 1);
}

TEST(MemoryRegistry, ConvertsStringDataLikeTheNtRegistry) {
    MemoryRegistry registry;
    registry.SetWide(true);
    Opened k(registry, reg::kCurrentUser, "K", reg::kKeyAllAccess);
    ASSERT_EQ(registry.SetValue(k.key, "s", reg::kSz, std::string("\x80\0", 2)), reg::kOk);
    ASSERT_EQ(registry.SetValue(k.key, "b", reg::kBinary, std::string("\x80\0", 2)), reg::kOk);
    const RegNode* node =
        const_cast<RegTree&>(registry.Contents()).Hive(reg::kCurrentUser)->Child("K");
    EXPECT_EQ(node->Values()[0].data, std::string("\xAC\x20\0\0", 4));  // U+20AC
    EXPECT_EQ(node->Values()[1].data, std::string("\x80\0", 2));
    EXPECT_EQ(k.Get("s"), std::string("\x80\0", 2));
    registry.SetUnreadable("broken");
    EXPECT_EQ(k.Get("s"), "<none>");
}

}  // namespace
}  // namespace qb::platform
