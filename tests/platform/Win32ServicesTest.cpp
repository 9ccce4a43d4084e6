// The Windows services beside the file system: general date, program folder
// and command line, the one-copy mutex, libraries, memory, the status window.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "platform/Clock.h"
#include "platform/Instance.h"
#include "platform/Libraries.h"
#include "platform/Platform.h"
#include "platform/StatusWindow.h"
#include "platform/SystemInfo.h"
#include "platform/win32/Win32Instance.h"
#include "platform/win32/Win32StatusWindow.h"

// Last: the Windows API without the macros that would rename members.
#include "platform/win32/WinApi.h"

namespace qb::platform {
namespace {

TEST(Win32Clock, GeneralDateIsTheLocalesShortDateAndLongTime) {
    const LocalTime t{2003, 6, 23, 11, 20, 52};
    SYSTEMTIME st{};
    st.wYear = 2003;
    st.wMonth = 6;
    st.wDay = 23;
    st.wHour = 11;
    st.wMinute = 20;
    st.wSecond = 52;
    char date[64], time[64];
    ASSERT_GT(::GetDateFormatA(LOCALE_USER_DEFAULT, DATE_SHORTDATE, &st, nullptr, date, 64), 0);
    ASSERT_GT(::GetTimeFormatA(LOCALE_USER_DEFAULT, 0, &st, nullptr, time, 64), 0);
    EXPECT_EQ(DefaultClock().GeneralDate(t), std::string(date) + " " + time);
    // The locale's own figures are in it, whatever their order.
    const std::string text = DefaultClock().GeneralDate(t);
    EXPECT_NE(text.find("2003"), std::string::npos) << text;
    EXPECT_NE(text.find("20"), std::string::npos) << text;
    EXPECT_NE(text.find("52"), std::string::npos) << text;

    const LocalTime now = DefaultClock().Now();
    EXPECT_GE(now.year, 2020);
    EXPECT_GE(now.month, 1);
    EXPECT_LE(now.month, 12);
}

TEST(Win32Instance, TheArgumentsFollowTheProgramNameAsTheSystemSplitsIt) {
    EXPECT_EQ(ArgumentsAfterProgramName("Gleanwick.exe -show"), "-show");
    EXPECT_EQ(ArgumentsAfterProgramName("\"C:\\Program Files\\Q\\Gleanwick.exe\"  -SHOW  x "),
              "-SHOW  x ");
    EXPECT_EQ(ArgumentsAfterProgramName("\"C:\\a b\\g.exe\"\"-show\""), "\"-show\"");
    EXPECT_EQ(ArgumentsAfterProgramName("g.exe\t\"-show\" b"), "\"-show\" b");
    EXPECT_EQ(ArgumentsAfterProgramName("g.exe"), "");
    EXPECT_EQ(ArgumentsAfterProgramName("\"unclosed name -show"), "");
    EXPECT_EQ(ArgumentsAfterProgramName(""), "");
}

TEST(Win32Instance, ProgramFolderHoldsThisProgram) {
    const std::string folder = DefaultInstance().ProgramFolder();
    ASSERT_FALSE(folder.empty());
    EXPECT_NE(folder.back(), '\\');
    char path[MAX_PATH];
    const DWORD n = ::GetModuleFileNameA(nullptr, path, MAX_PATH);
    ASSERT_GT(n, folder.size());
    EXPECT_EQ(std::string(path, folder.size()), folder);
    EXPECT_EQ(path[folder.size()], '\\');
}

TEST(Win32Instance, OneCopyPerProgramFolderHoldsTheMutex) {
    EXPECT_EQ(SoleInstanceMutexName("C:\\Program Files\\Q"),
              SoleInstanceMutexName("c:/program files/q/"));
    EXPECT_NE(SoleInstanceMutexName("C:\\Q1"), SoleInstanceMutexName("C:\\Q2"));
    EXPECT_EQ(SoleInstanceMutexName("C:\\Q").find('\\', 6), std::string::npos)
        << "only the namespace prefix may hold a backslash";

    // Another copy holds the mutex: this one may not run.
    const std::string name = SoleInstanceMutexName(DefaultInstance().ProgramFolder());
    HANDLE other = ::CreateMutexA(nullptr, FALSE, name.c_str());
    ASSERT_NE(other, nullptr);
    EXPECT_FALSE(DefaultInstance().ClaimSoleInstance());
    ::CloseHandle(other);
    // Gone: this one claims it and keeps holding it.
    EXPECT_TRUE(DefaultInstance().ClaimSoleInstance());
    HANDLE later = ::CreateMutexA(nullptr, FALSE, name.c_str());
    ASSERT_NE(later, nullptr);
    EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
    ::CloseHandle(later);
    EXPECT_TRUE(DefaultInstance().ClaimSoleInstance());
}

TEST(Win32Libraries, LoadsByNameAndResolvesExports) {
    auto kernel = DefaultLibraries().Load("kernel32.dll");
    ASSERT_NE(kernel, nullptr);
    EXPECT_EQ(kernel->Symbol("GetTickCount"),
              reinterpret_cast<void*>(reinterpret_cast<void (*)()>(
                  ::GetProcAddress(::GetModuleHandleA("kernel32.dll"), "GetTickCount"))));
    EXPECT_EQ(kernel->Symbol("NoSuchExportAnywhere"), nullptr);
    EXPECT_EQ(DefaultLibraries().Load("no-such-library-here.dll"), nullptr);
    EXPECT_EQ(DefaultLibraries().Load(""), nullptr);
}

TEST(Win32SystemInfo, AvailableMemoryIsTheSystemsFigure) {
    MEMORYSTATUSEX status{};
    status.dwLength = sizeof status;
    ASSERT_TRUE(::GlobalMemoryStatusEx(&status));
    const uint64_t mine = DefaultSystemInfo().AvailablePhysicalMemory();
    EXPECT_GT(mine, 0u);
    EXPECT_LE(mine, status.ullTotalPhys);
}

TEST(Win32StatusWindow, TwipsBecomePixelsAtTheScreensResolution) {
    const StatusLayout at96 = StatusLayout::AtDpi(96, 96);
    EXPECT_EQ(at96.client.width, 312);
    EXPECT_EQ(at96.client.height, 185);
    EXPECT_EQ(at96.list.left, 8);
    EXPECT_EQ(at96.list.top, 16);
    EXPECT_EQ(at96.list.width, 289);
    EXPECT_EQ(at96.list.height, 121);
    EXPECT_EQ(at96.button.left, 104);
    EXPECT_EQ(at96.button.top, 152);
    EXPECT_EQ(at96.button.width, 105);
    EXPECT_EQ(at96.button.height, 25);
    const StatusLayout at120 = StatusLayout::AtDpi(120, 144);
    EXPECT_EQ(at120.client.width, 390);
    EXPECT_EQ(at120.client.height, 278);  // 2775 twips at 144 dpi, rounded
    EXPECT_EQ(at120.button.top, 228);
}

// The window tests need a display: scripts/windows-test runs them under Xvfb,
// apart from the other tests, which run without one (so that no message box
// can wait for a person).
bool NoDisplay() {
    return !std::getenv("DISPLAY");
}

TEST(Win32StatusWindow, ShowsLinesAndClosesWithoutWaitingWhenClosedDuringTheRun) {
    if (NoDisplay())
        GTEST_SKIP() << "needs a display";
    Win32StatusWindow window;
    window.Show();
    HWND hwnd = static_cast<HWND>(window.Handle());
    ASSERT_NE(hwnd, nullptr);
    char caption[64] = {};
    ::GetWindowTextA(hwnd, caption, sizeof caption);
    EXPECT_STREQ(caption, "Quellbox Tessaly");
    RECT client;
    ASSERT_TRUE(::GetClientRect(hwnd, &client));
    HDC screen = ::GetDC(nullptr);
    const int dpi = ::GetDeviceCaps(screen, LOGPIXELSX);
    ::ReleaseDC(nullptr, screen);
    EXPECT_EQ(client.right, StatusLayout::AtDpi(dpi, dpi).client.width);

    HWND list = ::FindWindowExA(hwnd, nullptr, "LISTBOX", nullptr);
    HWND ok = ::FindWindowExA(hwnd, nullptr, "BUTTON", "OK");
    ASSERT_NE(list, nullptr);
    ASSERT_NE(ok, nullptr);
    EXPECT_FALSE(::IsWindowEnabled(ok)) << "OK is disabled during the run";
    window.AddLine("Scanning Inbox ...");
    window.AddLine("Scanning Sent Items ...");
    EXPECT_EQ(::SendMessageA(list, LB_GETCOUNT, 0, 0), 2);
    EXPECT_EQ(::SendMessageA(list, LB_GETCURSEL, 0, 0), 1) << "the last line is selected";

    // Closed by its frame during the run: the window goes at the next pump,
    // further lines are dropped and the end of the run does not wait.
    ::PostMessageA(hwnd, WM_CLOSE, 0, 0);
    window.PumpEvents();
    EXPECT_FALSE(::IsWindow(hwnd));
    EXPECT_EQ(window.Handle(), nullptr);
    window.AddLine("Scanning block folder ...");
    window.WaitForOk(true);
    window.Close();
}

TEST(Win32StatusWindow, OkEndsTheWaitOnceEnabled) {
    if (NoDisplay())
        GTEST_SKIP() << "needs a display";
    Win32StatusWindow window;
    window.Show();
    HWND hwnd = static_cast<HWND>(window.Handle());
    ASSERT_NE(hwnd, nullptr);
    HWND ok = ::FindWindowExA(hwnd, nullptr, "BUTTON", "OK");
    ASSERT_NE(ok, nullptr);
    // A press while disabled does nothing; the click queued for after the
    // enabling ends the wait.
    ::SendMessageA(hwnd, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), reinterpret_cast<LPARAM>(ok));
    EXPECT_TRUE(::IsWindow(hwnd));
    ::PostMessageA(ok, BM_CLICK, 0, 0);
    window.WaitForOk(true);
    EXPECT_FALSE(::IsWindow(hwnd));
}

TEST(Win32StatusWindow, AfterAnErrorTheFrameEndsTheWait) {
    if (NoDisplay())
        GTEST_SKIP() << "needs a display";
    Win32StatusWindow window;
    window.Show();
    HWND hwnd = static_cast<HWND>(window.Handle());
    ASSERT_NE(hwnd, nullptr);
    HWND ok = ::FindWindowExA(hwnd, nullptr, "BUTTON", "OK");
    ::PostMessageA(hwnd, WM_CLOSE, 0, 0);
    window.WaitForOk(false);
    EXPECT_FALSE(::IsWindow(hwnd));
    EXPECT_FALSE(::IsWindow(ok));
}

}  // namespace
}  // namespace qb::platform
