// The running program on Windows: the folder of its program file
// (GetModuleFileNameA), its command line (GetCommandLineA) and the one-copy
// test (a named mutex per program folder and session, and a lock on a file
// in the program folder itself for every session).
#pragma once

#include <string>
#include <string_view>

namespace qb::platform {

// The text of a Windows command line after the program's name, as the
// system's own start-up code finds the name: a name that begins with a
// double quote runs to the next double quote; any other name runs to the
// first blank or tab. The blanks and tabs after the name are dropped; the
// rest comes back as it is, quotes included.
std::string ArgumentsAfterProgramName(std::string_view commandLine);

// The name of the mutex that one running copy of the program in this program
// folder holds: the same for every spelling of the folder that differs only
// in letter case or in "/" for "\".
std::string SoleInstanceMutexName(std::string_view programFolder);

}  // namespace qb::platform
