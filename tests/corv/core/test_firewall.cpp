// Proxy negotiations against a scripted proxy: the exact request bytes, every failure text,
// replies cut into pieces, and bytes of the far server that follow the proxy's reply.
#include <gtest/gtest.h>

#include <chrono>
#include <ostream>
#include <string>

#include "tests/corv/core/port_testing.h"
#include "tests/peers/process.h"
#include "tests/peers/scripted.h"

using corvtest::Aim;
using corvtest::Bytes;
using corvtest::PumpUntil;
using corvtest::RecordingPort;

namespace {

// 127.0.0.1:2121 as seen by a SOCKS request.
const std::string kTarget4 = Bytes({0x08, 0x49, 127, 0, 0, 1});
const std::string kSocks5Connect = Bytes({5, 1, 0, 1, 127, 0, 0, 1, 0x08, 0x49});
const std::string kSocks5Ok = Bytes({5, 0, 0, 1, 10, 0, 0, 1, 0x12, 0x34});

std::string Base64(const std::string& in) {
  static const char* a = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  for (std::size_t i = 0; i < in.size(); i += 3) {
    unsigned v = static_cast<unsigned char>(in[i]) << 16;
    if (i + 1 < in.size()) v |= static_cast<unsigned char>(in[i + 1]) << 8;
    if (i + 2 < in.size()) v |= static_cast<unsigned char>(in[i + 2]);
    out += a[v >> 18];
    out += a[(v >> 12) & 63];
    out += i + 1 < in.size() ? a[(v >> 6) & 63] : '=';
    out += i + 2 < in.size() ? a[v & 63] : '=';
  }
  return out;
}

class Firewall : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(port.Init());
    // A regression ends a wait with 301 instead of hanging the run.
    port.SetTimeout(20);
    port.StartTimeout();
  }
  void Through(BYTE type, const char* host = "127.0.0.1") {
    port.Firewall.FirewallType = type;
    ASSERT_EQ(0, port.Firewall.SetFirewallHost("127.0.0.1"));
    port.Firewall.FirewallPort = static_cast<WORD>(server.port());
    ASSERT_EQ(0, port.SetRemoteHost(host));
    ASSERT_EQ(0, port.SetRemotePort(2121));
  }
  std::string ReplyText() const { return std::string(port.Reply.Text(), port.Reply.Length()); }
  // A failed SOCKS negotiation reports 118 with the text, then closes.
  void ExpectFailure(const std::string& text) {
    EXPECT_EQ(118, port.ConnectAndWait());
    EXPECT_TRUE(port.Has("error 118 " + text)) << (port.events.empty() ? "" : port.events[0]);
    EXPECT_TRUE(port.Has("connected 118 [118] (no description available)"));
    // What the engine returns carries the same text.
    EXPECT_EQ(text, port.GetErrorText());
    // Closed by the time the wait returns: a failure found inside a read pass must not leave
    // the socket open and reading as connected.
    EXPECT_EQ(ws::INVALID_SOCKET, port.Socket);
    EXPECT_FALSE(port.Firewall.IsConnected());
    EXPECT_FALSE(port.Firewall.Pending);
  }
  peers::ScriptedServer server;
  RecordingPort port;
};

TEST_F(Firewall, Socks4RequestAndAGreetingInTheSameSegment) {
  server.Accept()
      .Expect(Bytes({4, 1}) + kTarget4 + "bob" + Bytes({0}))
      .Send(Bytes({0, 90, 0, 0, 0, 0, 0, 0}) + "220 hello\r\n")
      .Stall()
      .Start();
  Through(fwSOCKS4);
  ASSERT_EQ(0, port.Firewall.SetFirewallUser("bob"));
  ASSERT_EQ(0, port.SetEOL("\r\n", 2));
  ASSERT_EQ(0, port.ConnectAndWait());
  EXPECT_TRUE(port.Firewall.IsConnected());
  ASSERT_EQ(0, port.WaitForLine());
  EXPECT_EQ("220 hello", ReplyText());
  EXPECT_EQ("", server.failures());
}

