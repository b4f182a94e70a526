#include "LinkState.h"

#include "CommandWrite.h"
#include "D2XXUnit.h"
#include "D2xxTypes.h"
#include "PresenceWatch.h"
#include "ReceivePump.h"

void ResetLinkState() {
    InstallD2xxApi(NoLinkApi());
    LinkHandle.store(nullptr);
    ShowLinkErrors.store(true);
    LinkErrorSerial.store(0);
    DeviceCount = 0;
    SetLinkErrorSink({});
    DevicePresent.store(false);
    AdapterClockSet.store(false);
    AdapterBitRate.store(0);
    PauseState.store(0);
    ResetReceiveStream();
}
