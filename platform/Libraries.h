// Run-time loading of a shared library by file name, and of its exports by name.
#pragma once

#include <memory>
#include <string>

namespace qb::platform {

class Library {
  public:
    virtual ~Library() = default;
    // The address of the export, or null when the library has none of that name.
    virtual void* Symbol(const std::string& name) = 0;
};

class Libraries {
  public:
    virtual ~Libraries() = default;
    // Loads the library file, looking in the program folder first and then
    // where the system looks for libraries. Null when it cannot be loaded.
    // The library stays loaded for as long as the returned object lives.
    virtual std::unique_ptr<Library> Load(const std::string& fileName) = 0;
};

}  // namespace qb::platform
