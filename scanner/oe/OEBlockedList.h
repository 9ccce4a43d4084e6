// OEBlockedList: the blocked-senders list Outlook Express keeps for one
// identity in the registry, one subkey per sender below
// Identities\<id>\Software\Microsoft\Outlook Express\5.0\Block Senders\Mail\Criteria,
// each with the entry in its value "Value". The entries are kept sorted
// without regard to case, duplicates included.
#pragma once

#include <cstdint>
#include <string>
#include <variant>
#include <vector>

#include "scanner/lists/SortedList.h"

namespace qb::oe {

class OEBlockedList {
  public:
    OEBlockedList();

    void Identity(const std::string& id) { identity_ = id; }

    // Adds every entry of the registry to those already held (a second load
    // holds each entry twice). A subkey without "Value" adds empty text.
    void Load();

    // The entries in sorted order (element 0 is the first); empty when none.
    std::vector<std::string> Entries();
    int32_t Count() const { return entries_.Count(); }

  private:
    lists::SortedList<std::monostate> entries_;
    std::string identity_;
};

}  // namespace qb::oe
