// The Strings library's build of the class.
#include "strings/CString.h"

template class qb::strings::BasicCString<qb::strings::CString, qb::strings::LibraryTraits>;
