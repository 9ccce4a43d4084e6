// The ordered, keyed collection of message records that CDbx exposes as
// EMails. The reader keys each message "M_" followed by its Id.
#pragma once

#include "scanner/oe/CEmail.h"
#include "scanner/oe/Collection.h"

namespace qb::oe {

class CEmails : public RecordCollection<CEmail> {
  public:
    CEmails() : RecordCollection("CEmails::Remove()") {}
};

}  // namespace qb::oe
