// The scanner's status window: a list of progress lines and an OK button
// that is enabled when the run has ended.
#pragma once

#include <string>

namespace qb::platform {

class StatusWindow {
  public:
    virtual ~StatusWindow() = default;

    // Shows the window without waiting for it.
    virtual void Show() = 0;

    // Adds a line at the end of the list and selects it, scrolling to it.
    // Nothing is repainted until PumpEvents or WaitForOk.
    virtual void AddLine(const std::string& text) = 0;

    // Lets the window handle the events pending now, then returns.
    virtual void PumpEvents() = 0;

    // The run has ended. okEnabled: the OK button is enabled and the call
    // returns when the user has pressed it (or at once where nobody can).
    // Otherwise (the run ended on an error) the window stays as it is until
    // the user closes it.
    virtual void WaitForOk(bool okEnabled) = 0;

    // Closes the window (it may never have been shown).
    virtual void Close() = 0;
};

}  // namespace qb::platform
