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
    BeforeChange(true);
    lines_.Add(address);
    AfterChange();
}

void AddressList::Remove(std::string_view address) {
    if (!lines_.Exists(address))
        return;
    BeforeChange(false);
    lines_.Remove(address);
    AfterChange();
}

void AddressList::BeforeChange(bool addition) {
    if (phase_)
        phase_->BeforeChange(addition);
}

void AddressList::AfterChange() {
    if (phase_)
        phase_->AfterChange(*this);
    else
        lines_.Save();
}

void AddressList::Write(platform::Durability durability) {
    if (durability == platform::Durability::kSynced)
        lines_.Save();
    else
        lines_.SaveAtomicOnly();
}

void AddressList::Save(std::string_view path) {
    std::string target(path);
    if (phase_ && text::TrimBlanks(target).empty())
        phase_->Save(*this);
    else
        lines_.Save(target);
}

void AddressList::Import(const std::string& path) {
    platform::FileSystem& fs = platform::Files();
    std::string content;
    if (platform::IsOrdinaryFile(fs, path) && !fs.ReadFile(path, content))
        throw RunError(err::kPermissionDenied, "AddressList", "Permission denied");
    BeforeChange(true);
    ForEachListLine(content, [this](std::string_view line) {
        const std::string entry = text::Lower(line);
        if (!lines_.Exists(entry))
            lines_.Add(entry);
    });
    if (phase_)
        phase_->AfterChange(*this);
    Save();
}

}  // namespace qb::lists
