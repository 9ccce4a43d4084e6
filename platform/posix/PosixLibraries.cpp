// Shared libraries through dlopen. A Windows library name "name.dll" is the
// posix file "libname.so"; the program folder is searched first, then the
// system's library path.
#include <dlfcn.h>

#include "platform/Instance.h"
#include "platform/Libraries.h"
#include "platform/Platform.h"

namespace qb::platform {

namespace {

class PosixLibrary final : public Library {
  public:
    explicit PosixLibrary(void* handle) : handle_(handle) {}
    ~PosixLibrary() override { ::dlclose(handle_); }
    PosixLibrary(const PosixLibrary&) = delete;
    PosixLibrary& operator=(const PosixLibrary&) = delete;

    void* Symbol(const std::string& name) override { return ::dlsym(handle_, name.c_str()); }

  private:
    void* handle_;
};

std::string PosixName(const std::string& fileName) {
    const std::string dll = ".dll";
    if (fileName.size() > dll.size() &&
        fileName.compare(fileName.size() - dll.size(), dll.size(), dll) == 0) {
        return "lib" + fileName.substr(0, fileName.size() - dll.size()) + ".so";
    }
    return fileName;
}

class PosixLibraries final : public Libraries {
  public:
    std::unique_ptr<Library> Load(const std::string& fileName) override {
        const std::string name = PosixName(fileName);
        void* handle = nullptr;
        if (name.find('/') == std::string::npos) {
            const std::string local = Program().ProgramFolder() + "/" + name;
            handle = ::dlopen(local.c_str(), RTLD_NOW | RTLD_LOCAL);
        }
        if (!handle)
            handle = ::dlopen(name.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (!handle)
            return nullptr;
        return std::make_unique<PosixLibrary>(handle);
    }
};

}  // namespace

Libraries& DefaultLibraries() {
    static PosixLibraries libraries;
    return libraries;
}

}  // namespace qb::platform
