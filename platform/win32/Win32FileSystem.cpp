#include "platform/win32/Win32FileSystem.h"

#include "common/Text.h"

#include "platform/replace/FileReplacement.h"
#include "platform/win32/WinApi.h"

namespace qb::platform {

namespace {

bool IsSeparator(char c) {
    return c == '\\' || c == '/';
}

// Closes a handle when it goes out of scope.
class Handle {
  public:
    explicit Handle(HANDLE h) : h_(h) {}
    ~Handle() {
        if (Valid())
            ::CloseHandle(h_);
    }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;

    bool Valid() const { return h_ != INVALID_HANDLE_VALUE && h_ != nullptr; }
    HANDLE Get() const { return h_; }
    // Closes now; false when closing failed (the last buffered write may be lost).
    bool Close() {
        const bool ok = ::CloseHandle(h_) != 0;
        h_ = INVALID_HANDLE_VALUE;
        return ok;
    }

  private:
    HANDLE h_;
};

// A disk file open for positioned reads: each ReadFile names its offset in
// an OVERLAPPED structure (on a synchronous handle that is a seek and a read
// in one call).
class Win32ReadableFile final : public ReadableFile {
  public:
    explicit Win32ReadableFile(HANDLE h) : file_(h) {}

    int64_t ReadAt(int64_t offset, char* out, size_t n) override {
        if (offset < 0)
            return -1;
        size_t have = 0;
        while (have < n) {
            const size_t room = n - have;
            const DWORD piece = room > (1u << 30) ? (1u << 30) : static_cast<DWORD>(room);
            const uint64_t at = static_cast<uint64_t>(offset) + have;
            OVERLAPPED where{};
            where.Offset = static_cast<DWORD>(at & 0xFFFFFFFFu);
            where.OffsetHigh = static_cast<DWORD>(at >> 32);
            DWORD got = 0;
            if (!::ReadFile(file_.Get(), out + have, piece, &got, &where)) {
                if (::GetLastError() == ERROR_HANDLE_EOF)
                    break;
                return -1;
            }
            if (got == 0)
                break;
            have += got;
        }
        return static_cast<int64_t>(have);
    }

    bool Valid() const { return file_.Valid() && ::GetFileType(file_.Get()) == FILE_TYPE_DISK; }

  private:
    Handle file_;
};

// The code page's wide characters of 8-bit text.
std::wstring Widen(std::string_view text) {
    if (text.empty())
        return {};
    const int n =
        ::MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring out(static_cast<size_t>(n > 0 ? n : 0), L'\0');
    if (n > 0)
        ::MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), out.data(), n);
    return out;
}

// The code page's bytes of wide text; false when a character has none (or
// comes back as another one).
bool Narrow(std::wstring_view text, std::string& out) {
    out.clear();
    if (text.empty())
        return true;
    BOOL defaulted = FALSE;
    const int n =
        ::WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, text.data(),
                              static_cast<int>(text.size()), nullptr, 0, nullptr, &defaulted);
    if (n <= 0 || defaulted)
        return false;
    out.resize(static_cast<size_t>(n));
    ::WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, text.data(), static_cast<int>(text.size()),
                          out.data(), n, nullptr, &defaulted);
    return !defaulted && out.find('?') == std::string::npos && Widen(out) == text;
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

// The code unit of an escape "?XXXX" at the start of text; -1 when there is none.
int EscapeAt(std::string_view text) {
    if (text.size() < 5 || text[0] != '?')
        return -1;
    int unit = 0;
    for (size_t i = 1; i < 5; ++i) {
        const int d = HexDigit(text[i]);
        if (d < 0)
            return -1;
        unit = unit * 16 + d;
    }
    return unit;
}

// Where the last part of path (the file's own name) begins.
size_t NameStart(const std::string& path) {
    const size_t sep = path.find_last_of("\\/:");
    return sep == std::string::npos ? 0 : sep + 1;
}

// A path that names a device rather than a file: the "\\.\" namespace, or
// a reserved device name ("NUL", "con.txt", "C:\x\LPT1") in any folder.
// Told by the name alone, as opening a device (a pipe, say) can act on it.
bool IsDevice(const std::string& path) {
    if (path.size() >= 4 && IsSeparator(path[0]) && IsSeparator(path[1]) && path[2] == '.' &&
        IsSeparator(path[3]))
        return true;
    std::string_view name = std::string_view(path).substr(NameStart(path));
    name = name.substr(0, name.find('.'));
    while (!name.empty() && name.back() == ' ')
        name.remove_suffix(1);
    for (const char* device : {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"}) {
        if (text::EqualNoCase(name, device))
            return true;
    }
    return name.size() == 4 &&
           (text::EqualNoCase(name.substr(0, 3), "COM") ||
            text::EqualNoCase(name.substr(0, 3), "LPT")) &&
           name[3] >= '1' && name[3] <= '9';
}

// A file that is there and has the read-only attribute. Windows itself
// refuses to write, replace or delete such a file; the check is made here as
// well so that the refusal does not depend on the account (Wine running as
// root, for one, would write it).
bool IsReadOnly(const std::string& path) {
    const DWORD attributes = ::GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY) &&
           (attributes & FILE_ATTRIBUTE_READONLY);
}

