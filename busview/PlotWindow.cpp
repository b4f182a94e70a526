#include "PlotWindow.h"

#include <QChart>
#include <QChartView>
#include <QCloseEvent>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineSeries>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>
#include <QValueAxis>
#include <algorithm>
#include <cmath>
#include <limits>

using busview::PlotPoint;
using busview::SignalSampler;

namespace {

constexpr QSize DefaultSize{820, 480};

}  // namespace

PlotWindow::PlotWindow(SignalSampler *sampler, QWidget *parent)
    : QWidget(parent, Qt::Window), sampler_(sampler), drain_(SignalSampler::RingPoints) {
    setObjectName(QStringLiteral("PlotWindow"));
    setWindowTitle(QStringLiteral("Plot"));
    chart_ = new QChart;
    chart_->legend()->setAlignment(Qt::AlignBottom);
    chart_->setMargins(QMargins(4, 4, 4, 4));
    axisX_ = new QValueAxis;
    axisX_->setTitleText(QStringLiteral("Time (s)"));
    axisX_->setLabelFormat(QStringLiteral("%.1f"));
    chart_->addAxis(axisX_, Qt::AlignBottom);
    axisX_->setRange(0, 1);
    connect(axisX_, &QValueAxis::rangeChanged, this, [this] {
        if (!settingAxes_) UserZoomed();
    });

    chartView = new QChartView(chart_);
    chartView->setObjectName(QStringLiteral("chartView"));
    chartView->setAccessibleName(QStringLiteral("Plot of the picked signals"));
    chartView->setRenderHint(QPainter::Antialiasing);
    chartView->setRubberBand(QChartView::RectangleRubberBand);
    chartView->setToolTip(QStringLiteral("Drag a rectangle to zoom into it; a right click zooms out"));

    auto button = [this](const QString &text, const char *name, const QString &hint) {
        auto *b = new QPushButton(text);
        b->setObjectName(QLatin1String(name));
        b->setAccessibleName(QString(text).remove(QLatin1Char('&')));
        b->setToolTip(hint);
        return b;
    };
    btnPause = button(QStringLiteral("&Pause"), "btnPause",
                      QStringLiteral("Freeze the plot; going on again shows the gap"));
    btnPause->setCheckable(true);
    connect(btnPause, &QPushButton::toggled, this, &PlotWindow::SetPaused);
    btnResetZoom = button(QStringLiteral("&Reset zoom"), "btnResetZoom",
                          QStringLiteral("Show the last 60 s, scaled to the values"));
    connect(btnResetZoom, &QPushButton::clicked, this, &PlotWindow::ResetZoom);
    btnExport = button(QStringLiteral("&Export PNG..."), "btnExport",
                       QStringLiteral("Save the plot as it is shown as a PNG image"));
    connect(btnExport, &QPushButton::clicked, this, &PlotWindow::ExportClicked);
    lblStatus = new QLabel;
    lblStatus->setObjectName(QStringLiteral("lblStatus"));
    lblStatus->setAccessibleName(QStringLiteral("Plot status"));

    auto *controls = new QHBoxLayout;
    for (QPushButton *b : {btnPause, btnResetZoom, btnExport}) controls->addWidget(b);
    controls->addWidget(lblStatus, 1);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(chartView, 1);
    layout->addLayout(controls);
    resize(DefaultSize);

    timer_ = new QTimer(this);
    timer_->setInterval(RefreshInterval);
    connect(timer_, &QTimer::timeout, this, &PlotWindow::RefreshNow);
    ShowStatus();
}

PlotWindow::~PlotWindow() {
    for (const Trace &trace : traces_)
        if (trace.signal) sampler_->Unpick(trace.signal);
}

bool PlotWindow::AddSignal(const busview::PlotPick &pick) {
    if (!pick.signal) return false;
    const bool wasEmpty = Picked().empty();
    const int slot = sampler_->Pick(pick);
    problem_.clear();
    if (slot < 0) {
        problem_ = QStringLiteral("The plot shows at most %1 signals").arg(SignalSampler::MaxPicks);
        ShowStatus();
        return false;
    }
    Trace &trace = traces_[static_cast<std::size_t>(slot)];
    if (trace.signal == pick.signal) return true;
    if (wasEmpty) latest_ = 0;  // the sampler starts its time again
    trace = Trace{};
    trace.signal = pick.signal;
    trace.history.resize(HistoryPoints);
    for (QList<QPointF> &list : trace.shown) list.reserve(2 * MaxColumns + 4);
    trace.series = new QLineSeries(this);
    QString name = QString::fromStdString(pick.signal->name);
    if (!pick.signal->unit.empty())
        name += QStringLiteral(" (%1)").arg(QString::fromStdString(pick.signal->unit));
    trace.series->setName(name);
    chart_->addSeries(trace.series);
    trace.axis = AxisFor(QString::fromStdString(pick.signal->unit));
    trace.series->attachAxis(axisX_);
    trace.series->attachAxis(trace.axis);
    dirty_ = true;
    ShowStatus();
    return true;
}

