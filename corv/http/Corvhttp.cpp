#include "corv/http/Corvhttp.h"

#include <memory>
#include <new>

#include "corv/core/Winsock.h"
#include "platform/vcl/core/typinfo.h"

// Implements the engine's event interface for one component and embeds its engine.
class HTTPCThunk final : public HTTPEvts {
 public:
  HTTPCThunk() = default;
  ~HTTPCThunk() = default;
  HTTPCThunk(const HTTPCThunk&) = delete;
  HTTPCThunk& operator=(const HTTPCThunk&) = delete;

  void Connected(int code, const char* description) override {
    if (Owner) Owner->FireConnected(static_cast<WORD>(code), const_cast<char*>(description));
  }
  void Disconnected(int code, const char* description) override {
    if (Owner) Owner->FireDisconnected(static_cast<WORD>(code), const_cast<char*>(description));
  }
  void EndTransfer(std::uint16_t direction) override {
    if (Owner) Owner->FireEndTransfer(direction);
  }
  void Error(int code, const char* description) override {
    if (Owner) Owner->FireError(static_cast<WORD>(code), const_cast<char*>(description));
  }
  void Header(const char* field, const char* value) override {
    if (Owner) Owner->FireHeader(const_cast<char*>(field), const_cast<char*>(value));
  }
  void SetCookie(const char* name, const char* value, const char* expires, const char* domain,
                 const char* path, int secure) override {
    if (Owner)
      Owner->FireSetCookie(const_cast<char*>(name), const_cast<char*>(value), const_cast<char*>(expires),
                           const_cast<char*>(domain), const_cast<char*>(path), secure != 0);
  }
  void StartTransfer(std::uint16_t direction) override {
    if (Owner) Owner->FireStartTransfer(direction);
  }
  void Transfer(std::uint16_t direction, std::uint32_t bytesTransferred, const char* text,
                std::uint16_t length) override {
    // The block is the engine's own buffer: handed on without a copy.
    static char empty[1] = {0};
    if (Owner)
      Owner->FireTransfer(direction, static_cast<long>(bytesTransferred), text ? const_cast<char*>(text) : empty,
                          text ? length : 0);
  }

  TcorvHTTP* Owner = nullptr;
  // Engine actions of the component on the stack, and whether the component is gone: a
  // component destroyed inside its own request leaves the thunk to the outermost call.
  int Depth = 0;
  bool Orphaned = false;
  CHTTP Engine;
};

namespace {

constexpr int kCookieRange = 156;

AnsiString Bytes(const DynStr& s) { return AnsiString(s.Text(), static_cast<int>(s.Length())); }
AnsiString Text(const DynStr& s) { return AnsiString(s.Text()); }
AnsiString Entry(const DynStrSeq& list, std::uint32_t i) {
  return AnsiString(list.Get(i), static_cast<int>(list.GetLength(i)));
}

const bool registered = [] {
  CorvhttpWinsock();
  vcl::RegisterEnum<TcorvHTTPActions>({{"httpIdle", httpIdle},
                                       {"httpGet", httpGet},
                                       {"httpPost", httpPost},
                                       {"httpHead", httpHead},
                                       {"httpResetHeaders", httpResetHeaders},
                                       {"httpPut", httpPut}});
  vcl::RegisterEnum<TcorvHTTPFollowRedirects>(
      {{"frNever", frNever}, {"frAlways", frAlways}, {"frSameScheme", frSameScheme}});
  using H = TcorvHTTP;
  const AnsiString none;
  vcl::RegisterClass<H, TcorvComponent>("TcorvHTTP")
      .Property("Accept", &H::FAccept, &H::FSetAccept)
      .Default(none)
      .Property("Action", &H::FAction, &H::FSetAction)
      .NotStored()
      .Property("FollowRedirects", &H::FFollowRedirects, &H::FSetFollowRedirects)
      .Default(frNever)
      .Property("LocalFile", &H::FLocalFile, &H::FSetLocalFile)
      .Default(none)
      .Property("MaxTransferredData", &H::FMaxTransferredData, &H::FSetMaxTransferredData)
      .Default(4096L)
      .Property("Password", &H::FPassword, &H::FSetPassword)
      .Default(none)
      .Property("ProxyPassword", &H::FProxyPassword, &H::FSetProxyPassword)
      .Default(none)
      .Property("ProxyPort", &H::FProxyPort, &H::FSetProxyPort)
      .Default(static_cast<unsigned short>(80))
      .Property("ProxyServer", &H::FProxyServer, &H::FSetProxyServer)
      .Default(none)
      .Property("ProxyUser", &H::FProxyUser, &H::FSetProxyUser)
      .Default(none)
      .Property("URL", &H::FURL, &H::FSetURL)
      .Default(none)
      .Property("User", &H::FUser, &H::FSetUser)
      .Default(none)
      .Property("UserAgent", &H::FUserAgent, &H::FSetUserAgent)
      .Default(none)
      .Event("OnConnected", &H::OnConnected)
      .Event("OnDisconnected", &H::OnDisconnected)
      .Event("OnEndTransfer", &H::OnEndTransfer)
      .Event("OnError", &H::OnError)
      .Event("OnHeader", &H::OnHeader)
      .Event("OnSetCookie", &H::OnSetCookie)
      .Event("OnStartTransfer", &H::OnStartTransfer)
      .Event("OnTransfer", &H::OnTransfer);
  return true;
}();

}  // namespace

