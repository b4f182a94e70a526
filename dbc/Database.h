// What a DBC file says about the bus: its messages, their signals, and how each signal's bits turn into
// a physical value. Filled by the reader (DbcReader.h), read by the decoder (SignalDecode.h); once loaded a
// Database never changes, so any number of threads may read one at the same time.
//
//   BO_ 514 ENGINE_DATA: 8 ECU                          standard identifier 0x202, 8 bytes
//    SG_ RPM : 7|16@0+ (0.25,0) [0|8500] "rpm" DASH       Motorola, bytes 0..1 big-endian, x0.25
//    SG_ GEAR M : 16|4@1+ (1,0) [0|15] "" DASH            Intel, byte 2 bits 0..3, the multiplexer
//    SG_ OIL m2 : 24|8@1- (1,-40) [-40|215] "degC" DASH   Intel, signed byte 3, only when GEAR is 2
//   BO_ 2566844926 J1939_EEC1: 8 ECU                    bit 31 set: extended identifier 0x18FEF1FE
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace dbc {

enum class ByteOrder : uint8_t {
    Intel,     // @1: little-endian; the start bit is the least significant bit
    Motorola,  // @0: big-endian; the start bit is the most significant bit, in the sawtooth numbering
};

enum class ValueType : uint8_t {
    Integer,  // two's complement of `length` bits when signed
    Float,    // SIG_VALTYPE_ 1: an IEEE 754 single of 32 bits
    Double,   // SIG_VALTYPE_ 2: an IEEE 754 double of 64 bits
};

enum class MuxRole : uint8_t {
    None,
    Multiplexer,  // M: its raw value picks which multiplexed signals the frame carries
    Multiplexed,  // m<value>: present only when the multiplexer's raw value is `muxValue`
};

// One entry of a signal's value table (VAL_): the raw value and its text.
struct ValueLabel {
    int64_t raw = 0;  // an unsigned raw value above INT64_MAX is kept as its bit pattern
    std::string text;
};

struct Signal {
    std::string name;
    int line = 0;  // of its SG_ line
    int startBit = 0;
    int length = 0;  // 1..64
    ByteOrder order = ByteOrder::Intel;
    bool isSigned = false;
    ValueType type = ValueType::Integer;
    double factor = 1, offset = 0;
    double minimum = 0, maximum = 0;  // a range only when minimum < maximum ([0|0] is none)
    // Digits after the point that raw * factor + offset can have, from how factor and offset are
    // written (0.25 and -40 -> 2), so that 3 * 0.1 prints as 0.3; -1 when unknown (print the shortest
    // text that reads back as the same double).
    int decimals = -1;
    std::string unit;
    std::vector<std::string> receivers;
    std::string comment;  // CM_ SG_
    MuxRole mux = MuxRole::None;
    uint64_t muxValue = 0;            // Multiplexed: the multiplexer's raw value that selects it
    std::vector<ValueLabel> labels;   // sorted by raw value, no two alike

    // Where the raw bits sit, worked out by the reader: the frame's 8 bytes read as one 64-bit word
    // (little-endian for Intel, big-endian for Motorola), shifted right by `shift` and masked.
    uint8_t shift = 0;
    uint8_t lastByte = 0;  // the highest byte index the signal touches: the frame must carry it
    uint64_t mask = 0;

    bool HasRange() const { return minimum < maximum; }
    // The value table's text for a raw value; empty when there is none.
    std::string_view LabelOf(int64_t raw) const;
};

struct Message {
    uint32_t id = 0;  // 11 or 29 bits, without the file's bit 31
    bool extended = false;
    std::string name;
    int length = 0;  // bytes, 0..8
    std::string transmitter;
    std::string comment;  // CM_ BO_
    int line = 0;         // of its BO_ line
    std::vector<Signal> signalList;
    int multiplexer = -1;  // index into signalList of the M signal; -1 when none
};

// Something in the file that was left out, and why. Signal empty: the whole message was left out.
struct Skipped {
    int line = 0;
    std::string message;
    std::string signal;
    std::string text;  // the whole line for the operator: "bus.dbc:12: signal X of message Y: ...; skipped"
};

class Database {
public:
    std::string fileName;
    std::string version;
    std::vector<std::string> nodes;  // BU_
    std::vector<Message> messages;   // in file order
    std::vector<Skipped> skipped;    // in file order

    // The message for a frame's identifier, or nullptr: a table lookup for 11-bit identifiers, a binary
    // search for 29-bit ones. Never allocates.
    const Message *Find(uint32_t id, bool extended) const;
    // The most signals any one message has: the size of a decode buffer that never runs short.
    std::size_t MostSignals() const { return mostSignals_; }

    // Builds the lookup tables; the reader calls it once, after the last change to `messages`.
    void Index();

private:
    std::vector<int32_t> standard_;  // 2048 entries: index into messages, or -1
    struct ExtendedEntry {
        uint32_t id;
        int32_t index;
    };
    std::vector<ExtendedEntry> extended_;  // sorted by id
    std::size_t mostSignals_ = 0;
};

}  // namespace dbc
