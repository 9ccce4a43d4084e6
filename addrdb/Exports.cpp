// The twelve C exports of quelladdr. Each one turns the opaque handle back
// into its AddressDatabase and calls the operation of the same name. No
// exception leaves the library: where memory runs out in the middle of an
// operation, the export answers with 0 (null for getSpamAddrH).
#include <new>

#include "addrdb/AddressDatabase.h"
#include "addrdb/quelladdr.h"

using qb::addrdb::AddressDatabase;

namespace {

AddressDatabase& Db(SpamAddrHandle handle) {
    return *static_cast<AddressDatabase*>(handle);
}

}  // namespace

extern "C" {

QUELLADDR_API SpamAddrHandle QUELLADDR_CALL getSpamAddrH(const char* folder, uint32_t maxEntries) {
    try {
        auto* db = new AddressDatabase(folder ? folder : "", maxEntries);
        try {
            db->initialize();  // a missing or unreadable file leaves it empty
        } catch (...) {
            delete db;
            return nullptr;
        }
        return db;
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
            db->serialize();  // a failed save is not reported
        }
    } catch (...) {
    }
    delete db;
    return 0;
}

QUELLADDR_API int32_t QUELLADDR_CALL getSpamAddrScore(SpamAddrHandle handle, const char* address,
                                                      uint32_t score, uint32_t* result) {
    try {
        *result = Db(handle).adjustScore(address, score);
        return 1;
    } catch (...) {
        return 0;
    }
}

QUELLADDR_API int32_t QUELLADDR_CALL deleteSpamAddrEntry(SpamAddrHandle handle,
                                                         const char* address) {
    try {
        return Db(handle).deleteSpamAddrEntry(address);
    } catch (...) {
        return 0;
    }
}

QUELLADDR_API int32_t QUELLADDR_CALL addSpamAddrTo(SpamAddrHandle handle, const char* address,
                                                   uint32_t count) {
    try {
        return Db(handle).addSpamAddrTo(address, count);
    } catch (...) {
        return 0;
    }
}

QUELLADDR_API int32_t QUELLADDR_CALL addSpamAddrFrom(SpamAddrHandle handle, const char* address,
                                                     uint32_t count) {
    try {
        return Db(handle).addSpamAddrFrom(address, count);
    } catch (...) {
        return 0;
    }
}

QUELLADDR_API int32_t QUELLADDR_CALL addSpamAddrScore(SpamAddrHandle handle, const char* address,
                                                      uint32_t score) {
    try {
        return Db(handle).addSpamAddrScore(address, score);
    } catch (...) {
        return 0;
    }
}

QUELLADDR_API int32_t QUELLADDR_CALL saveSpamAddrH(SpamAddrHandle handle) {
    try {
        return Db(handle).serialize() ? 1 : 0;
    } catch (...) {
        return 0;
    }
}

QUELLADDR_API int32_t QUELLADDR_CALL setSpamAddrFrom(SpamAddrHandle handle, const char* address,
                                                     uint32_t count) {
    try {
        return Db(handle).setSpamAddrFrom(address, count);
    } catch (...) {
        return 0;
    }
}

QUELLADDR_API int32_t QUELLADDR_CALL getSpamAddrFrom(SpamAddrHandle handle, const char* address) {
    try {
        return static_cast<int32_t>(Db(handle).getSpamAddrFrom(address));
    } catch (...) {
        return 0;
    }
}

QUELLADDR_API int32_t QUELLADDR_CALL getSpamAddrTo(SpamAddrHandle handle, const char* address) {
    try {
        return static_cast<int32_t>(Db(handle).getSpamAddrTo(address));
    } catch (...) {
        return 0;
    }
}

QUELLADDR_API int32_t QUELLADDR_CALL getSpamAddrHTotals(SpamAddrHandle handle, uint32_t* entries,
                                                        uint32_t* totalTo, uint32_t* totalFrom) {
    const AddressDatabase& db = Db(handle);
    *entries = static_cast<uint32_t>(db.Records().size());
    *totalTo = db.TotalTo();
    *totalFrom = db.TotalFrom();
    return 1;
}

}  // extern "C"
