#include "CandumpLine.h"

#include <linux/can.h>
#include <linux/can/error.h>

#include <charconv>
#include <cstring>

#include "IdCoding.h"

namespace candump {

namespace {

constexpr char HexDigits[] = "0123456789ABCDEF";

// The adapter's bus error flags (byte 4 of a type 13 report).

// Writes to a buffer already known to hold MaxLineLength bytes.
class LineWriter {
public:
    explicit LineWriter(char *out) : begin_(out), at_(out) {}

    void Char(char c) { *at_++ = c; }
    void Text(std::string_view s) {
        std::memcpy(at_, s.data(), s.size());
        at_ += s.size();
    }
    void Hex(uint32_t value, int digits) {
        for (int i = digits - 1; i >= 0; --i) *at_++ = HexDigits[(value >> (4 * i)) & 0xF];
    }
    // Zero-padded to `width` digits, as candump pads its seconds and microseconds.
    void Decimal(int64_t value, int width) {
        char digits[24];
        const auto [end, ec] = std::to_chars(digits, digits + sizeof digits, value < 0 ? 0 : value);
        const auto length = static_cast<int>(ec == std::errc{} ? end - digits : 0);
        for (int i = length; i < width; ++i) *at_++ = '0';
        Text(std::string_view(digits, static_cast<std::size_t>(length)));
    }
    void Time(Timestamp time) {
        Decimal(time.seconds, 10);
        Char('.');
        const int32_t micro = time.microseconds < 0        ? 0
                              : time.microseconds > 999999 ? 999999
                                                           : time.microseconds;
        Decimal(micro, 6);
    }
    void Identifier(uint32_t id, bool extended) {
        if (extended)
            Hex(id & CAN_EFF_MASK, 8);
        else
            Hex(id & CAN_SFF_MASK, 3);
    }
    void Head(Timestamp time, std::string_view name) {
        Char('(');
        Time(time);
        Char(')');
        Char(' ');
        Text(name);
        Char(' ');
    }
    std::size_t Length() const { return static_cast<std::size_t>(at_ - begin_); }
    std::size_t End() {
        Char('\n');
        return Length();
    }

private:
    char *begin_;
    char *at_;
};

bool Fits(std::span<char> out, std::string_view name) {
    return out.size() >= MaxLineLength && ValidInterfaceName(name);
}

}  // namespace

bool ValidInterfaceName(std::string_view name) {
    if (name.empty() || name.size() > MaxInterfaceName) return false;
    for (const char c : name)
        if (c <= ' ' || c > '~') return false;
    return true;
}

std::size_t FormatTime(std::span<char> out, Timestamp time) {
    if (out.size() < MaxTimeLength) return 0;
    LineWriter text(out.data());
    text.Time(time);
    return text.Length();
}

std::size_t FormatIdentifier(std::span<char> out, uint32_t Identifier, bool extended) {
    if (out.size() < MaxIdentifierLength) return 0;
    LineWriter text(out.data());
    text.Identifier(Identifier, extended);
    return text.Length();
}

namespace {

std::size_t FormatFrame(std::span<char> out, Timestamp time, std::string_view name, uint32_t Identifier,
                        uint8_t Info, bool Remote, const uint8_t (&Data)[8], bool sent) {
    if (!Fits(out, name)) return 0;
    LineWriter line(out.data());
    line.Head(time, name);
    line.Identifier(Identifier, (Info & InfoExtendedFlag) != 0);
    line.Char('#');
    const unsigned length = (Info & 0x0F) > 8 ? 8u : Info & 0x0Fu;
    if (Remote) {
        line.Char('R');
        if (length != 0) line.Char(static_cast<char>('0' + length));
    } else {
        for (unsigned i = 0; i < length; ++i) line.Hex(Data[i], 2);
    }
    if (sent) line.Text(" T");
    return line.End();
}

}  // namespace

std::size_t FormatCanFrame(std::span<char> out, Timestamp time, std::string_view name, uint32_t Identifier,
                           uint8_t Info, bool Remote, const uint8_t (&Data)[8]) {
    return FormatFrame(out, time, name, Identifier, Info, Remote, Data, false);
}

std::size_t FormatSentFrame(std::span<char> out, Timestamp time, std::string_view name, uint32_t Identifier,
                            uint8_t Info, bool Remote, const uint8_t (&Data)[8]) {
    return FormatFrame(out, time, name, Identifier, Info, Remote, Data, true);
}

std::size_t FormatBusError(std::span<char> out, Timestamp time, std::string_view name, uint8_t Flags) {
    if (!Fits(out, name)) return 0;
    const ErrorFrame e = ErrorFrameOf(Flags);
    LineWriter line(out.data());
    line.Head(time, name);
    line.Hex(e.canId & (CAN_ERR_FLAG | CAN_ERR_MASK), 8);
    line.Char('#');
    static_assert(sizeof e.data == CAN_ERR_DLC);
    for (const uint8_t b : e.data) line.Hex(b, 2);
    return line.End();
}

}  // namespace candump
