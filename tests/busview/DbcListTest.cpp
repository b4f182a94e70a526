// The receive list with DBC files, through Qt's offscreen platform: message names, a row expanded with a
// click into its signals (hand-worked Motorola and Intel values, a value table's text, an out-of-range
// mark, a multiplexed message showing only what its multiplexer selects), files that fail or overlap, and
// a ticked signal in the plot (points across the adapter's midnight, a PNG export). Pictures of both
// windows are saved as artifacts.
#include <gtest/gtest.h>

#include <QAccessible>
#include <QFile>
#include <QLabel>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeView>
#include <cmath>
#include <memory>
#include <vector>

#include "BusEvents.h"
#include "CountingNew.h"
#include "PlotWindow.h"
#include "ReceiveListWindow.h"

using namespace busview;

namespace {

// RPM: Motorola, bytes 0..1 big-endian, x0.25. TEMP: Intel, byte 2's high and byte 3's low half, signed,
// -40. GEAR: byte 4's low half. VOLTS and AMPS: Intel, bytes 1..2, picked by PAGE. BAD starts past the frame:
// skipped.
const char *const Engine = R"(VERSION ""
BU_: ECU DASH
BO_ 514 ENGINE_DATA: 8 ECU
 SG_ RPM : 7|16@0+ (0.25,0) [0|8000] "rpm" DASH
 SG_ TEMP : 20|8@1- (1,-40) [-40|120] "degC" DASH
 SG_ GEAR : 32|4@1+ (1,0) [0|6] "" DASH
 SG_ BAD : 80|8@1+ (1,0) [0|1] "" DASH
BO_ 768 MUXED: 8 ECU
 SG_ PAGE M : 0|8@1+ (1,0) [0|3] "" DASH
 SG_ VOLTS m0 : 8|16@1+ (0.01,0) [0|20] "V" DASH
 SG_ AMPS m1 : 8|16@1- (0.1,0) [-100|100] "A" DASH
 SG_ COUNTER : 56|8@1+ (1,0) [0|255] "" DASH
VAL_ 514 GEAR 0 "Park" 3 "Drive" ;
)";

class DbcList : public ::testing::Test {
protected:
    void SetUp() override {
        w = std::make_unique<ReceiveListWindow>(&table, nullptr, dir.path() + "/receive-list.ini");
        w->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(w.get()));
    }
    QString File(const char *name, const char *text) {
        QFile file(dir.path() + "/" + name);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(text);
        return file.fileName();
    }
    QModelIndex Row(const char *id) const {
        for (int row = 0; row < w->proxy->rowCount(); ++row)
            if (w->proxy->index(row, 0).data().toString() == id) return w->proxy->index(row, 0);
        return {};
    }
    // The signal rows below a frame row: name, value, label, each cell's description; expanded by a click
    // on its arrow.
    std::vector<QStringList> Signals(const char *id) {
        const QModelIndex row = Row(id);
        if (!w->view->isExpanded(row))
            QTest::mouseClick(w->view->viewport(), Qt::LeftButton, {},
                              QPoint(w->view->indentation() / 2, w->view->visualRect(row).center().y()));
        std::vector<QStringList> rows;
        for (int k = 0; k < w->proxy->rowCount(row); ++k) {
            QStringList cells;
            for (int column :
                 {ReceiveListModel::ColIdentifier, ReceiveListModel::ColMessage, ReceiveListModel::ColForm})
                cells << w->proxy->index(k, column, row).data().toString();
            cells << w->proxy->index(k, ReceiveListModel::ColMessage, row)
                         .data(Qt::AccessibleDescriptionRole)
                         .toString();
            rows.push_back(cells);
        }
        return rows;
    }
    void Feed(std::initializer_list<BusEvent> frames) {
        table.Add(std::vector<BusEvent>(frames));
        w->RefreshNow();
    }

    QTemporaryDir dir;
    ReceiveTable table;
    const int64_t t0 = ReceiveTable::NowUs();  // the list's clock: rows fresh, not greyed
    std::unique_ptr<ReceiveListWindow> w;
};

