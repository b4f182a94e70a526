#include "Settings.h"

// Debian's SimpleIni.h carries the template bodies behind SI_IMPLEMENTATION; this is the one file that
// uses the parser, so it takes them here and needs no library to link.
#define SI_NO_CONVERSION
#define SI_IMPLEMENTATION
#include <SimpleIni.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <new>
#include <vector>

namespace {

const char *const SectionPath = "PATH";
const char *const SectionCan = "CAN";

// Multi-key mode keeps every copy of a repeated key, so the first one can win on reading and none of an
// unknown key's copies is lost on writing.
//
// A section line without its closing bracket ("[CAN" alone) is taken out before parsing: the parser
// skips such a line but keeps pointing at it as the current section, so the keys below it land in a
// section whose name runs over the line break, and every write adds a line to the file.
void LoadIni(CSimpleIniA &ini, std::string_view text) {
    ini.SetMultiKey(true);
    ini.SetSpaces(false);  // Key=Value, as the file has always been written
    std::string clean;
    clean.reserve(text.size());
    // The parser passes over a UTF-8 signature at the very start; so must the test for a broken line.
    constexpr std::string_view Signature = "\xEF\xBB\xBF";
    std::size_t start = 0;
    if (text.substr(0, Signature.size()) == Signature) {
        clean.append(Signature);
        start = Signature.size();
    }
    while (start < text.size()) {
        std::size_t end = text.find_first_of("\r\n", start);
        if (end == std::string_view::npos) end = text.size();
        const std::string_view line = text.substr(start, end - start);
        const std::size_t first = line.find_first_not_of(std::string_view(" \t\0", 3));
        const bool brokenSection = first != std::string_view::npos && line[first] == '[' &&
                                   line.find(']', first) == std::string_view::npos;
        if (!brokenSection)
            for (char c : line)
                if (c != '\0') clean.push_back(c);  // the parser stops at the first NUL otherwise
        if (end < text.size()) clean.push_back(text[end]);
        start = end + 1;
    }
    if (ini.LoadData(clean.data(), clean.size()) < 0) throw std::bad_alloc();
}

// Cuts to the length limit without leaving half of a UTF-8 character at the end.
std::string CutText(const char *value) {
    std::string text(value);
    if (text.size() <= SettingsTextLimit) return text;
    std::size_t cut = SettingsTextLimit;
    auto continuation = [&](std::size_t i) { return (static_cast<unsigned char>(text[i]) & 0xC0) == 0x80; };
    if (continuation(cut)) {
        std::size_t lead = cut - 1;
        while (lead + 3 > cut && lead > 0 && continuation(lead)) --lead;
        const auto first = static_cast<unsigned char>(text[lead]);
        const std::size_t length = first >= 0xF0 ? 4 : first >= 0xE0 ? 3 : first >= 0xC0 ? 2 : 1;
        if (first >= 0xC0 && lead + length > cut) cut = lead;
    }
    text.resize(cut);
    return text;
}

std::string ReadText(const CSimpleIniA &ini, const char *section, const char *key,
                     const std::string &fallback) {
    const char *value = ini.GetValue(section, key, nullptr);
    return value ? CutText(value) : fallback;
}

int ReadInteger(const CSimpleIniA &ini, const char *section, const char *key, int fallback) {
    const char *value = ini.GetValue(section, key, nullptr);
    int number = fallback;
    if (value && !ParseSettingsInteger(value, number)) number = fallback;
    return number;
}

bool ReadBoolean(const CSimpleIniA &ini, const char *section, const char *key, bool fallback) {
    return ReadInteger(ini, section, key, fallback ? 1 : 0) != 0;
}

// ---- Composing the new text, line by line ----------------------------------------------------------

// One line of the old text as the reader sees it.
struct Line {
    std::size_t begin, end;  // the line's bytes, without its line break
    std::size_t next;        // where the following line begins
    enum Kind { Other, Section, Key } kind = Other;
    std::string name;  // section or key name, trimmed
};

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

bool SameName(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}

std::string Trimmed(std::string_view text) {
    std::size_t b = 0, e = text.size();
    while (b < e && IsBlank(text[b])) ++b;
    while (e > b && IsBlank(text[e - 1])) --e;
    return std::string(text.substr(b, e - b));
}

// The same reading of a line as the parser's (NUL bytes dropped, blanks skipped; a section line needs
// its closing bracket; a key line needs '=' and a name before it).
void Classify(std::string_view raw, Line &line) {
    std::string text;
    for (char c : raw)
        if (c != '\0') text.push_back(c);
    std::size_t i = 0;
    while (i < text.size() && IsBlank(text[i])) ++i;
    if (i == text.size() || text[i] == ';' || text[i] == '#') return;
    if (text[i] == '[') {
        const auto close = text.find(']', i);
        if (close == std::string::npos) return;
        line.kind = Line::Section;
        line.name = Trimmed(std::string_view(text).substr(i + 1, close - i - 1));
        return;
    }
    const auto equals = text.find('=', i);
    if (equals == std::string::npos || equals == i) return;
    line.kind = Line::Key;
    line.name = Trimmed(std::string_view(text).substr(i, equals - i));
}

std::vector<Line> SplitLines(std::string_view text, std::size_t from) {
    std::vector<Line> lines;
    std::size_t start = from;
    while (start < text.size()) {
        std::size_t end = text.find_first_of("\r\n", start);
        std::size_t next;
        if (end == std::string_view::npos) {
            end = next = text.size();
        } else {
            next = end + 1;
            if (text[end] == '\r' && next < text.size() && text[next] == '\n') ++next;
        }
        Line line{start, end, next, Line::Other, {}};
        Classify(text.substr(start, end - start), line);
        lines.push_back(std::move(line));
        start = next;
    }
    return lines;
}

// Whether the text (which ends with a line break after `from`) ends with a line holding nothing but blanks.
bool EndsWithBlankLine(const std::string &text, std::size_t from) {
    std::size_t i =
        text.size() - (text.size() >= from + 2 && text.compare(text.size() - 2, 2, "\r\n") == 0 ? 2 : 1);
    while (i > from && IsBlank(text[i - 1])) --i;
    return i == from || text[i - 1] == '\n' || text[i - 1] == '\r';
}

struct KeyValue {
    const char *section, *key;
    std::string value;
};

}  // namespace

