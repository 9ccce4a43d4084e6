// The HTTP and FTP client over libcurl. Unlike the Windows client's long
// defaults, a connection that is not made within the connect timeout and a
// transfer that moves no byte for the stall timeout both fail, so a dead
// host never blocks a caller for long.
#pragma once

#include <cstdint>
#include <string>

#include "platform/Network.h"

namespace qb::platform {

struct NetworkTimeouts {
    long connectSeconds = 20;  // to set up the connection (and each FTP data connection)
    long stallSeconds = 60;    // without a single byte moving, in either direction
};

class CurlNetwork final : public Network {
  public:
    explicit CurlNetwork(NetworkTimeouts timeouts = {});

    int32_t Download(const std::string& url, const std::string& agent, std::string& body) override;
    int32_t FtpUpload(const std::string& host, const std::string& user, const std::string& password,
                      const std::string& path, const std::string& agent,
                      const std::function<std::string_view()>& next) override;
    std::string ErrorText(int32_t number) override;

  private:
    NetworkTimeouts timeouts_;
};

}  // namespace qb::platform
