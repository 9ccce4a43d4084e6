// A user interface for unit tests: records every message box and answers
// with a preset button.
#pragma once

#include <string>
#include <vector>

#include "platform/UserInterface.h"

namespace qb::platform {

class RecordingUserInterface final : public UserInterface {
  public:
    struct Box {
        std::string text;
        std::string title;
        unsigned style;
    };

    bool interactive = true;  // what Interactive() reports
    int answer = mb::kIdOk;   // what every box answers
    std::vector<Box> boxes;   // every box shown, in order

    bool Interactive() override { return interactive; }
    int MessageBox(const std::string& text, const std::string& title, unsigned style) override {
        boxes.push_back({text, title, style});
        return answer;
    }
};

}  // namespace qb::platform
