// The blocking message port: command lines and reply lines, greetings, closes while waiting,
// interruption, time-out and the quit message inside its waits.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "corv/core/Alloc.h"
#include "tests/corv/core/port_testing.h"
#include "tests/peers/process.h"
#include "tests/peers/scripted.h"

using corvtest::Aim;
using corvtest::PumpUntil;
using corvtest::RecordingPort;

namespace {

class MessagePort : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(port.Init());
    ASSERT_EQ(0, port.SetEOL("\r\n", 2));
    // A regression ends a wait with 301 instead of hanging the run.
    port.SetTimeout(20);
    port.StartTimeout();
  }
  void TearDown() override {
    KillTimer(port.Window, 1);
    MSG m;
    while (PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE)) {
    }
  }
  std::string ReplyText() const { return std::string(port.Reply.Text(), port.Reply.Length()); }
  RecordingPort port;
};

TEST_F(MessagePort, CommandLinesAreSentExactlyAndOneReplyLineComesBack) {
  peers::ScriptedServer server;
  server.Accept()
      .Send("220 ready\r\n")
      .Expect("QUIT\r\n")
      .Send("221 bye\r\n")
      .Expect("USER\r\n")
      .Send("331 who\r\n")
      .Expect("RETR a b.txt\r\n")
      .Send("150 ok\r\n")
      .Expect("NOOP")
      .Send("200 fine\r\n")
      .Stall()
      .Start();
  Aim(port, server.port());
  ASSERT_EQ(0, port.ConnectAndWait());
  ASSERT_EQ(0, port.SendLineAndWait(nullptr, nullptr, nullptr));  // the greeting
  EXPECT_EQ("220 ready", ReplyText());
  ASSERT_EQ(0, port.SendLineAndWait("QUIT", nullptr, "\r\n"));
  EXPECT_EQ("221 bye", ReplyText());
  ASSERT_EQ(0, port.SendLineAndWait("USER", "", "\r\n"));
  EXPECT_EQ("331 who", ReplyText());
  ASSERT_EQ(0, port.SendLineAndWait("RETR", "a b.txt", "\r\n"));
  EXPECT_EQ("150 ok", ReplyText());
  ASSERT_EQ(0, port.SendLineAndWait("NOOP", nullptr, nullptr));
  EXPECT_EQ("200 fine", ReplyText());
  EXPECT_EQ("", server.failures());
}

TEST_F(MessagePort, TwoRepliesInOneSegmentNeedNoFurtherTraffic) {
  peers::ScriptedServer server;
  server.Accept().Send("250 first\r\n250 second\r\n").Stall().Start();
  Aim(port, server.port());
  ASSERT_EQ(0, port.ConnectAndWait());
  ASSERT_EQ(0, port.WaitForLine());
  EXPECT_EQ("250 first", ReplyText());
  EXPECT_EQ(12u, port.Fifo.Count());  // "250 second\r\n", still held
  ASSERT_TRUE(server.WaitStep(2));
  ASSERT_EQ(0, port.WaitForLine());
  EXPECT_EQ("250 second", ReplyText());
}

TEST_F(MessagePort, ServerClosingWithoutAReplyEndsTheWaitWith301) {
  peers::ScriptedServer server;
  server.Accept().Expect("HELO x\r\n").Close().Start();
  Aim(port, server.port());
  ASSERT_EQ(0, port.ConnectAndWait());
  EXPECT_EQ(301, port.SendLineAndWait("HELO", "x", "\r\n"));
  EXPECT_FALSE(port.Firewall.IsConnected());
}

TEST_F(MessagePort, ConnectAndWaitOnAConnectedPortChangesNothing) {
  peers::ScriptedServer server;
  server.Accept().Stall().Start();
  Aim(port, server.port());
  ASSERT_EQ(0, port.ConnectAndWait());
  port.SetAcceptData(false);
  EXPECT_EQ(0, port.ConnectAndWait());
  EXPECT_FALSE(port.AcceptData);
}