CWinsock& CorvhttpWinsock() {
  static CWinsock record;
  return record;
}

namespace Corvhttp {
void Register() { RegisterComponents<TcorvHTTP>("Corvane"); }
}  // namespace Corvhttp

// ---- construction ----

TcorvHTTP::TcorvHTTP(TComponent* Owner) : TcorvComponent(Owner, "HTTP") {
  std::unique_ptr<HTTPCThunk> thunk(new (std::nothrow) HTTPCThunk);
  if (!thunk) throw EOutOfMemory("Error initializing TcorvHTTP");
  thunk->Owner = this;
  CHTTP& e = thunk->Engine;
  e.WinsockRecord = &CorvhttpWinsock();
  if (!e.Init()) throw EOutOfMemory("could not initialize HTTP (out of memory)");
  e.EventSink = static_cast<HTTPEvts*>(thunk.get());
  AttachEngine(&e);

  // The initial property values, through the writers' engine operations; a failure is
  // reported as the writer would report it.
  TreatErr(e.Accept.SetText(""));
  TreatErr(e.Firewall.SetFirewallHost(""));
  TreatErr(e.Firewall.SetFirewallPassword(""));
  e.Firewall.FirewallPort = 0;
  e.Firewall.FirewallType = fwNone;
  e.Firewall.FirewallPort = 80;
  TreatErr(e.Firewall.SetFirewallUser(""));
  e.FollowRedirects = frNever;
  TreatErr(e.LocalFile.SetText(""));
  e.MaxTransferredData = 4096;
  TreatErr(e.SetPassword(""));
  TreatErr(e.SetProxyPassword(""));
  e.ProxyPort = 80;
  TreatErr(e.ProxyServer.SetText(""));
  TreatErr(e.SetProxyUser(""));
  TreatErr(e.SetTimeout(0));
  TreatErr(e.SetURL("", false));
  TreatErr(e.SetUser(""));
  TreatErr(e.UserAgent.SetText(kCorvComponentBanner));

  // A failed load shows only as WinsockLoaded false.
  e.UseWinsock(true);
  FThunk = thunk.release();
  InitWinsockRecord(CorvhttpWinsock());
}

TcorvHTTP::~TcorvHTTP() {
  AttachEngine(nullptr);
  HTTPCThunk* t = FThunk;
  FThunk = nullptr;
  if (!t) return;
  t->Owner = nullptr;
  if (t->Depth > 0) {
    // Destroyed from a handler: the running wait lower on the stack still uses the engine.
    // Stop it; the call that started it frees the thunk when it unwinds.
    t->Orphaned = true;
    t->Engine.DoAction(0);
    return;
  }
  delete t;
}

// ---- events ----

void TcorvHTTP::FireConnected(int ErrorCode, char* Description) {
  if (!OnConnected) return;
  AnsiString d = EventText(Description);
  OnConnected(this, ErrorCode, d);
}

void TcorvHTTP::FireDisconnected(int ErrorCode, char* Description) {
  if (!OnDisconnected) return;
  AnsiString d = EventText(Description);
  OnDisconnected(this, ErrorCode, d);
}

void TcorvHTTP::FireEndTransfer(int Direction) {
  if (OnEndTransfer) OnEndTransfer(this, Direction);
}

void TcorvHTTP::FireError(int ErrorCode, char* Description) {
  if (!OnError) return;
  AnsiString d = EventText(Description);
  OnError(this, ErrorCode, d);
}

void TcorvHTTP::FireHeader(char* Field, char* Value) {
  if (!OnHeader) return;
  AnsiString f = EventText(Field);
  AnsiString v = EventText(Value);
  OnHeader(this, f, v);
}

