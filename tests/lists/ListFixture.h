// In-memory file system and recording user interface for the list tests.
#pragma once

#include <gtest/gtest.h>

#include "platform/Platform.h"
#include "platform/memory/MemoryFileSystem.h"
#include "platform/memory/RecordingUserInterface.h"

namespace qb::lists::test {

class ListFixture : public ::testing::Test {
  protected:
    platform::MemoryFileSystem fs;
    platform::RecordingUserInterface ui;
    platform::ScopedServices scope{{.files = &fs, .ui = &ui}};
};

}  // namespace qb::lists::test
