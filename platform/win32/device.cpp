#include "platform/win32/detail/handles.h"

namespace win32::detail {

// No devices until the serial layer provides them.
HANDLE OpenDevice(LPCSTR, DWORD, DWORD, DWORD, DWORD) {
  SetLastError(ERROR_FILE_NOT_FOUND);
  return INVALID_HANDLE_VALUE;
}

}  // namespace win32::detail
