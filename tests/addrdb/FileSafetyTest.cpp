// What the library does to quellboxaddr.bin when things go wrong: a file that
// exists but cannot be read is never replaced, a save is on disk before it
// reports success (and reports failure when it is not), a process killed in
// the middle of a save leaves nothing that outlives the next save, and files
// larger than the read buffer read as any other.
#if !defined(_WIN32)
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <grp.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "tests/addrdb/QuellAddrLibrary.h"
#include "tests/support/TempFolder.h"

#if !defined(_WIN32)
// The test program stands between the library and the system's fsync and
// rename (it exports both, so the library, loaded at run time, binds to
// them): it records each call and can make fsync fail or hang.
namespace {
// Which flushes fail with EIO: files, folders.
std::atomic<bool> gFileSyncFails{false}, gFolderSyncFails{false};
std::atomic<bool> gFsyncHangs{false};
std::vector<std::string>* gEvents = nullptr;  // set while a test records
}  // namespace

extern "C" int fsync(int fd) {
    struct stat st;
    const bool folder = ::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode);
    if (gEvents)
        gEvents->push_back(folder ? "sync folder" : "sync file");
    while (gFsyncHangs)
        ::pause();
    if (folder ? gFolderSyncFails.load() : gFileSyncFails.load()) {
        errno = EIO;
        return -1;
    }
    static const auto real = reinterpret_cast<int (*)(int)>(::dlsym(RTLD_NEXT, "fsync"));
    return real(fd);
}

extern "C" int rename(const char* from, const char* to) {
    if (gEvents)
        gEvents->push_back("rename");
    static const auto real =
        reinterpret_cast<int (*)(const char*, const char*)>(::dlsym(RTLD_NEXT, "rename"));
    return real(from, to);
}
#endif

