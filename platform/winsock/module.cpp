// Start-up, last error, blocking hooks and the module's export table.
#include <algorithm>
#include <atomic>
#include <cstring>
#include <mutex>

#include "platform/win32/module.h"
#include "platform/win32/user.h"
#include "platform/winsock/detail/bsd.h"
#include "platform/winsock/detail/internal.h"
#include "platform/winsock/wsock32.h"

namespace winsock::detail {
namespace {

thread_local int tLastError = 0;
std::atomic<int> gStarts{0};

// Windows' default hook: give one waiting message its turn.
BOOL DefaultBlockingHook() {
  MSG msg;
  if (!PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) return FALSE;
  TranslateMessage(&msg);
  DispatchMessageA(&msg);
  return TRUE;
}

thread_local FARPROC tBlockingHook = nullptr;

}  // namespace

void SetError(int code) { tLastError = code; }
int Error() { return tLastError; }
bool Started() { return gStarts.load(std::memory_order_relaxed) > 0; }

}  // namespace winsock::detail

namespace ws {

using namespace winsock::detail;

int WSAStartup(WORD versionRequested, WSADATA* data) {
  const int major = versionRequested & 0xFF;
  const int minor = versionRequested >> 8;
  // Only 1.1 is offered; a caller asking for more gets 1.1 and decides for itself.
  if (major < 1 || (major == 1 && minor < 1)) return WSAVERNOTSUPPORTED;
  if (!data) return WSAEFAULT;
  std::memset(data, 0, sizeof *data);
  data->wVersion = MAKEWORD(1, 1);
  data->wHighVersion = MAKEWORD(1, 1);
  std::strncpy(data->szDescription, "Windows Sockets 1.1 on BSD sockets", WSADESCRIPTION_LEN);
  std::strncpy(data->szSystemStatus, "Running", WSASYS_STATUS_LEN);
  const long fds = winsock::bsd::MaxDescriptors();
  data->iMaxSockets = static_cast<unsigned short>(std::clamp<long>(fds, 1, 32767));
  data->iMaxUdpDg = 65507;
  data->lpVendorInfo = nullptr;
  gStarts.fetch_add(1);
  return 0;
}

int WSACleanup() {
  int n = gStarts.load();
  do {
    if (n <= 0) return Fail(WSANOTINITIALISED);
  } while (!gStarts.compare_exchange_weak(n, n - 1));
  if (n == 1) {
    // Closing needs a started module; count the start back in for the moment.
    gStarts.fetch_add(1);
    CloseAllSockets();
    gStarts.fetch_sub(1);
  }
  return 0;
}

void WSASetLastError(int error) { SetError(error); }
int WSAGetLastError() { return Error(); }

// No call here ever runs a blocking hook, so no caller can observe one in progress.
BOOL WSAIsBlocking() { return FALSE; }

int WSAUnhookBlockingHook() {
  if (!Started()) return Fail(WSANOTINITIALISED);
  tBlockingHook = nullptr;
  return 0;
}

FARPROC WSASetBlockingHook(FARPROC hook) {
  if (!Started()) return Fail(WSANOTINITIALISED), nullptr;
  if (!hook) return Fail(WSAEFAULT), nullptr;
  FARPROC previous = tBlockingHook ? tBlockingHook : reinterpret_cast<FARPROC>(&DefaultBlockingHook);
  tBlockingHook = hook;
  return previous;
}

int WSACancelBlockingCall() {
  if (!Started()) return Fail(WSANOTINITIALISED);
  return Fail(WSAEINVAL);  // nothing is blocking
}

}  // namespace ws

namespace winsock {
namespace {

template <class F>
FARPROC P(F f) {
  return reinterpret_cast<FARPROC>(f);
}

std::vector<win32::ModuleExport> Exports() {
  using namespace ws;
  return {
      {151, "__WSAFDIsSet", P(&WSAFDIsSet)},
      {1, "accept", P(&ws::accept)},
      {2, "bind", P(&ws::bind)},
      {3, "closesocket", P(&closesocket)},
      {4, "connect", P(&ws::connect)},
      {12, "ioctlsocket", P(&ioctlsocket)},
      {5, "getpeername", P(&ws::getpeername)},
      {6, "getsockname", P(&ws::getsockname)},
      {7, "getsockopt", P(&ws::getsockopt)},
      {8, "htonl", P(&ws::htonl)},
      {9, "htons", P(&ws::htons)},
      {10, "inet_addr", P(&ws::inet_addr)},
      {11, "inet_ntoa", P(&ws::inet_ntoa)},
      {13, "listen", P(&ws::listen)},
      {14, "ntohl", P(&ws::ntohl)},
      {15, "ntohs", P(&ws::ntohs)},
      {16, "recv", P(&ws::recv)},
      {17, "recvfrom", P(&ws::recvfrom)},
      {18, "select", P(&ws::select)},
      {19, "send", P(&ws::send)},
      {20, "sendto", P(&ws::sendto)},
      {21, "setsockopt", P(&ws::setsockopt)},
      {22, "shutdown", P(&ws::shutdown)},
      {23, "socket", P(&ws::socket)},
      {51, "gethostbyaddr", P(&ws::gethostbyaddr)},
      {52, "gethostbyname", P(&ws::gethostbyname)},
      {57, "gethostname", P(&ws::gethostname)},
      {56, "getservbyport", P(&ws::getservbyport)},
      {55, "getservbyname", P(&ws::getservbyname)},
      {54, "getprotobynumber", P(&ws::getprotobynumber)},
      {53, "getprotobyname", P(&ws::getprotobyname)},
      {115, "WSAStartup", P(&WSAStartup)},
      {116, "WSACleanup", P(&WSACleanup)},
      {112, "WSASetLastError", P(&WSASetLastError)},
      {111, "WSAGetLastError", P(&WSAGetLastError)},
      {114, "WSAIsBlocking", P(&WSAIsBlocking)},
      {110, "WSAUnhookBlockingHook", P(&WSAUnhookBlockingHook)},
      {109, "WSASetBlockingHook", P(&WSASetBlockingHook)},
      {113, "WSACancelBlockingCall", P(&WSACancelBlockingCall)},
      {107, "WSAAsyncGetServByName", P(&WSAAsyncGetServByName)},
      {106, "WSAAsyncGetServByPort", P(&WSAAsyncGetServByPort)},
      {105, "WSAAsyncGetProtoByName", P(&WSAAsyncGetProtoByName)},
      {104, "WSAAsyncGetProtoByNumber", P(&WSAAsyncGetProtoByNumber)},
      {103, "WSAAsyncGetHostByName", P(&WSAAsyncGetHostByName)},
      {102, "WSAAsyncGetHostByAddr", P(&WSAAsyncGetHostByAddr)},
      {108, "WSACancelAsyncRequest", P(&WSACancelAsyncRequest)},
      {101, "WSAAsyncSelect", P(&WSAAsyncSelect)},
  };
}

// Registers at start-up whenever this unit is linked in.
const bool gRegistered = (EnsureRegistered(), true);

}  // namespace

void EnsureRegistered() {
  static std::once_flag once;
  std::call_once(once, [] { win32::RegisterBuiltinModule(kModuleName, kModulePath, Exports()); });
}

}  // namespace winsock
