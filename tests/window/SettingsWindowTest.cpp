// Brisklet.INI through the real window: what start-up puts into the controls, and what closing writes.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QCheckBox>
#include <QComboBox>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QTest>
#include <fstream>
#include <memory>
#include <sstream>
#include <vector>

#include "D2XXUnit.h"
#include "LinkBackend.h"
#include "Main.h"
#include "MessageBoxes.h"
#include "Settings.h"
#include "SimAdapter.h"
#include "SimBackend.h"
#include "TestFiles.h"
#include "WindowOnEmulator.h"

namespace {

struct Box {
    BoxIcon icon;
    QString caption, text;
};

class SettingsWindowBase {
protected:
    SettingsWindowBase() {
        StartOnEmulator();
        SetMessageBoxHook([this](BoxIcon icon, const QString &caption, const QString &text) {
            boxes.push_back({icon, caption, text});
        });
    }
    ~SettingsWindowBase() {
        w.reset();
        SetMessageBoxHook({});
        EndOnEmulator();
    }

    QString Dir() const { return dir_.path() + "/"; }
    QString Ini() const { return Dir() + "Brisklet.INI"; }

    void OpenWithFile(const std::string &fileText) {
        Spit(Ini(), fileText);
        OpenIn(Dir());
    }
    void OpenIn(const QString &settingsDir) {
        WindowOptions options;
        options.SettingsDir = settingsDir;
        w = std::make_unique<TfrmMain>(options);
    }

    static void Type(QLineEdit *edit, const QString &text) {
        edit->clear();
        QTest::keyClicks(edit, text);
    }

    QTemporaryDir dir_;
    std::unique_ptr<TfrmMain> w;
    std::vector<Box> boxes;
};

// ---- Start-up ----

struct LoadCase {
    const char *name;
    std::string text;
    int speedIndex;
    bool listening;
    const char *tag, *mask;
    bool std11;
};

class SettingsLoad : public SettingsWindowBase, public ::testing::TestWithParam<LoadCase> {};

TEST_P(SettingsLoad, PutsTheFileIntoTheControls) {
    const LoadCase &c = GetParam();
    OpenWithFile(c.text);
    EXPECT_EQ(w->ComboSpeed->currentIndex(), c.speedIndex);
    EXPECT_EQ(w->ListeningCheckBox->isChecked(), c.listening);
    EXPECT_EQ(w->editTag->text(), QString(c.tag));
    EXPECT_EQ(w->editMask->text(), QString(c.mask));
    EXPECT_EQ(w->rb2_0A->isChecked(), c.std11);
    EXPECT_EQ(w->rb2_0B->isChecked(), !c.std11);  // exactly one of the pair
}

INSTANTIATE_TEST_SUITE_P(
    SettingsStartUp, SettingsLoad,
    ::testing::Values(LoadCase{"NoKeys", "", 5, false, "0", "0", true},
                      LoadCase{"Speed3", "[CAN]\nSpeed=3\n", 3, false, "0", "0", true},
                      LoadCase{"SpeedHex", "[CAN]\nSpeed=0x7\n", 7, false, "0", "0", true},
                      LoadCase{"Speed0", "[CAN]\nSpeed=0\n", 0, false, "0", "0", true},
                      LoadCase{"Speed8", "[CAN]\nSpeed=8\n", -1, false, "0", "0", true},
                      LoadCase{"Speed9", "[CAN]\nSpeed=9\n", -1, false, "0", "0", true},
                      LoadCase{"SpeedMinus1", "[CAN]\nSpeed=-1\n", -1, false, "0", "0", true},
                      LoadCase{"SpeedWord", "[CAN]\nSpeed=abc\n", 5, false, "0", "0", true},
                      LoadCase{"Std11Zero", "[CAN]\n2.0A=0\n", 5, false, "0", "0", false},
                      LoadCase{"Std11Two", "[CAN]\n2.0A=2\n", 5, false, "0", "0", true},
                      LoadCase{"ListeningYes", "[CAN]\nListening=yes\n", 5, false, "0", "0", true},
                      LoadCase{"Listening1", "[CAN]\nListening=1\n", 5, true, "0", "0", true},
                      LoadCase{"TagEmpty", "[CAN]\nTag=\n", 5, false, "", "0", true},
                      LoadCase{"LowerCaseTag", "[CAN]\nTag=1ab\nMask=7FF\n", 5, false, "1ab", "7FF", true}),
    [](const ::testing::TestParamInfo<LoadCase> &info) { return std::string(info.param.name); });

// ---- Closing ----

class SettingsWindow : public SettingsWindowBase, public ::testing::Test {};

TEST_F(SettingsWindow, FirstRunCreatesTheFileWithAllSevenKeys) {
    OpenIn(Dir());
    EXPECT_EQ(w->PathFile, Dir());
    EXPECT_EQ(w->PathIni, QString());
    w->FormClose();
    EXPECT_TRUE(boxes.empty());
    EXPECT_EQ(Slurp(Ini()), "[PATH]\nFile=" + Dir().toStdString() +
                                "\nIni=\n\n[CAN]\nSpeed=5\nListening=0\nTag=0\nMask=0\n2.0A=1\n");
}

TEST_F(SettingsWindow, ClosingWritesWhatTheControlsShow) {
    // [PATH] bytes that are not UTF-8 must come back exactly as they were.
    OpenWithFile(
        "[PATH]\nFile=C:\\Programy\\M\x9A\xE8\\\nIni=x.ini\n[CAN]\nSpeed=9\nTag=0\nNote=mine\n[Other]\nA="
        "1\n");
    EXPECT_EQ(w->ComboSpeed->currentIndex(), -1);
    Type(w->editTag, "1fa");
    Type(w->editMask, "7ff");
    EXPECT_EQ(w->editMask->text(), "7FF");
    w->ListeningCheckBox->setChecked(true);
    w->rb2_0B->setChecked(true);
    w->FormClose();
    EXPECT_TRUE(boxes.empty());
    EXPECT_EQ(Slurp(Ini()),
              "[PATH]\nFile=C:\\Programy\\M\x9A\xE8\\\nIni=x.ini\n[CAN]\nSpeed=-1\nTag=1fa\nNote=mine\n"
              "Listening=1\nMask=7FF\n2.0A=0\n[Other]\nA=1\n");
}

TEST_F(SettingsWindow, ChosenBitRateIsWrittenAsItsIndex) {
    OpenWithFile("[CAN]\nSpeed=-1\n");
    w->ComboSpeed->setCurrentIndex(2);
    w->FormClose();
    EXPECT_EQ(ReadSettingsFile(Ini().toStdString(), "").Speed, 2);
}

TEST_F(SettingsWindow, ClosingTheWindowWritesTheFile) {
    OpenIn(Dir());
    w->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(w.get()));
    Type(w->editTag, "abc");
    w->close();
    EXPECT_FALSE(w->isVisible());
    EXPECT_EQ(ReadSettingsFile(Ini().toStdString(), "").Tag, "abc");
}

