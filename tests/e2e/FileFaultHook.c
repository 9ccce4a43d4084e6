// A preloaded library that makes the file system fail under the scanner in
// the middle of a run, the way a real disk, a network share or another
// program does: the first time the process opens (open) or lists (opendir)
// one path, it acts once.
//
// Environment:
//   QB_HOOK_AT   the path whose first open or listing sets the hook off
//   QB_HOOK_DO   what it does then:
//                "remove PATH"   PATH is renamed to PATH.gone (gone for the
//                                scanner, kept for the test to look at)
//                "replace PATH"  the same, and a file takes PATH's place
//                "break"         the listing of QB_HOOK_AT itself breaks off
//                                with an I/O error after its first entry
//                                other than "." and ".."
// Nothing happens without both.
#define _GNU_SOURCE
#include <dirent.h>
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#define EXPORT __attribute__((visibility("default")))

static int g_fired;
static DIR* g_broken;     // the listing that breaks off
static int g_brokenSeen;  // its entries handed out so far

static void* Next(const char* name) {
    return dlsym(RTLD_NEXT, name);
}

// Sets the hook off when path is QB_HOOK_AT (once); dir is the listing just
// opened, when the call was one.
static void Check(const char* path, DIR* dir) {
    const char* at = getenv("QB_HOOK_AT");
    const char* what = getenv("QB_HOOK_DO");
    if (g_fired || !at || !what || !path || strcmp(path, at) != 0)
        return;
    g_fired = 1;
    if (strcmp(what, "break") == 0) {
        g_broken = dir;
        return;
    }
    const int replace = strncmp(what, "replace ", 8) == 0;
    if (!replace && strncmp(what, "remove ", 7) != 0)
        return;
    const char* target = what + (replace ? 8 : 7);
    char gone[4096];
    snprintf(gone, sizeof gone, "%s.gone", target);
    if (rename(target, gone) != 0)
        return;
    if (replace) {
        int (*realOpen)(const char*, int, ...) = (int (*)(const char*, int, ...))Next("open");
        const int fd = realOpen(target, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
        if (fd >= 0)
            close(fd);
    }
}

EXPORT DIR* opendir(const char* path) {
    DIR* (*real)(const char*) = (DIR * (*)(const char*)) Next("opendir");
    DIR* dir = real(path);
    if (dir)
        Check(path, dir);
    return dir;
}

// Whether the listing breaks off at the entry just read from dir (an I/O
// error, errno EIO, in its place).
static int BreaksOff(DIR* dir, const char* name) {
    if (!g_broken || dir != g_broken || strcmp(name, ".") == 0 || strcmp(name, "..") == 0 ||
        g_brokenSeen++ == 0)
        return 0;
    errno = EIO;
    return 1;
}

EXPORT struct dirent* readdir(DIR* dir) {
    struct dirent* (*real)(DIR*) = (struct dirent * (*)(DIR*)) Next("readdir");
    struct dirent* entry = real(dir);
    return entry && BreaksOff(dir, entry->d_name) ? NULL : entry;
}

EXPORT struct dirent64* readdir64(DIR* dir) {
    struct dirent64* (*real)(DIR*) = (struct dirent64 * (*)(DIR*)) Next("readdir64");
    struct dirent64* entry = real(dir);
    return entry && BreaksOff(dir, entry->d_name) ? NULL : entry;
}

EXPORT int closedir(DIR* dir) {
    int (*real)(DIR*) = (int (*)(DIR*))Next("closedir");
    if (dir == g_broken)
        g_broken = NULL;
    return real(dir);
}

static int OpenWith(const char* name, const char* path, int flags, va_list args) {
    mode_t mode = 0;
    if (flags & (O_CREAT | O_TMPFILE))
        mode = va_arg(args, mode_t);
    Check(path, NULL);
    int (*real)(const char*, int, ...) = (int (*)(const char*, int, ...))Next(name);
    return real(path, flags, mode);
}

EXPORT int open(const char* path, int flags, ...) {
    va_list args;
    va_start(args, flags);
    const int fd = OpenWith("open", path, flags, args);
    va_end(args);
    return fd;
}

EXPORT int open64(const char* path, int flags, ...) {
    va_list args;
    va_start(args, flags);
    const int fd = OpenWith("open64", path, flags, args);
    va_end(args);
    return fd;
}
