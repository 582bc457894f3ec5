// The asynchronous port against a scripted peer: connecting, lines and blocks, closes,
// resets, accept-data switching, partial sends.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <string>

#include "corv/core/Alloc.h"
#include "tests/corv/core/port_testing.h"
#include "tests/peers/process.h"
#include "tests/peers/scripted.h"

using corvtest::Aim;
using corvtest::PumpUntil;
using corvtest::RecordingPort;

namespace {

class Port : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(port.Init());
    // A regression ends a wait with 301 instead of hanging the run.
    port.SetTimeout(20);
    port.StartTimeout();
  }
  // Waits until the socket holds at least n unread bytes: the peer's data has arrived
  // without the port having taken it.
  bool WaitUnread(unsigned n) {
    return PumpUntil(port, [&] {
      ws::u_long avail = 0;
      WinsockProcs.ioctlsocket(port.Socket, ws::FIONREAD, &avail);
      return avail >= n;
    });
  }
  RecordingPort port;
};

TEST_F(Port, RefusedConnectionReportsTheCodeAndNoDisconnect) {
  Aim(port, peers::FreePort());
  EXPECT_EQ(10061, port.ConnectAndWait());
  EXPECT_TRUE(port.Has("connected 10061 [10061] Connection refused")) << port.events.size();
  EXPECT_EQ(0u, port.CountPrefix("disconnected"));
  EXPECT_EQ(ws::INVALID_SOCKET, port.Socket);
  EXPECT_FALSE(port.Connected);
  EXPECT_FALSE(port.Firewall.IsConnected());
}

TEST_F(Port, ConnectRefusesBadTargetsBeforeMakingASocket) {
  EXPECT_EQ(0, port.SetRemoteHost(""));
  port.SetRemotePort(21);
  EXPECT_EQ(102, port.Connect(true));
  EXPECT_STREQ("The RemoteHost address is invalid (0.0.0.0).", port.GetErrorText());
  EXPECT_EQ(0, port.SetRemoteHost("127.0.0.1"));
  port.SetRemotePort(0);
  EXPECT_EQ(116, port.Connect(true));
  EXPECT_STREQ("RemotePort can't be zero. Please specify a valid service port number.", port.GetErrorText());
  EXPECT_EQ(ws::INVALID_SOCKET, port.Socket);

  port.Firewall.FirewallType = fwSOCKS5;
  EXPECT_EQ(102, port.Connect(true));
  EXPECT_STREQ("The FirewallHost address is invalid (0.0.0.0).", port.GetErrorText());
  EXPECT_EQ(0, port.Firewall.SetFirewallHost("127.0.0.1"));
  EXPECT_EQ(116, port.Connect(true));
  EXPECT_STREQ("The FirewallPort is invalid (0).", port.GetErrorText());
}

TEST_F(Port, SettingsThatAConnectionInProgressForbids) {
  peers::ScriptedServer server;
  server.Accept().Stall().Start();
  Aim(port, server.port());
  ASSERT_EQ(0, port.ConnectAndWait());
  EXPECT_EQ(104, port.Connect(true));
  EXPECT_STREQ("Already connected. If you want to reconnect, close the current connection first.", port.GetErrorText());
  EXPECT_EQ(101, port.SetRemoteHost("10.1.2.3"));
  EXPECT_STREQ("10.1.2.3", port.RemoteHost.Text());  // the text is taken, the address is not
  EXPECT_STREQ("127.0.0.1", port.GetRemoteHost());
  EXPECT_EQ(100, port.SetRemotePort(99));
  // With a firewall type the host is only a text for the proxy.
  port.Firewall.FirewallType = fwTunnel;
  EXPECT_EQ(0, port.SetRemoteHost("far.example"));
  EXPECT_STREQ("far.example", port.GetRemoteHost());
  port.Firewall.FirewallType = fwNone;
  EXPECT_EQ(0, port.Connect(false));
  EXPECT_TRUE(port.Has("disconnected 0 OK"));
  EXPECT_EQ(0, port.Disconnect(0));  // not connected: nothing more happens
  EXPECT_EQ(1u, port.CountPrefix("disconnected"));
}

