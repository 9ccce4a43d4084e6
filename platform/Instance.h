// The running program: its folder, its command line and the test for another
// copy of it already running.
#pragma once

#include <string>

namespace qb::platform {

class Instance {
  public:
    virtual ~Instance() = default;

    // The folder that holds the program file, without a trailing separator,
    // as a path text the file system service accepts.
    virtual std::string ProgramFolder() = 0;

    // The command line after the program's name, as one text. Arguments are
    // separated by blanks; an argument that holds a blank is quoted.
    virtual std::string CommandLine() = 0;

    // Claims the one running copy of the program for this program folder and
    // holds it until the process ends. False when another copy holds it, or
    // when no claim can be made at all (no copy can then be kept out).
    virtual bool ClaimSoleInstance() = 0;
};

// The file in the program folder whose lock marks the running copy.
inline constexpr const char* kSoleInstanceLockFile = "Gleanwick.lock";

}  // namespace qb::platform

namespace qb::platform {
// Hands the program's arguments to the instance service; main() calls it
// first. Systems that keep the command line themselves ignore it.
void SetProgramArguments(int argc, char** argv);

// Readies the heap of a short run that fills large tables (messages,
// addresses); main() calls it first. Systems with nothing to ready ignore it.
void PrepareHeap();
}  // namespace qb::platform
