// Finds the adapter, opens and prepares the link, and notices when the adapter goes away. One tick runs
// every PresenceTickMs on the thread that owns the adapter session (the window's Timer1, the gateway's
// timer), with the pump gate held.
#pragma once

#include <atomic>

#include "SerialSafety.h"  // OpenProblem

// True while the link is open on an adapter that answered the last probe. Read by the receive thread.
extern std::atomic<bool> DevicePresent;

constexpr unsigned PresenceTickMs = 55;
constexpr unsigned LinkTimeoutMs = 10;

// What a tick found.
enum class PresenceChange { None, Found, Lost };

// One tick: while absent, close and try to open (silently), and on success mark present, reset, set
// 10/10 ms time-outs and register the receive event on the new handle (Found); while present, probe, and
// on failure mark absent (Lost; the handle is closed by the next tick).
PresenceChange PresenceTick();

// Why the adapter cannot be opened, to be said once for each new reason (on stderr, in the status line).
// A missing adapter is said only until it has been found once: after that, "not there" is what the
// presence itself tells. Owned by the thread that runs the ticks.
class OpenProblemNotice {
public:
    // After a tick, with the adapter's presence as it stands: the problem to say now, or null when there
    // is nothing new to say.
    const OpenProblem *After(bool present);

private:
    OpenProblem current_, shown_;
    bool everPresent_ = false;
};
