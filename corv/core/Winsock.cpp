#include "corv/core/Winsock.h"

#include <cstring>

#include "corv/core/TextUtil.h"
#include "platform/win32/module.h"

namespace {

// Stubs: what each function answers while Windows Sockets is not bound.
int StubFDIsSet(ws::SOCKET, ws::fd_set*) { return 0; }
ws::SOCKET StubAccept(ws::SOCKET, ws::sockaddr*, int*) { return ws::INVALID_SOCKET; }
int StubBind(ws::SOCKET, const ws::sockaddr*, int) { return ws::SOCKET_ERROR; }
int StubClosesocket(ws::SOCKET) { return ws::SOCKET_ERROR; }
int StubConnect(ws::SOCKET, const ws::sockaddr*, int) { return ws::SOCKET_ERROR; }
int StubIoctlsocket(ws::SOCKET, LONG, ws::u_long*) { return ws::SOCKET_ERROR; }
int StubGetpeername(ws::SOCKET, ws::sockaddr*, int*) { return ws::SOCKET_ERROR; }
int StubGetsockname(ws::SOCKET, ws::sockaddr*, int*) { return ws::SOCKET_ERROR; }
int StubGetsockopt(ws::SOCKET, int, int, char*, int*) { return ws::SOCKET_ERROR; }
ws::u_long StubHtonl(ws::u_long) { return 0; }
ws::u_short StubHtons(ws::u_short) { return 0; }
ws::u_long StubInetAddr(const char*) { return ws::INADDR_NONE; }
char* StubInetNtoa(ws::in_addr) { return nullptr; }
int StubListen(ws::SOCKET, int) { return ws::SOCKET_ERROR; }
ws::u_long StubNtohl(ws::u_long) { return 0; }
ws::u_short StubNtohs(ws::u_short) { return 0; }
int StubRecv(ws::SOCKET, char*, int, int) { return ws::SOCKET_ERROR; }
int StubRecvfrom(ws::SOCKET, char*, int, int, ws::sockaddr*, int*) { return ws::SOCKET_ERROR; }
int StubSelect(int, ws::fd_set*, ws::fd_set*, ws::fd_set*, const ws::timeval*) { return ws::SOCKET_ERROR; }
int StubSend(ws::SOCKET, const char*, int, int) { return ws::SOCKET_ERROR; }
int StubSendto(ws::SOCKET, const char*, int, int, const ws::sockaddr*, int) { return ws::SOCKET_ERROR; }
int StubSetsockopt(ws::SOCKET, int, int, const char*, int) { return ws::SOCKET_ERROR; }
int StubShutdown(ws::SOCKET, int) { return ws::SOCKET_ERROR; }
ws::SOCKET StubSocket(int, int, int) { return ws::INVALID_SOCKET; }
ws::hostent* StubGethostbyaddr(const char*, int, int) { return nullptr; }
ws::hostent* StubGethostbyname(const char*) { return nullptr; }
int StubGethostname(char*, int) { return ws::SOCKET_ERROR; }
ws::servent* StubGetservbyport(int, const char*) { return nullptr; }
ws::servent* StubGetservbyname(const char*, const char*) { return nullptr; }
ws::protoent* StubGetprotobynumber(int) { return nullptr; }
ws::protoent* StubGetprotobyname(const char*) { return nullptr; }
int StubWSAStartup(WORD, ws::WSADATA*) { return ws::WSASYSNOTREADY; }
int StubWSACleanup() { return ws::SOCKET_ERROR; }
void StubWSASetLastError(int) {}
int StubWSAGetLastError() { return ws::WSANOTINITIALISED; }
BOOL StubWSAIsBlocking() { return FALSE; }
int StubWSAUnhookBlockingHook() { return ws::SOCKET_ERROR; }
FARPROC StubWSASetBlockingHook(FARPROC) { return nullptr; }
int StubWSACancelBlockingCall() { return ws::SOCKET_ERROR; }
HANDLE StubAsyncServByName(HWND, ws::u_int, const char*, const char*, char*, int) { return nullptr; }
HANDLE StubAsyncServByPort(HWND, ws::u_int, int, const char*, char*, int) { return nullptr; }
HANDLE StubAsyncProtoByName(HWND, ws::u_int, const char*, char*, int) { return nullptr; }
HANDLE StubAsyncProtoByNumber(HWND, ws::u_int, int, char*, int) { return nullptr; }
HANDLE StubAsyncHostByName(HWND, ws::u_int, const char*, char*, int) { return nullptr; }
HANDLE StubAsyncHostByAddr(HWND, ws::u_int, const char*, int, int, char*, int) { return nullptr; }
int StubWSACancelAsyncRequest(HANDLE) { return ws::SOCKET_ERROR; }
int StubWSAAsyncSelect(ws::SOCKET, HWND, ws::u_int, LONG) { return ws::SOCKET_ERROR; }

constexpr WinsockProcTable kStubs = {
    StubFDIsSet,          StubAccept,          StubBind,
    StubClosesocket,      StubConnect,         StubIoctlsocket,
    StubGetpeername,      StubGetsockname,     StubGetsockopt,
    StubHtonl,            StubHtons,           StubInetAddr,
    StubInetNtoa,         StubListen,          StubNtohl,
    StubNtohs,            StubRecv,            StubRecvfrom,
    StubSelect,           StubSend,            StubSendto,
    StubSetsockopt,       StubShutdown,        StubSocket,
    StubGethostbyaddr,    StubGethostbyname,   StubGethostname,
    StubGetservbyport,    StubGetservbyname,   StubGetprotobynumber,
    StubGetprotobyname,   StubWSAStartup,      StubWSACleanup,
    StubWSASetLastError,  StubWSAGetLastError, StubWSAIsBlocking,
    StubWSAUnhookBlockingHook, StubWSASetBlockingHook, StubWSACancelBlockingCall,
    StubAsyncServByName,  StubAsyncServByPort, StubAsyncProtoByName,
    StubAsyncProtoByNumber, StubAsyncHostByName, StubAsyncHostByAddr,
    StubWSACancelAsyncRequest, StubWSAAsyncSelect,
};

// Starts held by every record of the process: the table is bound while this is above 0.
unsigned g_processStarts = 0;

const char kDefaultPath[] = "WSOCK32.DLL";
const char kStatusDown[] = "Down";

}  // namespace

