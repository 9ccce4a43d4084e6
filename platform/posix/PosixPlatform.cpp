// The posix file system and user interface as the defaults of their services.
#include "platform/Platform.h"
#include "platform/posix/PosixFileSystem.h"
#include "platform/posix/TerminalUserInterface.h"

namespace qb::platform {

FileSystem& DefaultFileSystem() {
    static PosixFileSystem files;
    return files;
}

UserInterface& DefaultUserInterface() {
    static TerminalUserInterface ui;
    return ui;
}

}  // namespace qb::platform
