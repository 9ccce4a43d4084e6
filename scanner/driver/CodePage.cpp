// The code page of the run's 8-bit text, settled before any product file is
// read: the lists' order and every fold depend on it.
#include <string>

#include "common/Text.h"
#include "platform/CodePage.h"
#include "platform/Platform.h"
#include "platform/Registry.h"
#include "scanner/driver/Driver.h"

namespace qb::driver {

uint32_t SettleCodePage() {
    const uint32_t wanted = platform::WantedCodePage(platform::Reg()).value_or(1252);
    const uint32_t before = text::Active().number;
    if (!platform::UseCodePage(wanted))
        ConsoleLog("Code page " + std::to_string(wanted) +
                   " is not supported here; the text is read as Windows-1252.");
    if (text::Active().number != before)
        platform::Reg().CodePageChanged();
    return text::Active().number;
}

}  // namespace qb::driver
