// The process environment as the system sees it: expansion of %NAME%
// references, the environment's entries, the operating-system family and the
// name of the user running the program.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qb::platform {

class Environment {
  public:
    virtual ~Environment() = default;

    // Replaces every %NAME% reference to a defined variable (names compared
    // without regard to case) by its value; a reference to an undefined
    // variable stays as written, "%" signs included. The result has whatever
    // length the expansion takes: it is never cut short.
    virtual std::string Expand(const std::string& text) = 0;

    // The environment's entries, "NAME=value", in the order the system
    // keeps them.
    virtual std::vector<std::string> Entries() = 0;

    // Whether the system is of the Windows NT family (its registry checks the
    // access rights a key is opened with).
    virtual bool NtFamily() = 0;

    // The name of the user running the program; empty when unknown.
    virtual std::string UserName() = 0;
};

// The expansion rule of Environment::Expand over any lookup: lookup answers
// the value of a defined variable, nothing for an undefined one. After an
// undefined reference the closing "%" may open the next reference, as the
// system's own expansion does ("%NO%PATH%" keeps "%NO" and expands "%PATH%").
template <class Lookup>
std::string ExpandReferences(std::string_view text, Lookup&& lookup) {
    std::string out;
    out.reserve(text.size());
    size_t i = 0;
    while (i < text.size()) {
        const size_t open = text.find('%', i);
        if (open == std::string_view::npos) {
            out.append(text.substr(i));
            break;
        }
        out.append(text.substr(i, open - i));
        const size_t close = text.find('%', open + 1);
        if (close == std::string_view::npos) {
            out.append(text.substr(open));
            break;
        }
        const std::string_view name = text.substr(open + 1, close - open - 1);
        const std::optional<std::string> value = name.empty() ? std::nullopt : lookup(name);
        if (value) {
            out.append(*value);
            i = close + 1;
        } else {
            out.append(text.substr(open, close - open));
            i = close;
        }
    }
    return out;
}

}  // namespace qb::platform
