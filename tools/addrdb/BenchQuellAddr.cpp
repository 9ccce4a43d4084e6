// Benchmarks of quelladdr through its exports (a program, not a test):
//   1. open + one change + release of a 100,000-record file, against plainly
//      reading and writing the same bytes (with and without forcing them to
//      disk); each measurement is the first thing a fresh process does, the
//      three kinds take turns, and the medians of the rounds are compared;
//   2. 1,000,000 getSpamAddrScore calls over 100,000 known addresses;
//   3. addSpamAddrFrom of 50,000 new addresses with maxEntries 5000, pruning
//      after each add, with smaller runs beside it to show the growth.
// Usage: addrdb_bench [work folder]  (default: a new folder under /tmp)
// (addrdb_bench --once KIND FOLDER INDEX is one measurement of part 1, run by
// the benchmark itself in a fresh process.)
#include <stdlib.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "addrdb/quelladdr.h"

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point from) {
    return std::chrono::duration<double>(Clock::now() - from).count();
}

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

std::string Address(int i) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "user%06d@mail%03d.example.com", i, i % 997);
    return buf;
}

// Reads the file and writes the same bytes over a second file of the same
// size, as plainly as the C library allows (the old bytes are truncated away,
// as a save drops the old file); with flush, also forces them to disk as a
// save does.
double PlainCopy(const std::string& from, const std::string& to, bool flush) {
    const auto t = Clock::now();
    FILE* in = std::fopen(from.c_str(), "rb");
    std::string bytes;
    char buf[1 << 16];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, in)) > 0)
        bytes.append(buf, n);
    std::fclose(in);
    FILE* out = std::fopen(to.c_str(), "wb");
    std::fwrite(bytes.data(), 1, bytes.size(), out);
    std::fflush(out);
    if (flush)
        ::fsync(::fileno(out));
    std::fclose(out);
    return Seconds(t);
}

// CPU time (user + system) of this process so far.
double CpuSeconds() {
    struct rusage u;
    ::getrusage(RUSAGE_SELF, &u);
    return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) * 1e-6;
}

