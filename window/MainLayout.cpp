// Builds every control of the main window at its place. Positions are absolute pixels inside each
// container, matching the operator's manual, so no Qt layouts are used inside the client area.
#include <qdrawutil.h>

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QFont>
#include <QFrame>
#include <QGroupBox>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPainter>
#include <QRadioButton>
#include <QStatusBar>
#include <QTimer>
#include <QToolButton>
#include <QValidator>
#include <chrono>

#include "AppIcon.h"
#include "Glyphs.h"
#include "IdCoding.h"
#include "Main.h"
#include "PresenceWatch.h"

namespace {

constexpr QSize ClientSize(583, 412);
constexpr QPoint OpeningPosition(190, 112);
constexpr int EditHeight = 21;
constexpr int ComboHeight = 21;
constexpr int RadioHeight = 14;  // the 2.0A/2.0B rows are only 14 pixels apart
constexpr QSize SmallGlyphButton(27, 19);
constexpr QSize LargeGlyphButton(41, 33);
constexpr int SmallGlyph = 12;
constexpr int LargeGlyph = 18;
constexpr int HelpGlyph = 16;

// One font for the whole window. The layout is measured in pixels for an 8 pt font at 96 dpi, so the size is
// given in pixels: captions then fit their places whatever dpi the screen reports. Arial itself is rarely
// installed on Linux; Liberation Sans has the same metrics.
QFont WindowFont() {
    QFont::insertSubstitutions(QStringLiteral("Arial"),
                               {QStringLiteral("Liberation Sans"), QStringLiteral("Arimo")});
    QFont font(QStringLiteral("Arial"));
    font.setPixelSize(11);
    font.setBold(true);
    return font;
}

// Typed, pasted and programmatically set text alike comes out in capitals, with the cursor left where it was.
class UpperCaseValidator final : public QValidator {
public:
    using QValidator::QValidator;
    State validate(QString &input, int &pos) const override {
        input = input.toUpper();
        pos = qMin(pos, int(input.size()));
        return Acceptable;
    }
};

enum class Bevel { None, Raised, Lowered };

// A panel with an outer and an inner one-pixel bevel, drawn the classic way (light and dark edges) rather
// than by the widget style, which on Linux styles would draw a flat rounded frame.
class BevelPanel final : public QFrame {
public:
    BevelPanel(QWidget *parent, Bevel outer, Bevel inner) : QFrame(parent), outer_(outer), inner_(inner) {
        setAutoFillBackground(true);  // later panels hide the parts of earlier ones they lie over
    }

protected:
    void paintEvent(QPaintEvent *) override {
        QPainter p(this);
        QRect r = rect();
        for (const Bevel b : {outer_, inner_}) {
            if (b == Bevel::None) continue;
            qDrawShadePanel(&p, r, palette(), b == Bevel::Lowered, 1);
            r.adjust(1, 1, -1, -1);
        }
    }

private:
    Bevel outer_, inner_;
};

// A group box drawn the classic way: an etched frame whose top line runs through the middle of the title.
// The controls inside are placed for that look; Linux styles put the title above the frame and shade the
// inside, which crowds the first row of controls against the frame.
class ClassicGroupBox final : public QGroupBox {
public:
    using QGroupBox::QGroupBox;

protected:
    void paintEvent(QPaintEvent *) override {
        QPainter p(this);
        const QFontMetrics fm = fontMetrics();
        qDrawShadeRect(&p, rect().adjusted(0, fm.height() / 2, 0, 0), palette(), true, 1, 0);
        const QRect caption(6, 0, fm.horizontalAdvance(title()) + 4, fm.height());
        p.fillRect(caption, palette().window());
        p.setPen(palette().color(QPalette::WindowText));
        p.drawText(caption, Qt::AlignCenter, title());
    }
};

template <class W>
W *Named(W *w, const char *name) {
    w->setObjectName(QString::fromLatin1(name));
    return w;
}

QLabel *AddLabel(QWidget *parent, const char *name, const QString &caption, int x, int y) {
    auto *label = Named(new QLabel(caption, parent), name);
    label->adjustSize();
    label->move(x, y);
    return label;
}

// A label of fixed width whose text changes while running: centred labels keep their column's middle.
QLabel *AddValueLabel(QWidget *parent, const char *name, const QString &caption, QRect geometry,
                      Qt::Alignment alignment) {
    auto *label = Named(new QLabel(caption, parent), name);
    label->setAlignment(alignment | Qt::AlignVCenter);
    label->setGeometry(geometry);
    return label;
}

QCheckBox *AddCheckBox(QWidget *parent, const char *name, const QString &caption, int x, int y) {
    auto *box = Named(new QCheckBox(caption, parent), name);
    box->adjustSize();
    box->move(x, y);
    return box;
}

QRadioButton *AddRadio(QWidget *parent, const char *name, const QString &caption, int x, int y) {
    auto *radio = Named(new QRadioButton(caption, parent), name);
    radio->setGeometry(x, y, radio->sizeHint().width(), RadioHeight);
    return radio;
}

QLineEdit *AddEdit(QWidget *parent, const char *name, int x, int y, int width, bool upperCase) {
    auto *edit = Named(new QLineEdit(parent), name);
    edit->setGeometry(x, y, width, EditHeight);
    if (upperCase) edit->setValidator(new UpperCaseValidator(edit));
    return edit;
}

QToolButton *AddGlyphButton(QWidget *parent, const char *name, Glyphs::Shape shape, QRect geometry,
                            int glyph) {
    auto *button = Named(new QToolButton(parent), name);
    button->setGeometry(geometry);
    button->setIcon(Glyphs::Icon(shape, glyph));
    button->setIconSize(QSize(glyph, glyph));
    return button;
}

QGroupBox *AddGroupBox(QWidget *parent, const char *name, const QString &title, QRect geometry) {
    auto *box = Named(new ClassicGroupBox(title, parent), name);
    box->setGeometry(geometry);
    box->setAutoFillBackground(true);
    return box;
}

BevelPanel *AddPanel(QWidget *parent, const char *name, QRect geometry, Bevel outer, Bevel inner) {
    auto *panel = Named(new BevelPanel(parent, outer, inner), name);
    panel->setGeometry(geometry);
    return panel;
}

// A caption strip laid over the top edge of a bevelled panel, so the panel reads like a group box.
QFrame *AddTitleStrip(QWidget *parent, const char *name, QRect geometry, QLabel *&label,
                      const char *labelName, const QString &caption) {
    auto *strip = Named(new QFrame(parent), name);
    strip->setGeometry(geometry);
    strip->setAutoFillBackground(true);
    label = AddValueLabel(strip, labelName, caption, QRect(QPoint(0, 0), geometry.size()), Qt::AlignHCenter);
    return strip;
}

// The panels are placed by hand: QStatusBar's own layout squeezes fixed-width items into the bar's width, and
// these two are wider together than the window, so the second one is cut off at the window's edge.
QLabel *AddStatusPanel(QStatusBar *bar, const char *name, int x, int width) {
    auto *panel = Named(new QLabel(bar), name);
    panel->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    panel->setIndent(2);
    panel->setGeometry(x, 2, width, bar->height() - 2);
    return panel;
}

QAction *AddAction(QObject *owner, const char *name, const QString &caption, QKeySequence shortcut) {
    auto *action = Named(new QAction(caption, owner), name);
    action->setShortcut(shortcut);
    return action;
}

}  // namespace