TEST_F(MessagePort, WaitForDisconnectReturnsTheCloseCode) {
  peers::ScriptedServer server;
  server.Accept().Send("bye").Close().Start();
  Aim(port, server.port());
  port.StopAtLine = false;
  ASSERT_EQ(0, port.ConnectAndWait());
  EXPECT_EQ(0, port.WaitForDisconnect());
  EXPECT_EQ("bye", ReplyText());
  EXPECT_EQ(0, port.WaitForDisconnect());  // not connected any more
}

// A request made between two waits (by a handler, after the last pass of one) lives until
// the next wait takes it: that wait sends nothing and returns 301. An action's start drops it.
TEST_F(MessagePort, InterruptBetweenTwoWaitsStopsTheNextOne) {
  peers::ScriptedServer server;
  server.Accept().Send("220 ready\r\n").Expect("NOOP\r\n").Send("200 fine\r\n").Stall().Start();
  Aim(port, server.port());
  ASSERT_EQ(0, port.ConnectAndWait());
  ASSERT_EQ(0, port.SendLineAndWait(nullptr, nullptr, nullptr));
  port.Interrupt();
  EXPECT_EQ(301, port.SendLineAndWait("QUIT", nullptr, "\r\n"));
  EXPECT_STREQ("Interrupted", port.GetErrorText());
  EXPECT_TRUE(port.Interrupted);
  port.Interrupt();
  { CWsock::ActionScope action(port); }
  ASSERT_EQ(0, port.SendLineAndWait("NOOP", nullptr, "\r\n"));  // QUIT never went out
  EXPECT_EQ("200 fine", ReplyText());
}

// Waits that nothing could wake any more must see it before they sleep: a close already
// handled between two waits (by a trail handler that lets the queue run), and a Disconnect
// by a delivery's handler that then waits for the disconnection itself.
TEST_F(MessagePort, AWaitEndsAtOnceWhenItsEndHasAlreadyCome) {
  peers::ScriptedServer closing;
  closing.Accept().Send("220-first line\r\n").Close().Start();
  Aim(port, closing.port());
  ASSERT_EQ(0, port.ConnectAndWait());
  ASSERT_EQ(0, port.WaitForLine());
  ASSERT_TRUE(PumpUntil(port, [&] { return !port.Connected; }));
  port.SetTimeout(3);
  port.StartTimeout();
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(301, port.WaitForLine());
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
  EXPECT_STRNE("Timeout.", port.GetErrorText());

  peers::ScriptedServer stalling;
  stalling.Accept().Send("221 bye\r\n").Stall().Start();
  Aim(port, stalling.port());
  port.StartTimeout();
  ASSERT_EQ(0, port.ConnectAndWait());
  int nested = -1;
  port.onData = [&] {
    port.onData = nullptr;
    port.Disconnect(0);
    nested = port.WaitForDisconnect();
  };
  start = std::chrono::steady_clock::now();
  EXPECT_EQ(0, port.WaitForLine());
  EXPECT_EQ(0, nested);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
  EXPECT_EQ(ws::INVALID_SOCKET, port.Socket);
  EXPECT_EQ("disconnected 0 OK", port.events.back());
}

TEST_F(MessagePort, InterruptFromATimerHandlerStopsAConnectInProgress) {
  // A SOCKS server that never answers keeps the connection pending.
  peers::ScriptedServer server;
  server.Accept().Expect(corvtest::Bytes({5, 1, 0})).Stall().Start();
  port.Firewall.FirewallType = fwSOCKS5;
  ASSERT_EQ(0, port.Firewall.SetFirewallHost("127.0.0.1"));
  port.Firewall.FirewallPort = static_cast<WORD>(server.port());
  port.SetRemoteHost("127.0.0.1");
  port.SetRemotePort(25);
  int ticks = 0;
  port.onMessage = [&](UINT m, WPARAM, LPARAM) {
    if (m != WM_TIMER) return false;
    if (++ticks == 3) port.Interrupt();
    return true;
  };
  ASSERT_NE(0u, SetTimer(port.Window, 1, 20, nullptr));
  EXPECT_EQ(301, port.ConnectAndWait());
  EXPECT_STREQ("Interrupted", port.GetErrorText());
  EXPECT_EQ(ws::INVALID_SOCKET, port.Socket);
  EXPECT_FALSE(port.Connected);
  EXPECT_EQ(3, ticks);
}

