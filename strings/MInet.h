// The network procedures of the string class: fetch a URL, upload a text
// to an FTP server, and compose a diagnostic for a client error. They speak
// through the platform's network client; text crosses as bytes of the code
// page.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/Network.h"
#include "platform/Platform.h"

namespace qb::strings::MInet {

inline constexpr char kAgent[] = "Kestrane CString-Class";
inline constexpr int32_t kUploadChunk = 16384;  // characters per write of FtpPutText
inline constexpr char kAnonymousUser[] = "ftp";
inline constexpr char kAnonymousPassword[] = "guest@localhost";

// The diagnostic of the last failed upload, empty after a good one. Kept for
// callers that want to show why saveFTP gave false.
inline std::string& LastDiagnostic() {
    static std::string text;
    return text;
}

// prefix (scheme and host) and fileName joined by exactly one "/": one
// trailing "/" of the prefix and one leading "/" of the file name are dropped.
inline std::string JoinUrl(std::string prefix, std::string_view fileName) {
    if (!prefix.empty() && prefix.back() == '/')
        prefix.pop_back();
    if (!fileName.empty() && fileName.front() == '/')
        fileName.remove_prefix(1);
    prefix += '/';
    prefix += fileName;
    return prefix;
}

// "<functionName> error code: <number> Message: <client's text>".
inline std::string InetErrorText(int32_t number, const std::string& functionName) {
    return functionName + " error code: " + std::to_string(number) +
           " Message: " + platform::Net().ErrorText(number);
}

// The body at url as bytes; empty on any failure.
inline std::string GetUrlText(const std::string& url) {
    std::string body;
    if (platform::Net().Download(url, kAgent, body) != 0)
        body.clear();
    return body;
}

// Uploads source's content to fileName on host in chunks of kUploadChunk
// characters (the last one shorter). True when the server took it all;
// otherwise false, with the reason in LastDiagnostic().
template <class CStringType>
bool FtpPutText(const std::string& host, const std::string& user, const std::string& password,
                const std::string& fileName, const CStringType& source) {
    const int32_t n = source.length();
    int32_t next = 1;
    std::string chunk;
    const auto nextChunk = [&]() -> std::string_view {
        if (next > n)
            return {};
        const int32_t last = n - next + 1 > kUploadChunk ? next + kUploadChunk - 1 : n;
        chunk = CStringType::ToBytes(source.subStringVB(next, last));
        next = last + 1;
        return chunk;
    };
    const int32_t rc = platform::Net().FtpUpload(host, user, password, fileName, kAgent, nextChunk);
    LastDiagnostic() = rc == 0 ? std::string() : InetErrorText(rc, "InternetWriteFile");
    return rc == 0;
}

}  // namespace qb::strings::MInet
