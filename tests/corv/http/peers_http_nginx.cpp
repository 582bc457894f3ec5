// The HTTP engine against nginx and tinyproxy: responses, files, redirects, authentication,
// cookies and proxies.
#include <gtest/gtest.h>

#include <fstream>
#include <memory>
#include <sstream>
#include <string>

#include "tests/corv/http/http_sink.h"
#include "tests/corv/http/nginx_suite.h"
#include "tests/peers/nginx.h"
#include "tests/peers/tinyproxy.h"

namespace {

using httptest::Engine;
using peers::Nginx;

class HTTPNginx : public NginxSuite<HTTPNginx> {};

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

TEST_F(HTTPNginx, EventsOfOneResponseInOrder) {
  Engine e;
  ASSERT_EQ(e.Get(Url("/small.txt")), 0) << e.Error();
  const auto& ev = e.sink.events;
  ASSERT_GE(ev.size(), 6u);
  EXPECT_EQ(ev.front(), "Connected 0 OK");
  EXPECT_EQ(ev[1].rfind("Header Server: nginx", 0), 0u);
  EXPECT_EQ(e.sink.Count("Header Content-Length: 13"), 1);
  const std::vector<std::string> tail(ev.end() - 4, ev.end());
  EXPECT_EQ(tail, (std::vector<std::string>{"StartTransfer 1", "Transfer 1", "EndTransfer 1",
                                            "Disconnected 0 OK"}));
  EXPECT_EQ(e.sink.body, "hello tavlin\n");
  EXPECT_EQ(e.sink.lastBytes, 13u);
  EXPECT_EQ(std::string(e.http.StatusLine.Text()), "HTTP/1.1 200 OK");
  const std::string headers = e.http.TransferredHeaders.Text();
  EXPECT_NE(headers.find("Content-Length: 13\r\n"), std::string::npos);
  EXPECT_EQ(headers.substr(headers.size() - 2), "\r\n");
  EXPECT_EQ(headers.find("HTTP/1.1"), std::string::npos);
}

TEST_F(HTTPNginx, KeptDataIsCappedWhileTheLocalFileGetsEverything) {
  peers::TempDir dir("tavlin-http");
  Engine e;
  e.http.LocalFile.SetText(dir.File("out.bin").c_str());
  ASSERT_EQ(e.Get(Url("/pattern5000.bin")), 0) << e.Error();
  const std::string pattern = Nginx::Pattern(5000);
  EXPECT_EQ(e.Data(), pattern.substr(0, 4096));
  EXPECT_EQ(e.sink.body, pattern);
  EXPECT_EQ(e.http.BodyBytes, 5000u);
  EXPECT_EQ(ReadFile(dir.File("out.bin")), pattern);

  e.http.MaxTransferredData = 0;
  e.http.LocalFile.Clear();
  ASSERT_EQ(e.Get(Url("/pattern5000.bin")), 0) << e.Error();
  EXPECT_EQ(e.Data(), pattern);
  ASSERT_EQ(e.Get(Url("/nul.bin")), 0) << e.Error();
  EXPECT_EQ(e.Data(), Nginx::NulBody());
  EXPECT_TRUE(e.sink.nulOk);
}

TEST_F(HTTPNginx, LocalFileFailuresFailTheAction) {
  Engine e;
  e.http.LocalFile.SetText("/nonexistent-folder/out.bin");
  EXPECT_EQ(e.Get(Url("/pattern5000.bin")), HTTP_FILE_FAILED);
  EXPECT_EQ(e.Error(), "Can't open local file for writing.");
  EXPECT_EQ(e.sink.Count("Error 0 Can't open local file for writing."), 1);

  Engine full;
  full.http.LocalFile.SetText("/dev/full");
  EXPECT_EQ(full.Get(Url("/pattern5000.bin")), HTTP_FILE_WRITE_FAILED);
  // One report, not one per block: the file is not created anew for later blocks. Writes are
  // gathered, so a short body fails at the flush before EndTransfer, a long one on the way.
  EXPECT_EQ(full.sink.Count("Error 7 Error writing to LocalFile."), 1);
  EXPECT_EQ(full.http.BodyBytes, 5000u);
  const auto outline = full.sink.Outline();
  EXPECT_EQ(std::vector<std::string>(outline.end() - 3, outline.end()),
            (std::vector<std::string>{"Error 7 Error writing to LocalFile.", "EndTransfer 1", "Disconnected 0 OK"}));
  const std::string big = Nginx::Pattern(600000);
  std::ofstream(server->root() + "/big600k.bin", std::ios::binary) << big;
  Engine fullBig;
  fullBig.http.LocalFile.SetText("/dev/full");
  EXPECT_EQ(fullBig.Get(Url("/big600k.bin")), HTTP_FILE_WRITE_FAILED);
  EXPECT_EQ(fullBig.sink.Count("Error 7 Error writing to LocalFile."), 1);
  EXPECT_EQ(fullBig.sink.body.size(), big.size());

  // A failed status stays the result, with its own text; the file's Error event still comes.
  Engine missing;
  missing.http.LocalFile.SetText("/nonexistent-folder/out.bin");
  EXPECT_EQ(missing.Get(Url("/missing")), HTTP_STATUS_FAILED);
  EXPECT_EQ(missing.Error(), "404 Not Found");
  EXPECT_EQ(missing.sink.Count("Error 0 Can't open local file for writing."), 1);
}

TEST_F(HTTPNginx, NotFoundFailsWithTheStatus) {
  Engine e;
  EXPECT_EQ(e.Get(Url("/missing")), HTTP_STATUS_FAILED);
  EXPECT_EQ(e.Error(), "404 Not Found");
  EXPECT_NE(e.Data().find("404"), std::string::npos);
}

TEST_F(HTTPNginx, RedirectsByFollowMode) {
  Engine never;
  EXPECT_EQ(never.Get(Url("/redirect302")), HTTP_STATUS_FAILED);
  EXPECT_EQ(never.Error(), "302 Moved Temporarily");
  EXPECT_EQ(never.sink.Count("Header Location: " + Url("/small.txt")), 1);

  for (int mode : {frAlways, frSameScheme}) {
    Engine e;
    e.http.FollowRedirects = static_cast<std::uint8_t>(mode);
    ASSERT_EQ(e.Get(Url("/redirect302")), 0) << e.Error();
    EXPECT_EQ(e.Data(), "hello tavlin\n");
    EXPECT_EQ(e.sink.Count("Header Location"), 0);
    EXPECT_EQ(e.sink.Count("EndTransfer 1"), 2);
    EXPECT_EQ(std::string(e.http.URLPath.Text()), "/small.txt");
    ASSERT_EQ(e.Get(Url("/redirect301")), 0) << e.Error();
    EXPECT_EQ(e.Data(), "hello tavlin\n");
    // A redirect built from the Host header leads back to this port.
    ASSERT_EQ(e.Get(Url("/redirect-host")), 0) << e.Error();
    EXPECT_EQ(e.Data(), "hello tavlin\n");
  }

  Engine same;
  same.http.FollowRedirects = frSameScheme;
  EXPECT_EQ(same.Get(Url("/to-https")), HTTP_STATUS_FAILED);
  Engine always;
  always.http.FollowRedirects = frAlways;
  EXPECT_EQ(always.Get(Url("/to-https")), HTTP_BAD_SCHEME);

  Engine post;
  post.http.FollowRedirects = frAlways;
  post.http.SetURL(Url("/redirect302").c_str(), false);
  post.http.PostData.SetText("x=1");
  EXPECT_EQ(post.http.DoAction(2), HTTP_STATUS_FAILED);
}

TEST_F(HTTPNginx, RedirectLoopIsCutOff) {
  Engine e;
  e.http.FollowRedirects = frAlways;
  EXPECT_EQ(e.Get(Url("/loop")), HTTP_STATUS_FAILED);
  EXPECT_EQ(e.Error(), "302 Moved Temporarily");
  EXPECT_EQ(e.sink.Count("EndTransfer 1"), static_cast<int>(CHTTP::kMaxRedirects) + 1);
  EXPECT_EQ(e.http.Action, 0);
  // The bound counts redirects in a row, per call.
  EXPECT_EQ(e.Get(Url("/loop")), HTTP_STATUS_FAILED);
  EXPECT_EQ(e.sink.Count("EndTransfer 1"), 2 * (static_cast<int>(CHTTP::kMaxRedirects) + 1));
}

TEST_F(HTTPNginx, BasicAuthentication) {
  Engine e;
  EXPECT_EQ(e.Get(Url("/private/secret.txt")), HTTP_STATUS_FAILED);
  EXPECT_EQ(e.Error(), "401 Unauthorized");
  e.http.SetURL(Url("/private/secret.txt").c_str(), false);
  e.http.SetUser(Nginx::kUser);
  e.http.SetPassword(Nginx::kPassword);
  ASSERT_EQ(e.http.DoAction(1), 0) << e.Error();
  EXPECT_EQ(e.Data(), "only for tavlin\n");
  e.http.SetPassword("wrong");
  EXPECT_EQ(e.http.DoAction(1), HTTP_STATUS_FAILED);
  // Credentials in the URL.
  Engine u;
  const std::string url = "http://" + std::string(Nginx::kUser) + ":" + Nginx::kPassword +
                          "@127.0.0.1:" + std::to_string(server->port()) + "/private/secret.txt";
  ASSERT_EQ(u.Get(url), 0) << u.Error();
}

TEST_F(HTTPNginx, CookiesReportedAndSent) {
  Engine e;
  ASSERT_EQ(e.Get(Url("/cookie")), 0) << e.Error();
  EXPECT_EQ(e.sink.Count("SetCookie session=abc123|||/|1"), 1);
  EXPECT_EQ(e.sink.Count("SetCookie theme=dark|Wed, 09 Jun 2027 10:18:14 GMT|127.0.0.1||0"), 1);
  EXPECT_EQ(e.sink.Count("Header Set-Cookie: session=abc123; Path=/; Secure"), 1);

  e.http.Cookies.Append("a");
  e.http.Cookies.Append("1");
  e.http.Cookies.Append("b");
  e.http.Cookies.Append("2");
  e.http.UserAgent.SetText("tavlin-test");
  ASSERT_EQ(e.Get(Url("/echo?x=y")), 0) << e.Error();
  const std::string echo = e.Data();
  EXPECT_NE(echo.find("method=GET\n"), std::string::npos) << echo;
  EXPECT_NE(echo.find("uri=/echo?x=y\n"), std::string::npos) << echo;
  EXPECT_NE(echo.find("host=127.0.0.1:" + std::to_string(server->port()) + "\n"), std::string::npos) << echo;
  EXPECT_NE(echo.find("agent=tavlin-test\n"), std::string::npos) << echo;
  EXPECT_NE(echo.find("cookie=a=1; b=2\n"), std::string::npos) << echo;
}

TEST_F(HTTPNginx, PostEchoAndPutUpload) {
  Engine e;
  e.http.SetURL(Url("/echo").c_str(), false);
  e.http.SetUser("u");
  e.http.SetPassword("p");
  e.http.PostData.SetText("a=1");
  e.http.ContentType.SetText("application/x-www-form-urlencoded");
  ASSERT_EQ(e.http.DoAction(2), 0) << e.Error();
  const std::string echo = e.Data();
  EXPECT_NE(echo.find("method=POST\n"), std::string::npos) << echo;
  EXPECT_NE(echo.find("auth=Basic dTpw\n"), std::string::npos) << echo;
  EXPECT_NE(echo.find("type=application/x-www-form-urlencoded\n"), std::string::npos) << echo;
  EXPECT_NE(echo.find("length=3\n"), std::string::npos) << echo;

  peers::TempDir dir("tavlin-http");
  const std::string pattern = Nginx::Pattern(70000);
  const std::string file = dir.Write("up.bin", pattern);
  Engine put;
  put.http.SetURL(Url("/upload/up.bin").c_str(), false);
  put.http.AttachedFile.SetText(file.c_str());
  ASSERT_EQ(put.http.DoAction(5), 0) << put.Error();
  EXPECT_EQ(std::string(put.http.StatusLine.Text()), "HTTP/1.1 201 Created");
  EXPECT_EQ(ReadFile(server->root() + "/upload/up.bin"), pattern);
}

TEST_F(HTTPNginx, LongHeaderLineStaysOneHeader) {
  Engine e;
  ASSERT_EQ(e.Get(Url("/longheader")), 0) << e.Error();
  EXPECT_EQ(e.sink.Count("Header X-Long: " + Nginx::LongValue()), 1);
  EXPECT_EQ(e.sink.Count("Header X-After: after-long"), 1);
  EXPECT_EQ(e.Data(), "long\n");
}

TEST_F(HTTPNginx, HeadHasNoBody) {
  Engine e;
  e.http.SetURL(Url("/pattern5000.bin").c_str(), false);
  ASSERT_EQ(e.http.DoAction(3), 0) << e.Error();
  EXPECT_EQ(e.sink.Count("Header Content-Length: 5000"), 1);
  EXPECT_EQ(e.Data(), "");
  EXPECT_EQ(e.sink.Count("Transfer 1"), 0);
}

TEST_F(HTTPNginx, ThroughTinyproxy) {
  peers::Tinyproxy proxy;
  Engine e;
  e.http.ProxyServer.SetText("127.0.0.1");
  e.http.ProxyPort = static_cast<std::uint16_t>(proxy.port());
  ASSERT_EQ(e.Get(Url("/small.txt")), 0) << e.Error() << proxy.log();
  EXPECT_EQ(e.Data(), "hello tavlin\n");
  ASSERT_EQ(e.Get(Url("/echo")), 0) << e.Error();
  EXPECT_NE(e.Data().find("uri=/echo\n"), std::string::npos) << e.Data();
}

TEST_F(HTTPNginx, ThroughTinyproxyWithCredentials) {
  peers::Tinyproxy proxy({"puser", "ppass"});
  Engine e;
  e.http.ProxyServer.SetText("127.0.0.1");
  e.http.ProxyPort = static_cast<std::uint16_t>(proxy.port());
  EXPECT_EQ(e.Get(Url("/small.txt")), HTTP_STATUS_FAILED);
  EXPECT_EQ(e.Error().substr(0, 3), "407");
  e.http.SetProxyUser("puser");
  e.http.SetProxyPassword("ppass");
  ASSERT_EQ(e.Get(Url("/small.txt")), 0) << e.Error() << proxy.log();
  EXPECT_EQ(e.Data(), "hello tavlin\n");
}

TEST_F(HTTPNginx, NestedActionFromAHandlerIsRefused) {
  Engine e;
  int nested = -1;
  e.sink.then = [&](const std::string& ev) {
    if (ev.rfind("Header Content-Length", 0) == 0) nested = e.http.DoAction(1);
  };
  ASSERT_EQ(e.Get(Url("/small.txt")), 0) << e.Error();
  EXPECT_EQ(nested, HTTP_BUSY);
  EXPECT_EQ(e.Data(), "hello tavlin\n");
}

}  // namespace
