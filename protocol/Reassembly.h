// Cutting the adapter's byte stream into whole frames, and the queue that hands them to the decoder.
//
// The link delivers reads of any size: a read may end inside a frame, hold many frames, or carry stray
// bytes. A frame is recognised by its start pair, its length byte and its end pair alone (frame::MatchAt);
// checksum and type are the decoder's business. Example, two reads:
//   00 FA F5 06 00 06 AF 5F FA F5 0A  -> queues FA F5 06 00 06 AF 5F, drops the 00, carries FA F5 0A
//   01 FF F4 AF 5F                    -> queues FA F5 0A 01 FF F4 AF 5F, carries nothing
//
// Bounds, chosen so that no frame the stream holds is lost and nothing is written past a buffer:
// - A slot holds FrameBufferSize bytes, enough for the longest frame (length byte 255 -> 262 bytes).
//   The bytes of a slot past its frame's end are zero, so a reader of fixed offsets never sees a
//   previous frame's bytes.
// - A carry of more than 1000 bytes loses its stray bytes at the next save: only the bytes from the
//   first place in its last 261 where a frame could still begin are kept (none when there is no such
//   place). A frame that 1000 stray bytes precede and that straddles two reads is therefore not lost:
//   00 x 999, then FA F5 0B 13 00 0C 22 38 03 E7 (carried: 1009 bytes) | the rest of the report
//   -> the report is queued, the 999 zeros are gone.
// - The queue has room for every frame one save can cut: at most 1000 carried bytes join at most one
//   full read, and a frame is at least 7 bytes long. As long as the queue is emptied after each save
//   (the pump does so), no read can overflow it. Taking a frame moves nothing: the queue is a ring.
// - A tail longer than the carry buffer keeps only the buffer's worth of its last bytes and a
//   CarryCount of the buffer's size. The 1000-byte rule looks only at a long tail's last 261 bytes, so
//   keeping fewer of its bytes changes nothing the next save would see.
//
// Not thread-safe: one pump at a time owns an instance.
#pragma once

#include <cstddef>
#include <cstdint>

#include "Frame.h"

namespace reassembly {
constexpr std::size_t MaxReadSize = 32768;  // the largest read the link delivers at once
constexpr std::size_t CarryBufferSize = 16384;
constexpr int CarryDropLimit = 1000;  // a carry longer than this loses its stray bytes at the next save
constexpr std::size_t WorkBufferSize = CarryDropLimit + MaxReadSize;
constexpr std::size_t FrameBufferSize = 264;  // >= frame::MaxFrame, rounded up to a multiple of 8
constexpr std::size_t QueueCapacity = WorkBufferSize / frame::Overhead;
static_assert(FrameBufferSize >= frame::MaxFrame);
}  // namespace reassembly

using FrameBuffer = uint8_t[reassembly::FrameBufferSize];

// Looks for the first frame at or after Pos among the first N bytes of Work.
// Returns true with the frame copied to the start of Frame (the rest of Frame zeroed), Pos moved just
// past it and CarryCount 0. Returns false when no complete frame lies between Pos and N; CarryCount then
// holds the number of bytes from Pos (as passed) to N, and Pos is N.
// Stray bytes are skipped one at a time; the first position that passes the test wins, even inside
// the payload of an unfinished frame.
//   Work = 00 FA F5 06 00 06 AF 5F, N = 8, Pos = 0 -> true, Frame = FA F5 06 00 06 AF 5F, Pos = 8
//   Work = FA F5 0A,                N = 3, Pos = 0 -> false, CarryCount = 3
bool MessIdent(const uint8_t *Work, int N, int &Pos, int &CarryCount, FrameBuffer &Frame);

struct Reassembly {
    // Bytes after the last complete frame of the previous save.
    uint8_t CarryBuffer[reassembly::CarryBufferSize]{};
    int CarryCount = 0;

    // Ring of frames: the oldest is at FrameQueueHead, FrameQueueCount frames follow it.
    FrameBuffer FrameQueue[reassembly::QueueCapacity]{};
    int FrameQueueHead = 0;
    int FrameQueueCount = 0;

    // Frames a save could not queue because earlier frames were still waiting; stays 0 when every save
    // is followed by taking all frames.
    long DroppedFrames = 0;
    // Bytes that were not part of any frame: stray bytes skipped before a frame, and a long tail's stray
    // bytes dropped by the 1000-byte rule. Bytes still carried are not counted until they are judged.
    long SkippedBytes = 0;

    // Joins the carried bytes (when more than 1000, only an unfinished frame's start at their end) with
    // Data[0..Count), queues every complete frame in stream order and carries the unfinished tail.
    // Count above MaxReadSize is cut.
    void SaveMessage(const uint8_t *Data, int Count);

    // Copies the oldest frame (all FrameBufferSize bytes) into Msg and returns true; returns false and
    // leaves Msg alone when the queue is empty.
    bool TakeMessage(FrameBuffer &Msg);

    // Back to the start state: nothing carried, nothing queued.
    void Reset();

private:
    uint8_t work_[reassembly::WorkBufferSize]{};
    // How many leading bytes of each slot may be other than zero: the length of the frame last cut
    // into it. Everything after that is zero already.
    uint16_t slotUsed_[reassembly::QueueCapacity]{};
};
