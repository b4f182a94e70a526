// The main window's controls: where they sit, what they say, and how the few that have behaviour of their own
// (upper-case edit boxes, radio pairs, shortcuts) behave.
#include <gtest/gtest.h>

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QFontInfo>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QRadioButton>
#include <QSignalSpy>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <algorithm>
#include <memory>

#include "Main.h"
#include "WindowOnEmulator.h"

namespace {

class LayoutTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir_.isValid());
        StartOnEmulator();
        WindowOptions options;
        options.SettingsDir = dir_.path() + "/";
        window_ = std::make_unique<TfrmMain>(options);
    }
    void TearDown() override {
        window_.reset();
        EndOnEmulator();
    }

    void ShowActive() {
        window_->show();
        window_->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(window_.get()));
    }

    QTemporaryDir dir_;
    std::unique_ptr<TfrmMain> window_;
};

using Member = QWidget *(*)(TfrmMain &);

// Every control with its container, caption and hint. Where each one sits is the window's business; the
// tests below hold the rules a place must keep (inside its container, no unintended overlap, room for
// its text, headings above their values).
struct Place {
    const char *name;
    Member member;
    const char *parent;
    const char *caption;  // nullptr: none to check
    const char *hint;     // nullptr: none to check
};

// clang-format off
#define AT(m, parent, caption, hint) \
    Place { #m, [](TfrmMain &f) -> QWidget * { return f.m; }, parent, caption, hint }
// clang-format on

const char *const DataHeading = "Data [ 0,  1,  2,  3,  4,  5,  6,  7 ]";

const Place Places[] = {
    AT(Panel8, "ClientArea", nullptr, nullptr),
    AT(Panel1, "ClientArea", nullptr, nullptr),
    AT(StatusBar1, "ClientArea", nullptr, nullptr),
    AT(Panel2, "Panel1", nullptr, nullptr),
    AT(ReceiveBox, "Panel2", "Receive CAN Data FRAME", nullptr),
    AT(TransmitBox, "Panel2", "Transmit CAN data FRAME", nullptr),
    AT(GroupBox2, "Panel2", "Control Panel", nullptr),
    AT(GroupBox8, "Panel1", "CAN speed", nullptr),
    AT(Panel13, "Panel1", nullptr, "ID setting panel"),
    AT(Panel14, "Panel1", nullptr, nullptr),
    AT(Label290, "Panel14", "CAN setting", nullptr),
    AT(Panel5, "Panel1", nullptr, "ID setting panel"),
    AT(Panel7, "Panel1", nullptr, nullptr),
    AT(Label12, "Panel7", "ID setting", nullptr),
    AT(CanMessPanel, "Panel1", nullptr, "Info panel"),
    AT(Panel10, "Panel1", nullptr, nullptr),
    AT(Label13, "Panel10", "CAN message", nullptr),
    // Received frame
    AT(Label5, "ReceiveBox", "Arrival Time", ""),
    AT(Label9, "ReceiveBox", "ID[Hex]", ""),
    AT(Label10, "ReceiveBox", DataHeading, ""),
    AT(lblTime, "ReceiveBox", "--- : --- : --- . ---", ""),
    AT(lblID, "ReceiveBox", "-- -- -- --", ""),
    AT(lblData, "ReceiveBox", "--  --  --  --  --  --  --  --", ""),
    // Transmit
    AT(Label19, "TransmitBox", "Rem.", "Remote Frame"),
    AT(Label18, "TransmitBox", "Per.", "Periodic Frame"),
    AT(Label17, "TransmitBox", "Time[ms]", ""),
    AT(Label11, "TransmitBox", "ID[Hex]", ""),
    AT(Label6, "TransmitBox", DataHeading, ""),
    AT(RTRBox, "TransmitBox", "", "Remote Frame"),
    AT(PeriodBox, "TransmitBox", "", "Periodic Frame"),
    AT(editTime, "TransmitBox", nullptr, "Example: 200"),
    AT(editID, "TransmitBox", nullptr, "Example: 2B6"),
    AT(editData, "TransmitBox", nullptr, "Example: FF 7B 4A E8 AD"),
    AT(ShowFrame, "TransmitBox", "Show transmit Frame", "Receive transmit Frame"),
    AT(btnTransmit0, "TransmitBox", "", "Transmit Frame"),
    AT(btnStop0, "TransmitBox", "", "Abort Transmit Frame"),
    // Control panel
    AT(btnInit, "GroupBox2", "", "Initialize adaptor"),
    AT(btnPause, "GroupBox2", "", "Pause"),
    AT(btnStop, "GroupBox2", "", "Abort initialize adaptor"),
    AT(btnClear, "GroupBox2", "", "Clear list"),
    // Speed, bit rate, listening
    AT(HighSpeed, "GroupBox8", "High", "High speed CAN driver"),
    AT(LowSpeed, "GroupBox8", "Low", "Low speed CAN driver"),
    AT(lblBitRate, "Panel13", "Bit Rate", ""),
    AT(ComboSpeed, "Panel13", nullptr, "Bit Rate selection"),
    AT(lblKbps, "Panel13", "[kbps]", ""),
    AT(ListeningCheckBox, "Panel13", "Listening Mode",
       "Only listening without acknowledging the received messages"),
    // Acceptance filter
    AT(Label7, "Panel5", "Tag [Hex]", ""),
    AT(editTag, "Panel5", nullptr, "ID TAG selection [HEX]"),
    AT(Label2, "Panel5", "Mask [Hex]", ""),
    AT(editMask, "Panel5", nullptr, "ID MASK selection [HEX]"),
    AT(Label8, "Panel5", "Type", ""),
    AT(rb2_0A, "Panel5", "2.0A (11b)", "CAN standard 2.0A (11bits)"),
    AT(rb2_0B, "Panel5", "2.0B (29b)", "CAN standard 2.0B (29bits)"),
    // Counters (lblMessError's hint belongs to the error display and may already hold the breakdown)
    AT(Label15, "CanMessPanel", "Error:", ""),
    AT(lblMessError, "CanMessPanel", "0", nullptr),
    AT(Label1, "CanMessPanel", "Count:", ""),
    AT(lblMessCount, "CanMessPanel", "0", "Messages count"),
    // Top strip
    AT(SpeedHelp, "Panel8", "", "Help"),
    AT(Oddelovac4, "Panel8", nullptr, ""),
};

QString Caption(const QWidget *w) {
    if (auto *label = qobject_cast<const QLabel *>(w)) return label->text();
    if (auto *button = qobject_cast<const QAbstractButton *>(w)) return button->text();
    if (auto *box = qobject_cast<const QGroupBox *>(w)) return box->title();
    return {};
}

bool Covers(const QWidget *expected, const QWidget *hit) {
    return hit && (hit == expected || expected->isAncestorOf(hit));
}

}  // namespace

