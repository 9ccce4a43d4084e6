// What only the Windows file system does (the hidden, system and read-only
// attributes, devices, files that other handles hold open), and message boxes.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/Platform.h"
#include "platform/win32/MessageBoxUserInterface.h"
#include "platform/win32/Win32FileSystem.h"
#include "tests/support/TempFolder.h"

// Last: the Windows API without the macros that would rename members.
#include "platform/win32/WinApi.h"

namespace qb::platform {
namespace {

using test::TempFolder;

void SetAttributes(const std::string& path, DWORD attributes) {
    ASSERT_TRUE(::SetFileAttributesA(path.c_str(), attributes)) << path;
}

TEST(Win32FileSystem, IsTheDefaultFileSystemAndUserInterface) {
    EXPECT_NE(dynamic_cast<Win32FileSystem*>(&DefaultFileSystem()), nullptr);
    EXPECT_NE(dynamic_cast<MessageBoxUserInterface*>(&DefaultUserInterface()), nullptr);
}

TEST(Win32FileSystem, HiddenAndSystemAttributesMakeAHiddenFile) {
    TempFolder dir;
    dir.Write("conf\\hidden", "h");
    dir.Write("conf\\system", "s");
    SetAttributes(dir / "conf\\hidden", FILE_ATTRIBUTE_HIDDEN);
    SetAttributes(dir / "conf\\system", FILE_ATTRIBUTE_SYSTEM);
    Win32FileSystem fs;
    EXPECT_EQ(fs.Kind(dir.WinPath() + "\\conf\\hidden"), PathKind::kHiddenFile);
    EXPECT_EQ(fs.Kind(dir.WinPath() + "\\conf\\system"), PathKind::kHiddenFile);
    // A hidden folder is still a folder.
    SetAttributes(dir / "conf", FILE_ATTRIBUTE_HIDDEN);
    EXPECT_EQ(fs.Kind(dir.WinPath() + "\\conf"), PathKind::kFolder);
    // Hidden files can still be read and sized by those who look for them.
    std::string out;
    EXPECT_TRUE(fs.ReadFile(dir.WinPath() + "\\conf\\hidden", out));
    EXPECT_EQ(out, "h");
    EXPECT_EQ(fs.FileSize(dir.WinPath() + "\\conf\\system"), 1);
}

TEST(Win32FileSystem, ForwardAndBackSlashesNameTheSameFile) {
    TempFolder dir;
    Win32FileSystem fs;
    ASSERT_TRUE(fs.CreateFolder(dir.WinPath() + "/a/b"));
    ASSERT_TRUE(fs.ReplaceFile(dir.WinPath() + "/a/b/list", "x"));
    std::string out;
    EXPECT_TRUE(fs.ReadFile(dir.WinPath() + "\\a\\b\\list", out));
    EXPECT_EQ(out, "x");
    EXPECT_EQ(dir.Entries(), 1);
}

TEST(Win32FileSystem, ReplaceKeepsTheHiddenAttribute) {
    TempFolder dir;
    dir.Write("list", "old");
    SetAttributes(dir / "list", FILE_ATTRIBUTE_HIDDEN);
    Win32FileSystem fs;
    ASSERT_TRUE(fs.ReplaceFile(dir.WinPath() + "\\list", "new"));
    EXPECT_EQ(dir.Read("list"), "new");
    EXPECT_EQ(fs.Kind(dir.WinPath() + "\\list"), PathKind::kHiddenFile);
    EXPECT_EQ(dir.Entries(), 1);
}

TEST(Win32FileSystem, ReadOnlyFilesAreNeitherWrittenNorDeleted) {
    TempFolder dir;
    dir.Write("list", "keep me");
    SetAttributes(dir / "list", FILE_ATTRIBUTE_READONLY);
    Win32FileSystem fs;
    EXPECT_FALSE(fs.ReplaceFile(dir.WinPath() + "\\list", "lost"));
    EXPECT_FALSE(fs.AppendFile(dir.WinPath() + "\\list", "lost"));
    EXPECT_FALSE(fs.DeleteFile(dir.WinPath() + "\\list"));
    dir.Write("source", "lost");
    EXPECT_FALSE(fs.CopyFile(dir.WinPath() + "\\source", dir.WinPath() + "\\list"));
    std::string out;
    EXPECT_TRUE(fs.ReadFile(dir.WinPath() + "\\list", out)) << "it can still be read";
    EXPECT_EQ(out, "keep me");
    EXPECT_EQ(fs.Kind(dir.WinPath() + "\\list"), PathKind::kFile);
    EXPECT_EQ(dir.Entries(), 2) << "no temporary file stays behind";
    SetAttributes(dir / "list", FILE_ATTRIBUTE_NORMAL);
    EXPECT_TRUE(fs.ReplaceFile(dir.WinPath() + "\\list", "new"));
    EXPECT_EQ(dir.Read("list"), "new");
}

TEST(Win32FileSystem, AFileHeldOpenByAnotherHandle) {
    TempFolder dir;
    dir.Write("list", "old");
    Win32FileSystem fs;
    // Another program holds the file open without letting it be deleted or
    // renamed: it can still be read, but not replaced.
    HANDLE other = ::CreateFileA((dir / "list").c_str(), GENERIC_READ | GENERIC_WRITE,
                                 FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                 FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(other, INVALID_HANDLE_VALUE);
    std::string out;
    EXPECT_TRUE(fs.ReadFile(dir.WinPath() + "\\list", out));
    EXPECT_EQ(out, "old");
    EXPECT_TRUE(fs.AppendFile(dir.WinPath() + "\\list", "+more"));
    EXPECT_FALSE(fs.ReplaceFile(dir.WinPath() + "\\list", "new"));
    ::CloseHandle(other);
    EXPECT_EQ(dir.Read("list"), "old+more");
    EXPECT_EQ(dir.Entries(), 1) << "no temporary file stays behind";
    // Once it is closed the replace goes through.
    EXPECT_TRUE(fs.ReplaceFile(dir.WinPath() + "\\list", "new"));
    EXPECT_EQ(dir.Read("list"), "new");
}

TEST(Win32FileSystem, AtomicOnlyReplaceAndLeftoverTemporaries) {
    TempFolder dir;
    dir.Write("list", "old");
    Win32FileSystem fs;
    ASSERT_TRUE(fs.ReplaceFile(dir.WinPath() + "\\list", "new", Durability::kAtomicOnly));
    EXPECT_EQ(dir.Read("list"), "new");
    EXPECT_EQ(dir.Entries(), 1);
    // What a killed replacement leaves, beside names that only look alike.
    dir.Write("~list.qbtmp-1a2b-3c", "half");
    dir.Write("~list2.qbtmp-1a2b-3c", "another file's");
    dir.Write("list.qbtmp-1a2b-3c", "mine");
    SetAttributes(dir / "~list.qbtmp-1a2b-3c", FILE_ATTRIBUTE_HIDDEN);
    EXPECT_EQ(fs.RemoveLeftoverTemporaries(dir.WinPath() + "\\list"), 1);
    EXPECT_EQ(dir.Entries(), 3);
    EXPECT_EQ(dir.Read("list"), "new");
    EXPECT_EQ(fs.RemoveLeftoverTemporaries(dir.WinPath() + "\\missing\\list"), 0);
}

TEST(Win32FileSystem, NamesOutsideTheCodePageAreListedAndReadInTheirEscapedForm) {
    TempFolder dir;
    const std::string base = dir.WinPath();
    const std::wstring folder = std::wstring(base.begin(), base.end()) + L"\\\x0410\x0440\x0445";
    ASSERT_TRUE(::CreateDirectoryW(folder.c_str(), nullptr));
    HANDLE h = ::CreateFileW((folder + L"\\a.eml").c_str(), GENERIC_WRITE, 0, nullptr,
                             CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    DWORD written = 0;
    ::WriteFile(h, "From: x@y.z", 11, &written, nullptr);
    ::CloseHandle(h);

    Win32FileSystem fs;
    std::vector<FolderEntry> entries;
    ASSERT_TRUE(fs.ListFolder(base, entries));
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].name, "?0410?0440?0445");
    EXPECT_EQ(entries[0].kind, PathKind::kFolder);
    const std::string file = base + "\\" + entries[0].name + "\\a.eml";
    EXPECT_EQ(fs.Kind(file), PathKind::kFile);
    EXPECT_EQ(fs.FileSize(file), 11);
    std::string content;
    EXPECT_TRUE(fs.ReadFile(file, content));
    EXPECT_EQ(content, "From: x@y.z");
    EXPECT_NE(fs.OpenForReading(file), nullptr);

    EXPECT_EQ(EscapedName(L"Inbox"), "Inbox");
    EXPECT_EQ(EscapedName(L"a\x0410"
                          L"b"),
              "a?0410b");
    EXPECT_EQ(WidePath("C:\\?0410x?04"), L"C:\\\x0410x?04") << "an incomplete escape stays";
    EXPECT_EQ(WidePath("\\\\?\\C:\\x"), L"\\\\?\\C:\\x") << "the long-path prefix is no escape";
}

// Files past 2 and 4 GB, made sparse (the size set, nothing written but a
// mark at the end): their size and positioned reads need 64-bit offsets in
// either build. Reading such a file whole is refused where the process
// cannot hold it (the 32-bit build), rather than failing with an exception
// or reading a size cut to 32 bits.
TEST(Win32FileSystem, FilesLargerThanTwoAndFourGigabytes) {
    TempFolder dir;
    Win32FileSystem fs;
    for (const int64_t size : {(int64_t{3} << 30) + 7, (int64_t{4} << 30) + 1024}) {
        const std::string path = dir.WinPath() + "\\large";
        HANDLE h = ::CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                 FILE_ATTRIBUTE_NORMAL, nullptr);
        ASSERT_NE(h, INVALID_HANDLE_VALUE);
        LARGE_INTEGER at;
        at.QuadPart = size - 3;
        DWORD written = 0;
        ASSERT_TRUE(::SetFilePointerEx(h, at, nullptr, FILE_BEGIN));
        ASSERT_TRUE(::WriteFile(h, "end", 3, &written, nullptr) && written == 3);
        ::CloseHandle(h);

        EXPECT_EQ(fs.FileSize(path), size);
        const auto file = fs.OpenForReading(path);
        ASSERT_NE(file, nullptr);
        char mark[4] = {};
        EXPECT_EQ(file->ReadAt(size - 3, mark, 3), 3) << size;
        EXPECT_STREQ(mark, "end") << size;
        if (sizeof(void*) == 4) {
            std::string out = "old";
            EXPECT_FALSE(fs.ReadFile(path, out)) << size;
            EXPECT_EQ(out, "") << size;
        }
    }
}

TEST(Win32FileSystem, DevicesAreNeverFiles) {
    TempFolder dir;
    Win32FileSystem fs;
    for (const std::string& device :
         std::vector<std::string>{"NUL", "nul.txt", "C:\\CON", "prn", "aux.log", "COM1", "lpt9.x",
                                  "\\\\.\\NUL", dir.WinPath() + "\\NUL"}) {
        std::string out = "old";
        EXPECT_FALSE(fs.ReadFile(device, out)) << device;
        EXPECT_EQ(out, "") << device;
        EXPECT_NE(fs.Kind(device), PathKind::kFile) << device;
        EXPECT_EQ(fs.FileSize(device), -1) << device;
        EXPECT_FALSE(fs.AppendFile(device, "x")) << device;
        EXPECT_FALSE(fs.ReplaceFile(device, "x")) << device;
    }
    // Names that only begin like a device are ordinary.
    for (const std::string& name :
         std::vector<std::string>{"NULL", "console", "COM10", "LPT0", "nu"}) {
        EXPECT_TRUE(fs.ReplaceFile(dir.WinPath() + "\\" + name, "x")) << name;
        EXPECT_EQ(fs.Kind(dir.WinPath() + "\\" + name), PathKind::kFile) << name;
    }
    EXPECT_EQ(dir.Entries(), 5);
}

// Under Wine without a display no box can be shown; the answer must still
// come at once, and be the style's first button, so that a run without a
// screen never waits for a person.
TEST(MessageBoxUserInterface, AnswersTheFirstButtonWhenNoBoxCanBeShown) {
    const HMODULE ntdll = ::GetModuleHandleA("ntdll.dll");
    const bool wine = ntdll && ::GetProcAddress(ntdll, "wine_get_version");
    if (!wine || std::getenv("DISPLAY"))
        GTEST_SKIP() << "needs Wine without a display";
    MessageBoxUserInterface ui;
    EXPECT_EQ(ui.MessageBox("Replace the entry?", "Quellbox", mb::kYesNo), mb::kIdYes);
    EXPECT_EQ(ui.MessageBox("LoadList Error", "Quellbox", mb::kOk | mb::kIconError), mb::kIdOk);
}

}  // namespace
}  // namespace qb::platform
