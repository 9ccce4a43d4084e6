// Message boxes on a terminal: the box's title and text go to standard
// error; when standard input and standard error are both terminals the user
// answers there, otherwise the style's first button is the answer.
#pragma once

#include "platform/UserInterface.h"

namespace qb::platform {

class TerminalUserInterface final : public UserInterface {
  public:
    bool Interactive() override;
    int MessageBox(const std::string& text, const std::string& title, unsigned style) override;
};

}  // namespace qb::platform
