// The trace log: what the receive pump decodes, appended to a file (or standard output) as lines of the
// `candump -l` format (CandumpLine.h).
//
// Thread contract: one thread at a time calls the frame methods and EndOfPump (the thread that runs the
// receive pump, never the window thread), and Open/Close around them. Lines are formatted into a fixed
// buffer; EndOfPump hands the buffered lines to the file in one write(2) of whole lines, so every line
// is in the file by the end of the pump that decoded it and a crash leaves no half line. A buffer that
// fills up is written early, again at a line boundary. Nothing is allocated per frame.
//
// A write error (disk full, file removed, read-only file system, reader of a pipe gone) is reported once
// through the error handler, on the calling thread; logging then stops and every further call returns at
// once. Failed() may be asked from any thread.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "CandumpLine.h"
#include "LogClock.h"
#include "Decode.h"

// The system clock, microseconds since the epoch.
candump::Timestamp SystemClockStamp();

struct TraceLogOptions {
    std::string interfaceName{candump::DefaultInterfaceName};
    // Called once, on the thread whose write failed, with one line naming the file and the cause, and a
    // brief form without the file's name for a narrow status line ("log stopped: write failed: ...").
    std::function<void(const std::string &message, const std::string &brief)> onError;
    // True while the adapter's clock is known to have been set by this program since it was plugged in
    // (LogClock); null: never, every line then carries the PC's clock.
    const std::atomic<bool> *adapterClockSet = nullptr;
    // The PC's clock, read once per pump as the arrival time of what it decoded. A seam for tests.
    candump::Timestamp (*clock)() = SystemClockStamp;
};

class TraceLog final : public DecodeSink {
public:
    static constexpr std::size_t BufferSize = 64 * 1024;

    explicit TraceLog(TraceLogOptions options = {});
    ~TraceLog() override;  // writes what is buffered and closes
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

    // DecodeSink. The decoder hands frames over with their remote bit (CanFrameWithRemote); the plain
    // CanFrame logs a data frame.
    void CanFrameWithRemote(int Hour, int Minute, int Second, int Millisecond, uint32_t Identifier, uint8_t Info,
                            bool Remote, const uint8_t (&Data)[8]) override {
        CanFrame(Hour, Minute, Second, Millisecond, Identifier, Info, Remote, Data);
    }
    void CanFrame(int Hour, int Minute, int Second, int Millisecond, uint32_t Identifier, uint8_t Info,
                  const uint8_t (&Data)[8]) override;
    void BusError(uint8_t Flags) override;
    void CommandReport(uint8_t) override {}

    void CanFrame(int Hour, int Minute, int Second, int Millisecond, uint32_t Identifier, uint8_t Info,
                  bool Remote, const uint8_t (&Data)[8]);
    // The end of one pump: the lines buffered so far go to the file.
    void EndOfPump() override;

    // A frame the adapter transmitted for another node (the bus mirror), stamped `time` (the PC's clock
    // when its command was written) and marked as sent (FormatSentFrame); written out at once with what
    // is buffered. The same thread contract as the frame methods: where the pump runs on another thread,
    // the caller holds the pump gate (EnterPumpGate) around the call.
    void SentFrame(candump::Timestamp time, uint32_t Identifier, uint8_t Info, bool Remote,
                   const uint8_t (&Data)[8]);

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
    candump::Timestamp StampLine(int32_t adapterMs);

    TraceLogOptions options_;
    LogClock stamps_;
    // The arrival time and clock state of the pump under way, read at its first line; unset between pumps.
    bool pumpStarted_ = false;
    int64_t pumpArrivalUs_ = 0;
    bool pumpClockSet_ = false;
    std::unique_ptr<char[]> buffer_;
    std::size_t used_ = 0;
    int fd_ = -1;
    bool owned_ = false;
    bool regular_ = false;  // a regular file: its removal is noticed, a half line is cut off
    std::string label_;
    std::atomic<bool> failed_{false};
};
