// The emulated adapter's firmware: its answers to commands, its CAN controller with acceptance filter and
// eight transmit slots, and the traffic it "hears" on its bus.
//
// EmulatedFirmware answers every intact command frame with a report of the same type (FA F5 t 00 t AF 5F),
// after acting on it:
//   Time Initialization (4)  sets the adapter's clock (hour, minute, second, millisecond high, low).
//   CAN Initialization (1)   takes bit timing, mode and transceiver and switches the controller on; it
//                            also lifts a pause, because the host forgets its pause at every
//                            initialization and would otherwise wait for frames a paused adapter holds
//                            back. In listening mode (mode bit 8) every slot stops and none starts.
//   MC Initialization (2)    sets the acceptance filter (FirmwareModel.h) and switches reception on.
//   OUT Initialization (3)   sets up one slot; it runs only while the controller is on and not listening.
//   OUT Disable (8)          stops one slot.
//   MC Disable (7)           stops every slot and reception, until the next MC Initialization.
//   CAN Disable (6)          stops every slot, reception and bus errors, and lifts a pause, until the
//                            next CAN Initialization.
//   Pause (10)               00 resumes, any other byte pauses: no type 11 report goes to the host,
//                            received or shown back; slots keep transmitting and bus errors are reported.
// A command too short for its fields, or naming a slot above 7, is answered and otherwise ignored.
//
// Power on (plugging in, or a new firmware) is the state before any command: controller on at 250 kbit/s,
// reception on, every frame accepted, no slot running, not paused. So traffic is reported before the
// host initializes anything, which the in-process demo shows at once. Power off stops every slot.
//
// A slot sends its frame at once, and a periodic one again every period after that; a periodic slot
// that falls behind skips what it missed rather than bursting. A sent frame goes to the attached bus
// (AttachBus), and with the show-frame flag is reported back as a type 11 report on the adapter's clock.
// A frame heard on the bus (OnBusFrame) is reported only while the controller and reception are on, the
// adapter is not paused and the filter accepts it.
//
// Example: after the time command FA F5 04 05 0C 22 38 03 E7 ... the adapter answers FA F5 04 00 04 AF 5F,
// and a frame with identifier 0x123 and data 11 22 heard at once reads
//   FA F5 0B 13 00 0C 22 38 03 E7 24 60 00 00 02 11 22 00 00 00 00 00 00 9F AF 5F.
//
// SendCanFrame and SendBusError put a report on the link as it is, whatever the state above: they stand
// for the reports themselves, for tests of the host's receive path. The generator's frames and bus errors
// are heard on the bus and take the path above; its stray bytes and broken frames are link noise.
//
// Thread contract: internally locked, every public method from any thread. SimAdapter calls OnHostBytes
// and OnPowerChange on the writer's and the plugging thread; the slots run on one worker thread, started
// by the first slot set up and joined at power off and destruction; the generator runs a thread of its
// own; a bus port calls OnBusFrame on its delivery thread. Every report goes out under the state lock,
// so once a command's answer is on the link nothing it stopped follows.
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

#include "BusFrame.h"
#include "CanBusPort.h"
#include "CanReport.h"
#include "FirmwareModel.h"
#include "SimAdapter.h"

struct Reassembly;

// Rates per second of each kind of traffic; 0 switches a kind off. A rate the parser accepts lies between
// these two, so that its period (1 / rate) fits the clock and no thread floods or sleeps for ever.
constexpr double MinTrafficRate = 0.01;
constexpr double MaxTrafficRate = 1000000;
struct TrafficRates {
    double canFrames = 0;
    double busErrors = 0;
    double strayBytes = 0;  // runs of stray bytes
    double brokenFrames = 0;
};

// Parses "frames=50,errors=2,stray=1,broken=1" (any subset, any order, at least one). False with a reason
// naming the bad item on anything else: an unknown kind, or a rate that is neither 0 nor a number from
// MinTrafficRate to MaxTrafficRate ("1e-10", "inf", "nan", "-1", "lots").
bool ParseTrafficRates(std::string_view text, TrafficRates &rates, std::string &why);

