// HTTP and FTP client. Every call is one complete operation: it connects,
// transfers and closes before it returns; nothing stays open between calls.
// Text crosses the network as bytes, unchanged.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace qb::platform {

class Network {
  public:
    virtual ~Network() = default;

    // Downloads url ("http://host[:port]/path" or
    // "ftp://[user:password@]host[:port]/path") from the origin server,
    // never from a cache, announcing agent as the user agent. Returns 0 with
    // the whole body in body; otherwise the client's error number (see
    // ErrorText) with body empty. Fails on a malformed URL or another scheme,
    // a connection not made within the connect timeout, a transfer that
    // stalls, an HTTP status of 400 or more, or an FTP login or file failure.
    virtual int32_t Download(const std::string& url, const std::string& agent,
                             std::string& body) = 0;

    // Uploads to path (taken as given, "/" being the login's root) on the FTP
    // server host ("name" or "name:port"; port 21 by default), logged in as
    // user with password, in passive mode with the ASCII transfer type,
    // creating or replacing the file. The content is pulled from next, chunk
    // by chunk, until next gives an empty chunk; each chunk is sent as it
    // comes. Returns 0 when the server confirmed the whole transfer,
    // otherwise the client's error number. Never creates folders.
    virtual int32_t FtpUpload(const std::string& host, const std::string& user,
                              const std::string& password, const std::string& path,
                              const std::string& agent,
                              const std::function<std::string_view()>& next) = 0;

    // One line describing an error number returned above.
    virtual std::string ErrorText(int32_t number) = 0;
};

}  // namespace qb::platform
