// Appends 100 MB to a CString in pieces of 1 byte to 4 KB (sizes drawn at
// random, fixed seed) and reports the throughput per 25 MB stretch: equal
// figures along the way show amortized constant time per character.
// Runs the library's class (16-bit code units) and the scanner's copy (bytes),
// and, as the baseline of the same run, plain std::string / std::u16string
// appends of the same pieces.
#include <chrono>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "strings/CString.h"
#include "strings/ScannerCString.h"

namespace {

constexpr size_t kTotal = 100u * 1024 * 1024;
constexpr size_t kStretch = 25u * 1024 * 1024;

// The standard string with the members Run uses.
template <class Ch>
struct Plain {
    using Char = Ch;
    using Text = std::basic_string<Ch>;
    using TextView = std::basic_string_view<Ch>;
    void append(TextView t) { text.append(t); }
    int length() const { return static_cast<int>(text.size()); }
    int getCapacity() const { return static_cast<int>(text.capacity()); }
    Text text;
};

template <class S>
void Run(const char* name) {
    using Text = typename S::Text;
    std::mt19937 rng(42);
    std::uniform_int_distribution<size_t> pieceSize(1, 4096);
    Text source(8192, typename S::Char());
    for (auto& c : source)
        c = static_cast<typename S::Char>('a' + rng() % 26);

    S s;
    size_t done = 0, nextMark = kStretch;
    const auto start = std::chrono::steady_clock::now();
    auto markTime = start;
    std::printf("%s:", name);
    while (done < kTotal) {
        const size_t n = std::min(pieceSize(rng), kTotal - done);
        s.append(typename S::TextView(source.data() + (done % 4096), n));
        done += n;
        if (done >= nextMark) {
            const auto now = std::chrono::steady_clock::now();
            const double sec = std::chrono::duration<double>(now - markTime).count();
            std::printf(" %.0f", kStretch / 1048576.0 / sec);
            markTime = now;
            nextMark += kStretch;
        }
    }
    const double total =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf(" MB/s per 25 MB; overall %.0f MB/s (%.3f s), length %d, capacity %d\n",
                kTotal / 1048576.0 / total, total, s.length(), s.getCapacity());
}

}  // namespace

int main() {
    Run<Plain<char>>("std::string (baseline) ");
    Run<qb::scanner::CString>("scanner copy (bytes)   ");
    Run<Plain<char16_t>>("std::u16string (base.) ");
    Run<qb::strings::CString>("library (16-bit units) ");
    return 0;
}
