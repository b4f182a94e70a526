// The serial link on a shared machine: it opens only a terminal that is safe to take, and says why not;
// it never shares a device with a second window; it gives the terminal back as it found it.
#include <grp.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <QTemporaryDir>
#include <cstring>
#include <fstream>
#include <functional>

#include "BackendSerial.h"
#include "SerialPty.h"

namespace {

constexpr uid_t Nobody = 65534;

// Watches a file for being opened by anyone, so a test can tell "refused" from "opened and closed".
class OpenWatch {
public:
    explicit OpenWatch(const std::string &path) {
        fd_ = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
        if (fd_ >= 0) watch_ = ::inotify_add_watch(fd_, path.c_str(), IN_OPEN);
    }
    ~OpenWatch() {
        if (fd_ >= 0) ::close(fd_);
    }
    bool Ok() const { return fd_ >= 0 && watch_ >= 0; }
    // Whether an open has been seen since the watch began (the event is queued before open() returns).
    bool Opened() {
        alignas(inotify_event) char buffer[4096];
        return ::read(fd_, buffer, sizeof buffer) > 0;
    }

private:
    int fd_ = -1, watch_ = -1;
};

// What a refused open leaves: no handle, the reason, and the node never opened.
void ExpectRefused(const std::string &path, const std::string &reason, bool absent = false) {
    OpenWatch watch(path);
    SerialLink link({path});
    FT_HANDLE handle = nullptr;
    EXPECT_NE(link.Open(0, &handle), FT_OK);
    EXPECT_FALSE(link.IsOpen());
    EXPECT_EQ(link.LastOpenProblem().text, reason);
    EXPECT_EQ(link.LastOpenProblem().absent, absent);
    if (watch.Ok()) {
        EXPECT_FALSE(watch.Opened()) << path << " was opened";
    }
}

class SerialSafety : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(dir.isValid()); }
    std::string In(const char *name) const { return dir.filePath(name).toStdString(); }
    QTemporaryDir dir;
};

TEST_F(SerialSafety, WhatIsNotASerialTerminalIsNeverOpened) {
    const std::string fifo = In("fifo");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    ExpectRefused(fifo, fifo + " is not a serial terminal; not opened");

    const std::string plain = In("plain");
    std::ofstream(plain) << "data";
    ExpectRefused(plain, plain + " is not a serial terminal; not opened");

    ExpectRefused(dir.path().toStdString(),
                  dir.path().toStdString() + " is not a serial terminal; not opened");

    const std::string missing = In("missing");
    ExpectRefused(missing, missing + " does not exist", true);

    if (::geteuid() == 0) {
        // A character device that is no terminal (a null device of our own, so no one else opens it).
        const std::string null = In("null");
        ASSERT_EQ(::mknod(null.c_str(), S_IFCHR | 0666, makedev(1, 3)), 0);
        ExpectRefused(null, null + " is not a serial terminal; not opened");
    }
}

TEST_F(SerialSafety, AWriterWaitingOnAFifoIsNotReleased) {
    const std::string fifo = In("fifo");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    // A writer that opens without blocking fails with ENXIO while no reader has the FIFO open: after the
    // refused open, that is still so.
    SerialLink link({fifo});
    FT_HANDLE handle = nullptr;
    EXPECT_NE(link.Open(0, &handle), FT_OK);
    const int writer = ::open(fifo.c_str(), O_WRONLY | O_NONBLOCK);
    EXPECT_EQ(writer, -1);
    EXPECT_EQ(errno, ENXIO);
    if (writer >= 0) ::close(writer);
}

TEST_F(SerialSafety, ATerminalOfAnotherUserIsNeverOpened) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root to hand a terminal to another user";
    TestPty pty;
    ASSERT_TRUE(pty.Ok());
    ASSERT_EQ(::chown(pty.Slave().c_str(), Nobody, 5), 0);
    ExpectRefused(pty.Slave(), pty.Slave() + " is a terminal of another user; not opened");
}

