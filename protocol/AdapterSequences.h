// The adapter's command sequences, initialise and disable, for every program that drives an adapter: the
// window's Initialize and Abort buttons run them, and so does brisklet-gateway.
//
// The caller supplies how a command goes out (Send: one frame per call), the wait between two commands
// of a sequence (Wait: CommandSpacing, and whatever the caller does meanwhile), the time of day (Now:
// read when the time command is built, after the first wait), and what the CAN and filter commands say
// (Bus, Filter: read the moment each command is built, as the window reads its controls then). Nothing
// here tests whether the adapter is present; the caller's Send decides what happens to a command while it
// is not.
//
// Initialise (InitializeSequence), with 250 kbit/s, normal mode, high-speed transceiver, tag and mask 7FF,
// 11-bit identifiers, at 13:05:07.250:
//   code 0 (Adaptor Ready)       -                                wait
//   code 4 (Time Initialization) 0D 05 07 00 FA                   wait
//   [listening only: code 8 (OUT Disable) for slots 0..7 back to back, then a wait]
//   code 1 (CAN Initialization)  02 00 5E 02 32 00                wait
//   code 2 (MC Initialization)   00 FF E0 00 00 FF E0 00 00 08    (no wait after it)
// In listening mode the mode byte is 0A instead of 02; with the low-speed transceiver the last byte of
// code 1 is 01. Tag and mask are coded in the identifier form chosen (29-bit: 7FF -> 00 00 3F F8, and
// the last byte of code 2 is 18).
//
// Disable (DisableSequence):
//   code 8 (OUT Disable) for slots 0..7 back to back    wait
//   code 7 (MC Disable)  00                             wait
//   code 6 (CAN Disable) -                              wait
//
// Pure: no I/O, no allocation; the caller's hooks run on the calling thread.
#pragma once

#include <chrono>
#include <cstdint>

#include "Commands.h"
#include "IdCoding.h"

// The adapter needs this long to digest one command before the next of a sequence.
constexpr std::chrono::milliseconds CommandSpacing{100};

// What the initialise sequence sends, as the window's controls would give it.
struct CanSetup {
    int bitRateRow = DefaultBitRateRow;  // a row of BitTimingTable; outside 0..7: the 250 kbit/s default
    bool listening = false;              // listen only: the controller never sends, not even acks
    bool lowSpeed = false;               // the low-speed (fault-tolerant) transceiver
    uint32_t tag = 0;                    // acceptance tag and mask, identifiers in the form below
    uint32_t mask = 0;
    bool standard = true;  // 11-bit identifiers (2.0A); false: 29-bit (2.0B)

    bool operator==(const CanSetup &) const = default;
};

struct TimeOfDay {
    int hour = 0, minute = 0, second = 0, millisecond = 0;
};

// What the CAN Initialization command says: bit timing, mode, transceiver.
struct BusBytes {
    TimingBytes timing;
    uint8_t mode = ModeNormal;
    uint8_t transceiver = TransceiverHighSpeed;
};

// What the MC Initialization command says: tag and mask coded in the identifier form chosen.
struct FilterBytes {
    IdBytes tag, mask;
    bool standard = true;
};

class CommandChannel {
public:
    virtual ~CommandChannel() = default;
    // One command frame: `length` bytes of `payload` under `code`.
    virtual void Send(uint8_t code, const PayloadBuffer &payload, int length) = 0;
    // The spacing between two commands of a sequence.
    virtual void Wait() = 0;
    virtual TimeOfDay Now() = 0;
    // Asked just before the CAN command is built. Listen-only stops every slot first (BusBytesFor does).
    virtual BusBytes Bus() = 0;
    // Asked just before the filter command is built.
    virtual FilterBytes Filter() = 0;
};

// A channel whose settings are fixed values (a program without a window).
class SetupChannel : public CommandChannel {
public:
    explicit SetupChannel(const CanSetup &setup) : setup_(setup) {}
    BusBytes Bus() override;
    FilterBytes Filter() override;

private:
    CanSetup setup_;
};

// The row of BitTimingTable for a rate in kbit/s; -1 when the list has no such rate.
int BitRateRowFor(int kbps);

// What the CAN command says for a setup's rate, mode and transceiver. A listening controller may not
// send: for listen-only every transmit slot is stopped through `channel` first, and a wait follows.
BusBytes BusBytesFor(const CanSetup &setup, CommandChannel &channel);
FilterBytes FilterBytesFor(const CanSetup &setup);

void InitializeSequence(CommandChannel &channel);
// OUT Disable for every transmit slot, back to back, without a wait.
void DisableTransmitSequence(CommandChannel &channel);
void DisableSequence(CommandChannel &channel);
