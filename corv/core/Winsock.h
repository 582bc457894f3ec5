// Run-time binding of Windows Sockets 1.1. The DLL is loaded when an engine asks for it and
// its 47 entry points are bound by ordinal into one process-wide table; until then every
// slot holds a stub that fails the way the real function does, so engine code never tests
// whether Windows Sockets is there.
#pragma once
#include "platform/win32/types.h"
#include "platform/win32/user.h"
#include "platform/winsock/winsock.h"

// The slots in the order of declaration of the Windows Sockets 1.1 header.
struct WinsockProcTable {
  int (*__WSAFDIsSet)(ws::SOCKET, ws::fd_set*);
  ws::SOCKET (*accept)(ws::SOCKET, ws::sockaddr*, int*);
  int (*bind)(ws::SOCKET, const ws::sockaddr*, int);
  int (*closesocket)(ws::SOCKET);
  int (*connect)(ws::SOCKET, const ws::sockaddr*, int);
  int (*ioctlsocket)(ws::SOCKET, LONG, ws::u_long*);
  int (*getpeername)(ws::SOCKET, ws::sockaddr*, int*);
  int (*getsockname)(ws::SOCKET, ws::sockaddr*, int*);
  int (*getsockopt)(ws::SOCKET, int, int, char*, int*);
  ws::u_long (*htonl)(ws::u_long);
  ws::u_short (*htons)(ws::u_short);
  ws::u_long (*inet_addr)(const char*);
  char* (*inet_ntoa)(ws::in_addr);
  int (*listen)(ws::SOCKET, int);
  ws::u_long (*ntohl)(ws::u_long);
  ws::u_short (*ntohs)(ws::u_short);
  int (*recv)(ws::SOCKET, char*, int, int);
  int (*recvfrom)(ws::SOCKET, char*, int, int, ws::sockaddr*, int*);
  int (*select)(int, ws::fd_set*, ws::fd_set*, ws::fd_set*, const ws::timeval*);
  int (*send)(ws::SOCKET, const char*, int, int);
  int (*sendto)(ws::SOCKET, const char*, int, int, const ws::sockaddr*, int);
  int (*setsockopt)(ws::SOCKET, int, int, const char*, int);
  int (*shutdown)(ws::SOCKET, int);
  ws::SOCKET (*socket)(int, int, int);
  ws::hostent* (*gethostbyaddr)(const char*, int, int);
  ws::hostent* (*gethostbyname)(const char*);
  int (*gethostname)(char*, int);
  ws::servent* (*getservbyport)(int, const char*);
  ws::servent* (*getservbyname)(const char*, const char*);
  ws::protoent* (*getprotobynumber)(int);
  ws::protoent* (*getprotobyname)(const char*);
  int (*WSAStartup)(WORD, ws::WSADATA*);
  int (*WSACleanup)();
  void (*WSASetLastError)(int);
  int (*WSAGetLastError)();
  BOOL (*WSAIsBlocking)();
  int (*WSAUnhookBlockingHook)();
  FARPROC (*WSASetBlockingHook)(FARPROC);
  int (*WSACancelBlockingCall)();
  HANDLE (*WSAAsyncGetServByName)(HWND, ws::u_int, const char*, const char*, char*, int);
  HANDLE (*WSAAsyncGetServByPort)(HWND, ws::u_int, int, const char*, char*, int);
  HANDLE (*WSAAsyncGetProtoByName)(HWND, ws::u_int, const char*, char*, int);
  HANDLE (*WSAAsyncGetProtoByNumber)(HWND, ws::u_int, int, char*, int);
  HANDLE (*WSAAsyncGetHostByName)(HWND, ws::u_int, const char*, char*, int);
  HANDLE (*WSAAsyncGetHostByAddr)(HWND, ws::u_int, const char*, int, int, char*, int);
  int (*WSACancelAsyncRequest)(HANDLE);
  int (*WSAAsyncSelect)(ws::SOCKET, HWND, ws::u_int, LONG);
};

inline constexpr int kWinsockProcCount = 47;
static_assert(sizeof(WinsockProcTable) == kWinsockProcCount * sizeof(void (*)()), "one pointer per slot");

// The published ordinal of each slot, in slot order.
extern const WORD WinsockProcOrdinals[kWinsockProcCount];

// Shared by every component unit; holds the stubs from program start.
extern WinsockProcTable WinsockProcs;

// Binds every slot whose ordinal the module exports; true only when all 47 were found.
bool LoadWinsockProcs(HMODULE module);
// Puts every slot back to its stub.
void ResetWinsockProcs();

// A dotted address first, then a name look-up, after cancelling any blocking call in
// progress. False leaves 0 in *address and the reason in WSAGetLastError.
bool ResolveHostAddress(const char* text, DWORD* address);

// The notification window class of every engine.
inline constexpr const char* kSocketWindowClass = "__corv_socket_wnd__";
// Extra window memory of that class; the first pointer-sized word holds the engine object.
inline constexpr int kSocketWindowExtra = 12;

// One per component unit: the DLL path, the loaded module, this unit's starts and their
// start-up data. The entry table behind them is shared by the whole process and is reset to
// its stubs only when the last start of any unit is given back.
class CWinsock {
 public:
  static constexpr WORD kVersion11 = 0x0101;
  static constexpr int kPathMax = 200;

  CWinsock();
  ~CWinsock();
  CWinsock(const CWinsock&) = delete;
  CWinsock& operator=(const CWinsock&) = delete;

  // Nothing once Windows Sockets was started through this record; otherwise back to the
  // start state: status "Down", path "WSOCK32.DLL", no module, count 0.
  void Init();
  // One start for one engine object. 1 on success, 0 on failure (text in the description).
  int Load();
  // Gives back one start.
  void Release();
  // The loaded module's file name when loaded (it then becomes the configured path).
  const char* GetPath();
  // At most 200 characters; empty means "WSOCK32.DLL".
  void SetPath(const char* path);
  // Registers the window class on first use, then creates one hidden window.
  HWND CreateNotifyWindow(WNDPROC proc);
  void UnregisterWindowClass();

  // Starts held by all records of the process.
  static unsigned ProcessStarts();

  BOOL ClassRegistered;
  HMODULE Module;
  WORD UseCount;
  ws::WSADATA StartupData;
  char Path[kPathMax + 1];
  // The instance the window class is registered for; the program's when left null.
  HINSTANCE Instance;
};

// The record of the core unit itself; engines use it unless their component unit gives
// them its own (CWsock::WinsockRecord).
CWinsock& CorvCoreWinsock();
