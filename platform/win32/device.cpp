#include <cstdlib>
#include <cstring>
#include "platform/win32/detail/handles.h"
#include "platform/win32/file.h"
#include "platform/win32/serial.h"

namespace win32::detail {

// "\\.\COMn" (any case, n = 1..256, no leading zeros) is the only device namespace there is.
HANDLE OpenDevice(LPCSTR name, DWORD access, DWORD, DWORD disposition, DWORD) {
  const char* p = name + 4;  // past "\\.\"
  auto upper = [](char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c; };
  bool com = upper(p[0]) == 'C' && upper(p[1]) == 'O' && upper(p[2]) == 'M';
  int n = 0;
  const char* d = p + 3;
  if (com && *d >= '1' && *d <= '9') {
    for (; *d >= '0' && *d <= '9' && n <= 256; ++d) n = n * 10 + (*d - '0');
  }
  if (!com || *d != '\0' || n < 1 || n > 256) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
  }
  if (disposition != OPEN_EXISTING) {
    // A device can be opened, never created or truncated.
    SetLastError(ERROR_INVALID_PARAMETER);
    return INVALID_HANDLE_VALUE;
  }
  return OpenComPort(n, access);
}

}  // namespace win32::detail