TEST_F(Firewall, Socks4ReplyInTwoPiecesIsJudgedAtTheEighthByte) {
  server.Accept()
      .Expect(Bytes({4, 1}) + kTarget4 + Bytes({0}))
      .Send(Bytes({0, 90, 0, 0}))
      .Gate(1)
      .Send(Bytes({0, 0, 0, 0}))
      .Stall()
      .Start();
  Through(fwSOCKS4);
  ASSERT_EQ(0, port.Connect(true));
  ASSERT_TRUE(PumpUntil(port, [&] { return port.Firewall.Reply.Length() == 4; }));
  EXPECT_TRUE(port.Firewall.Pending);
  EXPECT_TRUE(port.Connected);
  EXPECT_FALSE(port.Firewall.IsConnected());
  EXPECT_EQ(0u, port.CountPrefix("connected"));
  server.Open(1);
  ASSERT_TRUE(PumpUntil(port, [&] { return port.Firewall.IsConnected(); }));
  EXPECT_TRUE(port.Has("connected 0 OK"));
}

struct CodeText {
  int code;
  const char* text;
};
void PrintTo(const CodeText& c, std::ostream* os) { *os << c.code << " \"" << c.text << "\""; }

class Socks4Failure : public Firewall, public ::testing::WithParamInterface<CodeText> {};

