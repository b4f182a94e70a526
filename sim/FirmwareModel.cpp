#include "FirmwareModel.h"

#include <algorithm>

#include "Commands.h"

namespace {

constexpr uint32_t StandardIdMask = 0x7FF;
constexpr uint32_t ExtendedIdMask = 0x1FFFFFFF;
constexpr uint32_t ControllerClockHz = 8'000'000;

}  // namespace

bool AcceptanceFilter::Accepts(const BusFrame &frame) const {
    if (acceptAll) return true;
    if (frame.extended != extended) return false;
    const uint32_t id = frame.identifier & (extended ? ExtendedIdMask : StandardIdMask);
    return (id & mask) == (tag & mask);
}

bool FilterFromPayload(const uint8_t *p, std::size_t length, AcceptanceFilter &filter) {
    if (length < McInitLength) return false;
    const uint8_t form = p[9];
    filter.acceptAll = false;
    filter.extended = (form & InfoExtendedFlag) != 0;
    filter.tag = DecodeId(p[1], p[2], p[3], p[4], form);
    filter.mask = DecodeId(p[5], p[6], p[7], p[8], form);
    return true;
}

bool BusSettingsFromPayload(const uint8_t *p, std::size_t length, BusSettings &settings) {
    if (length < CanInitLength) return false;
    settings.timing = {p[0], p[1], p[2]};
    settings.mode = p[3];
    settings.transceiver = p[5];
    return true;
}

uint32_t BitRateFromTiming(const TimingBytes &t) {
    const uint32_t prescaler = ((t.T1 >> 1) & 0x3F) + 1;
    const uint32_t quanta = 1 + (((t.T2 >> 1) & 7) + 1) + (((t.T3 >> 1) & 7) + 1) + (((t.T3 >> 4) & 7) + 1);
    return ControllerClockHz / (prescaler * quanta);
}

bool SlotFromPayload(const uint8_t *p, std::size_t length, SlotSetup &setup) {
    if (length < OutInitLength || p[0] >= NumTransmitSlots) return false;
    setup.slot = p[0];
    const uint8_t flags = p[3];
    setup.enabled = (flags & FlagAlways) != 0;
    setup.periodic = (flags & FlagPeriodic) != 0;
    setup.showFrame = (flags & FlagShowFrame) != 0;
    setup.period = std::chrono::milliseconds(p[1] * 256 + p[2]);
    if (setup.period.count() == 0) setup.periodic = false;
    const uint8_t info = p[8];
    BusFrame &f = setup.frame;
    f.extended = (info & InfoExtendedFlag) != 0;
    f.identifier = DecodeId(p[4], p[5], p[6], p[7], info);
    f.remote = (p[7] & Id4RemoteFlag) != 0;
    f.length = static_cast<uint8_t>(std::min(info & 0x0F, MaxDataBytes));
    f.data = {};
    if (!f.remote) std::copy(p + 9, p + 9 + f.length, f.data.begin());
    return true;
}