bool ResolveHostAddress(const char* text, DWORD* address) {
  if (WinsockProcs.WSAIsBlocking()) WinsockProcs.WSACancelBlockingCall();
  ws::u_long addr = WinsockProcs.inet_addr(text);
  if (addr != ws::INADDR_NONE) {
    *address = static_cast<DWORD>(addr);
    return true;
  }
  *address = 0;
  ws::hostent* host = WinsockProcs.gethostbyname(text);
  if (host && host->h_addr_list && host->h_addr_list[0]) {
    std::memcpy(address, host->h_addr_list[0], sizeof *address);
    return true;
  }
  return false;
}

const WORD WinsockProcOrdinals[kWinsockProcCount] = {
    151, 1,  2,  3,  4,  12, 5,  6,  7,  8,   9,   10,  11,  13,  14,  15,
    16,  17, 18, 19, 20, 21, 22, 23, 51, 52,  57,  56,  55,  54,  53,  115,
    116, 112, 111, 114, 110, 109, 113, 107, 106, 105, 104, 103, 102, 108, 101,
};

WinsockProcTable WinsockProcs = kStubs;

bool LoadWinsockProcs(HMODULE module) {
  // The table is a row of function pointers in slot order; each found entry replaces one.
  using Slot = void (*)();
  Slot* slots = reinterpret_cast<Slot*>(&WinsockProcs);
  bool all = true;
  for (int i = 0; i < kWinsockProcCount; ++i) {
    FARPROC proc = GetProcAddress(module, MAKEINTRESOURCEA(WinsockProcOrdinals[i]));
    if (proc) {
      slots[i] = proc;
    } else {
      all = false;
    }
  }
  return all;
}

void ResetWinsockProcs() { WinsockProcs = kStubs; }

