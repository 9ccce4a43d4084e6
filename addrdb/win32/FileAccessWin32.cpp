// Whole-file access of the Windows build over kernel32 alone: the library
// links against nothing else of the system.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <atomic>
#include <cstdio>

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

}  // namespace

bool ReadWholeFile(const std::string& path, std::string& out) {
    out.clear();
    Handle file(::CreateFileA(path.c_str(), GENERIC_READ,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    // Only disk files: a device or pipe in the file's place is refused.
    if (!file.Valid() || ::GetFileType(file.Get()) != FILE_TYPE_DISK)
        return false;
    LARGE_INTEGER size;
    if (!::GetFileSizeEx(file.Get(), &size))
        return false;
    out.resize(static_cast<size_t>(size.QuadPart));
    size_t have = 0;
    for (;;) {
        if (have == out.size())
            out.resize(out.size() + 65536);  // the file grew since it was sized
        const size_t room = out.size() - have;
        const DWORD piece = room > (1u << 30) ? (1u << 30) : static_cast<DWORD>(room);
        DWORD got = 0;
        if (!::ReadFile(file.Get(), out.data() + have, piece, &got, nullptr)) {
            out.clear();
            return false;
        }
        if (got == 0)
            break;
        have += got;
    }
    out.resize(have);
    return true;
}

bool ReplaceWholeFile(const std::string& path, std::string_view content) {
    const size_t slash = path.find_last_of("\\/");
    const std::string folder =
        slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
    const std::string base = slash == std::string::npos ? path : path.substr(slash + 1);
    static std::atomic<unsigned> counter{0};
    std::string temp;
    HANDLE created = INVALID_HANDLE_VALUE;
    for (int attempt = 0; attempt < 100 && created == INVALID_HANDLE_VALUE; ++attempt) {
        char suffix[48];
        std::snprintf(suffix, sizeof suffix, ".%lx-%x.tmp",
                      static_cast<unsigned long>(::GetCurrentProcessId()),
                      counter.fetch_add(1) + static_cast<unsigned>(::GetTickCount()));
        temp = folder + "~" + base + suffix;
        created = ::CreateFileA(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
        if (created == INVALID_HANDLE_VALUE && ::GetLastError() != ERROR_FILE_EXISTS)
            return false;
    }
    Handle file(created);
    if (!file.Valid())
        return false;
    bool ok = WriteAll(file.Get(), content) && ::FlushFileBuffers(file.Get());
    ok = file.Close() && ok;
    // The replacement keeps the hidden, system and read-only attributes of
    // the file it replaces; a read-only file is not replaced at all.
    const DWORD old = ::GetFileAttributesA(path.c_str());
    if (old != INVALID_FILE_ATTRIBUTES &&
        (old & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY)))
        ok = false;
    if (ok && old != INVALID_FILE_ATTRIBUTES &&
        (old & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM)))
        ok = ::SetFileAttributesA(temp.c_str(),
                                  old & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM)) != 0;
    if (ok && ::MoveFileExA(temp.c_str(), path.c_str(),
                            MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return true;
    ::SetFileAttributesA(temp.c_str(), FILE_ATTRIBUTE_NORMAL);
    ::DeleteFileA(temp.c_str());
    return false;
}

}  // namespace qb::addrdb
