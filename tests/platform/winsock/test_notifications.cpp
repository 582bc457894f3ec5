// Window notifications on real loopback connections: order, re-arming, close and reset,
// blocked sends, accepts, and handles that must not be confused after close.
#include <string>

#include "tests/platform/winsock/helpers.h"

namespace wstest {
namespace {

class WinsockNotifications : public WinsockTest {};

// Waits for readability without dispatching anything.
bool WaitReadable(ws::SOCKET s) {
  ws::fd_set set{};
  FD_SET(s, &set);
  const ws::timeval limit{5, 0};
  return ws::select(0, &set, nullptr, nullptr, &limit) == 1;
}

// Turns due readiness into queued notifications, leaving them in the queue.
void QueueDueNotifications() {
  MSG m;
  PeekMessageA(&m, nullptr, 0, 0, PM_NOREMOVE);
}

int Readable(ws::SOCKET s) {
  ws::u_long n = 0;
  EXPECT_EQ(0, ws::ioctlsocket(s, ws::FIONREAD, &n));
  return static_cast<int>(n);
}

TEST_F(WinsockNotifications, ConnectThenWriteThenReadsRearmedOnlyByRecvThenOneCloseAfterData) {
  ws::SOCKET c, p;
  Pair(&c, &p);
  ASSERT_NE(nullptr, First(c, ws::FD_CONNECT));
  EXPECT_EQ(0, First(c, ws::FD_CONNECT)->error());
  // FD_CONNECT comes before FD_WRITE.
  EXPECT_LT(First(c, ws::FD_CONNECT), First(c, ws::FD_WRITE));

  ASSERT_EQ(5, ws::send(p, "hello", 5, 0));
  ASSERT_TRUE(PumpUntil([c] { return Count(c, ws::FD_READ) == 1; }));

  // More data without a recv in between: no second FD_READ.
  ASSERT_EQ(5, ws::send(p, "world", 5, 0));
  ASSERT_TRUE(PumpUntil([c] { return Readable(c) == 10; }));
  Settle();
  EXPECT_EQ(1, Count(c, ws::FD_READ));

  // A recv that leaves bytes behind re-arms and reports them again.
  char buf[64];
  ASSERT_EQ(3, ws::recv(c, buf, 3, 0));
  EXPECT_EQ("hel", std::string(buf, 3));
  ASSERT_TRUE(PumpUntil([c] { return Count(c, ws::FD_READ) == 2; }));

  // Draining everything re-arms, but with nothing left nothing is reported.
  ASSERT_EQ(7, ws::recv(c, buf, sizeof buf, 0));
  EXPECT_EQ("loworld", std::string(buf, 7));
  Settle();
  EXPECT_EQ(2, Count(c, ws::FD_READ));

  // Last words and an orderly close: the data first, then one FD_CLOSE with no error.
  ASSERT_EQ(4, ws::send(p, "tail", 4, 0));
  ASSERT_EQ(0, ws::closesocket(p));
  ASSERT_TRUE(PumpUntil([c] { return Count(c, ws::FD_READ) == 3; }));
  EXPECT_EQ(0, Count(c, ws::FD_CLOSE)) << "FD_CLOSE must wait until the data is read";
  ASSERT_EQ(4, ws::recv(c, buf, sizeof buf, 0));
  ASSERT_TRUE(PumpUntil([c] { return Count(c, ws::FD_CLOSE) == 1; }));
  EXPECT_EQ(0, First(c, ws::FD_CLOSE)->error());
  EXPECT_EQ(0, ws::recv(c, buf, sizeof buf, 0));
  Settle();
  EXPECT_EQ(1, Count(c, ws::FD_CLOSE));
  EXPECT_EQ(3, Count(c, ws::FD_READ));
  EXPECT_EQ(1, Count(c, ws::FD_CONNECT));
  EXPECT_EQ(1, Count(c, ws::FD_WRITE));
  ws::closesocket(c);
}

TEST_F(WinsockNotifications, RefusedConnectReportsOnceWithConnectionRefused) {
  // A bound socket that does not listen holds a port nobody answers on.
  ws::SOCKET holder = ws::socket(ws::AF_INET, ws::SOCK_STREAM, 0);
  const ws::sockaddr_in any = Loopback(0);
  ASSERT_EQ(0, ws::bind(holder, Sa(any), sizeof any));
  ws::SOCKET c = AsyncClient(PortOf(holder));
  ASSERT_TRUE(PumpUntil([c] { return Count(c, ws::FD_CONNECT) == 1; }));
  EXPECT_EQ(ws::WSAECONNREFUSED, First(c, ws::FD_CONNECT)->error());
  Settle();
  EXPECT_EQ(1, CountFor(c)) << "no FD_WRITE or FD_CLOSE after a failed connect";
  ws::closesocket(c);
  ws::closesocket(holder);
}

TEST_F(WinsockNotifications, ConnectOutcomeSeenBySelectIsStillNotified) {
  ws::u_short port;
  ws::SOCKET l = Listener(&port);
  ws::SOCKET c = AsyncClient(port);
  ws::fd_set w{};
  FD_SET(c, &w);
  const ws::timeval limit{5, 0};
  ASSERT_EQ(1, ws::select(0, nullptr, &w, nullptr, &limit));
  ASSERT_TRUE(PumpUntil([c] { return Count(c, ws::FD_WRITE) == 1; }));
  ASSERT_EQ(1, Count(c, ws::FD_CONNECT));
  EXPECT_EQ(0, First(c, ws::FD_CONNECT)->error());
  ws::closesocket(c);
  ws::closesocket(l);
}

TEST_F(WinsockNotifications, ResetByPeerClosesWithConnectionReset) {
  ws::SOCKET c, p;
  Pair(&c, &p);
  const ws::linger hard{1, 0};
  ASSERT_EQ(0, ws::setsockopt(p, ws::SOL_SOCKET, ws::SO_LINGER, reinterpret_cast<const char*>(&hard), sizeof hard));
  ASSERT_EQ(0, ws::closesocket(p));
  ASSERT_TRUE(PumpUntil([c] { return Count(c, ws::FD_CLOSE) == 1; }));
  EXPECT_EQ(ws::WSAECONNRESET, First(c, ws::FD_CLOSE)->error());
  char buf[16];
  EXPECT_EQ(ws::SOCKET_ERROR, ws::recv(c, buf, sizeof buf, 0));
  EXPECT_EQ(ws::WSAECONNRESET, ws::WSAGetLastError());
  Settle();
  EXPECT_EQ(1, Count(c, ws::FD_CLOSE));
  ws::closesocket(c);
}

TEST_F(WinsockNotifications, ResetAfterDataReportsTheDataFirst) {
  ws::SOCKET c, p;
  Pair(&c, &p);
  ASSERT_EQ(3, ws::send(p, "bye", 3, 0));
  const ws::linger hard{1, 0};
  ASSERT_EQ(0, ws::setsockopt(p, ws::SOL_SOCKET, ws::SO_LINGER, reinterpret_cast<const char*>(&hard), sizeof hard));
  ASSERT_EQ(0, ws::closesocket(p));
  ASSERT_TRUE(PumpUntil([c] { return Count(c, ws::FD_READ) == 1; }));
  Settle();
  EXPECT_EQ(0, Count(c, ws::FD_CLOSE));
  char buf[16];
  ASSERT_EQ(3, ws::recv(c, buf, sizeof buf, 0));
  ASSERT_TRUE(PumpUntil([c] { return Count(c, ws::FD_CLOSE) == 1; }));
  EXPECT_EQ(ws::WSAECONNRESET, First(c, ws::FD_CLOSE)->error());
  EXPECT_EQ(ws::SOCKET_ERROR, ws::recv(c, buf, sizeof buf, 0));
  EXPECT_EQ(ws::WSAECONNRESET, ws::WSAGetLastError());
  ws::closesocket(c);
}

TEST_F(WinsockNotifications, WriteReportedAgainOnlyAfterABlockedSendFindsRoom) {
  ws::SOCKET c, p;
  Pair(&c, &p);
  ASSERT_EQ(1, Count(c, ws::FD_WRITE));
  std::string chunk(65536, 'x');
  long long sent = 0;
  int before;
  int rounds = 0;
  do {
    ASSERT_LT(++rounds, 20) << "FD_WRITE keeps coming while the buffer stays full";
    for (;;) {
      const int r = ws::send(c, chunk.data(), static_cast<int>(chunk.size()), 0);
      if (r == ws::SOCKET_ERROR) {
        ASSERT_EQ(ws::WSAEWOULDBLOCK, ws::WSAGetLastError());
        break;
      }
      sent += r;
      ASSERT_LT(sent, 1LL << 30) << "the send buffer never filled";
    }
    before = Count(c, ws::FD_WRITE);
    Settle();
    // Room that freed while settling was reported; fill it again until the buffer stays full.
  } while (Count(c, ws::FD_WRITE) != before);

  // The peer drains everything; room frees and one FD_WRITE follows.
  std::string sink(65536, '\0');
  for (long long got = 0; got < sent;) {
    const int r = ws::recv(p, sink.data(), static_cast<int>(sink.size()), 0);
    ASSERT_GT(r, 0);
    got += r;
  }
  ASSERT_TRUE(PumpUntil([&] { return Count(c, ws::FD_WRITE) == before + 1; }));
  Settle();
  EXPECT_EQ(before + 1, Count(c, ws::FD_WRITE));
  // A send that goes through does not ask for another.
  ASSERT_EQ(4, ws::send(c, "more", 4, 0));
  Settle();
  EXPECT_EQ(before + 1, Count(c, ws::FD_WRITE));
  ws::closesocket(c);
  ws::closesocket(p);
}

TEST_F(WinsockNotifications, AcceptReportedOncePerAcceptAndAcceptedSocketIsNonBlocking) {
  ws::u_short port;
  ws::SOCKET l = Listener(&port);
  ASSERT_EQ(0, ws::WSAAsyncSelect(l, hwnd_, kSocketMsg, ws::FD_ACCEPT));
  const ws::sockaddr_in a = Loopback(port);
  ws::SOCKET c1 = ws::socket(ws::AF_INET, ws::SOCK_STREAM, 0);
  ASSERT_EQ(0, ws::connect(c1, Sa(a), sizeof a));
  ASSERT_TRUE(PumpUntil([l] { return Count(l, ws::FD_ACCEPT) == 1; }));
  ws::SOCKET c2 = ws::socket(ws::AF_INET, ws::SOCK_STREAM, 0);
  ASSERT_EQ(0, ws::connect(c2, Sa(a), sizeof a));
  Settle();
  EXPECT_EQ(1, Count(l, ws::FD_ACCEPT)) << "not re-armed before accept";

  ws::sockaddr_in from{};
  int fromLen = sizeof from;
  ws::SOCKET s1 = ws::accept(l, reinterpret_cast<ws::sockaddr*>(&from), &fromLen);
  ASSERT_NE(ws::INVALID_SOCKET, s1);
  EXPECT_EQ(static_cast<int>(sizeof from), fromLen);
  EXPECT_EQ(ws::htonl(ws::INADDR_LOOPBACK), from.sin_addr.s_addr);
  // The second connection is still waiting: accept re-armed, so it is reported.
  ASSERT_TRUE(PumpUntil([l] { return Count(l, ws::FD_ACCEPT) == 2; }));
  ws::SOCKET s2 = ws::accept(l, nullptr, nullptr);
  ASSERT_NE(ws::INVALID_SOCKET, s2);
  Settle();
  EXPECT_EQ(2, Count(l, ws::FD_ACCEPT));

  char buf[4];
  EXPECT_EQ(ws::SOCKET_ERROR, ws::recv(s1, buf, sizeof buf, 0));
  EXPECT_EQ(ws::WSAEWOULDBLOCK, ws::WSAGetLastError());
  // Selecting events on the accepted socket reports it writable at once.
  ASSERT_EQ(0, ws::WSAAsyncSelect(s1, hwnd_, kSocketMsg, ws::FD_READ | ws::FD_WRITE | ws::FD_CLOSE));
  ASSERT_TRUE(PumpUntil([s1] { return Count(s1, ws::FD_WRITE) == 1; }));
  ASSERT_EQ(2, ws::send(c1, "hi", 2, 0));
  ASSERT_TRUE(PumpUntil([s1] { return Count(s1, ws::FD_READ) == 1; }));
  for (ws::SOCKET s : {l, c1, c2, s1, s2}) ws::closesocket(s);
}

TEST_F(WinsockNotifications, ClosedHandlesAreNotReusedAndTheirQueuedNotificationsAreDropped) {
  ws::SOCKET c, p;
  Pair(&c, &p);
  // Something for the old socket is due; close it before it is dispatched.
  ASSERT_EQ(3, ws::send(p, "old", 3, 0));
  ASSERT_TRUE(WaitReadable(c));
  QueueDueNotifications();
  ASSERT_EQ(0, ws::closesocket(c));
  ws::closesocket(p);

  ws::SOCKET c2, p2;
  Pair(&c2, &p2);
  EXPECT_NE(c, c2);
  EXPECT_GT(c2, c);
  ASSERT_EQ(3, ws::send(p2, "new", 3, 0));
  ASSERT_TRUE(PumpUntil([c2] { return Count(c2, ws::FD_READ) == 1; }));
  Settle();
  EXPECT_EQ(0, Count(c, ws::FD_READ)) << "a notification of the closed socket was delivered";
  char buf[8];
  EXPECT_EQ(ws::SOCKET_ERROR, ws::recv(c, buf, sizeof buf, 0));
  EXPECT_EQ(ws::WSAENOTSOCK, ws::WSAGetLastError());
  EXPECT_EQ(3, ws::recv(c2, buf, sizeof buf, 0));
  EXPECT_EQ("new", std::string(buf, 3));
  ws::closesocket(c2);
  ws::closesocket(p2);
}

TEST_F(WinsockNotifications, EmptyEventMaskStopsEverythingIncludingQueuedNotifications) {
  ws::SOCKET c, p;
  Pair(&c, &p);
  ASSERT_EQ(2, ws::send(p, "ab", 2, 0));
  ASSERT_TRUE(WaitReadable(c));
  QueueDueNotifications();
  ASSERT_EQ(0, ws::WSAAsyncSelect(c, hwnd_, 0, 0));
  ws::closesocket(p);
  Settle();
  EXPECT_EQ(0, Count(c, ws::FD_READ));
  EXPECT_EQ(0, Count(c, ws::FD_CLOSE));
  // Still non-blocking and still readable by hand.
  char buf[8];
  EXPECT_EQ(2, ws::recv(c, buf, sizeof buf, 0));
  EXPECT_EQ(0, ws::recv(c, buf, sizeof buf, 0));
  ws::u_long blocking = 0;
  EXPECT_EQ(0, ws::ioctlsocket(c, ws::FIONBIO, &blocking)) << "no longer selected: may block again";
  ws::closesocket(c);
}

TEST_F(WinsockNotifications, BlockingModeRefusedWhileSelected) {
  ws::SOCKET c, p;
  Pair(&c, &p);
  ws::u_long blocking = 0;
  EXPECT_EQ(ws::SOCKET_ERROR, ws::ioctlsocket(c, ws::FIONBIO, &blocking));
  EXPECT_EQ(ws::WSAEINVAL, ws::WSAGetLastError());
  ws::closesocket(c);
  ws::closesocket(p);
}

}  // namespace
}  // namespace wstest
