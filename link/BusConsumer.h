// What the receive path hands what it decodes to: the window's display, the receive list, a trace log, a
// bus mirror, the gateway's status lines.
//
// Thread contract: Take() is called by whoever runs the pump (the receive thread, or the window thread
// for Ctrl+R) with the pump gate held, once or more per read of the link, in stream order, never with
// an empty batch. It must return at once: no I/O, no waiting, no allocation. A consumer that writes
// somewhere (a file, a pipe, a bus) copies what it takes into a fixed ring of its own and does its I/O on
// a thread of its own (EventRing), counting what did not fit; so a stalled output costs that consumer
// dropped events, never the receive path or the window a wait.
#pragma once

#include <span>

#include "BusEvent.h"

class BusConsumer {
public:
    virtual ~BusConsumer() = default;
    virtual void Take(std::span<const BusEvent> events) = 0;
};