TEST_F(SerialSafety, AProcesssControllingTerminalIsNeverOpened) {
    TestPty pty;
    ASSERT_TRUE(pty.Ok());
    // A child makes the terminal its controlling terminal, as a shell in a new terminal window does.
    int ready[2], done[2];
    ASSERT_EQ(::pipe(ready), 0);
    ASSERT_EQ(::pipe(done), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::setsid();
        const int tty = ::open(pty.Slave().c_str(), O_RDWR);  // no O_NOCTTY: it becomes ours
        char byte = tty >= 0 ? 'y' : 'n';
        [[maybe_unused]] ssize_t n = ::write(ready[1], &byte, 1);
        n = ::read(done[0], &byte, 1);
        ::_exit(0);
    }
    char byte = 0;
    ASSERT_EQ(::read(ready[0], &byte, 1), 1);
    ASSERT_EQ(byte, 'y');
    struct stat node {};
    ASSERT_EQ(::stat(pty.Slave().c_str(), &node), 0);
    EXPECT_EQ(ControllingProcess(node.st_rdev, "/proc"), child);
    ExpectRefused(pty.Slave(), pty.Slave() + " is the terminal of a running program (process " +
                                   std::to_string(child) + "); not opened");
    ASSERT_EQ(::write(done[1], "x", 1), 1);
    ::waitpid(child, nullptr, 0);
    // Its session gone, the terminal is free to take.
    SerialLink link({pty.Slave()});
    FT_HANDLE handle = nullptr;
    EXPECT_EQ(link.Open(0, &handle), FT_OK) << link.LastOpenProblem().text;
    EXPECT_EQ(link.LastOpenProblem(), OpenProblem{});
    for (int fd : {ready[0], ready[1], done[0], done[1]}) ::close(fd);
}

TEST_F(SerialSafety, TwoLinksNeverShareADevice) {
    TestPty pty;
    ASSERT_TRUE(pty.Ok());
    SerialLink first({pty.Slave()}), second({pty.Slave()});
    FT_HANDLE a = nullptr, b = nullptr;
    ASSERT_EQ(first.Open(0, &a), FT_OK);
    // Root passes TIOCEXCL; the advisory lock stops a second window all the same.
    EXPECT_EQ(second.Open(0, &b), FT_DEVICE_NOT_OPENED);
    EXPECT_EQ(second.LastOpenProblem(), (OpenProblem{false, pty.Slave() + " is in use by another program", true}));
    EXPECT_FALSE(second.IsOpen());
    ASSERT_EQ(first.Close(a), FT_OK);
    EXPECT_EQ(second.Open(0, &b), FT_OK);
    EXPECT_EQ(second.Close(b), FT_OK);
}

TEST_F(SerialSafety, TheTerminalGetsItsSettingsBack) {
    TestPty pty;
    ASSERT_TRUE(pty.Ok());
    const int look = ::open(pty.Slave().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    ASSERT_GE(look, 0);
    termios before{};
    ASSERT_EQ(::tcgetattr(look, &before), 0);
    before.c_lflag |= ICANON | ECHO | ISIG;
    before.c_iflag |= ICRNL | IXON;
    before.c_oflag |= OPOST | ONLCR;
    ::cfsetispeed(&before, B38400);
    ::cfsetospeed(&before, B38400);
    ASSERT_EQ(::tcsetattr(look, TCSANOW, &before), 0);
    ASSERT_EQ(::tcgetattr(look, &before), 0);

    SerialLink link({pty.Slave()});
    FT_HANDLE handle = nullptr;
    ASSERT_EQ(link.Open(0, &handle), FT_OK);
    termios during{};
    ASSERT_EQ(::tcgetattr(look, &during), 0);
    EXPECT_EQ(during.c_lflag & (ICANON | ECHO), 0u);  // raw while ours
    ASSERT_EQ(link.Close(handle), FT_OK);

    termios after{};
    ASSERT_EQ(::tcgetattr(look, &after), 0);
    EXPECT_EQ(after.c_iflag, before.c_iflag);
    EXPECT_EQ(after.c_oflag, before.c_oflag);
    EXPECT_EQ(after.c_cflag, before.c_cflag);
    EXPECT_EQ(after.c_lflag, before.c_lflag);
    EXPECT_EQ(::cfgetospeed(&after), B38400);
    EXPECT_EQ(std::memcmp(after.c_cc, before.c_cc, sizeof after.c_cc), 0);
    ::close(look);
}

TEST_F(SerialSafety, PermissionDeniedNamesTheGroupAndTheUdevRule) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root to play a user without access";
    TestPty pty;
    ASSERT_TRUE(pty.Ok());
    ASSERT_EQ(::chown(pty.Slave().c_str(), 0, 20), 0);  // root's, group dialout (20 on Debian)
    ASSERT_EQ(::chmod(pty.Slave().c_str(), 0660), 0);
    int answer[2];
    ASSERT_EQ(::pipe(answer), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (::setgroups(0, nullptr) != 0 || ::setgid(Nobody) != 0 || ::setuid(Nobody) != 0) ::_exit(3);
        SerialLink link({pty.Slave()});
        FT_HANDLE handle = nullptr;
        const bool opened = link.Open(0, &handle) == FT_OK;
        const std::string text = opened ? "opened" : link.LastOpenProblem().text;
        [[maybe_unused]] const ssize_t n = ::write(answer[1], text.data(), text.size());
        ::_exit(0);
    }
    ::close(answer[1]);
    std::string text;
    char buffer[512];
    for (ssize_t n; (n = ::read(answer[0], buffer, sizeof buffer)) > 0;)
        text.append(buffer, static_cast<std::size_t>(n));
    ::close(answer[0]);
    int status = 0;
    ::waitpid(child, &status, 0);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    group *dialout = ::getgrgid(20);
    const std::string name = dialout ? dialout->gr_name : "20";
    EXPECT_EQ(text, pty.Slave() + ": permission denied; join the group " + name +
                        " (then log in again) or install the udev rule 70-brisklet-ftdi.rules (see README)");
}

