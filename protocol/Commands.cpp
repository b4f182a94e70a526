#include "Commands.h"

namespace {
uint8_t Low8(int32_t v) { return static_cast<uint8_t>(static_cast<uint32_t>(v) & 0xFF); }

void PutId(const IdBytes &id, uint8_t *at) {
    at[0] = id.ID1;
    at[1] = id.ID2;
    at[2] = id.ID3;
    at[3] = id.ID4;
}
}  // namespace

uint8_t TransmitFlags(bool periodic, bool showFrame) {
    return static_cast<uint8_t>(FlagAlways | (periodic ? FlagPeriodic : 0) | (showFrame ? FlagShowFrame : 0));
}

uint8_t InfoByte(int count, bool extended) { return Low8(count + (extended ? InfoExtendedFlag : 0)); }

int TimeInitPayload(int hour, int minute, int second, int millisecond, PayloadBuffer &out) {
    out[0] = Low8(hour);
    out[1] = Low8(minute);
    out[2] = Low8(second);
    out[3] = Low8(millisecond / 256);
    out[4] = Low8(millisecond % 256);
    return static_cast<int>(TimeInitLength);
}

int CanInitPayload(const TimingBytes &timing, uint8_t mode, uint8_t transceiver, PayloadBuffer &out) {
    out[0] = timing.T1;
    out[1] = timing.T2;
    out[2] = timing.T3;
    out[3] = mode;
    out[4] = CanInitFixedByte;
    out[5] = transceiver;
    return static_cast<int>(CanInitLength);
}

int McInitPayload(const IdBytes &tag, const IdBytes &mask, bool standard, PayloadBuffer &out) {
    out[0] = 0;
    PutId(tag, out + 1);
    PutId(mask, out + 5);
    out[9] = InfoByte(MaxDataBytes, !standard);
    return static_cast<int>(McInitLength);
}

int OutInitPayload(uint8_t slot, int32_t period, uint8_t flags, const IdBytes &id, uint8_t info,
                   const uint8_t *data, int count, PayloadBuffer &out) {
    if (count < 0 || data == nullptr) count = 0;
    if (count > MaxDataBytes) count = MaxDataBytes;
    out[0] = slot;
    out[1] = Low8(period / 256);
    out[2] = Low8(period % 256);
    out[3] = flags;
    PutId(id, out + 4);
    out[8] = info;
    for (int i = 0; i < MaxDataBytes; ++i) out[9 + i] = i < count ? data[i] : 0;
    return static_cast<int>(OutInitLength);
}

int OutDisablePayload(uint8_t slot, PayloadBuffer &out) {
    out[0] = slot;
    return static_cast<int>(OutDisableLength);
}

int McDisablePayload(PayloadBuffer &out) {
    out[0] = 0;
    return static_cast<int>(McDisableLength);
}

int PausePayload(bool paused, PayloadBuffer &out) {
    out[0] = paused ? PauseOn : PauseOff;
    return static_cast<int>(PauseLength);
}
