// Code page tables from the Windows API that Windows XP has: GetCPInfo for
// the lead bytes, MultiByteToWideChar / WideCharToMultiByte for the
// conversions, CharLowerBuffW / CharUpperBuffW for the case mapping.
#include <string>

#include "platform/CodePage.h"
#include "platform/codepage/LeadBytes.h"
#include "platform/codepage/Tables.h"
#include "platform/win32/Win32FileSystem.h"

// Last: windows.h defines names the other headers use.
#include "platform/win32/WinApi.h"

namespace qb::platform {

namespace {

char16_t Fold(char16_t u, bool upper) {
    wchar_t w = static_cast<wchar_t>(u);
    if (upper)
        ::CharUpperBuffW(&w, 1);
    else
        ::CharLowerBuffW(&w, 1);
    return static_cast<char16_t>(w);
}

std::u16string DoubleByteToWide(uint32_t number, std::string_view bytes) {
    if (bytes.empty())
        return {};
    const int size = static_cast<int>(bytes.size());
    const int n = ::MultiByteToWideChar(number, 0, bytes.data(), size, nullptr, 0);
    std::wstring out(static_cast<size_t>(n > 0 ? n : 0), L'\0');
    if (n > 0)
        ::MultiByteToWideChar(number, 0, bytes.data(), size, out.data(), n);
    return std::u16string(out.begin(), out.end());
}

std::string DoubleByteFromWide(uint32_t number, std::u16string_view units) {
    if (units.empty())
        return {};
    const std::wstring in(units.begin(), units.end());
    const int size = static_cast<int>(in.size());
    const int n = ::WideCharToMultiByte(number, 0, in.data(), size, nullptr, 0, "?", nullptr);
    std::string out(static_cast<size_t>(n > 0 ? n : 0), '\0');
    if (n > 0)
        ::WideCharToMultiByte(number, 0, in.data(), size, out.data(), n, "?", nullptr);
    return out;
}

}  // namespace

std::optional<uint32_t> SystemCodePage() {
    return ::GetACP();
}

std::unique_ptr<text::CodePage> BuildCodePage(uint32_t number) {
    auto cp = std::make_unique<text::CodePage>();
    cp->number = number;
    if (!LeadBytes(number, cp->lead))
        return nullptr;
    for (int b = 0; b < 256; ++b) {
        const size_t i = static_cast<size_t>(b);
        cp->wide[i] = static_cast<char16_t>(b);
        cp->doubleByte = cp->doubleByte || cp->lead[i];
        if (cp->lead[i])
            continue;
        const char byte = static_cast<char>(b);
        wchar_t unit = 0;
        if (::MultiByteToWideChar(number, MB_ERR_INVALID_CHARS, &byte, 1, &unit, 1) == 1)
            cp->wide[i] = static_cast<char16_t>(unit);
    }
    FillCaseTables(*cp, Fold);
    if (cp->doubleByte) {
        cp->toWideText = DoubleByteToWide;
        cp->fromWideText = DoubleByteFromWide;
    }
    return cp;
}

std::u16string LowerWide(std::u16string_view text) {
    std::wstring w(text.begin(), text.end());
    if (!w.empty())
        ::CharLowerBuffW(w.data(), static_cast<DWORD>(w.size()));
    return std::u16string(w.begin(), w.end());
}

std::u16string NameToWide(std::string_view name) {
    const std::wstring w = WidePath(name);
    return std::u16string(w.begin(), w.end());
}

void PutCodePageInEnvironment(uint32_t) {}

}  // namespace qb::platform
