#include "platform/portable/RegFile.h"

#include <cstdio>
#include <vector>

namespace qb::platform {

namespace {

constexpr std::string_view kHeader4 = "REGEDIT4";
constexpr std::string_view kHeader5 = "Windows Registry Editor Version 5.00";

template <class C>
bool IsBlank(C c) {
    return c == C(' ') || c == C('\t');
}

template <class C>
std::basic_string_view<C> TrimLeft(std::basic_string_view<C> s) {
    size_t i = 0;
    while (i < s.size() && IsBlank(s[i]))
        ++i;
    return s.substr(i);
}

template <class C>
std::basic_string_view<C> TrimRight(std::basic_string_view<C> s) {
    size_t n = s.size();
    while (n > 0 && IsBlank(s[n - 1]))
        --n;
    return s.substr(0, n);
}

// ASCII text compared with code units of either width, letters without regard to case.
template <class C>
bool StartsNoCase(std::basic_string_view<C> s, std::string_view ascii) {
    if (s.size() < ascii.size())
        return false;
    for (size_t i = 0; i < ascii.size(); ++i) {
        C c = s[i];
        if (c >= C('A') && c <= C('Z'))
            c = static_cast<C>(c + 32);
        char a = ascii[i];
        if (a >= 'A' && a <= 'Z')
            a = static_cast<char>(a + 32);
        if (c != C(static_cast<unsigned char>(a)))
            return false;
    }
    return true;
}

template <class C>
bool Equals(std::basic_string_view<C> s, std::string_view ascii) {
    if (s.size() != ascii.size())
        return false;
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] != C(static_cast<unsigned char>(ascii[i])))
            return false;
    }
    return true;
}

template <class C>
int HexDigit(C c) {
    if (c >= C('0') && c <= C('9'))
        return static_cast<int>(c - C('0'));
    if (c >= C('a') && c <= C('f'))
        return static_cast<int>(c - C('a')) + 10;
    if (c >= C('A') && c <= C('F'))
        return static_cast<int>(c - C('A')) + 10;
    return -1;
}

// A name as stored, from the file's code units.
RegName MakeName(std::string_view s) {
    return RegName{std::string(s), {}};
}
RegName MakeName(std::u16string_view s) {
    return regtext::NameFromWide(s);
}

// String data as stored, with its terminating NUL.
void AppendStringData(std::string& out, std::string_view s) {
    out.append(s);
    out += '\0';
}
void AppendStringData(std::string& out, std::u16string_view s) {
    out.reserve(out.size() + 2 * s.size() + 2);
    for (char16_t u : s) {
        out += static_cast<char>(u & 0xFF);
        out += static_cast<char>(u >> 8);
    }
    out += '\0';
    out += '\0';
}

template <class C>
class Parser {
  public:
    using View = std::basic_string_view<C>;

    Parser(View text, RegTree& tree, RegFileError& error)
        : text_(text), tree_(tree), error_(error) {}

    bool Run() {
        View line;
        if (!NextLine(line))
            return Fail(
                "the file is empty; a registry file begins with \"REGEDIT4\" or "
                "\"Windows Registry Editor Version 5.00\"");
        line = TrimRight(line);
        if (Equals(line, kHeader4)) {
            tree_.version5 = false;
        } else if (Equals(line, kHeader5)) {
            tree_.version5 = true;
        } else {
            return Fail(
                "the first line is neither \"REGEDIT4\" nor "
                "\"Windows Registry Editor Version 5.00\"");
        }
        while (NextLine(line)) {
            line = TrimRight(TrimLeft(line));
            if (line.empty() || line[0] == C(';'))
                continue;
            // Several exports joined into one file ("copy /b a.reg+b.reg",
            // "cat"): each part begins with its own header line, in a UTF-16
            // file after that part's byte-order mark. The parts are read as
            // one; a value line right after a header belongs to no key.
            if (IsHeader(line)) {
                current_ = nullptr;
                continue;
            }
            if (line[0] == C('[')) {
                if (!KeyLine(line))
                    return false;
            } else if (line[0] == C('"') || line[0] == C('@')) {
                if (!ValueLine(line))
                    return false;
            } else {
                return Fail("a line that is neither a key, a value nor a comment");
            }
        }
        return ok_;
    }

