// Benchmark of a whole scanner run. Generates a program folder with a large
// store (Inbox 100,000 messages of about 256 MB, Sent Items 20,000 messages
// with 3 recipients each of about 64 MB, a block folder with 5,000 distinct
// senders and an approve folder with 2,000: 7,000 verdict addresses, each
// written to its list and its state file at once), then measures in one
// session, every figure the median of several runs, each a fresh process:
//   - cat of every store file to /dev/null (warm cache), the baseline;
//   - a run with the block and approve folders unconfigured (no verdict
//     harvest, no list-file rewrites);
//   - a full run harvesting the 7,000 verdict addresses from empty lists;
//   - a second full run over the unchanged store.
// The folder must lie on a disk, not in memory (tmpfs), for the list writes
// to cost what they cost on a user's machine; the file system is printed.
// Usage: bench_scanner [--runs N] [--program DIR] [FOLDER]
//   --runs N       runs per figure (default 3)
//   --program DIR  take Gleanwick and libquelladdr.so from DIR instead of
//                  this build (to measure an older build in the same way)
//   FOLDER         where to lay out the program folder (default: a new
//                  folder under /var/tmp, removed afterwards)
#include <malloc.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "tests/support/dbx/DbxWriter.h"
#include "tools/support/ProcessBench.h"

namespace dbx = qb::test::dbx;
namespace fs = std::filesystem;
using qb::tools::Figure;
using qb::tools::FileSystemOf;
using qb::tools::Median;
using qb::tools::RunProgram;

namespace {

uint64_t HoursAgo(int hours) {
    const time_t t = ::time(nullptr) - static_cast<time_t>(hours) * 3600;
    struct tm tm;
    ::gmtime_r(&t, &tm);
    return dbx::FileTime(tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min,
                         tm.tm_sec);
}

void Write(const fs::path& path, const std::string& content) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << content;
}

dbx::Message Message(uint32_t id, std::string sender, std::string recipients, size_t bodySize) {
    dbx::Message m;
    m.id = id;
    m.date = HoursAgo(48 + static_cast<int>(id % 100));
    m.senderEMail = std::move(sender);
    if (!recipients.empty())
        m.recipientEMail = std::move(recipients);
    m.subject = "Benchmark message " + std::to_string(id);
    m.body = std::string(bodySize, static_cast<char>('a' + id % 26));
    return m;
}

std::string MessageFileOf(uint32_t count, size_t bodySize, auto sender, auto recipients) {
    std::vector<dbx::Message> messages;
    messages.reserve(count);
    for (uint32_t i = 1; i <= count; ++i) {
        messages.push_back(Message(i, sender(i), recipients(i), bodySize));
    }
    return dbx::MessageFile(messages, {dbx::Shape::Balanced, 64, 1});
}

void Layout(const fs::path& root, const fs::path& program, const fs::path& library) {
    fs::create_directories(root / "conf");
    fs::create_directories(root / "store");
    fs::copy_file(program, root / "Gleanwick", fs::copy_options::overwrite_existing);
    fs::copy_file(library, root / library.filename(), fs::copy_options::overwrite_existing);
    std::vector<dbx::Folder> folders;
    auto add = [&](uint32_t id, const char* name, const char* file) {
        dbx::Folder f;
        f.id = id;
        f.parentId = 1;
        f.name = name;
        f.fileName = file;
        folders.push_back(f);
    };
    add(4, "Inbox", "Inbox.dbx");
    add(6, "Sent Items", "Sent Items.dbx");
    add(10, "Approve", "Approve.dbx");
    add(11, "Block", "Block.dbx");
    Write(root / "store/Folders.dbx", dbx::FolderFile(folders));

    auto none = [](uint32_t) { return std::string(); };
    Write(
        root / "store/Inbox.dbx",
        MessageFileOf(
            100000, 2400,
            [](uint32_t i) { return "sender" + std::to_string(i % 30000) + "@in.example"; }, none));
    Write(root / "store/Sent Items.dbx",
          MessageFileOf(
              20000, 2900, [](uint32_t) { return std::string("me@home.example"); },
              [](uint32_t i) {
                  // Appended piece by piece: GCC 12 at -O3 warns (-Wrestrict)
                  // about "a" + std::to_string(...), wrongly (its bug 105651).
                  std::string to("a");
                  to += std::to_string(i % 5000);
                  to += "@to.example;b";
                  to += std::to_string(i % 7000);
                  to += "@to.example;c";
                  to += std::to_string(i);
                  to += "@to.example";
                  return to;
              }));
    Write(root / "store/Approve.dbx",
          MessageFileOf(
              2000, 200, [](uint32_t i) { return "good" + std::to_string(i) + "@ok.example"; },
              none));
    Write(root / "store/Block.dbx",
          MessageFileOf(
              5000, 200, [](uint32_t i) { return "spam" + std::to_string(i) + "@bad.example"; },
              none));

    const std::string id = "{5A5E1A0B-0C1D-4E2F-8A9B-0C1D2E3F4A5B}";
    std::string reg = "REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\Identities]\r\n\"Last User ID\"=\"" +
                      id + "\"\r\n\r\n[HKEY_CURRENT_USER\\Identities\\" + id +
                      "\\Software\\Microsoft\\Outlook Express\\5.0]\r\n\"Store Root\"=\"" +
                      (root / "store").string() + "\"\r\n\r\n";
    Write(root / "registry.reg", reg);
}