TEST_F(Port, LinesSplitAcrossSegmentsAreJoined) {
  peers::ScriptedServer server;
  server.Accept().Send("hel").Gate(1).Send("lo\r\nwor").Gate(2).Send("ld\r\n\r\n").Stall().Start();
  Aim(port, server.port());
  port.StopAtLine = false;
  ASSERT_EQ(0, port.SetEOL("\r\n", 2));
  ASSERT_EQ(0, port.ConnectAndWait());
  ASSERT_TRUE(PumpUntil(port, [&] { return port.Fifo.Count() == 3; }));
  EXPECT_TRUE(port.pieces.empty());
  server.Open(1);
  ASSERT_TRUE(PumpUntil(port, [&] { return port.pieces.size() == 1 && port.Fifo.Count() == 3; }));
  EXPECT_EQ("hello|eol", port.pieces[0]);
  server.Open(2);
  ASSERT_TRUE(PumpUntil(port, [&] { return port.pieces.size() == 3; }));
  EXPECT_EQ("world|eol", port.pieces[1]);
  EXPECT_EQ("|eol", port.pieces[2]);
}

TEST_F(Port, LineLongerThanTheBufferArrivesInPieces) {
  peers::ScriptedServer server;
  std::string longLine(5000, 'x');
  server.Accept().Send(longLine + "\n220 next\n").Stall().Start();
  Aim(port, server.port());
  ASSERT_EQ(0, port.SetEOL("\n", 1));
  ASSERT_EQ(0, port.ConnectAndWait());
  ASSERT_EQ(0, port.WaitForLine());
  EXPECT_EQ(longLine, std::string(port.Reply.Text(), port.Reply.Length()));
  ASSERT_EQ(3u, port.pieces.size());
  EXPECT_EQ(std::string(2048, 'x') + "|part", port.pieces[0]);
  EXPECT_EQ(std::string(2048, 'x') + "|part", port.pieces[1]);
  EXPECT_EQ(std::string(904, 'x') + "|eol", port.pieces[2]);
  ASSERT_EQ(0, port.WaitForLine());
  EXPECT_STREQ("220 next", port.Reply.Text());
}

TEST_F(Port, CloseRightAfterALastLineWithoutLineEnd) {
  peers::ScriptedServer server;
  server.Accept().Send("one\r\ntwo\r\nthr").Close().Start();
  Aim(port, server.port());
  port.StopAtLine = false;
  ASSERT_EQ(0, port.SetEOL("\r\n", 2));
  ASSERT_EQ(0, port.ConnectAndWait());
  ASSERT_TRUE(PumpUntil(port, [&] { return port.CountPrefix("disconnected") == 1; }));
  ASSERT_EQ(3u, port.pieces.size());
  EXPECT_EQ("one|eol", port.pieces[0]);
  EXPECT_EQ("two|eol", port.pieces[1]);
  EXPECT_EQ("thr|part", port.pieces[2]);
  EXPECT_EQ("disconnected 0 OK", port.events.back());
  EXPECT_EQ(ws::INVALID_SOCKET, port.Socket);
  EXPECT_FALSE(port.Connected);
}

TEST_F(Port, AcceptDataStopsAfterTheCurrentLineAndResumesOnTheNextPass) {
  peers::ScriptedServer server;
  server.Accept().Gate(1).Send("a\nb\nc\n").Stall().Start();
  Aim(port, server.port());
  ASSERT_EQ(0, port.SetEOL("\n", 1));
  ASSERT_EQ(0, port.ConnectAndWait());
  port.SetAcceptData(false);
  server.Open(1);
  ASSERT_TRUE(WaitUnread(6));
  for (int i = 0; i < 5; ++i) port.DoEvents(0, port.Window);
  EXPECT_TRUE(port.pieces.empty()) << "nothing is delivered while data is not accepted";

  // The message port stops after each line.
  port.SetAcceptData(true);
  ASSERT_TRUE(PumpUntil(port, [&] { return port.pieces.size() == 1; }));
  for (int i = 0; i < 5; ++i) port.DoEvents(0, port.Window);
  EXPECT_EQ(1u, port.pieces.size());
  EXPECT_EQ(4u, port.Fifo.Count());
  EXPECT_FALSE(port.AcceptData);

  port.StopAtLine = false;
  port.SetAcceptData(true);
  ASSERT_TRUE(PumpUntil(port, [&] { return port.pieces.size() == 3; }));
  EXPECT_EQ("b|eol", port.pieces[1]);
  EXPECT_EQ("c|eol", port.pieces[2]);
}

