// File reading of the Windows build over kernel32 alone (the library links
// against nothing else of the system), with calls that Windows XP has.
#include "common/LeanWindows.h"

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

}  // namespace qb::addrdb
