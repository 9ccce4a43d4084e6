// Timing of fresh processes for the benchmarks: a program run with its wall
// time and peak memory, the median of several runs, and the file system a
// folder lies on.
#pragma once

#include <sys/resource.h>
#include <sys/statfs.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

namespace qb::tools {

struct Measure {
    double seconds = 0;
    double cpuSeconds = 0;  // user and system time of the child
    long maxRssKb = 0;
    int status = 0;
};

// Runs argv with the extra environment entries, waiting for it; wall time
// and the child's peak resident memory.
inline Measure RunProgram(const std::vector<std::string>& args, const std::string& dir,
                          const std::vector<std::string>& env, bool quiet) {
    std::fflush(stdout);  // the child must not write our buffered lines again
    const auto start = std::chrono::steady_clock::now();
    const pid_t child = ::fork();
    if (child == 0) {
        if (::chdir(dir.c_str()) != 0)
            ::_exit(126);
        for (const std::string& e : env)
            ::putenv(const_cast<char*>(e.c_str()));
        if (quiet) {
            std::freopen("/dev/null", "w", stdout);
        }
        std::vector<char*> argv;
        for (const std::string& a : args)
            argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        ::execvp(argv[0], argv.data());
        ::_exit(127);
    }
    int status = 0;
    struct rusage usage;
    ::wait4(child, &status, 0, &usage);
    Measure m;
    m.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    m.maxRssKb = usage.ru_maxrss;
    m.cpuSeconds = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                   static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    m.status = status;
    return m;
}

// The file system type of a folder, as a name where it is a known one.
inline std::string FileSystemOf(const std::filesystem::path& folder) {
    struct statfs st;
    if (::statfs(folder.c_str(), &st) != 0)
        return "unknown";
    switch (static_cast<unsigned long>(st.f_type)) {
        case 0x01021994UL:
            return "tmpfs (in memory: list writes cost nothing like a disk)";
        case 0xEF53UL:
            return "ext2/3/4";
        case 0x58465342UL:
            return "xfs";
        case 0x9123683EUL:
            return "btrfs";
        case 0x794C7630UL:
            return "overlayfs";
        default: {
            char hex[32];
            std::snprintf(hex, sizeof hex, "type 0x%lx", static_cast<unsigned long>(st.f_type));
            return hex;
        }
    }
}

// The median of runs of one measurement (each a fresh process); prepare
// runs before each one, untimed.
struct Figure {
    double seconds = 0;
    double cpuSeconds = 0;  // the median of the runs' CPU times
    long maxRssKb = 0;
    bool ok = true;
};

template <typename Prepare>
Figure Median(int runs, Prepare&& prepare, const std::vector<std::string>& args,
              const std::filesystem::path& dir, const std::vector<std::string>& env) {
    std::vector<Measure> all;
    for (int i = 0; i < runs; ++i) {
        prepare();
        all.push_back(RunProgram(args, dir, env, true));
    }
    std::sort(all.begin(), all.end(),
              [](const Measure& a, const Measure& b) { return a.seconds < b.seconds; });
    Figure f;
    f.seconds = all[all.size() / 2].seconds;
    f.maxRssKb = all[all.size() / 2].maxRssKb;
    std::vector<double> cpu;
    for (const Measure& m : all) {
        f.ok = f.ok && WIFEXITED(m.status) && WEXITSTATUS(m.status) == 0;
        std::printf("    %.3f s (CPU %.3f s)\n", m.seconds, m.cpuSeconds);
        cpu.push_back(m.cpuSeconds);
    }
    std::sort(cpu.begin(), cpu.end());
    f.cpuSeconds = cpu[cpu.size() / 2];
    return f;
}

}  // namespace qb::tools
