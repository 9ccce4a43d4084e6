// The Strings library's CString: a growable buffer of 16-bit code units with
// string operations and file, HTTP and FTP load and save. Conversion to and
// from 8-bit text uses the system code page (Windows-1252, all 256 bytes one
// to one).
#pragma once

#include <string>

#include "common/Text.h"
#include "strings/BasicCString.h"

namespace qb::strings {

struct LibraryTraits {
    using Char = char16_t;
    static constexpr bool kScanner = false;
    static char ToByte(char16_t c) { return text::WideToAnsi(c); }
    static char16_t FromByte(char b) { return text::AnsiToWide(b); }
    // Case folding of the code page for characters it holds; others stay.
    static char16_t Lower(char16_t c) { return Fold(c, text::ToLower); }
    static char16_t Upper(char16_t c) { return Fold(c, text::ToUpper); }
    static int32_t ScanLimit() { return 0; }

  private:
    static char16_t Fold(char16_t c, char (*fold)(char)) {
        const char b = text::WideToAnsi(c);
        return text::AnsiToWide(b) == c ? text::AnsiToWide(fold(b)) : c;
    }
};

class CString : public BasicCString<CString, LibraryTraits> {
  public:
    CString() = default;
    // Clears the content of the buffer, and resets it's capacity to DEFALT_SIZE.
    void clear() { Reset(); }
};

}  // namespace qb::strings

extern template class qb::strings::BasicCString<qb::strings::CString, qb::strings::LibraryTraits>;
