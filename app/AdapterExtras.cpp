#include "AdapterExtras.h"

#include <QTimer>

#include "BusMirror.h"
#include "OutputConsumer.h"
#include "QtCanBusPort.h"
#include "SimAdapter.h"
#include "TraceLog.h"

AdapterExtras::AdapterExtras(AdapterSession &session, AdapterExtrasHooks hooks)
    : session_(session), hooks_(std::move(hooks)) {}

AdapterExtras::~AdapterExtras() { Stop(); }

bool AdapterExtras::OpenLog(const std::string &path, const std::string &name, std::string &why) {
    TraceLogOptions options;
    options.interfaceName = name;
    options.onError = hooks_.logFailed;
    auto log = std::make_unique<TraceLog>(std::move(options));
    if (!log->Open(path, why)) return false;
    StartLog(std::move(log));
    return true;
}

bool AdapterExtras::OpenLogOn(int fd, const std::string &label, const std::string &name, std::string &why) {
    TraceLogOptions options;
    options.interfaceName = name;
    options.onError = hooks_.logFailed;
    auto log = std::make_unique<TraceLog>(std::move(options));
    if (!log->OpenDescriptor(fd, true, label, why)) return false;
    StartLog(std::move(log));
    return true;
}

uint64_t AdapterExtras::LogDropped() const { return logOutput_ ? logOutput_->Dropped() : droppedAtStop_; }

void AdapterExtras::StartLog(std::unique_ptr<TraceLog> log) {
    log_ = std::move(log);
    logOutput_ = std::make_unique<OutputConsumer>(
        "log", [log = log_.get()](std::span<const BusEvent> events) { log->Log(events); });
    log_->SetStopFd(logOutput_->StopFd());
    logOutput_->Start();
    session_.Add(*logOutput_);
    // What the log had to drop is said from here, once a second while it goes on: its own thread may be
    // stuck in a write.
    dropTimer_ = std::make_unique<QTimer>();
    QObject::connect(dropTimer_.get(), &QTimer::timeout, [this] { SayDrops(); });
    dropTimer_->start(DropNoticeInterval);
}

bool AdapterExtras::StartEmulator(const TrafficRates *traffic, const BusChoice *bus, std::string &why) {
    firmware_ = std::make_unique<EmulatedFirmware>(TheSimAdapter());
    TheSimAdapter().SetFirmware(firmware_.get());
    if (bus) {
        emulatorBus_ = std::make_unique<QtCanBusPort>(*bus);
        if (!emulatorBus_->Open(why)) {
            emulatorBus_.reset();
            TheSimAdapter().SetFirmware(nullptr);
            firmware_.reset();
            return false;
        }
        firmware_->AttachBus(emulatorBus_.get());
    }
    if (traffic) firmware_->StartGenerator(*traffic);
    return true;
}

void AdapterExtras::StartMirror(const BusChoice &bus) {
    BusMirrorHooks hooks;
    hooks.writeCommand = hooks_.writeCommand;
    hooks.canTransmit = hooks_.canTransmit;
    hooks.notice = hooks_.notice;
    mirror_ = std::make_unique<BusMirror>(bus, std::move(hooks));
    if (mirror_->Start()) session_.Add(*mirror_);
    mirrorTimer_ = std::make_unique<QTimer>();
    QObject::connect(mirrorTimer_.get(), &QTimer::timeout, [mirror = mirror_.get()] { mirror->TransmitNext(); });
    mirrorTimer_->start(BusMirror::TickInterval);
}

void AdapterExtras::SayDrops() {
    if (!logOutput_ || !hooks_.notice) return;
    if (const std::string line = logOutput_->DropNotice(); !line.empty()) hooks_.notice(line);
}

void AdapterExtras::Stop() {
    mirrorTimer_.reset();
    dropTimer_.reset();
    if (mirror_) {
        session_.Remove(*mirror_);
        mirror_.reset();
    }
    if (logOutput_) {
        session_.Remove(*logOutput_);
        logOutput_->Stop();  // what the ring holds goes out first
        SayDrops();          // the total, when it grew since it was last said
        droppedAtStop_ = logOutput_->Dropped();
        logOutput_.reset();
    }
    if (log_) {
        log_->Close();  // a write error here has been reported already
        log_.reset();
    }
    if (firmware_) {
        firmware_->StopGenerator();
        if (emulatorBus_) firmware_->AttachBus(nullptr);
        TheSimAdapter().SetFirmware(nullptr);
        firmware_.reset();
    }
    if (emulatorBus_) {
        emulatorBus_->Close();
        emulatorBus_.reset();
    }
}
