#include "corv/http/Corvwebform.h"

#include <memory>
#include <new>

#include "corv/core/Winsock.h"
#include "corv/http/WebForm.h"
#include "platform/vcl/core/typinfo.h"

// Implements the engine's event interface for one component and embeds its engine.
class WebFormCThunk final : public WebFormEvts {
 public:
  WebFormCThunk() = default;
  ~WebFormCThunk() = default;
  WebFormCThunk(const WebFormCThunk&) = delete;
  WebFormCThunk& operator=(const WebFormCThunk&) = delete;

  // Each operation does nothing without an owner and returns 0 either way.
  int Connected(int code, const char* description) override {
    if (Owner) Owner->FireConnected(static_cast<WORD>(code), const_cast<char*>(description));
    return 0;
  }
  int Disconnected(int code, const char* description) override {
    if (Owner) Owner->FireDisconnected(static_cast<WORD>(code), const_cast<char*>(description));
    return 0;
  }
  int EndTransfer() override {
    if (Owner) Owner->FireEndTransfer();
    return 0;
  }
  int Error(int code, const char* description) override {
    if (Owner) Owner->FireError(static_cast<WORD>(code), const_cast<char*>(description));
    return 0;
  }
  int Header(const char* field, const char* value) override {
    if (Owner) Owner->FireHeader(const_cast<char*>(field), const_cast<char*>(value));
    return 0;
  }
  int SetCookie(const char* name, const char* value, const char* expires, const char* domain,
                const char* path, int secure) override {
    if (Owner)
      Owner->FireSetCookie(const_cast<char*>(name), const_cast<char*>(value), const_cast<char*>(expires),
                           const_cast<char*>(domain), const_cast<char*>(path), secure != 0);
    return 0;
  }
  int StartTransfer() override {
    if (Owner) Owner->FireStartTransfer();
    return 0;
  }
  int Transfer(std::uint32_t bytesTransferred, const char* text, std::uint16_t length) override {
    // The block is the engine's own buffer: handed on without a copy.
    static char empty[1] = {0};
    if (Owner)
      Owner->FireTransfer(static_cast<long>(bytesTransferred), text ? const_cast<char*>(text) : empty,
                          text ? length : 0);
    return 0;
  }

  TcorvWebForm* Owner = nullptr;
  // Engine actions of the component on the stack, and whether the component is gone: a
  // component destroyed inside its own submit leaves the thunk to the outermost call.
  int Depth = 0;
  bool Orphaned = false;
  CWebForm Engine;
};

namespace {

constexpr int kCookieRange = 156;
constexpr int kFormVarRange = 159;

AnsiString Bytes(const DynStr& s) { return AnsiString(s.Text(), static_cast<int>(s.Length())); }
AnsiString Entry(const DynStrSeq& list, std::uint32_t i) {
  return AnsiString(list.Get(i), static_cast<int>(list.GetLength(i)));
}

const bool registered = [] {
  CorvwebformWinsock();
  vcl::RegisterEnum<TcorvWebFormActions>(
      {{"webformIdle", webformIdle}, {"webformSubmit", webformSubmit}, {"webformReset", webformReset}});
  vcl::RegisterEnum<TcorvWebFormEncodings>({{"encURLEncoding", encURLEncoding},
                                            {"encMultipartFormData", encMultipartFormData},
                                            {"encQueryString", encQueryString}});
  using W = TcorvWebForm;
  const AnsiString none;
  vcl::RegisterClass<W, TcorvComponent>("TcorvWebForm")
      .Property("Action", &W::FAction, &W::FSetAction)
      .NotStored()
      .Property("Encoding", &W::FEncoding, &W::FSetEncoding)
      .Default(encURLEncoding)
      .Property("LocalFile", &W::FLocalFile, &W::FSetLocalFile)
      .Default(none)
      .Property("MaxTransferredData", &W::FMaxTransferredData, &W::FSetMaxTransferredData)
      .Default(4096L)
      .Property("Password", &W::FPassword, &W::FSetPassword)
      .Default(none)
      .Property("ProxyPassword", &W::FProxyPassword, &W::FSetProxyPassword)
      .Default(none)
      .Property("ProxyPort", &W::FProxyPort, &W::FSetProxyPort)
      .Default(static_cast<unsigned short>(80))
      .Property("ProxyServer", &W::FProxyServer, &W::FSetProxyServer)
      .Default(none)
      .Property("ProxyUser", &W::FProxyUser, &W::FSetProxyUser)
      .Default(none)
      .Property("URL", &W::FURL, &W::FSetURL)
      .Default(none)
      .Property("User", &W::FUser, &W::FSetUser)
      .Default(none)
      .Property("UserAgent", &W::FUserAgent, &W::FSetUserAgent)
      .Default(none)
      .Event("OnConnected", &W::OnConnected)
      .Event("OnDisconnected", &W::OnDisconnected)
      .Event("OnEndTransfer", &W::OnEndTransfer)
      .Event("OnError", &W::OnError)
      .Event("OnHeader", &W::OnHeader)
      .Event("OnSetCookie", &W::OnSetCookie)
      .Event("OnStartTransfer", &W::OnStartTransfer)
      .Event("OnTransfer", &W::OnTransfer);
  return true;
}();

}  // namespace