// The system's text for an error number, without its closing period and
// line end ("Access is denied"); "Windows error <n>" when it has none.
std::string SystemErrorText(DWORD error) {
    char buffer[512] = {};
    const DWORD n = ::FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                     nullptr, error, 0, buffer, sizeof buffer, nullptr);
    std::string text(buffer, n);
    while (!text.empty() &&
           (text.back() == '\r' || text.back() == '\n' || text.back() == ' ' || text.back() == '.'))
        text.pop_back();
    return text.empty() ? "Windows error " + std::to_string(error) : text;
}

// What marked the name of a temporary file of ReplaceFile in earlier
// versions: "~" + the replaced file's name + this + the process and a
// counter in hexadecimal.
constexpr const char* kTemporaryMark = ".qbtmp-";

}  // namespace

std::string EscapedName(std::wstring_view name) {
    std::string out;
    if (Narrow(name, out))
        return out;
    out.clear();
    std::string one;
    for (const wchar_t unit : name) {
        if (Narrow(std::wstring_view(&unit, 1), one)) {
            out += one;
        } else {
            char escape[6];
            std::snprintf(escape, sizeof escape, "?%04X", static_cast<unsigned>(unit) & 0xFFFFu);
            out += escape;
        }
    }
    return out;
}

std::wstring WidePath(std::string_view path) {
    std::wstring out;
    size_t plain = 0;
    for (size_t i = 0; i < path.size(); ++i) {
        const int unit = EscapeAt(path.substr(i));
        if (unit < 0)
            continue;
        out += Widen(path.substr(plain, i - plain));
        out += static_cast<wchar_t>(unit);
        i += 4;
        plain = i + 1;
    }
    out += Widen(path.substr(plain));
    return out;
}

PathKind Win32FileSystem::Kind(const std::string& path) {
    if (path.empty())
        return PathKind::kMissing;
    const DWORD attributes = ::GetFileAttributesW(WidePath(path).c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return PathKind::kMissing;
    if (attributes & FILE_ATTRIBUTE_DIRECTORY)
        return PathKind::kFolder;
    if ((attributes & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_DEVICE)) ||
        IsDevice(path))
        return PathKind::kHiddenFile;
    return PathKind::kFile;
}

