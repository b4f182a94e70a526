// Load test driver: the real main window (offscreen unless a display is asked for) on the emulated
// adapter, which sends CAN frame reports at a fixed rate for a fixed time, or nothing at all.
//
//   brisklet_loadtest --rate=21300 --seconds=60    traffic: every report counted, no stall, flat memory
//   brisklet_loadtest --idle=none --seconds=20     no adapter: CPU use only
//   brisklet_loadtest --idle=silent --seconds=20   an adapter that sends nothing: CPU use only
//   brisklet_loadtest --link=serial --rate=85200   the same traffic through the serial link, on a
//                                                  pseudo-terminal this driver feeds as the adapter; it
//                                                  counts the writes the terminal could not take whole
//   brisklet_loadtest --rate=85200 --log=FILE      the same, the window also writing a candump-format trace
//                                                  to FILE: every frame must be in it
//   brisklet_loadtest --rate=21300 --stalled-log   the window's log writes into a pipe nobody reads: the
//                                                  window still counts every frame without a stall, and
//                                                  the log drops what does not fit (and says so)
//   brisklet_loadtest --rate=21300 --list          the receive list open beside the window, sorted by cycle
//                                                  time: its rows must count every frame sent
//   brisklet_loadtest --link=serial --flood --seconds=10
//                                                  writes as fast as the terminal takes bytes, then hangs
//                                                  up (unplug) and closes the window: how long each took
//   brisklet_loadtest --rate=21300 --bus=virtualcan:can0
//                                                  the emulator's traffic, with a bus mirror attached to
//                                                  the window's pump: a listener on the same bus (on a
//                                                  thread of its own) counts every frame it hears there
//
// Prints one line per figure and "RESULT pass" or "RESULT fail"; exits 1 on failure.
#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/resource.h>
#include <unistd.h>

#include <QApplication>
#include <QCanBus>
#include <QCanBusDevice>
#include <QEventLoop>
#include <QLabel>
#include <QThread>
#include <QTemporaryDir>
#include <QTimer>
#include <QTreeView>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "BenchSupport.h"
#include "BusMirror.h"
#include "MainDisplay.h"
#include "PresenceWatch.h"
#include "PtyWindow.h"
#include "SimAdapter.h"
#include "AdapterExtras.h"
#include "ReceiveListWindow.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr double StallLimitMs = 50;
constexpr long RssGrowthLimitKb = 4096;  // flat: less than this between the end of warm-up and the end

struct Options {
    double rate = 0;
    double seconds = 60;
    std::string idle;          // "", "none" or "silent"
    std::string link = "sim";  // "sim" or "serial"
    bool flood = false;
    std::string log;  // a trace log file the window writes every frame to; empty: none
    std::string bus;  // PLUGIN:INTERFACE: mirror onto that bus and count what arrives there
    bool stalledLog = false;  // the log's output a pipe nobody reads
    bool list = false;        // the receive list open, sorted by cycle time
};

bool ParseOptions(int argc, char **argv, Options &o) {
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a.rfind("--rate=", 0) == 0)
            o.rate = std::atof(a.c_str() + 7);
        else if (a.rfind("--seconds=", 0) == 0)
            o.seconds = std::atof(a.c_str() + 10);
        else if (a.rfind("--idle=", 0) == 0)
            o.idle = a.substr(7);
        else if (a.rfind("--link=", 0) == 0)
            o.link = a.substr(7);
        else if (a == "--flood")
            o.flood = true;
        else if (a.rfind("--log=", 0) == 0)
            o.log = a.substr(6);
        else if (a.rfind("--bus=", 0) == 0)
            o.bus = a.substr(6);
        else if (a == "--stalled-log")
            o.stalledLog = true;
        else if (a == "--list")
            o.list = true;
        else
            return false;
    }
    if (o.link != "sim" && o.link != "serial") return false;
    if (!o.bus.empty() && (o.link != "sim" || o.flood || !o.idle.empty())) return false;
    if (o.flood) return o.link == "serial" && o.idle.empty() && o.seconds > 0;
    if (o.link == "serial" && !o.idle.empty()) return false;
    if (!o.idle.empty()) return (o.idle == "none" || o.idle == "silent") && o.seconds > 0;
    return o.rate > 0 && o.seconds > 0;
}

