// The Strings library's CString: a growable buffer of 16-bit code units with
// string operations and file, HTTP and FTP load and save. Conversion to and
// from 8-bit text uses the code page in force (common/Text.h), one byte per
// code unit: every byte converts to a code unit and back unchanged.
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
    // Case folding of the code page for the characters it holds as single
    // bytes; others stay.
    static std::u16string Lower(std::u16string_view s) { return Fold(s, text::ToLower); }
    static std::u16string Upper(std::u16string_view s) { return Fold(s, text::ToUpper); }
    static int32_t ScanLimit() { return 0; }

  private:
    static std::u16string Fold(std::u16string_view s, char (*fold)(char)) {
        std::u16string out(s);
        for (char16_t& c : out) {
            const char b = text::WideToAnsi(c);
            if (text::AnsiToWide(b) == c)
                c = text::AnsiToWide(fold(b));
        }
        return out;
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
