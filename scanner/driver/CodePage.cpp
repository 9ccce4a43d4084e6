// The code page of the run's 8-bit text, settled before any product file is
// read: the lists' order and every fold depend on it.
#include <optional>
#include <string>

#include "common/Text.h"
#include "platform/CodePage.h"
#include "platform/Environment.h"
#include "platform/Platform.h"
#include "platform/Registry.h"
#include "scanner/driver/Driver.h"

namespace qb::driver {

namespace {

// A code page number as text: decimal digits, blanks around them allowed.
std::optional<uint32_t> Number(std::string_view text) {
    text = text::TrimBlanks(text.substr(0, text.find('\0')));
    if (text.empty() || text.size() > 5)
        return std::nullopt;
    uint32_t number = 0;
    for (const char c : text) {
        if (c < '0' || c > '9')
            return std::nullopt;
        number = number * 10 + static_cast<uint32_t>(c - '0');
    }
    return number == 0 ? std::nullopt : std::optional<uint32_t>(number);
}

// The value ACP of the key kCodePageKey under HKEY_LOCAL_MACHINE, where
// Windows keeps its ANSI code page (a "reg export" of the key carries it).
std::optional<uint32_t> RegistryCodePage() {
    platform::Registry& reg = platform::Reg();
    platform::Registry::Key key = 0;
    if (reg.OpenKey(platform::reg::kLocalMachine, kCodePageKey, platform::reg::kKeyRead, key) !=
        platform::reg::kOk)
        return std::nullopt;
    uint32_t type = 0;
    std::string data;
    std::optional<uint32_t> number;
    if (reg.QueryValue(key, "ACP", type, data) == platform::reg::kOk &&
        (type == platform::reg::kSz || type == platform::reg::kExpandSz))
        number = Number(data);
    reg.CloseKey(key);
    return number;
}

std::optional<uint32_t> EnvironmentCodePage() {
    const std::string reference = std::string("%") + platform::kCodePageVariable + "%";
    const std::string value = platform::Env().Expand(reference);
    return value == reference ? std::nullopt : Number(value);
}

}  // namespace

uint32_t SettleCodePage() {
    std::optional<uint32_t> number = platform::SystemCodePage();
    if (!number)
        number = RegistryCodePage();
    if (!number)
        number = EnvironmentCodePage();
    const uint32_t wanted = number.value_or(1252);
    const uint32_t before = text::Active().number;
    if (!platform::UseCodePage(wanted))
        ConsoleLog("Code page " + std::to_string(wanted) +
                   " is not supported here; the text is read as Windows-1252.");
    if (text::Active().number != before)
        platform::Reg().CodePageChanged();
    return text::Active().number;
}

}  // namespace qb::driver
