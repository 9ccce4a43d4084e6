// The growable text buffer CString, written once for both of its builds:
// the Strings library's class, which holds 16-bit code units, and the
// scanner's private copy, which holds the bytes of the system code page
// (so a loaded store file takes about its own size in memory). Traits give
// the character type, its conversion to and from the 8-bit code page, the
// case folding, and whether the build is the scanner's (trace and error
// lines, the scan limit and the memory test of loadBinary).
//
// Positions are 1-based and ranges inclusive; a search that finds nothing
// gives -1. Members taking a CString take a pointer, as a missing object is
// part of their contract.
//
// Capacity is the buffer size the class reports (getCapacity): 4096 at
// start, multiplied by 4 whenever an append would not fit, raised by
// setCapacity, reset by clearing. The characters themselves live in one
// contiguous store that grows geometrically with the content, so appends
// cost amortized constant time without the memory of two full-capacity
// buffers.
#pragma once

#include <charconv>
#include <cmath>
#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include "common/Report.h"
#include "common/RunError.h"
#include "platform/FileSystem.h"
#include "platform/Platform.h"
#include "platform/SystemInfo.h"
#include "strings/MInet.h"

namespace qb::strings {

// The scanner's test of whether a file of size bytes may be scanned, shared
// by its loadBinary and its store reader: at trace level 8 the line
// "filesize = <size>"; then, with a scan limit (limit > 0), a larger file is
// refused ("<path> larger than scan limit."); without one, a file is refused
// when the available physical memory is below memoryFactor times its size
// ("Insufficient physical memory available to scan <path>"). A refusal goes
// to the status list and the console log and answers false.
inline bool AdmitToScan(const std::string& path, int64_t size, int32_t limit, uint64_t available,
                        double memoryFactor) {
    if (report::Tracing())
        report::ConsoleLog("filesize = " + std::to_string(size));
    std::string refusal;
    if (limit > 0) {
        if (size > limit)
            refusal = path + " larger than scan limit.";
    } else {
        const double needed = static_cast<double>(size) / 1024 / 1024 * memoryFactor;
        const double free = static_cast<double>(available) / 1024 / 1024;
        if (free < needed)
            refusal = "Insufficient physical memory available to scan " + path;
    }
    if (refusal.empty())
        return true;
    report::StatusMessage(refusal);
    report::ConsoleLog(refusal);
    return false;
}

// Capacity after growing from capacity to hold newLength characters: times 4
// until newLength is below it. Beyond the 32-bit signed range: overflow.
inline int32_t GrownCapacity(int32_t capacity, int64_t newLength, const char* source) {
    int64_t c = capacity < 1 ? 1 : capacity;
    while (newLength >= c) {
        c *= 4;
        if (c > std::numeric_limits<int32_t>::max())
            throw OverflowError(source);
    }
    return static_cast<int32_t>(c);
}

// Text form of a floating-point number with up to digits significant digits:
// plain decimal where it fits, otherwise a mantissa and "E+nn" / "E-nn";
// trailing zeros dropped; the decimal separator is ".".
// Independent of the locale the host program may have set.
inline std::string FormatSignificant(double value, int digits) {
    if (value == 0)
        return "0";
    char buf[64];
    const auto result =
        std::to_chars(buf, buf + sizeof buf, value, std::chars_format::general, digits);
    std::string out(buf, result.ptr);
    for (char& c : out) {
        if (c == 'e')
            c = 'E';
    }
    return out;
}

template <class Self, class Traits>
class BasicCString {
  public:
    using Char = typename Traits::Char;
    using Text = std::basic_string<Char>;
    using TextView = std::basic_string_view<Char>;

    static constexpr int32_t DEFALT_SIZE = 4096;

    // Appends str to existing string-buffer.
    void append(TextView str) {
        if constexpr (Traits::kScanner) {
            if (report::Tracing())
                report::ConsoleLog("CString::append");
        }
        const int64_t newLength = static_cast<int64_t>(content_.size()) + str.size();
        if (newLength > std::numeric_limits<int32_t>::max())
            throw OverflowError("CString::append");
        int32_t capacity = capacity_;
        if (newLength > capacity)
            capacity = GrownCapacity(capacity, newLength, "CString::append");
        content_.append(str);
        capacity_ = capacity;
    }

