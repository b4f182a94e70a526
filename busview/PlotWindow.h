// The plot: the signals picked in the receive list over time, a window of its own (Qt Charts).
//
// Every RefreshInterval it drains the receive side's rings (SignalSampler) into a history of its own per
// signal (HistoryPoints: 60 s of a signal sent every millisecond), and draws the last WindowSeconds of it,
// scrolling, on one time axis in seconds since the first sample (the adapter's own time stamps) and a
// value axis per unit (signals of the same unit share one; rpm and degC get one each, left and right),
// each scaled to the values it shows. A line gets at most two points per pixel column (the smallest and
// the largest value of its samples there), so a fast signal costs the drawing no more than a slow one, and
// the lists handed to the chart are kept from one refresh to the next.
//
// Pause freezes the picture (and takes no more samples: when going on, the gap shows). Dragging a
// rectangle zooms into it and pauses; a right click zooms out; Reset zoom goes back to the whole window.
// Export PNG writes the chart as the screen shows it. Closing the window forgets its signals.
//
// Window thread only; the sampler outlives it.
#pragma once

#include <QList>
#include <QPointF>
#include <QWidget>
#include <array>
#include <chrono>
#include <vector>

#include "SignalSampler.h"

class QChart;
class QChartView;
class QLabel;
class QLineSeries;
class QPushButton;
class QTimer;
class QValueAxis;

class PlotWindow : public QWidget {
    Q_OBJECT

public:
    static constexpr std::chrono::milliseconds RefreshInterval{100};
    static constexpr double WindowSeconds = 60;
    static constexpr std::size_t HistoryPoints = 65536;
    static constexpr int MaxColumns = 4096;

    explicit PlotWindow(busview::SignalSampler *sampler, QWidget *parent = nullptr);
    ~PlotWindow() override;

    // Starts plotting the signal; false when SignalSampler::MaxPicks signals are plotted already.
    bool AddSignal(const busview::PlotPick &pick);
    void RemoveSignal(const dbc::Signal *signal);
    void RemoveAll();
    std::vector<const dbc::Signal *> Picked() const;
    // The points the signal's line has now (none when not plotted).
    QList<QPointF> PointsOf(const dbc::Signal *signal) const;

    void RefreshNow();
    void SetPaused(bool paused);
    bool Paused() const;
    void ResetZoom();
    // Writes the chart as a PNG image; false (and says why in the status line) when it cannot.
    bool ExportPng(const QString &path);

    QChartView *chartView = nullptr;
    QPushButton *btnPause = nullptr;
    QPushButton *btnResetZoom = nullptr;
    QPushButton *btnExport = nullptr;
    QLabel *lblStatus = nullptr;

signals:
    // The signals plotted changed from here (the window was closed).
    void PicksChanged();

protected:
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

private:
    struct Axis {
        QString unit;
        QValueAxis *axis = nullptr;
        int users = 0;
        double low = 0, high = 0;  // of the values shown, while redrawing
    };
    struct Trace {
        const dbc::Signal *signal = nullptr;
        QLineSeries *series = nullptr;
        QValueAxis *axis = nullptr;
        std::vector<busview::PlotPoint> history;  // a ring of HistoryPoints, oldest at `start`
        std::size_t start = 0, size = 0;
        QList<QPointF> shown[2];  // handed to the chart in turn: the one it holds is never written
        int flip = 0;
        uint64_t lost = 0;
    };
    QValueAxis *AxisFor(const QString &unit);
    void ReleaseAxis(QValueAxis *axis);
    void Drain(Trace &trace, int slot);
    void Redraw();
    void UserZoomed();
    void ShowStatus();
    void ExportClicked();

    busview::SignalSampler *sampler_;
    std::array<Trace, busview::SignalSampler::MaxPicks> traces_;  // by the sampler's slot
    std::vector<busview::PlotPoint> drain_;
    QChart *chart_ = nullptr;
    QValueAxis *axisX_ = nullptr;
    std::vector<Axis> axes_;
    QTimer *timer_ = nullptr;
    double latest_ = 0;    // the newest sample's time
    bool zoomed_ = false;  // the operator chose the axes' ranges
    bool settingAxes_ = false;
    bool dirty_ = false;  // redraw on the next refresh even while paused
    QString problem_;     // the last export's failure
};
