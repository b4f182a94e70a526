// brisklet-gateway --replay=FILE: a candump log read back and its frames' signal values written as the
// live --decode writes them, with no adapter. Lines that are not classic frames of the candump format
// are counted and said once at the end, with the first one's line number and what was wrong.
#pragma once

#include "GatewayOptions.h"
#include "StatusLines.h"

// 0 when the whole log was read and written; 1 when a DBC file, the log or the output failed (said in
// `status`).
int RunReplay(const GatewayOptions &options, StatusLines &status);
