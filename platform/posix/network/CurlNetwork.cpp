#include "platform/posix/network/CurlNetwork.h"

#include <curl/curl.h>
#include <dlfcn.h>

#include <memory>
#include <string_view>

#include "platform/Platform.h"

namespace qb::platform {

namespace {

// libcurl, loaded at the first transfer. Linked into the program it would
// load some thirty libraries (TLS, Kerberos, LDAP, ...) and run their
// constructors at every start, about 3 ms of processor time, while the
// scanner's runs rarely touch the network.
struct CurlApi {
    CURLcode (*globalInit)(long flags);
    CURL* (*easyInit)();
    CURLcode (*easySetopt)(CURL* handle, CURLoption option, ...);
    CURLcode (*easyPerform)(CURL* handle);
    void (*easyCleanup)(CURL* handle);
    const char* (*easyStrerror)(CURLcode code);
    curl_slist* (*slistAppend)(curl_slist* list, const char* text);
    void (*slistFreeAll)(curl_slist* list);
};

// The library's functions, initialised; nullptr when it cannot be loaded
// (the library of the ABI the headers describe, by its soname).
const CurlApi* Curl() {
    static const CurlApi* const api = []() -> const CurlApi* {
        void* lib = ::dlopen("libcurl.so.4", RTLD_NOW | RTLD_LOCAL);
        if (!lib)
            return nullptr;
        static CurlApi a;
        bool found = true;
        const auto take = [&](auto& fn, const char* name) {
            fn = reinterpret_cast<std::remove_reference_t<decltype(fn)>>(::dlsym(lib, name));
            found = found && fn != nullptr;
        };
        take(a.globalInit, "curl_global_init");
        take(a.easyInit, "curl_easy_init");
        take(a.easySetopt, "curl_easy_setopt");
        take(a.easyPerform, "curl_easy_perform");
        take(a.easyCleanup, "curl_easy_cleanup");
        take(a.easyStrerror, "curl_easy_strerror");
        take(a.slistAppend, "curl_slist_append");
        take(a.slistFreeAll, "curl_slist_free_all");
        if (!found || a.globalInit(CURL_GLOBAL_DEFAULT) != CURLE_OK)
            return nullptr;
        return &a;
    }();
    return api;
}

template <typename Value>
void SetOption(CURL* h, CURLoption option, Value value) {
    Curl()->easySetopt(h, option, value);
}

struct EasyDeleter {
    void operator()(CURL* h) const { Curl()->easyCleanup(h); }
};
using Easy = std::unique_ptr<CURL, EasyDeleter>;

// A new transfer handle; none when libcurl cannot be loaded.
Easy NewEasy() {
    return Easy(Curl() ? Curl()->easyInit() : nullptr);
}

struct ListDeleter {
    void operator()(curl_slist* l) const { Curl()->slistFreeAll(l); }
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
    SetOption(h, CURLOPT_USERAGENT, agent.c_str());
    SetOption(h, CURLOPT_NOSIGNAL, 1L);
    SetOption(h, CURLOPT_CONNECTTIMEOUT, t.connectSeconds);
    SetOption(h, CURLOPT_ACCEPTTIMEOUT_MS, t.connectSeconds * 1000L);
    SetOption(h, CURLOPT_SERVER_RESPONSE_TIMEOUT, t.stallSeconds);
    SetOption(h, CURLOPT_LOW_SPEED_LIMIT, 1L);
    SetOption(h, CURLOPT_LOW_SPEED_TIME, t.stallSeconds);
    SetOption(h, CURLOPT_PROTOCOLS_STR, "http,https,ftp");
    SetOption(h, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    SetOption(h, CURLOPT_FTP_USE_EPSV, 1L);
}

}  // namespace

CurlNetwork::CurlNetwork(NetworkTimeouts timeouts) : timeouts_(timeouts) {}

int32_t CurlNetwork::Download(const std::string& url, const std::string& agent, std::string& body) {
    body.clear();
    Easy h = NewEasy();
    if (!h)
        return CURLE_FAILED_INIT;
    CommonOptions(h.get(), agent, timeouts_);
    // A fresh copy from the origin: ask every cache on the way to revalidate.
    HeaderList headers(Curl()->slistAppend(nullptr, "Cache-Control: no-cache"));
    if (headers)
        Curl()->slistAppend(headers.get(), "Pragma: no-cache");
    SetOption(h.get(), CURLOPT_HTTPHEADER, headers.get());
    SetOption(h.get(), CURLOPT_URL, url.c_str());
    SetOption(h.get(), CURLOPT_FAILONERROR, 1L);
    SetOption(h.get(), CURLOPT_FOLLOWLOCATION, 1L);
    SetOption(h.get(), CURLOPT_MAXREDIRS, 10L);
    SetOption(h.get(), CURLOPT_WRITEFUNCTION, CollectBody);
    SetOption(h.get(), CURLOPT_WRITEDATA, &body);
    const CURLcode rc = Curl()->easyPerform(h.get());
    if (rc != CURLE_OK)
        body.clear();
    return static_cast<int32_t>(rc);
}

int32_t CurlNetwork::FtpUpload(const std::string& host, const std::string& user,
                               const std::string& password, const std::string& path,
                               const std::string& agent,
                               const std::function<std::string_view()>& next) {
    Easy h = NewEasy();
    if (!h)
        return CURLE_FAILED_INIT;
    CommonOptions(h.get(), agent, timeouts_);
    // The path goes to the server as given ("STOR /out.txt"), without
    // changing folders first.
    const std::string url = "ftp://" + host + "/" + EncodePath(path);
    SetOption(h.get(), CURLOPT_URL, url.c_str());
    SetOption(h.get(), CURLOPT_FTP_FILEMETHOD, static_cast<long>(CURLFTPMETHOD_NOCWD));
    SetOption(h.get(), CURLOPT_USERNAME, user.c_str());
    SetOption(h.get(), CURLOPT_PASSWORD, password.c_str());
    SetOption(h.get(), CURLOPT_UPLOAD, 1L);
    SetOption(h.get(), CURLOPT_TRANSFERTEXT, 1L);
    UploadSource source{&next, {}};
    SetOption(h.get(), CURLOPT_READFUNCTION, FeedUpload);
    SetOption(h.get(), CURLOPT_READDATA, &source);
    return static_cast<int32_t>(Curl()->easyPerform(h.get()));
}

std::string CurlNetwork::ErrorText(int32_t number) {
    if (!Curl())
        return "libcurl.so.4 could not be loaded";
    return Curl()->easyStrerror(static_cast<CURLcode>(number));
}

Network& DefaultNetwork() {
    static CurlNetwork network;
    return network;
}

}  // namespace qb::platform
