#include "platform/win32/MessageBoxUserInterface.h"

#include "platform/win32/WinApi.h"

namespace qb::platform {

bool MessageBoxUserInterface::Interactive() {
    HWINSTA station = ::GetProcessWindowStation();
    if (!station)
        return false;
    USEROBJECTFLAGS flags{};
    DWORD needed = 0;
    if (!::GetUserObjectInformationA(station, UOI_FLAGS, &flags, sizeof flags, &needed))
        return false;
    return (flags.dwFlags & WSF_VISIBLE) != 0;
}

int MessageBoxUserInterface::MessageBox(const std::string& text, const std::string& title,
                                        unsigned style) {
    const int answer = ::MessageBoxA(nullptr, text.c_str(), title.c_str(), style);
    if (answer >= IDOK && answer <= IDCONTINUE)
        return answer;
    // The box could not be shown (0; Wine without a display answers -1):
    // answer as a user interface that cannot ask.
    return (style & 0xF) == mb::kYesNo ? mb::kIdYes : mb::kIdOk;
}

}  // namespace qb::platform
