// The web form component against a capture server and nginx: the quote request as the
// program makes it, the body through OnTransfer, nested calls from handlers, and failures
// raised as exceptions.
#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

#include "corv/http/Corvwebform.h"
#include "tests/corv/component_checks.h"
#include "tests/peers/http_capture.h"
#include "tests/peers/nginx.h"
#include "tests/peers/process.h"

namespace {

using peers::HttpCapture;

const std::string kCsv = "\"MSFT\",27.50,\"1/2/2004\",\"4:00pm\",+0.10,27.40,27.77,27.33,44487700\r\n";

using componenttest::Raised;

void QuoteRequest(TcorvWebForm& w, const std::string& symbols) {
  w.Reset();
  w.AddFormVar("f", "sl1d1t1c1ohgv");
  w.AddFormVar("e", ".csv");
  w.AddFormVar("s", symbols.c_str());
  w.Encoding = encURLEncoding;
}

TEST(CorvWebFormPeers, QuoteRequestAndTransferredBody) {
  HttpCapture cap(HttpCapture::Mode::Reply, "HTTP/1.0 200 OK\r\nContent-Type: text/csv\r\n\r\n" + kCsv);
  TcorvWebForm w(nullptr);
  std::string body;
  long lastBytes = 0;
  bool terminated = true;
  TcorvWebFormActions during = webformIdle;
  bool connectedDuring = false;
  int socketDuring = -1;
  w.OnTransfer = [&](TObject* sender, long bytes, char* text, unsigned short len) {
    EXPECT_EQ(sender, &w);
    terminated = terminated && text[len] == 0;
    body.append(text, len);
    lastBytes = bytes;
    during = w.Action();
    connectedDuring = w.Connected();
    socketDuring = w.SocketHandle();
  };
  std::string headers;
  w.OnHeader = [&](TObject*, AnsiString& f, AnsiString& v) { headers += f.str() + "=" + v.str() + ";"; };
  int starts = 0, ends = 0;
  w.OnStartTransfer = [&](TObject*) { ++starts; };
  w.OnEndTransfer = [&](TObject*) { ++ends; };

  QuoteRequest(w, "MSFT IBM");
  w.SubmitTo(cap.Url("/d/quotes.csv").c_str());
  const std::string request = cap.NextRequest();
  EXPECT_EQ(request.substr(0, 31), "POST /d/quotes.csv HTTP/1.0\r\nHo");
  EXPECT_NE(request.find("\r\nContent-Type: application/x-www-form-urlencoded\r\n"), std::string::npos) << request;
  EXPECT_NE(request.find("User-Agent: Corvane V5 HTTP/S Component"), std::string::npos) << request;
  EXPECT_EQ(request.substr(request.size() - 39), "\r\n\r\nf=sl1d1t1c1ohgv&e=.csv&s=MSFT%20IBM");

  EXPECT_EQ(body, kCsv);
  EXPECT_EQ(lastBytes, static_cast<long>(kCsv.size()));
  EXPECT_TRUE(terminated);
  EXPECT_EQ(during, webformSubmit);
  EXPECT_TRUE(connectedDuring);
  EXPECT_NE(socketDuring, -1);
  EXPECT_EQ(w.Action(), webformIdle);
  EXPECT_EQ(starts, 1);
  EXPECT_EQ(ends, 1);
  EXPECT_NE(headers.find("Content-Type=text/csv;"), std::string::npos) << headers;
  EXPECT_EQ(w.StatusLine(), "HTTP/1.0 200 OK");
  EXPECT_EQ(w.TransferredData(), AnsiString(kCsv));
  EXPECT_NE(w.TransferredHeaders().Pos("Content-Type: text/csv\r\n"), 0);
  EXPECT_FALSE(w.Connected());
  EXPECT_EQ(w.SocketHandle(), -1);
}

TEST(CorvWebFormPeers, ProxyAndQueryString) {
  HttpCapture cap;
  TcorvWebForm w(nullptr);
  // Through a proxy: the absolute URL goes in the request line.
  w.ProxyServer = "127.0.0.1";
  w.ProxyPort = static_cast<unsigned short>(cap.port());
  QuoteRequest(w, "A B");
  w.SubmitTo("http://quotes.example/d/quotes.csv");
  EXPECT_EQ(cap.NextRequest().substr(0, 50), "POST http://quotes.example/d/quotes.csv HTTP/1.0\r\n");

  w.ProxyServer = "";
  w.Reset();
  w.AddFormVar("q", "x y");
  w.Encoding = encQueryString;
  w.SubmitTo(cap.Url("/find").c_str());
  EXPECT_EQ(cap.NextRequest().substr(0, 30), "GET /find?q=x%20y HTTP/1.0\r\nHo");
  EXPECT_EQ(w.URL(), AnsiString(cap.Url("/find?q=x%20y")));
}

TEST(CorvWebFormPeers, RefusedConnection) {
  TcorvWebForm w(nullptr);
  const int port = peers::FreePort();
  QuoteRequest(w, "MSFT");
  int connectedCode = 0;
  w.OnConnected = [&](TObject*, int code, AnsiString& d) {
    connectedCode = code;
    d = "changed by the handler";
  };
  const ECORVCore e = Raised([&] { w.SubmitTo(("http://127.0.0.1:" + std::to_string(port) + "/d/quotes.csv").c_str()); });
  EXPECT_EQ(e.Code, 10061);
  EXPECT_EQ(e.Message, "10061: [10061] Connection refused");
  EXPECT_EQ(connectedCode, 10061);
  EXPECT_EQ(w.Action(), webformIdle);
}

TEST(CorvWebFormPeers, NestedCallsFromHandlers) {
  HttpCapture cap(HttpCapture::Mode::Reply, "HTTP/1.0 200 OK\r\n\r\n" + kCsv);
  TcorvWebForm w(nullptr);
  QuoteRequest(w, "MSFT");
  // Reset from a handler is refused; the running submit goes on.
  int nestedCode = 0;
  std::string nestedText;
  std::string body;
  w.OnTransfer = [&](TObject*, long, char* text, unsigned short len) {
    body.append(text, len);
    const ECORVCore e = Raised([&] { w.Reset(); });
    nestedCode = e.Code;
    nestedText = e.Message.str();
  };
  w.SubmitTo(cap.Url("/q").c_str());
  EXPECT_EQ(nestedCode, 143);
  EXPECT_EQ(nestedText, "143: Busy performing current action.");
  EXPECT_EQ(body, kCsv);
  EXPECT_EQ(w.FormVarCount(), 3);

  // SubmitTo from a handler: its URL is taken at once, its submit refused, and the running
  // request goes on from what it had already read.
  body.clear();
  nestedCode = 0;
  const std::string other = cap.Url("/other");
  w.OnTransfer = [&](TObject*, long, char* text, unsigned short len) {
    body.append(text, len);
    nestedCode = Raised([&] { w.SubmitTo(other.c_str()); }).Code;
  };
  w.SubmitTo(cap.Url("/q").c_str());
  EXPECT_EQ(nestedCode, 143);
  EXPECT_EQ(body, kCsv);
  EXPECT_EQ(w.URL(), other.c_str());
  EXPECT_EQ(w.Action(), webformIdle);

  // Interrupt from a handler stops it: the outer call fails with 301.
  cap.SetReply(HttpCapture::Mode::NeverAnswer, "");
  w.OnTransfer = nullptr;
  w.OnConnected = [&](TObject*, int, AnsiString&) { w.Interrupt(); };
  const ECORVCore e = Raised([&] { w.SubmitTo(cap.Url("/q").c_str()); });
  EXPECT_EQ(e.Code, 301);
  EXPECT_EQ(w.Action(), webformIdle);
}

// A handler that frees its own component: the submit stops and reports without touching it.
TEST(CorvWebFormPeers, DestroyedByItsOwnHandler) {
  HttpCapture cap(HttpCapture::Mode::NeverAnswer, "");
  TComponent owner(nullptr);
  componenttest::ExpectFreedByOwnHandler<TcorvWebForm>(owner, [&](TcorvWebForm& w) {
    QuoteRequest(w, "MSFT");
    w.SubmitTo(cap.Url("/slow").c_str());
  });

  // Freed while the body arrives.
  HttpCapture reply(HttpCapture::Mode::Reply, "HTTP/1.0 200 OK\r\n\r\n" + kCsv);
  auto* w = new TcorvWebForm(&owner);
  QuoteRequest(*w, "MSFT");
  std::string body;
  w->OnTransfer = [&](TObject* sender, long, char* text, unsigned short len) {
    body.append(text, len);
    delete static_cast<TcorvWebForm*>(sender);
  };
  const ECORVCore late = Raised([&] { w->SubmitTo(reply.Url("/q").c_str()); });
  EXPECT_EQ(late.Code, 301);
  EXPECT_EQ(body, kCsv);
  EXPECT_EQ(owner.ComponentCount(), 0);
}

TEST(CorvWebFormPeers, HandlerExceptionLeavesTheComponentUsable) {
  HttpCapture cap(HttpCapture::Mode::Reply, "HTTP/1.0 200 OK\r\n\r\n" + kCsv);
  TcorvWebForm w(nullptr);
  QuoteRequest(w, "MSFT");
  w.OnTransfer = [&](TObject*, long, char*, unsigned short) { throw std::runtime_error("handler failed"); };
  EXPECT_THROW(w.SubmitTo(cap.Url("/q").c_str()), std::runtime_error);
  EXPECT_EQ(w.Action(), webformIdle);
  std::string body;
  w.OnTransfer = [&](TObject*, long, char* text, unsigned short len) { body.append(text, len); };
  w.Submit();
  EXPECT_EQ(body, kCsv);
}

TEST(CorvWebFormPeers, TimeoutAndBadURL) {
  HttpCapture cap(HttpCapture::Mode::NeverAnswer, "");
  TcorvWebForm w(nullptr);
  w.Timeout = 1;
  const ECORVCore e = Raised([&] { w.SubmitTo(cap.Url("/slow").c_str()); });
  EXPECT_EQ(e.Code, 301);
  EXPECT_EQ(e.Message, "301: Timeout.");

  w.Timeout = 0;
  const ECORVCore bad = Raised([&] { w.SubmitTo("http:///nothing"); });
  EXPECT_EQ(bad.Code, 152);
  EXPECT_EQ(bad.Message, "152: No server specified in URL");
}

TEST(CorvWebFormPeers, Nginx) {
  peers::Nginx nginx;
  TcorvWebForm w(nullptr);
  // A body with NUL bytes comes back whole, within MaxTransferredData.
  w.Encoding = encQueryString;
  std::string body;
  w.OnTransfer = [&](TObject*, long, char* text, unsigned short len) { body.append(text, len); };
  w.SubmitTo(nginx.Url("/nul.bin").c_str());
  EXPECT_EQ(body, peers::Nginx::NulBody());
  EXPECT_EQ(w.TransferredData().str(), peers::Nginx::NulBody());

  w.Reset();
  w.MaxTransferredData = 100;
  w.Encoding = encQueryString;
  body.clear();
  w.SubmitTo(nginx.Url("/pattern5000.bin").c_str());
  EXPECT_EQ(body, peers::Nginx::Pattern(5000));
  EXPECT_EQ(w.TransferredData().str(), peers::Nginx::Pattern(100));

  // A status other than 2xx fails with 151 and the status text.
  w.Reset();
  w.Encoding = encQueryString;
  const ECORVCore e = Raised([&] { w.SubmitTo(nginx.Url("/missing").c_str()); });
  EXPECT_EQ(e.Code, 151);
  EXPECT_NE(e.Message.Pos("404"), 0) << e.Message;

  // Cookies the caller adds are sent; the echo shows them.
  w.Reset();
  w.Encoding = encQueryString;
  w.AddCookie("session", "abc");
  body.clear();
  w.SubmitTo(nginx.Url("/echo").c_str());
  EXPECT_NE(body.find("session=abc"), std::string::npos) << body;
}

}  // namespace
