// A program's own output file on a shared machine: each row sets a scene up (as root where it takes another
// user, 4242), then opens the file as root and as uid 1000 with the row's umask, and writes a line.
#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QTemporaryDir>
#include <cstdio>
#include <cstring>
#include <functional>
#include <vector>

#include "SafeFile.h"

namespace {

constexpr uid_t Other = 4242;

void Own(const std::string &path, uid_t owner, mode_t mode) {
    EXPECT_EQ(::lchown(path.c_str(), owner, owner) | (mode ? ::chmod(path.c_str(), mode) : 0), 0) << path;
}
void File(const std::string &path, uid_t owner, mode_t mode) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
    EXPECT_EQ(::write(fd, "old\n", 4), 4);
    ::close(fd);
    Own(path, owner, mode);
}
void Link(const std::string &to, const std::string &at, uid_t owner) {
    EXPECT_EQ(::symlink(to.c_str(), at.c_str()), 0);
    Own(at, owner, 0);
}

// The file's mode and size once a line went in, or the refusal. In a child, so that it can be another user.
std::string OpenAs(uid_t user, const std::string &path, mode_t mask) {
    int out[2];
    if (::pipe(out) != 0) return "pipe";
    if (::fork() == 0) {
        std::string why;
        if (user != ::geteuid() && (::setgroups(0, nullptr) != 0 || ::setresgid(user, user, user) != 0 ||
                                    ::setresuid(user, user, user) != 0))
            why = "cannot become " + std::to_string(user);
        ::umask(mask);
        const int fd = why.empty() ? OpenOutputFile(path, why) : -1;
        struct stat st {};
        char opened[32];
        if (fd >= 0 && ::write(fd, "new\n", 4) == 4 && ::fstat(fd, &st) == 0)
            why.assign(opened, std::snprintf(opened, sizeof opened, "%o %lld", st.st_mode & 07777,
                                             static_cast<long long>(st.st_size)));
        _exit(::write(out[1], why.data(), why.size()) < 0);
    }
    ::close(out[1]);
    char text[256];
    const ssize_t n = ::read(out[0], text, sizeof text);
    ::close(out[0]);
    ::wait(nullptr);
    return std::string(text, n > 0 ? static_cast<std::size_t>(n) : 0);
}

struct Row {
    const char *name;
    std::function<void(const std::string &dir, uid_t me)> scene;
    const char *at;  // in the row's folder, unless absolute
    mode_t umask;
    const char *outcome;  // "644 8": mode and size after the line went in; else the refusal
    bool other = false;   // the scene needs another user
};

class SafeOutput : public ::testing::TestWithParam<Row> {};

TEST_P(SafeOutput, OpenedOnlyWhereNoOtherUserCanSwapOrReadIt) {
    const Row &row = GetParam();
    std::vector<uid_t> users{::geteuid()};
    if (::geteuid() == 0) users.push_back(1000);
    if (::geteuid() != 0 && row.other) GTEST_SKIP() << "needs root to play another user (chown to 4242)";
    for (uid_t me : users) {
        SCOPED_TRACE("as uid " + std::to_string(me));
        QTemporaryDir top;
        ::chmod(top.path().toLocal8Bit().constData(), 0755);
        const std::string dir = top.path().toStdString() + "/d";
        ASSERT_EQ(::mkdir(dir.c_str(), 0755), 0);
        Own(dir, me, 0755);
        row.scene(dir, me);
        EXPECT_EQ(OpenAs(me, row.at[0] == '/' ? row.at : dir + "/" + row.at, row.umask), row.outcome);
    }
}

const char *const Shared = "it belongs to another user, in a folder other users may write into";

INSTANTIATE_TEST_SUITE_P(
    SharedMachine, SafeOutput,
    ::testing::Values(
        Row{"OwnFileIsAppendedTo", [](auto &d, uid_t me) { File(d + "/f", me, 0640); }, "f", 022, "640 8"},
        Row{"NewFileUmask022", [](auto &, uid_t) {}, "f", 022, "644 4"},
        Row{"NewFileUmask077", [](auto &, uid_t) {}, "f", 077, "600 4"},
        Row{"NewFileInStickyFolder", [](auto &d, uid_t) { ::chmod(d.c_str(), 01777); }, "f", 022, "600 4"},
        Row{"OwnLinkToOwnFile",
            [](auto &d, uid_t me) { File(d + "/real", me, 0644), Link("real", d + "/f", me); }, "f", 022,
            "644 8"},
        Row{"LinkIn0777Folder",
            [](auto &d, uid_t me) {
                ::chmod(d.c_str(), 0777);
                File(d + "/../victim", me, 0600), Link("../victim", d + "/f", Other);
            },
            "f", 022, "other users may write into its folder", true},
        Row{"LinkIn1777Folder",
            [](auto &d, uid_t me) {
                ::chmod(d.c_str(), 01777);
                File(d + "/../victim", me, 0600), Link("../victim", d + "/f", Other);
            },
            "f", 022, Shared, true},
        Row{"OthersFileInStickyFolder",
            [](auto &d, uid_t) { ::chmod(d.c_str(), 01777), File(d + "/f", Other, 0666); }, "f", 022, Shared,
            true},
        Row{"HardLinkInStickyFolder",
            [](auto &d, uid_t me) {
                ::chmod(d.c_str(), 01777);
                File(d + "/../victim", me, 0600);
                EXPECT_EQ(::link((d + "/../victim").c_str(), (d + "/f").c_str()), 0);
            },
            "f", 022, "it has another name (a hard link), in a folder other users may write into"},
        Row{"Fifo", [](auto &d, uid_t) { ::mkfifo((d + "/f").c_str(), 0666); }, "f", 022,
            "it is a FIFO, not a regular file"},
        Row{"Socket",
            [](auto &d, uid_t) {
                sockaddr_un address{};
                address.sun_family = AF_UNIX;
                std::strncpy(address.sun_path, (d + "/f").c_str(), sizeof address.sun_path - 1);
                const int s = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
                EXPECT_EQ(::bind(s, reinterpret_cast<sockaddr *>(&address), sizeof address), 0);
                ::close(s);
            },
            "f", 022, "it is a socket, not a regular file"},
        Row{"Directory", [](auto &d, uid_t) { ::mkdir((d + "/f").c_str(), 0777); }, "f", 022,
            "it is a directory, not a regular file"},
        Row{"DevNull", [](auto &, uid_t) {}, "/dev/null", 022, "it is a character device, not a regular file"}),
    [](const ::testing::TestParamInfo<Row> &info) { return std::string(info.param.name); });

}  // namespace