void TcorvHTTP::FireSetCookie(char* Name, char* Value, char* Expires, char* Domain, char* Path, bool Secure) {
  if (!OnSetCookie) return;
  AnsiString n = EventText(Name);
  AnsiString v = EventText(Value);
  AnsiString x = EventText(Expires);
  AnsiString d = EventText(Domain);
  AnsiString p = EventText(Path);
  OnSetCookie(this, n, v, x, d, p, Secure);
}

void TcorvHTTP::FireStartTransfer(int Direction) {
  if (OnStartTransfer) OnStartTransfer(this, Direction);
}

void TcorvHTTP::FireTransfer(int Direction, long BytesTransferred, char* Text, unsigned short lenText) {
  if (OnTransfer) OnTransfer(this, Direction, BytesTransferred, Text, lenText);
}

// ---- methods ----

void TcorvHTTP::RunAction(int action, const char* url) {
  HTTPCThunk* t = FThunk;
  CHTTP& e = t->Engine;
  // The URL is stored before the action is tried, also when the action is refused as busy.
  int r = url ? e.SetURL(url, false) : 0;
  if (r == 0) {
    ++t->Depth;
    try {
      r = e.DoAction(action);
    } catch (...) {
      if (--t->Depth == 0 && t->Orphaned) delete t;
      throw;
    }
    --t->Depth;
    if (t->Orphaned) {
      // This component was destroyed by a handler: report through the engine alone.
      if (r != 0 && r != CORV_OUT_OF_MEMORY && !e.ErrorText) e.SetErrorText(r);
      const AnsiString text = r ? AnsiString(e.GetErrorText()) : AnsiString();
      if (t->Depth == 0) delete t;
      if (r == CORV_OUT_OF_MEMORY) throw EOutOfMemory("HTTP. Out of memory.");
      if (r != 0) throw ECORVCore(r, text.c_str());
      return;
    }
  }
  TreatErr(r);
}

void TcorvHTTP::AddCookie(AnsiString Name, AnsiString Value) {
  DynStrSeq& c = FThunk->Engine.Cookies;
  // A cookie list of odd length (a failed add) must not pair this name with an older value.
  const std::uint32_t pairs = c.Count() & ~1u;
  int r = c.SetCount(pairs);
  if (!r) r = c.Append(Name.c_str());
  if (!r) {
    r = c.Append(Value.c_str());
    if (r) c.SetCount(pairs);
  }
  TreatErr(r);
}

void TcorvHTTP::Get(AnsiString URL) { RunAction(httpGet, URL.c_str()); }

void TcorvHTTP::Head(AnsiString URL) { RunAction(httpHead, URL.c_str()); }

void TcorvHTTP::Post(AnsiString URL) { RunAction(httpPost, URL.c_str()); }

void TcorvHTTP::Put(AnsiString URL) { RunAction(httpPut, URL.c_str()); }

void TcorvHTTP::Interrupt() { RunAction(httpIdle, nullptr); }

void TcorvHTTP::ResetHeaders() { RunAction(httpResetHeaders, nullptr); }

// ---- properties ----

AnsiString TcorvHTTP::FAccept() { return Text(FThunk->Engine.Accept); }

void TcorvHTTP::FSetAccept(AnsiString value) { TreatErr(FThunk->Engine.Accept.SetText(value.c_str())); }

TcorvHTTPActions TcorvHTTP::FAction() { return static_cast<TcorvHTTPActions>(FThunk->Engine.Action); }

void TcorvHTTP::FSetAction(TcorvHTTPActions value) { RunAction(value, nullptr); }

AnsiString TcorvHTTP::FAttachedFile() { return Text(FThunk->Engine.AttachedFile); }

void TcorvHTTP::FSetAttachedFile(AnsiString value) {
  TreatErr(FThunk->Engine.AttachedFile.SetText(value.c_str()));
}

AnsiString TcorvHTTP::FAuthorization() { return Text(FThunk->Engine.Authorization); }

void TcorvHTTP::FSetAuthorization(AnsiString value) {
  TreatErr(FThunk->Engine.Authorization.SetText(value.c_str()));
}

AnsiString TcorvHTTP::FContentType() { return Text(FThunk->Engine.ContentType); }

void TcorvHTTP::FSetContentType(AnsiString value) { TreatErr(FThunk->Engine.ContentType.SetText(value.c_str())); }

