// Brisklet.INI on disk: reading it within bounds, and writing it where no one else can swap it, through
// a temporary file that has the final permissions from its first byte.
#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <mutex>
#include <new>

#include "SafeFile.h"
#include "Settings.h"

namespace {

// Only regular files (SafeFile.h), and no more than the limit: a FIFO or a device named Brisklet.INI must
// not block or feed us forever, and a huge file must not take seconds and gigabytes to open. `dirFd` and
// `name` as for openat(). `why`: the system's error for Failed; what the file is for LeftAlone.
enum class ReadResult { Ok, Failed, LeftAlone };

constexpr const char *TooLargeText = "larger than 1 MiB";

ReadResult ReadRegularFileAt(int dirFd, const std::string &name, std::string &text, std::string &why) {
    struct stat st {};
    if (::fstatat(dirFd, name.c_str(), &st, 0) == 0 && !S_ISREG(st.st_mode)) {
        why = NotARegularFile(st.st_mode);
        return ReadResult::LeftAlone;
    }
    const int fd = OpenInputFile(dirFd, name, why);
    if (fd < 0) return ReadResult::Failed;
    ReadResult result = ReadResult::Ok;
    if (::fstat(fd, &st) != 0) {
        why = std::strerror(errno);
        result = ReadResult::Failed;
    } else if (static_cast<uint64_t>(st.st_size) > SettingsFileLimit) {
        why = TooLargeText;
        result = ReadResult::LeftAlone;
    }
    char buffer[65536];
    while (result == ReadResult::Ok) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n > 0) {
            text.append(buffer, static_cast<std::size_t>(n));
            if (text.size() > SettingsFileLimit) {  // it grew while we read
                why = TooLargeText;
                result = ReadResult::LeftAlone;
            }
        } else if (n == 0) {
            break;
        } else if (errno != EINTR) {
            why = std::strerror(errno);
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
    const bool digits = std::all_of(middle.begin(), middle.end(), [](char c) {
        return c == '.' || std::isdigit(static_cast<unsigned char>(c));
    });
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
    SafePlace target;
    if (!FindSafePlace(path, target, refusal)) return false;
    const int folder = target.folder.Get();
    const char *name = target.name.c_str();

    std::string oldText;
    if (target.exists) {
        // Keys we do not own must survive; a file we cannot read, or one made read-only on purpose, is
        // left alone, and so is one too large to be a real settings file.
        if (::faccessat(folder, name, R_OK | W_OK, AT_EACCESS) != 0) return false;
        std::string why = TooLargeText;
        const ReadResult read = static_cast<uint64_t>(target.st.st_size) > SettingsFileLimit
                                    ? ReadResult::LeftAlone
                                    : ReadRegularFileAt(folder, target.name, oldText, why);
        if (read == ReadResult::LeftAlone) refusal = "it is " + why + " and is left as it is";
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
        fd =
            ::openat(folder, temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode & 0777);
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

}  // namespace

bool ReadSettingsText(const std::string &path, std::string &text, std::string &why) {
    return ReadRegularFileAt(AT_FDCWD, path, text, why) == ReadResult::Ok;
}

BriskletSettings ReadSettingsFile(const std::string &path, const std::string &exeDirWithSep,
                                  std::string *leftAlone) {
    std::string text, why;
    const ReadResult read = ReadRegularFileAt(AT_FDCWD, path, text, why);
    if (leftAlone) *leftAlone = read == ReadResult::LeftAlone ? why : std::string();
    if (read != ReadResult::Ok) return DefaultSettings(exeDirWithSep);
    try {
        return ParseSettingsText(text, exeDirWithSep);
    } catch (const std::bad_alloc &) {
        return DefaultSettings(exeDirWithSep);
    }
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

std::string ChooseSettingsFolder(const std::string &exeDirWithSep, bool besideProgram,
                                 const char *xdgConfigHome, const char *home) {
    if (besideProgram) return exeDirWithSep;
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
