#include "platform/Platform.h"

#include "common/Report.h"

namespace qb::platform {

Services& Current() {
    static Services current = Default();
    return current;
}

ScopedServices::ScopedServices(const Services& replacement) : saved_(Current()) {
    Services& now = Current();
    if (replacement.files)
        now.files = replacement.files;
    if (replacement.ui)
        now.ui = replacement.ui;
}

ScopedServices::~ScopedServices() {
    Current() = saved_;
}

int ShowMessage(const std::string& text, const std::string& title, unsigned style) {
    if (Ui().Interactive())
        return Ui().MessageBox(text, title, style);
    report::ConsoleLog(text);
    const unsigned buttons = style & 0xF;
    return buttons == mb::kYesNo ? mb::kIdYes : mb::kIdOk;
}

}  // namespace qb::platform
