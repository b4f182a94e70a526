#include "Gateway.h"

#include <limits.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <QCoreApplication>
#include <algorithm>
#include <cerrno>
#include <QTime>
#include <cstring>

#include "BusHealth.h"
#include "D2XXUnit.h"
#include "ReceiveTable.h"
#include "TextTable.h"
#include "unitMy.h"

// The sequences' commands, each through the session's command write. `cut` (when given) ends a sequence
// early: it then sends and waits no more.
class Gateway::Channel final : public SetupChannel {
public:
    Channel(AdapterSession &session, const CanSetup &setup, const bool *cut)
        : SetupChannel(setup), session_(session), cut_(cut) {}

    void Send(uint8_t code, const PayloadBuffer &payload, int length) override {
        if (!Cut()) (void)session_.WriteCommand(code, payload, length);
    }
    void Wait() override {
        if (!Cut()) Delay(static_cast<uint32_t>(CommandSpacing.count()));
    }
    TimeOfDay Now() override {
        const QTime now = QTime::currentTime();
        return {now.hour(), now.minute(), now.second(), now.msec()};
    }

private:
    bool Cut() const { return cut_ != nullptr && *cut_; }
    AdapterSession &session_;
    const bool *cut_;
};

// The adapter's reports on commands, as status lines (which never wait). Frames and bus errors go to the
// trace log, not here.
class Gateway::Reports final : public BusConsumer {
public:
    explicit Reports(StatusLines &status) : status_(status) {}

    void Take(std::span<const BusEvent> events) override {
        for (const BusEvent &e : events) {
            if (e.kind != BusEvent::Kind::CommandReport || e.reportType >= StatusTexts.size()) continue;
            char line[64] = "  ";
            std::strncat(line, StatusTexts[e.reportType], sizeof line - 3);
            status_.Post(line);
        }
    }

private:
    StatusLines &status_;
};

Gateway::Gateway(const GatewayOptions &options, int signalFd)
    : options_(options), signalFd_(signalFd), status_(STDERR_FILENO), reports_(std::make_unique<Reports>(status_)) {
    presenceTimer_.setInterval(static_cast<int>(PresenceTickMs));
    connect(&presenceTimer_, &QTimer::timeout, this, &Gateway::Tick);
}

Gateway::~Gateway() { Stop(); }

bool Gateway::Start(std::string &why) {
    AdapterExtrasHooks hooks;
    hooks.writeCommand = [this](int code, const PayloadBuffer &payload, int length) {
        return session_.WriteCommand(static_cast<uint8_t>(code), payload, length);
    };
    hooks.canTransmit = [this] { return DevicePresent.load() && !options_.can.listening; };
    hooks.notice = [this](const std::string &line) { status_.Post(line); };
    // The log is what the gateway is for: once it cannot be written, the run ends as on SIGTERM, with 1.
    hooks.logFailed = [this](const std::string &message, const std::string &) {
        status_.Post(message);
        QMetaObject::invokeMethod(this, [this] { RequestStop(1); }, Qt::QueuedConnection);
    };
    extras_ = std::make_unique<AdapterExtras>(session_, std::move(hooks));
    for (const std::string &file : options_.dbcFiles) {
        if (std::string problem = databases_.Load(file); !problem.empty()) {
            why = std::move(problem);
            return false;
        }
        for (const dbc::Skipped &skipped : databases_.Files().back()->skipped) status_.Post(skipped.text);
    }
    if (options_.decode) extras_->DecodeWith(&databases_);
    // With the list on standard output, the trace goes only where --log says.
    if ((!options_.list || options_.logGiven) && !extras_->OpenLog(options_.logPath, options_.logName, why)) {
        extras_.reset();
        return false;
    }
    if (options_.link.kind == LinkKind::Sim && !extras_->StartEmulator(options_.traffic ? &options_.rates : nullptr,
                                                                        nullptr, why)) {
        extras_.reset();
        return false;
    }
    if (options_.busGiven) extras_->StartMirror(options_.bus);

    SetLinkErrorSink([this](const std::string &line) { status_.Post(line); });
    session_.Add(*reports_);
    session_.StartReceiving();

    if (signalFd_ >= 0) {
        signalNotifier_ = std::make_unique<QSocketNotifier>(signalFd_, QSocketNotifier::Read);
        connect(signalNotifier_.get(), &QSocketNotifier::activated, this, &Gateway::OnSignal);
    }
    if (options_.stats || options_.list) StartBusView();
    started_ = true;
    presenceTimer_.start();
    QTimer::singleShot(0, this, &Gateway::Tick);  // the first look at once, not a tick later
    return true;
}

