#include "ReceiveListWindow.h"

#include <QApplication>
#include <QClipboard>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPushButton>
#include <QSettings>
#include <QStandardPaths>
#include <QStyledItemDelegate>
#include <QTimer>
#include <QTreeView>
#include <QVBoxLayout>
#include <algorithm>

#include "CandumpLine.h"
#include "PlotWindow.h"
#include "unitMy.h"

using namespace busview;

namespace {

const QString SizeKey = QStringLiteral("ReceiveList/Size");
const QString HeaderKey = QStringLiteral("ReceiveList/Columns");
constexpr QSize DefaultSize{1000, 520};
// Lines of the reader's messages a tooltip shows; the rest are counted.
constexpr std::size_t HintLines = 25;
// Colour of a byte that has just changed; it fades to nothing over FadeUs.
constexpr QRgb ChangedByte = qRgb(255, 176, 0);

// Draws the data bytes one by one, each on its own highlight whose strength the model gives.
class DataBytesDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter *painter, const QStyleOptionViewItem &option,
               const QModelIndex &index) const override {
        if (index.parent().isValid()) {  // a signal row: its value table's text
            QStyledItemDelegate::paint(painter, option, index);
            return;
        }
        QStyleOptionViewItem opt(option);
        initStyleOption(&opt, index);
        const QString text = opt.text;
        opt.text.clear();
        QStyle *style = opt.widget ? opt.widget->style() : QApplication::style();
        style->drawControl(QStyle::CE_ItemViewItem, &opt, painter, opt.widget);

        const quint64 fades = index.data(ReceiveListModel::ByteFadeRole).toULongLong();
        const QRect area = style->subElementRect(QStyle::SE_ItemViewItemText, &opt, opt.widget);
        const QFontMetrics metrics(opt.font);
        const int digit = metrics.horizontalAdvance(QLatin1Char('0'));
        const bool selected = opt.state & QStyle::State_Selected;
        QColor pen =
            selected ? opt.palette.color(QPalette::HighlightedText) : opt.palette.color(QPalette::Text);
        if (const QVariant fg = index.data(Qt::ForegroundRole); fg.isValid() && !selected)
            pen = fg.value<QColor>();
        painter->save();
        painter->setFont(opt.font);
        int x = area.left() + 2;
        for (int i = 0; 3 * i + 1 < text.size(); ++i, x += 3 * digit) {
            const int fade = static_cast<int>((fades >> (8 * i)) & 0xFF);
            const QRect cell(x - digit / 4, area.top() + 1, 2 * digit + digit / 2, area.height() - 2);
            if (fade > 0) {
                QColor glow(ChangedByte);
                glow.setAlpha(fade);
                painter->fillRect(cell, glow);
            }
            painter->setPen(fade > 128 && !selected ? QColor(Qt::black) : pen);
            painter->drawText(cell, Qt::AlignCenter, text.mid(3 * i, 2));
        }
        painter->restore();
    }
};

QLabel *Caption(const QString &text, QWidget *buddy) {
    auto *label = new QLabel(text);
    label->setBuddy(buddy);
    return label;
}

}  // namespace

ReceiveListWindow::ReceiveListWindow(ReceiveTable *table, const HealthSource *health,
                                     const QString &settingsPath, QWidget *parent)
    : QWidget(parent, Qt::Window), table_(table), health_(health), settingsPath_(settingsPath) {
    setObjectName(QStringLiteral("ReceiveListWindow"));
    setWindowTitle(QStringLiteral("Receive list"));
    Build();
    RestoreSettings();
    timer_ = new QTimer(this);
    timer_->setInterval(RefreshInterval);
    connect(timer_, &QTimer::timeout, this, &ReceiveListWindow::RefreshNow);
    RefreshNow();
}

ReceiveListWindow::~ReceiveListWindow() { SaveSettings(); }