    // Returns the character at the specified index. An index ranges from 1 to length().
    Text charAt(int32_t index) const {
        if (index < 1 || index > length())
            return Text();
        return Text(1, content_[index - 1]);
    }

    // The content in the 8-bit code page.
    std::vector<uint8_t> toCharArray() const {
        std::vector<uint8_t> out(content_.size());
        for (size_t i = 0; i < content_.size(); ++i)
            out[i] = static_cast<uint8_t>(Traits::ToByte(content_[i]));
        return out;
    }

    // The content with every oldChar (left to right, no overlap) replaced by newChar.
    Self replace(const Text& oldChar, const Text& newChar) const {
        Text out;
        if (oldChar.empty()) {
            out = content_;
        } else {
            size_t from = 0;
            for (size_t at; (at = content_.find(oldChar, from)) != Text::npos;
                 from = at + oldChar.size()) {
                out.append(content_, from, at - from);
                out.append(newChar);
            }
            out.append(content_, from, Text::npos);
        }
        return Make(std::move(out));
    }

    Self toLowerCase() const { return Make(Traits::Lower(content_)); }
    Self toUpperCase() const { return Make(Traits::Upper(content_)); }

    // The default text forms; the buffer's own content plays no part.
    static Self valueOfBool(bool b) { return Make(FromBytes(b ? "True" : "False")); }
    static Self valueOfLong(int32_t l) { return Make(FromBytes(std::to_string(l))); }
    static Self valueOfInt(int16_t i) { return Make(FromBytes(std::to_string(i))); }
    static Self valueOfDouble(double dbl) { return Make(FromBytes(FormatSignificant(dbl, 15))); }
    static Self valueOfSingle(float sng) { return Make(FromBytes(FormatSignificant(sng, 7))); }

    // The content without leading and trailing spaces (U+0020 only).
    Self trim() const {
        size_t b = 0, e = content_.size();
        while (b < e && content_[b] == Char(' '))
            ++b;
        while (e > b && content_[e - 1] == Char(' '))
            --e;
        return Make(content_.substr(b, e - b));
    }

    // Characters srcBegin..srcEnd (1-based, inclusive) as bytes of the code
    // page into dst. False, dst unchanged, on srcBegin < 1, srcEnd < srcBegin
    // or srcEnd > length; the scanner's build also writes the console line
    // "CString::getBytes Error <number> : <description>".
    bool getBytes(int32_t srcBegin, int32_t srcEnd, std::string& dst) const {
        return CopyBytes(srcBegin, srcEnd, dst);
    }
    bool getBytes(int32_t srcBegin, int32_t srcEnd, std::vector<uint8_t>& dst) const {
        return CopyBytes(srcBegin, srcEnd, dst);
    }

    bool equals(const Self* aCString) const {
        return aCString != nullptr && content_ == Base(*aCString).content_;
    }

    // Fill the buffer from a file, one character per byte; any failure leaves
    // it empty. Paths are Windows-style texts.
    void load(const Text& fileName) { LoadFile(fileName); }
    void loadBinary(const Text& fileName) {
        if constexpr (Traits::kScanner)
            ScannerLoadBinary(fileName);
        else
            LoadFile(fileName);
    }

    // Fills the buffer from ftp://[user:pwd@]host/fileName; empty on any failure.
    void loadFTP(const Text& host, const Text& user, const Text& pwd, const Text& fileName) {
        Reset();
        try {
            std::string url = "ftp://";
            if (!user.empty())
                url += ToBytes(user) + ":" + ToBytes(pwd) + "@";
            url += ToBytes(host);
            AppendBytes(MInet::GetUrlText(MInet::JoinUrl(url, ToBytes(fileName))));
        } catch (...) {
            Reset();
        }
    }

    // Uploads the content to fileName (from the server's root) on the FTP
    // server host; an empty user logs in anonymously. True when the server
    // took the whole content.
    bool saveFTP(const Text& host, const Text& user, const Text& pwd, const Text& fileName) const {
        try {
            std::string u = ToBytes(user), p = ToBytes(pwd);
            if (u.empty()) {
                u = MInet::kAnonymousUser;
                p = MInet::kAnonymousPassword;
            }
            std::string path = ToBytes(fileName);
            if (path.empty() || path[0] != '/')
                path.insert(path.begin(), '/');
            return MInet::FtpPutText(ToBytes(host), u, p, path, static_cast<const Self&>(*this));
        } catch (...) {
            return false;
        }
    }