TEST_F(Port, NewLineEndCutsHeldDataAgain) {
  peers::ScriptedServer server;
  server.Accept().Send("x;y;").Stall().Start();
  Aim(port, server.port());
  port.StopAtLine = false;
  ASSERT_EQ(0, port.SetEOL("\n", 1));
  ASSERT_EQ(0, port.ConnectAndWait());
  ASSERT_TRUE(PumpUntil(port, [&] { return port.Fifo.Count() == 4; }));
  ASSERT_EQ(0, port.SetEOL(";", 1));
  ASSERT_TRUE(PumpUntil(port, [&] { return port.pieces.size() == 2; }));
  EXPECT_EQ("x|eol", port.pieces[0]);
  EXPECT_EQ("y|eol", port.pieces[1]);
}

TEST_F(Port, PartialSendReportsWouldBlockAndTheRestCanBeSent) {
  peers::ScriptedServer server;
  server.Accept().Gate(1).ReadUntilClosed().Start();
  Aim(port, server.port());
  ASSERT_EQ(0, port.ConnectAndWait());
  std::string body(32 << 20, '\0');
  for (std::size_t i = 0; i < body.size(); ++i) body[i] = static_cast<char>('a' + i % 26);

  int r = port.Send(body.data(), static_cast<DWORD>(body.size()), 0, true);
  ASSERT_EQ(ws::WSAEWOULDBLOCK, r);
  EXPECT_EQ(ws::WSAEWOULDBLOCK, WinsockProcs.WSAGetLastError());
  ASSERT_GT(port.BytesSent, 0);
  ASSERT_LT(port.BytesSent, static_cast<std::int32_t>(body.size()));
  std::size_t first = static_cast<std::size_t>(port.BytesSent);

  server.Open(1);
  ASSERT_EQ(0, port.SendAndWait(body.data() + first, static_cast<std::int32_t>(body.size() - first), true));
  // Progress follows every partial send with the running total modulo 65536 (a pass that
  // sent nothing repeats it); the final send is not reported.
  ASSERT_GT(port.progress.size(), 1u);
  EXPECT_TRUE(port.progress == port.expectedProgress);
  EXPECT_EQ(body.size() - first, port.sentBeforeProgress + static_cast<std::uint32_t>(port.BytesSent));
  port.Connect(false);
  ASSERT_TRUE(server.WaitDone());
  EXPECT_EQ(body.size(), server.received().size());
  EXPECT_TRUE(server.received() == body);
}

// Raw data is received in one call and handed on in blocks of the receive buffer; a stop
// between two blocks (an interrupt, a handler that throws) leaves the rest held, in order.
TEST_F(Port, StopBetweenTwoBlocksOfOneReceiveTakesEffectAtOnce) {
  std::string data(5000, '\0');
  for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>(i % 251);
  peers::ScriptedServer server;
  server.Accept().Gate(1).Send(data).Stall().Start();
  Aim(port, server.port());
  port.StopAtLine = false;
  ASSERT_EQ(0, port.ConnectAndWait());
  port.SetAcceptData(false);
  server.Open(1);
  ASSERT_TRUE(WaitUnread(5000));
  port.AcceptData = true;

  port.onData = [&] { port.Interrupt(); };
  port.DoRead(CAsyncIPPort::kReadNotified);
  ASSERT_EQ(1u, port.pieces.size());
  EXPECT_EQ(2048u + 4, port.pieces[0].size());
  EXPECT_EQ(5000u - 2048, port.HeldAhead());
  ws::u_long unread = 1;
  WinsockProcs.ioctlsocket(port.Socket, ws::FIONREAD, &unread);
  EXPECT_EQ(0u, unread) << "one receive took everything";

  port.InterruptRequest = false;
  port.onData = [] { throw 1; };
  EXPECT_THROW(port.DoRead(CAsyncIPPort::kReadNotified), int);
  EXPECT_EQ(2u, port.pieces.size());
  port.onData = nullptr;
  port.DoRead(CAsyncIPPort::kReadNotified);
  std::string joined;
  for (const auto& p : port.pieces) {
    EXPECT_EQ("|eol", p.substr(p.size() - 4));
    joined += p.substr(0, p.size() - 4);
  }
  EXPECT_EQ(3u, port.pieces.size());
  EXPECT_TRUE(joined == data);
}

