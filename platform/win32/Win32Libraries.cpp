// Shared libraries through LoadLibraryA and GetProcAddress. A bare file name
// is looked for in the program folder first (with the library's own
// dependencies then found beside it), then where the system looks.
#include "platform/Instance.h"
#include "platform/Libraries.h"
#include "platform/Platform.h"
#include "platform/win32/WinApi.h"

namespace qb::platform {

namespace {

class Win32Library final : public Library {
  public:
    explicit Win32Library(HMODULE module) : module_(module) {}
    ~Win32Library() override { ::FreeLibrary(module_); }
    Win32Library(const Win32Library&) = delete;
    Win32Library& operator=(const Win32Library&) = delete;

    void* Symbol(const std::string& name) override {
        // Through a plain function pointer so the conversion is well defined.
        return reinterpret_cast<void*>(
            reinterpret_cast<void (*)()>(::GetProcAddress(module_, name.c_str())));
    }

  private:
    HMODULE module_;
};

class Win32Libraries final : public Libraries {
  public:
    std::unique_ptr<Library> Load(const std::string& fileName) override {
        if (fileName.empty())
            return nullptr;
        // No "cannot find" box from the system: a missing library is the
        // caller's error to report.
        const UINT oldMode = ::SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
        HMODULE module = nullptr;
        if (fileName.find_first_of("\\/:") == std::string::npos) {
            const std::string local = Program().ProgramFolder() + "\\" + fileName;
            module = ::LoadLibraryExA(local.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
        }
        if (!module)
            module = ::LoadLibraryA(fileName.c_str());
        ::SetErrorMode(oldMode);
        if (!module)
            return nullptr;
        return std::make_unique<Win32Library>(module);
    }
};

}  // namespace

Libraries& DefaultLibraries() {
    static Win32Libraries libraries;
    return libraries;
}

}  // namespace qb::platform
