// Benchmark of the scans of a Windows Live Mail store. Generates a program
// folder with a store of 100,000 messages (about 3 KB each, every 20th with
// a header section past 4 KB) in 20 folders: four accounts' Inbox and Sent
// Items, the approve and block folders, and ten others. Then measures in one
// session, every figure the median of several runs, each a fresh process:
//   - the baseline: the first 4 KB of every message file read once
//     (find ... -name '*.eml' -exec head -c 4096 {} +), warm cache;
//   - the header reader over every message of all 20 folders (this program
//     started again with --read-all: the store walk, the listing and the
//     header read the scanner does, for every file the baseline reads);
//   - a Gleanwick run without approve and block folders configured, from
//     empty product files (the 8 Inboxes and Sent Items: the scans alone,
//     without the list files' rewrites);
//   - a full Gleanwick run from empty product files (it reads the 10
//     scanned folders: Inboxes, Sent Items, approve and block folder, and
//     puts the 10,000 new verdict addresses on their lists and state files,
//     which each harvest writes together once a second and at its end);
//   - a second Gleanwick run over the unchanged store.
// Usage: eml_bench [--runs N] [--messages N] [--store DIR] [FOLDER]
//   --store DIR  an existing store (from eml_generate wlm DIR 100000 20)
//                instead of a new one
#include <malloc.h>

#include <cstdlib>
#include <fstream>

#include "platform/Platform.h"
#include "scanner/eml/MailStores.h"
#include "tools/eml/EmlStore.h"
#include "tools/support/ProcessBench.h"

namespace fs = std::filesystem;
using qb::tools::Figure;
using qb::tools::Median;

namespace {

void Write(const fs::path& path, const std::string& content) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << content;
}

// Every message of every folder of the store, through the scanner's reader;
// prints how many and how many addresses, so nothing is optimised away.
int ReadAll(const std::string& root) {
    qb::platform::FileSystem& fs = qb::platform::DefaultFileSystem();
    size_t messages = 0, addresses = 0;
    qb::eml::MessageFileNames names;
    std::string buffer, why;
    qb::eml::MessageHeader header;
    for (const qb::eml::MailFolder& folder :
         qb::eml::FindFolders(fs, root, qb::eml::StoreKind::kWindowsLiveMail,
                              [](const std::string& line) { std::puts(line.c_str()); })
             .folders) {
        if (!qb::eml::MessageFiles(fs, folder.path, names, why))
            return 1;
        for (const std::string& name : names.files) {
            if (!qb::eml::ReadMessageFile(fs, folder.path + "\\" + name, buffer, header))
                return 1;
            ++messages;
            addresses += (header.sender.empty() ? 0 : 1) + header.recipients.size();
        }
    }
    std::printf("%zu messages, %zu addresses\n", messages, addresses);
    return 0;
}

void Reset(const fs::path& root, bool verdictFolders) {
    for (const char* f : {"blockedsenders", "approvedsenders", "wlmbs", "wlmas", "wlmsent",
                          "quellboxaddr.bin", "console.txt"})
        fs::remove(root / "conf" / f);
    Write(root / "conf/quellbox.conf",
          verdictFolders ? "oe_block_folder=Block\r\noe_approve_folder=Approve\r\n" : "");
}

}  // namespace

int main(int argc, char** argv) {
    int runs = 5;
    uint32_t messages = 100000;
    fs::path root, given;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--read-all" && i + 1 < argc)
            return ReadAll(argv[i + 1]);
        if (arg == "--runs" && i + 1 < argc)
            runs = std::max(1, std::atoi(argv[++i]));
        else if (arg == "--store" && i + 1 < argc)
            given = fs::absolute(argv[++i]);
        else if (arg == "--messages" && i + 1 < argc)
            messages = static_cast<uint32_t>(std::strtoul(argv[++i], nullptr, 10));
        else
            root = arg;
    }
    const bool own = root.empty();
    if (own)
        root = fs::path("/var/tmp") / ("eml_bench." + std::to_string(::getpid()));
    const fs::path store = given.empty() ? root / "wlm" : given;
    fs::create_directories(root / "conf");
    fs::copy_file(GLEANWICK_PATH, root / "Gleanwick", fs::copy_options::overwrite_existing);
    const fs::path library = QUELLADDR_PATH;
    fs::copy_file(library, root / library.filename(), fs::copy_options::overwrite_existing);
    if (given.empty()) {
        std::printf("Laying out the store in %s ...\n", store.c_str());
        qb::tools::eml::StoreShape shape;
        shape.messages = messages;
        shape.folders = 20;
        qb::tools::eml::WriteStore(store, shape);
    }
    Write(root / "registry.reg",
          "REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\Software\\Microsoft\\Windows Live Mail]\r\n"
          "\"Store Root\"=\"" +
              store.string() + "\"\r\n\r\n");
    ::malloc_trim(0);
    uintmax_t bytes = 0;
    messages = 0;
    for (const auto& e : fs::recursive_directory_iterator(store)) {
        if (e.is_regular_file()) {
            bytes += e.file_size();
            ++messages;
        }
    }
    std::printf("file system of the folder: %s\nstore: %u messages, %.1f MB; %d runs per figure\n",
                qb::tools::FileSystemOf(root).c_str(), messages, bytes / 1048576.0, runs);

    const std::vector<std::string> head = {
        "sh", "-c",
        "find '" + store.string() + "' -name '*.eml' -exec head -c 4096 {} + >/dev/null"};
    const std::vector<std::string> readAll = {fs::canonical("/proc/self/exe").string(),
                                              "--read-all", store.string()};
    const std::vector<std::string> env = {"QUELLBOX_REGISTRY=" + (root / "registry.reg").string()};
    const std::vector<std::string> scanner = {(root / "Gleanwick").string()};
    qb::tools::RunProgram(head, root, {}, true);  // warm the cache
    Reset(root, true);
    qb::tools::RunProgram(scanner, root, env, true);

    std::printf("baseline, first 4 KB of every file (find, head):\n");
    const Figure baseline = Median(runs, [] {}, head, root, {});
    std::printf("header reader over every message:\n");
    const Figure reader = Median(runs, [] {}, readAll, root, {});
    std::printf("Gleanwick run without approve and block folders, from empty files:\n");
    const Figure noLists = Median(
        runs, [&] { Reset(root, false); }, scanner, root, env);
    std::printf("full Gleanwick run from empty product files:\n");
    const Figure full = Median(
        runs, [&] { Reset(root, true); }, scanner, root, env);
    std::printf("second Gleanwick run over the unchanged store:\n");
    const Figure second = Median(
        runs, [] {}, scanner, root, env);

    std::printf(
        "\nmedians of %d runs, fresh processes, %u messages in 20 folders "
        "(wall time, CPU time, each against the baseline's):\n",
        runs, messages);
    const auto line = [&](const char* what, const Figure& f) {
        std::printf("%-34s %7.3f s (%.2fx)  CPU %6.3f s (%.2fx)  peak RSS %5.1f MB\n", what,
                    f.seconds, f.seconds / baseline.seconds, f.cpuSeconds,
                    f.cpuSeconds / baseline.cpuSeconds, f.maxRssKb / 1024.0);
    };
    line("baseline (4 KB of every file):", baseline);
    line("header reader, every message:", reader);
    line("Gleanwick, Inboxes and Sent Items:", noLists);
    line("Gleanwick run, 10 folders:", full);
    line("second run, unchanged store:", second);
    if (own)
        fs::remove_all(root);
    return baseline.ok && reader.ok && noLists.ok && full.ok && second.ok ? 0 : 1;
}
