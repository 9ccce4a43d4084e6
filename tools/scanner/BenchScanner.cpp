// Benchmarks of whole scanner runs, every figure the median of several runs,
// each a fresh process (start, work and clean-up all counted), in one
// session against a baseline measured in the same session.
//
// bench_scanner [full] [--runs N] [--program DIR] [FOLDER]
//   Generates a program folder with a large store (Inbox 100,000 messages of
//   about 256 MB, Sent Items 20,000 messages with 3 recipients each of about
//   64 MB, a block folder with 5,000 distinct senders and an approve folder
//   with 2,000: 7,000 verdict addresses), then measures:
//   - cat of every store file to /dev/null (warm cache), the baseline;
//   - a run with the block and approve folders unconfigured (no verdict
//     harvest, no list-file rewrites);
//   - a full run harvesting the 7,000 verdict addresses from empty lists;
//   - a second full run over the unchanged store.
//
// bench_scanner harvest [--sizes V,V,...] [--runs N] [--program DIR] [FOLDER]
//   The growth of a verdict harvest: for each size V (default 10,000, 30,000
//   and 100,000) a block folder of V messages from V distinct senders, and
//   three runs: the first harvest (lists empty), the run after the user
//   emptied the folder (every address leaves both files) and the run with
//   nothing to do (the same store again); then the growth exponent of each
//   between the sizes (log of the time ratio over log of the size ratio: 1
//   is linear, 2 quadratic). The Inbox and Sent Items are empty.
//
// bench_scanner plain [--messages N] [--senders S] [--megabytes M] [--runs N]
//                     [--baseline DIR] [--program DIR] [FOLDER]
//   A run without verdict folders over an Inbox of N messages (default
//   60,000) from S senders (default 20,000), about M MB (default 150) with
//   its records among the bodies, from an empty database, against cat of the
//   same files; CPU time (user + system) and wall time. Default 5 runs of
//   each, taken in turn. --baseline DIR also measures the Gleanwick and
//   libquelladdr.so of DIR (an older build) in its own program folder.
//
// --program DIR takes Gleanwick and libquelladdr.so from DIR instead of this
// build (to measure an older build in the same way). The folder must lie on
// a disk, not in memory (tmpfs), for the list writes to cost what they cost
// on a user's machine; the file system is printed. FOLDER is where the
// program folder is laid out and kept (default: a new folder under /var/tmp,
// removed afterwards).
#include <malloc.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/dbx/DbxWriter.h"
#include "tools/oe/StoreSample.h"
#include "tools/support/ProcessBench.h"

namespace dbx = qb::test::dbx;
namespace fs = std::filesystem;
using qb::tools::Figure;
using qb::tools::FileSystemOf;
using qb::tools::Measure;
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

std::string NoRecipients(uint32_t) {
    return std::string();
}

// The program, its library, Folders.dbx naming the folders given (each kept
// in "<name>.dbx"), and a registry file whose identity's store is root/store.
void LayoutProgram(const fs::path& root, const fs::path& program, const fs::path& library,
                   const std::vector<std::string>& folderNames) {
    fs::create_directories(root / "conf");
    fs::create_directories(root / "store");
    fs::copy_file(program, root / "Gleanwick", fs::copy_options::overwrite_existing);
    fs::copy_file(library, root / library.filename(), fs::copy_options::overwrite_existing);
    std::vector<dbx::Folder> folders;
    uint32_t id = 4;
    for (const std::string& name : folderNames) {
        dbx::Folder f;
        f.id = id++;
        f.parentId = 1;
        f.name = name;
        f.fileName = name + ".dbx";
        folders.push_back(f);
    }
    Write(root / "store/Folders.dbx", dbx::FolderFile(folders));

    const std::string identity = "{5A5E1A0B-0C1D-4E2F-8A9B-0C1D2E3F4A5B}";
    const std::string reg =
        "REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\Identities]\r\n\"Last User ID\"=\"" + identity +
        "\"\r\n\r\n[HKEY_CURRENT_USER\\Identities\\" + identity +
        "\\Software\\Microsoft\\Outlook Express\\5.0]\r\n\"Store Root\"=\"" +
        (root / "store").string() + "\"\r\n\r\n";
    Write(root / "registry.reg", reg);
}

void Layout(const fs::path& root, const fs::path& program, const fs::path& library) {
    LayoutProgram(root, program, library, {"Inbox", "Sent Items", "Approve", "Block"});
    Write(root / "store/Inbox.dbx",
          MessageFileOf(
              100000, 2400,
              [](uint32_t i) { return "sender" + std::to_string(i % 30000) + "@in.example"; },
              NoRecipients));
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
              NoRecipients));
    Write(root / "store/Block.dbx",
          MessageFileOf(
              5000, 200, [](uint32_t i) { return "spam" + std::to_string(i) + "@bad.example"; },
              NoRecipients));
}

