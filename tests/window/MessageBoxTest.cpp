// The two boxes an operator meets, shown for real (no hook): caption, text with its line break, icon, a
// single OK button, and modal, so the command that opened it waits for the answer.
#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <functional>
#include <optional>
#include <ostream>
#include <string>

#include "CommandFixture.h"

namespace {

struct SeenBox {
    QString caption, text;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QMessageBox::StandardButtons buttons;
    bool modal = false;
};

// Runs `open`, which is expected to show a modal box and return once it is answered; reads the box and
// presses OK. Nothing when no box came up.
std::optional<SeenBox> AnswerRealBox(const std::function<void()> &open) {
    SetMessageBoxHook({});
    std::optional<SeenBox> seen;
    QTimer poll;
    poll.setInterval(5);
    QObject::connect(&poll, &QTimer::timeout, [&] {
        auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        if (!box) return;
        seen = SeenBox{box->windowTitle(), box->text(), box->icon(), box->standardButtons(), box->isModal()};
        poll.stop();
        box->button(QMessageBox::Ok)->click();
    });
    poll.start();
    open();
    return seen;
}

struct BoxRow {
    const char *name;
    bool present;
    QString period;
    QToolButton *TfrmMain::*button;
    const char *caption, *text;
    QMessageBox::Icon icon;
};

void PrintTo(const BoxRow &r, std::ostream *os) { *os << r.name; }

class RealBoxes : public CommandWindow, public ::testing::WithParamInterface<BoxRow> {};

TEST_P(RealBoxes, ShowTheirCaptionTextAndIconWithOneOkButton) {
    const BoxRow &row = GetParam();
    if (row.present) PlugAndFind();
    Type(w->editTime, row.period);
    const auto seen = AnswerRealBox([&] { Click(w.get()->*row.button); });
    ASSERT_TRUE(seen.has_value()) << "no box came up";
    EXPECT_EQ(seen->caption, row.caption);
    EXPECT_EQ(seen->text, row.text);
    EXPECT_EQ(seen->icon, row.icon);
    EXPECT_EQ(seen->buttons, QMessageBox::Ok);
    EXPECT_TRUE(seen->modal);
    EXPECT_EQ(log.Count(), 0u);
}

// The warning's text breaks its line with CR LF as written; the box shows one line break there.
INSTANTIATE_TEST_SUITE_P(
    Rows, RealBoxes,
    ::testing::Values(BoxRow{"WarningWithoutAdapter", false, "200", &TfrmMain::btnInit, "Warning",
                             "Device Not Present! You must Plug-In USB Adaptor or \nInstal USB Driver and "
                             "Restart your Computer.",
                             QMessageBox::Warning},
                      BoxRow{"ConversionError", true, "12A", &TfrmMain::btnTransmit0, "ERROR",
                             "Convert data Error!", QMessageBox::Critical}),
    [](const auto &info) { return std::string(info.param.name); });

}  // namespace
