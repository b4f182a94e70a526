#include "CanReport.h"

#include <algorithm>

CanReport BuildCanFrameReport(int hour, int minute, int second, int millisecond, const IdBytes &id,
                              uint8_t info, const std::array<uint8_t, 8> &data) {
    using namespace canreport;
    constexpr std::size_t at = 4;  // where the payload starts in the frame
    uint8_t payload[PayloadLength]{};
    payload[Hour - at] = static_cast<uint8_t>(hour);
    payload[Minute - at] = static_cast<uint8_t>(minute);
    payload[Second - at] = static_cast<uint8_t>(second);
    payload[Millisecond - at] = static_cast<uint8_t>(millisecond >> 8);
    payload[Millisecond + 1 - at] = static_cast<uint8_t>(millisecond & 0xFF);
    payload[Id - at] = id.ID1;
    payload[Id + 1 - at] = id.ID2;
    payload[Id + 2 - at] = id.ID3;
    payload[Id + 3 - at] = id.ID4;
    payload[Info - at] = info;
    std::copy(data.begin(), data.end(), payload + (Data - at));
    CanReport report{};
    frame::BuildEnvelope(frame::CanFrameReport, payload, PayloadLength, report.data());
    return report;
}
