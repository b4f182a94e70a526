#include "ReceivePump.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>

#include "D2XXUnit.h"
#include "PresenceWatch.h"
#include "Reassembly.h"
#include "UnitThread.h"

std::atomic<uint8_t> PauseState{0};

namespace {

static_assert(LinkBufferSize == reassembly::MaxReadSize);

// The carry, the queue and the work buffer: about 1.3 MB, allocated once with the process. Only the
// holder of the gate touches it, and the consumer list below.
Reassembly rxStream;
PumpConsumer *consumers[MaxPumpConsumers]{};
int consumerCount = 0;

// Window-thread callers waiting for the gate; the receive thread lets them in before its next pass.
std::atomic<int> gateWaiters{0};
std::mutex yieldMutex;
std::condition_variable gateFree;
// Bounds the receive thread's courtesy wait, should a waiter be slow to take the gate it was let into.
constexpr std::chrono::milliseconds GateYieldLimit{100};

// Hands each decoded frame to every consumer.
class FanOut final : public DecodeSink {
public:
    void CanFrame(int Hour, int Minute, int Second, int Millisecond, uint32_t Identifier, uint8_t Info,
                  const uint8_t (&Data)[8]) override {
        CanFrameWithRemote(Hour, Minute, Second, Millisecond, Identifier, Info, false, Data);
    }
    void CanFrameWithRemote(int Hour, int Minute, int Second, int Millisecond, uint32_t Identifier,
                            uint8_t Info, bool Remote, const uint8_t (&Data)[8]) override {
        for (int i = 0; i < consumerCount; ++i)
            consumers[i]->CanFrameWithRemote(Hour, Minute, Second, Millisecond, Identifier, Info, Remote, Data);
    }
    void BusError(uint8_t Flags) override {
        for (int i = 0; i < consumerCount; ++i) consumers[i]->BusError(Flags);
    }
    void CommandReport(uint8_t Type) override {
        for (int i = 0; i < consumerCount; ++i) consumers[i]->CommandReport(Type);
    }
};

}  // namespace

bool AddPumpConsumer(PumpConsumer *consumer) {
    auto hold = EnterPumpGate();
    if (consumerCount == MaxPumpConsumers) return false;
    if (std::find(consumers, consumers + consumerCount, consumer) != consumers + consumerCount) return false;
    consumers[consumerCount++] = consumer;
    return true;
}

void RemovePumpConsumer(PumpConsumer *consumer) {
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
    rxStream.SaveMessage(InBuffer, static_cast<int>(count));

    FanOut sink;
    FrameBuffer msg;
    while (rxStream.TakeMessage(msg)) DecodeMessage(msg, PauseState.load() != 0, sink);
    for (int i = 0; i < consumerCount; ++i) consumers[i]->EndOfPump();
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

void ResetReceiveStream() {
    auto hold = EnterPumpGate();
    rxStream.Reset();
}
