// Bus events in one line for the receive list's tests, and a health source with plain fields.
#pragma once

#include <algorithm>
#include <initializer_list>

#include "BusEvent.h"
#include "BusHealth.h"

// A data frame; `remote` frames take `dlc` as given and carry no bytes.
inline BusEvent FrameEvent(uint32_t id, std::initializer_list<uint8_t> data, int32_t adapterMs,
                           int64_t arrivalUs, bool extended = false, bool remote = false, int dlc = -1) {
    BusEvent e;
    e.id = id;
    e.extended = extended;
    e.remote = remote;
    e.dlc = static_cast<uint8_t>(dlc >= 0 ? dlc : static_cast<int>(data.size()));
    if (!remote) std::copy_n(data.begin(), std::min<std::size_t>(data.size(), 8), e.data);
    e.adapterMs = adapterMs;
    e.arrivalUs = arrivalUs;
    return e;
}

inline BusEvent ErrorEvent(uint8_t flags, int64_t arrivalUs) {
    BusEvent e;
    e.kind = BusEvent::Kind::BusError;
    e.errorFlags = flags;
    e.arrivalUs = arrivalUs;
    return e;
}

struct FixedHealth : busview::HealthSource {
    busview::BitRate rate;
    busview::ReceiveDrops drops;
    busview::BitRate CurrentBitRate() const override { return rate; }
    busview::ReceiveDrops Drops() const override { return drops; }
};

// A clock of our own for tests that give the table their own "now": a whole second in microseconds.
constexpr int64_t T0 = 1'733'655'296'000'000;