TEST_F(LayoutTest, EveryControlSitsInItsContainerWithItsCaptionAndHint) {
    for (const Place &p : Places) {
        SCOPED_TRACE(p.name);
        QWidget *w = p.member(*window_);
        ASSERT_NE(w, nullptr);
        EXPECT_EQ(w->objectName(), p.name);
        ASSERT_NE(w->parentWidget(), nullptr);
        EXPECT_EQ(w->parentWidget()->objectName(), p.parent);
        if (p.caption) {
            EXPECT_EQ(Caption(w), p.caption);
        }
        if (p.hint) {
            EXPECT_EQ(w->toolTip(), p.hint);
        }
    }
}

TEST_F(LayoutTest, CaptionsFitTheirPlacesAndControlsStayInsideTheirContainers) {
    for (const Place &p : Places) {
        SCOPED_TRACE(p.name);
        QWidget *w = p.member(*window_);
        if (w == window_->StatusBar1) continue;
        EXPECT_TRUE(w->parentWidget()->rect().contains(w->geometry()));
        if (!Caption(w).isEmpty()) {
            EXPECT_LE(w->sizeHint().width(), w->width());
        }
    }
    // Fixed-width labels must also hold the longest text shown in them later.
    const struct {
        QLabel *label;
        const char *longest;
    } later[] = {
        {window_->lblTime, "23:59:59.999"},
        {window_->lblID, "1FFFFFFF"},
        {window_->lblData, "FF  FF  FF  FF  FF  FF  FF  FF  "},
        {window_->lblMessCount, "4294967295"},
        {window_->lblMessError, "4294967295"},
    };
    for (const auto &l : later) {
        SCOPED_TRACE(l.label->objectName().toStdString());
        EXPECT_LE(l.label->fontMetrics().horizontalAdvance(QString::fromLatin1(l.longest)), l.label->width());
    }
}

