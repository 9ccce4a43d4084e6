// windows.h as every Windows source of the project includes it: without the
// rarely used parts (WIN32_LEAN_AND_MEAN) and without the min and max macros
// (NOMINMAX), which would break std::min and std::max. Needs the system's
// headers alone, so the libraries that do not link the platform layer
// (quelladdr, the file replacement, the lead bytes) include it too.
#pragma once

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
