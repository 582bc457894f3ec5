// The response parser and the status check fed line by line, as the receive path delivers
// them, without a connection.
#include <gtest/gtest.h>

#include <string>

#include "tests/corv/http/http_sink.h"

namespace {

using httptest::Engine;

// Delivers one line (eol) or block; the buffer keeps a spare byte after the data, as the
// receive buffer does.
int Feed(CHTTP& http, const std::string& text, bool eol = true) {
  std::string buf = text + '\n';
  return http.OnDataIn(buf.data(), static_cast<WORD>(text.size()), eol);
}

TEST(HTTPParser, StatusHeadersAndBodyInOrder) {
  Engine e;
  Feed(e.http, "HTTP/1.0 200 OK\r");
  Feed(e.http, "Content-Type: text/plain\r");
  Feed(e.http, "Set-Cookie: k=v; path=/p; secure\r");
  Feed(e.http, "\r");
  Feed(e.http, "0123456789", false);
  EXPECT_EQ(e.sink.events,
            (std::vector<std::string>{"Header Content-Type: text/plain",
                                      "Header Set-Cookie: k=v; path=/p; secure",
                                      "SetCookie k=v|||/p|1", "StartTransfer 1", "Transfer 1"}));
  EXPECT_EQ(std::string(e.http.StatusLine.Text()), "HTTP/1.0 200 OK");
  EXPECT_EQ(std::string(e.http.TransferredHeaders.Text()),
            "Content-Type: text/plain\r\nSet-Cookie: k=v; path=/p; secure\r\n");
  EXPECT_EQ(e.Data(), "0123456789");
  EXPECT_EQ(e.sink.lastBytes, 10u);
  EXPECT_TRUE(e.sink.nulOk);
  EXPECT_EQ(e.http.CheckStatus(0), 0);
}

TEST(HTTPParser, LocationWhileFollowingIgnoresTheRest) {
  Engine e;
  e.http.FollowRedirects = frAlways;
  e.http.Action = 1;
  Feed(e.http, "HTTP/1.0 200 OK\r");
  Feed(e.http, "X-Before: 1\r");
  Feed(e.http, "location: /elsewhere\r");
  Feed(e.http, "X-After: 2\r");
  Feed(e.http, "\r");
  Feed(e.http, "body");
  EXPECT_EQ(e.sink.events, std::vector<std::string>{"Header X-Before: 1"});
  EXPECT_EQ(std::string(e.http.Location.Text()), "/elsewhere");
  EXPECT_EQ(e.http.TransferredHeaders.Length(), 0u);
  EXPECT_EQ(e.Data(), "");
  // A 2xx status is a success whatever Location says.
  EXPECT_EQ(e.http.CheckStatus(0), 0);
  e.http.Action = 0;
}

TEST(HTTPParser, FirstLineWithoutStatusIsBodyWithItsLineEnd) {
  Engine e;
  Feed(e.http, "a,b,c");
  Feed(e.http, "d,e,f", false);
  EXPECT_EQ(e.Data(), "a,b,c\nd,e,f");
  EXPECT_EQ(e.http.StatusLine.Length(), 0u);
  EXPECT_EQ(e.http.CheckStatus(0), 0);
}

TEST(HTTPParser, StatusCheckResults) {
  Engine e;
  Feed(e.http, "HTTP/1.0");
  EXPECT_EQ(e.http.CheckStatus(0), HTTP_STATUS_FAILED);
  EXPECT_EQ(e.Error(), "");
  EXPECT_TRUE(e.http.ErrorText != nullptr);
  // A stopped wait stays 301 whatever the status.
  EXPECT_EQ(e.http.CheckStatus(CORV_INTERRUPTED), CORV_INTERRUPTED);

  Engine f;
  Feed(f.http, "HTTP/1.1 503 Service Unavailable\r");
  EXPECT_EQ(f.http.CheckStatus(0), HTTP_STATUS_FAILED);
  EXPECT_EQ(f.Error(), "503 Service Unavailable");
}

TEST(HTTPParser, ByteAfterABlockIsRestoredWhenAHandlerThrows) {
  Engine e;
  Feed(e.http, "HTTP/1.0 200 OK");
  Feed(e.http, "");
  e.sink.then = [](const std::string& ev) {
    if (ev == "Transfer 1") throw std::runtime_error("handler failed");
  };
  std::string buf = "blockZ";
  EXPECT_THROW(e.http.OnDataIn(buf.data(), 5, true), std::runtime_error);
  EXPECT_EQ(buf, "blockZ");
}

TEST(HTTPEngine, ProxyCredentialsReachTheFirewallCut) {
  Engine e;
  const std::string user(300, 'u');
  ASSERT_EQ(e.http.SetProxyUser(user.c_str()), 0);
  ASSERT_EQ(e.http.SetProxyPassword("pw"), 0);
  EXPECT_EQ(e.http.ProxyUser.Length(), 300u);
  EXPECT_EQ(e.http.Firewall.FirewallUser.Length(), 255u);
  EXPECT_EQ(std::string(e.http.Firewall.FirewallPassword.Text()), "pw");
  // All 300 characters are in the header's credentials.
  EXPECT_EQ(e.http.ProxyAuthorization.Length(), 6u + (300 + 3 + 2) / 3 * 4);
}

TEST(HTTPEngine, ResetActionKeepsAgentAndLimits) {
  Engine e;
  e.http.SetURL("http://u:p@host.test/x", false);
  e.http.TransferredData.SetText("old");
  e.http.LocalFile.SetText("/tmp/x");
  e.http.MaxTransferredData = 10;
  e.http.FollowRedirects = frSameScheme;
  EXPECT_EQ(e.http.DoAction(4), 0);
  EXPECT_EQ(e.http.TransferredData.Length(), 0u);
  EXPECT_EQ(e.http.LocalFile.Length(), 0u);
  EXPECT_EQ(e.http.URLServer.Length(), 0u);
  EXPECT_EQ(e.http.User.Length(), 0u);
  EXPECT_EQ(e.http.MaxTransferredData, 10u);
  EXPECT_EQ(e.http.FollowRedirects, frSameScheme);
  EXPECT_EQ(std::string(e.http.UserAgent.Text()), "Corvane HTTP/S Control");
  EXPECT_EQ(e.http.Action, 0);
}

}  // namespace
