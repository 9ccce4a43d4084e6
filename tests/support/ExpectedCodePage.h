// The system code page a test entry requires. The ctest entries that run a
// test under a locale of another language name its code page in
// QB_EXPECT_ACP: a locale Wine did not take then fails the entry, instead of
// testing the default code page once more under its name.
#pragma once

#if defined(_WIN32)
#include <gtest/gtest.h>
#include "common/LeanWindows.h"

#include <cstdlib>

namespace qb::test {

inline ::testing::AssertionResult ExpectedCodePageHolds() {
    const char* want = std::getenv("QB_EXPECT_ACP");
    if (want == nullptr || std::strtoul(want, nullptr, 10) == ::GetACP())
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure()
           << "the system's code page is " << ::GetACP() << ", not " << want;
}

}  // namespace qb::test
#endif
