#include "scanner/lists/AddressList.h"

#include "common/Text.h"
#include "platform/FileSystem.h"
#include "platform/Platform.h"
#include "platform/UserInterface.h"
#include "scanner/lists/ListFile.h"

namespace qb::lists {

void AddressList::SetFileLocation(std::string path) {
    lines_.SetFileLocation(path);
    fileLocation_ = std::move(path);
}

void AddressList::Add(std::string_view address) {
    if (lines_.Exists(address)) {
        platform::ShowMessage("Entry is already on the list", kProgramTitle, platform::mb::kOk);
        return;
    }
    lines_.Add(address);
    WriteChange();
}

void AddressList::Remove(std::string_view address) {
    if (!lines_.Exists(address))
        return;
    lines_.Remove(address);
    WriteChange();
}

void AddressList::WriteChange() {
    if (phase_ && phase_->BeforeUnsyncedWrite())
        lines_.SaveAtomicOnly();
    else
        lines_.Save();
}

void AddressList::Save(std::string_view path) {
    std::string target(path);
    lines_.Save(target);
}

void AddressList::Import(const std::string& path) {
    platform::FileSystem& fs = platform::Files();
    if (platform::IsOrdinaryFile(fs, path)) {
        std::string content;
        if (!fs.ReadFile(path, content))
            throw RunError(err::kPermissionDenied, "AddressList", "Permission denied");
        ForEachListLine(content, [this](std::string_view line) {
            const std::string entry = text::Lower(line);
            if (!lines_.Exists(entry))
                lines_.Add(entry);
        });
    }
    Save();
}

}  // namespace qb::lists
