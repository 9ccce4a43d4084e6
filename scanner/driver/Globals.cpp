#include "platform/Instance.h"
#include "platform/Platform.h"
#include "platform/Registry.h"
#include "scanner/config/Conf.h"
#include "scanner/config/RegOp.h"
#include "scanner/driver/Driver.h"
#include "scanner/lists/AddressList.h"

namespace qb::driver {

int16_t gVerboseLevel = 0;
bool gShowStatus = false;
int32_t gScanLimit = 0;
std::string gStoreRoot;
AddrHandle gAddrHandle = nullptr;
std::string gBlockFolder_Filename;
std::string gApproveFolder_filename;
std::unique_ptr<config::Conf> gConf;
std::unique_ptr<lists::AddressList> gBlockedSenders;
std::unique_ptr<lists::AddressList> gApprovedSenders;

AddressDatabaseLibrary& AddrLib() {
    static AddressDatabaseLibrary library("quelladdr.dll");
    return library;
}

namespace {
void OpenProductKey(config::RegOp& reg) {
    reg.root(platform::reg::kLocalMachine);
    reg.key(kProductKey);
}
}  // namespace

config::RegValue ProductValue(const char* name) {
    config::RegOp reg;
    OpenProductKey(reg);
    return reg.Value(name);
}

void SetProductValue(const char* name, const config::RegValue& value) {
    config::RegOp reg;
    OpenProductKey(reg);
    reg.Value(name, value);
}

std::string ProgramFolder() {
    return platform::Program().ProgramFolder();
}

}  // namespace qb::driver
