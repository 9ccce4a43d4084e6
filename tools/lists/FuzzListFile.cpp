// Fuzz target for the list-file loader: FileList (text or numeric mode, by
// the first input byte) and AddressList::Import read arbitrary bytes. Checks
// that what was loaded is written back and reads back the same.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/Platform.h"
#include "platform/memory/MemoryFileSystem.h"
#include "platform/memory/RecordingUserInterface.h"
#include "scanner/lists/AddressList.h"
#include "scanner/lists/FileList.h"

namespace {

void Check(bool ok) {
    if (!ok)
        __builtin_trap();
}

std::vector<std::string> Sorted(std::vector<std::string> v) {
    std::sort(v.begin(), v.end());
    return v;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0)
        return 0;
    using namespace qb;
    platform::MemoryFileSystem fs;
    platform::RecordingUserInterface ui;
    platform::ScopedServices scope({.files = &fs, .ui = &ui});
    const bool numeric = data[0] & 1;
    const std::string content(reinterpret_cast<const char*>(data) + 1, size - 1);
    fs.PutFile("C:\\conf\\list", content);

    lists::FileList list;
    list.SetFileLocation("C:\\conf\\list");
    if (numeric)
        list.SetSortMode(0);
    list.Load();
    const std::vector<std::string> items = list.Items();
    Check(static_cast<int32_t>(items.size()) == list.Count());
    for (const std::string& item : items) {
        Check(!item.empty() && item.front() != ' ' && item.back() != ' ');
        Check(item.find_first_of("\r\n") == std::string::npos);
        Check(list.Exists(item));
    }
    const size_t boxes = ui.boxes.size();
    Check(boxes <= 1);

    list.Save();
    lists::FileList again;
    again.SetFileLocation("C:\\conf\\list");
    if (numeric)
        again.SetSortMode(0);
    again.Load();
    Check(ui.boxes.size() == boxes);  // what was written reads back without complaint
    Check(Sorted(again.Items()) == Sorted(items));

    // Import of the same bytes into an address list.
    fs.PutFile("C:\\import", content);
    lists::AddressList addresses;
    addresses.SetFileLocation("C:\\conf\\addresses");
    addresses.Import("C:\\import");
    Check(fs.Has("C:\\conf\\addresses"));
    for (const std::string& item : addresses.Items())
        Check(addresses.Exists(item));
    return 0;
}
