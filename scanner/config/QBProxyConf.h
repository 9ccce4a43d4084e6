// QBProxyConf: a view of the mail proxy's configuration file. Makes sure the
// file exists (copying the product's default file), loads it through a Conf,
// supplies defaults for the three spam thresholds and keeps the outgoing
// mail servers, held in the file as one comma-separated entry, as a list of
// host:port keys.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "scanner/config/Conf.h"
#include "scanner/lists/SortedList.h"

namespace qb::config {

// Codes of AddOutgoingServer.
namespace server {
constexpr int16_t kAdded = 0;
constexpr int16_t kHostBlank = 1;
constexpr int16_t kAlreadyPresent = 2;
}  // namespace server

// Splits text at the earliest of the delimiters, again and again: each piece
// before a delimiter is trimmed of spaces, and so is the rest after it; the
// last piece is taken as it stands (a text without any delimiter comes back
// whole, spaces included). Empty pieces are kept.
std::vector<std::string> SplitAtDelimiters(std::string_view text,
                                           const std::vector<std::string>& delimiters);

class QBProxyConf {
  public:
    // programFolder: the folder whose conf\default_quellbox.conf is the
    // default file (without a trailing backslash).
    explicit QBProxyConf(std::string programFolder);

    // Binds the object to the configuration file at path. When there is no
    // such file, copies the default file there (UseDefaultConf becomes true),
    // or, without a default file, shows "Can not find default_quellbox.conf".
    // A failed copy raises a RunError. Reads nothing.
    void SetConfigurationFile(const std::string& path);
    bool UseDefaultConf() const { return useDefaultConf_; }

    std::optional<std::string> GetValue(std::string_view key) { return conf_.GetValue(key); }
    // Server keys (host + ":" + port) in key order, and their ports in the same order.
    std::vector<std::string> Get_Outgoing_Servers() { return servers_.keys(); }
    std::vector<std::string> Get_Outgoing_Ports() { return servers_.Items(); }

    // Loads the file, adds the servers of "outgoing_server" (no duplicate
    // check: loading twice holds each server twice) and sets the thresholds
    // missing from the file to "90" in memory.
    void Load();
    // Writes the server list into "outgoing_server" (dropped when empty) and saves the file.
    void Save();
    void SetValue(std::string_view key, std::string value) {
        conf_.SetValue(key, std::move(value));
    }
    void WriteValue(std::string_view key, std::string_view value) { conf_.WriteValue(key, value); }

    // Adds host:port: kHostBlank when the host is blank, kAlreadyPresent when
    // listed, else kAdded. A blank port becomes "25", in the caller's variable too.
    int16_t AddOutgoingServer(std::string& host, std::string& port);
    bool OutgoingServerExists(std::string_view host, std::string_view port);
    // Removes the entry with that host:port key, if any.
    void RemoveOutgoingServer(std::string_view serverKey) { servers_.Remove(serverKey); }

  private:
    std::string programFolder_;
    bool useDefaultConf_ = false;
    Conf conf_;
    lists::SortedList<std::string> servers_;
};

}  // namespace qb::config