// A handler that pumps the queue while it holds what it was given (a line, a block, the reply
// so far), as the engines' trail and transfer events may: the peer's close, dispatched
// meanwhile, must wait until the read in hand is done instead of reading under it.
TEST_F(Port, CloseDispatchedInsideAHandlerWaitsForTheReadInHand) {
  const std::string longLine(300, 'a');
  std::string raw(5000, '\0');
  for (std::size_t i = 0; i < raw.size(); ++i) raw[i] = static_cast<char>(i % 251);
  struct Case {
    const char* eol;
    std::string sent;
    std::size_t handledPiece;  // the delivery whose handler pumps
  } cases[] = {
      {"\r\n", longLine + "\r\nb\r\n" + std::string(1200, 'c') + "\r\ntail", 2},
      {"", raw, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.eol);
    RecordingPort p;
    ASSERT_TRUE(p.Init());
    p.SetTimeout(20);
    p.StartTimeout();
    peers::ScriptedServer server;
    server.Accept().Gate(1).Send(c.sent).Close().Start();
    Aim(p, server.port());
    p.StopAtLine = false;
    ASSERT_EQ(0, p.SetEOL(c.eol, static_cast<WORD>(std::strlen(c.eol))));
    ASSERT_EQ(0, p.ConnectAndWait());
    bool closeSeen = false;
    p.onMessage = [&](UINT m, WPARAM, LPARAM l) {
      if ((m & 0xFFFF) == WM_CORV_SOCKET && LOWORD(l) == ws::FD_CLOSE) closeSeen = true;
      return false;
    };
    std::string given, reply;
    std::size_t piecesAfterPump = 0;
    bool pumped = false;
    p.onData = [&] {
      if (p.pieces.size() != c.handledPiece) return;
      const char* replySoFar = p.Reply.Text();  // the reply a trail event would show
      const std::uint32_t replyLength = p.Reply.Length();
      given.assign(p.inHand, p.inHandLength);
      pumped = PumpUntil(p, [&] { return closeSeen; });
      piecesAfterPump = p.pieces.size();
      EXPECT_TRUE(given == std::string(p.inHand, p.inHandLength)) << "the bytes in hand were overwritten";
      reply.assign(replySoFar, replyLength);
    };
    server.Open(1);
    ASSERT_TRUE(PumpUntil(p, [&] { return p.CountPrefix("disconnected") == 1; }));
    EXPECT_TRUE(pumped);
    EXPECT_EQ(c.handledPiece, piecesAfterPump) << "nothing is delivered inside the handler";
    std::string joined;
    for (const auto& piece : p.pieces) joined += piece.substr(0, piece.rfind('|'));
    if (*c.eol) {
      EXPECT_EQ(longLine, reply);
      EXPECT_EQ(4u, p.pieces.size());
      EXPECT_EQ("tail|part", p.pieces.back());
      EXPECT_EQ(longLine + "b" + std::string(1200, 'c') + "tail", joined);
    } else {
      EXPECT_TRUE(joined == raw);
    }
    EXPECT_EQ("disconnected 0 OK", p.events.back());
    EXPECT_EQ(ws::INVALID_SOCKET, p.Socket);
  }
}

// A handler that calls the port's own wait for the next line hands the port over: the wait
// reads for itself instead of waiting for the read pass it runs inside, and the line in hand
// stays as it was.
TEST_F(Port, OwnWaitInsideAHandlerReadsForItself) {
  const std::string first(1500, 'a'), second(1000, 'b');
  peers::ScriptedServer server;
  server.Accept().Send(first + "\n").Gate(1).Send(second + "\n").Stall().Start();
  Aim(port, server.port());
  ASSERT_EQ(0, port.SetEOL("\n", 1));
  ASSERT_EQ(0, port.ConnectAndWait());
  int nested = -1;
  std::string reply, inHandAfter;
  port.onData = [&] {
    if (port.pieces.size() != 1) return;
    const char* held = port.inHand;
    server.Open(1);
    nested = port.WaitForLine();
    reply = port.Reply.Text();
    inHandAfter.assign(held, first.size());
  };
  const auto start = std::chrono::steady_clock::now();
  ASSERT_EQ(0, port.WaitForLine());
  EXPECT_EQ(0, nested);
  EXPECT_EQ(second, reply);
  EXPECT_EQ(first, inHandAfter) << "the nested wait received into the line in hand";
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5)) << "not by the wait's rare poll";
}

