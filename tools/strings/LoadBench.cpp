// Reads a 256 MB file of random bytes with the scanner's loadBinary and cuts
// it back out with getBytes in 64 KB ranges, against `cat FILE > /dev/null`
// in the same run (warm cache). Reports the best of three wall times of each,
// their ratio, the measuring process's peak resident memory against the
// file size, and whether every byte came back unchanged. A third figure,
// plain malloc + read of the whole file in a fresh process, shows the floor
// for any loader that holds the file in memory: on machines where fresh
// memory is expensive to touch, that floor, not the loader, sets the ratio.
//
//   strings_load_bench [FILE]      creates FILE (default: a temporary file) when missing
//   strings_load_bench --measure FILE   one measured load (used by the above)
//   strings_load_bench --floor FILE     one plain malloc + read (used by the above)
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "strings/ScannerCString.h"

namespace {

constexpr int64_t kSize = 256LL * 1024 * 1024;
constexpr int32_t kRange = 64 * 1024;

double Seconds(std::chrono::steady_clock::time_point since) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

// One load and cut; prints "<seconds> <peak KB> <ok>".
int Measure(const std::string& file) {
    const auto start = std::chrono::steady_clock::now();
    qb::scanner::CString s;
    s.loadBinary(file);
    std::string piece;
    uint64_t sum = 0;
    for (int32_t at = 1; at <= s.length(); at += kRange) {
        const int32_t end = std::min<int64_t>(int64_t{at} + kRange - 1, s.length());
        if (!s.getBytes(at, end, piece))
            return 2;
        sum += static_cast<unsigned char>(piece[0]);
    }
    const double seconds = Seconds(start);

    // Not timed: every range against the file read afresh.
    std::ifstream in(file, std::ios::binary);
    std::string want(kRange, '\0');
    bool same = s.length() > 0;
    for (int32_t at = 1; same && at <= s.length(); at += kRange) {
        in.read(want.data(), kRange);
        want.resize(static_cast<size_t>(in.gcount()));
        same = s.getBytes(at, at + static_cast<int32_t>(want.size()) - 1, piece) && piece == want;
        want.resize(kRange);
    }
    same = same && in.peek() == EOF;
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    std::printf("%.6f %ld %d %llu\n", seconds, usage.ru_maxrss, same ? 1 : 0,
                static_cast<unsigned long long>(sum));
    return 0;
}

// malloc + read of the whole file; prints "<seconds> <peak KB> 1 <check>".
int Floor(const std::string& file) {
    const auto start = std::chrono::steady_clock::now();
    std::FILE* f = std::fopen(file.c_str(), "rb");
    if (!f)
        return 2;
    char* data = static_cast<char*>(std::malloc(kSize));
    const size_t n = data ? std::fread(data, 1, kSize, f) : 0;
    std::fclose(f);
    const double seconds = Seconds(start);
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    std::printf("%.6f %ld 1 %d\n", seconds, usage.ru_maxrss, n ? data[n / 2] : 0);
    std::free(data);
    return 0;
}

// Best wall time of three runs of this program with mode; false when a run
// did not report success.
bool RunChild(const std::string& self, const char* mode, const std::string& file, double& best,
              long& peakKb) {
    FILE* p = popen(("'" + self + "' " + mode + " '" + file + "'").c_str(), "r");
    double seconds = 0;
    long kb = 0;
    int ok = 0;
    if (!p || std::fscanf(p, "%lf %ld %d", &seconds, &kb, &ok) != 3)
        ok = 0;
    if (p)
        pclose(p);
    best = std::min(best, seconds);
    peakKb = std::max(peakKb, kb);
    return ok == 1;
}

void Create(const std::string& file) {
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    std::mt19937_64 rng(7);
    std::vector<uint64_t> block(1 << 17);
    for (int64_t written = 0; written < kSize; written += 1 << 20) {
        for (auto& w : block)
            w = rng();
        out.write(reinterpret_cast<const char*>(block.data()), 1 << 20);
    }
}

double TimeCommand(const std::string& command) {
    const auto start = std::chrono::steady_clock::now();
    if (std::system(command.c_str()) != 0)
        std::fprintf(stderr, "failed: %s\n", command.c_str());
    return Seconds(start);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 3 && std::string(argv[1]) == "--measure")
        return Measure(argv[2]);
    if (argc == 3 && std::string(argv[1]) == "--floor")
        return Floor(argv[2]);
    std::string file = argc > 1 ? argv[1] : "/tmp/qb_strings_bench.bin";
    std::ifstream probe(file, std::ios::binary | std::ios::ate);
    const bool made = !probe || probe.tellg() != kSize;
    probe.close();
    if (made)
        Create(file);
    const std::string self = argv[0];
    TimeCommand("cat '" + file + "' > /dev/null");  // warm the cache

    double bestCat = 1e9, bestLoad = 1e9, bestFloor = 1e9;
    long peakKb = 0, floorKb = 0;
    bool same = true;
    for (int i = 0; i < 3; ++i) {
        bestCat = std::min(bestCat, TimeCommand("cat '" + file + "' > /dev/null"));
        same = RunChild(self, "--measure", file, bestLoad, peakKb) && same;
        RunChild(self, "--floor", file, bestFloor, floorKb);
    }
    const double fileMb = kSize / 1048576.0;
    const double peakMb = peakKb / 1024.0;
    std::printf("file %.0f MB%s\n", fileMb, made ? " (created)" : "");
    std::printf("cat > /dev/null        %.3f s (best of 3)\n", bestCat);
    std::printf("loadBinary + getBytes  %.3f s (best of 3)  ratio %.2fx (goal <= 1.5x)\n", bestLoad,
                bestLoad / bestCat);
    std::printf("malloc + read (floor)  %.3f s (best of 3)  ratio %.2fx; loader / floor %.2fx\n",
                bestFloor, bestFloor / bestCat, bestLoad / bestFloor);
    std::printf(
        "peak resident          %.1f MB = %.3fx file (goal <= 1.2x file + 32 MB = %.1f MB)\n",
        peakMb, peakMb / fileMb, 1.2 * fileMb + 32);
    std::printf("bytes unchanged        %s\n", same ? "yes" : "NO");
    if (argc <= 1 && made)
        std::remove(file.c_str());
    return same ? 0 : 1;
}
