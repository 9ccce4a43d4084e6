// The README's steps for running the scanner on Linux over stores copied
// from Windows: the two keys exported from 64-bit Windows with "reg export"
// (UTF-16, the product's key under WOW6432Node, the identity's store root as
// the REG_EXPAND_SZ data Windows keeps); make-demo joins them into the
// program folder's registry file and points the store roots at the copied
// stores; the real scanner runs there and reads the joined file.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "tests/e2e/ProgramRun.h"
#include "tests/registry/Utf16.h"
#include "tests/support/TempFolder.h"

namespace qb::test {
namespace {

// A command's exit status, its output in output.
int Shell(const TempFolder& dir, const std::string& command, std::string& output) {
    const int status = std::system((command + " >'" + (dir / "shell.log") + "' 2>&1").c_str());
    output = dir.Read("shell.log");
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Text as the hex(2) list of a version 5.00 export: UTF-16LE bytes with the
// terminating NUL.
std::u16string Hex2(const std::u16string& text) {
    std::u16string out;
    const char16_t* digits = u"0123456789abcdef";
    for (char16_t u : text + u'\0') {
        for (unsigned byte : {u & 0xFFu, unsigned(u) >> 8}) {
            out += (out.empty() ? u"" : u",");
            out += digits[byte >> 4];
            out += digits[byte & 0xF];
        }
    }
    return out;
}

constexpr char16_t kIdentity[] = u"{D41D8CD9-8F00-4B20-9800-998ECF8427E0}";

std::string IdentitiesExport() {
    const std::u16string id = kIdentity;
    const std::u16string oe =
        u"[HKEY_CURRENT_USER\\Identities\\" + id + u"\\Software\\Microsoft\\Outlook Express\\5.0";
    return Utf16(
        u"Windows Registry Editor Version 5.00\r\n\r\n"
        u"[HKEY_CURRENT_USER\\Identities]\r\n\"Last User ID\"=\"" +
        id + u"\"\r\n\"Default User ID\"=\"" + id +
        u"\"\r\n\r\n"
        u"[HKEY_CURRENT_USER\\Identities\\" +
        id + u"]\r\n\"Username\"=\"Main Identity\"\r\n\r\n" + oe + u"]\r\n\"Store Root\"=hex(2):" +
        Hex2(u"%UserProfile%\\Local Settings\\Application Data\\Identities\\" + id +
             u"\\Microsoft\\Outlook Express") +
        u"\r\n\r\n" + oe +
        u"\\Block Senders\\Mail\\Criteria\\0]\r\n\"Value\"=\"promo@ads.example\"\r\n\r\n");
}

// The product's key as 64-bit Windows exports it: Sent Items scans off.
std::string ProductExport() {
    return Utf16(
        u"Windows Registry Editor Version 5.00\r\n\r\n"
        u"[HKEY_LOCAL_MACHINE\\SOFTWARE\\WOW6432Node\\Ferrowin Tessaly Desktop Client]\r\n"
        u"\"OEScanInbox\"=\"1\"\r\n\"OEScanSent\"=\"0\"\r\n\r\n");
}

TEST(OwnStore, TheReadmeStepsOverStoresCopiedFrom64BitWindows) {
    TempFolder windows;  // what the user copied over
    std::string output;
    // The demo's stores stand for the copied ones.
    ASSERT_EQ(Shell(windows, MAKE_DEMO_PATH " '" + (windows / "demo") + "'", output), 0) << output;
    windows.Write("identities.reg", IdentitiesExport());
    windows.Write("product.reg", ProductExport());

    ProgramFolder program(GLEANWICK_PATH, QUELLADDR_PATH);
    const std::string layOut =
        std::string(MAKE_DEMO_PATH) + " --oe-store '" + (windows / "demo/store") +
        "' --wlm-store '" + (windows / "demo/wlm-store") + "' --registry '" +
        (windows / "identities.reg") + "' --registry '" + (windows / "product.reg") +
        "' --approve 'Not Spam' --block 'Spam I Missed' '" + program.Dir().Path() + "'";
    ASSERT_EQ(Shell(windows, layOut, output), 0) << output;
    const std::string laidOut = program.Read("registry.reg");
    EXPECT_EQ(laidOut.substr(0, 2), "\xFF\xFE");
    EXPECT_NE(
        laidOut.find(Utf16(u"\"Store Root\"=\"").substr(2) +
                     Utf16(std::u16string(windows.Path().begin(), windows.Path().end())).substr(2)),
        std::string::npos);
    EXPECT_EQ(laidOut.find(Utf16(u"hex(2)").substr(2)), std::string::npos);
    EXPECT_EQ(program.Read("conf/quellbox.conf"),
              "oe_approve_folder=Not Spam\r\noe_block_folder=Spam I Missed\r\n");

    // The registry file beside the program, not one named by the variable.
    const RunResult run = program.Run({}, {"QUELLBOX_REGISTRY"});
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.output, "");  // no refusal of the registry file
    // Both stores scanned; the blocked list imported from the identity.
    const std::string blocked = program.Read("conf/blockedsenders");
    for (const char* address :
         {"promo@ads.example", "pills@pharma.example", "prize@casino.example"})
        EXPECT_NE(blocked.find(address), std::string::npos) << address;
    EXPECT_EQ(program.Read("conf/wlmas"), "tickets@museum.example\r\n");
    EXPECT_NE(program.Read("conf/quellboxaddr.bin").find("carol@club.example 1 0"),
              std::string::npos);
    // The switch under WOW6432Node was read: no Sent Items scan.
    EXPECT_FALSE(program.Exists("conf/oesent"));
    EXPECT_FALSE(program.Exists("conf/wlmsent"));
    // The counters went under the exported key, and no key came beside it.
    const std::string after = program.Read("registry.reg");
    const std::string key = Utf16(u"Ferrowin Tessaly Desktop Client]\r\n").substr(2);
    const size_t at = after.find(key);
    ASSERT_NE(at, std::string::npos);
    EXPECT_EQ(after.find(key, at + 1), std::string::npos);
    EXPECT_EQ(after.rfind(Utf16(u"WOW6432Node\\").substr(2), at),
              at - Utf16(u"WOW6432Node\\").size() + 2);
    EXPECT_NE(after.find(Utf16(u"\"oe_scan_block\"=dword:").substr(2), at), std::string::npos);

    // Stores copied into a folder named in Japanese, with the code page of
    // the Windows they came from (932) in the export: the store roots are
    // written as text the scanner reads back in that code page.
    const std::string japanese = windows / "\xE3\x83\x87\xE3\x83\xA2";  // "デモ"
    std::filesystem::rename(windows / "demo", japanese);
    windows.Write("codepage.reg",
                  Utf16(u"Windows Registry Editor Version 5.00\r\n\r\n"
                        u"[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Control\\Nls\\CodePage]"
                        u"\r\n\"ACP\"=\"932\"\r\n\r\n"));
    ProgramFolder japan(GLEANWICK_PATH, QUELLADDR_PATH);
    ASSERT_EQ(
        Shell(windows,
              std::string(MAKE_DEMO_PATH) + " --oe-store '" + japanese + "/store' --wlm-store '" +
                  japanese + "/wlm-store' --registry '" + (windows / "identities.reg") +
                  "' --registry '" + (windows / "codepage.reg") +
                  "' --approve 'Not Spam' --block 'Spam I Missed' '" + japan.Dir().Path() + "'",
              output),
        0)
        << output;
    EXPECT_EQ(japan.Run({}, {"QUELLBOX_REGISTRY"}).exitCode, 0);
    EXPECT_NE(japan.Read("conf/blockedsenders").find("pills@pharma.example"), std::string::npos);
    EXPECT_EQ(japan.Read("conf/wlmas"), "tickets@museum.example\r\n");

    // An export the reader refuses stops the layout, saying why.
    windows.Write("broken.reg", IdentitiesExport() + Utf16(u"junk\r\n"));
    TempFolder other;
    EXPECT_EQ(Shell(windows,
                    std::string(MAKE_DEMO_PATH) + " --registry '" + (windows / "broken.reg") +
                        "' '" + other.Path() + "'",
                    output),
              1);
    EXPECT_NE(output.find("a line that is neither a key, a value nor a comment"), std::string::npos)
        << output;
}

}  // namespace
}  // namespace qb::test
