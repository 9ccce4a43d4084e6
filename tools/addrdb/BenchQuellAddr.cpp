// Benchmarks of quelladdr through its exports (a program, not a test):
//   1. open + release of a 100,000-record file after one change, against
//      plainly reading and writing the same bytes;
//   2. 1,000,000 getSpamAddrScore calls over 100,000 known addresses;
//   3. addSpamAddrFrom of 50,000 new addresses with maxEntries 5000, pruning
//      after each add, with smaller runs beside it to show the growth.
// Usage: addrdb_bench [work folder]  (default: a new folder under /tmp)
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
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

}  // namespace

int main(int argc, char** argv) {
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

    // 1. Open + release after one change, against plain read + write.
    const int kRounds = 15;
    std::vector<double> plain, flushed, library, opening, releasing;
    for (int r = 0; r < kRounds; ++r) {
        // Alternate which baseline runs first, so neither always follows the
        // library's save.
        if (r % 2) {
            plain.push_back(PlainCopy(file, work + "/copy", false));
            flushed.push_back(PlainCopy(file, work + "/copy", true));
        } else {
            flushed.push_back(PlainCopy(file, work + "/copy", true));
            plain.push_back(PlainCopy(file, work + "/copy", false));
        }
        const auto t = Clock::now();
        SpamAddrHandle h = getSpamAddrH(db1.c_str(), 200'000);
        opening.push_back(Seconds(t));
        addSpamAddrTo(h, addresses[static_cast<size_t>(r)].c_str(), 1);
        const auto t2 = Clock::now();
        freeSpamAddrH(h);  // prunes (nothing to do: under capacity) and saves
        releasing.push_back(Seconds(t2));
        library.push_back(Seconds(t));
    }
    for (const bool best : {false, true}) {
        const auto pick = [best](const std::vector<double>& v) {
            return best ? *std::min_element(v.begin(), v.end()) : Median(v);
        };
        const double p = pick(plain), f = pick(flushed), l = pick(library);
        std::printf(
            "1. %s of %d: open+change+release %.2f ms; plain read+write %.2f ms "
            "(ratio %.2f); plain read+write+flush %.2f ms (ratio %.2f)\n",
            best ? "best" : "median", kRounds, l * 1e3, p * 1e3, l / p, f * 1e3, l / f);
    }
    std::printf(
        "   of which (medians) open %.2f ms, release (prune, save with flush, free) %.2f ms\n",
        Median(opening) * 1e3, Median(releasing) * 1e3);

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
