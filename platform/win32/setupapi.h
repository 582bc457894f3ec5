// Device setup: the devices of a setup class ("Ports": serial and parallel ports, from sysfs),
// and the configuration manager module "cfgmgr32", whose CM_Open_DevNode_Key opens a device's
// hardware key; its value "PortName" holds the device's name ("COM3", "LPT1").
#pragma once
#include "platform/win32/registry.h"
#include "platform/win32/types.h"

struct GUID {
  DWORD Data1;
  WORD Data2;
  WORD Data3;
  BYTE Data4[8];
};
using LPGUID = GUID*;
inline bool operator==(const GUID& a, const GUID& b) {
  if (a.Data1 != b.Data1 || a.Data2 != b.Data2 || a.Data3 != b.Data3) return false;
  for (int i = 0; i < 8; ++i) {
    if (a.Data4[i] != b.Data4[i]) return false;
  }
  return true;
}

using HDEVINFO = void*;
using DEVINST = DWORD;

// Callers set cbSize to sizeof(SP_DEVINFO_DATA), which is 28 as the program's callers expect.
struct SP_DEVINFO_DATA {
  DWORD cbSize;
  GUID ClassGuid;
  DEVINST DevInst;
  DWORD Reserved;
};
static_assert(sizeof(SP_DEVINFO_DATA) == 28);

inline constexpr DWORD DIGCF_DEFAULT = 0x01;
inline constexpr DWORD DIGCF_PRESENT = 0x02;
inline constexpr DWORD DIGCF_ALLCLASSES = 0x04;
inline constexpr DWORD DIGCF_PROFILE = 0x08;
inline constexpr DWORD DIGCF_DEVICEINTERFACE = 0x10;

inline constexpr DWORD ERROR_INVALID_USER_BUFFER = 1784;
inline constexpr DWORD ERROR_INVALID_CLASS = 0xE0000209u;

// The setup class "Ports".
inline constexpr GUID GUID_DEVCLASS_PORTS = {0x4D36E978, 0xE325, 0x11CE, {0xBF, 0xC1, 0x08, 0x00, 0x2B, 0xE1, 0x03, 0x18}};

// FALSE with ERROR_INSUFFICIENT_BUFFER when size is smaller than *required.
BOOL SetupDiClassGuidsFromNameA(LPCSTR className, LPGUID guids, DWORD size, LPDWORD required);
HDEVINFO SetupDiGetClassDevsA(const GUID* classGuid, LPCSTR enumerator, HWND parent, DWORD flags);
// FALSE with ERROR_NO_MORE_ITEMS past the last device.
BOOL SetupDiEnumDeviceInfo(HDEVINFO set, DWORD index, SP_DEVINFO_DATA* data);
BOOL SetupDiDestroyDeviceInfoList(HDEVINFO set);

// The configuration manager, reached only through LoadLibraryA("cfgmgr32") and GetProcAddress.
using CONFIGRET = DWORD;
inline constexpr CONFIGRET CR_SUCCESS = 0x00;
inline constexpr CONFIGRET CR_INVALID_POINTER = 0x03;
inline constexpr CONFIGRET CR_INVALID_FLAG = 0x04;
inline constexpr CONFIGRET CR_INVALID_DEVNODE = 0x05;
inline constexpr CONFIGRET CR_NO_SUCH_REGISTRY_KEY = 0x2E;

using REGDISPOSITION = DWORD;
inline constexpr REGDISPOSITION RegDisposition_OpenAlways = 0;
inline constexpr REGDISPOSITION RegDisposition_OpenExisting = 1;
inline constexpr ULONG CM_REGISTRY_HARDWARE = 0;
inline constexpr ULONG CM_REGISTRY_SOFTWARE = 1;

using CM_Open_DevNode_Key_Proc = CONFIGRET (*)(DEVINST devInst, REGSAM access, ULONG hardwareProfile,
                                               REGDISPOSITION disposition, HKEY* key, ULONG flags);

namespace win32 {
// Makes "cfgmgr32" loadable (again), replacing a module a test registered under that name.
// SetupDi calls do it themselves when no module of that name exists.
void RegisterConfigManagerModule();
}  // namespace win32