  private:
    static bool IsHeader(View line) {
        if constexpr (sizeof(C) == 2) {
            if (!line.empty() && line[0] == u'\uFEFF')
                line.remove_prefix(1);
        }
        return Equals(line, kHeader4) || Equals(line, kHeader5);
    }

    // The next line without its line end; false at the end of the text.
    bool NextLine(View& line) {
        if (pos_ >= text_.size())
            return false;
        ++lineNo_;
        size_t end = text_.find(C('\n'), pos_);
        if (end == View::npos)
            end = text_.size();
        line = text_.substr(pos_, end - pos_);
        pos_ = end + 1;
        if (!line.empty() && line.back() == C('\r'))
            line.remove_suffix(1);
        if (line.find(C('\0')) != View::npos) {
            if constexpr (sizeof(C) == 1)
                return Fail(
                    "a NUL character in an 8-bit file (UTF-16 text: a \"Version 5.00\" "
                    "export joined to a REGEDIT4 one, or one without its byte-order mark?)");
            else
                return Fail("a NUL character in the text");
        }
        return true;
    }

    bool Fail(std::string message) {
        if (ok_) {
            error_.line = lineNo_ == 0 ? 1 : lineNo_;
            error_.message = std::move(message);
            ok_ = false;
        }
        return false;
    }

    bool KeyLine(View line) {
        const size_t close = line.rfind(C(']'));
        if (close == View::npos || close + 1 != line.size())
            return Fail("a key line without its closing \"]\"");
        View path = line.substr(1, close - 1);
        bool remove = false;
        if (!path.empty() && path[0] == C('-')) {
            remove = true;
            path.remove_prefix(1);
        }
        // Split at "\": the first part names the root.
        std::vector<View> parts;
        size_t start = 0;
        for (;;) {
            const size_t slash = path.find(C('\\'), start);
            const View part = path.substr(start, slash - start);
            if (part.empty())
                return Fail("a key path with an empty name in it");
            parts.push_back(part);
            if (slash == View::npos)
                break;
            start = slash + 1;
        }
        if (parts.size() - 1 > kMaxKeyDepth)
            return Fail("a key path more than " + std::to_string(kMaxKeyDepth) + " keys deep");
        RegNode* node = nullptr;
        for (size_t i = 0; i < kRegHives.size(); ++i) {
            const std::string_view hive = kRegHives[i].name;
            if (parts[0].size() == hive.size() && StartsNoCase(parts[0], hive))
                node = &tree_.hives[i];
        }
        if (!node)
            return Fail(
                "a key below an unknown root (HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE, "
                "HKEY_CLASSES_ROOT, HKEY_USERS or HKEY_CURRENT_CONFIG expected)");
        if (remove) {
            if (parts.size() == 1)
                return Fail("a root key cannot be deleted");
            current_ = nullptr;
            for (size_t i = 1; i + 1 < parts.size() && node; ++i)
                node = node->Child(MakeName(parts[i]).LookupKey());
            if (node && node->children.erase(MakeName(parts.back()).LookupKey()) > 0)
                node->listed = true;  // the parent stays a key of its own
            return true;
        }
        for (size_t i = 1; i < parts.size(); ++i)
            node = &node->AddChild(MakeName(parts[i]));
        node->listed = true;
        current_ = node;
        return true;
    }

    // Reads a quoted text starting at line[at] (the opening quote); at moves
    // past the closing quote.
    bool Quoted(View line, size_t& at, std::basic_string<C>& out) {
        out.clear();
        size_t i = at + 1;
        while (i < line.size()) {
            const C c = line[i];
            if (c == C('"')) {
                at = i + 1;
                return true;
            }
            if (c == C('\\') && i + 1 < line.size() &&
                (line[i + 1] == C('\\') || line[i + 1] == C('"'))) {
                out += line[i + 1];
                i += 2;
                continue;
            }
            out += c;
            ++i;
        }
        return Fail("a quoted text without its closing quote");
    }

