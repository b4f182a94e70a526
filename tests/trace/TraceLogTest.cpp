// The writer: lines reach the file whole by the end of each batch, the file is appended to, and a write
// error is reported once and stops the log without harming the caller.
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <memory>
#include <vector>

#include "TraceSupport.h"

namespace {

const std::string Line1234 = "(1733661296.999000) brisklet0 123#1122\n";  // 12:34:56.999, 2024-12-08 UTC

class TraceLogFile : public ::testing::Test {
protected:
    ScopedTimeZone zone{"UTC"};
    QTemporaryDir dir;
    std::string path = (dir.path() + "/trace.log").toStdString();
    std::vector<std::string> errors;

    std::unique_ptr<TraceLog> MakeLog(TraceLogOptions options = TestOptions()) {
        options.onError = [this](const std::string &message, const std::string &) { errors.push_back(message); };
        return std::make_unique<TraceLog>(std::move(options));
    }
    static BusEvent Event1234() { return EventOf({12, 34, 56, 999, 0x123, 2, false, {0x11, 0x22}}); }
    static void Frame1234(TraceLog &log) { LogRead(log, {Event1234()}); }
    // A device is no log file: the full disk comes in as a descriptor.
    static bool OpenDevFull(TraceLog &log, std::string &why) {
        return log.OpenDescriptor(::open("/dev/full", O_WRONLY | O_CLOEXEC), true, "/dev/full", why);
    }
};

TEST_F(TraceLogFile, WritesEachKindOfLineByTheEndOfTheBatch) {
    auto log = MakeLog();
    std::string why;
    ASSERT_TRUE(log->Open(path, why)) << why;
    BusEvent sent = EventOf({0, 0, 0, 0, 0x7FF, 1, false, {0xAB}}, DefaultTestNowUs + 1000);
    sent.transmitted = true;  // the adapter sent it for the bus mirror: stamped on the PC's clock
    LogRead(*log, {Event1234(), EventOf({12, 34, 57, 0, 0x1ABCDEF0, 0x10, true, {}}), ErrorEvent(0x0C),
                   ReportEvent(10), sent});
    EXPECT_EQ(ReadFile(path), Line1234 +
                                  "(1733661297.000000) brisklet0 1ABCDEF0#R\n"
                                  "(1733661297.000000) brisklet0 20000088#0000040800000000\n"
                                  "(1733661297.001000) brisklet0 7FF#AB T\n");
    EXPECT_TRUE(errors.empty());
}

TEST_F(TraceLogFile, AppendsToAnExistingFileAndCreatesWithTheUmask) {
    const mode_t oldMask = ::umask(022);
    {
        auto log = MakeLog();
        std::string why;
        ASSERT_TRUE(log->Open(path, why)) << why;
        Frame1234(*log);
    }
    ::umask(oldMask);
    struct stat st {};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0644u);

    TraceLogOptions options = TestOptions();
    options.interfaceName = "can7";
    auto log = MakeLog(options);
    std::string why;
    ASSERT_TRUE(log->Open(path, why)) << why;
    LogRead(*log, {EventOf({12, 34, 57, 0, 0x7FF, 0, false, {}})});
    log->Close();
    EXPECT_EQ(ReadFile(path), Line1234 + "(1733661297.000000) can7 7FF#\n");
}

// More lines in one batch than the buffer holds: the buffer is written early, always whole lines.
TEST_F(TraceLogFile, AFullBufferIsWrittenAtALineBoundary) {
    auto log = MakeLog();
    std::string why;
    ASSERT_TRUE(log->Open(path, why)) << why;
    const std::size_t lines = 3 * TraceLog::BufferSize / Line1234.size();
    const std::vector<BusEvent> batch(lines, Event1234());
    log->Log(batch);
    const std::string text = ReadFile(path);
    ASSERT_EQ(text.size(), lines * Line1234.size());
    for (std::size_t at = 0; at < text.size(); at += Line1234.size())
        ASSERT_EQ(text.compare(at, Line1234.size(), Line1234), 0) << "at byte " << at;
}

