// The status window on a terminal: every line is printed to standard output
// as it comes; at the end an OK prompt waits for Enter, but only when
// standard input is a terminal, so a shown run in a script still ends.
#include <unistd.h>

#include <iostream>
#include <string>

#include "platform/Platform.h"
#include "platform/StatusWindow.h"

namespace qb::platform {

namespace {

class TerminalStatusWindow final : public StatusWindow {
  public:
    void Show() override {
        if (shown_)
            return;
        shown_ = true;
        std::cout << "Quellbox Tessaly" << std::endl;
    }
    void AddLine(const std::string& text) override { std::cout << text << std::endl; }
    void PumpEvents() override { std::cout.flush(); }
    void WaitForOk(bool okEnabled) override {
        if (!::isatty(0))
            return;
        std::cout << (okEnabled ? "[ OK ] Press Enter to close." : "Press Enter to close.")
                  << std::flush;
        std::string answer;
        std::getline(std::cin, answer);
    }
    void Close() override { std::cout.flush(); }

  private:
    bool shown_ = false;
};

}  // namespace

StatusWindow& DefaultStatusWindow() {
    static TerminalStatusWindow window;
    return window;
}

}  // namespace qb::platform