CWinsock& CorvwebformWinsock() {
  static CWinsock record;
  return record;
}

namespace Corvwebform {
void Register() { RegisterComponents<TcorvWebForm>("Corvane"); }
}  // namespace Corvwebform

// ---- construction ----

TcorvWebForm::TcorvWebForm(TComponent* Owner) : TcorvComponent(Owner, "WebForm") {
  std::unique_ptr<WebFormCThunk> thunk(new (std::nothrow) WebFormCThunk);
  if (!thunk) throw EOutOfMemory("Error initializing TcorvWebForm");
  thunk->Owner = this;
  CWebForm& e = thunk->Engine;
  // Both the engine and its MIME member start Windows Sockets through this unit's record.
  e.WinsockRecord = &CorvwebformWinsock();
  e.Mime.WinsockRecord = &CorvwebformWinsock();
  if (!e.Init()) throw EOutOfMemory("could not initialize WebForm (out of memory)");
  e.EventSink = static_cast<WebFormEvts*>(thunk.get());
  AttachEngine(&e);

  // The initial property values, through the writers' engine operations; a failure is
  // reported as the writer would report it.
  TreatErr(e.SetEncoding(kWebFormURLEncoded));
  TreatErr(e.Firewall.SetFirewallHost(""));
  TreatErr(e.Firewall.SetFirewallPassword(""));
  e.Firewall.FirewallPort = 0;
  e.Firewall.FirewallType = fwNone;
  e.Firewall.FirewallPort = 80;
  TreatErr(e.Firewall.SetFirewallUser(""));
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
  InitWinsockRecord(CorvwebformWinsock());
}

TcorvWebForm::~TcorvWebForm() {
  AttachEngine(nullptr);
  WebFormCThunk* t = FThunk;
  FThunk = nullptr;
  if (!t) return;
  t->Owner = nullptr;
  if (t->Depth > 0) {
    // Destroyed from a handler: the running wait lower on the stack still uses the engine.
    // Stop it; the call that started it frees the thunk when it unwinds.
    t->Orphaned = true;
    t->Engine.DoAction(kWebFormIdle);
    return;
  }
  delete t;
}

// ---- events ----

void TcorvWebForm::FireConnected(int ErrorCode, char* Description) {
  if (!OnConnected) return;
  AnsiString d = EventText(Description);
  OnConnected(this, ErrorCode, d);
}

void TcorvWebForm::FireDisconnected(int ErrorCode, char* Description) {
  if (!OnDisconnected) return;
  AnsiString d = EventText(Description);
  OnDisconnected(this, ErrorCode, d);
}

void TcorvWebForm::FireEndTransfer() {
  if (OnEndTransfer) OnEndTransfer(this);
}