void PlotWindow::RemoveSignal(const dbc::Signal *signal) {
    for (Trace &trace : traces_) {
        if (!signal || trace.signal != signal) continue;
        sampler_->Unpick(signal);
        chart_->removeSeries(trace.series);
        delete trace.series;
        ReleaseAxis(trace.axis);
        trace = Trace{};
        dirty_ = true;
    }
    ShowStatus();
}

QValueAxis *PlotWindow::AxisFor(const QString &unit) {
    for (Axis &a : axes_)
        if (a.unit == unit) {
            ++a.users;
            return a.axis;
        }
    auto *axis = new QValueAxis;
    axis->setLabelFormat(QStringLiteral("%g"));
    axis->setTitleText(unit);
    axis->setRange(0, 1);
    chart_->addAxis(axis, axes_.size() % 2 ? Qt::AlignRight : Qt::AlignLeft);
    connect(axis, &QValueAxis::rangeChanged, this, [this] {
        if (!settingAxes_) UserZoomed();
    });
    axes_.push_back({unit, axis, 1});
    return axis;
}

void PlotWindow::ReleaseAxis(QValueAxis *axis) {
    for (auto a = axes_.begin(); a != axes_.end(); ++a)
        if (a->axis == axis && --a->users == 0) {
            chart_->removeAxis(axis);
            delete axis;
            axes_.erase(a);
            return;
        }
}

void PlotWindow::RemoveAll() {
    for (Trace &trace : traces_)
        if (trace.signal) RemoveSignal(trace.signal);
}

std::vector<const dbc::Signal *> PlotWindow::Picked() const {
    std::vector<const dbc::Signal *> picked;
    for (const Trace &trace : traces_)
        if (trace.signal) picked.push_back(trace.signal);
    return picked;
}

QList<QPointF> PlotWindow::PointsOf(const dbc::Signal *signal) const {
    for (const Trace &trace : traces_)
        if (signal && trace.signal == signal) return trace.series->points();
    return {};
}

void PlotWindow::Drain(Trace &trace, int slot) {
    for (;;) {
        const std::size_t n = sampler_->Drain(slot, drain_, trace.lost);
        for (std::size_t i = 0; i < n; ++i) {
            const PlotPoint &p = drain_[i];
            if (!std::isfinite(p.value)) continue;  // a float signal's NaN: no place on a line
            trace.history[(trace.start + trace.size) % HistoryPoints] = p;
            if (trace.size < HistoryPoints)
                ++trace.size;
            else
                trace.start = (trace.start + 1) % HistoryPoints;
            latest_ = std::max(latest_, p.seconds);
        }
        if (n < drain_.size()) return;
    }
}

void PlotWindow::RefreshNow() {
    if (!Paused()) {
        for (std::size_t slot = 0; slot < traces_.size(); ++slot)
            if (traces_[slot].signal) Drain(traces_[slot], static_cast<int>(slot));
        dirty_ = true;
    }
    if (!dirty_) return;
    dirty_ = false;
    Redraw();
    ShowStatus();
}

