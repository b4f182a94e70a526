#include "RowText.h"

#include <algorithm>

#include "TextOut.h"

namespace busview {

namespace {
constexpr char HexDigits[] = "0123456789ABCDEF";
}

std::size_t FormatIdentifier(std::span<char> out, const FrameRow &row) {
    TextOut text(out);
    if (row.other) {
        text.Text("others");
        return text.Size();
    }
    for (int shift = 28; shift >= 0; shift -= 4) text.Char(HexDigits[(row.id >> shift) & 0xF]);
    return text.Size();
}

const char *FormText(const FrameRow &row) {
    if (row.extended) return row.remote && !row.other ? "29-bit remote" : "29-bit";
    return row.remote ? "11-bit remote" : "11-bit";
}

std::size_t FormatData(std::span<char> out, const FrameRow &row) {
    TextOut text(out);
    if (row.remote) return 0;
    const int length = std::min<int>(row.dlc, 8);
    for (int i = 0; i < length; ++i) {
        if (i > 0) text.Char(' ');
        text.Char(HexDigits[row.data[i] >> 4]);
        text.Char(HexDigits[row.data[i] & 0xF]);
    }
    return text.Size();
}

std::size_t FormatCycle(std::span<char> out, const CycleStats &cycle) {
    TextOut text(out);
    if (cycle.known) text.Printf("%.1f", cycle.meanMs);
    return text.Size();
}

std::size_t FormatJitter(std::span<char> out, const CycleStats &cycle) {
    TextOut text(out);
    if (cycle.known) text.Printf("%d / %d", static_cast<int>(cycle.minMs), static_cast<int>(cycle.maxMs));
    return text.Size();
}

std::size_t FormatSince(std::span<char> out, int64_t sinceUs) {
    TextOut text(out);
    text.Printf("%.1f", static_cast<double>(std::max<int64_t>(sinceUs, 0)) / 1e6);
    return text.Size();
}

const char *ErrorKindText(ErrorKind kind) {
    switch (kind) {
        case ErrorKind::Stuff: return "stuff error";
        case ErrorKind::Crc: return "CRC error";
        case ErrorKind::Form: return "form error";
        case ErrorKind::Ack: return "ack error";
        case ErrorKind::NoFlag: break;
    }
    return "bus error without a kind";
}

}  // namespace busview
