// What brisklet-gateway runs: the presence watch, the receive thread with its consumers, the adapter's
// initialisation each time it is found, the status lines, and the disable sequence on SIGINT/SIGTERM/SIGHUP.
//
// Thread contract: every method runs on the main thread (the one that made the object and runs the event
// loop). It drives one AdapterSession, as the window does: the receive thread hands each read's events to
// the consumers (the trace log on its own output thread, the status lines of the adapter's reports, the
// bus mirror), none of which ever makes it wait.
//
// Command sequences run on the main thread with the 100 ms waits dispatching events, so presence ticks and
// status lines go on meanwhile. One sequence runs at a time: what is asked during one (an initialisation
// after a replug, the stop) is done when it has ended. Losing the adapter or a stop request cuts an
// initialisation short, so a stopped or replugged adapter never gets the rest of an older sequence.
#pragma once

#include <QObject>
#include <QSocketNotifier>
#include <QTimer>
#include <chrono>
#include <memory>
#include <string>

#include "AdapterExtras.h"
#include "DatabaseSet.h"
#include "ReceiveTable.h"
#include "AdapterSequences.h"
#include "AdapterSession.h"
#include "GatewayOptions.h"
#include "StatusLines.h"

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

    // As SIGTERM does: disable the adapter if it is present, then leave the event loop with `exitCode`
    // (the first non-zero one asked for, when several stops come).
    void RequestStop(int exitCode = 0);

private:
    class Channel;
    class Reports;

    static constexpr std::chrono::milliseconds StatsInterval{1000};
    static constexpr std::chrono::milliseconds ListRefreshOnTerminal{500};

    void Tick();
    void StartBusView();
    void RunSequences();
    void OnSignal();

    GatewayOptions options_;
    int signalFd_;
    StatusLines status_;
    AdapterSession session_;
    std::unique_ptr<Reports> reports_;
    std::unique_ptr<AdapterExtras> extras_;
    QTimer presenceTimer_;
    dbc::DatabaseSet databases_;
    // --stats and --list (main thread only).
    QTimer viewTimer_;
    std::unique_ptr<busview::ReceiveSnapshot> snapshot_;
    std::string listText_;
    bool listOnTerminal_ = false;
    unsigned viewTicks_ = 0;
    std::unique_ptr<QSocketNotifier> signalNotifier_;
    bool started_ = false;

    // The sequence runner's state (main thread only).
    bool running_ = false;
    bool initPending_ = false;
    bool stopRequested_ = false;
    bool initCut_ = false;  // the initialisation under way sends nothing more
    int exitCode_ = 0;
};
