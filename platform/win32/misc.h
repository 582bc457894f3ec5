// Time, code page and formatted text.
#pragma once
#include "platform/win32/types.h"

struct SYSTEMTIME {
  WORD wYear;
  WORD wMonth;
  WORD wDayOfWeek;
  WORD wDay;
  WORD wHour;
  WORD wMinute;
  WORD wSecond;
  WORD wMilliseconds;
};

// Milliseconds since the system started, wrapping at 2^32.
DWORD GetTickCount();
void GetSystemTime(SYSTEMTIME* time);
// 1252, or 932 when the locale's character set is Shift_JIS.
UINT GetACP();
// Formats like Windows' wsprintfA: %d %i %u %x %X %c %s %ld %lu %lx %hd %hu, flags "-" and "0",
// width; no floating point; at most 1024 bytes written including the terminator.
int wsprintfA(LPSTR out, LPCSTR format, ...);

namespace win32::test {
// Adds to what GetTickCount returns, so tests can put the tick count near its wrap.
void SetTickOffset(DWORD offset);
}  // namespace win32::test
