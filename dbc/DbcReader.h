// Reads a DBC file into a Database.
//
// Read: VERSION, BU_ (nodes), BO_ (messages; bit 31 of the identifier set means 29-bit), SG_ (signals
// with simple multiplexing, M and m<value>), VAL_ (value tables), SIG_VALTYPE_ (1 = 32-bit float,
// 2 = 64-bit double), CM_ (message and signal comments; strings may span lines and hold \" quotes).
// Everything else (NS_, BS_, BA_DEF_, BA_, EV_, VAL_TABLE_, BO_TX_BU_, SIG_GROUP_, ...) is skipped
// without complaint, as is Vector's pseudo-message for unused signals (BO_ 3221225472). CRLF, tabs and
// blank lines anywhere; a UTF-8 byte order mark at the start. Texts (units, comments, value labels) are
// kept as UTF-8: one that is not valid UTF-8 is taken as Latin-1, as older editors write them.
//
// Two kinds of trouble:
// - A file that is not a DBC or breaks its syntax is not loaded at all: `error` is one line naming the
//   file, the line and what was expected there, e.g.
//     "bus.dbc:12: expected '|' between start bit and length, found '@'"
// - A message or signal that parses but cannot be decoded soundly is left out, and the rest loads; each
//   is one entry of Database::skipped, with its line:
//     "bus.dbc:7: signal RPM of message ENGINE (0x202): runs past the message's 2 bytes; skipped"
//   Left out: a signal of length 0 or over 64 bits, one that runs past the 64 bits of a frame or past
//   its message's length, an unknown byte order mark (@2), a factor of 0, a second signal of the same
//   name, a float signal not 32 bits long (double: 64), a multiplexed signal without a multiplexer, the
//   signals of extended multiplexing (m3M, or two M in one message); a message whose identifier is
//   taken already, is not 11 or 29 bits, or that is longer than a CAN frame's 8 bytes.
//
// Sizes are bounded so that hostile input cannot run the machine out of memory: MaxFileBytes,
// MaxLineBytes, MaxMessages, MaxSignals, MaxLabels, MaxNames, MaxReferences: what a file may ask for
// stays within a few hundred MB even where short text would stand for large entries. Loading runs in
// time linear in the file's size.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

#include "Database.h"

namespace dbc {

constexpr std::size_t MaxFileBytes = 64u << 20;
constexpr std::size_t MaxLineBytes = 1u << 20;
constexpr std::size_t MaxMessages = 1u << 16;
constexpr std::size_t MaxSignals = 1u << 18;        // in the whole file
constexpr std::size_t MaxSignalsPerMessage = 4096;  // bounds a decode buffer (Database::MostSignals)
constexpr std::size_t MaxLabels = 1u << 20;         // value table entries in the whole file
constexpr std::size_t MaxNames = 1u << 20;          // node names: BU_ and the signals' receivers
constexpr std::size_t MaxReferences = 1u << 19;     // CM_, VAL_ and SIG_VALTYPE_ statements

struct LoadResult {
    std::shared_ptr<const Database> database;  // null when the file was not loaded
    std::string error;                         // why, when database is null
};

// `text` is the file's content; `fileName` only names it in messages.
LoadResult ParseDbc(std::string_view text, std::string_view fileName);

// Reads the file (a regular file of at most MaxFileBytes) and parses it.
LoadResult LoadDbcFile(const std::string &path);

}  // namespace dbc
