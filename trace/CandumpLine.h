// One received CAN frame or bus error report as one line of the Linux CAN utilities' log format, the one
// `candump -l` writes and `log2asc`, `canplayer` and python-can's log reader read:
//
//   (1733655296.123000) brisklet0 123#1122334455667788     11-bit identifier, 3 hex digits, 8 data bytes
//   (1733655296.123000) brisklet0 1ABCDEF0#                29-bit identifier, 8 digits, no data
//   (1733655296.123000) brisklet0 123#R                    remote frame, length 0
//   (1733655296.123000) brisklet0 123#R3                   remote frame, length 3
//   (1733655296.123000) brisklet0 20000088#0000040000000000  bus error report, flags 0x08 (stuff)
//   (1733655296.123000) brisklet0 123#1122 T               a frame the adapter transmitted
//
// A transmitted frame is marked as `candump -x` marks one, with " T" after the frame; received lines
// carry no mark. python-can's log reader takes the mark as the direction, log2asc writes Tx for it,
// and canplayer reads the first four fields and replays the frame as any other.
// Seconds since the epoch, six digits after the point; data in capital hex, as many bytes as the info
// byte's length (bits 3..0, over 8 counts as 8). A bus error report becomes a SocketCAN error frame
// (CAN_ERR_FLAG | CAN_ERR_BUSERROR in the identifier, 8 data bytes), the same mapping the bus bridge reads
// back: ack 0x01 -> CAN_ERR_ACK; form 0x02 / stuff 0x08 -> CAN_ERR_PROT with data[2] CAN_ERR_PROT_FORM /
// CAN_ERR_PROT_STUFF; CRC 0x04 -> CAN_ERR_PROT with data[3] CAN_ERR_PROT_LOC_CRC_SEQ. Flags 0 still
// make a line (bus error, no detail): the adapter did report something.
//
// Pure formatting into a caller's buffer: no allocation, no I/O, any thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

#include "ErrorFrame.h"

namespace candump {

// The interface field: 1 to MaxInterfaceName printable ASCII characters without spaces.
constexpr std::size_t MaxInterfaceName = 32;
constexpr std::string_view DefaultInterfaceName = "brisklet0";
bool ValidInterfaceName(std::string_view name);

// The longest line, its '\n' included: "(" 20 digits "." 6 digits ") " name " " 8 digits "#" 16 digits
// " T".
constexpr std::size_t MaxLineLength = 1 + 20 + 1 + 6 + 2 + MaxInterfaceName + 1 + 8 + 1 + 16 + 2 + 1;

struct Timestamp {
    int64_t seconds = 0;       // since the epoch
    int32_t microseconds = 0;  // 0..999999
};

// The two fields of a line other programs reuse (the decoded CSV export): the time without its
// parentheses, "1733655296.123000", and the identifier, "123" (11-bit) or "1ABCDEF0" (29-bit). Each
// returns the length written, 0 (and nothing written) when out is shorter than the Max.
constexpr std::size_t MaxTimeLength = 20 + 1 + 6;
constexpr std::size_t MaxIdentifierLength = 8;
std::size_t FormatTime(std::span<char> out, Timestamp time);
std::size_t FormatIdentifier(std::span<char> out, uint32_t Identifier, bool extended);

// Each writes one whole line, '\n' included, to the start of out and returns its length; 0 (and nothing
// written) when out is shorter than MaxLineLength or the name is not valid.
// Identifier and Info as the decoder hands them (Info: length in bits 3..0, 0x10 for 29-bit); the
// identifier is masked to 11 or 29 bits.
std::size_t FormatCanFrame(std::span<char> out, Timestamp time, std::string_view name, uint32_t Identifier,
                           uint8_t Info, bool Remote, const uint8_t (&Data)[8]);
// The same line with the " T" mark of a transmitted frame.
std::size_t FormatSentFrame(std::span<char> out, Timestamp time, std::string_view name, uint32_t Identifier,
                            uint8_t Info, bool Remote, const uint8_t (&Data)[8]);
std::size_t FormatBusError(std::span<char> out, Timestamp time, std::string_view name, uint8_t Flags);

}  // namespace candump
