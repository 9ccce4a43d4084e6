// The error path that each driver procedure arms on entry: an error ends the
// procedure after its console line "Name() Error <number> : <description>",
// and the caller goes on with its next step.
#pragma once

#include <memory>

#include "common/RunError.h"
#include "scanner/driver/Driver.h"

namespace qb::driver {

// Runs body; on any error writes procedure's error line and returns false.
template <class Body>
bool Guarded(const char* procedure, Body&& body) {
    try {
        body();
        return true;
    } catch (...) {
        ConsoleLog(ErrorLine(procedure, DescribeCurrentException()));
        return false;
    }
}

// The object a global holds; a global that set-up could not create is the
// run-time error for an unset object, which ends the procedure that needs it.
template <class T>
T& Need(const std::unique_ptr<T>& global) {
    if (!global)
        throw RunError(91, "Gleanwick", "Object variable or With block variable not set");
    return *global;
}

// Trace lines are written at level 8 or more.
inline bool Tracing() {
    return gVerboseLevel >= 8;
}

}  // namespace qb::driver