TEST_F(DbcList, ExpandedRowsShowTheirSignalsAndATickedOnePlots) {
    ASSERT_EQ(w->LoadDbc(File("engine.dbc", Engine)), "");
    EXPECT_TRUE(w->lblDbc->text().startsWith("DBC: engine.dbc (2 messages, 1 skipped)"));
    EXPECT_TRUE(w->lblDbc->toolTip().contains("engine.dbc:7: signal BAD of message ENGINE_DATA"));
    Feed({FrameEvent(0x202, {0x1F, 0x40, 0xA0, 0x0D, 0x03, 0, 0, 0}, 1000, t0),
          FrameEvent(0x300, {0x00, 0xD2, 0x04, 0, 0, 0, 0, 0x07}, 1000, t0),
          FrameEvent(0x123, {1}, 1000, t0)});
    EXPECT_EQ(Row("00000202").siblingAtColumn(ReceiveListModel::ColMessage).data().toString(), "ENGINE_DATA");
    EXPECT_EQ(Row("00000123").siblingAtColumn(ReceiveListModel::ColMessage).data().toString(), "");

    // RPM 0x1F40 x 0.25; TEMP 0xDA (-38) - 40 below -40; GEAR 3 "Drive"; VOLTS 0x04D2 x 0.01; then page 1:
    // AMPS 0xFF9C (-100) x 0.1 instead of VOLTS.
    const auto outOfRange = [](const char *signal) { return QString("%1, value, out of range").arg(signal); };
    EXPECT_EQ(Signals("00000202"),
              (std::vector<QStringList>{{"RPM", "2000 rpm", "", "ENGINE_DATA.RPM, value"},
                                        {"TEMP", "-78 degC", "", "ENGINE_DATA." + outOfRange("TEMP")},
                                        {"GEAR", "3", "Drive", "ENGINE_DATA.GEAR, value"}}));
    EXPECT_EQ(Signals("00000300"), (std::vector<QStringList>{{"PAGE", "0", "", "MUXED.PAGE, value"},
                                                             {"VOLTS", "12.34 V", "", "MUXED.VOLTS, value"},
                                                             {"COUNTER", "7", "", "MUXED.COUNTER, value"}}));
    Feed({FrameEvent(0x300, {0x01, 0x9C, 0xFF, 0, 0, 0, 0, 0x08}, 1100, t0 + 100'000)});
    EXPECT_EQ(Signals("00000300"), (std::vector<QStringList>{{"PAGE", "1", "", "MUXED.PAGE, value"},
                                                             {"AMPS", "-10 A", "", "MUXED.AMPS, value"},
                                                             {"COUNTER", "8", "", "MUXED.COUNTER, value"}}));
    EXPECT_TRUE(w->grab().save(QStringLiteral(BRISKLET_ARTIFACTS "/receive-list-dbc.png")));

    // Ticking RPM and TEMP (Space on their rows) opens the plot; 12 s of frames every 10 ms from 23:59:55.
    for (int k : {0, 1}) {
        w->view->setCurrentIndex(w->proxy->index(k, 0, Row("00000202")));
        QTest::keyClick(w->view, Qt::Key_Space);
    }
    ASSERT_TRUE(w->Plot()->isVisible());
    EXPECT_EQ(w->proxy->index(0, 0, Row("00000202")).data(Qt::CheckStateRole), Qt::Checked);
    std::vector<BusEvent> bus;
    for (int i = 0; i < 1200; ++i) {
        const int rpm = static_cast<int>(12000 + 8000 * std::sin(i / 90.0)), temp = 60 + i / 20;
        bus.push_back(FrameEvent(
            0x202, {uint8_t(rpm >> 8), uint8_t(rpm), uint8_t(temp << 4), uint8_t(temp >> 4), 3, 0, 0, 0},
            (BusEvent::MsPerDay - 5000 + 10 * i) % BusEvent::MsPerDay, t0 + 10'000 * i));
    }
    counting = true;  // the receive side decodes the ticked signals without allocating
    table.Add(bus);
    counting = false;
    EXPECT_EQ(allocations.exchange(0), 0);
    w->Plot()->RefreshNow();
    const dbc::Signal *rpm =
        w->model->SignalOf(w->proxy->mapToSource(w->proxy->index(0, 0, Row("00000202"))));
    const QList<QPointF> points = w->Plot()->PointsOf(rpm);
    ASSERT_FALSE(points.isEmpty());
    EXPECT_DOUBLE_EQ(points.last().x(), 11.99) << "seconds since the first sample, across midnight";
    EXPECT_DOUBLE_EQ(points.last().y(), std::floor(12000 + 8000 * std::sin(1199 / 90.0)) * 0.25);
    const QString png = dir.path() + "/plot.png";
    ASSERT_TRUE(w->Plot()->ExportPng(png));
    QFile exported(png);
    ASSERT_TRUE(exported.open(QIODevice::ReadOnly));
    EXPECT_EQ(exported.read(8), QByteArray("\x89PNG\r\n\x1a\n", 8));
    QCoreApplication::processEvents();  // the legend is laid out
    EXPECT_TRUE(w->Plot()->grab().save(QStringLiteral(BRISKLET_ARTIFACTS "/plot.png")));
    QTest::mouseClick(w->Plot()->btnPause, Qt::LeftButton);  // frozen while frames go on
    table.Add(bus);
    w->Plot()->RefreshNow();
    EXPECT_EQ(w->Plot()->PointsOf(rpm), points);

    w->Plot()->close();  // forgets its signals: the boxes clear
    EXPECT_EQ(w->proxy->index(0, 0, Row("00000202")).data(Qt::CheckStateRole), Qt::Unchecked);
}

TEST_F(DbcList, AFileThatFailsLeavesTheListAsItWasAndTheFirstFileWinsAnIdentifier) {
    const QString engine = File("engine.dbc", Engine);
    const struct {
        QString path;
        const char *error, *status;
    } loads[] = {
        {File("broken.dbc", "VERSION \"\"\nBO_ 514 X 8 ECU\n"), "broken.dbc:2: expected ':'", "Not loaded: "},
        {engine, "", "DBC: engine.dbc (2 messages, 1 skipped)"},
        {File("other.dbc", "BO_ 514 OTHER: 8 ECU\n SG_ A : 0|8@1+ (1,0) [0|0] \"\" ECU\n"), "",
         "DBC: engine.dbc (2 messages, 1 skipped), other.dbc (1 message)"},
        {engine, "engine.dbc: loaded already", "Not loaded: "},
        {dir.path(), "is a folder", "Not loaded: "},
    };
    for (const auto &load : loads) {
        const QString error = w->LoadDbc(load.path);
        EXPECT_TRUE(load.error[0] ? error.contains(load.error) : error.isEmpty()) << error.toStdString();
        EXPECT_TRUE(w->lblDbc->text().startsWith(load.status)) << w->lblDbc->text().toStdString();
    }
    EXPECT_TRUE(w->lblDbc->toolTip().contains("other.dbc:1: 0x202 OTHER is defined in engine.dbc already"));
    Feed({FrameEvent(0x202, {0x1F, 0x40}, 1000, t0)});
    EXPECT_EQ(Row("00000202").siblingAtColumn(ReceiveListModel::ColMessage).data().toString(), "ENGINE_DATA");
    EXPECT_EQ(Signals("00000202").size(), 1u) << "a frame of 2 bytes carries RPM only";
}

}  // namespace
