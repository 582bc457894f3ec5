// The module's exports as plain functions, for code that links this library directly (its own
// registration, tests, benchmarks). Programs bind them through LoadLibraryA / GetProcAddress.
// The byte-order names are in parentheses: the C library may define them as macros.
#pragma once
#include "platform/winsock/winsock.h"

namespace ws {

int WSAFDIsSet(SOCKET s, fd_set* set);
SOCKET accept(SOCKET s, sockaddr* addr, int* addrlen);
int bind(SOCKET s, const sockaddr* name, int namelen);
int closesocket(SOCKET s);
int connect(SOCKET s, const sockaddr* name, int namelen);
int ioctlsocket(SOCKET s, std::int32_t cmd, u_long* argp);
int getpeername(SOCKET s, sockaddr* name, int* namelen);
int getsockname(SOCKET s, sockaddr* name, int* namelen);
int getsockopt(SOCKET s, int level, int optname, char* optval, int* optlen);
u_long(htonl)(u_long v);
u_short(htons)(u_short v);
u_long inet_addr(const char* cp);
char* inet_ntoa(in_addr in);
int listen(SOCKET s, int backlog);
u_long(ntohl)(u_long v);
u_short(ntohs)(u_short v);
int recv(SOCKET s, char* buf, int len, int flags);
int recvfrom(SOCKET s, char* buf, int len, int flags, sockaddr* from, int* fromlen);
int select(int nfds, fd_set* readfds, fd_set* writefds, fd_set* exceptfds, const timeval* timeout);
int send(SOCKET s, const char* buf, int len, int flags);
int sendto(SOCKET s, const char* buf, int len, int flags, const sockaddr* to, int tolen);
int setsockopt(SOCKET s, int level, int optname, const char* optval, int optlen);
int shutdown(SOCKET s, int how);
SOCKET socket(int af, int type, int protocol);
hostent* gethostbyaddr(const char* addr, int len, int type);
hostent* gethostbyname(const char* name);
int gethostname(char* name, int namelen);
servent* getservbyport(int port, const char* proto);
servent* getservbyname(const char* name, const char* proto);
protoent* getprotobynumber(int number);
protoent* getprotobyname(const char* name);
int WSAStartup(WORD versionRequested, WSADATA* data);
int WSACleanup();
void WSASetLastError(int error);
int WSAGetLastError();
BOOL WSAIsBlocking();
int WSAUnhookBlockingHook();
FARPROC WSASetBlockingHook(FARPROC hook);
int WSACancelBlockingCall();
HANDLE WSAAsyncGetServByName(HWND hwnd, u_int msg, const char* name, const char* proto, char* buf, int buflen);
HANDLE WSAAsyncGetServByPort(HWND hwnd, u_int msg, int port, const char* proto, char* buf, int buflen);
HANDLE WSAAsyncGetProtoByName(HWND hwnd, u_int msg, const char* name, char* buf, int buflen);
HANDLE WSAAsyncGetProtoByNumber(HWND hwnd, u_int msg, int number, char* buf, int buflen);
HANDLE WSAAsyncGetHostByName(HWND hwnd, u_int msg, const char* name, char* buf, int buflen);
HANDLE WSAAsyncGetHostByAddr(HWND hwnd, u_int msg, const char* addr, int len, int type, char* buf, int buflen);
int WSACancelAsyncRequest(HANDLE task);
int WSAAsyncSelect(SOCKET s, HWND hwnd, u_int msg, std::int32_t events);

}  // namespace ws
