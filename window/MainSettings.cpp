// Brisklet.INI: read at start-up into the controls, written back at closing.
#include <pwd.h>
#include <unistd.h>

#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QRadioButton>
#include <QVariant>
#include <cstdio>
#include <cstdlib>

#include "Main.h"
#include "MessageBoxes.h"
#include "Settings.h"

namespace {

// The [PATH] values are only carried through. A file written elsewhere may hold bytes that are not UTF-8,
// which a QString cannot keep; the bytes as read are remembered beside what they show as, and written back
// while the value still shows the same.
const char *const RawPathFile = "brisklet_rawPathFile";
const char *const RawPathIni = "brisklet_rawPathIni";

QString FromFile(const std::string &text) { return QString::fromUtf8(text.data(), qsizetype(text.size())); }
std::string ToFile(const QString &text) { return text.toUtf8().toStdString(); }

std::string CarriedBack(const QObject *window, const char *name, const QString &shown) {
    const QVariant raw = window->property(name);
    if (raw.isValid()) {
        const QByteArray bytes = raw.toByteArray();
        if (FromFile(bytes.toStdString()) == shown) return bytes.toStdString();
    }
    return ToFile(shown);
}

// $HOME, or where it is unset (a service, su without -l) the home folder the user database gives.
std::string HomeFolder() {
    if (const char *home = std::getenv("HOME"); home != nullptr && home[0] == '/') return home;
    char buffer[4096];
    passwd entry{};
    passwd *found = nullptr;
    if (::getpwuid_r(::geteuid(), &entry, buffer, sizeof buffer, &found) == 0 && found != nullptr &&
        found->pw_dir != nullptr)
        return found->pw_dir;
    return {};
}

}  // namespace

QString TfrmMain::ExecutableFolder() {
    QString dir = QCoreApplication::applicationDirPath();
    if (!dir.endsWith('/')) dir += '/';
    return dir;
}

QString TfrmMain::ChooseSettingsPath(const QString &settingsDir, bool &ownFolder) {
    ownFolder = false;
    QString dir = settingsDir;
    if (dir.isEmpty()) {
        // An installed copy (in the install prefix's bin folder, /usr/bin for the package) keeps each user's
        // settings in their configuration folder, root's too: nothing of ours is left in /usr/bin, where a
        // package manager would neither know nor remove it. A copy in a folder of one's own (a build, an
        // unpacked archive) keeps them beside itself where it may write there.
        const QString exe = ExecutableFolder();
        const bool installed = QFileInfo(exe).canonicalFilePath() ==
                               QFileInfo(QStringLiteral(BRISKLET_INSTALL_BINDIR)).canonicalFilePath();
        const bool besideProgram = !installed && ::access(QFile::encodeName(exe).constData(), W_OK) == 0;
        dir = FromFile(ChooseSettingsFolder(ToFile(exe), besideProgram, std::getenv("XDG_CONFIG_HOME"),
                                            HomeFolder().c_str()));
        ownFolder = dir != exe;
    }
    if (!dir.endsWith('/')) dir += '/';
    return dir + "Brisklet.INI";
}

void TfrmMain::LoadSettings() {
    const QString path = settingsPath_;
    const QString folder = path.left(path.lastIndexOf('/') + 1);
    std::string leftAlone;
    const BriskletSettings settings = ReadSettingsFile(ToFile(path), ToFile(folder), &leftAlone);
    // Too large to be ours, or a FIFO, socket or device in its place: leave it alone, and say so once, where
    // the link's messages go.
    settingsLeftAlone_ = !leftAlone.empty();
    if (settingsLeftAlone_) {
        const QString line = path + " is " + FromFile(leftAlone) + ": not read, and not rewritten at close";
        std::fprintf(stderr, "brisklet: %s\n", line.toLocal8Bit().constData());
        ErrorMessages(line);
    }

    PathFile = FromFile(settings.File);
    PathIni = FromFile(settings.Ini);
    setProperty(RawPathFile, QByteArray::fromStdString(settings.File));
    setProperty(RawPathIni, QByteArray::fromStdString(settings.Ini));

    ComboSpeed->setCurrentIndex(settings.Speed >= 0 && settings.Speed <= 7 ? settings.Speed : -1);
    ListeningCheckBox->setChecked(settings.Listening);
    editTag->setText(FromFile(settings.Tag));
    editMask->setText(FromFile(settings.Mask));
    // In an exclusive pair unchecking does nothing; checking the right one unchecks the other.
    QRadioButton *on = settings.Std11 ? rb2_0A : rb2_0B;
    QRadioButton *off = settings.Std11 ? rb2_0B : rb2_0A;
    on->setChecked(true);
    off->setChecked(false);
}

void TfrmMain::SaveSettings() {
    if (settingsLeftAlone_) return;
    BriskletSettings settings;
    settings.File = CarriedBack(this, RawPathFile, PathFile);
    settings.Ini = CarriedBack(this, RawPathIni, PathIni);
    settings.Speed = ComboSpeed->currentIndex();  // -1 when nothing is selected
    settings.Listening = ListeningCheckBox->isChecked();
    settings.Tag = ToFile(editTag->text());
    settings.Mask = ToFile(editMask->text());
    settings.Std11 = rb2_0A->isChecked();

    std::string error;
    // The user's configuration folder may not exist yet; the program's folder always does.
    if (settingsInConfigFolder_)
        MakeSettingsFolder(ToFile(settingsPath_.left(settingsPath_.lastIndexOf('/') + 1)));
    if (!WriteSettingsFile(ToFile(settingsPath_), settings, error))
        ShowMessageBox(this, BoxIcon::Error, "Brisklet", FromFile(error));
}