// Standard output may be a pipe nobody reads: the text goes out a pipe's worth at a time, each only when the
// output takes it at once; what it does not take is left out, never waited for (the next refresh says it
// all again).
static void WriteIfTaken(int fd, const std::string &text) {
    std::size_t at = 0;
    while (at < text.size()) {
        pollfd p{fd, POLLOUT, 0};
        if (::poll(&p, 1, 0) != 1 || (p.revents & POLLOUT) == 0) return;
        const std::size_t chunk = std::min<std::size_t>(text.size() - at, PIPE_BUF);
        const ssize_t n = ::write(fd, text.data() + at, chunk);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return;
        at += static_cast<std::size_t>(n);
    }
}

// The bus health line on stderr (--stats) and the receive list on stdout (--list), from the same table.
void Gateway::StartBusView() {
    busview::ReceiveTable &table = extras_->Table();
    const busview::HealthSource &health = extras_->Health();
    snapshot_ = std::make_unique<busview::ReceiveSnapshot>();
    listOnTerminal_ = ::isatty(STDOUT_FILENO) == 1;
    viewTimer_.setInterval(options_.list && listOnTerminal_ ? ListRefreshOnTerminal : StatsInterval);
    connect(&viewTimer_, &QTimer::timeout, this, [this, &table, &health] {
        const int64_t now = busview::ReceiveTable::NowUs();
        busview::BusHealth figures{table.Load(now), health.CurrentBitRate(), health.Drops()};
        // A terminal's list redraws twice a second; the health line is said once a second.
        const bool everyTick = viewTimer_.interval() >= static_cast<int>(StatsInterval.count());
        if (options_.stats && (everyTick || ++viewTicks_ % 2 == 0)) {
            char line[256];
            const std::size_t n = busview::FormatSummaryLine(line, figures);
            status_.Post(std::string_view(line, n));
        }
        if (!options_.list) return;
        table.Take(*snapshot_, now);
        busview::TextTableOptions text;
        text.terminal = listOnTerminal_;
        winsize size{};
        if (text.terminal && ::ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_row > 2)
            text.maxRows = size.ws_row - 2;
        busview::RenderTextTable(*snapshot_, figures, text, listText_);
        WriteIfTaken(STDOUT_FILENO, listText_);
    });
    viewTimer_.start();
}

void Gateway::Stop() {
    if (!started_) return;
    started_ = false;
    presenceTimer_.stop();
    viewTimer_.stop();
    signalNotifier_.reset();
    session_.StopReceiving();
    session_.Remove(*reports_);
    extras_->Stop();  // the log written out, the emulator and the mirror stopped
    SetLinkErrorSink({});
    if (DevicePresent.load()) {
        (void)CloseFTDevice();
        DevicePresent.store(false);
    }
    status_.Drain();
}

void Gateway::Tick() {
    const AdapterSession::TickResult tick = session_.Tick();
    // Why the adapter cannot be opened, once for each new reason; where waiting cannot help, the run ends.
    if (tick.problem) {
        status_.Post(tick.problem->text);
        if (tick.problem->lasting) return RequestStop(1);
    }
    switch (tick.change) {
        case PresenceChange::None: return;
        case PresenceChange::Found:
            status_.Post("adapter found");
            if (stopRequested_) return;
            initPending_ = true;
            RunSequences();
            return;
        case PresenceChange::Lost:
            status_.Post("adapter lost");
            initCut_ = true;  // what is left of an initialisation is not for the adapter found next
            return;
    }
}

void Gateway::RunSequences() {
    if (running_) return;  // the run under way takes it up when its sequence ends
    running_ = true;
    for (;;) {
        if (stopRequested_) {
            initPending_ = false;
            Channel channel(session_, options_.can, nullptr);
            if (DevicePresent.load()) DisableSequence(channel);
            PauseState.store(0);
            running_ = false;
            QCoreApplication::exit(exitCode_);
            return;
        }
        if (!initPending_) break;
        initPending_ = false;
        initCut_ = false;
        Channel channel(session_, options_.can, &initCut_);
        InitializeSequence(channel);
        if (!initCut_) PauseState.store(0);
    }
    running_ = false;
}

void Gateway::RequestStop(int exitCode) {
    if (exitCode_ == 0) exitCode_ = exitCode;
    if (stopRequested_) return;
    stopRequested_ = true;
    initCut_ = true;
    RunSequences();
}

void Gateway::OnSignal() {
    signalfd_siginfo info;
    while (::read(signalFd_, &info, sizeof info) == static_cast<ssize_t>(sizeof info)) {
    }
    RequestStop();
}
