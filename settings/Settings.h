// Brisklet.INI without widgets: the seven values the window keeps between runs, how they are read from
// the file and how they are written back. Plain C++ so a fuzzer or a test can drive it directly.
//
// Reading rules, in short:
// - Section and key names match without regard to letter case ([can] speed= is [CAN] Speed=), as on the
//   platform the file format comes from. A section keeps the file's spelling on writing; our seven keys
//   are written in ours, in the place where the file had them.
// - Blanks and tabs around names and values are ignored; a value cannot begin or end with a blank.
// - Lines that are neither [Section] nor Key=Value are ignored; lines starting with ';' or '#' are
//   comments.
// - A key given twice in one section: the first one counts (as on the platform the format comes from);
//   a section given twice counts as one.
// - Writing changes only the line of each of our keys that reading took (the first), and adds the keys
//   that are missing. Every other line, comments, ignored lines and later copies of a key included,
//   stays as it was and where it was.
// - NUL bytes carry no meaning in a text file and are dropped before reading, so that the lines after
//   one still count.
#pragma once

#include <cstddef>
#include <functional>
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

// No real settings file comes near this size. A larger one is neither read nor rewritten, so that opening
// and closing the window stay quick and nothing in such a file is lost.
constexpr std::size_t SettingsFileLimit = std::size_t(1) << 20;

// Reads the file at path; a missing or unreadable file gives the defaults. Never fails. A file that is
// not to be read, nor replaced later, also gives the defaults, and *leftAlone (when given) says what it
// is: "larger than 1 MiB" (SettingsFileLimit), "a FIFO, not a regular file" (a socket, a device, a
// directory: SafeFile.h); otherwise *leftAlone is emptied. Never opens a FIFO, never blocks.
BriskletSettings ReadSettingsFile(const std::string &path, const std::string &exeDirWithSep,
                                  std::string *leftAlone = nullptr);

// The file's text under the same rules, for a reader that must say why there is none: false with `why`,
// one line (the system's error text, or what *leftAlone would say).
bool ReadSettingsText(const std::string &path, std::string &text, std::string &why);

// The new file text: oldText with our seven keys set (added in their order where missing), everything
// else kept. Line breaks inside a text value would start new lines in the file, so they become blanks.
std::string ComposeSettingsText(std::string_view oldText, const BriskletSettings &settings);

// Writes the settings into the file at path (a full path), keeping what else the file holds. The new text
// goes to a temporary file in the same folder, created with the file's final permissions, that then
// replaces the old one, so a failed or interrupted write leaves the old file as it was. Temporary files of
// earlier writes that were killed half way are removed.
//
// The file is written only where no other user can swap it for something else, under the rules of
// FindSafePlace (SafeFile.h), which the trace log shares: its folder is this user's or root's and no one
// else writes into it, or it is sticky and the file is this user's; a symbolic link is followed only when
// it is this user's and leads to a file, or into a folder, of this user's. A link made by this user to a
// file of their own that does not exist yet is created through it.
// A file that exists but is read-only, unreadable, not a regular file or larger than SettingsFileLimit is
// not replaced.
// On failure: false, with error = "Unable to write to " + path, followed by the reason on a line of its
// own where the write was refused rather than failed.
bool WriteSettingsFile(const std::string &path, const BriskletSettings &settings, std::string &error);

// Called with the temporary file's path right after it is created, before anything is written into it.
// For tests; empty by default.
void SetSettingsTempFileHook(std::function<void(const std::string &tempPath)> hook);

// The folder Brisklet.INI lives in, with its trailing separator: the program's own folder when the caller
// keeps the settings beside the program (a copy of one's own, where this user may write), otherwise
// $XDG_CONFIG_HOME/Brisklet/ (a relative XDG_CONFIG_HOME does not count), otherwise $HOME/.config/Brisklet/.
// Pure, for tests: the caller passes what it found.
std::string ChooseSettingsFolder(const std::string &exeDirWithSep, bool besideProgram,
                                 const char *xdgConfigHome, const char *home);

// Creates the folder (and a missing parent, each private to this user). True when it exists afterwards.
bool MakeSettingsFolder(const std::string &folderWithSep);
