// The receive list as text, for a program without a window: the health line, a header, one line per
// identifier and form sorted by identifier, the "others" line, then one line per kind of bus error seen.
//
//   load 4.9 % (peak 5.3 %), 45 frames/s, 0 errors/s, dropped 0
//   Identifier  Form            Len  Data                       Count  Cycle ms  Min/max ms  Last s
//   00000123    11-bit            8  11 22 33 44 55 66 77 88      412     100.0    99 / 101     0.0
//
// On a terminal the text redraws the screen in place (cursor home, each line cleared to its end, the rest
// of the screen cleared below it, so nothing flickers); bytes changed in the last second show in reverse
// video and rows not seen for a while dim. Elsewhere (a pipe, a file) it is plain lines with no control
// codes, one table after the other, each followed by an empty line.
#pragma once

#include <string>

#include "BusHealth.h"
#include "ReceiveTable.h"

namespace busview {

struct TextTableOptions {
    bool terminal = false;
    int maxRows = 0;  // frame and error lines at most (a terminal's height less the two header lines); 0: all
};

// Replaces the contents of `out` (its capacity is kept from one refresh to the next).
void RenderTextTable(const ReceiveSnapshot &snapshot, const BusHealth &health,
                     const TextTableOptions &options, std::string &out);

}  // namespace busview
