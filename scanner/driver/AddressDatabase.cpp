#include "scanner/driver/AddressDatabase.h"

#include <vector>

#include "common/RunError.h"
#include "platform/Libraries.h"
#include "platform/Platform.h"

#if defined(_WIN32) && !defined(_WIN64)
#define QB_LIB_CALL __stdcall
#else
#define QB_LIB_CALL
#endif

namespace qb::driver {

namespace {
using GetH = void*(QB_LIB_CALL*)(char*, uint32_t);
using FreeH = int32_t(QB_LIB_CALL*)(void*);
using GetCount = int32_t(QB_LIB_CALL*)(void*, char*);
using AddCount = int32_t(QB_LIB_CALL*)(void*, char*, uint32_t);
using SaveH = int32_t(QB_LIB_CALL*)(void*);

}  // namespace

struct AddressDatabaseLibrary::Exports {
    GetH getSpamAddrH = nullptr;
    FreeH freeSpamAddrH = nullptr;
    GetCount getSpamAddrFrom = nullptr;
    AddCount addSpamAddrFrom = nullptr;
    GetCount getSpamAddrTo = nullptr;
    AddCount addSpamAddrTo = nullptr;
    SaveH saveSpamAddrH = nullptr;
};

AddressDatabaseLibrary::AddressDatabaseLibrary(std::string fileName)
    : fileName_(std::move(fileName)), exports_(std::make_unique<Exports>()) {}

AddressDatabaseLibrary::~AddressDatabaseLibrary() = default;

// Whatever the library writes into the copy is ignored; the next call
// overwrites it.
char* AddressDatabaseLibrary::Writable(const std::string& s) {
    scratch_.assign(s.begin(), s.end());
    scratch_.push_back('\0');
    return scratch_.data();
}

void* AddressDatabaseLibrary::Resolve(const char* name) {
    if (!library_) {
        library_ = platform::Libs().Load(fileName_);
        if (!library_) {
            throw RunError(err::kFileNotFound, "Gleanwick", "File not found: " + fileName_);
        }
    }
    void* symbol = library_->Symbol(name);
    if (!symbol) {
        throw RunError(453, "Gleanwick",
                       std::string("Can't find DLL entry point ") + name + " in " + fileName_);
    }
    return symbol;
}

// Resolves the export on first use and keeps the address.
#define QB_BIND(member)     \
    (exports_->member       \
         ? exports_->member \
         : (exports_->member = reinterpret_cast<decltype(exports_->member)>(Resolve(#member))))

AddrHandle AddressDatabaseLibrary::getSpamAddrH(const std::string& folder, uint32_t maxEntries) {
    auto fn = QB_BIND(getSpamAddrH);
    return fn(Writable(folder), maxEntries);
}

int32_t AddressDatabaseLibrary::freeSpamAddrH(AddrHandle handle) {
    return QB_BIND(freeSpamAddrH)(handle);
}

int32_t AddressDatabaseLibrary::getSpamAddrFrom(AddrHandle handle, const std::string& address) {
    auto fn = QB_BIND(getSpamAddrFrom);
    return fn(handle, Writable(address));
}

int32_t AddressDatabaseLibrary::addSpamAddrFrom(AddrHandle handle, const std::string& address,
                                                uint32_t count) {
    auto fn = QB_BIND(addSpamAddrFrom);
    char* const a = Writable(address);
    unsaved_ = true;
    return fn(handle, a, count);
}

int32_t AddressDatabaseLibrary::getSpamAddrTo(AddrHandle handle, const std::string& address) {
    auto fn = QB_BIND(getSpamAddrTo);
    return fn(handle, Writable(address));
}

int32_t AddressDatabaseLibrary::addSpamAddrTo(AddrHandle handle, const std::string& address,
                                              uint32_t count) {
    auto fn = QB_BIND(addSpamAddrTo);
    char* const a = Writable(address);
    unsaved_ = true;
    return fn(handle, a, count);
}

int32_t AddressDatabaseLibrary::saveSpamAddrH(AddrHandle handle) {
    auto fn = QB_BIND(saveSpamAddrH);
    // No handle (the library ran out of memory opening it): nothing to write to.
    const int32_t saved = handle ? fn(handle) : 0;
    if (saved == 1)
        unsaved_ = false;
    return saved;
}

#undef QB_BIND

}  // namespace qb::driver
