// The process environment of Windows: ExpandEnvironmentStringsA (the same
// expansion the Windows Script Host's shell object performs), the
// environment block, GetVersionExA for the family, GetUserNameA.
#include <windows.h>

#include <cstring>
#include <string>
#include <vector>

#include "platform/Environment.h"
#include "platform/Platform.h"

namespace qb::platform {

namespace {

class Win32Environment final : public Environment {
  public:
    std::string Expand(const std::string& text) override {
        // Asked for the size first, so no expansion is ever cut short.
        DWORD size = ::ExpandEnvironmentStringsA(text.c_str(), nullptr, 0);
        for (int attempt = 0; size > 0 && attempt < 4; ++attempt) {
            std::string buffer(size, '\0');
            const DWORD needed = ::ExpandEnvironmentStringsA(text.c_str(), buffer.data(), size);
            if (needed == 0)
                break;
            if (needed <= size) {
                buffer.resize(std::strlen(buffer.c_str()));
                return buffer;
            }
            size = needed;  // the environment grew meanwhile
        }
        return text;
    }

    std::vector<std::string> Entries() override {
        std::vector<std::string> out;
        LPCH block = ::GetEnvironmentStringsA();
        if (!block)
            return out;
        for (const char* p = block; *p; p += std::strlen(p) + 1)
            out.emplace_back(p);
        ::FreeEnvironmentStringsA(block);
        return out;
    }

    bool NtFamily() override {
        OSVERSIONINFOA info{};
        info.dwOSVersionInfoSize = sizeof info;
#if defined(__GNUC__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
#endif
        const BOOL ok = ::GetVersionExA(&info);
#if defined(__GNUC__)
#pragma GCC diagnostic pop
#endif
        return ok && info.dwPlatformId == VER_PLATFORM_WIN32_NT;
    }

    std::string UserName() override {
        char buffer[257];
        DWORD size = sizeof buffer;
        if (!::GetUserNameA(buffer, &size) || size == 0)
            return "";
        return std::string(buffer, size - 1);
    }
};

}  // namespace

Environment& DefaultEnvironment() {
    static Win32Environment environment;
    return environment;
}

}  // namespace qb::platform
