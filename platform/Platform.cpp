#include "platform/Platform.h"

#include "common/Report.h"
#include "platform/UserInterface.h"

namespace qb::platform {

Services& Current() {
    static Services current;
    return current;
}

namespace {
template <class T>
void Take(T*& field, T* replacement) {
    if (replacement)
        field = replacement;
}
}  // namespace

ScopedServices::ScopedServices(const Services& r) : saved_(Current()) {
    Services& now = Current();
    Take(now.files, r.files);
    Take(now.ui, r.ui);
    Take(now.registry, r.registry);
    Take(now.environment, r.environment);
    Take(now.system, r.system);
    Take(now.network, r.network);
    Take(now.libraries, r.libraries);
    Take(now.clock, r.clock);
    Take(now.instance, r.instance);
    Take(now.status, r.status);
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
