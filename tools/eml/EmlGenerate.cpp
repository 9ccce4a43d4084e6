// Writes a generated Windows Live Mail or Windows Mail store.
// Usage: eml_generate wlm|wmail DIR [MESSAGES [FOLDERS]]
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "tools/eml/EmlStore.h"

int main(int argc, char** argv) {
    const std::string kind = argc > 1 ? argv[1] : "";
    if (argc < 3 || (kind != "wlm" && kind != "wmail")) {
        std::fprintf(stderr, "usage: eml_generate wlm|wmail DIR [MESSAGES [FOLDERS]]\n");
        return 2;
    }
    qb::tools::eml::StoreShape shape;
    shape.layout = kind == "wlm" ? qb::tools::eml::Layout::kWindowsLiveMail
                                 : qb::tools::eml::Layout::kWindowsMail;
    if (argc > 3)
        shape.messages = static_cast<uint32_t>(std::strtoul(argv[3], nullptr, 10));
    if (argc > 4)
        shape.folders = static_cast<uint32_t>(std::max(4ul, std::strtoul(argv[4], nullptr, 10)));
    const auto folders = qb::tools::eml::WriteStore(argv[2], shape);
    std::printf("%u messages in %zu folders under %s\n", shape.messages, folders.size(), argv[2]);
    return 0;
}