QString ReceiveListWindow::DefaultSettingsPath() {
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
           QStringLiteral("/Brisklet/receive-list.ini");
}

void ReceiveListWindow::Build() {
    auto named = [](auto *widget, const char *name, const QString &accessible) {
        widget->setObjectName(QLatin1String(name));
        widget->setAccessibleName(accessible);
        return widget;
    };
    editFilterId = named(new QLineEdit, "editFilterId", QStringLiteral("Identifier filter"));
    editFilterId->setToolTip(
        QStringLiteral("Show the identifiers that match this one where the mask has ones [HEX]"));
    editFilterMask = named(new QLineEdit, "editFilterMask", QStringLiteral("Identifier mask"));
    editFilterMask->setToolTip(
        QStringLiteral("The identifier bits that must match; 0 shows every frame [HEX]"));
    for (QLineEdit *edit : {editFilterId, editFilterMask}) {
        edit->setText(QStringLiteral("0"));
        edit->setMaximumWidth(110);
        connect(edit, &QLineEdit::textChanged, this, &ReceiveListWindow::FilterEdited);
    }
    btnPause = named(new QPushButton(QStringLiteral("&Pause")), "btnPause", QStringLiteral("Pause"));
    btnPause->setCheckable(true);
    btnPause->setToolTip(QStringLiteral("Freeze the list; counting goes on underneath"));
    connect(btnPause, &QPushButton::toggled, this, &ReceiveListWindow::SetPaused);
    btnClear = named(new QPushButton(QStringLiteral("C&lear")), "btnClear", QStringLiteral("Clear"));
    btnClear->setToolTip(QStringLiteral("Forget every row and count, and the load peak"));
    connect(btnClear, &QPushButton::clicked, this, &ReceiveListWindow::ClearList);
    btnCopy =
        named(new QPushButton(QStringLiteral("&Copy")), "btnCopy", QStringLiteral("Copy as candump lines"));
    btnCopy->setToolTip(QStringLiteral("Copy the selected rows' last frames as candump log lines (Ctrl+C)"));
    connect(btnCopy, &QPushButton::clicked, this, &ReceiveListWindow::CopySelection);
    btnLoadDbc =
        named(new QPushButton(QStringLiteral("Load &DBC...")), "btnLoadDbc", QStringLiteral("Load DBC"));
    btnLoadDbc->setToolTip(
        QStringLiteral("Name the frames and show their signals from a DBC file; several "
                       "files may be loaded, and the first one loaded wins an identifier"));
    connect(btnLoadDbc, &QPushButton::clicked, this, &ReceiveListWindow::LoadDbcClicked);
    btnPlot = named(new QPushButton(QStringLiteral("Pl&ot")), "btnPlot", QStringLiteral("Plot"));
    btnPlot->setToolTip(QStringLiteral("Open the plot of the ticked signals"));
    connect(btnPlot, &QPushButton::clicked, this, &ReceiveListWindow::ShowPlot);

    model = new ReceiveListModel(this);
    proxy = new ReceiveListProxy(model, this);
    view = named(new QTreeView, "view", QStringLiteral("Receive list"));
    view->setModel(proxy);
    view->setUniformRowHeights(true);
    view->setAllColumnsShowFocus(true);
    view->setIndentation(14);
    view->setItemDelegateForColumn(ReceiveListModel::ColData, new DataBytesDelegate(view));
    view->setSelectionBehavior(QAbstractItemView::SelectRows);
    view->setSelectionMode(QAbstractItemView::ExtendedSelection);
    view->setSortingEnabled(true);
    view->sortByColumn(ReceiveListModel::ColIdentifier, Qt::AscendingOrder);
    view->setWordWrap(false);
    view->header()->setStretchLastSection(true);
    const int widths[] = {120, 150, 100, 56, 200, 72, 80, 96};
    for (int column = 0; column < static_cast<int>(std::size(widths)); ++column)
        view->setColumnWidth(column, widths[column]);
    view->installEventFilter(this);  // Ctrl+C: candump lines, not the view's copy of one cell's text
    connect(view, &QTreeView::expanded, this,
            [this](const QModelIndex &index) { model->SetExpanded(proxy->mapToSource(index), true); });
    connect(view, &QTreeView::collapsed, this,
            [this](const QModelIndex &index) { model->SetExpanded(proxy->mapToSource(index), false); });
    connect(model, &ReceiveListModel::PickRequested, this, &ReceiveListWindow::PickRequested);
    lblDbc = named(new QLabel, "lblDbc", QStringLiteral("DBC files"));
    lblDbc->setWordWrap(true);

    lblLoad = named(new QLabel, "lblLoad", QStringLiteral("Bus load"));
    lblRates = named(new QLabel, "lblRates", QStringLiteral("Frame and error rates"));
    lblDrops = named(new QLabel, "lblDrops", QStringLiteral("Lost by the receive path"));
    lblDrops->setWordWrap(true);  // a narrow window wraps it rather than hiding a count
    lblDrops->setToolTip(QStringLiteral(
        "Since the program started: frames with a wrong checksum, frames lost to a full queue, frames a "
        "consumer (log, mirror) could not keep up with, and bytes skipped as not part of a frame"));

    auto *controls = new QHBoxLayout;
    controls->addWidget(Caption(QStringLiteral("&ID [Hex]"), editFilterId));
    controls->addWidget(editFilterId);
    controls->addWidget(Caption(QStringLiteral("&Mask [Hex]"), editFilterMask));
    controls->addWidget(editFilterMask);
    controls->addStretch();
    for (QPushButton *button : {btnPause, btnClear, btnCopy, btnLoadDbc, btnPlot})
        controls->addWidget(button);
    // Wide enough for the longest figures, so that the line does not shift as they change.
    lblLoad->setMinimumWidth(
        lblLoad->fontMetrics().horizontalAdvance(QStringLiteral("Load 100.0 % (peak 100.0 %)")));
    lblRates->setMinimumWidth(
        lblRates->fontMetrics().horizontalAdvance(QStringLiteral("00000 frames/s, 00000 errors/s")));
    auto *health = new QHBoxLayout;
    health->setSpacing(18);
    health->addWidget(lblLoad);
    health->addWidget(lblRates);
    health->addWidget(lblDrops, 1);
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(controls);
    layout->addWidget(view, 1);
    layout->addWidget(lblDbc);
    layout->addLayout(health);
    resize(DefaultSize);
    ShowDatabases({});
}

