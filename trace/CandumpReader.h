// Lines of the Linux CAN utilities' log format (as CandumpLine.h writes them, and `candump -l` does)
// read back into what they record:
//
//   (1733655296.123000) can0 123#1122           11-bit 0x123, length 2, data 11 22
//   (1733655296.123000) can0 123#11.22.33       the same with '.' between bytes, length 3
//   (1733655296.123000) can0 1ABCDEF0#          29-bit (8 digits), length 0
//   (1733655296.123000) can0 123#R              remote frame, length 0;  123#R3: length 3
//   (1733655296.123000) can0 123#1122334455667788_C   length code 12 (over 8: 8 bytes)
//   (1733655296.123000) can0 20000088#0000040000000000  error frame (CAN_ERR_FLAG): bus error, stuff
//   (1733655296.123000) can0 123#1122 T         with `candump -x`'s direction: T sent, R received
//   (1733655296.123000) can0 123##311           CAN FD: not a classic frame, skipped (NotClassic)
//
// Up to nine digits after the point (microseconds kept), blanks of any width between fields, a CR before
// the line's end. The reader looks at no byte past the line it is given.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "BusEvent.h"
#include "CandumpLine.h"

namespace candump {

struct LogRecord {
    Timestamp time;
    std::string_view interface;  // points into the line
    // Kind Frame or BusError (errorFlags as FlagsOfErrorFrame gives them); arrivalUs is the time stamp,
    // adapterMs -1; `transmitted` from a T direction.
    BusEvent event;
};

enum class LineKind : uint8_t {
    Record,      // the record is filled in
    Blank,       // nothing but blanks
    NotClassic,  // a well-formed CAN FD line: no classic frame to give
    Malformed,   // `why` says what was expected
    End,         // LogReader: no more lines
    Failed,      // LogReader: the file could not be read on; `why` says why
};

struct LineResult {
    LineKind kind = LineKind::Malformed;
    const char *why = "";
};

// One line, without its '\n'.
LineResult ReadLogLine(std::string_view line, LogRecord &out);

// A log file line by line through one fixed buffer, so that a file of any size, or one long line without
// an end, costs no more memory than the buffer. A line longer than MaxLogLine is Malformed.
class LogReader {
public:
    static constexpr std::size_t MaxLogLine = 1024;
    static constexpr std::size_t BufferBytes = 64 * 1024;

    LogReader();
    ~LogReader();
    LogReader(const LogReader &) = delete;
    LogReader &operator=(const LogReader &) = delete;

    // Opens a file or a pipe (not a folder); "-" is standard input. False with the reason in `why`.
    bool Open(const std::string &path, std::string &why);
    // The next line: its kind, with `out` filled for a Record (its interface valid until the next call).
    LineResult Next(LogRecord &out);
    // The number of the line Next gave last, from 1.
    long Line() const { return line_; }

private:
    int fd_ = -1;
    bool ownFd_ = false;
    std::unique_ptr<char[]> buffer_;
    std::size_t start_ = 0, end_ = 0;
    bool discarding_ = false;  // within a line too long to keep
    bool eof_ = false;
    long line_ = 0;
    std::string error_;
};

}  // namespace candump
