// Benchmark of a whole scanner run. Generates a program folder with a large
// store (Inbox 100,000 messages of about 256 MB, Sent Items 20,000 messages
// with 3 recipients each of about 64 MB, a block folder with 5,000 distinct
// senders and an approve folder with 2,000), then measures in one session:
//   - cat of every store file to /dev/null (warm cache), the baseline;
//   - a full run of Gleanwick: wall time and peak resident memory;
//   - the same run with the block and approve folders unconfigured, which
//     leaves out the list-file rewrites (every added address rewrites its
//     files, as the product requires);
//   - a second full run over the unchanged store.
// Usage: bench_scanner [FOLDER]   (default: a folder under /tmp, removed afterwards)
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "tests/support/dbx/DbxWriter.h"

namespace dbx = qb::test::dbx;
namespace fs = std::filesystem;

namespace {

struct Measure {
    double seconds = 0;
    long maxRssKb = 0;
    int status = 0;
};

// Runs argv with the extra environment entries, waiting for it; wall time
// and the child's peak resident memory.
Measure RunProgram(const std::vector<std::string>& args, const std::string& dir,
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
    m.status = status;
    return m;
}

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

void Layout(const fs::path& root) {
    fs::create_directories(root / "conf");
    fs::create_directories(root / "store");
    fs::copy_file(GLEANWICK_PATH, root / "Gleanwick", fs::copy_options::overwrite_existing);
    fs::copy_file(QUELLADDR_PATH, root / fs::path(QUELLADDR_PATH).filename(),
                  fs::copy_options::overwrite_existing);
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

}  // namespace

int main(int argc, char** argv) {
    const bool own = argc < 2;
    const fs::path root =
        own ? fs::temp_directory_path() / ("bench_scanner." + std::to_string(::getpid()))
            : fs::path(argv[1]);
    std::printf("Laying out the store in %s ...\n", root.c_str());
    Layout(root);
    uintmax_t total = 0, largest = 0;
    std::vector<std::string> cat = {"cat"};
    for (const auto& e : fs::directory_iterator(root / "store")) {
        total += e.file_size();
        largest = std::max(largest, e.file_size());
        cat.push_back(e.path().string());
    }
    std::printf("store: %.1f MB in %zu files, largest %.1f MB\n", total / 1048576.0, cat.size() - 1,
                largest / 1048576.0);

    const std::vector<std::string> env = {"QUELLBOX_REGISTRY=" + (root / "registry.reg").string()};
    const std::vector<std::string> scanner = {(root / "Gleanwick").string()};
    RunProgram(cat, root, {}, true);  // warm the cache
    const Measure catRun = RunProgram(cat, root, {}, true);

    Reset(root, false);
    RunProgram(scanner, root, env, true);  // warm-up, also of the program itself
    Reset(root, false);
    const Measure noLists = RunProgram(scanner, root, env, true);
    Reset(root, true);
    const Measure full = RunProgram(scanner, root, env, true);
    const Measure second = RunProgram(scanner, root, env, true);

    const double largestMb = largest / 1048576.0;
    std::printf("cat of all store files:              %8.3f s\n", catRun.seconds);
    std::printf("run without verdict folders:         %8.3f s  (%.2fx cat)  peak RSS %.1f MB\n",
                noLists.seconds, noLists.seconds / catRun.seconds, noLists.maxRssKb / 1024.0);
    std::printf("full run (approve 2,000, block 5,000): %6.3f s  (%.2fx cat)  peak RSS %.1f MB\n",
                full.seconds, full.seconds / catRun.seconds, full.maxRssKb / 1024.0);
    std::printf("  of which list-file rewrites (full - without): %.3f s\n",
                full.seconds - noLists.seconds);
    std::printf("second run over the unchanged store: %8.3f s  (%.2fx cat)  peak RSS %.1f MB\n",
                second.seconds, second.seconds / catRun.seconds, second.maxRssKb / 1024.0);
    std::printf("peak RSS / largest store file: %.2fx (goal: at most 1.3x + 64 MB = %.1f MB)\n",
                full.maxRssKb / 1024.0 / largestMb, largestMb * 1.3 + 64);
    if (own)
        fs::remove_all(root);
    return (full.status == 0 && second.status == 0 && noLists.status == 0) ? 0 : 1;
}
