#include "BenchSupport.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTimer>
#include <random>

#include "D2XXUnit.h"
#include "LinkBackend.h"
#include "MainDisplay.h"
#include "PresenceWatch.h"
#include "ProcessState.h"
#include "SimAdapter.h"
#include "SimBackend.h"

namespace {

CanReport RandomReport(std::mt19937 &random, long serial) {
    BusFrame f;
    f.extended = serial % 4 == 3;
    f.identifier = f.extended ? (random() & 0x1FFFFFFF) : (random() & 0x7FF);
    f.length = static_cast<uint8_t>(serial % 9);
    for (auto &b : f.data) b = static_cast<uint8_t>(random());
    const long ms = serial % (24L * 3600 * 1000);
    return BuildCanReport(f, static_cast<int>(ms / 3600000), static_cast<int>(ms / 60000 % 60),
                          static_cast<int>(ms / 1000 % 60), static_cast<int>(ms % 1000));
}

}  // namespace

MixedStream MakeMixedStream(long goodReports, uint32_t seed) {
    std::mt19937 random(seed);
    MixedStream s;
    s.bytes.reserve(static_cast<std::size_t>(goodReports) * (CanReportSize + 2));
    for (long i = 0; i < goodReports; ++i) {
        const CanReport report = RandomReport(random, i);
        s.bytes.insert(s.bytes.end(), report.begin(), report.end());
        ++s.goodReports;
        ++s.allReports;
        // The rubbish always follows an intact report and is followed by one, so no rubbish can reach
        // into a good report's end pair and take it down with it.
        if (i % 50 == 7) {
            for (int k = 0; k < 3; ++k)
                s.bytes.push_back(static_cast<uint8_t>(random() % 0xF0));  // never a start byte
        } else if (i % 97 == 13) {
            CanReport broken = RandomReport(random, i);
            broken[CanReportSize - 3] ^= 0x55;  // wrong checksum: cut out, then dropped
            s.bytes.insert(s.bytes.end(), broken.begin(), broken.end());
            ++s.allReports;
        } else if (i % 131 == 29) {
            const CanReport cut = RandomReport(random, i);
            s.bytes.insert(s.bytes.end(), cut.begin(), cut.begin() + 10);  // never finished
            ++s.allReports;
        }
    }
    return s;
}

std::vector<uint8_t> MakeReports(long count, uint32_t seed) {
    std::mt19937 random(seed);
    std::vector<uint8_t> bytes;
    bytes.reserve(static_cast<std::size_t>(count) * CanReportSize);
    for (long i = 0; i < count; ++i) {
        const CanReport report = RandomReport(random, i);
        bytes.insert(bytes.end(), report.begin(), report.end());
    }
    return bytes;
}

bool WaitUntil(const std::function<bool()> &done, int ms) {
    // Sleeps in the event loop: the receive thread's queued results wake it at once, the ticker at
    // the latest every 2 ms, so waiting costs no core and adds next to no delay.
    QTimer ticker;
    ticker.start(2);
    QElapsedTimer timer;
    timer.start();
    while (!done()) {
        if (timer.elapsed() > ms) return false;
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    return true;
}

std::unique_ptr<TfrmMain> OpenWindowOn(const D2xxApi &api, const QTemporaryDir &dir) {
    ResetProcessState();
    InstallD2xxApi(api);
    WindowOptions options;
    options.SettingsDir = dir.path() + "/";
    auto window = std::make_unique<TfrmMain>(options);
    window->show();
    WaitUntil([] { return false; }, 50);  // let the show steps run
    window->btnClearClick();
    return window;
}

SimWindow::SimWindow() {
    TheSimAdapter().ResetForTest();
    firmware_ = std::make_unique<EmulatedFirmware>(TheSimAdapter());
    TheSimAdapter().SetFirmware(firmware_.get());
    window_ = OpenWindowOn(SimD2xxApi(), dir_);
}

SimWindow::~SimWindow() {
    firmware_->StopGenerator();
    window_->close();
    window_.reset();
    TheSimAdapter().SetFirmware(nullptr);
    firmware_.reset();
    TheSimAdapter().ResetForTest();
}

bool SimWindow::PlugAndFind(int ms) {
    TheSimAdapter().Plug();
    return WaitUntil([] { return DevicePresent.load(); }, ms);
}