TEST_P(Socks4Failure, ReportsItsText) {
  server.Accept().Expect(Bytes({4, 1}) + kTarget4 + Bytes({0})).Send(Bytes({0, GetParam().code, 0, 0, 0, 0, 0, 0})).Stall().Start();
  Through(fwSOCKS4);
  ExpectFailure(GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(Codes, Socks4Failure,
                         ::testing::Values(CodeText{91, "firewall request rejected or failed"},
                                           CodeText{92, "firewall request rejected because identd is not available"},
                                           CodeText{93, "firewall request rejected because identd reports different user"},
                                           CodeText{200, "unknown firewall error: 200"}));

TEST_F(Firewall, Socks5WithUserAndPassword) {
  server.Accept()
      .Expect(Bytes({5, 2, 0, 2}))
      .Send(Bytes({5, 2}))
      .Expect(Bytes({1, 3}) + "bob" + Bytes({6}) + "secret")
      .Send(Bytes({1, 0}))
      .Expect(kSocks5Connect)
      .Send(kSocks5Ok)
      .Expect("ping\n")
      .Send("pong\n")
      .Stall()
      .Start();
  Through(fwSOCKS5);
  ASSERT_EQ(0, port.Firewall.SetFirewallUser("bob"));
  ASSERT_EQ(0, port.Firewall.SetFirewallPassword("secret"));
  ASSERT_EQ(0, port.SetEOL("\n", 1));
  ASSERT_EQ(0, port.ConnectAndWait());
  EXPECT_TRUE(port.Has("connected 0 OK"));
  ASSERT_EQ(0, port.SendLineAndWait("ping", nullptr, "\n"));
  EXPECT_EQ("pong", ReplyText());
  EXPECT_EQ("", server.failures());
}

TEST_F(Firewall, Socks5WithoutPasswordOffersNoAuthentication) {
  server.Accept().Expect(Bytes({5, 1, 0})).Send(Bytes({5, 0})).Expect(kSocks5Connect).Send(kSocks5Ok).Stall().Start();
  Through(fwSOCKS5);
  ASSERT_EQ(0, port.Firewall.SetFirewallUser("bob"));
  ASSERT_EQ(0, port.ConnectAndWait());
  EXPECT_EQ("", server.failures());
}

TEST_F(Firewall, Socks5NameIsLeftToTheProxy) {
  // The longest name the length byte can carry goes out whole.
  for (const std::string& name : {std::string("no-such-host.invalid"), std::string(255, 'n')}) {
    peers::ScriptedServer proxy;
    proxy.Accept()
        .Expect(Bytes({5, 1, 0}))
        .Send(Bytes({5, 0}))
        .Expect(Bytes({5, 1, 0, 3, static_cast<int>(name.size())}) + name + Bytes({0x08, 0x49}))
        .Send(kSocks5Ok)
        .Stall()
        .Start();
    RecordingPort p;
    ASSERT_TRUE(p.Init());
    p.Firewall.FirewallType = fwSOCKS5;
    ASSERT_EQ(0, p.Firewall.SetFirewallHost("127.0.0.1"));
    p.Firewall.FirewallPort = static_cast<WORD>(proxy.port());
    ASSERT_EQ(0, p.SetRemoteHost(("*" + name).c_str()));
    p.SetRemotePort(2121);
    EXPECT_EQ(0, p.ConnectAndWait()) << name.size();
    EXPECT_EQ("", proxy.failures());
  }
}

TEST_F(Firewall, Socks5ReplySplitAndFollowedByData) {
  server.Accept()
      .Expect(Bytes({5, 1, 0}))
      .Send(Bytes({5}))
      .Gate(1)
      .Send(Bytes({0}))
      .Expect(kSocks5Connect)
      .Send(kSocks5Ok + "ab")
      .Stall()
      .Start();
  Through(fwSOCKS5);
  ASSERT_EQ(0, port.Connect(true));
  ASSERT_TRUE(PumpUntil(port, [&] { return port.Firewall.Reply.Length() == 1; }));
  EXPECT_EQ(1, port.Firewall.Socks5Stage);
  server.Open(1);
  port.StopAtLine = false;
  ASSERT_TRUE(PumpUntil(port, [&] { return port.Firewall.IsConnected(); }));
  // Held back until the engine accepts data again.
  port.SetAcceptData(true);
  ASSERT_TRUE(PumpUntil(port, [&] { return !port.pieces.empty(); }));
  EXPECT_EQ("ab|eol", port.pieces[0]);
}

TEST_F(Firewall, Socks5ReplyWithAnIPv6OrNameBoundAddressKeepsTheFollowingBytes) {
  const std::string replies[] = {
      Bytes({5, 0, 0, 4}) + std::string(16, '\x01') + Bytes({0, 80}),
      Bytes({5, 0, 0, 3, 9}) + "proxy.lan" + Bytes({0, 80}),
  };
  for (const std::string& reply : replies) {
    peers::ScriptedServer proxy;
    proxy.Accept().Expect(Bytes({5, 1, 0})).Send(Bytes({5, 0})).Expect(kSocks5Connect).Send(reply + "+OK\n").Stall().Start();
    RecordingPort p;
    ASSERT_TRUE(p.Init());
    p.Firewall.FirewallType = fwSOCKS5;
    ASSERT_EQ(0, p.Firewall.SetFirewallHost("127.0.0.1"));
    p.Firewall.FirewallPort = static_cast<WORD>(proxy.port());
    Aim(p, 2121);
    ASSERT_EQ(0, p.SetEOL("\n", 1));
    ASSERT_EQ(0, p.ConnectAndWait());
    ASSERT_EQ(0, p.WaitForLine());
    EXPECT_EQ("+OK", std::string(p.Reply.Text(), p.Reply.Length()));
  }
}

TEST_F(Firewall, Socks4HostThatCannotBeResolvedFailsWithTheLookupError) {
  server.Accept().ReadUntilClosed().Start();
  Through(fwSOCKS4, "no-such-host.invalid");
  EXPECT_EQ(118, port.ConnectAndWait());
  EXPECT_EQ(0u, port.lastErrorText.rfind("cannot resolve RemoteHost: [110", 0)) << port.lastErrorText;
  EXPECT_EQ(ws::INVALID_SOCKET, port.Socket);
  ASSERT_TRUE(server.WaitDone());
  EXPECT_EQ("", server.received());
}

TEST_F(Firewall, Socks5HostNameOver255BytesFailsBeforeAnythingIsSent) {
  server.Accept().ReadUntilClosed().Start();
  Through(fwSOCKS5, ("*" + std::string(256, 'h')).c_str());
  ExpectFailure("RemoteHost name is longer than 255 bytes");
  ASSERT_TRUE(server.WaitDone());
  EXPECT_EQ("", server.received());
}

TEST_F(Firewall, HostTextWithAControlByteFailsBeforeAnythingIsSent) {
  for (BYTE type : {fwSOCKS5, fwTunnel}) {
    peers::ScriptedServer proxy;
    proxy.Accept().ReadUntilClosed().Start();
    RecordingPort p;
    ASSERT_TRUE(p.Init());
    p.Firewall.FirewallType = type;
    ASSERT_EQ(0, p.Firewall.SetFirewallHost("127.0.0.1"));
    p.Firewall.FirewallPort = static_cast<WORD>(proxy.port());
    ASSERT_EQ(0, p.SetRemoteHost(type == fwSOCKS5 ? "*host\r\nX" : "host:80 HTTP/1.0\r\nEvil: 1\r\n\r\nGET"));
    p.SetRemotePort(80);
    EXPECT_EQ(118, p.ConnectAndWait());
    EXPECT_TRUE(p.Has("error 118 RemoteHost holds a control character"));
    EXPECT_EQ(ws::INVALID_SOCKET, p.Socket);
    ASSERT_TRUE(proxy.WaitDone());
    EXPECT_EQ("", proxy.received());
  }
}

TEST_F(Firewall, Socks5MethodAndAuthenticationFailures) {
  struct Case {
    std::string methodReply;
    std::string authReply;
    const char* text;
  } cases[] = {
      {Bytes({5, 255}), "", "no acceptable firewall authentication methods"},
      {Bytes({5, 1}), "", "unknown firewall authentication method"},
      {Bytes({5, 2}), Bytes({1, 1}), "firewall authentication failed: 1"},
      {Bytes({5, 2}), Bytes({1, 200}), "firewall authentication failed: 200"},
  };
  for (const auto& c : cases) {
    peers::ScriptedServer proxy;
    proxy.Accept().Expect(Bytes({5, 2, 0, 2})).Send(c.methodReply);
    if (!c.authReply.empty()) proxy.Expect(Bytes({1, 1}) + "u" + Bytes({1}) + "p").Send(c.authReply);
    proxy.ReadUntilClosed().Start();
    RecordingPort p;
    ASSERT_TRUE(p.Init());
    p.Firewall.FirewallType = fwSOCKS5;
    p.Firewall.SetFirewallHost("127.0.0.1");
    p.Firewall.FirewallPort = static_cast<WORD>(proxy.port());
    p.Firewall.SetFirewallUser("u");
    p.Firewall.SetFirewallPassword("p");
    p.SetRemoteHost("127.0.0.1");
    p.SetRemotePort(2121);
    EXPECT_EQ(118, p.ConnectAndWait());
    EXPECT_TRUE(p.Has(std::string("error 118 ") + c.text)) << c.text;
    EXPECT_EQ(ws::INVALID_SOCKET, p.Socket);
    ASSERT_TRUE(proxy.WaitDone());
    EXPECT_EQ("", proxy.failures());
  }
}

TEST_F(Firewall, AfterAFailedNegotiationTheNextConnectStartsAfresh) {
  server.Accept()
      .Expect(Bytes({5, 1, 0}))
      .Send(Bytes({5, 255}))
      .ReadUntilClosed()
      .Accept()
      .Expect(Bytes({5, 1, 0}))
      .Send(Bytes({5, 0}))
      .Expect(kSocks5Connect)
      .Send(kSocks5Ok)
      .Stall()
      .Start();
  Through(fwSOCKS5);
  EXPECT_EQ(118, port.ConnectAndWait());
  EXPECT_EQ(0, port.ConnectAndWait());
  EXPECT_TRUE(port.Firewall.IsConnected());
  EXPECT_EQ(2, server.connections());
}

class Socks5ConnectFailure : public Firewall, public ::testing::WithParamInterface<CodeText> {};

TEST_P(Socks5ConnectFailure, ReportsItsText) {
  server.Accept()
      .Expect(Bytes({5, 1, 0}))
      .Send(Bytes({5, 0}))
      .Expect(kSocks5Connect)
      .Send(Bytes({5, GetParam().code, 0, 1, 0, 0, 0, 0, 0, 0}))
      .Stall()
      .Start();
  Through(fwSOCKS5);
  ExpectFailure(GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(Codes, Socks5ConnectFailure,
                         ::testing::Values(CodeText{1, "general SOCKS server failure"},
                                           CodeText{2, "connection not allowed by ruleset"},
                                           CodeText{3, "network unreachable"}, CodeText{4, "host unreachable"},
                                           CodeText{5, "connection refused"}, CodeText{6, "TTL expired"},
                                           CodeText{7, "command not supported"},
                                           CodeText{8, "address type not supported"},
                                           CodeText{9, "unknown firewall error: 9"},
                                           CodeText{255, "unknown firewall error: 255"}));

TEST_F(Firewall, TunnelRequestAndAGreetingRightAfterTheEmptyLine) {
  // The proxy may end its lines with CR LF or a bare LF.
  for (const std::string& nl : {std::string("\r\n"), std::string("\n")}) {
    peers::ScriptedServer proxy;
    proxy.Accept()
        .Expect("CONNECT 127.0.0.1:2121 HTTP/1.0\r\n\r\n")
        .Send("HTTP/1.0 200 Connection established" + nl + "Proxy-agent: x" + nl + nl + "220 far server ready\r\n")
        .Stall()
        .Start();
    RecordingPort p;
    ASSERT_TRUE(p.Init());
    p.Firewall.FirewallType = fwTunnel;
    ASSERT_EQ(0, p.Firewall.SetFirewallHost("127.0.0.1"));
    p.Firewall.FirewallPort = static_cast<WORD>(proxy.port());
    Aim(p, 2121);
    ASSERT_EQ(0, p.SetEOL("\r\n", 2));
    ASSERT_EQ(0, p.ConnectAndWait());
    ASSERT_EQ(0, p.WaitForLine());
    EXPECT_EQ("220 far server ready", std::string(p.Reply.Text(), p.Reply.Length()));
    EXPECT_EQ("", proxy.failures());
  }
}

// The handler of the connect report waits for the far server's greeting, which came in the
// proxy's own segment: it is held before the report, not after the handler has waited for it.
TEST_F(Firewall, ConnectReportsHandlerFindsTheGreetingOfTheProxysSegment) {
  for (BYTE type : {fwTunnel, fwSOCKS4, fwSOCKS5}) {
    SCOPED_TRACE(static_cast<int>(type));
    peers::ScriptedServer proxy;
    if (type == fwTunnel) {
      proxy.Accept().Expect("CONNECT 127.0.0.1:2121 HTTP/1.0\r\n\r\n").Send("HTTP/1.0 200 ok\r\n\r\n220 hi\r\n");
    } else if (type == fwSOCKS4) {
      proxy.Accept().Expect(Bytes({4, 1, 8, 73, 127, 0, 0, 1, 0})).Send(Bytes({0, 90, 0, 0, 0, 0, 0, 0}) + "220 hi\r\n");
    } else {
      proxy.Accept().Expect(Bytes({5, 1, 0})).Send(Bytes({5, 0}));
      proxy.Expect(Bytes({5, 1, 0, 1, 127, 0, 0, 1, 8, 73})).Send(Bytes({5, 0, 0, 1, 0, 0, 0, 0, 0, 0}) + "220 hi\r\n");
    }
    proxy.Stall().Start();
    RecordingPort p;
    ASSERT_TRUE(p.Init());
    p.SetTimeout(3);
    p.StartTimeout();
    p.Firewall.FirewallType = type;
    ASSERT_EQ(0, p.Firewall.SetFirewallHost("127.0.0.1"));
    p.Firewall.FirewallPort = static_cast<WORD>(proxy.port());
    Aim(p, 2121);
    ASSERT_EQ(0, p.SetEOL("\r\n", 2));
    int nested = -1;
    std::string greeting;
    p.onConnected = [&] {
      if (nested != -1) return;
      nested = p.WaitForLine();
      greeting.assign(p.Reply.Text(), p.Reply.Length());
    };
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(0, p.ConnectAndWait());
    EXPECT_EQ(0, nested);
    EXPECT_EQ("220 hi", greeting);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
  }
}

// A delivery's handler that closes and connects anew through a proxy: the connect's wait reads
// the proxy's answer itself instead of leaving it to the pass that waits for the handler.
TEST_F(Firewall, ConnectThroughAProxyFromInsideADelivery) {
  peers::ScriptedServer first;
  first.Accept().Send("one\r\n").Stall().Start();
  server.Accept().Expect("CONNECT 127.0.0.1:2121 HTTP/1.0\r\n\r\n").Send("HTTP/1.0 200 ok\r\n\r\n").Stall().Start();
  Aim(port, first.port());
  ASSERT_EQ(0, port.SetEOL("\r\n", 2));
  port.SetTimeout(3);
  port.StartTimeout();
  ASSERT_EQ(0, port.ConnectAndWait());
  int connected = -1;
  port.onData = [&] {
    if (connected != -1) return;
    port.Disconnect(0);
    port.WaitForDisconnect();
    Through(fwTunnel);
    connected = port.ConnectAndWait();
  };
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(0, port.WaitForLine());
  EXPECT_EQ(0, connected) << port.GetErrorText();
  EXPECT_TRUE(port.Firewall.IsConnected());
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
}

TEST_F(Firewall, TunnelReplySplitAcrossSegments) {
  server.Accept()
      .Expect("CONNECT 127.0.0.1:2121 HTTP/1.0\r\n\r\n")
      .Send("HTTP/1.1 2")
      .Gate(1)
      .Send("00 OK\r\n")
      .Gate(2)
      .Send("\r\n")
      .Stall()
      .Start();
  Through(fwTunnel);
  ASSERT_EQ(0, port.Connect(true));
  ASSERT_TRUE(PumpUntil(port, [&] { return port.Firewall.Reply.Length() == 10; }));
  server.Open(1);
  ASSERT_TRUE(PumpUntil(port, [&] { return port.Firewall.Reply.Length() == 17; }));
  EXPECT_TRUE(port.Firewall.Pending);
  server.Open(2);
  ASSERT_TRUE(PumpUntil(port, [&] { return port.Firewall.IsConnected(); }));
  EXPECT_TRUE(port.Has("connected 0 OK"));
}

TEST_F(Firewall, TunnelCredentialsWithAnEmptyPassword) {
  server.Accept()
      .Expect("CONNECT far.example:2121 HTTP/1.0\r\nProxy-authorization: Basic YWxpY2U6\r\n\r\n")
      .Send("HTTP/1.0 200 OK\n\n")
      .Stall()
      .Start();
  Through(fwTunnel, "far.example");
  ASSERT_EQ(0, port.Firewall.SetFirewallUser("alice"));
  ASSERT_EQ(0, port.ConnectAndWait());
  EXPECT_EQ("", server.failures());
}

TEST_F(Firewall, TunnelCredentialsAndHostOfAnyLength) {
  // Longer than any fixed request buffer would hold.
  std::string user(600, 'u');
  std::string password(700, 'p');
  std::string host = "h" + std::string(900, 'o') + ".example";
  server.Accept()
      .Expect("CONNECT " + host + ":2121 HTTP/1.0\r\nProxy-authorization: Basic " + Base64(user + ":" + password) +
              "\r\n\r\n")
      .Send("HTTP/1.0 200 OK\r\n\r\n")
      .Stall()
      .Start();
  Through(fwTunnel, host.c_str());
  ASSERT_EQ(0, port.Firewall.FirewallUser.SetText(user.c_str()));
  ASSERT_EQ(0, port.Firewall.FirewallPassword.SetText(password.c_str()));
  ASSERT_EQ(0, port.ConnectAndWait());
  EXPECT_EQ("", server.failures());
}

TEST_F(Firewall, TunnelRefusalClosesTheConnection) {
  const std::string reply = "HTTP/1.0 407 Proxy Authentication Required\r\nProxy-Authenticate: Basic\r\n\r\n";
  server.Accept()
      .Expect("CONNECT 127.0.0.1:2121 HTTP/1.0\r\n\r\n")
      .Send(reply)
      .ReadUntilClosed()
      .Accept()
      .Expect("CONNECT 127.0.0.1:2121 HTTP/1.0\r\n\r\n")
      .Send("HTTP/1.0 200 OK\r\n\r\n220 far\r\n")
      .Stall()
      .Start();
  Through(fwTunnel);
  ASSERT_EQ(0, port.SetEOL("\r\n", 2));
  EXPECT_EQ(118, port.ConnectAndWait());
  EXPECT_TRUE(port.Has("error 118 " + reply));
  EXPECT_EQ(reply, port.GetErrorText());
  // Left open, the next action would send its traffic to the proxy as if to the far server.
  EXPECT_FALSE(port.Firewall.IsConnected());
  EXPECT_EQ(ws::INVALID_SOCKET, port.Socket);
  ASSERT_EQ(0, port.ConnectAndWait());
  ASSERT_EQ(0, port.WaitForLine());
  EXPECT_EQ("220 far", ReplyText());
  EXPECT_EQ(2, server.connections());
  EXPECT_EQ("", server.failures());
}

TEST_F(Firewall, ProxyThatClosesDuringTheHandshakeEndsTheConnect) {
  const std::string requests[] = {"CONNECT 127.0.0.1:2121 HTTP/1.0\r\n\r\n", Bytes({4, 1}) + kTarget4 + Bytes({0}),
                                  Bytes({5, 1, 0})};
  const BYTE types[] = {fwTunnel, fwSOCKS4, fwSOCKS5};
  for (int i = 0; i < 3; ++i) {
    for (bool reset : {false, true}) {
      peers::ScriptedServer proxy;
      // Half a reply first: the close comes in the middle of it.
      proxy.Accept().Expect(requests[i]).Send(i == 0 ? "HTTP/1.0 200" : Bytes({i == 1 ? 0 : 5}));
      if (reset)
        proxy.Reset();
      else
        proxy.Close();
      proxy.Start();
      RecordingPort p;
      ASSERT_TRUE(p.Init());
      p.SetTimeout(20);
      p.StartTimeout();
      p.Firewall.FirewallType = types[i];
      ASSERT_EQ(0, p.Firewall.SetFirewallHost("127.0.0.1"));
      p.Firewall.FirewallPort = static_cast<WORD>(proxy.port());
      Aim(p, 2121);
      EXPECT_EQ(118, p.ConnectAndWait()) << i << reset;
      EXPECT_EQ(std::string("the proxy closed the connection during the handshake"), p.GetErrorText());
      EXPECT_TRUE(p.Has("error 118 the proxy closed the connection during the handshake"));
      EXPECT_FALSE(p.Firewall.IsConnected());
      EXPECT_EQ(ws::INVALID_SOCKET, p.Socket);
      EXPECT_EQ("", proxy.failures());
    }
  }
}

TEST_F(Firewall, Socks5RepliesThatArriveTogether) {
  // The method reply, the connect reply and the far server's greeting in one segment; then
  // the authentication reply with the connect reply behind it.
  server.Accept()
      .Expect(Bytes({5, 1, 0}))
      .Send(Bytes({5, 0}) + kSocks5Ok + "220 one\r\n")
      .Expect(kSocks5Connect)
      .ReadUntilClosed()
      .Accept()
      .Expect(Bytes({5, 2, 0, 2}))
      .Send(Bytes({5, 2}))
      .Expect(Bytes({1, 1}) + "u" + Bytes({1}) + "p")
      .Send(Bytes({1, 0}) + kSocks5Ok + "220 two\r\n")
      .Expect(kSocks5Connect)
      .Stall()
      .Start();
  Through(fwSOCKS5);
  ASSERT_EQ(0, port.SetEOL("\r\n", 2));
  for (const char* greeting : {"220 one", "220 two"}) {
    ASSERT_EQ(0, port.ConnectAndWait()) << greeting;
    ASSERT_EQ(0, port.WaitForLine());
    EXPECT_EQ(greeting, ReplyText());
    port.Connect(false);
    port.Firewall.SetFirewallUser("u");
    port.Firewall.SetFirewallPassword("p");
  }
  EXPECT_EQ("", server.failures());
}

TEST_F(Firewall, ErrorAtConnectPassesUnchanged) {
  for (BYTE type : {fwNone, fwTunnel, fwSOCKS4, fwSOCKS5}) {
    RecordingPort p;
    ASSERT_TRUE(p.Init());
    p.Firewall.FirewallType = type;
    p.Firewall.SetFirewallHost("127.0.0.1");
    p.Firewall.FirewallPort = static_cast<WORD>(peers::FreePort());
    p.SetRemoteHost("127.0.0.1");
    p.SetRemotePort(static_cast<WORD>(p.Firewall.FirewallPort));
    EXPECT_EQ(10061, p.ConnectAndWait());
    EXPECT_EQ(0u, p.CountPrefix("error"));
    EXPECT_EQ(0u, p.CountPrefix("disconnected"));
  }
}

TEST_F(Firewall, SettingsAndBase64) {
  CFirewall fw;
  EXPECT_EQ(0, fw.SetFirewallHost(""));
  EXPECT_EQ(0u, fw.FirewallAddr);
  EXPECT_EQ(0, fw.SetFirewallHost("10.0.0.2"));
  EXPECT_EQ(0x0200000Au, fw.FirewallAddr);
  EXPECT_FALSE(fw.IsConnected());
  EXPECT_EQ(0, fw.SetFirewallUser(std::string(300, 'x').c_str()));
  EXPECT_EQ(255u, fw.FirewallUser.Length());
  EXPECT_EQ(0, fw.SetFirewallPassword(std::string(256, 'y').c_str()));
  EXPECT_EQ(255u, fw.FirewallPassword.Length());

  char out[64];
  EXPECT_EQ(0, EncodeBase64("", out));
  EXPECT_STREQ("", out);
  EXPECT_EQ(4, EncodeBase64("a", out));
  EXPECT_STREQ("YQ==", out);
  EXPECT_EQ(4, EncodeBase64("ab", out));
  EXPECT_STREQ("YWI=", out);
  EXPECT_EQ(12, EncodeBase64("user:pw", out));
  EXPECT_STREQ("dXNlcjpwdw==", out);
  EXPECT_EQ(4, EncodeBase64("\xff\xfe\xfd", out));
  EXPECT_STREQ("//79", out);
}

// A handler that sets another type while a negotiation runs sets it for the next connection:
// this one was neither judged as the new type nor left waiting for a reply nobody read.
TEST_F(Firewall, ATypeSetWhileANegotiationRunsIsForTheNextConnection) {
  server.Accept()
      .Expect(Bytes({5, 1, 0}))
      .Gate(1)
      .Send(Bytes({5, 0}))
      .Expect(Bytes({5, 1, 0, 1, 127, 0, 0, 1, 8, 73}))
      .Send(Bytes({5, 0, 0, 1, 0, 0, 0, 0, 0, 0}) + "220 hi\r\n")
      .Stall()
      .Start();
  Through(fwSOCKS5);
  ASSERT_EQ(0, port.SetEOL("\r\n", 2));
  port.SetTimeout(3);
  port.StartTimeout();
  bool changed = false;
  port.onMessage = [&](UINT, WPARAM, LPARAM) {
    if (!changed && port.Firewall.Pending) {
      changed = true;
      port.Firewall.FirewallType = fwNone;
      server.Open(1);
    }
    return false;
  };
  EXPECT_EQ(0, port.ConnectAndWait());
  EXPECT_EQ(0, port.WaitForLine());
  EXPECT_EQ("220 hi", ReplyText());
}

}  // namespace