BriskletSettings DefaultSettings(const std::string &exeDirWithSep) {
    BriskletSettings settings;
    settings.File = exeDirWithSep;
    return settings;
}

bool ParseSettingsInteger(std::string_view text, int &value) {
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        uint64_t number = 0;
        for (char c : text.substr(2)) {
            int digit;
            if (c >= '0' && c <= '9')
                digit = c - '0';
            else if (c >= 'a' && c <= 'f')
                digit = c - 'a' + 10;
            else if (c >= 'A' && c <= 'F')
                digit = c - 'A' + 10;
            else
                return false;
            number = number * 16 + static_cast<uint64_t>(digit);
            if (number > 0xFFFFFFFFu) return false;
        }
        // Eight hex digits are a 32-bit pattern: 0xFFFFFFFF is -1.
        value = static_cast<int32_t>(static_cast<uint32_t>(number));
        return true;
    }
    std::size_t i = 0;
    bool negative = false;
    if (!text.empty() && (text[0] == '-' || text[0] == '+')) {
        negative = text[0] == '-';
        i = 1;
    }
    if (i == text.size()) return false;
    int64_t number = 0;
    for (; i < text.size(); ++i) {
        const char c = text[i];
        if (c < '0' || c > '9') return false;
        number = number * 10 + (c - '0');
        if (number > 2147483648LL) return false;
    }
    if (negative) number = -number;
    if (number > 2147483647LL) return false;
    value = static_cast<int>(number);
    return true;
}

BriskletSettings ParseSettingsText(std::string_view text, const std::string &exeDirWithSep) {
    const BriskletSettings defaults = DefaultSettings(exeDirWithSep);
    CSimpleIniA ini;
    LoadIni(ini, text);
    BriskletSettings settings;
    settings.File = ReadText(ini, SectionPath, "File", defaults.File);
    settings.Ini = ReadText(ini, SectionPath, "Ini", defaults.Ini);
    settings.Speed = ReadInteger(ini, SectionCan, "Speed", defaults.Speed);
    settings.Listening = ReadBoolean(ini, SectionCan, "Listening", defaults.Listening);
    settings.Tag = ReadText(ini, SectionCan, "Tag", defaults.Tag);
    settings.Mask = ReadText(ini, SectionCan, "Mask", defaults.Mask);
    settings.Std11 = ReadBoolean(ini, SectionCan, "2.0A", defaults.Std11);
    return settings;
}

