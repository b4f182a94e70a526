#include "Decode.h"

#include <cstring>

#include "CanReport.h"
#include "IdCoding.h"
#include "unitMy.h"

namespace {

// How far a length byte reaches into the buffer: the whole frame, clipped to the slot.
std::size_t FrameEnd(const FrameBuffer &Msg) {
    const std::size_t total = std::size_t{Msg[3]} + frame::Overhead;
    return total < reassembly::FrameBufferSize ? total : reassembly::FrameBufferSize;
}

}  // namespace

uint8_t FrameChecksum(const FrameBuffer &Msg) { return frame::Checksum(Msg); }

Decoded DecodeMessage(const FrameBuffer &Msg, bool Paused, BusEvent &out) {
    // Fields past the frame's end read as 0, whatever the slot holds there. Read in place: a copy of
    // the buffer per frame cost a quarter of the whole receive path.
    const std::size_t end = FrameEnd(Msg);
    auto at = [&Msg, end](std::size_t i) -> uint8_t { return i < end ? Msg[i] : 0; };

    if (Msg[0] != frame::Start1 || Msg[1] != frame::Start2) return Decoded::BadChecksum;
    if (FrameChecksum(Msg) != 0) return Decoded::BadChecksum;

    const uint8_t type = Msg[2];
    if (type == frame::CanFrameReport || type == frame::CanFrameReport2) {
        if (Paused) return Decoded::Dropped;
        using namespace canreport;
        const int hour = at(Hour), minute = at(Minute), second = at(Second);
        const int millisecond = at(Millisecond) * 256 + at(Millisecond + 1);
        if (!TimeValid(hour, minute, second, millisecond)) return Decoded::Dropped;
        const uint8_t info = at(Info);
        out.kind = BusEvent::Kind::Frame;
        out.id = DecodeId(at(Id), at(Id + 1), at(Id + 2), at(Id + 3), info);
        out.extended = (info & InfoExtendedFlag) != 0;
        out.remote = (at(Id + 3) & Id4RemoteFlag) != 0;
        out.transmitted = false;
        out.info = info;
        out.dlc = info & 0x0F;
        for (std::size_t i = 0; i < sizeof out.data; ++i) out.data[i] = at(Data + i);
        out.adapterMs = ((hour * 60 + minute) * 60 + second) * 1000 + millisecond;
        return Decoded::Event;
    }
    if (type == frame::BusErrorReport) {
        out.kind = BusEvent::Kind::BusError;
        out.errorFlags = at(BusErrorFlags);
        out.adapterMs = -1;
        return Decoded::Event;
    }
    if (type < StatusTexts.size()) {
        out.kind = BusEvent::Kind::CommandReport;
        out.reportType = type;
        out.adapterMs = -1;
        return Decoded::Event;
    }
    return Decoded::Dropped;
}
