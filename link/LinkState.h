// Back to the link's state of a fresh process, for the tests: no link table, no handle, the flags at
// their start values, nothing carried or queued in the receive stream, no link error sink. The window's
// own state on top of this is reset by ResetProcessState (window/ProcessState.h, which lists every
// process-wide variable). Call only while no receive thread runs.
#pragma once

void ResetLinkState();
