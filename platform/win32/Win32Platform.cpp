// The Windows file system and message boxes as the defaults of their services.
#include "platform/Platform.h"
#include "platform/win32/MessageBoxUserInterface.h"
#include "platform/win32/Win32FileSystem.h"

namespace qb::platform {

FileSystem& DefaultFileSystem() {
    static Win32FileSystem files;
    return files;
}

UserInterface& DefaultUserInterface() {
    static MessageBoxUserInterface ui;
    return ui;
}

}  // namespace qb::platform
