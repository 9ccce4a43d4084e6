#include "platform/Instance.h"
#include "platform/Platform.h"
#include "scanner/driver/Driver.h"

namespace qb::driver {

int16_t gVerboseLevel = 0;
bool gShowStatus = false;
int32_t gScanLimit = 0;
std::string gStoreRoot;
AddrHandle gAddrHandle = nullptr;
std::string gBlockFolder_Filename;
std::string gApproveFolder_filename;

std::string ProgramFolder() { return platform::Program().ProgramFolder(); }

}  // namespace qb::driver
