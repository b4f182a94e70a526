// The adapter as a node of a Qt SerialBus bus (socketcan:vcan0, virtualcan:can0, any installed plugin),
// both ways:
//  - adapter to bus: every CAN frame the receive pump decodes goes onto the bus once, with its identifier,
//    11/29-bit form, remote flag, length (the info byte's length code, at most 8) and data; a bus error
//    report goes as an error frame where the plugin carries error frames (QtCanBusPort::CarriesErrorFrames).
//  - bus to adapter: a frame another node writes on the bus is queued, and the owner's TransmitNext sends
//    it as a one-shot OUT Initialization on slot MirrorSlot (not periodic, sent frame not reported back),
//    one command per CommandSpacing at most, and only while the adapter can transmit (present, not
//    listening). Each frame the adapter took is handed to every consumer of the receive path as a
//    transmitted event (BusEvent::transmitted; the log writes it as a sent line), never back to the bus.
//
// No loops: the bus device does not hand back the frames it wrote itself (they carry Qt's local echo
// mark, and socketcan does not receive its own frames unless asked to), and a frame the adapter transmits
// for the mirror is not reported back by the adapter (the show-frame flag is off), so it never returns to
// the bus it came from.
//
// Threads:
//  - The receive thread (or whoever runs the pump) calls Take: it copies each frame into the
//    bus port's bounded ring (BusQueueCapacity, allocated once) and never waits for the bus; a full ring
//    drops the frame and counts it.
//  - The bus port's own thread runs the device and puts frames from other nodes into the adapter queue
//    (AdapterQueueCapacity; overflow dropped and counted).
//  - The owner's thread (the window thread for the window, the main thread for the console gateway) calls
//    everything else: Start, Stop, Attach, Detach, TransmitNext, and the hooks are called there only.
//
// Use:
//   BusMirror mirror(choice, {.writeCommand = ..., .canTransmit = ..., .notice = ...});
//   if (mirror.Start()) mirror.Attach();          // a failed Start has already told `notice` why
//   timer every BusMirror::TickInterval -> mirror.TransmitNext();
//   ... mirror.Detach(); mirror.Stop();            // or let the destructor do both
//
// A bus that fails or goes away is reported once through `notice` (from TransmitNext); the adapter side
// keeps working, and frames meant for the bus are counted as lost. Frames dropped in either direction
// (a full queue, a bus that does not read, a malformed frame from the bus) are reported through `notice`
// too, at most once per NoticeInterval, one plain line per direction with the totals so far:
//   "bus -> adapter: 134 frames dropped, the adapter takes one frame per 100 ms"
//
// Qt's virtualcan is a TCP server on localhost that any local user may join: Start says so once through
// `notice`, as a warning, when that is the bus.
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>

#include "BusFrame.h"
#include "CanBusPort.h"
#include "Commands.h"
#include "QtCanBusPort.h"
#include "AdapterSequences.h"  // CommandSpacing
#include "ReceivePump.h"

struct BusMirrorHooks {
    // Sends one command to the adapter: code, payload, payload length; true when it went out whole. The
    // window passes its CreateMessage.
    std::function<bool(int code, const PayloadBuffer &payload, int length)> writeCommand;
    // The adapter is present and not in listening mode.
    std::function<bool()> canTransmit;
    // A line for the operator (status line, stderr): a bus that did not open or was lost, frames lost.
    std::function<void(const std::string &line)> notice;
};

// What the mirror has done so far; every field only grows.
struct BusMirrorCounts {
    uint64_t toBus = 0;              // frames and error frames written on the bus
    uint64_t toBusOverflow = 0;      // not put on the bus: its queue was full or the bus not reading
    uint64_t toBusLost = 0;          // not put on the bus otherwise: bus closed, lost or refusing
    uint64_t errorsNotCarried = 0;   // bus error reports the plugin cannot carry as error frames
    uint64_t fromBus = 0;            // frames other nodes wrote, taken into the adapter queue
    uint64_t fromBusOverflow = 0;    // not taken: the adapter queue was full
    uint64_t fromBusMalformed = 0;   // not taken: malformed (QtCanBusPort::FramesMalformed)
    uint64_t sentToAdapter = 0;      // transmit commands the adapter took
    uint64_t notSentNoAdapter = 0;   // dropped while the adapter was absent or listening
    uint64_t commandFailures = 0;    // transmit commands that did not go out whole
};

class BusMirror final : public BusConsumer, private CanBusListener {
public:
    // The transmit slot the mirror uses; the window's transmit panel uses slot 0.
    static constexpr uint8_t MirrorSlot = 7;
    // How often the owner should call TransmitNext: the gap between two commands is CommandSpacing plus at most
    // this.
    static constexpr std::chrono::milliseconds TickInterval{10};
    static constexpr std::chrono::milliseconds NoticeInterval{1000};
    // 8,192 frames: more than six full 32 KiB reads of reports.
    static constexpr std::size_t BusQueueCapacity = 8192;
    // 64 frames: 6.4 s of commands at the adapter's pace; a longer backlog would only be stale.
    static constexpr std::size_t AdapterQueueCapacity = 64;

    BusMirror(BusChoice choice, BusMirrorHooks hooks);
    ~BusMirror() override;  // Detach, then Stop
    BusMirror(const BusMirror &) = delete;
    BusMirror &operator=(const BusMirror &) = delete;

    // Opens the bus (blocks for the connection, up to QtCanBusPort::ConnectTimeout). On failure the
    // reason goes to `notice` once and false is returned; the mirror may stay attached and then counts
    // what it could not put on the bus.
    bool Start();
    void Stop();  // closes the bus; what waits in either queue is dropped
    bool Attach();  // becomes a pump consumer; false when the pump has no room or it is attached
    void Detach();

    // The owner's timer: reports what is to be reported, then sends the oldest queued frame when CommandSpacing
    // has passed since the last command and the adapter can transmit. Never waits.
    void TransmitNext();

    BusMirrorCounts Counts() const;  // any thread
    const BusChoice &Choice() const { return choice_; }

    // The receive path's side (the pump's thread): frames and bus error reports go onto the bus; frames
    // the adapter transmitted for the mirror itself do not.
    void Take(std::span<const BusEvent> events) override;

private:
    using Clock = std::chrono::steady_clock;

    // The bus port's thread.
    void OnBusFrame(const BusFrame &frame) override;
    void OnBusError(uint8_t) override {}  // the adapter cannot send error frames
    void OnBusLost(const std::string &why) override;

    void Notify(const std::string &line);
    void ReportLosses(Clock::time_point now);

    BusChoice choice_;
    BusMirrorHooks hooks_;
    QtCanBusPort port_;
    bool attached_ = false;

    // Frames from other nodes, oldest first; bus thread in, owner out.
    std::mutex adapterMutex_;
    BusFrame adapterQueue_[AdapterQueueCapacity];
    std::size_t adapterHead_ = 0, adapterCount_ = 0;

    std::mutex lostMutex_;
    std::string lostWhy_;  // set once by the bus thread, reported by the owner
    std::atomic<bool> lostPending_{false};

    std::atomic<uint64_t> fromBus_{0};
    std::atomic<uint64_t> fromBusOverflow_{0};
    std::atomic<uint64_t> sentToAdapter_{0}, notSentNoAdapter_{0}, commandFailures_{0};
    // Owner's thread only.
    bool sentBefore_ = false;
    Clock::time_point lastCommand_{};
    uint64_t reportedToBus_ = 0, reportedFromBus_ = 0, reportedMalformed_ = 0;
    Clock::time_point lastLossNotice_{};
    bool lossNoticeBefore_ = false;
};
