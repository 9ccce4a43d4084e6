// Over kernel32 alone, with calls that Windows XP has.
#include "common/LeanWindows.h"

#include <atomic>
#include <cstdio>

#include "platform/replace/FileReplacement.h"

namespace qb::replace {

namespace {

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

size_t NameStart(const std::string& path) {
    const size_t slash = path.find_last_of("\\/");
    return slash == std::string::npos ? 0 : slash + 1;
}

void RemoveTemporary(const std::string& temp) {
    ::SetFileAttributesA(temp.c_str(), FILE_ATTRIBUTE_NORMAL);
    ::DeleteFileA(temp.c_str());
}

}  // namespace

bool WriteAll(intptr_t file, std::string_view data) {
    const HANDLE handle = reinterpret_cast<HANDLE>(file);
    while (!data.empty()) {
        const DWORD piece = data.size() > (1u << 30) ? (1u << 30) : static_cast<DWORD>(data.size());
        DWORD written = 0;
        if (!::WriteFile(handle, data.data(), piece, &written, nullptr) || written == 0)
            return false;
        data.remove_prefix(written);
    }
    return true;
}

int RemoveDeadWritersTemporaries(const std::string& path) {
    const std::string folder = path.substr(0, NameStart(path));
    const std::string prefix = "~" + path.substr(NameStart(path)) + ".";
    WIN32_FIND_DATAA found;
    const HANDLE search = ::FindFirstFileA((folder + prefix + "*.tmp").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return 0;
    const DWORD self = ::GetCurrentProcessId();
    int removed = 0;
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
        if (ProcessGone(static_cast<DWORD>(pid))) {
            RemoveTemporary(folder + name);
            ++removed;
        }
    } while (::FindNextFileA(search, &found));
    ::FindClose(search);
    return removed;
}

FileReplacement::FileReplacement(const std::string& path) : path_(path) {
    if (path_.empty() || NameStart(path_) == path_.size())
        return;
    const size_t start = NameStart(path_);
    static std::atomic<unsigned> counter{0};
    for (int attempt = 0; attempt < 100; ++attempt) {
        char suffix[48];
        std::snprintf(suffix, sizeof suffix, ".%lx-%x.tmp",
                      static_cast<unsigned long>(::GetCurrentProcessId()),
                      counter.fetch_add(1) + static_cast<unsigned>(::GetTickCount()));
        temp_ = path_.substr(0, start) + "~" + path_.substr(start) + suffix;
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
    RemoveTemporary(temp_);
    ok_ = false;
}

bool FileReplacement::Write(std::string_view data) {
    ok_ = ok_ && WriteAll(handle_, data);
    return ok_;
}

bool FileReplacement::Commit(bool synced) {
    if (handle_ == -1)
        return false;
    const HANDLE file = reinterpret_cast<HANDLE>(handle_);
    bool ok = ok_ && (!synced || ::FlushFileBuffers(file));
    handle_ = -1;
    ok = ::CloseHandle(file) && ok;
    // The replacement keeps the hidden and system attributes of the file it
    // replaces; a read-only file (or a folder) is not replaced at all.
    const DWORD old = ::GetFileAttributesA(path_.c_str());
    if (old != INVALID_FILE_ATTRIBUTES &&
        (old & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY)))
        ok = false;
    if (ok && old != INVALID_FILE_ATTRIBUTES &&
        (old & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM)))
        ok = ::SetFileAttributesA(temp_.c_str(),
                                  old & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM)) != 0;
    // Windows has no sync of a folder: MOVEFILE_WRITE_THROUGH returns only
    // once the rename is on the disk (and with it, on NTFS, whatever the
    // journal logged before it).
    if (ok && ::MoveFileExA(temp_.c_str(), path_.c_str(),
                            MOVEFILE_REPLACE_EXISTING | (synced ? MOVEFILE_WRITE_THROUGH : 0)))
        return true;
    RemoveTemporary(temp_);
    ok_ = false;
    return false;
}

}  // namespace qb::replace
