// Through real proxies: tinyproxy's CONNECT tunnel and danted's SOCKS4 and SOCKS5, each
// reaching a greeting-and-echo server of the test behind it.
#include <gtest/gtest.h>

#include <string>

#include "tests/corv/core/port_testing.h"
#include "tests/peers/dante.h"
#include "tests/peers/scripted.h"
#include "tests/peers/tinyproxy.h"

using corvtest::Aim;
using corvtest::RecordingPort;

namespace {

class ThroughProxy : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(port.Init());
    ASSERT_EQ(0, port.SetEOL("\r\n", 2));
  }
  void Via(BYTE type, int proxyPort, const std::string& host = "127.0.0.1") {
    port.Firewall.FirewallType = type;
    ASSERT_EQ(0, port.Firewall.SetFirewallHost("127.0.0.1"));
    port.Firewall.FirewallPort = static_cast<WORD>(proxyPort);
    ASSERT_EQ(0, port.SetRemoteHost(host.c_str()));
    ASSERT_EQ(0, port.SetRemotePort(static_cast<WORD>(far.port())));
    port.SetTimeout(10);
    port.StartTimeout();
  }
  // The far server greets first, then echoes.
  void Converse() {
    ASSERT_EQ(0, port.WaitForLine()) << port.GetErrorText();
    EXPECT_EQ("220 far end", std::string(port.Reply.Text(), port.Reply.Length()));
    ASSERT_EQ(0, port.SendLineAndWait("ECHO", "through the proxy", "\r\n")) << port.GetErrorText();
    EXPECT_EQ("ECHO through the proxy", std::string(port.Reply.Text(), port.Reply.Length()));
    EXPECT_EQ(0, port.Connect(false));
  }
  peers::EchoServer far{"220 far end\r\n"};
  RecordingPort port;
};

TEST_F(ThroughProxy, TinyproxyTunnel) {
  peers::Tinyproxy proxy;
  Via(fwTunnel, proxy.port());
  ASSERT_EQ(0, port.ConnectAndWait()) << port.lastErrorText << proxy.log();
  Converse();
}

TEST_F(ThroughProxy, TinyproxyTunnelWithBasicCredentials) {
  peers::Tinyproxy proxy({"corv", "tunnel-pw"});
  Via(fwTunnel, proxy.port());
  port.Firewall.SetFirewallUser("corv");
  port.Firewall.SetFirewallPassword("tunnel-pw");
  ASSERT_EQ(0, port.ConnectAndWait()) << port.lastErrorText << proxy.log();
  Converse();
}

TEST_F(ThroughProxy, TinyproxyRefusesMissingOrWrongCredentials) {
  peers::Tinyproxy proxy({"corv", "tunnel-pw"});
  Via(fwTunnel, proxy.port());
  EXPECT_EQ(118, port.ConnectAndWait());
  EXPECT_EQ(0u, port.lastErrorText.rfind("HTTP/1.0 407", 0)) << port.lastErrorText;
  EXPECT_EQ(port.lastErrorText, port.GetErrorText());
  // The engine keeps its own copy: the firewall's text moves with its next negotiation.
  port.Firewall.FailureText.SetText(std::string(5000, 'x').c_str());
  EXPECT_EQ(port.lastErrorText, port.GetErrorText());
  // Closed at once: nothing of the next action may go to the proxy unnegotiated.
  EXPECT_EQ(ws::INVALID_SOCKET, port.Socket);

  port.Firewall.SetFirewallUser("corv");
  port.Firewall.SetFirewallPassword("wrong");
  port.StartTimeout();
  EXPECT_EQ(118, port.ConnectAndWait());
  EXPECT_EQ(0u, port.lastErrorText.rfind("HTTP/1.0 401", 0)) << port.lastErrorText;
  EXPECT_EQ(port.lastErrorText, port.GetErrorText());

  port.Firewall.SetFirewallPassword("tunnel-pw");
  port.StartTimeout();
  ASSERT_EQ(0, port.ConnectAndWait()) << port.GetErrorText();
  Converse();
}

TEST_F(ThroughProxy, ProxiesThatCloseDuringTheHandshake) {
  // danted turns a client away by closing its connection; tinyproxy closes on a request line
  // longer than it reads.
  const std::string closed = "the proxy closed the connection during the handshake";
  {
    peers::Dante proxy(false, true);
    for (BYTE type : {fwSOCKS4, fwSOCKS5}) {
      Via(type, proxy.port());
      EXPECT_EQ(118, port.ConnectAndWait()) << proxy.log();
      EXPECT_EQ(closed, port.GetErrorText());
      EXPECT_EQ(ws::INVALID_SOCKET, port.Socket);
    }
  }
  peers::Tinyproxy proxy;
  Via(fwTunnel, proxy.port(), std::string(200000, 'h'));
  EXPECT_EQ(118, port.ConnectAndWait()) << proxy.log();
  EXPECT_EQ(closed, port.GetErrorText());
}

TEST_F(ThroughProxy, DanteSocks4) {
  peers::Dante proxy;
  Via(fwSOCKS4, proxy.port());
  port.Firewall.SetFirewallUser("anyone");
  ASSERT_EQ(0, port.ConnectAndWait()) << port.lastErrorText << proxy.log();
  Converse();
}

TEST_F(ThroughProxy, DanteSocks5) {
  peers::Dante proxy;
  Via(fwSOCKS5, proxy.port());
  ASSERT_EQ(0, port.ConnectAndWait()) << port.lastErrorText << proxy.log();
  Converse();
}

TEST_F(ThroughProxy, DanteSocks5ResolvesTheNameItself) {
  peers::Dante proxy;
  Via(fwSOCKS5, proxy.port(), "*localhost");
  ASSERT_EQ(0, port.ConnectAndWait()) << port.lastErrorText << proxy.log();
  Converse();
}

TEST_F(ThroughProxy, DanteSocks5WithUserAndPassword) {
  peers::Dante proxy(true);
  Via(fwSOCKS5, proxy.port());
  port.Firewall.SetFirewallUser(peers::Dante::SocksUser);
  port.Firewall.SetFirewallPassword(peers::Dante::SocksPassword);
  ASSERT_EQ(0, port.ConnectAndWait()) << port.lastErrorText << proxy.log();
  Converse();
}

TEST_F(ThroughProxy, DanteRefusesAWrongPassword) {
  peers::Dante proxy(true);
  Via(fwSOCKS5, proxy.port());
  port.Firewall.SetFirewallUser(peers::Dante::SocksUser);
  port.Firewall.SetFirewallPassword("not-the-password");
  EXPECT_EQ(118, port.ConnectAndWait());
  EXPECT_EQ(0u, port.lastErrorText.rfind("firewall authentication failed: ", 0)) << port.lastErrorText;
  EXPECT_EQ(port.lastErrorText, port.GetErrorText());
}

TEST_F(ThroughProxy, DanteWantsAuthenticationThatWasNotOffered) {
  peers::Dante proxy(true);
  Via(fwSOCKS5, proxy.port());
  EXPECT_EQ(118, port.ConnectAndWait());
  EXPECT_EQ("no acceptable firewall authentication methods", port.lastErrorText);
}

TEST_F(ThroughProxy, DanteRefusesAClosedFarPort) {
  peers::Dante proxy;
  Via(fwSOCKS5, proxy.port());
  port.SetRemotePort(static_cast<WORD>(peers::FreePort()));
  EXPECT_EQ(118, port.ConnectAndWait());
  EXPECT_EQ("connection refused", port.lastErrorText);
  EXPECT_EQ(port.lastErrorText, port.GetErrorText());
}

}  // namespace