// One measurement of part 1 in this (fresh) process; prints the wall and CPU
// seconds it took. kind: "library" (open folder, add one to-count, release),
// "flushed" or "plain" (copy folder's file to a second file in it).
int MeasureOnce(const std::string& kind, const std::string& folder, int index) {
    const std::string file = folder + "/quellboxaddr.bin";
    const double cpu = CpuSeconds();
    double wall;
    if (kind == "library") {
        const auto t = Clock::now();
        SpamAddrHandle h = getSpamAddrH(folder.c_str(), 200'000);
        addSpamAddrTo(h, Address(index).c_str(), 1);
        freeSpamAddrH(h);  // prunes (nothing to do: under capacity) and saves
        wall = Seconds(t);
    } else {
        wall = PlainCopy(file, folder + "/copy", kind == "flushed");
    }
    std::printf("%.9f %.9f\n", wall, CpuSeconds() - cpu);
    return 0;
}

struct Figures {
    std::vector<double> wall, cpu;
};

// Runs one measurement in a fresh process of this program.
bool RunOnce(const std::string& self, const char* kind, const std::string& folder, int index,
             Figures& into) {
    const std::string command =
        "'" + self + "' --once " + kind + " '" + folder + "' " + std::to_string(index);
    FILE* child = ::popen(command.c_str(), "r");
    if (!child)
        return false;
    double wall = 0, cpu = 0;
    const bool read = std::fscanf(child, "%lf %lf", &wall, &cpu) == 2;
    if (::pclose(child) != 0 || !read)
        return false;
    into.wall.push_back(wall);
    into.cpu.push_back(cpu);
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 5 && std::strcmp(argv[1], "--once") == 0)
        return MeasureOnce(argv[2], argv[3], std::atoi(argv[4]));
    const std::string self = std::filesystem::canonical("/proc/self/exe").string();
    std::string work;
    if (argc > 1) {
        work = argv[1];
        std::filesystem::create_directories(work);
    } else {
        std::string pattern = (std::filesystem::temp_directory_path() / "qbbench.XXXXXX").string();
        if (!::mkdtemp(pattern.data()))
            return 1;
        work = pattern;
    }
    const std::string db1 = work + "/open";
    std::filesystem::create_directories(db1);
    const int kRecords = 100'000;
    std::vector<std::string> addresses;
    for (int i = 0; i < kRecords; ++i)
        addresses.push_back(Address(i));

    // A 100,000-record file: to-counts for a third, from-counts for all,
    // 0 to 20 scores each.
    {
        SpamAddrHandle h = getSpamAddrH(db1.c_str(), 1'000'000);
        for (int i = 0; i < kRecords; ++i) {
            const char* a = addresses[static_cast<size_t>(i)].c_str();
            addSpamAddrFrom(h, a, 1 + static_cast<uint32_t>(i % 7));
            if (i % 3 == 0)
                addSpamAddrTo(h, a, 1 + static_cast<uint32_t>(i % 5));
            for (int s = 0; s < i % 21; ++s)
                addSpamAddrScore(h, a, static_cast<uint32_t>((i * 7 + s * 13) % 101));
        }
        freeSpamAddrH(h);
    }
    const std::string file = db1 + "/quellboxaddr.bin";
    const auto bytes = std::filesystem::file_size(file);
    std::printf("database file: %d records, %ju bytes\n", kRecords, static_cast<uintmax_t>(bytes));

    // 1. Open + one change + release, against plain read + write (+ flush),
    // each the first run of a fresh process; the kinds take turns.
    const int kRounds = 15;
    Figures plain, flushed, library;
    for (int r = 0; r < kRounds; ++r) {
        const bool ok = RunOnce(self, "library", db1, r, library) &&
                        RunOnce(self, "flushed", db1, r, flushed) &&
                        RunOnce(self, "plain", db1, r, plain);
        if (!ok) {
            std::fprintf(stderr, "a measuring process failed\n");
            return 1;
        }
    }
    const auto show = [&](const char* what, const std::vector<double> Figures::*v) {
        const double p = Median(plain.*v), f = Median(flushed.*v), l = Median(library.*v);
        std::printf(
            "1. %s, medians of %d fresh processes: open+change+release %.2f ms; "
            "plain read+write %.2f ms (ratio %.2f); plain read+write+flush %.2f ms (ratio %.2f)\n",
            what, kRounds, l * 1e3, p * 1e3, l / p, f * 1e3, l / f);
    };
    show("wall time", &Figures::wall);
    show("CPU time", &Figures::cpu);
    std::filesystem::remove(db1 + "/copy");

    // 2. 1,000,000 score calls over the 100,000 addresses.
    {
        SpamAddrHandle h = getSpamAddrH(db1.c_str(), 200'000);
        const int kCalls = 1'000'000;
        uint64_t sum = 0;
        const auto t = Clock::now();
        for (int i = 0; i < kCalls; ++i) {
            uint32_t result = 0;
            getSpamAddrScore(h, addresses[static_cast<size_t>(i % kRecords)].c_str(),
                             static_cast<uint32_t>(i % 101), &result);
            sum += result;
        }
        const double s = Seconds(t);
        std::printf("2. getSpamAddrScore: %d calls in %.3f s = %.0f calls/s (checksum %ju)\n",
                    kCalls, s, kCalls / s, static_cast<uintmax_t>(sum));
        freeSpamAddrH(h);
    }

    // 3. New addresses through addSpamAddrFrom with maxEntries 5000. On a
    // fresh database the to-total is 0, so pruning can remove nothing (every
    // record has a from-count) and the count grows past the capacity; with a
    // to-total, each add removes one record without history.
    for (const bool withToTotal : {false, true}) {
        for (const int adds : {12'500, 25'000, 50'000}) {
            const std::string folder = work + "/adds";
            std::filesystem::remove_all(folder);
            std::filesystem::create_directories(folder);
            SpamAddrHandle h = getSpamAddrH(folder.c_str(), 5000);
            if (withToTotal)
                addSpamAddrTo(h, "friend@example.com", 1000);
            const auto t = Clock::now();
            for (int i = 0; i < adds; ++i)
                addSpamAddrFrom(h, addresses[static_cast<size_t>((i * 7919) % kRecords)].c_str(),
                                1);
            const double s = Seconds(t);
            uint32_t entries = 0, to = 0, from = 0;
            getSpamAddrHTotals(h, &entries, &to, &from);
            std::printf("3. %s: %d addSpamAddrFrom in %.3f s (%.2f us each), %u records left\n",
                        withToTotal ? "to-total 1000" : "fresh database", adds, s, s / adds * 1e6,
                        entries);
            freeSpamAddrH(h);
        }
    }
    if (argc <= 1)
        std::filesystem::remove_all(work);
    return 0;
}
