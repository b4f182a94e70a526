// One trampoline table for every backend that is an object: a device class with the ten calls as
// methods of the same names and signatures (the emulator, the serial link), reached through a function
// that returns the process-wide instance.
//   D2xxApi api = D2xxTableFor<SerialLink, &TheSerialLink>();  // api.FT_Read -> TheSerialLink().Read
// FT_SetEventNotification's Param is always the receive event (RxEventObject*): the vendor's library
// signals it through the event structure's layout, a device object calls its Set().
#pragma once

#include "D2xxTypes.h"

template <class Device, Device &(*Instance)()>
D2xxApi D2xxTableFor() {
    D2xxApi api;
    api.FT_ListDevices = [](void *a, void *b, DWORD flags) { return Instance().ListDevices(a, b, flags); };
    api.FT_Open = [](int number, FT_HANDLE *handle) { return Instance().Open(number, handle); };
    api.FT_Close = [](FT_HANDLE h) { return Instance().Close(h); };
    api.FT_ResetDevice = [](FT_HANDLE h) { return Instance().ResetDevice(h); };
    api.FT_SetTimeouts = [](FT_HANDLE h, ULONG r, ULONG w) { return Instance().SetTimeouts(h, r, w); };
    api.FT_GetQueueStatus = [](FT_HANDLE h, DWORD *rx) { return Instance().GetQueueStatus(h, rx); };
    api.FT_GetStatus = [](FT_HANDLE h, DWORD *rx, DWORD *tx, DWORD *ev) { return Instance().GetStatus(h, rx, tx, ev); };
    api.FT_Read = [](FT_HANDLE h, void *b, DWORD n, DWORD *done) { return Instance().Read(h, b, n, done); };
    api.FT_Write = [](FT_HANDLE h, void *b, DWORD n, DWORD *done) { return Instance().Write(h, b, n, done); };
    api.FT_SetEventNotification = [](FT_HANDLE h, DWORD mask, void *param) {
        return Instance().SetEventNotification(h, mask, param);
    };
    return api;
}
