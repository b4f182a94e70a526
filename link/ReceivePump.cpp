#include "ReceivePump.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <ctime>

#include "CommandWrite.h"
#include "D2XXUnit.h"
#include "Decode.h"
#include "PresenceWatch.h"
#include "Reassembly.h"
#include "UnitThread.h"

std::atomic<uint8_t> PauseState{0};

namespace {

static_assert(LinkBufferSize == reassembly::MaxReadSize);

// The carry, the queue and the work buffer: about 1.3 MB, allocated once with the process; the batch of
// events on its way to the consumers. Only the holder of the gate touches them, and the consumer list.
Reassembly rxStream;
BusEvent batch[PumpBatchSize];
BusConsumer *consumers[MaxPumpConsumers]{};
int consumerCount = 0;

std::atomic<int64_t> badChecksum{0}, bytesSkipped{0}, queueFull{0};

// Window-thread callers waiting for the gate; the receive thread lets them in before its next pass.
std::atomic<int> gateWaiters{0};
std::mutex yieldMutex;
std::condition_variable gateFree;
// Bounds the receive thread's courtesy wait, should a waiter be slow to take the gate it was let into.
constexpr std::chrono::milliseconds GateYieldLimit{100};

void HandOver(int count) {
    if (count == 0) return;
    const std::span<const BusEvent> events(batch, static_cast<std::size_t>(count));
    for (int i = 0; i < consumerCount; ++i) consumers[i]->Take(events);
}

}  // namespace

ReceiveCounts TheReceiveCounts() { return {bytesSkipped.load(), badChecksum.load(), queueFull.load()}; }

int64_t ArrivalClockUs() {
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    return int64_t{now.tv_sec} * 1'000'000 + now.tv_nsec / 1000;
}

bool AddPumpConsumer(BusConsumer *consumer) {
    auto hold = EnterPumpGate();
    if (consumerCount == MaxPumpConsumers) return false;
    if (std::find(consumers, consumers + consumerCount, consumer) != consumers + consumerCount) return false;
    consumers[consumerCount++] = consumer;
    return true;
}

void RemovePumpConsumer(BusConsumer *consumer) {
    auto hold = EnterPumpGate();
    auto *end = std::remove(consumers, consumers + consumerCount, consumer);
    consumerCount = static_cast<int>(end - consumers);
}

std::unique_lock<std::mutex> EnterPumpGate() {
    gateWaiters.fetch_add(1);
    std::unique_lock hold(PumpMutex);
    if (gateWaiters.fetch_sub(1) == 1) {
        std::lock_guard lock(yieldMutex);
        gateFree.notify_all();
    }
    return hold;
}

DWORD RunPump(DWORD readCount) {
    ShowLinkErrors.store(false);
    const DWORD count = ReadFTDevice(std::min(readCount, LinkBufferSize));
    const int64_t arrival = ArrivalClockUs();
    const bool clockSet = AdapterClockSet.load();
    const long skippedBefore = rxStream.SkippedBytes, droppedBefore = rxStream.DroppedFrames;
    rxStream.SaveMessage(InBuffer, static_cast<int>(count));
    bytesSkipped.fetch_add(rxStream.SkippedBytes - skippedBefore, std::memory_order_relaxed);
    queueFull.fetch_add(rxStream.DroppedFrames - droppedBefore, std::memory_order_relaxed);

    FrameBuffer msg;
    int n = 0;
    while (rxStream.TakeMessage(msg)) {
        BusEvent &event = batch[n];
        event = BusEvent{};
        event.arrivalUs = arrival;
        event.adapterClockSet = clockSet;
        switch (DecodeMessage(msg, PauseState.load() != 0, event)) {
            case Decoded::Event:
                if (++n == PumpBatchSize) {
                    HandOver(n);
                    n = 0;
                }
                break;
            case Decoded::BadChecksum: badChecksum.fetch_add(1, std::memory_order_relaxed); break;
            case Decoded::Dropped: break;
        }
    }
    HandOver(n);
    return count;
}

bool ReceivePass() {
    if (gateWaiters.load() > 0) {
        std::unique_lock lock(yieldMutex);
        gateFree.wait_for(lock, GateYieldLimit, [] { return gateWaiters.load() == 0; });
    }
    std::lock_guard hold(PumpMutex);
    if (!DevicePresent.load()) return false;
    const auto waiting = static_cast<int32_t>(GetFTRxCount());
    if (waiting <= 0) return false;
    // Reading what is known to wait returns at once; asking for the whole buffer would sit out the read
    // time-out whenever less than that has arrived.
    const DWORD asked = std::min(static_cast<DWORD>(waiting), LinkBufferSize);
    const DWORD read = RunPump(asked);
    // A read that failed says nothing of what waits: back to the event's pace until the watch decides.
    return read > 0 && (read == LinkBufferSize || static_cast<DWORD>(waiting) > read);
}

void PublishEvents(std::span<const BusEvent> events) {
    if (events.empty()) return;
    auto hold = EnterPumpGate();
    for (int i = 0; i < consumerCount; ++i) consumers[i]->Take(events);
}

void ResetReceiveStream() {
    auto hold = EnterPumpGate();
    rxStream.Reset();
    bytesSkipped.store(0);
    badChecksum.store(0);
    queueFull.store(0);
}
