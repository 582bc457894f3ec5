// The web form component without a server: property rules, index errors, error translation,
// the Windows Sockets properties, event copies and reading it from a form description.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <set>
#include <string>

#include "corv/core/Alloc.h"
#include "corv/core/Winsock.h"
#include "corv/http/Corvwebform.h"
#include "platform/vcl/core/formreader.h"
#include "tests/corv/component_checks.h"

namespace {

using componenttest::ExpectCorv;
using componenttest::ExpectOutOfMemory;

TEST(CorvWebFormUnit, InitialValues) {
  TcorvWebForm w(nullptr);
  EXPECT_EQ(w.Action(), webformIdle);
  EXPECT_EQ(w.Encoding(), encURLEncoding);
  EXPECT_EQ(w.ContentType(), "application/x-www-form-urlencoded");
  EXPECT_EQ(w.FirewallType(), fwNone);
  EXPECT_EQ(w.FirewallPort(), 80);
  EXPECT_EQ(w.FirewallHost(), "");
  EXPECT_EQ(w.ProxyPort(), 80);
  EXPECT_EQ(w.MaxTransferredData(), 4096);
  EXPECT_EQ(w.Timeout(), 0);
  EXPECT_EQ(w.SocketHandle(), -1);
  EXPECT_FALSE(w.Connected());
  EXPECT_EQ(w.CharsetMode(), 0);
  EXPECT_EQ(w.CookieCount(), 0);
  EXPECT_EQ(w.FormVarCount(), 0);
  EXPECT_EQ(w.URL(), "");
  EXPECT_EQ(w.UserAgent().SubString(1, 27), "Corvane V5 HTTP/S Component");
  EXPECT_GT(w.UserAgent().Length(), 27);
  EXPECT_TRUE(w.WinsockLoaded());
  EXPECT_NE(w.WinsockStatus(), "Down");
  EXPECT_GT(w.WinsockMaxSockets(), 0);
  EXPECT_FALSE(w.LocalHost().IsEmpty());
}

TEST(CorvWebFormUnit, FormVariables) {
  TcorvWebForm w(nullptr);
  w.Reset();
  w.AddFormVar("f", "x");
  w.AddFormVar("s", "A B");
  EXPECT_EQ(w.FormVarCount(), 2);
  EXPECT_EQ(w.FormVarNames[2](), "s");
  EXPECT_EQ(w.FormVarValues[2](), "A B");
  // Texts are taken up to their first NUL.
  w.AddFormVar(AnsiString("n\0tail", 6), AnsiString("v\0tail", 6));
  EXPECT_EQ(w.FormVarNames[3](), "n");
  EXPECT_EQ(w.FormVarValues[3](), "v");

  w.FormVarCount = 1;
  EXPECT_EQ(w.FormVarCount(), 1);
  EXPECT_EQ(w.FormVarNames[1](), "f");
  EXPECT_EQ(w.FormVarValues[1](), "x");
  w.FormVarCount = 3;
  EXPECT_EQ(w.FormVarNames[3](), "");
  EXPECT_EQ(w.FormVarValues[2](), "");
  w.FormVarNames[2] = "e";
  w.FormVarValues[2] = ".csv";
  EXPECT_EQ(w.FormVarNames[2](), "e");
  EXPECT_EQ(w.FormVarValues[2](), ".csv");
  // The count is taken modulo 65536.
  w.FormVarCount = 65537;
  EXPECT_EQ(w.FormVarCount(), 1);
  EXPECT_EQ(w.FormVarNames[1](), "f");

  w.Action = webformReset;
  EXPECT_EQ(w.FormVarCount(), 0);
  EXPECT_EQ(w.Action(), webformIdle);
}

TEST(CorvWebFormUnit, Cookies) {
  TcorvWebForm w(nullptr);
  w.AddCookie("a", "1");
  EXPECT_EQ(w.CookieCount(), 1);
  EXPECT_EQ(w.CookieName[1](), "a");
  EXPECT_EQ(w.CookieValue[1](), "1");
  ExpectCorv([&] { (void)w.CookieValue[2](); }, 156, "Invalid array index CookieIndex");
  w.CookieCount = 2;
  w.CookieName[2] = "b";
  w.CookieValue[2] = "2";
  EXPECT_EQ(w.CookieName[2](), "b");
  EXPECT_EQ(w.CookieValue[1](), "1");
  w.CookieCount = 0;
  EXPECT_EQ(w.CookieCount(), 0);
  // A negative count empties the list too.
  w.AddCookie("c", "3");
  w.CookieCount = -5;
  EXPECT_EQ(w.CookieCount(), 0);
}

TEST(CorvWebFormUnit, IndexOutOfRange) {
  TcorvWebForm w(nullptr);
  ExpectCorv([&] { (void)w.CookieName[0](); }, 156, "Invalid array index CookieIndex");
  ExpectCorv([&] { w.FormVarNames[1] = "x"; }, 159, "Invalid form variable index (out of range).");
  ExpectCorv([&] { w.FormVarValues[1] = "x"; }, 159, "Invalid form variable index (out of range).");
  ExpectCorv([&] { (void)w.FormVarValues[1](); }, 159, "Invalid array index VarIndex");
  w.AddFormVar("a", "1");
  w.AddCookie("c", "v");
  ExpectCorv([&] { w.CookieValue[2] = "x"; }, 156, "Invalid cookie index (out of range).");
  ExpectCorv([&] { w.FormVarNames[2] = "x"; }, 159, "Invalid form variable index (out of range).");
  // Nothing changed.
  EXPECT_EQ(w.FormVarCount(), 1);
  EXPECT_EQ(w.FormVarNames[1](), "a");
  EXPECT_EQ(w.CookieCount(), 1);
  EXPECT_EQ(w.CookieValue[1](), "v");
}

TEST(CorvWebFormUnit, EncodingAndReset) {
  TcorvWebForm w(nullptr);
  w.Encoding = encQueryString;
  EXPECT_EQ(w.ContentType(), "");
  w.Encoding = encMultipartFormData;
  EXPECT_EQ(w.ContentType(), "multipart/form-data");
  w.Encoding = encURLEncoding;
  EXPECT_EQ(w.ContentType(), "application/x-www-form-urlencoded");
  // An unknown value is kept and leaves the type alone.
  w.Encoding = static_cast<TcorvWebFormEncodings>(7);
  EXPECT_EQ(w.Encoding(), 7);
  EXPECT_EQ(w.ContentType(), "application/x-www-form-urlencoded");
  w.Encoding = encMultipartFormData;

  w.ProxyServer = "proxy.example";
  w.ProxyPort = 3128;
  w.User = "u";
  w.Password = "p";
  w.Referer = "r";
  w.From = "f@x";
  w.OtherHeaders = "X-A: 1";
  w.LocalFile = "/tmp/none";
  w.URL = "http://example.org:8080/path";
  w.UserAgent = "agent";
  w.MaxTransferredData = 10;
  w.Timeout = 7;
  w.AddFormVar("a", "1");
  w.AddCookie("c", "1");
  w.ProxyUser = "pu";
  w.ProxyPassword = "pp";
  w.FirewallUser = "fu";
  w.FirewallType = fwSOCKS5;
  w.FirewallHost = "127.0.0.1";
  EXPECT_FALSE(w.Authorization().IsEmpty());
  EXPECT_FALSE(w.ProxyAuthorization().IsEmpty());
  w.Reset();
  // The proxy credentials go; the firewall keeps what it was given, theirs included.
  for (const AnsiString& s : {w.ProxyUser(), w.ProxyPassword(), w.ProxyAuthorization()}) EXPECT_EQ(s, "");
  EXPECT_EQ(w.FirewallUser(), "fu");
  EXPECT_EQ(w.FirewallPassword(), "pp");
  EXPECT_EQ(w.FirewallType(), fwSOCKS5);
  EXPECT_EQ(w.FirewallPort(), 1080);
  EXPECT_EQ(w.FirewallHost(), "127.0.0.1");
  EXPECT_EQ(w.FormVarCount(), 0);
  EXPECT_EQ(w.CookieCount(), 0);
  EXPECT_EQ(w.ContentType(), "");
  EXPECT_EQ(w.Encoding(), encMultipartFormData);
  for (const AnsiString& s : {w.User(), w.Password(), w.Authorization(), w.Referer(), w.From(), w.OtherHeaders(),
                              w.LocalFile(), w.URL(), w.StatusLine(), w.TransferredData()})
    EXPECT_EQ(s, "");
  EXPECT_EQ(w.ProxyServer(), "proxy.example");
  EXPECT_EQ(w.ProxyPort(), 3128);
  EXPECT_EQ(w.UserAgent(), "agent");
  EXPECT_EQ(w.MaxTransferredData(), 10);
  EXPECT_EQ(w.Timeout(), 7);
}

TEST(CorvWebFormUnit, CredentialsAndFirewall) {
  TcorvWebForm w(nullptr);
  w.User = "tavlin";
  w.Password = "pw";
  EXPECT_EQ(w.Authorization(), "Basic dGF2bGluOnB3");
  w.Authorization = "Bearer x";
  EXPECT_EQ(w.Authorization(), "Bearer x");
  w.Password = "pw";  // rebuilt from User and Password
  EXPECT_EQ(w.Authorization(), "Basic dGF2bGluOnB3");

  // The proxy credentials also become the firewall's, cut to 255 characters.
  w.ProxyUser = AnsiString(std::string(300, 'u'));
  w.ProxyPassword = "secret";
  EXPECT_EQ(w.FirewallUser(), AnsiString(std::string(255, 'u')));
  EXPECT_EQ(w.FirewallPassword(), "secret");
  EXPECT_FALSE(w.ProxyAuthorization().IsEmpty());

  w.FirewallUser = AnsiString(std::string(300, 'a'));
  EXPECT_EQ(w.FirewallUser(), AnsiString(std::string(255, 'a')));
  w.FirewallUser = AnsiString(std::string(255, 'b'));
  EXPECT_EQ(w.FirewallUser(), AnsiString(std::string(255, 'b')));
  w.FirewallPassword = AnsiString(std::string(256, 'p'));
  EXPECT_EQ(w.FirewallPassword().Length(), 255);

  w.FirewallType = fwSOCKS5;
  EXPECT_EQ(w.FirewallPort(), 1080);
  w.FirewallType = fwTunnel;
  EXPECT_EQ(w.FirewallPort(), 80);
  w.FirewallType = fwSOCKS4;
  EXPECT_EQ(w.FirewallPort(), 1080);
  w.FirewallPort = 3128;
  EXPECT_EQ(w.FirewallPort(), 3128);
  EXPECT_EQ(w.FirewallType(), fwSOCKS4);

  w.FirewallHost = "127.0.0.1";
  EXPECT_EQ(w.FirewallHost(), "127.0.0.1");
  w.FirewallHost = "localhost";
  EXPECT_EQ(w.FirewallHost(), "127.0.0.1");
  w.FirewallHost = "";
  EXPECT_EQ(w.FirewallHost(), "");

  char data[] = {'a', '\0', 'b', '\0', 'z'};
  w.SetFirewallData(data, 4);
  EXPECT_EQ(w.FirewallData().str(), std::string("a\0b\0", 4));
  w.FirewallData = AnsiString("x\0y", 3);
  EXPECT_EQ(w.FirewallData().Length(), 3);
}

TEST(CorvWebFormUnit, FailedNameKeepsItsOwnText) {
  TcorvWebForm w(nullptr);
  // An index error leaves its text in the engine; a later failure must not report it.
  ExpectCorv([&] { w.FormVarNames[1] = "x"; }, 159, "Invalid form variable index (out of range).");
  try {
    w.FirewallHost = "no-such-host.invalid";
    ADD_FAILURE() << "resolved";
  } catch (const ECORVCore& e) {
    EXPECT_GE(e.Code, 10000);
    EXPECT_EQ(e.Message.str().find(std::to_string(e.Code) + ": [" + std::to_string(e.Code) + "]"), 0u)
        << e.Message.str();
  }
  EXPECT_EQ(w.FirewallHost(), "");
}

TEST(CorvWebFormUnit, StoreOnlyWriters) {
  TcorvWebForm w(nullptr);
  w.CharsetMode = 300;
  EXPECT_EQ(w.CharsetMode(), 44);
  w.CharsetMode = 200;
  EXPECT_EQ(w.CharsetMode(), -56);
  w.CharsetMode = -1;
  EXPECT_EQ(w.CharsetMode(), -1);
  w.Timeout = 5;
  EXPECT_EQ(w.Timeout(), 5);
  w.MaxTransferredData = 0;
  EXPECT_EQ(w.MaxTransferredData(), 0);
  w.ProxyPort = 65535;
  EXPECT_EQ(w.ProxyPort(), 65535);
  w.URL = "no scheme at all";  // a bad URL fails only the submit
  EXPECT_EQ(w.URL(), "no scheme at all");
  w.WinsockInfo = "x";
  w.WinsockStatus = "x";
  EXPECT_NE(w.WinsockInfo(), "x");
  EXPECT_NE(w.WinsockStatus(), "x");
  // Nothing runs: both only return.
  w.Interrupt();
  w.DoEvents();
  EXPECT_EQ(w.Action(), webformIdle);
}

TEST(CorvWebFormUnit, TreatErrTexts) {
  TcorvWebForm w(nullptr);
  ExpectOutOfMemory([&] { w.TreatErr(200); }, "WebForm. Out of memory.");
  w.TreatErr(0);
  // No text in the engine: derived from the code.
  ExpectCorv([&] { w.TreatErr(10061); }, 10061, "[10061] Connection refused");
  // A text already set is used as it stands.
  ExpectCorv([&] { w.TreatErr(12345); }, 12345, "[10061] Connection refused");
  // A fresh operation clears it: an idle interrupt leaves no text, so 301 derives its own.
  w.Interrupt();
  ExpectCorv([&] { w.TreatErr(301); }, 301, "Interrupted.");
}

TEST(CorvWebFormUnit, WinsockProperties) {
  TcorvWebForm a(nullptr);
  TcorvWebForm b(nullptr);
  CWinsock& record = CorvwebformWinsock();
  const unsigned starts = record.UseCount;
  EXPECT_GE(starts, 4u);  // each component's engine and its MIME member
  a.WinsockLoaded = false;
  EXPECT_FALSE(a.WinsockLoaded());
  EXPECT_EQ(record.UseCount, starts - 1);
  a.WinsockLoaded = false;
  EXPECT_EQ(record.UseCount, starts - 1);
  a.WinsockLoaded = true;
  EXPECT_TRUE(a.WinsockLoaded());
  EXPECT_EQ(record.UseCount, starts);
  EXPECT_TRUE(b.WinsockLoaded());
  // While loaded, the path reads as the module's file name.
  EXPECT_FALSE(a.WinsockPath().IsEmpty());
  EXPECT_NE(a.WinsockInfo(), "");
}

TEST(CorvWebFormUnit, UnloadingGivesBackOnlyTheEnginesStart) {
  CWinsock& record = CorvwebformWinsock();
  ASSERT_EQ(record.UseCount, 0u);
  TcorvWebForm w(nullptr);
  w.WinsockLoaded = false;
  // The MIME member still holds a start; only the engine's own is given back.
  EXPECT_FALSE(w.WinsockLoaded());
  EXPECT_EQ(record.UseCount, 1u);
}

TEST(CorvWebFormUnit, FailedLoadIsNoException) {
  CWinsock& record = CorvwebformWinsock();
  ASSERT_EQ(record.UseCount, 0u);
  record.SetPath("/nonexistent/missing-wsock.dll");
  {
    TcorvWebForm w(nullptr);
    EXPECT_FALSE(w.WinsockLoaded());
    EXPECT_EQ(w.WinsockStatus(), "Down");
    EXPECT_EQ(w.WinsockMaxSockets(), 0);
    EXPECT_EQ(record.UseCount, 0u);
    // An empty path restores the default, and asking again loads from it.
    w.WinsockPath = "";
    EXPECT_EQ(w.WinsockPath(), "WSOCK32.DLL");
    w.WinsockLoaded = true;
    EXPECT_TRUE(w.WinsockLoaded());
    EXPECT_NE(w.WinsockStatus(), "Down");
  }
  record.SetPath("");
  EXPECT_EQ(record.UseCount, 0u);
}

TEST(CorvWebFormUnit, DestructionGivesBackEveryStart) {
  CWinsock& record = CorvwebformWinsock();
  const unsigned before = record.UseCount;
  {
    TComponent owner(nullptr);
    new TcorvWebForm(&owner);
    new TcorvWebForm(&owner);
    EXPECT_EQ(record.UseCount, before + 4);
  }
  EXPECT_EQ(record.UseCount, before);
}

// Every engine allocation of a construction failing in turn: the engine's initialisation
// reports its own text, an initial property value the writer's; either way every Windows
// Sockets start is given back and nothing is left behind.
TEST(CorvWebFormUnit, ConstructionFailures) {
  std::set<std::string> messages;
  ASSERT_NO_FATAL_FAILURE(componenttest::CollectConstructionFailures<TcorvWebForm>(
      CorvwebformWinsock(),
      [](TcorvWebForm& w, unsigned skip) {
        EXPECT_EQ(w.UserAgent().SubString(1, 27), "Corvane V5 HTTP/S Component") << skip;
      },
      messages));
  // Short initial texts fit the strings' own storage, so the second text may not show up.
  EXPECT_EQ(messages.count("could not initialize WebForm (out of memory)"), 1u);
  messages.erase("could not initialize WebForm (out of memory)");
  messages.erase("WebForm. Out of memory.");
  EXPECT_TRUE(messages.empty()) << *messages.begin();
  // And the next construction works.
  TcorvWebForm w(nullptr);
  EXPECT_EQ(w.ContentType(), "application/x-www-form-urlencoded");
}

// A descendant sees events through its Fire methods without handlers.
class Observed : public TcorvWebForm {
 public:
  using TcorvWebForm::TcorvWebForm;
  void FireHeader(char* Field, char* Value) override {
    seen += std::string(Field) + "=" + Value + ";";
    TcorvWebForm::FireHeader(Field, Value);
  }
  std::string seen;
};

TEST(CorvWebFormUnit, EventArgumentsAreCopies) {
  Observed w(nullptr);
  char field[] = "Content-Type";
  char value[] = "text/plain";
  // No handler: nothing happens.
  w.FireHeader(field, value);
  w.FireTransfer(1, value, 4);
  EXPECT_EQ(w.seen, "Content-Type=text/plain;");

  w.OnHeader = [&](TObject* sender, AnsiString& f, AnsiString& v) {
    EXPECT_EQ(sender, &w);
    EXPECT_EQ(f, "Content-Type");
    f = "changed";
    v = "changed too";
  };
  w.FireHeader(field, value);
  EXPECT_STREQ(field, "Content-Type");
  EXPECT_STREQ(value, "text/plain");

  int code = 0;
  w.OnError = [&](TObject*, int c, AnsiString& d) {
    code = c;
    EXPECT_EQ(d, "");
    d = "x";
  };
  w.FireError(7, nullptr);
  EXPECT_EQ(code, 7);

  bool secure = false;
  w.OnSetCookie = [&](TObject*, AnsiString& n, AnsiString&, AnsiString&, AnsiString&, AnsiString& p, bool s) {
    EXPECT_EQ(n, "id");
    EXPECT_EQ(p, "/");
    secure = s;
  };
  char id[] = "id", v[] = "1", e[] = "", d[] = "", p[] = "/";
  w.FireSetCookie(id, v, e, d, p, true);
  EXPECT_TRUE(secure);

  // The transfer text is the caller's own block, not a copy.
  char* got = nullptr;
  unsigned short len = 0;
  w.OnTransfer = [&](TObject*, long bytes, char* text, unsigned short n) {
    EXPECT_EQ(bytes, 42);
    got = text;
    len = n;
  };
  w.FireTransfer(42, value, 4);
  EXPECT_EQ(got, value);
  EXPECT_EQ(len, 4);
}

// A root like the program's main form: handlers bound by name while its description is read.
class TTestRoot : public TComponent {
 public:
  explicit TTestRoot(TComponent* owner) : TComponent(owner) {
    RegisterHandler("corvWebForm1Transfer", &TTestRoot::corvWebForm1Transfer);
    RegisterHandler("WrongShape", &TTestRoot::WrongShape);
    RegisterField("corvWebForm1", corvWebForm1);
  }
  void corvWebForm1Transfer(TObject*, long BytesTransferred, char* Text, unsigned short lenText) {
    received.append(Text, lenText);
    last = BytesTransferred;
  }
  void WrongShape(TObject*) {}
  TcorvWebForm* corvWebForm1 = nullptr;
  std::string received;
  long last = 0;
};

const bool rootRegistered = [] {
  vcl::RegisterClass<TTestRoot, TComponent>("TTestRoot");
  return true;
}();

const char* kDescription =
    "object Root: TTestRoot\n"
    "  object corvWebForm1: TcorvWebForm\n"
    "    FirewallPort = 80\n"
    "    ProxyPort = 3128\n"
    "    Encoding = encMultipartFormData\n"
    "    WinsockInfo = 'ignored'\n"
    "    UserAgent = 'Quote display'\n"
    "    OnTransfer = corvWebForm1Transfer\n"
    "  end\n"
    "end\n";

TEST(CorvWebFormStreaming, ReadFromDescription) {
  ASSERT_TRUE(rootRegistered);
  Corvwebform::Register();
  const auto page = vcl::ComponentsOnPage("Corvane");
  EXPECT_NE(std::find(page.begin(), page.end(), "TcorvWebForm"), page.end());

  TTestRoot root(nullptr);
  vcl::ReadRootComponent(&root, kDescription);
  ASSERT_NE(root.corvWebForm1, nullptr);
  TcorvWebForm& w = *root.corvWebForm1;
  EXPECT_EQ(w.Owner(), &root);
  EXPECT_EQ(w.ClassName(), "TcorvWebForm");
  EXPECT_EQ(w.FirewallPort(), 80);
  EXPECT_EQ(w.ProxyPort(), 3128);
  EXPECT_EQ(w.Encoding(), encMultipartFormData);
  EXPECT_EQ(w.UserAgent(), "Quote display");
  EXPECT_NE(w.WinsockInfo(), "ignored");
  ASSERT_TRUE(static_cast<bool>(w.OnTransfer));
  char block[] = "abc";
  w.FireTransfer(3, block, 3);
  EXPECT_EQ(root.received, "abc");
  EXPECT_EQ(root.last, 3);

  // Written back: only stored values that differ from their defaults; no read-only ones.
  const std::string out = vcl::WriteComponent(&w);
  EXPECT_NE(out.find("FirewallPort = 80"), std::string::npos) << out;
  EXPECT_NE(out.find("UserAgent = 'Quote display'"), std::string::npos) << out;
  EXPECT_NE(out.find("Encoding = encMultipartFormData"), std::string::npos) << out;
  for (const char* absent : {"WinsockInfo", "WinsockStatus", "Action", "LocalHost", "Timeout", "ProxyServer",
                             "MaxTransferredData", "WinsockLoaded", "FirewallType"})
    EXPECT_EQ(out.find(absent), std::string::npos) << absent << "\n" << out;
}

TEST(CorvWebFormStreaming, BadDescriptions) {
  componenttest::ExpectUnreadable<TTestRoot>(kDescription, "corvWebForm1Transfer", "WrongShape");
  componenttest::ExpectUnreadable<TTestRoot>(kDescription, "encMultipartFormData", "encNoSuchThing");
  // A firewall type by name sets its port as the writer does; an explicit port after it wins.
  TTestRoot root(nullptr);
  std::string text = kDescription;
  text.replace(text.find("    FirewallPort = 80\n"), 0, "    FirewallType = fwSOCKS5\n");
  vcl::ReadRootComponent(&root, text);
  EXPECT_EQ(root.corvWebForm1->FirewallType(), fwSOCKS5);
  EXPECT_EQ(root.corvWebForm1->FirewallPort(), 80);
}

// A description written from a component reads back to the same firewall settings: the type,
// whose writer also sets the port, comes before the port.
TEST(CorvWebFormStreaming, WrittenFirewallSettingsReadBack) {
  ASSERT_TRUE(rootRegistered);
  for (const auto& [type, port] : {std::pair{fwSOCKS5, 3128}, std::pair{fwTunnel, 8080}, std::pair{fwSOCKS4, 1080},
                                   std::pair{fwNone, 80}}) {
    TcorvWebForm w(nullptr);
    w.SetName("corvWebForm2");
    w.FirewallType = type;
    w.FirewallPort = static_cast<unsigned short>(port);
    const std::string out = vcl::WriteComponent(&w);
    TComponent owner(nullptr);
    auto* back = dynamic_cast<TcorvWebForm*>(vcl::ReadComponent(out, &owner));
    ASSERT_NE(back, nullptr) << out;
    EXPECT_EQ(back->FirewallType(), type) << out;
    EXPECT_EQ(back->FirewallPort(), port) << out;
  }
}

}  // namespace
