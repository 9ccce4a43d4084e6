// The address-database library quelladdr, bound at run time: the library is
// loaded by file name on the first call into it (the program folder first),
// each export is resolved by name on its first call, and the library stays
// loaded until the program ends. Strings go to the library as writable,
// NUL-terminated copies. A missing library or export raises a run-time
// error from the call that needed it.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace qb::platform {
class Library;
}

namespace qb::driver {

// The database handle. The library hands out a pointer; it is kept at full
// width so that a 64-bit build does not cut it.
using AddrHandle = void*;

class AddressDatabaseLibrary {
  public:
    // fileName: the library's file name ("quelladdr.dll"; the platform maps it
    // to its own naming).
    explicit AddressDatabaseLibrary(std::string fileName);
    ~AddressDatabaseLibrary();
    AddressDatabaseLibrary(const AddressDatabaseLibrary&) = delete;
    AddressDatabaseLibrary& operator=(const AddressDatabaseLibrary&) = delete;

    AddrHandle getSpamAddrH(const std::string& folder, uint32_t maxEntries);
    int32_t freeSpamAddrH(AddrHandle handle);
    int32_t getSpamAddrFrom(AddrHandle handle, const std::string& address);
    int32_t addSpamAddrFrom(AddrHandle handle, const std::string& address, uint32_t count);
    int32_t getSpamAddrTo(AddrHandle handle, const std::string& address);
    int32_t addSpamAddrTo(AddrHandle handle, const std::string& address, uint32_t count);
    // 1 when the whole database was written to its file, else 0.
    int32_t saveSpamAddrH(AddrHandle handle);

    // Whether an add call went to the library since the last successful save
    // (or since the start): the database then holds changes its file lacks.
    bool Unsaved() const { return unsaved_; }

  private:
    void* Resolve(const char* name);

    std::string fileName_;
    std::unique_ptr<platform::Library> library_;
    struct Exports;
    std::unique_ptr<Exports> exports_;
    bool unsaved_ = false;
    // The writable, NUL-terminated copy of an address that each call
    // receives, made in one buffer kept from call to call.
    std::vector<char> scratch_;
    char* Writable(const std::string& s);
};

}  // namespace qb::driver
