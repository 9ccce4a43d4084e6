// A preloaded library that records every file-changing call a process makes
// under one folder, for the crash-state test. It sits below every file layer
// of the process (the scanner's and the address database's alike): open,
// creat, mkstemp and their variants, write, pwrite, writev, sendfile,
// copy_file_range, ftruncate, fsync, fdatasync, dup and fcntl's copies,
// rename, link, unlink, mkdir, rmdir and close.
//
// Environment:
//   QB_CRASH_TRACE   the trace file (appended to); nothing is recorded without it
//   QB_CRASH_ROOT    the folder whose files are recorded
//   QB_CRASH_NOSYNC  when 1, fsync and fdatasync do nothing and are not
//                    recorded, and O_SYNC and O_DSYNC are dropped from opens
//
// Each record is one line "op fd a b\tpath\tpath2\n", paths relative to the
// root ("" is the root itself), followed for a write by its b bytes:
//   O fd flags temporary path   an open (temporary: 1 when mkstemp named it;
//                               with O_SYNC or O_DSYNC each write is synced)
//   W fd offset length          a write of length bytes at offset
//   T fd length                 a truncation
//   S fd                        a sync of the file or folder open as fd
//   C fd                        a close
//   P fd old                    fd made a copy of the descriptor old
//   R/L from to                 a rename / a hard link
//   U/M/D path                  an unlink / a new folder / a folder removed
// Only calls that succeed are recorded. The recorder calls the system
// directly for its own writes and allocates nothing, so it works inside
// programs built with AddressSanitizer (whose runtime is preloaded first).
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <stdarg.h>
#include <stdatomic.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/sendfile.h>
#include <sys/syscall.h>
#include <sys/types.h>
#include <sys/uio.h>
#include <unistd.h>

#define EXPORT __attribute__((visibility("default")))
#define MAX_FDS 4096

static int g_trace = -1;
static int g_nosync;
static char g_root[PATH_MAX];
static size_t g_rootLength;
static unsigned char g_tracked[MAX_FDS];
static atomic_flag g_lock = ATOMIC_FLAG_INIT;

