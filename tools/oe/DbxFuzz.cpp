// libFuzzer target: any bytes as a .dbx file through openFile, with and
// without bodies, at trace level 8 so every logging path runs too; then the
// bodies again from the file cut short, as another program may leave it
// between openFile and getBody.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include "common/Report.h"
#include "scanner/oe/CDbx.h"

namespace {

// The file each input is written to, removed when the fuzzer ends.
struct InputFile {
    std::string path;
    InputFile() {
        const char* dir = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
        path = std::string(dir) + "/dbx_fuzz_" + std::to_string(getpid()) + ".dbx";
    }
    ~InputFile() { std::remove(path.c_str()); }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const InputFile input;
    const std::string& path = input.path;
    static const bool hooked = [] {
        qb::report::Install(
            {[](const std::string&) {}, [](const std::string&) {}, [] { return 8; }});
        return true;
    }();
    (void)hooked;
    auto write = [](const uint8_t* bytes, size_t n) {
        FILE* f = std::fopen(input.path.c_str(), "wb");
        if (!f)
            return false;
        std::fwrite(bytes, 1, n, f);
        std::fclose(f);
        return true;
    };
    if (!write(data, size))
        return 0;

    qb::oe::CDbx plain;
    plain.openFile(path, false);
    // getBody by hand too, for the first few messages (each call may read up
    // to the file's size).
    int bodies_read = 0;
    for (const auto& m : plain.EMails()) {
        if (++bodies_read > 8)
            break;
        (void)plain.getBody(m->DataOffset());
    }
    qb::oe::CDbx bodies;
    bodies.openFile(path, true);
    bodies.openFile(path, true);  // a second open on the same object adds to it

    // The first few bodies once more, from the file cut to half its length.
    if (write(data, size / 2)) {
        bodies_read = 0;
        for (const auto& m : plain.EMails()) {
            if (++bodies_read > 8)
                break;
            (void)plain.getBody(m->DataOffset());
        }
    }
    return 0;
}
