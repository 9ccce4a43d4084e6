// The running program for unit tests: a set folder and command line, and a
// one-copy test that answers as told.
#pragma once

#include <string>

#include "platform/Instance.h"

namespace qb::platform {

class FakeInstance final : public Instance {
  public:
    std::string folder = "C:\\Program Files\\Quellbox";
    std::string commandLine;
    bool sole = true;

    std::string ProgramFolder() override { return folder; }
    std::string CommandLine() override { return commandLine; }
    bool ClaimSoleInstance() override { return sole; }
};

}  // namespace qb::platform
