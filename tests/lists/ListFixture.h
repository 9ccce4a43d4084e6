// In-memory file system, recording user interface and a clock the test moves
// on, for the list tests.
#pragma once

#include <gtest/gtest.h>

#include "platform/Platform.h"
#include "platform/memory/FixedClock.h"
#include "platform/memory/MemoryFileSystem.h"
#include "platform/memory/RecordingUserInterface.h"

namespace qb::lists::test {

class ListFixture : public ::testing::Test {
  protected:
    platform::MemoryFileSystem fs;
    platform::RecordingUserInterface ui;
    platform::FixedClock clock;
    platform::ScopedServices scope{{.files = &fs, .ui = &ui, .clock = &clock}};
};

}  // namespace qb::lists::test