long RssKb() {
    std::ifstream statm("/proc/self/statm");
    long pages = 0, resident = 0;
    statm >> pages >> resident;
    return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

double ProcessCpuSeconds() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    auto s = [](const timeval &t) {
        return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
    };
    return s(u.ru_utime) + s(u.ru_stime);
}

// CPU seconds per thread, grouped as the window thread, the receive thread and everything else (the
// emulated adapter's generator, Qt's helpers).
std::map<std::string, double> ThreadCpuSeconds() {
    std::map<std::string, double> cpu;
    const long ticks = sysconf(_SC_CLK_TCK);
    const std::string pid = std::to_string(getpid());
    DIR *dir = opendir("/proc/self/task");
    if (!dir) return cpu;
    while (dirent *e = readdir(dir)) {
        if (e->d_name[0] == '.') continue;
        std::ifstream stat(std::string("/proc/self/task/") + e->d_name + "/stat");
        std::string line;
        std::getline(stat, line);
        const auto open = line.find('('), close = line.rfind(')');
        if (open == std::string::npos || close == std::string::npos) continue;
        const std::string name = line.substr(open + 1, close - open - 1);
        std::istringstream rest(line.substr(close + 2));
        std::string field;
        double utime = 0, stime = 0;
        for (int i = 3; i <= 15 && rest >> field; ++i) {
            if (i == 14) utime = std::atof(field.c_str());
            if (i == 15) stime = std::atof(field.c_str());
        }
        const std::string group = e->d_name == pid         ? "window thread"
                                  : name == "receive"      ? "receive thread"
                                  : name == "can bus"      ? "mirror's bus thread"
                                  : name == "bus listener" ? "bus listener (test)"
                                                           : "emulator and other";
        cpu[group] += (utime + stime) / static_cast<double>(ticks);
    }
    closedir(dir);
    return cpu;
}

// Plays the adapter on the terminal's far end: writes reports at `rate` per second (0: as fast as the
// terminal takes them) until stopped. Nothing is ever dropped: what the terminal does not take now is
// written later, and each write the terminal could not take whole is counted. A write is at most
// MaxWrite bytes, the payload of one USB packet of a high-speed FTDI chip, as ftdi_sio hands them to the
// tty. The feeder wakes every millisecond; when it wakes more than CatchUpMs late it catches up packet
// by packet at memory speed, which no bus does: writes refused then are counted apart from those refused
// at the bus's own pace, and its worst lag is kept.
class PtyFeeder {
public:
    PtyFeeder(int fd, double rate)
        : fd_(fd),
          rate_(rate),
          catchUpBytes_(static_cast<long>(rate * CanReportSize * CatchUpMs / 1000)),
          block_(MakeReports(BlockReports, 7)) {}
    ~PtyFeeder() { Stop(); }
    void Start() {
        start_ = Clock::now();
        thread_ = std::thread([this] { Run(); });
    }
    void Stop() {
        stop_.store(true);
        if (thread_.joinable()) thread_.join();
    }
    long Sent() const { return sentBytes_.load() / static_cast<long>(CanReportSize); }
    long FullWrites() const { return fullWrites_.load(); }
    long FullWritesCatchingUp() const { return fullCatchingUp_.load(); }
    double WorstLagMs() const { return worstLagBytes_.load() * 1000.0 / (rate_ * CanReportSize); }

private:
    static constexpr long BlockReports = 4096;
    static constexpr long MaxWrite = 512;
    static constexpr double CatchUpMs = 2.0;

