// The console log (program folder\console.txt) and the status list.
#include <cstdio>

#include "platform/Clock.h"
#include "platform/FileSystem.h"
#include "platform/Platform.h"
#include "platform/StatusWindow.h"
#include "scanner/driver/Driver.h"

namespace qb::driver {

// Appends one line: the local date and time in the general date format,
// " : ", the text, CR LF. The file is opened and closed for every line. A
// console log that cannot be written loses the line and the run goes on: the
// error paths that would report it write through this same function, so
// raising here could only repeat the failure. The first lost line of a run is
// noted on standard error.
void ConsoleLog(const std::string& text) {
    const std::string path = ProgramFolder() + "\\console.txt";
    platform::Clock& clock = platform::Time();
    std::string line = clock.GeneralDate(clock.Now());
    line += " : ";
    line += text;
    line += "\r\n";
    if (!platform::Files().AppendFile(path, line)) {
        static bool noted = false;
        if (!noted) {
            noted = true;
            std::fprintf(stderr, "Gleanwick: cannot write the console log %s\n", path.c_str());
        }
    }
}

void StatusMessage(const std::string& text) {
    if (!gShowStatus)
        return;
    platform::Status().AddLine(text);
}

}  // namespace qb::driver
