// The received-frame display's counters and texts.
//
// The counters live as long as the process. The receive pump adds to them on whichever thread it runs,
// and the clear button zeroes them on the window thread, hence atomics; the labels showing them are
// only ever written on the window thread.
#pragma once

#include <QString>
#include <atomic>
#include <cstdint>

extern std::atomic<int32_t> MessageCount;     // frames shown since start or the last clear
extern std::atomic<int32_t> StuffErrorCount;  // bus error reports with bit 0x08
extern std::atomic<int32_t> CrcErrorCount;    // 0x04
extern std::atomic<int32_t> FormErrorCount;   // 0x02
extern std::atomic<int32_t> AckErrorCount;    // 0x01

// 9, 5, 3, 7 -> "9:05:03.007"; the hour has no leading zero and no range rule.
QString ArrivalTimeText(int Hour, int Minute, int Second, int Millisecond);
// Eight capital hex digits: 0x2B6 -> "000002B6".
QString IdentifierText(uint32_t Identifier);
// Each of the first Count (at most 8) bytes as two capital hex digits followed by two blanks:
// FF 7B, 2 -> "FF  7B  "; a Count of 0 or less gives "".
QString DataBytesText(const uint8_t *Data, int Count);
// "Stuff: 1, CRC: 2, Form: 0, Ack: 0" from the current counters.
QString ErrorHintText();