    bool ValueLine(View line) {
        if (!current_)
            return Fail("a value line outside a key");
        std::basic_string<C> nameText;
        size_t at = 0;
        if (line[0] == C('@')) {
            at = 1;
        } else if (!Quoted(line, at, nameText)) {
            return false;
        }
        View rest = TrimLeft(line.substr(at));
        if (rest.empty() || rest[0] != C('='))
            return Fail("a value name without \"=\" after it");
        rest = TrimLeft(rest.substr(1));
        RegValueEntry value;
        value.name = MakeName(View(nameText));
        if (rest.size() == 1 && rest[0] == C('-')) {
            current_->EraseValue(value.name.LookupKey());
            return true;
        }
        if (!rest.empty() && rest[0] == C('"')) {
            std::basic_string<C> data;
            size_t end = 0;
            if (!Quoted(rest, end, data))
                return false;
            if (end != rest.size())
                return Fail("text after the closing quote of a value");
            value.type = reg::kSz;
            AppendStringData(value.data, View(data));
        } else if (StartsNoCase(rest, "dword:")) {
            const View digits = rest.substr(6);
            if (digits.empty() || digits.size() > 8)
                return Fail("a dword value needs one to eight hexadecimal digits");
            uint32_t n = 0;
            for (C c : digits) {
                const int d = HexDigit(c);
                if (d < 0)
                    return Fail("a dword value needs one to eight hexadecimal digits");
                n = n << 4 | static_cast<uint32_t>(d);
            }
            value.type = reg::kDword;
            for (int i = 0; i < 4; ++i)
                value.data += static_cast<char>(n >> (8 * i) & 0xFF);
        } else if (StartsNoCase(rest, "hex")) {
            if (!HexValue(rest.substr(3), value))
                return false;
        } else {
            return Fail("a value that is neither quoted text, dword: nor hex:");
        }
        current_->PutValue(std::move(value));
        return true;
    }

    // "hex:" or "hex(N):" followed by bytes, continued over lines ending in "\".
    bool HexValue(View rest, RegValueEntry& value) {
        value.type = reg::kBinary;
        if (!rest.empty() && rest[0] == C('(')) {
            const size_t close = rest.find(C(')'));
            if (close == View::npos || close == 1 || close > 9)
                return Fail("a hex(N) type needs one to eight hexadecimal digits");
            uint32_t type = 0;
            for (size_t i = 1; i < close; ++i) {
                const int d = HexDigit(rest[i]);
                if (d < 0)
                    return Fail("a hex(N) type needs one to eight hexadecimal digits");
                type = type << 4 | static_cast<uint32_t>(d);
            }
            value.type = type;
            rest = rest.substr(close + 1);
        }
        if (rest.empty() || rest[0] != C(':'))
            return Fail("\":\" missing after hex");
        rest = rest.substr(1);
        for (;;) {
            rest = TrimRight(rest);
            const bool more = !rest.empty() && rest.back() == C('\\');
            if (more)
                rest.remove_suffix(1);
            if (!HexBytes(rest, value.data, more))
                return false;
            if (!more)
                return true;
            View next;
            if (!NextLine(next)) {
                return ok_ ? Fail("the file ends inside a hex list continued with \"\\\"") : false;
            }
            rest = TrimLeft(next);
        }
    }

    // Comma-separated pairs of hex digits. A part continued on the next line
    // ends with a comma; an empty part adds nothing.
    bool HexBytes(View s, std::string& out, bool continued) {
        s = TrimLeft(TrimRight(s));
        if (s.empty())
            return true;
        if (continued && s.back() == C(','))
            s.remove_suffix(1);
        size_t start = 0;
        for (;;) {
            const size_t comma = s.find(C(','), start);
            const View token = TrimLeft(TrimRight(s.substr(start, comma - start)));
            if (token.empty())
                return Fail(comma == View::npos ? "a hex list ends with a comma"
                                                : "a hex list with an empty entry");
            const int hi = HexDigit(token[0]);
            const int lo = token.size() == 2 ? HexDigit(token[1]) : -1;
            if (hi < 0 || lo < 0)
                return Fail("a hex list needs pairs of hexadecimal digits separated by commas");
            out += static_cast<char>(hi << 4 | lo);
            if (comma == View::npos)
                return true;
            start = comma + 1;
        }
    }

