// A real main window on the emulated adapter, with a CommandLog recording what reaches the adapter and
// the message boxes captured instead of shown.
#pragma once

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QLineEdit>
#include <QRadioButton>
#include <QStyle>
#include <QStyleOptionButton>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>
#include <chrono>
#include <functional>
#include <memory>
#include <type_traits>
#include <vector>

#include "CommandLog.h"
#include "D2XXUnit.h"
#include "LinkBackend.h"
#include "Main.h"
#include "MessageBoxes.h"
#include "PresenceWatch.h"
#include "ProcessState.h"
#include "SimAdapter.h"
#include "SimBackend.h"
#include "WindowOnEmulator.h"
#include "unitMy.h"

using Bytes = std::vector<uint8_t>;

struct CapturedBox {
    BoxIcon icon;
    QString caption, text;
};

// Delay on a clock of its own: each wait lets its whole time pass at once and notes how many frames had
// reached the adapter and what PauseState was at that moment; `during` runs inside a given wait, as a
// click or a tick would. A sequence then runs without real waiting, and its waits can be checked against
// the frames between them.
struct SequenceClock {
    struct Wait {
        uint32_t ms;
        std::size_t framesBefore;
        uint8_t pause;
        bool operator==(const Wait &) const = default;
    };
    static inline uint32_t now = 0;
    static inline std::vector<Wait> waits;
    static inline std::function<void(std::size_t wait)> during;
    static inline const CommandLog *log = nullptr;

    static void Install(const CommandLog &frames) {
        now = 0;
        waits.clear();
        during = nullptr;
        log = &frames;
        SetDelayHooks(DelayHooks{&Tick, &Dispatch, &WaitFor});
    }
    static void Remove() {
        SetDelayHooks(DefaultDelayHooks());
        during = nullptr;
        log = nullptr;
    }

private:
    static uint32_t Tick() { return now; }
    static void Dispatch() {}
    static void WaitFor(uint32_t ms) {
        waits.push_back({ms, log ? log->Count() : 0, PauseState.load()});
        if (during) during(waits.size() - 1);
        now += ms;
    }
};

class CommandWindow : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir_.isValid());
        StartOnEmulator();
        SetMessageBoxHook([this](BoxIcon icon, const QString &caption, const QString &text) {
            boxes.push_back({icon, caption, text});
        });
        w = ShowWindow(dir_);
        ASSERT_TRUE(QTest::qWaitForWindowExposed(w.get()));
        TheSimAdapter().SetFirmware(&log);
    }

    void TearDown() override {
        SequenceClock::Remove();
        if (w) w->close();
        w.reset();
        EndOnEmulator();
        SetMessageBoxHook({});
    }

    // Plugs the emulated adapter in and lets one presence tick find it; the log then starts empty.
    void PlugAndFind() {
        TheSimAdapter().Plug();
        w->Timer1Timer();
        ASSERT_TRUE(DevicePresent.load());
        log.Clear();
        boxes.clear();
    }

    static void Click(QToolButton *b) {
        ASSERT_NE(b, nullptr);
        QTest::mouseClick(b, Qt::LeftButton);
    }

    // Ticks or clears a box (or selects a radio button) by clicking its indicator.
    template <class Box>
    static void Set(Box *b, bool on) {
        ASSERT_NE(b, nullptr);
        if (b->isChecked() != on) {
            QStyleOptionButton opt;
            opt.initFrom(b);
            const auto element = std::is_same_v<Box, QRadioButton> ? QStyle::SE_RadioButtonIndicator
                                                                   : QStyle::SE_CheckBoxIndicator;
            const QRect r = b->style()->subElementRect(element, &opt, b);
            QTest::mouseClick(b, Qt::LeftButton, {}, r.center());
        }
        ASSERT_EQ(b->isChecked(), on) << b->objectName().toStdString();
    }

    static void Type(QLineEdit *e, const QString &text) {
        ASSERT_NE(e, nullptr);
        QTest::keyClick(e, Qt::Key_A, Qt::ControlModifier);
        QTest::keyClick(e, Qt::Key_Backspace);
        ASSERT_TRUE(e->text().isEmpty());
        QTest::keyClicks(e, text);
    }

    std::vector<uint8_t> Types() const {
        std::vector<uint8_t> t;
        for (const LoggedFrame &f : log.Frames()) t.push_back(f.type);
        return t;
    }

    static long long MsBetween(const LoggedFrame &a, const LoggedFrame &b) {
        return std::chrono::duration_cast<std::chrono::milliseconds>(b.arrived - a.arrived).count();
    }

    std::unique_ptr<TfrmMain> w;
    CommandLog log;
    std::vector<CapturedBox> boxes;

private:
    QTemporaryDir dir_;
};