void TfrmMain::BuildControls() {
    setFont(WindowFont());

    // ---- Menu and keyboard actions ----
    File1 = Named(menuBar()->addMenu(QStringLiteral("File")), "File1");
    Exit1 = Named(File1->addAction(QStringLiteral("Exit")), "Exit1");
    Exit1->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_X));
    Help1 = Named(menuBar()->addMenu(QStringLiteral("Help")), "Help1");
    // Pop-up menus are windows of their own and would otherwise keep the application font.
    for (QMenu *menu : {File1, Help1}) menu->setFont(font());

    FTPort_Configure =
        AddAction(this, "FTPort_Configure", QStringLiteral("Configure Port"), Qt::CTRL | Qt::Key_C);
    FTSendFile = AddAction(this, "FTSendFile", QStringLiteral("File -> Device"), Qt::CTRL | Qt::Key_S);
    FTReceiveFile = AddAction(this, "FTReceiveFile", QStringLiteral("Device -> File"), Qt::CTRL | Qt::Key_R);
    FTQuit = AddAction(this, "FTQuit", QStringLiteral("Exit"), Qt::CTRL | Qt::Key_X);
    // Qt fires neither of two enabled actions that share a key in one window, and the menu's Exit must have
    // Ctrl+X. FTQuit therefore keeps its key for the record but is not added to any widget: an action without
    // a widget never matches a window shortcut. It runs only as a step of closing.
    addActions({FTPort_Configure, FTSendFile, FTReceiveFile});
    for (QAction *a : {FTPort_Configure, FTSendFile, FTReceiveFile}) a->setEnabled(false);
    // The receive list, a window of its own beside this one; a key only, so the menu stays as it is.
    ShowReceiveList = AddAction(this, "ShowReceiveList", QStringLiteral("Receive list"), Qt::CTRL | Qt::Key_L);
    addAction(ShowReceiveList);

    Timer1 = Named(new QTimer(this), "Timer1");
    Timer1->setInterval(static_cast<int>(PresenceTickMs));

    // ---- Client area ----
    auto *client = Named(new QWidget(this), "ClientArea");
    client->setFixedSize(ClientSize);
    setCentralWidget(client);
    layout()->setSizeConstraint(QLayout::SetFixedSize);
    move(OpeningPosition);

    // Top strip
    Panel8 = AddPanel(client, "Panel8", {0, 0, 582, 28}, Bevel::Lowered, Bevel::Raised);
    Oddelovac4 = Named(new QFrame(Panel8), "Oddelovac4");
    Oddelovac4->setFrameStyle(QFrame::VLine | QFrame::Sunken);
    Oddelovac4->setGeometry(442, 3, 4, 22);
    SpeedHelp = AddGlyphButton(Panel8, "SpeedHelp", Glyphs::Shape::Help, {452, 3, 25, 22}, HelpGlyph);
    SpeedHelp->setAutoRaise(true);
    SpeedHelp->setToolTip(QStringLiteral("Help"));

    Panel1 = AddPanel(client, "Panel1", {0, 32, 583, 355}, Bevel::Raised, Bevel::None);
    Panel2 = AddPanel(Panel1, "Panel2", {2, 2, 439, 348}, Bevel::None, Bevel::None);

    // ---- Received frame ----
    ReceiveBox =
        AddGroupBox(Panel2, "ReceiveBox", QStringLiteral("Receive CAN Data FRAME"), {8, 7, 431, 121});
    const QString dataHeading = QStringLiteral("Data [ 0,  1,  2,  3,  4,  5,  6,  7 ]");
    Label5 = AddLabel(ReceiveBox, "Label5", QStringLiteral("Arrival Time"), 48, 24);
    Label9 = AddLabel(ReceiveBox, "Label9", QStringLiteral("ID[Hex]"), 152, 24);
    Label10 = AddLabel(ReceiveBox, "Label10", dataHeading, 232, 24);
    // Widths leave room for the longest texts shown later ("23:59:59.999", "1FFFFFFF", eight data bytes).
    lblTime = AddValueLabel(ReceiveBox, "lblTime", QStringLiteral("--- : --- : --- . ---"), {44, 48, 80, 16},
                            Qt::AlignHCenter);
    lblID = AddValueLabel(ReceiveBox, "lblID", QStringLiteral("-- -- -- --"), {152, 48, 72, 16},
                          Qt::AlignHCenter);
    lblData = AddValueLabel(ReceiveBox, "lblData", QStringLiteral("--  --  --  --  --  --  --  --"),
                            {232, 48, 190, 16}, Qt::AlignLeft);

    // ---- Transmit ----
    TransmitBox =
        AddGroupBox(Panel2, "TransmitBox", QStringLiteral("Transmit CAN data FRAME"), {8, 131, 431, 141});
    Label19 = AddLabel(TransmitBox, "Label19", QStringLiteral("Rem."), 7, 24);
    Label19->setToolTip(QStringLiteral("Remote Frame"));
    Label18 = AddLabel(TransmitBox, "Label18", QStringLiteral("Per."), 42, 24);
    Label18->setToolTip(QStringLiteral("Periodic Frame"));
    Label17 = AddLabel(TransmitBox, "Label17", QStringLiteral("Time[ms]"), 72, 24);
    Label11 = AddLabel(TransmitBox, "Label11", QStringLiteral("ID[Hex]"), 152, 24);
    Label6 = AddLabel(TransmitBox, "Label6", dataHeading, 232, 24);
    RTRBox = AddCheckBox(TransmitBox, "RTRBox", QString(), 14, 48);
    RTRBox->setToolTip(QStringLiteral("Remote Frame"));
    PeriodBox = AddCheckBox(TransmitBox, "PeriodBox", QString(), 40, 48);
    PeriodBox->setToolTip(QStringLiteral("Periodic Frame"));
    editTime = AddEdit(TransmitBox, "editTime", 64, 48, 65, true);
    editTime->setToolTip(QStringLiteral("Example: 200"));
    editID = AddEdit(TransmitBox, "editID", 136, 48, 81, true);
    editID->setToolTip(QStringLiteral("Example: 2B6"));
    editData = AddEdit(TransmitBox, "editData", 232, 48, 193, true);
    editData->setToolTip(QStringLiteral("Example: FF 7B 4A E8 AD"));
    ShowFrame = AddCheckBox(TransmitBox, "ShowFrame", QStringLiteral("Show transmit Frame"), 14, 88);
    ShowFrame->setToolTip(QStringLiteral("Receive transmit Frame"));
    btnTransmit0 = AddGlyphButton(TransmitBox, "btnTransmit0", Glyphs::Shape::Play,
                                  {QPoint(190, 88), SmallGlyphButton}, SmallGlyph);
    btnTransmit0->setToolTip(QStringLiteral("Transmit Frame"));
    btnStop0 = AddGlyphButton(TransmitBox, "btnStop0", Glyphs::Shape::Stop,
                              {QPoint(230, 88), SmallGlyphButton}, SmallGlyph);
    btnStop0->setToolTip(QStringLiteral("Abort Transmit Frame"));

    // ---- Control panel ----
    GroupBox2 = AddGroupBox(Panel2, "GroupBox2", QStringLiteral("Control Panel"), {8, 276, 431, 71});
    btnInit = AddGlyphButton(GroupBox2, "btnInit", Glyphs::Shape::Play, {QPoint(122, 24), LargeGlyphButton},
                             LargeGlyph);
    btnInit->setToolTip(QStringLiteral("Initialize adaptor"));
    btnPause = AddGlyphButton(GroupBox2, "btnPause", Glyphs::Shape::Pause,
                              {QPoint(178, 24), LargeGlyphButton}, LargeGlyph);
    btnPause->setToolTip(QStringLiteral("Pause"));
    btnStop = AddGlyphButton(GroupBox2, "btnStop", Glyphs::Shape::Stop, {QPoint(234, 24), LargeGlyphButton},
                             LargeGlyph);
    btnStop->setToolTip(QStringLiteral("Abort initialize adaptor"));
    btnClear = AddGlyphButton(GroupBox2, "btnClear", Glyphs::Shape::Ring, {QPoint(290, 24), LargeGlyphButton},
                              LargeGlyph);
    btnClear->setToolTip(QStringLiteral("Clear list"));

    // ---- Right column: created top to bottom, so each later panel and title strip lies above the one it
    // overlaps.
    GroupBox8 = AddGroupBox(Panel1, "GroupBox8", QStringLiteral("CAN speed"), {448, 8, 125, 67});
    // Each radio pair has a container of its own, which is what keeps the two pairs independent.
    HighSpeed = AddRadio(GroupBox8, "HighSpeed", QStringLiteral("High"), 14, 17);
    HighSpeed->setToolTip(QStringLiteral("High speed CAN driver"));
    LowSpeed = AddRadio(GroupBox8, "LowSpeed", QStringLiteral("Low"), 64, 17);
    LowSpeed->setToolTip(QStringLiteral("Low speed CAN driver"));
    HighSpeed->setChecked(true);

    Panel13 = AddPanel(Panel1, "Panel13", {448, 50, 125, 81}, Bevel::Lowered, Bevel::Raised);
    Panel13->setToolTip(QStringLiteral("ID setting panel"));
    lblBitRate = AddLabel(Panel13, "lblBitRate", QStringLiteral("Bit Rate"), 12, 10);
    ComboSpeed = Named(new QComboBox(Panel13), "ComboSpeed");
    for (const BitTimingRow &row : BitTimingTable) ComboSpeed->addItem(QString::number(row.kbps));
    ComboSpeed->setEditable(false);
    ComboSpeed->setGeometry(12, 26, 53, ComboHeight);
    ComboSpeed->setCurrentIndex(DefaultBitRateRow);
    ComboSpeed->setToolTip(QStringLiteral("Bit Rate selection"));
    lblKbps = AddLabel(Panel13, "lblKbps", QStringLiteral("[kbps]"), 68, 30);
    ListeningCheckBox = AddCheckBox(Panel13, "ListeningCheckBox", QStringLiteral("Listening Mode"), 8, 56);
    ListeningCheckBox->setToolTip(
        QStringLiteral("Only listening without acknowledging the received messages"));
    Panel14 = AddTitleStrip(Panel1, "Panel14", {455, 40, 72, 17}, Label290, "Label290",
                            QStringLiteral("CAN setting"));

    Panel5 = AddPanel(Panel1, "Panel5", {448, 138, 125, 169}, Bevel::Lowered, Bevel::Raised);
    Panel5->setToolTip(QStringLiteral("ID setting panel"));
    Label7 = AddLabel(Panel5, "Label7", QStringLiteral("Tag [Hex]"), 12, 12);
    editTag = AddEdit(Panel5, "editTag", 12, 28, 85, false);
    editTag->setToolTip(QStringLiteral("ID TAG selection [HEX]"));
    Label2 = AddLabel(Panel5, "Label2", QStringLiteral("Mask [Hex]"), 12, 56);
    editMask = AddEdit(Panel5, "editMask", 12, 72, 85, true);
    editMask->setToolTip(QStringLiteral("ID MASK selection [HEX]"));
    Label8 = AddLabel(Panel5, "Label8", QStringLiteral("Type"), 12, 100);
    // Neither is selected here: the settings choose one of the two.
    rb2_0A = AddRadio(Panel5, "rb2_0A", QStringLiteral("2.0A (11b)"), 12, 114);
    rb2_0A->setToolTip(QStringLiteral("CAN standard 2.0A (11bits)"));
    rb2_0B = AddRadio(Panel5, "rb2_0B", QStringLiteral("2.0B (29b)"), 12, 128);
    rb2_0B->setToolTip(QStringLiteral("CAN standard 2.0B (29bits)"));
    Panel7 =
        AddTitleStrip(Panel1, "Panel7", {456, 134, 61, 17}, Label12, "Label12", QStringLiteral("ID setting"));

    CanMessPanel = AddPanel(Panel1, "CanMessPanel", {448, 288, 125, 61}, Bevel::Lowered, Bevel::Raised);
    CanMessPanel->setToolTip(QStringLiteral("Info panel"));
    Label15 = AddLabel(CanMessPanel, "Label15", QStringLiteral("Error:"), 12, 15);
    lblMessError =
        AddValueLabel(CanMessPanel, "lblMessError", QStringLiteral("0"), {60, 15, 62, 14}, Qt::AlignLeft);
    lblMessError->setToolTip(QStringLiteral("Errors count"));
    Label1 = AddLabel(CanMessPanel, "Label1", QStringLiteral("Count:"), 12, 35);
    lblMessCount =
        AddValueLabel(CanMessPanel, "lblMessCount", QStringLiteral("0"), {60, 35, 62, 14}, Qt::AlignLeft);
    lblMessCount->setToolTip(QStringLiteral("Messages count"));
    Panel10 = AddTitleStrip(Panel1, "Panel10", {454, 280, 86, 17}, Label13, "Label13",
                            QStringLiteral("CAN message"));

    // ---- Status bar: panel 0 stays empty, panel 1 is the status line ----
    StatusBar1 = Named(new QStatusBar(client), "StatusBar1");
    StatusBar1->setSizeGripEnabled(false);
    StatusBar1->setGeometry(0, 387, 583, 25);
    StatusPanel0 = AddStatusPanel(StatusBar1, "StatusPanel0", 0, 442);
    StatusPanel1 = AddStatusPanel(StatusBar1, "StatusPanel1", 442 + 2, 200);

    // The glyph buttons show no text: their hints name them for screen readers and UI tests.
    for (QToolButton *button : {btnTransmit0, btnStop0, btnInit, btnPause, btnStop, btnClear, SpeedHelp})
        button->setAccessibleName(button->toolTip());
    // The window icon is the application's (set once by the program): painting it here, for every window,
    // would start Qt's raster thread pool in every program that makes a window.
}
