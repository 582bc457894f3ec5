// Registry keys as far as device listing needs them: keys handed out by the configuration
// manager, read with RegQueryValueExA and closed with RegCloseKey. Nothing is ever written back.
#pragma once
#include <map>
#include <string>
#include "platform/win32/types.h"

using REGSAM = DWORD;
inline constexpr REGSAM KEY_QUERY_VALUE = 0x0001;
inline constexpr REGSAM KEY_SET_VALUE = 0x0002;
inline constexpr REGSAM KEY_READ = 0x20019;

inline constexpr DWORD REG_NONE = 0;
inline constexpr DWORD REG_SZ = 1;
inline constexpr DWORD REG_BINARY = 3;
inline constexpr DWORD REG_DWORD = 4;

// Returns ERROR_SUCCESS; ERROR_FILE_NOT_FOUND for a missing value; ERROR_MORE_DATA, with the
// size needed in *dataSize and nothing written, when the buffer is too small.
LONG RegQueryValueExA(HKEY key, LPCSTR valueName, LPDWORD reserved, LPDWORD type, BYTE* data,
                      LPDWORD dataSize);
LONG RegCloseKey(HKEY key);

namespace win32 {

struct RegistryValue {
  DWORD type;
  std::string bytes;  // exactly what a query returns; a REG_SZ usually ends with its NUL
};

// A key holding the given values (names match case-insensitively), closed with RegCloseKey.
HKEY CreateRegistryKey(const std::map<std::string, RegistryValue>& values);

}  // namespace win32
