// The program Gleanwick: one pass over the current Outlook Express identity's
// mail store, then it ends.
#include "platform/Instance.h"
#include "scanner/driver/Driver.h"

int main(int argc, char** argv) {
    qb::platform::PrepareHeap();
    qb::platform::SetProgramArguments(argc, argv);
    qb::driver::Main();
    return 0;
}
