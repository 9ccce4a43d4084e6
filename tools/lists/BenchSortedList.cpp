// Benchmark: SortedList in text mode against a sorted std::vector with the
// same case-insensitive comparison. Adds N keys, then looks N keys up (every
// other one absent), and counts the heap allocations made during the lookups.
//
// Then the scan pattern: R rounds of Exists(new key) followed by Add(new key)
// (every Exists finds the list unsorted after the previous Add), in numeric
// mode (message numbers) and in text mode (addresses).
//
//   bench_sorted_list [N] [R]      (defaults 1000000 and 20000)
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <new>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "common/Text.h"
#include "scanner/lists/SortedList.h"

namespace {
std::atomic<long long> gAllocations{0};
}

void* operator new(std::size_t n) {
    ++gAllocations;
    if (void* p = std::malloc(n ? n : 1))
        return p;
    throw std::bad_alloc();
}
void operator delete(void* p) noexcept {
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
    std::free(p);
}

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point from) {
    return std::chrono::duration<double>(Clock::now() - from).count();
}

// Address-like keys of mixed case, unique.
std::vector<std::string> MakeKeys(size_t n, unsigned seed) {
    std::mt19937 rng(seed);
    const char letters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ";
    std::vector<std::string> keys;
    keys.reserve(n);
    for (size_t i = 0; i < n; ++i) {
        std::string k;
        for (int c = 4 + rng() % 8; c > 0; --c)
            k += letters[rng() % 52];
        k += std::to_string(i);
        k += "@example.com";
        keys.push_back(std::move(k));
    }
    return keys;
}

// R rounds of Exists(key) then Add(key) on a list in the given mode, keys
// in the given order; returns the seconds taken. Fails when a key is found.
double ExistsThenAdd(int32_t mode, const std::vector<std::string>& keys, bool& ok) {
    const auto t0 = Clock::now();
    qb::lists::SortedList<int> list;
    list.SetSortMode(mode);
    for (size_t i = 0; i < keys.size(); ++i) {
        if (list.Exists(keys[i]))
            ok = false;
        list.Add(keys[i], static_cast<int>(i));
    }
    const double s = Seconds(t0);
    ok = ok && list.Count() == static_cast<int32_t>(keys.size());
    return s;
}

void RunScanPattern(size_t rounds, bool& ok) {
    // Message numbers as a folder hands them out: mostly ascending, some
    // arriving out of order.
    std::vector<std::string> numbers;
    std::mt19937 rng(4);
    for (size_t i = 0; i < rounds; ++i)
        numbers.push_back(std::to_string(1000 + 3 * i));
    for (size_t i = 0; i + 1 < rounds; i += 1 + rng() % 50)
        std::swap(numbers[i], numbers[i + 1 + rng() % std::min<size_t>(200, rounds - i - 1)]);
    // Addresses in no particular order.
    const std::vector<std::string> addresses = MakeKeys(rounds, 5);

    const double numeric = ExistsThenAdd(0, numbers, ok);
    const double text = ExistsThenAdd(1, addresses, ok);
    std::printf("Exists+Add rounds %zu: numeric %.3f s, text %.3f s\n", rounds, numeric, text);
}

}  // namespace

int main(int argc, char** argv) {
    const size_t n = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 1000000;
    const size_t rounds = argc > 2 ? std::strtoul(argv[2], nullptr, 10) : 20000;
    const std::vector<std::string> keys = MakeKeys(n, 1);
    const std::vector<std::string> absent = MakeKeys(n / 2, 2);
    // Lookups: every other one a present key (in shuffled order, other case), else an absent one.
    std::vector<std::string> probes;
    probes.reserve(n);
    std::mt19937 rng(3);
    for (size_t i = 0; i < n; ++i) {
        if (i % 2 == 0)
            probes.push_back(qb::text::Upper(keys[rng() % n]));
        else
            probes.push_back(absent[i / 2] + "x");
    }

    // SortedList.
    auto t0 = Clock::now();
    qb::lists::SortedList<int> list;
    list.SetSortMode(1);
    for (size_t i = 0; i < n; ++i)
        list.Add(keys[i], static_cast<int>(i));
    const double listAdd = Seconds(t0);
    t0 = Clock::now();
    list.Exists(probes[0]);  // the first lookup sorts
    const double listSort = Seconds(t0);
    long long listHits = 0;
    const long long allocBeforeList = gAllocations.load();
    t0 = Clock::now();
    for (const std::string& p : probes)
        listHits += list.Exists(p);
    const double listLookup = Seconds(t0);
    const long long listAllocs = gAllocations.load() - allocBeforeList;

    // Baseline: std::vector + std::sort + std::lower_bound, same comparison.
    auto less = [](const std::pair<std::string, int>& a, const std::pair<std::string, int>& b) {
        return qb::text::CompareNoCase(a.first, b.first) < 0;
    };
    t0 = Clock::now();
    std::vector<std::pair<std::string, int>> vec;
    for (size_t i = 0; i < n; ++i)
        vec.emplace_back(keys[i], static_cast<int>(i));
    const double vecAdd = Seconds(t0);
    t0 = Clock::now();
    std::sort(vec.begin(), vec.end(), less);
    const double vecSort = Seconds(t0);
    long long vecHits = 0;
    const long long allocBeforeVec = gAllocations.load();
    t0 = Clock::now();
    for (const std::string& p : probes) {
        auto it =
            std::lower_bound(vec.begin(), vec.end(), p, [](const auto& e, const std::string& k) {
                return qb::text::CompareNoCase(e.first, k) < 0;
            });
        vecHits += it != vec.end() && qb::text::CompareNoCase(it->first, p) == 0;
    }
    const double vecLookup = Seconds(t0);
    const long long vecAllocs = gAllocations.load() - allocBeforeVec;

    const double listTotal = listAdd + listSort + listLookup;
    const double vecTotal = vecAdd + vecSort + vecLookup;
    std::printf("keys %zu, lookups %zu (hits: list %lld, baseline %lld)\n", n, probes.size(),
                listHits, vecHits);
    std::printf("%-10s %10s %10s %10s %10s %12s\n", "", "add s", "sort s", "lookup s", "total s",
                "lookup allocs");
    std::printf("%-10s %10.3f %10.3f %10.3f %10.3f %12lld\n", "SortedList", listAdd, listSort,
                listLookup, listTotal, listAllocs);
    std::printf("%-10s %10.3f %10.3f %10.3f %10.3f %12lld\n", "baseline", vecAdd, vecSort,
                vecLookup, vecTotal, vecAllocs);
    std::printf("ratio SortedList / baseline: %.2f (goal <= 1.50)\n", listTotal / vecTotal);

    bool ok = listHits == vecHits;
    RunScanPattern(rounds, ok);
    return ok ? 0 : 1;
}
