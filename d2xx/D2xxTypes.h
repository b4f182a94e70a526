// The vendor's D2XX types and the ten functions Brisklet uses, with the vendor's signatures
// (Linux build of the library: DWORD and ULONG are 32 bits, FT_HANDLE is a pointer).
#pragma once

#include <cstdint>

// ---- The vendor's D2XX types and the functions used, with the vendor's signatures ------------------
using FT_HANDLE = void *;
using FT_STATUS = uint32_t;
using DWORD = uint32_t;
using ULONG = uint32_t;

enum FtStatus : FT_STATUS {
    FT_OK = 0,
    FT_INVALID_HANDLE = 1,
    FT_DEVICE_NOT_FOUND = 2,
    FT_DEVICE_NOT_OPENED = 3,
    FT_IO_ERROR = 4,
    FT_INSUFFICIENT_RESOURCES = 5,
    FT_INVALID_PARAMETER = 6,
    FT_OTHER_ERROR = 18,
};

constexpr DWORD FT_LIST_NUMBER_ONLY = 0x80000000u;
constexpr DWORD FT_EVENT_RXCHAR = 1;

struct D2xxApi {
    FT_STATUS (*FT_ListDevices)(void *pArg1, void *pArg2, DWORD Flags) = nullptr;
    FT_STATUS (*FT_Open)(int deviceNumber, FT_HANDLE *pHandle) = nullptr;
    FT_STATUS (*FT_Close)(FT_HANDLE ftHandle) = nullptr;
    FT_STATUS (*FT_ResetDevice)(FT_HANDLE ftHandle) = nullptr;
    FT_STATUS (*FT_SetTimeouts)(FT_HANDLE ftHandle, ULONG ReadTimeout, ULONG WriteTimeout) = nullptr;
    FT_STATUS (*FT_GetQueueStatus)(FT_HANDLE ftHandle, DWORD *dwRxBytes) = nullptr;
    FT_STATUS (*FT_GetStatus)
    (FT_HANDLE ftHandle, DWORD *dwRxBytes, DWORD *dwTxBytes, DWORD *dwEventDWord) = nullptr;
    FT_STATUS (*FT_Read)
    (FT_HANDLE ftHandle, void *lpBuffer, DWORD dwBytesToRead, DWORD *lpBytesReturned) = nullptr;
    FT_STATUS (*FT_Write)
    (FT_HANDLE ftHandle, void *lpBuffer, DWORD dwBytesToWrite, DWORD *lpBytesWritten) = nullptr;
    FT_STATUS (*FT_SetEventNotification)(FT_HANDLE ftHandle, DWORD Mask, void *Param) = nullptr;
};
