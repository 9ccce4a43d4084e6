// The two reporting channels of the scanner, the console log and the status
// list, as a narrow hook. The driver installs the real ConsoleLog and
// StatusMessage at start-up; lower layers (the .dbx reader, the scanner's
// string buffer, the list classes) report through these functions and tests
// install a capturing hook. With no hook installed, reports go nowhere.
#pragma once

#include <functional>
#include <string>
#include <utility>

namespace qb::report {

struct Hooks {
    std::function<void(const std::string&)> console;  // appends one console line
    std::function<void(const std::string&)> status;   // one status-list entry (shown mode only)
    std::function<int()> level;                       // the trace level in force
};

inline Hooks& Installed() {
    static Hooks hooks;
    return hooks;
}

// Installs hooks and returns the ones they replace.
inline Hooks Install(Hooks hooks) {
    std::swap(Installed(), hooks);
    return hooks;
}

inline void ConsoleLog(const std::string& text) {
    if (Installed().console)
        Installed().console(text);
}
inline void StatusMessage(const std::string& text) {
    if (Installed().status)
        Installed().status(text);
}
inline int TraceLevel() {
    return Installed().level ? Installed().level() : 0;
}
// Trace lines are written at level 8 or more, the scanner's one threshold.
inline bool Tracing() {
    return TraceLevel() >= 8;
}

}  // namespace qb::report