void TcorvWebForm::FireError(int ErrorCode, char* Description) {
  if (!OnError) return;
  AnsiString d = EventText(Description);
  OnError(this, ErrorCode, d);
}

void TcorvWebForm::FireHeader(char* Field, char* Value) {
  if (!OnHeader) return;
  AnsiString f = EventText(Field);
  AnsiString v = EventText(Value);
  OnHeader(this, f, v);
}

void TcorvWebForm::FireSetCookie(char* Name, char* Value, char* Expires, char* Domain, char* Path, bool Secure) {
  if (!OnSetCookie) return;
  AnsiString n = EventText(Name);
  AnsiString v = EventText(Value);
  AnsiString x = EventText(Expires);
  AnsiString d = EventText(Domain);
  AnsiString p = EventText(Path);
  OnSetCookie(this, n, v, x, d, p, Secure);
}

void TcorvWebForm::FireStartTransfer() {
  if (OnStartTransfer) OnStartTransfer(this);
}

void TcorvWebForm::FireTransfer(long BytesTransferred, char* Text, unsigned short lenText) {
  if (OnTransfer) OnTransfer(this, BytesTransferred, Text, lenText);
}

// ---- methods ----

void TcorvWebForm::AddCookie(AnsiString Name, AnsiString Value) {
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

void TcorvWebForm::AddFormVar(AnsiString Name, AnsiString Value) {
  TreatErr(FThunk->Engine.AddFormVar(Name.c_str(), Value.c_str()));
}

void TcorvWebForm::RunAction(int action, const char* url) {
  WebFormCThunk* t = FThunk;
  CWebForm& e = t->Engine;
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
      if (r == CORV_OUT_OF_MEMORY) throw EOutOfMemory("WebForm. Out of memory.");
      if (r != 0) throw ECORVCore(r, text.c_str());
      return;
    }
  }
  TreatErr(r);
}

void TcorvWebForm::Interrupt() { RunAction(kWebFormIdle, nullptr); }

void TcorvWebForm::Reset() { RunAction(kWebFormReset, nullptr); }

void TcorvWebForm::Submit() { RunAction(kWebFormSubmit, nullptr); }

void TcorvWebForm::SubmitTo(AnsiString URL) { RunAction(kWebFormSubmit, URL.c_str()); }

// ---- properties ----

TcorvWebFormActions TcorvWebForm::FAction() {
  return FThunk->Engine.Busy ? webformSubmit : webformIdle;
}

void TcorvWebForm::FSetAction(TcorvWebFormActions value) { RunAction(value, nullptr); }

AnsiString TcorvWebForm::FAuthorization() { return AnsiString(FThunk->Engine.Authorization.Text()); }

void TcorvWebForm::FSetAuthorization(AnsiString value) {
  TreatErr(FThunk->Engine.Authorization.SetText(value.c_str()));
}

AnsiString TcorvWebForm::FContentType() { return AnsiString(FThunk->Engine.ContentType.Text()); }

void TcorvWebForm::FSetContentType(AnsiString value) { TreatErr(FThunk->Engine.ContentType.SetText(value.c_str())); }

int TcorvWebForm::FCookieCount() { return static_cast<int>(FThunk->Engine.Cookies.Count() / 2); }

void TcorvWebForm::FSetCookieCount(int value) {
  // A negative count empties the list.
  const std::uint64_t entries = value > 0 ? std::uint64_t{2} * static_cast<std::uint64_t>(value) : 0;
  TreatErr(entries > 0xFFFFFFFFu ? CORV_OUT_OF_MEMORY
                                 : FThunk->Engine.Cookies.SetCount(static_cast<std::uint32_t>(entries)));
}

AnsiString TcorvWebForm::FCookieName(unsigned short CookieIndex) {
  CheckIndexForRead(CookieIndex, FThunk->Engine.Cookies.Count() / 2, kCookieRange, "Invalid array index CookieIndex");
  return Entry(FThunk->Engine.Cookies, 2u * CookieIndex - 2);
}

