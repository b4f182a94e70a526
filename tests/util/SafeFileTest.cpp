// A program's own output file on a shared machine (the trace log and the settings file share these rules):
// each row sets a scene up around "f" in a folder of the acting user, as root where it takes another user
// (4242), then opens "f" as root and as uid 1000 with the row's umask, and writes a line into it.
#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QTemporaryDir>
#include <cstdio>
#include <vector>

#include "SafeFile.h"

namespace {

constexpr uid_t Other = 4242;
constexpr gid_t Keep = gid_t(-1);

// The scene: one of these (from OthersFile on, they take another user), or a FIFO, a socket or a folder at
// "f" by its S_IF* type. The victim is a file beside the folder that a trick would have us write into;
// "far" a folder beside it.
constexpr mode_t Nothing = 0, OwnFile = 1, OwnHardLink = 2, OwnLinkToOwnFile = 3, OwnLinkNotThereYet = 4,
                 OthersFile = 5, OthersLink = 6, OthersFolder = 7, OthersGroup = 8, OwnLinkToOthersFile = 9,
                 OwnLinkIntoOthersFolder = 10;

struct Row {
    const char *name;
    mode_t folderMode;
    mode_t scene;
    mode_t umask;
    const char *outcome;   // "644 8": the file's mode and size once the line went in; else the refusal
    const char *at = "f";  // in the folder, unless absolute
};

gid_t GroupOf(uid_t user) {
    const passwd *entry = ::getpwuid(user);
    return entry ? entry->pw_gid : gid_t(user);
}

void File(const std::string &path, uid_t owner, mode_t mode) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, mode);
    EXPECT_TRUE(::write(fd, "old\n", 4) == 4 && ::fchown(fd, owner, Keep) == 0 && ::fchmod(fd, mode) == 0);
    ::close(fd);
}
void Link(const std::string &to, const std::string &at, uid_t owner) {
    EXPECT_TRUE(::symlink(to.c_str(), at.c_str()) == 0 && ::lchown(at.c_str(), owner, Keep) == 0) << at;
}
void Hard(const std::string &to, const std::string &at) {
    EXPECT_EQ(::link(to.c_str(), at.c_str()), 0) << at;
}
void Folder(const std::string &path, uid_t owner) {
    EXPECT_TRUE(::mkdir(path.c_str(), 0755) == 0 && ::chown(path.c_str(), owner, Keep) == 0) << path;
}

void Build(mode_t scene, const std::string &dir, uid_t me) {
    const std::string f = dir + "/f", victim = dir + "/../victim", far = dir + "/../far";
    switch (scene) {
        case Nothing: break;
        case OwnFile: File(f, me, 0640); break;
        case OwnHardLink: File(victim, me, 0600), Hard(victim, f); break;
        case OwnLinkToOwnFile: File(victim, me, 0644), Link(victim, f, me); break;
        case OwnLinkNotThereYet: Folder(far, me), Link(far + "/new", f, me); break;
        case OthersFile: File(f, Other, 0666); break;
        case OthersLink: File(victim, me, 0600), Link(victim, f, Other); break;
        case OthersFolder: EXPECT_EQ(::chown(dir.c_str(), Other, Keep), 0); break;
        case OthersGroup: EXPECT_EQ(::chown(dir.c_str(), Keep, Other), 0); break;
        case OwnLinkToOthersFile: File(victim, Other, 0600), Link(victim, f, me); break;
        case OwnLinkIntoOthersFolder: Folder(far, Other), Link(far + "/new", f, me); break;
        case S_IFDIR: ::mkdir(f.c_str(), 0777); break;
        default: ::mknod(f.c_str(), scene | 0666, 0);  // a FIFO or a socket
    }
}

// What the row's outcome says, from a child that can become another user.
std::string OpenAs(uid_t user, const std::string &path, mode_t mask) {
    int out[2];
    if (::pipe(out) != 0) return "pipe";
    if (::fork() == 0) {
        std::string why = "cannot become " + std::to_string(user);
        const gid_t group = GroupOf(user);
        if (user == ::geteuid() || (::setgroups(0, nullptr) == 0 && ::setresgid(group, group, group) == 0 &&
                                    ::setresuid(user, user, user) == 0)) {
            ::umask(mask);
            const int fd = OpenOutputFile(path, why);
            struct stat st {};
            char opened[32];
            if (fd >= 0 && ::write(fd, "new\n", 4) == 4 && ::fstat(fd, &st) == 0)
                why.assign(opened, std::snprintf(opened, sizeof opened, "%o %lld", st.st_mode & 07777,
                                                 static_cast<long long>(st.st_size)));
        }
        _exit(::write(out[1], why.data(), why.size()) < 0);
    }
    ::close(out[1]);
    char text[256];
    const ssize_t n = ::read(out[0], text, sizeof text);
    ::close(out[0]);
    ::wait(nullptr);
    return std::string(text, n > 0 ? static_cast<std::size_t>(n) : 0);
}

