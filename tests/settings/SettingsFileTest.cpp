// Brisklet.INI without the window: the value rules on reading, and writing that keeps what is not ours
// and never damages the old file.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QTemporaryDir>
#include <climits>
#include <csignal>
#include <fstream>
#include <functional>
#include <sstream>

#include "Settings.h"
#include "TestFiles.h"

using namespace std::string_literals;

namespace {

const std::string Folder = "/opt/brisklet/";

class SettingsFolder {
public:
    std::string Dir() const { return dir_.path().toStdString() + "/"; }
    std::string Ini() const { return Dir() + "Brisklet.INI"; }
    // Everything in the folder, so a left-behind temporary file shows.
    QStringList Entries() const {
        return QDir(dir_.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
    }

private:
    QTemporaryDir dir_;
};

// ---- Whole numbers ----

struct IntegerCase {
    const char *text;
    bool isNumber;
    int value;
};

class SettingsInteger : public ::testing::TestWithParam<IntegerCase> {};

TEST_P(SettingsInteger, FollowsTheDecimalAndHexRules) {
    const IntegerCase &c = GetParam();
    int value = 12345;
    EXPECT_EQ(ParseSettingsInteger(c.text, value), c.isNumber) << '"' << c.text << '"';
    EXPECT_EQ(value, c.isNumber ? c.value : 12345) << '"' << c.text << '"';
}

INSTANTIATE_TEST_SUITE_P(
    SettingsNumbers, SettingsInteger,
    ::testing::Values(IntegerCase{"3", true, 3}, IntegerCase{"0x7", true, 7}, IntegerCase{"0X1f", true, 31},
                      IntegerCase{"0x", false, 0}, IntegerCase{"0X", false, 0}, IntegerCase{"0xg", false, 0},
                      IntegerCase{"0x7h", false, 0}, IntegerCase{"-0x5", false, 0}, IntegerCase{"9", true, 9},
                      IntegerCase{"-1", true, -1}, IntegerCase{"+5", true, 5}, IntegerCase{"007", true, 7},
                      IntegerCase{"0", true, 0}, IntegerCase{"abc", false, 0}, IntegerCase{"yes", false, 0},
                      IntegerCase{"12abc", false, 0}, IntegerCase{"", false, 0}, IntegerCase{"-", false, 0},
                      IntegerCase{"+", false, 0}, IntegerCase{"1.0", false, 0}, IntegerCase{"1 2", false, 0},
                      IntegerCase{"2147483647", true, INT_MAX}, IntegerCase{"2147483648", false, 0},
                      IntegerCase{"-2147483648", true, INT_MIN}, IntegerCase{"-2147483649", false, 0},
                      IntegerCase{"99999999999999999999999", false, 0}, IntegerCase{"0xFFFFFFFF", true, -1},
                      IntegerCase{"0x80000000", true, INT_MIN}, IntegerCase{"0x100000000", false, 0},
                      IntegerCase{"0x000000000007", true, 7}));

// ---- Reading ----

struct ReadCase {
    const char *name;
    std::string text;
    std::function<void(BriskletSettings &)> expect;  // applied to the defaults
};

class SettingsRead : public ::testing::TestWithParam<ReadCase> {};

TEST_P(SettingsRead, TakesWhatCanBeReadAndDefaultsTheRest) {
    const ReadCase &c = GetParam();
    BriskletSettings expected = DefaultSettings(Folder);
    c.expect(expected);
    EXPECT_EQ(ParseSettingsText(c.text, Folder), expected);

    SettingsFolder folder;
    Spit(folder.Ini(), c.text);
    // A file over the size limit is not read at all.
    EXPECT_EQ(ReadSettingsFile(folder.Ini(), Folder),
              c.text.size() > SettingsFileLimit ? DefaultSettings(Folder) : expected);
}

std::string ReadCaseName(const ::testing::TestParamInfo<ReadCase> &info) { return info.param.name; }

INSTANTIATE_TEST_SUITE_P(
    SettingsTable, SettingsRead,
    ::testing::
        Values(
            ReadCase{"Empty", "", [](BriskletSettings &) {}},
            ReadCase{
                "AllKeys",
                "[PATH]\nFile=/home/x/\nIni=a.ini\n[CAN]\nSpeed=2\nListening=1\nTag=1ab\nMask=7FF\n2.0A=0\n",
                [](BriskletSettings &s) {
                    s.File = "/home/x/";
                    s.Ini = "a.ini";
                    s.Speed = 2;
                    s.Listening = true;
                    s.Tag = "1ab";
                    s.Mask = "7FF";
                    s.Std11 = false;
                }},
            ReadCase{"Speed3", "[CAN]\nSpeed=3\n", [](BriskletSettings &s) { s.Speed = 3; }},
            ReadCase{"SpeedHex", "[CAN]\nSpeed=0x7\n", [](BriskletSettings &s) { s.Speed = 7; }},
            ReadCase{"SpeedTooHighIsKept", "[CAN]\nSpeed=9\n", [](BriskletSettings &s) { s.Speed = 9; }},
            ReadCase{"SpeedNegativeIsKept", "[CAN]\nSpeed=-1\n", [](BriskletSettings &s) { s.Speed = -1; }},
            ReadCase{"SpeedWord", "[CAN]\nSpeed=abc\n", [](BriskletSettings &) {}},
            ReadCase{"SpeedBareHexPrefix", "[CAN]\nSpeed=0x\n", [](BriskletSettings &) {}},
            ReadCase{"SpeedEmpty", "[CAN]\nSpeed=\n", [](BriskletSettings &) {}},
            ReadCase{"SpeedOverflow", "[CAN]\nSpeed=4294967296\n", [](BriskletSettings &) {}},
            ReadCase{"Std11Zero", "[CAN]\n2.0A=0\n", [](BriskletSettings &s) { s.Std11 = false; }},
            ReadCase{"Std11Two", "[CAN]\n2.0A=2\n", [](BriskletSettings &) {}},
            ReadCase{"Std11Word", "[CAN]\n2.0A=no\n", [](BriskletSettings &) {}},
            ReadCase{"ListeningYes", "[CAN]\nListening=yes\n", [](BriskletSettings &) {}},
            ReadCase{"ListeningHex", "[CAN]\nListening=0x10\n",
                     [](BriskletSettings &s) { s.Listening = true; }},
            ReadCase{"ListeningMinus", "[CAN]\nListening=-7\n",
                     [](BriskletSettings &s) { s.Listening = true; }},
            ReadCase{"TagEmpty", "[CAN]\nTag=\n", [](BriskletSettings &s) { s.Tag = ""; }},
            ReadCase{"PathEmpty", "[PATH]\nFile=\nIni=\n", [](BriskletSettings &s) { s.File = ""; }},
            ReadCase{"NoSections", "Speed=3\nTag=12\nFile=/x/\n", [](BriskletSettings &) {}},
            ReadCase{"KeysInTheWrongSection", "[PATH]\nSpeed=3\n[CAN]\nFile=/x/\n",
                     [](BriskletSettings &) {}},
            ReadCase{"OtherLetterCase", "[can]\nSPEED=2\ntag=ab\n[Path]\nini=q\n",
                     [](BriskletSettings &s) {
                         s.Speed = 2;
                         s.Tag = "ab";
                         s.Ini = "q";
                     }},
            ReadCase{"BlanksAndCrLf", "  [ CAN ]  \r\n  Speed =  4 \r\n\tTag\t=\t1F \r\nMask = \r\n",
                     [](BriskletSettings &s) {
                         s.Speed = 4;
                         s.Tag = "1F";
                         s.Mask = "";
                     }},
            ReadCase{"InnerBlanksStay", "[CAN]\nTag=1 2\n", [](BriskletSettings &s) { s.Tag = "1 2"; }},
            ReadCase{"DuplicateKeyFirstWins", "[CAN]\nSpeed=1\nSpeed=2\nTag=a\ntag=b\n",
                     [](BriskletSettings &s) {
                         s.Speed = 1;
                         s.Tag = "a";
                     }},
            ReadCase{"DuplicateSectionsMerge", "[CAN]\nSpeed=1\n[PATH]\nFile=/x/\n[CAN]\nTag=7\nSpeed=6\n",
                     [](BriskletSettings &s) {
                         s.Speed = 1;
                         s.Tag = "7";
                         s.File = "/x/";
                     }},
            ReadCase{"GarbageLines",
                     "garbage\n[CAN\n=novalue\n[CAN]\n%%%\nSpeed=6\n;Tag=9\n#Mask=9\n[]\nListening=1\n",
                     [](BriskletSettings &s) { s.Speed = 6; }},
            ReadCase{"BinaryAndNulBytes",
                     "\xff\xfe\x00\x01\x02\n[CAN]\nTag=A\0B\nSpeed=\x80\n\0\0Mask=1F\n2.0A=0\n"s,
                     [](BriskletSettings &s) {
                         s.Tag = "AB";
                         s.Mask = "1F";
                         s.Std11 = false;
                     }},
            ReadCase{"Utf8ByteOrderMark", "\xEF\xBB\xBF[CAN]\nSpeed=2\n",
                     [](BriskletSettings &s) { s.Speed = 2; }},
            ReadCase{"MultiLineMarkerIsPlainText", "[CAN]\nTag=<<<END\nSpeed=1\nEND\n",
                     [](BriskletSettings &s) {
                         s.Tag = "<<<END";
                         s.Speed = 1;
                     }},
            ReadCase{"TagCutAt2047", "[CAN]\nTag=" + std::string(5000, 'A') + "\nSpeed=3\n",
                     [](BriskletSettings &s) {
                         s.Tag = std::string(2047, 'A');
                         s.Speed = 3;
                     }},
            ReadCase{"TagOf2047Whole", "[CAN]\nTag=" + std::string(2047, 'b') + "\n",
                     [](BriskletSettings &s) { s.Tag = std::string(2047, 'b'); }},
            ReadCase{"CutKeepsNoHalfCharacter", "[PATH]\nIni=" + std::string(2046, 'a') + "\xC3\xA9xyz\n",
                     [](BriskletSettings &s) { s.Ini = std::string(2046, 'a'); }},
            ReadCase{"TenMegabyteLine", "[CAN]\nMask=" + std::string(10 << 20, '7') + "\n2.0A=0\n",
                     [](BriskletSettings &s) {
                         s.Mask = std::string(2047, '7');
                         s.Std11 = false;
                     }}),
    ReadCaseName);

TEST(SettingsReadFile, MissingOrOddFileGivesTheDefaults) {
    SettingsFolder folder;
    EXPECT_EQ(ReadSettingsFile(folder.Ini(), folder.Dir()), DefaultSettings(folder.Dir()));
    EXPECT_EQ(DefaultSettings(folder.Dir()).File, folder.Dir());
    ASSERT_EQ(::mkdir(folder.Ini().c_str(), 0755), 0);  // a folder where the file should be
    EXPECT_EQ(ReadSettingsFile(folder.Ini(), folder.Dir()), DefaultSettings(folder.Dir()));
}

// ---- Writing ----

BriskletSettings Changed() {
    BriskletSettings s = DefaultSettings("/srv/b/");
    s.Ini = "extra.ini";
    s.Speed = -1;
    s.Listening = true;
    s.Tag = "1ab";
    s.Mask = "7FF";
    s.Std11 = false;
    return s;
}

TEST(SettingsWrite, FirstWriteCreatesTheSevenKeysInOrder) {
    SettingsFolder folder;
    std::string error = "stale";
    ASSERT_TRUE(WriteSettingsFile(folder.Ini(), DefaultSettings(folder.Dir()), error));
    EXPECT_EQ(error, "");
    EXPECT_EQ(Slurp(folder.Ini()), "[PATH]\nFile=" + folder.Dir() +
                                       "\nIni=\n\n[CAN]\nSpeed=5\nListening=0\nTag=0\nMask=0\n2.0A=1\n");
    EXPECT_EQ(folder.Entries(), QStringList{"Brisklet.INI"});
}

TEST(SettingsWrite, KeepsWhatIsNotOursAndTheSectionSpelling) {
    SettingsFolder folder;
    Spit(folder.Ini(),
         "; written by hand\n\n[Other]\nColour=red\n[can]\nspeed=1\nExtra=keep me\nSpeed=4\n; about the tag\n"
         "TAG=ff\n");
    std::string error;
    ASSERT_TRUE(WriteSettingsFile(folder.Ini(), Changed(), error));
    // Our keys change in their own lines, the missing ones follow the section's last key, a missing
    // section goes at the end; every other line, the second Speed included, stays as it was.
    // Our keys change in their own lines, the missing ones follow the section's last key, a missing
    // section goes at the end; every other line, the second Speed included, stays as it was.
    const std::string expected =
        "; written by hand\n\n[Other]\nColour=red\n[can]\nSpeed=-1\nExtra=keep me\nSpeed=4\n; about the tag\n"
        "Tag=1ab\nListening=1\nMask=7FF\n2.0A=0\n\n[PATH]\nFile=/srv/b/\nIni=extra.ini\n";
    EXPECT_EQ(Slurp(folder.Ini()), expected);
    EXPECT_EQ(ReadSettingsFile(folder.Ini(), "/elsewhere/"), Changed());
    // Writing again changes nothing: no blank lines pile up run after run.
    ASSERT_TRUE(WriteSettingsFile(folder.Ini(), Changed(), error));
    EXPECT_EQ(Slurp(folder.Ini()), expected);
}

TEST(SettingsWrite, LineBreaksInAValueCannotAddLines) {
    SettingsFolder folder;
    BriskletSettings s = DefaultSettings("/srv/b/");
    s.Tag = "1\n[PATH]\r\nFile=/evil/";
    std::string error;
    ASSERT_TRUE(WriteSettingsFile(folder.Ini(), s, error));
    const BriskletSettings back = ReadSettingsFile(folder.Ini(), "/elsewhere/");
    EXPECT_EQ(back.File, "/srv/b/");
    EXPECT_EQ(back.Tag, "1 [PATH]  File=/evil/");
}

class SettingsRoundTrip : public ::testing::TestWithParam<BriskletSettings> {};

TEST_P(SettingsRoundTrip, ReadsBackWhatWasWritten) {
    SettingsFolder folder;
    Spit(folder.Ini(), "[CAN]\nSpeed=0x3\nSpeed=2\n[PATH]\nFile=old\n");  // the first Speed counts
    std::string error;
    ASSERT_TRUE(WriteSettingsFile(folder.Ini(), GetParam(), error));
    EXPECT_EQ(ReadSettingsFile(folder.Ini(), "/elsewhere/"), GetParam());
    EXPECT_NE(Slurp(folder.Ini()).find("\nSpeed=2\n"), std::string::npos);  // the later copy stays
}

BriskletSettings With(std::function<void(BriskletSettings &)> change) {
    BriskletSettings s = DefaultSettings("/usr/lib/brisklet/");
    change(s);
    return s;
}

INSTANTIATE_TEST_SUITE_P(SettingsValues, SettingsRoundTrip,
                         ::testing::Values(Changed(), DefaultSettings("/a b/"), With([](BriskletSettings &s) {
                                               s.Speed = 7;
                                               s.Tag = "";
                                               s.Mask = "";
                                               s.File = "";
                                           }),
                                           With([](BriskletSettings &s) {
                                               s.Speed = INT_MIN;
                                               s.Tag = "a=b;c#d[e]";
                                               s.Ini = "\xC4\x8D\xff\x01";
                                           }),
                                           With([](BriskletSettings &s) {
                                               s.Mask = std::string(2047, 'F');
                                           })));

TEST(SettingsWrite, ReplacementKeepsThePermissions) {
    SettingsFolder folder;
    Spit(folder.Ini(), "[CAN]\nSpeed=1\n");
    ASSERT_EQ(::chmod(folder.Ini().c_str(), 0640), 0);
    std::string error;
    ASSERT_TRUE(WriteSettingsFile(folder.Ini(), Changed(), error));
    struct stat st {};
    ASSERT_EQ(::stat(folder.Ini().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
}

// A failed write names the file and leaves the old one exactly as it was, with nothing left beside it.
void ExpectFailedWriteLeavesOldFile(const SettingsFolder &folder, const std::string &old) {
    std::string error;
    EXPECT_FALSE(WriteSettingsFile(folder.Ini(), Changed(), error));
    EXPECT_EQ(error, "Unable to write to " + folder.Ini());
    EXPECT_EQ(Slurp(folder.Ini()), old);
    EXPECT_EQ(folder.Entries(), QStringList{"Brisklet.INI"});
}

const std::string OldFile = "[PATH]\nFile=/old/\n[CAN]\nSpeed=1\nOdd line\n";

TEST(SettingsWriteFailure, ReadOnlyFolder) {
    SettingsFolder folder;
    Spit(folder.Ini(), OldFile);
    ASSERT_EQ(::chmod(folder.Dir().c_str(), 0555), 0);
    if (::access(folder.Dir().c_str(), W_OK) == 0) {
        ::chmod(folder.Dir().c_str(), 0755);
        GTEST_SKIP() << "this user may write into read-only folders";
    }
    ExpectFailedWriteLeavesOldFile(folder, OldFile);
    ::chmod(folder.Dir().c_str(), 0755);
}

TEST(SettingsWriteFailure, ReadOnlyFile) {
    SettingsFolder folder;
    Spit(folder.Ini(), OldFile);
    ASSERT_EQ(::chmod(folder.Ini().c_str(), 0444), 0);
    if (::access(folder.Ini().c_str(), W_OK) == 0) GTEST_SKIP() << "this user may write read-only files";
    ExpectFailedWriteLeavesOldFile(folder, OldFile);
}

TEST(SettingsWriteFailure, DiskFullHalfwayThrough) {
    SettingsFolder folder;
    const std::string old = OldFile + "Note=" + std::string(8000, '1') + "\n";
    Spit(folder.Ini(), old);
    // A file size limit makes the write of the new text fail part way, for any user.
    struct rlimit saved {};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
    auto *previous = std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit small = saved;
    small.rlim_cur = 4096;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    std::string error;
    const bool written = WriteSettingsFile(folder.Ini(), Changed(), error);
    ::setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, previous);
    EXPECT_FALSE(written);
    EXPECT_EQ(error, "Unable to write to " + folder.Ini());
    EXPECT_EQ(Slurp(folder.Ini()), old);
    EXPECT_EQ(folder.Entries(), QStringList{"Brisklet.INI"});
}

TEST(SettingsWriteFailure, MissingFolder) {
    SettingsFolder folder;
    const std::string path = folder.Dir() + "gone/Brisklet.INI";
    std::string error;
    EXPECT_FALSE(WriteSettingsFile(path, Changed(), error));
    EXPECT_EQ(error, "Unable to write to " + path);
}

}  // namespace

// Found by fuzzing: "[t/brisklet/" without its bracket made the keys below it part of a section named
// over the line break, and each write added one more line.
TEST(SettingsWrite, SectionLineWithoutItsBracketIsIgnoredAndNothingGrows) {
    const std::string text = "[PATH]\nFile=/opt/b/\n[CAN\nSpeed=3\n[CAN]\nMask=7FF\n";
    const BriskletSettings read = ParseSettingsText(text, Folder);
    EXPECT_EQ(read.Mask, "7FF");
    EXPECT_EQ(read.Speed, 5);  // Speed=3 stood under the ignored line, so in [PATH]
    const std::string once = ComposeSettingsText(text, read);
    EXPECT_NE(once.find("\n[CAN\nSpeed=3\n"), std::string::npos) << once;  // kept as it was
    EXPECT_EQ(ComposeSettingsText(once, read), once);
    EXPECT_EQ(ParseSettingsText(once, Folder), read);

    // The same behind a UTF-8 signature.
    const std::string signed_ = "\xEF\xBB\xBF[PATH; \n]\nFile=/x/\n";
    const BriskletSettings back = ParseSettingsText(signed_, Folder);
    const std::string written = ComposeSettingsText(signed_, back);
    EXPECT_EQ(ComposeSettingsText(written, back), written) << written;
}