int64_t Win32FileSystem::FileSize(const std::string& path) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (path.empty() || IsDevice(path) ||
        !::GetFileAttributesExW(WidePath(path).c_str(), GetFileExInfoStandard, &data) ||
        (data.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE)))
        return -1;
    return (static_cast<int64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

bool Win32FileSystem::ReadFile(const std::string& path, std::string& out) {
    out.clear();
    if (path.empty() || IsDevice(path))
        return false;
    // Others may go on reading, writing and even replacing the file meanwhile.
    Handle file(::CreateFileW(WidePath(path).c_str(), GENERIC_READ,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.Valid())
        return false;
    LARGE_INTEGER size;
    if (::GetFileType(file.Get()) != FILE_TYPE_DISK || !::GetFileSizeEx(file.Get(), &size))
        return false;
    // A file larger than a string of this process can hold cannot be read
    // whole (in the 32-bit build its size would not even fit a size_t).
    if (static_cast<ULONGLONG>(size.QuadPart) > out.max_size())
        return false;
    // Read the size found now; a file that grows meanwhile is read to its end.
    size_t have = 0;
    out.resize(static_cast<size_t>(size.QuadPart));
    for (;;) {
        if (have == out.size())
            out.resize(out.size() + 65536);
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

bool Win32FileSystem::ReplaceFile(const std::string& path, std::string_view content,
                                  Durability durability) {
    if (path.empty() || IsSeparator(path.back()) || IsDevice(path) || IsReadOnly(path))
        return false;
    replace::FileReplacement file(path);
    return file.Write(content) && file.Commit(durability == Durability::kSynced);
}

int Win32FileSystem::RemoveLeftoverTemporaries(const std::string& path) {
    if (path.empty() || IsSeparator(path.back()))
        return 0;
    const int dead = replace::RemoveDeadWritersTemporaries(path);
    // The names of the earlier versions' temporary files carried no writer
    // that can be asked: with this copy the only one, they are leftovers.
    const std::string folder = path.substr(0, NameStart(path));
    WIN32_FIND_DATAA found;
    HANDLE search = ::FindFirstFileA(
        (folder + "~" + path.substr(NameStart(path)) + kTemporaryMark + "*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return dead;
    int removed = dead;
    do {
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
            continue;
        const std::string full = folder + found.cFileName;
        ::SetFileAttributesA(full.c_str(), FILE_ATTRIBUTE_NORMAL);
        if (::DeleteFileA(full.c_str()))
            ++removed;
    } while (::FindNextFileA(search, &found));
    ::FindClose(search);
    return removed;
}

bool Win32FileSystem::AppendFile(const std::string& path, std::string_view content) {
    if (path.empty() || IsDevice(path) || IsReadOnly(path))
        return false;
    // Others may hold the file open for reading or appending as well.
    Handle file(::CreateFileA(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.Valid() || ::GetFileType(file.Get()) != FILE_TYPE_DISK)
        return false;
    const bool ok = replace::WriteAll(reinterpret_cast<intptr_t>(file.Get()), content);
    return file.Close() && ok;
}

bool Win32FileSystem::CopyFile(const std::string& from, const std::string& to) {
    std::string content;
    return ReadFile(from, content) && ReplaceFile(to, content);
}

bool Win32FileSystem::DeleteFile(const std::string& path) {
    return !path.empty() && !IsReadOnly(path) && ::DeleteFileA(path.c_str()) != 0;
}

// Windows has no sync of a folder. NTFS logs its changes of names in order
// and a write-through move (a synced ReplaceFile) returns once the log holds
// it, so the removals made before the next synced replacement in the folder
// are durable with it; callers make one after SyncFolder (see
// lists::RecoverUnfinishedPhase).
bool Win32FileSystem::SyncFolder(const std::string& path) {
    (void)path;
    return true;
}

bool Win32FileSystem::CreateFolder(const std::string& path) {
    if (path.empty())
        return false;
    // Create each level in turn. A level that cannot be created (the drive
    // "C:", the "\\server\share" of a network path, one that exists) is
    // passed over: whether the whole path is a folder afterwards decides.
    for (size_t i = 1; i <= path.size(); ++i) {
        if (i == path.size() || IsSeparator(path[i])) {
            if (!IsSeparator(path[i - 1]))
                ::CreateDirectoryA(path.substr(0, i).c_str(), nullptr);
        }
    }
    return Kind(path) == PathKind::kFolder;
}

std::unique_ptr<ReadableFile> Win32FileSystem::OpenForReading(const std::string& path) {
    if (path.empty() || IsDevice(path))
        return nullptr;
    // Others may go on reading, writing and even replacing the file meanwhile.
    auto file = std::make_unique<Win32ReadableFile>(
        ::CreateFileW(WidePath(path).c_str(), GENERIC_READ,
                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_RANDOM_ACCESS, nullptr));
    if (!file->Valid())
        return nullptr;
    return file;
}

bool Win32FileSystem::ListFolder(const std::string& path, std::vector<FolderEntry>& out,
                                 std::string& why) {
    out.clear();
    if (path.empty() || IsDevice(path)) {
        why = SystemErrorText(ERROR_PATH_NOT_FOUND);
        return false;
    }
    std::wstring pattern = WidePath(path);
    if (!pattern.empty() && pattern.back() != L'\\' && pattern.back() != L'/')
        pattern += L'\\';
    pattern += L'*';
    WIN32_FIND_DATAW found;
    HANDLE search = ::FindFirstFileW(pattern.c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) {
        const DWORD error = ::GetLastError();
        if (error == ERROR_FILE_NOT_FOUND && Kind(path) == PathKind::kFolder)
            return true;  // a folder without even "." and "..": a drive's empty root
        why = SystemErrorText(error);
        return false;
    }
    for (;;) {
        const std::wstring_view name = found.cFileName;
        if (name != L"." && name != L"..") {
            FolderEntry entry;
            entry.name = EscapedName(name);
            const DWORD a = found.dwFileAttributes;
            entry.link = (a & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
            entry.special = (a & FILE_ATTRIBUTE_DEVICE) || IsDevice(entry.name);
            if (a & FILE_ATTRIBUTE_DIRECTORY)
                entry.kind = PathKind::kFolder;
            else if ((a & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM)) || entry.special)
                entry.kind = PathKind::kHiddenFile;
            else
                entry.kind = PathKind::kFile;
            out.push_back(std::move(entry));
        }
        if (!::FindNextFileW(search, &found)) {
            // The end of the folder, or a listing that broke off (a network
            // share gone, a disk error): only the end is a whole listing.
            const DWORD error = ::GetLastError();
            ::FindClose(search);
            if (error == ERROR_NO_MORE_FILES)
                return true;
            out.clear();
            why = SystemErrorText(error);
            return false;
        }
    }
}

}  // namespace qb::platform
