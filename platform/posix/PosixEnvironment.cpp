#include "platform/posix/PosixEnvironment.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <optional>

#include "common/Text.h"
#include "platform/Platform.h"

extern char** environ;

namespace qb::platform {

std::string PosixEnvironment::Expand(const std::string& text) {
    return ExpandReferences(text, [](std::string_view name) -> std::optional<std::string> {
        for (char** e = environ; e && *e; ++e) {
            const std::string_view entry(*e);
            const size_t eq = entry.find('=');
            if (eq != std::string_view::npos && text::EqualNoCase(entry.substr(0, eq), name))
                return std::string(entry.substr(eq + 1));
        }
        return std::nullopt;
    });
}

std::vector<std::string> PosixEnvironment::Entries() {
    std::vector<std::string> out;
    for (char** e = environ; e && *e; ++e)
        out.emplace_back(*e);
    return out;
}

std::string PosixEnvironment::UserName() {
    if (const char* name = std::getenv("USERNAME"); name && *name)
        return name;
    if (const passwd* pw = ::getpwuid(::geteuid()); pw && pw->pw_name)
        return pw->pw_name;
    return "";
}

Environment& DefaultEnvironment() {
    static PosixEnvironment environment;
    return environment;
}

}  // namespace qb::platform
