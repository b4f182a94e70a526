#include "BusMirror.h"

#include <algorithm>
#include <utility>

#include "IdCoding.h"

namespace {

constexpr uint32_t StandardMask = 0x7FF;
constexpr uint32_t ExtendedMask = 0x1FFFFFFF;

}  // namespace

BusMirror::BusMirror(BusChoice choice, BusMirrorHooks hooks)
    : choice_(choice), hooks_(std::move(hooks)), port_(std::move(choice), BusQueueCapacity) {}

BusMirror::~BusMirror() {
    Detach();
    Stop();
}

bool BusMirror::Start() {
    Stop();
    {
        std::lock_guard lock(lostMutex_);
        lostWhy_.clear();
        lostPending_.store(false);
    }
    port_.SetListener(this);
    std::string why;
    if (port_.Open(why)) {
        if (choice_.plugin == "virtualcan")
            // Under 160 characters, so that the gateway's status lines carry it whole.
            Notify(
                "bus: warning: every local user can read and send on virtualcan, through the adapter too, "
                "and crash this program; socketcan on a vcan or real interface is safe");
        return true;
    }
    port_.SetListener(nullptr);
    Notify(why);
    return false;
}

void BusMirror::Stop() {
    port_.Close();  // the bus thread has ended: no listener call is running or comes later
    port_.SetListener(nullptr);
    std::lock_guard lock(adapterMutex_);
    adapterCount_ = 0;
}

bool BusMirror::Attach() {
    if (attached_) return false;
    attached_ = AddPumpConsumer(this);
    return attached_;
}

void BusMirror::Detach() {
    if (!attached_) return;
    RemovePumpConsumer(this);
    attached_ = false;
}

// ---- Adapter to bus (the pump's thread) ----

void BusMirror::Take(std::span<const BusEvent> events) {
    for (const BusEvent &e : events) {
        if (e.kind == BusEvent::Kind::BusError) {
            if (e.errorFlags != 0) port_.TransmitError(e.errorFlags);
            continue;
        }
        if (e.kind != BusEvent::Kind::Frame || e.transmitted) continue;
        BusFrame frame;
        frame.extended = e.extended;
        frame.identifier = e.id & (frame.extended ? ExtendedMask : StandardMask);
        frame.remote = e.remote;
        frame.length = static_cast<uint8_t>(e.LengthField());
        if (!e.remote) std::copy(e.data, e.data + frame.length, frame.data.begin());
        port_.Transmit(frame);  // a full ring or a closed bus is counted there
    }
}

// ---- Bus to adapter ----

void BusMirror::OnBusFrame(const BusFrame &frame) {
    std::lock_guard lock(adapterMutex_);
    if (adapterCount_ == AdapterQueueCapacity) {
        fromBusOverflow_.fetch_add(1);
        return;
    }
    adapterQueue_[(adapterHead_ + adapterCount_) % AdapterQueueCapacity] = frame;
    ++adapterCount_;
    fromBus_.fetch_add(1);
}

void BusMirror::OnBusLost(const std::string &why) {
    {
        std::lock_guard lock(lostMutex_);
        lostWhy_ = why;
    }
    lostPending_.store(true);
}

void BusMirror::TransmitNext() {
    const Clock::time_point now = Clock::now();
    if (lostPending_.exchange(false)) {
        std::string why;
        {
            std::lock_guard lock(lostMutex_);
            why = lostWhy_;
        }
        Notify(why);
    }
    ReportLosses(now);

    if (sentBefore_ && now - lastCommand_ < CommandSpacing) return;
    {
        std::lock_guard lock(adapterMutex_);
        if (adapterCount_ == 0) return;
    }
    // Asked outside the lock: the owner's answer may take a moment, and the bus thread must not wait.
    const bool canTransmit = hooks_.canTransmit && hooks_.canTransmit();
    BusFrame frame;
    {
        std::lock_guard lock(adapterMutex_);
        if (!canTransmit) {
            // The adapter is not a node of the bus now: what other nodes sent meanwhile is not kept for
            // later, when it would be stale.
            notSentNoAdapter_.fetch_add(adapterCount_);
            adapterCount_ = 0;
            return;
        }
        if (adapterCount_ == 0) return;
        frame = adapterQueue_[adapterHead_];
        adapterHead_ = (adapterHead_ + 1) % AdapterQueueCapacity;
        --adapterCount_;
    }
    const int count = std::min<int>(frame.length, MaxDataBytes);
    PayloadBuffer payload{};
    const int length = OutInitPayload(MirrorSlot, 0, TransmitFlags(false, false),
                                      EncodeId(frame.identifier, frame.remote, !frame.extended),
                                      InfoByte(count, frame.extended), frame.data.data(), count, payload);
    sentBefore_ = true;
    lastCommand_ = now;
    if (!hooks_.writeCommand || !hooks_.writeCommand(frame::OutInitialization, payload, length)) {
        commandFailures_.fetch_add(1);
        return;
    }
    sentToAdapter_.fetch_add(1);
    // What the adapter took goes to every consumer of the receive path as sent (the log's " T" line).
    BusEvent sent;
    sent.kind = BusEvent::Kind::Frame;
    sent.transmitted = true;
    sent.id = frame.identifier;
    sent.extended = frame.extended;
    sent.remote = frame.remote;
    sent.info = InfoByte(count, frame.extended);
    sent.dlc = static_cast<uint8_t>(count);
    std::copy(frame.data.begin(), frame.data.begin() + count, sent.data);
    sent.arrivalUs = ArrivalClockUs();
    PublishEvents({&sent, 1});
}

BusMirrorCounts BusMirror::Counts() const {
    BusMirrorCounts c;
    c.toBus = port_.FramesWritten();
    c.toBusOverflow = port_.FramesOverflowed();  // before the drops it is part of
    c.toBusLost = port_.FramesDropped() - c.toBusOverflow;
    c.errorsNotCarried = port_.ErrorFramesNotCarried();
    c.fromBus = fromBus_.load();
    c.fromBusOverflow = fromBusOverflow_.load();
    c.fromBusMalformed = port_.FramesMalformed();
    c.sentToAdapter = sentToAdapter_.load();
    c.notSentNoAdapter = notSentNoAdapter_.load();
    c.commandFailures = commandFailures_.load();
    return c;
}

void BusMirror::Notify(const std::string &line) {
    if (hooks_.notice) hooks_.notice(line);
}

void BusMirror::ReportLosses(Clock::time_point now) {
    if (lossNoticeBefore_ && now - lastLossNotice_ < NoticeInterval) return;
    const uint64_t toBus = port_.FramesOverflowed(), fromBus = fromBusOverflow_.load(),
                   malformed = port_.FramesMalformed();
    if (toBus == reportedToBus_ && fromBus == reportedFromBus_ && malformed == reportedMalformed_) return;
    lossNoticeBefore_ = true;
    lastLossNotice_ = now;
    if (toBus != reportedToBus_)
        Notify("adapter -> bus: " + std::to_string(toBus) +
               " frames dropped, the bus takes them slower than the adapter receives them");
    if (fromBus != reportedFromBus_)
        Notify("bus -> adapter: " + std::to_string(fromBus) +
               " frames dropped, the adapter takes one frame per " + std::to_string(CommandSpacing.count()) + " ms");
    if (malformed != reportedMalformed_)
        Notify("bus -> adapter: " + std::to_string(malformed) +
               " malformed frames dropped (identifier beyond its form, over 8 bytes, CAN FD or not a data "
               "frame)");
    reportedToBus_ = toBus;
    reportedFromBus_ = fromBus;
    reportedMalformed_ = malformed;
}
