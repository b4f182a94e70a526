// Hot-plug churn: the emulated adapter is pulled out and plugged back in at random moments, 500 times,
// while it sends traffic and the operator runs command sequences and Ctrl+R. Plugging, commands and
// Ctrl+R are driven by timers, so they also land inside the Delay waits of a running sequence and
// beside the receive thread's pumps. Nothing may crash or leak (the sanitizer builds watch that), and
// at the end the window must say what the plug says.
//
// Reproducible: the moments come from a seeded generator; BRISKLET_CHURN_SEED picks another seed.
#include <QAction>
#include <QTimer>
#include <QToolButton>
#include <random>

#include "MessageBoxes.h"
#include "ReceiveFixture.h"

namespace {

constexpr int Replugs = 500;
constexpr int MaxPlugGapMs = 16;  // between two plug changes: 0..16 ms, against the 55 ms presence tick
constexpr int MaxActionGapMs = 40;

uint32_t ChurnSeed() {
    bool ok = false;
    const uint32_t seed = qEnvironmentVariableIntValue("BRISKLET_CHURN_SEED", &ok);
    return ok ? seed : 20240611u;
}

class ChurnWindow : public ReceiveWindow {
protected:
    void SetUp() override {
        SetMessageBoxHook([this](BoxIcon, const QString &caption, const QString &) {
            if (caption == "Warning") ++warnings;
        });
        ReceiveWindow::SetUp();
    }
    void TearDown() override {
        ReceiveWindow::TearDown();
        SetMessageBoxHook({});
    }

    bool ActionsEnabled(bool on) const {
        return w->FTSendFile->isEnabled() == on && w->FTReceiveFile->isEnabled() == on &&
               w->FTPort_Configure->isEnabled() == on;
    }
    // The window agrees with the plug, and keeps agreeing over a few presence ticks.
    bool SettledOn(bool plugged) {
        const QString title = plugged ? TitlePresent : TitleLost;
        auto agrees = [&] {
            return DevicePresent.load() == plugged && w->windowTitle() == title && ActionsEnabled(plugged);
        };
        if (!WaitFor(agrees, ReceiveWaitMs)) return false;
        return TicksGoOn(3) && agrees();
    }

    int warnings = 0;
};

}  // namespace

TEST_F(ChurnWindow, FiveHundredReplugsDuringTrafficCommandsAndPumps) {
    const uint32_t seed = ChurnSeed();
    SCOPED_TRACE("BRISKLET_CHURN_SEED=" + std::to_string(seed));
    std::mt19937 random(seed);
    PlugAndFind();

    TrafficRates rates;
    rates.canFrames = 2000;
    rates.busErrors = 50;
    rates.strayBytes = 20;
    rates.brokenFrames = 20;
    firmware->StartGenerator(rates);

    int replugs = 0, sequences = 0, nested = 0, pumps = 0, depth = 0;
    QTimer plug;
    plug.setSingleShot(true);
    QObject::connect(&plug, &QTimer::timeout, [&] {
        if (TheSimAdapter().IsPlugged()) {
            TheSimAdapter().Unplug();
        } else {
            TheSimAdapter().Plug();
            ++replugs;
        }
        if (replugs < Replugs) plug.start(static_cast<int>(random() % (MaxPlugGapMs + 1)));
    });

    // The operator, at random moments: inside a running sequence's Delay this is a click or a Ctrl+R
    // in the middle of that sequence.
    QTimer act;
    act.setSingleShot(true);
    QObject::connect(&act, &QTimer::timeout, [&] {
        act.start(static_cast<int>(random() % (MaxActionGapMs + 1)));
        // A sequence inside a sequence is as deep as it goes: a third level would nest without end,
        // since clicks come faster than a sequence's waits.
        const unsigned choice = depth >= 2 ? 3 : random() % 4;
        if (depth > 0) ++nested;
        ++depth;
        if (choice == 0) {
            QTest::mouseClick(w->btnInit, Qt::LeftButton);  // four commands, three 100 ms waits
            ++sequences;
        } else if (choice == 1) {
            QTest::mouseClick(w->btnStop, Qt::LeftButton);
            ++sequences;
        } else {
            QTest::keyClick(w.get(), Qt::Key_R, Qt::ControlModifier);  // does nothing while absent
            ++pumps;
        }
        --depth;
    });

    plug.start(5);
    act.start(7);
    ASSERT_TRUE(WaitFor([&] { return replugs >= Replugs; }, 120000)) << replugs << " replugs";
    act.stop();
    // Let a sequence still inside a wait finish before the end state is judged.
    ASSERT_TRUE(WaitFor([&] { return depth == 0; }, ReceiveWaitMs));
    EXPECT_GT(sequences, 50);
    EXPECT_GT(nested, 10) << "some clicks and Ctrl+R must land inside a sequence's Delay";
    EXPECT_GT(pumps, 50);

    // The plug ends pulled out or in, as the seed says, and the window follows.
    const bool endPlugged = random() % 2;
    if (!endPlugged) {
        TheSimAdapter().Unplug();
        EXPECT_TRUE(SettledOn(false)) << Show(w->windowTitle());
        TheSimAdapter().Plug();  // and once more in, to see traffic flow again
    }
    ASSERT_TRUE(SettledOn(true)) << Show(w->windowTitle());
    // The last click may have been a disable, which keeps the adapter from reporting frames: one more
    // initialization, and traffic must be counted again.
    QTest::mouseClick(w->btnInit, Qt::LeftButton);
    const int32_t before = MessageCount.load();
    ASSERT_TRUE(WaitFor([&] { return MessageCount.load() > before + 20; }, ReceiveWaitMs))
        << "traffic no longer counted";

    firmware->StopGenerator();
    ASSERT_TRUE(PassesGoOn(3));  // what was on its way has landed
    EXPECT_LE(static_cast<uint64_t>(MessageCount.load()), firmware->CanFramesSent());
    ASSERT_TRUE(WaitFor([&] { return Text(w->lblMessCount) == QString::number(MessageCount.load()); },
                        ReceiveWaitMs));
    if (!endPlugged) {
        TheSimAdapter().Unplug();
        EXPECT_TRUE(SettledOn(false)) << Show(w->windowTitle());
    }
}
