// The list-file format shared by every list file of the system: plain 8-bit
// text, one entry per line, no header. Written as each entry followed by
// CR LF; read with CR LF, a lone CR or a lone LF ending a line, spaces
// trimmed at both ends and blank lines dropped.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "common/Text.h"

namespace qb::lists {

// The title of the list classes' message boxes: the program's own name.
inline constexpr const char* kProgramTitle = "Gleanwick";

// Calls f(line) for every line of content, without its line end. CR LF, a
// lone CR and a lone LF each end a line; text after the last line end is a
// line of its own, an empty text has no lines.
template <typename F>
void ForEachLine(std::string_view content, F&& f) {
    size_t start = 0;
    const size_t n = content.size();
    while (start < n) {
        size_t end = start;
        while (end < n && content[end] != '\r' && content[end] != '\n')
            ++end;
        f(content.substr(start, end - start));
        if (end < n && content[end] == '\r' && end + 1 < n && content[end + 1] == '\n')
            ++end;
        start = end + 1;
    }
}

// Calls f(line) for every kept line of a list file's content, in file order:
// leading and trailing spaces removed, lines that are then empty skipped.
// Every other byte (NUL, 0x80-0xFF, tabs) stays as it is.
template <typename F>
void ForEachListLine(std::string_view content, F&& f) {
    ForEachLine(content, [&f](std::string_view line) {
        line = text::TrimBlanks(line);
        if (!line.empty())
            f(line);
    });
}

// The file content for the entries that forEach hands to its callback, in
// that order: sized first, then filled, so the whole content is one buffer
// for one write.
template <typename ForEach>
std::string ListFileContent(ForEach&& forEach) {
    size_t size = 0;
    forEach([&size](std::string_view e) { size += e.size() + 2; });
    std::string out;
    out.reserve(size);
    forEach([&out](std::string_view e) {
        out.append(e);
        out.append("\r\n", 2);
    });
    return out;
}

}  // namespace qb::lists
