#include "Main.h"

#include <QAction>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QShowEvent>
#include <QThread>
#include <QTimer>
#include <QToolButton>
#include <cstdio>

#include "D2XXUnit.h"
#include "MessageBoxes.h"
#include "PresenceWatch.h"

TfrmMain *frmMain = nullptr;

namespace {
constexpr int HintShowMs = 5000;
const char *const WarningText =
    "Device Not Present! You must Plug-In USB Adaptor or \r\nInstal USB Driver and Restart your Computer.";
}  // namespace

TfrmMain::TfrmMain(const WindowOptions &options, QWidget *parent) : QMainWindow(parent) {
    frmMain = this;
    settingsPath_ = ChooseSettingsPath(options.SettingsDir, settingsInConfigFolder_);
    initializeOnFind_ = options.InitializeOnFind;
    sayOnStderr_ = options.SayOnStderr;
    openReceiveList_ = options.OpenReceiveList;
    if (!sayOnStderr_) sayOnStderr_ = [](const std::string &line) { std::fprintf(stderr, "brisklet: %s\n", line.c_str()); };
    BuildControls();
    WireControls();
    FormCreate();
}

TfrmMain::~TfrmMain() {
    StopReceiveThread();
    SetLinkErrorSink({});
    if (frmMain == this) frmMain = nullptr;
}

void TfrmMain::WireControls() {
    // Link errors may be reported on the receive thread; the line reaches the status bar on ours, queued
    // behind whatever that thread handed over before it.
    SetLinkErrorSink([this](const std::string &line) {
        if (QThread::currentThread() == thread())
            ErrorMessages(QString::fromStdString(line));
        else
            QueueLinkErrorLine(line);
    });

    connect(Timer1, &QTimer::timeout, this, &TfrmMain::Timer1Timer);
    connect(Exit1, &QAction::triggered, this, &TfrmMain::Exit1Click);
    connect(FTQuit, &QAction::triggered, this, &TfrmMain::FTQuitExecute);
    connect(FTReceiveFile, &QAction::triggered, this, &TfrmMain::FTReceiveFileExecute);
    connect(ShowReceiveList, &QAction::triggered, this, [this] {
        if (openReceiveList_) openReceiveList_();
    });
    connect(btnInit, &QToolButton::clicked, this, &TfrmMain::InitCanClick);
    connect(btnPause, &QToolButton::clicked, this, &TfrmMain::btnPauseClick);
    connect(btnStop, &QToolButton::clicked, this, &TfrmMain::DisableCanClick);
    connect(btnClear, &QToolButton::clicked, this, &TfrmMain::btnClearClick);
    connect(btnTransmit0, &QToolButton::clicked, this, &TfrmMain::btnSend0Click);
    connect(btnStop0, &QToolButton::clicked, this, &TfrmMain::btnStop0Click);

    // An edit box claims Ctrl+X (cut) before any shortcut sees it; the window's Exit must win.
    for (QLineEdit *edit : findChildren<QLineEdit *>()) edit->installEventFilter(this);
}

bool TfrmMain::eventFilter(QObject *watched, QEvent *event) {
    if (event->type() == QEvent::ShortcutOverride && qobject_cast<QLineEdit *>(watched)) {
        auto *key = static_cast<QKeyEvent *>(event);
        if (key->keyCombination() == QKeyCombination(Qt::ControlModifier, Qt::Key_X)) {
            event->ignore();  // not overridden: the shortcut machinery gets Ctrl+X
            return true;
        }
    }
    return QMainWindow::eventFilter(watched, event);
}

void TfrmMain::FormCreate() {
    for (QWidget *w : findChildren<QWidget *>()) w->setToolTipDuration(HintShowMs);
    LoadSettings();
    StartReceiveThread();
}

void TfrmMain::FormShow() {
    ShowLinkErrors.store(true);
    DevicePresent.store(false);
    FTSendFile->setEnabled(false);
    FTReceiveFile->setEnabled(false);
    FTPort_Configure->setEnabled(false);
    Timer1->start(PresenceTickMs);
    GetFTDeviceCount();
    setWindowTitle(TitleStart);
}

void TfrmMain::FormClose() {
    PauseState.store(1);
    FTQuitExecute();
    SaveSettings();
}

void TfrmMain::Exit1Click() { close(); }

void TfrmMain::FTQuitExecute() {
    if (DevicePresent.load()) CloseFTDevice();
}

void TfrmMain::ErrorMessages(const QString &text) { ErrorMessages(text, text); }

void TfrmMain::ErrorMessages(const QString &text, const QString &hint) {
    ApplyWaitingChanges();
    SetStatusLine(text, hint);
}

void TfrmMain::SetStatusLine(const QString &text, const QString &hint) {
    StatusPanel1->setText(text);
    // The panel shows only what fits the window's width; the whole line stays readable on hover.
    StatusPanel1->setToolTip(hint);
}

void TfrmMain::ShowDeviceWarning() { ShowMessageBox(this, BoxIcon::Warning, "Warning", WarningText); }

void TfrmMain::showEvent(QShowEvent *event) {
    QMainWindow::showEvent(event);
    if (!shown_ && !event->spontaneous()) {
        shown_ = true;
        FormShow();
    }
}

void TfrmMain::closeEvent(QCloseEvent *event) {
    if (!closed_) {
        closed_ = true;
        Timer1->stop();
        // The receive thread goes first, so that it makes no call on the handle closed below.
        StopReceiveThread();
        FormClose();
        // The link is closed now. A command sequence may still be waiting inside Delay when the window
        // closes; with the adapter marked absent its remaining commands send nothing, and neither they
        // nor a late presence tick touch the closed handle or re-open the adapter.
        DevicePresent.store(false);
    }
    event->accept();
}
