#include "platform/posix/network/CurlNetwork.h"

#include <curl/curl.h>

#include <memory>
#include <mutex>
#include <string_view>

#include "platform/Platform.h"

namespace qb::platform {

namespace {

void GlobalInit() {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

struct EasyDeleter {
    void operator()(CURL* h) const { curl_easy_cleanup(h); }
};
using Easy = std::unique_ptr<CURL, EasyDeleter>;

struct ListDeleter {
    void operator()(curl_slist* l) const { curl_slist_free_all(l); }
};
using HeaderList = std::unique_ptr<curl_slist, ListDeleter>;

size_t CollectBody(char* data, size_t size, size_t count, void* user) {
    std::string* body = static_cast<std::string*>(user);
    try {
        body->append(data, size * count);
    } catch (...) {
        return 0;  // out of memory: ends the transfer with a write error
    }
    return size * count;
}

struct UploadSource {
    const std::function<std::string_view()>* next;
    std::string_view pending;
    bool finished = false;
};

size_t FeedUpload(char* buffer, size_t size, size_t count, void* user) {
    UploadSource* src = static_cast<UploadSource*>(user);
    const size_t room = size * count;
    try {
        while (src->pending.empty() && !src->finished) {
            src->pending = (*src->next)();
            if (src->pending.empty())
                src->finished = true;
        }
    } catch (...) {
        return CURL_READFUNC_ABORT;
    }
    const size_t n = src->pending.size() < room ? src->pending.size() : room;
    src->pending.copy(buffer, n);
    src->pending.remove_prefix(n);
    return n;
}

// Percent-encodes what a URL path may not carry as it is; "/" stays.
std::string EncodePath(std::string_view path) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string out;
    for (const char c : path) {
        const unsigned char b = static_cast<unsigned char>(c);
        const bool plain = (b >= 'a' && b <= 'z') || (b >= 'A' && b <= 'Z') ||
                           (b >= '0' && b <= '9') || c == '-' || c == '.' || c == '_' || c == '~' ||
                           c == '/';
        if (plain) {
            out += c;
        } else {
            out += '%';
            out += kHex[b >> 4];
            out += kHex[b & 0xF];
        }
    }
    return out;
}

// Options every transfer shares: the agent, the timeouts, and only the
// protocols this client is meant to speak.
void CommonOptions(CURL* h, const std::string& agent, const NetworkTimeouts& t) {
    curl_easy_setopt(h, CURLOPT_USERAGENT, agent.c_str());
    curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT, t.connectSeconds);
    curl_easy_setopt(h, CURLOPT_ACCEPTTIMEOUT_MS, t.connectSeconds * 1000L);
    curl_easy_setopt(h, CURLOPT_SERVER_RESPONSE_TIMEOUT, t.stallSeconds);
    curl_easy_setopt(h, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(h, CURLOPT_LOW_SPEED_TIME, t.stallSeconds);
    curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, "http,https,ftp");
    curl_easy_setopt(h, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(h, CURLOPT_FTP_USE_EPSV, 1L);
}

}  // namespace

CurlNetwork::CurlNetwork(NetworkTimeouts timeouts) : timeouts_(timeouts) {
    GlobalInit();
}

int32_t CurlNetwork::Download(const std::string& url, const std::string& agent, std::string& body) {
    body.clear();
    Easy h(curl_easy_init());
    if (!h)
        return CURLE_FAILED_INIT;
    CommonOptions(h.get(), agent, timeouts_);
    // A fresh copy from the origin: ask every cache on the way to revalidate.
    HeaderList headers(curl_slist_append(nullptr, "Cache-Control: no-cache"));
    if (headers)
        curl_slist_append(headers.get(), "Pragma: no-cache");
    curl_easy_setopt(h.get(), CURLOPT_HTTPHEADER, headers.get());
    curl_easy_setopt(h.get(), CURLOPT_URL, url.c_str());
    curl_easy_setopt(h.get(), CURLOPT_FAILONERROR, 1L);
    curl_easy_setopt(h.get(), CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(h.get(), CURLOPT_MAXREDIRS, 10L);
    curl_easy_setopt(h.get(), CURLOPT_WRITEFUNCTION, CollectBody);
    curl_easy_setopt(h.get(), CURLOPT_WRITEDATA, &body);
    const CURLcode rc = curl_easy_perform(h.get());
    if (rc != CURLE_OK)
        body.clear();
    return static_cast<int32_t>(rc);
}

int32_t CurlNetwork::FtpUpload(const std::string& host, const std::string& user,
                               const std::string& password, const std::string& path,
                               const std::string& agent,
                               const std::function<std::string_view()>& next) {
    Easy h(curl_easy_init());
    if (!h)
        return CURLE_FAILED_INIT;
    CommonOptions(h.get(), agent, timeouts_);
    // The path goes to the server as given ("STOR /out.txt"), without
    // changing folders first.
    const std::string url = "ftp://" + host + "/" + EncodePath(path);
    curl_easy_setopt(h.get(), CURLOPT_URL, url.c_str());
    curl_easy_setopt(h.get(), CURLOPT_FTP_FILEMETHOD, static_cast<long>(CURLFTPMETHOD_NOCWD));
    curl_easy_setopt(h.get(), CURLOPT_USERNAME, user.c_str());
    curl_easy_setopt(h.get(), CURLOPT_PASSWORD, password.c_str());
    curl_easy_setopt(h.get(), CURLOPT_UPLOAD, 1L);
    curl_easy_setopt(h.get(), CURLOPT_TRANSFERTEXT, 1L);
    UploadSource source{&next, {}};
    curl_easy_setopt(h.get(), CURLOPT_READFUNCTION, FeedUpload);
    curl_easy_setopt(h.get(), CURLOPT_READDATA, &source);
    return static_cast<int32_t>(curl_easy_perform(h.get()));
}

std::string CurlNetwork::ErrorText(int32_t number) {
    return curl_easy_strerror(static_cast<CURLcode>(number));
}

Network& DefaultNetwork() {
    static CurlNetwork network;
    return network;
}

}  // namespace qb::platform