    View text_;
    size_t pos_ = 0;
    size_t lineNo_ = 0;
    bool ok_ = true;
    RegTree& tree_;
    RegFileError& error_;
    RegNode* current_ = nullptr;
};

// Output in the file's code units.
template <class C>
class Writer {
  public:
    explicit Writer(const RegTree& tree) : tree_(tree) {}

    std::basic_string<C> Run() {
        Ascii(tree_.version5 ? kHeader5 : kHeader4);
        Ascii("\r\n");
        for (size_t i = 0; i < kRegHives.size(); ++i)
            Key(tree_.hives[i], kRegHives[i].name);
        return std::move(out_);
    }

  private:
    void Ascii(std::string_view s) {
        for (char c : s)
            out_ += C(static_cast<unsigned char>(c));
    }

    // A stored name in the file's code units.
    void Name(const RegName& name, bool escape) {
        if constexpr (sizeof(C) == 2) {
            if (name.Lossy()) {
                for (char16_t u : name.wide) {
                    if (escape && (u == u'\\' || u == u'"'))
                        out_ += C('\\');
                    out_ += u;
                }
                return;
            }
        }
        for (char c : name.ansi) {
            if (escape && (c == '\\' || c == '"'))
                out_ += C('\\');
            if constexpr (sizeof(C) == 2)
                out_ += text::AnsiToWide(c);
            else
                out_ += c;
        }
    }

    void Key(const RegNode& node, const std::string& path) {
        if (node.listed || !node.Values().empty()) {
            Ascii("\r\n[");
            PathText(node, path);
            Ascii("]\r\n");
            for (const RegValueEntry& v : node.Values())
                Value(v);
        }
        for (const auto& [lookup, child] : node.children) {
            stack_.push_back(child.get());
            Key(*child, path);
            stack_.pop_back();
        }
    }

    void PathText(const RegNode&, const std::string& root) {
        Ascii(root);
        for (const RegNode* n : stack_) {
            out_ += C('\\');
            Name(n->name, false);
        }
    }

    // The code units of string data when it can be written as "text": one
    // terminating NUL and no other, no line break.
    bool AsQuotedText(const std::string& data, std::basic_string<C>& units) {
        units.clear();
        if constexpr (sizeof(C) == 1) {
            if (data.empty() || data.back() != '\0')
                return false;
            units.assign(data, 0, data.size() - 1);
        } else {
            if (data.size() < 2 || data.size() % 2 != 0)
                return false;
            for (size_t i = 0; i < data.size(); i += 2)
                units += static_cast<char16_t>(static_cast<unsigned char>(data[i]) |
                                               static_cast<unsigned char>(data[i + 1]) << 8);
            if (units.back() != 0)
                return false;
            units.pop_back();
        }
        for (C c : units) {
            if (c == C('\0') || c == C('\r') || c == C('\n'))
                return false;
        }
        return true;
    }

    void Value(const RegValueEntry& v) {
        lineStart_ = out_.size();
        if (v.name.ansi.empty() && !v.name.Lossy()) {
            out_ += C('@');
        } else {
            out_ += C('"');
            Name(v.name, true);
            out_ += C('"');
        }
        out_ += C('=');
        std::basic_string<C> units;
        if (v.type == reg::kSz && AsQuotedText(v.data, units)) {
            out_ += C('"');
            for (C c : units) {
                if (c == C('\\') || c == C('"'))
                    out_ += C('\\');
                out_ += c;
            }
            out_ += C('"');
        } else if (v.type == reg::kDword && v.data.size() == 4) {
            uint32_t n = 0;
            for (int i = 3; i >= 0; --i)
                n = n << 8 | static_cast<unsigned char>(v.data[static_cast<size_t>(i)]);
            char buf[16];
            std::snprintf(buf, sizeof buf, "dword:%08x", n);
            Ascii(buf);
        } else {
            char buf[24];
            if (v.type == reg::kBinary)
                std::snprintf(buf, sizeof buf, "hex:");
            else
                std::snprintf(buf, sizeof buf, "hex(%x):", v.type);
            Ascii(buf);
            Hex(v.data, out_.size() - lineStart_);
        }
        Ascii("\r\n");
    }

