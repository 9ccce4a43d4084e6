// Benchmark of the .dbx reader: openFile without bodies, each run in a fresh
// process (start, read and clean-up all counted), against `cat FILE` to
// /dev/null over the same file in the same round, warm cache. Every figure
// comes from the operating system's account of the child process (wait4):
// CPU time (user + system), wall time and peak resident memory. Each is the
// median of the runs.
//
//   dbx_bench [--layout among|together] [--messages N] [--megabytes M]
//             [--runs R] [--dir DIR] [--keep] [FILE...]
//
// With no FILE a message file of N messages (default 200000) of about M MB
// (default 500) is generated in DIR (default the temporary folder) with its
// records among the bodies or all together, measured, and deleted unless
// --keep is given. Files named are measured as they are.
//
//   dbx_bench --open FILE     (the child: one openFile, then exit)
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "scanner/oe/CDbx.h"
#include "tools/oe/StoreSample.h"

namespace {

struct Usage {
    double cpu = 0;   // user + system, seconds
    double wall = 0;  // seconds
    double peakMb = 0;
    int status = -1;
};

double Seconds(const timeval& t) {
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
}

// Runs argv in a child with its standard output on /dev/null.
Usage RunChild(const std::vector<std::string>& args) {
    std::vector<char*> argv;
    for (const std::string& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    const auto start = std::chrono::steady_clock::now();
    const pid_t child = fork();
    if (child == 0) {
        const int null = open("/dev/null", O_WRONLY);
        if (null >= 0)
            dup2(null, 1);
        execv(argv[0], argv.data());
        _exit(127);
    }
    Usage u;
    rusage r{};
    int status = 0;
    if (child < 0 || wait4(child, &status, 0, &r) != child)
        return u;
    u.wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    u.cpu = Seconds(r.ru_utime) + Seconds(r.ru_stime);
    u.peakMb = static_cast<double>(r.ru_maxrss) / 1024.0;  // kilobytes on Linux
    u.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return u;
}

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    const size_t n = v.size();
    return n == 0 ? 0 : n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

std::string SelfPath() {
    return std::filesystem::read_symlink("/proc/self/exe").string();
}

std::string CatPath() {
    for (const char* p : {"/usr/bin/cat", "/bin/cat"}) {
        if (std::filesystem::exists(p))
            return p;
    }
    return "cat";
}

struct Figures {
    double cpu, wall, peak;
};
Figures Medians(const std::vector<Usage>& runs) {
    std::vector<double> cpu, wall, peak;
    for (const Usage& u : runs) {
        cpu.push_back(u.cpu);
        wall.push_back(u.wall);
        peak.push_back(u.peakMb);
    }
    return {Median(cpu), Median(wall), Median(peak)};
}

bool Measure(const std::string& path, int runs) {
    const double fileMb = static_cast<double>(std::filesystem::file_size(path)) / (1024.0 * 1024.0);
    const std::vector<std::string> cat = {CatPath(), path};
    const std::vector<std::string> open = {SelfPath(), "--open", path};
    RunChild(cat);  // warms the cache
    std::vector<Usage> cats, opens;
    bool ok = true;
    for (int i = 0; i < runs; ++i) {
        cats.push_back(RunChild(cat));
        opens.push_back(RunChild(open));
        ok = ok && opens.back().status == 0;
    }
    const Figures c = Medians(cats), o = Medians(opens);
    const double goalMb = 64 + 0.1 * fileMb;
    std::printf("%s\n  file %.1f MB, %d runs each, medians%s\n", path.c_str(), fileMb, runs,
                ok ? "" : " (openFile FAILED)");
    std::printf("  cat       cpu %.3f s  wall %.3f s  peak %.1f MB\n", c.cpu, c.wall, c.peak);
    std::printf("  openFile  cpu %.3f s  wall %.3f s  peak %.1f MB\n", o.cpu, o.wall, o.peak);
    std::printf(
        "  ratio     cpu %.2fx  wall %.2fx (goal cpu <= 2x); peak %.2fx file, goal "
        "64 MB + 10%% = %.1f MB: %s\n",
        c.cpu > 0 ? o.cpu / c.cpu : 0.0, c.wall > 0 ? o.wall / c.wall : 0.0, o.peak / fileMb,
        goalMb, o.peak <= goalMb ? "within" : "OVER");
    std::fflush(stdout);
    return ok;
}

int OpenOnce(const std::string& path) {
    qb::oe::CDbx reader;
    const bool ok = reader.openFile(path, false);
    std::printf("%d messages\n", reader.EMails().Count());
    return ok ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 3 && std::string(argv[1]) == "--open")
        return OpenOnce(argv[2]);

    std::string dir = std::filesystem::temp_directory_path().string();
    std::string layoutName = "among";
    int messages = 200000;
    long long megabytes = 500;
    int runs = 5;
    bool keep = false;
    std::vector<std::string> files;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--layout" && i + 1 < argc)
            layoutName = argv[++i];
        else if (a == "--messages" && i + 1 < argc)
            messages = std::atoi(argv[++i]);
        else if (a == "--megabytes" && i + 1 < argc)
            megabytes = std::atoll(argv[++i]);
        else if (a == "--runs" && i + 1 < argc)
            runs = std::max(1, std::atoi(argv[++i]));
        else if (a == "--dir" && i + 1 < argc)
            dir = argv[++i];
        else if (a == "--keep")
            keep = true;
        else if (!a.empty() && a[0] != '-')
            files.push_back(a);
        else {
            std::fprintf(stderr,
                         "usage: dbx_bench [--layout among|together] [--messages N] "
                         "[--megabytes M] [--runs R] [--dir DIR] [--keep] [FILE...]\n");
            return 2;
        }
    }
    if (layoutName != "among" && layoutName != "together") {
        std::fprintf(stderr, "dbx_bench: layout is \"among\" or \"together\"\n");
        return 2;
    }

    bool ok = true;
    if (files.empty()) {
        const std::string path = dir + "/dbx_bench_" + layoutName + "_" + std::to_string(messages) +
                                 "_" + std::to_string(megabytes) + ".dbx";
        if (!std::filesystem::exists(path)) {
            std::printf("generating %s: %d messages, about %lld MB, records %s\n", path.c_str(),
                        messages, megabytes,
                        layoutName == "among" ? "among the bodies" : "together");
            std::fflush(stdout);
            // In a child, so the generator's memory stays out of every figure.
            const pid_t child = fork();
            if (child == 0) {
                qb::tools::WriteMessageStore(path, messages, megabytes * 1024 * 1024,
                                             layoutName == "among"
                                                 ? qb::tools::RecordLayout::AmongBodies
                                                 : qb::tools::RecordLayout::Together);
                _exit(0);
            }
            int status = 0;
            waitpid(child, &status, 0);
            if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
                std::fprintf(stderr, "generation failed\n");
                return 1;
            }
        }
        ok = Measure(path, runs);
        if (!keep)
            std::filesystem::remove(path);
    } else {
        for (const std::string& f : files)
            ok = Measure(f, runs) && ok;
    }
    return ok ? 0 : 1;
}
