// The one module that talks to the adapter's USB chip: the D2XX calls, the open handle, the two link
// buffers, and the numbered error line shown in the status line.
//
// Thread contract: the operations take no lock. The window thread (start-up count, presence watch,
// command writes, closing) and the receive thread (rx count, read, event registration) call them on the
// same handle; the backend behind the table must accept that. The flags below are atomics because both
// threads read and write them.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>

#include "D2xxTypes.h"

// The table every operation below calls through. Filled once at start-up by a backend (LinkBackend.h),
// before the receive thread starts (it is not guarded against concurrent calls); until then every entry
// answers FT_DEVICE_NOT_FOUND or FT_INVALID_HANDLE. Every entry of an installed table must be set.
extern D2xxApi FtApi;
void InstallD2xxApi(const D2xxApi &api);
// The table in force before any backend is installed.
D2xxApi NoLinkApi();

// ---- Module state ---------------------------------------------------------------------------------
constexpr DWORD LinkBufferSize = 32768;

// Written by OpenFTDevice only; closing does not clear it. Atomic: the receive thread reads it while
// the presence watch may be re-opening the adapter.
extern std::atomic<FT_HANDLE> LinkHandle;
extern int32_t DeviceIndex;               // always 0: the first listed device
extern std::atomic<bool> ShowLinkErrors;  // false: failed calls are not reported
extern std::atomic<int32_t> LinkErrorSerial;
extern DWORD DeviceCount;
extern uint8_t InBuffer[LinkBufferSize];   // ReadFTDevice reads here, from index 0
extern uint8_t OutBuffer[LinkBufferSize];  // the encoder builds each frame here, from index 0

// ---- Operations -------------------------------------------------------------------------------------
// Each makes one D2XX call. The status-returning ones hand back the status; the three counting ones
// hand back the count, which is 0 when the call failed (never an undefined value) and never more than
// was asked for.
FT_STATUS GetFTDeviceCount();
FT_STATUS OpenFTDevice();
FT_STATUS CloseFTDevice();
FT_STATUS ResetFTDevice();
FT_STATUS SetFTTimeouts(ULONG ReadMs, ULONG WriteMs);
FT_STATUS GetFTQueueStatus();
DWORD WriteFTDevice(DWORD Count);
DWORD ReadFTDevice(DWORD Count);
DWORD GetFTRxCount();
void SetFTEventNotification(DWORD Mask, void *Param);

// Registers the receive event (RxEvent, mask FT_EVENT_RXCHAR) on the handle held now. Every backend
// is given the event object itself: the vendor's library signals it through its layout, the others call
// RxEventObject::Set(). Status ignored: a link that cannot signal is still polled every 100 ms.
// Called when the receive thread is created and after every open, since a registration ends with the
// handle it was made on.
void RegisterRxEvent();

// The operator's text for a status 1..6 (" - Invalid Handle..." ...), empty for any other.
const char *LinkStatusText(FT_STATUS status);

// Reports a failed call as "(n) Name - Text" when ShowLinkErrors is true and the status is 1..6;
// otherwise does nothing and leaves LinkErrorSerial alone. The line goes to the sink below.
void ReportLinkError(const char *Name, FT_STATUS Status);

// Where report lines go: the main window's ErrorMessages. May be called on either thread; the sink
// is responsible for reaching the window on its own thread.
using LinkErrorSink = std::function<void(const std::string &line)>;
void SetLinkErrorSink(LinkErrorSink sink);