TEST_F(SerialSafety, AStaleEmulatorLinkIsToldFromALiveOne) {
    TestPty pty;
    ASSERT_TRUE(pty.Ok());
    const std::string name = In("adapter");
    ASSERT_EQ(::symlink(pty.Slave().c_str(), name.c_str()), 0);
    EXPECT_FALSE(AdapterLinkIsStale(name));  // no lock file: not an emulator's link at all

    // The lock file of an emulator that was killed: there, but held by no one.
    const std::string lockPath = AdapterLockPath(name);
    const int lock = ::open(lockPath.c_str(), O_RDWR | O_CREAT, 0644);
    ASSERT_GE(lock, 0);
    EXPECT_TRUE(AdapterLinkIsStale(name));
    ExpectRefused(name, name + " is left over from a brisklet-adapter that is no longer running; not opened");

    // A running emulator holds it, as brisklet-adapter does.
    struct flock whole {};
    whole.l_type = F_WRLCK;
    whole.l_whence = SEEK_SET;
    ASSERT_EQ(::fcntl(lock, F_OFD_SETLK, &whole), 0);
    EXPECT_FALSE(AdapterLinkIsStale(name));
    SerialLink link({name});
    FT_HANDLE handle = nullptr;
    EXPECT_EQ(link.Open(0, &handle), FT_OK) << link.LastOpenProblem().text;
    EXPECT_EQ(link.Close(handle), FT_OK);
    ::close(lock);
}

TEST_F(SerialSafety, NoFtdiTtyIsSaid) {
    SerialLink link({"", DefaultSerialBaud, In("sys"), In("dev")});
    FT_HANDLE handle = nullptr;
    EXPECT_EQ(link.Open(0, &handle), FT_DEVICE_NOT_FOUND);
    EXPECT_EQ(link.LastOpenProblem(),
              (OpenProblem{true, "no FTDI tty found: no /dev/ttyUSB* of USB vendor 0403 bound to ftdi_sio"}));
}

// The list of terminal drivers decides what counts as a terminal: serial ports and pseudo-terminal
// slaves, never the console, a virtual console or a pseudo-terminal's master side.
TEST_F(SerialSafety, TerminalDriversFromProc) {
    const std::string root = In("proc");
    ASSERT_EQ(::mkdir(root.c_str(), 0755), 0);
    ASSERT_EQ(::mkdir((root + "/tty").c_str(), 0755), 0);
    std::ofstream(root + "/tty/drivers") << "/dev/tty             /dev/tty        5       0 system:/dev/tty\n"
                                            "/dev/console         /dev/console    5       1 system:console\n"
                                            "usbserial            /dev/ttyUSB   188 0-511 serial\n"
                                            "serial               /dev/ttyS       4      64-111 serial\n"
                                            "pty_slave            /dev/pts      136 0-1048575 pty:slave\n"
                                            "pty_master           /dev/ptm      128 0-1048575 pty:master\n"
                                            "unknown              /dev/tty        4 1-63 console\n";
    const struct {
        unsigned major, minor;
        bool terminal;
    } rows[] = {{188, 0, true}, {188, 511, true}, {188, 512, false}, {4, 64, true},
                {4, 1, false},  {136, 7, true},   {128, 7, false},   {5, 0, false},
                {5, 1, false},  {1, 3, false},    {166, 0, false}};
    for (const auto &row : rows)
        EXPECT_EQ(IsTerminalDevice(makedev(row.major, row.minor), root), row.terminal)
            << row.major << ":" << row.minor;
}

}  // namespace