const char* const kProductFiles[] = {"blockedsenders", "approvedsenders",  "oesbs",    "oesas",
                                     "oesent",         "quellboxaddr.bin", "scanphase"};

void Reset(const fs::path& root, bool verdictFolders) {
    for (const char* f : kProductFiles)
        fs::remove(root / "conf" / f);
    Write(root / "conf/quellbox.conf",
          verdictFolders ? "oe_block_folder=Block\r\noe_approve_folder=Approve\r\n" : "");
}

size_t Lines(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    return static_cast<size_t>(
        std::count(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>(), '\n'));
}

// What every mode shares: where the program comes from, where the folder
// goes, how many runs make a figure.
struct Options {
    std::string mode = "full";
    int runs = 0;  // 0: the mode's default
    fs::path program = GLEANWICK_PATH, library = QUELLADDR_PATH;
    fs::path root;
    bool own = false;  // the folder is ours to remove
    std::vector<uint32_t> sizes = {10000, 30000, 100000};
    int32_t messages = 60000, senders = 20000;
    int64_t megabytes = 150;
    fs::path baseline;  // plain: a baseline build measured in turn with this one
    std::vector<std::string> env;
    std::vector<std::string> scanner;
};

std::vector<uint32_t> ParseSizes(const std::string& text) {
    std::vector<uint32_t> sizes;
    std::stringstream in(text);
    std::string item;
    while (std::getline(in, item, ','))
        sizes.push_back(static_cast<uint32_t>(std::stoul(item)));
    return sizes;
}

// The store files of root/store for cat, and their total and largest size.
std::vector<std::string> CatOfStore(const fs::path& root, uintmax_t& total, uintmax_t& largest) {
    std::vector<std::string> cat = {"cat"};
    total = largest = 0;
    for (const auto& e : fs::directory_iterator(root / "store")) {
        total += e.file_size();
        largest = std::max(largest, e.file_size());
        cat.push_back(e.path().string());
    }
    return cat;
}

int FullRun(const Options& o) {
    const int runs = o.runs > 0 ? o.runs : 3;
    const fs::path& root = o.root;
    Layout(root, o.program, o.library);
    // Give back the memory of laying out the store: a child keeps the peak
    // resident size it had when forked from this process across exec, so
    // without this every run's peak would be at least ours.
    ::malloc_trim(0);
    std::printf("file system of the folder: %s\n", FileSystemOf(root).c_str());
    uintmax_t total = 0, largest = 0;
    const std::vector<std::string> cat = CatOfStore(root, total, largest);
    std::printf("store: %.1f MB in %zu files, largest %.1f MB; %d runs per figure\n",
                total / 1048576.0, cat.size() - 1, largest / 1048576.0, runs);

    RunProgram(cat, root, {}, true);  // warm the cache
    Reset(root, false);
    RunProgram(o.scanner, root, o.env, true);  // warm-up, also of the program itself

    std::printf("cat of all store files:\n");
    const Figure catRun = Median(runs, [] {}, cat, root, {});
    std::printf("run without verdict folders:\n");
    const Figure noLists = Median(
        runs, [&] { Reset(root, false); }, o.scanner, root, o.env);
    std::printf("full run harvesting the verdict folders:\n");
    const Figure full = Median(
        runs, [&] { Reset(root, true); }, o.scanner, root, o.env);
    const size_t harvested =
        Lines(root / "conf/approvedsenders") + Lines(root / "conf/blockedsenders");
    std::printf("second full run over the unchanged store:\n");
    const Figure second = Median(
        runs, [] {}, o.scanner, root, o.env);

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
    return (full.ok && second.ok && noLists.ok) ? 0 : 1;
}

// The growth exponent between two sizes: log(t2 / t1) / log(v2 / v1).
double Exponent(double t1, double t2, uint32_t v1, uint32_t v2) {
    return std::log(t2 / t1) / std::log(static_cast<double>(v2) / v1);
}

