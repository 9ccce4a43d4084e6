// A temporary folder on the real file system, removed with everything in it
// when the object goes. Path() is the folder in the host's own notation
// (posix: "/tmp/qbtest.x", Windows: "C:\...\Temp\qbtest.x"); WinPath() the
// same folder as the Windows-style text the system's code builds paths from.
#pragma once

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <stdexcept>
#include <string>
#include <system_error>

namespace qb::test {

class TempFolder {
  public:
    TempFolder() {
        // A name no other folder has: create_directory is false for one that exists.
        const std::filesystem::path base = std::filesystem::temp_directory_path();
        std::random_device seed;
        std::mt19937_64 random(seed());
        for (int attempt = 0; attempt < 100; ++attempt) {
            char name[32];
            std::snprintf(name, sizeof name, "qbtest.%012llx",
                          static_cast<unsigned long long>(random() & 0xFFFFFFFFFFFFull));
            const std::filesystem::path candidate = base / name;
            if (std::filesystem::create_directory(candidate)) {
                path_ = candidate.string();
                return;
            }
        }
        throw std::runtime_error("no temporary folder could be created");
    }
    ~TempFolder() {
        std::error_code ec;
        // Make everything writable again so a test that took rights away still cleans up.
        for (auto it = std::filesystem::recursive_directory_iterator(path_, ec);
             !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
            std::filesystem::permissions(it->path(), std::filesystem::perms::owner_all,
                                         std::filesystem::perm_options::add, ec);
        }
        std::filesystem::permissions(path_, std::filesystem::perms::owner_all,
                                     std::filesystem::perm_options::add, ec);
        std::filesystem::remove_all(path_, ec);
    }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    const std::string& Path() const { return path_; }
    std::string WinPath() const {
        std::string p = path_;
        for (char& c : p) {
            if (c == '/')
                c = '\\';
        }
        return p;
    }
    // Posix path of a file inside the folder ("a/b" or "a\\b").
    std::string operator/(const std::string& name) const {
        std::string n = name;
        for (char& c : n) {
            if (c == '\\')
                c = '/';
        }
        return path_ + "/" + n;
    }

    void Write(const std::string& name, const std::string& content) const {
        const std::filesystem::path p = (*this) / name;
        std::filesystem::create_directories(p.parent_path());
        std::ofstream out(p, std::ios::binary | std::ios::trunc);
        out << content;
    }
    std::string Read(const std::string& name) const {
        std::ifstream in((*this) / name, std::ios::binary);
        if (!in)
            return "<missing>";
        return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    bool Exists(const std::string& name) const { return std::filesystem::exists((*this) / name); }
    // How many files and folders the folder itself holds (not counting deeper levels).
    int Entries() const {
        int n = 0;
        for (auto it = std::filesystem::directory_iterator(path_);
             it != std::filesystem::directory_iterator(); ++it)
            ++n;
        return n;
    }

  private:
    std::string path_;
};

}  // namespace qb::test
