// The posix defaults of every platform service.
#include "platform/Platform.h"
#include "platform/posix/PosixFileSystem.h"
#include "platform/posix/TerminalUserInterface.h"

namespace qb::platform {

Services Default() {
    static PosixFileSystem files;
    static TerminalUserInterface ui;
    Services s;
    s.files = &files;
    s.ui = &ui;
    return s;
}

}  // namespace qb::platform