    // Fills the buffer from http://host/fileName; empty on any failure.
    void loadHTTP(const Text& host, const Text& fileName) {
        Reset();
        try {
            AppendBytes(
                MInet::GetUrlText(MInet::JoinUrl("http://" + ToBytes(host), ToBytes(fileName))));
        } catch (...) {
            Reset();
        }
    }

    // Writes the content as bytes of the code page to fileName, replacing
    // the whole file (a shorter content leaves no old bytes behind). True
    // when every byte was written.
    bool save(const Text& fileName) const {
        const std::string bytes = ToBytes(content_);
        return platform::Files().ReplaceFile(ToBytes(fileName), bytes);
    }

    bool equalsIgnoreCase(const Self* aCString) const {
        return aCString != nullptr && equalsIgnoreCaseVB(Base(*aCString).content_);
    }
    bool equalsVB(TextView aString) const { return TextView(content_) == aString; }
    bool equalsIgnoreCaseVB(TextView aString) const {
        return aString.size() == content_.size() &&
               Traits::Upper(content_) == Traits::Upper(aString);
    }

    // -1, 0 or 1, by code unit values; -1 for a missing object.
    int32_t compareTo(const Self* aCString) const {
        if (aCString == nullptr)
            return -1;
        const int c = TextView(content_).compare(Base(*aCString).content_);
        return c < 0 ? -1 : (c > 0 ? 1 : 0);
    }
    int32_t compareToIgnoreCase(const Self* aCString) const {
        if (aCString == nullptr)
            return -1;
        const int c = Base(toLowerCase()).content_.compare(Base(aCString->toLowerCase()).content_);
        return c < 0 ? -1 : (c > 0 ? 1 : 0);
    }

    // Whether compareLength characters from toffset equal those of
    // otherString from ooffset. Raises "NullPointer Exeption" for a missing
    // object and "Index out of bounds" for a region outside either text (a
    // negative length counts as outside).
    bool regionMatches(bool ignoreCase, int32_t toffset, const Self* otherString, int32_t ooffset,
                       int32_t compareLength) const {
        if (otherString == nullptr)
            throw RunError(err::kCollection, "CString::regionMatches()", "NullPointer Exeption");
        const Text& other = Base(*otherString).content_;
        const int64_t n = compareLength;
        if (toffset < 1 || ooffset < 1 || n < 0 ||
            toffset + n - 1 > static_cast<int64_t>(content_.size()) ||
            ooffset + n - 1 > static_cast<int64_t>(other.size()))
            throw RunError(err::kCollection, "CString::regionMatches()", "Index out of bounds");
        // Whole texts are folded: where a character begins depends on all
        // that comes before it in a double-byte code page.
        const Text a = ignoreCase ? Traits::Lower(content_) : Text();
        const Text b = ignoreCase ? Traits::Lower(other) : Text();
        return TextView(ignoreCase ? a : content_)
                   .substr(static_cast<size_t>(toffset - 1), static_cast<size_t>(n)) ==
               TextView(ignoreCase ? b : other)
                   .substr(static_cast<size_t>(ooffset - 1), static_cast<size_t>(n));
    }

    // Characters beginIndex..endIndex (cut at the end of the content), or
    // from beginIndex to the end without endIndex; empty when beginIndex < 1
    // or endIndex < beginIndex. endIndex is rounded to a whole number.
    Text subStringVB(int32_t beginIndex, std::optional<double> endIndex = std::nullopt) const {
        if (beginIndex < 1 || beginIndex > length())
            return Text();
        int64_t end = length();
        if (endIndex) {
            const double e = std::nearbyint(*endIndex);
            if (!(e >= beginIndex))
                return Text();
            if (e < end)
                end = static_cast<int64_t>(e);
        }
        return content_.substr(beginIndex - 1, end - beginIndex + 1);
    }
    Self subString(int32_t beginIndex, std::optional<double> endIndex = std::nullopt) const {
        return Make(subStringVB(beginIndex, endIndex));
    }

