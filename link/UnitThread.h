// The receive thread: waits on the receive event for at most 100 ms, or not at all while bytes are known
// to wait, and runs one pass.
//
// Thread contract:
// - TEventThread's body runs on its own thread at the highest priority the system grants. The pass
//   function it is given runs there too and must not touch widgets.
// - Stop() may be called from any other thread; it returns once the body has left its loop, which it
//   does at the end of the pass under way: the stop request is looked at between every two passes, also
//   while passes follow each other without a wait. The body never waits on the window thread, so Stop()
//   on the window thread cannot deadlock.
// - The receive pump and the presence tick exclude each other through PumpMutex, taken through the
//   pump gate (ReceivePump.h). Whoever holds it must not dispatch window events.
#pragma once

#include <QThread>
#include <atomic>
#include <chrono>
#include <mutex>

#include "RxEvent.h"

constexpr std::chrono::milliseconds RxWaitTimeout{100};

extern std::mutex PumpMutex;

class TEventThread final : public QThread {
public:
    // One pass; true when the next pass should start at once (bytes are known to wait).
    using PassFn = bool (*)(void *context);

    // Registers RxEvent with the driver (mask FT_EVENT_RXCHAR, on whatever link handle is held now,
    // status ignored; the presence watch registers again on every open) and, unless CreateSuspended,
    // starts the body at the highest priority.
    TEventThread(bool CreateSuspended, PassFn pass, void *context);
    ~TEventThread() override;  // stops the body first

    // Repeats until stopped: wait on RxEvent for at most 100 ms unless the last pass asked for another at
    // once, then one pass.
    void Execute();
    void Stop();
    uint64_t Passes() const { return passes_.load(); }
    // Passes that followed the one before without waiting on the event.
    uint64_t ImmediatePasses() const { return immediatePasses_.load(); }
    // Waits that the event ended before the 100 ms were up.
    uint64_t EventWakes() const { return eventWakes_.load(); }

protected:
    void run() override { Execute(); }

private:
    PassFn pass_;
    void *context_;
    std::atomic<bool> stop_{false};
    std::atomic<uint64_t> passes_{0};
    std::atomic<uint64_t> immediatePasses_{0};
    std::atomic<uint64_t> eventWakes_{0};
    std::atomic<bool> finished_{false};
};
