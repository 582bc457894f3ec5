// The HTTP component without a server: initial values, property rules (cookies by index,
// binary post data, URL parts, credentials), error translation, event copies with their
// direction, Windows Sockets use, and reading it from a form description.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "corv/core/Alloc.h"
#include "corv/core/Winsock.h"
#include "corv/http/Corvhttp.h"
#include "platform/vcl/core/formreader.h"
#include "tests/corv/component_checks.h"

namespace {

using componenttest::ExpectCorv;
using componenttest::ExpectOutOfMemory;

TEST(CorvHTTPUnit, InitialValues) {
  TcorvHTTP h(nullptr);
  EXPECT_EQ(h.Action(), httpIdle);
  EXPECT_EQ(h.URLScheme(), "http");
  EXPECT_EQ(h.URLPort(), 80);
  EXPECT_EQ(h.URLPath(), "/");
  EXPECT_EQ(h.URLServer(), "");
  EXPECT_EQ(h.HTTPVersion(), "HTTP/1.0");
  EXPECT_EQ(h.HTTPMethod(), "");
  EXPECT_EQ(h.MaxTransferredData(), 4096);
  EXPECT_EQ(h.FirewallPort(), 80);
  EXPECT_EQ(h.FirewallType(), fwNone);
  EXPECT_EQ(h.FollowRedirects(), frNever);
  EXPECT_EQ(h.ProxyPort(), 80);
  EXPECT_EQ(h.Timeout(), 0);
  EXPECT_EQ(h.SocketHandle(), -1);
  EXPECT_FALSE(h.Connected());
  EXPECT_EQ(h.CookieCount(), 0);
  EXPECT_EQ(h.ContentType(), "");
  EXPECT_EQ(h.PostData(), "");
  EXPECT_EQ(h.StatusLine(), "");
  EXPECT_EQ(h.UserAgent().SubString(1, 27), "Corvane V5 HTTP/S Component");
  EXPECT_TRUE(h.WinsockLoaded());
  EXPECT_NE(h.WinsockStatus(), "Down");
}

TEST(CorvHTTPUnit, CookieList) {
  TcorvHTTP h(nullptr);
  h.CookieCount = 2;
  EXPECT_EQ(h.CookieCount(), 2);
  EXPECT_EQ(h.CookieName[1](), "");
  EXPECT_EQ(h.CookieValue[2](), "");
  h.AddCookie("a", "b");
  EXPECT_EQ(h.CookieCount(), 3);
  EXPECT_EQ(h.CookieName[3](), "a");
  EXPECT_EQ(h.CookieValue[3](), "b");
  h.CookieName[1] = "first";
  h.CookieValue[1] = "1";
  EXPECT_EQ(h.CookieName[1](), "first");
  EXPECT_EQ(h.CookieValue[1](), "1");
  EXPECT_EQ(h.CookieName[3](), "a");
  // Cut keeps the first pairs whole.
  h.CookieCount = 1;
  EXPECT_EQ(h.CookieName[1](), "first");
  EXPECT_EQ(h.CookieValue[1](), "1");
  h.CookieCount = 0;
  EXPECT_EQ(h.CookieCount(), 0);
  // A negative count empties the list rather than growing it.
  h.AddCookie("c", "3");
  h.CookieCount = -1;
  EXPECT_EQ(h.CookieCount(), 0);
  // Texts are taken up to their first NUL.
  h.AddCookie(AnsiString("n\0x", 3), AnsiString("v\0y", 3));
  EXPECT_EQ(h.CookieName[1](), "n");
  EXPECT_EQ(h.CookieValue[1](), "v");
}

TEST(CorvHTTPUnit, CookieIndexOutOfRange) {
  TcorvHTTP h(nullptr);
  ExpectCorv([&] { (void)h.CookieName[1](); }, 156, "Invalid array index CookieIndex");
  ExpectCorv([&] { h.CookieValue[1] = "x"; }, 156, "Invalid cookie index (out of range).");
  h.AddCookie("a", "1");
  ExpectCorv([&] { (void)h.CookieValue[0](); }, 156, "Invalid array index CookieIndex");
  ExpectCorv([&] { (void)h.CookieName[2](); }, 156, "Invalid array index CookieIndex");
  ExpectCorv([&] { h.CookieName[0] = "x"; }, 156, "Invalid cookie index (out of range).");
  ExpectCorv([&] { h.CookieName[65535] = "x"; }, 156, "Invalid cookie index (out of range).");
  EXPECT_EQ(h.CookieCount(), 1);
  EXPECT_EQ(h.CookieName[1](), "a");
  EXPECT_EQ(h.CookieValue[1](), "1");
}

TEST(CorvHTTPUnit, BinaryPostData) {
  TcorvHTTP h(nullptr);
  char data[] = {'a', '\0', 'b', 'c', '\0', 'z'};
  h.SetPostData(data, 5);
  EXPECT_EQ(h.PostData().str(), std::string("a\0bc\0", 5));
  h.PostData = AnsiString("x\0\0y", 4);
  EXPECT_EQ(h.PostData().str(), std::string("x\0\0y", 4));
  // No buffer is no data, whatever length comes with it.
  h.SetPostData(nullptr, 100);
  EXPECT_EQ(h.PostData().Length(), 0);
  std::string big(65535, 'q');
  big[70] = '\0';
  h.SetPostData(big.data(), 65535);
  EXPECT_EQ(h.PostData().str(), big);
  // The firewall's binary data lives beside it, untouched.
  h.SetFirewallData(data, 2);
  EXPECT_EQ(h.FirewallData().str(), std::string("a\0", 2));
  EXPECT_EQ(h.PostData().Length(), 65535);
}

TEST(CorvHTTPUnit, URLAndItsParts) {
  TcorvHTTP h(nullptr);
  h.URL = "http://user:pw@example.org:8080/a/b?c=d";
  EXPECT_EQ(h.URLServer(), "example.org");
  EXPECT_EQ(h.URLPort(), 8080);
  EXPECT_EQ(h.URLPath(), "/a/b?c=d");
  EXPECT_EQ(h.User(), "user");
  EXPECT_EQ(h.Password(), "pw");
  EXPECT_EQ(h.Authorization(), "Basic dXNlcjpwdw==");
  // The parts are stored as given; URL keeps its text.
  h.URLServer = "other.example";
  h.URLPort = 9;
  h.URLPath = "";
  h.URLScheme = "ftp";
  EXPECT_EQ(h.URL(), "http://user:pw@example.org:8080/a/b?c=d");
  EXPECT_EQ(h.URLServer(), "other.example");
  EXPECT_EQ(h.URLPort(), 9);
  EXPECT_EQ(h.URLPath(), "");
  EXPECT_EQ(h.URLScheme(), "ftp");
}

TEST(CorvHTTPUnit, Credentials) {
  TcorvHTTP h(nullptr);
  h.User = "tavlin";
  h.Password = "pw";
  EXPECT_EQ(h.Authorization(), "Basic dGF2bGluOnB3");
  h.Authorization = "Bearer t";
  EXPECT_EQ(h.Authorization(), "Bearer t");
  h.User = "tavlin";
  EXPECT_EQ(h.Authorization(), "Basic dGF2bGluOnB3");

  h.ProxyUser = AnsiString(std::string(300, 'u'));
  h.ProxyPassword = "p";
  EXPECT_EQ(h.ProxyUser().Length(), 300);
  EXPECT_EQ(h.FirewallUser(), AnsiString(std::string(255, 'u')));
  EXPECT_EQ(h.FirewallPassword(), "p");
  EXPECT_EQ(h.ProxyAuthorization().SubString(1, 6), "Basic ");
  h.ProxyAuthorization = "x";
  EXPECT_EQ(h.ProxyAuthorization(), "x");
}

TEST(CorvHTTPUnit, StoreOnlyWriters) {
  TcorvHTTP h(nullptr);
  h.FollowRedirects = frSameScheme;
  EXPECT_EQ(h.FollowRedirects(), frSameScheme);
  h.FollowRedirects = static_cast<TcorvHTTPFollowRedirects>(200);
  EXPECT_EQ(static_cast<int>(h.FollowRedirects()), 200);
  h.MaxTransferredData = 0;
  EXPECT_EQ(h.MaxTransferredData(), 0);
  h.ProxyPort = 65535;
  EXPECT_EQ(h.ProxyPort(), 65535);
  using H = TcorvHTTP;
  const std::pair<AnsiString (H::*)(), void (H::*)(AnsiString)> texts[] = {
      {&H::FAccept, &H::FSetAccept},           {&H::FFrom, &H::FSetFrom},
      {&H::FPragma, &H::FSetPragma},           {&H::FReferer, &H::FSetReferer},
      {&H::FIfModifiedSince, &H::FSetIfModifiedSince}, {&H::FHTTPMethod, &H::FSetHTTPMethod},
      {&H::FHTTPVersion, &H::FSetHTTPVersion}, {&H::FContentType, &H::FSetContentType},
      {&H::FAttachedFile, &H::FSetAttachedFile}, {&H::FLocalFile, &H::FSetLocalFile},
      {&H::FOtherHeaders, &H::FSetOtherHeaders}, {&H::FProxyServer, &H::FSetProxyServer},
      {&H::FUserAgent, &H::FSetUserAgent}};
  for (const auto& [get, set] : texts) {
    (h.*set)(AnsiString("value\0tail", 10));
    EXPECT_EQ((h.*get)(), "value");
  }
  h.WinsockInfo = "x";
  EXPECT_NE(h.WinsockInfo(), "x");
  // Nothing runs: both only return, and an idle interrupt empties the status line.
  h.Interrupt();
  h.DoEvents();
  EXPECT_EQ(h.Action(), httpIdle);
}

TEST(CorvHTTPUnit, ResetHeadersKeepsAgentVersionMethodAndProxy) {
  TcorvHTTP h(nullptr);
  h.URL = "http://example.org:81/x";
  h.AddCookie("a", "1");
  h.PostData = "body";
  h.AttachedFile = "/tmp/f";
  h.LocalFile = "/tmp/l";
  h.ContentType = "text/plain";
  h.Accept = "*/*";
  h.Referer = "r";
  h.User = "u";
  h.UserAgent = "agent";
  h.HTTPVersion = "HTTP/1.1";
  h.HTTPMethod = "OPTIONS";
  h.ProxyServer = "proxy.example";
  h.ProxyPort = 3128;
  h.FirewallType = fwSOCKS4;
  h.Action = httpResetHeaders;
  EXPECT_EQ(h.Action(), httpIdle);
  for (const AnsiString& s : {h.URL(), h.URLServer(), h.PostData(), h.AttachedFile(), h.LocalFile(),
                              h.ContentType(), h.Accept(), h.Referer(), h.User(), h.Authorization()})
    EXPECT_EQ(s, "");
  EXPECT_EQ(h.CookieCount(), 0);
  EXPECT_EQ(h.URLScheme(), "http");
  EXPECT_EQ(h.URLPort(), 80);
  EXPECT_EQ(h.UserAgent(), "agent");
  EXPECT_EQ(h.HTTPVersion(), "HTTP/1.1");
  EXPECT_EQ(h.HTTPMethod(), "OPTIONS");
  EXPECT_EQ(h.ProxyServer(), "proxy.example");
  EXPECT_EQ(h.ProxyPort(), 3128);
  EXPECT_EQ(h.FirewallType(), fwSOCKS4);
}

TEST(CorvHTTPUnit, TreatErrTexts) {
  TcorvHTTP h(nullptr);
  ExpectOutOfMemory([&] { h.TreatErr(200); }, "HTTP. Out of memory.");
  h.TreatErr(0);
  ExpectCorv([&] { h.TreatErr(10061); }, 10061, "[10061] Connection refused");
  h.Interrupt();
  ExpectCorv([&] { h.TreatErr(301); }, 301, "Interrupted.");
  // Request failures that need no connection.
  ExpectCorv([&] { h.Get(""); }, 152, "No server specified in URL");
  h.URL = "gopher://example.org/";
  ExpectCorv([&] { h.Action = httpGet; }, 153, "Specified URLScheme is invalid.");
  EXPECT_EQ(h.Action(), httpIdle);
}

TEST(CorvHTTPUnit, AllocationFailures) {
  // Each allocation of a construction failing in turn: a whole component or EOutOfMemory.
  for (unsigned skip = 0;; ++skip) {
    bool built = false;
    {
      corv::test::AllocFailureScope fail(skip, 1);
      try {
        TcorvHTTP h(nullptr);
        built = true;
      } catch (const EOutOfMemory& e) {
        // The engine's own set-up, or an initial value as its writer reports it.
        EXPECT_TRUE(e.Message == "could not initialize HTTP (out of memory)" || e.Message == "HTTP. Out of memory.")
            << skip << ": " << e.Message;
      }
    }
    if (built) {
      EXPECT_GT(skip, 0u);  // the engine does allocate while it is built
      break;
    }
    ASSERT_LT(skip, 200u);
  }

  TcorvHTTP h(nullptr);
  h.AddCookie("kept", "1");
  const std::string longName(500, 'n');
  const std::string longValue(500, 'v');
  // A cookie that cannot be added whole is not added at all: names and values stay paired.
  for (unsigned skip = 0; skip < 3; ++skip) {
    corv::test::AllocFailureScope fail(skip, 1);
    try {
      h.AddCookie(longName.c_str(), longValue.c_str());
      break;
    } catch (const EOutOfMemory& e) {
      EXPECT_EQ(e.Message, "HTTP. Out of memory.");
      EXPECT_EQ(h.CookieCount(), 1);
    }
  }
  EXPECT_EQ(h.CookieName[1](), "kept");
  EXPECT_EQ(h.CookieValue[1](), "1");

  // A writer that cannot store raises out of memory, never ECORVCore.
  {
    corv::test::AllocFailureScope fail(0, 2);
    EXPECT_THROW(h.UserAgent = AnsiString(std::string(300, 'a')), EOutOfMemory);
    EXPECT_THROW(h.SetPostData(const_cast<char*>(longValue.data()), 500), EOutOfMemory);
  }
  h.SetPostData(const_cast<char*>(longValue.data()), 500);
  EXPECT_EQ(h.PostData().Length(), 500);
}

TEST(CorvHTTPUnit, LineBreaksInFieldsSendNothing) {
  TcorvHTTP h(nullptr);
  // Nothing may reach a socket: the port is that of no server.
  h.Accept = "text/html\r\nX-Injected: 1";
  ExpectCorv([&] { h.Get("http://127.0.0.1:1/"); }, 154, "A request field contains CR or LF.");
  h.Accept = "";
  h.HTTPMethod = "GET / HTTP/1.0\r\n\r\nGET";
  ExpectCorv([&] { h.Get("http://127.0.0.1:1/"); }, 154, "A request field contains CR or LF.");
  h.HTTPMethod = "";
  h.AddCookie("a", "b\nc");
  ExpectCorv([&] { h.Post("http://127.0.0.1:1/"); }, 154, "A request field contains CR or LF.");
  EXPECT_EQ(h.SocketHandle(), -1);
}

TEST(CorvHTTPUnit, WinsockUse) {
  CWinsock& record = CorvhttpWinsock();
  const unsigned before = record.UseCount;
  {
    TComponent owner(nullptr);
    auto* a = new TcorvHTTP(&owner);
    new TcorvHTTP(&owner);
    // One start per component: the HTTP engine has no second socket engine.
    EXPECT_EQ(record.UseCount, before + 2);
    a->WinsockLoaded = false;
    EXPECT_FALSE(a->WinsockLoaded());
    EXPECT_EQ(record.UseCount, before + 1);
    a->WinsockLoaded = true;
    EXPECT_EQ(record.UseCount, before + 2);
  }
  EXPECT_EQ(record.UseCount, before);
}

TEST(CorvHTTPUnit, FailedLoadThroughTheUnitsOwnRecord) {
  CWinsock& record = CorvhttpWinsock();
  ASSERT_EQ(record.UseCount, 0u);
  record.SetPath("/nonexistent/missing-wsock.dll");
  {
    TcorvHTTP h(nullptr);
    // No exception: the failure shows only in the Windows Sockets properties.
    EXPECT_FALSE(h.WinsockLoaded());
    EXPECT_EQ(h.WinsockStatus(), "Down");
    EXPECT_EQ(h.WinsockMaxSockets(), 0);
    // Started nowhere, a request names the module that cannot be loaded.
    h.WinsockPath = "/nonexistent/missing-wsock.dll";
    h.WinsockLoaded = true;
    ExpectCorv([&] { h.Get("http://127.0.0.1:1/"); }, 10093,
               "The \"/nonexistent/missing-wsock.dll\" module could not be loaded.");
    h.WinsockPath = "";
    h.WinsockLoaded = true;
    EXPECT_TRUE(h.WinsockLoaded());
    EXPECT_EQ(record.UseCount, 1u);
  }
  EXPECT_EQ(record.UseCount, 0u);
  EXPECT_STREQ(record.Path, "WSOCK32.DLL");
}

// A descendant sees events through its Fire methods without handlers.
class Observed : public TcorvHTTP {
 public:
  using TcorvHTTP::TcorvHTTP;
  void FireStartTransfer(int Direction) override {
    seen += "start" + std::to_string(Direction) + ";";
    TcorvHTTP::FireStartTransfer(Direction);
  }
  std::string seen;
};

TEST(CorvHTTPUnit, EventsCarryDirectionAndCopies) {
  Observed h(nullptr);
  h.FireStartTransfer(0);
  h.FireEndTransfer(1);  // no handler: nothing happens
  EXPECT_EQ(h.seen, "start0;");

  std::string log;
  h.OnStartTransfer = [&](TObject* s, int d) {
    EXPECT_EQ(s, &h);
    log += "S" + std::to_string(d);
  };
  h.OnEndTransfer = [&](TObject*, int d) { log += "E" + std::to_string(d); };
  char* got = nullptr;
  h.OnTransfer = [&](TObject*, int d, long bytes, char* text, unsigned short n) {
    log += "T" + std::to_string(d) + ":" + std::to_string(bytes) + ":" + std::to_string(n);
    got = text;
  };
  char block[] = "abcd";
  h.FireStartTransfer(1);
  h.FireTransfer(1, 70000, block, 4);
  h.FireEndTransfer(0);
  EXPECT_EQ(log, "S1T1:70000:4E0");
  EXPECT_EQ(got, block);

  h.OnHeader = [&](TObject*, AnsiString& f, AnsiString& v) {
    f = "changed";
    v = "changed";
  };
  char field[] = "Server", value[] = "nginx";
  h.FireHeader(field, value);
  EXPECT_STREQ(field, "Server");
  EXPECT_STREQ(value, "nginx");
  std::string cookie;
  h.OnSetCookie = [&](TObject*, AnsiString& n, AnsiString& v, AnsiString& x, AnsiString&, AnsiString& p, bool s) {
    cookie = n.str() + "=" + v.str() + ";" + x.str() + ";" + p.str() + (s ? ";secure" : "");
  };
  h.FireSetCookie(field, value, nullptr, nullptr, value, true);
  EXPECT_EQ(cookie, "Server=nginx;;nginx;secure");
}

// A root like a form: handlers bound by name while its description is read.
class THTTPRoot : public TComponent {
 public:
  explicit THTTPRoot(TComponent* owner) : TComponent(owner) {
    RegisterHandler("corvHTTP1Transfer", &THTTPRoot::corvHTTP1Transfer);
    RegisterHandler("corvHTTP1EndTransfer", &THTTPRoot::corvHTTP1EndTransfer);
    RegisterHandler("WrongShape", &THTTPRoot::WrongShape);
    RegisterField("corvHTTP1", corvHTTP1);
  }
  void corvHTTP1Transfer(TObject*, int Direction, long BytesTransferred, char* Text, unsigned short lenText) {
    received.append(Text, lenText);
    last = BytesTransferred;
    direction = Direction;
  }
  void corvHTTP1EndTransfer(TObject*, int Direction) { ended = Direction; }
  // The web form's transfer shape: it has no direction.
  void WrongShape(TObject*, long, char*, unsigned short) {}
  TcorvHTTP* corvHTTP1 = nullptr;
  std::string received;
  long last = 0;
  int direction = -1;
  int ended = -1;
};

const bool rootRegistered = [] {
  vcl::RegisterClass<THTTPRoot, TComponent>("THTTPRoot");
  return true;
}();

const char* kDescription =
    "object Root: THTTPRoot\n"
    "  object corvHTTP1: TcorvHTTP\n"
    "    Accept = 'text/csv'\n"
    "    FirewallPort = 80\n"
    "    FollowRedirects = frAlways\n"
    "    MaxTransferredData = 100\n"
    "    WinsockStatus = 'ignored'\n"
    "    URL = 'http://example.org:8080/q'\n"
    "    UserAgent = 'Quote display'\n"
    "    OnEndTransfer = corvHTTP1EndTransfer\n"
    "    OnTransfer = corvHTTP1Transfer\n"
    "  end\n"
    "end\n";

TEST(CorvHTTPStreaming, ReadFromDescription) {
  ASSERT_TRUE(rootRegistered);
  Corvhttp::Register();
  const auto page = vcl::ComponentsOnPage("Corvane");
  EXPECT_NE(std::find(page.begin(), page.end(), "TcorvHTTP"), page.end());

  THTTPRoot root(nullptr);
  vcl::ReadRootComponent(&root, kDescription);
  ASSERT_NE(root.corvHTTP1, nullptr);
  TcorvHTTP& h = *root.corvHTTP1;
  EXPECT_EQ(h.Owner(), &root);
  EXPECT_EQ(h.ClassName(), "TcorvHTTP");
  EXPECT_EQ(h.Accept(), "text/csv");
  EXPECT_EQ(h.FollowRedirects(), frAlways);
  EXPECT_EQ(h.MaxTransferredData(), 100);
  EXPECT_EQ(h.URLServer(), "example.org");
  EXPECT_EQ(h.URLPort(), 8080);
  EXPECT_EQ(h.UserAgent(), "Quote display");
  EXPECT_NE(h.WinsockStatus(), "ignored");
  char block[] = "abc";
  h.FireTransfer(1, 3, block, 3);
  h.FireEndTransfer(1);
  EXPECT_EQ(root.received, "abc");
  EXPECT_EQ(root.last, 3);
  EXPECT_EQ(root.direction, 1);
  EXPECT_EQ(root.ended, 1);

  const std::string out = vcl::WriteComponent(&h);
  for (const char* present : {"Accept = 'text/csv'", "FirewallPort = 80", "FollowRedirects = frAlways",
                              "MaxTransferredData = 100", "UserAgent = 'Quote display'"})
    EXPECT_NE(out.find(present), std::string::npos) << present << "\n" << out;
  for (const char* absent : {"WinsockInfo", "WinsockStatus", "Action", "LocalHost", "Timeout", "ProxyPort",
                             "WinsockLoaded", "FirewallType", "PostData", "URLPath", "Cookie"})
    EXPECT_EQ(out.find(absent), std::string::npos) << absent << "\n" << out;

  // Defaults are left out: a fresh component writes neither its limit nor its proxy port.
  TcorvHTTP fresh(nullptr);
  const std::string plain = vcl::WriteComponent(&fresh);
  EXPECT_EQ(plain.find("MaxTransferredData"), std::string::npos) << plain;
  EXPECT_EQ(plain.find("FollowRedirects"), std::string::npos) << plain;
  EXPECT_NE(plain.find("FirewallPort = 80"), std::string::npos) << plain;
}

TEST(CorvHTTPStreaming, BadDescriptions) {
  componenttest::ExpectUnreadable<THTTPRoot>(kDescription, "corvHTTP1Transfer", "WrongShape");
  componenttest::ExpectUnreadable<THTTPRoot>(kDescription, "frAlways", "frSometimes");
  // The action is not read from a description as a stored value, but writing it by name runs it.
  THTTPRoot root(nullptr);
  std::string text = kDescription;
  text.replace(text.find("    OnEndTransfer"), 0, "    Action = httpResetHeaders\n");
  vcl::ReadRootComponent(&root, text);
  EXPECT_EQ(root.corvHTTP1->URL(), "");
  EXPECT_EQ(root.corvHTTP1->Action(), httpIdle);
}

}  // namespace
