#include "platform/win32/network/WinInetNetwork.h"

#include <cstring>
#include <string_view>

#include "platform/Platform.h"
#include "platform/win32/WinApi.h"

// After windows.h (WinApi.h).
#include <wininet.h>

namespace qb::platform {

namespace {

constexpr DWORD kReadBuffer = 2048;

// Closes a WinINet handle when it goes out of scope.
class InetHandle {
  public:
    explicit InetHandle(HINTERNET h = nullptr) : h_(h) {}
    ~InetHandle() { Close(); }
    InetHandle(const InetHandle&) = delete;
    InetHandle& operator=(const InetHandle&) = delete;
    HINTERNET Get() const { return h_; }
    explicit operator bool() const { return h_ != nullptr; }
    // Closes now; false when closing failed (for an FTP file: the server did
    // not confirm the transfer).
    bool Close() {
        if (!h_)
            return true;
        const BOOL ok = ::InternetCloseHandle(h_);
        h_ = nullptr;
        return ok != FALSE;
    }

  private:
    HINTERNET h_;
};

int32_t LastError() {
    const DWORD e = ::GetLastError();
    return e == 0 ? static_cast<int32_t>(ERROR_INTERNET_INTERNAL_ERROR) : static_cast<int32_t>(e);
}

HINTERNET OpenSession(const std::string& agent) {
    return ::InternetOpenA(agent.c_str(), INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr,
                           INTERNET_FLAG_EXISTING_CONNECT | INTERNET_FLAG_PASSIVE);
}

bool StartsWithNoCase(const std::string& text, std::string_view prefix) {
    if (text.size() < prefix.size())
        return false;
    for (size_t i = 0; i < prefix.size(); ++i) {
        char c = text[i];
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
        if (c != prefix[i])
            return false;
    }
    return true;
}

}  // namespace

int32_t WinInetNetwork::Download(const std::string& url, const std::string& agent,
                                 std::string& body) {
    body.clear();
    const bool http = StartsWithNoCase(url, "http://");
    if (!http && !StartsWithNoCase(url, "ftp://"))
        return ERROR_INTERNET_UNRECOGNIZED_SCHEME;
    InetHandle session(OpenSession(agent));
    if (!session)
        return LastError();
    InetHandle request(
        ::InternetOpenUrlA(session.Get(), url.c_str(), nullptr, 0, INTERNET_FLAG_RELOAD, 0));
    if (!request)
        return LastError();
    if (http) {
        // An error page is no content.
        DWORD status = 0;
        DWORD size = sizeof status;
        if (::HttpQueryInfoA(request.Get(), HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER,
                             &status, &size, nullptr) &&
            status >= 400)
            return kHttpStatusBase + static_cast<int32_t>(status);
    }
    char buffer[kReadBuffer];
    for (;;) {
        DWORD got = 0;
        if (!::InternetReadFile(request.Get(), buffer, kReadBuffer, &got)) {
            const int32_t rc = LastError();
            body.clear();
            return rc;
        }
        if (got == 0)
            break;
        body.append(buffer, got);
    }
    return 0;
}

int32_t WinInetNetwork::FtpUpload(const std::string& host, const std::string& user,
                                  const std::string& password, const std::string& path,
                                  const std::string& agent,
                                  const std::function<std::string_view()>& next) {
    std::string name = host;
    INTERNET_PORT port = INTERNET_DEFAULT_FTP_PORT;
    if (const size_t colon = host.rfind(':'); colon != std::string::npos) {
        name = host.substr(0, colon);
        const std::string digits = host.substr(colon + 1);
        unsigned long value = 0;
        bool good = !digits.empty() && digits.size() <= 5;
        for (char c : digits) {
            good = good && c >= '0' && c <= '9';
            value = value * 10 + static_cast<unsigned long>(c - '0');
        }
        if (!good || value == 0 || value > 65535)
            return ERROR_INTERNET_INVALID_URL;
        port = static_cast<INTERNET_PORT>(value);
    }
    InetHandle session(OpenSession(agent));
    if (!session)
        return LastError();
    InetHandle connection(::InternetConnectA(session.Get(), name.c_str(), port, user.c_str(),
                                             password.c_str(), INTERNET_SERVICE_FTP,
                                             INTERNET_FLAG_PASSIVE, 0));
    if (!connection)
        return LastError();
    InetHandle file(
        ::FtpOpenFileA(connection.Get(), path.c_str(), GENERIC_WRITE, FTP_TRANSFER_TYPE_ASCII, 0));
    if (!file)
        return LastError();
    // Every chunk goes out as it comes; the first failed write ends the
    // transfer, so a file with a gap is never reported as saved.
    try {
        for (std::string_view chunk = next(); !chunk.empty(); chunk = next()) {
            while (!chunk.empty()) {
                DWORD written = 0;
                const DWORD piece =
                    chunk.size() > 0x10000000 ? 0x10000000 : static_cast<DWORD>(chunk.size());
                if (!::InternetWriteFile(file.Get(), chunk.data(), piece, &written) || written == 0)
                    return LastError();
                chunk.remove_prefix(written);
            }
        }
    } catch (...) {
        return ERROR_INTERNET_INTERNAL_ERROR;
    }
    // Closing the file ends the data transfer; the server's answer to it
    // decides whether the file arrived whole.
    if (!file.Close())
        return LastError();
    return 0;
}

std::string WinInetNetwork::ErrorText(int32_t number) {
    if (number > kHttpStatusBase && number < kHttpStatusBase + 1000)
        return "HTTP status " + std::to_string(number - kHttpStatusBase);
    char buffer[2048] = {};
    const DWORD code = static_cast<DWORD>(number);
    DWORD n = 0;
    if (HMODULE wininet = ::GetModuleHandleA("wininet.dll")) {
        n = ::FormatMessageA(FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_IGNORE_INSERTS, wininet,
                             code, 0, buffer, 256, nullptr);
    }
    if (n == 0) {
        n = ::FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                             code, 0, buffer, 256, nullptr);
    }
    std::string text(buffer, n);
    while (!text.empty() && (text.back() == '\r' || text.back() == '\n' || text.back() == ' '))
        text.pop_back();
    if (number == static_cast<int32_t>(ERROR_INTERNET_EXTENDED_ERROR)) {
        char response[2048] = {};
        DWORD error = 0;
        DWORD length = sizeof response;
        if (::InternetGetLastResponseInfoA(&error, response, &length) && length > 0) {
            std::string server(response, std::strlen(response));
            while (!server.empty() && (server.back() == '\r' || server.back() == '\n'))
                server.pop_back();
            text += (text.empty() ? "" : " ") + server;
        }
    }
    if (text.empty())
        text = "Error " + std::to_string(number);
    return text;
}

Network& DefaultNetwork() {
    static WinInetNetwork network;
    return network;
}

}  // namespace qb::platform