void PlotWindow::Redraw() {
    double x0 = axisX_->min(), x1 = axisX_->max();
    if (!zoomed_) {
        x0 = std::max(0.0, latest_ - WindowSeconds);
        x1 = std::max(latest_, x0 + 1);
    }
    const int columns = std::clamp(static_cast<int>(chart_->plotArea().width()), 16, MaxColumns);
    const double columnWidth = (x1 - x0) / columns;
    for (Axis &a : axes_) {
        a.low = std::numeric_limits<double>::infinity();
        a.high = -a.low;
    }
    for (Trace &trace : traces_) {
        if (!trace.signal) continue;
        QList<QPointF> &out = trace.shown[trace.flip];
        trace.flip ^= 1;
        out.clear();
        auto at = [&](std::size_t i) -> const PlotPoint & {
            return trace.history[(trace.start + i) % HistoryPoints];
        };
        auto firstAfter = [&](double x, bool orEqual) {  // the history is in time order
            std::size_t lo = 0, hi = trace.size;
            while (lo < hi) {
                const std::size_t mid = (lo + hi) / 2;
                if (orEqual ? at(mid).seconds < x : at(mid).seconds <= x)
                    lo = mid + 1;
                else
                    hi = mid;
            }
            return lo;
        };
        // One point past each edge, so that the line runs to the border.
        std::size_t from = firstAfter(x0, true), to = firstAfter(x1, false);
        if (from > 0) --from;
        if (to < trace.size) ++to;
        Axis &axis =
            *std::find_if(axes_.begin(), axes_.end(), [&](const Axis &a) { return a.axis == trace.axis; });
        auto put = [&](const PlotPoint &p) {
            out.append(QPointF(p.seconds, p.value));
            if (p.seconds >= x0 && p.seconds <= x1) {
                axis.low = std::min(axis.low, p.value);
                axis.high = std::max(axis.high, p.value);
            }
        };
        if (to - from <= static_cast<std::size_t>(2 * columns)) {
            for (std::size_t i = from; i < to; ++i) put(at(i));
        } else {
            // The smallest and the largest value of each pixel column, in the order they came.
            bool open = false;
            double column = 0;
            std::size_t low = 0, high = 0;
            auto flush = [&] {
                if (!open) return;
                put(at(std::min(low, high)));
                if (low != high) put(at(std::max(low, high)));
            };
            for (std::size_t i = from; i < to; ++i) {
                const double c = std::floor((at(i).seconds - x0) / columnWidth);
                if (!open || c != column) {
                    flush();
                    open = true;
                    column = c;
                    low = high = i;
                } else if (at(i).value < at(low).value) {
                    low = i;
                } else if (at(i).value > at(high).value) {
                    high = i;
                }
            }
            flush();
        }
        trace.series->replace(out);
    }
    if (zoomed_) return;
    settingAxes_ = true;
    axisX_->setRange(x0, x1);
    for (Axis &a : axes_) {
        if (a.low > a.high) {
            a.axis->setRange(0, 1);
            continue;
        }
        const double span = a.high - a.low;
        const double pad = span > 0 ? span * 0.05 : std::max(1.0, std::fabs(a.low) * 0.05);
        a.axis->setRange(a.low - pad, a.high + pad);
        a.axis->applyNiceNumbers();
    }
    settingAxes_ = false;
}

void PlotWindow::UserZoomed() {
    zoomed_ = true;
    dirty_ = true;
    SetPaused(true);
}

void PlotWindow::SetPaused(bool paused) {
    if (btnPause->isChecked() != paused) {
        btnPause->setChecked(paused);  // comes back here through toggled
        return;
    }
    if (!paused) zoomed_ = false;  // going on scrolls again
    setWindowTitle(paused ? QStringLiteral("Plot (paused)") : QStringLiteral("Plot"));
    dirty_ = true;
    RefreshNow();
}

bool PlotWindow::Paused() const { return btnPause->isChecked(); }

void PlotWindow::ResetZoom() {
    zoomed_ = false;
    dirty_ = true;
    RefreshNow();
}

bool PlotWindow::ExportPng(const QString &path) {
    problem_.clear();
    if (!chartView->grab().save(path, "PNG")) problem_ = QStringLiteral("Cannot write %1").arg(path);
    ShowStatus();
    return problem_.isEmpty();
}

void PlotWindow::ExportClicked() {
    const QString path =
        QFileDialog::getSaveFileName(this, QStringLiteral("Export the plot"), QStringLiteral("plot.png"),
                                     QStringLiteral("PNG images (*.png)"));
    if (!path.isEmpty()) ExportPng(path);
}

void PlotWindow::ShowStatus() {
    int plotted = 0;
    uint64_t lost = 0;
    for (const Trace &trace : traces_)
        if (trace.signal) {
            ++plotted;
            lost += trace.lost;
        }
    QString text = plotted == 0
                       ? QStringLiteral("Tick a signal in the receive list to plot it")
                       : QStringLiteral("%1 of %2 signals").arg(plotted).arg(SignalSampler::MaxPicks);
    if (lost > 0)
        text += QStringLiteral(", %1 values not plotted (paused, or the plot fell behind)").arg(lost);
    if (!problem_.isEmpty()) text = problem_;
    lblStatus->setText(text);
}

void PlotWindow::showEvent(QShowEvent *event) {
    QWidget::showEvent(event);
    timer_->start();
    RefreshNow();
}

void PlotWindow::hideEvent(QHideEvent *event) {
    timer_->stop();
    QWidget::hideEvent(event);
}

void PlotWindow::closeEvent(QCloseEvent *event) {
    RemoveAll();
    emit PicksChanged();
    QWidget::closeEvent(event);
}
