// The twelve C exports of quelladdr. Each one turns the opaque handle back
// into its AddressDatabase and calls the operation of the same name. No
// exception leaves the library: where memory runs out in the middle of an
// operation, the export answers with 0 (null for getSpamAddrH).
#include <memory>

#include "addrdb/AddressDatabase.h"
#include "addrdb/quelladdr.h"

using qb::addrdb::AddressDatabase;

namespace {

AddressDatabase& Db(SpamAddrHandle handle) {
    return *static_cast<AddressDatabase*>(handle);
}

// Runs one operation; 0 when it could not finish (memory ran out).
template <typename Operation>
int32_t Guarded(Operation operation) {
    try {
        return static_cast<int32_t>(operation());
    } catch (...) {
        return 0;
    }
}

}  // namespace

extern "C" {

QUELLADDR_API SpamAddrHandle QUELLADDR_CALL getSpamAddrH(const char* folder, uint32_t maxEntries) {
    try {
        auto db = std::make_unique<AddressDatabase>(folder ? folder : "", maxEntries);
        db->initialize();  // a missing or unreadable file leaves it empty
        return db.release();
    } catch (...) {
        return nullptr;
    }
}

QUELLADDR_API int32_t QUELLADDR_CALL freeSpamAddrH(SpamAddrHandle handle) {
    if (!handle)
        return 1;
    AddressDatabase* db = &Db(handle);
    try {
        if (db->IsDirty()) {
            db->pruneEntries();
            // A save since the last change left nothing to write: the file
            // is not written again (nor is a save another program made
            // since then overwritten with the same records).
            if (!db->FileCurrent())
                db->serialize();  // a failed save is not reported
        }
    } catch (...) {
    }
    delete db;
    return 0;
}

QUELLADDR_API int32_t QUELLADDR_CALL getSpamAddrScore(SpamAddrHandle handle, const char* address,
                                                      uint32_t score, uint32_t* result) {
    return Guarded([&] {
        *result = Db(handle).adjustScore(address, score);
        return 1;
    });
}

QUELLADDR_API int32_t QUELLADDR_CALL deleteSpamAddrEntry(SpamAddrHandle handle,
                                                         const char* address) {
    return Guarded([&] { return Db(handle).deleteSpamAddrEntry(address); });
}

QUELLADDR_API int32_t QUELLADDR_CALL addSpamAddrTo(SpamAddrHandle handle, const char* address,
                                                   uint32_t count) {
    return Guarded([&] { return Db(handle).addSpamAddrTo(address, count); });
}

QUELLADDR_API int32_t QUELLADDR_CALL addSpamAddrFrom(SpamAddrHandle handle, const char* address,
                                                     uint32_t count) {
    return Guarded([&] { return Db(handle).addSpamAddrFrom(address, count); });
}

QUELLADDR_API int32_t QUELLADDR_CALL addSpamAddrScore(SpamAddrHandle handle, const char* address,
                                                      uint32_t score) {
    return Guarded([&] { return Db(handle).addSpamAddrScore(address, score); });
}

QUELLADDR_API int32_t QUELLADDR_CALL saveSpamAddrH(SpamAddrHandle handle) {
    return Guarded([&] { return Db(handle).serialize() ? 1 : 0; });
}

QUELLADDR_API int32_t QUELLADDR_CALL setSpamAddrFrom(SpamAddrHandle handle, const char* address,
                                                     uint32_t count) {
    return Guarded([&] { return Db(handle).setSpamAddrFrom(address, count); });
}

QUELLADDR_API int32_t QUELLADDR_CALL getSpamAddrFrom(SpamAddrHandle handle, const char* address) {
    return Guarded([&] { return Db(handle).getSpamAddrFrom(address); });
}

QUELLADDR_API int32_t QUELLADDR_CALL getSpamAddrTo(SpamAddrHandle handle, const char* address) {
    return Guarded([&] { return Db(handle).getSpamAddrTo(address); });
}

QUELLADDR_API int32_t QUELLADDR_CALL getSpamAddrHTotals(SpamAddrHandle handle, uint32_t* entries,
                                                        uint32_t* totalTo, uint32_t* totalFrom) {
    const AddressDatabase& db = Db(handle);
    *entries = static_cast<uint32_t>(db.RecordCount());
    *totalTo = db.TotalTo();
    *totalFrom = db.TotalFrom();
    return 1;
}

}  // extern "C"
