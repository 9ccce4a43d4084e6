// Memory advice to the kernel, shared by the posix services.
#pragma once

#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>

namespace qb::platform {

// Gives advice (an MADV_ value) for the whole pages within [data, data +
// size). Advice is a hint: where the system refuses it, nothing changes.
inline void AdviseWholePages(void* data, size_t size, int advice) {
    const uintptr_t page = static_cast<uintptr_t>(::sysconf(_SC_PAGESIZE));
    const uintptr_t begin = (reinterpret_cast<uintptr_t>(data) + page - 1) & ~(page - 1);
    const uintptr_t end = (reinterpret_cast<uintptr_t>(data) + size) & ~(page - 1);
    if (begin < end)
        ::madvise(reinterpret_cast<void*>(begin), end - begin, advice);
}

}  // namespace qb::platform
