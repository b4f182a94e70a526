#include "Traffic.h"

#include <algorithm>
#include <charconv>
#include <random>

#include "IdCoding.h"
#include "Reassembly.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr uint32_t MsPerDay = 24u * 60 * 60 * 1000;
constexpr uint8_t CanReportPayload = 19;  // byte 4 unused, time 5..9, ID 10..13, info 14, data 15..22

}  // namespace

bool ParseTrafficRates(std::string_view text, TrafficRates &rates, std::string &why) {
    TrafficRates parsed = rates;
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
        if (ec != std::errc{} || end != value.data() + value.size() || rate < 0) {
            why = "traffic: bad rate \"" + std::string(value) + "\"";
            return false;
        }
        if (name == "frames") parsed.canFrames = rate;
        else if (name == "errors") parsed.busErrors = rate;
        else if (name == "stray") parsed.strayBytes = rate;
        else if (name == "broken") parsed.brokenFrames = rate;
        else {
            why = "traffic: unknown kind \"" + std::string(name) + "\" (frames, errors, stray, broken)";
            return false;
        }
    }
    rates = parsed;
    return true;
}

std::size_t BuildReport(uint8_t type, const uint8_t *payload, uint8_t length, uint8_t *out) {
    out[0] = frame::Start1;
    out[1] = frame::Start2;
    out[2] = type;
    out[3] = length;
    uint8_t sum = type ^ length;
    for (std::size_t i = 0; i < length; ++i) {
        out[4 + i] = payload[i];
        sum ^= payload[i];
    }
    out[4 + length] = sum;
    out[5 + length] = frame::End1;
    out[6 + length] = frame::End2;
    return length + frame::Overhead;
}

CanReport BuildCanReport(const CanFrameSpec &f, int hour, int minute, int second, int millisecond) {
    uint8_t payload[CanReportPayload]{};
    payload[1] = static_cast<uint8_t>(hour);
    payload[2] = static_cast<uint8_t>(minute);
    payload[3] = static_cast<uint8_t>(second);
    payload[4] = static_cast<uint8_t>(millisecond >> 8);
    payload[5] = static_cast<uint8_t>(millisecond & 0xFF);
    const IdBytes id = EncodeId(f.identifier, f.remote, !f.extended);
    payload[6] = id.ID1;
    payload[7] = id.ID2;
    payload[8] = id.ID3;
    payload[9] = id.ID4;
    payload[10] = static_cast<uint8_t>((f.length & 0x0F) | (f.extended ? InfoExtendedFlag : 0));
    std::copy(f.data.begin(), f.data.end(), payload + 11);
    CanReport report{};
    BuildReport(frame::CanFrameReport, payload, CanReportPayload, report.data());
    return report;
}

EmulatedFirmware::EmulatedFirmware(SimAdapter &adapter)
    : adapter_(adapter), clockSetAt_(Clock::now()), parser_(std::make_unique<Reassembly>()) {}

EmulatedFirmware::~EmulatedFirmware() { StopGenerator(); }

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
    std::lock_guard lock(parseMutex_);
    while (count > 0) {
        const std::size_t n = std::min(count, reassembly::MaxReadSize);
        parser_->SaveMessage(data, static_cast<int>(n));
        data += n;
        count -= n;
        FrameBuffer f;
        while (parser_->TakeMessage(f)) {
            uint8_t sum = 0;
            for (int i = 2; i <= f[3] + 4; ++i) sum ^= f[i];
            if (sum != 0) continue;  // the firmware ignores a damaged command
            const uint8_t type = f[2];
            if (type == frame::TimeInitialization && f[3] >= 5) SetClock(f[4], f[5], f[6], f[7] * 256 + f[8]);
            uint8_t answer[frame::Overhead];
            BuildReport(type, nullptr, 0, answer);
            Inject(answer, sizeof answer);
            commandsAnswered_.fetch_add(1);
        }
    }
}

void EmulatedFirmware::OnPowerChange(SimAdapter &, bool) {
    std::lock_guard lock(parseMutex_);
    parser_->Reset();
}

bool EmulatedFirmware::SendCanFrame(const CanFrameSpec &frame) {
    const uint32_t now = ClockMs();
    const CanReport report = BuildCanReport(frame, static_cast<int>(now / 3600000), static_cast<int>(now / 60000 % 60),
                                            static_cast<int>(now / 1000 % 60), static_cast<int>(now % 1000));
    if (!Inject(report.data(), report.size())) return false;
    canFramesSent_.fetch_add(1);
    return true;
}

bool EmulatedFirmware::SendBusError(uint8_t flags) {
    uint8_t report[1 + frame::Overhead];
    BuildReport(frame::BusErrorReport, &flags, 1, report);
    return Inject(report, sizeof report);
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
    const double perSecond[KindCount] = {rates.canFrames, rates.busErrors, rates.strayBytes, rates.brokenFrames};
    Clock::time_point due[KindCount];
    Clock::duration period[KindCount];
    const auto start = Clock::now();
    for (int k = 0; k < KindCount; ++k) {
        period[k] = perSecond[k] > 0 ? std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(1.0 / perSecond[k]))
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
                    CanFrameSpec f;
                    f.extended = (serial % 4) == 3;
                    f.identifier = f.extended ? (random() & 0x1FFFFFFF) : (random() & 0x7FF);
                    f.length = static_cast<uint8_t>(serial % 9);
                    for (auto &b : f.data) b = static_cast<uint8_t>(random());
                    ++serial;
                    SendCanFrame(f);
                } else if (k == Errors) {
                    SendBusError(static_cast<uint8_t>(1u << (random() % 4)));
                } else if (k == Stray) {
                    uint8_t junk[5];
                    for (auto &b : junk) b = static_cast<uint8_t>(random() % 0xF0);  // never a start byte
                    Inject(junk, sizeof junk);
                } else {
                    CanReport report = BuildCanReport(CanFrameSpec{}, 0, 0, 0, 0);
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
