// The quelladdr library as its callers see it: loaded at run time by file
// name, each of the twelve exports resolved by its plain name. Tests reach
// the database only through these function pointers.
#pragma once

#if defined(_WIN32)
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#else
#include <dlfcn.h>
#endif
#include <gtest/gtest.h>

#include <cstdint>
#include <stdexcept>
#include <string>

#include "addrdb/quelladdr.h"

namespace qb::test {

class QuellAddrLibrary {
  public:
    // The library built alongside the tests (path set by the build).
    static QuellAddrLibrary& Get() {
        static QuellAddrLibrary library(QUELLADDR_LIBRARY_FILE);
        return library;
    }

    explicit QuellAddrLibrary(const std::string& file) {
#if defined(_WIN32)
        module_ = ::LoadLibraryA(file.c_str());
        if (!module_)
            throw std::runtime_error("cannot load " + file);
#else
        module_ = ::dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (!module_)
            throw std::runtime_error("cannot load " + file + ": " + ::dlerror());
#endif
        Bind(getSpamAddrH, "getSpamAddrH");
        Bind(freeSpamAddrH, "freeSpamAddrH");
        Bind(getSpamAddrScore, "getSpamAddrScore");
        Bind(deleteSpamAddrEntry, "deleteSpamAddrEntry");
        Bind(addSpamAddrTo, "addSpamAddrTo");
        Bind(addSpamAddrFrom, "addSpamAddrFrom");
        Bind(addSpamAddrScore, "addSpamAddrScore");
        Bind(saveSpamAddrH, "saveSpamAddrH");
        Bind(setSpamAddrFrom, "setSpamAddrFrom");
        Bind(getSpamAddrFrom, "getSpamAddrFrom");
        Bind(getSpamAddrTo, "getSpamAddrTo");
        Bind(getSpamAddrHTotals, "getSpamAddrHTotals");
    }
#if defined(_WIN32)
    ~QuellAddrLibrary() {
        ::FreeLibrary(module_);
    }
#else
    ~QuellAddrLibrary() {
        ::dlclose(module_);
    }
#endif
    QuellAddrLibrary(const QuellAddrLibrary&) = delete;
    QuellAddrLibrary& operator=(const QuellAddrLibrary&) = delete;

    QA_PFN_getSpamAddrH getSpamAddrH;
    QA_PFN_freeSpamAddrH freeSpamAddrH;
    QA_PFN_getSpamAddrScore getSpamAddrScore;
    QA_PFN_deleteSpamAddrEntry deleteSpamAddrEntry;
    QA_PFN_addSpamAddrTo addSpamAddrTo;
    QA_PFN_addSpamAddrFrom addSpamAddrFrom;
    QA_PFN_addSpamAddrScore addSpamAddrScore;
    QA_PFN_saveSpamAddrH saveSpamAddrH;
    QA_PFN_setSpamAddrFrom setSpamAddrFrom;
    QA_PFN_getSpamAddrFrom getSpamAddrFrom;
    QA_PFN_getSpamAddrTo getSpamAddrTo;
    QA_PFN_getSpamAddrHTotals getSpamAddrHTotals;

  private:
    template <typename F>
    void Bind(F& function, const char* name) {
#if defined(_WIN32)
        const FARPROC symbol = ::GetProcAddress(module_, name);
        if (!symbol)
            throw std::runtime_error(std::string("missing export ") + name);
        function = reinterpret_cast<F>(reinterpret_cast<void (*)()>(symbol));
#else
        void* symbol = ::dlsym(module_, name);
        if (!symbol)
            throw std::runtime_error(std::string("missing export ") + name);
        function = reinterpret_cast<F>(symbol);
#endif
    }

#if defined(_WIN32)
    HMODULE module_;
#else
    void* module_;
#endif
};

// One open handle, released when the object goes (unless released earlier
// with Free). The members call the exports of the same names.
class AddrDb {
  public:
    AddrDb(const std::string& folder, uint32_t maxEntries)
        : lib_(QuellAddrLibrary::Get()), h_(lib_.getSpamAddrH(folder.c_str(), maxEntries)) {}
    ~AddrDb() {
        if (h_)
            lib_.freeSpamAddrH(h_);
    }
    AddrDb(const AddrDb&) = delete;
    AddrDb& operator=(const AddrDb&) = delete;

    SpamAddrHandle Handle() const { return h_; }
    int32_t Free() {
        const int32_t r = lib_.freeSpamAddrH(h_);
        h_ = nullptr;
        return r;
    }
    int32_t To(const char* a, uint32_t n) { return lib_.addSpamAddrTo(h_, a, n); }
    int32_t From(const char* a, uint32_t n) { return lib_.addSpamAddrFrom(h_, a, n); }
    int32_t SetFrom(const char* a, uint32_t n) { return lib_.setSpamAddrFrom(h_, a, n); }
    int32_t Score(const char* a, uint32_t s) { return lib_.addSpamAddrScore(h_, a, s); }
    int32_t Delete(const char* a) { return lib_.deleteSpamAddrEntry(h_, a); }
    int32_t Save() { return lib_.saveSpamAddrH(h_); }
    int32_t GetFrom(const char* a) { return lib_.getSpamAddrFrom(h_, a); }
    int32_t GetTo(const char* a) { return lib_.getSpamAddrTo(h_, a); }
    // The adjusted score (the export's own result must be 1).
    uint32_t Adjust(const char* a, uint32_t score) {
        uint32_t result = 12345;
        EXPECT_EQ(lib_.getSpamAddrScore(h_, a, score, &result), 1);
        return result;
    }
    struct Totals {
        uint32_t entries, to, from;
        bool operator==(const Totals&) const = default;
    };
    Totals GetTotals() {
        Totals t{~0u, ~0u, ~0u};
        EXPECT_EQ(lib_.getSpamAddrHTotals(h_, &t.entries, &t.to, &t.from), 1);
        return t;
    }

  private:
    QuellAddrLibrary& lib_;
    SpamAddrHandle h_;
};

inline void PrintTo(const AddrDb::Totals& t, std::ostream* os) {
    *os << "{entries " << t.entries << ", to " << t.to << ", from " << t.from << "}";
}

}  // namespace qb::test
