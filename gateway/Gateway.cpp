#include "Gateway.h"

#include <sys/signalfd.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QTime>
#include <cstring>

#include "CommandWrite.h"
#include "D2XXUnit.h"
#include "LinkBackend.h"
#include "Encoder.h"
#include "PresenceWatch.h"
#include "ReceivePump.h"
#include "SimAdapter.h"
#include "unitMy.h"

// The sequences' commands, each through WriteCommand. `cut` (when given) ends a sequence early: it then
// sends and waits no more.
class Gateway::Channel final : public CommandChannel {
public:
    explicit Channel(const bool *cut) : cut_(cut) {}

    void Send(uint8_t code, const PayloadBuffer &payload, int length) override {
        if (!Cut()) (void)WriteCommand(code, payload, length);
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
    const bool *cut_;
};

// The presence watch's view: the gateway has no title or actions, only the change of state.
class Gateway::Presence final : public PresenceView {
public:
    enum class Change { None, Found, Lost };
    Change change = Change::None;

    void SetPresenceTitle(const char *title) override {
        if (std::strcmp(title, TitlePresent) == 0) change = Change::Found;
        if (std::strcmp(title, TitleLost) == 0) change = Change::Lost;
    }
    void SetActionEnabled(Action, bool) override {}
};

// The adapter's reports on commands, as status lines. Called by the pump on the receive thread; CAN
// frames and bus errors go to the trace log, not here.
class Gateway::Reports final : public PumpConsumer {
public:
    explicit Reports(StatusLines &status) : status_(status) {}