int HarvestGrowth(const Options& o) {
    const int runs = o.runs > 0 ? o.runs : 3;
    const fs::path& root = o.root;
    LayoutProgram(root, o.program, o.library, {"Inbox", "Sent Items", "Block"});
    Write(root / "store/Inbox.dbx", MessageFileOf(0, 0, NoRecipients, NoRecipients));
    Write(root / "store/Sent Items.dbx", MessageFileOf(0, 0, NoRecipients, NoRecipients));
    Write(root / "block-emptied.dbx", MessageFileOf(0, 0, NoRecipients, NoRecipients));
    fs::create_directories(root / "harvested");
    std::printf("file system of the folder: %s; %d runs per figure\n", FileSystemOf(root).c_str(),
                runs);
    // The block folder the next run reads: full or emptied (a second name
    // for the file, so switching writes no data).
    const auto useBlock = [&root](const char* file) {
        fs::remove(root / "store/Block.dbx");
        fs::create_hard_link(root / file, root / "store/Block.dbx");
    };
    const auto listsFrom = [&root](const fs::path& from, const fs::path& to) {
        for (const char* f : {"blockedsenders", "oesbs"}) {
            fs::remove(to / f);
            if (fs::exists(from / f))
                fs::copy_file(from / f, to / f);
        }
    };

    struct Row {
        uint32_t size;
        Figure first, emptied, idle;
    };
    std::vector<Row> rows;
    bool ok = true;
    for (const uint32_t v : o.sizes) {
        Write(root / "block-full.dbx",
              MessageFileOf(
                  v, 200, [](uint32_t i) { return "spam" + std::to_string(i) + "@bad.example"; },
                  NoRecipients));
        ::malloc_trim(0);
        Row row{v, {}, {}, {}};
        std::printf("block folder of %u senders, first harvest:\n", v);
        row.first = Median(
            runs,
            [&] {
                Reset(root, false);
                Write(root / "conf/quellbox.conf", "oe_block_folder=Block\r\n");
                useBlock("block-full.dbx");
            },
            o.scanner, root, o.env);
        const size_t listed = Lines(root / "conf/blockedsenders");
        listsFrom(root / "conf", root / "harvested");
        // Runs that start from the lists the first harvest left.
        const auto afterHarvest = [&](const char* title, const char* block) {
            std::printf("  %s:\n", title);
            return Median(
                runs,
                [&] {
                    listsFrom(root / "harvested", root / "conf");
                    useBlock(block);
                },
                o.scanner, root, o.env);
        };
        row.emptied = afterHarvest("the folder emptied", "block-emptied.dbx");
        const size_t left = Lines(root / "conf/blockedsenders");
        row.idle = afterHarvest("nothing to do", "block-full.dbx");
        if (listed != v || left != 0) {
            std::printf(
                "  WRONG RESULT: %zu addresses listed after the harvest, %zu after the "
                "emptying\n",
                listed, left);
            ok = false;
        }
        ok = ok && row.first.ok && row.emptied.ok && row.idle.ok;
        rows.push_back(row);
    }

    std::printf("\nmedians of %d runs, fresh processes: wall s (CPU s)\n", runs);
    std::printf("%9s  %18s  %18s  %18s  %s\n", "senders", "first harvest", "folder emptied",
                "nothing to do", "first / nothing to do");
    for (const Row& r : rows) {
        std::printf("%9u  %8.3f (%7.3f)  %8.3f (%7.3f)  %8.3f (%7.3f)  %.1fx\n", r.size,
                    r.first.seconds, r.first.cpuSeconds, r.emptied.seconds, r.emptied.cpuSeconds,
                    r.idle.seconds, r.idle.cpuSeconds, r.first.seconds / r.idle.seconds);
    }
    std::printf("growth exponents, wall (CPU):\n");
    const auto exponents = [&](const Row& a, const Row& b) {
        std::printf(
            "  %u to %u: first harvest %.2f (%.2f), folder emptied %.2f (%.2f), nothing to "
            "do %.2f (%.2f)\n",
            a.size, b.size, Exponent(a.first.seconds, b.first.seconds, a.size, b.size),
            Exponent(a.first.cpuSeconds, b.first.cpuSeconds, a.size, b.size),
            Exponent(a.emptied.seconds, b.emptied.seconds, a.size, b.size),
            Exponent(a.emptied.cpuSeconds, b.emptied.cpuSeconds, a.size, b.size),
            Exponent(a.idle.seconds, b.idle.seconds, a.size, b.size),
            Exponent(a.idle.cpuSeconds, b.idle.cpuSeconds, a.size, b.size));
    };
    for (size_t i = 1; i < rows.size(); ++i)
        exponents(rows[i - 1], rows[i]);
    if (rows.size() > 2)
        exponents(rows.front(), rows.back());
    return ok ? 0 : 1;
}

