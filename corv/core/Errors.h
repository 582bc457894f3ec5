// Result codes shared by every engine and the Windows Sockets error texts.
// Free of framework headers, so engines can include it.
#pragma once
#include <cstddef>
#include <cstdint>

// 0 is success; 1..999 are the library's own codes; 10004..11004 are Windows Sockets numbers.
inline constexpr int CORV_OK = 0;
inline constexpr int CORV_OUT_OF_MEMORY = 200;
inline constexpr int CORV_INTERRUPTED = 301;  // interrupted, timed out or stopped waiting
inline constexpr int CORV_INDEX_RANGE = 432;  // string-list index out of range

struct WinsockErrorEntry {
  std::uint16_t code;
  const char* text;
};
// 50 rows in search order, then a row with code 0 and no text.
extern const WinsockErrorEntry WinsockErrorTable[51];

// Room that every "[code] text" of the table needs, terminator included.
inline constexpr std::size_t CORV_ERROR_TEXT_SIZE = 84;

// Writes "[code] text", or "[code] (no description available)" for a code not in the table,
// into buffer (at most size bytes, always terminated). The code is looked up and printed as
// an unsigned 16-bit value. Returns 0 when found, 1 when not.
int FormatWinsockError(int code, char* buffer, std::size_t size = CORV_ERROR_TEXT_SIZE);
