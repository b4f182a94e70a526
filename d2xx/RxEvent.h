// The auto-reset event the link signals when bytes arrive for the host, and on which the receive thread
// waits between passes.
#pragma once

#include <pthread.h>

#include <chrono>

// Its first members have the layout the vendor's Linux library takes as FT_SetEventNotification's
// parameter (condition variable, mutex, int), so that library can signal it directly; the other backends
// call Set().
class RxEventObject {
public:
    RxEventObject();
    RxEventObject(const RxEventObject &) = delete;
    RxEventObject &operator=(const RxEventObject &) = delete;

    void Set();
    // Waits until the event is set or the time has passed, and leaves it reset. A wake-up without
    // Set() (the vendor's library signals without setting the flag) also ends the wait. False when the
    // time ran out.
    bool Wait(std::chrono::milliseconds timeout);

    pthread_cond_t eCondVar;
    pthread_mutex_t eMutex;
    int iVar = 0;  // 1 while set
};

// Created on first use and never freed or replaced.
RxEventObject &RxEvent();
