// Small stateless routines shared by the protocol and the window.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

// XOR of Count bytes from Data on, starting from 0: the one checksum routine of the frame format.
uint8_t XorBytes(const uint8_t *Data, std::size_t Count);

// XOR of Data[From] .. Data[To], both ends included, starting from 0; 0 when To < From.
// Example: the frame FA F5 06 00 06 AF 5F -> XorChecksum(f, 2, 3) == 0x06, XorChecksum(f, 2, 4) == 0x00.
uint8_t XorChecksum(const uint8_t *Data, uint8_t From, uint8_t To);

// True for a possible time of day: Hour <= 23, Minute <= 59, Second <= 59, Millisecond <= 999.
bool TimeValid(int Hour, int Minute, int Second, int Millisecond);

// Two or three decimal digits with leading zeros; a value out of range (negative, or above 99 / 999)
// counts as 0. ZeroPad2(7) == "07", ZeroPad2(100) == "00", ZeroPad3(42) == "042".
std::string ZeroPad2(int n);
std::string ZeroPad3(int n);

// Hex digit tests with ASCII case folding; a non-digit has the value 0.
bool IsHexDigit(char C);
int HexDigitValue(char C);

// Every character is a hex digit, a non-digit counting as 0; higher bits shift out of the 32.
// "2B6" -> 0x2B6, "1 2" -> 0x102, "0x2B6" -> 0x2B6, "123456789" -> 0x23456789, "" -> 0.
uint32_t HexToInt(std::string_view Text);

// Pairs hex digits from the left within each run of digits; any other character ends a run, and a run of
// odd length ends with a one-digit byte. Fills Data[0..7] (zeroed first) and returns the count.
// "FF 7B 4A E8 AD" and "FF7B4AE8AD" -> FF 7B 4A E8 AD; "F 7B" -> 0F 7B; "ABC" -> AB 0C; "1,2;3" -> 01 02 03.
// Groups after the eighth are ignored: the count never exceeds 8.
int ParseHexBytes(std::string_view Text, uint8_t (&Data)[8]);

// ---- Delay -------------------------------------------------------------------------------------

// 32-bit millisecond tick (wraps after about 49.7 days), from a monotonic clock.
uint32_t GetTickCount();

// What Delay uses; tests replace them. `Tick` reads the clock. `Dispatch` handles the window events
// already pending and returns without waiting for more. `Wait` sleeps until a window event arrives (and
// handles it) or `maxWaitMs` have passed, whichever comes first; the handlers either one runs may take
// longer than that, and Delay measures what is left afterwards.
struct DelayHooks {
    uint32_t (*Tick)() = &GetTickCount;
    void (*Dispatch)() = nullptr;                // nullptr: the running application's pending events
    void (*Wait)(uint32_t maxWaitMs) = nullptr;  // nullptr: sleep in the running application's event loop
};
void SetDelayHooks(const DelayHooks &hooks);
DelayHooks DefaultDelayHooks();

// Waits at least `Milliseconds` (measured as the 32-bit unsigned difference of ticks, so it survives the
// wrap) while dispatching window events, without keeping a core busy, and returns at the first test of
// the clock after that time. 0 returns at once, dispatching nothing. Handlers run inside the wait (a
// second command sequence among them) hold it up by their own duration only: once they are done and the
// time is up, it returns without waiting again.
void Delay(uint32_t Milliseconds);
