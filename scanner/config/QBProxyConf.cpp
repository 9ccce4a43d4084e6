#include "scanner/config/QBProxyConf.h"

#include "common/RunError.h"
#include "common/Text.h"
#include "platform/FileSystem.h"
#include "platform/Platform.h"
#include "platform/UserInterface.h"
#include "scanner/lists/ListFile.h"

namespace qb::config {

namespace {
constexpr const char* kOutgoingServer = "outgoing_server";
constexpr const char* kDefaultPort = "25";
constexpr const char* kThresholds[] = {"spam_flag_threshold", "spam_subject_threshold",
                                       "spam_reject_threshold"};
constexpr const char* kDefaultThreshold = "90";
}  // namespace

std::vector<std::string> SplitAtDelimiters(std::string_view text,
                                           const std::vector<std::string>& delimiters) {
    std::vector<std::string> pieces;
    std::string_view rest = text;
    for (;;) {
        size_t best = std::string_view::npos, bestLength = 0;
        for (const std::string& d : delimiters) {
            if (d.empty())
                continue;
            const size_t at = rest.find(d);
            if (at < best) {
                best = at;
                bestLength = d.size();
            }
        }
        if (best == std::string_view::npos) {
            pieces.emplace_back(rest);
            return pieces;
        }
        pieces.emplace_back(text::TrimBlanks(rest.substr(0, best)));
        rest = text::TrimBlanks(rest.substr(best + bestLength));
    }
}

QBProxyConf::QBProxyConf(std::string programFolder) : programFolder_(std::move(programFolder)) {
    servers_.Clear();
    servers_.SetSortMode(1);
}

void QBProxyConf::SetConfigurationFile(const std::string& path) {
    platform::FileSystem& fs = platform::Files();
    if (!platform::IsOrdinaryFile(fs, path)) {
        const std::string defaultFile = programFolder_ + "\\conf\\default_quellbox.conf";
        if (!platform::IsOrdinaryFile(fs, defaultFile)) {
            platform::ShowMessage("Can not find default_quellbox.conf", lists::kProgramTitle,
                                  platform::mb::kOk);
        } else {
            if (!fs.CopyFile(defaultFile, path))
                throw RunError(err::kPathFileAccess, "QBProxyConf", "Path/File access error");
            useDefaultConf_ = true;
        }
    }
    conf_.SetConfigFile(path);
}

void QBProxyConf::Load() {
    conf_.Load();
    const std::string servers = conf_.GetValue(kOutgoingServer).value_or("");
    if (!text::TrimBlanks(servers).empty()) {
        for (const std::string& piece : SplitAtDelimiters(servers, {","})) {
            const size_t colon = piece.find(':');
            std::string host = piece, port = kDefaultPort;
            if (colon != std::string::npos) {
                host = piece.substr(0, colon);
                port = piece.substr(colon + 1);
            }
            servers_.Add(host + ":" + port, port);
        }
    }
    for (const char* key : kThresholds) {
        if (!conf_.ValueExists(key))
            conf_.SetValue(key, kDefaultThreshold);
    }
}

void QBProxyConf::Save() {
    std::string joined;
    bool first = true;
    for (const std::string& key : servers_.keys()) {
        if (!first)
            joined += ",";
        joined += key;
        first = false;
    }
    conf_.SetValue(kOutgoingServer, joined);
    conf_.Save();
}

int16_t QBProxyConf::AddOutgoingServer(std::string& host, std::string& port) {
    if (text::TrimBlanks(host).empty())
        return server::kHostBlank;
    if (text::TrimBlanks(port).empty())
        port = kDefaultPort;
    const std::string key = host + ":" + port;
    if (servers_.Exists(key))
        return server::kAlreadyPresent;
    servers_.Add(key, port);
    return server::kAdded;
}

bool QBProxyConf::OutgoingServerExists(std::string_view host, std::string_view port) {
    std::string key(host);
    key += ":";
    key += port;
    return servers_.Exists(key);
}

}  // namespace qb::config