TEST_F(LayoutTest, OnlyTheRightColumnPanelsAndTheirTitlesOverlap) {
    auto intended = [](const QString &a, const QString &b) {
        static const QStringList titles{"Panel14", "Panel7", "Panel10"};
        if (titles.contains(a) || titles.contains(b)) return true;
        const QStringList pair{a, b};
        return (pair.contains("GroupBox8") && pair.contains("Panel13")) ||
               (pair.contains("Panel5") && pair.contains("CanMessPanel"));
    };
    TfrmMain &f = *window_;
    for (QWidget *container :
         std::initializer_list<QWidget *>{f.Panel8, f.Panel1, f.Panel2, f.ReceiveBox, f.TransmitBox,
                                          f.GroupBox2, f.GroupBox8, f.Panel13, f.Panel5, f.CanMessPanel}) {
        const auto kids = container->findChildren<QWidget *>(Qt::FindDirectChildrenOnly);
        for (qsizetype i = 0; i < kids.size(); ++i)
            for (qsizetype j = i + 1; j < kids.size(); ++j) {
                const QString a = kids[i]->objectName(), b = kids[j]->objectName();
                if (intended(a, b)) continue;
                EXPECT_FALSE(kids[i]->geometry().intersects(kids[j]->geometry()))
                    << a.toStdString() << " overlaps " << b.toStdString();
            }
    }
}

// A heading stands above the value or box it names, in the same column where the value is a label; the
// counters' captions stand on the row of their numbers.
TEST_F(LayoutTest, HeadingsStandAboveWhatTheyName) {
    TfrmMain &f = *window_;
    const struct {
        QWidget *heading, *value;
        bool sameColumn;
    } above[] = {
        {f.Label5, f.lblTime, false},   {f.Label9, f.lblID, true},       {f.Label10, f.lblData, true},
        {f.Label17, f.editTime, false}, {f.Label11, f.editID, false},    {f.Label6, f.editData, true},
        {f.Label7, f.editTag, true},    {f.Label2, f.editMask, true},    {f.lblBitRate, f.ComboSpeed, true},
        {f.Label19, f.RTRBox, false},   {f.Label18, f.PeriodBox, false}, {f.Label8, f.rb2_0A, true},
    };
    for (const auto &a : above) {
        SCOPED_TRACE(a.heading->objectName().toStdString());
        EXPECT_LE(a.heading->geometry().bottom(), a.value->y());
        // The heading's text lies over the value, not beside it.
        const int from = std::max(a.heading->x(), a.value->x());
        const int to = std::min(a.heading->x() + a.heading->sizeHint().width(), a.value->geometry().right());
        EXPECT_LT(from, to);
        if (a.sameColumn) {
            EXPECT_EQ(a.heading->x(), a.value->x());
        }
    }
    EXPECT_EQ(f.Label15->y(), f.lblMessError->y());
    EXPECT_EQ(f.Label1->y(), f.lblMessCount->y());
    EXPECT_LT(f.lblMessError->y(), f.lblMessCount->y());
    EXPECT_LT(f.rb2_0A->y(), f.rb2_0B->y());
}

