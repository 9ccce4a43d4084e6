// The Windows API for the win32 implementations of the platform services.
// Include it from .cpp files in platform/win32/ only, after every other
// header. windows.h defines function-like names as macros (DeleteFile,
// CopyFile, ReplaceFile, MessageBox pick their -A or -W variant) that would
// rename the members of the service interfaces; they are undefined here and
// the code calls the explicit -A functions, which take the 8-bit texts of
// the system's code page as they are.
#pragma once

#include "common/LeanWindows.h"

#undef CopyFile
#undef DeleteFile
#undef MessageBox
#undef ReplaceFile
