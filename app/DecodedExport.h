// The signal values of every frame a DBC file describes, as CSV lines into a log, for the gateway's
// --decode (live, from the adapter) and --replay (from a candump log read back):
//
//   time,identifier,message,signal,value,unit,label
//   1733655296.123000,202,ENGINE_DATA,RPM,2000,rpm,
//
// The header goes first into a new or empty file, and always onto a pipe or terminal. The time is the
// log's clock (LogClock): the adapter's stamp where it is to be believed, else the arrival time; a
// replayed line's own time. Frames no loaded file describes make no line, nor do bus errors and reports;
// frames the adapter sent for the bus mirror are decoded as any other (they were on the bus too).
//
// Thread contract: as TraceLog's (one thread at a time). Nothing is allocated per frame once the line
// buffer has held the longest batch.
#pragma once

#include <span>
#include <string>
#include <vector>

#include "BusEvent.h"
#include "DatabaseSet.h"
#include "LogClock.h"
#include "SignalDecode.h"
#include "TraceLog.h"

class DecodedExport {
public:
    DecodedExport(TraceLog &out, const dbc::DatabaseSet &databases);
    void Log(std::span<const BusEvent> events);

private:
    TraceLog &out_;
    const dbc::DatabaseSet &databases_;
    LogClock clock_;
    std::vector<dbc::SignalValue> values_;
    std::string lines_;
    bool headerDone_;
};
