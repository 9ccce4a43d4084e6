// Fuzz target of the .reg reader: any input either fails with a line and a
// reason, or reads into a tree that writes out and reads back the same, and
// writes out the same bytes again.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "platform/portable/RegFile.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace qb::platform;
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    RegTree tree;
    RegFileError error;
    if (!ParseRegFile(input, tree, error)) {
        if (error.line == 0 || error.message.empty())
            std::abort();
        return 0;
    }
    const std::string written = WriteRegFile(tree);
    RegTree again;
    if (!ParseRegFile(written, again, error))
        std::abort();
    if (!SameTree(tree, again))
        std::abort();
    if (WriteRegFile(again) != written)
        std::abort();
    return 0;
}