static void* Next(const char* name) {
    return dlsym(RTLD_NEXT, name);
}
// Declares real_name, the next definition of name (the C library's).
#define REAL(name, ret, args)           \
    typedef ret(*name##_type) args;     \
    static name##_type real_##name = 0; \
    if (!real_##name)                   \
    real_##name = (name##_type)Next(#name)

__attribute__((constructor)) static void Start(void) {
    const char* trace = getenv("QB_CRASH_TRACE");
    const char* root = getenv("QB_CRASH_ROOT");
    const char* nosync = getenv("QB_CRASH_NOSYNC");
    g_nosync = nosync && strcmp(nosync, "1") == 0;
    if (!trace || !root || !realpath(root, g_root))
        return;
    g_rootLength = strlen(g_root);
    const int fd =
        (int)syscall(SYS_openat, AT_FDCWD, trace, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (fd < 0)
        return;
    // Out of the way of the descriptors the program numbers its files with.
    g_trace = fcntl(fd, F_DUPFD_CLOEXEC, 1000);
    syscall(SYS_close, fd);
}

static void WriteAll(const char* p, size_t n) {
    while (n > 0) {
        const long done = syscall(SYS_write, g_trace, p, n);
        if (done < 0 && errno == EINTR)
            continue;
        if (done <= 0)
            return;
        p += done;
        n -= (size_t)done;
    }
}

// Writes one record; data, when not null, follows the line.
static void Record(char op, int fd, long long a, long long b, const char* path, const char* path2,
                   const void* data) {
    char line[2 * PATH_MAX + 96];
    const int n = snprintf(line, sizeof line, "%c %d %lld %lld\t%s\t%s\n", op, fd, a, b,
                           path ? path : "", path2 ? path2 : "");
    if (n <= 0 || (size_t)n >= sizeof line)
        return;
    const int saved = errno;
    while (atomic_flag_test_and_set(&g_lock)) {
    }
    WriteAll(line, (size_t)n);
    if (data)
        WriteAll((const char*)data, (size_t)b);
    atomic_flag_clear(&g_lock);
    errno = saved;
}

// The part of an absolute path below the root, or null when it lies outside.
static const char* Below(const char* absolute) {
    if (g_trace < 0 || strncmp(absolute, g_root, g_rootLength) != 0)
        return 0;
    if (absolute[g_rootLength] == '\0')
        return absolute + g_rootLength;
    return absolute[g_rootLength] == '/' ? absolute + g_rootLength + 1 : 0;
}

static int Tracked(int fd) {
    return g_trace >= 0 && fd >= 0 && fd < MAX_FDS && g_tracked[fd];
}

// The folder a descriptor (or AT_FDCWD) stands for.
static int FolderOf(int dirfd, char* out) {
    if (dirfd == AT_FDCWD)
        return getcwd(out, PATH_MAX) ? 0 : -1;
    char link[64];
    snprintf(link, sizeof link, "/proc/self/fd/%d", dirfd);
    const ssize_t n = readlink(link, out, PATH_MAX - 1);
    if (n <= 0)
        return -1;
    out[n] = '\0';
    return 0;
}

// The absolute name of an entry (its folder resolved, the last part kept:
// rename and unlink act on a symbolic link, not on its target).
static int Resolve(int dirfd, const char* path, char* out) {
    char joined[2 * PATH_MAX];
    if (path[0] == '/') {
        snprintf(joined, sizeof joined, "%s", path);
    } else {
        char folder[PATH_MAX];
        if (FolderOf(dirfd, folder) != 0)
            return -1;
        snprintf(joined, sizeof joined, "%s/%s", folder, path);
    }
    char* slash = strrchr(joined, '/');
    char parent[PATH_MAX];
    *slash = '\0';
    if (!realpath(joined[0] ? joined : "/", parent))
        return -1;
    const int n = snprintf(out, PATH_MAX, "%s/%s", strcmp(parent, "/") ? parent : "", slash + 1);
    return n > 0 && n < PATH_MAX ? 0 : -1;
}

static void RecordOpen(int fd, int flags, int temporary) {
    if (g_trace < 0 || fd < 0 || fd >= MAX_FDS)
        return;
    char absolute[PATH_MAX];
    g_tracked[fd] = 0;
    if (FolderOf(fd, absolute) != 0)
        return;
    const char* rel = Below(absolute);
    if (!rel)
        return;
    g_tracked[fd] = 1;
    Record('O', fd, flags, temporary, rel, 0, 0);
}

// The names a call acts on, resolved before it (afterwards an old name is
// gone); b is empty for a call on one name.
typedef struct {
    int resolved;
    char a[PATH_MAX], b[PATH_MAX];
} Names;

static void Before(Names* n, int dirA, const char* a, int dirB, const char* b) {
    n->b[0] = '\0';
    n->resolved =
        g_trace >= 0 && Resolve(dirA, a, n->a) == 0 && (!b || Resolve(dirB, b, n->b) == 0);
}

// Records the call on its names when it succeeded (rc 0) and touches the
// root; one end of two outside it shows as a path the test cannot place.
static int After(int rc, char op, const Names* n) {
    const char* a = n->resolved && rc == 0 ? Below(n->a) : 0;
    const char* b = n->resolved && rc == 0 && n->b[0] ? Below(n->b) : 0;
    if (n->b[0] && (a || b))
        Record(op, -1, 0, 0, a ? a : n->a, b ? b : n->b, 0);
    else if (!n->b[0] && a)
        Record(op, -1, 0, 0, a, 0, 0);
    return rc;
}

static void RecordWrite(int fd, long long offset, const void* data, ssize_t n) {
    if (n > 0 && Tracked(fd))
        Record('W', fd, offset, n, 0, 0, data);
}

// ---- opening ----

// Open flags as the process gets them: the control run opens nothing for
// synchronous writes either.
static int Flags(int flags) {
    return g_nosync ? flags & ~(O_SYNC | O_DSYNC) : flags;
}

static int ModeArgument(int flags, va_list args) {
    return (flags & O_CREAT) || (flags & O_TMPFILE) == O_TMPFILE ? va_arg(args, int) : 0;
}

#define OPEN_FUNCTION(name)                                   \
    EXPORT int name(const char* path, int flags, ...) {       \
        va_list args;                                         \
        va_start(args, flags);                                \
        const int mode = ModeArgument(flags, args);           \
        va_end(args);                                         \
        REAL(name, int, (const char*, int, ...));             \
        const int fd = real_##name(path, Flags(flags), mode); \
        RecordOpen(fd, Flags(flags), 0);                      \
        return fd;                                            \
    }
OPEN_FUNCTION(open)
OPEN_FUNCTION(open64)

#define OPENAT_FUNCTION(name)                                        \
    EXPORT int name(int dirfd, const char* path, int flags, ...) {   \
        va_list args;                                                \
        va_start(args, flags);                                       \
        const int mode = ModeArgument(flags, args);                  \
        va_end(args);                                                \
        REAL(name, int, (int, const char*, int, ...));               \
        const int fd = real_##name(dirfd, path, Flags(flags), mode); \
        RecordOpen(fd, Flags(flags), 0);                             \
        return fd;                                                   \
    }
OPENAT_FUNCTION(openat)
OPENAT_FUNCTION(openat64)

// The checked variants a fortified build calls.
#define OPEN2_FUNCTION(name)                            \
    EXPORT int name(const char* path, int flags) {      \
        REAL(name, int, (const char*, int));            \
        const int fd = real_##name(path, Flags(flags)); \
        RecordOpen(fd, Flags(flags), 0);                \
        return fd;                                      \
    }
OPEN2_FUNCTION(__open_2)
OPEN2_FUNCTION(__open64_2)

EXPORT int __openat_2(int dirfd, const char* path, int flags) {
    REAL(__openat_2, int, (int, const char*, int));
    const int fd = real___openat_2(dirfd, path, Flags(flags));
    RecordOpen(fd, Flags(flags), 0);
    return fd;
}

#define CREAT_FUNCTION(name)                             \
    EXPORT int name(const char* path, mode_t mode) {     \
        REAL(name, int, (const char*, mode_t));          \
        const int fd = real_##name(path, mode);          \
        RecordOpen(fd, O_WRONLY | O_CREAT | O_TRUNC, 0); \
        return fd;                                       \
    }
CREAT_FUNCTION(creat)
CREAT_FUNCTION(creat64)

// mkstemp opens inside the C library, where no interposer sees it.
EXPORT int mkstemp(char* path) {
    REAL(mkstemp, int, (char*));
    const int fd = real_mkstemp(path);
    RecordOpen(fd, O_RDWR | O_CREAT | O_EXCL, 1);
    return fd;
}
EXPORT int mkostemp(char* path, int flags) {
    REAL(mkostemp, int, (char*, int));
    const int fd = real_mkostemp(path, Flags(flags));
    RecordOpen(fd, Flags(flags) | O_RDWR | O_CREAT | O_EXCL, 1);
    return fd;
}
EXPORT int mkstemps(char* path, int suffix) {
    REAL(mkstemps, int, (char*, int));
    const int fd = real_mkstemps(path, suffix);
    RecordOpen(fd, O_RDWR | O_CREAT | O_EXCL, 1);
    return fd;
}
EXPORT int mkostemps(char* path, int suffix, int flags) {
    REAL(mkostemps, int, (char*, int, int));
    const int fd = real_mkostemps(path, suffix, Flags(flags));
    RecordOpen(fd, Flags(flags) | O_RDWR | O_CREAT | O_EXCL, 1);
    return fd;
}

// ---- data ----

EXPORT ssize_t write(int fd, const void* data, size_t n) {
    REAL(write, ssize_t, (int, const void*, size_t));
    const ssize_t done = real_write(fd, data, n);
    if (done > 0 && Tracked(fd))
        RecordWrite(fd, lseek(fd, 0, SEEK_CUR) - done, data, done);
    return done;
}

#define PWRITE_FUNCTION(name)                                               \
    EXPORT ssize_t name(int fd, const void* data, size_t n, off_t offset) { \
        REAL(name, ssize_t, (int, const void*, size_t, off_t));             \
        const ssize_t done = real_##name(fd, data, n, offset);              \
        RecordWrite(fd, offset, data, done);                                \
        return done;                                                        \
    }
PWRITE_FUNCTION(pwrite)
PWRITE_FUNCTION(pwrite64)

// The pieces of a vector write, as many bytes as were written, from offset.
static void RecordVector(int fd, long long offset, const struct iovec* iov, int count,
                         ssize_t done) {
    for (int i = 0; i < count && done > 0; ++i) {
        const ssize_t piece = (size_t)done < iov[i].iov_len ? done : (ssize_t)iov[i].iov_len;
        RecordWrite(fd, offset, iov[i].iov_base, piece);
        offset += piece;
        done -= piece;
    }
}

EXPORT ssize_t writev(int fd, const struct iovec* iov, int count) {
    REAL(writev, ssize_t, (int, const struct iovec*, int));
    const ssize_t done = real_writev(fd, iov, count);
    if (done > 0 && Tracked(fd))
        RecordVector(fd, lseek(fd, 0, SEEK_CUR) - done, iov, count, done);
    return done;
}

#define PWRITEV_FUNCTION(name)                                                      \
    EXPORT ssize_t name(int fd, const struct iovec* iov, int count, off_t offset) { \
        REAL(name, ssize_t, (int, const struct iovec*, int, off_t));                \
        const ssize_t done = real_##name(fd, iov, count, offset);                   \
        if (done > 0 && Tracked(fd))                                                \
            RecordVector(fd, offset, iov, count, done);                             \
        return done;                                                                \
    }
PWRITEV_FUNCTION(pwritev)
PWRITEV_FUNCTION(pwritev64)

// A copy the kernel makes (sendfile, copy_file_range; std::filesystem's
// copy_file uses them) is read back from its source and recorded as writes.
static char g_copy[65536];
static atomic_flag g_copyLock = ATOMIC_FLAG_INIT;
static void RecordCopy(int out, long long outOffset, int in, long long inOffset, ssize_t n) {
    if (n <= 0 || !Tracked(out))
        return;
    while (atomic_flag_test_and_set(&g_copyLock)) {
    }
    while (n > 0) {
        const size_t piece = (size_t)n < sizeof g_copy ? (size_t)n : sizeof g_copy;
        const ssize_t got = pread(in, g_copy, piece, inOffset);
        if (got <= 0)
            break;  // unrecorded: the replay then differs and says so
        RecordWrite(out, outOffset, g_copy, got);
        inOffset += got;
        outOffset += got;
        n -= got;
    }
    atomic_flag_clear(&g_copyLock);
}

#define SENDFILE_FUNCTION(name, offset_type)                                  \
    EXPORT ssize_t name(int out, int in, offset_type* offset, size_t count) { \
        REAL(name, ssize_t, (int, int, offset_type*, size_t));                \
        const long long from = offset ? (long long)*offset : 0;               \
        const ssize_t done = real_##name(out, in, offset, count);             \
        if (done > 0 && Tracked(out))                                         \
            RecordCopy(out, lseek(out, 0, SEEK_CUR) - done, in,               \
                       offset ? from : lseek(in, 0, SEEK_CUR) - done, done);  \
        return done;                                                          \
    }
SENDFILE_FUNCTION(sendfile, off_t)
SENDFILE_FUNCTION(sendfile64, off64_t)

EXPORT ssize_t copy_file_range(int in, off64_t* inOffset, int out, off64_t* outOffset, size_t count,
                               unsigned flags) {
    REAL(copy_file_range, ssize_t, (int, off64_t*, int, off64_t*, size_t, unsigned));
    const long long inFrom = inOffset ? *inOffset : 0, outFrom = outOffset ? *outOffset : 0;
    const ssize_t done = real_copy_file_range(in, inOffset, out, outOffset, count, flags);
    if (done > 0 && Tracked(out))
        RecordCopy(out, outOffset ? outFrom : lseek(out, 0, SEEK_CUR) - done, in,
                   inOffset ? inFrom : lseek(in, 0, SEEK_CUR) - done, done);
    return done;
}

#define FTRUNCATE_FUNCTION(name)                 \
    EXPORT int name(int fd, off_t length) {      \
        REAL(name, int, (int, off_t));           \
        const int rc = real_##name(fd, length);  \
        if (rc == 0 && Tracked(fd))              \
            Record('T', fd, 0, length, 0, 0, 0); \
        return rc;                               \
    }
FTRUNCATE_FUNCTION(ftruncate)
FTRUNCATE_FUNCTION(ftruncate64)

#define SYNC_FUNCTION(name)                 \
    EXPORT int name(int fd) {               \
        if (g_nosync)                       \
            return 0;                       \
        REAL(name, int, (int));             \
        const int rc = real_##name(fd);     \
        if (rc == 0 && Tracked(fd))         \
            Record('S', fd, 0, 0, 0, 0, 0); \
        return rc;                          \
    }
SYNC_FUNCTION(fsync)
SYNC_FUNCTION(fdatasync)

EXPORT int close(int fd) {
    REAL(close, int, (int));
    const int tracked = Tracked(fd);
    if (tracked)
        g_tracked[fd] = 0;
    const int rc = real_close(fd);
    if (tracked)
        Record('C', fd, 0, 0, 0, 0, 0);
    return rc;
}

// ---- duplicates ----

// A descriptor made a copy of another: "P new old", or the close of new when
// old is none of the recorded files.
static void RecordCopyOf(int copy, int old) {
    if (g_trace < 0 || copy < 0 || copy >= MAX_FDS || copy == old)
        return;
    if (Tracked(old)) {
        g_tracked[copy] = 1;
        Record('P', copy, old, 0, 0, 0, 0);
    } else if (g_tracked[copy]) {
        g_tracked[copy] = 0;
        Record('C', copy, 0, 0, 0, 0, 0);
    }
}

EXPORT int dup(int old) {
    REAL(dup, int, (int));
    const int fd = real_dup(old);
    RecordCopyOf(fd, old);
    return fd;
}
EXPORT int dup2(int old, int copy) {
    REAL(dup2, int, (int, int));
    const int fd = real_dup2(old, copy);
    RecordCopyOf(fd, old);
    return fd;
}
EXPORT int dup3(int old, int copy, int flags) {
    REAL(dup3, int, (int, int, int));
    const int fd = real_dup3(old, copy, flags);
    RecordCopyOf(fd, old);
    return fd;
}

#define FCNTL_FUNCTION(name)                                  \
    EXPORT int name(int fd, int command, ...) {               \
        va_list args;                                         \
        va_start(args, command);                              \
        void* argument = va_arg(args, void*);                 \
        va_end(args);                                         \
        REAL(name, int, (int, int, ...));                     \
        const int rc = real_##name(fd, command, argument);    \
        if (command == F_DUPFD || command == F_DUPFD_CLOEXEC) \
            RecordCopyOf(rc, fd);                             \
        return rc;                                            \
    }
FCNTL_FUNCTION(fcntl)
FCNTL_FUNCTION(fcntl64)

// ---- names ----

EXPORT int rename(const char* from, const char* to) {
    REAL(rename, int, (const char*, const char*));
    Names n;
    Before(&n, AT_FDCWD, from, AT_FDCWD, to);
    return After(real_rename(from, to), 'R', &n);
}
static int RenameAt(int fromDir, const char* from, int toDir, const char* to, unsigned flags) {
    Names n;
    Before(&n, fromDir, from, toDir, to);
    return After((int)syscall(SYS_renameat2, fromDir, from, toDir, to, flags), 'R', &n);
}
EXPORT int renameat(int fromDir, const char* from, int toDir, const char* to) {
    return RenameAt(fromDir, from, toDir, to, 0);
}
EXPORT int renameat2(int fromDir, const char* from, int toDir, const char* to, unsigned flags) {
    return RenameAt(fromDir, from, toDir, to, flags);
}

EXPORT int link(const char* from, const char* to) {
    REAL(link, int, (const char*, const char*));
    Names n;
    Before(&n, AT_FDCWD, from, AT_FDCWD, to);
    return After(real_link(from, to), 'L', &n);
}
EXPORT int linkat(int fromDir, const char* from, int toDir, const char* to, int flags) {
    REAL(linkat, int, (int, const char*, int, const char*, int));
    Names n;
    Before(&n, fromDir, from, toDir, to);
    return After(real_linkat(fromDir, from, toDir, to, flags), 'L', &n);
}

EXPORT int unlink(const char* path) {
    REAL(unlink, int, (const char*));
    Names n;
    Before(&n, AT_FDCWD, path, 0, 0);
    return After(real_unlink(path), 'U', &n);
}
EXPORT int unlinkat(int dirfd, const char* path, int flags) {
    REAL(unlinkat, int, (int, const char*, int));
    Names n;
    Before(&n, dirfd, path, 0, 0);
    return After(real_unlinkat(dirfd, path, flags), flags & AT_REMOVEDIR ? 'D' : 'U', &n);
}
EXPORT int rmdir(const char* path) {
    REAL(rmdir, int, (const char*));
    Names n;
    Before(&n, AT_FDCWD, path, 0, 0);
    return After(real_rmdir(path), 'D', &n);
}

EXPORT int mkdir(const char* path, mode_t mode) {
    REAL(mkdir, int, (const char*, mode_t));
    Names n;
    Before(&n, AT_FDCWD, path, 0, 0);
    return After(real_mkdir(path, mode), 'M', &n);
}
EXPORT int mkdirat(int dirfd, const char* path, mode_t mode) {
    REAL(mkdirat, int, (int, const char*, mode_t));
    Names n;
    Before(&n, dirfd, path, 0, 0);
    return After(real_mkdirat(dirfd, path, mode), 'M', &n);
}
