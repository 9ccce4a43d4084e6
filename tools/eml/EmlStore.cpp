#include "tools/eml/EmlStore.h"

#include <time.h>

#include <cstdio>
#include <fstream>

namespace qb::tools::eml {

namespace fs = std::filesystem;

namespace {

std::string DateHoursAgo(int hours) {
    const time_t t = ::time(nullptr) - static_cast<time_t>(hours) * 3600;
    struct tm tm;
    ::gmtime_r(&t, &tm);
    char date[64];
    ::strftime(date, sizeof date, "%a, %d %b %Y %H:%M:%S +0000", &tm);
    return date;
}

}  // namespace

std::string Message(uint32_t n, const std::string& folder) {
    const std::string date = DateHoursAgo(48 + static_cast<int>(n % 100));
    const std::string id = std::to_string(n);
    std::string m;
    const int hops = n % 20 == 0 ? 60 : 3;
    for (int i = 0; i < hops; ++i) {
        m += "Received: from relay" + std::to_string(i) + ".example.net (relay" +
             std::to_string(i) + ".example.net [192.0.2." + std::to_string(i % 250) +
             "])\r\n\tby mx.example.com with ESMTP id " + id + "." + std::to_string(i) + "; " +
             date + "\r\n";
    }
    const bool sent = folder.find("Sent") != std::string::npos;
    m += "From: " +
         (sent ? std::string("\"Jo User\" <jo@home.example>")
               : "\"Sender " + id + "\" <sender" + std::to_string(n % 30000) + "@" +
                     folder.substr(0, 3) + ".example>") +
         "\r\n";
    m += "To: \"Jo User\" <jo@home.example>, a" + std::to_string(n % 5000) +
         "@to.example\r\nCc: =?utf-8?Q?B=C3=A9a?= <b" + std::to_string(n % 7000) +
         "@to.example>\r\n";
    m += "Subject: Benchmark message " + id + "\r\nDate: " + date + "\r\nMessage-ID: <" + id +
         ".bench@home.example>\r\nMIME-Version: 1.0\r\nContent-Type: text/plain; "
         "charset=\"iso-8859-1\"\r\nContent-Transfer-Encoding: 8bit\r\nX-Priority: 3\r\n\r\n";
    m += std::string(2000, static_cast<char>('a' + n % 26)) + "\r\n";
    return m;
}

std::vector<fs::path> WriteStore(const fs::path& root, const StoreShape& shape) {
    // The folders: each account's Inbox and Sent Items, the approve and block
    // folders, then ordinary folders up to the number asked for.
    std::vector<fs::path> folders;
    const fs::path local =
        shape.layout == Layout::kWindowsMail ? root / "Local Folders" : root / "Storage Folders";
    const uint32_t accounts = shape.layout == Layout::kWindowsMail ? 1 : shape.accounts;
    for (uint32_t a = 0; a < accounts && folders.size() + 2 < shape.folders; ++a) {
        const fs::path account = shape.layout == Layout::kWindowsMail
                                     ? local
                                     : root / ("Account " + std::to_string(a + 1));
        folders.push_back(account / "Inbox");
        folders.push_back(account / "Sent Items");
    }
    folders.push_back(local / shape.approveFolder);
    folders.push_back(local / shape.blockFolder);
    for (uint32_t f = 1; folders.size() < shape.folders; ++f)
        folders.push_back(local / ("Folder " + std::to_string(f)));

    const uint32_t perFolder = shape.messages / static_cast<uint32_t>(folders.size());
    uint32_t n = 0;
    for (size_t f = 0; f < folders.size(); ++f) {
        fs::create_directories(folders[f]);
        const uint32_t count =
            f + 1 == folders.size() ? shape.messages - n : perFolder;  // the rest in the last
        for (uint32_t i = 0; i < count; ++i, ++n) {
            char name[32];
            std::snprintf(name, sizeof name, "%08X.eml", n);
            std::ofstream out(folders[f] / name, std::ios::binary | std::ios::trunc);
            out << Message(n, folders[f].filename().string());
        }
    }
    return folders;
}

}  // namespace qb::tools::eml