void ReceiveListWindow::RestoreSettings() {
    const QSettings settings(settingsPath_, QSettings::IniFormat);
    const QSize size = settings.value(SizeKey).toSize();
    if (size.isValid()) resize(size.boundedTo(QSize(8000, 8000)).expandedTo(QSize(200, 120)));
    QHeaderView *header = view->header();
    if (header->restoreState(settings.value(HeaderKey).toByteArray()))
        view->sortByColumn(header->sortIndicatorSection(), header->sortIndicatorOrder());
}

void ReceiveListWindow::SaveSettings() const {
    QDir().mkpath(QFileInfo(settingsPath_).absolutePath());  // a first run: ~/.config/brisklet may not exist
    QSettings settings(settingsPath_, QSettings::IniFormat);
    settings.setValue(SizeKey, size());
    settings.setValue(HeaderKey, view->header()->saveState());
    settings.sync();
    if (settings.status() != QSettings::NoError)
        qWarning("receive list: cannot write %s", qPrintable(settingsPath_));
}

bool ReceiveListWindow::eventFilter(QObject *watched, QEvent *event) {
    if (watched == view && event->type() == QEvent::KeyPress &&
        static_cast<QKeyEvent *>(event)->matches(QKeySequence::Copy)) {
        CopySelection();
        return true;
    }
    return QWidget::eventFilter(watched, event);
}

