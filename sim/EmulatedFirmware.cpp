#include "EmulatedFirmware.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <random>

#include "Commands.h"
#include "IdCoding.h"
#include "Reassembly.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr uint32_t MsPerDay = 24u * 60 * 60 * 1000;

}  // namespace

bool ParseTrafficRates(std::string_view text, TrafficRates &rates, std::string &why) {
    TrafficRates parsed = rates;
    if (text.empty()) {
        why = "traffic: no rates given (e.g. frames=20,errors=1)";
        return false;
    }
    while (!text.empty()) {
        const std::size_t comma = text.find(',');
        const std::string_view item = text.substr(0, comma);
        text = comma == std::string_view::npos ? std::string_view{} : text.substr(comma + 1);
        const std::size_t eq = item.find('=');
        if (eq == std::string_view::npos) {
            why = "traffic: \"" + std::string(item) + "\" is not name=rate";
            return false;
        }
        const std::string_view name = item.substr(0, eq), value = item.substr(eq + 1);
        double rate = 0;
        const auto [end, ec] = std::from_chars(value.data(), value.data() + value.size(), rate);
        if (ec != std::errc{} || end != value.data() + value.size() || !std::isfinite(rate) ||
            std::signbit(rate) || (rate != 0 && (rate < MinTrafficRate || rate > MaxTrafficRate))) {
            why = "traffic: bad rate \"" + std::string(value) + "\" for " + std::string(name) +
                  " (0 for none, or 0.01 to 1000000 per second)";
            return false;
        }
        if (name == "frames")
            parsed.canFrames = rate;
        else if (name == "errors")
            parsed.busErrors = rate;
        else if (name == "stray")
            parsed.strayBytes = rate;
        else if (name == "broken")
            parsed.brokenFrames = rate;
        else {
            why = "traffic: unknown kind \"" + std::string(name) + "\" (frames, errors, stray, broken)";
            return false;
        }
    }
    rates = parsed;
    return true;
}

CanReport BuildCanReport(const BusFrame &f, int hour, int minute, int second, int millisecond) {
    const uint8_t info = static_cast<uint8_t>((f.length & 0x0F) | (f.extended ? InfoExtendedFlag : 0));
    return BuildCanFrameReport(hour, minute, second, millisecond,
                               EncodeId(f.identifier, f.remote, !f.extended), info, f.data);
}

EmulatedFirmware::EmulatedFirmware(SimAdapter &adapter)
    : adapter_(adapter), clockSetAt_(Clock::now()), parser_(std::make_unique<Reassembly>()) {}

EmulatedFirmware::~EmulatedFirmware() {
    StopGenerator();
    StopWorker();
    AttachBus(nullptr);
}

uint32_t EmulatedFirmware::ClockMs() const {
    std::lock_guard lock(clockMutex_);
    const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - clockSetAt_);
    return static_cast<uint32_t>((clockAtSet_ + static_cast<uint64_t>(elapsed.count())) % MsPerDay);
}

void EmulatedFirmware::SetClock(int hour, int minute, int second, int millisecond) {
    std::lock_guard lock(clockMutex_);
    clockAtSet_ = static_cast<uint32_t>(((hour * 60 + minute) * 60 + second) * 1000 + millisecond) % MsPerDay;
    clockSetAt_ = Clock::now();
}

bool EmulatedFirmware::Inject(const uint8_t *data, std::size_t count) {
    return adapter_.InjectToHost(data, count) == count;
}

void EmulatedFirmware::OnHostBytes(SimAdapter &, const uint8_t *data, std::size_t count) {
    bool slotsRunning = false;
    {
        std::lock_guard lock(parseMutex_);
        while (count > 0) {
            const std::size_t n = std::min(count, reassembly::MaxReadSize);
            parser_->SaveMessage(data, static_cast<int>(n));
            data += n;
            count -= n;
            FrameBuffer f;
            while (parser_->TakeMessage(f)) {
                if (frame::Checksum(f) != 0) continue;  // the firmware ignores a damaged command
                std::lock_guard state(stateMutex_);
                Act(f);
                uint8_t answer[frame::Overhead];
                frame::BuildEnvelope(f[2], nullptr, 0, answer);
                Inject(answer, sizeof answer);
                commandsAnswered_.fetch_add(1);
                for (const Slot &slot : slots_) slotsRunning = slotsRunning || slot.running;
            }
        }
    }
    if (slotsRunning) EnsureWorker();
}

