// Finds the adapter, opens and prepares the link, and notices when the adapter goes away. One tick runs
// every 55 ms on the window thread (the window's Timer1).
#pragma once

#include <atomic>

#include "BackendSerial.h"  // OpenProblem
#include "BriskletVersion.h"

// True while the link is open on an adapter that answered the last probe. Read by the receive thread.
extern std::atomic<bool> DevicePresent;

// What a tick changes on the window. The three actions are switched in the order the calls come.
class PresenceView {
public:
    enum class Action { PortConfigure, SendFile, ReceiveFile };
    virtual ~PresenceView() = default;
    virtual void SetPresenceTitle(const char *title) = 0;
    virtual void SetActionEnabled(Action action, bool enabled) = 0;
};

constexpr const char *TitleStart = "Brisklet  V" BRISKLET_VERSION;
constexpr const char *TitlePresent = "Brisklet  V" BRISKLET_VERSION "  -  Device Present";
constexpr const char *TitleLost = "Brisklet  V" BRISKLET_VERSION "  -  No Device Present";
constexpr unsigned PresenceTickMs = 55;
constexpr unsigned LinkTimeoutMs = 10;

// One tick: while absent, close and try to open (silently), and on success mark present, retitle,
// enable the actions, reset and set 10/10 ms time-outs; while present, probe, and on failure mark lost
// (the handle is closed by the next tick).
void PresenceTick(PresenceView &view);

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