int TcorvHTTP::FCookieCount() { return static_cast<int>(FThunk->Engine.Cookies.Count() / 2); }

void TcorvHTTP::FSetCookieCount(int value) {
  // A negative count empties the list.
  const std::uint64_t entries = value > 0 ? std::uint64_t{2} * static_cast<std::uint64_t>(value) : 0;
  TreatErr(entries > 0xFFFFFFFFu ? CORV_OUT_OF_MEMORY
                                 : FThunk->Engine.Cookies.SetCount(static_cast<std::uint32_t>(entries)));
}

AnsiString TcorvHTTP::FCookieName(unsigned short CookieIndex) {
  CheckIndexForRead(CookieIndex, FThunk->Engine.Cookies.Count() / 2, kCookieRange, "Invalid array index CookieIndex");
  return Entry(FThunk->Engine.Cookies, 2u * CookieIndex - 2);
}

void TcorvHTTP::FSetCookieName(unsigned short CookieIndex, AnsiString value) {
  DynStrSeq& c = FThunk->Engine.Cookies;
  if (!CheckIndexForWrite(CookieIndex, c.Count() / 2, kCookieRange, "Invalid cookie index (out of range)."))
    return;
  TreatErr(c.Set(2u * CookieIndex - 2, value.c_str()));
}

AnsiString TcorvHTTP::FCookieValue(unsigned short CookieIndex) {
  CheckIndexForRead(CookieIndex, FThunk->Engine.Cookies.Count() / 2, kCookieRange, "Invalid array index CookieIndex");
  return Entry(FThunk->Engine.Cookies, 2u * CookieIndex - 1);
}

void TcorvHTTP::FSetCookieValue(unsigned short CookieIndex, AnsiString value) {
  DynStrSeq& c = FThunk->Engine.Cookies;
  if (!CheckIndexForWrite(CookieIndex, c.Count() / 2, kCookieRange, "Invalid cookie index (out of range)."))
    return;
  TreatErr(c.Set(2u * CookieIndex - 1, value.c_str()));
}

TcorvHTTPFollowRedirects TcorvHTTP::FFollowRedirects() {
  return static_cast<TcorvHTTPFollowRedirects>(FThunk->Engine.FollowRedirects);
}

void TcorvHTTP::FSetFollowRedirects(TcorvHTTPFollowRedirects value) {
  FThunk->Engine.FollowRedirects = static_cast<std::uint8_t>(value);
  TreatErr(0);
}

AnsiString TcorvHTTP::FFrom() { return Text(FThunk->Engine.From); }

void TcorvHTTP::FSetFrom(AnsiString value) { TreatErr(FThunk->Engine.From.SetText(value.c_str())); }

AnsiString TcorvHTTP::FHTTPMethod() { return Text(FThunk->Engine.HTTPMethod); }

void TcorvHTTP::FSetHTTPMethod(AnsiString value) { TreatErr(FThunk->Engine.HTTPMethod.SetText(value.c_str())); }

AnsiString TcorvHTTP::FHTTPVersion() { return Text(FThunk->Engine.HTTPVersion); }

void TcorvHTTP::FSetHTTPVersion(AnsiString value) {
  TreatErr(FThunk->Engine.HTTPVersion.SetText(value.c_str()));
}

AnsiString TcorvHTTP::FIfModifiedSince() { return Text(FThunk->Engine.IfModifiedSince); }

void TcorvHTTP::FSetIfModifiedSince(AnsiString value) {
  TreatErr(FThunk->Engine.IfModifiedSince.SetText(value.c_str()));
}

AnsiString TcorvHTTP::FLocalFile() { return Text(FThunk->Engine.LocalFile); }

void TcorvHTTP::FSetLocalFile(AnsiString value) { TreatErr(FThunk->Engine.LocalFile.SetText(value.c_str())); }

long TcorvHTTP::FMaxTransferredData() { return static_cast<long>(FThunk->Engine.MaxTransferredData); }

void TcorvHTTP::FSetMaxTransferredData(long value) {
  FThunk->Engine.MaxTransferredData = static_cast<std::uint32_t>(value);
  TreatErr(0);
}

AnsiString TcorvHTTP::FOtherHeaders() { return Text(FThunk->Engine.OtherHeaders); }

void TcorvHTTP::FSetOtherHeaders(AnsiString value) {
  TreatErr(FThunk->Engine.OtherHeaders.SetText(value.c_str()));
}

AnsiString TcorvHTTP::FPassword() { return Text(FThunk->Engine.Password); }

