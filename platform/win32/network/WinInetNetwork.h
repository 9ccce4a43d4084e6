// The HTTP and FTP client over WinINet. Every call opens its own session
// (agent given by the caller, the system's preconfigured proxy settings,
// passive FTP) and closes it before it returns. WinINet's own time-outs
// apply. Downloads always come from the origin server (INTERNET_FLAG_RELOAD).
#pragma once

#include <cstdint>
#include <string>

#include "platform/Network.h"

namespace qb::platform {

class WinInetNetwork final : public Network {
  public:
    // The error number of a download the HTTP server answered with status
    // 400 or more: this base plus the status. The bit 0x20000000 marks it as
    // the program's own number, apart from every system and WinINet error.
    static constexpr int32_t kHttpStatusBase = 0x20000000;

    int32_t Download(const std::string& url, const std::string& agent, std::string& body) override;
    int32_t FtpUpload(const std::string& host, const std::string& user, const std::string& password,
                      const std::string& path, const std::string& agent,
                      const std::function<std::string_view()>& next) override;
    // WinINet's own message for its numbers (FormatMessageA over wininet.dll),
    // the system's message for other system numbers; for
    // ERROR_INTERNET_EXTENDED_ERROR also the server's last response.
    std::string ErrorText(int32_t number) override;
};

}  // namespace qb::platform