TEST_F(LayoutTest, LaterPanelsAndTitleStripsLieOnTopOfWhatTheyOverlap) {
    TfrmMain &f = *window_;
    const struct {
        QPoint at;  // in Panel1
        QWidget *top;
    } points[] = {
        {{560, 70}, f.Panel13},        // lower part of the "CAN speed" box
        {{470, 48}, f.Panel14},        // title over the box and Panel13
        {{560, 300}, f.CanMessPanel},  // lower part of Panel5
        {{470, 140}, f.Panel7},       {{470, 290}, f.Panel10},
    };
    for (const auto &p : points) {
        SCOPED_TRACE(p.top->objectName().toStdString());
        EXPECT_TRUE(Covers(p.top, f.Panel1->childAt(p.at)));
        EXPECT_TRUE(p.top->autoFillBackground());
    }
}

TEST_F(LayoutTest, FrameLabelsAlignWithTheirHeadings) {
    const struct {
        QLabel *label;
        Qt::Alignment horizontal;
    } rows[] = {
        {window_->lblTime, Qt::AlignHCenter},
        {window_->lblID, Qt::AlignHCenter},
        {window_->lblData, Qt::AlignLeft},
    };
    for (const auto &r : rows) {
        SCOPED_TRACE(r.label->objectName().toStdString());
        EXPECT_EQ(r.label->alignment() & Qt::AlignHorizontal_Mask, r.horizontal);
    }
}

// Hints set while running (the status line's, the error breakdown) stay up as long as the fixed ones.
TEST_F(LayoutTest, OpensAtItsPlaceAndHintsStayUpFiveSeconds) {
    ShowActive();
    EXPECT_EQ(window_->pos(), QPoint(190, 112));
    window_->ErrorMessages("(1) FT_Write - Device Not Found...");
    window_->CanErrorShow();
    int hints = 0;
    for (QWidget *w : window_->findChildren<QWidget *>()) {
        if (w->toolTip().isEmpty()) continue;
        ++hints;
        EXPECT_EQ(w->toolTipDuration(), 5000) << w->objectName().toStdString();
    }
    EXPECT_GE(hints, 25);
}

TEST_F(LayoutTest, WindowIsAFixedClientAreaBelowTheMenuBar) {
    ShowActive();
    TfrmMain &f = *window_;
    EXPECT_EQ(f.centralWidget()->size(), QSize(583, 412));
    EXPECT_EQ(f.centralWidget()->y(), f.menuBar()->geometry().bottom() + 1);
    EXPECT_EQ(f.size(), QSize(583, f.menuBar()->height() + 412));
    EXPECT_EQ(f.minimumSize(), f.maximumSize());
}

TEST_F(LayoutTest, EveryControlUsesTheBoldElevenPixelFont) {
    auto widgets = window_->findChildren<QWidget *>();
    widgets << window_->File1;
    for (QWidget *w : widgets) {
        SCOPED_TRACE(w->objectName().toStdString());
        const QFontInfo info(w->font());
        EXPECT_TRUE(info.bold());
        EXPECT_EQ(info.pixelSize(), 11);
        EXPECT_TRUE(info.family() == "Liberation Sans" || info.family() == "Arial")
            << info.family().toStdString();
    }
}

TEST_F(LayoutTest, MenuHoldsExitUnderFileAndAnEmptyHelp) {
    TfrmMain &f = *window_;
    const auto menus = f.menuBar()->actions();
    ASSERT_EQ(menus.size(), 2);
    EXPECT_EQ(menus[0]->menu(), f.File1);
    EXPECT_EQ(menus[1]->menu(), f.Help1);
    EXPECT_EQ(f.File1->title(), "File");
    EXPECT_EQ(f.Help1->title(), "Help");
    EXPECT_EQ(f.File1->actions(), QList<QAction *>{f.Exit1});
    EXPECT_TRUE(f.Help1->actions().isEmpty());
    EXPECT_EQ(f.Exit1->text(), "Exit");
    EXPECT_EQ(f.Exit1->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_X));
}

