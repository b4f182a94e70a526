#include "Settings.h"

// Debian's SimpleIni.h carries the template bodies behind SI_IMPLEMENTATION; this is the one file that
// uses the parser, so it takes them here and needs no library to link.
#define SI_NO_CONVERSION
#define SI_IMPLEMENTATION
#include <SimpleIni.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <dirent.h>
#include <grp.h>
#include <pwd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <mutex>
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

// Only regular files, and no more than the limit: a FIFO or a device named Brisklet.INI must not block or
// feed us forever, and a huge file must not take seconds and gigabytes to open. `dirFd` and `name` as
// for openat().
enum class ReadResult { Ok, Failed, TooLarge };

ReadResult ReadRegularFileAt(int dirFd, const std::string &name, std::string &text) {
    // Looked at before it is opened: even a non-blocking open of a FIFO would release a waiting writer.
    struct stat before {};
    if (::fstatat(dirFd, name.c_str(), &before, 0) != 0 || !S_ISREG(before.st_mode)) return ReadResult::Failed;
    const int fd = ::openat(dirFd, name.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return ReadResult::Failed;
    struct stat st {};
    ReadResult result = ReadResult::Ok;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode))
        result = ReadResult::Failed;
    else if (static_cast<uint64_t>(st.st_size) > SettingsFileLimit)
        result = ReadResult::TooLarge;
    char buffer[65536];
    while (result == ReadResult::Ok) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n > 0) {
            text.append(buffer, static_cast<std::size_t>(n));
            if (text.size() > SettingsFileLimit) result = ReadResult::TooLarge;  // it grew while we read
        } else if (n == 0) {
            break;
        } else if (errno != EINTR) {
            result = ReadResult::Failed;
        }
    }
    ::close(fd);
    if (result != ReadResult::Ok) text.clear();
    return result;
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

std::mutex TempHookMutex;
std::function<void(const std::string &)> TempHook;

// `folderFd`'s path is looked up only when a hook is set.
void CallTempHook(int folderFd, const std::string &tempName) {
    std::function<void(const std::string &)> hook;
    {
        std::lock_guard lock(TempHookMutex);
        hook = TempHook;
    }
    if (!hook) return;
    char link[64];
    std::snprintf(link, sizeof link, "/proc/self/fd/%d", folderFd);
    char folder[PATH_MAX];
    const ssize_t n = ::readlink(link, folder, sizeof folder - 1);
    hook((n > 0 ? std::string(folder, static_cast<std::size_t>(n)) : std::string(".")) + "/" + tempName);
}

// ---- Where the file may be written ----------------------------------------------------------------

// A descriptor that closes itself.
class Fd {
public:
    explicit Fd(int fd = -1) : fd_(fd) {}
    ~Fd() { Reset(); }
    Fd(const Fd &) = delete;
    Fd &operator=(const Fd &) = delete;
    int Get() const { return fd_; }
    void Reset(int fd = -1) {
        if (fd_ >= 0) ::close(fd_);
        fd_ = fd;
    }

private:
    int fd_;
};

// Debian gives every user a group of their own, and with it folders the group may write into; such a
// group lets no one else in.
bool IsOwnGroup(gid_t gid) {
    if (gid != ::getegid()) return false;
    char buffer[16384];
    passwd pw{};
    passwd *user = nullptr;
    if (::getpwuid_r(::geteuid(), &pw, buffer, sizeof buffer, &user) != 0 || user == nullptr) return false;
    const std::string name = user->pw_name;
    char groupBuffer[16384];
    group gr{};
    group *found = nullptr;
    if (::getgrgid_r(gid, &gr, groupBuffer, sizeof groupBuffer, &found) != 0 || found == nullptr) return false;
    if (name != found->gr_name) return false;
    for (char **member = found->gr_mem; member && *member; ++member)
        if (name != *member) return false;
    return true;
}

// Why a file in this folder could be swapped by someone else; empty when it cannot. `entry` is the
// file's own status, or nullptr where it does not exist yet.
std::string FolderRisk(const struct stat &folder, const struct stat *entry) {
    const uid_t me = ::geteuid();
    if (folder.st_uid != me && folder.st_uid != 0) return "its folder belongs to another user";
    const bool groupWrites = (folder.st_mode & S_IWGRP) != 0 && !IsOwnGroup(folder.st_gid);
    const bool othersWrite = (folder.st_mode & S_IWOTH) != 0;
    if (!groupWrites && !othersWrite) return {};
    // In a sticky folder only the owner of a name may remove or replace it.
    if ((folder.st_mode & S_ISVTX) != 0 && (entry == nullptr || entry->st_uid == me)) return {};
    return entry != nullptr && (folder.st_mode & S_ISVTX) != 0
               ? "it belongs to another user, in a folder other users may write into"
               : "other users may write into its folder";
}