void ReceiveListWindow::showEvent(QShowEvent *event) {
    QWidget::showEvent(event);
    RefreshNow();
    timer_->start();
}

void ReceiveListWindow::hideEvent(QHideEvent *event) {
    timer_->stop();
    QWidget::hideEvent(event);
}

void ReceiveListWindow::closeEvent(QCloseEvent *event) {
    SaveSettings();
    if (plot_) plot_->close();  // its signals were picked here
    QWidget::closeEvent(event);
}

void ReceiveListWindow::RefreshNow() {
    const int64_t now = ReceiveTable::NowUs();
    if (Paused()) {
        ShowHealth(table_->Load(now));
        return;
    }
    model->Refresh(*table_, now);
    ShowHealth(model->Snapshot().Load());
}

void ReceiveListWindow::SetPaused(bool paused) {
    if (btnPause->isChecked() != paused) {
        btnPause->setChecked(paused);  // comes back here through toggled
        return;
    }
    setWindowTitle(paused ? QStringLiteral("Receive list (paused)") : QStringLiteral("Receive list"));
    RefreshNow();
}

bool ReceiveListWindow::Paused() const { return btnPause->isChecked(); }

void ReceiveListWindow::ClearList() {
    table_->Clear();
    model->Refresh(*table_, ReceiveTable::NowUs());  // paused or not: the operator asked for an empty list
    ShowHealth(model->Snapshot().Load());
}

void ReceiveListWindow::FilterEdited() {
    proxy->SetFilter(HexToInt(editFilterId->text().toStdString()),
                     HexToInt(editFilterMask->text().toStdString()));
    // A row the filter hid comes back collapsed, without the view saying so: stop decoding it.
    for (int row : model->ExpandedRows()) {
        const QModelIndex index = model->index(row, 0);
        if (!view->isExpanded(proxy->mapFromSource(index))) model->SetExpanded(index, false);
    }
}

void ReceiveListWindow::CopySelection() {
    QModelIndexList rows = view->selectionModel()->selectedRows();
    std::sort(rows.begin(), rows.end(),
              [](const QModelIndex &a, const QModelIndex &b) { return a.row() < b.row(); });
    QString text;
    char line[candump::MaxLineLength];
    for (const QModelIndex &row : rows) {
        if (row.parent().isValid()) continue;  // a signal row
        const std::size_t n = model->CandumpLine(proxy->mapToSource(row).row(), line);
        text += QString::fromLatin1(line, static_cast<qsizetype>(n));
    }
    if (!text.isEmpty()) QGuiApplication::clipboard()->setText(text);
}

void ReceiveListWindow::ShowHealth(const LoadFigures &load) {
    BusHealth health;
    health.load = load;
    if (health_) {
        health.bitRate = health_->CurrentBitRate();
        health.drops = health_->Drops();
    }
    char loadText[32], peakText[32];
    const QString loadShown =
        QString::fromLatin1(loadText, static_cast<qsizetype>(FormatLoad(loadText, health)));
    const QString peakShown =
        QString::fromLatin1(peakText, static_cast<qsizetype>(FormatPeak(peakText, health)));
    if (health.bitRate.IsKnown()) {
        lblLoad->setText(QStringLiteral("Load %1 (peak %2)").arg(loadShown, peakShown));
        lblLoad->setToolTip(
            QStringLiteral("Bus load over the last second at %1 kbit/s, from each frame's exact "
                           "length on the wire; the peak since the list was cleared")
                .arg(health.bitRate.bitsPerSecond / 1000));
    } else {
        lblLoad->setText(QStringLiteral("Load ?"));
        lblLoad->setToolTip(QStringLiteral("The bus load needs the bit rate: %1")
                                .arg(QLatin1String(UnknownLoadReason(health.bitRate))));
    }
    lblLoad->setAccessibleDescription(lblLoad->toolTip());
    lblRates->setText(QStringLiteral("%1 frames/s, %2 errors/s").arg(load.frames).arg(load.errors));
    const ReceiveDrops &d = health.drops;
    lblDrops->setText(
        QStringLiteral("Lost: %1 bad checksum, %2 queue full, %3 by a consumer, %4 bytes skipped")
            .arg(d.badChecksum)
            .arg(d.queueFull)
            .arg(d.consumerDropped)
            .arg(d.bytesSkipped));
}

