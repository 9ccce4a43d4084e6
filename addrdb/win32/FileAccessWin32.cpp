// File access of the Windows build over kernel32 alone (the library links
// against nothing else of the system), with calls that Windows XP has.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <atomic>
#include <cstdio>
#include <memory>

#include "addrdb/FileAccess.h"

namespace qb::addrdb {

namespace {

class Handle {
  public:
    explicit Handle(HANDLE h) : h_(h) {}
    ~Handle() { Close(); }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    HANDLE Get() const { return h_; }
    bool Valid() const { return h_ != INVALID_HANDLE_VALUE; }
    bool Close() {
        if (h_ == INVALID_HANDLE_VALUE)
            return true;
        const BOOL ok = ::CloseHandle(h_);
        h_ = INVALID_HANDLE_VALUE;
        return ok != FALSE;
    }

  private:
    HANDLE h_;
};

bool WriteAll(HANDLE file, std::string_view data) {
    while (!data.empty()) {
        const DWORD piece = data.size() > (1u << 30) ? (1u << 30) : static_cast<DWORD>(data.size());
        DWORD written = 0;
        if (!::WriteFile(file, data.data(), piece, &written, nullptr) || written == 0)
            return false;
        data.remove_prefix(written);
    }
    return true;
}

// True when no process with this id runs any more. A process that cannot be
// asked (another user's) counts as running.
bool ProcessGone(DWORD pid) {
    const HANDLE process = ::OpenProcess(SYNCHRONIZE, FALSE, pid);
    if (!process)
        return ::GetLastError() == ERROR_INVALID_PARAMETER;
    const bool gone = ::WaitForSingleObject(process, 0) == WAIT_OBJECT_0;
    ::CloseHandle(process);
    return gone;
}

// Removes the temporary files ("~" + name + "." + process id in hex + "-" +
// counter + ".tmp") that processes now gone left beside the file (killed
// between creating and renaming one). A live writer's file stays.
void RemoveLeftovers(const std::string& folder, const std::string& base) {
    const std::string prefix = "~" + base + ".";
    WIN32_FIND_DATAA found;
    const HANDLE search = ::FindFirstFileA((folder + prefix + "*.tmp").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return;
    const DWORD self = ::GetCurrentProcessId();
    do {
        const std::string name = found.cFileName;
        if (name.size() <= prefix.size() || name.compare(0, prefix.size(), prefix) != 0 ||
            (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
            continue;
        unsigned long pid = 0;
        char dash = 0;
        if (std::sscanf(name.c_str() + prefix.size(), "%8lx%c", &pid, &dash) != 2 || dash != '-' ||
            pid == 0 || pid == self)
            continue;
        if (ProcessGone(static_cast<DWORD>(pid)))
            ::DeleteFileA((folder + name).c_str());
    } while (::FindNextFileA(search, &found));
    ::FindClose(search);
}

}  // namespace

ReadOutcome ReadFileInPieces(const std::string& path, const std::function<void(uint64_t)>& expect,
                             const std::function<void(std::string_view)>& take) {
    Handle file(::CreateFileA(path.c_str(), GENERIC_READ,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.Valid()) {
        const DWORD error = ::GetLastError();
        return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND
                   ? ReadOutcome::kMissing
                   : ReadOutcome::kUnreadable;
    }
    // Only disk files: a device or pipe in the file's place is refused.
    if (::GetFileType(file.Get()) != FILE_TYPE_DISK)
        return ReadOutcome::kUnreadable;
    LARGE_INTEGER size;
    if (::GetFileSizeEx(file.Get(), &size))
        expect(static_cast<uint64_t>(size.QuadPart));
    const std::unique_ptr<char[]> buffer(new char[kPieceSize]);
    for (;;) {
        DWORD got = 0;
        if (!::ReadFile(file.Get(), buffer.get(), static_cast<DWORD>(kPieceSize), &got, nullptr))
            return ReadOutcome::kUnreadable;
        if (got == 0)
            return ReadOutcome::kRead;
        take({buffer.get(), got});
    }
}

void RemoveDeadWritersTemporaries(const std::string& path) {
    const size_t slash = path.find_last_of("\\/");
    RemoveLeftovers(slash == std::string::npos ? std::string() : path.substr(0, slash + 1),
                    slash == std::string::npos ? path : path.substr(slash + 1));
}

FileReplacement::FileReplacement(const std::string& path) : path_(path) {
    RemoveDeadWritersTemporaries(path_);
    const size_t slash = path_.find_last_of("\\/");
    const std::string folder =
        slash == std::string::npos ? std::string() : path_.substr(0, slash + 1);
    const std::string base = slash == std::string::npos ? path_ : path_.substr(slash + 1);
    static std::atomic<unsigned> counter{0};
    for (int attempt = 0; attempt < 100; ++attempt) {
        char suffix[48];
        std::snprintf(suffix, sizeof suffix, ".%lx-%x.tmp",
                      static_cast<unsigned long>(::GetCurrentProcessId()),
                      counter.fetch_add(1) + static_cast<unsigned>(::GetTickCount()));
        temp_ = folder + "~" + base + suffix;
        const HANDLE created = ::CreateFileA(temp_.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                             FILE_ATTRIBUTE_NORMAL, nullptr);
        if (created != INVALID_HANDLE_VALUE) {
            handle_ = reinterpret_cast<intptr_t>(created);
            ok_ = true;
            return;
        }
        if (::GetLastError() != ERROR_FILE_EXISTS)
            return;
    }
}

FileReplacement::~FileReplacement() {
    Discard();
}

void FileReplacement::Discard() {
    if (handle_ == -1)
        return;
    ::CloseHandle(reinterpret_cast<HANDLE>(handle_));
    handle_ = -1;
    ::SetFileAttributesA(temp_.c_str(), FILE_ATTRIBUTE_NORMAL);
    ::DeleteFileA(temp_.c_str());
    ok_ = false;
}

bool FileReplacement::Write(std::string_view data) {
    ok_ = ok_ && WriteAll(reinterpret_cast<HANDLE>(handle_), data);
    return ok_;
}

bool FileReplacement::Commit() {
    if (handle_ == -1)
        return false;
    const HANDLE file = reinterpret_cast<HANDLE>(handle_);
    bool ok = ok_ && ::FlushFileBuffers(file);
    handle_ = -1;
    ok = ::CloseHandle(file) && ok;
    // The replacement keeps the hidden and system attributes of the file it
    // replaces; a read-only file is not replaced at all.
    const DWORD old = ::GetFileAttributesA(path_.c_str());
    if (old != INVALID_FILE_ATTRIBUTES &&
        (old & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY)))
        ok = false;
    if (ok && old != INVALID_FILE_ATTRIBUTES &&
        (old & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM)))
        ok = ::SetFileAttributesA(temp_.c_str(),
                                  old & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM)) != 0;
    // MOVEFILE_WRITE_THROUGH returns only once the rename is on disk.
    if (ok && ::MoveFileExA(temp_.c_str(), path_.c_str(),
                            MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return true;
    ::SetFileAttributesA(temp_.c_str(), FILE_ATTRIBUTE_NORMAL);
    ::DeleteFileA(temp_.c_str());
    ok_ = false;
    return false;
}

}  // namespace qb::addrdb