TEST_F(LayoutTest, KeyboardActionsHaveTheirCaptionsKeysAndStartState) {
    TfrmMain &f = *window_;
    const struct {
        QAction *action;
        const char *name, *caption;
        QKeyCombination key;
        bool enabled, onWindow;
    } rows[] = {
        {f.FTPort_Configure, "FTPort_Configure", "Configure Port", Qt::CTRL | Qt::Key_C, false, true},
        {f.FTSendFile, "FTSendFile", "File -> Device", Qt::CTRL | Qt::Key_S, false, true},
        {f.FTReceiveFile, "FTReceiveFile", "Device -> File", Qt::CTRL | Qt::Key_R, false, true},
        // Kept off the window so that Ctrl+X is not ambiguous with the menu's Exit.
        {f.FTQuit, "FTQuit", "Exit", Qt::CTRL | Qt::Key_X, true, false},
        {f.ShowReceiveList, "ShowReceiveList", "Receive list", Qt::CTRL | Qt::Key_L, true, true},
    };
    for (const auto &r : rows) {
        SCOPED_TRACE(r.name);
        ASSERT_NE(r.action, nullptr);
        EXPECT_EQ(r.action->objectName(), r.name);
        EXPECT_EQ(r.action->text(), r.caption);
        EXPECT_EQ(r.action->shortcut(), QKeySequence(r.key));
        EXPECT_EQ(r.action->isEnabled(), r.enabled);
        EXPECT_EQ(f.actions().contains(r.action), r.onWindow);
    }
    ASSERT_NE(f.Timer1, nullptr);
    EXPECT_EQ(f.Timer1->interval(), 55);
    EXPECT_FALSE(f.Timer1->isActive());
}

TEST_F(LayoutTest, WindowShortcutsReachTheirActionsAndCtrlXIsNotAmbiguous) {
    ShowActive();
    TfrmMain &f = *window_;
    f.ListeningCheckBox->setFocus();
    f.FTSendFile->setEnabled(true);
    QSignalSpy send(f.FTSendFile, &QAction::triggered);
    QTest::keyClick(&f, Qt::Key_S, Qt::ControlModifier);
    EXPECT_EQ(send.count(), 1);
    QSignalSpy list(f.ShowReceiveList, &QAction::triggered);
    QTest::keyClick(&f, Qt::Key_L, Qt::ControlModifier);
    EXPECT_EQ(list.count(), 1);

    QSignalSpy exit(f.Exit1, &QAction::triggered);
    QSignalSpy quit(f.FTQuit, &QAction::triggered);
    QTest::keyClick(&f, Qt::Key_X, Qt::ControlModifier);
    EXPECT_EQ(exit.count(), 1);
    EXPECT_EQ(quit.count(), 0);
    EXPECT_FALSE(f.isVisible());
}

TEST_F(LayoutTest, StatusBarHasTwoFixedPanelsAndNoGrip) {
    ShowActive();
    TfrmMain &f = *window_;
    EXPECT_FALSE(f.StatusBar1->isSizeGripEnabled());
    EXPECT_EQ(f.StatusPanel0->parentWidget(), f.StatusBar1);
    EXPECT_EQ(f.StatusPanel1->parentWidget(), f.StatusBar1);
    EXPECT_EQ(f.StatusPanel0->width(), 442);
    EXPECT_EQ(f.StatusPanel1->width(), 200);
    EXPECT_LT(f.StatusPanel0->x(), f.StatusPanel1->x());
    EXPECT_GE(f.StatusPanel1->x(), 442);
    EXPECT_TRUE(f.StatusPanel0->text().isEmpty());
    EXPECT_TRUE(f.StatusPanel1->isVisible());
}