void TcorvWebForm::FSetCookieName(unsigned short CookieIndex, AnsiString value) {
  DynStrSeq& c = FThunk->Engine.Cookies;
  if (!CheckIndexForWrite(CookieIndex, c.Count() / 2, kCookieRange, "Invalid cookie index (out of range)."))
    return;
  TreatErr(c.Set(2u * CookieIndex - 2, value.c_str()));
}

AnsiString TcorvWebForm::FCookieValue(unsigned short CookieIndex) {
  CheckIndexForRead(CookieIndex, FThunk->Engine.Cookies.Count() / 2, kCookieRange, "Invalid array index CookieIndex");
  return Entry(FThunk->Engine.Cookies, 2u * CookieIndex - 1);
}

void TcorvWebForm::FSetCookieValue(unsigned short CookieIndex, AnsiString value) {
  DynStrSeq& c = FThunk->Engine.Cookies;
  if (!CheckIndexForWrite(CookieIndex, c.Count() / 2, kCookieRange, "Invalid cookie index (out of range)."))
    return;
  TreatErr(c.Set(2u * CookieIndex - 1, value.c_str()));
}

TcorvWebFormEncodings TcorvWebForm::FEncoding() {
  return static_cast<TcorvWebFormEncodings>(FThunk->Engine.Encoding);
}

void TcorvWebForm::FSetEncoding(TcorvWebFormEncodings value) { TreatErr(FThunk->Engine.SetEncoding(value)); }

int TcorvWebForm::FFormVarCount() { return static_cast<int>(FThunk->Engine.FormVarNames.Count()); }

void TcorvWebForm::FSetFormVarCount(int value) {
  CWebForm& e = FThunk->Engine;
  const auto n = static_cast<std::uint16_t>(value);
  int r = e.FormVarNames.SetCount(n);
  if (!r) r = e.FormVarValues.SetCount(n);
  TreatErr(r);
}

AnsiString TcorvWebForm::FFormVarNames(unsigned short VarIndex) {
  CheckIndexForRead(VarIndex, FThunk->Engine.FormVarNames.Count(), kFormVarRange, "Invalid array index VarIndex");
  return Entry(FThunk->Engine.FormVarNames, VarIndex - 1u);
}

void TcorvWebForm::FSetFormVarNames(unsigned short VarIndex, AnsiString value) {
  DynStrSeq& names = FThunk->Engine.FormVarNames;
  if (!CheckIndexForWrite(VarIndex, names.Count(), kFormVarRange, "Invalid form variable index (out of range)."))
    return;
  TreatErr(names.Set(VarIndex - 1u, value.c_str()));
}

AnsiString TcorvWebForm::FFormVarValues(unsigned short VarIndex) {
  CheckIndexForRead(VarIndex, FThunk->Engine.FormVarNames.Count(), kFormVarRange, "Invalid array index VarIndex");
  return Entry(FThunk->Engine.FormVarValues, VarIndex - 1u);
}

void TcorvWebForm::FSetFormVarValues(unsigned short VarIndex, AnsiString value) {
  CWebForm& e = FThunk->Engine;
  if (!CheckIndexForWrite(VarIndex, e.FormVarNames.Count(), kFormVarRange,
                          "Invalid form variable index (out of range).")) {
    return;
  }
  // A values list left shorter than the names grows to reach the index.
  int r = e.FormVarValues.Count() < VarIndex ? e.FormVarValues.SetCount(VarIndex) : 0;
  if (!r) r = e.FormVarValues.Set(VarIndex - 1u, value.c_str());
  TreatErr(r);
}

AnsiString TcorvWebForm::FFrom() { return AnsiString(FThunk->Engine.From.Text()); }

void TcorvWebForm::FSetFrom(AnsiString value) { TreatErr(FThunk->Engine.From.SetText(value.c_str())); }

