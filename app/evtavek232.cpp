#include "app/evtavek232.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

namespace {

[[noreturn]] void AssertionFailed(const char* expression, int line) {
  std::fprintf(stderr, "Assertion failed: %s, file evtavek232.cpp, line %d\n", expression, line);
  std::fflush(stderr);
  std::abort();
}

// Checked in every build: a frame-building step on a bad count must stop the program.
#define EV_ASSERT(expression) ((expression) ? static_cast<void>(0) : AssertionFailed(#expression, __LINE__))

constexpr unsigned char kStart = 0xAA;
constexpr unsigned char kEscape = 0x80;
constexpr int kNameBuffer = 25;  // a port name of up to 24 characters and its terminator

HANDLE g_port = INVALID_HANDLE_VALUE;
DWORD g_baudRate = CBR_19200;
DCB g_dcb;

HMODULE g_configManager = nullptr;
CM_Open_DevNode_Key_Proc g_openDevNodeKey = nullptr;
DWORD g_deviceIndex = 0;

void ReleaseConfigManager() {
  if (g_configManager != nullptr) FreeLibrary(g_configManager);
  g_configManager = nullptr;
  g_openDevNodeKey = nullptr;
}

bool StartsWithCom(const char* name) {
  static const char kCom[] = "com";
  for (int i = 0; i < 3; ++i) {
    char c = name[i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != kCom[i]) return false;
  }
  return true;
}

}  // namespace

