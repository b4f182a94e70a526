#include "AdapterSequences.h"

#include "Frame.h"

int BitRateRowFor(int kbps) {
    for (std::size_t row = 0; row < BitTimingTable.size(); ++row)
        if (BitTimingTable[row].kbps == kbps) return static_cast<int>(row);
    return -1;
}

BusBytes BusBytesFor(const CanSetup &setup, CommandChannel &channel) {
    if (setup.listening) {
        DisableTransmitSequence(channel);
        channel.Wait();
    }
    return {TimingBytesForRow(setup.bitRateRow), setup.listening ? ModeListening : ModeNormal,
            setup.lowSpeed ? TransceiverLowSpeed : TransceiverHighSpeed};
}

FilterBytes FilterBytesFor(const CanSetup &setup) {
    return {EncodeId(setup.tag, false, setup.standard), EncodeId(setup.mask, false, setup.standard),
            setup.standard};
}

BusBytes SetupChannel::Bus() { return BusBytesFor(setup_, *this); }
FilterBytes SetupChannel::Filter() { return FilterBytesFor(setup_); }

// Each sequence builds into a buffer of its own, so that a second sequence run inside one of the waits
// shares no payload with it.
void InitializeSequence(CommandChannel &channel) {
    PayloadBuffer payload{};
    channel.Send(frame::AdaptorReady, payload, 0);
    channel.Wait();

    const TimeOfDay now = channel.Now();
    channel.Send(frame::TimeInitialization, payload,
                 TimeInitPayload(now.hour, now.minute, now.second, now.millisecond, payload));
    channel.Wait();

    const BusBytes bus = channel.Bus();
    channel.Send(frame::CanInitialization, payload, CanInitPayload(bus.timing, bus.mode, bus.transceiver, payload));
    channel.Wait();

    const FilterBytes filter = channel.Filter();
    channel.Send(frame::McInitialization, payload, McInitPayload(filter.tag, filter.mask, filter.standard, payload));
}

void DisableTransmitSequence(CommandChannel &channel) {
    PayloadBuffer payload{};
    for (int slot = 0; slot < NumTransmitSlots; ++slot)
        channel.Send(frame::OutDisable, payload, OutDisablePayload(static_cast<uint8_t>(slot), payload));
}

void DisableSequence(CommandChannel &channel) {
    DisableTransmitSequence(channel);
    channel.Wait();
    PayloadBuffer payload{};
    channel.Send(frame::McDisable, payload, McDisablePayload(payload));
    channel.Wait();
    channel.Send(frame::CanDisable, payload, 0);
    channel.Wait();
}
