#include "platform/win32/registry.h"

#include <cstring>
#include <memory>

#include "platform/win32/detail/handles.h"

namespace win32 {
namespace {

std::string Lower(const char* s) {
  std::string out(s);
  for (char& c : out) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return out;
}

class RegistryKey : public detail::KernelObject {
 public:
  std::map<std::string, RegistryValue> values;  // by lower-case name
};

RegistryKey* KeyOf(HKEY key) {
  return detail::HandleAs<RegistryKey>(reinterpret_cast<HANDLE>(key));
}

}  // namespace

HKEY CreateRegistryKey(const std::map<std::string, RegistryValue>& values) {
  auto key = std::make_unique<RegistryKey>();
  for (const auto& [name, value] : values) key->values[Lower(name.c_str())] = value;
  return reinterpret_cast<HKEY>(detail::AddHandle(std::move(key)));
}

}  // namespace win32

LONG RegQueryValueExA(HKEY key, LPCSTR valueName, LPDWORD reserved, LPDWORD type, BYTE* data,
                      LPDWORD dataSize) {
  win32::RegistryKey* k = win32::KeyOf(key);
  if (k == nullptr) return static_cast<LONG>(ERROR_INVALID_HANDLE);
  if (reserved != nullptr || (data != nullptr && dataSize == nullptr)) {
    return static_cast<LONG>(ERROR_INVALID_PARAMETER);
  }
  const auto it = k->values.find(win32::Lower(valueName != nullptr ? valueName : ""));
  if (it == k->values.end()) return static_cast<LONG>(ERROR_FILE_NOT_FOUND);
  const win32::RegistryValue& v = it->second;
  if (type != nullptr) *type = v.type;
  if (dataSize == nullptr) return static_cast<LONG>(ERROR_SUCCESS);
  const DWORD needed = static_cast<DWORD>(v.bytes.size());
  if (data != nullptr) {
    if (*dataSize < needed) {
      *dataSize = needed;
      return static_cast<LONG>(ERROR_MORE_DATA);
    }
    std::memcpy(data, v.bytes.data(), needed);
  }
  *dataSize = needed;
  return static_cast<LONG>(ERROR_SUCCESS);
}

LONG RegCloseKey(HKEY key) {
  const HANDLE h = reinterpret_cast<HANDLE>(key);
  if (win32::detail::HandleAs<win32::RegistryKey>(h) == nullptr) {
    return static_cast<LONG>(ERROR_INVALID_HANDLE);
  }
  win32::detail::RemoveHandle(h);
  return static_cast<LONG>(ERROR_SUCCESS);
}
