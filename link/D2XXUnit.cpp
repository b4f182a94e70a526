#include "D2XXUnit.h"

#include <mutex>

#include "RxEvent.h"

namespace {

FT_STATUS NoListDevices(void *, void *, DWORD) { return FT_DEVICE_NOT_FOUND; }
FT_STATUS NoOpen(int, FT_HANDLE *) { return FT_DEVICE_NOT_FOUND; }
FT_STATUS NoHandleCall(FT_HANDLE) { return FT_INVALID_HANDLE; }
FT_STATUS NoSetTimeouts(FT_HANDLE, ULONG, ULONG) { return FT_INVALID_HANDLE; }
FT_STATUS NoQueueStatus(FT_HANDLE, DWORD *) { return FT_INVALID_HANDLE; }
FT_STATUS NoGetStatus(FT_HANDLE, DWORD *, DWORD *, DWORD *) { return FT_INVALID_HANDLE; }
FT_STATUS NoReadWrite(FT_HANDLE, void *, DWORD, DWORD *) { return FT_INVALID_HANDLE; }
FT_STATUS NoEventNotification(FT_HANDLE, DWORD, void *) { return FT_INVALID_HANDLE; }

constexpr D2xxApi kNoLibrary{
    &NoListDevices, &NoOpen,      &NoHandleCall, &NoHandleCall, &NoSetTimeouts,
    &NoQueueStatus, &NoGetStatus, &NoReadWrite,  &NoReadWrite,  &NoEventNotification};

std::mutex sinkMutex;
LinkErrorSink &Sink() {
    static LinkErrorSink sink;
    return sink;
}

// A count the library hands back is only trusted when the call succeeded, and never beyond what was
// asked for.
DWORD TrustedCount(FT_STATUS status, DWORD count, DWORD limit) {
    if (status != FT_OK) return 0;
    return count > limit ? limit : count;
}

}  // namespace

D2xxApi FtApi = kNoLibrary;

void InstallD2xxApi(const D2xxApi &api) { FtApi = api; }
D2xxApi NoLinkApi() { return kNoLibrary; }

std::atomic<FT_HANDLE> LinkHandle{nullptr};
int32_t DeviceIndex = 0;
std::atomic<bool> ShowLinkErrors{true};
std::atomic<int32_t> LinkErrorSerial{0};
DWORD DeviceCount = 0;
uint8_t InBuffer[LinkBufferSize];
uint8_t OutBuffer[LinkBufferSize];

const char *LinkStatusText(FT_STATUS status) {
    switch (status) {
        case FT_INVALID_HANDLE: return " - Invalid Handle...";
        case FT_DEVICE_NOT_FOUND: return " - Device Not Found....";
        case FT_DEVICE_NOT_OPENED: return " - Device Not Opened...";
        case FT_IO_ERROR: return " - General IO Error...";
        case FT_INSUFFICIENT_RESOURCES: return " - Insufficient Resources...";
        case FT_INVALID_PARAMETER: return " - Invalid Parameter ...";
        default: return "";
    }
}

void SetLinkErrorSink(LinkErrorSink sink) {
    std::lock_guard lock(sinkMutex);
    Sink() = std::move(sink);
}

void ReportLinkError(const char *Name, FT_STATUS Status) {
    if (!ShowLinkErrors.load()) return;
    if (Status < FT_INVALID_HANDLE || Status > FT_INVALID_PARAMETER) return;
    const int32_t serial = LinkErrorSerial.fetch_add(1) + 1;
    std::string line = "(" + std::to_string(serial) + ") " + Name + LinkStatusText(Status);
    LinkErrorSink sink;
    {
        std::lock_guard lock(sinkMutex);
        sink = Sink();
    }
    if (sink) sink(line);  // outside the lock: a sink may itself make link calls that report
}

static FT_STATUS Reported(const char *name, FT_STATUS status) {
    if (status != FT_OK) ReportLinkError(name, status);
    return status;
}

FT_STATUS GetFTDeviceCount() {
    return Reported("GetFTDeviceCount", FtApi.FT_ListDevices(&DeviceCount, nullptr, FT_LIST_NUMBER_ONLY));
}

FT_STATUS OpenFTDevice() {
    // The library writes the handle through a pointer; it lands in a local and is published whole.
    FT_HANDLE handle = LinkHandle.load();
    const FT_STATUS status = FtApi.FT_Open(DeviceIndex, &handle);
    LinkHandle.store(handle);
    return Reported("FT_Open", status);
}

FT_STATUS CloseFTDevice() { return Reported("FT_Close", FtApi.FT_Close(LinkHandle)); }

FT_STATUS ResetFTDevice() { return Reported("FT_ResetDevice", FtApi.FT_ResetDevice(LinkHandle)); }

FT_STATUS SetFTTimeouts(ULONG ReadMs, ULONG WriteMs) {
    return Reported("FT_SetTimeouts", FtApi.FT_SetTimeouts(LinkHandle, ReadMs, WriteMs));
}

FT_STATUS GetFTQueueStatus() {
    DWORD count = 0;
    return Reported("FT_GetQueueStatus", FtApi.FT_GetQueueStatus(LinkHandle, &count));
}

DWORD WriteFTDevice(DWORD Count) {
    if (Count > LinkBufferSize) Count = LinkBufferSize;
    DWORD written = 0;
    const FT_STATUS status = Reported("FT_Write", FtApi.FT_Write(LinkHandle, OutBuffer, Count, &written));
    return TrustedCount(status, written, Count);
}

DWORD ReadFTDevice(DWORD Count) {
    if (Count > LinkBufferSize) Count = LinkBufferSize;
    DWORD read = 0;
    const FT_STATUS status = Reported("FT_Read", FtApi.FT_Read(LinkHandle, InBuffer, Count, &read));
    return TrustedCount(status, read, Count);
}

DWORD GetFTRxCount() {
    DWORD rx = 0, tx = 0, events = 0;
    const FT_STATUS status = Reported("FT_Status", FtApi.FT_GetStatus(LinkHandle, &rx, &tx, &events));
    return status == FT_OK ? rx : 0;
}

void SetFTEventNotification(DWORD Mask, void *Param) {
    (void)FtApi.FT_SetEventNotification(LinkHandle, Mask, Param);
}

void RegisterRxEvent() {
    SetFTEventNotification(FT_EVENT_RXCHAR, &RxEvent());
}
