// The scanner's build of the class and its scan limit.
#include "strings/ScannerCString.h"

namespace qb::scanner {

namespace {
int32_t gLimit = 0;
}

void SetScanLimit(int32_t bytes) {
    gLimit = bytes;
}

int32_t ScanLimit() {
    return gLimit;
}

}  // namespace qb::scanner

template class qb::strings::BasicCString<qb::scanner::CString, qb::scanner::ScannerStringTraits>;
