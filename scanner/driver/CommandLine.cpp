// The command line: arguments are split by one scanner that walks the text
// after the program's name with two flags, in-argument and in-quotes.
#include "common/Text.h"
#include "platform/Instance.h"
#include "platform/Platform.h"
#include "scanner/driver/Driver.h"

namespace qb::driver {

namespace {

// Walks the command line and calls visit(index, character) for every
// character that belongs to argument index (1-based), quotes excluded, and
// start(index) when argument index begins. Stops early when visit or start
// returns false. Returns the number of arguments started.
template <class Start, class Visit>
int Scan(const std::string& line, Start start, Visit visit) {
    bool inArg = false;
    bool inQuotes = false;
    int count = 0;
    for (char c : line) {
        if (!inArg) {
            if (c == ' ')
                continue;
            inArg = true;
            inQuotes = (c == '"');
            ++count;
            if (!start(count))
                return count;
            if (!inQuotes && !visit(count, c))
                return count;
            continue;
        }
        if (inQuotes ? c == '"' : c == ' ') {
            inArg = false;  // the closing character belongs to no argument
            continue;
        }
        if (c != '"' && !visit(count, c))
            return count;
    }
    return count;
}

}  // namespace

int16_t ArgCount() {
    const int n = Scan(
        platform::Program().CommandLine(), [](int) { return true; },
        [](int, char) { return true; });
    return static_cast<int16_t>(n > 32767 ? 32767 : n);
}

std::string GetArg(int16_t n) {
    std::string arg;
    Scan(
        platform::Program().CommandLine(), [n](int index) { return index <= n; },
        [&arg, n](int index, char c) {
            if (index == n)
                arg += c;
            return true;
        });
    return arg;
}

void ParseCommandLine() {
    gShowStatus = false;
    const int16_t count = ArgCount();
    for (int16_t n = 1; n <= count; ++n) {
        if (text::Lower(GetArg(n)) == "-show")
            gShowStatus = true;
    }
}

}  // namespace qb::driver
