// The table of every process-wide variable and thread-crossing object (who writes and reads it on which
// thread, and what guards it) is in docs/ARCHITECTURE.md, "Process-wide state and thread-crossing objects".
#pragma once

// Back to the state of a fresh process, for the tests: the link's (ResetLinkState, link/LinkState.h: no
// link table, no handle, the flags at their start values, nothing carried or queued in the receive
// stream, no link error sink), counters 0 and the real Delay. Call only while no receive thread runs and
// no window exists.
void ResetProcessState();
