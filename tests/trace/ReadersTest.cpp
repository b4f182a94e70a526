// A log written by the writer, read back by the tools users hand it to: can-utils' log2asc and
// python-can's log reader must find the same frames, times and error frames that went in. Each test is
// skipped when its tool is not installed (Debian packages can-utils and python3-can).
#include <QProcess>
#include <QStandardPaths>
#include <cstdio>
#include <sstream>
#include <vector>

#include "TraceSupport.h"

namespace {

// Frames in arrival order, each read in a pump of its own at `arrivalUs`, and the time the log must give
// it; the bus errors come in the first pump, stamped on its arrival. Across midnight a frame lands on the
// day nearest the PC's clock; after a replug the adapter counts from midnight and its time is not used
// until it is set again; no line steps back.
constexpr int64_t Us = 1000000;
constexpr int64_t Dec8 = int64_t{1733616000} * Us;  // 2024-12-08 00:00 UTC
constexpr int64_t AtMs(int64_t day, int h, int m, int s, int ms) {
    return Dec8 + day * 86400 * Us + ((h * 60 + m) * 60 + s) * Us + ms * 1000;
}
struct LoggedFrame {
    TestFrame frame;
    bool clockSet;
    int64_t arrivalUs, loggedUs;
};
const std::vector<LoggedFrame> Frames = {
    {{10, 54, 56, 123, 0x123, 8, false, {0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88}}, true,
     AtMs(0, 10, 54, 56, 125), AtMs(0, 10, 54, 56, 123)},
    {{10, 54, 56, 124, 0x1ABCDEF0, 0x18, false, {0xDE, 0xAD, 0xBE, 0xEF, 0x00, 0x01, 0x02, 0xFF}}, true,
     AtMs(0, 10, 54, 56, 126), AtMs(0, 10, 54, 56, 125)},  // not before the bus errors above it
    {{10, 54, 56, 126, 0x7FF, 0, false, {}}, true, AtMs(0, 10, 54, 56, 128), AtMs(0, 10, 54, 56, 126)},
    {{10, 54, 56, 127, 0x123, 0, true, {}}, true, AtMs(0, 10, 54, 56, 129), AtMs(0, 10, 54, 56, 127)},
    {{10, 54, 56, 128, 0x12345678, 0x13, true, {}}, true, AtMs(0, 10, 54, 56, 130), AtMs(0, 10, 54, 56, 128)},
    {{23, 59, 59, 999, 0x001, 1, false, {0xA5}}, true, AtMs(1, 0, 0, 0, 1), AtMs(0, 23, 59, 59, 999)},
    {{0, 0, 0, 1, 0x002, 2, false, {0x5A, 0x0F}}, true, AtMs(1, 0, 0, 0, 3), AtMs(1, 0, 0, 0, 1)},
    {{0, 0, 5, 51, 0x1E2, 0, false, {}}, false, AtMs(1, 15, 18, 0, 0), AtMs(1, 15, 18, 0, 0)},  // replugged
    {{15, 18, 0, 100, 0x003, 1, false, {0x01}}, true, AtMs(1, 15, 18, 0, 103), AtMs(1, 15, 18, 0, 100)},
};
const std::vector<uint8_t> ErrorFlags = {0x08, 0x04, 0x02, 0x01};
const int64_t FirstUs = Frames[0].loggedUs;

struct Expected {
    bool error;
    int64_t micros;  // since the first line
    uint32_t identifier;
    bool extended, remote;
    int length;
    std::vector<uint8_t> data;
};

// What a reader must find, worked out from the frames, not from the lines.
std::vector<Expected> ExpectedFrames() {
    std::vector<Expected> out;
    for (std::size_t i = 0; i < Frames.size(); ++i) {
        const TestFrame &f = Frames[i].frame;
        const int length = f.info & 0x0F;
        out.push_back({false, Frames[i].loggedUs - FirstUs, f.identifier, (f.info & 0x10) != 0, f.remote, length,
                       f.remote ? std::vector<uint8_t>{} : std::vector<uint8_t>(f.data, f.data + length)});
        if (i == 0)
            for (std::size_t e = 0; e < ErrorFlags.size(); ++e)
                out.push_back({true, Frames[0].arrivalUs - FirstUs, 0, false, false, 0, {}});
    }
    return out;
}

class TraceReaders : public ::testing::Test {
protected:
    ScopedTimeZone zone{"UTC"};
    QTemporaryDir dir;
    std::string path = (dir.path() + "/trace.log").toStdString();

    void SetUp() override {
        TraceLog log(TestOptions());
        std::string why;
        ASSERT_TRUE(log.Open(path, why)) << why;
        for (std::size_t i = 0; i < Frames.size(); ++i) {
            std::vector<BusEvent> read{EventOf(Frames[i].frame, Frames[i].arrivalUs, Frames[i].clockSet)};
            if (i == 0)
                for (const uint8_t flags : ErrorFlags) read.push_back(ErrorEvent(flags, Frames[i].arrivalUs));
            log.Log(read);
        }
        ASSERT_TRUE(log.Close());
    }

