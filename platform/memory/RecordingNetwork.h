// A network for unit tests: answers downloads from a table of URLs, takes
// uploads into memory, and records every call with its arguments and the
// chunks it was given. An error number makes every call fail with it.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "platform/Network.h"

namespace qb::platform {

class RecordingNetwork final : public Network {
  public:
    struct Download {
        std::string url, agent;
    };
    struct Upload {
        std::string host, user, password, path, agent;
        std::vector<std::string> chunks;
    };

    std::map<std::string, std::string> pages;  // url -> body; a missing url fails
    int32_t failWith = 0;                      // when not 0, every call fails with it
    std::vector<Download> downloads;
    std::vector<Upload> uploads;

    static constexpr int32_t kNotFound = 22;

    int32_t Download(const std::string& url, const std::string& agent, std::string& body) override {
        downloads.push_back({url, agent});
        body.clear();
        if (failWith != 0)
            return failWith;
        const auto it = pages.find(url);
        if (it == pages.end())
            return kNotFound;
        body = it->second;
        return 0;
    }

    int32_t FtpUpload(const std::string& host, const std::string& user, const std::string& password,
                      const std::string& path, const std::string& agent,
                      const std::function<std::string_view()>& next) override {
        Upload up{host, user, password, path, agent, {}};
        for (std::string_view chunk = next(); !chunk.empty(); chunk = next())
            up.chunks.emplace_back(chunk);
        uploads.push_back(up);
        return failWith;
    }

    std::string ErrorText(int32_t number) override {
        return "recorded error " + std::to_string(number);
    }
};

}  // namespace qb::platform
