// The receive thread: wakes at least every 100 ms and hands each pass to the window's ReceiveData.
//
// Thread contract:
// - TEventThread's body runs on its own thread at the highest priority the system grants. The pass
//   function it is given runs there too and must not touch widgets.
// - Stop() may be called from any other thread; it returns once the body has left its loop. The body
//   never waits on the window thread, so Stop() on the window thread cannot deadlock.
// - The receive pump and the presence tick exclude each other through PumpMutex: the receive thread
//   locks it for a whole pass, the window thread only ever try-locks it (TryEnterPresenceTick, and the
//   Ctrl+R pump), so the window thread never waits for the receive thread. Whoever holds it must not
//   dispatch window events.
#pragma once

#include <pthread.h>

#include <QThread>
#include <atomic>
#include <chrono>
#include <mutex>

// The auto-reset event the driver signals when bytes arrive. Its first members have the layout the
// vendor's Linux library takes as FT_SetEventNotification's parameter (condition variable, mutex,
// int), so that library can signal it directly.
class RxEventObject {
public:
    RxEventObject();
    RxEventObject(const RxEventObject &) = delete;
    RxEventObject &operator=(const RxEventObject &) = delete;

    void Set();
    // Waits until the event is set or the time has passed, and leaves it reset. A wake-up without
    // Set() (the vendor's library signals without setting the flag) also ends the wait.
    void Wait(std::chrono::milliseconds timeout);

    // What FT_SetEventNotification is given: a pointer the installed backend knows how to signal.
    void *DriverParameter();

    pthread_cond_t eCondVar;
    pthread_mutex_t eMutex;
    int iVar = 0;  // 1 while set
};

// Created on first use and never freed or replaced.
RxEventObject &RxEvent();

constexpr std::chrono::milliseconds RxWaitTimeout{100};

extern std::mutex PumpMutex;

// For the presence tick: holds the lock when no pump runs; a tick that gets an empty lock is skipped.
//   auto hold = TryEnterPresenceTick(); if (!hold.owns_lock()) return;
std::unique_lock<std::mutex> TryEnterPresenceTick();

class TEventThread final : public QThread {
public:
    using PassFn = void (*)(void *context);

    // Registers RxEvent with the driver (mask FT_EVENT_RXCHAR, on whatever link handle is held now,
    // status ignored) and, unless CreateSuspended, starts the body at the highest priority.
    TEventThread(bool CreateSuspended, PassFn pass, void *context);
    ~TEventThread() override;  // stops the body first

    // Repeats until stopped: wait on RxEvent for at most 100 ms, then one pass.
    void Execute();
    void Stop();
    uint64_t Passes() const { return passes_.load(); }

protected:
    void run() override { Execute(); }

private:
    PassFn pass_;
    void *context_;
    std::atomic<bool> stop_{false};
    std::atomic<uint64_t> passes_{0};
    std::atomic<bool> finished_{false};
};
