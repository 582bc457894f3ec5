// Windows Sockets 1.1 as the built-in module "WSOCK32.DLL" sees it: types, constants and one
// function-pointer type per export, for binding with LoadLibraryA / GetProcAddress.
//
// Everything lives in namespace ws, because the C library's own fd_set, timeval, u_long and
// FD_SET macros are visible in almost every translation unit and mean something else (u_long is
// 64-bit there, 32-bit here). Use qualified names (ws::fd_set) or using-declarations inside your
// own namespace. The BSD socket headers may come before or after this one; where both are
// seen, their macros (AF_INET, SO_ERROR, ...) hide the ws:: constants of the same names.
#pragma once
#include <cstdint>

#include "platform/win32/types.h"
#include "platform/winsock/errors.h"
#include "platform/winsock/bsd_names.h"  // sets the BSD macros of these names aside

namespace ws {

using u_char = unsigned char;
using u_short = std::uint16_t;
using u_int = std::uint32_t;
using u_long = std::uint32_t;  // Windows' long is 32 bits
using SOCKET = std::uint32_t;

inline constexpr SOCKET INVALID_SOCKET = ~SOCKET{0};
inline constexpr int SOCKET_ERROR = -1;

// --- addresses ---
inline constexpr int AF_UNSPEC = 0;
inline constexpr int AF_INET = 2;
inline constexpr int PF_INET = AF_INET;
inline constexpr int SOCK_STREAM = 1;
inline constexpr int SOCK_DGRAM = 2;
inline constexpr int SOCK_RAW = 3;
inline constexpr int IPPROTO_IP = 0;
inline constexpr int IPPROTO_ICMP = 1;
inline constexpr int IPPROTO_TCP = 6;
inline constexpr int IPPROTO_UDP = 17;

inline constexpr u_long INADDR_ANY = 0x00000000;
inline constexpr u_long INADDR_LOOPBACK = 0x7F000001;
inline constexpr u_long INADDR_BROADCAST = 0xFFFFFFFF;
inline constexpr u_long INADDR_NONE = 0xFFFFFFFF;

struct in_addr {
  union {
    u_long s_addr;  // network byte order
    union {
      struct {
        u_char s_b1, s_b2, s_b3, s_b4;
      } S_un_b;
      struct {
        u_short s_w1, s_w2;
      } S_un_w;
      u_long S_addr;
    } S_un;
  };
};

struct sockaddr {
  u_short sa_family;
  char sa_data[14];
};

struct sockaddr_in {
  short sin_family;
  u_short sin_port;  // network byte order
  in_addr sin_addr;
  char sin_zero[8];
};
static_assert(sizeof(sockaddr_in) == 16 && sizeof(sockaddr) == 16);

struct hostent {
  char* h_name;
  char** h_aliases;
  short h_addrtype;
  short h_length;
  char** h_addr_list;  // each entry points at h_length bytes in network order
};

struct servent {
  char* s_name;
  char** s_aliases;
  short s_port;  // network byte order
  char* s_proto;
};

struct protoent {
  char* p_name;
  char** p_aliases;
  short p_proto;
};

struct linger {
  u_short l_onoff;
  u_short l_linger;  // seconds
};

struct timeval {
  std::int32_t tv_sec;
  std::int32_t tv_usec;
};

// --- select ---
inline constexpr u_int kFdSetSize = 64;
struct fd_set {
  u_int fd_count;
  SOCKET fd_array[kFdSetSize];
};

inline void FdSetAdd(SOCKET s, fd_set* set) {
  for (u_int i = 0; i < set->fd_count; ++i)
    if (set->fd_array[i] == s) return;
  if (set->fd_count < kFdSetSize) set->fd_array[set->fd_count++] = s;
}
inline void FdSetRemove(SOCKET s, fd_set* set) {
  for (u_int i = 0; i < set->fd_count; ++i) {
    if (set->fd_array[i] != s) continue;
    for (u_int j = i + 1; j < set->fd_count; ++j) set->fd_array[j - 1] = set->fd_array[j];
    --set->fd_count;
    return;
  }
}
inline int FdSetHas(SOCKET s, const fd_set* set) {
  for (u_int i = 0; i < set->fd_count; ++i)
    if (set->fd_array[i] == s) return 1;
  return 0;
}

// --- socket options and flags ---
inline constexpr int SOL_SOCKET = 0xFFFF;
inline constexpr int SO_DEBUG = 0x0001;
inline constexpr int SO_ACCEPTCONN = 0x0002;
inline constexpr int SO_REUSEADDR = 0x0004;
inline constexpr int SO_KEEPALIVE = 0x0008;
inline constexpr int SO_DONTROUTE = 0x0010;
inline constexpr int SO_BROADCAST = 0x0020;
inline constexpr int SO_USELOOPBACK = 0x0040;
inline constexpr int SO_LINGER = 0x0080;
inline constexpr int SO_OOBINLINE = 0x0100;
inline constexpr int SO_DONTLINGER = ~SO_LINGER;
inline constexpr int SO_SNDBUF = 0x1001;
inline constexpr int SO_RCVBUF = 0x1002;
inline constexpr int SO_SNDLOWAT = 0x1003;
inline constexpr int SO_RCVLOWAT = 0x1004;
inline constexpr int SO_SNDTIMEO = 0x1005;
inline constexpr int SO_RCVTIMEO = 0x1006;
inline constexpr int SO_ERROR = 0x1007;
inline constexpr int SO_TYPE = 0x1008;
inline constexpr int TCP_NODELAY = 0x0001;

inline constexpr int MSG_OOB = 0x1;
inline constexpr int MSG_PEEK = 0x2;
inline constexpr int MSG_DONTROUTE = 0x4;

inline constexpr int SOMAXCONN = 5;
inline constexpr int SD_RECEIVE = 0;
inline constexpr int SD_SEND = 1;
inline constexpr int SD_BOTH = 2;

inline constexpr std::int32_t FIONREAD = 0x4004667F;
inline constexpr std::int32_t FIONBIO = static_cast<std::int32_t>(0x8004667E);
inline constexpr std::int32_t SIOCATMARK = 0x40047307;

// --- asynchronous notifications ---
inline constexpr std::int32_t FD_READ = 0x01;
inline constexpr std::int32_t FD_WRITE = 0x02;
inline constexpr std::int32_t FD_OOB = 0x04;
inline constexpr std::int32_t FD_ACCEPT = 0x08;
inline constexpr std::int32_t FD_CONNECT = 0x10;
inline constexpr std::int32_t FD_CLOSE = 0x20;

inline constexpr LPARAM WSAMAKESELECTREPLY(WORD event, WORD error) { return MAKELPARAM(event, error); }
inline constexpr WORD WSAGETSELECTEVENT(LPARAM l) { return LOWORD(static_cast<std::uintptr_t>(l)); }
inline constexpr WORD WSAGETSELECTERROR(LPARAM l) { return HIWORD(static_cast<std::uintptr_t>(l)); }
inline constexpr LPARAM WSAMAKEASYNCREPLY(WORD buflen, WORD error) { return MAKELPARAM(buflen, error); }
inline constexpr WORD WSAGETASYNCBUFLEN(LPARAM l) { return LOWORD(static_cast<std::uintptr_t>(l)); }
inline constexpr WORD WSAGETASYNCERROR(LPARAM l) { return HIWORD(static_cast<std::uintptr_t>(l)); }

inline constexpr int MAXGETHOSTSTRUCT = 1024;

// --- start-up ---
inline constexpr int WSADESCRIPTION_LEN = 256;
inline constexpr int WSASYS_STATUS_LEN = 128;
struct WSADATA {
  WORD wVersion;
  WORD wHighVersion;
  char szDescription[WSADESCRIPTION_LEN + 1];
  char szSystemStatus[WSASYS_STATUS_LEN + 1];
  unsigned short iMaxSockets;
  unsigned short iMaxUdpDg;
  char* lpVendorInfo;
};
using LPWSADATA = WSADATA*;

inline constexpr WORD MAKEWORD(BYTE lo, BYTE hi) { return static_cast<WORD>(lo | (hi << 8)); }

// --- the exports, as GetProcAddress hands them out ---
using PFN_WSAFDIsSet = int (*)(SOCKET, fd_set*);  // exported as "__WSAFDIsSet"
using PFN_accept = SOCKET (*)(SOCKET, sockaddr*, int*);
using PFN_bind = int (*)(SOCKET, const sockaddr*, int);
using PFN_closesocket = int (*)(SOCKET);
using PFN_connect = int (*)(SOCKET, const sockaddr*, int);
using PFN_ioctlsocket = int (*)(SOCKET, std::int32_t, u_long*);
using PFN_getpeername = int (*)(SOCKET, sockaddr*, int*);
using PFN_getsockname = int (*)(SOCKET, sockaddr*, int*);
using PFN_getsockopt = int (*)(SOCKET, int, int, char*, int*);
using PFN_htonl = u_long (*)(u_long);
using PFN_htons = u_short (*)(u_short);
using PFN_inet_addr = u_long (*)(const char*);
using PFN_inet_ntoa = char* (*)(in_addr);
using PFN_listen = int (*)(SOCKET, int);
using PFN_ntohl = u_long (*)(u_long);
using PFN_ntohs = u_short (*)(u_short);
using PFN_recv = int (*)(SOCKET, char*, int, int);
using PFN_recvfrom = int (*)(SOCKET, char*, int, int, sockaddr*, int*);
using PFN_select = int (*)(int, fd_set*, fd_set*, fd_set*, const timeval*);
using PFN_send = int (*)(SOCKET, const char*, int, int);
using PFN_sendto = int (*)(SOCKET, const char*, int, int, const sockaddr*, int);
using PFN_setsockopt = int (*)(SOCKET, int, int, const char*, int);
using PFN_shutdown = int (*)(SOCKET, int);
using PFN_socket = SOCKET (*)(int, int, int);
using PFN_gethostbyaddr = hostent* (*)(const char*, int, int);
using PFN_gethostbyname = hostent* (*)(const char*);
using PFN_gethostname = int (*)(char*, int);
using PFN_getservbyport = servent* (*)(int, const char*);
using PFN_getservbyname = servent* (*)(const char*, const char*);
using PFN_getprotobynumber = protoent* (*)(int);
using PFN_getprotobyname = protoent* (*)(const char*);
using PFN_WSAStartup = int (*)(WORD, WSADATA*);
using PFN_WSACleanup = int (*)();
using PFN_WSASetLastError = void (*)(int);
using PFN_WSAGetLastError = int (*)();
using PFN_WSAIsBlocking = BOOL (*)();
using PFN_WSAUnhookBlockingHook = int (*)();
using PFN_WSASetBlockingHook = FARPROC (*)(FARPROC);
using PFN_WSACancelBlockingCall = int (*)();
using PFN_WSAAsyncGetServByName = HANDLE (*)(HWND, u_int, const char*, const char*, char*, int);
using PFN_WSAAsyncGetServByPort = HANDLE (*)(HWND, u_int, int, const char*, char*, int);
using PFN_WSAAsyncGetProtoByName = HANDLE (*)(HWND, u_int, const char*, char*, int);
using PFN_WSAAsyncGetProtoByNumber = HANDLE (*)(HWND, u_int, int, char*, int);
using PFN_WSAAsyncGetHostByName = HANDLE (*)(HWND, u_int, const char*, char*, int);
using PFN_WSAAsyncGetHostByAddr = HANDLE (*)(HWND, u_int, const char*, int, int, char*, int);
using PFN_WSACancelAsyncRequest = int (*)(HANDLE);
using PFN_WSAAsyncSelect = int (*)(SOCKET, HWND, u_int, std::int32_t);

}  // namespace ws

#include "platform/winsock/bsd_names.h"  // and brings them back

// The C library's versions work on its own fd_set; these work on ws::fd_set.
#undef FD_SETSIZE
#undef FD_SET
#undef FD_CLR
#undef FD_ISSET
#undef FD_ZERO
#define FD_SETSIZE 64
#define FD_SET(s, set) ::ws::FdSetAdd((s), (set))
#define FD_CLR(s, set) ::ws::FdSetRemove((s), (set))
#define FD_ISSET(s, set) ::ws::FdSetHas((s), (set))
#define FD_ZERO(set) ((set)->fd_count = 0)

namespace winsock {

inline constexpr const char* kModuleName = "WSOCK32.DLL";
inline constexpr const char* kModulePath = "C:\\WINDOWS\\SYSTEM\\WSOCK32.DLL";

// Makes "WSOCK32.DLL" known to LoadLibraryA. Every program that links this library registers
// it at start-up already; calling this again is harmless.
void EnsureRegistered();

}  // namespace winsock
