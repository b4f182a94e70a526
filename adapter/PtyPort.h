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

// A symbolic link kept pointing at the pseudo-terminal while the adapter runs.
class StableName {
public:
    ~StableName() { Remove(); }

    // Points `link` at `target`, replacing an older symbolic link in one step (never a regular file).
    bool Point(const std::string &link, const std::string &target, std::string &why);
    // Removes the link if it still points at our target (a later instance may have taken it over).
    void Remove();

private:
    std::string link_, target_;
};