void EmulatedFirmware::Act(const uint8_t *f) {
    const uint8_t *p = f + 4;
    const std::size_t length = f[3];
    switch (f[2]) {
        case frame::TimeInitialization:
            if (length >= TimeInitLength) SetClock(p[0], p[1], p[2], p[3] * 256 + p[4]);
            break;
        case frame::CanInitialization:
            if (BusSettingsFromPayload(p, length, bus_)) {
                controllerOn_ = true;
                paused_ = false;
                if (bus_.Listening()) StopSlots();
            }
            break;
        case frame::McInitialization:
            if (FilterFromPayload(p, length, filter_)) receiving_ = true;
            break;
        case frame::OutInitialization: {
            SlotSetup setup;
            if (!SlotFromPayload(p, length, setup)) break;
            Slot &slot = slots_[setup.slot];
            slot.setup = setup;
            slot.running = setup.enabled && controllerOn_ && !bus_.Listening();
            slot.due = Clock::now();
            ++slotGeneration_;
            slotsChanged_.notify_all();
            break;
        }
        case frame::OutDisable:
            if (length >= OutDisableLength && p[0] < NumTransmitSlots) {
                slots_[p[0]].running = false;
                ++slotGeneration_;
                slotsChanged_.notify_all();
            }
            break;
        case frame::McDisable:
            receiving_ = false;
            StopSlots();
            break;
        case frame::CanDisable:
            controllerOn_ = false;
            paused_ = false;
            StopSlots();
            break;
        case frame::Pause:
            if (length >= PauseLength) paused_ = p[0] != PauseOff;
            break;
        default: break;
    }
}

void EmulatedFirmware::StopSlots() {
    for (Slot &slot : slots_) slot.running = false;
    ++slotGeneration_;
    slotsChanged_.notify_all();
}

void EmulatedFirmware::PowerOnStateLocked() {
    controllerOn_ = true;
    receiving_ = true;
    paused_ = false;
    bus_ = BusSettings{};
    filter_ = AcceptanceFilter{};
    StopSlots();
}

void EmulatedFirmware::OnPowerChange(SimAdapter &, bool plugged) {
    if (!plugged) StopWorker();
    {
        std::lock_guard lock(parseMutex_);
        parser_->Reset();
    }
    std::lock_guard lock(stateMutex_);
    PowerOnStateLocked();
}

CanReport EmulatedFirmware::StampedReport(const BusFrame &frame) const {
    const uint32_t now = ClockMs();
    return BuildCanReport(frame, static_cast<int>(now / 3600000), static_cast<int>(now / 60000 % 60),
                          static_cast<int>(now / 1000 % 60), static_cast<int>(now % 1000));
}

bool EmulatedFirmware::SendCanFrame(const BusFrame &frame) {
    const CanReport report = StampedReport(frame);
    if (!Inject(report.data(), report.size())) return false;
    canFramesSent_.fetch_add(1);
    return true;
}

bool EmulatedFirmware::SendBusError(uint8_t flags) {
    uint8_t report[1 + frame::Overhead];
    frame::BuildEnvelope(frame::BusErrorReport, &flags, 1, report);
    return Inject(report, sizeof report);
}

void EmulatedFirmware::ReportLocked(const BusFrame &frame) {
    const CanReport report = StampedReport(frame);
    if (Inject(report.data(), report.size())) canFramesSent_.fetch_add(1);
}

void EmulatedFirmware::OnBusFrame(const BusFrame &frame) {
    std::lock_guard lock(stateMutex_);
    if (controllerOn_ && receiving_ && !paused_ && filter_.Accepts(frame)) ReportLocked(frame);
}

void EmulatedFirmware::OnBusError(uint8_t flags) {
    std::lock_guard lock(stateMutex_);
    if (controllerOn_) SendBusError(flags);
}

void EmulatedFirmware::AttachBus(CanBusPort *port) {
    CanBusPort *old;
    {
        std::lock_guard lock(stateMutex_);
        old = port_;
        port_ = port;
    }
    // Outside the state lock: a delivery in progress may be waiting for it.
    if (old && old != port) old->SetListener(nullptr);
    if (port) port->SetListener(this);
}

FirmwareState EmulatedFirmware::State() const {
    std::lock_guard lock(stateMutex_);
    FirmwareState state;
    state.controllerOn = controllerOn_;
    state.receiving = receiving_;
    state.paused = paused_;
    state.bus = bus_;
    state.filter = filter_;
    for (std::size_t i = 0; i < slots_.size(); ++i)
        if (slots_[i].running) state.runningSlots = static_cast<uint8_t>(state.runningSlots | (1u << i));
    return state;
}

void EmulatedFirmware::TransmitLocked(const Slot &slot) {
    slotFramesSent_.fetch_add(1);
    if (port_) port_->Transmit(slot.setup.frame);
    if (slot.setup.showFrame && !paused_) ReportLocked(slot.setup.frame);
}

