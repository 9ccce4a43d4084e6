// What the posix and win32 builders of code page tables share (CodePage.cpp).
#pragma once

#include <cstdint>

#include "common/Text.h"

namespace qb::platform {

// Fills the case tables of cp from its wide and lead tables: a byte that is
// a character of its own folds to the byte whose character is fold(its
// character); ASCII folds A-Z only; a lead byte, a byte whose fold the code
// page lacks and every other byte map to themselves. Then finishes cp.
void FillCaseTables(text::CodePage& cp, char16_t (*fold)(char16_t unit, bool upper));

// Tells the libraries of the process the code page in force (posix: the
// environment variable kCodePageVariable; Windows: nothing, they ask GetACP).
void PutCodePageInEnvironment(uint32_t number);

}  // namespace qb::platform
