// The scanner's status window on Windows: "Quellbox Tessaly", a list box and
// an OK button laid out in twips and converted at the screen's resolution,
// centred on the screen. Window messages are handled only inside
// PumpEvents and WaitForOk, so the window neither repaints nor reacts while
// the program works between them.
//
// Closing: OK (enabled once the run has ended) or the frame's close box
// after the run closes the window and WaitForOk returns. Closed by the frame
// during the run, the window goes at once; the run goes on without it to its
// end and WaitForOk then returns without waiting. After a run that ended on
// an error OK stays disabled and the frame's close box ends the wait.
#pragma once

#include <string>

#include "platform/StatusWindow.h"

namespace qb::platform {

struct StatusLayout {
    // Pixel rectangles (left, top, width, height) at a resolution in dots
    // per inch, from the window's twip measures.
    struct Box {
        int left, top, width, height;
    };
    Box client;  // left and top 0
    Box list;
    Box button;
    static StatusLayout AtDpi(int dpiX, int dpiY);
};

class Win32StatusWindow final : public StatusWindow {
  public:
    // icon: the resource id of the window's icon in the program file; the
    // system's application icon when the program has none.
    explicit Win32StatusWindow(int iconResource = 1) : iconResource_(iconResource) {}
    ~Win32StatusWindow() override;
    Win32StatusWindow(const Win32StatusWindow&) = delete;
    Win32StatusWindow& operator=(const Win32StatusWindow&) = delete;

    void Show() override;
    void AddLine(const std::string& text) override;
    void PumpEvents() override;
    void WaitForOk(bool okEnabled) override;
    void Close() override;

    // For tests: the window (null when not shown or closed) and whether the
    // run is over.
    void* Handle() const { return window_; }

    struct State;

  private:
    int iconResource_;
    void* window_ = nullptr;
    State* state_ = nullptr;
};

}  // namespace qb::platform
