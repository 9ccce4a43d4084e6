// Benchmark: successive AddressList Adds to a list of existing entries, each
// of which rewrites the list file (atomically). Reports the time and the
// bytes written.
//
//   bench_address_list [entries] [adds] [folder]   (defaults 10000 10000, a new folder under /tmp)
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>

#include "platform/FileSystem.h"
#include "platform/Platform.h"
#include "scanner/lists/AddressList.h"

namespace {

// Passes every call to the operating system's file system and counts the
// bytes of the replaced files.
class CountingFileSystem final : public qb::platform::FileSystem {
  public:
    long long bytes = 0;
    long long files = 0;

    qb::platform::PathKind Kind(const std::string& p) override { return real().Kind(p); }
    int64_t FileSize(const std::string& p) override { return real().FileSize(p); }
    bool ReadFile(const std::string& p, std::string& out) override {
        return real().ReadFile(p, out);
    }
    bool ReplaceFile(const std::string& p, std::string_view content,
                     qb::platform::Durability d = qb::platform::Durability::kSynced) override {
        bytes += static_cast<long long>(content.size());
        ++files;
        return real().ReplaceFile(p, content, d);
    }
    int RemoveLeftoverTemporaries(const std::string& p) override {
        return real().RemoveLeftoverTemporaries(p);
    }
    bool AppendFile(const std::string& p, std::string_view c) override {
        return real().AppendFile(p, c);
    }
    bool CopyFile(const std::string& f, const std::string& t) override {
        return real().CopyFile(f, t);
    }
    bool DeleteFile(const std::string& p) override { return real().DeleteFile(p); }
    bool CreateFolder(const std::string& p) override { return real().CreateFolder(p); }

  private:
    static qb::platform::FileSystem& real() { return qb::platform::DefaultFileSystem(); }
};

std::string Address(const char* prefix, int i) {
    return prefix + std::to_string(i * 7919 % 1000003) + "@host" + std::to_string(i % 97) + ".com";
}

}  // namespace

int main(int argc, char** argv) {
    const int entries = argc > 1 ? std::atoi(argv[1]) : 10000;
    const int adds = argc > 2 ? std::atoi(argv[2]) : 10000;
    std::filesystem::path folder = argc > 3
                                       ? std::filesystem::path(argv[3])
                                       : std::filesystem::temp_directory_path() /
                                             ("qb-bench-" + std::to_string(std::random_device()()));
    std::filesystem::create_directories(folder);
    const std::string path = (folder / "approvedsenders").string();

    CountingFileSystem fs;
    qb::platform::ScopedServices scope({.files = &fs});

    // The starting file, written once and loaded (not timed).
    {
        qb::lists::FileList start;
        for (int i = 0; i < entries; ++i)
            start.Add(Address("old", i));
        std::string target = path;
        start.Save(target);
    }
    qb::lists::AddressList list;
    list.SetFileLocation(path);
    list.Load();
    fs.bytes = fs.files = 0;

    const auto t0 = std::chrono::steady_clock::now();
    for (int i = 0; i < adds; ++i)
        list.Add(Address("new", i));
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();

    std::printf("%d Adds to a list of %d entries: %.3f s (%.3f ms per Add)\n", adds, entries,
                seconds, 1000.0 * seconds / adds);
    std::printf("files written: %lld, bytes written: %lld (%.1f MB), final file %lld bytes\n",
                fs.files, fs.bytes, fs.bytes / 1e6,
                static_cast<long long>(std::filesystem::file_size(path)));
    if (argc <= 3)
        std::filesystem::remove_all(folder);
    return list.Count() == entries + adds ? 0 : 1;
}