TEST_F(LayoutTest, BitRateListOffersTheEightRatesForChoosingOnly) {
    QComboBox *combo = window_->ComboSpeed;
    QStringList items;
    for (int i = 0; i < combo->count(); ++i) items << combo->itemText(i);
    EXPECT_EQ(items, QStringList({"10", "20", "50", "100", "125", "250", "500", "1000"}));
    EXPECT_FALSE(combo->isEditable());
    EXPECT_EQ(combo->currentIndex(), 5);
}

TEST_F(LayoutTest, TypedLettersBecomeCapitalsExceptInTheTagBox) {
    TfrmMain &f = *window_;
    const struct {
        QLineEdit *edit;
        const char *typed, *shown;
    } rows[] = {
        {f.editTime, "2a0", "2A0"}, {f.editID, "2b6", "2B6"},  {f.editData, "ff 7b 4a", "FF 7B 4A"},
        {f.editMask, "7ff", "7FF"}, {f.editTag, "7ff", "7ff"},
    };
    for (const auto &r : rows) {
        SCOPED_TRACE(r.edit->objectName().toStdString());
        r.edit->clear();
        QTest::keyClicks(r.edit, r.typed);
        EXPECT_EQ(r.edit->text(), r.shown);
    }
}

TEST_F(LayoutTest, UpperCasingKeepsTheCursorWhereTheOperatorTypes) {
    QLineEdit *edit = window_->editID;
    QTest::keyClicks(edit, "2b6");
    edit->setCursorPosition(1);
    QTest::keyClicks(edit, "a");
    EXPECT_EQ(edit->text(), "2AB6");
    EXPECT_EQ(edit->cursorPosition(), 2);
}

TEST_F(LayoutTest, MaskSetFromOutsideShowsCapitalsTagAsGiven) {
    window_->editMask->setText("1fffffff");
    window_->editTag->setText("1fffffff");
    EXPECT_EQ(window_->editMask->text(), "1FFFFFFF");
    EXPECT_EQ(window_->editTag->text(), "1fffffff");
}

TEST_F(LayoutTest, TheTwoRadioPairsAreEachExclusiveAndIndependent) {
    TfrmMain &f = *window_;
    EXPECT_TRUE(f.HighSpeed->isChecked());
    EXPECT_FALSE(f.LowSpeed->isChecked());
    EXPECT_FALSE(f.rb2_0A->isChecked() && f.rb2_0B->isChecked());

    QTest::mouseClick(f.rb2_0A, Qt::LeftButton);
    QTest::mouseClick(f.LowSpeed, Qt::LeftButton);
    EXPECT_TRUE(f.LowSpeed->isChecked());
    EXPECT_FALSE(f.HighSpeed->isChecked());
    EXPECT_TRUE(f.rb2_0A->isChecked());

    QTest::mouseClick(f.rb2_0B, Qt::LeftButton);
    EXPECT_TRUE(f.rb2_0B->isChecked());
    EXPECT_FALSE(f.rb2_0A->isChecked());
    EXPECT_TRUE(f.LowSpeed->isChecked());
}

TEST_F(LayoutTest, ScreenshotOfTheShownWindow) {
    ShowActive();
    const QPixmap shot = window_->grab();
    EXPECT_EQ(shot.size(), window_->size());
    EXPECT_TRUE(shot.save(QStringLiteral(BRISKLET_ARTIFACTS "/window.png")));

    // The same with every glyph button disabled, to see the outline pictures.
    for (QToolButton *b : window_->findChildren<QToolButton *>()) b->setEnabled(false);
    EXPECT_TRUE(window_->grab().save(QStringLiteral(BRISKLET_ARTIFACTS "/window-disabled-glyphs.png")));
}
