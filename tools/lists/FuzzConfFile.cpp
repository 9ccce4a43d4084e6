// Fuzz target for the configuration loader: Conf and QBProxyConf read
// arbitrary bytes, change values and write the file back. Checks that values
// written through Save and WriteValue read back.
#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/Platform.h"
#include "platform/memory/MemoryFileSystem.h"
#include "platform/memory/RecordingUserInterface.h"
#include "scanner/config/Conf.h"
#include "scanner/config/QBProxyConf.h"

namespace {

void Check(bool ok) {
    if (!ok)
        __builtin_trap();
}

constexpr const char* kPath = "C:\\Quellbox\\conf\\quellbox.conf";

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace qb;
    platform::MemoryFileSystem fs;
    platform::RecordingUserInterface ui;
    platform::ScopedServices scope({.files = &fs, .ui = &ui});
    const std::string content(reinterpret_cast<const char*>(data), size);
    fs.PutFile(kPath, content);

    config::Conf conf;
    conf.SetConfigFile(kPath);
    conf.Load();
    for (const char* key : {"dbg_verbose_level", "oe_block_folder", "outgoing_server", ""})
        conf.GetValue(key);
    conf.SetValue("fuzz_key", "v1");
    conf.Save();
    conf.WriteValue("Fuzz_Key2", "w");
    Check(ui.boxes.empty());

    config::Conf again;
    again.SetConfigFile(kPath);
    again.Load();
    Check(again.GetValue("fuzz_key") == "v1");
    // WriteValue matches keys with case: a line of the same key in other
    // letters may follow, so look for the written line itself.
    const std::string written = "\r\n" + fs.Content(kPath);
    Check(written.find("\r\nFuzz_Key2=w\r\n") != std::string::npos);

    fs.PutFile("C:\\Proxy\\proxy.conf", content);
    config::QBProxyConf proxy("C:\\Quellbox");
    proxy.SetConfigurationFile("C:\\Proxy\\proxy.conf");
    proxy.Load();
    Check(proxy.Get_Outgoing_Servers().size() == proxy.Get_Outgoing_Ports().size());
    Check(proxy.GetValue("spam_flag_threshold").has_value());
    std::string host = "h", port;
    proxy.AddOutgoingServer(host, port);
    proxy.Save();
    Check(ui.boxes.empty());
    return 0;
}