void TcorvHTTP::FSetPassword(AnsiString value) { TreatErr(FThunk->Engine.SetPassword(value.c_str())); }

AnsiString TcorvHTTP::FPostData() { return Bytes(FThunk->Engine.PostData); }

void TcorvHTTP::FSetPostData(AnsiString value) {
  TreatErr(FThunk->Engine.PostData.Set(static_cast<std::uint32_t>(value.Length()), value.data()));
}

void TcorvHTTP::SetPostData(char* Data, unsigned short Length) {
  if (!Data) Length = 0;
  TreatErr(FThunk->Engine.PostData.Set(Length, Data));
}

AnsiString TcorvHTTP::FPragma() { return Text(FThunk->Engine.Pragma); }

void TcorvHTTP::FSetPragma(AnsiString value) { TreatErr(FThunk->Engine.Pragma.SetText(value.c_str())); }

AnsiString TcorvHTTP::FProxyAuthorization() { return Text(FThunk->Engine.ProxyAuthorization); }

void TcorvHTTP::FSetProxyAuthorization(AnsiString value) {
  TreatErr(FThunk->Engine.ProxyAuthorization.SetText(value.c_str()));
}

AnsiString TcorvHTTP::FProxyPassword() { return Text(FThunk->Engine.ProxyPassword); }

void TcorvHTTP::FSetProxyPassword(AnsiString value) { TreatErr(FThunk->Engine.SetProxyPassword(value.c_str())); }

unsigned short TcorvHTTP::FProxyPort() { return FThunk->Engine.ProxyPort; }

void TcorvHTTP::FSetProxyPort(unsigned short value) {
  FThunk->Engine.ProxyPort = value;
  TreatErr(0);
}

AnsiString TcorvHTTP::FProxyServer() { return Text(FThunk->Engine.ProxyServer); }

void TcorvHTTP::FSetProxyServer(AnsiString value) { TreatErr(FThunk->Engine.ProxyServer.SetText(value.c_str())); }

AnsiString TcorvHTTP::FProxyUser() { return Text(FThunk->Engine.ProxyUser); }

void TcorvHTTP::FSetProxyUser(AnsiString value) { TreatErr(FThunk->Engine.SetProxyUser(value.c_str())); }

AnsiString TcorvHTTP::FReferer() { return Text(FThunk->Engine.Referer); }

void TcorvHTTP::FSetReferer(AnsiString value) { TreatErr(FThunk->Engine.Referer.SetText(value.c_str())); }

AnsiString TcorvHTTP::FStatusLine() { return Text(FThunk->Engine.StatusLine); }

AnsiString TcorvHTTP::FTransferredData() { return Bytes(FThunk->Engine.TransferredData); }

AnsiString TcorvHTTP::FTransferredHeaders() { return Text(FThunk->Engine.TransferredHeaders); }

AnsiString TcorvHTTP::FURL() { return Text(FThunk->Engine.URL); }

void TcorvHTTP::FSetURL(AnsiString value) { TreatErr(FThunk->Engine.SetURL(value.c_str(), false)); }

AnsiString TcorvHTTP::FURLPath() { return Text(FThunk->Engine.URLPath); }

void TcorvHTTP::FSetURLPath(AnsiString value) { TreatErr(FThunk->Engine.URLPath.SetText(value.c_str())); }

unsigned short TcorvHTTP::FURLPort() { return FThunk->Engine.URLPort; }

void TcorvHTTP::FSetURLPort(unsigned short value) {
  FThunk->Engine.URLPort = value;
  TreatErr(0);
}

AnsiString TcorvHTTP::FURLScheme() { return Text(FThunk->Engine.URLScheme); }

void TcorvHTTP::FSetURLScheme(AnsiString value) { TreatErr(FThunk->Engine.URLScheme.SetText(value.c_str())); }

AnsiString TcorvHTTP::FURLServer() { return Text(FThunk->Engine.URLServer); }

void TcorvHTTP::FSetURLServer(AnsiString value) { TreatErr(FThunk->Engine.URLServer.SetText(value.c_str())); }

AnsiString TcorvHTTP::FUser() { return Text(FThunk->Engine.User); }

void TcorvHTTP::FSetUser(AnsiString value) { TreatErr(FThunk->Engine.SetUser(value.c_str())); }

AnsiString TcorvHTTP::FUserAgent() { return Text(FThunk->Engine.UserAgent); }

void TcorvHTTP::FSetUserAgent(AnsiString value) { TreatErr(FThunk->Engine.UserAgent.SetText(value.c_str())); }
