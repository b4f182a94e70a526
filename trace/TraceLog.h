// The trace log: what the receive path decodes, appended to a file (or standard output) as lines of the
// `candump -l` format (CandumpLine.h). Each line's time comes from LogClock: the adapter's stamp where
// it is to be believed, else the PC's clock at arrival, never a step back.
//
//   a received frame      (1733655296.123000) can0 123#1122
//   a bus error report    (1733655296.125000) can0 20000088#0000040000000000
//   a frame the adapter sent for the bus mirror:  (1733655296.223000) can0 123#1122 T
//
// Thread contract: one thread at a time calls Log (the log's own output thread, OutputConsumer), and
// Open/Close around it. Lines are formatted into a fixed buffer and handed to the file at the end of every
// Log in writes of whole lines, so a crash leaves no half line. Nothing is allocated per event.
//
// A write error (disk full, file removed, read-only file system, reader of a pipe gone) is reported once
// through the error handler, on the calling thread; logging then stops and every further call returns at
// once. Failed() may be asked from any thread. A write to a pipe or terminal that does not take it waits
// for it, unless the stop descriptor (SetStopFd) is readable: then the log gives up what it holds.
#pragma once


#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <string_view>

#include "BusEvent.h"
#include "CandumpLine.h"
#include "LogClock.h"

// The system clock, microseconds since the epoch.
candump::Timestamp SystemClockStamp();

struct TraceLogOptions {
    std::string interfaceName{candump::DefaultInterfaceName};
    // Called once, on the thread whose write failed, with one line naming the file and the cause, and a
    // brief form without the file's name for a narrow status line ("log stopped: write failed: ...").
    std::function<void(const std::string &message, const std::string &brief)> onError;
};

class TraceLog final {
public:
    static constexpr std::size_t BufferSize = 64 * 1024;

    explicit TraceLog(TraceLogOptions options = {});
    ~TraceLog();  // writes what is buffered and closes
    TraceLog(const TraceLog &) = delete;
    TraceLog &operator=(const TraceLog &) = delete;

    // Opens `path` for appending, never truncated, under the rules of OpenOutputFile (SafeFile.h): never
    // through another user's link, into another user's file in a shared folder, or into a FIFO, socket or
    // device; a new file is 0666 less the umask in a folder of this user's alone, else 0600. "-" is
    // standard output, whatever it is. False, with `why` one line naming the path and the cause
    // ("trace log /tmp/bus.log not opened: it is a FIFO, not a regular file"), when it cannot be opened or
    // the interface name is not valid.
    bool Open(const std::string &path, std::string &why);
    // Logs to a descriptor the caller already has (a pipe, a socket, a file); `label` names it in
    // messages. Closed by Close() only when `owned`.
    bool OpenDescriptor(int fd, bool owned, const std::string &label, std::string &why);
    // Writes what is buffered and closes; false if the log stopped on a write error (already reported).
    bool Close();

    bool IsOpen() const { return fd_ >= 0; }  // on the logging thread
    bool Failed() const { return failed_.load(std::memory_order_relaxed); }

    // Every frame and bus error report among `events`, one line each (command reports make none), then
    // the lines go to the file.
    void Log(std::span<const BusEvent> events);

    // Whole lines formatted elsewhere (decoded signal values), written as Log writes its own.
    void WriteLines(std::string_view text);
    // The output was an empty file or a stream when it was opened: a header belongs at its top.
    bool StartsEmpty() const { return startsEmpty_; }

    // A descriptor that turns readable when the program stops (OutputConsumer::StopFd); -1: none.
    void SetStopFd(int fd) { stopFd_ = fd; }

private:
    // Room for one more line at the end of the buffer, writing the buffer out first if needed;
    // nullptr when logging has stopped.
    char *Reserve();
    bool NameValid(std::string &why) const;
    bool Flush();
    void Fail(const std::string &cause);
    void Fail(const std::string &cause, int error);
    bool WriteAll(const char *data, std::size_t size, std::size_t &written, int &error);
    void DropHalfLine(const char *data, std::size_t written);
    bool WriteChunk(const char *data, std::size_t size, std::size_t &written, int &error);
    int StopGraceMs();

    TraceLogOptions options_;
    LogClock stamps_;
    int stopFd_ = -1;
    // Once a stop is asked, a blocked output gets this long to take what is left.
    static constexpr std::chrono::milliseconds StopGrace{500};
    std::chrono::steady_clock::time_point stopSeen_{};
    std::unique_ptr<char[]> buffer_;
    std::size_t used_ = 0;
    int fd_ = -1;
    bool owned_ = false;
    bool regular_ = false;  // a regular file: its removal is noticed, a half line is cut off
    bool startsEmpty_ = true;
    std::string label_;
    std::atomic<bool> failed_{false};
};
