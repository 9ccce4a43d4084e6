#include "platform/posix/TerminalUserInterface.h"

#include <unistd.h>

#include <cstdio>
#include <iostream>
#include <string>

namespace qb::platform {

bool TerminalUserInterface::Interactive() {
    return ::isatty(0) && ::isatty(2);
}

int TerminalUserInterface::MessageBox(const std::string& text, const std::string& title,
                                      unsigned style) {
    const unsigned buttons = style & 0xF;
    std::cerr << "[" << title << "] " << text << std::endl;
    const int first = buttons == mb::kYesNo ? mb::kIdYes : mb::kIdOk;
    if (!Interactive())
        return first;
    std::string answer;
    if (buttons == mb::kYesNo) {
        std::cerr << "(y/n) " << std::flush;
        if (!std::getline(std::cin, answer))
            return mb::kIdNo;
        return (!answer.empty() && (answer[0] == 'y' || answer[0] == 'Y')) ? mb::kIdYes : mb::kIdNo;
    }
    if (buttons == mb::kOkCancel) {
        std::cerr << "(Enter for OK, c for Cancel) " << std::flush;
        if (!std::getline(std::cin, answer))
            return mb::kIdCancel;
        return (!answer.empty() && (answer[0] == 'c' || answer[0] == 'C')) ? mb::kIdCancel
                                                                           : mb::kIdOk;
    }
    std::cerr << "(Enter for OK) " << std::flush;
    std::getline(std::cin, answer);
    return mb::kIdOk;
}

}  // namespace qb::platform
