#include "Settings.h"

// Debian's SimpleIni.h carries the template bodies behind SI_IMPLEMENTATION; this is the one file that
// uses the parser, so it takes them here and needs no library to link.
#define SI_NO_CONVERSION
#define SI_IMPLEMENTATION
#include <SimpleIni.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <filesystem>
#include <new>

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

// Only regular files: a FIFO or a device named Brisklet.INI must not block or feed us forever.
bool ReadRegularFile(const std::string &path, std::string &text) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return false;
    struct stat st {};
    bool ok = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
    char buffer[65536];
    while (ok) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n > 0)
            text.append(buffer, static_cast<std::size_t>(n));
        else if (n == 0)
            break;
        else if (errno != EINTR)
            ok = false;
    }
    ::close(fd);
    return ok;
}

bool WriteAll(int fd, const std::string &text) {
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n > 0)
            done += static_cast<std::size_t>(n);
        else if (n < 0 && errno == EINTR)
            continue;
        else
            return false;
    }
    return true;
}

bool ReplaceFile(const std::string &path, const BriskletSettings &settings) {
    namespace fs = std::filesystem;
    std::error_code ec;
    fs::path target(path);
    // A linked settings file stays linked: the new text replaces the file the link points to.
    if (fs::is_symlink(target, ec)) {
        target = fs::canonical(target, ec);
        if (ec) return false;
    }
    const std::string targetName = target.string();

    std::string oldText;
    struct stat st {};
    const bool exists = ::stat(targetName.c_str(), &st) == 0;
    if (!exists && errno != ENOENT) return false;
    if (exists) {
        // Keys we do not own must survive; a file we cannot read, or one made read-only on purpose, is
        // left alone.
        if (!S_ISREG(st.st_mode) || ::access(targetName.c_str(), R_OK | W_OK) != 0) return false;
        if (!ReadRegularFile(targetName, oldText)) return false;
    }
    const std::string text = ComposeSettingsText(oldText, settings);

    fs::path folder = target.parent_path();
    if (folder.empty()) folder = ".";
    static std::atomic<unsigned> serial{0};
    std::string temp;
    int fd = -1;
    for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
        temp = (folder / ("." + target.filename().string() + "." + std::to_string(::getpid()) + "." +
                          std::to_string(serial++) + ".tmp"))
                   .string();
        fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0 && errno != EEXIST) return false;
    }
    if (fd < 0) return false;

    bool ok = WriteAll(fd, text);
    if (ok && exists) {
        // The replacement keeps the old file's owner (when we may) and permissions.
        if (::fchown(fd, st.st_uid, st.st_gid) != 0) {
        }
        if (::fchmod(fd, st.st_mode & 07777) != 0) {
        }
    }
    ok = ok && ::fsync(fd) == 0;
    ok = ::close(fd) == 0 && ok;
    ok = ok && ::rename(temp.c_str(), targetName.c_str()) == 0;
    if (!ok) {
        ::unlink(temp.c_str());
        return false;
    }
    const int dirFd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd >= 0) {
        ::fsync(dirFd);  // best effort: the rename is done either way
        ::close(dirFd);
    }
    return true;
}

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

BriskletSettings ReadSettingsFile(const std::string &path, const std::string &exeDirWithSep) {
    std::string text;
    if (!ReadRegularFile(path, text)) return DefaultSettings(exeDirWithSep);
    try {
        return ParseSettingsText(text, exeDirWithSep);
    } catch (const std::bad_alloc &) {
        return DefaultSettings(exeDirWithSep);
    }
}

std::string ComposeSettingsText(std::string_view oldText, const BriskletSettings &settings) {
    CSimpleIniA ini;
    LoadIni(ini, oldText);
    auto set = [&ini](const char *section, const char *key, std::string value) {
        for (char &c : value)
            if (c == '\r' || c == '\n') c = ' ';
        // Forced replacement collapses repeated copies of the key into one, at the first one's place.
        if (ini.SetValue(section, key, value.c_str(), nullptr, true) < 0) throw std::bad_alloc();
    };
    set(SectionPath, "File", settings.File);
    set(SectionPath, "Ini", settings.Ini);
    set(SectionCan, "Speed", std::to_string(settings.Speed));
    set(SectionCan, "Listening", settings.Listening ? "1" : "0");
    set(SectionCan, "Tag", settings.Tag);
    set(SectionCan, "Mask", settings.Mask);
    set(SectionCan, "2.0A", settings.Std11 ? "1" : "0");
    std::string text;
    if (ini.Save(text, true) < 0) throw std::bad_alloc();
    return text;
}

bool WriteSettingsFile(const std::string &path, const BriskletSettings &settings, std::string &error) {
    bool ok = false;
    try {
        ok = ReplaceFile(path, settings);
    } catch (const std::exception &) {
        ok = false;
    }
    error = ok ? std::string() : "Unable to write to " + path;
    return ok;
}
