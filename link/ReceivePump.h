// The receive path without a window: the link read, the stream reassembly and the decoder, with what
// they find handed to a few consumers (the window's display, a trace log, a bus mirror).
//
// Thread contract:
// - One pump runs at a time: whoever runs it holds the pump gate. The receive thread takes the gate for
//   each pass (ReceivePass); the window thread takes it for a presence tick or a Ctrl+R pump
//   (EnterPumpGate). A thread waiting in EnterPumpGate is let in at the end of the pass under way, before
//   the receive thread starts another: under a flood the receive thread passes back to back, and this is
//   what keeps the presence watch at its pace. The window thread so waits for one pass at most (one read,
//   bounded by the link's 10 ms read time-out, and its decoding), never for the receive thread's loop.
// - Consumers are called on the thread that runs the pump, with the gate held, in stream order; each
//   gets EndOfPump() once at the end of every pump. They must not call back into the pump or block.
// - Consumers are added and removed on one thread while no pump runs (the gate is taken inside).
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>

#include "D2xxTypes.h"
#include "Decode.h"

// 0 running, 1 paused: while not 0 the decoder neither shows nor counts received CAN frames (bus errors
// and command reports still come through).
extern std::atomic<uint8_t> PauseState;

// What the pump hands its frames to: a decode sink, whose EndOfPump() comes once after every pump.
using PumpConsumer = DecodeSink;

// At most this many consumers at once: the window, a log and a bus mirror, with room to spare.
constexpr int MaxPumpConsumers = 4;

// False when all places are taken or the consumer is there already.
bool AddPumpConsumer(PumpConsumer *consumer);
void RemovePumpConsumer(PumpConsumer *consumer);

// The gate for the window thread (presence tick, Ctrl+R): waits until the pass under way has ended.
std::unique_lock<std::mutex> EnterPumpGate();

// One pump: ShowLinkErrors off, one read of up to `readCount` bytes (at most the link buffer) into
// InBuffer, reassembly, every complete frame decoded oldest first and handed to the consumers, then
// EndOfPump to each. The caller holds the gate. Returns the number of bytes read.
DWORD RunPump(DWORD readCount);

// One pass of the receive thread: when the adapter is present and bytes wait, a pump that reads what
// waits (at most the link buffer). Takes the gate itself. True when more bytes are known to wait, so that
// the next pass should start at once rather than wait for the receive event.
bool ReceivePass();

// Back to the start state: nothing carried, nothing queued. Takes the gate.
void ResetReceiveStream();
