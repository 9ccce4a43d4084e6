#include <gtest/gtest.h>

#include "platform/FileSystem.h"
#include "platform/Platform.h"
#include "platform/memory/RecordingUserInterface.h"
#include "tests/support/ReportCapture.h"

namespace qb::platform {
namespace {

TEST(ShowMessage, ShowsABoxWhenSomeoneCanAnswer) {
    RecordingUserInterface ui;
    ui.answer = mb::kIdNo;
    ScopedServices scope({.ui = &ui});
    test::ReportCapture reports;
    EXPECT_EQ(ShowMessage("Entry is already on the list", "Quellbox", mb::kYesNo), mb::kIdNo);
    ASSERT_EQ(ui.boxes.size(), 1u);
    EXPECT_EQ(ui.boxes[0].text, "Entry is already on the list");
    EXPECT_TRUE(reports.console.empty());
}

TEST(ShowMessage, WritesToTheConsoleLogWithoutAUserInterface) {
    RecordingUserInterface ui;
    ui.interactive = false;
    ScopedServices scope({.ui = &ui});
    test::ReportCapture reports;
    EXPECT_EQ(ShowMessage("LoadList Error", "", mb::kOk), mb::kIdOk);
    EXPECT_EQ(ShowMessage("Replace?", "", mb::kYesNo), mb::kIdYes);
    EXPECT_TRUE(ui.boxes.empty());
    EXPECT_EQ(reports.console, (std::vector<std::string>{"LoadList Error", "Replace?"}));
}

TEST(ScopedServices, RestoresTheServicesInForceBefore) {
    FileSystem* before = &Files();
    {
        RecordingUserInterface ui;
        ScopedServices scope({.ui = &ui});
        EXPECT_EQ(&Ui(), &ui);
        EXPECT_EQ(&Files(), before) << "fields left null keep the services in force";
    }
    EXPECT_NE(dynamic_cast<UserInterface*>(&Ui()), nullptr);
    EXPECT_EQ(&Files(), before);
}

}  // namespace
}  // namespace qb::platform
