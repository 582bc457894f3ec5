// Request bytes as a capture server receives them, and failures before and around the
// response that only a scripted server produces on demand.
#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <unistd.h>

#include "tests/corv/http/http_sink.h"
#include "tests/peers/http_capture.h"
#include "tests/peers/process.h"

namespace {

using httptest::Engine;
using peers::HttpCapture;

const std::string kAgent = "User-Agent: Corvane HTTP/S Control\r\n";

std::string Host(const HttpCapture& cap) { return "Host: 127.0.0.1:" + std::to_string(cap.port()) + "\r\n"; }

TEST(HTTPRequestBytes, GetAndHead) {
  HttpCapture cap;
  Engine e;
  ASSERT_EQ(e.Get(cap.Url("/a/b?c=d")), 0) << e.Error();
  EXPECT_EQ(cap.NextRequest(), "GET /a/b?c=d HTTP/1.0\r\n" + Host(cap) + kAgent + "\r\n");
  EXPECT_EQ(e.Data(), "ok");
  e.http.SetURL(cap.Url("").c_str(), false);
  ASSERT_EQ(e.http.DoAction(3), 0) << e.Error();
  EXPECT_EQ(cap.NextRequest(), "HEAD / HTTP/1.0\r\n" + Host(cap) + kAgent + "\r\n");
  e.http.HTTPMethod.SetText("OPTIONS");
  ASSERT_EQ(e.http.DoAction(1), 0) << e.Error();
  EXPECT_EQ(cap.NextRequest().substr(0, 24), "OPTIONS / HTTP/1.0\r\nHost");
}

TEST(HTTPRequestBytes, MethodAndBodySetByAHandlerWhileTheRequestIsMade) {
  // The request under way keeps what it started with; the new values are for the next.
  HttpCapture cap;
  Engine e;
  const std::string method(120, 'M');
  const std::string body(300, 'b');
  e.http.SetURL(cap.Url("/").c_str(), false);
  e.http.HTTPMethod.SetText(method.c_str());
  e.http.PostData.SetText(body.c_str());
  e.sink.then = [&](const std::string& ev) {
    if (ev.rfind("Connected", 0) == 0) {
      e.http.HTTPMethod.SetText("PUT");
      e.http.PostData.SetText("x");
    }
  };
  ASSERT_EQ(e.http.DoAction(2), 0) << e.Error();
  const std::string request = cap.NextRequest();
  EXPECT_EQ(request.substr(0, method.size() + 3), method + " / ") << request;
  EXPECT_EQ(request.substr(request.size() - body.size() - 23), "Content-Length: 300\r\n\r\n" + body);
}

TEST(HTTPRequestBytes, PostWithBodyAndType) {
  HttpCapture cap;
  Engine e;
  e.http.SetURL(cap.Url("/form").c_str(), false);
  e.http.PostData.SetText("f=sl1&s=A%20B");
  e.http.ContentType.SetText("application/x-www-form-urlencoded");
  ASSERT_EQ(e.http.DoAction(2), 0) << e.Error();
  EXPECT_EQ(cap.NextRequest(),
            "POST /form HTTP/1.0\r\n" + Host(cap) + kAgent +
                "Content-Type: application/x-www-form-urlencoded\r\n"
                "Content-Length: 13\r\n\r\nf=sl1&s=A%20B");
  EXPECT_EQ(e.sink.Count("StartTransfer 0"), 1);
  EXPECT_EQ(e.sink.Count("EndTransfer 0"), 1);

  // Empty body: a zero length and no direction-0 events.
  Engine empty;
  empty.http.SetURL(cap.Url("/form").c_str(), false);
  ASSERT_EQ(empty.http.DoAction(2), 0) << empty.Error();
  EXPECT_EQ(cap.NextRequest(), "POST /form HTTP/1.0\r\n" + Host(cap) + kAgent +
                                   "Content-Length: 0\r\n\r\n");
  EXPECT_EQ(empty.sink.Count("StartTransfer 0"), 0);
}

TEST(HTTPRequestBytes, PutSendsPostDataThenTheAttachedFile) {
  HttpCapture cap;
  peers::TempDir dir("tavlin-http");
  std::string content(40000, '\0');
  for (std::size_t i = 0; i < content.size(); ++i) content[i] = static_cast<char>(i * 13);
  const std::string file = dir.Write("upload.bin", content);
  Engine e;
  e.http.SetURL(cap.Url("/up").c_str(), false);
  e.http.PostData.SetText("head:");
  e.http.AttachedFile.SetText(file.c_str());
  ASSERT_EQ(e.http.DoAction(5), 0) << e.Error();
  EXPECT_EQ(cap.NextRequest(), "PUT /up HTTP/1.0\r\n" + Host(cap) + kAgent +
                                   "Content-Length: 40005\r\n\r\nhead:" + content);
  // Progress after every file chunk: 16384, 32768 and the rest (counted modulo 65536).
  ASSERT_GE(e.sink.sent.size(), 3u);
  EXPECT_EQ(e.sink.sent.back(), 40000u);

  // An empty attached file still reports once, with 0 bytes.
  const std::string none = dir.Write("empty.bin", "");
  Engine z;
  z.http.SetURL(cap.Url("/up").c_str(), false);
  z.http.AttachedFile.SetText(none.c_str());
  ASSERT_EQ(z.http.DoAction(5), 0) << z.Error();
  cap.NextRequest();
  EXPECT_EQ(z.sink.sent, std::vector<std::uint32_t>{0});
}

TEST(HTTPRequestBytes, AttachedFileThatShrinksFailsTheRequest) {
  HttpCapture cap;
  peers::TempDir dir("tavlin-http");
  const std::string file = dir.Write("shrinks.bin", std::string(50000, 'x'));
  Engine e;
  e.http.SetURL(cap.Url("/up").c_str(), false);
  e.http.AttachedFile.SetText(file.c_str());
  // The size is taken for Content-Length before the body starts; cut the file right then.
  e.sink.then = [&](const std::string& ev) {
    if (ev == "StartTransfer 0") {
      EXPECT_EQ(::truncate(file.c_str(), 20000), 0);
    }
  };
  EXPECT_EQ(e.http.DoAction(5), HTTP_FILE_READ_FAILED);
  EXPECT_EQ(e.sink.Count("EndTransfer 0"), 0);
  // A missing attached file fails before anything is sent.
  e.sink.then = nullptr;
  e.http.AttachedFile.SetText(dir.File("missing.bin").c_str());
  EXPECT_EQ(e.http.DoAction(2), HTTP_FILE_FAILED);
  EXPECT_EQ(e.Error(), "Can't open attached file for reading.");
}

TEST(HTTPRequestBytes, CredentialsCookiesAndOwnHost) {
  HttpCapture cap;
  Engine e;
  e.http.SetURL(("http://ann:pw@127.0.0.1:" + std::to_string(cap.port()) + "/c").c_str(), false);
  e.http.SetProxyUser("not-sent");  // no proxy, so no Proxy-Authorization
  e.http.Cookies.Append("sid");
  e.http.Cookies.Append("42");
  e.http.Cookies.Append("lang");
  e.http.Cookies.Append("en");
  e.http.Referer.SetText("http://from.test/");
  e.http.OtherHeaders.SetText("Host: virtual.test\nX-Extra: 1");
  ASSERT_EQ(e.http.DoAction(1), 0) << e.Error();
  EXPECT_EQ(cap.NextRequest(),
            "GET /c HTTP/1.0\r\nAuthorization: Basic YW5uOnB3\r\n" + kAgent +
                "Referer: http://from.test/\r\nCookie: sid=42; lang=en\r\n"
                "Host: virtual.test\nX-Extra: 1\r\n\r\n");
}

TEST(HTTPRequestBytes, AbsoluteTargetAndProxyCredentialsToAProxy) {
  HttpCapture proxy;
  Engine e;
  e.http.ProxyServer.SetText("127.0.0.1");
  e.http.ProxyPort = static_cast<std::uint16_t>(proxy.port());
  e.http.SetProxyUser("pu");
  e.http.SetProxyPassword("pp");
  e.http.SetURL("http://quotes.test:8080/d/quotes.csv?s=A", false);
  ASSERT_EQ(e.http.DoAction(1), 0) << e.Error();
  EXPECT_EQ(proxy.NextRequest(),
            "GET http://quotes.test:8080/d/quotes.csv?s=A HTTP/1.0\r\nHost: quotes.test:8080\r\n"
            "Proxy-Authorization: Basic cHU6cHA=\r\n" + kAgent + "\r\n");
  EXPECT_EQ(std::string(e.http.Firewall.FirewallUser.Text()), "pu");
}

TEST(HTTPRequestBytes, LineBreaksAreRefusedBeforeConnecting) {
  HttpCapture cap;
  Engine e;
  e.http.SetURL(cap.Url("/a\r\nX-Injected: 1").c_str(), false);
  EXPECT_EQ(e.http.DoAction(1), HTTP_LINE_BREAK_IN_FIELD);
  e.http.SetURL(cap.Url("/a").c_str(), false);
  e.http.Cookies.Append("n");
  e.http.Cookies.Append("v\nSet-Cookie: x=y");
  EXPECT_EQ(e.http.DoAction(1), HTTP_LINE_BREAK_IN_FIELD);
  e.http.Cookies.Clear();
  e.http.UserAgent.SetText("agent\r");
  EXPECT_EQ(e.http.DoAction(2), HTTP_LINE_BREAK_IN_FIELD);
  EXPECT_EQ(e.Error(), kHTTPLineBreakText);
  e.http.UserAgent.SetText("agent");
  e.http.OtherHeaders.SetText("X-A: 1\r\nX-B: 2");  // several lines by design
  EXPECT_EQ(e.http.DoAction(1), 0) << e.Error();
  EXPECT_EQ(cap.Connections(), 1);
}

TEST(HTTPRequestBytes, RedirectWithoutLocationAsksForTheRootOfTheSameServer) {
  HttpCapture cap(HttpCapture::Mode::Reply, "HTTP/1.0 302 Found\r\nX-A: 1\r\n\r\nmoved");
  Engine e;
  e.http.FollowRedirects = frAlways;
  // Every answer is the same 302, so the bound ends it.
  EXPECT_EQ(e.Get(cap.Url("/start?x")), HTTP_STATUS_FAILED);
  EXPECT_EQ(e.Error(), "302 Found");
  EXPECT_EQ(cap.NextRequest(), "GET /start?x HTTP/1.0\r\n" + Host(cap) + kAgent + "\r\n");
  EXPECT_EQ(cap.NextRequest(), "GET / HTTP/1.0\r\n" + Host(cap) + kAgent + "\r\n");
  EXPECT_EQ(cap.Connections(), static_cast<int>(CHTTP::kMaxRedirects) + 1);
  EXPECT_EQ(std::string(e.http.URLServer.Text()), "127.0.0.1");
  EXPECT_EQ(e.http.URLPort, cap.port());
}

// The interrupt alone must stop the redirect (DoAction(0) would also clear the action to
// follow): whether a wait of the first hop takes the request, or the handler's own pass of the
// queue (a GUI handler's DoEvents) takes it before the hop ends.
TEST(HTTPRequestBytes, AnInterruptDuringARedirectsFirstHopSendsNoSecondRequest) {
  for (const bool ownPass : {false, true}) {
    for (const std::string when : {"Header X-A: 1", "EndTransfer 1", "Disconnected 0 OK"}) {
      SCOPED_TRACE(when + (ownPass ? ", taken by the handler's own pass" : ""));
      HttpCapture cap(HttpCapture::Mode::Reply, "HTTP/1.0 302 Found\r\nX-A: 1\r\nLocation: /next\r\n\r\n");
      Engine e;
      e.http.FollowRedirects = frAlways;
      e.sink.then = [&](const std::string& ev) {
        if (ev != when || e.sink.Count(when) != 1) return;
        e.http.Interrupt();
        if (ownPass) e.http.DoEvents(0, e.http.Window);
      };
      EXPECT_EQ(e.Get(cap.Url("/start")), CORV_INTERRUPTED);
      EXPECT_EQ(e.http.Action, 0);
      EXPECT_EQ(cap.NextRequest().substr(0, 16), "GET /start HTTP/");
      EXPECT_EQ(cap.NextRequest(300), "");
    }
  }
}

TEST(HTTPRequestFailures, NoServerAndBadScheme) {
  Engine e;
  e.http.SetURL("/only/a/path", false);
  EXPECT_EQ(e.http.DoAction(1), HTTP_NO_SERVER);
  EXPECT_EQ(e.Error(), "No server specified in URL");
  e.http.SetURL("https://127.0.0.1/", false);
  EXPECT_EQ(e.http.DoAction(1), HTTP_BAD_SCHEME);
  EXPECT_EQ(e.Error(), "Specified URLScheme is invalid.");
}

TEST(HTTPRequestFailures, ConnectionRefused) {
  const int port = peers::FreePort();
  Engine e;
  EXPECT_EQ(e.Get("http://127.0.0.1:" + std::to_string(port) + "/"), 10061);
  EXPECT_EQ(e.sink.Count("Connected 10061"), 1);
  EXPECT_EQ(e.http.Action, 0);
}

TEST(HTTPRequestFailures, CloseWithoutAnyByteIsNoSuccess) {
  HttpCapture cap(HttpCapture::Mode::CloseSilently);
  Engine e;
  EXPECT_EQ(e.Get(cap.Url("/")), HTTP_STATUS_FAILED);
  EXPECT_FALSE(e.Error().empty());
  EXPECT_EQ(e.sink.Count("EndTransfer 1"), 1);
}

TEST(HTTPRequestFailures, ResponseWithoutStatusLineIsAllBody) {
  HttpCapture cap(HttpCapture::Mode::Reply, "plain text\nsecond line");
  Engine e;
  EXPECT_EQ(e.Get(cap.Url("/")), 0) << e.Error();
  EXPECT_EQ(e.Data(), "plain text\nsecond line");
  EXPECT_EQ(std::string(e.http.StatusLine.Text()), "");
  EXPECT_TRUE(e.sink.nulOk);
}

TEST(HTTPRequestFailures, ResetInTheMiddleOfTheBody) {
  std::string reply = "HTTP/1.0 200 OK\r\nContent-Length: 200000\r\n\r\n" + std::string(200000, 'r');
  HttpCapture cap(HttpCapture::Mode::ResetMidBody, reply);
  Engine e;
  const int r = e.Get(cap.Url("/"));
  EXPECT_NE(r, 0) << "a reset connection must not read as a complete download";
  EXPECT_LT(e.http.BodyBytes, 200000u);
  EXPECT_EQ(e.http.Action, 0);
}

TEST(HTTPRequestFailures, TimeoutAndInterrupt) {
  HttpCapture cap(HttpCapture::Mode::NeverAnswer);
  {
    Engine e;
    e.http.SetTimeout(1);
    EXPECT_EQ(e.Get(cap.Url("/slow")), CORV_INTERRUPTED);
    EXPECT_EQ(e.Error(), "Timeout.");
    // The next request does not ride on the connection the time-out left open.
    e.http.SetTimeout(1);
    EXPECT_EQ(e.Get(cap.Url("/slow2")), CORV_INTERRUPTED);
    EXPECT_EQ(cap.Connections(), 2);
  }
  {
    Engine e;
    int nested = -1;
    e.sink.then = [&](const std::string& ev) {
      if (ev.rfind("Connected 0", 0) == 0) {
        EXPECT_EQ(e.http.DoAction(0), 0);
        // The outer call has not returned yet: still busy.
        nested = e.http.DoAction(1);
      }
    };
    EXPECT_EQ(e.Get(cap.Url("/stop")), CORV_INTERRUPTED);
    EXPECT_EQ(nested, HTTP_BUSY);
    EXPECT_EQ(e.http.Action, 0);
  }
}

TEST(HTTPResponseParsing, HeaderLinesLongerThanTheReceiveBuffer) {
  // Longer than the receive buffer: it arrives in pieces that must become one line.
  const std::string longValue(50000, 'v');
  HttpCapture cap(HttpCapture::Mode::Reply, "HTTP/1.0 200 OK\r\nX-Long: " + longValue +
                                                "\r\nX-Next: n\r\n\r\nbody");
  Engine e;
  ASSERT_EQ(e.Get(cap.Url("/")), 0) << e.Error();
  EXPECT_EQ(e.sink.Count("Header X-Long: " + longValue), 1);
  EXPECT_EQ(e.sink.Count("Header X-Next: n"), 1);
  EXPECT_EQ(e.Data(), "body");

  cap.SetReply(HttpCapture::Mode::Reply,
               "HTTP/1.0 200 OK\r\nX-Huge: " + std::string(70000, 'h') + "\r\nX-Next: n\r\n\r\nbody");
  Engine big;
  EXPECT_EQ(big.Get(cap.Url("/")), HTTP_STATUS_FAILED);
  EXPECT_EQ(big.sink.Count("Header X-Next"), 0);
  EXPECT_EQ(big.Data(), "");
}

TEST(HTTPResponseParsing, CloseInsideALineEndsThatLine) {
  // A failed status without its line end is still judged.
  HttpCapture cap(HttpCapture::Mode::Reply, "HTTP/1.0 404 Not Found");
  Engine e;
  EXPECT_EQ(e.Get(cap.Url("/")), HTTP_STATUS_FAILED);
  EXPECT_EQ(e.Error(), "404 Not Found");

  // The last header, longer than the receive buffer and cut by the close, is still reported,
  // before the end of the transfer.
  const std::string value(40000, 'z');
  cap.SetReply(HttpCapture::Mode::Reply, "HTTP/1.0 200 OK\r\nX-Last: " + value);
  Engine last;
  ASSERT_EQ(last.Get(cap.Url("/")), 0) << last.Error();
  EXPECT_EQ(last.sink.Outline(), (std::vector<std::string>{"Connected 0 OK", "Header X-Last: " + value,
                                                           "EndTransfer 1", "Disconnected 0 OK"}));

  // A long header that did end, then the close: no empty line is made up.
  cap.SetReply(HttpCapture::Mode::Reply, "HTTP/1.0 200 OK\r\nX-Long: " + value + "\r\n");
  Engine ended;
  ASSERT_EQ(ended.Get(cap.Url("/")), 0) << ended.Error();
  EXPECT_EQ(ended.sink.Count("Header X-Long: " + value), 1);
  EXPECT_EQ(ended.sink.Count("StartTransfer"), 0);
}

TEST(HTTPResponseParsing, HandlerExceptionLeavesTheEngineUsable) {
  HttpCapture cap(HttpCapture::Mode::Reply, "HTTP/1.0 200 OK\r\n\r\n" + std::string(30000, 'b'));
  Engine e;
  e.sink.then = [](const std::string& ev) {
    if (ev == "Transfer 1") throw std::runtime_error("handler failed");
  };
  EXPECT_THROW(e.Get(cap.Url("/")), std::runtime_error);
  EXPECT_EQ(e.http.Action, 0);
  EXPECT_FALSE(e.http.ReadPassRunning());
  e.sink.then = nullptr;
  e.sink.body.clear();
  ASSERT_EQ(e.Get(cap.Url("/")), 0) << e.Error();
  EXPECT_EQ(e.sink.body, std::string(30000, 'b'));
  EXPECT_TRUE(e.sink.nulOk);
}

}  // namespace