bool OpenPort(const char* name) {
  // Reopening must not strand the open handle, which would keep the port busy for good.
  ClosePort();
  if (name == nullptr) return false;
  char path[256];
  std::snprintf(path, sizeof path, "\\\\.\\%s", name);
  g_port = INVALID_HANDLE_VALUE;
  HANDLE port = CreateFileA(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (port == INVALID_HANDLE_VALUE) return false;
  g_port = port;

  SetupComm(port, EV_TAVEK_232_MAX_BUF_SIZE_POST, EV_TAVEK_232_MAX_BUF_SIZE_POST);
  PurgeComm(port, PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR);
  COMMTIMEOUTS timeouts;
  timeouts.ReadIntervalTimeout = MAXDWORD;
  timeouts.ReadTotalTimeoutMultiplier = CBR_19200 / g_baudRate;
  timeouts.ReadTotalTimeoutConstant = 10;
  timeouts.WriteTotalTimeoutMultiplier = CBR_19200 / g_baudRate;
  timeouts.WriteTotalTimeoutConstant = 10;
  SetCommTimeouts(port, &timeouts);

  GetCommState(port, &g_dcb);
  g_dcb.BaudRate = g_baudRate;
  g_dcb.ByteSize = 8;
  g_dcb.Parity = NOPARITY;
  g_dcb.StopBits = ONESTOPBIT;
  g_dcb.fOutxDsrFlow = FALSE;
  g_dcb.fDtrControl = DTR_CONTROL_ENABLE;
  g_dcb.fOutxCtsFlow = FALSE;
  g_dcb.fRtsControl = RTS_CONTROL_ENABLE;
  g_dcb.fInX = g_dcb.fOutX = FALSE;
  g_dcb.fBinary = TRUE;
  g_dcb.fParity = TRUE;
  if (!SetCommState(port, &g_dcb)) {
    // A port we could not set up is no port: do not keep it half open.
    CloseHandle(port);
    g_port = INVALID_HANDLE_VALUE;
    return false;
  }
  return true;
}

bool ClosePort() {
  if (g_port != INVALID_HANDLE_VALUE) {
    EscapeCommFunction(g_port, CLRDTR);
    PurgeComm(g_port, PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR);
    CloseHandle(g_port);
    g_port = INVALID_HANDLE_VALUE;
  }
  return true;
}

bool AddLengthAndChecksum(unsigned char* buffer, int* nBytes) {
  EV_ASSERT((*nBytes)>=1);
  EV_ASSERT((*nBytes)<=EV_TAVEK_232_MAX_BUF_SIZE_POST);
  const int n = *nBytes;
  if (n + 3 > EV_TAVEK_232_MAX_BUF_SIZE_POST) return false;
  std::memmove(buffer + 2, buffer, static_cast<std::size_t>(n));
  buffer[0] = static_cast<unsigned char>(n >> 8);
  buffer[1] = static_cast<unsigned char>(n & 0xFF);
  unsigned sum = 0;
  for (int i = 0; i < n + 2; ++i) sum += buffer[i];
  buffer[n + 2] = static_cast<unsigned char>(0xFF - (sum & 0xFF));
  *nBytes = n + 3;
  return true;
}

bool StuffBytes(unsigned char* buffer, int* nBytes) {
  EV_ASSERT(*nBytes>=1);
  EV_ASSERT(*nBytes<=EV_TAVEK_232_MAX_BUF_SIZE_POST);
  const int n = *nBytes;
  int size = 1 + n;
  for (int i = 0; i < n; ++i) {
    if (buffer[i] == kStart || buffer[i] == kEscape) ++size;
  }
  if (size > EV_TAVEK_232_MAX_BUF_SIZE_POST) return false;
  unsigned char out[EV_TAVEK_232_MAX_BUF_SIZE_POST];
  int o = 0;
  out[o++] = kStart;
  for (int i = 0; i < n; ++i) {
    if (buffer[i] == kStart) {
      out[o++] = kEscape;
      out[o++] = 0x00;
    } else if (buffer[i] == kEscape) {
      out[o++] = kEscape;
      out[o++] = 0x01;
    } else {
      out[o++] = buffer[i];
    }
  }
  std::memcpy(buffer, out, static_cast<std::size_t>(o));
  *nBytes = o;
  return true;
}

bool SendFrame(const unsigned char* data, int nBytes) {
  if (nBytes < 0 || nBytes > EV_TAVEK_232_MAX_PAYLOAD || (nBytes > 0 && data == nullptr)) return false;
  if (nBytes == 0) return true;
  unsigned char buffer[EV_TAVEK_232_MAX_BUF_SIZE_POST] = {};
  std::memcpy(buffer, data, static_cast<std::size_t>(nBytes));
  int n = nBytes;
  if (!AddLengthAndChecksum(buffer, &n) || !StuffBytes(buffer, &n)) return false;
  if (g_port == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  if (!WriteFile(g_port, buffer, static_cast<DWORD>(n), &written, nullptr)) return false;
  return written == static_cast<DWORD>(n);
}

bool NextComPort(HDEVINFO deviceSet, char* out) {
  if (g_openDevNodeKey == nullptr) {
    g_configManager = LoadLibraryA("cfgmgr32");
    if (g_configManager == nullptr) return false;
    g_openDevNodeKey = reinterpret_cast<CM_Open_DevNode_Key_Proc>(GetProcAddress(g_configManager, "CM_Open_DevNode_Key"));
    if (g_openDevNodeKey == nullptr) {
      ReleaseConfigManager();
      return false;
    }
    g_deviceIndex = 0;
  }
  char name[kNameBuffer];
  do {
    SP_DEVINFO_DATA device;
    std::memset(&device, 0, sizeof device);
    device.cbSize = sizeof device;
    if (!SetupDiEnumDeviceInfo(deviceSet, g_deviceIndex, &device)) {
      ReleaseConfigManager();
      return false;
    }
    HKEY key = nullptr;
    if (g_openDevNodeKey(device.DevInst, KEY_QUERY_VALUE, 0, RegDisposition_OpenExisting, &key,
                         CM_REGISTRY_HARDWARE) != CR_SUCCESS) {
      return false;
    }
    DWORD type = 0;
    DWORD size = sizeof name;
    const LONG result = RegQueryValueExA(key, "portname", nullptr, &type, reinterpret_cast<BYTE*>(name), &size);
    RegCloseKey(key);
    if (result != static_cast<LONG>(ERROR_SUCCESS)) return false;
    // A stored name need not end with its terminator; one that fills the buffer without it is
    // longer than the buffer.
    if (size == 0 || name[size - 1] != '\0') {
      if (size >= sizeof name) return false;
      name[size] = '\0';
    }
    ++g_deviceIndex;
  } while (!StartsWithCom(name));
  const long number = std::strtol(name + 3, nullptr, 10);
  if (number < 1 || number > 256) {
    ReleaseConfigManager();
    return false;
  }
  std::strcpy(out, name);
  return true;
}

char** EnumerateComPorts(int* count) {
  if (count == nullptr) return nullptr;
  *count = 0;
  DWORD needed = 0;
  SetupDiClassGuidsFromNameA("Ports", nullptr, 0, &needed);
  if (needed < 1) return nullptr;
  GUID* guids = new (std::nothrow) GUID[needed];
  if (guids == nullptr) return nullptr;
  if (!SetupDiClassGuidsFromNameA("Ports", guids, needed, &needed)) {
    delete[] guids;
    return nullptr;
  }
  HDEVINFO deviceSet = SetupDiGetClassDevsA(guids, nullptr, nullptr, DIGCF_PRESENT);
  delete[] guids;
  if (deviceSet == INVALID_HANDLE_VALUE) return nullptr;

  // Every listing walks its own device set from the first device; an index left over from a
  // listing that stopped early would skip devices.
  g_deviceIndex = 0;
  char names[EV_TAVEK_232_MAX_PORTS][EV_TAVEK_232_PORT_NAME_SIZE];
  int found = 0;
  while (found < EV_TAVEK_232_MAX_PORTS && NextComPort(deviceSet, names[found])) ++found;
  SetupDiDestroyDeviceInfoList(deviceSet);
  if (found == 0) return nullptr;

  char** list = new (std::nothrow) char*[found];
  if (list == nullptr) return nullptr;
  for (int i = 0; i < found; ++i) {
    list[i] = new (std::nothrow) char[EV_TAVEK_232_PORT_NAME_SIZE];
    if (list[i] == nullptr) {
      FreePortList(list, i);
      return nullptr;
    }
    std::memcpy(list[i], names[i], EV_TAVEK_232_PORT_NAME_SIZE);
  }
  *count = found;
  return list;
}

void FreePortList(char** list, int count) {
  if (list == nullptr) return;
  for (int i = 0; i < count; ++i) delete[] list[i];
  delete[] list;
}
