#include "ProcessState.h"

#include "D2XXUnit.h"
#include "D2xxTypes.h"
#include "MainDisplay.h"
#include "PresenceWatch.h"
#include "ReceivePump.h"
#include "unitMy.h"

void ResetProcessState() {
    InstallD2xxApi(NoLinkApi());
    LinkHandle.store(nullptr);
    ShowLinkErrors.store(true);
    LinkErrorSerial.store(0);
    DeviceCount = 0;
    SetLinkErrorSink({});
    DevicePresent.store(false);
    PauseState.store(0);
    ResetReceiveStream();
    MessageCount.store(0);
    StuffErrorCount.store(0);
    CrcErrorCount.store(0);
    FormErrorCount.store(0);
    AckErrorCount.store(0);
    SetDelayHooks(DefaultDelayHooks());
}
