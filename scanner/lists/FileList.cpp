#include "scanner/lists/FileList.h"

#include "common/Report.h"
#include "common/Text.h"
#include "platform/FileSystem.h"
#include "platform/Platform.h"
#include "platform/UserInterface.h"
#include "scanner/lists/ListFile.h"

namespace qb::lists {

FileList::FileList() {
    entries_.Clear();
    entries_.SetSortMode(1);
}

void FileList::Load() {
    entries_.Clear();
    unreadable_ = false;
    platform::FileSystem& fs = platform::Files();
    if (!platform::IsOrdinaryFile(fs, fileLocation_))
        return;
    std::string content;
    if (!fs.ReadFile(fileLocation_, content)) {
        // The file is there but its entries are not known: writing it would
        // put this run's entries in place of the user's. It stays as it is.
        unreadable_ = true;
        ReportLoadError({err::kPermissionDenied, "FileList", "Permission denied"});
        report::ConsoleLog("Unable to read " + fileLocation_ +
                           "; it is left unchanged in this run.");
        return;
    }
    // A line the list refuses (no number in a numeric list) is reported once
    // and costs that line only: the lines after it are still read.
    bool reported = false;
    ForEachListLine(content, [this, &reported](std::string_view line) {
        try {
            entries_.Add(line, 0);
        } catch (...) {
            if (!reported)
                ReportLoadError(DescribeCurrentException());
            reported = true;
        }
    });
}

void FileList::Save(std::string& path) {
    if (text::TrimBlanks(path).empty()) {
        path = fileLocation_;
        WriteTo(fileLocation_, platform::Durability::kSynced);
    } else {
        WriteTo(path, platform::Durability::kSynced);
    }
}

std::string FileList::Content() {
    return ListFileContent([this](auto&& f) { entries_.ForEachKey(std::forward<decltype(f)>(f)); });
}

void FileList::WriteTo(const std::string& path, platform::Durability durability) {
    if (unreadable_ && path == fileLocation_)
        return;
    if (!platform::Files().ReplaceFile(path, Content(), durability))
        throw RunError(err::kPathFileAccess, "FileList", "Path/File access error");
}

void FileList::ReportLoadError(const ErrorInfo& info) {
    platform::ShowMessage(std::to_string(info.number) + ":" + info.description, "LoadList Error",
                          platform::mb::kOk);
}

}  // namespace qb::lists
