// The received-frame display's counters and texts.
//
// The counters live as long as the process. The receive pump adds to them on whichever thread it runs,
// and the clear button zeroes them on the window thread, hence atomics; the labels showing them are
// only ever written on the window thread.
//
// 64 bits: a saturated bus brings some 21,000 frames or error reports a second, which would carry a 32-bit
// count past its top within days of running. Counting one at a time from 0, a 64-bit count cannot reach
// its top in any run (at ten million a second it would take 29,000 years), so a shown count is never
// negative or wrapped; signed, so that it compares with plain integers without surprises.
#pragma once

#include <QString>
#include <atomic>
#include <cstdint>

extern std::atomic<int64_t> MessageCount;     // frames shown since start or the last clear
extern std::atomic<int64_t> StuffErrorCount;  // bus error reports with bit 0x08
extern std::atomic<int64_t> CrcErrorCount;    // 0x04
extern std::atomic<int64_t> FormErrorCount;   // 0x02
extern std::atomic<int64_t> AckErrorCount;    // 0x01

// 9, 5, 3, 7 -> "9:05:03.007"; the hour has no leading zero and no range rule.
QString ArrivalTimeText(int Hour, int Minute, int Second, int Millisecond);
// Eight capital hex digits: 0x2B6 -> "000002B6".
QString IdentifierText(uint32_t Identifier);
// Each of the first Count (at most 8) bytes as two capital hex digits followed by two blanks:
// FF 7B, 2 -> "FF  7B  "; a Count of 0 or less gives "".
QString DataBytesText(const uint8_t *Data, int Count);
// "Stuff: 1, CRC: 2, Form: 0, Ack: 0" from the current counters.
QString ErrorHintText();
// The sum of the four error counters, held at INT64_MAX rather than wrapping past it.
int64_t ErrorTotal();
