// The process environment of a posix system.
//
// The NT family: a posix system counts as one. The registry it works with (a
// file, see platform/portable/FileRegistry.h) checks the access rights a key
// is opened with as the NT family's registry does, so callers take the same
// path on Linux as on the Windows systems the product supports.
#pragma once

#include <string>
#include <vector>

#include "platform/Environment.h"

namespace qb::platform {

class PosixEnvironment final : public Environment {
  public:
    // Variable names are matched without regard to case, as on Windows; where
    // two differ only in case, the first in the environment wins.
    std::string Expand(const std::string& text) override;
    std::vector<std::string> Entries() override;
    bool NtFamily() override { return true; }
    // USERNAME when set (as on Windows), else the login name of the user.
    std::string UserName() override;
};

}  // namespace qb::platform
