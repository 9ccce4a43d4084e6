// The ordered, keyed collection of folder records that CDbx exposes as
// Folders. The reader keys each folder "F_" followed by its Id.
#pragma once

#include "scanner/oe/CFolder.h"
#include "scanner/oe/Collection.h"

namespace qb::oe {

class CFolders : public RecordCollection<CFolder> {
  public:
    CFolders() : RecordCollection("CFolders::Remove()") {}
};

}  // namespace qb::oe
