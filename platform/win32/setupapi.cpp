#include "platform/win32/setupapi.h"

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/win32/detail/handles.h"
#include "platform/win32/module.h"
#include "platform/win32/serial.h"

namespace win32 {
namespace {

struct DeviceSet : detail::KernelObject {
  GUID classGuid{};
  std::vector<DEVINST> devices;
};

// Device nodes live for the whole process, as they would in a device tree: a node seen by any
// listing keeps its number.
std::mutex g_nodesMutex;
std::vector<detail::PortDevice> g_nodes;  // DevInst n is g_nodes[n - 1]

DEVINST NodeFor(const detail::PortDevice& d) {
  std::lock_guard<std::mutex> lock(g_nodesMutex);
  for (std::size_t i = 0; i < g_nodes.size(); ++i) {
    if (g_nodes[i].node == d.node) {
      g_nodes[i].portName = d.portName;  // the mapping may have moved with the devices present
      return static_cast<DEVINST>(i + 1);
    }
  }
  g_nodes.push_back(d);
  return static_cast<DEVINST>(g_nodes.size());
}

bool NodeName(DEVINST n, std::string* portName) {
  std::lock_guard<std::mutex> lock(g_nodesMutex);
  if (n < 1 || n > g_nodes.size()) return false;
  *portName = g_nodes[n - 1].portName;
  return true;
}

CONFIGRET OpenDevNodeKey(DEVINST devInst, REGSAM, ULONG, REGDISPOSITION, HKEY* key, ULONG flags) {
  if (key == nullptr) return CR_INVALID_POINTER;
  *key = nullptr;
  if (flags != CM_REGISTRY_HARDWARE && flags != CM_REGISTRY_SOFTWARE) return CR_INVALID_FLAG;
  std::string portName;
  if (!NodeName(devInst, &portName)) return CR_INVALID_DEVNODE;
  // Ports have no driver (software) key here.
  if (flags == CM_REGISTRY_SOFTWARE) return CR_NO_SUCH_REGISTRY_KEY;
  *key = CreateRegistryKey({{"PortName", {REG_SZ, portName + '\0'}}});
  return CR_SUCCESS;
}

void EnsureConfigManager() {
  static std::once_flag once;
  std::call_once(once, [] {
    if (HMODULE m = LoadLibraryA("cfgmgr32")) {
      FreeLibrary(m);  // a test's own module: keep it
      return;
    }
    RegisterConfigManagerModule();
  });
}

bool SameText(const char* a, const char* b) {
  for (; *a != '\0' && *b != '\0'; ++a, ++b) {
    const char x = (*a >= 'A' && *a <= 'Z') ? static_cast<char>(*a + 32) : *a;
    const char y = (*b >= 'A' && *b <= 'Z') ? static_cast<char>(*b + 32) : *b;
    if (x != y) return false;
  }
  return *a == *b;
}

}  // namespace

void RegisterConfigManagerModule() {
  RegisterBuiltinModule("cfgmgr32.dll", "C:\\Windows\\system32\\cfgmgr32.dll",
                        {{0, "CM_Open_DevNode_Key", reinterpret_cast<FARPROC>(&OpenDevNodeKey)}});
}

}  // namespace win32

BOOL SetupDiClassGuidsFromNameA(LPCSTR className, LPGUID guids, DWORD size, LPDWORD required) {
  win32::EnsureConfigManager();
  if (className == nullptr || required == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  const bool ports = win32::SameText(className, "Ports");
  *required = ports ? 1 : 0;
  if (!ports) return TRUE;
  if (size < 1 || guids == nullptr) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return FALSE;
  }
  guids[0] = GUID_DEVCLASS_PORTS;
  return TRUE;
}

HDEVINFO SetupDiGetClassDevsA(const GUID* classGuid, LPCSTR, HWND, DWORD flags) {
  win32::EnsureConfigManager();
  const bool all = (flags & DIGCF_ALLCLASSES) != 0;
  if (classGuid == nullptr && !all) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return INVALID_HANDLE_VALUE;
  }
  if ((flags & DIGCF_DEVICEINTERFACE) != 0) {
    // No device interfaces are published.
    SetLastError(ERROR_INVALID_CLASS);
    return INVALID_HANDLE_VALUE;
  }
  auto set = std::make_unique<win32::DeviceSet>();
  set->classGuid = GUID_DEVCLASS_PORTS;
  if (all || *classGuid == GUID_DEVCLASS_PORTS) {
    const bool presentOnly = (flags & DIGCF_PRESENT) != 0;
    for (const auto& d : win32::detail::ScanPortDevices(win32::SysfsRoot(), presentOnly)) {
      set->devices.push_back(win32::NodeFor(d));
    }
  }
  return win32::detail::AddHandle(std::move(set));
}

BOOL SetupDiEnumDeviceInfo(HDEVINFO set, DWORD index, SP_DEVINFO_DATA* data) {
  auto* s = win32::detail::HandleAs<win32::DeviceSet>(set);
  if (s == nullptr) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  if (data == nullptr || data->cbSize != sizeof(SP_DEVINFO_DATA)) {
    SetLastError(ERROR_INVALID_USER_BUFFER);
    return FALSE;
  }
  if (index >= s->devices.size()) {
    SetLastError(ERROR_NO_MORE_ITEMS);
    return FALSE;
  }
  data->ClassGuid = s->classGuid;
  data->DevInst = s->devices[index];
  data->Reserved = 0;
  return TRUE;
}

BOOL SetupDiDestroyDeviceInfoList(HDEVINFO set) {
  if (win32::detail::HandleAs<win32::DeviceSet>(set) == nullptr) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  win32::detail::RemoveHandle(set);
  return TRUE;
}
