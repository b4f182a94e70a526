// One command frame to the adapter, as every program sends it: nothing while the adapter is absent, link
// errors shown, the frame built in OutBuffer and written in one call. The caller spaces the commands of a
// sequence (CommandSpacing) and keeps presence ticks out of the write.
#pragma once

#include <atomic>
#include <cstdint>

// True from the moment a time command went out whole until the adapter is lost or found again: the
// adapter's time stamps are then times of day of the PC's clock (LogClock relies on it).
extern std::atomic<bool> AdapterClockSet;

// The bit rate in bit/s of the last CAN Initialization that went out whole since the adapter was found;
// 0 while none did (a newly plugged adapter has forgotten its rate). The bus load is worked out from it.
extern std::atomic<int32_t> AdapterBitRate;

// True when the whole frame went out. `payload` may be null when `length` is 0.
bool WriteCommand(uint8_t code, const uint8_t *payload, int length);
