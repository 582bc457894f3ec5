// Kernel objects behind HANDLE values: files, serial ports, registry keys. Internal to the
// platform layer.
#pragma once
#include <memory>
#include "platform/win32/types.h"

namespace win32::detail {

class KernelObject {
 public:
  virtual ~KernelObject() = default;
  // Each returns FALSE with SetLastError on failure; the defaults fail with
  // ERROR_INVALID_FUNCTION.
  virtual BOOL Read(void* buffer, DWORD toRead, DWORD* read);
  virtual BOOL Write(const void* buffer, DWORD toWrite, DWORD* written);
  virtual DWORD Seek(LONG distance, PLONG distanceHigh, DWORD method);
  virtual DWORD Size(DWORD* high);
  // Called by CloseHandle before the object is destroyed.
  virtual BOOL Close() { return TRUE; }
};

// Takes ownership; handle values are never reused while the process runs.
HANDLE AddHandle(std::unique_ptr<KernelObject> object);
KernelObject* FromHandle(HANDLE handle);
template <class T>
T* HandleAs(HANDLE handle) {
  return dynamic_cast<T*>(FromHandle(handle));
}
// Removes and destroys the object; false for an unknown handle.
bool RemoveHandle(HANDLE handle);

// CreateFileA hands names beginning with "\\.\" here (serial ports). Returns
// INVALID_HANDLE_VALUE with the last error set on failure.
HANDLE OpenDevice(LPCSTR name, DWORD access, DWORD shareMode, DWORD disposition, DWORD flags);

}  // namespace win32::detail
