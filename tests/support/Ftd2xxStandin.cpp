// A stand-in for the vendor's D2XX library, built as a shared object so the d2xx backend can load it
// with dlopen exactly as it loads the real one. It exports the ten functions under the vendor's names
// and records what each call was given; tests steer and inspect it through the standin_* functions
// (found with dlsym too).
//
//   standin_reset()                        all statuses FT_OK, outputs to their defaults, records cleared
//   standin_set_status(fn, status)         every later call of `fn` answers `status`
//   standin_set_output(fn, value)          the count `fn` writes: ListDevices' device count (default 1),
//                                          GetQueueStatus' and GetStatus' rx bytes (default 0), Read's
//                                          bytes read and Write's bytes written (default: as asked).
//                                          The count is written even when the status is not FT_OK.
//   standin_set_read_bytes(data, count)    what FT_Read copies into the caller's buffer (up to 64 bytes)
//   standin_calls(fn)                      how many times `fn` was called
//   standin_arg(fn, i)                     argument i (0-based) of the last call of `fn`, as an integer
//                                          (pointers as their address)
//   standin_handle()                       the handle FT_Open hands out
// `fn` is the vendor's function name, e.g. "FT_Read". Calls are not synchronised: one test at a time.
#include <cstdint>
#include <cstring>

using FT_HANDLE = void *;
using FT_STATUS = uint32_t;
using DWORD = uint32_t;
using ULONG = uint32_t;

namespace {

enum Fn {
    ListDevices,
    Open,
    Close,
    ResetDevice,
    SetTimeouts,
    GetQueueStatus,
    GetStatus,
    Read,
    Write,
    Notify,
    FnCount
};

constexpr const char *FnNames[FnCount] = {
    "FT_ListDevices",    "FT_Open",      "FT_Close", "FT_ResetDevice", "FT_SetTimeouts",
    "FT_GetQueueStatus", "FT_GetStatus", "FT_Read",  "FT_Write",       "FT_SetEventNotification"};
constexpr uint64_t NoOutput = ~uint64_t{0};
constexpr uintptr_t StandinHandle = 0x00C0FFEE;

struct Record {
    FT_STATUS status = 0;
    uint64_t output = NoOutput;
    int calls = 0;
    uint64_t args[4] = {};
};

Record records[FnCount];
uint8_t readBytes[64];
uint32_t readCount = 0;

int Find(const char *name) {
    for (int i = 0; i < FnCount; ++i)
        if (name && std::strcmp(name, FnNames[i]) == 0) return i;
    return -1;
}

template <typename... Args>
FT_STATUS Called(Fn fn, Args... args) {
    Record &r = records[fn];
    ++r.calls;
    uint64_t values[] = {0, static_cast<uint64_t>(args)...};
    for (unsigned i = 0; i < sizeof...(Args) && i < 4; ++i) r.args[i] = values[i + 1];
    return r.status;
}

uint64_t Arg(const void *p) { return reinterpret_cast<uintptr_t>(p); }

DWORD OutputOr(Fn fn, DWORD fallback) {
    return records[fn].output == NoOutput ? fallback : static_cast<DWORD>(records[fn].output);
}

}  // namespace

extern "C" {

// ---- The vendor's functions ----

FT_STATUS FT_ListDevices(void *pArg1, void *pArg2, DWORD Flags) {
    const FT_STATUS status = Called(ListDevices, Arg(pArg1), Arg(pArg2), Flags);
    if (pArg1) *static_cast<DWORD *>(pArg1) = OutputOr(ListDevices, 1);
    return status;
}

FT_STATUS FT_Open(int deviceNumber, FT_HANDLE *pHandle) {
    const FT_STATUS status = Called(Open, static_cast<int64_t>(deviceNumber), Arg(pHandle));
    if (status == 0 && pHandle) *pHandle = reinterpret_cast<FT_HANDLE>(StandinHandle);
    return status;
}

FT_STATUS FT_Close(FT_HANDLE ftHandle) { return Called(Close, Arg(ftHandle)); }

FT_STATUS FT_ResetDevice(FT_HANDLE ftHandle) { return Called(ResetDevice, Arg(ftHandle)); }

FT_STATUS FT_SetTimeouts(FT_HANDLE ftHandle, ULONG ReadTimeout, ULONG WriteTimeout) {
    return Called(SetTimeouts, Arg(ftHandle), ReadTimeout, WriteTimeout);
}

FT_STATUS FT_GetQueueStatus(FT_HANDLE ftHandle, DWORD *dwRxBytes) {
    const FT_STATUS status = Called(GetQueueStatus, Arg(ftHandle), Arg(dwRxBytes));
    if (dwRxBytes) *dwRxBytes = OutputOr(GetQueueStatus, 0);
    return status;
}

FT_STATUS FT_GetStatus(FT_HANDLE ftHandle, DWORD *dwRxBytes, DWORD *dwTxBytes, DWORD *dwEventDWord) {
    const FT_STATUS status =
        Called(GetStatus, Arg(ftHandle), Arg(dwRxBytes), Arg(dwTxBytes), Arg(dwEventDWord));
    if (dwRxBytes) *dwRxBytes = OutputOr(GetStatus, 0);
    if (dwTxBytes) *dwTxBytes = 0;
    if (dwEventDWord) *dwEventDWord = 0;
    return status;
}

FT_STATUS FT_Read(FT_HANDLE ftHandle, void *lpBuffer, DWORD dwBytesToRead, DWORD *lpBytesReturned) {
    const FT_STATUS status = Called(Read, Arg(ftHandle), Arg(lpBuffer), dwBytesToRead, Arg(lpBytesReturned));
    const DWORD copied = readCount < dwBytesToRead ? readCount : dwBytesToRead;
    if (lpBuffer) std::memcpy(lpBuffer, readBytes, copied);
    if (lpBytesReturned) *lpBytesReturned = OutputOr(Read, copied);
    return status;
}

FT_STATUS FT_Write(FT_HANDLE ftHandle, void *lpBuffer, DWORD dwBytesToWrite, DWORD *lpBytesWritten) {
    const FT_STATUS status = Called(Write, Arg(ftHandle), Arg(lpBuffer), dwBytesToWrite, Arg(lpBytesWritten));
    if (lpBytesWritten) *lpBytesWritten = OutputOr(Write, dwBytesToWrite);
    return status;
}

FT_STATUS FT_SetEventNotification(FT_HANDLE ftHandle, DWORD Mask, void *Param) {
    return Called(Notify, Arg(ftHandle), Mask, Arg(Param));
}

// ---- Test controls ----

void standin_reset() {
    for (Record &r : records) r = Record{};
    readCount = 0;
}

void standin_set_status(const char *fn, uint32_t status) {
    if (const int i = Find(fn); i >= 0) records[i].status = status;
}

void standin_set_output(const char *fn, uint32_t value) {
    if (const int i = Find(fn); i >= 0) records[i].output = value;
}

void standin_set_read_bytes(const uint8_t *data, uint32_t count) {
    readCount = count < sizeof readBytes ? count : sizeof readBytes;
    if (data) std::memcpy(readBytes, data, readCount);
}

int standin_calls(const char *fn) {
    const int i = Find(fn);
    return i >= 0 ? records[i].calls : -1;
}

uint64_t standin_arg(const char *fn, int index) {
    const int i = Find(fn);
    return (i >= 0 && index >= 0 && index < 4) ? records[i].args[index] : 0;
}

void *standin_handle() { return reinterpret_cast<void *>(StandinHandle); }

}  // extern "C"