AnsiString TcorvWebForm::FLocalFile() { return AnsiString(FThunk->Engine.LocalFile.Text()); }

void TcorvWebForm::FSetLocalFile(AnsiString value) { TreatErr(FThunk->Engine.LocalFile.SetText(value.c_str())); }

long TcorvWebForm::FMaxTransferredData() { return static_cast<long>(FThunk->Engine.MaxTransferredData); }

void TcorvWebForm::FSetMaxTransferredData(long value) {
  FThunk->Engine.MaxTransferredData = static_cast<std::uint32_t>(value);
  TreatErr(0);
}

AnsiString TcorvWebForm::FOtherHeaders() { return AnsiString(FThunk->Engine.OtherHeaders.Text()); }

void TcorvWebForm::FSetOtherHeaders(AnsiString value) {
  TreatErr(FThunk->Engine.OtherHeaders.SetText(value.c_str()));
}

AnsiString TcorvWebForm::FPassword() { return AnsiString(FThunk->Engine.Password.Text()); }

void TcorvWebForm::FSetPassword(AnsiString value) { TreatErr(FThunk->Engine.SetPassword(value.c_str())); }

AnsiString TcorvWebForm::FProxyAuthorization() { return AnsiString(FThunk->Engine.ProxyAuthorization.Text()); }

void TcorvWebForm::FSetProxyAuthorization(AnsiString value) {
  TreatErr(FThunk->Engine.ProxyAuthorization.SetText(value.c_str()));
}

AnsiString TcorvWebForm::FProxyPassword() { return AnsiString(FThunk->Engine.ProxyPassword.Text()); }

void TcorvWebForm::FSetProxyPassword(AnsiString value) {
  TreatErr(FThunk->Engine.SetProxyPassword(value.c_str()));
}

unsigned short TcorvWebForm::FProxyPort() { return FThunk->Engine.ProxyPort; }

void TcorvWebForm::FSetProxyPort(unsigned short value) {
  FThunk->Engine.ProxyPort = value;
  TreatErr(0);
}

AnsiString TcorvWebForm::FProxyServer() { return AnsiString(FThunk->Engine.ProxyServer.Text()); }

void TcorvWebForm::FSetProxyServer(AnsiString value) {
  TreatErr(FThunk->Engine.ProxyServer.SetText(value.c_str()));
}

AnsiString TcorvWebForm::FProxyUser() { return AnsiString(FThunk->Engine.ProxyUser.Text()); }

void TcorvWebForm::FSetProxyUser(AnsiString value) { TreatErr(FThunk->Engine.SetProxyUser(value.c_str())); }

AnsiString TcorvWebForm::FReferer() { return AnsiString(FThunk->Engine.Referer.Text()); }

void TcorvWebForm::FSetReferer(AnsiString value) { TreatErr(FThunk->Engine.Referer.SetText(value.c_str())); }

AnsiString TcorvWebForm::FStatusLine() { return AnsiString(FThunk->Engine.StatusLine.Text()); }

AnsiString TcorvWebForm::FTransferredData() { return Bytes(FThunk->Engine.TransferredData); }

AnsiString TcorvWebForm::FTransferredHeaders() { return AnsiString(FThunk->Engine.TransferredHeaders.Text()); }

AnsiString TcorvWebForm::FURL() { return AnsiString(FThunk->Engine.URL.Text()); }

void TcorvWebForm::FSetURL(AnsiString value) { TreatErr(FThunk->Engine.SetURL(value.c_str(), false)); }

AnsiString TcorvWebForm::FUser() { return AnsiString(FThunk->Engine.User.Text()); }

void TcorvWebForm::FSetUser(AnsiString value) { TreatErr(FThunk->Engine.SetUser(value.c_str())); }

AnsiString TcorvWebForm::FUserAgent() { return AnsiString(FThunk->Engine.UserAgent.Text()); }

void TcorvWebForm::FSetUserAgent(AnsiString value) { TreatErr(FThunk->Engine.UserAgent.SetText(value.c_str())); }
