// The main window: its controls, the operator's commands, the settings file, the status line, and the
// glue that puts what the adapter reports on screen. Everything here runs on the window thread unless a
// method says otherwise.
#pragma once

#include <QMainWindow>
#include <QString>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "AdapterSession.h"
#include "BriskletVersion.h"
#include "ReceivePump.h"  // PauseState

class QAction;
class QCheckBox;
class QComboBox;
class QFrame;
class QGroupBox;
class QLabel;
class QLineEdit;
class QMenu;
class QRadioButton;
class QStatusBar;
class QTimer;
class QToolButton;



struct WindowOptions {
    // Folder holding Brisklet.INI, with its trailing separator; empty: the executable's folder, or where
    // that is not writable, $XDG_CONFIG_HOME/Brisklet/ (default ~/.config/Brisklet/).
    QString SettingsDir;
    // Whenever the adapter is found (at start and after every replug), run the Initialize button's
    // sequence with the controls as they stand.
    bool InitializeOnFind = false;
    // Where the window's lines for standard error go (the program prefixes them); empty: straight to stderr.
    std::function<void(const std::string &line)> SayOnStderr;
    // Ctrl+L: shows the receive list (the program owns it); empty: the key does nothing.
    std::function<void()> OpenReceiveList;
};

// The window's caption: at start, and as the presence watch finds or loses the adapter.
constexpr const char *TitleStart = "Brisklet  V" BRISKLET_VERSION;
constexpr const char *TitlePresent = "Brisklet  V" BRISKLET_VERSION "  -  Device Present";
constexpr const char *TitleLost = "Brisklet  V" BRISKLET_VERSION "  -  No Device Present";

class TfrmMain : public QMainWindow {
    Q_OBJECT

public:
    explicit TfrmMain(const WindowOptions &options = {}, QWidget *parent = nullptr);
    ~TfrmMain() override;

    // ---- Start-up, show, close, status line ----
    void FormCreate();
    void FormShow();
    void FormClose();
    void Exit1Click();
    void FTQuitExecute();
    // Replaces the status line (panel 1). What the receive path handed over before is shown first, so
    // the line always ends on the latest event. `hint`: the whole story where the text is a short form.
    void ErrorMessages(const QString &text);
    void ErrorMessages(const QString &text, const QString &hint);
    // The status line as it is set from the display queue (which is applied in order already).
    void SetStatusLine(const QString &text, const QString &hint);
    QString SettingsPath() const { return settingsPath_; }

    // ---- Presence watch ----
    // One tick: the caption and actions follow what it found; a new reason the adapter cannot be opened
    // is said on stderr and in the status line (a missing one only until it has been found once).
    void Timer1Timer();

    // ---- Receive thread and pump ----
    void ReceiveData();           // receive thread
    void FTReceiveFileExecute();  // the pump; receive thread or Ctrl+R
    // A status line raised on another thread, shown behind what that thread handed over before it.
    void QueueLinkErrorLine(const std::string &line, const std::string &hint = {});  // any thread
    uint64_t ReceivePasses() const;  // passes of this window's receive thread so far
    // The window's connection to the adapter: a program adds its log or bus mirror here.
    AdapterSession &Session() { return session_; }

    // ---- Command encoder ----
    bool CreateMessage(int Code, int Len, const uint8_t (&Payload)[256]);

    // ---- Identifier coding and bit timing (read the controls) ----
    void CodeID(uint32_t Identifier, bool Remote, int &ID1, int &ID2, int &ID3, int &ID4);
    void GetCANBTx(uint8_t &T1, uint8_t &T2, uint8_t &T3, uint8_t &Mode);
    uint8_t DriverSpeed();

    // ---- Adapter control ----
    void InitCanClick();
    void btnPauseClick();
    void DisableCanClick();
    void btnClearClick();

    // ---- Transmission and slot stop ----
    void btnSend0Click();
    void SendCanData(int Slot);
    void TransmitCanData(int Slot, int32_t Period, uint8_t Flags, bool Remote, uint32_t Identifier, int Count,
                         const uint8_t (&Data)[8]);
    void StopCanData(uint8_t Slot);
    void DisableTransmit();
    void btnStop0Click();

    // ---- Receive display and counters ----
    void ReceiveCanData(int Hour, int Minute, int Second, int Millisecond, uint32_t Identifier, uint8_t Info,
                        const uint8_t (&Data)[8]);
    void CanCountClear();
    void CanCountShow();
    void CanErrorClear();
    void CanErrorInc(uint8_t Flags);
    void CanErrorShow();

    // The warning box shown by commands that need the adapter.
    void ShowDeviceWarning();

