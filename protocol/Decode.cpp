#include "Decode.h"

#include <cstring>

#include "IdCoding.h"
#include "unitMy.h"

namespace {

// How far a length byte reaches into the buffer: the whole frame, clipped to the slot.
std::size_t FrameEnd(const FrameBuffer &Msg) {
    const std::size_t total = std::size_t{Msg[3]} + frame::Overhead;
    return total < reassembly::FrameBufferSize ? total : reassembly::FrameBufferSize;
}

}  // namespace

uint8_t FrameChecksum(const FrameBuffer &Msg) {
    // XorChecksum takes byte-sized bounds, and L + 4 passes 255 for the longest frames: split there.
    const int last = Msg[3] + 4;
    if (last <= 255) return XorChecksum(Msg, 2, static_cast<uint8_t>(last));
    return XorChecksum(Msg, 2, 255) ^ XorChecksum(Msg + 256, 0, static_cast<uint8_t>(last - 256));
}

void DecodeMessage(const FrameBuffer &Msg, bool Paused, DecodeSink &Sink) {
    // Work on a copy in which everything past the frame's end is 0, whatever the slot held there.
    FrameBuffer m{};
    std::memcpy(m, Msg, FrameEnd(Msg));

    if (m[0] != frame::Start1 || m[1] != frame::Start2) return;
    if (FrameChecksum(m) != 0) return;

    const uint8_t type = m[2];
    if (type == frame::CanFrameReport || type == frame::CanFrameReport2) {
        if (Paused) return;
        const int hour = m[5], minute = m[6], second = m[7];
        const int millisecond = m[8] * 256 + m[9];
        if (!TimeValid(hour, minute, second, millisecond)) return;
        const uint32_t identifier = DecodeId(m[10], m[11], m[12], m[13], m[14]);
        uint8_t data[8];
        std::memcpy(data, m + 15, sizeof data);
        Sink.CanFrame(hour, minute, second, millisecond, identifier, m[14], data);
    } else if (type == frame::BusErrorReport) {
        Sink.BusError(m[4]);
    } else if (type < StatusTexts.size()) {
        Sink.CommandReport(type);
    }
}