    // Runs a program to its end; its standard output, or nothing with a test failure.
    static std::string Run(const QString &program, const QStringList &arguments) {
        QProcess process;
        process.start(program, arguments);
        if (!process.waitForFinished(60000)) {
            ADD_FAILURE() << program.toStdString()
                          << " did not finish: " << process.errorString().toStdString();
            return {};
        }
        EXPECT_EQ(process.exitCode(), 0)
            << program.toStdString() << ": " << process.readAllStandardError().toStdString();
        return process.readAllStandardOutput().toStdString();
    }
};

std::vector<std::string> Lines(const std::string &text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        if (!line.empty()) lines.push_back(line);
    return lines;
}

std::string Hex(const std::vector<uint8_t> &data, const char *separator) {
    std::string out;
    char byte[3];
    for (std::size_t i = 0; i < data.size(); ++i) {
        std::snprintf(byte, sizeof byte, "%02X", data[i]);
        if (i) out += separator;
        out += byte;
    }
    return out;
}

TEST_F(TraceReaders, Log2AscFindsTheSameFrames) {
    const QString log2asc = QStandardPaths::findExecutable(QStringLiteral("log2asc"));
    if (log2asc.isEmpty()) GTEST_SKIP() << "log2asc not installed (Debian package can-utils)";
    const std::string asc =
        Run(log2asc, {QStringLiteral("-I"), QString::fromStdString(path), QStringLiteral("brisklet0")});

    // log2asc numbers the interfaces it is given from 1 and times lines from the first one:
    //    0.000000 1  123             Rx   d 8 11 22 33 44 55 66 77 88
    //    0.001000 1  12345678x       Rx   r 3
    //    0.000000 1  ErrorFrame
    std::vector<std::string> want;
    for (const Expected &e : ExpectedFrames()) {
        char head[64];
        std::snprintf(head, sizeof head, "%lld.%06lld 1 ", static_cast<long long>(e.micros / 1000000),
                      static_cast<long long>(e.micros % 1000000));
        if (e.error) {
            want.push_back(std::string(head) + "ErrorFrame");
            continue;
        }
        char id[16];
        std::snprintf(id, sizeof id, e.extended ? "%Xx" : "%X", e.identifier);
        std::string line =
            std::string(head) + id + " Rx " + (e.remote ? "r " : "d ") + std::to_string(e.length);
        if (!e.remote && e.length) line += " " + Hex(e.data, " ");
        want.push_back(line);
    }
    std::vector<std::string> got;
    for (const std::string &line : Lines(asc)) {
        std::istringstream words(line);
        std::string word, joined;
        while (words >> word) joined += (joined.empty() ? "" : " ") + word;
        if (!joined.empty() && std::isdigit(static_cast<unsigned char>(joined[0]))) got.push_back(joined);
    }
    EXPECT_EQ(got, want) << asc;
}

TEST_F(TraceReaders, PythonCanFindsTheSameFrames) {
    // Debian's python3-can is installed for Debian's own Python.
    QString python;
    for (const QString &candidate : {QStringLiteral("/usr/bin/python3"), QStringLiteral("python3")}) {
        QProcess probe;
        probe.start(candidate, {QStringLiteral("-c"), QStringLiteral("import can")});
        if (probe.waitForFinished(60000) && probe.exitStatus() == QProcess::NormalExit &&
            probe.exitCode() == 0) {
            python = candidate;
            break;
        }
    }
    if (python.isEmpty()) GTEST_SKIP() << "python-can not installed (Debian package python3-can)";

    const QString script = QStringLiteral(R"(
import sys, can
for m in can.CanutilsLogReader(sys.argv[1]):
    if m.is_error_frame:
        print('%.6f E' % m.timestamp)
    else:
        print('%.6f %X %d %d %d %s' % (m.timestamp, m.arbitration_id, m.is_extended_id, m.is_remote_frame,
                                     m.dlc, bytes(m.data or b'').hex().upper()))
)");
    const std::string read = Run(python, {QStringLiteral("-c"), script, QString::fromStdString(path)});

    std::vector<std::string> want;
    for (const Expected &e : ExpectedFrames()) {
        const int64_t at = FirstUs + e.micros;
        char line[128];
        if (e.error)
            std::snprintf(line, sizeof line, "%lld.%06lld E", static_cast<long long>(at / 1000000),
                          static_cast<long long>(at % 1000000));
        else
            std::snprintf(line, sizeof line, "%lld.%06lld %X %d %d %d %s",
                          static_cast<long long>(at / 1000000), static_cast<long long>(at % 1000000),
                          e.identifier, e.extended, e.remote, e.length, Hex(e.data, "").c_str());
        want.push_back(line);
    }
    EXPECT_EQ(Lines(read), want) << read;
}

}  // namespace
