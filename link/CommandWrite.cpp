#include "CommandWrite.h"

#include "D2XXUnit.h"
#include "Encoder.h"
#include "IdCoding.h"
#include "PresenceWatch.h"

std::atomic<bool> AdapterClockSet{false};
std::atomic<int32_t> AdapterBitRate{0};

bool WriteCommand(uint8_t code, const uint8_t *payload, int length) {
    if (!DevicePresent.load()) return false;
    ShowLinkErrors.store(true);
    const std::size_t size = BuildFrame(code, payload, length, OutBuffer);
    const bool whole = WriteFTDevice(static_cast<DWORD>(size)) == size;
    if (whole && code == frame::TimeInitialization) AdapterClockSet.store(true);
    if (whole && code == frame::CanInitialization && length >= 3)
        AdapterBitRate.store(1000 * KbpsForTiming({payload[0], payload[1], payload[2]}));
    return whole;
}