int PlainScan(const Options& o) {
    const int runs = o.runs > 0 ? o.runs : 5;
    const fs::path& root = o.root;
    LayoutProgram(root, o.program, o.library, {"Inbox", "Sent Items"});
    qb::tools::WriteMessageStore((root / "store/Inbox.dbx").string(), o.messages,
                                 o.megabytes * 1024 * 1024, qb::tools::RecordLayout::AmongBodies,
                                 o.senders);
    Write(root / "store/Sent Items.dbx", MessageFileOf(0, 0, NoRecipients, NoRecipients));
    // The baseline build in a program folder of its own over the same store
    // and registry file.
    const fs::path baseline = root / "baseline";
    if (!o.baseline.empty()) {
        fs::create_directories(baseline / "conf");
        fs::copy_file(o.baseline / "Gleanwick", baseline / "Gleanwick",
                      fs::copy_options::overwrite_existing);
        const fs::path library = fs::path(QUELLADDR_PATH).filename();
        fs::copy_file(o.baseline / library, baseline / library,
                      fs::copy_options::overwrite_existing);
    }
    ::malloc_trim(0);
    uintmax_t total = 0, largest = 0;
    const std::vector<std::string> cat = CatOfStore(root, total, largest);
    std::printf(
        "file system of the folder: %s\nInbox %d messages from %d senders, store %.1f MB; "
        "%d runs of each, taken in turn\n",
        FileSystemOf(root).c_str(), o.messages, o.senders, total / 1048576.0, runs);

    struct Contender {
        const char* name;
        std::vector<std::string> args;
        fs::path dir;  // a program folder to reset before each run, or empty
        std::vector<Measure> runs;
    };
    std::vector<Contender> contenders = {{"cat of the store files", cat, {}, {}}};
    if (!o.baseline.empty())
        contenders.push_back({"baseline build", {(baseline / "Gleanwick").string()}, baseline, {}});
    contenders.push_back({"this build", o.scanner, root, {}});
    // Warm the cache and the programs, then take the contenders in turn, so
    // that a change in the machine's load falls on all of them alike.
    for (int i = -1; i < runs; ++i) {
        for (Contender& c : contenders) {
            if (!c.dir.empty())
                Reset(c.dir, false);
            const Measure m = RunProgram(c.args, c.dir.empty() ? root : c.dir,
                                         c.dir.empty() ? std::vector<std::string>{} : o.env, true);
            if (i >= 0)
                c.runs.push_back(m);
        }
    }
    const auto median = [](std::vector<double> v) {
        std::sort(v.begin(), v.end());
        return v[v.size() / 2];
    };
    std::printf("\nmedians of %d runs, fresh processes, warm cache:\n", runs);
    double catCpu = 0, catWall = 0;
    bool ok = true;
    for (const Contender& c : contenders) {
        std::vector<double> cpu, wall, peak;
        for (const Measure& m : c.runs) {
            cpu.push_back(m.cpuSeconds);
            wall.push_back(m.seconds);
            peak.push_back(m.maxRssKb / 1024.0);
            ok = ok && WIFEXITED(m.status) && WEXITSTATUS(m.status) == 0;
        }
        if (catCpu == 0) {
            catCpu = median(cpu);
            catWall = median(wall);
        }
        std::printf("%-24s CPU %.4f s (%.2fx cat)  wall %.3f s (%.2fx)  peak RSS %.1f MB\n", c.name,
                    median(cpu), median(cpu) / catCpu, median(wall), median(wall) / catWall,
                    median(peak));
    }
    return ok ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    Options o;
    int first = 1;
    if (argc > 1 && argv[1][0] != '-') {
        const std::string mode = argv[1];
        if (mode == "full" || mode == "harvest" || mode == "plain") {
            o.mode = mode;
            first = 2;
        }
    }
    for (int i = first; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool value = i + 1 < argc;
        if (arg == "--runs" && value) {
            o.runs = std::max(1, std::atoi(argv[++i]));
        } else if (arg == "--program" && value) {
            const fs::path dir = argv[++i];
            o.program = dir / "Gleanwick";
            o.library = dir / fs::path(QUELLADDR_PATH).filename();
        } else if (arg == "--sizes" && value) {
            o.sizes = ParseSizes(argv[++i]);
        } else if (arg == "--messages" && value) {
            o.messages = std::atoi(argv[++i]);
        } else if (arg == "--senders" && value) {
            o.senders = std::atoi(argv[++i]);
        } else if (arg == "--baseline" && value) {
            o.baseline = argv[++i];
        } else if (arg == "--megabytes" && value) {
            o.megabytes = std::atoll(argv[++i]);
        } else if (!arg.empty() && arg[0] != '-') {
            o.root = arg;
        } else {
            std::fprintf(stderr, "bench_scanner: unknown option %s (see the source's head)\n",
                         arg.c_str());
            return 2;
        }
    }
    o.own = o.root.empty();
    if (o.own)
        o.root = fs::path("/var/tmp") / ("bench_scanner." + std::to_string(::getpid()));
    o.env = {"QUELLBOX_REGISTRY=" + (o.root / "registry.reg").string()};
    o.scanner = {(o.root / "Gleanwick").string()};
    std::printf("Program %s\nLaying out the store in %s ...\n", o.program.c_str(), o.root.c_str());
    const int status = o.mode == "harvest" ? HarvestGrowth(o)
                       : o.mode == "plain" ? PlainScan(o)
                                           : FullRun(o);
    if (o.own)
        fs::remove_all(o.root);
    return status;
}
