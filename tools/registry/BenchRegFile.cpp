// Reading a large .reg export and writing one value back, against reading the
// file's bytes alone as the baseline.
//   bench_reg_file [megabytes=50] [folder=/tmp] [wide]
// "wide" makes the export a UTF-16 "Version 5.00" file (about twice the bytes).
// Prints the size, the number of values, and the times (best of three).
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "platform/portable/FileRegistry.h"
#include "platform/posix/PosixFileSystem.h"

using namespace qb::platform;

namespace {

double Millis(std::chrono::steady_clock::time_point since) {
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - since)
        .count();
}

// A REGEDIT4 file of about megabytes MB: keys of five values of every common type.
size_t WriteExport(const std::string& path, size_t megabytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << "REGEDIT4\r\n";
    size_t bytes = 10, values = 0;
    char line[512];
    for (int k = 0; bytes < megabytes * 1000000; ++k) {
        int n =
            std::snprintf(line, sizeof line,
                          "\r\n[HKEY_CURRENT_USER\\Identities\\{%08X-0000-0000-0000-000000000000}"
                          "\\Software\\Microsoft\\Outlook Express\\5.0\\Block Senders\\Mail\\"
                          "Criteria\\%d]\r\n"
                          "\"Value\"=\"sender%d@example%d.com\"\r\n"
                          "\"Type\"=dword:%08x\r\n"
                          "\"Flags\"=hex:01,00,00,00,%02x,00,00,00,ff,ff,ff,ff,00,00,00,00\r\n"
                          "\"Path\"=hex(2):25,55,53,45,52,50,52,4f,46,49,4c,45,25,00\r\n"
                          "\"Note\"=\"a note with \\\"quotes\\\" and a \\\\ backslash %d\"\r\n",
                          k % 7, k, k, k % 100, k % 3, k & 0xFF, k);
        out.write(line, n);
        bytes += static_cast<size_t>(n);
        values += 5;
    }
    return values;
}

// Rewrites the 8-bit export as a "Version 5.00" UTF-16LE file.
void MakeWide(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    in.close();
    text.replace(0, 8, "Windows Registry Editor Version 5.00");
    std::string wide = "\xFF\xFE";
    wide.reserve(2 * text.size() + 2);
    for (char c : text) {
        wide += c;
        wide += '\0';
    }
    std::ofstream(path, std::ios::binary | std::ios::trunc) << wide;
}

}  // namespace

int main(int argc, char** argv) {
    const size_t megabytes = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 50;
    const std::string folder = argc > 2 ? argv[2] : "/tmp";
    const std::string path = folder + "/bench_reg_file.reg";
    const size_t values = WriteExport(path, megabytes);
    if (argc > 3 && std::string(argv[3]) == "wide")
        MakeWide(path);
    const auto size = std::filesystem::file_size(path);
    PosixFileSystem files;

    double baseline = 1e30, read = 1e30, write = 1e30;
    for (int round = 0; round < 3; ++round) {
        auto t = std::chrono::steady_clock::now();
        std::string bytes;
        files.ReadFile(path, bytes);
        baseline = std::min(baseline, Millis(t));

        FileRegistry registry(path, &files);
        Registry::Key key = 0;
        t = std::chrono::steady_clock::now();
        if (registry.CreateKey(reg::kCurrentUser, "Identities", reg::kKeyAllAccess, key) !=
            reg::kOk) {
            std::fprintf(stderr, "cannot read %s: %s\n", path.c_str(), registry.Problem().c_str());
            return 1;
        }
        read = std::min(read, Millis(t));

        const std::string data = "round " + std::to_string(round) + std::string(1, '\0');
        t = std::chrono::steady_clock::now();
        if (registry.SetValue(key, "Last User ID", reg::kSz, data) != reg::kOk) {
            std::fprintf(stderr, "cannot write %s\n", path.c_str());
            return 1;
        }
        write = std::min(write, Millis(t));
        registry.CloseKey(key);
    }
    std::filesystem::remove(path);
    std::printf("file: %.1f MB, %zu values\n", static_cast<double>(size) / 1e6, values);
    std::printf("baseline (read the bytes only): %8.1f ms\n", baseline);
    std::printf("read and parse:                 %8.1f ms  (%.1fx baseline)\n", read,
                read / baseline);
    std::printf("one value written back:         %8.1f ms  (%.1fx baseline, %.2fx the read)\n",
                write, write / baseline, write / read);
    return 0;
}
