// The receive list window on Qt's offscreen platform, driven with real clicks and keys: sort by a header,
// filter by identifier and mask, copy rows as candump lines, pause, clear; its accessible names, its health
// line, and its size and column widths kept across a reopen. The picture is saved as an artifact.
#include <gtest/gtest.h>

#include <QAccessible>
#include <QClipboard>
#include <QGuiApplication>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QTreeView>
#include <QTemporaryDir>
#include <QTest>
#include <memory>
#include <vector>

#include "BusEvents.h"
#include "ReceiveListWindow.h"

using namespace busview;

namespace {

// A bus as the emulator's traffic looks: counters that tick, a sensor that wanders, a quiet identifier,
// 29-bit and remote frames, a few bus errors.
void FeedBus(ReceiveTable &table, int64_t now) {
    const struct {
        uint32_t id;
        bool extended, remote;
        int periodMs, frames, jitterMs;
        int64_t lastSeenAgoUs;
    } ids[] = {
        {0x0C1, false, false, 10, 120, 0, 0},          {0x120, false, false, 20, 60, 1, 10'000},
        {0x123, false, false, 100, 12, 2, 40'000},     {0x2B6, false, false, 50, 24, 0, 450'000},
        {0x3E8, false, false, 200, 6, 3, 150'000},     {0x7FF, false, true, 1000, 3, 0, 600'000},
        {0x555, false, false, 100, 4, 0, 5'000'000},   {0x123, true, false, 500, 3, 1, 200'000},
        {0x18FEF100, true, false, 100, 12, 0, 80'000},
    };
    std::vector<BusEvent> bus;
    for (const auto &s : ids)
        for (int k = 0; k < s.frames; ++k) {
            const uint8_t tick = static_cast<uint8_t>(k), slow = static_cast<uint8_t>(0x40 + k / 4);
            const int64_t at = now - s.lastSeenAgoUs - int64_t{s.frames - 1 - k} * s.periodMs * 1000;
            const int32_t ms = 36'000'000 + k * s.periodMs + (k % 2 ? s.jitterMs : 0);
            bus.push_back(FrameEvent(s.id,
                                     {tick, 0x22, slow, 0x44, 0x55, 0x66, 0x77, static_cast<uint8_t>(s.id)},
                                     ms, at, s.extended, s.remote, 8));
        }
    for (uint8_t flags : {0x08, 0x08, 0x01}) bus.push_back(ErrorEvent(flags, now - 300'000));
    table.Add(bus);
}

class ListWindow : public ::testing::Test {
protected:
    void Open() {
        w = std::make_unique<ReceiveListWindow>(&table, &health, dir.path() + "/receive-list.ini");
        w->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(w.get()));
    }
    QStringList Column(int column) const {
        QStringList texts;
        for (int row = 0; row < w->proxy->rowCount(); ++row)
            texts << w->proxy->index(row, column).data().toString();
        return texts;
    }
    void ClickHeader(int column) {
        QHeaderView *header = w->view->header();
        QTest::mouseClick(header->viewport(), Qt::LeftButton, {},
                          QPoint(header->sectionViewportPosition(column) + 8, header->height() / 2));
    }
    void ClickRow(int row, Qt::KeyboardModifiers modifiers = {}) {
        QTest::mouseClick(w->view->viewport(), Qt::LeftButton, modifiers,
                          w->view->visualRect(w->proxy->index(row, ReceiveListModel::ColForm)).center());
    }
    static void Type(QLineEdit *edit, const QString &text) {
        edit->selectAll();
        QTest::keyClicks(edit, text);
    }

    QTemporaryDir dir;
    ReceiveTable table;
    FixedHealth health;
    std::unique_ptr<ReceiveListWindow> w;
};

TEST_F(ListWindow, SortFilterCopyPauseAndClearByHand) {
    FeedBus(table, ReceiveTable::NowUs());
    Open();
    EXPECT_EQ(Column(ReceiveListModel::ColIdentifier),
              QStringList({"000000C1", "00000120", "00000123", "00000123", "000002B6", "000003E8", "00000555",
                           "000007FF", "18FEF100", "stuff error", "ack error"}));
    EXPECT_EQ(Column(ReceiveListModel::ColJitter).mid(2, 2), QStringList({"98 / 102", "499 / 501"}));
    EXPECT_EQ(w->lblLoad->text(), "Load ?");
    EXPECT_EQ(w->lblLoad->toolTip(),
              "The bus load needs the bit rate: no Initialize since the adapter was plugged in");
    EXPECT_EQ(w->lblDrops->text(), "Lost: 0 bad checksum, 0 queue full, 0 by a consumer, 0 bytes skipped");
    health.rate = {BitRateState::Known, 500'000};
    w->RefreshNow();
    EXPECT_TRUE(
        w->lblLoad->text().contains(QRegularExpression("^Load \\d+\\.\\d % \\(peak \\d+\\.\\d %\\)$")));
    EXPECT_TRUE(w->grab().save(QStringLiteral(BRISKLET_ARTIFACTS "/receive-list.png")));

    // Sorting: a header click sorts by that column ascending, a second click turns it round; the error rows
    // stay below the frames either way.
    const struct {
        int column;
        Qt::SortOrder order;
        const char *first, *lastFrame;
    } sorts[] = {
        {ReceiveListModel::ColCycle, Qt::AscendingOrder, "000000C1", "000007FF"},
        {ReceiveListModel::ColCycle, Qt::DescendingOrder, "000007FF", "000000C1"},
        {ReceiveListModel::ColSince, Qt::AscendingOrder, "000000C1", "00000555"},
        {ReceiveListModel::ColIdentifier, Qt::AscendingOrder, "000000C1", "18FEF100"},
    };
    for (const auto &sort : sorts) {
        ClickHeader(sort.column);
        EXPECT_EQ(w->view->header()->sortIndicatorOrder(), sort.order);
        const QStringList ids = Column(ReceiveListModel::ColIdentifier);
        EXPECT_EQ(ids.first(), sort.first) << sort.column;
        EXPECT_EQ(ids.at(ids.size() - 3), sort.lastFrame) << sort.column;
        EXPECT_EQ(ids.last(), "ack error");
    }

    // The display filter reads the boxes as the main window reads its Tag and Mask.
    const struct {
        const char *id, *mask;
        QStringList shown;
    } filters[] = {
        {"123", "7FF", {"00000123", "00000123", "stuff error", "ack error"}},
        {"0x18fef1zz", "1FFFFF00", {"18FEF100", "stuff error", "ack error"}},
        {"0", "0", Column(ReceiveListModel::ColIdentifier)},
    };
    for (const auto &filter : filters) {
        Type(w->editFilterId, filter.id);
        Type(w->editFilterMask, filter.mask);
        EXPECT_EQ(Column(ReceiveListModel::ColIdentifier), filter.shown) << filter.id << " " << filter.mask;
    }

    // Copy: rows 0x120 and 0x2B6 picked with the mouse, by the button and by Ctrl+C.
    ClickRow(1);
    ClickRow(4, Qt::ControlModifier);
    w->RefreshNow();  // the selection outlives a refresh
    const QRegularExpression lines(
        "^\\(\\d{10}\\.\\d{6}\\) brisklet0 120#3B224E4455667720\n\\(\\d{10}\\.\\d{6}\\) brisklet0 "
        "2B6#17224544556677B6\n$");
    for (bool byKey : {false, true}) {
        QGuiApplication::clipboard()->clear();
        byKey ? QTest::keyClick(w->view, Qt::Key_C, Qt::ControlModifier)
              : QTest::mouseClick(w->btnCopy, Qt::LeftButton);
        EXPECT_TRUE(lines.match(QGuiApplication::clipboard()->text()).hasMatch()) << byKey;
    }

    // Pause freezes the rows while the table counts on; going on shows the frames it counted meanwhile.
    QTest::mouseClick(w->btnPause, Qt::LeftButton);
    ASSERT_TRUE(w->Paused());
    const QStringList before = Column(ReceiveListModel::ColCount);
    FeedBus(table, ReceiveTable::NowUs());
    w->RefreshNow();
    EXPECT_EQ(Column(ReceiveListModel::ColCount), before);
    QTest::mouseClick(w->btnPause, Qt::LeftButton);
    EXPECT_EQ(Column(ReceiveListModel::ColCount).first().toInt(), 2 * before.first().toInt());

    QTest::mouseClick(w->btnClear, Qt::LeftButton);
    EXPECT_EQ(w->proxy->rowCount(), 0);
}

TEST_F(ListWindow, NamesForScreenReadersAndSizesKeptAcrossAReopen) {
    FeedBus(table, ReceiveTable::NowUs());
    Open();
    QAccessibleInterface *list = QAccessible::queryAccessibleInterface(w->view);
    ASSERT_TRUE(list && list->tableInterface());
    const struct {
        int row, column;
        const char *name, *description;
    } cells[] = {
        {0, ReceiveListModel::ColIdentifier, "000000C1", "000000C1 11-bit, Identifier"},
        {7, ReceiveListModel::ColData, "none", "000007FF 11-bit remote, Data"},
        {9, ReceiveListModel::ColCount, "2", "stuff error, Count"},
    };
    for (const auto &cell : cells) {
        QAccessibleInterface *found = list->tableInterface()->cellAt(cell.row, cell.column);
        ASSERT_NE(found, nullptr);
        EXPECT_EQ(found->text(QAccessible::Name), cell.name);
        EXPECT_EQ(found->text(QAccessible::Description), cell.description);
    }
    for (QWidget *control :
         std::initializer_list<QWidget *>{w->editFilterId, w->editFilterMask, w->btnPause, w->btnClear,
                                          w->btnCopy, w->lblLoad, w->lblDrops})
        EXPECT_FALSE(control->accessibleName().isEmpty()) << control->objectName().toStdString();

    w->resize(900, 520);
    w->view->setColumnWidth(ReceiveListModel::ColData, 260);
    ClickHeader(ReceiveListModel::ColCount);
    w->close();
    w.reset();
    Open();
    EXPECT_EQ(w->size(), QSize(900, 520));
    EXPECT_EQ(w->view->columnWidth(ReceiveListModel::ColData), 260);
    EXPECT_EQ(w->view->header()->sortIndicatorSection(), ReceiveListModel::ColCount);
}

}  // namespace