namespace {

using namespace qb::test;
using Totals = AddrDb::Totals;

constexpr const char* kFile = "quellboxaddr.bin";
const std::string kOld = "v1 7 9\r\nfriend@example.com 7 9 50\r\n";

// The names in the folder, sorted.
std::vector<std::string> Names(const TempFolder& dir) {
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(dir.Path()))
        names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

size_t FirstDifference(const std::string& a, const std::string& b) {
    return static_cast<size_t>(
        std::mismatch(a.begin(), a.begin() + std::min(a.size(), b.size()), b.begin()).first -
        a.begin());
}

TEST(AddrDbFileSafety, FilesLargerThanTheReadBufferReadLineByLine) {
    // Lines of every shape, many times over, so that every kind of line meets
    // the buffer's edge somewhere: blanks around and inside, comments, tabs,
    // lone addresses, capitals, empty tokens, one number.
    TempFolder dir;
    std::string text = "# made by hand\r\n  V1 11 22 \t\r\n";
    std::string expected = "v1 11 22\r\n";
    for (int i = 0; i < 6000; ++i) {
        char key[32];
        std::snprintf(key, sizeof key, "user%05d@Example.COM", i);
        std::string lower = key;
        for (char& c : lower)
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        switch (i % 6) {
            case 0:
                text += std::string(" \t") + key + " 1 2 3 \t \r\n";
                expected += lower + " 1 2 3\r\n";
                break;
            case 1:
                text += std::string(key) + " 4  5\t6 -7\n# not a record " + key + " 1 1\n";
                expected += lower + " 4 0 5 -7\r\n";
                break;
            case 2:
                text += std::string(key) + "    \r\n\r\n" + key + "x 9\r\n";
                expected += lower + "x 9 0\r\n";
                break;
            case 3:
                text += std::string(key) + " +12abc \t-\t 8\r\n";
                expected += lower + " 12 0 8\r\n";
                break;
            case 4:
                text += std::string(key) + " 1 1\r\n" + key + " 2 2 100 99\r\n";
                expected += lower + " 2 2 100 99\r\n";
                break;
            default:
                text += std::string(key) + " 4294967295 0";
                for (int s = 0; s < 25; ++s)
                    text.append(" ").append(std::to_string(s));
                text += "\r\n";
                expected += lower + " 4294967295 0";
                for (int s = 5; s < 25; ++s)
                    expected.append(" ").append(std::to_string(s));
                expected += "\r\n";
                break;
        }
    }
    ASSERT_GT(text.size(), 4u * 64 * 1024);
    dir.Write(kFile, text);
    {
        AddrDb db(dir.WinPath(), 100000);
        EXPECT_EQ(db.GetTotals(), (Totals{6000, 22, 11}));
        ASSERT_EQ(db.Save(), 1);
    }
    const std::string saved = dir.Read(kFile);
    EXPECT_TRUE(saved == expected)
        << "first difference at byte " << FirstDifference(saved, expected);

    // The same lines in reverse order: read back into key order, and of two
    // lines for one address the later in the file wins.
    std::string reversed = "v1 0 0\r\n";
    for (int i = 5999; i >= 0; --i) {
        reversed.append("addr").append(std::to_string(i)).append(" ");
        reversed.append(std::to_string(i % 3)).append(" 1\r\n");
    }
    reversed += "addr17 5 5\r\naddr17 6 6\r\n";
    dir.Write(kFile, reversed);
    AddrDb db(dir.WinPath(), 100000);
    EXPECT_EQ(db.GetTotals().entries, 6000u);
    EXPECT_EQ(db.GetFrom("addr17"), 6);
    EXPECT_EQ(db.GetFrom("addr5999"), 2);
    EXPECT_EQ(db.GetTo("addr0"), 1);
    ASSERT_EQ(db.Save(), 1);
    const std::string sorted = dir.Read(kFile);
    EXPECT_EQ(sorted.substr(0, 30), "v1 0 0\r\naddr0 0 1\r\naddr1 1 1\r\n");
}

#if defined(_WIN32)
TEST(AddrDbFileSafety, AFileHeldWithoutReadSharingIsNeverReplaced) {
    TempFolder dir;
    dir.Write(kFile, kOld);
    const std::string file = dir.WinPath() + "\\" + kFile;
    HANDLE held = ::CreateFileA(file.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    AddrDb db(dir.WinPath(), 100);
    ::CloseHandle(held);
    EXPECT_EQ(db.GetTotals(), (Totals{0, 0, 0})) << "the database starts empty";
    db.To("new@example.com", 1);
    EXPECT_EQ(db.Save(), 0) << "the file became readable, but this handle never read it";
    EXPECT_EQ(db.Free(), 0);
    EXPECT_EQ(dir.Read(kFile), kOld);
    EXPECT_EQ(Names(dir), std::vector<std::string>{kFile}) << "no temporary file stays behind";

    AddrDb again(dir.WinPath(), 100);
    EXPECT_EQ(again.GetTo("friend@example.com"), 9) << "a later handle reads it as before";
}

TEST(AddrDbFileSafety, ADeadWritersTemporaryFileGoesWithTheNextSave) {
    // A process that has ended stands for a writer killed in the middle of a
    // save; this process stands for one still writing.
    STARTUPINFOA start{};
    start.cb = sizeof start;
    PROCESS_INFORMATION ended{};
    char command[] = "cmd.exe /c exit 0";
    ASSERT_TRUE(::CreateProcessA(nullptr, command, nullptr, nullptr, FALSE, CREATE_NO_WINDOW,
                                 nullptr, nullptr, &start, &ended));
    ::WaitForSingleObject(ended.hProcess, INFINITE);
    ::CloseHandle(ended.hThread);
    ::CloseHandle(ended.hProcess);
    char dead[64], live[64];
    std::snprintf(dead, sizeof dead, "~%s.%lx-1a2b.tmp", kFile, ended.dwProcessId);
    std::snprintf(live, sizeof live, "~%s.%lx-1a2b.tmp", kFile, ::GetCurrentProcessId());
    TempFolder dir;
    dir.Write(kFile, kOld);
    dir.Write(dead, "half");
    dir.Write(live, "busy");
    AddrDb db(dir.WinPath(), 100);
    db.To("kept@example.com", 1);
    ASSERT_EQ(db.Save(), 1);
    std::vector<std::string> expected{kFile, live};
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(Names(dir), expected);
}
#else
// Runs body in a child process (which may drop its rights) and hands back its
// exit status: 0 when every check there held.
template <typename Body>
int InChild(Body body) {
    const pid_t child = ::fork();
    if (child == 0)
        ::_exit(body());
    int status = -1;
    ::waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 200;
}

constexpr int kCannotTest = 77;

TEST(AddrDbFileSafety, AFileWithoutReadPermissionIsNeverReplaced) {
    TempFolder dir;
    dir.Write(kFile, kOld);
    // The folder lets anyone write, the file lets only its owner read. The
    // child runs as another user when the test runs as root (who reads every
    // file whatever its mode), else the file's mode shuts out its owner too.
    ASSERT_EQ(::chmod(dir.Path().c_str(), 0777), 0);
    ASSERT_EQ(::chmod((dir / kFile).c_str(), ::geteuid() == 0 ? 0600 : 0), 0);
    const int status = InChild([&dir] {
        if (::geteuid() == 0 &&
            (::setgroups(0, nullptr) != 0 || ::setgid(65534) != 0 || ::setuid(65534) != 0))
            return kCannotTest;
        if (::access((dir / kFile).c_str(), R_OK) == 0 || ::access(dir.Path().c_str(), W_OK) != 0)
            return kCannotTest;
        auto& lib = QuellAddrLibrary::Get();
        SpamAddrHandle h = lib.getSpamAddrH(dir.WinPath().c_str(), 100);
        uint32_t entries = 1, to = 1, from = 1;
        lib.getSpamAddrHTotals(h, &entries, &to, &from);
        int failures = entries == 0 && to == 0 && from == 0 ? 0 : 1;
        lib.addSpamAddrTo(h, "new@example.com", 1);
        failures += lib.saveSpamAddrH(h) == 0 ? 0 : 2;
        failures += lib.saveSpamAddrH(h) == 0 ? 0 : 4;
        failures += lib.freeSpamAddrH(h) == 0 ? 0 : 8;
        return failures;
    });
    if (status == kCannotTest)
        GTEST_SKIP() << "no way to make the file unreadable here (no other user to become)";
    EXPECT_EQ(status, 0) << "1: database not empty, 2/4: a save reported success, 8: release";
    EXPECT_EQ(dir.Read(kFile), kOld);
    EXPECT_EQ(Names(dir), std::vector<std::string>{kFile}) << "no temporary file stays behind";
}

TEST(AddrDbFileSafety, SomethingElseInTheFilesPlaceIsNeverReplaced) {
    // A pipe: not a regular file, so not read (and opening it does not hang).
    TempFolder dir;
    ASSERT_EQ(::mkfifo((dir / kFile).c_str(), 0644), 0);
    AddrDb db(dir.WinPath(), 100);
    EXPECT_EQ(db.GetTotals(), (Totals{0, 0, 0}));
    db.From("a", 1);
    EXPECT_EQ(db.Save(), 0);
    struct stat st;
    ASSERT_EQ(::stat((dir / kFile).c_str(), &st), 0);
    EXPECT_TRUE(S_ISFIFO(st.st_mode));
    // Once it is gone there is nothing left to lose, but this handle never
    // knew what was there: it still does not write the file.
    ASSERT_EQ(::unlink((dir / kFile).c_str()), 0);
    EXPECT_EQ(db.Save(), 0);
    EXPECT_EQ(db.Free(), 0);
    EXPECT_TRUE(Names(dir).empty());
}

TEST(AddrDbFileSafety, ASaveFlushesTheFileBeforeTheRenameAndTheFolderAfter) {
    TempFolder dir;
    dir.Write(kFile, kOld);
    AddrDb db(dir.WinPath(), 100);
    db.To("new@example.com", 1);
    std::vector<std::string> events;
    gEvents = &events;
    const int32_t saved = db.Save();
    gEvents = nullptr;
    EXPECT_EQ(saved, 1);
    EXPECT_EQ(events, (std::vector<std::string>{"sync file", "rename", "sync folder"}));
    EXPECT_EQ(dir.Read(kFile), "v1 7 10\r\nfriend@example.com 7 9 50\r\nnew@example.com 0 1\r\n");
}

TEST(AddrDbFileSafety, AFailedFlushKeepsTheOldFileAndReportsFailure) {
    TempFolder dir;
    dir.Write(kFile, kOld);
    AddrDb db(dir.WinPath(), 100);
    db.To("new@example.com", 1);
    gFileSyncFails = true;
    const int32_t unflushed = db.Save();
    gFileSyncFails = false;
    EXPECT_EQ(unflushed, 0) << "the file could not be flushed";
    EXPECT_EQ(dir.Read(kFile), kOld);
    EXPECT_EQ(Names(dir), std::vector<std::string>{kFile}) << "no temporary file stays behind";

    // The folder cannot be flushed after the rename: the new file is in
    // place, but not known to be on disk, and the save says so.
    gFolderSyncFails = true;
    const int32_t unsynced = db.Save();
    gFolderSyncFails = false;
    EXPECT_EQ(unsynced, 0);
    EXPECT_EQ(dir.Read(kFile), "v1 7 10\r\nfriend@example.com 7 9 50\r\nnew@example.com 0 1\r\n");
    EXPECT_EQ(Names(dir), std::vector<std::string>{kFile});

    EXPECT_EQ(db.Save(), 1) << "a later save may succeed";
    EXPECT_EQ(db.Free(), 0);
}

TEST(AddrDbFileSafety, AKilledSaveLeavesNothingTheNextSaveKeeps) {
    TempFolder dir;
    dir.Write(kFile, kOld);
    // A child saves and hangs in the file's flush; it is killed there, with
    // its temporary file written beside the database file.
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        auto& lib = QuellAddrLibrary::Get();
        SpamAddrHandle h = lib.getSpamAddrH(dir.WinPath().c_str(), 100);
        lib.addSpamAddrTo(h, "lost@example.com", 1);
        gFsyncHangs = true;
        lib.saveSpamAddrH(h);
        ::_exit(1);
    }
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (Names(dir).size() < 2 && std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    std::this_thread::sleep_for(std::chrono::milliseconds(50));  // its writes are done
    ::kill(child, SIGKILL);
    ::waitpid(child, nullptr, 0);
    const std::vector<std::string> left = Names(dir);
    ASSERT_EQ(left.size(), 2u) << "the killed save left its temporary file";
    EXPECT_EQ(dir.Read(kFile), kOld) << "the file itself is as it was";

    // A live writer's temporary file stays (process 1 never ends); names that
    // only look alike stay too.
    const std::string live = std::string(".") + kFile + ".1.abcdef";
    const std::string other = std::string(".") + kFile + ".bak";
    dir.Write(live, "live");
    dir.Write(other, "other");

    AddrDb db(dir.WinPath(), 100);
    EXPECT_EQ(db.GetTo("lost@example.com"), 0);
    db.To("kept@example.com", 1);
    ASSERT_EQ(db.Save(), 1);
    std::vector<std::string> expected{other, live, kFile};
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(Names(dir), expected) << "the dead writer's temporary file is gone";
    EXPECT_EQ(dir.Read(kFile), "v1 7 10\r\nfriend@example.com 7 9 50\r\nkept@example.com 0 1\r\n");
}
#endif

}  // namespace
