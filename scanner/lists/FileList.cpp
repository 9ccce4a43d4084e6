#include "scanner/lists/FileList.h"

#include "common/Text.h"
#include "platform/FileSystem.h"
#include "platform/Platform.h"
#include "platform/UserInterface.h"
#include "scanner/lists/ListFile.h"

namespace qb::lists {

std::string ListFileContent(const std::vector<std::string>& entries) {
    size_t size = 0;
    for (const std::string& e : entries)
        size += e.size() + 2;
    std::string out;
    out.reserve(size);
    for (const std::string& e : entries) {
        out += e;
        out += "\r\n";
    }
    return out;
}

FileList::FileList() {
    entries_.Clear();
    entries_.SetSortMode(1);
}

void FileList::Load() {
    entries_.Clear();
    platform::FileSystem& fs = platform::Files();
    if (!platform::IsOrdinaryFile(fs, fileLocation_))
        return;
    try {
        std::string content;
        if (!fs.ReadFile(fileLocation_, content))
            throw RunError(err::kPermissionDenied, "FileList", "Permission denied");
        ForEachListLine(content, [this](std::string_view line) { entries_.Add(line, 0); });
    } catch (...) {
        const ErrorInfo info = DescribeCurrentException();
        platform::ShowMessage(std::to_string(info.number) + ":" + info.description,
                              "LoadList Error", platform::mb::kOk);
    }
}

void FileList::Save(std::string& path) {
    if (text::TrimBlanks(path).empty()) {
        path = fileLocation_;
        WriteTo(fileLocation_);
    } else {
        WriteTo(path);
    }
}

void FileList::WriteTo(const std::string& path) {
    const std::string content = ListFileContent(entries_.keys());
    if (!platform::Files().ReplaceFile(path, content))
        throw RunError(err::kPathFileAccess, "FileList", "Path/File access error");
}

}  // namespace qb::lists