    bool startsWith(const Self* prefix) const {
        return prefix != nullptr && startsWithVB(Base(*prefix).content_);
    }
    bool endsWith(const Self* suffix) const {
        return suffix != nullptr && endsWithVB(Base(*suffix).content_);
    }
    bool startsWithVB(TextView prefix) const { return TextView(content_).starts_with(prefix); }
    bool endsWithVB(TextView suffix) const { return TextView(content_).ends_with(suffix); }

    // Position of the first / last occurrence, -1 when there is none. An
    // empty text is found at the first / last position of a non-empty content.
    int32_t indexOf(const Self* subString) const {
        return subString == nullptr ? -1 : indexOfVB(Base(*subString).content_);
    }
    int32_t lastIndexOf(const Self* subString) const {
        return subString == nullptr ? -1 : lastIndexOfVB(Base(*subString).content_);
    }
    int32_t indexOfVB(TextView subString) const {
        if (content_.empty())
            return -1;
        const size_t at = TextView(content_).find(subString);
        return at == TextView::npos ? -1 : static_cast<int32_t>(at + 1);
    }
    int32_t lastIndexOfVB(TextView subString) const {
        if (content_.empty())
            return -1;
        if (subString.empty())
            return length();
        const size_t at = TextView(content_).rfind(subString);
        return at == TextView::npos ? -1 : static_cast<int32_t>(at + 1);
    }

    // Sum of code(c_i) * 31^(n-i) in double precision, code being the
    // character's byte in the code page. Raises overflow when a power, a
    // term or the sum leaves the double range (from 207 characters on).
    double hashCode() const {
        const size_t n = content_.size();
        double h = 0;
        for (size_t i = 0; i < n; ++i) {
            const double power = std::pow(31.0, static_cast<double>(n - 1 - i));
            const double term = static_cast<unsigned char>(Traits::ToByte(content_[i])) * power;
            h += term;
            if (std::isinf(power) || std::isinf(term) || std::isinf(h))
                throw OverflowError("CString::hashCode");
        }
        return h;
    }

    Text toString() const { return content_; }
    int32_t length() const { return static_cast<int32_t>(content_.size()); }
    // Returns the current maximum buffer-size.
    int32_t getCapacity() const { return capacity_; }
    // Sets the maximum buffer-size to newSize (never shrinks).
    void setCapacity(int32_t newSize) {
        if (newSize > capacity_)
            capacity_ = newSize;
    }

    // Read-only view of the content, for callers that cut many ranges
    // without copying them (the store reader).
    TextView View() const { return content_; }

    // Text <-> bytes of the 8-bit code page, one byte per character.
    static std::string ToBytes(TextView text) {
        std::string out(text.size(), '\0');
        for (size_t i = 0; i < text.size(); ++i)
            out[i] = Traits::ToByte(text[i]);
        return out;
    }
    static Text FromBytes(std::string_view bytes) {
        Text out(bytes.size(), Char());
        for (size_t i = 0; i < bytes.size(); ++i)
            out[i] = Traits::FromByte(bytes[i]);
        return out;
    }

  protected:
    BasicCString() = default;

    // Back to the start state: capacity 4096, no content, memory returned.
    void Reset() {
        Text().swap(content_);
        capacity_ = DEFALT_SIZE;
    }

  private:
    static const BasicCString& Base(const Self& s) { return s; }
    static BasicCString& Base(Self& s) { return s; }

    static Self Make(TextView text) {
        Self out;
        Base(out).PutContent(Text(text));
        return out;
    }
    static Self Make(Text&& text) {
        Self out;
        Base(out).PutContent(std::move(text));
        return out;
    }

    // Content set on a cleared object, with the capacity appending it would give.
    void PutContent(Text&& text) {
        capacity_ =
            text.size() > static_cast<size_t>(DEFALT_SIZE)
                ? GrownCapacity(DEFALT_SIZE, static_cast<int64_t>(text.size()), "CString::append")
                : DEFALT_SIZE;
        content_ = std::move(text);
    }

    void AppendBytes(std::string_view bytes) {
        if constexpr (std::is_same_v<Char, char>)
            append(bytes);
        else
            append(FromBytes(bytes));
    }

