/* The quelladdr address database: twelve C functions on an opaque handle.
 *
 * A handle is opened on a folder with getSpamAddrH, which loads the folder's
 * quellboxaddr.bin; it is released with freeSpamAddrH, which prunes and
 * rewrites the file when anything changed. Addresses are NUL-terminated 8-bit
 * strings; a null or empty address stands for the record "empty". The
 * library copies what it keeps, hands out no memory and lets no exception
 * out. One handle must not be used from two threads at once.
 *
 * Callers that bind at run time resolve each function by its plain name; the
 * QA_PFN_* pointer types below match the functions exactly. */
#ifndef QUELLADDR_H
#define QUELLADDR_H

#include <stdint.h>

/* Calling convention of every export: the Windows standard convention there,
 * the platform's ordinary one elsewhere. */
#if defined(_WIN32)
#define QUELLADDR_CALL __stdcall
#else
#define QUELLADDR_CALL
#endif

/* Marks the twelve exports while the library itself is built; nothing else
 * of the library is visible outside it. */
#if defined(QUELLADDR_BUILDING)
#if defined(_WIN32)
/* quelladdr.def exports them: a dllexport would add the 32-bit build's
 * decorated names ("_name@N") beside the plain ones. */
#define QUELLADDR_API
#else
#define QUELLADDR_API __attribute__((visibility("default")))
#endif
#else
#define QUELLADDR_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* One open address database; null means none. */
typedef void* SpamAddrHandle;

/* Opens the database of folder ("" means the current directory) with room for
 * maxEntries records before pruning; loads folder\quellboxaddr.bin when it can
 * be read. A missing file gives an empty database that saves create. A file
 * that exists but cannot be read (no right to read it, held by another program
 * without read sharing, a read error, a folder or device in its place) also
 * gives an empty database, and this handle never writes that file: every save
 * answers 0. Null only when memory runs out. */
QUELLADDR_API SpamAddrHandle QUELLADDR_CALL getSpamAddrH(const char* folder, uint32_t maxEntries);

/* Releases the handle; a changed database is pruned and saved first (a failed
 * or refused save is not reported: a caller that must know saves first with
 * saveSpamAddrH). 1 for a null handle (nothing done), else 0. */
QUELLADDR_API int32_t QUELLADDR_CALL freeSpamAddrH(SpamAddrHandle handle);

/* Writes the adjusted spam score of a message from address to *result;
 * records the score for a known address. 1. */
QUELLADDR_API int32_t QUELLADDR_CALL getSpamAddrScore(SpamAddrHandle handle, const char* address,
                                                      uint32_t score, uint32_t* result);

/* Removes the address's record: 1 when there was one, else 0. */
QUELLADDR_API int32_t QUELLADDR_CALL deleteSpamAddrEntry(SpamAddrHandle handle,
                                                         const char* address);

/* Adds count to the address's to-count (creating its record). 1. */
QUELLADDR_API int32_t QUELLADDR_CALL addSpamAddrTo(SpamAddrHandle handle, const char* address,
                                                   uint32_t count);

/* Adds count to the address's from-count (creating its record, then pruning). 1. */
QUELLADDR_API int32_t QUELLADDR_CALL addSpamAddrFrom(SpamAddrHandle handle, const char* address,
                                                     uint32_t count);

/* Records a spam score (limited to 100) for the address. 1. */
QUELLADDR_API int32_t QUELLADDR_CALL addSpamAddrScore(SpamAddrHandle handle, const char* address,
                                                      uint32_t score);

/* Writes the whole database to its file now, without pruning, through a
 * temporary file that is flushed to disk and renamed over the file, the
 * rename itself made durable. 1 when the new file is in place and on disk.
 * 0 when it is not known to be: the handle could not read the file when it
 * was opened (the file is left alone), or creating, writing, flushing or
 * renaming the temporary file failed (the old file is unchanged), or the
 * folder could not be flushed after the rename (the new file is in place but
 * may not survive a power loss). No temporary file stays behind. */
QUELLADDR_API int32_t QUELLADDR_CALL saveSpamAddrH(SpamAddrHandle handle);

/* Sets the address's from-count to count. 1 when the database has changed
 * since it was opened (by this call or an earlier one), else 0. */
QUELLADDR_API int32_t QUELLADDR_CALL setSpamAddrFrom(SpamAddrHandle handle, const char* address,
                                                     uint32_t count);

/* The address's from-count; 0 when it has no record. Creates nothing. */
QUELLADDR_API int32_t QUELLADDR_CALL getSpamAddrFrom(SpamAddrHandle handle, const char* address);

/* The address's to-count; 0 when it has no record. Creates nothing. */
QUELLADDR_API int32_t QUELLADDR_CALL getSpamAddrTo(SpamAddrHandle handle, const char* address);

/* Writes the number of records and the running to- and from-totals. 1. */
QUELLADDR_API int32_t QUELLADDR_CALL getSpamAddrHTotals(SpamAddrHandle handle, uint32_t* entries,
                                                        uint32_t* totalTo, uint32_t* totalFrom);

/* Pointer types for binding the exports by name at run time. */
typedef SpamAddrHandle(QUELLADDR_CALL* QA_PFN_getSpamAddrH)(const char*, uint32_t);
typedef int32_t(QUELLADDR_CALL* QA_PFN_freeSpamAddrH)(SpamAddrHandle);
typedef int32_t(QUELLADDR_CALL* QA_PFN_getSpamAddrScore)(SpamAddrHandle, const char*, uint32_t,
                                                         uint32_t*);
typedef int32_t(QUELLADDR_CALL* QA_PFN_deleteSpamAddrEntry)(SpamAddrHandle, const char*);
typedef int32_t(QUELLADDR_CALL* QA_PFN_addSpamAddrTo)(SpamAddrHandle, const char*, uint32_t);
typedef int32_t(QUELLADDR_CALL* QA_PFN_addSpamAddrFrom)(SpamAddrHandle, const char*, uint32_t);
typedef int32_t(QUELLADDR_CALL* QA_PFN_addSpamAddrScore)(SpamAddrHandle, const char*, uint32_t);
typedef int32_t(QUELLADDR_CALL* QA_PFN_saveSpamAddrH)(SpamAddrHandle);
typedef int32_t(QUELLADDR_CALL* QA_PFN_setSpamAddrFrom)(SpamAddrHandle, const char*, uint32_t);
typedef int32_t(QUELLADDR_CALL* QA_PFN_getSpamAddrFrom)(SpamAddrHandle, const char*);
typedef int32_t(QUELLADDR_CALL* QA_PFN_getSpamAddrTo)(SpamAddrHandle, const char*);
typedef int32_t(QUELLADDR_CALL* QA_PFN_getSpamAddrHTotals)(SpamAddrHandle, uint32_t*, uint32_t*,
                                                           uint32_t*);

#ifdef __cplusplus
}
#endif

#endif /* QUELLADDR_H */