TEST_F(MessagePort, TimeoutEndsAWaitForALineWhileTimerMessagesArrive) {
  peers::ScriptedServer server;
  server.Accept().Stall().Start();
  Aim(port, server.port());
  ASSERT_EQ(0, port.ConnectAndWait());
  int ticks = 0;
  port.onMessage = [&](UINT m, WPARAM, LPARAM) {
    if (m != WM_TIMER) return false;
    ++ticks;
    return true;
  };
  ASSERT_NE(0u, SetTimer(port.Window, 1, 25, nullptr));
  port.SetTimeout(5);
  port.StartTimeout();
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(301, port.WaitForLine());
  auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();
  EXPECT_STREQ("Timeout.", port.GetErrorText());
  EXPECT_GE(ms, 5000);
  EXPECT_LT(ms, 6500);
  EXPECT_GT(ticks, 50);
  EXPECT_TRUE(port.Connected) << "a time-out leaves the connection alone";
}

TEST_F(MessagePort, TimeoutDuringConnectKeepsItsText) {
  peers::ScriptedServer server;
  server.Accept().Stall().Start();
  port.Firewall.FirewallType = fwSOCKS4;
  ASSERT_EQ(0, port.Firewall.SetFirewallHost("127.0.0.1"));
  port.Firewall.FirewallPort = static_cast<WORD>(server.port());
  port.SetRemoteHost("127.0.0.1");
  port.SetRemotePort(25);
  port.SetTimeout(1);
  port.StartTimeout();
  EXPECT_EQ(301, port.ConnectAndWait());
  EXPECT_STREQ("Timeout.", port.GetErrorText());
  EXPECT_EQ(ws::INVALID_SOCKET, port.Socket);
}

TEST_F(MessagePort, QuitMessageEndsTheWaitAndReachesTheApplicationLoop) {
  peers::ScriptedServer server;
  server.Accept().Stall().Start();
  Aim(port, server.port());
  ASSERT_EQ(0, port.ConnectAndWait());
  port.onMessage = [&](UINT m, WPARAM, LPARAM) {
    if (m != WM_TIMER) return false;
    KillTimer(port.Window, 1);
    PostQuitMessage(5);
    return true;
  };
  ASSERT_NE(0u, SetTimer(port.Window, 1, 20, nullptr));
  EXPECT_EQ(301, port.WaitForLine());
  // What the application's own loop sees next.
  MSG m{};
  ASSERT_EQ(FALSE, GetMessageA(&m, nullptr, 0, 0));
  EXPECT_EQ(WM_QUIT, m.message);
  EXPECT_EQ(5u, m.wParam);
}

TEST_F(MessagePort, ReplyWaitHookRunsOnEveryPassAndCanEndTheWait) {
  struct Hooked : RecordingPort {
    int passes = 0;
    int OnReplyWait() override { return ++passes == 4 ? 77 : 0; }
  } hooked;
  ASSERT_TRUE(hooked.Init());
  peers::ScriptedServer server;
  server.Accept().Stall().Start();
  Aim(hooked, server.port());
  ASSERT_EQ(0, hooked.ConnectAndWait());
  // A pass sleeps until a message comes: four of them make four passes.
  for (int i = 0; i < 4; ++i) PostMessageA(hooked.Window, WM_NULL, 0, 0);
  EXPECT_EQ(77, hooked.WaitForLine());
  EXPECT_EQ(4, hooked.passes);
}

