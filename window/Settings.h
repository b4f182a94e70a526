// Brisklet.INI without widgets: the seven values the window keeps between runs, how they are read from
// the file and how they are written back. Plain C++ so a fuzzer or a test can drive it directly.
//
// Reading rules, in short:
// - Section and key names match without regard to letter case ([can] speed= is [CAN] Speed=), as on the
//   platform the file format comes from. A section keeps the file's spelling on writing; our seven keys
//   are written in ours, in the place where the file had them.
// - Blanks and tabs around names and values are ignored; a value cannot begin or end with a blank.
// - Lines that are neither [Section] nor Key=Value are ignored; lines starting with ';' or '#' are
//   comments. A later write keeps comments, other sections and other keys, but not ignored lines.
// - A key given twice in one section: the first one counts (as on the platform the format comes from);
//   a section given twice counts as one. Writing leaves a single line for each of our keys.
// - NUL bytes carry no meaning in a text file and are dropped before reading, so that the lines after
//   one still count.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "IdCoding.h"

struct BriskletSettings {
    std::string File;               // [PATH] File: kept and written back, no other use
    std::string Ini;                // [PATH] Ini: likewise
    int Speed = DefaultBitRateRow;  // [CAN] Speed: bit rate list index; outside 0..7 means no selection
    bool Listening = false;         // [CAN] Listening
    std::string Tag = "0";          // [CAN] Tag
    std::string Mask = "0";         // [CAN] Mask
    bool Std11 = true;              // [CAN] 2.0A: 11-bit identifiers (else 29-bit)

    bool operator==(const BriskletSettings &) const = default;
};

// The longest text value taken from the file; longer ones are cut.
constexpr std::size_t SettingsTextLimit = 2047;

// What the window uses when the file or a key is missing; File is the program's folder.
BriskletSettings DefaultSettings(const std::string &exeDirWithSep);

// A whole number as the settings file spells it: "0x"/"0X" followed by hex digits (when longer than two
// characters; up to 32 bits, 0xFFFFFFFF being -1), else an optionally signed decimal within 32 bits.
// Anything else is not a number: returns false and leaves value alone.
bool ParseSettingsInteger(std::string_view text, int &value);

// The settings in the text of an INI file; every value that is missing or unreadable takes its default.
BriskletSettings ParseSettingsText(std::string_view text, const std::string &exeDirWithSep);

// Reads the file at path; a missing or unreadable file gives the defaults. Never fails.
BriskletSettings ReadSettingsFile(const std::string &path, const std::string &exeDirWithSep);

// The new file text: oldText with our seven keys set (added in their order where missing), everything
// else kept. Line breaks inside a text value would start new lines in the file, so they become blanks.
std::string ComposeSettingsText(std::string_view oldText, const BriskletSettings &settings);

// Writes the settings into the file at path (a full path), keeping what else the file holds. The new text
// goes to a temporary file in the same folder that then replaces the old one, so a failed or interrupted
// write leaves the old file as it was. A file that exists but is read-only or unreadable is not replaced.
// On failure: false, with error = "Unable to write to " + path.
bool WriteSettingsFile(const std::string &path, const BriskletSettings &settings, std::string &error);
