// Code page tables through glibc: iconv for the conversions, the C.UTF-8
// locale's towlower / towupper for the case mapping.
#include <iconv.h>
#include <locale.h>
#include <wctype.h>

#include <cerrno>
#include <cstdlib>
#include <string>

#include "platform/CodePage.h"
#include "platform/codepage/LeadBytes.h"
#include "platform/codepage/Tables.h"

namespace qb::platform {

namespace {

// The C.UTF-8 locale's character classes, opened once; null where the C
// library has none.
locale_t Utf8Locale() {
    static const locale_t locale = [] {
        locale_t l = newlocale(LC_CTYPE_MASK, "C.UTF-8", nullptr);
        if (!l)
            l = newlocale(LC_CTYPE_MASK, "C.utf8", nullptr);
        return l;
    }();
    return locale;
}

char16_t Fold(char16_t u, bool upper) {
    const locale_t locale = Utf8Locale();
    if (!locale || (u >= 0xD800 && u <= 0xDFFF))
        return u;
    const wint_t f = upper ? towupper_l(u, locale) : towlower_l(u, locale);
    return f <= 0xFFFF ? static_cast<char16_t>(f) : u;
}

// An open conversion, closed at the end of its scope.
class Conversion {
  public:
    Conversion(const std::string& to, const std::string& from)
        : cd_(iconv_open(to.c_str(), from.c_str())) {}
    ~Conversion() {
        if (Open())
            iconv_close(cd_);
    }
    Conversion(const Conversion&) = delete;
    Conversion& operator=(const Conversion&) = delete;
    bool Open() const { return cd_ != reinterpret_cast<iconv_t>(-1); }
    void Reset() { iconv(cd_, nullptr, nullptr, nullptr, nullptr); }

    // Converts in as far as it can; returns how many input bytes it took.
    // Stops at a byte sequence it cannot convert or an unfinished one.
    size_t Run(std::string_view in, std::string& out) {
        char* ip = const_cast<char*>(in.data());
        size_t inLeft = in.size();
        char buffer[1024];
        while (inLeft > 0) {
            char* op = buffer;
            size_t outLeft = sizeof buffer;
            const size_t r = iconv(cd_, &ip, &inLeft, &op, &outLeft);
            out.append(buffer, static_cast<size_t>(op - buffer));
            if (r == static_cast<size_t>(-1) && errno != E2BIG)
                break;
        }
        return in.size() - inLeft;
    }

  private:
    iconv_t cd_;
};

std::string CodePageName(uint32_t number) {
    return "CP" + std::to_string(number);
}

std::u16string Utf16FromBytes(const std::string& bytes) {
    std::u16string out(bytes.size() / 2, u'\0');
    for (size_t i = 0; i < out.size(); ++i)
        out[i] = static_cast<char16_t>(static_cast<unsigned char>(bytes[2 * i]) |
                                       static_cast<unsigned char>(bytes[2 * i + 1]) << 8);
    return out;
}

// A double-byte code page's text in UTF-16. A byte that starts no character
// of the code page becomes the code point of its own value, as a single byte
// does in the tables.
std::u16string DoubleByteToWide(uint32_t number, std::string_view bytes) {
    Conversion conversion("UTF-16LE", CodePageName(number));
    std::u16string out;
    while (!bytes.empty()) {
        std::string units;
        const size_t taken = conversion.Open() ? conversion.Run(bytes, units) : 0;
        out += Utf16FromBytes(units);
        bytes.remove_prefix(taken);
        if (!bytes.empty()) {
            out += static_cast<char16_t>(static_cast<unsigned char>(bytes[0]));
            bytes.remove_prefix(1);
        }
    }
    return out;
}

// UTF-16 in a double-byte code page; a code unit it cannot hold becomes '?'
// (a surrogate pair one '?').
std::string DoubleByteFromWide(uint32_t number, std::u16string_view units) {
    Conversion conversion(CodePageName(number), "UTF-16LE");
    std::string in(units.size() * 2, '\0');
    for (size_t i = 0; i < units.size(); ++i) {
        in[2 * i] = static_cast<char>(units[i] & 0xFF);
        in[2 * i + 1] = static_cast<char>(units[i] >> 8);
    }
    std::string out;
    size_t at = 0;  // the code units converted or replaced so far
    while (true) {
        if (conversion.Open())
            at += conversion.Run(std::string_view(in).substr(2 * at), out) / 2;
        if (at == units.size())
            break;
        const bool pair = units[at] >= 0xD800 && units[at] <= 0xDBFF && at + 1 < units.size() &&
                          units[at + 1] >= 0xDC00 && units[at + 1] <= 0xDFFF;
        at += pair ? 2 : 1;
        out += '?';
    }
    return out;
}

// Each byte on its own through the conversion; lead bytes and bytes that
// convert to nothing keep their own value.
bool SingleBytes(uint32_t number, text::CodePage& cp) {
    Conversion conversion("UTF-16LE", CodePageName(number));
    if (!conversion.Open())
        return false;
    for (int b = 0; b < 256; ++b) {
        cp.wide[static_cast<size_t>(b)] = static_cast<char16_t>(b);
        if (cp.lead[static_cast<size_t>(b)])
            continue;
        const char byte = static_cast<char>(b);
        std::string units;
        conversion.Reset();
        if (conversion.Run(std::string_view(&byte, 1), units) == 1 && units.size() == 2)
            cp.wide[static_cast<size_t>(b)] = Utf16FromBytes(units)[0];
    }
    return true;
}

}  // namespace

std::optional<uint32_t> SystemCodePage() {
    return std::nullopt;
}

std::unique_ptr<text::CodePage> BuildCodePage(uint32_t number) {
    auto cp = std::make_unique<text::CodePage>();
    cp->number = number;
    if (!LeadBytes(number, cp->lead) || !SingleBytes(number, *cp))
        return nullptr;
    for (const bool lead : cp->lead)
        cp->doubleByte = cp->doubleByte || lead;
    FillCaseTables(*cp, [](char16_t u, bool upper) { return Fold(u, upper); });
    if (cp->doubleByte) {
        cp->toWideText = DoubleByteToWide;
        cp->fromWideText = DoubleByteFromWide;
    }
    return cp;
}

std::u16string LowerWide(std::u16string_view text) {
    std::u16string out(text);
    for (char16_t& u : out)
        u = Fold(u, false);
    return out;
}

std::u16string NameToWide(std::string_view name) {
    return text::IsUtf8(name) ? text::WideFromUtf8(name) : text::ToWide(name);
}

void PutCodePageInEnvironment(uint32_t number) {
    setenv(kCodePageVariable, std::to_string(number).c_str(), 1);
}

}  // namespace qb::platform
