// Brisklet.INI on a shared machine and over the years: lines already in the file stay where they are, a
// file too large to be ours is left alone, the temporary file is never more readable than the file, a
// killed write leaves nothing behind for good, and the file is written only where no one else can swap it.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QDir>
#include <QTemporaryDir>
#include <fstream>
#include <functional>
#include <sstream>

#include "Settings.h"
#include "TestFiles.h"

namespace {

constexpr uid_t Nobody = 65534;

BriskletSettings Mine() {
    BriskletSettings s = DefaultSettings("/b/");
    s.Speed = 3;
    s.Tag = "7";
    return s;
}

// ---- Lines already in the file ----

struct KeepCase {
    const char *name;
    std::string before, after;
};

class SettingsKeep : public ::testing::TestWithParam<KeepCase> {};

TEST_P(SettingsKeep, OnlyOurValuesChange) {
    const KeepCase &c = GetParam();
    const std::string written = ComposeSettingsText(c.before, Mine());
    EXPECT_EQ(written, c.after);
    EXPECT_EQ(ParseSettingsText(written, "/x/"), Mine());
    EXPECT_EQ(ComposeSettingsText(written, Mine()), written);  // close after close: nothing moves
}

const std::string Full = "[PATH]\nFile=/b/\nIni=\n[CAN]\nSpeed=2\nListening=0\nTag=0\nMask=0\n2.0A=1\n";
const std::string FullAfter = "[PATH]\nFile=/b/\nIni=\n[CAN]\nSpeed=3\nListening=0\nTag=7\nMask=0\n2.0A=1\n";

INSTANTIATE_TEST_SUITE_P(
    SettingsLines, SettingsKeep,
    ::testing::Values(
        KeepCase{"CommentAfterTheLastKey", Full + "; keep me\n", FullAfter + "; keep me\n"},
        KeepCase{"CommentAfterTheLastKeyWithoutLineBreak", Full + "; keep me", FullAfter + "; keep me"},
        KeepCase{"CommentAboveADuplicateKey", Full + "# the old rate\nSpeed=4\n",
                 FullAfter + "# the old rate\nSpeed=4\n"},
        KeepCase{"DuplicateInASecondBlock", Full + "[Other]\nA=1\n[can]\n; again\nTAG=9\n",
                 FullAfter + "[Other]\nA=1\n[can]\n; again\nTAG=9\n"},
        KeepCase{"IgnoredLinesAndBlanks", "junk line\n\n" + Full + "  \n[CAN\nnot a key\n",
                 "junk line\n\n" + FullAfter + "  \n[CAN\nnot a key\n"},
        KeepCase{
            "MissingKeysFollowTheLastKeyOfTheirSection",
            "[CAN]\nSpeed=1\n; about the mask\n\n[PATH]\nIni=q\n# end\n",
            "[CAN]\nSpeed=3\nListening=0\nTag=7\nMask=0\n2.0A=1\n; about the mask\n\n[PATH]\nIni=\nFile=/b/\n"
            "# end\n"},
        KeepCase{"CrLfStaysCrLf", "[CAN]\r\nSpeed=1\r\n; c\r\n",
                 "[CAN]\r\nSpeed=3\r\nListening=0\r\nTag=7\r\nMask=0\r\n2.0A=1\r\n; "
                 "c\r\n\r\n[PATH]\r\nFile=/b/\r\n"
                 "Ini=\r\n"},
        KeepCase{"SignatureStays", "\xEF\xBB\xBF" + Full, "\xEF\xBB\xBF" + FullAfter},
        KeepCase{"LastLineWithoutBreak", "[CAN]\nSpeed=1",
                 "[CAN]\nSpeed=3\nListening=0\nTag=7\nMask=0\n2.0A=1\n\n[PATH]\nFile=/b/\nIni=\n"}),
    [](const ::testing::TestParamInfo<KeepCase> &info) { return std::string(info.param.name); });

class Folder {
public:
    Folder() { ::chmod(Dir().c_str(), 0755); }
    std::string Dir() const { return dir_.path().toStdString() + "/"; }
    std::string Ini() const { return Dir() + "Brisklet.INI"; }
    QStringList Entries() const {
        return QDir(dir_.path())
            .entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot | QDir::System);
    }

private:
    QTemporaryDir dir_;
};

