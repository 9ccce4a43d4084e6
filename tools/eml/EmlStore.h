// Generated Windows Live Mail and Windows Mail stores: folders of .eml
// messages as the programs lay them out, for the benchmark, the fuzz
// target's seeds and trying the scanner by hand.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace qb::tools::eml {

enum class Layout { kWindowsLiveMail, kWindowsMail };

struct StoreShape {
    Layout layout = Layout::kWindowsLiveMail;
    uint32_t messages = 1000;  // in all, spread evenly over the folders
    uint32_t folders = 20;     // at least 4: Inbox, Sent Items, approve, block
    uint32_t accounts = 4;     // Windows Live Mail: accounts with an Inbox and Sent Items each
    std::string approveFolder = "Approve";
    std::string blockFolder = "Block";
};

// One message: headers as the programs save them (a few Received lines,
// every 20th message a long chain past 4 KB), a text body.
std::string Message(uint32_t n, const std::string& folder);

// Writes the store below root; returns the mail folders' paths.
std::vector<std::filesystem::path> WriteStore(const std::filesystem::path& root,
                                              const StoreShape& shape);

}  // namespace qb::tools::eml