TEST_F(SettingsWindow, FailedWriteNamesTheFileAndClosingGoesOn) {
    const QString missing = Dir() + "missing/";
    OpenIn(missing);
    w->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(w.get()));
    w->close();
    EXPECT_FALSE(w->isVisible());
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].icon, BoxIcon::Error);
    EXPECT_EQ(boxes[0].text, "Unable to write to " + missing + "Brisklet.INI");
}

TEST_F(SettingsWindow, AFileTooLargeToBeOursIsLeftAloneAndSaidOnce) {
    const std::string huge = "[CAN]\nSpeed=3\n;" + std::string(SettingsFileLimit, 'x') + "\n";
    OpenWithFile(huge);
    EXPECT_EQ(w->ComboSpeed->currentIndex(), 5);  // the defaults
    EXPECT_EQ(w->StatusPanel1->text(), Ini() + " is larger than 1 MiB: not read, and not rewritten at close");
    EXPECT_EQ(w->StatusPanel1->toolTip(), w->StatusPanel1->text());
    w->ComboSpeed->setCurrentIndex(1);
    w->FormClose();
    EXPECT_TRUE(boxes.empty());
    EXPECT_TRUE(Slurp(Ini()) == huge);
}

TEST_F(SettingsWindow, ARefusedWriteSaysWhyInTheBox) {
    ASSERT_EQ(::chmod(dir_.path().toLocal8Bit().constData(), 0777), 0);  // anyone may swap the file
    OpenIn(Dir());
    w->FormClose();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].icon, BoxIcon::Error);
    EXPECT_EQ(boxes[0].text, "Unable to write to " + Ini() + "\n(other users may write into its folder)");
    EXPECT_FALSE(QFileInfo::exists(Ini()));
}

}  // namespace
