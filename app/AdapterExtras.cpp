#include "AdapterExtras.h"

#include <QTimer>

#include "BusHealth.h"
#include "BusMirror.h"
#include "CommandWrite.h"
#include "DecodedExport.h"
#include "OutputConsumer.h"
#include "QtCanBusPort.h"
#include "ReceiveTable.h"
#include "SimAdapter.h"
#include "TraceLog.h"

// Hands the session's events to the receive list's table (which takes them without waiting).
class AdapterExtras::TableFeed final : public BusConsumer {
public:
    explicit TableFeed(busview::ReceiveTable &table) : table_(table) {}
    void Take(std::span<const BusEvent> events) override { table_.Add(events); }

private:
    busview::ReceiveTable &table_;
};

// The health line's view of the session: the bit rate the adapter was initialised with since it was
// plugged in, and every count of what was lost on the way.
class AdapterExtras::SessionHealth final : public busview::HealthSource {
public:
    explicit SessionHealth(const AdapterExtras &extras) : extras_(extras) {}
    busview::BitRate CurrentBitRate() const override {
        const int32_t rate = AdapterBitRate.load();
        if (rate > 0) return {busview::BitRateState::Known, rate};
        // Frames come in, but not from an adapter this program set up (another program initialised it
        // before this one took the link).
        const bool heard = extras_.table_ && extras_.table_->Load(busview::ReceiveTable::NowUs()).frames > 0;
        return {heard ? busview::BitRateState::SetUpElsewhere : busview::BitRateState::NotInitialised, 0};
    }
    busview::ReceiveDrops Drops() const override {
        const ReceiveCounts counts = extras_.session_.Counts();
        busview::ReceiveDrops drops;
        drops.bytesSkipped = static_cast<uint64_t>(counts.bytesSkipped);
        drops.badChecksum = static_cast<uint64_t>(counts.badChecksum);
        drops.queueFull = static_cast<uint64_t>(counts.queueFull);
        drops.consumerDropped = extras_.LogDropped() + (extras_.mirror_ ? extras_.mirror_->Counts().toBusOverflow : 0);
        return drops;
    }

private:
    const AdapterExtras &extras_;
};

AdapterExtras::AdapterExtras(AdapterSession &session, AdapterExtrasHooks hooks)
    : session_(session), hooks_(std::move(hooks)) {}

busview::ReceiveTable &AdapterExtras::Table() {
    if (!table_) {
        table_ = std::make_unique<busview::ReceiveTable>();
        tableFeed_ = std::make_unique<TableFeed>(*table_);
        session_.Add(*tableFeed_);
    }
    return *table_;
}

const busview::HealthSource &AdapterExtras::Health() {
    Table();
    if (!health_) health_ = std::make_unique<SessionHealth>(*this);
    return *health_;
}

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
    OutputConsumer::Write write = [log = log_.get()](std::span<const BusEvent> events) { log->Log(events); };
    if (decodeWith_) {
        decoded_ = std::make_unique<DecodedExport>(*log_, *decodeWith_);
        write = [decoded = decoded_.get()](std::span<const BusEvent> events) { decoded->Log(events); };
    }
    logOutput_ = std::make_unique<OutputConsumer>("log", std::move(write));
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
    if (tableFeed_) {
        session_.Remove(*tableFeed_);
        tableFeed_.reset();
    }
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
    decoded_.reset();
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
