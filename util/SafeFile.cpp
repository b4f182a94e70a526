#include "SafeFile.h"

#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <system_error>

namespace {

std::string ErrorText(int error) { return std::error_code(error, std::generic_category()).message(); }

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

bool OthersWriteInto(const struct stat &folder) {
    return ((folder.st_mode & S_IWGRP) != 0 && !IsOwnGroup(folder.st_gid)) || (folder.st_mode & S_IWOTH) != 0;
}

// Why a file in this folder could be swapped by someone else; empty when it cannot. `entry` is the
// file's own status (a link's, for a link), or nullptr where it does not exist yet.
std::string FolderRisk(const struct stat &folder, const struct stat *entry) {
    const uid_t me = ::geteuid();
    if (folder.st_uid != me && folder.st_uid != 0) return "its folder belongs to another user";
    if (!OthersWriteInto(folder)) return {};
    const bool sticky = (folder.st_mode & S_ISVTX) != 0;
    if (!sticky) return "other users may write into its folder";
    // In a sticky folder only the owner of a name may remove or replace it; but anyone may add a second
    // name to a file, ours included, and then wait for us to write through it.
    if (entry == nullptr) return {};
    if (entry->st_uid != me) return "it belongs to another user, in a folder other users may write into";
    if (S_ISREG(entry->st_mode) && entry->st_nlink > 1)
        return "it has another name (a hard link), in a folder other users may write into";
    return {};
}

// The folder of `path` opened (relative to `base` where the path is relative), and the last element.
bool OpenFolderOf(int base, const std::string &path, UniqueFd &folder, std::string &name) {
    const auto slash = path.rfind('/');
    name = slash == std::string::npos ? path : path.substr(slash + 1);
    if (name.empty() || name == "." || name == "..") {
        errno = EISDIR;
        return false;
    }
    const std::string dir = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
    folder.Reset(::openat(base, dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    return folder.Get() >= 0;
}

// Back to blocking, now that the descriptor is known to be a regular file.
bool Blocking(int fd) {
    const int flags = ::fcntl(fd, F_GETFL);
    return flags >= 0 && ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) == 0;
}

}  // namespace

void UniqueFd::Reset(int fd) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = fd;
}

std::string NotARegularFile(mode_t mode) {
    const char *kind = S_ISFIFO(mode)   ? "a FIFO"
                       : S_ISSOCK(mode) ? "a socket"
                       : S_ISCHR(mode)  ? "a character device"
                       : S_ISBLK(mode)  ? "a block device"
                       : S_ISDIR(mode)  ? "a directory"
                       : S_ISLNK(mode)  ? "a symbolic link"
                                        : "something else";
    return std::string(kind) + ", not a regular file";
}

bool FindSafePlace(const std::string &path, SafePlace &place, std::string &refusal) {
    refusal.clear();
    if (!OpenFolderOf(AT_FDCWD, path, place.folder, place.name)) return false;
    constexpr int MaxLinks = 8;
    for (int links = 0;; ++links) {
        struct stat folder {};
        if (::fstat(place.folder.Get(), &folder) != 0) return false;
        struct stat entry {};
        place.exists = ::fstatat(place.folder.Get(), place.name.c_str(), &entry, AT_SYMLINK_NOFOLLOW) == 0;
        if (!place.exists && errno != ENOENT) return false;
        refusal = FolderRisk(folder, place.exists ? &entry : nullptr);
        if (!refusal.empty()) return false;
        if (links > 0) {
            // At the end of a link: the file must be ours, or the folder it will be made in.
            const bool ours = place.exists ? entry.st_uid == ::geteuid() : folder.st_uid == ::geteuid();
            if (!ours) {
                refusal = place.exists ? "it is a link to a file of another user"
                                       : "it is a link into a folder of another user";
                return false;
            }
        }
        if (!place.exists || !S_ISLNK(entry.st_mode)) {
            if (place.exists && !S_ISREG(entry.st_mode)) {
                refusal = "it is " + NotARegularFile(entry.st_mode);
                return false;
            }
            place.st = entry;
            place.privateFolder = folder.st_uid == ::geteuid() && !OthersWriteInto(folder);
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
        const ssize_t n = ::readlinkat(place.folder.Get(), place.name.c_str(), to, sizeof to - 1);
        if (n <= 0) return false;
        UniqueFd next;
        std::string name;
        if (!OpenFolderOf(place.folder.Get(), std::string(to, static_cast<std::size_t>(n)), next, name))
            return false;
        place.folder.Reset(next.Release());
        place.name = name;
    }
}

int OpenOutputFile(const std::string &path, std::string &why) {
    // The name may come or go between the look and the open (another program, another user in a sticky
    // folder): look again, a few times.
    constexpr int Attempts = 4;
    for (int attempt = 0; attempt < Attempts; ++attempt) {
        SafePlace place;
        if (!FindSafePlace(path, place, why)) {
            if (why.empty()) why = ErrorText(errno);
            return -1;
        }
        // O_NOFOLLOW and O_EXCL: a link or a file put in the place after the look is not opened through.
        const int flags = O_WRONLY | O_APPEND | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC |
                          (place.exists ? 0 : O_CREAT | O_EXCL);
        const mode_t mode = place.privateFolder ? 0666 : 0600;  // the umask applies as well
        UniqueFd fd(::openat(place.folder.Get(), place.name.c_str(), flags, mode));
        if (fd.Get() < 0) {
            const int error = errno;
            // Made, removed, or swapped for a link or a FIFO since the look.
            const bool changed = (error == EEXIST && !place.exists) || (error == ENOENT && place.exists) ||
                                 error == ELOOP || error == ENXIO;
            if (changed) continue;
            why = ErrorText(error);
            return -1;
        }
        struct stat opened {};
        struct stat folder {};
        if (::fstat(fd.Get(), &opened) != 0 || ::fstat(place.folder.Get(), &folder) != 0) {
            why = ErrorText(errno);
            return -1;
        }
        if (place.exists && (opened.st_dev != place.st.st_dev || opened.st_ino != place.st.st_ino)) continue;
        if (!S_ISREG(opened.st_mode)) {
            why = "it is " + NotARegularFile(opened.st_mode);
            return -1;
        }
        // A second name may have been made between the look and the open.
        why = FolderRisk(folder, &opened);
        if (!why.empty()) return -1;
        if (!Blocking(fd.Get())) {
            why = ErrorText(errno);
            return -1;
        }
        return fd.Release();
    }
    why = "it changed each time it was opened";
    return -1;
}

int OpenInputFile(int dirFd, const std::string &name, std::string &why) {
    struct stat before {};
    if (::fstatat(dirFd, name.c_str(), &before, 0) != 0) {
        why = ErrorText(errno);
        return -1;
    }
    if (!S_ISREG(before.st_mode)) {
        why = "it is " + NotARegularFile(before.st_mode);
        return -1;
    }
    UniqueFd fd(::openat(dirFd, name.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    struct stat opened {};
    if (fd.Get() < 0 || ::fstat(fd.Get(), &opened) != 0) {
        why = ErrorText(errno);
        return -1;
    }
    if (!S_ISREG(opened.st_mode)) {
        why = "it is " + NotARegularFile(opened.st_mode);
        return -1;
    }
    if (!Blocking(fd.Get())) {
        why = ErrorText(errno);
        return -1;
    }
    return fd.Release();
}
