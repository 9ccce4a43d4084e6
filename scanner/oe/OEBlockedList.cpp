#include "scanner/oe/OEBlockedList.h"

#include <algorithm>

#include "platform/Registry.h"
#include "scanner/config/RegOp.h"

namespace qb::oe {

OEBlockedList::OEBlockedList() {
    entries_.SetSortMode(1);
}

void OEBlockedList::Load() {
    const std::string criteria = "Identities\\" + identity_ +
                                 "\\Software\\Microsoft\\Outlook Express\\5.0\\Block "
                                 "Senders\\Mail\\Criteria";
    config::RegOp keys;
    keys.root(platform::reg::kCurrentUser);
    keys.key(criteria);
    const std::vector<std::string> names = keys.AllKeys();
    const size_t count = std::min(names.size(), static_cast<size_t>(std::max(keys.KeyCount(), 0)));
    config::RegOp entry;
    entry.root(platform::reg::kCurrentUser);
    for (size_t i = 0; i < count; ++i) {
        entry.key(criteria + "\\" + names[i]);
        entries_.Add(config::ToText(entry.Value("Value")), std::monostate{});
    }
}

std::vector<std::string> OEBlockedList::Entries() {
    return entries_.keys();
}

}  // namespace qb::oe