    // Bytes as "xx," pairs, continued on a new line before the line grows
    // past 80 columns, as regedit writes them.
    void Hex(const std::string& data, size_t column) {
        static constexpr char kDigits[] = "0123456789abcdef";
        for (size_t i = 0; i < data.size(); ++i) {
            const unsigned char b = static_cast<unsigned char>(data[i]);
            out_ += C(kDigits[b >> 4]);
            out_ += C(kDigits[b & 0xF]);
            column += 2;
            if (i + 1 < data.size()) {
                out_ += C(',');
                ++column;
                if (column > 75) {
                    Ascii("\\\r\n  ");
                    column = 2;
                }
            }
        }
    }

    const RegTree& tree_;
    std::basic_string<C> out_;
    std::vector<const RegNode*> stack_;
    size_t lineStart_ = 0;
};

}  // namespace

bool ParseRegFile(std::string_view bytes, RegTree& tree, RegFileError& error) {
    tree.Clear();
    error = RegFileError{};
    bool ok;
    if (bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0xFF &&
        static_cast<unsigned char>(bytes[1]) == 0xFE) {
        tree.wide = true;
        if (bytes.size() % 2 != 0) {
            size_t lines = 1;
            for (size_t i = 2; i + 1 < bytes.size(); i += 2) {
                if (bytes[i] == '\n' && bytes[i + 1] == '\0')
                    ++lines;
            }
            error = {lines, "UTF-16 text with an odd number of bytes (the file is truncated)"};
            ok = false;
        } else {
            std::u16string units((bytes.size() - 2) / 2, u'\0');
            for (size_t i = 0; i < units.size(); ++i)
                units[i] = static_cast<char16_t>(static_cast<unsigned char>(bytes[2 + 2 * i]) |
                                                 static_cast<unsigned char>(bytes[3 + 2 * i]) << 8);
            ok = Parser<char16_t>(units, tree, error).Run();
        }
    } else if (bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0xFE &&
               static_cast<unsigned char>(bytes[1]) == 0xFF) {
        error = {1, "UTF-16 big-endian text, which registry files never are"};
        ok = false;
    } else if (bytes.size() >= 3 && static_cast<unsigned char>(bytes[0]) == 0xEF &&
               static_cast<unsigned char>(bytes[1]) == 0xBB &&
               static_cast<unsigned char>(bytes[2]) == 0xBF) {
        error = {1,
                 "UTF-8 text, which registry files never are (REGEDIT4 files are in the "
                 "8-bit code page, version 5.00 files in UTF-16)"};
        ok = false;
    } else {
        tree.wide = false;
        ok = Parser<char>(bytes, tree, error).Run();
    }
    if (!ok) {
        tree.Clear();
        tree.wide = false;
        tree.version5 = false;
    }
    return ok;
}

std::string WriteRegFile(const RegTree& tree) {
    if (!tree.wide)
        return Writer<char>(tree).Run();
    const std::u16string units = Writer<char16_t>(tree).Run();
    std::string bytes;
    bytes.resize(2 + 2 * units.size());
    bytes[0] = static_cast<char>(0xFF);
    bytes[1] = static_cast<char>(0xFE);
    for (size_t i = 0; i < units.size(); ++i) {
        bytes[2 + 2 * i] = static_cast<char>(units[i] & 0xFF);
        bytes[3 + 2 * i] = static_cast<char>(units[i] >> 8);
    }
    return bytes;
}

}  // namespace qb::platform
