// A bus frame, or what the receive path hands a consumer, in one line, for tests on either side of the link.
#pragma once

#include <algorithm>
#include <cstdint>
#include <vector>

#include "BusEvent.h"
#include "BusFrame.h"

// Example: MakeFrame(0x2B6, false, {0xFF, 0x7B}) is a standard data frame of two bytes; a remote frame
// takes its length from `data`'s size and carries no bytes.
inline BusFrame MakeFrame(uint32_t id, bool extended, std::vector<uint8_t> data, bool remote = false) {
    BusFrame f;
    f.identifier = id;
    f.extended = extended;
    f.remote = remote;
    f.length = static_cast<uint8_t>(std::min<std::size_t>(data.size(), f.data.size()));
    if (!remote) std::copy_n(data.begin(), f.length, f.data.begin());
    return f;
}

// A received frame as the decoder hands it to a consumer: Info as in the adapter's report (length in bits
// 3..0, 0x10 for 29-bit), the identifier as it came.
inline BusEvent FrameEvent(uint32_t id, uint8_t info, bool remote = false, std::vector<uint8_t> data = {}) {
    BusEvent e;
    e.kind = BusEvent::Kind::Frame;
    e.id = id;
    e.info = info;
    e.dlc = info & 0x0F;
    e.extended = (info & 0x10) != 0;
    e.remote = remote;
    std::copy_n(data.begin(), std::min<std::size_t>(data.size(), 8), e.data);
    e.adapterMs = 0;
    return e;
}

inline BusEvent BusErrorEvent(uint8_t flags) {
    BusEvent e;
    e.kind = BusEvent::Kind::BusError;
    e.errorFlags = flags;
    return e;
}
