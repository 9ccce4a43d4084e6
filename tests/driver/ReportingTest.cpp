#include <gtest/gtest.h>

#include "platform/Platform.h"
#include "platform/memory/FakeInstance.h"
#include "platform/memory/FixedClock.h"
#include "platform/memory/MemoryFileSystem.h"
#include "platform/memory/RecordingStatusWindow.h"
#include "scanner/driver/Driver.h"

namespace qb::driver {
namespace {

class Reporting : public ::testing::Test {
  protected:
    Reporting() {
        program.folder = "C:\\Quellbox";
        clock.now = {2003, 6, 23, 11, 20, 52};
        gShowStatus = false;
    }
    ~Reporting() override { gShowStatus = false; }

    platform::MemoryFileSystem files;
    platform::FakeInstance program;
    platform::FixedClock clock;
    platform::RecordingStatusWindow window;
    platform::ScopedServices scope{
        {.files = &files, .clock = &clock, .instance = &program, .status = &window}};
};

TEST_F(Reporting, ConsoleLinesAreAppendedWithDateAndCrLf) {
    ConsoleLog("Processed block folder");
    clock.now = {2003, 12, 1, 0, 5, 7};
    ConsoleLog("second\r\nline");
    clock.now = {2003, 12, 1, 12, 0, 0};
    ConsoleLog("");
    EXPECT_EQ(files.Content("C:\\Quellbox\\console.txt"),
              "6/23/2003 11:20:52 AM : Processed block folder\r\n"
              "12/1/2003 12:05:07 AM : second\r\nline\r\n"
              "12/1/2003 12:00:00 PM : \r\n");
}

TEST_F(Reporting, ExistingLogIsAppendedToNeverRewritten) {
    files.PutFile("C:\\Quellbox\\console.txt", "earlier run\r\n");
    ConsoleLog("x");
    EXPECT_EQ(files.Content("C:\\Quellbox\\console.txt"),
              "earlier run\r\n6/23/2003 11:20:52 AM : x\r\n");
}

TEST_F(Reporting, UnwritableLogLosesTheLineAndGoesOn) {
    files.SetWritesFail(true);
    ConsoleLog("lost");
    ConsoleLog("lost too");
    files.SetWritesFail(false);
    ConsoleLog("kept");
    EXPECT_EQ(files.Content("C:\\Quellbox\\console.txt"), "6/23/2003 11:20:52 AM : kept\r\n");
}

TEST_F(Reporting, StatusLinesOnlyInShownMode) {
    StatusMessage("Scanning Inbox ...");
    EXPECT_TRUE(window.lines.empty());
    gShowStatus = true;
    StatusMessage("Scanning Inbox ...");
    StatusMessage("Outlook Express scan finished.");
    EXPECT_EQ(window.lines,
              (std::vector<std::string>{"Scanning Inbox ...", "Outlook Express scan finished."}));
    EXPECT_FALSE(files.Has("C:\\Quellbox\\console.txt")) << "status lines never reach the log";
}

}  // namespace
}  // namespace qb::driver