// The folder of `path` opened (relative to `base` where the path is relative), and the last element.
bool OpenFolderOf(int base, const std::string &path, Fd &folder, std::string &name) {
    const auto slash = path.rfind('/');
    name = slash == std::string::npos ? path : path.substr(slash + 1);
    const std::string dir = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
    folder.Reset(::openat(base, dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    return folder.Get() >= 0 && !name.empty() && name != "." && name != "..";
}

// Where the new text will go: a folder and a name in it that no one else can swap, after following this
// user's own links. `refusal` says why not, when that is the reason; otherwise the write just failed.
struct Target {
    Fd folder;
    std::string name;
    bool exists = false;
    struct stat st {};
};

bool FindTarget(const std::string &path, Target &target, std::string &refusal) {
    if (!OpenFolderOf(AT_FDCWD, path, target.folder, target.name)) return false;
    constexpr int MaxLinks = 8;
    for (int links = 0;; ++links) {
        struct stat folder {};
        if (::fstat(target.folder.Get(), &folder) != 0) return false;
        struct stat entry {};
        target.exists = ::fstatat(target.folder.Get(), target.name.c_str(), &entry, AT_SYMLINK_NOFOLLOW) == 0;
        if (!target.exists && errno != ENOENT) return false;
        refusal = FolderRisk(folder, target.exists ? &entry : nullptr);
        if (!refusal.empty()) return false;
        if (links > 0) {
            // At the end of a link: the file must be ours, or the folder it will be created in.
            const bool ours = target.exists ? entry.st_uid == ::geteuid() : folder.st_uid == ::geteuid();
            if (!ours) {
                refusal = target.exists ? "it is a link to a file of another user"
                                        : "it is a link into a folder of another user";
                return false;
            }
        }
        if (!target.exists || !S_ISLNK(entry.st_mode)) {
            target.st = entry;
            return true;
        }
        if (entry.st_uid != ::geteuid()) {
            refusal = "it is a link made by another user";
            return false;
        }
        if (links == MaxLinks) {
            refusal = "it is a chain of too many links";
            return false;
        }
        char to[PATH_MAX];
        const ssize_t n = ::readlinkat(target.folder.Get(), target.name.c_str(), to, sizeof to - 1);
        if (n <= 0) return false;
        Fd next;
        std::string name;
        if (!OpenFolderOf(target.folder.Get(), std::string(to, static_cast<std::size_t>(n)), next, name))
            return false;
        target.folder.Reset(::dup(next.Get()));
        target.name = name;
        if (target.folder.Get() < 0) return false;
    }
}

// A temporary file of ours: "." + name + "." + pid + "." + serial + ".tmp".
bool TempPid(const std::string &entry, const std::string &name, pid_t &pid) {
    const std::string prefix = "." + name + ".";
    const std::string suffix = ".tmp";
    if (entry.size() <= prefix.size() + suffix.size() || entry.compare(0, prefix.size(), prefix) != 0 ||
        entry.compare(entry.size() - suffix.size(), suffix.size(), suffix) != 0)
        return false;
    const std::string_view middle(entry.data() + prefix.size(), entry.size() - prefix.size() - suffix.size());
    const auto dot = middle.find('.');
    if (dot == std::string_view::npos || dot == 0 || dot + 1 == middle.size()) return false;
    const bool digits = std::all_of(middle.begin(), middle.end(), [](char c) { return c == '.' || std::isdigit(static_cast<unsigned char>(c)); });
    if (!digits || middle.find('.', dot + 1) != std::string_view::npos) return false;
    long long value = 0;
    const auto [end, ec] = std::from_chars(middle.data(), middle.data() + dot, value);
    if (ec != std::errc{} || end != middle.data() + dot || value <= 0 || value > INT32_MAX) return false;
    pid = static_cast<pid_t>(value);
    return true;
}

// A write killed half way (kill -9, a crash, a power cut) leaves its temporary file behind; the next
// write removes those of this user whose writer is gone, or that no write could still be busy with.
void RemoveStaleTemps(int folderFd, const std::string &name) {
    constexpr time_t OldEnough = 10 * 60;
    const int listFd = ::openat(folderFd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (listFd < 0) return;
    DIR *dir = ::fdopendir(listFd);
    if (dir == nullptr) {
        ::close(listFd);
        return;
    }
    const time_t now = ::time(nullptr);
    while (const dirent *e = ::readdir(dir)) {
        pid_t pid = 0;
        if (!TempPid(e->d_name, name, pid) || pid == ::getpid()) continue;
        struct stat st {};
        if (::fstatat(folderFd, e->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(st.st_mode) ||
            st.st_uid != ::geteuid())
            continue;
        const bool writerGone = ::kill(pid, 0) != 0 && errno == ESRCH;
        if (writerGone || now - st.st_mtime > OldEnough) ::unlinkat(folderFd, e->d_name, 0);
    }
    ::closedir(dir);
}

bool ReplaceFile(const std::string &path, const BriskletSettings &settings, std::string &refusal) {
    Target target;
    if (!FindTarget(path, target, refusal)) return false;
    const int folder = target.folder.Get();
    const char *name = target.name.c_str();

    std::string oldText;
    if (target.exists) {
        // Keys we do not own must survive; a file we cannot read, or one made read-only on purpose, is
        // left alone, and so is one too large to be a real settings file.
        if (!S_ISREG(target.st.st_mode) || ::faccessat(folder, name, R_OK | W_OK, AT_EACCESS) != 0)
            return false;
        if (static_cast<uint64_t>(target.st.st_size) > SettingsFileLimit) {
            refusal = "it is larger than 1 MiB and is left as it is";
            return false;
        }
        const ReadResult read = ReadRegularFileAt(folder, target.name, oldText);
        if (read == ReadResult::TooLarge) refusal = "it is larger than 1 MiB and is left as it is";
        if (read != ReadResult::Ok) return false;
    }
    const std::string text = ComposeSettingsText(oldText, settings);

    RemoveStaleTemps(folder, target.name);
    // The temporary file has the final file's permissions from its first byte on: readable by no one the
    // old file was not readable by.
    const mode_t mode = target.exists ? (target.st.st_mode & 07777) : 0666;
    static std::atomic<unsigned> serial{0};
    std::string temp;
    int fd = -1;
    for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
        temp = "." + target.name + "." + std::to_string(::getpid()) + "." + std::to_string(serial++) + ".tmp";
        fd = ::openat(folder, temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode & 0777);
        if (fd < 0 && errno != EEXIST) return false;
    }
    if (fd < 0) return false;
    // The umask may have taken bits the old file had; an existing file keeps exactly its own.
    bool ok = !target.exists || ::fchmod(fd, mode) == 0;
    if (ok) CallTempHook(folder, temp);
    ok = ok && WriteAll(fd, text);
    if (ok && target.exists) {
        // The replacement keeps the old file's owner where we may set it.
        if (::fchown(fd, target.st.st_uid, target.st.st_gid) == 0) ok = ::fchmod(fd, mode) == 0;
    }
    ok = ok && ::fsync(fd) == 0;
    ok = ::close(fd) == 0 && ok;
    ok = ok && ::renameat(folder, temp.c_str(), folder, name) == 0;
    if (!ok) {
        ::unlinkat(folder, temp.c_str(), 0);
        return false;
    }
    ::fsync(folder);  // best effort: the rename is done either way
    return true;
}

// ---- Composing the new text, line by line ----------------------------------------------------------

// One line of the old text as the reader sees it.
struct Line {
    std::size_t begin, end;  // the line's bytes, without its line break
    std::size_t next;        // where the following line begins
    enum Kind { Other, Section, Key } kind = Other;
    std::string name;        // section or key name, trimmed
};

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

bool SameName(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
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
    std::size_t i = text.size() - (text.size() >= from + 2 && text.compare(text.size() - 2, 2, "\r\n") == 0 ? 2 : 1);
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

BriskletSettings ReadSettingsFile(const std::string &path, const std::string &exeDirWithSep, bool *tooLarge) {
    std::string text;
    const ReadResult read = ReadRegularFileAt(AT_FDCWD, path, text);
    if (tooLarge) *tooLarge = read == ReadResult::TooLarge;
    if (read != ReadResult::Ok) return DefaultSettings(exeDirWithSep);
    try {
        return ParseSettingsText(text, exeDirWithSep);
    } catch (const std::bad_alloc &) {
        return DefaultSettings(exeDirWithSep);
    }
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
    int blockOf = -1;    // which of our sections the current block is, -1 none
    std::string current;  // the current section's name; keys before any section have ""
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
                if (keyLine[k] == None && SameName(current, ours[k].section) && SameName(line.name, ours[k].key))
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

bool WriteSettingsFile(const std::string &path, const BriskletSettings &settings, std::string &error) {
    bool ok = false;
    std::string refusal;
    try {
        ok = ReplaceFile(path, settings, refusal);
    } catch (const std::exception &) {
        ok = false;
    }
    error.clear();
    if (!ok) {
        error = "Unable to write to " + path;
        if (!refusal.empty()) error += "\n(" + refusal + ")";
    }
    return ok;
}

void SetSettingsTempFileHook(std::function<void(const std::string &tempPath)> hook) {
    std::lock_guard lock(TempHookMutex);
    TempHook = std::move(hook);
}

std::string ChooseSettingsFolder(const std::string &exeDirWithSep, bool exeDirWritable,
                                 const char *xdgConfigHome, const char *home) {
    if (exeDirWritable) return exeDirWithSep;
    std::string base;
    if (xdgConfigHome != nullptr && xdgConfigHome[0] == '/')
        base = xdgConfigHome;
    else if (home != nullptr && home[0] == '/')
        base = std::string(home) + "/.config";
    else
        return exeDirWithSep;  // nowhere better: the write then fails and says where
    while (base.size() > 1 && base.back() == '/') base.pop_back();
    return base + "/Brisklet/";
}

bool MakeSettingsFolder(const std::string &folderWithSep) {
    std::string folder = folderWithSep;
    while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
    const auto slash = folder.rfind('/');
    if (slash != std::string::npos && slash > 0) {
        const std::string parent = folder.substr(0, slash);
        if (::mkdir(parent.c_str(), 0700) != 0 && errno != EEXIST) return false;
    }
    if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) return false;
    struct stat st {};
    return ::stat(folder.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}