// ---- A file too large to be ours ----

TEST(SettingsSize, AFileOverOneMebibyteIsNeitherReadNorRewritten) {
    Folder folder;
    std::string text = "[CAN]\nSpeed=3\n;";
    text += std::string(SettingsFileLimit - text.size() - 1, 'x') + "\n";
    ASSERT_EQ(text.size(), SettingsFileLimit);
    Spit(folder.Ini(), text);
    std::string leftAlone = "?";
    EXPECT_EQ(ReadSettingsFile(folder.Ini(), "/x/", &leftAlone).Speed, 3);  // exactly the limit: read
    EXPECT_EQ(leftAlone, "");

    text.insert(text.size() - 1, "y");  // one byte more
    Spit(folder.Ini(), text);
    EXPECT_EQ(ReadSettingsFile(folder.Ini(), "/x/", &leftAlone), DefaultSettings("/x/"));
    EXPECT_EQ(leftAlone, "larger than 1 MiB");
    std::string error;
    EXPECT_FALSE(WriteSettingsFile(folder.Ini(), Mine(), error));
    EXPECT_EQ(error,
              "Unable to write to " + folder.Ini() + "\n(it is larger than 1 MiB and is left as it is)");
    EXPECT_TRUE(Slurp(folder.Ini()) == text);
    EXPECT_EQ(folder.Entries(), QStringList{"Brisklet.INI"});
}

TEST(SettingsSize, AFifoInThePlaceOfTheFileIsNeverOpened) {
    Folder folder;
    ASSERT_EQ(::mkfifo(folder.Ini().c_str(), 0600), 0);
    // Any open, even a non-blocking one for reading that would release a waiting writer, shows here.
    const int watch = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    ASSERT_GE(watch, 0);
    ASSERT_GE(::inotify_add_watch(watch, folder.Ini().c_str(), IN_OPEN), 0);
    EXPECT_EQ(ReadSettingsFile(folder.Ini(), "/x/"), DefaultSettings("/x/"));
    std::string error;
    EXPECT_FALSE(WriteSettingsFile(folder.Ini(), Mine(), error));
    alignas(inotify_event) char events[1024];
    EXPECT_LT(::read(watch, events, sizeof events), 0) << "the FIFO was opened";
    ::close(watch);
    struct stat st {};
    ASSERT_EQ(::lstat(folder.Ini().c_str(), &st), 0);
    EXPECT_TRUE(S_ISFIFO(st.st_mode));
}

// ---- The temporary file ----

struct ModeCase {
    const char *name;
    int oldMode;  // -1: no file yet
    mode_t umask;
    mode_t expected;
};

class SettingsTempMode : public ::testing::TestWithParam<ModeCase> {};

TEST_P(SettingsTempMode, HasTheFinalModeBeforeItsFirstByte) {
    const ModeCase &c = GetParam();
    Folder folder;
    if (c.oldMode >= 0) {
        Spit(folder.Ini(), "[CAN]\nSpeed=1\n");
        ASSERT_EQ(::chmod(folder.Ini().c_str(), static_cast<mode_t>(c.oldMode)), 0);
    }
    struct stat seen {};
    bool called = false;
    SetSettingsTempFileHook([&](const std::string &temp) { called = ::stat(temp.c_str(), &seen) == 0; });
    const mode_t savedMask = ::umask(c.umask);
    std::string error;
    const bool ok = WriteSettingsFile(folder.Ini(), Mine(), error);
    ::umask(savedMask);
    SetSettingsTempFileHook({});
    ASSERT_TRUE(ok) << error;
    ASSERT_TRUE(called);
    EXPECT_EQ(seen.st_size, 0);  // nothing written yet
    EXPECT_EQ(seen.st_mode & 07777, c.expected);
    struct stat written {};
    ASSERT_EQ(::stat(folder.Ini().c_str(), &written), 0);
    EXPECT_EQ(written.st_mode & 07777, c.expected);
}

