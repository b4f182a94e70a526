// The sim backend: the D2XX functions as the vendor declares them, each handing its call to the
// process-wide emulated adapter.
#include "LinkBackend.h"
#include <atomic>

#include "RxEvent.h"
#include "SimAdapter.h"

namespace {

FT_STATUS SimListDevices(void *pArg1, void *pArg2, DWORD Flags) {
    return TheSimAdapter().ListDevices(pArg1, pArg2, Flags);
}

FT_STATUS SimOpen(int deviceNumber, FT_HANDLE *pHandle) {
    return TheSimAdapter().Open(deviceNumber, pHandle);
}

FT_STATUS SimClose(FT_HANDLE ftHandle) { return TheSimAdapter().Close(ftHandle); }

FT_STATUS SimResetDevice(FT_HANDLE ftHandle) { return TheSimAdapter().ResetDevice(ftHandle); }

FT_STATUS SimSetTimeouts(FT_HANDLE ftHandle, ULONG ReadTimeout, ULONG WriteTimeout) {
    return TheSimAdapter().SetTimeouts(ftHandle, ReadTimeout, WriteTimeout);
}

FT_STATUS SimGetQueueStatus(FT_HANDLE ftHandle, DWORD *dwRxBytes) {
    return TheSimAdapter().GetQueueStatus(ftHandle, dwRxBytes);
}

FT_STATUS SimGetStatus(FT_HANDLE ftHandle, DWORD *dwRxBytes, DWORD *dwTxBytes, DWORD *dwEventDWord) {
    return TheSimAdapter().GetStatus(ftHandle, dwRxBytes, dwTxBytes, dwEventDWord);
}

FT_STATUS SimRead(FT_HANDLE ftHandle, void *lpBuffer, DWORD dwBytesToRead, DWORD *lpBytesReturned) {
    return TheSimAdapter().Read(ftHandle, lpBuffer, dwBytesToRead, lpBytesReturned);
}

FT_STATUS SimWrite(FT_HANDLE ftHandle, void *lpBuffer, DWORD dwBytesToWrite, DWORD *lpBytesWritten) {
    return TheSimAdapter().Write(ftHandle, lpBuffer, dwBytesToWrite, lpBytesWritten);
}


// The emulator signals through its own interface; this one sets the event it was registered with.
class SimRxSink final : public SimEventSink {
public:
    std::atomic<RxEventObject *> event{nullptr};
    void Signal() override {
        if (RxEventObject *e = event.load()) e->Set();
    }
};
SimRxSink simRxSink;

FT_STATUS SimSetEventNotification(FT_HANDLE ftHandle, DWORD Mask, void *Param) {
    // The emulator holds one registration at a time, so one sink serves; it is pointed at the new event
    // only once the emulator has accepted the call (a refused call leaves the old registration alone).
    const FT_STATUS status = TheSimAdapter().SetEventNotification(ftHandle, Mask, Param ? static_cast<SimEventSink *>(&simRxSink) : nullptr);
    if (status == FT_OK && Param != nullptr) simRxSink.event.store(static_cast<RxEventObject *>(Param));
    return status;
}

}  // namespace

D2xxApi SimD2xxApi() {
    D2xxApi api;
    api.FT_ListDevices = &SimListDevices;
    api.FT_Open = &SimOpen;
    api.FT_Close = &SimClose;
    api.FT_ResetDevice = &SimResetDevice;
    api.FT_SetTimeouts = &SimSetTimeouts;
    api.FT_GetQueueStatus = &SimGetQueueStatus;
    api.FT_GetStatus = &SimGetStatus;
    api.FT_Read = &SimRead;
    api.FT_Write = &SimWrite;
    api.FT_SetEventNotification = &SimSetEventNotification;
    return api;
}
