// The library's own file reading, the only code of quelladdr that talks to the
// operating system besides the file replacement it shares with the platform
// layer (platform/replace). One implementation per system: posix/, win32/.
// Paths are Windows-style texts; the posix side turns "\" into "/".
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace qb::addrdb {

// The size of the one buffer a file goes through, in and out.
constexpr size_t kPieceSize = 64 * 1024;

enum class ReadOutcome {
    kRead,        // every byte was handed over
    kMissing,     // no file there (or no folder)
    kUnreadable,  // something is there that could not be read to its end
};

// Reads the regular file at path through one buffer of kPieceSize bytes:
// tells expect the file's size first, then hands the bytes to take piece by
// piece, in order.
ReadOutcome ReadFileInPieces(const std::string& path, const std::function<void(uint64_t)>& expect,
                             const std::function<void(std::string_view)>& take);

}  // namespace qb::addrdb
