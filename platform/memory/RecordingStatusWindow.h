// A status window for unit tests: records what was shown and done to it.
#pragma once

#include <string>
#include <vector>

#include "platform/StatusWindow.h"

namespace qb::platform {

class RecordingStatusWindow final : public StatusWindow {
  public:
    bool shown = false;
    bool closed = false;
    int pumps = 0;
    int waits = 0;
    bool okEnabled = false;
    std::vector<std::string> lines;

    void Show() override { shown = true; }
    void AddLine(const std::string& text) override { lines.push_back(text); }
    void PumpEvents() override { ++pumps; }
    void WaitForOk(bool enabled) override {
        ++waits;
        okEnabled = enabled;
    }
    void Close() override { closed = true; }
};

}  // namespace qb::platform