    template <class Bytes>
    bool CopyBytes(int32_t srcBegin, int32_t srcEnd, Bytes& dst) const {
        try {
            if (srcBegin < 1 || srcEnd < srcBegin || srcEnd > length())
                throw RunError(err::kCollection, "CString::getBytes()", "Index out of bounds");
            const size_t from = static_cast<size_t>(srcBegin - 1);
            const size_t n = static_cast<size_t>(srcEnd) - from;
            if constexpr (std::is_same_v<Char, char> && std::is_same_v<Bytes, std::string>) {
                dst.assign(content_, from, n);
            } else {
                Bytes out(n, 0);
                for (size_t i = 0; i < n; ++i)
                    out[i] =
                        static_cast<typename Bytes::value_type>(Traits::ToByte(content_[from + i]));
                dst.swap(out);
            }
            return true;
        } catch (...) {
            if constexpr (Traits::kScanner) {
                const ErrorInfo info = DescribeCurrentException();
                report::ConsoleLog("CString::getBytes Error " + std::to_string(info.number) +
                                   " : " + info.description);
            }
            return false;
        }
    }

    // load and the library's loadBinary: the whole file, one character per byte.
    void LoadFile(const Text& fileName) {
        Reset();
        try {
            std::string bytes;
            if (!platform::Files().ReadFile(ToBytes(fileName), bytes))
                return;
            if constexpr (std::is_same_v<Char, char>) {
                GrownCapacity(DEFALT_SIZE, static_cast<int64_t>(bytes.size()), "CString::append");
                AppendOwned(std::move(bytes));
            } else {
                AppendBytes(bytes);
            }
        } catch (...) {
            Reset();
        }
    }

    // append of a text the buffer may take over when it is empty.
    void AppendOwned(Text&& text) {
        if (!content_.empty()) {
            append(text);
            return;
        }
        if constexpr (Traits::kScanner) {
            if (report::Tracing())
                report::ConsoleLog("CString::append");
        }
        PutContent(std::move(text));
    }

    // The scanner's loadBinary: the folder-name test, the scan limit or the
    // free-memory test, trace lines, and its own error line.
    void ScannerLoadBinary(const Text& fileName) {
        Reset();
        try {
            const uint64_t available = platform::System().AvailablePhysicalMemory();
            if (!fileName.empty() && fileName.back() == '\\')
                return;
            const std::string path = ToBytes(fileName);
            const int64_t size = FileLength(path);
            if (!AdmitToScan(path, size, Traits::ScanLimit(), available, 8))
                return;
            // A file too long for the buffer fails before it is read.
            if (size > std::numeric_limits<int32_t>::max())
                throw OverflowError("CString::append");
            GrownCapacity(DEFALT_SIZE, size, "CString::append");
            std::string bytes;
            if (!platform::Files().ReadFile(path, bytes))
                throw ReadFailure(path);
            if (static_cast<int64_t>(bytes.size()) < size)
                throw RunError(kInputPastEnd, "CString::loadBinary", "Input past end of file");
            bytes.resize(static_cast<size_t>(size));
            if (report::Tracing())
                report::ConsoleLog("Get file_handle");
            if constexpr (std::is_same_v<Char, char>)
                AppendOwned(std::move(bytes));
            else
                AppendBytes(bytes);
            if (report::Tracing())
                report::ConsoleLog("End of loadBinary.  No Exceptions");
        } catch (...) {
            report::ConsoleLog(ErrorLine("loadBinary", DescribeCurrentException()));
            Reset();
        }
    }

    static constexpr int32_t kInputPastEnd = 62;

    // Size of the file at path; a missing file or a folder is an error.
    static int64_t FileLength(const std::string& path) {
        const int64_t size = platform::Files().FileSize(path);
        if (size < 0)
            throw ReadFailure(path);
        return size;
    }
    static RunError ReadFailure(const std::string& path) {
        if (platform::Files().Kind(path) == platform::PathKind::kMissing)
            return RunError(err::kFileNotFound, "CString::loadBinary", "File not found");
        return RunError(err::kPathFileAccess, "CString::loadBinary", "Path/File access error");
    }

    Text content_;
    int32_t capacity_ = DEFALT_SIZE;
};

}  // namespace qb::strings
