// The emulated adapter's own traffic: its answers to commands and what it "receives" from the bus.
//
// EmulatedFirmware answers every intact command frame with a report of the same type (FA F5 t 00 t AF 5F),
// keeps the adapter's clock (set by the time command, code 4: hour, minute, second, millisecond high,
// low) and, while its generator runs, puts on the link at the chosen rates:
//   CAN frame reports (type 11, 19 payload bytes, stamped with the adapter's clock),
//   bus error reports (type 13, one flag byte),
//   stray bytes (runs of bytes that hold no frame) and broken frames (a report with a wrong checksum, or
//   one cut short and never finished).
// Example: after the time command FA F5 04 05 0C 22 38 03 E7 ... the adapter answers FA F5 04 00 04 AF 5F,
// and a frame with identifier 0x123 and data 11 22 sent at once reads
//   FA F5 0B 13 00 0C 22 38 03 E7 24 60 00 00 02 11 22 00 00 00 00 00 00 9F AF 5F.
//
// Thread contract: internally locked. SimAdapter calls OnHostBytes on the writer's thread; the generator
// runs a thread of its own; tests call the Send... methods from theirs.
#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>

#include "SimAdapter.h"

struct Reassembly;

// Rates per second of each kind of traffic; 0 switches a kind off.
struct TrafficRates {
    double canFrames = 0;
    double busErrors = 0;
    double strayBytes = 0;   // runs of stray bytes
    double brokenFrames = 0;
};

// Parses "frames=50,errors=2,stray=1,broken=1" (any subset, any order). False with a reason on a bad item.
bool ParseTrafficRates(std::string_view text, TrafficRates &rates, std::string &why);

struct CanFrameSpec {
    uint32_t identifier = 0;
    bool extended = false;
    bool remote = false;
    uint8_t length = 0;  // data length code as sent in the info byte, 0..15
    std::array<uint8_t, 8> data{};
};

constexpr std::size_t CanReportSize = 26;
using CanReport = std::array<uint8_t, CanReportSize>;

// A type 11 report stamped with the given time of day.
CanReport BuildCanReport(const CanFrameSpec &frame, int hour, int minute, int second, int millisecond);
// Any report: FA F5 type L payload checksum AF 5F into out (room for L + 7 bytes); returns L + 7.
std::size_t BuildReport(uint8_t type, const uint8_t *payload, uint8_t length, uint8_t *out);

class EmulatedFirmware final : public SimFirmware {
public:
    explicit EmulatedFirmware(SimAdapter &adapter);
    ~EmulatedFirmware() override;  // stops the generator

    void OnHostBytes(SimAdapter &adapter, const uint8_t *data, std::size_t count) override;
    void OnPowerChange(SimAdapter &adapter, bool plugged) override;

    // The adapter's clock: time of day in milliseconds, advancing from the last time command.
    uint32_t ClockMs() const;
    void SetClock(int hour, int minute, int second, int millisecond);

    // One report put on the link now; false when it did not fit (unplugged).
    bool SendCanFrame(const CanFrameSpec &frame);
    bool SendBusError(uint8_t flags);

    void StartGenerator(const TrafficRates &rates);
    void StopGenerator();
    uint64_t CanFramesSent() const { return canFramesSent_.load(); }
    uint64_t CommandsAnswered() const { return commandsAnswered_.load(); }

private:
    bool Inject(const uint8_t *data, std::size_t count);
    void Generate(TrafficRates rates);

    SimAdapter &adapter_;
    mutable std::mutex clockMutex_;
    std::chrono::steady_clock::time_point clockSetAt_;
    uint32_t clockAtSet_ = 0;

    std::mutex parseMutex_;
    std::unique_ptr<Reassembly> parser_;  // the host's command stream, cut as the program cuts reports

    std::mutex generatorMutex_;
    std::condition_variable generatorWake_;
    bool generatorStop_ = false;
    std::thread generator_;

    std::atomic<uint64_t> canFramesSent_{0};
    std::atomic<uint64_t> commandsAnswered_{0};
};