// The socket reports only bytes it still has: a line held back in the receive buffer after
// the socket was drained is announced by the wait itself, also while other messages keep
// every pass busy.
TEST_F(MessagePort, WaitForLineTakesAHeldLineAtOnceWhileOtherMessagesKeepComing) {
  struct Counting : RecordingPort {
    int passes = 0;
    int OnReplyWait() override {
      ++passes;
      return 0;
    }
  } p;
  ASSERT_TRUE(p.Init());
  ASSERT_EQ(0, p.SetEOL("\r\n", 2));
  p.SetTimeout(20);
  p.StartTimeout();
  constexpr UINT kBusy = WM_USER + 9;
  p.onMessage = [&](UINT m, WPARAM, LPARAM) {
    if (m != kBusy) return false;
    PostMessageA(p.Window, kBusy, 0, 0);
    return true;
  };
  peers::ScriptedServer server;
  server.Accept().Send("250 first\r\n250 held\r\n").Stall().Start();
  Aim(p, server.port());
  ASSERT_EQ(0, p.ConnectAndWait());
  ASSERT_EQ(0, p.WaitForLine());
  ASSERT_EQ(10u, p.Fifo.Count());
  ws::u_long avail = 1;
  WinsockProcs.ioctlsocket(p.Socket, ws::FIONREAD, &avail);
  ASSERT_EQ(0u, avail) << "the socket is drained";
  PostMessageA(p.Window, kBusy, 0, 0);
  p.passes = 0;
  ASSERT_EQ(0, p.WaitForLine());
  EXPECT_EQ("250 held", std::string(p.Reply.Text(), p.Reply.Length()));
  EXPECT_LE(p.passes, 3);
}