CWinsock::CWinsock() : ClassRegistered(FALSE), Module(nullptr), UseCount(0), StartupData{}, Path{}, Instance(nullptr) {
  // The record names "WSOCK32.DLL": linking a component unit, whose initialiser builds its
  // record, is then enough for LoadLibraryA to find the module.
  winsock::EnsureRegistered();
  Init();
}

CWinsock::~CWinsock() { UnregisterWindowClass(); }

void CWinsock::Init() {
  if (StartupData.wVersion == kVersion11) return;
  ClassRegistered = FALSE;
  Module = nullptr;
  StartupData.szDescription[0] = '\0';
  CopyCut(StartupData.szSystemStatus, sizeof StartupData.szSystemStatus, kStatusDown);
  UseCount = 0;
  CopyCut(Path, sizeof Path, kDefaultPath);
}

int CWinsock::Load() {
  HMODULE module = LoadLibraryA(Path);
  if (!module) {
    CopyCut(StartupData.szDescription, sizeof StartupData.szDescription, "Could not load Winsock DLL.");
    return 0;
  }
  Module = module;
  ++UseCount;
  if (++g_processStarts == 1) LoadWinsockProcs(module);

  StartupData.wVersion = 0;
  int r = WinsockProcs.WSAStartup(kVersion11, &StartupData);
  const char* failure = nullptr;
  if (r == ws::WSAEINVAL || r == ws::WSAVERNOTSUPPORTED) {
    failure = "Version not supported.";
  } else if (r == ws::WSASYSNOTREADY) {
    failure = "Network subsystem not ready.";
  } else if ((StartupData.wVersion & 0xFF) != 1 || (StartupData.wVersion >> 8) != 1) {
    failure = "Incompatible Winsock version.";
  }
  if (!failure) return 1;
  Release();
  CopyCut(StartupData.szDescription, sizeof StartupData.szDescription, failure);
  return 0;
}

void CWinsock::Release() {
  if (UseCount == 0 || !Module) return;
  --UseCount;
  WinsockProcs.WSACancelBlockingCall();
  if (StartupData.wVersion != 0) WinsockProcs.WSACleanup();
  StartupData.szDescription[0] = '\0';
  CopyCut(StartupData.szSystemStatus, sizeof StartupData.szSystemStatus, kStatusDown);
  StartupData.iMaxSockets = 0;
  StartupData.iMaxUdpDg = 0;
  // The table is shared: only the last start of the whole process resets it.
  if (g_processStarts > 0 && --g_processStarts == 0) ResetWinsockProcs();
  if (UseCount == 0) Module = nullptr;  // the DLL itself stays loaded
}

const char* CWinsock::GetPath() {
  if (Module) {
    char name[kPathMax + 1];
    DWORD n = GetModuleFileNameA(Module, name, sizeof name);
    if (n > 0) {
      if (n > kPathMax) n = kPathMax;
      std::memcpy(Path, name, n);
      Path[n] = '\0';
    }
  }
  return Path;
}

void CWinsock::SetPath(const char* path) {
  CopyCut(Path, sizeof Path, path);
  if (!Path[0]) CopyCut(Path, sizeof Path, kDefaultPath);
}

HWND CWinsock::CreateNotifyWindow(WNDPROC proc) {
  if (!Instance) Instance = GetModuleHandleA(nullptr);
  if (!ClassRegistered) {
    WNDCLASSA wc{};
    wc.style = CS_GLOBALCLASS;
    wc.lpfnWndProc = proc;
    wc.cbClsExtra = 0;
    wc.cbWndExtra = kSocketWindowExtra;
    wc.hInstance = Instance;
    wc.lpszClassName = kSocketWindowClass;
    RegisterClassA(&wc);
    // Another unit may have registered the global class first: that one serves as well.
    ClassRegistered = TRUE;
  }
  return CreateWindowExA(0, kSocketWindowClass, "", 0, 0, 0, 0, 0, nullptr, nullptr, Instance, nullptr);
}

void CWinsock::UnregisterWindowClass() {
  if (!ClassRegistered) return;
  UnregisterClassA(kSocketWindowClass, Instance);
  ClassRegistered = FALSE;
}

unsigned CWinsock::ProcessStarts() { return g_processStarts; }

CWinsock& CorvCoreWinsock() {
  static CWinsock record;
  return record;
}
