// Every process-wide variable of the program, in one place: who owns it, who writes and reads it on
// which thread, and what guards it. docs/ARCHITECTURE.md shows the same table with the two loops.
//
// | Variable (declared in)                       | Owner           | Written by (thread) | Read by (thread)
// | Guard                     |
// |----------------------------------------------|-----------------|---------------------------------------------|--------------------------------------|---------------------------|
// | FtApi (link/D2XXUnit.h)                      | link            | start-up, before the receive thread
// (main)  | every link call (both)               | set before threads start  | | LinkHandle (link/D2XXUnit.h)
// | link            | OpenFTDevice: presence tick (window)        | every link call (both)               |
// atomic                    | | ShowLinkErrors (link/D2XXUnit.h)             | link            | tick, pump
// (both); command write (window)   | ReportLinkError (both)               | atomic                    | |
// LinkErrorSerial (link/D2XXUnit.h)            | link            | ReportLinkError (both) | ReportLinkError
// (both)               | atomic                    | | DeviceCount (link/D2XXUnit.h)                | link |
// FormShow (window)                           | tests                                | window thread only |
// | InBuffer (link/D2XXUnit.h)                   | link            | ReadFTDevice in a pump (pump holder) |
// the pump (pump holder)               | pump gate                 | | OutBuffer (link/D2XXUnit.h) | link |
// command writes (window; gateway: main)      | WriteFTDevice (same)                 | one writing thread |
// | link error sink (link/D2XXUnit.h)            | link            | window creation/destruction (window) |
// ReportLinkError (both)               | its own mutex             | | DevicePresent (link/PresenceWatch.h)
// | presence watch  | presence tick, FormShow, closing (window)   | commands (window), pass (receive)    |
// atomic                    | | PumpMutex, the pump gate (link/ReceivePump.h)| receive pump    | - | - | the
// gate itself           | | receive stream, consumers (link/ReceivePump) | receive pump    | the pump,
// Add/RemovePumpConsumer            | the pump                             | pump gate                 | |
// PauseState (link/ReceivePump.h)              | window commands | pause, init, disable, closing (window) |
// decoder in a pump (both)             | atomic                    | | RxEvent (d2xx/RxEvent.h) | receive
// thread  | Set: the backend / vendor library (any)     | Wait: receive thread                 | its own
// mutex             | | MessageCount, *ErrorCount (MainDisplay.h)    | display         | pump consumer (pump
// holder); Clear (window) | labels (window)                      | atomic                    | | display
// queue (window/MainReceive.cpp)       | display         | pump consumer, link error sink (any)        |
// drain (window)                       | its own mutex             | | frmMain (window/Main.h) | window |
// window creation/destruction (window)        | trace log error (receive)            | set before threads
// start  | | Delay hooks (util/unitMy.h)                  | util            | tests (window) | Delay (window)
// | window thread only        | | TheSimAdapter, TheSerialLink                 | their backend   | any | any
// | internally locked         |
#pragma once

// Back to the state of a fresh process, for the tests: the link's (ResetLinkState, link/LinkState.h: no
// link table, no handle, the flags at their start values, nothing carried or queued in the receive
// stream, no link error sink), counters 0 and the real Delay. Call only while no receive thread runs and
// no window exists.
void ResetProcessState();
