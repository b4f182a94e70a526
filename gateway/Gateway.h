// What brisklet-gateway runs: the presence watch, the receive thread with its consumers, the adapter's
// initialisation each time it is found, the status lines, and the disable sequence on SIGINT/SIGTERM/SIGHUP.
//
// Thread contract: every method runs on the main thread (the one that made the object and runs the event
// loop). The receive thread runs the pump; the consumers (trace log, status) are called there. The
// presence tick takes the pump gate, as the window's does, so it never runs inside a pump.
//
// Command sequences run on the main thread with the 100 ms waits dispatching events, so presence ticks and
// status lines go on meanwhile. One sequence runs at a time: what is asked during one (an initialisation
// after a replug, the stop) is done when it has ended. Losing the adapter or a stop request cuts an
// initialisation short, so a stopped or replugged adapter never gets the rest of an older sequence.
#pragma once

#include <QObject>
#include <QSocketNotifier>
#include <QTimer>
#include <memory>
#include <string>
#include <vector>

#include "AdapterSequences.h"
#include "BusMirror.h"
#include "EmulatedFirmware.h"
#include "GatewayOptions.h"
#include "ReceivePump.h"
#include "StatusLines.h"
#include "TraceLog.h"
#include "UnitThread.h"

class Gateway final : public QObject {
public:
    // `signalFd`: a signalfd(2) for the stop signals, which the caller has blocked in every thread.
    Gateway(const GatewayOptions &options, int signalFd);
    ~Gateway() override;  // Stop()

    // Opens the trace log, the link's emulator when it is the built-in one, the consumers, the receive
    // thread and the presence watch. False with a reason, and nothing left running, when it cannot.
    bool Start(std::string &why);
    // Ends everything Start began; the trace log is written out and closed. Runs no command.
    void Stop();

    // As SIGTERM does: disable the adapter if it is present, then leave the event loop with 0.
    void RequestStop();

private:
    class Channel;
    class Presence;
    class Reports;

    void Tick();
    void ReportOpenProblem();
    void RunSequences();
    void OnSignal();
    void AttachConsumers();
    void Attach(PumpConsumer &consumer);

    GatewayOptions options_;
    int signalFd_;
    StatusLines status_;
    std::unique_ptr<TraceLog> trace_;
    std::unique_ptr<Reports> reports_;
    std::unique_ptr<EmulatedFirmware> firmware_;
    std::unique_ptr<BusMirror> mirror_;
    QTimer mirrorTimer_;
    std::vector<PumpConsumer *> consumers_;  // attached to the pump, in the order they were added
    std::unique_ptr<TEventThread> receiveThread_;
    QTimer presenceTimer_;
    std::unique_ptr<QSocketNotifier> signalNotifier_;
    bool started_ = false;
    std::string shownProblem_;  // the link's last refusal said on standard error

    // The sequence runner's state (main thread only).
    bool running_ = false;
    bool initPending_ = false;
    bool stopRequested_ = false;
    bool initCut_ = false;  // the initialisation under way sends nothing more
};
