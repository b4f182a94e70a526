// The receive path: the link read, the stream reassembly and the decoder, with each read's events handed
// as one batch to the consumers (BusConsumer.h).
//
// Thread contract:
// - One pump runs at a time: whoever runs it holds the pump gate. The receive thread takes the gate for
//   each pass (ReceivePass); the window thread takes it for a presence tick or a Ctrl+R pump
//   (EnterPumpGate). A thread waiting in EnterPumpGate is let in at the end of the pass under way, before
//   the receive thread starts another: under a flood the receive thread passes back to back, and this is
//   what keeps the presence watch at its pace. The window thread so waits for one pass at most (one read,
//   bounded by the link's 10 ms read time-out, and its decoding), never for the receive thread's loop,
//   and never for a consumer: consumers do no I/O in Take.
// - Consumers are added and removed on one thread (the gate is taken inside).
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <span>

#include "BusConsumer.h"
#include "D2xxTypes.h"

// 0 running, 1 paused: while not 0 the decoder neither shows nor counts received CAN frames (bus errors
// and command reports still come through).
extern std::atomic<uint8_t> PauseState;

// At most this many consumers at once: the window's display, the receive list, a log, a bus mirror, the
// gateway's status lines, and room to spare.
constexpr int MaxPumpConsumers = 8;
// Events handed over at a time: a full 32 KiB read of frame reports is some 1,300 of them.
constexpr int PumpBatchSize = 512;

// What the receive path itself could not make sense of, since the process started (or the last reset):
// every figure stays 0 while nothing is lost.
struct ReceiveCounts {
    int64_t bytesSkipped = 0;  // bytes that were no part of any frame
    int64_t badChecksum = 0;   // frames with a wrong checksum
    int64_t queueFull = 0;     // frames cut but not queued (cannot happen while every cut is decoded)
};
ReceiveCounts TheReceiveCounts();  // any thread

// False when all places are taken or the consumer is there already.
bool AddPumpConsumer(BusConsumer *consumer);
void RemovePumpConsumer(BusConsumer *consumer);

// The gate for the window thread (presence tick, Ctrl+R): waits until the pass under way has ended.
std::unique_lock<std::mutex> EnterPumpGate();

// One pump: ShowLinkErrors off, one read of up to `readCount` bytes (at most the link buffer) into
// InBuffer, reassembly, every complete frame decoded oldest first into events stamped with the read's
// arrival time, handed to the consumers in batches. The caller holds the gate. Returns the bytes read.
DWORD RunPump(DWORD readCount);

// One pass of the receive thread: when the adapter is present and bytes wait, a pump that reads what
// waits (at most the link buffer). Takes the gate itself. True when more bytes are known to wait, so that
// the next pass should start at once rather than wait for the receive event.
bool ReceivePass();

// Events that did not come through the link (the frames the adapter transmitted for the bus mirror), to
// every consumer as if a pump had decoded them. Takes the gate itself: call it on the window thread.
void PublishEvents(std::span<const BusEvent> events);

// The PC's clock, microseconds since the epoch: the arrival time of what a read brought.
int64_t ArrivalClockUs();

// Back to the start state: nothing carried, nothing queued, the counts at 0. Takes the gate.
void ResetReceiveStream();
