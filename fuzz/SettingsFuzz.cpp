// The settings reader on arbitrary file text, and the writer over it:
// - reading never fails, and text values stay within the length limit and hold no line break or NUL;
// - the settings read, written back into the same text, read back the same, and writing them
//   close after close settles instead of growing;
// - other settings written into that text read back as written, whatever else the file holds.
#include <new>
#include <string>

#include "FuzzCheck.h"
#include "Settings.h"

namespace {

const std::string Dir = "/opt/brisklet/";

bool Clean(const std::string &value) {
    return value.size() <= SettingsTextLimit &&
           value.find_first_of(std::string("\r\n\0", 3)) == std::string::npos;
}

// A value the file can hold: printable, no blank at either end.
std::string PlainValueFrom(const std::string &text, std::size_t from) {
    std::string value;
    for (std::size_t i = from; i < text.size() && value.size() < 40; ++i)
        if (text[i] > ' ' && text[i] < 0x7F) value.push_back(text[i]);
    return value;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, std::size_t size) {
    const std::string text(reinterpret_cast<const char *>(data), size);
    try {
        const BriskletSettings read = ParseSettingsText(text, Dir);
        FUZZ_CHECK(Clean(read.File) && Clean(read.Ini) && Clean(read.Tag) && Clean(read.Mask));

        // Every write reads back the same and the text settles (a write changes only our keys' lines
        // and adds missing ones): nothing piles up close after close.
        std::string file = text;
        bool settled = false;
        for (int write = 0; write < 5 && !settled; ++write) {
            const std::string next = ComposeSettingsText(file, read);
            FUZZ_CHECK(ParseSettingsText(next, Dir) == read);
            settled = next == file;
            file = next;
        }
        FUZZ_CHECK(settled);

        BriskletSettings other;
        other.File = "/home/a b/";
        other.Ini = PlainValueFrom(text, 0);
        other.Speed = read.Speed == 3 ? -1 : 3;
        other.Listening = !read.Listening;
        other.Tag = PlainValueFrom(text, size / 2);
        other.Mask = "1FFFFFFF";
        other.Std11 = !read.Std11;
        FUZZ_CHECK(ParseSettingsText(ComposeSettingsText(text, other), Dir) == other);
    } catch (const std::bad_alloc &) {
        // The reader's way of saying the parser ran out of memory; the window then takes the defaults.
    }
    return 0;
}
