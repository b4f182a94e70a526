// A bus frame in one line, for tests on either side of the link.
#pragma once

#include <algorithm>
#include <cstdint>
#include <vector>

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
