#include "Reassembly.h"

#include <algorithm>
#include <cstring>

using namespace reassembly;

bool MessIdent(const uint8_t *Work, int N, int &Pos, int &CarryCount, FrameBuffer &Frame) {
    CarryCount = 0;
    int p = Pos;
    for (; p < N; ++p, ++CarryCount) {
        if (p + static_cast<int>(frame::Overhead) > N) continue;
        if (Work[p] != frame::Start1 || Work[p + 1] != frame::Start2) continue;
        const int length = Work[p + 3];
        const int total = length + static_cast<int>(frame::Overhead);
        if (p + total > N) continue;
        if (Work[p + length + 5] != frame::End1 || Work[p + length + 6] != frame::End2) continue;
        std::memcpy(Frame, Work + p, static_cast<std::size_t>(total));
        std::memset(Frame + total, 0, FrameBufferSize - static_cast<std::size_t>(total));
        Pos = p + total;
        CarryCount = 0;
        return true;
    }
    Pos = p;
    return false;
}

void Reassembly::SaveMessage(const uint8_t *Data, int Count) {
    Count = std::clamp(Count, 0, static_cast<int>(MaxReadSize));
    if (CarryCount > CarryDropLimit) CarryCount = 0;

    std::memcpy(work_, CarryBuffer, static_cast<std::size_t>(CarryCount));
    if (Count > 0) std::memcpy(work_ + CarryCount, Data, static_cast<std::size_t>(Count));
    const int n = CarryCount + Count;

    int pos = 0;
    for (;;) {
        // Cut straight into the next free slot; a frame that finds the queue full goes to a scratch
        // slot and is counted as dropped, so the scan (and the carry) stay as if it had been queued.
        const bool full = FrameQueueCount >= static_cast<int>(QueueCapacity);
        const int tail = (FrameQueueHead + FrameQueueCount) % static_cast<int>(QueueCapacity);
        FrameBuffer scratch;
        FrameBuffer &slot = full ? scratch : FrameQueue[tail];
        if (!MessIdent(work_, n, pos, CarryCount, slot)) break;
        if (full)
            ++DroppedFrames;
        else
            ++FrameQueueCount;
    }

    // CarryCount now counts the bytes after the last frame. A tail beyond the buffer would be dropped
    // by the next save's 1000-byte rule anyway; keep its last bytes and a count that still exceeds it.
    if (CarryCount > static_cast<int>(CarryBufferSize)) CarryCount = static_cast<int>(CarryBufferSize);
    if (CarryCount > 0) std::memcpy(CarryBuffer, work_ + n - CarryCount, static_cast<std::size_t>(CarryCount));
}

bool Reassembly::TakeMessage(FrameBuffer &Msg) {
    if (FrameQueueCount == 0) return false;
    std::memcpy(Msg, FrameQueue[FrameQueueHead], FrameBufferSize);
    FrameQueueHead = (FrameQueueHead + 1) % static_cast<int>(QueueCapacity);
    --FrameQueueCount;
    if (FrameQueueCount == 0) FrameQueueHead = 0;
    return true;
}

void Reassembly::Reset() {
    CarryCount = 0;
    FrameQueueHead = 0;
    FrameQueueCount = 0;
    DroppedFrames = 0;
}
