#include "DecodedExport.h"

#include "DecodedCsv.h"

DecodedExport::DecodedExport(TraceLog &out, const dbc::DatabaseSet &databases)
    : out_(out), databases_(databases), values_(databases.MostSignals()), headerDone_(!out.StartsEmpty()) {
    lines_.reserve(64 * 1024);
}

void DecodedExport::Log(std::span<const BusEvent> events) {
    lines_.clear();
    if (!headerDone_) {
        lines_ += dbc::CsvHeader;
        headerDone_ = true;
    }
    for (const BusEvent &e : events) {
        if (e.kind != BusEvent::Kind::Frame) continue;
        const dbc::DatabaseSet::Found found = databases_.Find(e.id, e.extended);
        if (!found.message) continue;
        const dbc::Decoded decoded = dbc::DecodeMessage(*found.message, e.data, e.DataLength(), values_);
        if (decoded.values == 0) continue;
        const candump::Timestamp time = clock_.Stamp(e.transmitted ? -1 : e.adapterMs, e.adapterClockSet, e.arrivalUs);
        for (int i = 0; i < decoded.values; ++i)
            dbc::AppendCsvLine(lines_, time, *found.message, values_[static_cast<std::size_t>(i)]);
    }
    out_.WriteLines(lines_);
}