INSTANTIATE_TEST_SUITE_P(SettingsTemp, SettingsTempMode,
                         ::testing::Values(ModeCase{"PrivateFile", 0600, 022, 0600},
                                           ModeCase{"GroupReadable", 0640, 022, 0640},
                                           ModeCase{"WiderThanTheUmask", 0666, 077, 0666},
                                           ModeCase{"NewFileFollowsTheUmask", -1, 077, 0600},
                                           ModeCase{"NewFileDefault", -1, 022, 0644}),
                         [](const ::testing::TestParamInfo<ModeCase> &info) {
                             return std::string(info.param.name);
                         });

pid_t DeadPid() {
    const pid_t child = ::fork();
    if (child == 0) ::_exit(0);
    ::waitpid(child, nullptr, 0);
    return child;
}

TEST(SettingsTemp, StaleTemporaryFilesOfKilledWritesAreRemoved) {
    Folder folder;
    Spit(folder.Ini(), "[CAN]\nSpeed=1\n");
    const std::string dead = ".Brisklet.INI." + std::to_string(DeadPid()) + ".0.tmp";
    const std::string live = ".Brisklet.INI." + std::to_string(::getppid()) + ".4.tmp";  // its writer runs
    const std::string old = ".Brisklet.INI." + std::to_string(::getppid()) + ".5.tmp";  // but not for an hour
    const std::string others[] = {".Other.INI.1.0.tmp", ".Brisklet.INI.x.0.tmp", "Brisklet.INI.1.0.tmp"};
    for (const std::string &name : {dead, live, old}) Spit(folder.Dir() + name, "[CAN]\nSpe");
    for (const std::string &name : others) Spit(folder.Dir() + name, "keep");
    const timeval hourAgo[2] = {{::time(nullptr) - 3600, 0}, {::time(nullptr) - 3600, 0}};
    ASSERT_EQ(::utimes((folder.Dir() + old).c_str(), hourAgo), 0);

    std::string error;
    ASSERT_TRUE(WriteSettingsFile(folder.Ini(), Mine(), error)) << error;
    QStringList expected{QString::fromStdString(live), "Brisklet.INI"};
    for (const std::string &name : others) expected << QString::fromStdString(name);
    expected.sort();
    QStringList entries = folder.Entries();
    entries.sort();
    EXPECT_EQ(entries, expected);
}

// ---- Where the file may be written ----

// The rules are FindSafePlace's, and tests/util/SafeFileTest.cpp holds their rows; these two are the
// settings writer's view of them: a write where it may, and a refusal that changes nothing.
// Each row builds a scene in a fresh folder and says whether the write goes ahead. `victim` is the file
// another user's trick would have us overwrite; it must never change.
struct PlaceCase {
    const char *name;
    std::function<void(const std::string &dir, const std::string &victim)> scene;
    bool written;
    const char *why;  // the reason the box gives when refused
};

class SettingsPlace : public ::testing::TestWithParam<PlaceCase> {};

void Must(bool ok, const char *what) {
    if (!ok) ADD_FAILURE() << what << ": " << std::strerror(errno);
}

TEST_P(SettingsPlace, WrittenOnlyWhereNoOneElseCanSwapIt) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root to play a second user (chown to nobody)";
    const PlaceCase &c = GetParam();
    QTemporaryDir top;
    ::chmod(top.path().toLocal8Bit().constData(), 0755);
    const std::string dir = top.path().toStdString() + "/shared";
    const std::string elsewhere = top.path().toStdString() + "/home";
    Must(::mkdir(dir.c_str(), 0755) == 0 && ::mkdir(elsewhere.c_str(), 0755) == 0, "mkdir");
    const std::string victim = elsewhere + "/.bashrc";
    Spit(victim, "# the victim's own start-up file\n");
    c.scene(dir, victim);
    const std::string before = Slurp(victim);
    struct stat victimBefore {};
    const bool victimThere = ::stat(victim.c_str(), &victimBefore) == 0;

    std::string error;
    const std::string ini = dir + "/Brisklet.INI";
    EXPECT_EQ(WriteSettingsFile(ini, Mine(), error), c.written) << error;
    if (c.written) {
        EXPECT_EQ(ReadSettingsFile(ini, "/x/"), Mine());
    } else {
        EXPECT_EQ(error, "Unable to write to " + ini + "\n(" + c.why + ")");
        if (victimThere) {
            EXPECT_EQ(Slurp(victim), before);
        }
    }
    // Nothing is left beside the file either way.
    for (const QString &entry : QDir(QString::fromStdString(dir)).entryList(QDir::Hidden | QDir::Files))
        EXPECT_FALSE(entry.endsWith(".tmp")) << entry.toStdString();
}

