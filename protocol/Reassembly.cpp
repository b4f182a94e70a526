#include "Reassembly.h"

#include <algorithm>
#include <cstring>

using namespace reassembly;

namespace {

// MessIdent with a hint: only the first `dirty` bytes of Frame can be other than zero, and only those
// are cleared past the new frame's end; on success `dirty` becomes the frame's length. Clearing the
// whole slot for every frame cost more than the rest of the cutting.
bool CutFrame(const uint8_t *Work, int N, int &Pos, int &CarryCount, FrameBuffer &Frame, std::size_t &dirty,
              long *skipped = nullptr) {
    CarryCount = 0;
    int p = Pos;
    for (; p < N; ++p, ++CarryCount) {
        const frame::Match match = frame::MatchAt(Work + p, static_cast<std::size_t>(N - p));
        if (match.kind != frame::Match::Whole) continue;
        const std::size_t size = match.size;
        std::memcpy(Frame, Work + p, size);
        if (dirty > size) std::memset(Frame + size, 0, dirty - size);
        dirty = size;
        if (skipped) *skipped += p - Pos;
        Pos = p + static_cast<int>(size);
        CarryCount = 0;
        return true;
    }
    Pos = p;
    return false;
}

// Where the part of a long tail worth keeping begins: the first of its last MaxFrame - 1 bytes at which
// a frame could still begin. A frame starting earlier had all its bytes in the tail and was judged
// already. `count` when there is no such place.
int UnfinishedFrameStart(const uint8_t *tail, int count) {
    constexpr int reach = static_cast<int>(frame::MaxFrame) - 1;
    for (int p = std::max(0, count - reach); p < count; ++p)
        if (frame::MatchAt(tail + p, static_cast<std::size_t>(count - p)).kind != frame::Match::NotAFrame)
            return p;
    return count;
}

}  // namespace

bool MessIdent(const uint8_t *Work, int N, int &Pos, int &CarryCount, FrameBuffer &Frame) {
    std::size_t dirty = FrameBufferSize;
    return CutFrame(Work, N, Pos, CarryCount, Frame, dirty);
}

void Reassembly::SaveMessage(const uint8_t *Data, int Count) {
    Count = std::clamp(Count, 0, static_cast<int>(MaxReadSize));
    // The 1000-byte rule drops a long tail's stray bytes, but not the start of a frame this read may
    // finish: noise in front of a frame that straddles two reads would otherwise cost the frame.
    int keepFrom = 0;
    if (CarryCount > CarryDropLimit) {
        keepFrom = UnfinishedFrameStart(CarryBuffer, CarryCount);
        CarryCount -= keepFrom;
        SkippedBytes += keepFrom;
    }

    std::memcpy(work_, CarryBuffer + keepFrom, static_cast<std::size_t>(CarryCount));
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
        std::size_t dirty = full ? FrameBufferSize : slotUsed_[tail];
        if (!CutFrame(work_, n, pos, CarryCount, slot, dirty, &SkippedBytes)) break;
        if (full) {
            ++DroppedFrames;
        } else {
            slotUsed_[tail] = static_cast<uint16_t>(dirty);
            ++FrameQueueCount;
        }
    }

    // CarryCount now counts the bytes after the last frame. Of a tail beyond the buffer the next save's
    // 1000-byte rule keeps at most the last MaxFrame - 1 bytes anyway; keep the buffer's worth of its
    // last bytes and a count that still exceeds the limit.
    if (CarryCount > static_cast<int>(CarryBufferSize)) {
        SkippedBytes += CarryCount - static_cast<int>(CarryBufferSize);
        CarryCount = static_cast<int>(CarryBufferSize);
    }
    if (CarryCount > 0)
        std::memcpy(CarryBuffer, work_ + n - CarryCount, static_cast<std::size_t>(CarryCount));
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
    SkippedBytes = 0;
}