void EmulatedFirmware::EnsureWorker() {
    std::lock_guard life(workerLifeMutex_);
    if (worker_.joinable()) return;
    {
        std::lock_guard lock(stateMutex_);
        workerStop_ = false;
    }
    worker_ = std::thread([this] { RunSlots(); });
}

void EmulatedFirmware::StopWorker() {
    std::lock_guard life(workerLifeMutex_);
    {
        std::lock_guard lock(stateMutex_);
        workerStop_ = true;
    }
    slotsChanged_.notify_all();
    if (worker_.joinable()) worker_.join();
}

// One thread for all eight slots: it sleeps until the earliest slot is due or the slots change.
void EmulatedFirmware::RunSlots() {
    std::unique_lock lock(stateMutex_);
    while (!workerStop_) {
        const uint64_t seen = slotGeneration_;
        const auto changed = [&] { return workerStop_ || slotGeneration_ != seen; };
        auto next = Clock::time_point::max();
        for (const Slot &slot : slots_)
            if (slot.running) next = std::min(next, slot.due);
        if (next == Clock::time_point::max()) {
            slotsChanged_.wait(lock, changed);
            continue;
        }
        if (slotsChanged_.wait_until(lock, next, changed)) continue;
        const auto now = Clock::now();
        for (Slot &slot : slots_) {
            if (!slot.running || slot.due > now) continue;
            TransmitLocked(slot);
            if (!slot.setup.periodic) {
                slot.running = false;
                continue;
            }
            slot.due += slot.setup.period;
            if (slot.due <= now) slot.due += slot.setup.period * ((now - slot.due) / slot.setup.period + 1);
        }
    }
}

void EmulatedFirmware::StartGenerator(const TrafficRates &rates) {
    StopGenerator();
    {
        std::lock_guard lock(generatorMutex_);
        generatorStop_ = false;
    }
    generator_ = std::thread([this, rates] { Generate(rates); });
}

void EmulatedFirmware::StopGenerator() {
    {
        std::lock_guard lock(generatorMutex_);
        generatorStop_ = true;
    }
    generatorWake_.notify_all();
    if (generator_.joinable()) generator_.join();
}

// Each kind keeps its own schedule; the thread sleeps until the earliest one is due.
void EmulatedFirmware::Generate(TrafficRates rates) {
    enum Kind { Frames, Errors, Stray, Broken, KindCount };
    const double perSecond[KindCount] = {rates.canFrames, rates.busErrors, rates.strayBytes,
                                         rates.brokenFrames};
    Clock::time_point due[KindCount];
    Clock::duration period[KindCount];
    const auto start = Clock::now();
    for (int k = 0; k < KindCount; ++k) {
        period[k] = perSecond[k] > 0 ? std::chrono::duration_cast<Clock::duration>(
                                           std::chrono::duration<double>(1.0 / perSecond[k]))
                                     : Clock::duration::max();
        due[k] = perSecond[k] > 0 ? start + period[k] : Clock::time_point::max();
    }
    std::mt19937 random(12345);
    uint32_t serial = 0;

    std::unique_lock lock(generatorMutex_);
    for (;;) {
        const auto next = *std::min_element(due, due + KindCount);
        if (next == Clock::time_point::max()) {
            generatorWake_.wait(lock, [this] { return generatorStop_; });
            return;
        }
        if (generatorWake_.wait_until(lock, next, [this] { return generatorStop_; })) return;
        const auto now = Clock::now();
        for (int k = 0; k < KindCount; ++k) {
            while (due[k] <= now) {
                due[k] += period[k];
                lock.unlock();
                if (k == Frames) {
                    BusFrame f;
                    f.extended = (serial % 4) == 3;
                    f.identifier = f.extended ? (random() & 0x1FFFFFFF) : (random() & 0x7FF);
                    f.length = static_cast<uint8_t>(serial % 9);
                    for (auto &b : f.data) b = static_cast<uint8_t>(random());
                    ++serial;
                    OnBusFrame(f);
                } else if (k == Errors) {
                    OnBusError(static_cast<uint8_t>(1u << (random() % 4)));
                } else if (k == Stray) {
                    uint8_t junk[5];
                    for (auto &b : junk) b = static_cast<uint8_t>(random() % 0xF0);  // never a start byte
                    Inject(junk, sizeof junk);
                } else {
                    CanReport report = BuildCanReport(BusFrame{}, 0, 0, 0, 0);
                    if (random() % 2) {
                        report[CanReportSize - 3] ^= 0x55;  // wrong checksum: cut out, then dropped
                        Inject(report.data(), report.size());
                    } else {
                        Inject(report.data(), 10);  // cut short: the next frame's start pair wins
                    }
                }
                lock.lock();
                if (generatorStop_) return;
            }
        }
    }
}
