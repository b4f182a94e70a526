#include "AdapterSequences.h"

#include "Frame.h"

int BitRateRowFor(int kbps) {
    for (std::size_t row = 0; row < BitTimingTable.size(); ++row)
        if (BitTimingTable[row].kbps == kbps) return static_cast<int>(row);
    return -1;
}

int CanInitPayloadFor(const CanSetup &setup, PayloadBuffer &out) {
    return CanInitPayload(TimingBytesForRow(setup.bitRateRow), setup.listening ? ModeListening : ModeNormal,
                          setup.lowSpeed ? TransceiverLowSpeed : TransceiverHighSpeed, out);
}

int McInitPayloadFor(const CanSetup &setup, PayloadBuffer &out) {
    return McInitPayload(EncodeId(setup.tag, false, setup.standard),
                         EncodeId(setup.mask, false, setup.standard), setup.standard, out);
}

// Each sequence builds into a buffer of its own, so that a second sequence run inside one of the waits
// shares no payload with it.
void InitializeSequence(const CanSetup &setup, CommandChannel &channel) {
    PayloadBuffer payload{};
    channel.Send(frame::AdaptorReady, payload, 0);
    channel.Wait();

    const TimeOfDay now = channel.Now();
    channel.Send(frame::TimeInitialization, payload,
                 TimeInitPayload(now.hour, now.minute, now.second, now.millisecond, payload));
    channel.Wait();

    // A listening controller may not send: every slot is stopped first.
    if (setup.listening) {
        DisableTransmitSequence(channel);
        channel.Wait();
    }
    channel.Send(frame::CanInitialization, payload, CanInitPayloadFor(setup, payload));
    channel.Wait();

    channel.Send(frame::McInitialization, payload, McInitPayloadFor(setup, payload));
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