void Reset(const fs::path& root, bool verdictFolders) {
    for (const char* f :
         {"blockedsenders", "approvedsenders", "oesbs", "oesas", "oesent", "quellboxaddr.bin"}) {
        fs::remove(root / "conf" / f);
    }
    Write(root / "conf/quellbox.conf",
          verdictFolders ? "oe_block_folder=Block\r\noe_approve_folder=Approve\r\n" : "");
}

size_t Lines(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    return static_cast<size_t>(
        std::count(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>(), '\n'));
}

}  // namespace

int main(int argc, char** argv) {
    int runs = 3;
    fs::path program = GLEANWICK_PATH, library = QUELLADDR_PATH;
    fs::path root;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--runs" && i + 1 < argc) {
            runs = std::max(1, std::atoi(argv[++i]));
        } else if (arg == "--program" && i + 1 < argc) {
            const fs::path dir = argv[++i];
            program = dir / "Gleanwick";
            library = dir / fs::path(QUELLADDR_PATH).filename();
        } else {
            root = arg;
        }
    }
    const bool own = root.empty();
    if (own)
        root = fs::path("/var/tmp") / ("bench_scanner." + std::to_string(::getpid()));
    std::printf("Program %s\nLaying out the store in %s ...\n", program.c_str(), root.c_str());
    Layout(root, program, library);
    // Give back the memory of laying out the store: a child keeps the peak
    // resident size it had when forked from this process across exec, so
    // without this every run's peak would be at least ours.
    ::malloc_trim(0);
    std::printf("file system of the folder: %s\n", FileSystemOf(root).c_str());
    uintmax_t total = 0, largest = 0;
    std::vector<std::string> cat = {"cat"};
    for (const auto& e : fs::directory_iterator(root / "store")) {
        total += e.file_size();
        largest = std::max(largest, e.file_size());
        cat.push_back(e.path().string());
    }
    std::printf("store: %.1f MB in %zu files, largest %.1f MB; %d runs per figure\n",
                total / 1048576.0, cat.size() - 1, largest / 1048576.0, runs);

    const std::vector<std::string> env = {"QUELLBOX_REGISTRY=" + (root / "registry.reg").string()};
    const std::vector<std::string> scanner = {(root / "Gleanwick").string()};
    RunProgram(cat, root, {}, true);  // warm the cache
    Reset(root, false);
    RunProgram(scanner, root, env, true);  // warm-up, also of the program itself

    std::printf("cat of all store files:\n");
    const Figure catRun = Median(runs, [] {}, cat, root, {});
    std::printf("run without verdict folders:\n");
    const Figure noLists = Median(
        runs, [&] { Reset(root, false); }, scanner, root, env);
    std::printf("full run harvesting the verdict folders:\n");
    const Figure full = Median(
        runs, [&] { Reset(root, true); }, scanner, root, env);
    const size_t harvested =
        Lines(root / "conf/approvedsenders") + Lines(root / "conf/blockedsenders");
    std::printf("second full run over the unchanged store:\n");
    const Figure second = Median(
        runs, [] {}, scanner, root, env);

    const double largestMb = largest / 1048576.0;
    std::printf("\nmedians of %d runs, fresh processes:\n", runs);
    std::printf("cat of all store files:              %8.3f s\n", catRun.seconds);
    std::printf("run without verdict folders:         %8.3f s  (%.2fx cat)  peak RSS %.1f MB\n",
                noLists.seconds, noLists.seconds / catRun.seconds, noLists.maxRssKb / 1024.0);
    std::printf("full run (%zu verdict addresses):   %8.3f s  (%.2fx cat)  peak RSS %.1f MB\n",
                harvested, full.seconds, full.seconds / catRun.seconds, full.maxRssKb / 1024.0);
    std::printf("  of which the verdict harvest (full - without): %.3f s\n",
                full.seconds - noLists.seconds);
    std::printf("second run over the unchanged store: %8.3f s  (%.2fx cat)  peak RSS %.1f MB\n",
                second.seconds, second.seconds / catRun.seconds, second.maxRssKb / 1024.0);
    std::printf("peak RSS / largest store file: %.2fx\n", full.maxRssKb / 1024.0 / largestMb);
    if (own)
        fs::remove_all(root);
    return (full.ok && second.ok && noLists.ok) ? 0 : 1;
}
