// The adapter's end of the link: the master side of a pseudo-terminal whose slave side Brisklet opens, and
// the stable name (a symbolic link) by which Brisklet finds it.
#pragma once

#include <string>

class PtyPort {
public:
    PtyPort() = default;
    ~PtyPort();  // closes the master: the slave side hangs up, as a pulled-out adapter does
    PtyPort(const PtyPort &) = delete;
    PtyPort &operator=(const PtyPort &) = delete;

    // Opens a fresh pair with the slave side in raw mode. False with a reason when the system has none.
    bool Open(std::string &why);
    int MasterFd() const { return master_; }
    const std::string &SlavePath() const { return slavePath_; }

private:
    int master_ = -1;
    std::string slavePath_;
};

// A symbolic link kept pointing at the pseudo-terminal while the adapter runs, and beside it a lock file
// (the link's name + ".lock") locked for as long as the link is ours. The lock goes with the process
// however it ends, so a running adapter's link is never taken over by a second one, and Brisklet tells a
// link left behind by a killed adapter (its lock file free) from a live one.
class StableName {
public:
    StableName() = default;
    ~StableName() { Remove(); }
    StableName(const StableName &) = delete;
    StableName &operator=(const StableName &) = delete;

    // Locks, then points `link` at `target`, replacing an older symbolic link of this user's in one step
    // (never a regular file, never another user's link, never the link of a running adapter).
    bool Point(const std::string &link, const std::string &target, std::string &why);
    // Removes the link if it still points at our target, then the lock file.
    void Remove();

private:
    bool Lock(const std::string &lockPath, std::string &why);

    std::string link_, target_, lockPath_;
    int lockFd_ = -1;
};
