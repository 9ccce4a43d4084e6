// Message boxes. Styles and answers use the system's values (MB_*, ID*) so
// that callers read the same on every platform.
#pragma once

#include <string>

namespace qb::platform {

namespace mb {
constexpr unsigned kOk = 0x0;
constexpr unsigned kOkCancel = 0x1;
constexpr unsigned kYesNo = 0x4;
constexpr unsigned kIconError = 0x10;
constexpr unsigned kIconQuestion = 0x20;
constexpr unsigned kIconExclamation = 0x30;
constexpr unsigned kIconInformation = 0x40;

constexpr int kIdOk = 1;
constexpr int kIdCancel = 2;
constexpr int kIdYes = 6;
constexpr int kIdNo = 7;
}  // namespace mb

class UserInterface {
  public:
    virtual ~UserInterface() = default;

    // True when a person can see and answer a message box. Without one,
    // callers that are allowed to write their message to the console log
    // instead do so (see ShowMessage in Platform.h).
    virtual bool Interactive() = 0;

    // Shows a modal message box and returns the button pressed (mb::kId*).
    // A user interface that cannot ask answers with the style's first button.
    virtual int MessageBox(const std::string& text, const std::string& title, unsigned style) = 0;
};

}  // namespace qb::platform
