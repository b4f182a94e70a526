// Qt's own messages (its CAN plugins' warnings and chatter) as lines of the program's own, on stderr:
//   brisklet-gateway: qt: canbus.plugins.virtualcan: Invalid interface 'can7'.
// Debug and info messages (a plugin's "Server started", "client connected") are left out unless
// `verbose`; warnings and worse always go out. Each message is one write(2) of one whole line, from
// whichever thread Qt raised it on. Call once, early in main().
#pragma once

void RouteQtMessages(const char *program, bool verbose);
