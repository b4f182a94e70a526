// The receive list: a window of its own beside the main window, one row per identifier and form, and the
// bus health line at its foot.
//
// It reads a ReceiveTable that the receive path fills (see ReceiveTable.h for the threads) and asks a
// HealthSource for the bit rate and what the receive path dropped (may be null: load "?", drops 0); it
// owns neither, and both outlive it. Every RefreshInterval
// while it is shown it takes the table's changes into its model (paused: only the health line moves on,
// the rows stay as they were while the table goes on counting). Its size and column widths live in a
// settings file of its own (DefaultSettingsPath), read when it is made and written when it closes.
//
// DBC files (LoadDbc: the "Load DBC..." button, or the program's --dbc, once per file) name the rows'
// messages and give each such row a child row per signal (see ReceiveListModel.h); an identifier that
// two files define takes its message from the file loaded first. Ticking a signal row plots it: the plot
// window (PlotWindow.h) opens with the first signal and samples every value the receive side sees.
//
// Window thread only.
#pragma once

#include <QWidget>
#include <chrono>

#include "BusHealth.h"
#include "DatabaseSet.h"
#include "ReceiveListModel.h"

class PlotWindow;
class QLabel;
class QLineEdit;
class QPushButton;
class QTreeView;
class QTimer;

class ReceiveListWindow : public QWidget {
    Q_OBJECT

public:
    // Five times a second: enough to follow a bus by eye, and a busy list (thousands of rows sorted by a
    // column that changes) costs the window thread half what ten would.
    static constexpr std::chrono::milliseconds RefreshInterval{200};

    ReceiveListWindow(busview::ReceiveTable *table, const busview::HealthSource *health,
                      const QString &settingsPath = DefaultSettingsPath(), QWidget *parent = nullptr);
    ~ReceiveListWindow() override;

    // $XDG_CONFIG_HOME/Brisklet/receive-list.ini (~/.config/... by default), beside an installed copy's Brisklet.INI.
    static QString DefaultSettingsPath();

    // What the timer does; public so that tests and the owner can bring the list up to date at once.
    void RefreshNow();
    void SetPaused(bool paused);
    bool Paused() const;
    void ClearList();
    // The selected frame rows, in the order shown, as candump log lines on the clipboard.
    void CopySelection();
    void SaveSettings() const;
    // Reads a DBC file and adds it to those the list decodes by: "" when it loaded, else one line naming
    // the file, the line and what is wrong (also shown in lblDbc; the list keeps the files it had).
    QString LoadDbc(const QString &path);
    const dbc::DatabaseSet &Databases() const { return databases_; }
    // The plot window, made (not shown) on first use.
    PlotWindow *Plot();

    // The controls, named for tests as the main window's are.
    QLineEdit *editFilterId = nullptr;
    QLineEdit *editFilterMask = nullptr;
    QPushButton *btnPause = nullptr;
    QPushButton *btnClear = nullptr;
    QPushButton *btnCopy = nullptr;
    QPushButton *btnLoadDbc = nullptr;
    QPushButton *btnPlot = nullptr;
    QTreeView *view = nullptr;
    QLabel *lblDbc = nullptr;
    QLabel *lblLoad = nullptr;
    QLabel *lblRates = nullptr;
    QLabel *lblDrops = nullptr;
    ReceiveListModel *model = nullptr;
    ReceiveListProxy *proxy = nullptr;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

private:
    void Build();
    void RestoreSettings();
    void FilterEdited();
    void ShowHealth(const busview::LoadFigures &load);
    void LoadDbcClicked();
    void ShowDatabases(const QString &problem);
    void PickRequested(const QModelIndex &signalRow, bool picked);
    void ShowPlot();

    busview::ReceiveTable *table_;
    const busview::HealthSource *health_;
    QString settingsPath_;
    QTimer *timer_ = nullptr;
    dbc::DatabaseSet databases_;
    PlotWindow *plot_ = nullptr;
};
