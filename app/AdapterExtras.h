// What a program runs beside its adapter session, from the options every program shares: the trace log
// (written on an output thread of its own, as candump lines or as decoded signal values), the built-in
// emulator's firmware (its traffic and its bus), the bus mirror of a real adapter, and the receive list's
// table with the bus health figures. The window and brisklet-gateway both use it, so each of these is
// wired in one place.
//
//   AdapterExtras extras(session, hooks);
//   if (!extras.OpenLog(path, name, why)) ...            // the window goes on without, the gateway ends
//   if (!extras.StartEmulator(traffic, bus, why)) ...    // --link=sim only: its bus could not be opened
//   extras.StartMirror(bus);                             // any other link with --bus
//   ... extras.Stop();                                   // after the session's receive thread has stopped
//
// Thread contract: every method on the owner's thread (the one with the event loop). The hooks' notice
// and logFailed may be called on any thread (the log's, the mirror's owner's).
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "AdapterSession.h"
#include "CanBusPort.h"
#include "Commands.h"
#include "EmulatedFirmware.h"

class BusMirror;
class OutputConsumer;
namespace busview {
class HealthSource;
class ReceiveTable;
}  // namespace busview
namespace dbc {
class DatabaseSet;
}  // namespace dbc
class DecodedExport;
class QTimer;
class QtCanBusPort;
class TraceLog;

struct AdapterExtrasHooks {
    // The mirror's transmit command (the window's CreateMessage, the gateway's session write).
    std::function<bool(int code, const PayloadBuffer &payload, int length)> writeCommand;
    // The adapter is present and not listening: the mirror may have it transmit.
    std::function<bool()> canTransmit;
    // A line for the operator (status line, stderr). Any thread.
    std::function<void(const std::string &line)> notice;
    // The log stopped on a write error: the whole story and a brief form for a narrow status line. Once,
    // on the log's thread.
    std::function<void(const std::string &message, const std::string &brief)> logFailed;
};

class AdapterExtras {
public:
    AdapterExtras(AdapterSession &session, AdapterExtrasHooks hooks);
    ~AdapterExtras();  // Stop
    AdapterExtras(const AdapterExtras &) = delete;
    AdapterExtras &operator=(const AdapterExtras &) = delete;

    // The trace log at `path` ("-": standard output), lines named `name`; it takes every read's events from
    // now on. False with a one-line reason when it cannot be opened.
    bool OpenLog(const std::string &path, const std::string &name, std::string &why);
    // The same on a descriptor the caller has (a pipe), named `label` in messages; the log closes it.
    bool OpenLogOn(int fd, const std::string &label, const std::string &name, std::string &why);
    // What the log had to drop so far: its output did not keep up.
    uint64_t LogDropped() const;
    // From now on the log writes the signal values `databases` decode (one CSV line each) instead of
    // candump lines. Call before OpenLog; `databases` outlives the log.
    void DecodeWith(const dbc::DatabaseSet *databases) { decodeWith_ = databases; }

    // The receive list's table, fed by the session from the first call on, and what the health line says
    // of the bus (its bit rate, what the receive path and the consumers dropped).
    busview::ReceiveTable &Table();
    const busview::HealthSource &Health();
    // The built-in emulator's firmware, hearing `traffic` (when given) and bridged to `bus` (when given).
    // False with a reason when the bus cannot be opened (nothing is left running then).
    bool StartEmulator(const TrafficRates *traffic, const BusChoice *bus, std::string &why);
    // The adapter mirrored onto `bus`, paced by a timer of its own; a bus that fails is said once through
    // `notice` and the program goes on with the adapter alone.
    void StartMirror(const BusChoice &bus);
    // Mirror, log (what it holds written out, unless its output stopped taking it), emulator. Safe twice.
    void Stop();

private:
    static constexpr std::chrono::seconds DropNoticeInterval{1};
    void SayDrops();
    void StartLog(std::unique_ptr<TraceLog> log);

    AdapterSession &session_;
    AdapterExtrasHooks hooks_;
    class SessionHealth;
    class TableFeed;

    std::unique_ptr<TraceLog> log_;
    const dbc::DatabaseSet *decodeWith_ = nullptr;
    std::unique_ptr<DecodedExport> decoded_;
    std::unique_ptr<busview::ReceiveTable> table_;
    std::unique_ptr<TableFeed> tableFeed_;
    std::unique_ptr<SessionHealth> health_;
    std::unique_ptr<OutputConsumer> logOutput_;
    std::unique_ptr<EmulatedFirmware> firmware_;
    std::unique_ptr<QtCanBusPort> emulatorBus_;
    std::unique_ptr<BusMirror> mirror_;
    std::unique_ptr<QTimer> mirrorTimer_;
    std::unique_ptr<QTimer> dropTimer_;
    uint64_t droppedAtStop_ = 0;
};
