#include "TextTable.h"

#include <algorithm>
#include <vector>

#include "RowText.h"
#include "TextOut.h"

namespace busview {

namespace {

constexpr const char *Home = "\x1b[H", *ClearLine = "\x1b[K", *ClearBelow = "\x1b[J";
constexpr const char *Reverse = "\x1b[7m", *ReverseOff = "\x1b[27m", *Dim = "\x1b[2m", *Normal = "\x1b[0m";

// Identifier order, the two forms of one identifier side by side, "others" last.
uint64_t SortKey(const FrameRow &row) {
    if (row.other) return UINT64_MAX;
    return (uint64_t{row.id} << 2) | (row.extended ? 2 : 0) | (row.remote ? 1 : 0);
}

class Lines {
public:
    Lines(std::string &out, bool terminal) : out_(out), terminal_(terminal) {}
    void Append(std::string_view s) { out_.append(s); }
    void Code(const char *code) {
        if (terminal_) out_.append(code);
    }
    void End() {
        Code(ClearLine);
        out_.push_back('\n');
    }

private:
    std::string &out_;
    bool terminal_;
};

void FrameLine(Lines &lines, const FrameRow &row, int64_t nowUs, bool terminal) {
    char id[CellTextSize], cycleText[CellTextSize], jitter[CellTextSize], since[CellTextSize], cell[96];
    FormatIdentifier(id, row);
    const CycleStats cycle = CycleOf(row);
    FormatCycle(cycleText, cycle);
    FormatJitter(jitter, cycle);
    FormatSince(since, nowUs - row.lastArrivalUs);
    const bool stale = IsStale(row, nowUs);
    if (stale) lines.Code(Dim);
    TextOut head(cell);
    head.Printf("%-10s  %-14s  %3d  ", id, FormText(row), std::min<int>(row.dlc, 8));
    lines.Append(head.View());
    // The data bytes one by one, so that each changed one can be marked on its own; padded to 8 bytes.
    const int shown = row.remote ? 0 : std::min<int>(row.dlc, 8);
    for (int i = 0; i < 8; ++i) {
        if (i >= shown) {
            lines.Append("   ");
            continue;
        }
        const bool changed = terminal && ByteFade(row, i, nowUs) > 0;
        TextOut hex(cell);
        hex.Printf("%02X", row.data[i]);
        if (changed) lines.Code(Reverse);
        lines.Append(hex.View());
        if (changed) lines.Code(ReverseOff);
        lines.Append(" ");
    }
    TextOut tail(cell);
    tail.Printf("%8llu  %8s  %10s  %6s", static_cast<unsigned long long>(row.count), cycleText, jitter,
                since);
    lines.Append(tail.View());
    if (stale) lines.Code(Normal);
    lines.End();
}

}  // namespace

void RenderTextTable(const ReceiveSnapshot &snapshot, const BusHealth &health,
                     const TextTableOptions &options, std::string &out) {
    out.clear();
    Lines lines(out, options.terminal);
    lines.Code(Home);
    char text[256];
    lines.Append(std::string_view(text, FormatSummaryLine(text, health)));
    lines.End();
    lines.Append(
        "Identifier  Form            Len  Data                       Count  Cycle ms  Min/max ms  Last s");
    lines.End();

    const std::span<const FrameRow> rows = snapshot.Rows();
    std::vector<uint32_t> order(rows.size());
    for (uint32_t i = 0; i < order.size(); ++i) order[i] = i;
    std::sort(order.begin(), order.end(),
              [&](uint32_t a, uint32_t b) { return SortKey(rows[a]) < SortKey(rows[b]); });
    int budget = options.maxRows > 0 ? options.maxRows : INT32_MAX;
    for (uint32_t i : order) {
        if (budget-- <= 0) break;
        FrameLine(lines, rows[i], snapshot.NowUs(), options.terminal);
    }
    for (int k = 0; k < ErrorKinds; ++k) {
        const ErrorRow &error = snapshot.Error(static_cast<ErrorKind>(k));
        if (error.count == 0 || budget-- <= 0) continue;
        char since[CellTextSize];
        FormatSince(since, snapshot.NowUs() - error.lastArrivalUs);
        TextOut line(text);
        line.Printf("%-57s%8llu  %8s  %10s  %6s", ErrorKindText(static_cast<ErrorKind>(k)),
                    static_cast<unsigned long long>(error.count), "", "", since);
        lines.Append(line.View());
        lines.End();
    }
    if (options.terminal)
        lines.Code(ClearBelow);
    else
        out.push_back('\n');
}

}  // namespace busview