void Link(const std::string &to, const std::string &at, uid_t owner) {
    Must(::symlink(to.c_str(), at.c_str()) == 0, "symlink");
    Must(::lchown(at.c_str(), owner, owner) == 0, "lchown");
}

INSTANTIATE_TEST_SUITE_P(SettingsSharedMachine, SettingsPlace,
                         ::testing::
                             Values(PlaceCase{"OwnFolder", [](auto &, auto &) {}, true, ""},
                                    // The attack: another user swaps the settings file for a link to the
                                    // victim's start-up file.
                                    PlaceCase{
                                        "StickySharedFolderLinkOfAnotherUser",
                                        [](const std::string &dir, const std::string &victim) {
                                            ::chmod(dir.c_str(), 01777);
                                            Link(victim, dir + "/Brisklet.INI", Nobody);
                                        },
                                        false,
                                        "it belongs to another user, in a folder other users may write into"}),
                         [](const ::testing::TestParamInfo<PlaceCase> &info) {
                             return std::string(info.param.name);
                         });

TEST(SettingsPlace, OwnLinkKeepsLinkingToTheFileItMade) {
    Folder folder;
    ASSERT_EQ(::mkdir((folder.Dir() + "kept").c_str(), 0700), 0);
    ASSERT_EQ(::symlink("kept/b.ini", folder.Ini().c_str()), 0);
    std::string error;
    ASSERT_TRUE(WriteSettingsFile(folder.Ini(), Mine(), error)) << error;
    struct stat st {};
    ASSERT_EQ(::lstat(folder.Ini().c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    EXPECT_EQ(ReadSettingsFile(folder.Dir() + "kept/b.ini", "/x/"), Mine());
}

// ---- Where the file lives ----

struct FolderCase {
    const char *name;
    bool writable;
    const char *xdg, *home;
    const char *expected;
};

class SettingsFolderChoice : public ::testing::TestWithParam<FolderCase> {};

TEST_P(SettingsFolderChoice, BesideTheProgramOrInTheUsersConfiguration) {
    const FolderCase &c = GetParam();
    EXPECT_EQ(ChooseSettingsFolder("/opt/b/", c.writable, c.xdg, c.home), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    SettingsWhere, SettingsFolderChoice,
    ::testing::Values(
        FolderCase{"WritableCopyKeepsThemBesideItself", true, "/x", "/home/u", "/opt/b/"},
        FolderCase{"InstalledUsesXdgConfigHome", false, "/home/u/.cfg/", "/home/u", "/home/u/.cfg/Brisklet/"},
        FolderCase{"InstalledWithoutXdgUsesDotConfig", false, nullptr, "/home/u",
                   "/home/u/.config/Brisklet/"},
        FolderCase{"RelativeXdgDoesNotCount", false, "cfg", "/home/u", "/home/u/.config/Brisklet/"},
        FolderCase{"EmptyXdgDoesNotCount", false, "", "/home/u", "/home/u/.config/Brisklet/"},
        FolderCase{"NowhereElse", false, nullptr, nullptr, "/opt/b/"}),
    [](const ::testing::TestParamInfo<FolderCase> &info) { return std::string(info.param.name); });

TEST(SettingsWhere, ConfigurationFolderIsMadePrivate) {
    Folder folder;
    const std::string made = folder.Dir() + ".config/Brisklet/";
    ASSERT_TRUE(MakeSettingsFolder(made));
    ASSERT_TRUE(MakeSettingsFolder(made));  // and again: already there
    struct stat st {};
    ASSERT_EQ(::stat(made.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    std::string error;
    ASSERT_TRUE(WriteSettingsFile(made + "Brisklet.INI", Mine(), error)) << error;
    EXPECT_FALSE(MakeSettingsFolder(folder.Dir() + "Brisklet.INI/x/y/"));
}

}  // namespace
