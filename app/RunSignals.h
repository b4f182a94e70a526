// The signals that end a program run from a desktop session or a terminal: SIGTERM (the session, a
// service manager), SIGINT (Ctrl+C) and SIGHUP (the terminal went away). The window and the adapter
// emulator block them in every thread before any thread starts and take them on their main thread
// (signalfd or sigwait), so what they do on the way out runs as ordinary code, not in a handler.
#pragma once

#include <csignal>

inline sigset_t EndOfRunSignals() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGHUP);
    return set;
}

// A write that fails must fail with its error, not end the program: SIGPIPE (the reader of a pipe went
// away) and SIGXFSZ (past the file size limit) would kill it by default, halfway through writing the
// settings file or the log. Ignored for the whole program, before any thread starts; the write then
// returns EPIPE or EFBIG, which the writer reports.
inline void IgnoreWriteSignals() {
    std::signal(SIGPIPE, SIG_IGN);
    std::signal(SIGXFSZ, SIG_IGN);
}