// A type 11 report stamped with the given time of day.
CanReport BuildCanReport(const BusFrame &frame, int hour, int minute, int second, int millisecond);

// What the firmware holds, for inspection.
struct FirmwareState {
    bool controllerOn = true;
    bool receiving = true;
    bool paused = false;
    BusSettings bus;
    AcceptanceFilter filter;
    uint8_t runningSlots = 0;  // bit n: slot n is set up and will send again
};

class EmulatedFirmware final : public SimFirmware, public CanBusListener {
public:
    explicit EmulatedFirmware(SimAdapter &adapter);
    ~EmulatedFirmware() override;  // stops the generator and the slots, lets go of the bus

    void OnHostBytes(SimAdapter &adapter, const uint8_t *data, std::size_t count) override;
    void OnPowerChange(SimAdapter &adapter, bool plugged) override;

    // The adapter's clock: time of day in milliseconds, advancing from the last time command.
    uint32_t ClockMs() const;
    void SetClock(int hour, int minute, int second, int millisecond);

    // One report put on the link now; false when it did not fit (unplugged).
    bool SendCanFrame(const BusFrame &frame);
    bool SendBusError(uint8_t flags);

    void StartGenerator(const TrafficRates &rates);
    void StopGenerator();
    uint64_t CanFramesSent() const { return canFramesSent_.load(); }  // type 11 reports put on the link
    uint64_t CommandsAnswered() const { return commandsAnswered_.load(); }

    // The bus the slots transmit on and the firmware listens to; nullptr detaches. When it returns, the
    // previous port is no longer used or listened to, so it may be closed.
    void AttachBus(CanBusPort *port);
    void OnBusFrame(const BusFrame &frame) override;
    void OnBusError(uint8_t flags) override;

    FirmwareState State() const;
    uint64_t SlotFramesSent() const { return slotFramesSent_.load(); }  // bus attached or not

private:
    struct Slot {
        bool running = false;
        SlotSetup setup;
        std::chrono::steady_clock::time_point due;
    };

    bool Inject(const uint8_t *data, std::size_t count);
    void Generate(TrafficRates rates);
    void Act(const uint8_t *frame);  // state lock held
    void StopSlots();                // state lock held
    CanReport StampedReport(const BusFrame &frame) const;
    void ReportLocked(const BusFrame &frame);  // state lock held
    void TransmitLocked(const Slot &slot);     // state lock held
    void PowerOnStateLocked();                 // state lock held
    void EnsureWorker();
    void StopWorker();
    void RunSlots();

    SimAdapter &adapter_;
    mutable std::mutex clockMutex_;
    std::chrono::steady_clock::time_point clockSetAt_;
    uint32_t clockAtSet_ = 0;

    std::mutex parseMutex_;
    std::unique_ptr<Reassembly> parser_;  // the host's command stream, cut as the program cuts reports

    // Lock order: workerLifeMutex_, parseMutex_, stateMutex_, then the adapter's and the port's locks.
    mutable std::mutex stateMutex_;
    std::condition_variable slotsChanged_;
    bool controllerOn_ = true;
    bool receiving_ = true;
    bool paused_ = false;
    BusSettings bus_;
    AcceptanceFilter filter_;
    std::array<Slot, NumTransmitSlots> slots_{};
    uint64_t slotGeneration_ = 0;  // bumped at every change of slots_, so the worker looks again
    bool workerStop_ = false;
    CanBusPort *port_ = nullptr;

    std::mutex workerLifeMutex_;  // starting and joining worker_
    std::thread worker_;

    std::mutex generatorMutex_;
    std::condition_variable generatorWake_;
    bool generatorStop_ = false;
    std::thread generator_;

    std::atomic<uint64_t> canFramesSent_{0};
    std::atomic<uint64_t> commandsAnswered_{0};
    std::atomic<uint64_t> slotFramesSent_{0};
};
