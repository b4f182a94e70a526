// Files a program opens for its own output (the trace log, the settings file) or reads as its own input
// (the settings file, a library named on the command line), on a machine where another local user may be
// at work: a shared folder such as /tmp, a link or a hard link put in the place of the file, a FIFO, a
// socket or a device in the place of the file. The rules live here once, for every program.
//
// Nothing here relies on fs.protected_symlinks, fs.protected_hardlinks or fs.protected_regular: they are
// 0 on many machines and in containers. And nothing here can block in open(): a FIFO is refused before it
// is opened, and every open is non-blocking, so one swapped in at the last moment cannot hold the program
// before it handles its stop signals.
//
// Where a file may be written (FindSafePlace, OpenOutputFile):
// - Its folder belongs to this user or to root and no one else may write into it (a group of this user's
//   own, as Debian gives each user, counts as this user), or the folder is sticky (like /tmp) and the
//   file, when it exists, is this user's and has no other name (another user's hard link to a file of
//   ours would send our writes into it).
// - A symbolic link is followed only when it is this user's, and leads to a file of this user's or, where
//   that file does not exist yet, into a folder of this user's; the same rules hold for the folder at its
//   end. At most 8 links in a row.
// - Only a regular file: a FIFO, a socket, a device or a folder is refused.
// - A new file is made 0666 less the umask in a folder that is this user's alone (as the shell's `>>`
//   makes it), and 0600 less the umask anywhere else (a sticky /tmp, a folder of root's), where others
//   pass by and need not read it.
//
// Examples, as uid 1000 (4242 is another user; ~ is 0755 and 1000's):
//   ~/bus.log, new, umask 022                  -> created 0644
//   ~/bus.log, new, umask 077                  -> created 0600
//   /tmp/bus.log, new, umask 022               -> created 0600
//   ~/bus.log, 1000's own, 0644                -> appended to
//   /tmp/bus.log, 4242's, 0666                 -> "it belongs to another user, in a folder other users
//                                                 may write into" (root is refused the same way)
//   /tmp/bus.log -> ~/.bashrc, 4242's link     -> the same
//   /srv/s/bus.log, /srv/s 0777 (not sticky)   -> "other users may write into its folder", link or not
//   ~/bus.log -> /tmp/x.log, own link, 4242's x.log -> "it is a link to a file of another user"
//   ~/bus.log, a FIFO of 1000's                -> "it is a FIFO, not a regular file"
//   /dev/null                                  -> "it is a character device, not a regular file"
#pragma once

#include <sys/stat.h>

#include <string>

// A descriptor that closes itself.
class UniqueFd {
public:
    explicit UniqueFd(int fd = -1) : fd_(fd) {}
    ~UniqueFd() { Reset(); }
    UniqueFd(const UniqueFd &) = delete;
    UniqueFd &operator=(const UniqueFd &) = delete;
    int Get() const { return fd_; }
    void Reset(int fd = -1);
    int Release() {
        const int fd = fd_;
        fd_ = -1;
        return fd;
    }

private:
    int fd_;
};

// "a FIFO, not a regular file", "a socket, not a regular file", "a directory, not a regular file", ...
std::string NotARegularFile(mode_t mode);

// Where the file of a path is, or will be made: its folder, opened, and its name there.
struct SafePlace {
    UniqueFd folder;
    std::string name;  // one element, no slash
    bool exists = false;
    struct stat st {};           // the file's own status (not a link's) when it exists
    bool privateFolder = false;  // the folder is this user's and no one else may write into it
};

// Follows `path` to its place under the rules above. False when it may not be written there, with
// `refusal` saying why in one line ("it is a link made by another user"); or false with `refusal` empty
// and errno set when a call failed (a missing folder, no permission).
bool FindSafePlace(const std::string &path, SafePlace &place, std::string &refusal);

// Opens `path` for appending under the rules above, creating it when missing (never truncating). The
// descriptor is close-on-exec and blocking again once it is known to be a regular file. -1 with `why`,
// one line: the refusal or the system's error text ("No such file or directory").
int OpenOutputFile(const std::string &path, std::string &why);

// Opens `name` (relative to `dirFd`, as openat() takes it) for reading, following links: one's input may
// be anyone's file the permissions let us read, but only a regular file; a FIFO is never opened, not even
// without blocking, which would release a writer waiting on it. -1 with `why` as above.
int OpenInputFile(int dirFd, const std::string &name, std::string &why);
