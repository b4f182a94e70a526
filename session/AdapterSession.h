// The one object that holds a program's connection to the adapter: the presence watch (as events), the
// receive thread and the consumers it feeds, the command writer, and the reasons an open failed. The
// window and brisklet-gateway both drive one; neither rebuilds any of it.
//
//   AdapterSession session;
//   session.StartReceiving();                       // the receive thread, polling until an adapter is open
//   session.Add(log);                               // a consumer: every read's events from now on
//   every PresenceTickMs:  const auto tick = session.Tick();
//                          if (tick.change == PresenceChange::Found) ... initialise
//                          if (tick.problem) ... say why the adapter cannot be opened (once per reason)
//   session.WriteCommand(code, payload, length);    // one command frame; sequences space them
//   ...
//   session.StopReceiving();
//
// The link state itself (the handle, DevicePresent, the buffers) is process-wide, as the link's calls are:
// one session per process. docs/ARCHITECTURE.md has the table of who touches what from which thread.
//
// Thread contract: every method runs on the owner's thread (the one running the event loop, which also
// runs the presence timer and the command sequences), except what BusConsumer.h says of the consumers.
// Tick and PumpNow take the pump gate: they wait for one receive pass at most, never for a consumer.
#pragma once

#include <cstdint>
#include <memory>

#include "BusConsumer.h"
#include "Commands.h"
#include "PresenceWatch.h"
#include "ReceivePump.h"

class TEventThread;

class AdapterSession {
public:
    struct TickResult {
        PresenceChange change = PresenceChange::None;
        // Why the adapter could not be opened, when that is new since it was last said (OpenProblemNotice);
        // valid until the next tick.
        const OpenProblem *problem = nullptr;
    };

    AdapterSession();
    ~AdapterSession();  // StopReceiving
    AdapterSession(const AdapterSession &) = delete;
    AdapterSession &operator=(const AdapterSession &) = delete;

    // ---- Presence ----
    TickResult Tick();

    // ---- Receiving ----
    // Starts from an empty stream (nothing an earlier session carried) and starts the receive thread.
    void StartReceiving();
    // Ends the receive thread at the end of the pass under way. Safe twice.
    void StopReceiving();
    bool Receiving() const { return thread_ != nullptr; }
    uint64_t Passes() const;  // receive passes so far
    // One pump on the caller's thread, after the pass the receive thread may have under way (Ctrl+R).
    void PumpNow();
    // A consumer gets every read's events from now on, until removed. False when there is no room.
    bool Add(BusConsumer &consumer) { return AddPumpConsumer(&consumer); }
    void Remove(BusConsumer &consumer) { RemovePumpConsumer(&consumer); }
    ReceiveCounts Counts() const { return TheReceiveCounts(); }

    // ---- Commands ----
    // One command frame (CommandWrite.h): nothing while the adapter is absent; true when it went out whole.
    bool WriteCommand(uint8_t code, const PayloadBuffer &payload, int length);

private:
    std::unique_ptr<TEventThread> thread_;
    OpenProblemNotice problems_;
};
