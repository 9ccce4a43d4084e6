// Message boxes of Windows (MessageBoxA). A person can answer when the
// process's window station is visible: a program started as a service or by
// a scheduler without a logged-on desktop is not interactive.
#pragma once

#include "platform/UserInterface.h"

namespace qb::platform {

class MessageBoxUserInterface final : public UserInterface {
  public:
    bool Interactive() override;
    int MessageBox(const std::string& text, const std::string& title, unsigned style) override;
};

}  // namespace qb::platform