    void CanFrame(int, int, int, int, uint32_t, uint8_t, const uint8_t (&)[8]) override {}
    void BusError(uint8_t) override {}
    void CommandReport(uint8_t Type) override {
        if (Type >= StatusTexts.size()) return;
        char line[64] = "  ";
        std::strncat(line, StatusTexts[Type], sizeof line - 3);
        status_.Post(line);
    }

private:
    StatusLines &status_;
};

namespace {

bool PassOf(void *) { return ReceivePass(); }

}  // namespace

Gateway::Gateway(const GatewayOptions &options, int signalFd)
    : options_(options), signalFd_(signalFd), status_(STDERR_FILENO) {
    presenceTimer_.setInterval(static_cast<int>(PresenceTickMs));
    connect(&presenceTimer_, &QTimer::timeout, this, &Gateway::Tick);
}

Gateway::~Gateway() { Stop(); }

bool Gateway::Start(std::string &why) {
    TraceLogOptions traceOptions;
    traceOptions.interfaceName = options_.logName;
    traceOptions.adapterClockSet = &AdapterClockSet;
    // The log is what the gateway is for: once it cannot be written, the run ends as on SIGTERM, with 1.
    traceOptions.onError = [this](const std::string &message, const std::string &) {
        status_.Post(message);
        QMetaObject::invokeMethod(this, [this] { RequestStop(1); }, Qt::QueuedConnection);
    };
    trace_ = std::make_unique<TraceLog>(std::move(traceOptions));
    if (!trace_->Open(options_.logPath, why)) {
        trace_.reset();
        return false;
    }
    reports_ = std::make_unique<Reports>(status_);

    // The built-in emulator answers commands and, when asked, hears traffic on its bus.
    if (options_.link.kind == LinkKind::Sim) {
        firmware_ = std::make_unique<EmulatedFirmware>(TheSimAdapter());
        TheSimAdapter().SetFirmware(firmware_.get());
        if (options_.traffic) firmware_->StartGenerator(options_.rates);
    }

    SetLinkErrorSink([this](const std::string &line) { status_.Post(line); });
    ResetReceiveStream();
    AttachConsumers();
    receiveThread_ = std::make_unique<TEventThread>(false, &PassOf, nullptr);

    if (signalFd_ >= 0) {
        signalNotifier_ = std::make_unique<QSocketNotifier>(signalFd_, QSocketNotifier::Read);
        connect(signalNotifier_.get(), &QSocketNotifier::activated, this, &Gateway::OnSignal);
    }
    started_ = true;
    presenceTimer_.start();
    QTimer::singleShot(0, this, &Gateway::Tick);  // the first look at once, not a tick later
    return true;
}

// Everything the pump hands its frames to; a further consumer (a bus mirror, say) is added here and
// is removed with the others in Stop(). Each is called on the receive thread, in stream order, and gets
// EndOfPump() after every pump.
void Gateway::AttachConsumers() {
    Attach(*trace_);
    Attach(*reports_);
    if (!options_.busGiven) return;
    // The adapter mirrored onto the bus. A bus that cannot be opened is said once; the gateway goes on with
    // the adapter alone.
    BusMirrorHooks hooks;
    hooks.writeCommand = [](int code, const PayloadBuffer &payload, int length) {
        return WriteCommand(static_cast<uint8_t>(code), payload, length);
    };
    hooks.canTransmit = [this] { return DevicePresent.load() && !options_.can.listening; };
    hooks.notice = [this](const std::string &line) { status_.Post(line); };
    // What the adapter transmitted goes into the trace as a sent line. The receive thread writes the
    // log's other lines inside the pump: the gate keeps the two apart.
    hooks.sent = [this](uint32_t id, uint8_t info, bool remote, const uint8_t (&data)[8]) {
        const candump::Timestamp now = SystemClockStamp();
        auto hold = EnterPumpGate();
        trace_->SentFrame(now, id, info, remote, data);
    };
    mirror_ = std::make_unique<BusMirror>(options_.bus, std::move(hooks));
    if (mirror_->Start()) Attach(*mirror_);
    mirrorTimer_.setInterval(BusMirror::TickInterval);
    connect(&mirrorTimer_, &QTimer::timeout, this, [this] { mirror_->TransmitNext(); });
    mirrorTimer_.start();
}

void Gateway::Attach(PumpConsumer &consumer) {
    if (AddPumpConsumer(&consumer)) consumers_.push_back(&consumer);
}

void Gateway::Stop() {
    if (!started_) return;
    started_ = false;
    presenceTimer_.stop();
    signalNotifier_.reset();
    if (receiveThread_) receiveThread_->Stop();
    receiveThread_.reset();
    for (PumpConsumer *consumer : consumers_) RemovePumpConsumer(consumer);
    consumers_.clear();
    mirrorTimer_.stop();
    mirror_.reset();
    SetLinkErrorSink({});
    if (firmware_) {
        firmware_->StopGenerator();
        TheSimAdapter().SetFirmware(nullptr);
        firmware_.reset();
    }
    trace_->Close();  // a write error here has already been posted
    if (DevicePresent.load()) {
        (void)CloseFTDevice();
        DevicePresent.store(false);
    }
    status_.Drain();
}

void Gateway::Tick() {
    Presence view;
    {
        auto hold = EnterPumpGate();
        PresenceTick(view);
    }
    // Why the adapter cannot be opened, once for each new reason; where waiting cannot help, the run ends.
    if (const OpenProblem *problem = openProblems_.After(DevicePresent.load())) {
        status_.Post(problem->text);
        if (problem->lasting) return RequestStop(1);
    }
    switch (view.change) {
        case Presence::Change::None: return;
        case Presence::Change::Found:
            status_.Post("adapter found");
            if (stopRequested_) return;
            initPending_ = true;
            RunSequences();
            return;
        case Presence::Change::Lost:
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
            Channel channel(nullptr);
            if (DevicePresent.load()) DisableSequence(channel);
            PauseState.store(0);
            running_ = false;
            QCoreApplication::exit(exitCode_);
            return;
        }
        if (!initPending_) break;
        initPending_ = false;
        initCut_ = false;
        Channel channel(&initCut_);
        InitializeSequence(options_.can, channel);
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
