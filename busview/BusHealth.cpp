#include "BusHealth.h"

#include <algorithm>

#include "TextOut.h"

namespace busview {

const char *UnknownLoadReason(const BitRate &rate) {
    if (rate.IsKnown()) return "";
    if (rate.state == BitRateState::SetUpElsewhere) return "listening to an adapter set up elsewhere";
    return "no Initialize since the adapter was plugged in";
}

double BusHealth::Percent(int64_t bits) const {
    if (!bitRate.IsKnown()) return 0;
    return std::min(100.0, 100.0 * static_cast<double>(bits) / bitRate.bitsPerSecond);
}

namespace {

// "37.2 %", or "?" while the bit rate is not known.
std::size_t FormatPercent(std::span<char> out, const BusHealth &health, double percent) {
    TextOut text(out);
    if (health.bitRate.IsKnown())
        text.Printf("%.1f %%", percent);
    else
        text.Text("?");
    return text.Size();
}

}  // namespace

std::size_t FormatLoad(std::span<char> out, const BusHealth &health) {
    return FormatPercent(out, health, health.LoadPercent());
}

std::size_t FormatPeak(std::span<char> out, const BusHealth &health) {
    return FormatPercent(out, health, health.PeakPercent());
}

std::size_t FormatSummaryLine(std::span<char> out, const BusHealth &health) {
    TextOut text(out);
    if (health.bitRate.IsKnown())
        text.Printf("load %.1f %% (peak %.1f %%)", health.LoadPercent(), health.PeakPercent());
    else
        text.Printf("load ? (%s)", UnknownLoadReason(health.bitRate));
    const ReceiveDrops &d = health.drops;
    text.Printf(", %lld frames/s, %lld errors/s, dropped %llu", static_cast<long long>(health.load.frames),
                static_cast<long long>(health.load.errors), static_cast<unsigned long long>(d.Frames()));
    if (d.Frames() != 0 || d.bytesSkipped != 0)
        text.Printf(" (bad checksum %llu, queue full %llu, by a consumer %llu; %llu bytes skipped)",
                    static_cast<unsigned long long>(d.badChecksum),
                    static_cast<unsigned long long>(d.queueFull),
                    static_cast<unsigned long long>(d.consumerDropped),
                    static_cast<unsigned long long>(d.bytesSkipped));
    return text.Size();
}

}  // namespace busview
