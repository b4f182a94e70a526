// Brisklet.INI on disk: reading it within bounds, and writing it where no one else can swap it, through
// a temporary file that has the final permissions from its first byte.
#include <dirent.h>
#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
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
#include <ctime>
#include <mutex>
#include <new>

#include "Settings.h"

namespace {

// Only regular files, and no more than the limit: a FIFO or a device named Brisklet.INI must not block or
// feed us forever, and a huge file must not take seconds and gigabytes to open. `dirFd` and `name` as
// for openat().
enum class ReadResult { Ok, Failed, TooLarge };

ReadResult ReadRegularFileAt(int dirFd, const std::string &name, std::string &text) {
    // Looked at before it is opened: even a non-blocking open of a FIFO would release a waiting writer.
    struct stat before {};
    if (::fstatat(dirFd, name.c_str(), &before, 0) != 0 || !S_ISREG(before.st_mode))
        return ReadResult::Failed;
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
    if (::getgrgid_r(gid, &gr, groupBuffer, sizeof groupBuffer, &found) != 0 || found == nullptr)
        return false;
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
