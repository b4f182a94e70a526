#include "SignalDecode.h"

#include <algorithm>
#include <bit>
#include <cmath>

namespace dbc {

namespace {

struct Words {
    uint64_t little = 0, big = 0;
};

Words Read(const uint8_t (&data)[8]) {
    Words w;
    for (int i = 0; i < 8; ++i) {
        w.little |= uint64_t{data[i]} << (8 * i);
        w.big = w.big << 8 | data[i];
    }
    return w;
}

uint64_t Raw(const Signal &s, const Words &w) {
    uint64_t raw = ((s.order == ByteOrder::Intel ? w.little : w.big) >> s.shift) & s.mask;
    if (s.isSigned && s.type == ValueType::Integer && s.length < 64 && (raw >> (s.length - 1) & 1))
        raw |= ~s.mask;
    return raw;
}

SignalValue Value(const Signal &s, const Words &w) {
    SignalValue v;
    v.signal = &s;
    v.raw = Raw(s, w);
    double number;
    switch (s.type) {
    case ValueType::Float:
        number = std::bit_cast<float>(static_cast<uint32_t>(v.raw));
        break;
    case ValueType::Double:
        number = std::bit_cast<double>(v.raw);
        break;
    default:
        number = s.isSigned ? static_cast<double>(static_cast<int64_t>(v.raw)) : static_cast<double>(v.raw);
    }
    v.value = number * s.factor + s.offset;
    if (!s.labels.empty()) {
        if (s.type == ValueType::Integer)
            v.label = s.LabelOf(static_cast<int64_t>(v.raw));
        else if (number == std::trunc(number) && std::fabs(number) < 9.2e18)
            v.label = s.LabelOf(static_cast<int64_t>(number));
    }
    if (s.HasRange()) {
        // Slack for the rounding of raw * factor + offset: [0|100.0000032] holds 127 * 0.7874016.
        const double slack = 1e-9 * std::max(std::fabs(s.minimum), std::fabs(s.maximum));
        v.outOfRange = !(v.value >= s.minimum - slack && v.value <= s.maximum + slack);
    }
    return v;
}

// The multiplexer's raw value, when the message has one and the frame carries it.
bool Selector(const Message &message, const Words &w, int dataLength, uint64_t &selector) {
    if (message.multiplexer < 0) return false;
    const Signal &m = message.signalList[static_cast<std::size_t>(message.multiplexer)];
    if (m.lastByte >= dataLength) return false;
    selector = ((m.order == ByteOrder::Intel ? w.little : w.big) >> m.shift) & m.mask;
    return true;
}

}  // namespace

uint64_t RawValue(const Signal &signal, const uint8_t (&data)[8]) { return Raw(signal, Read(data)); }

bool DecodeSignal(const Message &message, const Signal &signal, const uint8_t (&data)[8], int dataLength,
                  SignalValue &out) {
    if (signal.lastByte >= dataLength) return false;
    const Words w = Read(data);
    if (signal.mux == MuxRole::Multiplexed) {
        uint64_t selector = 0;
        if (!Selector(message, w, dataLength, selector) || selector != signal.muxValue) return false;
    }
    out = Value(signal, w);
    return true;
}

Decoded DecodeMessage(const Message &message, const uint8_t (&data)[8], int dataLength,
                      std::span<SignalValue> out) {
    Decoded d;
    d.message = &message;
    const Words w = Read(data);
    uint64_t selector = 0;
    const bool selectorKnown = Selector(message, w, dataLength, selector);
    for (const Signal &s : message.signalList) {
        if (s.mux == MuxRole::Multiplexed && selectorKnown && s.muxValue != selector) continue;
        if (s.lastByte >= dataLength || (s.mux == MuxRole::Multiplexed && !selectorKnown) ||
            static_cast<std::size_t>(d.values) >= out.size()) {
            ++d.missing;
            continue;
        }
        out[static_cast<std::size_t>(d.values++)] = Value(s, w);
    }
    return d;
}

Decoded DecodeFrame(const Database &database, const BusEvent &event, std::span<SignalValue> out) {
    if (event.kind != BusEvent::Kind::Frame) return {};
    const Message *message = database.Find(event.id, event.extended);
    if (!message) return {};
    if (event.remote) return {message, 0, 0};
    return DecodeMessage(*message, event.data, event.DataLength(), out);
}

}  // namespace dbc