// A raw block's handler that writes the byte after the block (as the FTP engine's transfer
// event does) and then waits for the peer's close itself: the block stays whole until the
// handler returns, and the next block still starts with its own first byte.
TEST_F(Port, RawBlockInHandOutlivesTheHandlersOwnWaitForTheClose) {
  std::string data(5000, '\0');
  for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>('a' + i % 23);
  peers::ScriptedServer server;
  server.Accept().Gate(1).Send(data).Close().Start();
  Aim(port, server.port());
  port.StopAtLine = false;
  ASSERT_EQ(0, port.ConnectAndWait());
  int nested = -1;
  std::string given, after;
  port.onData = [&] {
    if (port.pieces.size() != 1) return;
    char* held = const_cast<char*>(port.inHand);
    given.assign(held, port.inHandLength);
    held[given.size()] = '\0';
    nested = port.WaitForDisconnect();
    after.assign(held, given.size());
  };
  server.Open(1);
  ASSERT_TRUE(PumpUntil(port, [&] { return port.CountPrefix("disconnected") == 1; }));
  EXPECT_EQ(0, nested);
  EXPECT_TRUE(given == after) << "the block in hand changed under its handler";
  std::string joined;
  for (const auto& p : port.pieces) joined += p.substr(0, p.rfind('|'));
  EXPECT_TRUE(joined == data);
}

TEST_F(Port, SendWhileNotConnected) {
  EXPECT_EQ(ws::WSAENOTCONN, port.Send("x", 1, 0, true));
  EXPECT_EQ(ws::WSAENOTCONN, WinsockProcs.WSAGetLastError());
  EXPECT_EQ(ws::WSAENOTCONN, port.SendAndWait("x", 1, false));
  EXPECT_EQ(0, port.SendAndWait("x", 0, false));
}

TEST_F(Port, PeerResetEndsTheConnection) {
  peers::ScriptedServer server;
  server.Accept().Gate(1).Send("partial").Reset().Start();
  Aim(port, server.port());
  ASSERT_EQ(0, port.SetEOL("\n", 1));
  ASSERT_EQ(0, port.ConnectAndWait());
  server.Open(1);
  EXPECT_EQ(301, port.WaitForLine());
  EXPECT_FALSE(port.Connected);
  EXPECT_EQ(ws::INVALID_SOCKET, port.Socket);
  EXPECT_EQ(1u, port.CountPrefix("disconnected"));
}

TEST_F(Port, ReceiveBufferWithoutStorageReportsOnceInsteadOfSpinning) {
  RecordingPort bare;
  {
    corv::test::AllocFailureScope fail(0, 1000);
    EXPECT_FALSE(bare.Init());
  }
  ASSERT_EQ(nullptr, bare.Fifo.Storage());
  peers::ScriptedServer server;
  server.Accept().Send("hello\r\n").Stall().Start();
  Aim(bare, server.port());
  ASSERT_EQ(0, bare.ConnectAndWait());
  ASSERT_TRUE(PumpUntil(bare, [&] { return bare.CountPrefix("error 200") >= 1; }));
  for (int i = 0; i < 20; ++i) bare.DoEvents(0, bare.Window);
  EXPECT_EQ(1u, bare.CountPrefix("error 200"));
  EXPECT_TRUE(bare.pieces.empty());
}

TEST_F(Port, LocalHostWhileConnectedIsTheSocketsAddress) {
  peers::ScriptedServer server;
  server.Accept().Stall().Start();
  Aim(port, server.port());
  ASSERT_EQ(0, port.ConnectAndWait());
  EXPECT_STREQ("127.0.0.1", port.GetLocalHost());
}

TEST_F(Port, SocketOptionsAreKeptAndApplied) {
  EXPECT_EQ(0, port.SetLinger(false));
  EXPECT_FALSE(port.Linger);
  EXPECT_EQ(0, port.SetKeepAlive(true));
  EXPECT_EQ(0, port.SetInBufferSize(8192));
  EXPECT_EQ(8192, port.InBufferSize);
  peers::ScriptedServer server;
  server.Accept().ReadUntilClosed().Start();
  Aim(port, server.port());
  ASSERT_EQ(0, port.ConnectAndWait());
  std::int32_t keep = 0;
  int len = sizeof keep;
  ASSERT_EQ(0, WinsockProcs.getsockopt(port.Socket, ws::SOL_SOCKET, ws::SO_KEEPALIVE, reinterpret_cast<char*>(&keep), &len));
  EXPECT_NE(0, keep);
  ws::linger l{};
  len = sizeof l;
  ASSERT_EQ(0, WinsockProcs.getsockopt(port.Socket, ws::SOL_SOCKET, ws::SO_LINGER, reinterpret_cast<char*>(&l), &len));
  EXPECT_EQ(1, l.l_onoff);
  EXPECT_EQ(0, l.l_linger);
}

}  // namespace
