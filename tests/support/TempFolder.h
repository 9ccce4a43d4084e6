// A temporary folder on the real file system, removed with everything in it
// when the object goes. Path() is a posix path; WinPath() the same folder as
// the Windows-style text the system's code builds paths from.
#pragma once

#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <system_error>

namespace qb::test {

class TempFolder {
  public:
    TempFolder() {
        std::string pattern = (std::filesystem::temp_directory_path() / "qbtest.XXXXXX").string();
        if (!::mkdtemp(pattern.data()))
            throw std::runtime_error("mkdtemp failed");
        path_ = pattern;
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

  private:
    std::string path_;
};

}  // namespace qb::test
