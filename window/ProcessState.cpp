#include "ProcessState.h"

#include "LinkState.h"
#include "MainDisplay.h"
#include "unitMy.h"

void ResetProcessState() {
    ResetLinkState();
    MessageCount.store(0);
    StuffErrorCount.store(0);
    CrcErrorCount.store(0);
    FormErrorCount.store(0);
    AckErrorCount.store(0);
    SetDelayHooks(DefaultDelayHooks());
}