std::string ComposeSettingsText(std::string_view oldText, const BriskletSettings &settings) {
    std::vector<KeyValue> ours = {
        {SectionPath, "File", settings.File},
        {SectionPath, "Ini", settings.Ini},
        {SectionCan, "Speed", std::to_string(settings.Speed)},
        {SectionCan, "Listening", settings.Listening ? "1" : "0"},
        {SectionCan, "Tag", settings.Tag},
        {SectionCan, "Mask", settings.Mask},
        {SectionCan, "2.0A", settings.Std11 ? "1" : "0"},
    };
    for (KeyValue &kv : ours)
        for (char &c : kv.value)
            if (c == '\r' || c == '\n' || c == '\0') c = ' ';

    constexpr std::string_view Signature = "\xEF\xBB\xBF";
    const std::size_t from = oldText.substr(0, Signature.size()) == Signature ? Signature.size() : 0;
    const std::vector<Line> lines = SplitLines(oldText, from);
    // The file's own line break, for the lines we add.
    std::string_view lineBreak = "\n";
    for (const Line &line : lines)
        if (line.next > line.end) {
            lineBreak = oldText.substr(line.end, line.next - line.end);
            break;
        }

    // Which line holds each of our keys (the first, as reading takes it); after which line the missing
    // keys of each section go (the last key, or the header, of the section's first block).
    constexpr std::size_t None = std::size_t(-1);
    std::vector<std::size_t> keyLine(ours.size(), None);
    std::size_t insertAfter[2] = {None, None};  // [PATH], [CAN]
    int blockOf = -1;                           // which of our sections the current block is, -1 none
    std::string current;                        // the current section's name; keys before any section have ""
    bool seen[2] = {false, false};
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const Line &line = lines[i];
        if (line.kind == Line::Section) {
            current = line.name;
            blockOf = -1;
            for (int s = 0; s < 2; ++s)
                if (SameName(current, s == 0 ? SectionPath : SectionCan) && !seen[s]) {
                    seen[s] = true;
                    blockOf = s;
                    insertAfter[s] = i;
                }
        } else if (line.kind == Line::Key) {
            if (blockOf >= 0) insertAfter[blockOf] = i;
            for (std::size_t k = 0; k < ours.size(); ++k)
                if (keyLine[k] == None && SameName(current, ours[k].section) &&
                    SameName(line.name, ours[k].key))
                    keyLine[k] = i;
        }
    }

    auto keyText = [&](const KeyValue &kv) { return std::string(kv.key) + "=" + kv.value; };
    std::string text(oldText.substr(0, from));
    text.reserve(oldText.size() + 256);
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const Line &line = lines[i];
        bool replaced = false;
        for (std::size_t k = 0; k < ours.size(); ++k)
            if (keyLine[k] == i) {
                text += keyText(ours[k]);
                replaced = true;
            }
        if (!replaced) text.append(oldText.substr(line.begin, line.end - line.begin));
        std::string added;
        for (int s = 0; s < 2; ++s)
            if (insertAfter[s] == i)
                for (std::size_t k = 0; k < ours.size(); ++k)
                    if (keyLine[k] == None && ours[k].section == (s == 0 ? SectionPath : SectionCan))
                        added.append(lineBreak).append(keyText(ours[k]));
        if (!added.empty()) {
            text += added;
            text.append(line.next > line.end ? oldText.substr(line.end, line.next - line.end) : lineBreak);
        } else {
            text.append(oldText.substr(line.end, line.next - line.end));
        }
    }
    // Sections the file does not have go at its end, after a blank line.
    for (int s = 0; s < 2; ++s) {
        if (seen[s]) continue;
        const char *section = s == 0 ? SectionPath : SectionCan;
        if (text.size() > from) {
            if (text.back() != '\n' && text.back() != '\r') text += lineBreak;
            if (!EndsWithBlankLine(text, from)) text += lineBreak;
        }
        text.append("[").append(section).append("]").append(lineBreak);
        for (const KeyValue &kv : ours)
            if (kv.section == section) text.append(keyText(kv)).append(lineBreak);
    }
    return text;
}