class SafeOutput : public ::testing::TestWithParam<Row> {};

TEST_P(SafeOutput, OpenedOnlyWhereNoOtherUserCanSwapOrReadIt) {
    const Row &row = GetParam();
    const bool root = ::geteuid() == 0;
    if (!root && row.scene >= OthersFile && row.scene <= OwnLinkIntoOthersFolder)
        GTEST_SKIP() << "needs root to play another user (chown to 4242)";
    for (uid_t me : root ? std::vector<uid_t>{0, 1000} : std::vector<uid_t>{::geteuid()}) {
        SCOPED_TRACE("as uid " + std::to_string(me));
        QTemporaryDir top;
        const std::string dir = top.path().toStdString() + "/d";
        ASSERT_TRUE(::chmod(top.path().toLocal8Bit().constData(), 0755) == 0 &&
                    ::mkdir(dir.c_str(), 0) == 0 && ::chown(dir.c_str(), me, GroupOf(me)) == 0 &&
                    ::chmod(dir.c_str(), row.folderMode) == 0);
        Build(row.scene, dir, me);
        EXPECT_EQ(OpenAs(me, row.at[0] == '/' ? row.at : dir + "/" + row.at, row.umask), row.outcome);
    }
}

const char *const Shared = "it belongs to another user, in a folder other users may write into";
const char *const OthersWrite = "other users may write into its folder";

INSTANTIATE_TEST_SUITE_P(
    SharedMachine, SafeOutput,
    ::testing::Values(
        Row{"OwnFileIsAppendedTo", 0755, OwnFile, 022, "640 8"},
        Row{"NewFileUmask022", 0755, Nothing, 022, "644 4"},
        Row{"NewFileUmask077", 0755, Nothing, 077, "600 4"},
        Row{"NewFileInStickyFolder", 01777, Nothing, 022, "600 4"},
        Row{"NewFileOwnGroupWrites", 0775, Nothing, 022, "644 4"},
        Row{"OwnLinkToOwnFile", 0755, OwnLinkToOwnFile, 022, "644 8"},
        Row{"OwnLinkToOwnFileNotThereYet", 0755, OwnLinkNotThereYet, 022, "644 4"},
        Row{"HardLinkInStickyFolder", 01777, OwnHardLink, 022,
            "it has another name (a hard link), in a folder other users may write into"},
        Row{"LinkIn0777Folder", 0777, OthersLink, 022, OthersWrite},
        Row{"LinkIn1777Folder", 01777, OthersLink, 022, Shared},
        Row{"OthersFileInStickyFolder", 01777, OthersFile, 022, Shared},
        Row{"OthersLinkInOwnFolder", 0755, OthersLink, 022, "it is a link made by another user"},
        Row{"OthersGroupWrites", 0775, OthersGroup, 022, OthersWrite},
        Row{"OthersFolder", 0755, OthersFolder, 022, "its folder belongs to another user"},
        Row{"OwnLinkToOthersFile", 0755, OwnLinkToOthersFile, 022, "it is a link to a file of another user"},
        Row{"OwnLinkIntoOthersFolder", 0755, OwnLinkIntoOthersFolder, 022,
            "its folder belongs to another user"},
        Row{"Fifo", 0755, S_IFIFO, 022, "it is a FIFO, not a regular file"},
        Row{"Socket", 0755, S_IFSOCK, 022, "it is a socket, not a regular file"},
        Row{"Directory", 0755, S_IFDIR, 022, "it is a directory, not a regular file"},
        Row{"DevNull", 0755, Nothing, 022, "it is a character device, not a regular file", "/dev/null"}),
    [](const ::testing::TestParamInfo<Row> &info) { return std::string(info.param.name); });

}  // namespace
