// Writes sample Outlook Express stores.
//   dbx_generate messages FILE COUNT MEGABYTES [together]
//                                                a message file of COUNT messages with bodies;
//                                                "together" keeps the records after the bodies
//   dbx_generate store FOLDER [NAME...]          Folders.dbx and its message files,
//                                                with extra folders NAME...
//   dbx_generate seeds FOLDER                    the fuzz target's seed files
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "tools/oe/StoreSample.h"

int main(int argc, char** argv) {
    const std::string mode = argc > 1 ? argv[1] : "";
    try {
        if (mode == "messages" &&
            (argc == 5 || (argc == 6 && std::string(argv[5]) == "together"))) {
            qb::tools::WriteMessageStore(argv[2], std::atoi(argv[3]),
                                         std::atoll(argv[4]) * 1024 * 1024,
                                         argc == 6 ? qb::tools::RecordLayout::Together
                                                   : qb::tools::RecordLayout::AmongBodies);
            return 0;
        }
        if (mode == "store" && argc >= 3) {
            const std::vector<std::string> extra(argv + 3, argv + argc);
            std::printf("%d files\n", qb::tools::WriteSampleStore(argv[2], extra));
            return 0;
        }
        if (mode == "seeds" && argc == 3) {
            std::printf("%d seed files\n", qb::tools::WriteFuzzSeeds(argv[2]));
            return 0;
        }
    } catch (const std::exception& e) {
        std::fprintf(stderr, "dbx_generate: %s\n", e.what());
        return 1;
    }
    std::fprintf(stderr,
                 "usage: dbx_generate messages FILE COUNT MEGABYTES [together]\n"
                 "       dbx_generate store FOLDER [NAME...]\n"
                 "       dbx_generate seeds FOLDER\n");
    return 2;
}
