// The module's plain calls: start-up, errors, binding by ordinal, select, options, addresses and
// names, and the asynchronous look-ups.
#include <cerrno>
#include <cstring>
#include <string>
#include <thread>

#include "platform/win32/module.h"
#include "platform/winsock/detail/bsd.h"
#include "tests/platform/winsock/helpers.h"

namespace wstest {
namespace {

class WinsockApi : public WinsockTest {};

TEST(WinsockErrors, ErrnoMapsToWinsockNumbers) {
  using winsock::bsd::MapErrno;
  EXPECT_EQ(ws::WSAEWOULDBLOCK, MapErrno(EINPROGRESS));
  EXPECT_EQ(ws::WSAEWOULDBLOCK, MapErrno(EAGAIN));
  EXPECT_EQ(ws::WSAECONNREFUSED, MapErrno(ECONNREFUSED));
  EXPECT_EQ(ws::WSAECONNRESET, MapErrno(ECONNRESET));
  EXPECT_EQ(ws::WSAECONNABORTED, MapErrno(ECONNABORTED));
  EXPECT_EQ(ws::WSAETIMEDOUT, MapErrno(ETIMEDOUT));
  EXPECT_EQ(ws::WSAEADDRINUSE, MapErrno(EADDRINUSE));
  EXPECT_EQ(ws::WSAENOTCONN, MapErrno(ENOTCONN));
  EXPECT_EQ(ws::WSAEHOSTUNREACH, MapErrno(EHOSTUNREACH));
  EXPECT_EQ(ws::WSAENETUNREACH, MapErrno(ENETUNREACH));
  EXPECT_EQ(ws::WSAEMFILE, MapErrno(EMFILE));
  EXPECT_EQ(ws::WSAENOBUFS, MapErrno(ENOBUFS));
  EXPECT_EQ(ws::WSAEINTR, MapErrno(EINTR));
  EXPECT_EQ(ws::WSAEINVAL, MapErrno(EINVAL));
  EXPECT_EQ(ws::WSAEINVAL, MapErrno(EDOM)) << "unknown errno values still map into the Winsock range";
}

TEST(WinsockStartup, NothingWorksBeforeStartAndCleanupCountsStarts) {
  winsock::EnsureRegistered();
  EXPECT_EQ(ws::INVALID_SOCKET, ws::socket(ws::AF_INET, ws::SOCK_STREAM, 0));
  EXPECT_EQ(ws::WSANOTINITIALISED, ws::WSAGetLastError());
  EXPECT_EQ(nullptr, ws::gethostbyname("localhost"));
  EXPECT_EQ(ws::SOCKET_ERROR, ws::WSACleanup());

  ws::WSADATA d;
  std::memset(&d, 0x55, sizeof d);
  ASSERT_EQ(0, ws::WSAStartup(ws::MAKEWORD(1, 1), &d));
  EXPECT_EQ(0x0101, d.wVersion);
  EXPECT_EQ(0x0101, d.wHighVersion);
  EXPECT_GT(std::strlen(d.szDescription), 0u);
  EXPECT_LE(std::strlen(d.szDescription), 256u);
  EXPECT_STREQ("Running", d.szSystemStatus);
  EXPECT_GT(d.iMaxSockets, 0);
  EXPECT_GE(d.iMaxUdpDg, 512);
  EXPECT_EQ(nullptr, d.lpVendorInfo);

  // A later version is answered with 1.1; an earlier one is refused.
  ws::WSADATA d2;
  ASSERT_EQ(0, ws::WSAStartup(ws::MAKEWORD(2, 2), &d2));
  EXPECT_EQ(0x0101, d2.wVersion);
  EXPECT_EQ(ws::WSAVERNOTSUPPORTED, ws::WSAStartup(ws::MAKEWORD(1, 0), &d2));
  EXPECT_EQ(ws::WSAEFAULT, ws::WSAStartup(ws::MAKEWORD(1, 1), nullptr));

  ws::SOCKET s = ws::socket(ws::AF_INET, ws::SOCK_STREAM, 0);
  ASSERT_NE(ws::INVALID_SOCKET, s);
  EXPECT_EQ(0, ws::WSACleanup());
  EXPECT_EQ(0, ws::closesocket(s)) << "one start is still held";
  s = ws::socket(ws::AF_INET, ws::SOCK_STREAM, 0);
  EXPECT_EQ(0, ws::WSACleanup());
  // The last cleanup closed what was left.
  ASSERT_EQ(0, ws::WSAStartup(ws::MAKEWORD(1, 1), &d));
  EXPECT_EQ(ws::SOCKET_ERROR, ws::closesocket(s));
  EXPECT_EQ(ws::WSAENOTSOCK, ws::WSAGetLastError());
  EXPECT_EQ(0, ws::WSACleanup());
}

TEST(WinsockModule, AllOrdinalsBindAndAModuleMissingSomeLeavesGaps) {
  winsock::EnsureRegistered();
  // The ordinals in the order a caller's table lists them.
  const WORD ordinals[47] = {151, 1,  2,  3,  4,  12, 5,   6,   7,   8,   9,   10,  11,  13,  14,  15,
                             16,  17, 18, 19, 20, 21, 22,  23,  51,  52,  57,  56,  55,  54,  53,  115,
                             116, 112, 111, 114, 110, 109, 113, 107, 106, 105, 104, 103, 102, 108, 101};
  HMODULE m = LoadLibraryA("wsock32.dll");
  ASSERT_NE(nullptr, m);
  for (WORD o : ordinals) EXPECT_NE(nullptr, GetProcAddress(m, MAKEINTRESOURCEA(o))) << "ordinal " << o;
  EXPECT_EQ(nullptr, GetProcAddress(m, MAKEINTRESOURCEA(200)));
  EXPECT_EQ(GetProcAddress(m, "socket"), GetProcAddress(m, MAKEINTRESOURCEA(23)));
  EXPECT_EQ(GetProcAddress(m, "__WSAFDIsSet"), GetProcAddress(m, MAKEINTRESOURCEA(151)));
  char path[260];
  ASSERT_GT(GetModuleFileNameA(m, path, sizeof path), 0u);
  EXPECT_STREQ(winsock::kModulePath, path);

  // Calls through the bound entries reach the module.
  auto startup = reinterpret_cast<ws::PFN_WSAStartup>(GetProcAddress(m, MAKEINTRESOURCEA(115)));
  auto cleanup = reinterpret_cast<ws::PFN_WSACleanup>(GetProcAddress(m, MAKEINTRESOURCEA(116)));
  auto addr = reinterpret_cast<ws::PFN_inet_addr>(GetProcAddress(m, MAKEINTRESOURCEA(10)));
  auto lastError = reinterpret_cast<ws::PFN_WSAGetLastError>(GetProcAddress(m, MAKEINTRESOURCEA(111)));
  auto sock = reinterpret_cast<ws::PFN_socket>(GetProcAddress(m, MAKEINTRESOURCEA(23)));
  ws::WSADATA d;
  ASSERT_EQ(0, startup(0x0101, &d));
  EXPECT_EQ(ws::htonl(0x7F000001), addr("127.0.0.1"));
  EXPECT_EQ(ws::INVALID_SOCKET, sock(ws::AF_INET, 99, 0));
  EXPECT_EQ(ws::WSAESOCKTNOSUPPORT, lastError());
  EXPECT_EQ(0, cleanup());

  // A module with only some entry points: the others are simply not there.
  win32::RegisterBuiltinModule("PARTSOCK.DLL", "C:\\PARTSOCK.DLL",
                               {{23, "socket", GetProcAddress(m, MAKEINTRESOURCEA(23))},
                                {115, "WSAStartup", GetProcAddress(m, MAKEINTRESOURCEA(115))}});
  HMODULE part = LoadLibraryA("PARTSOCK.DLL");
  ASSERT_NE(nullptr, part);
  EXPECT_NE(nullptr, GetProcAddress(part, MAKEINTRESOURCEA(23)));
  EXPECT_EQ(nullptr, GetProcAddress(part, MAKEINTRESOURCEA(16)));
  EXPECT_EQ(nullptr, GetProcAddress(part, MAKEINTRESOURCEA(101)));
  FreeLibrary(part);
  win32::UnregisterBuiltinModule("PARTSOCK.DLL");
}

TEST_F(WinsockApi, SocketCallsReportWinsockErrors) {
  char buf[4];
  EXPECT_EQ(ws::SOCKET_ERROR, ws::recv(12345678, buf, sizeof buf, 0));
  EXPECT_EQ(ws::WSAENOTSOCK, ws::WSAGetLastError());
  EXPECT_EQ(ws::INVALID_SOCKET, ws::socket(7, ws::SOCK_STREAM, 0));
  EXPECT_EQ(ws::WSAEAFNOSUPPORT, ws::WSAGetLastError());

  ws::u_short port;
  ws::SOCKET l = Listener(&port);
  // Same address twice.
  ws::SOCKET dup = ws::socket(ws::AF_INET, ws::SOCK_STREAM, 0);
  const ws::sockaddr_in a = Loopback(port);
  EXPECT_EQ(ws::SOCKET_ERROR, ws::bind(dup, Sa(a), sizeof a));
  EXPECT_EQ(ws::WSAEADDRINUSE, ws::WSAGetLastError());
  EXPECT_EQ(ws::SOCKET_ERROR, ws::bind(dup, Sa(a), 8));
  EXPECT_EQ(ws::WSAEFAULT, ws::WSAGetLastError());
  // Nowhere to connect to.
  const ws::sockaddr_in none = Loopback(0);
  EXPECT_EQ(ws::SOCKET_ERROR, ws::connect(dup, Sa(none), sizeof none));
  EXPECT_EQ(ws::WSAEADDRNOTAVAIL, ws::WSAGetLastError());
  // Not connected, non-blocking without data.
  EXPECT_EQ(ws::SOCKET_ERROR, ws::send(dup, "x", 1, 0));
  EXPECT_EQ(ws::WSAENOTCONN, ws::WSAGetLastError());
  ws::u_long on = 1;
  ASSERT_EQ(0, ws::ioctlsocket(dup, ws::FIONBIO, &on));
  if (ws::connect(dup, Sa(a), sizeof a) != 0) {
    EXPECT_EQ(ws::WSAEWOULDBLOCK, ws::WSAGetLastError());
  }
  ws::SOCKET p = ws::accept(l, nullptr, nullptr);
  ASSERT_NE(ws::INVALID_SOCKET, p);
  ws::u_long pnb = 1;
  ASSERT_EQ(0, ws::ioctlsocket(p, ws::FIONBIO, &pnb));
  EXPECT_EQ(ws::SOCKET_ERROR, ws::recv(p, buf, sizeof buf, 0));
  EXPECT_EQ(ws::WSAEWOULDBLOCK, ws::WSAGetLastError());
  // After shutting down sending.
  ASSERT_EQ(0, ws::shutdown(p, ws::SD_SEND));
  EXPECT_EQ(ws::SOCKET_ERROR, ws::send(p, "x", 1, 0));
  EXPECT_EQ(ws::WSAESHUTDOWN, ws::WSAGetLastError());
  EXPECT_EQ(ws::SOCKET_ERROR, ws::shutdown(p, 7));
  EXPECT_EQ(ws::WSAEINVAL, ws::WSAGetLastError());
  // The last error belongs to the thread.
  ws::WSASetLastError(4242);
  int other = -1;
  std::thread([&other] {
    other = ws::WSAGetLastError();
    ws::WSASetLastError(77);
  }).join();
  EXPECT_EQ(0, other);
  EXPECT_EQ(4242, ws::WSAGetLastError());
  for (ws::SOCKET s : {l, dup, p}) EXPECT_EQ(0, ws::closesocket(s));
}

TEST_F(WinsockApi, DatagramsCarryTheirSender) {
  ws::SOCKET a = ws::socket(ws::AF_INET, ws::SOCK_DGRAM, 0);
  ws::SOCKET b = ws::socket(ws::AF_INET, ws::SOCK_DGRAM, ws::IPPROTO_UDP);
  const ws::sockaddr_in any = Loopback(0);
  ASSERT_EQ(0, ws::bind(a, Sa(any), sizeof any));
  ASSERT_EQ(0, ws::bind(b, Sa(any), sizeof any));
  const ws::sockaddr_in to = Loopback(PortOf(b));
  ASSERT_EQ(4, ws::sendto(a, "ping", 4, 0, Sa(to), sizeof to));
  char buf[16];
  ws::sockaddr_in from{};
  int fromLen = sizeof from;
  ASSERT_EQ(4, ws::recvfrom(b, buf, sizeof buf, 0, reinterpret_cast<ws::sockaddr*>(&from), &fromLen));
  EXPECT_EQ("ping", std::string(buf, 4));
  EXPECT_EQ(ws::AF_INET, from.sin_family);
  EXPECT_EQ(ws::htons(PortOf(a)), from.sin_port);
  EXPECT_EQ(ws::htonl(ws::INADDR_LOOPBACK), from.sin_addr.s_addr);
  int shortLen = 4;
  EXPECT_EQ(ws::SOCKET_ERROR, ws::recvfrom(b, buf, sizeof buf, 0, reinterpret_cast<ws::sockaddr*>(&from), &shortLen));
  EXPECT_EQ(ws::WSAEFAULT, ws::WSAGetLastError());
  ws::sockaddr_in peer{};
  int peerLen = sizeof peer;
  EXPECT_EQ(ws::SOCKET_ERROR, ws::getpeername(a, reinterpret_cast<ws::sockaddr*>(&peer), &peerLen));
  EXPECT_EQ(ws::WSAENOTCONN, ws::WSAGetLastError());
  ws::closesocket(a);
  ws::closesocket(b);
}

TEST_F(WinsockApi, OptionsTheEngineSetsReadBack) {
  ws::SOCKET s = ws::socket(ws::AF_INET, ws::SOCK_STREAM, 0);
  auto setInt = [s](int opt, int v) {
    return ws::setsockopt(s, ws::SOL_SOCKET, opt, reinterpret_cast<const char*>(&v), sizeof v);
  };
  auto getInt = [s](int opt) {
    int v = -1;
    int len = sizeof v;
    EXPECT_EQ(0, ws::getsockopt(s, ws::SOL_SOCKET, opt, reinterpret_cast<char*>(&v), &len));
    EXPECT_EQ(static_cast<int>(sizeof v), len);
    return v;
  };
  ASSERT_EQ(0, setInt(ws::SO_REUSEADDR, 1));
  EXPECT_NE(0, getInt(ws::SO_REUSEADDR));
  ASSERT_EQ(0, setInt(ws::SO_KEEPALIVE, 1));
  EXPECT_NE(0, getInt(ws::SO_KEEPALIVE));
  ASSERT_EQ(0, setInt(ws::SO_OOBINLINE, 1));
  EXPECT_NE(0, getInt(ws::SO_OOBINLINE));
  ASSERT_EQ(0, setInt(ws::SO_RCVBUF, 65000));
  EXPECT_EQ(65000, getInt(ws::SO_RCVBUF));
  ASSERT_EQ(0, setInt(ws::SO_SNDBUF, 65000));
  EXPECT_EQ(65000, getInt(ws::SO_SNDBUF));
  // The engine's small sizes read back as given on a stream, without shrinking the kernel's.
  ASSERT_EQ(0, setInt(ws::SO_RCVBUF, 2048));
  EXPECT_EQ(2048, getInt(ws::SO_RCVBUF));
  EXPECT_EQ(ws::SOCKET_ERROR, setInt(ws::SO_SNDBUF, -1));
  EXPECT_EQ(ws::WSAEINVAL, ws::WSAGetLastError());
  EXPECT_EQ(ws::SOCK_STREAM, getInt(ws::SO_TYPE));

  const ws::linger hard{1, 0};
  ASSERT_EQ(0, ws::setsockopt(s, ws::SOL_SOCKET, ws::SO_LINGER, reinterpret_cast<const char*>(&hard), sizeof hard));
  ws::linger back{9, 9};
  int len = sizeof back;
  ASSERT_EQ(0, ws::getsockopt(s, ws::SOL_SOCKET, ws::SO_LINGER, reinterpret_cast<char*>(&back), &len));
  EXPECT_EQ(1, back.l_onoff);
  EXPECT_EQ(0, back.l_linger);

  EXPECT_EQ(ws::SOCKET_ERROR, setInt(0x7777, 1));
  EXPECT_EQ(ws::WSAENOPROTOOPT, ws::WSAGetLastError());
  EXPECT_EQ(ws::SOCKET_ERROR, ws::setsockopt(s, ws::SOL_SOCKET, ws::SO_KEEPALIVE, "", 1));
  EXPECT_EQ(ws::WSAEFAULT, ws::WSAGetLastError());
  ws::closesocket(s);
}

TEST_F(WinsockApi, SelectUsesCountAndArraySets) {
  ws::u_short port;
  ws::SOCKET l = Listener(&port);
  ws::SOCKET c = ws::socket(ws::AF_INET, ws::SOCK_STREAM, 0);
  const ws::sockaddr_in a = Loopback(port);
  ASSERT_EQ(0, ws::connect(c, Sa(a), sizeof a));

  ws::fd_set r{}, w{};
  FD_ZERO(&r);
  FD_SET(l, &r);
  FD_SET(c, &r);
  FD_SET(c, &r);  // no duplicates
  EXPECT_EQ(2u, r.fd_count);
  FD_SET(c, &w);
  const ws::timeval wait{5, 0};
  // The listener has a connection waiting; the client can write but has nothing to read.
  ASSERT_EQ(2, ws::select(0, &r, &w, nullptr, &wait));
  EXPECT_EQ(1u, r.fd_count);
  EXPECT_TRUE(FD_ISSET(l, &r));
  EXPECT_FALSE(FD_ISSET(c, &r));
  EXPECT_TRUE(ws::WSAFDIsSet(c, &w));

  ws::SOCKET p = ws::accept(l, nullptr, nullptr);
  ASSERT_EQ(3, ws::send(p, "abc", 3, 0));
  FD_ZERO(&r);
  FD_SET(c, &r);
  ASSERT_EQ(1, ws::select(0, &r, nullptr, nullptr, &wait));
  EXPECT_TRUE(FD_ISSET(c, &r));
  FD_CLR(c, &r);
  EXPECT_EQ(0u, r.fd_count);

  // Nothing ready and no time: zero.
  FD_SET(p, &r);
  const ws::timeval now{0, 0};
  EXPECT_EQ(0, ws::select(0, &r, nullptr, nullptr, &now));
  EXPECT_EQ(0u, r.fd_count);

  ws::fd_set bad{};
  FD_SET(987654321u, &bad);
  EXPECT_EQ(ws::SOCKET_ERROR, ws::select(0, &bad, nullptr, nullptr, &now));
  EXPECT_EQ(ws::WSAENOTSOCK, ws::WSAGetLastError());
  EXPECT_EQ(ws::SOCKET_ERROR, ws::select(0, nullptr, nullptr, nullptr, &now));
  EXPECT_EQ(ws::WSAEINVAL, ws::WSAGetLastError());

  // A failed non-blocking connect shows among the exceptions, not as writable.
  ws::SOCKET holder = ws::socket(ws::AF_INET, ws::SOCK_STREAM, 0);
  const ws::sockaddr_in any = Loopback(0);
  ASSERT_EQ(0, ws::bind(holder, Sa(any), sizeof any));
  ws::SOCKET f = ws::socket(ws::AF_INET, ws::SOCK_STREAM, 0);
  ws::u_long on = 1;
  ASSERT_EQ(0, ws::ioctlsocket(f, ws::FIONBIO, &on));
  const ws::sockaddr_in dead = Loopback(PortOf(holder));
  const int cr = ws::connect(f, Sa(dead), sizeof dead);
  if (cr == ws::SOCKET_ERROR && ws::WSAGetLastError() == ws::WSAEWOULDBLOCK) {
    ws::fd_set fw{}, fe{};
    FD_SET(f, &fw);
    FD_SET(f, &fe);
    ASSERT_EQ(1, ws::select(0, nullptr, &fw, &fe, &wait));
    EXPECT_EQ(0u, fw.fd_count);
    EXPECT_TRUE(FD_ISSET(f, &fe));
  } else {
    EXPECT_EQ(ws::WSAECONNREFUSED, ws::WSAGetLastError());
  }
  for (ws::SOCKET s : {l, c, p, holder, f}) ws::closesocket(s);
}

TEST_F(WinsockApi, AddressesInTextAndByteOrder) {
  EXPECT_EQ(0x3412, ws::htons(0x1234));
  EXPECT_EQ(0x78563412u, ws::htonl(0x12345678));
  EXPECT_EQ(0x1234, ws::ntohs(ws::htons(0x1234)));
  EXPECT_EQ(ws::htonl(0x7F000001), ws::inet_addr("127.0.0.1"));
  EXPECT_EQ(ws::htonl(0x0A000001), ws::inet_addr("10.1"));
  EXPECT_EQ(ws::htonl(0xC0A80101), ws::inet_addr("0xC0.0250.257"));
  EXPECT_EQ(ws::htonl(0x01020304), ws::inet_addr("1.2.3.4 "));
  for (const char* bad : {"", "1.2.3.4.5", "256.1.1.1", "1.2.3.x", "www.example.com", "1..2", "0x", "1.2.3.4x",
                          "4294967296", "08.1.1.1"})
    EXPECT_EQ(ws::INADDR_NONE, ws::inet_addr(bad)) << bad;
  EXPECT_EQ(ws::INADDR_NONE, ws::inet_addr(nullptr));
  ws::in_addr in;
  in.s_addr = ws::htonl(0xC0A8000A);
  EXPECT_STREQ("192.168.0.10", ws::inet_ntoa(in));
  EXPECT_EQ(192, in.S_un.S_un_b.s_b1);
  in.s_addr = ws::INADDR_NONE;
  EXPECT_STREQ("255.255.255.255", ws::inet_ntoa(in));
}

TEST_F(WinsockApi, HostNamesResolveToAddresses) {
  ws::hostent* h = ws::gethostbyname("localhost");
  ASSERT_NE(nullptr, h);
  EXPECT_EQ(ws::AF_INET, h->h_addrtype);
  EXPECT_EQ(4, h->h_length);
  ASSERT_NE(nullptr, h->h_addr_list[0]);
  ws::u_long first;
  std::memcpy(&first, h->h_addr_list[0], 4);
  EXPECT_EQ(0x7F, ws::ntohl(first) >> 24);
  ASSERT_NE(nullptr, h->h_aliases);

  h = ws::gethostbyname("10.20.30.40");
  ASSERT_NE(nullptr, h);
  std::memcpy(&first, h->h_addr_list[0], 4);
  EXPECT_EQ(ws::inet_addr("10.20.30.40"), first);
  EXPECT_EQ(nullptr, h->h_addr_list[1]);

  // A malformed name fails without asking any name server.
  EXPECT_EQ(nullptr, ws::gethostbyname("bad..name"));
  EXPECT_EQ(ws::WSAHOST_NOT_FOUND, ws::WSAGetLastError());

  const ws::u_long loop = ws::htonl(ws::INADDR_LOOPBACK);
  h = ws::gethostbyaddr(reinterpret_cast<const char*>(&loop), 4, ws::AF_INET);
  ASSERT_NE(nullptr, h);
  EXPECT_GT(std::strlen(h->h_name), 0u);
  std::memcpy(&first, h->h_addr_list[0], 4);
  EXPECT_EQ(loop, first);
  EXPECT_EQ(nullptr, ws::gethostbyaddr(reinterpret_cast<const char*>(&loop), 2, ws::AF_INET));
  EXPECT_EQ(ws::WSAEFAULT, ws::WSAGetLastError());

  char name[256];
  ASSERT_EQ(0, ws::gethostname(name, sizeof name));
  EXPECT_GT(std::strlen(name), 0u);
  EXPECT_EQ(ws::SOCKET_ERROR, ws::gethostname(name, 1));
  EXPECT_EQ(ws::WSAEFAULT, ws::WSAGetLastError());

}

// Service and protocol names come from netbase's /etc/services and /etc/protocols.
TEST_F(WinsockApi, ServicesAndProtocolsByNameAndNumber) {
  ws::servent* se = ws::getservbyname("http", "tcp");
  ASSERT_NE(nullptr, se);
  EXPECT_STREQ("http", se->s_name);
  EXPECT_EQ(80, ws::ntohs(static_cast<ws::u_short>(se->s_port)));
  EXPECT_STREQ("tcp", se->s_proto);
  ASSERT_NE(nullptr, se->s_aliases);
  se = ws::getservbyport(ws::htons(21), "tcp");
  ASSERT_NE(nullptr, se);
  EXPECT_STREQ("ftp", se->s_name);
  EXPECT_EQ(nullptr, ws::getservbyname("no-such-service", nullptr));
  EXPECT_EQ(ws::WSANO_DATA, ws::WSAGetLastError());

  ws::protoent* pe = ws::getprotobynumber(6);
  ASSERT_NE(nullptr, pe);
  EXPECT_STREQ("tcp", pe->p_name);
  pe = ws::getprotobyname("udp");
  ASSERT_NE(nullptr, pe);
  EXPECT_EQ(17, pe->p_proto);

  // The asynchronous form lays the record out in the caller's buffer.
  alignas(8) char buf[ws::MAXGETHOSTSTRUCT];
  HANDLE task = ws::WSAAsyncGetServByName(hwnd_, kLookupMsg, "smtp", "tcp", buf, sizeof buf);
  ASSERT_NE(nullptr, task);
  ASSERT_TRUE(PumpUntil([task] {
    return !Events().empty() && Events().back().wParam == reinterpret_cast<WPARAM>(task);
  }));
  ASSERT_EQ(0, ws::WSAGETASYNCERROR(Events().back().lParam));
  const auto* s = reinterpret_cast<const ws::servent*>(buf);
  EXPECT_STREQ("smtp", s->s_name);
  EXPECT_EQ(25, ws::ntohs(static_cast<ws::u_short>(s->s_port)));
  EXPECT_GE(s->s_proto, buf);
  EXPECT_LT(s->s_proto, buf + sizeof buf);
}

TEST_F(WinsockApi, AsynchronousLookupPostsItsCompletion) {
  alignas(8) char buf[ws::MAXGETHOSTSTRUCT];
  HANDLE task = ws::WSAAsyncGetHostByName(hwnd_, kLookupMsg, "localhost", buf, sizeof buf);
  ASSERT_NE(nullptr, task);
  auto done = [](HANDLE t) {
    return [t] {
      for (const Event& e : Events())
        if (e.msg == kLookupMsg && e.wParam == reinterpret_cast<WPARAM>(t)) return true;
      return false;
    };
  };
  ASSERT_TRUE(PumpUntil(done(task)));
  const Event& ok = Events().back();
  EXPECT_EQ(0, ws::WSAGETASYNCERROR(ok.lParam));
  EXPECT_GT(ws::WSAGETASYNCBUFLEN(ok.lParam), sizeof(ws::hostent));
  EXPECT_LE(ws::WSAGETASYNCBUFLEN(ok.lParam), sizeof buf);
  const auto* h = reinterpret_cast<const ws::hostent*>(buf);
  ASSERT_NE(nullptr, h->h_addr_list[0]);
  ws::u_long first;
  std::memcpy(&first, h->h_addr_list[0], 4);
  EXPECT_EQ(0x7F, ws::ntohl(first) >> 24);
  // Everything the record points at lies inside the caller's buffer.
  EXPECT_GE(h->h_name, buf);
  EXPECT_LT(h->h_name, buf + sizeof buf);

  // Too small a buffer: WSAENOBUFS with the size that would have done.
  alignas(8) char small[16];
  Events().clear();
  task = ws::WSAAsyncGetHostByName(hwnd_, kLookupMsg, "localhost", small, sizeof small);
  ASSERT_NE(nullptr, task);
  ASSERT_TRUE(PumpUntil(done(task)));
  EXPECT_EQ(ws::WSAENOBUFS, ws::WSAGETASYNCERROR(Events().back().lParam));
  EXPECT_EQ(ok.lParam & 0xFFFF, Events().back().lParam & 0xFFFF);

  // An unknown name completes with a look-up error.
  Events().clear();
  task = ws::WSAAsyncGetHostByName(hwnd_, kLookupMsg, "bad..name", buf, sizeof buf);
  ASSERT_TRUE(PumpUntil(done(task)));
  EXPECT_EQ(ws::WSAHOST_NOT_FOUND, ws::WSAGETASYNCERROR(Events().back().lParam));

  // Cancelling a finished request fails; an unknown one is invalid.
  EXPECT_EQ(ws::SOCKET_ERROR, ws::WSACancelAsyncRequest(task));
  EXPECT_EQ(ws::WSAEALREADY, ws::WSAGetLastError());
  EXPECT_EQ(ws::SOCKET_ERROR, ws::WSACancelAsyncRequest(reinterpret_cast<HANDLE>(std::uintptr_t{7})));
  EXPECT_EQ(ws::WSAEINVAL, ws::WSAGetLastError());
}

TEST_F(WinsockApi, BlockingHooksAreKeptButNeverRun) {
  EXPECT_FALSE(ws::WSAIsBlocking());
  EXPECT_EQ(ws::SOCKET_ERROR, ws::WSACancelBlockingCall());
  EXPECT_EQ(ws::WSAEINVAL, ws::WSAGetLastError());
  auto hook = reinterpret_cast<FARPROC>(+[]() -> BOOL { return FALSE; });
  FARPROC previous = ws::WSASetBlockingHook(hook);
  EXPECT_NE(nullptr, previous);
  EXPECT_EQ(hook, ws::WSASetBlockingHook(previous));
  EXPECT_EQ(0, ws::WSAUnhookBlockingHook());
}

}  // namespace
}  // namespace wstest
