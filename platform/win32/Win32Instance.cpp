#include "platform/win32/Win32Instance.h"

#include <cstdint>
#include <cstdio>
#include <vector>

#include "common/Text.h"
#include "platform/Instance.h"
#include "platform/Platform.h"
#include "platform/win32/WinApi.h"

namespace qb::platform {

std::string ArgumentsAfterProgramName(std::string_view line) {
    size_t i = 0;
    if (!line.empty() && line[0] == '"') {
        const size_t close = line.find('"', 1);
        i = close == std::string_view::npos ? line.size() : close + 1;
    } else {
        while (i < line.size() && line[i] != ' ' && line[i] != '\t')
            ++i;
    }
    while (i < line.size() && (line[i] == ' ' || line[i] == '\t'))
        ++i;
    return std::string(line.substr(i));
}

std::string SoleInstanceMutexName(std::string_view programFolder) {
    std::string folder = text::Upper(std::string(programFolder));
    for (char& c : folder) {
        if (c == '/')
            c = '\\';
    }
    while (folder.size() > 1 && folder.back() == '\\')
        folder.pop_back();
    uint64_t h = 1469598103934665603ull;  // FNV-1a: "\" may not appear in the name
    for (unsigned char c : folder) {
        h ^= c;
        h *= 1099511628211ull;
    }
    char name[64];
    std::snprintf(name, sizeof name, "Local\\Gleanwick-%016llx",
                  static_cast<unsigned long long>(h));
    return name;
}

namespace {

class Win32Instance final : public Instance {
  public:
    ~Win32Instance() override {
        if (mutex_)
            ::CloseHandle(mutex_);
        if (lock_ != INVALID_HANDLE_VALUE)
            ::CloseHandle(lock_);
    }

    std::string ProgramFolder() override {
        std::vector<char> path(MAX_PATH);
        for (;;) {
            const DWORD n =
                ::GetModuleFileNameA(nullptr, path.data(), static_cast<DWORD>(path.size()));
            if (n == 0)
                return ".";
            if (n < path.size()) {
                std::string file(path.data(), n);
                const size_t slash = file.find_last_of("\\/");
                if (slash == std::string::npos)
                    return ".";
                // "C:\" keeps its backslash: "C:" alone means the current
                // folder of drive C.
                return slash == 2 && file[1] == ':' ? file.substr(0, 3) : file.substr(0, slash);
            }
            if (path.size() >= 32768)
                return ".";
            path.resize(path.size() * 2);
        }
    }

    std::string CommandLine() override {
        const char* line = ::GetCommandLineA();
        return line ? ArgumentsAfterProgramName(line) : std::string();
    }

    bool ClaimSoleInstance() override {
        if (mutex_)
            return true;
        const std::string name = SoleInstanceMutexName(ProgramFolder());
        HANDLE mutex = ::CreateMutexA(nullptr, FALSE, name.c_str());
        if (!mutex)
            return true;  // no mutex possible: let the run go on rather than never run
        if (::GetLastError() == ERROR_ALREADY_EXISTS) {
            ::CloseHandle(mutex);
            return false;
        }
        // The mutex belongs to one session; the lock on the file in the
        // program folder keeps out a copy of another session (a scheduled
        // job, another user) as well. The system releases both with the
        // process however it ends.
        if (!LockProgramFolder()) {
            ::CloseHandle(mutex);
            return false;
        }
        mutex_ = mutex;  // held until the process ends
        return true;
    }

  private:
    bool LockProgramFolder() {
        std::string path = ProgramFolder();
        if (!path.empty() && path.back() != '\\' && path.back() != '/')
            path += '\\';
        path += kSoleInstanceLockFile;
        constexpr DWORD kShare = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
        HANDLE file = ::CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, kShare, nullptr,
                                    OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE)  // a folder the user may not write
            file = ::CreateFileA(path.c_str(), GENERIC_READ, kShare, nullptr, OPEN_EXISTING,
                                 FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE)
            return false;
        OVERLAPPED at = {};
        if (!::LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0,
                          &at)) {
            ::CloseHandle(file);
            return false;
        }
        lock_ = file;
        return true;
    }

    HANDLE mutex_ = nullptr;
    HANDLE lock_ = INVALID_HANDLE_VALUE;
};

}  // namespace

void SetProgramArguments(int, char**) {}

void PrepareHeap() {}

Instance& DefaultInstance() {
    static Win32Instance instance;
    return instance;
}

}  // namespace qb::platform
