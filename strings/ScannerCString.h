// The scanner's own copy of CString, built from the same source as the
// Strings library's class but holding bytes (char) of the system code page,
// so a store file loaded whole takes about its own size in memory.
//
// The .dbx reader no longer loads store files through it (it reads them in
// parts, see scanner/oe/DbxStore.h, and writes the same loader lines); the
// members below keep their behaviour for any caller that loads a file whole:
//   void loadBinary(const std::string& fileName);
//       Windows-style path text. Empties the buffer, then, in order: a name
//       ending in "\" stops silently; at trace level 8 writes
//       "filesize = <size>"; with a scan limit set (SetScanLimit) a larger
//       file is not read ("<fileName> larger than scan limit." to the status
//       list and the console log); with no limit the file is read only when
//       the available physical memory is at least 8 times its size
//       ("Insufficient physical memory available to scan <fileName>"). Any
//       other failure writes "loadBinary() Error <number> : <description>"
//       and leaves the buffer empty. Nothing is ever raised to the caller.
//   bool getBytes(int32_t srcBegin, int32_t srcEnd, std::string& dst) const;
//       Positions srcBegin..srcEnd (1-based, inclusive; file offset k is
//       position k + 1) into dst, bytes unchanged. On a bad range: false,
//       dst unchanged, and the console line
//       "CString::getBytes Error -2147220992 : Index out of bounds".
//   int32_t length() const;
//   std::string_view View() const;   // the whole content without a copy
//
// Console lines go through qb::report::ConsoleLog / StatusMessage, the trace
// level through qb::report::Tracing() (common/Report.h).
#pragma once

#include <cstdint>
#include <string>

#include "common/Text.h"
#include "strings/BasicCString.h"

namespace qb::scanner {

// The largest store file loadBinary reads, in bytes; 0 (or less) means no
// limit, and then the free-memory test applies. The driver sets it once from
// the registry value "scan_limit"; it starts at 0.
void SetScanLimit(int32_t bytes);
int32_t ScanLimit();

struct ScannerStringTraits {
    using Char = char;
    static constexpr bool kScanner = true;
    static char ToByte(char c) { return c; }
    static char FromByte(char b) { return b; }
    // The code page's folds of a whole text (a trail byte stays).
    static std::string Lower(std::string_view s) { return text::Lower(s); }
    static std::string Upper(std::string_view s) { return text::Upper(s); }
    static int32_t ScanLimit() { return scanner::ScanLimit(); }
};

class CString : public strings::BasicCString<CString, ScannerStringTraits> {
  public:
    CString() = default;
    // Clears the content of the buffer, and resets its capacity to DEFALT_SIZE.
    void Clear() { Reset(); }
};

}  // namespace qb::scanner

extern template class qb::strings::BasicCString<qb::scanner::CString,
                                                qb::scanner::ScannerStringTraits>;