TEST_F(TraceLogFile, OpenFailsWithAReason) {
    auto log = MakeLog();
    std::string why;
    const std::string missing = dir.path().toStdString() + "/no/such/folder/trace.log";
    EXPECT_FALSE(log->Open(missing, why));
    EXPECT_NE(why.find(missing), std::string::npos) << why;
    EXPECT_FALSE(log->Open(dir.path().toStdString(), why));
    EXPECT_NE(why.find("directory"), std::string::npos) << why;
    EXPECT_FALSE(log->IsOpen());

    TraceLogOptions options = TestOptions();
    options.interfaceName = "two words";
    auto named = MakeLog(options);
    EXPECT_FALSE(named->Open(path, why));
    EXPECT_NE(why.find("two words"), std::string::npos) << why;
    EXPECT_FALSE(QFile::exists(QString::fromStdString(path))) << "a bad name creates no file";
    EXPECT_TRUE(errors.empty());
}

// How each kind of write error is brought about on a log that is already open.
enum class Breakage { DiskFull, PipeReaderGone, FileRemoved, SizeLimit };

struct BreakRow {
    const char *what;
    Breakage how;
    const char *cause;  // in the message
};

class TraceLogBreaks : public TraceLogFile, public ::testing::WithParamInterface<BreakRow> {};

TEST_P(TraceLogBreaks, ReportsOnceAndStops) {
    auto log = MakeLog();
    std::string why;
    int pipeEnds[2] = {-1, -1};
    rlimit oldLimit{};
    switch (GetParam().how) {
        case Breakage::DiskFull: ASSERT_TRUE(OpenDevFull(*log, why)) << why; break;
        case Breakage::PipeReaderGone:
            ASSERT_EQ(::pipe2(pipeEnds, O_CLOEXEC), 0);
            ASSERT_TRUE(log->OpenDescriptor(pipeEnds[1], true, "pipe", why)) << why;
            ::close(pipeEnds[0]);  // SIGPIPE would end this test program
            break;
        case Breakage::FileRemoved:
            ASSERT_TRUE(log->Open(path, why)) << why;
            Frame1234(*log);
            ASSERT_EQ(::unlink(path.c_str()), 0);
            break;
        case Breakage::SizeLimit: {
            // The file may grow to one and a half lines: the next write stops inside a line.
            ASSERT_TRUE(log->Open(path, why)) << why;
            Frame1234(*log);
            ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &oldLimit), 0);
            rlimit limit = oldLimit;
            limit.rlim_cur = Line1234.size() + Line1234.size() / 2;
            ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &limit), 0);
            break;
        }
    }

    LogRead(*log, {Event1234(), Event1234(), Event1234()});
    if (GetParam().how == Breakage::SizeLimit) ::setrlimit(RLIMIT_FSIZE, &oldLimit);

    ASSERT_EQ(errors.size(), 1u);
    EXPECT_NE(errors[0].find(GetParam().cause), std::string::npos) << errors[0];
    EXPECT_NE(errors[0].find("logging stopped"), std::string::npos) << errors[0];
    EXPECT_TRUE(log->Failed());
    EXPECT_FALSE(log->IsOpen());

    // Stopped: further frames and pumps neither write nor report again.
    for (int i = 0; i < 3; ++i) LogRead(*log, {Event1234(), ErrorEvent(1)});
    EXPECT_FALSE(log->Close());
    EXPECT_EQ(errors.size(), 1u);

    if (GetParam().how == Breakage::SizeLimit) {
        EXPECT_EQ(ReadFile(path), Line1234) << "the half line the failed write left was cut off";
    }
}

INSTANTIATE_TEST_SUITE_P(
    Errors, TraceLogBreaks,
    ::testing::Values(BreakRow{"DiskFull", Breakage::DiskFull, "No space left on device"},
                      BreakRow{"PipeReaderGone", Breakage::PipeReaderGone, "Broken pipe"},
                      BreakRow{"FileRemoved", Breakage::FileRemoved, "removed"},
                      BreakRow{"SizeLimit", Breakage::SizeLimit, "File too large"}),
    [](const auto &info) { return std::string(info.param.what); });

TEST_F(TraceLogFile, AFailedLogCanBeOpenedAgain) {
    auto log = MakeLog();
    std::string why;
    ASSERT_TRUE(OpenDevFull(*log, why)) << why;
    Frame1234(*log);
    ASSERT_TRUE(log->Failed());
    ASSERT_TRUE(log->Open(path, why)) << why;
    EXPECT_FALSE(log->Failed());
    Frame1234(*log);
    EXPECT_EQ(ReadFile(path), Line1234);
}

}  // namespace