    // ---- Controls (names as the operator's documentation uses them) ----
    // Containers
    QFrame *Panel8 = nullptr, *Panel1 = nullptr, *Panel2 = nullptr;
    QGroupBox *ReceiveBox = nullptr, *TransmitBox = nullptr, *GroupBox2 = nullptr, *GroupBox8 = nullptr;
    QFrame *Panel13 = nullptr, *Panel14 = nullptr, *Panel5 = nullptr, *Panel7 = nullptr;
    QFrame *CanMessPanel = nullptr, *Panel10 = nullptr;
    QLabel *Label290 = nullptr, *Label12 = nullptr, *Label13 = nullptr;
    QStatusBar *StatusBar1 = nullptr;
    QLabel *StatusPanel0 = nullptr, *StatusPanel1 = nullptr;  // the two panels; 1 is the status line
    // Receive box
    QLabel *Label5 = nullptr, *Label9 = nullptr, *Label10 = nullptr;
    QLabel *lblTime = nullptr, *lblID = nullptr, *lblData = nullptr;
    // Transmit box
    QLabel *Label19 = nullptr, *Label18 = nullptr, *Label17 = nullptr, *Label11 = nullptr, *Label6 = nullptr;
    QCheckBox *RTRBox = nullptr, *PeriodBox = nullptr, *ShowFrame = nullptr;
    QLineEdit *editTime = nullptr, *editID = nullptr, *editData = nullptr;
    QToolButton *btnTransmit0 = nullptr, *btnStop0 = nullptr;
    // Control panel
    QToolButton *btnInit = nullptr, *btnPause = nullptr, *btnStop = nullptr, *btnClear = nullptr;
    // CAN speed, bit rate, listening
    QRadioButton *HighSpeed = nullptr, *LowSpeed = nullptr;
    QLabel *lblBitRate = nullptr, *lblKbps = nullptr;
    QComboBox *ComboSpeed = nullptr;
    QCheckBox *ListeningCheckBox = nullptr;
    // Acceptance filter
    QLabel *Label7 = nullptr, *Label2 = nullptr, *Label8 = nullptr;
    QLineEdit *editTag = nullptr, *editMask = nullptr;
    QRadioButton *rb2_0A = nullptr, *rb2_0B = nullptr;
    // Counters
    QLabel *Label15 = nullptr, *lblMessError = nullptr, *Label1 = nullptr, *lblMessCount = nullptr;
    // Top strip
    QToolButton *SpeedHelp = nullptr;
    QFrame *Oddelovac4 = nullptr;
    // Menu and actions
    QMenu *File1 = nullptr, *Help1 = nullptr;
    QAction *Exit1 = nullptr;
    QAction *FTPort_Configure = nullptr, *FTSendFile = nullptr, *FTReceiveFile = nullptr, *FTQuit = nullptr;
    QAction *ShowReceiveList = nullptr;  // Ctrl+L: WindowOptions::OpenReceiveList
    QTimer *Timer1 = nullptr;

    QString PathFile, PathIni;

protected:
    void showEvent(QShowEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    class Channel;          // MainCommands.cpp: a command sequence's view of the window
    class DisplayConsumer;  // MainReceive.cpp: what the receive path hands the window

    void BuildControls();  // MainLayout.cpp: every control, container, menu and action, placed and captioned
    void WireControls();   // Main.cpp: signals to handlers
    void StartReceiveThread();  // MainReceive.cpp: last step of window creation
    void ApplyWaitingChanges();  // MainReceive.cpp: what the display queue holds, now
    void StopReceiveThread();   // MainReceive.cpp: before the window goes away; safe to call twice
    void LoadSettings();        // MainSettings.cpp: steps 2..8 of start-up
    void SaveSettings();        // MainSettings.cpp: step 3 of closing, with the error box on failure

    // MainSettings.cpp: where Brisklet.INI lives (WindowOptions::SettingsDir, else the program's folder
    // where this user may write into it, else the user's own configuration folder).
    // `ownFolder` tells that it is the user's configuration folder, made at close where it is missing.
    static QString ChooseSettingsPath(const QString &settingsDir, bool &ownFolder);
    static QString ExecutableFolder();

    AdapterSession session_;
    struct DisplayConsumerDelete {
        void operator()(DisplayConsumer *consumer) const;  // MainReceive.cpp, where the type is whole
    };
    std::unique_ptr<DisplayConsumer, DisplayConsumerDelete> display_;
    QString settingsPath_;
    bool initializeOnFind_ = false;
    std::function<void(const std::string &line)> sayOnStderr_;
    std::function<void()> openReceiveList_;
    bool settingsLeftAlone_ = false;  // too large or not a regular file: neither read nor rewritten
    bool settingsInConfigFolder_ = false;
    bool shown_ = false;
    bool closed_ = false;
};

extern TfrmMain *frmMain;