QString ReceiveListWindow::LoadDbc(const QString &path) {
    const QString problem = QString::fromStdString(databases_.Load(path.toStdString()));
    if (problem.isEmpty()) model->SetDatabases(&databases_);
    ShowDatabases(problem);
    return problem;
}

void ReceiveListWindow::LoadDbcClicked() {
    const QString path = QFileDialog::getOpenFileName(this, QStringLiteral("Load a DBC file"), {},
                                                      QStringLiteral("DBC files (*.dbc);;All files (*)"));
    if (!path.isEmpty()) LoadDbc(path);
}

void ReceiveListWindow::ShowDatabases(const QString &problem) {
    QStringList files, hint;
    std::size_t skipped = 0, lines = 0;
    for (const auto &file : databases_.Files()) {
        const std::size_t messages = file->messages.size();
        QString text = QStringLiteral("%1 (%2 message%3")
                           .arg(QString::fromStdString(dbc::BaseName(file->fileName)))
                           .arg(messages)
                           .arg(messages == 1 ? "" : "s");
        if (!file->skipped.empty()) text += QStringLiteral(", %1 skipped").arg(file->skipped.size());
        files << text + QLatin1Char(')');
        skipped += file->skipped.size();
        for (const dbc::Skipped &s : file->skipped)
            if (lines++ < HintLines) hint << QString::fromStdString(s.text);
    }
    for (const std::string &line : databases_.Shadowed())
        if (lines++ < HintLines) hint << QString::fromStdString(line);
    if (lines > HintLines) hint << QStringLiteral("... and %1 more").arg(lines - HintLines);
    QString text = files.isEmpty() ? QStringLiteral("No DBC file loaded")
                                   : QStringLiteral("DBC: ") + files.join(QStringLiteral(", "));
    if (skipped > 0)
        text += QStringLiteral("; hover for what was skipped");
    else if (!databases_.Shadowed().empty())
        text += QStringLiteral("; hover for identifiers defined twice");
    if (!problem.isEmpty()) {
        text = QStringLiteral("Not loaded: ") + problem;
        hint.prepend(files.isEmpty() ? QStringLiteral("No DBC file loaded")
                                     : QStringLiteral("Still loaded: ") + files.join(QStringLiteral(", ")));
    }
    lblDbc->setText(text);
    lblDbc->setToolTip(hint.join(QLatin1Char('\n')));
    lblDbc->setAccessibleDescription(lblDbc->toolTip());
}

PlotWindow *ReceiveListWindow::Plot() {
    if (!plot_) {
        plot_ = new PlotWindow(&table_->Sampler(), this);
        connect(plot_, &PlotWindow::PicksChanged, this, [this] { model->SetPicked(plot_->Picked()); });
    }
    return plot_;
}

void ReceiveListWindow::ShowPlot() {
    Plot()->show();
    plot_->raise();
}

void ReceiveListWindow::PickRequested(const QModelIndex &signalRow, bool picked) {
    const dbc::Signal *signal = model->SignalOf(signalRow);
    const dbc::Message *message = model->MessageOf(signalRow);
    if (!signal || !message) return;
    if (!picked) {
        Plot()->RemoveSignal(signal);
    } else {
        Plot()->AddSignal({databases_.Files()[model->FileOf(signalRow)], message, signal});
        if (!plot_->isVisible()) ShowPlot();  // it says so when it has all the signals it can take
    }
    model->SetPicked(plot_->Picked());
}
