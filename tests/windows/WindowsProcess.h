// Helpers of the Windows end-to-end tests: a build path as Wine sees it, and
// running a program to its end. Include after windows.h.
#pragma once

#include <string>

namespace qb::test {

// A path of the build (a Linux path) as Wine sees it: drive Z: is the root.
inline std::string HostPath(const std::string& path) {
    std::string out = "Z:" + path;
    for (char& c : out) {
        if (c == '/')
            c = '\\';
    }
    return out;
}

// Runs a command line and waits for it (two minutes at most); its exit code,
// or -1 when it could not start or did not end.
inline int RunProcess(const std::string& commandLine) {
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    std::string line = commandLine;
    if (!::CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                          &startup, &process))
        return -1;
    DWORD code = static_cast<DWORD>(-1);
    if (::WaitForSingleObject(process.hProcess, 120000) == WAIT_OBJECT_0)
        ::GetExitCodeProcess(process.hProcess, &code);
    else
        ::TerminateProcess(process.hProcess, 1);
    ::CloseHandle(process.hThread);
    ::CloseHandle(process.hProcess);
    return static_cast<int>(code);
}

// Holds a named mutex for its lifetime, so that tests in different processes
// that change the same registry keys (ctest runs tests in parallel) take
// turns.
class SystemLock {
  public:
    explicit SystemLock(const char* name) : mutex_(::CreateMutexA(nullptr, FALSE, name)) {
        if (mutex_)
            ::WaitForSingleObject(mutex_, INFINITE);
    }
    ~SystemLock() {
        if (mutex_) {
            ::ReleaseMutex(mutex_);
            ::CloseHandle(mutex_);
        }
    }
    SystemLock(const SystemLock&) = delete;
    SystemLock& operator=(const SystemLock&) = delete;

  private:
    HANDLE mutex_;
};

}  // namespace qb::test