    void Run() {
        const long blockBytes = static_cast<long>(block_.size());
        long pos = 0;  // within the block
        while (!stop_.load()) {
            long due;
            if (rate_ > 0) {
                const double s = std::chrono::duration<double>(Clock::now() - start_).count();
                due = static_cast<long>(s * rate_) * static_cast<long>(CanReportSize) - sentBytes_.load();
                if (due > worstLagBytes_.load()) worstLagBytes_.store(due);
            } else {
                due = blockBytes;
            }
            while (due > 0 && !stop_.load()) {
                const long chunk = std::min({due, blockBytes - pos, MaxWrite});
                const ssize_t n = ::write(fd_, block_.data() + pos, static_cast<std::size_t>(chunk));
                if (n < chunk)
                    (rate_ > 0 && due > catchUpBytes_ ? fullCatchingUp_ : fullWrites_).fetch_add(1);
                if (n <= 0) {
                    pollfd p{fd_, POLLOUT, 0};
                    ::poll(&p, 1, 5);
                    if (rate_ > 0) break;
                    continue;
                }
                pos = (pos + n) % blockBytes;
                due -= n;
                sentBytes_.fetch_add(n);
                if (n < chunk && rate_ > 0) break;
            }
            if (rate_ > 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }

    int fd_;
    double rate_;
    long catchUpBytes_;
    std::vector<uint8_t> block_;
    Clock::time_point start_;
    std::thread thread_;
    std::atomic<bool> stop_{false};
    std::atomic<long> sentBytes_{0};
    std::atomic<long> fullWrites_{0};
    std::atomic<long> fullCatchingUp_{0};
    std::atomic<long> worstLagBytes_{0};  // only this thread writes it
};

// Another node on the mirror's bus that only counts what it hears, on a thread of its own so that
// neither it nor (for virtualcan) the bus server it may run weighs on the window thread.
class BusListener {
public:
    ~BusListener() { Close(); }
    bool Open(const BusChoice &choice, std::string &why) {
        thread_.setObjectName(QStringLiteral("bus listener"));
        thread_.start();
        context_ = new QObject;
        context_->moveToThread(&thread_);
        QMetaObject::invokeMethod(
            context_,
            [&] {
                QString error;
                device_ = QCanBus::instance()->createDevice(QString::fromStdString(choice.plugin),
                                                            QString::fromStdString(choice.interface), &error);
                if (!device_) {
                    why = error.toStdString();
                    return;
                }
                QObject::connect(device_, &QCanBusDevice::framesReceived, context_, [this] {
                    heard_.fetch_add(static_cast<long>(device_->readAllFrames().size()));
                });
                if (!device_->connectDevice()) why = device_->errorString().toStdString();
            },
            Qt::BlockingQueuedConnection);
        if (!why.empty()) return false;
        const bool up = WaitUntil(
            [&] {
                bool connected = false;
                QMetaObject::invokeMethod(
                    context_, [&] { connected = device_->state() == QCanBusDevice::ConnectedState; },
                    Qt::BlockingQueuedConnection);
                return connected;
            },
            5000);
        if (!up) why = "the listener did not connect";
        return up;
    }
    void Close() {
        if (!thread_.isRunning()) return;
        QMetaObject::invokeMethod(
            context_,
            [this] {
                if (device_) device_->disconnectDevice();
                delete device_;
                device_ = nullptr;
            },
            Qt::BlockingQueuedConnection);
        thread_.quit();
        thread_.wait();
        delete context_;
        context_ = nullptr;
    }
    long Heard() const { return heard_.load(); }

private:
    QThread thread_;
    QObject *context_ = nullptr;
    QCanBusDevice *device_ = nullptr;  // lives on thread_
    std::atomic<long> heard_{0};
};

// --flood: the terminal flooded, then pulled out, then the window closed.
int RunFlood(const Options &o) {
    PtyWindow pw;
    if (!pw.Ok() || !pw.Find()) {
        std::printf("the pseudo-terminal was not opened\nRESULT fail\n");
        return 1;
    }
    PtyFeeder feeder(pw.Master(), 0);
    feeder.Start();
    WaitUntil([] { return false; }, static_cast<int>(o.seconds * 1000));
    const long countedDuringFlood = MessageCount.load();
    const auto unplug = Clock::now();
    feeder.Stop();
    pw.HangUp();
    const bool lost = WaitUntil([] { return !DevicePresent.load(); }, 5000);
    const double unplugMs = std::chrono::duration<double, std::milli>(Clock::now() - unplug).count();
    // Flood again on a fresh terminal? No: closing is measured with the reader still at full speed
    // until the hang-up, which is the worst case the window meets.
    const auto closing = Clock::now();
    pw.Close();
    const double closeMs = std::chrono::duration<double, std::milli>(Clock::now() - closing).count();
    std::printf("mode                flood through the serial link for %.0f s\n", o.seconds);
    std::printf("reports written     %ld (%.0f per second), counted %ld\n", feeder.Sent(),
                static_cast<double>(feeder.Sent()) / o.seconds, countedDuringFlood);
    std::printf("unplug seen after   %.1f ms%s\n", unplugMs, lost ? "" : " (NOT seen)");
    std::printf("window closed in    %.1f ms (limit 1000)\n", closeMs);
    const bool pass = lost && closeMs < 1000;
    std::printf("RESULT %s\n", pass ? "pass" : "fail");
    return pass ? 0 : 1;
}

}  // namespace

int main(int argc, char **argv) {
    Options o;
    if (!ParseOptions(argc, argv, o)) {
        std::fprintf(stderr,
                     "usage: %s [--link=sim|serial] --rate=REPORTS_PER_S [--seconds=S]\n"
                     "       %s --rate=REPORTS_PER_S --bus=PLUGIN:INTERFACE [--seconds=S]\n"
                     "       %s --idle=none|silent [--seconds=S]\n"
                     "       %s --link=serial --flood [--seconds=S]\n",
                     argv[0], argv[0], argv[0], argv[0]);
        return 2;
    }
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    if (o.flood) return RunFlood(o);
    const bool serial = o.link == "serial";
    std::unique_ptr<SimWindow> sw;
    std::unique_ptr<PtyWindow> pw;
    std::unique_ptr<PtyFeeder> feeder;
    if (serial) {
        pw = std::make_unique<PtyWindow>();
        if (!pw->Ok() || !pw->Find()) {
            std::printf("the pseudo-terminal was not opened\nRESULT fail\n");
            return 1;
        }
        feeder = std::make_unique<PtyFeeder>(pw->Master(), o.rate);
    } else {
        sw = std::make_unique<SimWindow>();
    }
    TfrmMain &w = serial ? pw->window() : sw->window();
    // The log as the program wires it: on its own output thread, fed by the window's session.
    AdapterExtrasHooks extrasHooks;
    extrasHooks.notice = [](const std::string &line) { std::fprintf(stderr, "%s\n", line.c_str()); };
    AdapterExtras extras(w.Session(), extrasHooks);
    if (!o.log.empty()) {
        std::remove(o.log.c_str());
        std::string why;
        if (!extras.OpenLog(o.log, "brisklet0", why)) {
            std::printf("%s\nRESULT fail\n", why.c_str());
            return 1;
        }
    }
    // The receive list as the program opens it (Ctrl+L), sorted by cycle time, refreshing while shown.
    QTemporaryDir listSettings;
    std::unique_ptr<ReceiveListWindow> list;
    if (o.list) {
        list = std::make_unique<ReceiveListWindow>(&extras.Table(), &extras.Health(),
                                                   listSettings.filePath("receive-list.ini"));
        list->show();
        list->view->sortByColumn(ReceiveListModel::ColCycle, Qt::AscendingOrder);
    }
    int stalledPipe[2] = {-1, -1};
    if (o.stalledLog) {
        std::string why;
        if (::pipe2(stalledPipe, O_CLOEXEC) != 0 ||
            !extras.OpenLogOn(stalledPipe[1], "a pipe nobody reads", "brisklet0", why)) {
            std::printf("the stalled log did not open %s\nRESULT fail\n", why.c_str());
            return 1;
        }
    }
    const bool traffic = o.idle.empty();
    if (!serial && o.idle != "none" && !sw->PlugAndFind()) {
        std::printf("the emulated adapter was not found\nRESULT fail\n");
        return 1;
    }
    // The mirror: the listener first, so that a virtual bus this process serves is served from its thread.
    BusListener listener;
    std::unique_ptr<BusMirror> mirror;
    QTimer mirrorTick;
    if (!o.bus.empty()) {
        BusChoice choice;
        std::string why;
        if (!ParseBusOption(o.bus, choice, why) || !listener.Open(choice, why)) {
            std::printf("%s\nRESULT fail\n", why.c_str());
            return 1;
        }
        BusMirrorHooks hooks;
        hooks.writeCommand = [&w](int code, const PayloadBuffer &payload, int length) {
            return w.CreateMessage(code, length, payload);
        };
        hooks.canTransmit = [] { return DevicePresent.load(); };
        hooks.notice = [](const std::string &line) { std::fprintf(stderr, "%s\n", line.c_str()); };
        mirror = std::make_unique<BusMirror>(choice, hooks);
        if (!mirror->Start() || !mirror->Attach()) {
            std::printf("the mirror did not start\nRESULT fail\n");
            return 1;
        }
        QObject::connect(&mirrorTick, &QTimer::timeout, [&] { mirror->TransmitNext(); });
        mirrorTick.start(BusMirror::TickInterval);
    }
    WaitUntil([] { return false; }, 500);  // settle: first ticks, first polls

    // The window thread's heartbeat: the longest gap between two ticks, beyond the interval itself.
    const int beatMs = traffic ? 10 : 50;
    QTimer heartbeat;
    heartbeat.setTimerType(Qt::PreciseTimer);
    Clock::time_point lastBeat = Clock::now();
    double worstStallMs = 0;
    QObject::connect(&heartbeat, &QTimer::timeout, [&] {
        const auto now = Clock::now();
        worstStallMs = std::max(worstStallMs,
                                std::chrono::duration<double, std::milli>(now - lastBeat).count() - beatMs);
        lastBeat = now;
    });

    // Memory once a second; the baseline is taken once the warm-up (a tenth of the run, at least 2 s) is
    // over.
    const double warmupS = std::max(2.0, o.seconds / 10);
    std::vector<long> rss;
    QTimer sampler;
    QObject::connect(&sampler, &QTimer::timeout, [&] { rss.push_back(RssKb()); });

    const auto cpuThreads0 = ThreadCpuSeconds();
    const double cpu0 = ProcessCpuSeconds();
    const auto start = Clock::now();
    if (serial) {
        feeder->Start();
    } else if (traffic) {
        TrafficRates rates;
        rates.canFrames = o.rate;
        sw->firmware().StartGenerator(rates);
    }
    lastBeat = Clock::now();
    heartbeat.start(beatMs);
    sampler.start(1000);
    // A loop of our own: quitting the application's loop would close the window first.
    QEventLoop run;
    QTimer::singleShot(static_cast<int>(o.seconds * 1000), &run, &QEventLoop::quit);
    run.exec();
    sampler.stop();
    const double elapsedS = std::chrono::duration<double>(Clock::now() - start).count();
    const double cpu = ProcessCpuSeconds() - cpu0;
    const auto cpuThreads = ThreadCpuSeconds();
    if (serial)
        feeder->Stop();
    else if (traffic)
        sw->firmware().StopGenerator();
    heartbeat.stop();

    bool pass = true;
    std::printf("mode                %s%s\n", serial ? "serial link (pseudo-terminal), " : "",
                traffic            ? "traffic"
                : o.idle == "none" ? "idle, no adapter"
                                   : "idle, silent adapter");
    std::printf("seconds             %.1f\n", elapsedS);
    std::printf("process CPU         %.1f %% of one core (%.2f s)\n", 100 * cpu / elapsedS, cpu);
    for (const auto &[group, seconds] : cpuThreads) {
        const auto before = cpuThreads0.find(group);
        const double used = seconds - (before == cpuThreads0.end() ? 0 : before->second);
        std::printf("  %-17s %.1f %%\n", group.c_str(), 100 * used / elapsedS);
    }
    std::printf("worst stall         %.1f ms beyond the %d ms heartbeat (limit %.0f)\n", worstStallMs, beatMs,
                StallLimitMs);
    pass = pass && worstStallMs <= StallLimitMs;

    const std::size_t skip = std::min(rss.size(), static_cast<std::size_t>(warmupS));
    if (rss.size() > skip + 1) {
        const long base = rss[skip], end = rss.back(),
                   peak = *std::max_element(rss.begin() + static_cast<long>(skip), rss.end());
        std::printf(
            "resident memory     %ld kB after warm-up, %ld kB at the end, %ld kB at most (growth limit %ld "
            "kB)\n",
            base, end, peak, RssGrowthLimitKb);
        pass = pass && end - base < RssGrowthLimitKb;
    }

    if (traffic) {
        const auto sent = serial ? feeder->Sent() : static_cast<long>(sw->firmware().CanFramesSent());
        const bool drained = WaitUntil(
            [&] { return MessageCount.load() == sent && w.lblMessCount->text() == QString::number(sent); },
            5000);
        const long counted = MessageCount.load();
        std::printf("reports sent        %ld (%.0f per second, asked for %.0f)\n", sent,
                    static_cast<double>(sent) / elapsedS, o.rate);
        std::printf("MessageCount        %ld, label %s\n", counted, qPrintable(w.lblMessCount->text()));
        std::printf("lost                %ld\n", sent - counted);
        pass = pass && drained && sent > 0;
        if (list) {
            list->RefreshNow();
            uint64_t rows = 0, counted = 0;
            for (const busview::FrameRow &row : list->model->Snapshot().Rows()) {
                ++rows;
                counted += row.count;
            }
            std::printf("receive list        %llu frames in %llu rows (%s)\n", static_cast<unsigned long long>(counted),
                        static_cast<unsigned long long>(rows), static_cast<long>(counted) == sent ? "every frame" : "FRAMES MISSING");
            pass = pass && static_cast<long>(counted) == sent;
        }
        if (o.stalledLog) {
            const auto closing = Clock::now();
            w.close();
            extras.Stop();  // gives the blocked pipe its grace, then gives up
            const double closeMs = std::chrono::duration<double, std::milli>(Clock::now() - closing).count();
            const uint64_t dropped = extras.LogDropped();
            std::printf("stalled log         %llu frames dropped for the log alone; window closed and log "
                        "stopped in %.0f ms (limit 1000)\n",
                        static_cast<unsigned long long>(dropped), closeMs);
            pass = pass && dropped > 0 && closeMs < 1000;
        }
        if (!o.log.empty()) {
            w.close();
            extras.Stop();  // the log's last lines go out and the file is closed
            std::ifstream in(o.log);
            long lines = 0;
            for (std::string line; std::getline(in, line);) lines += line.find('#') != std::string::npos;
            std::printf("trace log           %ld lines in %s (%s)\n", lines, o.log.c_str(),
                        lines == sent ? "every frame" : "FRAMES MISSING");
            pass = pass && lines == sent;
        }
        if (serial) {
            std::printf("terminal full       %ld writes could not be taken whole at the bus's pace\n",
                        feeder->FullWrites());
            std::printf(
                "feeder's worst lag  %.1f ms behind the rate; %ld writes not taken whole while it "
                "caught up\n",
                feeder->WorstLagMs(), feeder->FullWritesCatchingUp());
            pass = pass && feeder->FullWrites() == 0;
        }
        if (mirror) {
            const bool allHeard = WaitUntil([&] { return listener.Heard() >= sent; }, 10000);
            const BusMirrorCounts c = mirror->Counts();
            std::printf(
                "on the bus          %ld heard by the listener; mirror wrote %llu, queue full %llu, "
                "lost otherwise %llu\n",
                listener.Heard(), static_cast<unsigned long long>(c.toBus),
                static_cast<unsigned long long>(c.toBusOverflow),
                static_cast<unsigned long long>(c.toBusLost));
            pass = pass && allHeard && listener.Heard() == sent && c.toBusOverflow == 0 && c.toBusLost == 0;
        }
    }
    mirrorTick.stop();
    if (mirror) {
        mirror->Detach();
        mirror->Stop();
    }
    listener.Close();
    std::printf("RESULT %s\n", pass ? "pass" : "fail");
    return pass ? 0 : 1;
}
