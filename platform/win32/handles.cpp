#include "platform/win32/detail/handles.h"

#include <map>
#include <mutex>

#include "platform/win32/file.h"

namespace win32::detail {
namespace {

struct Table {
  std::mutex mutex;
  std::map<std::uintptr_t, std::unique_ptr<KernelObject>> objects;
  // Multiples of 4 as on Windows; far from 0 and from INVALID_HANDLE_VALUE.
  std::uintptr_t last = 0x100;
};

Table& Handles() {
  static Table* t = new Table;
  return *t;
}

}  // namespace

BOOL KernelObject::Read(void*, DWORD, DWORD*) {
  SetLastError(ERROR_INVALID_FUNCTION);
  return FALSE;
}

BOOL KernelObject::Write(const void*, DWORD, DWORD*) {
  SetLastError(ERROR_INVALID_FUNCTION);
  return FALSE;
}

DWORD KernelObject::Seek(LONG, PLONG, DWORD) {
  SetLastError(ERROR_INVALID_FUNCTION);
  return INVALID_SET_FILE_POINTER;
}

DWORD KernelObject::Size(DWORD*) {
  SetLastError(ERROR_INVALID_FUNCTION);
  return INVALID_FILE_SIZE;
}

HANDLE AddHandle(std::unique_ptr<KernelObject> object) {
  if (!object) return INVALID_HANDLE_VALUE;
  Table& t = Handles();
  std::lock_guard lock(t.mutex);
  t.last += 4;
  t.objects.emplace(t.last, std::move(object));
  return reinterpret_cast<HANDLE>(t.last);
}

KernelObject* FromHandle(HANDLE handle) {
  Table& t = Handles();
  std::lock_guard lock(t.mutex);
  auto it = t.objects.find(reinterpret_cast<std::uintptr_t>(handle));
  return it == t.objects.end() ? nullptr : it->second.get();
}

bool RemoveHandle(HANDLE handle) {
  std::unique_ptr<KernelObject> doomed;
  {
    Table& t = Handles();
    std::lock_guard lock(t.mutex);
    auto it = t.objects.find(reinterpret_cast<std::uintptr_t>(handle));
    if (it == t.objects.end()) return false;
    doomed = std::move(it->second);
    t.objects.erase(it);
  }
  // Destroyed outside the lock: a destructor may itself use handles.
  return true;
}

}  // namespace win32::detail