// Every place where a handler may do something unusual in the middle of a delivery, against a
// peer that cuts its stream at random and ends it in any way, over one port for all runs: what
// is delivered is always the stream's next bytes, complete when nothing stopped the reading,
// the bytes in hand stay as they were until their handler returns, every wait ends within its
// bound, and no read or close of one connection is left for the next.
TEST_F(MessagePort, EveryHandlerActionAtEveryDeliveryAgainstARandomPeer) {
  struct Boom {};
  enum Action { kPump, kOwnLine, kOwnClose, kDisconnect, kInterrupt, kThrow, kActions };
  struct ModelPort : CIPPortMsg {
    std::function<void(const char*, WORD, bool)> onData;
    int OnDataIn(const char* data, WORD length, bool eol) override {
      onData(data, length, eol);
      return CIPPortMsg::OnDataIn(data, length, eol);
    }
  } p;
  corvtest::EnsureWinsock();
  ASSERT_TRUE(p.Init());
  p.SetTimeout(3);
  for (unsigned seed = 1; seed <= 1000; ++seed) {
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937 rng(seed);
    auto pick = [&](unsigned n) { return static_cast<int>(rng() % n); };
    const std::string eol = std::vector<std::string>{"", "\n", "\r\n"}[pick(3)];
    std::string stream;
    if (eol.empty()) {
      stream.resize(pick(3) == 0 ? 60000 + pick(150000) : pick(6000));
      for (char& c : stream) c = static_cast<char>(rng());
    } else {
      for (int lines = 1 + pick(12); lines > 0; --lines) {
        stream.append(pick(5) == 0 ? 2000 + pick(3000) : pick(100), static_cast<char>('a' + pick(26)));
        if (lines > 1 || pick(3) != 0) stream += eol;
      }
    }
    std::vector<std::string> pieces;
    const unsigned cut = pick(3) == 0 ? 9000 : 300;
    for (std::size_t at = 0; at < stream.size();) {
      const std::size_t n = std::min<std::size_t>(1 + pick(cut), stream.size() - at);
      pieces.push_back(stream.substr(at, n));
      at += n;
    }
    const auto end = static_cast<peers::InlinePeer::End>(pick(3));
    const bool stopAtLine = pick(2) == 0;

    std::string delivered;
    int depth = 0;
    bool acting = true, stopped = false, closedHere = false, changedInHand = false, slow = false;
    auto timed = [&](const std::function<int()>& wait) {
      const auto start = std::chrono::steady_clock::now();
      const int r = wait();
      slow = slow || std::chrono::steady_clock::now() - start > std::chrono::milliseconds(1500);
      return r;
    };
    p.onData = [&](const char* data, WORD n, bool lineEnd) {
      delivered.append(data, n);
      if (lineEnd) delivered += eol;
      const std::string copy(data, n);
      const_cast<char*>(data)[n] = '\0';  // as the engines' events do
      struct Depth {
        int& d;
        ~Depth() { --d; }
      } nesting{++depth};
      const int action = !acting || depth > 3 ? kActions : pick(2 * kActions);
      switch (action) {
        case kPump:
          for (int i = 0; i < 3; ++i) p.DoEvents(1, p.Window);
          break;
        case kOwnLine:
          timed([&] { return p.WaitForLine(); });
          break;
        case kOwnClose:
          // With reading stopped after each line, a wait for the close alone could not read on.
          if (!stopAtLine) timed([&] { return p.WaitForDisconnect(); });
          break;
        case kDisconnect:
          stopped = closedHere = true;
          p.Disconnect(0);
          break;
        case kInterrupt:
          stopped = true;
          p.Interrupt();
          break;
        case kThrow:
          throw Boom{};
        default:
          break;
      }
      changedInHand = changedInHand || copy != std::string(data, n);
    };

    p.StopAtLine = stopAtLine;
    ASSERT_EQ(0, p.SetEOL(eol.data(), static_cast<WORD>(eol.size())));
    {
      peers::InlinePeer peer(pieces, end);
      CWsock::ActionScope action(p);
      Aim(p, peer.port());
      p.StartTimeout();
      ASSERT_EQ(0, p.ConnectAndWait());
      for (int i = 0; i < 5000 && p.Socket != ws::INVALID_SOCKET; ++i) {
        int r = 0;
        try {
          r = timed([&] { return !stopAtLine && pick(3) == 0 ? p.WaitForDisconnect() : p.WaitForLine(); });
        } catch (Boom&) {
          continue;
        }
        if (r == CORV_INTERRUPTED && std::strcmp(p.GetErrorText(), "Timeout.") == 0) break;
      }
      ASSERT_TRUE(end == peers::InlinePeer::End::Stall || p.Socket == ws::INVALID_SOCKET);
      acting = false;
      p.Connect(false);
      EXPECT_TRUE(end == peers::InlinePeer::End::Reset || closedHere || peer.Spent());
    }
    EXPECT_FALSE(p.ReadPassRunning());
    EXPECT_FALSE(p.CloseAsked());
    EXPECT_FALSE(slow) << "a wait did not see that it had ended";
    EXPECT_FALSE(changedInHand) << "bytes in hand changed under their handler";
    ASSERT_LE(delivered.size(), stream.size());
    ASSERT_TRUE(stream.compare(0, delivered.size(), delivered) == 0) << "not the stream's next bytes";
    // An orderly close comes after all the data; with reading never stopped, all of it came.
    if (!stopped && !stopAtLine && end == peers::InlinePeer::End::Close) {
      EXPECT_EQ(stream.size(), delivered.size());
    }
    if (HasFatalFailure() || HasFailure()) return;
  }
}

TEST_F(MessagePort, ReplyThatCannotGrowIsReportedAndItsLineEndStillCounts) {
  port.WaitingForLine = true;
  const std::string big(500, 'x');
  {
    corv::test::AllocFailureScope fail(0, 1000);
    EXPECT_EQ(0, port.OnDataIn(big.data(), static_cast<WORD>(big.size()), true));
  }
  EXPECT_TRUE(port.Has("error 200 Out of memory in DataIn [IPPMsg]."));
  EXPECT_FALSE(port.WaitingForLine);
}

TEST_F(MessagePort, ProgressRelayIsSwitchable) {
  struct Relay : CIPPortMsgPlusFile {
    std::vector<WORD> seen;
    int OnSendProgress(WORD bytes) override {
      seen.push_back(bytes);
      return 0;
    }
  } relay;
  EXPECT_EQ(0, relay.SendProgress(10));
  EXPECT_TRUE(relay.seen.empty());
  relay.ProgressRelay = true;
  EXPECT_EQ(0, relay.SendProgress(70000 & 0xFFFF));
  ASSERT_EQ(1u, relay.seen.size());
  EXPECT_EQ(70000 & 0xFFFF, relay.seen[0]);
}

}  // namespace
