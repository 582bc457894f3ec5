// The HTTP component against nginx and the capture server: the four request methods with
// their events in both directions, downloads to a local file, uploads of post data and an
// attached file, request fields as sent, failures raised as exceptions, and nested calls
// (busy, interrupt, destruction) from handlers.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <thread>

#include <poll.h>
#include <sys/socket.h>

#include "corv/http/Corvhttp.h"
#include "tests/corv/component_checks.h"
#include "tests/peers/http_capture.h"
#include "tests/peers/nginx.h"
#include "tests/peers/process.h"
#include "tests/peers/scripted.h"

namespace {

using peers::HttpCapture;
using peers::Nginx;

using componenttest::Raised;

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// Records every event of a component as a short line.
struct EventLog {
  explicit EventLog(TcorvHTTP& h) {
    h.OnConnected = [this](TObject*, int code, AnsiString&) { log += "C" + std::to_string(code) + ";"; };
    h.OnDisconnected = [this](TObject*, int, AnsiString&) { log += "D;"; };
    h.OnStartTransfer = [this](TObject*, int d) { log += "S" + std::to_string(d) + ";"; };
    h.OnEndTransfer = [this](TObject*, int d) { log += "E" + std::to_string(d) + ";"; };
    h.OnTransfer = [this, &h](TObject* sender, int d, long bytes, char* text, unsigned short n) {
      EXPECT_EQ(sender, &h);
      terminated = terminated && text[n] == 0;
      if (d == 1) {
        body.append(text, n);
      } else {
        sent += std::to_string(bytes) + ",";
        EXPECT_EQ(n, 0);
      }
      lastBytes[d] = bytes;
      actionDuring = h.Action();
      if (log.empty() || log.back() != '~') log += "T" + std::to_string(d) + "~";
    };
    h.OnHeader = [this](TObject*, AnsiString& f, AnsiString& v) { headers += f.str() + "=" + v.str() + ";"; };
    h.OnSetCookie = [this](TObject*, AnsiString& n, AnsiString& v, AnsiString&, AnsiString&, AnsiString& p,
                           bool secure) { cookies += n.str() + "=" + v.str() + "," + p.str() + (secure ? ",s" : "") + ";"; };
  }
  std::string log, body, sent, headers, cookies;
  long lastBytes[2] = {0, 0};
  bool terminated = true;
  TcorvHTTPActions actionDuring = httpIdle;
};

TEST(CorvHTTPPeers, GetAndHeadAgainstNginx) {
  Nginx nginx;
  TcorvHTTP h(nullptr);
  EventLog ev(h);
  h.Get(nginx.Url("/small.txt").c_str());
  EXPECT_EQ(ev.body, "hello tavlin\n");
  EXPECT_EQ(ev.log, "C0;S1;T1~E1;D;") << ev.log;
  EXPECT_EQ(ev.lastBytes[1], 13);
  EXPECT_TRUE(ev.terminated);
  EXPECT_EQ(ev.actionDuring, httpGet);
  EXPECT_EQ(h.Action(), httpIdle);
  EXPECT_EQ(h.StatusLine(), "HTTP/1.1 200 OK");
  EXPECT_EQ(h.TransferredData(), "hello tavlin\n");
  EXPECT_NE(h.TransferredHeaders().Pos("Content-Length: 13\r\n"), 0);
  EXPECT_NE(ev.headers.find("Content-Length=13;"), std::string::npos) << ev.headers;
  EXPECT_FALSE(h.Connected());

  ev.log.clear();
  ev.body.clear();
  h.Head(nginx.Url("/small.txt").c_str());
  EXPECT_EQ(ev.log, "C0;S1;E1;D;") << ev.log;
  EXPECT_EQ(ev.body, "");
  EXPECT_EQ(h.TransferredData(), "");
  EXPECT_EQ(h.StatusLine(), "HTTP/1.1 200 OK");

  // A body with NUL bytes, read back whole.
  h.Get(nginx.Url("/nul.bin").c_str());
  EXPECT_EQ(h.TransferredData().str(), Nginx::NulBody());
  // An idle interrupt empties the status line; a reset empties the kept body.
  h.Interrupt();
  EXPECT_EQ(h.StatusLine(), "");
  h.ResetHeaders();
  EXPECT_EQ(h.TransferredData(), "");
}

TEST(CorvHTTPPeers, LocalFileAndKeptData) {
  Nginx nginx;
  peers::TempDir dir("corvhttp");
  TcorvHTTP h(nullptr);
  EventLog ev(h);
  const std::string file = dir.File("pattern.bin");
  h.LocalFile = file.c_str();
  h.MaxTransferredData = 100;
  h.Get(nginx.Url("/pattern5000.bin").c_str());
  EXPECT_EQ(ReadFile(file), Nginx::Pattern(5000));
  EXPECT_EQ(ev.body, Nginx::Pattern(5000));
  EXPECT_EQ(ev.lastBytes[1], 5000);
  EXPECT_EQ(h.TransferredData().str(), Nginx::Pattern(100));

  // A file that cannot be created fails the request rather than dropping the body.
  h.LocalFile = dir.File("no/such/folder/x.bin").c_str();
  const ECORVCore e = Raised([&] { h.Get(nginx.Url("/small.txt").c_str()); });
  EXPECT_EQ(e.Code, 302);
  EXPECT_EQ(e.Message, "302: Can't open local file for writing.");
}

TEST(CorvHTTPPeers, PostAndPutBodies) {
  Nginx nginx;
  peers::TempDir dir("corvhttp");
  TcorvHTTP h(nullptr);
  EventLog ev(h);
  h.SetPostData(const_cast<char*>("abc"), 3);
  h.ContentType = "text/plain";
  h.Post(nginx.Url("/echo").c_str());
  // The request body raises start and end only; the reply's events follow.
  EXPECT_EQ(ev.log, "C0;S0;E0;S1;T1~E1;D;") << ev.log;
  EXPECT_EQ(ev.sent, "");
  EXPECT_NE(ev.body.find("method=POST\n"), std::string::npos) << ev.body;
  EXPECT_NE(ev.body.find("type=text/plain\nlength=3\n"), std::string::npos) << ev.body;

  // Post data with a NUL, then a 40000-byte attached file, stored by PUT.
  const std::string attached = Nginx::Pattern(40000);
  const std::string path = dir.File("attached.bin");
  std::ofstream(path, std::ios::binary) << attached;
  h.PostData = AnsiString("he\0ad", 5);
  h.AttachedFile = path.c_str();
  ev.log.clear();
  h.Put(nginx.Url("/upload/put.bin").c_str());
  EXPECT_EQ(ev.sent, "16384,32768,40000,");
  EXPECT_EQ(ev.log.substr(0, 9), "C0;S0;T0~") << ev.log;
  EXPECT_NE(ev.log.find("E0;S1;"), std::string::npos) << ev.log;
  EXPECT_EQ(h.StatusLine().SubString(1, 12), "HTTP/1.1 201");
  EXPECT_EQ(ReadFile(nginx.root() + "/upload/put.bin"), std::string("he\0ad", 5) + attached);
  EXPECT_TRUE(ev.terminated);

  // A Get sends no body even with post data set: only direction 1.
  ev.log.clear();
  h.Get(nginx.Url("/small.txt").c_str());
  EXPECT_EQ(ev.log, "C0;S1;T1~E1;D;") << ev.log;
}

TEST(CorvHTTPPeers, RequestFieldsAsSent) {
  HttpCapture cap;
  TcorvHTTP h(nullptr);
  h.Accept = "text/csv";
  h.From = "desk@tavlin.example";
  h.Pragma = "no-cache";
  h.Referer = "http://tavlin.example/";
  h.IfModifiedSince = "Sat, 29 Oct 1994 19:43:31 GMT";
  h.UserAgent = "tavlin";
  h.HTTPVersion = "HTTP/1.1";
  h.HTTPMethod = "OPTIONS";
  h.OtherHeaders = "X-One: 1";
  h.AddCookie("a", "1");
  h.AddCookie("b", "2");
  h.Get(cap.Url("/q?x=1").c_str());
  const std::string req = cap.NextRequest();
  EXPECT_EQ(req.substr(0, 24), "OPTIONS /q?x=1 HTTP/1.1\r") << req;
  for (const char* line : {"\r\nAccept: text/csv\r\n", "\r\nFrom: desk@tavlin.example\r\n", "\r\nPragma: no-cache\r\n",
                           "\r\nReferer: http://tavlin.example/\r\n", "\r\nUser-Agent: tavlin\r\n",
                           "\r\nIfModifiedSince: Sat, 29 Oct 1994 19:43:31 GMT\r\n", "\r\nCookie: a=1; b=2\r\n",
                           "\r\nX-One: 1\r\n\r\n"})
    EXPECT_NE(req.find(line), std::string::npos) << line << "\n" << req;

  // The URL parts written on their own: the request goes to them, URL keeps its text.
  h.HTTPMethod = "";
  h.HTTPVersion = "HTTP/1.0";
  h.URL = "http://nowhere.invalid/old";
  h.URLServer = "127.0.0.1";
  h.URLPort = static_cast<unsigned short>(cap.port());
  h.URLPath = "/new";
  h.Action = httpGet;
  EXPECT_EQ(cap.NextRequest().substr(0, 20), "GET /new HTTP/1.0\r\nH");
  EXPECT_EQ(h.URL(), "http://nowhere.invalid/old");
}

TEST(CorvHTTPPeers, RedirectsAndCookies) {
  Nginx nginx;
  TcorvHTTP h(nullptr);
  EventLog ev(h);
  EXPECT_EQ(Raised([&] { h.Get(nginx.Url("/redirect302").c_str()); }).Code, 151);
  h.FollowRedirects = frAlways;
  ev.body.clear();
  h.Get(nginx.Url("/redirect302").c_str());
  EXPECT_EQ(ev.body, "hello tavlin\n");
  EXPECT_EQ(h.URL(), AnsiString(nginx.Url("/small.txt")));

  // Cookies a reply sets are reported, not added to the list that is sent.
  h.Get(nginx.Url("/cookie").c_str());
  EXPECT_NE(ev.cookies.find("session=abc123,/,s;"), std::string::npos) << ev.cookies;
  EXPECT_NE(ev.cookies.find("theme=dark,"), std::string::npos) << ev.cookies;
  EXPECT_EQ(h.CookieCount(), 0);
}

TEST(CorvHTTPPeers, Failures) {
  Nginx nginx;
  TcorvHTTP h(nullptr);
  const ECORVCore missing = Raised([&] { h.Get(nginx.Url("/missing").c_str()); });
  EXPECT_EQ(missing.Code, 151);
  EXPECT_EQ(missing.Message, "151: 404 Not Found");
  EXPECT_EQ(h.Action(), httpIdle);

  const std::string refused = "http://127.0.0.1:" + std::to_string(peers::FreePort()) + "/";
  int connectedCode = 0;
  h.OnConnected = [&](TObject*, int code, AnsiString& d) {
    connectedCode = code;
    d = "changed by the handler";
  };
  const ECORVCore e = Raised([&] { h.Get(refused.c_str()); });
  EXPECT_EQ(e.Code, 10061);
  EXPECT_EQ(e.Message, "10061: [10061] Connection refused");
  EXPECT_EQ(connectedCode, 10061);

  // An attached file that is not there sends nothing.
  h.AttachedFile = "/nonexistent/attached.bin";
  const ECORVCore file = Raised([&] { h.Post(nginx.Url("/echo").c_str()); });
  EXPECT_EQ(file.Code, 302);
}

TEST(CorvHTTPPeers, NestedCallsFromHandlers) {
  Nginx nginx;
  TcorvHTTP h(nullptr);
  std::string body, nested, urlAfter;
  TcorvHTTPActions during = httpIdle;
  h.OnTransfer = [&](TObject*, int, long, char* text, unsigned short n) {
    body.append(text, n);
    during = h.Action();
    nested = Raised([&] { h.Get(nginx.Url("/pattern5000.bin").c_str()); }).Message.str();
    urlAfter = h.URL().str();
  };
  h.Get(nginx.Url("/small.txt").c_str());
  EXPECT_EQ(nested, "143: Busy performing current action.");
  EXPECT_EQ(body, "hello tavlin\n");
  EXPECT_EQ(during, httpGet);
  // The nested call stored its URL before it was refused.
  EXPECT_EQ(urlAfter, nginx.Url("/pattern5000.bin"));
  EXPECT_EQ(h.Action(), httpIdle);

  // Interrupt from a handler stops the running request: the outer call raises 301.
  HttpCapture cap(HttpCapture::Mode::NeverAnswer, "");
  h.OnTransfer = nullptr;
  h.OnConnected = [&](TObject*, int, AnsiString&) { h.Interrupt(); };
  const ECORVCore e = Raised([&] { h.Get(cap.Url("/slow").c_str()); });
  EXPECT_EQ(e.Code, 301);
  EXPECT_EQ(h.Action(), httpIdle);
  EXPECT_EQ(h.StatusLine(), "");
}

TEST(CorvHTTPPeers, DestroyedByItsOwnHandler) {
  HttpCapture cap(HttpCapture::Mode::NeverAnswer, "");
  TComponent owner(nullptr);
  componenttest::ExpectFreedByOwnHandler<TcorvHTTP>(owner, [&](TcorvHTTP& h) { h.Get(cap.Url("/slow").c_str()); });
}

TEST(CorvHTTPPeers, HandlerExceptionLeavesTheComponentUsable) {
  Nginx nginx;
  TComponent owner(nullptr);
  auto* h = new TcorvHTTP(&owner);
  h->OnTransfer = [](TObject*, int, long, char*, unsigned short) { throw std::runtime_error("handler failed"); };
  EXPECT_THROW(h->Get(nginx.Url("/small.txt").c_str()), std::runtime_error);
  EXPECT_EQ(h->Action(), httpIdle);
  EXPECT_FALSE(h->Connected());
  std::string body;
  h->OnTransfer = [&](TObject*, int, long, char* text, unsigned short n) { body.append(text, n); };
  h->Action = httpGet;
  EXPECT_EQ(body, "hello tavlin\n");
  // A throw while a file is sent closes the file.
  peers::TempDir dir("corvhttp");
  h->AttachedFile = dir.Write("up.bin", std::string(40000, 'u')).c_str();
  h->OnTransfer = [](TObject*, int d, long, char*, unsigned short) {
    if (d == 0) throw std::runtime_error("handler failed");
  };
  EXPECT_THROW(h->Put(nginx.Url("/upload/up.bin").c_str()), std::runtime_error);
  EXPECT_EQ(peers::OpenFilesUnder(dir.path()), "");
  // Freed at once, not left waiting for a call that already ended (a leak under the sanitizer).
  delete h;
  EXPECT_EQ(owner.ComponentCount(), 0);
}

TEST(CorvHTTPPeers, Timeout) {
  HttpCapture cap(HttpCapture::Mode::NeverAnswer, "");
  TcorvHTTP h(nullptr);
  h.Timeout = 1;
  const ECORVCore e = Raised([&] { h.Get(cap.Url("/slow").c_str()); });
  EXPECT_EQ(e.Code, 301);
  EXPECT_EQ(e.Message, "301: Timeout.");

  // A body that comes faster than the handler takes it: the read went on as long as bytes
  // were there, and the wait below it never saw its time-out (nor timers, nor the GUI).
  constexpr long long kFlood = 16ll << 30;
  std::atomic<long long> sent{0};
  peers::ScriptedServer flood;
  flood.Accept().Run([&](int fd) {
    std::string head;
    for (char c; head.size() < 4 || head.compare(head.size() - 4, 4, "\r\n\r\n") != 0;) {
      if (recv(fd, &c, 1, 0) != 1) return;
      head += c;
    }
    const std::string ok = "HTTP/1.0 200 OK\r\n\r\n", block(65536, 'x');
    if (send(fd, ok.data(), ok.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(ok.size())) return;
    for (std::size_t n = 0; sent < kFlood; sent += static_cast<long long>(n)) {
      pollfd p{fd, POLLOUT, 0};
      if (poll(&p, 1, 10000) != 1) return;
      const ssize_t r = send(fd, block.data(), block.size(), MSG_NOSIGNAL);
      if (r <= 0) return;
      n = static_cast<std::size_t>(r);
    }
  });
  flood.Start();
  long long received = 0;
  h.OnTransfer = [&](TObject*, int, long, char*, unsigned short n) {
    received += n;
    // Keeps the socket from ever running dry, whatever the speeds.
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    while (sent < std::min(kFlood, received + (256 << 10)) && std::chrono::steady_clock::now() < until)
      std::this_thread::yield();
  };
  const ECORVCore f = Raised([&] { h.Get(("http://127.0.0.1:" + std::to_string(flood.port()) + "/flood").c_str()); });
  EXPECT_EQ(f.Code, 301);
  EXPECT_LT(received, kFlood);
  // Left open, the flood was read on between actions and kept the queue from ever running dry:
  // no timer tick came, so the program never fetched again.
  EXPECT_FALSE(h.Connected());
  h.Interrupt();
}

}  // namespace
