// Benchmark of the .dbx reader: openFile without bodies over a large message
// file, against `cat FILE > /dev/null` over the same file in the same run
// (warm cache). Reports wall times, their ratio and peak resident memory,
// and the file loader (loadBinary) alone, so the reader's own share shows.
//
//   dbx_bench [--file PATH] [--messages N] [--megabytes M] [--keep]
//
// The file is generated in a child process (so its memory does not count)
// unless it exists already, and deleted at the end unless --keep is given.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "scanner/oe/CDbx.h"
#include "strings/ScannerCString.h"
#include "tools/oe/StoreSample.h"

namespace {

double Seconds(std::chrono::steady_clock::time_point since) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

double TimeCat(const std::string& path) {
    const std::string command = "cat '" + path + "' > /dev/null";
    const auto start = std::chrono::steady_clock::now();
    if (std::system(command.c_str()) != 0)
        std::fprintf(stderr, "cat failed\n");
    return Seconds(start);
}

double PeakMegabytes() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_maxrss) / 1024.0;  // ru_maxrss is in kilobytes
}

}  // namespace

int main(int argc, char** argv) {
    std::string path = (std::filesystem::temp_directory_path() / "dbx_bench.dbx").string();
    int messages = 200000;
    long long megabytes = 512;
    bool keep = false;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--file" && i + 1 < argc)
            path = argv[++i];
        else if (a == "--messages" && i + 1 < argc)
            messages = std::atoi(argv[++i]);
        else if (a == "--megabytes" && i + 1 < argc)
            megabytes = std::atoll(argv[++i]);
        else if (a == "--keep")
            keep = true;
        else {
            std::fprintf(
                stderr, "usage: dbx_bench [--file PATH] [--messages N] [--megabytes M] [--keep]\n");
            return 2;
        }
    }

    if (!std::filesystem::exists(path)) {
        std::printf("generating %s: %d messages, about %lld MB\n", path.c_str(), messages,
                    megabytes);
        std::fflush(stdout);
        const pid_t child = fork();
        if (child == 0) {
            qb::tools::WriteMessageStore(path, messages, megabytes * 1024 * 1024);
            _exit(0);
        }
        int status = 0;
        waitpid(child, &status, 0);
        if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
            std::fprintf(stderr, "generation failed\n");
            return 1;
        }
    }
    const double fileMb = static_cast<double>(std::filesystem::file_size(path)) / (1024.0 * 1024.0);

    // Warm the cache, then take the best of three for each.
    TimeCat(path);
    double cat = 1e9, open = 1e9, load = 1e9;
    int count = 0;
    bool ok = true;
    for (int run = 0; run < 3; ++run) {
        cat = std::min(cat, TimeCat(path));
        {
            // The file loader alone, the part of openFile that is not the reader's.
            const auto start = std::chrono::steady_clock::now();
            qb::scanner::CString buffer;
            buffer.loadBinary(path);
            load = std::min(load, Seconds(start));
        }
        const auto start = std::chrono::steady_clock::now();
        {
            qb::oe::CDbx reader;
            ok = reader.openFile(path, false) && ok;
            count = reader.EMails().Count();
            open = std::min(open, Seconds(start));  // the reader's own clean-up is not counted
        }
    }
    const double peak = PeakMegabytes();
    const double limit = 1.3 * fileMb + 64;
    std::printf("file            %.1f MB, %d messages read (%s)\n", fileMb, count,
                ok ? "ok" : "FAILED");
    std::printf("cat             %.3f s\n", cat);
    std::printf("loadBinary      %.3f s   ratio %.2fx (the file loader alone)\n", load, load / cat);
    std::printf("openFile        %.3f s   ratio %.2fx (goal <= 2x); reader's own share %.3f s\n",
                open, open / cat, open - load);
    std::printf("peak resident   %.1f MB  = %.2fx file (limit 1.3x + 64 MB = %.1f MB) %s\n", peak,
                peak / fileMb, limit, peak <= limit ? "within" : "OVER");
    if (!keep)
        std::filesystem::remove(path);
    return ok ? 0 : 1;
}
